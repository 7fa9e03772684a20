#pragma once

// The compare commands of the main window: the compare sources (saved version, another file,
// the clipboard), stop comparing, next and previous change, the compare pop-up, the compare
// targets 1000-1127, and the status strip's Watch pop-up. `run_compare_command` and
// `show_watch_menu` themselves are declared in app/hosted_units.h.

#include <cstdint>
#include <optional>
#include <vector>

#include "tracking/line_diff.h"

namespace pellix {

// The change that next (or previous) change navigation reaches from `caret_line`, or none.
// `remembered` is the change reached last when the caret has not moved since.
std::optional<std::uint64_t> change_target(const std::vector<ChangeRange>& changes,
                                           std::uint64_t caret_line,
                                           std::optional<std::uint64_t> remembered, bool forward);

} // namespace pellix
