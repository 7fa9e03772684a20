#include "app/match_count.h"

#include <richedit.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/find_bar.h"
#include "app/find_replace.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/replace_all.h"
#include "app/timers.h"
#include "editor/source_interface.h"
#include "preview/preview_window.h"

namespace pellix {

namespace {

constexpr unsigned slice_ms = 7;
constexpr int slice_searches = 128;
constexpr std::uint64_t count_cap = 9999;
constexpr wchar_t searching[] = L"Searching...";
constexpr wchar_t no_results[] = L"No results";
constexpr wchar_t capped[] = L"10000+";

struct CountJob {
    std::uint64_t tab_id = 0;
    std::uint64_t revision = 0;
    std::wstring find;
    unsigned long flags = find_flag::down;
    std::uint32_t position = 0;
    std::uint32_t end = 0;
    std::uint32_t selection_start = 0;
    std::uint64_t count = 0;
    std::uint64_t current = 0;
};

std::unique_ptr<CountJob> job;

std::wstring results_text(std::uint64_t count) {
    return std::to_wstring(count) + (count == 1 ? L" result" : L" results");
}

std::wstring position_text(std::uint64_t current, std::uint64_t count) {
    return std::to_wstring(current) + L" of " + std::to_wstring(count);
}

void end_count(const std::wstring& status) {
    set_find_status(status);
    stop_match_count();
}

// The highlights follow the find box: the editor paints the term with the flags, the preview
// its own matches.
void refresh_highlights() {
    const std::wstring text = find_bar_find_text();
    if (text != search_term || find_texts.flags != highlight_mode) {
        search_term = text;
        highlight_mode = find_texts.flags;
        set_source_highlight(chrome.editor, static_cast<int>(highlight_mode));
    }
    tell_preview_find(find_texts.flags);
}

void count_in_preview() {
    read_find_fields();
    tell_preview_find(find_texts.flags);
    const Preview::Impl& p = preview();
    if (find_texts.find.empty()) {
        end_count(L"");
        return;
    }
    const TextRanges& matches = p.find_matches;
    if (matches.empty()) {
        end_count(no_results);
        return;
    }
    const std::pair<std::uint64_t, std::uint64_t> forward{p.view.anchor, p.view.caret};
    const std::pair<std::uint64_t, std::uint64_t> backward{p.view.caret, p.view.anchor};
    const auto selected = std::find_if(matches.begin(), matches.end(), [&](const auto& match) {
        return match == forward || match == backward;
    });
    end_count(selected != matches.end()
                  ? position_text(static_cast<std::uint64_t>(selected - matches.begin()) + 1,
                                  matches.size())
                  : results_text(matches.size()));
}

// The job starts from the editor itself: its length and selection as they are now, not as the
// tab last cached them.
std::unique_ptr<CountJob> new_job() {
    const DocumentTab& tab = current_tab();
    auto created = std::make_unique<CountJob>();
    created->tab_id = tab.id;
    created->revision = tab.revision;
    created->find = find_texts.find;
    created->flags = (find_texts.flags & find_flag::options) | find_flag::down;
    created->end = static_cast<std::uint32_t>(source_document(tab.editor).length());
    CHARRANGE selection{};
    SendMessageW(tab.editor, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    created->selection_start = static_cast<std::uint32_t>(std::max<LONG>(selection.cpMin, 0));
    return created;
}

// One search of the window after the position.
void count_once(CountJob& work) {
    const std::uint32_t window_end = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(work.end, work.position + work.find.size() + search_window_units));
    FINDTEXTEXW request{
        .chrg = {static_cast<LONG>(work.position), static_cast<LONG>(window_end)},
        .lpstrText = work.find.c_str(),
        .chrgText = {},
    };
    const LRESULT hit =
        SendMessageW(chrome.editor, EM_FINDTEXTEXW, work.flags, reinterpret_cast<LPARAM>(&request));
    if (hit < 0) {
        work.position = window_end == work.end
                            ? work.end
                            : static_cast<std::uint32_t>(work.position + search_window_units);
        return;
    }
    if (request.chrgText.cpMax <= static_cast<LONG>(work.position)) {
        throw std::runtime_error("Invalid find count range.");
    }
    ++work.count;
    if (static_cast<std::uint64_t>(hit) <= work.selection_start) {
        work.current = work.count;
    }
    work.position = static_cast<std::uint32_t>(request.chrgText.cpMax);
}

std::wstring result_text(const CountJob& work) {
    if (work.count > count_cap) {
        return capped;
    }
    if (work.count == 0) {
        return no_results;
    }
    if (work.current != 0) {
        return position_text(work.current, work.count);
    }
    return results_text(work.count);
}

// Counts until the text is done, the cap is passed or the slice is used up; true when done.
bool run_slice(CountJob& work) {
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    for (int searches = 1; work.position < work.end && work.count <= count_cap; ++searches) {
        count_once(work);
        const bool slice_over = clock::now() - start > std::chrono::milliseconds(slice_ms) ||
                                searches >= slice_searches;
        if (slice_over && work.position < work.end && work.count <= count_cap) {
            return false;
        }
    }
    return true;
}

} // namespace

void stop_match_count() {
    if (main_window != nullptr) {
        KillTimer(main_window, timer_id::match_count);
    }
    job.reset();
}

void start_match_count() {
    stop_match_count();
    if (!is_find_bar_visible() || main_window == nullptr) {
        return;
    }
    read_find_fields();
    set_find_status(find_texts.find.empty() ? L"" : searching);
    SetTimer(main_window, timer_id::match_count, match_count_delay_ms, nullptr);
}

void count_matches_step() {
    if (!is_find_bar_visible() || replace_all_running() || tabs.empty()) {
        stop_match_count();
        return;
    }
    if (!job) {
        refresh_highlights();
    }
    if (!source_shown()) {
        count_in_preview();
        return;
    }
    if (find_texts.find.empty()) {
        end_count(L"");
        return;
    }
    if (!job) {
        job = new_job();
    } else if (job->tab_id != current_tab().id || job->revision != current_tab().revision) {
        start_match_count();
        return;
    }
    bool done = false;
    try {
        done = run_slice(*job);
    } catch (...) {
        stop_match_count();
        throw;
    }
    if (done) {
        end_count(result_text(*job));
        return;
    }
    SetTimer(main_window, timer_id::match_count, match_count_period_ms, nullptr);
}

} // namespace pellix
