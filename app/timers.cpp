#include "app/timers.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "app/document_tabs.h"
#include "app/editor_hosting.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/settings.h"
#include "app/views.h"
#include "core/file_io.h"

namespace pellix {

namespace {

// The size of text from which a text refresh copies and counts in separate ticks.
constexpr std::size_t count_apart_units = std::size_t{1} << 20;

void arm(UINT_PTR id, UINT period) {
    SetTimer(main_window, id, period, nullptr);
}

// While input is busy the tick is put off to just after the burst; true when it was.
bool deferred(UINT_PTR id) {
    if (!input_busy()) {
        return false;
    }
    arm(id, static_cast<UINT>(input_busy_until - GetTickCount64() + 1));
    return true;
}

void text_refresh_tick() {
    if (deferred(timer_id::text_refresh)) {
        return;
    }
    KillTimer(main_window, timer_id::text_refresh);
    if (replace_all_running()) {
        arm(timer_id::text_refresh, timer_period::text_refresh);
        return;
    }
    refresh_tab_text();
}

void preview_refresh_tick() {
    if (deferred(timer_id::preview_refresh)) {
        return;
    }
    KillTimer(main_window, timer_id::preview_refresh);
    if (replace_all_running()) {
        arm(timer_id::preview_refresh, timer_period::preview_refresh);
        return;
    }
    update_preview();
}

// Milliseconds from `now` to `until`; at least 1, so a time already reached fires at once.
UINT remaining(std::uint64_t until, std::uint64_t now) {
    return until > now ? static_cast<UINT>(std::min<std::uint64_t>(until - now, UINT_MAX)) : 1;
}

// The earlier of the snapshot's two deadlines that is set; 0 when neither is.
std::uint64_t recovery_snapshot_deadline() {
    if (autosave_deadline == 0 || recovery_store_deadline == 0) {
        return std::max(autosave_deadline, recovery_store_deadline);
    }
    return std::min(autosave_deadline, recovery_store_deadline);
}

// Input puts the snapshot off to just after the burst, but never past its first postponement's
// limit, nor past the deadline that its first unstored change set.
void recovery_snapshot_tick() {
    const std::uint64_t now = GetTickCount64();
    if (input_busy()) {
        if (autosave_deadline == 0) {
            autosave_deadline = now + autosave_postpone_limit_ms;
        }
        const std::uint64_t deadline = recovery_snapshot_deadline();
        if (now < deadline) {
            arm(timer_id::recovery_snapshot,
                std::min(remaining(input_busy_until + 1, now), remaining(deadline, now)));
            return;
        }
    }
    KillTimer(main_window, timer_id::recovery_snapshot);
    store_session(false, true);
    update_status();
}

void housekeeping_tick() {
    if (deferred(timer_id::housekeeping)) {
        return;
    }
    arm(timer_id::housekeeping, timer_period::housekeeping);
    apply_directory_changes(true);
    take_recovery_writer_result();
    check_disk_changes(false);
}

void directory_changes_tick() {
    apply_directory_changes(false);
    apply_watch_reads();
    if (input_busy()) {
        arm(timer_id::directory_changes,
            static_cast<UINT>(input_busy_until - GetTickCount64() + 1));
        return;
    }
    arm(timer_id::directory_changes, timer_period::directory_changes);
    apply_directory_changes(false);
}

} // namespace

void start_housekeeping_timers() {
    arm(timer_id::directory_changes, timer_period::directory_changes);
    arm(timer_id::housekeeping, timer_period::housekeeping);
}

void update_status_soon() {
    // A burst of typing would otherwise redraw the strip and retitle the window per character.
    if (keys_queued) {
        SetTimer(main_window, timer_id::status_refresh, timer_period::status_refresh, nullptr);
        return;
    }
    KillTimer(main_window, timer_id::status_refresh);
    update_status();
}

void on_editor_change() {
    if (suppress_change || tabs.empty()) {
        return;
    }
    DocumentTab& tab = current_tab();
    tab.text_stale = true;
    ++tab.revision;
    schedule_compare_pass(tab);
    update_status_soon();
    start_match_count();
    arm(timer_id::text_refresh, timer_period::text_refresh);
    if (is_markdown_path(tab.path) && (settings.view != view_source || settings.outline)) {
        arm(timer_id::preview_refresh, timer_period::preview_refresh);
    }
    if (!compare_mode) {
        arm_recovery_store();
    }
}

void arm_recovery_store() {
    // Replace All holds the store back until it ends; meanwhile the timer only looks again.
    if (replace_all_running()) {
        arm(timer_id::recovery_snapshot, timer_period::recovery_snapshot);
        return;
    }
    // Each change restarts the quiet spell, which would put the store off for as long as the
    // typing goes on; the deadline set by the first change not yet stored caps it.
    const std::uint64_t now = GetTickCount64();
    if (recovery_store_deadline == 0) {
        recovery_store_deadline = now + recovery_store_limit_ms;
    }
    arm(timer_id::recovery_snapshot,
        std::min(timer_period::recovery_snapshot, remaining(recovery_store_deadline, now)));
}

void drop_pending_tab_timers() {
    for (UINT_PTR id : {timer_id::text_refresh, timer_id::preview_refresh, timer_id::split_sync}) {
        KillTimer(main_window, id);
    }
    split_sync_request.pending = false;
}

void refresh_tab_text() {
    if (tabs.empty()) {
        return;
    }
    DocumentTab& tab = current_tab();
    // In a large text the copy into the tab's text and the recount each take several
    // milliseconds, so after a copy the count gets a tick of its own: together they would hold
    // the UI thread past a frame.
    if (tab.text_stale && tab_text(tab).size() >= count_apart_units) {
        arm(timer_id::text_refresh, timer_period::text_refresh_count);
        return;
    }
    refresh_word_count(tab);
    schedule_compare_pass(tab);
    update_status();
}

void on_timer(UINT_PTR id) {
    switch (id) {
    case timer_id::text_refresh:
        text_refresh_tick();
        break;
    case timer_id::recovery_snapshot:
        recovery_snapshot_tick();
        break;
    case timer_id::housekeeping:
        housekeeping_tick();
        break;
    case timer_id::preview_refresh:
        preview_refresh_tick();
        break;
    case timer_id::directory_changes:
        directory_changes_tick();
        break;
    case timer_id::split_sync:
        run_split_sync();
        break;
    case timer_id::match_count:
        if (!deferred(id)) {
            find_timer(id);
        }
        break;
    case timer_id::replace_all_step:
        find_timer(id);
        break;
    case timer_id::compare:
        compare_timer();
        break;
    case timer_id::status_refresh:
        KillTimer(main_window, id);
        update_status();
        break;
    default:
        break;
    }
}

} // namespace pellix
