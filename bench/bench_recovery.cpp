// Figures for the recovery snapshot: what one snapshot costs the UI thread (the tabs' texts are
// shared with their editors and only taken out on the writer thread), with 128 tabs of 64 KiB
// and with one tab of 8 MiB, and how long the writer then takes to put it on disk; how long
// after a Save its store lands, the time in which a crash would still find the draft from before
// the save; and how long a start takes to bring back a store of 128 drafts.

#include "bench/bench.h"

#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_window_create.h"
#include "app/main_window_state.h"
#include "app/open_files.h"
#include "app/recovery_store.h"
#include "app/save_files.h"
#include "app/settings.h"
#include "core/limits.h"
#include "core/message_box.h"
#include "tracking/recovery_files.h"

namespace {

using namespace pellix;

constexpr int repetitions = 15;
constexpr ULONGLONG write_limit_ms = 20000;
constexpr ULONGLONG quiet_ms = 300;
const wchar_t bench_key[] = L"Software\\Orvelworks\\Pellix Native Bench";

void serve_messages() {
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
    }
}

std::u16string text_of_units(std::size_t units) {
    const std::u16string line = u"A line of notes with some words in it, as a document has.\n";
    std::u16string text;
    text.reserve(units);
    while (text.size() + line.size() <= units) {
        text += line;
    }
    text.append(units - text.size(), u'x');
    return text;
}

// Waits until the writer has replaced "tabs.bin" and then left it alone for a while (a snapshot
// handed over while one is being written is written next); the seconds until the first
// replacement, or a negative figure.
double wait_for_writes(const std::filesystem::path& tabs, std::filesystem::file_time_type before) {
    const auto start = std::chrono::steady_clock::now();
    const ULONGLONG end = GetTickCount64() + write_limit_ms;
    double first = -1.0;
    ULONGLONG quiet_since = GetTickCount64();
    std::error_code error;
    auto last = before;
    while (GetTickCount64() < end) {
        const auto written = std::filesystem::last_write_time(tabs, error);
        if (!error && written != last) {
            last = written;
            quiet_since = GetTickCount64();
            if (first < 0.0) {
                first =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            }
        } else if (first >= 0.0 && GetTickCount64() - quiet_since >= quiet_ms) {
            break;
        }
        Sleep(1);
    }
    return first;
}

// The size of the store on disk; 0 while there is none. Its time is no use to tell one store
// from the next: Wine keeps it in whole seconds here.
std::uintmax_t store_size(const std::filesystem::path& tabs) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(tabs, error);
    return error ? 0 : size;
}

// Seconds until the store on disk is larger than `size`; negative when it never is.
double wait_for_growth(const std::filesystem::path& tabs, std::uintmax_t size) {
    const auto start = std::chrono::steady_clock::now();
    const ULONGLONG end = GetTickCount64() + write_limit_ms;
    while (GetTickCount64() < end) {
        if (store_size(tabs) > size) {
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        Sleep(1);
    }
    return -1.0;
}

// Saves the active tab again with the letter at `unit` made two bytes long in UTF-8, so that the
// save's store is the first larger than all before it, and waits for that store, serving no
// message, so that no timer stores meanwhile; the seconds from the save's end (its file is
// written by then) to its store's landing. With `busy` a snapshot is handed over just before, so
// that the save's store waits for that write.
double save_to_store(const std::filesystem::path& tabs, const std::filesystem::path& saved,
                     LONG unit, bool busy) {
    const std::uintmax_t size = store_size(tabs);
    if (busy) {
        store_session(false, true);
    }
    CHARRANGE letter{unit, unit + 1};
    SendMessageW(chrome.editor, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&letter));
    SendMessageW(chrome.editor, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"\u00E9"));
    // Line feeds, as the text has them.
    save_file(false, nullptr, [&](Document& request) {
        request.line_ending = LineEnding::lf;
        return saved;
    });
    return wait_for_growth(tabs, size);
}

void measure(const char* label, std::size_t tab_count, std::size_t units) {
    // Hidden: an editor that never paints holds no render target, so 128 of them fit in memory.
    HWND window = create_main_window();
    serve_messages();
    const std::u16string text = text_of_units(units);
    for (std::size_t i = 0; i < tab_count; ++i) {
        if (i > 0) {
            add_tab({});
        }
        set_editor(text);
        SendMessageW(chrome.editor, EM_SETMODIFY, TRUE, 0);
    }
    serve_messages();
    const std::filesystem::path tabs = recovery_tabs_path(recovery_session_path());
    // After an idle spell, as the snapshot timer runs it; then one more at once, with the
    // caches and the system's structures warm.
    std::vector<double> idle;
    std::vector<double> warm;
    std::vector<double> written;
    for (int i = 0; i < repetitions; ++i) {
        std::error_code error;
        const auto before = std::filesystem::last_write_time(tabs, error);
        idle.push_back(bench::seconds_of([] { store_session(false, true); }));
        warm.push_back(bench::seconds_of([] { store_session(false, true); }));
        written.push_back(wait_for_writes(tabs, before));
    }
    std::printf("%s: UI thread per snapshot median %.3f ms after idle (max %.3f), %.3f ms warm "
                "(goal: under 1 ms); writer to disk median %.0f ms\n",
                label, bench::median(idle) * 1000,
                *std::max_element(idle.begin(), idle.end()) * 1000, bench::median(warm) * 1000,
                bench::median(written) * 1000);
    // The active tab saved, the others left as drafts; its end gives way to the letters made
    // longer, which would take an 8 MiB file past the limit of a document.
    const LONG length = GetWindowTextLengthW(chrome.editor);
    CHARRANGE end{length - 2 * repetitions, length};
    SendMessageW(chrome.editor, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&end));
    SendMessageW(chrome.editor, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L""));
    const std::filesystem::path saved = tabs.parent_path() / "saved.txt";
    std::vector<double> after_idle;
    std::vector<double> after_busy;
    install_message_box([](const MessageBoxRequest&) { return IDYES; });
    for (int i = 0; i < repetitions; ++i) {
        after_idle.push_back(save_to_store(tabs, saved, 2 * i, false));
        after_busy.push_back(save_to_store(tabs, saved, 2 * i + 1, true));
    }
    std::printf("%s: from a Save's end to its store on disk median %.0f ms (max %.0f) with the "
                "writer idle, %.0f ms (max %.0f) behind a store being written\n",
                label, bench::median(after_idle) * 1000,
                *std::max_element(after_idle.begin(), after_idle.end()) * 1000,
                bench::median(after_busy) * 1000,
                *std::max_element(after_busy.begin(), after_busy.end()) * 1000);
    install_message_box({});
    DestroyWindow(window);
    serve_messages();
}

// The restore of a store of 128 untitled drafts of 64 KiB, answered Yes, from the read of the
// files to the last tab built.
void measure_restore() {
    Workspace workspace;
    const std::u16string text = text_of_units(0x10000);
    for (std::size_t i = 0; i < tab_limit; ++i) {
        workspace.sessions.push_back({.text = text + std::u16string(1, u'a' + i % 26),
                                      .encoding = Encoding::utf8,
                                      .line_ending = LineEnding::crlf,
                                      .path = {},
                                      .draft = true});
    }
    const std::filesystem::path session = recovery_session_path();
    install_message_box([](const MessageBoxRequest&) { return IDYES; });
    std::vector<double> restores;
    for (int i = 0; i < 5; ++i) {
        write_tab_recovery(recovery_tabs_path(session), session, workspace);
        HWND window = create_main_window();
        serve_messages();
        restores.push_back(bench::seconds_of([] { restore_session(); }));
        const std::size_t restored = tabs.size();
        DestroyWindow(window);
        serve_messages();
        if (restored != tab_limit) {
            std::printf("restore brought back %zu tabs, not %zu\n", restored, tab_limit);
        }
    }
    install_message_box({});
    std::printf("Restore of 128 drafts of 64 KiB: median %.0f ms (min %.0f, max %.0f)\n",
                bench::median(restores) * 1000,
                *std::min_element(restores.begin(), restores.end()) * 1000,
                *std::max_element(restores.begin(), restores.end()) * 1000);
}

void run() {
    instance = GetModuleHandleW(nullptr);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    register_main_window_class();
    const bool was_compare_mode = std::exchange(compare_mode, false);
    const std::wstring saved_key = std::exchange(settings_key, bench_key);
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "pellix-bench-recovery";
    std::filesystem::create_directories(folder);
    recovery_folder_override = folder;

    // First, while no writer runs that could replace the store it reads.
    measure_restore();
    measure("128 tabs of 64 KiB", tab_limit, 0x10000);
    measure("1 tab of 8 MiB", 1, document_limit);

    stop_recovery_writer();
    recovery_folder_override.clear();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    RegDeleteTreeW(HKEY_CURRENT_USER, bench_key);
    settings_key = saved_key;
    compare_mode = was_compare_mode;
}

const bench::Registration registration("recovery", run);

} // namespace
