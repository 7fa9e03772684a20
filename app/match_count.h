#pragma once

// The find bar's match count: 150 ms after the text or the options changed, the matches of the
// find text are counted in slices of a few milliseconds on timer 7, and the bar shows where the
// current match stands among them ("2 of 3", "4 results", "No results", "10000+").

namespace pellix {

inline constexpr unsigned match_count_delay_ms = 150;
inline constexpr unsigned match_count_period_ms = 16;

// One slice of counting (timer 7). Throws std::runtime_error "Invalid find count range." when
// the editor answers a match that does not move on.
void count_matches_step();

// Stops counting (timer 7) and forgets the job.
void stop_match_count();

} // namespace pellix
