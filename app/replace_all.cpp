#include "app/replace_all.h"

#include <richedit.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/document_tabs.h"
#include "app/find_replace.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/timers.h"
#include "core/encoding.h"
#include "core/limits.h"
#include "core/message_box.h"
#include "editor/source_find.h"
#include "editor/source_interface.h"

namespace pellix {

namespace {

constexpr wchar_t preparing_note[] = L"Preparing Replace All. Esc cancels.";
// The editor refused the hand-over (another message changed its text first): no count may say
// otherwise.
constexpr char replacements_not_made[] =
    "The editor did not take the replacements. No text was changed.";
// Text read from the snapshot at once: several windows, so that a run of close matches reads
// the rope once per chunk rather than once per match.
constexpr std::uint64_t chunk_units = 4 * search_window_units;

struct ReplaceAllJob {
    std::uint64_t tab_id = 0;
    std::uint64_t revision = 0;
    HWND editor = nullptr;
    SourceDocument text;
    // The part of `text` read last, from `chunk_start`.
    std::u16string chunk;
    std::uint64_t chunk_start = 0;
    // Only the stretch from the first match to the last one is replaced: the new text of that
    // stretch is built into the editor's own tree form slice by slice, so that the last slice
    // only splices it in. Text after a match is added as the search passes it and cut off
    // again at the last match's end.
    RopeBuilder output{0};
    std::uint64_t span_start = 0;
    std::uint64_t span_end = 0;
    std::uint64_t output_at_span_end = 0;
    // The new lines' lengths and fence states, gathered alongside for the same reason; cut off
    // likewise after the line the last match completes.
    ReplacementLines lines;
    std::uint64_t lines_at_span_end = 0;
    // Whether any match differs from the replacement; otherwise the text stays as it is.
    bool changes = false;
    std::u16string replacement;
    std::u16string find;
    unsigned long flags = find_flag::down;
    std::uint64_t position = 0;
    std::uint64_t count = 0;
    bool was_read_only = false;
};

std::unique_ptr<ReplaceAllJob> job;

void set_progress_note(std::uint64_t tab_id, const std::wstring& note) {
    if (DocumentTab* tab = find_tab_by_id(tab_id)) {
        tab->status_note = note;
    }
    update_status();
}

void enable_controls(bool enabled) {
    for (HWND control : {chrome.tab_control, chrome.find_bar}) {
        if (control != nullptr) {
            EnableWindow(control, enabled ? TRUE : FALSE);
        }
    }
}

bool editor_read_only(HWND editor) {
    return (GetWindowLongPtrW(editor, GWL_STYLE) & ES_READONLY) != 0;
}

void append(ReplaceAllJob& work, std::u16string_view piece) {
    if (work.span_start + work.output.length() + piece.size() > document_limit) {
        throw std::runtime_error(
            "Replacement exceeds the editor's 8 MiB character limit. No text was changed.");
    }
    work.output.append(piece);
    work.lines.append(piece);
}

// The snapshot's text over [from, to), from the chunk the job holds, read again only when the
// range leaves it.
std::u16string_view text_over(ReplaceAllJob& work, std::uint64_t from, std::uint64_t to) {
    if (from < work.chunk_start || to > work.chunk_start + work.chunk.size()) {
        work.chunk_start = from;
        work.chunk = work.text.text(from, std::min(work.text.length(), from + chunk_units) - from);
    }
    return std::u16string_view(work.chunk).substr(from - work.chunk_start, to - from);
}

// One search of the window after the position, and what it gives to the output. The job
// searches its own snapshot of the document, a chunk at a time: the editor is read-only
// meanwhile and a changed revision ends the job, so the snapshot is the editor's text, and
// neither a copy of the whole text nor a hundred thousand matches cost the UI thread a long
// block.
void advance(ReplaceAllJob& work) {
    const std::uint64_t length = work.text.length();
    const std::uint64_t window_end =
        std::min(work.position + search_window_units + work.find.size(), length);
    // One unit on either side of the window for the whole-word test.
    const std::uint64_t first = work.position > 0 ? work.position - 1 : 0;
    const std::u16string_view around = text_over(work, first, std::min(window_end + 1, length));
    const std::int64_t found =
        find_in_text(around, work.find,
                     {.from = static_cast<std::int64_t>(work.position - first),
                      .to = static_cast<std::int64_t>(window_end - first),
                      .down = true,
                      .match_case = (work.flags & find_flag::match_case) != 0,
                      .whole_word = (work.flags & find_flag::whole_word) != 0});
    std::uint64_t next =
        window_end == length ? length : std::min(work.position + search_window_units, length);
    if (found >= 0) {
        next = first + static_cast<std::uint64_t>(found);
        const std::uint64_t end = next + work.find.size();
        if (next < work.position || end <= next || end > length) {
            throw std::runtime_error("Invalid native search range. No text was changed.");
        }
    }
    if (found >= 0 && work.count == 0) {
        work.span_start = next;
        work.lines = replacement_lines(work.editor, next);
    } else if (work.count > 0) {
        append(work, around.substr(work.position - first, next - work.position));
    }
    if (found >= 0) {
        append(work, work.replacement);
        work.changes = work.changes || around.substr(next - first, work.find.size()) !=
                                           std::u16string_view(work.replacement);
        ++work.count;
        next += work.find.size();
        work.span_end = next;
        work.output_at_span_end = work.output.length();
        work.lines_at_span_end = work.lines.complete_lines();
    }
    work.position = next;
}

// Runs searches until the text is done or the slice's time is up. The slice is
// bounded by time alone, measured with the precise clock: a cap on searches per slice would
// stretch a hundred thousand replacements over hundreds of ticks.
void run_slice(ReplaceAllJob& work) {
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    const auto budget = std::chrono::milliseconds(replace_all_slice_ms);
    do {
        advance(work);
    } while (work.position < work.text.length() && clock::now() - start < budget);
}

void finish() {
    const HWND editor = job->editor;
    const std::uint64_t count = job->count;
    const std::uint64_t from = job->span_start;
    const std::uint64_t to = job->span_end;
    const bool changes = job->changes;
    SourceDocument::NodePtr output = job->output.take(job->output_at_span_end);
    ReplacementLines lines = std::move(job->lines);
    lines.keep(job->lines_at_span_end);
    cancel_replace_all();
    if (changes && IsWindow(editor)) {
        SendMessageW(editor, EM_STOPGROUPTYPING, 0, 0);
        const bool made =
            replace_source_range(editor, from, to, std::move(output), std::move(lines));
        SendMessageW(editor, EM_STOPGROUPTYPING, 0, 0);
        if (!made) {
            throw std::runtime_error(replacements_not_made);
        }
    }
    message_box(main_window, std::to_wstring(count) + L" replacements.", L"Replace All", MB_OK);
    // The button that started the job would keep the focus (or the box would hand it to the
    // main window): the replaced text is the editor's, so Ctrl+Z there undoes it at once.
    if (IsWindow(editor) && IsWindowVisible(editor)) {
        SetFocus(editor);
    }
}

} // namespace

bool replace_all_running() {
    return job != nullptr;
}

void start_replace_all(unsigned long flags) {
    if (find_texts.find.empty() || tabs.empty()) {
        return;
    }
    const DocumentTab& tab = current_tab();
    HWND editor = tab.editor;
    auto work = std::make_unique<ReplaceAllJob>();
    work->tab_id = tab.id;
    work->revision = tab.revision;
    work->editor = editor;
    // The editor's own text: the tab's cached copy lags behind the latest keystrokes.
    work->text = source_document(editor);
    // The seed the editor's own replacement would give the new text's tree.
    work->output = RopeBuilder(work->text.revision + 1);
    // Checked here, since the new text is never normalised as a whole: a find text that is
    // not whole characters could cut a surrogate pair in two.
    work->replacement = normalize_source(normalize_line_endings(
        std::u16string(find_texts.replace.begin(), find_texts.replace.end())));
    work->find = normalize_source(std::u16string(find_texts.find.begin(), find_texts.find.end()));
    work->flags = (flags & find_flag::options) | find_flag::down;
    work->was_read_only = editor_read_only(editor);
    job = std::move(work);

    hide_completion();
    SendMessageW(editor, EM_SETREADONLY, TRUE, 0);
    enable_controls(false);
    set_progress_note(job->tab_id, preparing_note);
    if (SetTimer(main_window, timer_id::replace_all_step, replace_all_period_ms, nullptr) == 0) {
        cancel_replace_all();
        throw std::runtime_error("Could not start Replace All.");
    }
}

void replace_all_step() {
    if (!job) {
        KillTimer(main_window, timer_id::replace_all_step);
        return;
    }
    if (tabs.empty() || current_tab().id != job->tab_id ||
        current_tab().revision != job->revision) {
        cancel_replace_all();
        return;
    }
    // The hand-over gets a tick of its own rather than following the last searches.
    if (job->position >= job->text.length()) {
        finish();
        return;
    }
    try {
        run_slice(*job);
    } catch (...) {
        cancel_replace_all();
        throw;
    }
    set_progress_note(job->tab_id,
                      L"Replace All: " + std::to_wstring(job->count) + L" matches. Esc cancels.");
}

void cancel_replace_all() {
    if (main_window != nullptr) {
        KillTimer(main_window, timer_id::replace_all_step);
    }
    if (!job) {
        return;
    }
    const std::unique_ptr<ReplaceAllJob> ended = std::move(job);
    if (IsWindow(ended->editor)) {
        SendMessageW(ended->editor, EM_SETREADONLY, ended->was_read_only ? TRUE : FALSE, 0);
    }
    enable_controls(true);
    set_progress_note(ended->tab_id, L"");
    start_match_count();
}

} // namespace pellix
