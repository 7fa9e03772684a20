#pragma once

#include "tracking/compare_baseline.h"
#include "tracking/line_diff.h"

#include <cstdint>
#include <string>

namespace pellix {

// The tooltip of the change marker on `line` (0-based, of the compared text) of a tab compared
// with `baseline`: the baseline lines behind the marker, at most five and 2048 units. `deletion`
// tells a deletion marker from a line marker. `diff` is the tab's applied comparison and
// `updating` tells that the text changed since it was applied. Empty when `baseline` is null or
// no range lies under the marker. UTF-16, as the editor's tooltip takes it.
std::u16string change_marker_text(const CompareBaseline* baseline, bool updating,
                                  const LineDiff& diff, std::uint64_t line, bool deletion);

} // namespace pellix
