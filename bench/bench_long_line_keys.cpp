// Figures for a keystroke at the start, in the middle and at the end of one very long wrapped line:
// 22,000 emoji joined by U+200D, a letter with 66,000 combining marks, beside 10,000 'x' typed the
// same way. Measured twice: from outside, in the real Pellix.exe (WM_CHAR posted to its editor,
// until the program has painted and waits for messages again), and here, in a bare editor window,
// stage by stage from the editor's stage clock, until the screen holds every row it shows.

#include "bench/bench.h"
#include "bench/bench_work_stages.h"
#include "bench/bench_program.h"

#include <windows.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "editor/source_host.h"
#include "editor/source_record.h"
#include "editor/source_window.h"

namespace pellix {
namespace {

using clock_type = std::chrono::steady_clock;

constexpr int keys = 7;
constexpr int window_width = 1200;
constexpr int window_height = 800;
constexpr DWORD complete_limit_ms = 10000;
// Longer than the main window's refresh after an edit, so that no keystroke pays for the one
// before.
constexpr DWORD quiet_between_keys_ms = 600;

struct LongLine {
    const char* name;
    std::u16string text;
};

std::vector<LongLine> long_lines() {
    std::u16string emoji = u"\U0001F469";
    for (int i = 1; i < 22000; ++i) {
        emoji += u"\u200D\U0001F469";
    }
    std::u16string marks = u"a";
    marks.append(66000, u'\u0301');
    return {{"10,000 'x'", std::u16string(10000, u'x')},
            {"22,000 emoji joined by U+200D", emoji},
            {"a letter with 66,000 combining marks", marks}};
}

// Where the keys go: the line's start, its middle (inside the run of joined emoji, where every
// row after the caret moves along), or its end; as a share of the line.
struct Place {
    const char* name;
    double share;
};
constexpr std::array<Place, 3> places{{{"start", 0.0}, {"middle", 0.5}, {"end", 1.0}}};

std::u16string document_of(const LongLine& line) {
    std::u16string text(u"One long line\n\n");
    text.append(line.text);
    text.push_back(u'\n');
    return text;
}

void set_caret(HWND editor, double share) {
    const LRESULT start = SendMessageW(editor, EM_LINEINDEX, 2, 0);
    const auto length = static_cast<double>(SendMessageW(editor, EM_LINELENGTH, start, 0));
    const LRESULT at = start + static_cast<LRESULT>(share * length);
    SendMessageW(editor, EM_SETSEL, static_cast<WPARAM>(at), at);
    SendMessageW(editor, EM_SCROLLCARET, 0, 0);
}

// --- The real program, driven from outside ------------------------------------------------

void real_program(const LongLine& line) {
    const auto path = std::filesystem::temp_directory_path() / "pellix-bench-long-line-keys.txt";
    {
        // UTF-16 with its byte-order mark: the file holds the line unit for unit.
        std::ofstream out(path, std::ios::binary);
        std::u16string text(1, u'\uFEFF');
        text.append(document_of(line));
        out.write(reinterpret_cast<const char*>(text.data()),
                  static_cast<std::streamsize>(text.size() * sizeof(char16_t)));
    }
    const auto units = static_cast<LRESULT>(document_of(line).size());
    bench::RealProgram program({path.wstring()});
    HWND editor = program.editor_of_document(units);
    if (editor == nullptr) {
        return;
    }
    HWND main = GetParent(editor);
    for (const Place& place : places) {
        set_caret(editor, place.share);
        bench::settle(main);
        std::vector<double> times;
        for (int i = 0; i < keys; ++i) {
            Sleep(quiet_between_keys_ms);
            bench::settle(main);
            const auto start = clock_type::now();
            PostMessageW(editor, WM_CHAR, L'a' + i, 1);
            times.push_back(bench::milliseconds_between(start, bench::settle(main)));
        }
        std::printf("  real program, %s, at its %s: %.1f ms median (%.1f-%.1f)\n", line.name,
                    place.name, bench::median(times), *std::min_element(times.begin(), times.end()),
                    *std::max_element(times.begin(), times.end()));
    }
    SendMessageW(editor, EM_SETMODIFY, FALSE, 0);
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

// --- A bare editor window in this process ------------------------------------------------

std::array<double, work_stage::count> stage_ms{};

// Serves the queue; returns the paints of `editor` among what it served.
int serve_messages(HWND editor = nullptr) {
    int paints = 0;
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        paints += message.message == WM_PAINT && message.hwnd == editor;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return paints;
}

// Serves messages until the last paint left nothing to lay out; returns the paints it took.
int finish_screen(HWND editor) {
    const Source* source = source_record(editor);
    int paints = 1;
    const ULONGLONG end = GetTickCount64() + complete_limit_ms;
    while (source->budget.last_paint_pending && GetTickCount64() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        paints += serve_messages(editor);
    }
    return paints;
}

void in_process(const LongLine& line) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    register_source_window_class(instance);
    HWND editor =
        CreateWindowExW(0, source_window_class, L"", WS_POPUP | WS_VISIBLE | WS_VSCROLL, 0, 0,
                        window_width, window_height, nullptr, nullptr, instance, nullptr);
    SetFocus(editor);
    const std::u16string text = document_of(line);
    SendMessageW(editor, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    UpdateWindow(editor);
    finish_screen(editor);
    for (const Place& place : places) {
        set_caret(editor, place.share);
        UpdateWindow(editor);
        finish_screen(editor);
        std::vector<double> first_paint;
        std::vector<double> complete;
        std::vector<double> paints;
        std::vector<std::array<double, work_stage::count>> stages;
        for (int i = 0; i < keys; ++i) {
            stage_ms = {};
            const auto start = clock_type::now();
            SendMessageW(editor, WM_CHAR, L'a' + i, 1);
            UpdateWindow(editor);
            const auto painted = clock_type::now();
            paints.push_back(finish_screen(editor));
            complete.push_back(bench::milliseconds_between(start, clock_type::now()));
            first_paint.push_back(bench::milliseconds_between(start, painted));
            stages.push_back(stage_ms);
        }
        std::printf("  bare editor, %s, at its %s: WM_CHAR through its paint %.1f ms median; "
                    "screen complete %.1f ms after %.0f paints\n",
                    line.name, place.name, bench::median(first_paint), bench::median(complete),
                    bench::median(paints));
        for (int stage = 0; stage < work_stage::count; ++stage) {
            std::vector<double> values;
            for (const auto& sample : stages) {
                values.push_back(sample[static_cast<std::size_t>(stage)]);
            }
            if (bench::median(values) >= 0.5) {
                std::printf("    %-38s %8.1f ms median\n",
                            bench::work_stage_names[static_cast<std::size_t>(stage)],
                            bench::median(values));
            }
        }
    }
    DestroyWindow(editor);
    serve_messages();
}

void run() {
    SourceHost host;
    host.record_work_stage = [](int stage, double milliseconds) {
        stage_ms[static_cast<std::size_t>(stage)] += milliseconds;
    };
    install_source_host(std::move(host));
    const std::vector<LongLine> lines = long_lines();
    std::printf("a keystroke in one long wrapped line (window %dx%d), medians of %d keys:\n",
                window_width, window_height, keys);
    for (const LongLine& line : lines) {
        in_process(line);
    }
    for (const LongLine& line : lines) {
        real_program(line);
    }
}

bench::Registration registration("long_line_keys", run);

} // namespace
} // namespace pellix
