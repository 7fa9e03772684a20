#pragma once

#include "tracking/change_marks.h"
#include "tracking/line_diff.h"

#include <vector>

namespace pellix {

// The marks a watched tab shows, carried from its old text over `diff` (old text to the text just
// read) and merged with the diff's own new marks: a line marked added stays added, a removed line
// loses its mark, and deletion marks on one line add up. Both lists are empty when the diff is
// not line by line, since its single coarse range cannot place a line.
ChangeMarks carry_watch_marks(const LineDiff& diff, const std::vector<LineMark>& line_marks,
                              const std::vector<DeletionMark>& deletion_marks);

} // namespace pellix
