#pragma once

#include "core/source_document.h"
#include "tracking/line_diff.h"

#include <cstdint>

namespace pellix {

// Where a position of a watched tab's old text lands in the text just read: the same column of
// the line that `diff` (old to new) maps its line to, cut to that line's length. A line inside a
// replaced block lands on the matching line of the block that replaced it; a deleted line lands
// on the line after the deletion.
std::uint64_t carry_watch_position(const SourceDocument& old_text, const SourceDocument& new_text,
                                   const LineDiff& diff, std::uint64_t position);

} // namespace pellix
