// Figures for a batch of small files handed over at once, as a second start passes them: the
// whole batch from the first hand-off to the last tab filled, and the same batch split into the
// steps it is made of, each run alone over as many files, so that the share of each shows.
// Before them, the real Pellix.exe started on 127 small files, as from selecting them in Explorer
// and pressing Enter, timed from launch to the last tab shown and settled beside a start on one
// of them in the same run; meanwhile the longest time its window went without answering a sent
// message, how often its title changed and the last status strip text seen midway. Then the same
// files handed by a second start to the program running on the first of them: how often the
// title changed and the totals the progress counted towards.

#include "bench/bench.h"
#include "bench/bench_main_window.h"
#include "bench/bench_program.h"

#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/open_files.h"
#include "app/recovery_store.h"
#include "app/settings.h"
#include "app/single_instance.h"
#include "app/status_strip.h"
#include "app/views.h"
#include "core/encoding.h"
#include "core/limits.h"
#include "core/window_work.h"

namespace {

using namespace pellix;

constexpr std::size_t batch_files = 100;
constexpr std::size_t file_bytes = 10 * 1024;
constexpr wchar_t bench_settings_key[] = L"Software\\Orvelworks\\Pellix Native Batch Bench";

void hand_over(HWND window, const std::filesystem::path& path) {
    const std::wstring text = path.wstring();
    COPYDATASTRUCT record{1, static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)),
                          const_cast<wchar_t*>(text.c_str())};
    SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&record));
}

void close_all_tabs() {
    for (std::size_t n = tabs.size(); n > 0; --n) {
        close_current_tab([] { return true; });
    }
    bench::serve_messages();
}

// Seconds from the first hand-off until every file has its tab, as the message loop runs it.
double hand_off_seconds(HWND window, const std::vector<std::filesystem::path>& files) {
    close_all_tabs();
    return bench::seconds_of([&] {
        for (const auto& path : files) {
            hand_over(window, path);
        }
        while (tabs.size() < files.size() || !pending_paths.empty()) {
            MSG message{};
            if (GetMessageW(&message, nullptr, 0, 0) <= 0) {
                break;
            }
            DispatchMessageW(&message);
        }
        UpdateWindow(window);
    });
}

std::vector<std::filesystem::path> write_files(const std::filesystem::path& folder,
                                               const char* extension) {
    std::vector<std::filesystem::path> files;
    const std::string text = bench::mixed_markdown(file_bytes);
    for (std::size_t i = 0; i < batch_files; ++i) {
        files.push_back(folder / ("file" + std::to_string(i) + extension));
        std::ofstream(files.back(), std::ios::binary) << text;
    }
    return files;
}

void print(const char* step, double seconds) {
    std::printf("  %-46s %7.0f ms  %6.1f ms a file\n", step, seconds * 1000,
                seconds * 1000 / batch_files);
}

// ---- The real program started on many files ---------------------------------------------------

using clock_type = std::chrono::steady_clock;

constexpr std::size_t start_files = 127;
constexpr int start_runs = 3;
constexpr DWORD start_limit_ms = 180000;
constexpr DWORD answer_limit_ms = 30000;
constexpr DWORD sample_period_ms = 20;

std::vector<std::wstring> write_start_files(const std::filesystem::path& folder) {
    std::vector<std::wstring> files;
    for (std::size_t i = 1; i <= start_files; ++i) {
        char name[16];
        std::snprintf(name, sizeof(name), "f%03zu.md", i);
        const std::filesystem::path path = folder / name;
        std::ofstream(path, std::ios::binary)
            << "# File " << i << "\n\nA short note with a few words in it.\n- one point\n";
        files.push_back(path.wstring());
    }
    return files;
}

HWND main_window_of(DWORD process, DWORD limit_ms) {
    const ULONGLONG end = GetTickCount64() + limit_ms;
    while (GetTickCount64() < end) {
        HWND window = nullptr;
        while ((window = FindWindowExW(nullptr, window, editor_window_class, nullptr)) != nullptr) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == process) {
                return window;
            }
        }
        Sleep(2);
    }
    return nullptr;
}

std::wstring text_of(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

// What was seen of the window from launch to the last tab settled.
struct StartRun {
    double settled_ms = -1;
    double longest_silence_ms = 0;
    // The same once a second tab was there: the files arriving, the start-up's own work done.
    double opening_silence_ms = 0;
    // When that wait ended, from launch.
    double opening_silence_end_ms = 0;
    int hung_samples = 0;
    int samples = 0;
    int title_changes = 0;
    std::wstring midway_status;
};

// Samples the window until it has `tab_count` tabs, its title names `last_title` and it settled.
StartRun watch_start(const std::vector<std::wstring>& files, const std::wstring& last_title) {
    StartRun run;
    const clock_type::time_point start = clock_type::now();
    bench::RealProgram program(files);
    HWND main = main_window_of(program.id(), start_limit_ms);
    if (main == nullptr) {
        return run;
    }
    // Found as soon as it is made, before its children are.
    HWND strip = nullptr;
    std::wstring title = text_of(main);
    clock_type::time_point last_answer = clock_type::now();
    const auto tab_count = static_cast<LRESULT>(files.size());
    bool opening = false;
    const ULONGLONG end = GetTickCount64() + start_limit_ms;
    while (GetTickCount64() < end) {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, answer_limit_ms, &ignored);
        const clock_type::time_point now = clock_type::now();
        const double silence = bench::milliseconds_between(last_answer, now);
        run.longest_silence_ms = std::max(run.longest_silence_ms, silence);
        if (opening && silence > run.opening_silence_ms) {
            run.opening_silence_ms = silence;
            run.opening_silence_end_ms = bench::milliseconds_between(start, now);
        }
        last_answer = now;
        ++run.samples;
        run.hung_samples += IsHungAppWindow(main) ? 1 : 0;
        const std::wstring now_title = text_of(main);
        run.title_changes += now_title != title ? 1 : 0;
        title = now_title;
        const LRESULT editors = bench::RealProgram::editors_of(main);
        opening = opening || editors > 1;
        const bool all_there =
            editors == tab_count && now_title == last_title && IsWindowEnabled(main);
        if (strip == nullptr) {
            strip = FindWindowExW(main, nullptr, status_strip_class, nullptr);
        }
        if (!all_there && strip != nullptr) {
            const std::wstring status = text_of(strip);
            if (status.find(L" of ") != std::wstring::npos) {
                run.midway_status = status;
            }
        }
        if (all_there) {
            run.settled_ms = bench::milliseconds_between(start, bench::settle(main));
            break;
        }
        Sleep(sample_period_ms);
    }
    TerminateProcess(program.process(), 0);
    return run;
}

double low(const std::vector<double>& figures) {
    return *std::min_element(figures.begin(), figures.end());
}

double high(const std::vector<double>& figures) {
    return *std::max_element(figures.begin(), figures.end());
}

void real_program_starts(const std::filesystem::path& folder) {
    const std::vector<std::wstring> files = write_start_files(folder);
    const std::wstring last_title =
        std::filesystem::path(files.back()).filename().wstring() + L" - Pellix";
    std::vector<double> one;
    std::vector<double> many;
    std::vector<double> silences;
    std::vector<double> opening_silences;
    std::vector<double> single_silences;
    std::vector<double> silence_before_end;
    int hung = 0;
    int samples = 0;
    int titles = 0;
    std::wstring midway;
    for (int i = 0; i < start_runs; ++i) {
        const StartRun single = watch_start({files.back()}, last_title);
        const StartRun batch = watch_start(files, last_title);
        if (single.settled_ms < 0 || batch.settled_ms < 0) {
            std::printf("the real program did not show its files\n");
            return;
        }
        one.push_back(single.settled_ms);
        many.push_back(batch.settled_ms);
        silences.push_back(batch.longest_silence_ms);
        opening_silences.push_back(batch.opening_silence_ms);
        single_silences.push_back(single.longest_silence_ms);
        silence_before_end.push_back(batch.settled_ms - batch.opening_silence_end_ms);
        hung += batch.hung_samples;
        samples += batch.samples;
        titles = std::max(titles, batch.title_changes);
        midway = batch.midway_status.empty() ? midway : batch.midway_status;
    }
    std::printf("Pellix.exe started on %zu small files, launch to the last tab shown and settled: "
                "median %.0f ms (min %.0f, max %.0f); on one of them %.0f ms (min %.0f, max %.0f); "
                "%.1fx\n",
                start_files, bench::median(many), low(many), high(many), bench::median(one),
                low(one), high(one), bench::median(many) / bench::median(one));
    std::printf("  meanwhile: longest wait for an answer %.0f ms (median of runs; longest %.0f; "
                "%.0f ms in the start on one file), of which once a second tab was there %.0f ms "
                "(longest %.0f; it ended %.0f ms before the window settled), called hung in %d of "
                "%d samples, title changed up to %d times; "
                "last status strip text seen midway: \"%ls\"\n",
                bench::median(silences), high(silences), bench::median(single_silences),
                bench::median(opening_silences), high(opening_silences),
                bench::median(silence_before_end), hung, samples, titles,
                midway.empty() ? L"(none)" : midway.c_str());
}

// ---- The same files handed to the running program ---------------------------------------------

// What the running window showed while a second start handed the files over: how often its title
// changed and each total its progress counted towards, in the order seen.
struct HandOverRun {
    double settled_ms = -1;
    int title_changes = 0;
    std::vector<unsigned long> totals;
};

void note_progress_total(const std::wstring& status, std::vector<unsigned long>& totals) {
    const std::wstring counting = L"Opening files: ";
    const std::size_t at = status.find(counting);
    const std::size_t of = at == std::wstring::npos ? at : status.find(L" of ", at);
    if (of == std::wstring::npos) {
        return;
    }
    const unsigned long total = std::wcstoul(status.c_str() + of + 4, nullptr, 10);
    if (totals.empty() || totals.back() != total) {
        totals.push_back(total);
    }
}

// The program is started on the first file, so that no first-run welcome joins in, and is handed
// all of them by a second start once it takes commands.
HandOverRun watch_hand_over(const std::vector<std::wstring>& files,
                            const std::wstring& last_title) {
    HandOverRun run;
    bench::RealProgram running({files.front()});
    HWND main = main_window_of(running.id(), start_limit_ms);
    if (main == nullptr || !running.wait_for_commands(main)) {
        TerminateProcess(running.process(), 0);
        return run;
    }
    HWND strip = FindWindowExW(main, nullptr, status_strip_class, nullptr);
    std::wstring title = text_of(main);
    const clock_type::time_point start = clock_type::now();
    bench::RealProgram second(files, true);
    const auto tab_count = static_cast<LRESULT>(files.size());
    const ULONGLONG end = GetTickCount64() + start_limit_ms;
    while (GetTickCount64() < end) {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, answer_limit_ms, &ignored);
        const std::wstring now_title = text_of(main);
        run.title_changes += now_title != title ? 1 : 0;
        title = now_title;
        if (strip != nullptr) {
            note_progress_total(text_of(strip), run.totals);
        }
        if (bench::RealProgram::editors_of(main) == tab_count && now_title == last_title &&
            IsWindowEnabled(main)) {
            run.settled_ms = bench::milliseconds_between(start, bench::settle(main));
            break;
        }
        Sleep(sample_period_ms);
    }
    TerminateProcess(running.process(), 0);
    return run;
}

void real_program_hand_overs(const std::filesystem::path& folder) {
    const std::vector<std::wstring> files = write_start_files(folder);
    const std::wstring last_title =
        std::filesystem::path(files.back()).filename().wstring() + L" - Pellix";
    std::vector<double> settled;
    int titles = 0;
    std::wstring totals;
    for (int i = 0; i < start_runs; ++i) {
        const HandOverRun run = watch_hand_over(files, last_title);
        if (run.settled_ms < 0) {
            std::printf("the running program did not show the files handed over\n");
            return;
        }
        settled.push_back(run.settled_ms);
        titles = std::max(titles, run.title_changes);
        totals += i == 0 ? L"" : L"; ";
        for (std::size_t t = 0; t < run.totals.size(); ++t) {
            totals += (t == 0 ? L"" : L", ") + std::to_wstring(run.totals[t]);
        }
    }
    std::printf(
        "the same %zu files handed to the running Pellix.exe by a second start, to the last "
        "tab shown and settled: median %.0f ms (min %.0f, max %.0f); title changed up to "
        "%d times; totals the progress counted towards, per run: %ls\n",
        start_files, bench::median(settled), low(settled), high(settled), titles, totals.c_str());
}

void run() {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "pellix-bench-batch";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder / "store");
    std::filesystem::create_directories(folder / "start");
    // With this user's settings and recovery folder, as the program runs; emptied before each
    // start, so that no earlier run's tabs are restored while it is timed.
    real_program_starts(folder / "start");
    real_program_hand_overs(folder / "start");
    const std::wstring saved_key = settings_key;
    settings_key = bench_settings_key;
    recovery_folder_override = folder / "store";
    const std::vector<std::filesystem::path> markdown = write_files(folder, ".md");
    const std::vector<std::filesystem::path> plain = write_files(folder, ".txt");

    HWND window = bench::open_main_window();
    // Outside compare mode, as the program runs: the recent files and the recovery store too.
    compare_mode = false;
    select_view(view_split);
    bench::serve_messages();

    std::printf("%zu files of %zu KiB handed over at once (the window paints between files):\n",
                batch_files, file_bytes / 1024);
    const double empty = bench::private_mib();
    print("Markdown files in Split view, to the last tab", hand_off_seconds(window, markdown));
    print("looking a new path up among the open tabs", bench::seconds_of([&] {
              for (const auto& path : plain) {
                  find_tab_by_path(path, no_tab);
              }
          }));
    print("  the same within one batch, as a batch opens", bench::seconds_of([&] {
              const IdentityBatch batch;
              for (const auto& path : plain) {
                  find_tab_by_path(path, no_tab);
              }
          }));
    print("  its like: std::filesystem::equivalent per tab", bench::seconds_of([&] {
              for (const auto& path : plain) {
                  for (const auto& tab : tabs) {
                      std::error_code error;
                      static_cast<void>(std::filesystem::equivalent(tab->path, path, error));
                  }
              }
          }));
    const double added = bench::private_mib() - empty;
    std::printf("  private bytes: %.1f MiB more with the %zu tabs (%.2f MiB a tab)\n", added,
                batch_files, added / batch_files);
    print("plain-text files, to the last tab", hand_off_seconds(window, plain));

    std::printf("the steps of one file alone, over as many files:\n");
    print("read and decode (file work)", bench::seconds_of([&] {
              for (const auto& path : markdown) {
                  decode_document(read_disk(path, document_limit), 0);
              }
          }));
    close_all_tabs();
    print("new empty tab (editor, tab strip, view)", bench::seconds_of([] {
              for (std::size_t i = 0; i < batch_files; ++i) {
                  new_tab();
              }
          }));
    close_all_tabs();
    const Document document = decode_document(read_disk(markdown.front(), document_limit), 0);
    print("text into the editor (set_editor)", bench::seconds_of([&] {
              for (std::size_t i = 0; i < batch_files; ++i) {
                  set_editor(document.text);
              }
          }));
    print("paint of the whole window", bench::seconds_of([&] {
              for (std::size_t i = 0; i < batch_files; ++i) {
                  RedrawWindow(window, nullptr, nullptr,
                               RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
              }
          }));

    close_all_tabs();
    DestroyWindow(window);
    bench::serve_messages();
    stop_recovery_writer();
    RegDeleteTreeW(HKEY_CURRENT_USER, bench_settings_key);
    settings_key = saved_key;
    recovery_folder_override.clear();
    std::filesystem::remove_all(folder);
    CoUninitialize();
}

bench::Registration registration("batch_open", run);

} // namespace
