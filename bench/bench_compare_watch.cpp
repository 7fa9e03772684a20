// Figures for the compare and Watch controllers in the main window: a compare pass on a
// 10,000-line document with 1 % of its lines changed, from the request to the marks painted,
// beside the diff alone; and a Watch cycle on an 8 MiB file appended to, from the end of the
// write to the marks painted. Beside each, the longest message the UI thread handled meanwhile.

#include "bench/bench.h"
#include "bench/bench_main_window.h"

#include <windows.h>
#include <objbase.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/compare_controller.h"
#include "app/hosted_units.h"
#include "app/main_window_create.h"
#include "app/main_window_state.h"
#include "core/limits.h"
#include "tracking/compare_baseline.h"
#include "tracking/line_diff.h"

namespace {

using namespace pellix;
using Clock = std::chrono::steady_clock;

constexpr int compare_lines = 10000;
constexpr int changed_every = 100;
constexpr int compare_rounds = 15;
constexpr int watch_rounds = 8;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Serves messages until `done` holds; the longest single message is kept in `longest_ms`.
template <typename Done> void serve_until(Done done, double& longest_ms) {
    const auto limit = Clock::now() + std::chrono::seconds(30);
    MSG message{};
    while (!done() && Clock::now() < limit) {
        if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
            continue;
        }
        const auto start = Clock::now();
        DispatchMessageW(&message);
        longest_ms = std::max(longest_ms, ms_since(start));
    }
}

void serve_for(int milliseconds) {
    double ignored = 0;
    const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
    serve_until([&] { return Clock::now() >= end; }, ignored);
}

std::string numbered_text(int lines, int changed_every_n) {
    std::string text;
    for (int i = 0; i < lines; ++i) {
        const bool changed = changed_every_n != 0 && i % changed_every_n == changed_every_n / 2;
        // Short lines keep the text within the line diff's unit limit.
        text += (changed ? "changed " : "line ") + std::to_string(i) + (i + 1 < lines ? "\n" : "");
    }
    return text;
}

std::u16string utf16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

void compare_pass(HWND window, const std::filesystem::path& folder) {
    const std::string old_text = numbered_text(compare_lines, 0);
    const std::string new_text = numbered_text(compare_lines, changed_every);
    const auto path = folder / "compared.md";
    std::ofstream(path, std::ios::binary) << new_text;
    open_path(path);
    DocumentTab& tab = current_tab();
    begin_compare(tab, std::make_shared<const CompareBaseline>(CompareBaseline{utf16(old_text)}),
                  L"baseline", false, {});
    double longest = 0;
    serve_until([&] { return tab.compare_applied_revision == tab.revision; }, longest);

    std::vector<double> diff_ms;
    std::vector<double> pass_ms;
    std::vector<double> hand_out_ms;
    std::vector<double> paint_ms;
    for (int round = 0; round < compare_rounds; ++round) {
        const auto diff_start = Clock::now();
        const LineDiff diff = diff_lines(utf16(old_text), utf16(new_text));
        diff_ms.push_back(ms_since(diff_start));
        if (!diff.line_by_line) {
            std::printf("the diff fell back to its coarse range\n");
        }

        // An edit on line 5 (typed, then taken back), painted; then its pass, due at once
        // instead of after the quiet spell.
        const std::u16string typed = round % 2 == 0 ? u"x" : u"";
        const LRESULT line_end = SendMessageW(tab.editor, EM_LINEINDEX, 6, 0) - 1;
        SendMessageW(tab.editor, EM_SETSEL, round % 2 == 0 ? line_end : line_end - 1, line_end);
        SendMessageW(tab.editor, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(typed.c_str()));
        UpdateWindow(window);
        serve_for(50);

        const auto start = Clock::now();
        tab.compare_due = GetTickCount64();
        compare_tick();
        hand_out_ms.push_back(ms_since(start));
        serve_until([&] { return tab.compare_applied_revision == tab.revision; }, longest);
        const auto paint = Clock::now();
        UpdateWindow(window);
        paint_ms.push_back(ms_since(paint));
        pass_ms.push_back(ms_since(start));
        if (round == 0) {
            longest = 0;
        }
    }
    const double diff = bench::median(diff_ms);
    const double pass = bench::median(pass_ms);
    std::printf("compare pass, %d lines with %d changed: %.1f ms end to end, diff alone %.1f ms, "
                "beyond the diff %.1f ms (median of %d; of it snapshot and hand-over %.2f ms, "
                "paint %.1f ms); longest UI-thread message %.1f ms\n",
                compare_lines, compare_lines / changed_every, pass, diff, pass - diff,
                compare_rounds, bench::median(hand_out_ms), bench::median(paint_ms), longest);
    stop_compare(tab);
}

void watch_cycle(HWND window, const std::filesystem::path& folder) {
    const auto path = folder / "watched.log";
    std::string text = numbered_text(1, 0);
    while (text.size() < document_limit - 64 * 1024) {
        text += "a line of a growing log file, long enough to look like one written by a server\n";
    }
    std::ofstream(path, std::ios::binary) << text;
    open_path(path);
    DocumentTab& tab = current_tab();
    toggle_watch(tab.id, {});
    double longest = 0;
    serve_until([&] { return !tab.watch_pending; }, longest);
    serve_for(1000);

    std::vector<double> now_ms;
    std::vector<double> reported_ms;
    longest = 0;
    for (int round = 0; round < watch_rounds; ++round) {
        const bool reported = round % 2 == 1;
        const std::uint64_t updates = tab.watch_updates;
        {
            std::ofstream(path, std::ios::binary | std::ios::app)
                << "appended line " << round << "\nand another\n";
        }
        const auto start = Clock::now();
        // Stands for the directory watcher's report: at once (as Reload does), or with the
        // quiet spell of a change report, taken up by timer 8.
        schedule_watch_read(tab.id, !reported);
        if (!reported) {
            apply_watch_reads();
        }
        serve_until([&] { return tab.watch_updates != updates; }, longest);
        UpdateWindow(window);
        (reported ? reported_ms : now_ms).push_back(ms_since(start));
        serve_for(300);
    }
    std::printf("watch cycle, 8 MiB file appended to: %.0f ms from the write to painted marks "
                "when read at once, %.0f ms after a change report (its 200 ms quiet spell and "
                "timer 8 included); longest UI-thread message %.1f ms\n",
                bench::median(now_ms), bench::median(reported_ms), longest);
    toggle_watch(tab.id, {});
}

void run() {
    HWND window = bench::open_main_window();
    serve_for(200);
    const auto folder = std::filesystem::temp_directory_path() / "pellix-bench-compare-watch";
    std::filesystem::create_directories(folder);
    compare_pass(window, folder);
    watch_cycle(window, folder);
    DestroyWindow(window);
    serve_for(100);
    std::filesystem::remove_all(folder);
    CoUninitialize();
    compare_mode = false;
}

bench::Registration registration("compare_watch", run);

} // namespace
