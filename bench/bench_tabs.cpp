// Figures for many tabs: the memory of the real Pellix.exe holding 128 small Markdown files,
// each shown once and all hidden but one, its Next tab in Source and in Split view, and the time
// a tab switch takes to a complete screen in the main window of a renderer host.

#include "bench/bench.h"
#include "bench/bench_main_window.h"
#include "bench/bench_program.h"
#include "bench/bench_renderer_host.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/settings.h"
#include "editor/source_record.h"

namespace {

using namespace pellix;

constexpr int tab_count = 128;
constexpr std::size_t file_bytes = 10 * 1024;
constexpr DWORD complete_limit_ms = 10000;
constexpr WORD next_tab_command = 314;
constexpr WORD previous_tab_command = 315;
// Beyond the hidden editor's own wait, for its timer to be served.
constexpr DWORD release_margin_ms = 200;

std::filesystem::path folder() {
    return std::filesystem::temp_directory_path() / "pellix-bench-tabs";
}

std::vector<std::wstring> write_files(std::size_t& units) {
    std::filesystem::create_directories(folder());
    const std::string text = bench::mixed_markdown(file_bytes);
    units = text.size();
    std::vector<std::wstring> paths;
    for (int i = 0; i < tab_count; ++i) {
        const auto path = folder() / ("note-" + std::to_string(i) + ".md");
        std::ofstream(path, std::ios::binary) << text;
        paths.push_back(path.wstring());
    }
    return paths;
}

// Next tab in the real program, timed until it has served its queue: settled, each switch starts
// once the tab it hid has let go of its drawing, as when the user reads each tab; otherwise one
// follows the other at once.
std::vector<double> next_tabs(HWND main, bool settled) {
    std::vector<double> switches;
    for (int i = 0; i < 16; ++i) {
        if (settled) {
            Sleep(release_timer_ms + release_margin_ms);
        }
        const auto start = std::chrono::steady_clock::now();
        SendMessageW(main, WM_COMMAND, MAKEWPARAM(next_tab_command, 0), 0);
        switches.push_back(bench::milliseconds_between(start, bench::settle(main)));
    }
    return switches;
}

// Next tab and back again in the real program, each switch timed until it has served its queue
// and started once the user read the tab a while, as between the two tabs a user works in.
std::vector<double> between_two_tabs(HWND main) {
    std::vector<double> switches;
    for (int i = 0; i < 16; ++i) {
        Sleep(release_timer_ms + release_margin_ms);
        const auto start = std::chrono::steady_clock::now();
        const WORD command = i % 2 == 0 ? next_tab_command : previous_tab_command;
        SendMessageW(main, WM_COMMAND, MAKEWPARAM(command, 0), 0);
        switches.push_back(bench::milliseconds_between(start, bench::settle(main)));
    }
    return switches;
}

// The main window of `program`, started on every file but one (a tab it restores from its last
// session still fits, and no box refusing a document stands over the window while the switches
// are timed), once it takes commands; null, said on the output, when it did not come up.
HWND start_with_files(bench::RealProgram& program, const std::vector<std::wstring>& files,
                      std::size_t units) {
    HWND main =
        program.wait_for_document(static_cast<LRESULT>(units), static_cast<LRESULT>(files.size()));
    if (main == nullptr) {
        std::printf("the real program did not show its %zu tabs\n", files.size());
        return nullptr;
    }
    if (!program.wait_for_commands(main)) {
        std::printf("the real program did not take commands: a box stood over its window\n");
        return nullptr;
    }
    return main;
}

void real_program(const std::vector<std::wstring>& paths, std::size_t units) {
    bench::Memory one_tab{};
    {
        bench::RealProgram program({});
        if (program.wait_for_document(-1) == nullptr) {
            std::printf("the real program did not start\n");
            return;
        }
        one_tab = bench::memory_of(program.process());
    }
    const std::vector<std::wstring> files(paths.begin(), paths.end() - 1);
    for (const int view : {view_source, view_split}) {
        write_setting_dword(L"View", static_cast<DWORD>(view));
        bench::RealProgram program(files);
        HWND main = start_with_files(program, files, units);
        if (main == nullptr) {
            return;
        }
        if (view == view_source) {
            const LRESULT shown_tabs = bench::RealProgram::editors_of(main);
            // Hidden editors let go of their drawing only a while later.
            Sleep(2 * release_timer_ms);
            WaitForInputIdle(program.process(), bench::idle_limit_ms);
            const bench::Memory all = bench::memory_of(program.process());
            std::printf(
                "real program: one empty tab %.1f MiB private (%.1f MiB working set); %lld tabs "
                "of %zu bytes, each shown once, one shown: %.1f MiB private (%.1f MiB working "
                "set), %.2f MiB a tab\n",
                one_tab.private_mib, one_tab.working_set_mib, static_cast<long long>(shown_tabs),
                units, all.private_mib, all.working_set_mib,
                (all.private_mib - one_tab.private_mib) / static_cast<double>(shown_tabs - 1));
        }
        const std::vector<double> settled = next_tabs(main, true);
        const std::vector<double> at_once = next_tabs(main, false);
        const std::vector<double> two = between_two_tabs(main);
        std::printf("  next tab to a served queue, %s view: settled %.1f ms median (%.1f ms "
                    "longest), one after another %.1f ms median; back and forth between two "
                    "tabs %.1f ms median (%.1f ms longest)\n",
                    view == view_source ? "Source" : "Split", bench::median(settled),
                    *std::max_element(settled.begin(), settled.end()), bench::median(at_once),
                    bench::median(two), *std::max_element(two.begin(), two.end()));
    }
}

// Serves messages until `done` or the limit; answers `done`.
bool serve_until(const std::function<bool()>& done, DWORD limit_ms) {
    const ULONGLONG end = GetTickCount64() + limit_ms;
    while (!done() && GetTickCount64() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        bench::serve_messages();
    }
    return done();
}

// Serves messages until the editor's last paint left no layout for later. A screen already
// complete serves nothing: the queue may hold other work (another hidden tab letting go of its
// drawing) that is no part of this switch.
bool complete_screen(HWND editor) {
    const Source* source = source_record(editor);
    UpdateWindow(editor);
    if (!source->budget.last_paint_pending) {
        return true;
    }
    bench::serve_messages();
    return serve_until([&] { return !source->budget.last_paint_pending; }, complete_limit_ms);
}

struct Switches {
    std::vector<double> first_paints;
    std::vector<double> complete;
};

// The hidden editors that hold a render target.
std::ptrdiff_t hidden_holding() {
    return std::count_if(tabs.begin(), tabs.end(), [](const auto& tab) {
        return tab->editor != chrome.editor && source_record(tab->editor)->target;
    });
}

// The hidden editors that kept their drawing drop it (target, brushes and layouts), and Wine gets
// a moment to free what its renderer made for their targets. What the process gives back then is
// less than keeping them costs: Wine and Mesa keep part of what they free for their next use.
void let_go_of_hidden_drawing() {
    for (const auto& tab : tabs) {
        Source& source = *source_record(tab->editor);
        if (tab->editor != chrome.editor && source.target) {
            clear_line_layouts(source);
        }
    }
    Sleep(release_margin_ms);
    bench::serve_messages();
}

// Switches to the tab of each index in turn. Settled, each switch starts once the hidden editors
// beyond the few that keep their drawing have let go of it, as when the user reads each tab;
// otherwise the switches follow each other at once.
Switches switch_tabs(const std::vector<int>& indices, bool settled) {
    Switches times;
    for (const int i : indices) {
        const double seconds = bench::seconds_of([&] {
            const double first_paint = bench::seconds_of([&] {
                select_tab(static_cast<std::uint64_t>(i), false);
                UpdateWindow(main_window);
            });
            times.first_paints.push_back(first_paint * 1000.0);
            complete_screen(chrome.editor);
        });
        times.complete.push_back(seconds * 1000.0);
        if (settled) {
            serve_until(
                [] {
                    return hidden_holding() <=
                           static_cast<std::ptrdiff_t>(hidden_editors_keeping_targets);
                },
                complete_limit_ms);
        }
    }
    return times;
}

std::vector<int> every_seventh_tab() {
    std::vector<int> indices;
    for (int i = 0; i < tab_count; i += 7) {
        indices.push_back(i);
    }
    return indices;
}

void switching_here(const std::vector<std::wstring>& paths) {
    HWND window = bench::open_main_window();
    for (const std::wstring& path : paths) {
        open_path(path);
        UpdateWindow(window);
        bench::serve_messages();
    }
    const Switches settled = switch_tabs(every_seventh_tab(), true);
    const Switches at_once = switch_tabs(every_seventh_tab(), false);
    std::vector<int> two_tabs;
    for (int i = 0; i < 16; ++i) {
        two_tabs.push_back(i % 2);
    }
    const Switches between_two = switch_tabs(two_tabs, true);
    // The like figure: the shown tab drawn whole again, its target and layouts kept.
    std::vector<double> repaints;
    for (int i = 0; i < 5; ++i) {
        const double repaint = bench::seconds_of([] {
            InvalidateRect(chrome.editor, nullptr, FALSE);
            UpdateWindow(chrome.editor);
        });
        repaints.push_back(repaint * 1000.0);
    }
    std::printf("main window in the renderer host, %zu tabs, medians of %zu switches: the shown "
                "tab repainted whole %.1f ms\n",
                tabs.size(), settled.complete.size(), bench::median(repaints));
    const auto print = [](const char* name, const Switches& times) {
        std::printf("  %s: to the first paint %.1f ms (%.1f ms longest), to a complete screen "
                    "%.1f ms (%.1f ms longest)\n",
                    name, bench::median(times.first_paints),
                    *std::max_element(times.first_paints.begin(), times.first_paints.end()),
                    bench::median(times.complete),
                    *std::max_element(times.complete.begin(), times.complete.end()));
    };
    print("switch from a settled window", settled);
    print("switches one after another", at_once);
    print("back and forth between two tabs, settled", between_two);
    serve_until(
        [] {
            return hidden_holding() <= static_cast<std::ptrdiff_t>(hidden_editors_keeping_targets);
        },
        2 * release_timer_ms);
    const std::ptrdiff_t holding = hidden_holding();
    const bench::Memory kept = bench::memory_of(GetCurrentProcess());
    let_go_of_hidden_drawing();
    const bench::Memory let_go = bench::memory_of(GetCurrentProcess());
    // A target's cost follows the editor's size: its swap chain holds whole frames.
    RECT client{};
    GetClientRect(chrome.editor, &client);
    std::printf("  hidden editors holding their drawing after the switches: %lld, %.1f MiB "
                "private; after they let go of it %.1f MiB, %.1f MiB given back an editor of "
                "%ldx%ld pixels\n",
                static_cast<long long>(holding), kept.private_mib, let_go.private_mib,
                (kept.private_mib - let_go.private_mib) /
                    static_cast<double>(std::max<std::ptrdiff_t>(1, holding)),
                client.right, client.bottom);
    bench::close_main_window(window);
}

void run() {
    std::size_t units = 0;
    const std::vector<std::wstring> paths = write_files(units);
    if (bench::renderer_host_part("tabs") != nullptr) {
        switching_here(paths);
        return;
    }
    real_program(paths, units);
    bench::RendererHost("tabs").run("switching");
    std::filesystem::remove_all(folder());
}

bench::Registration registration("tabs", run);

} // namespace
