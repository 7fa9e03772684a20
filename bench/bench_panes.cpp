// Figures for the panes around the editor: the outline and the status strip of an 8 MiB
// document with 10,000 headings and 10,000 tasks, and one split-view scroll synchronisation
// step beside the preview's own scroll to the same line.

#include "bench/bench.h"
#include "bench/bench_main_window.h"

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_layout.h"
#include "app/main_window_create.h"
#include "app/main_window_state.h"
#include "app/outline_pane.h"
#include "app/settings.h"
#include "app/timers.h"
#include "app/views.h"
#include "core/encoding.h"
#include "core/limits.h"
#include "editor/source_interface.h"
#include "markdown/outline.h"
#include "preview/preview_window.h"

namespace {

using namespace pellix;

constexpr int sections = 10000;
constexpr int samples = 9;
constexpr int sync_samples = 35;

// `sections` sections of one heading, one task and prose, filling the document limit.
std::string outline_document(std::size_t size) {
    const std::size_t per_section = size / sections;
    std::string text;
    text.reserve(size);
    for (int i = 0; i < sections; ++i) {
        const std::size_t start = text.size();
        text += (i % 3 == 0 ? "# Part " : "## Section ") + std::to_string(i) + "\n\n";
        text += (i % 2 == 0 ? "- [ ] open task " : "- [x] done task ") + std::to_string(i) + "\n\n";
        while (text.size() - start + 64 < per_section) {
            text += "Plain words of a paragraph that fill the section to its share.\n";
        }
        text += "\n";
    }
    return text;
}

std::filesystem::path write_temp(const std::string& name, const std::string& text) {
    const auto path = std::filesystem::temp_directory_path() / name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

double median_ms(const std::function<void()>& before, const std::function<void()>& work,
                 int count = samples) {
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        before();
        times.push_back(bench::seconds_of(work) * 1000);
    }
    return bench::median(times);
}

void outline_and_status(HWND window) {
    const std::string source = outline_document(document_limit - 4096);
    const auto path = write_temp("pellix-bench-outline.md", source);
    settings.outline = true;
    open_path(path);
    layout_window();
    bench::serve_messages();
    DocumentTab& tab = current_tab();
    const std::u16string& text = tab_text(tab);
    std::printf("document: %zu UTF-16 units, %zu headings, %zu tasks\n", text.size(),
                collect_headings(source, document_limit).size(),
                extract_tasks(source, document_limit).size());

    const double extract = median_ms([] {}, [&] { heading_outline_entries(text, source); });
    const double task_extract =
        median_ms([] {}, [&] { task_outline_entries(text, source, false); });
    const double convert = median_ms([] {}, [&] { utf16_to_utf8(text); });
    const double full =
        median_ms([] { clear_outline(); }, [&] { rebuild_outline(text, utf16_to_utf8(text)); });
    const double same =
        median_ms([&] { ++tab.revision; }, [&] { rebuild_outline(text, utf16_to_utf8(text)); });
    set_outline_mode(true, false);
    const double tasks_full =
        median_ms([] { clear_outline(); }, [&] { rebuild_outline(text, utf16_to_utf8(text)); });
    const double tasks_same =
        median_ms([&] { ++tab.revision; }, [&] { rebuild_outline(text, utf16_to_utf8(text)); });
    set_outline_mode(false, false);
    std::printf("outline (goal under 50 ms), each with its UTF-8 copy (%.1f ms): refresh after an "
                "edit inside a section %.1f ms (tasks mode %.1f ms); new tree %.1f ms (tasks mode "
                "%.1f ms); of these the entries alone %.1f ms (tasks mode %.1f ms)\n",
                convert, same, tasks_same, full, tasks_full, extract, task_extract);

    const double status = median_ms([] {}, [] { update_status(); });
    const double text_tick = median_ms(
        [&] {
            SendMessageW(tab.editor, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"x"));
            KillTimer(window, timer_id::text_refresh);
        },
        [] { refresh_tab_text(); });
    std::printf("status strip: update_status %.2f ms; text refresh after a keystroke (text, word "
                "count, status) %.1f ms\n",
                status, text_tick);
    SendMessageW(tab.editor, EM_SETMODIFY, FALSE, 0);
    std::filesystem::remove(path);
}

// Median times of a synchronisation step and of the follower's own move to the same line, and
// the median of their differences; each pair starts from the same positions.
struct PairedTimes {
    double step = 0;
    double own = 0;
    double extra = 0;
};

PairedTimes paired(const std::function<void(int)>& prepare, const std::function<void()>& step,
                   const std::function<void()>& own) {
    std::vector<double> steps, owns, extras;
    for (int i = 0; i < sync_samples; ++i) {
        prepare(i);
        const double a = bench::seconds_of(step) * 1000;
        prepare(i);
        const double b = bench::seconds_of(own) * 1000;
        steps.push_back(a);
        owns.push_back(b);
        extras.push_back(a - b);
    }
    return {bench::median(steps), bench::median(owns), bench::median(extras)};
}

void split_sync() {
    const auto path = write_temp("pellix-bench-split.md", bench::mixed_markdown(200 * 1024));
    open_path(path);
    select_view(view_split);
    bench::serve_messages();
    DocumentTab& tab = current_tab();
    const double lines = static_cast<double>(SendMessageW(tab.editor, EM_GETLINECOUNT, 0, 0));
    auto line_of = [lines](int i) { return (lines - 60) * ((i * 3) % 7 + 1) / 8; };
    const PairedTimes forward = paired(
        [&](int i) {
            set_source_top_line(tab.editor, line_of(i), 0);
            scroll_preview_to_source_line(0);
            split_sync_request = {true, true, tab.id, tab.revision, 0.0};
        },
        [] { run_split_sync(); },
        [&] { scroll_preview_to_source_line(source_top_line(tab.editor)); });
    double line = 0;
    const PairedTimes backward = paired(
        [&](int i) {
            line = line_of(i);
            set_source_top_line(tab.editor, 0, 0);
            split_sync_request = {true, false, tab.id, tab.revision, line};
        },
        [] { run_split_sync(); }, [&] { set_source_top_line(tab.editor, line, 0); });
    std::printf("split sync on %.0f lines (goal under 1 ms beyond the follower's own scroll): "
                "editor to preview %.3f ms, the preview's own scroll %.3f ms, step beyond it "
                "%+.3f ms; preview to editor %.3f ms, the editor's own scroll %.3f ms, step beyond "
                "it %+.3f ms\n",
                lines, forward.step, forward.own, forward.extra, backward.step, backward.own,
                backward.extra);
    std::filesystem::remove(path);
}

void run() {
    HWND window = bench::open_main_window();
    bench::serve_messages();
    outline_and_status(window);
    split_sync();
    DestroyWindow(window);
    bench::serve_messages();
    CoUninitialize();
    compare_mode = false;
    settings = {};
}

bench::Registration registration("panes", run);

} // namespace
