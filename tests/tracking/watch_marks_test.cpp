#include "tracking/watch_marks.h"

#include <gtest/gtest.h>

#include <vector>

namespace pellix {
namespace {

using Lines = std::vector<LineMark>;
using Deletions = std::vector<DeletionMark>;
constexpr auto added = line_mark_added;
constexpr auto changed = line_mark_changed;

TEST(CarryWatchMarks, LineMarksFollowTheirLinesAndAddedOutranksChanged) {
    // A line inserted before the old mark pushes it down beside the new mark.
    ChangeMarks merged =
        carry_watch_marks(diff_lines(u"a\nb\nc\nd", u"a\nb\nX\nc\nd"), {{2, 3, changed}}, {});
    EXPECT_EQ(merged.line_marks, (Lines{{2, 3, added}, {3, 4, changed}}));

    // A deleted line loses its mark and leaves a deletion mark.
    merged = carry_watch_marks(diff_lines(u"a\nb\nc\nd", u"a\nb\nd"), {{2, 3, changed}}, {});
    EXPECT_EQ(merged.line_marks, Lines{});
    EXPECT_EQ(merged.deletion_marks, (Deletions{{2, 1}}));

    // An added line changed again stays added.
    merged = carry_watch_marks(diff_lines(u"0\n1\n2\n3\nx\n5", u"0\n1\n2\n3\ny\n5"),
                               {{4, 5, added}}, {});
    EXPECT_EQ(merged.line_marks, (Lines{{4, 5, added}}));

    // A damaged mark reaching past the old text stops at its end.
    merged = carry_watch_marks(diff_lines(u"a\nb", u"a\nb\nc"), {{0, UINT64_MAX, changed}}, {});
    EXPECT_EQ(merged.line_marks, (Lines{{0, 2, changed}, {2, 3, added}}));
}

TEST(CarryWatchMarks, DeletionMarksOnOneLineAddUpAndTheEndStaysTheEnd) {
    // Old line b goes: the old mark on line 1 lands where b was, beside the new deletion; the
    // one on line 3 moves up a line; the one past the last line stays past the last line.
    const LineDiff diff = diff_lines(u"a\nb\nc\nd\ne", u"a\nc\nd\ne");
    const ChangeMarks merged = carry_watch_marks(diff, {}, {{5, 4}, {3, 1}, {1, 2}});
    EXPECT_EQ(merged.deletion_marks, (Deletions{{1, 3}, {2, 1}, {4, 4}}));
}

TEST(CarryWatchMarks, ACoarseDiffPlacesNoMark) {
    LineDiff coarse{.line_by_line = false,
                    .old_lines = 3,
                    .new_lines = 3,
                    .ranges = {{0, 3, 0, 3}},
                    .marks = {}};
    const ChangeMarks merged = carry_watch_marks(coarse, {{0, 1, added}}, {{1, 1}});
    EXPECT_EQ(merged, ChangeMarks{});
}

} // namespace
} // namespace pellix
