#pragma once

// The main window's timers: the deferred refreshes after an edit, the housekeeping ticks, and
// the rule that postpones heavy work while the user is typing or scrolling.

#include <windows.h>

namespace pellix {

namespace timer_id {
inline constexpr UINT_PTR text_refresh = 1;
inline constexpr UINT_PTR recovery_snapshot = 2;
inline constexpr UINT_PTR housekeeping = 3;
inline constexpr UINT_PTR replace_all_step = 5;
inline constexpr UINT_PTR preview_refresh = 6;
inline constexpr UINT_PTR match_count = 7;
inline constexpr UINT_PTR directory_changes = 8;
inline constexpr UINT_PTR split_sync = 10;
inline constexpr UINT_PTR compare = 11;
inline constexpr UINT_PTR status_refresh = 12;
// The window's size has stayed a while: its panes take it (`settle_window_size`).
inline constexpr UINT_PTR size_settle = 13;
} // namespace timer_id

namespace timer_period {
inline constexpr UINT text_refresh = 400;
inline constexpr UINT text_refresh_count = 16; // the count after a large text's copy, a frame on
inline constexpr UINT recovery_snapshot = 1500;
inline constexpr UINT housekeeping = 2000;
inline constexpr UINT preview_refresh = 1500;
inline constexpr UINT directory_changes = 200;
inline constexpr UINT split_sync = 10;
inline constexpr UINT compare = 30;
inline constexpr UINT status_refresh = 16; // one frame
} // namespace timer_period

// How long a recovery snapshot may be postponed by input after its first postponement.
inline constexpr unsigned autosave_postpone_limit_ms = 2000;
// The longest a change waits before its snapshot goes to the recovery writer: the quiet spell a
// snapshot waits for, and then at most as long as input may put it off, however steadily the
// changes keep coming.
inline constexpr unsigned recovery_store_limit_ms =
    timer_period::recovery_snapshot + autosave_postpone_limit_ms;
// How long after an edit a compare pass becomes due.
inline constexpr unsigned compare_delay_ms = 200;

// WM_CREATE: the housekeeping timers that run for the window's life.
void start_housekeeping_timers();

// The status strip, menus and title after a change of the active editor's text or selection:
// at once, or, while typed keys wait in the queue, once they are served (at most once a frame).
void update_status_soon();

// The active editor reported a change of its text (EN_CHANGE).
void on_editor_change();

// A change or request for the recovery store: the snapshot follows the last one by 1.5 s, but
// no later than `recovery_store_limit_ms` after the first one not yet handed to the writer.
void arm_recovery_store();

// Kills the active tab's pending text, preview and split-scroll work.
void drop_pending_tab_timers();

// One WM_TIMER of the main window.
void on_timer(UINT_PTR id);

// The tick of timer 1: the active tab's text, word count, compare schedule and status.
void refresh_tab_text();

} // namespace pellix
