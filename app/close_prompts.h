#pragma once

// Closing with unsaved changes: every modified tab that is about to go is asked about in turn
// (save, discard, discard it and all the rest, or cancel everything). `CloseChoice`,
// `ask_save_changes`, `close_tabs_where` and `may_close_window` are declared in
// app/hosted_units.h.

#include <cstdint>
#include <functional>
#include <vector>

#include "app/hosted_units.h"

namespace pellix {

// The button of the task dialog that discards this tab and every remaining one.
inline constexpr int discard_all_button = 1001;

struct CloseResolution {
    bool ok = false;
    // Tab indexes whose changes the user discarded; empty when not ok.
    std::vector<std::uint64_t> discarded;
};

// Walks `indexes` in order through `ask` (told whether more follow) and `save`; a cancel or a
// failed save stops the walk with ok false.
CloseResolution
resolve_close_choices(const std::vector<std::uint64_t>& indexes,
                      const std::function<CloseChoice(std::uint64_t index, bool more)>& ask,
                      const std::function<bool(std::uint64_t index)>& save);

} // namespace pellix
