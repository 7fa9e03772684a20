#include "app/disk_state.h"
#include "app/watch_controller.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "app/compare_controller.h"
#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_layout.h"
#include "app/main_window_state.h"
#include "app/save_files.h"
#include "app/settings.h"
#include "app/timers.h"
#include "app/views.h"
#include "core/line_index.h"
#include "core/message_box.h"
#include "editor/source_interface.h"
#include "preview/preview_window.h"
#include "tracking/watch_positions.h"
#include "tracking/watch_worker.h"

namespace pellix {

namespace {

namespace watch_state {
constexpr std::uint32_t off = 0;
constexpr std::uint32_t watching = 1;
constexpr std::uint32_t paused = 2;
} // namespace watch_state

// A burst of change reports is read this long after its last report, but never later than
// `burst_limit_ms` after its first.
constexpr std::uint64_t quiet_ms = 200;
constexpr std::uint64_t burst_limit_ms = 1000;
// Failed reads are retried after 150, 300 and 450 ms; the fourth failure in a row pauses.
constexpr std::uint64_t retry_step_ms = 150;
constexpr std::uint32_t failures_to_pause = 4;
constexpr wchar_t caption[] = L"Watch";

std::unique_ptr<WatchWorker> worker;
std::uint64_t start_index = 0;

bool is_current(const DocumentTab& tab) {
    return !tabs.empty() && &current_tab() == &tab;
}

void repaint_source_header() {
    if (chrome.source_label != nullptr) {
        InvalidateRect(chrome.source_label, nullptr, FALSE);
    }
}

bool editor_modified(HWND editor) {
    return SendMessageW(editor, EM_GETMODIFY, 0, 0) != 0;
}

int ask(const wchar_t* text, UINT style) {
    return message_box(main_window, text, caption, style);
}

// The questions and refusals before Watch starts; false when it must not start.
bool ready_to_start(std::uint64_t tab_id, const std::function<bool()>& confirm) {
    DocumentTab* tab = find_tab_by_id(tab_id);
    if (tab->baseline) {
        if (tab->path.empty() || replace_all_running()) {
            return false;
        }
        const bool consent = confirm ? confirm()
                                     : ask(L"Stop comparing and start Watch?",
                                           MB_OKCANCEL | MB_ICONQUESTION) == IDOK;
        if (!consent) {
            return false;
        }
    }
    if (tab->path.empty() || replace_all_running()) {
        return false;
    }
    if (source_composing(tab->editor)) {
        ask(L"Finish the input-method composition before starting Watch.", MB_OK);
        return false;
    }
    if (!editor_modified(tab->editor)) {
        return true;
    }
    if (!is_current(*tab)) {
        ask(L"Select and save this tab before starting Watch.", MB_OK);
        return false;
    }
    if (ask(L"Save this file and start watching it read-only?", MB_OKCANCEL | MB_ICONQUESTION) !=
        IDOK) {
        return false;
    }
    return save_file(false, nullptr, {});
}

void start_watch(std::uint64_t tab_id, const std::function<bool()>& confirm) {
    if (!ready_to_start(tab_id, confirm)) {
        return;
    }
    // The save may have run file work; the tab is looked up again.
    DocumentTab* tab = find_tab_by_id(tab_id);
    if (tab == nullptr) {
        return;
    }
    if (!worker) {
        worker = std::make_unique<WatchWorker>(
            [window = main_window] { PostMessageW(window, WM_APP_WATCH_RESULTS, 0, 0); },
            read_watched_file);
    }
    if (tab->baseline) {
        stop_compare(*tab);
    }
    tab->was_read_only = (GetWindowLongPtrW(tab->editor, GWL_STYLE) & ES_READONLY) != 0;
    ++tab->watch_generation;
    tab->watch_state = watch_state::watching;
    tab->watch_retries = 0;
    tab->watch_last_write = {};
    tab->watch_updates = 0;
    SendMessageW(tab->editor, EM_SETREADONLY, TRUE, 0);
    set_compare_gutter(tab->editor, true);
    if (is_current(*tab)) {
        hide_completion();
        hide_find_bar();
        update_preview();
    }
    schedule_watch_read(tab_id, true);
}

void stop_watch(DocumentTab& tab) {
    ++tab.watch_generation;
    if (worker) {
        worker->cancel(tab.id);
    }
    tab.watch_pending = false;
    tab.watch_state = watch_state::off;
    tab.watch_status.clear();
    tab.watch_line_marks.clear();
    tab.watch_deletion_marks.clear();
    tab.watch_highlights_unavailable = false;
    SendMessageW(tab.editor, EM_SETREADONLY, tab.was_read_only ? TRUE : FALSE, 0);
    set_change_marks(tab.editor, {});
    set_compare_gutter(tab.editor, false);
}

bool ui_is_owned_elsewhere() {
    return file_work_busy || restoring_session() || start_up_pending || replace_all_running() ||
           main_window == nullptr || !IsWindowEnabled(main_window);
}

DocumentTab* tab_of(const WatchResult& result) {
    for (auto& tab : tabs) {
        if (tab->id == result.job.tab_id && tab->watch_state != watch_state::off &&
            tab->watch_generation == result.job.generation && tab->path == result.job.path) {
            return tab.get();
        }
    }
    return nullptr;
}

// A failed read, or a file found empty that is read once more before it is believed.
bool failed_or_unconfirmed(DocumentTab& tab, const WatchResult& result) {
    if (result.error.empty()) {
        const bool emptied = result.decoded.text.empty() && result.job.document.length() != 0;
        if (!emptied || tab.watch_retries != 0) {
            return false;
        }
        tab.watch_status = "Confirming empty file";
    } else {
        tab.watch_status = result.error;
    }
    ++tab.watch_retries;
    if (tab.watch_retries < failures_to_pause) {
        tab.watch_pending = true;
        tab.watch_due = GetTickCount64() + tab.watch_retries * retry_step_ms;
    } else {
        tab.watch_state = watch_state::paused;
        tab.watch_pending = false;
    }
    return true;
}

bool edited_locally(DocumentTab& tab, const WatchResult& result) {
    if (!editor_modified(tab.editor) &&
        source_document(tab.editor).revision == result.job.document.revision) {
        return false;
    }
    tab.watch_state = watch_state::paused;
    tab.watch_status = "Local content changed";
    tab.watch_pending = false;
    return true;
}

// Replaces the editor's document with the new text, the view and the selection carried over.
void install_new_text(DocumentTab& tab, WatchResult& result) {
    const SourceDocument old_text = source_document(tab.editor);
    const SourceDocument new_text = result.new_document.snapshot();
    const LineDiff& diff = result.diff;
    DocumentPlacement placement;
    placement.keep_view = true;
    placement.anchor = carry_watch_position(old_text, new_text, diff, old_text.selection[0]);
    placement.caret = carry_watch_position(old_text, new_text, diff, old_text.selection[1]);
    placement.carry_offset = [&](std::uint64_t offset) {
        return carry_watch_position(old_text, new_text, diff, offset);
    };
    // The lines around the changed stretch keep their layouts: a log that grows at its end
    // lays out only its new lines.
    if (!diff.ranges.empty() && diff.ranges.front().old_begin == diff.ranges.front().new_begin) {
        placement.changed_lines_known = true;
        placement.changed_first = diff.ranges.front().old_begin;
        placement.changed_old_end = diff.ranges.back().old_end;
        placement.changed_new_end = diff.ranges.back().new_end;
    }
    replace_editor_document(tab.editor, std::move(result.new_document), placement);
}

void bring_views_along(DocumentTab& tab) {
    if (!is_current(tab)) {
        return;
    }
    refresh_word_count(tab);
    start_match_count();
    update_preview();
    const bool split = settings.view == view_split;
    if (split && !tab.source_leads) {
        set_source_top_line(tab.editor, tab.preview_line, 0);
    }
    if (preview().window != nullptr) {
        scroll_preview_to_source_line(split && tab.source_leads ? source_top_line(tab.editor)
                                                                : tab.preview_line);
    }
    tab.preview_line_pending = false;
}

// Step of an applied read that changed the text; true when it did.
bool apply_update(DocumentTab& tab, WatchResult& result) {
    const double preview_position = is_current(tab) ? preview_top_line() : tab.preview_line;
    tab.watch_state = watch_state::watching;
    tab.watch_status.clear();
    tab.watch_retries = 0;
    if (result.unchanged) {
        return false;
    }
    ChangeMarks marks;
    if (tab.watch_marks_counter == result.job.marks_counter) {
        marks = {std::move(result.merged_line_marks), std::move(result.merged_deletion_marks)};
    } else {
        marks = result.diff.marks;
    }

    const bool was_syncing = std::exchange(split_syncing, true);
    const bool was_suppressed = std::exchange(suppress_change, true);
    KillTimer(main_window, timer_id::split_sync);
    split_sync_request.pending = false;
    struct Restore {
        bool syncing;
        bool suppressed;
        ~Restore() {
            split_syncing = syncing;
            suppress_change = suppressed;
        }
    } restore{was_syncing, was_suppressed};

    install_new_text(tab, result);
    tab.text = std::move(result.decoded.text);
    tab.text_source = {};
    tab.encoding = static_cast<std::uint32_t>(result.decoded.encoding);
    tab.line_ending = static_cast<std::uint32_t>(result.decoded.line_ending);
    tab.text_stale = false;
    ++tab.revision;
    tab.watch_line_marks = marks.line_marks;
    tab.watch_deletion_marks = marks.deletion_marks;
    tab.watch_highlights_unavailable = !result.diff.line_by_line;
    set_change_marks(tab.editor, marks);
    tab.preview_line = map_line_through_hunks(result.diff, preview_position);
    tab.preview_line_pending = true;
    SendMessageW(tab.editor, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&tab.selection));
    SendMessageW(tab.editor, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&tab.scroll_pos));
    bring_views_along(tab);
    GetSystemTimeAsFileTime(&tab.watch_last_write);
    ++tab.watch_updates;
    return true;
}

void take_disk_state(DocumentTab& tab, WatchResult& result) {
    take_disk_bytes(tab, std::move(result.bytes));
    tab.changed_on_disk = false;
    tab.disk_exists = true;
    tab.recovered_draft = false;
    tab.disk_check_pending = false;
    tab.disk_write_time = result.last_write;
    tab.disk_size = result.size;
    store_session(false, false);
}

std::wstring widen(const std::string& utf8) {
    try {
        return to_wide(utf8);
    } catch (const std::exception&) {
        return std::wstring(utf8.begin(), utf8.end());
    }
}

std::wstring update_announcement(const DocumentTab& tab) {
    const std::uint64_t marked = marked_line_count(tab.watch_line_marks);
    const std::uint64_t deleted = deleted_line_count(tab.watch_deletion_marks);
    return tab.path.filename().wstring() + L" updated. " + std::to_wstring(marked) +
           L" lines marked, " + std::to_wstring(deleted) + L" deleted.";
}

void show_outcome(DocumentTab& tab, std::uint32_t old_state, bool text_changed) {
    refresh_tab_strip();
    if (!is_current(tab)) {
        return;
    }
    update_status();
    repaint_source_header();
    if (tab.watch_state == watch_state::paused && old_state != watch_state::paused) {
        announce(tab.editor, L"Watch paused. " + widen(tab.watch_status));
    } else if (text_changed) {
        announce(tab.editor, update_announcement(tab));
    }
}

void apply_result(WatchResult result) {
    DocumentTab* found = tab_of(result);
    if (found == nullptr) {
        return;
    }
    DocumentTab& tab = *found;
    const std::uint32_t old_state = tab.watch_state;
    bool text_changed = false;
    if (!result.cancelled && !failed_or_unconfirmed(tab, result) && !edited_locally(tab, result)) {
        text_changed = apply_update(tab, result);
        take_disk_state(tab, result);
    }
    show_outcome(tab, old_state, text_changed);
}

// One due read goes to the worker.
void hand_out_one_job() {
    const std::uint64_t count = tabs.size();
    const std::uint64_t now = GetTickCount64();
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t index = (start_index + i) % count;
        DocumentTab& tab = *tabs[index];
        if (tab.watch_state == watch_state::off || !tab.watch_pending || tab.watch_due > now) {
            continue;
        }
        WatchJob job;
        job.tab_id = tab.id;
        job.generation = tab.watch_generation;
        job.marks_counter = tab.watch_marks_counter;
        job.path = tab.path;
        job.document = source_document(tab.editor);
        job.encoding = static_cast<Encoding>(tab.encoding);
        job.line_ending = static_cast<LineEnding>(tab.line_ending);
        job.line_marks = tab.watch_line_marks;
        job.deletion_marks = tab.watch_deletion_marks;
        if (worker->hand_over(std::move(job))) {
            tab.watch_pending = false;
            start_index = (index + 1) % count;
        }
        return;
    }
}

} // namespace

void toggle_watch(std::uint64_t tab_id, const std::function<bool()>& confirm) {
    DocumentTab* tab = find_tab_by_id(tab_id);
    if (tab == nullptr) {
        return;
    }
    if (tab->watch_state == watch_state::off) {
        start_watch(tab_id, confirm);
    } else {
        stop_watch(*tab);
    }
    tab = find_tab_by_id(tab_id);
    if (tab == nullptr) {
        return;
    }
    refresh_tab_strip();
    if (is_current(*tab)) {
        layout_window();
        update_status();
        repaint_source_header();
    }
}

void schedule_watch_read(std::uint64_t tab_id, bool now) {
    DocumentTab* tab = find_tab_by_id(tab_id);
    if (tab == nullptr || tab->watch_state == watch_state::off) {
        return;
    }
    const std::uint64_t time = GetTickCount64();
    if (!tab->watch_pending) {
        tab->watch_first_change = time;
        if (tab->watch_state == watch_state::paused) {
            tab->watch_retries = 0;
        }
    }
    tab->watch_pending = true;
    if (!now) {
        tab->watch_due = std::min(time + quiet_ms, tab->watch_first_change + burst_limit_ms);
        return;
    }
    tab->watch_due = time;
    tab->watch_retries = 0;
    rearm_directory_watcher();
}

void clear_watch_changes(std::uint64_t tab_id) {
    DocumentTab* tab = find_tab_by_id(tab_id);
    if (tab == nullptr || tab->watch_state == watch_state::off) {
        return;
    }
    tab->watch_line_marks.clear();
    tab->watch_deletion_marks.clear();
    ++tab->watch_marks_counter;
    set_change_marks(tab->editor, {});
    if (is_current(*tab)) {
        update_status();
    }
}

void apply_watch_reads() {
    if (!worker || ui_is_owned_elsewhere()) {
        return;
    }
    if (std::optional<WatchResult> result = worker->take_result()) {
        apply_result(std::move(*result));
    }
    const bool any_watched = std::any_of(tabs.begin(), tabs.end(), [](const auto& tab) {
        return tab->watch_state != watch_state::off;
    });
    if (!any_watched) {
        if (!worker->busy()) {
            worker.reset();
        }
        return;
    }
    hand_out_one_job();
}

void forget_tab_work(DocumentTab& tab) {
    if (worker) {
        worker->cancel(tab.id);
    }
    forget_compare(tab);
    forget_preview_tab(tab.id);
}

void stop_watch_worker() {
    worker.reset();
    start_index = 0;
}

bool watch_worker_exists() {
    return worker != nullptr;
}

} // namespace pellix
