#pragma once

// Watch mode of the main window's tabs: a watched tab is read-only and follows its file on
// disk. Reads are handed one at a time to the one watch worker; a finished read replaces the
// editor's text with the view, the selection and the preview position carried over, and marks
// the changed lines. `toggle_watch`, `schedule_watch_read`, `clear_watch_changes`,
// `apply_watch_reads` and `forget_tab_work` are declared in app/hosted_units.h. UI thread only.

namespace pellix {

// The worker stops (its read cancelled) and is joined (the main window goes away).
void stop_watch_worker();

// Whether the watch worker (and its thread) exists.
bool watch_worker_exists();

} // namespace pellix
