// Figures for find and replace in an 8 MiB document in the main window: Replace All of 100,000
// matches spread over the text and of 10,000 in its first tenth, Find next across the whole
// text, and the match count, each with the longest time the UI thread spent in one message
// meanwhile.

#include "bench/bench.h"
#include "bench/bench_main_window.h"

#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/find_bar.h"
#include "app/find_replace.h"
#include "app/hosted_units.h"
#include "app/main_window_create.h"
#include "app/main_window_state.h"
#include "app/replace_all.h"
#include "core/limits.h"
#include "core/message_box.h"
#include "core/source_document.h"
#include "editor/source_interface.h"
#include "editor/source_record.h"

namespace {

using namespace pellix;
using clock_type = std::chrono::steady_clock;

constexpr std::size_t match_count = 100000;

double milliseconds_since(clock_type::time_point start) {
    return std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
}

// What the UI thread did while a figure ran: the longest tick of the find timers, and the
// longest other message (the editor's paints, which are not find work).
struct Slices {
    std::vector<double> ticks;
    double longest_other = 0;
    std::string longest_other_name;
    // The editor's paints while a Replace All ran.
    int paints_during_job = 0;
    double longest_paint_during_job = 0;
    // The text refresh (timer 1) that an edit arms, when it came.
    double text_refresh = -1;
    double longest_tick() const {
        return ticks.empty() ? 0 : *std::max_element(ticks.begin(), ticks.end());
    }
};

// The message and the class of its window, for naming the longest one.
std::string message_name(const MSG& message) {
    char window_class[64] = "no window";
    if (message.hwnd != nullptr) {
        GetClassNameA(message.hwnd, window_class, sizeof(window_class));
    }
    char name[160];
    std::snprintf(name, sizeof(name), "message 0x%04X, wParam %llu, to %s", message.message,
                  static_cast<unsigned long long>(message.wParam), window_class);
    return name;
}

// Serves messages until `done`, timing each one.
template <typename Done> Slices serve_until(Done done) {
    Slices slices;
    MSG message{};
    while (!done()) {
        if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            continue;
        }
        const bool job_paint = message.message == WM_PAINT && message.hwnd == chrome.editor &&
                               replace_all_running();
        const auto start = clock_type::now();
        DispatchMessageW(&message);
        const double spent = milliseconds_since(start);
        const bool find_tick = message.message == WM_TIMER && message.hwnd == main_window &&
                               (message.wParam == 5 || message.wParam == 7);
        if (message.message == WM_TIMER && message.hwnd == main_window && message.wParam == 1) {
            slices.text_refresh = std::max(slices.text_refresh, spent);
        }
        if (job_paint) {
            ++slices.paints_during_job;
            slices.longest_paint_during_job = std::max(slices.longest_paint_during_job, spent);
        }
        if (find_tick) {
            slices.ticks.push_back(spent);
        } else if (spent > slices.longest_other) {
            slices.longest_other = spent;
            slices.longest_other_name = message_name(message);
        }
    }
    return slices;
}

// About 8 MiB of lines, `matches` of them holding the word "needle" at their end.
std::u16string document_with(std::size_t matches, std::size_t lines) {
    const std::u16string plain =
        u"Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor inc\n";
    const std::u16string marked =
        u"Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod te needle\n";
    std::u16string text;
    text.reserve(document_limit);
    for (std::size_t i = 0; i < lines; ++i) {
        text += (matches != 0 && i % (lines / matches) == 0 && i / (lines / matches) < matches)
                    ? marked
                    : plain;
    }
    return text;
}

// Serves what is queued and the editor's deferred layouts, so that a figure counts only the
// work it measures.
void drain() {
    UpdateWindow(main_window);
    const Source* source = source_record(chrome.editor);
    const auto end = clock_type::now() + std::chrono::seconds(10);
    MSG message{};
    do {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
    } while (source != nullptr && source->budget.last_paint_pending && clock_type::now() < end &&
             MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT) != WAIT_FAILED);
}

void install(const std::u16string& text) {
    SourceDocument document;
    document.assign(text);
    replace_editor_document(chrome.editor, std::move(document));
    drain();
}

// Replace All of the matches of `text`, and beside its last step the way that step used to end:
// the whole new text handed to the editor in one EM_REPLACESEL.
void replace_all_figures(std::size_t& boxes, const std::u16string& text, std::size_t matches,
                         const char* where) {
    install(text);
    std::printf("document: %zu units, %zu matches %s\n", text.size(), matches, where);
    find_command(208);
    SetWindowTextW(chrome.find_box, L"needle");
    SetWindowTextW(chrome.replace_box, L"pin");
    drain();
    const std::size_t before = boxes;
    const auto start = clock_type::now();
    request_find(FR_REPLACEALL | FR_DOWN);
    const double first = milliseconds_since(start);
    const Slices slices = serve_until([&] { return boxes > before; });
    const double total = milliseconds_since(start);
    const double last = slices.ticks.empty() ? 0 : slices.ticks.back();
    const double steps = slices.ticks.size() < 2
                             ? 0
                             : *std::max_element(slices.ticks.begin(), slices.ticks.end() - 1);
    std::printf("Replace All of %zu matches: %.0f ms (goal under 1000 ms) in %zu ticks\n", matches,
                total, slices.ticks.size());
    std::printf("  UI slices (goal 16 ms): start %.1f ms, longest step %.1f ms, last step (the "
                "new text into the editor) %.1f ms; longest other message %.1f ms (%s)\n",
                first, steps, last, slices.longest_other, slices.longest_other_name.c_str());
    std::printf("  the editor painted %d times while the job ran, longest %.1f ms\n",
                slices.paints_during_job, slices.longest_paint_during_job);
    const std::u16string result = source_text(chrome.editor);
    const auto undo_start = clock_type::now();
    SendMessageW(chrome.editor, EM_UNDO, 0, 0);
    std::printf("  undo of it: %.1f ms\n", milliseconds_since(undo_start));
    drain();
    CHARRANGE whole{0, static_cast<LONG>(text.size())};
    SendMessageW(chrome.editor, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&whole));
    const auto replace_start = clock_type::now();
    SendMessageW(chrome.editor, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(result.c_str()));
    const double whole_text = milliseconds_since(replace_start);
    std::printf("  last step %.1f ms beside %.1f ms for the same new text handed over whole in one "
                "EM_REPLACESEL, as the last step did before (ratio %.2f)\n",
                last, whole_text, whole_text > 0 ? last / whole_text : 0.0);
    SendMessageW(chrome.editor, EM_UNDO, 0, 0);
}

void find_next_figures() {
    // The only match is the last line: Find next from the start reads all 8 MiB.
    std::u16string text = document_with(0, match_count);
    text += u"needle\n";
    install(text);
    hide_find_bar();
    find_texts.find = L"needle";
    find_texts.flags = FR_DOWN;
    CHARRANGE top{0, 0};
    SendMessageW(chrome.editor, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&top));
    std::vector<double> samples;
    for (int i = 0; i < 6; ++i) {
        SendMessageW(chrome.editor, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&top));
        const auto start = clock_type::now();
        find_command(207);
        samples.push_back(milliseconds_since(start));
    }
    std::printf("Find next across 8 MiB: first after an edit %.1f ms, then %.1f ms (goal under "
                "20 ms)\n",
                samples.front(), bench::median({samples.begin() + 1, samples.end()}));
}

void count_figures(std::size_t matches) {
    install(document_with(matches, match_count));
    find_command(206);
    SetWindowTextW(chrome.find_box, L"needle");
    drain();
    const auto start = clock_type::now();
    start_match_count();
    const Slices slices = serve_until([] { return find_status() != L"Searching..."; });
    std::printf("match count of 8 MiB with %zu matches: \"%ls\" after %.0f ms (150 ms of it the "
                "wait after a change) in %zu ticks; longest tick %.1f ms (goal 16 ms), longest "
                "other message %.1f ms (%s)\n",
                matches, find_status().c_str(), milliseconds_since(start), slices.ticks.size(),
                slices.longest_tick(), slices.longest_other, slices.longest_other_name.c_str());
    std::printf("  the text refresh (timer 1) after the new text, during the count: %.1f ms\n",
                slices.text_refresh);
}

// The count an edit starts, with the text refresh the edit arms coming while it runs: typing one
// unit, and replacing one unit by another (the length stays).
void count_after_edit_figures() {
    install(document_with(5000, match_count));
    find_command(206);
    SetWindowTextW(chrome.find_box, L"needle");
    drain();
    serve_until([] { return find_status() != L"Searching..."; });
    for (const bool same_length : {false, true}) {
        const LONG middle = static_cast<LONG>(match_count / 2 * 83 + 10);
        CHARRANGE at{middle, same_length ? middle + 1 : middle};
        SendMessageW(chrome.editor, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&at));
        const auto start = clock_type::now();
        SendMessageW(chrome.editor, EM_REPLACESEL, TRUE,
                     reinterpret_cast<LPARAM>(same_length ? L"Z" : L"Q"));
        const double edit = milliseconds_since(start);
        // The refresh comes 400 ms after the edit, while the count of a few thousand matches
        // still runs; served until both are over.
        const Slices slices = serve_until([&] {
            const double since = milliseconds_since(start);
            return (since > 500 && find_status() != L"Searching...") || since > 10000;
        });
        std::printf("%s in the 8 MiB document: the edit %.1f ms, the count's longest tick %.1f "
                    "ms, the text refresh (timer 1) %.1f ms (goal 16 ms)\n",
                    same_length ? "one unit replaced by another" : "one unit typed", edit,
                    slices.longest_tick(), slices.text_refresh);
    }
}

void run() {
    HWND window = bench::open_main_window();
    std::size_t boxes = 0;
    install_message_box([&boxes](const MessageBoxRequest&) {
        ++boxes;
        return IDOK;
    });
    drain();

    replace_all_figures(boxes, document_with(match_count, match_count), match_count,
                        "spread over the whole text");
    constexpr std::size_t clustered = match_count / 10;
    replace_all_figures(
        boxes, document_with(clustered, clustered) + document_with(0, match_count - clustered),
        clustered, "all in its first tenth");
    find_next_figures();
    count_figures(0);
    count_figures(5000);
    count_figures(match_count);
    count_after_edit_figures();

    install_message_box({});
    DestroyWindow(window);
    drain();
    CoUninitialize();
    compare_mode = false;
}

bench::Registration registration("find", run);

} // namespace
