#pragma once

// Replace All as a job on the UI thread: it takes a snapshot of the editor's text, builds the new
// text of the stretch from the first match to the last in slices of a few milliseconds on timer
// 5 while the editor is read-only, and hands it to the editor as one replacement of that
// stretch, so that the whole Replace All is one undo step. Esc, a tab change or a change of the
// text cancels it with the text unchanged.
// (`replace_all_running` and `cancel_replace_all` are declared with the main window's joins.)

#include <cstdint>

namespace pellix {

// Timer 5's period, and the share of it one slice may work.
inline constexpr unsigned replace_all_period_ms = 16;
inline constexpr unsigned replace_all_slice_ms = 8;
// Units one search looks at beyond the position reached (plus the find text's length).
inline constexpr std::uint64_t search_window_units = 32768;

// Starts a job with the find strings and the request's flags. Throws std::runtime_error
// "Could not start Replace All." when the timer cannot be set (the job is cancelled first).
void start_replace_all(unsigned long flags);

// One slice (timer 5). A failing slice cancels the job, leaves the text as it was and throws.
void replace_all_step();

} // namespace pellix
