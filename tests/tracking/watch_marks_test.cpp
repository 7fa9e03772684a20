#include "tracking/watch_marks.h"

#include <gtest/gtest.h>

#include <vector>

namespace pellix {
namespace {

constexpr auto added = line_mark_added;
constexpr auto changed = line_mark_changed;

TEST(CarryWatchMarks, MovesAMarkPastAnInsertedLineAndKeepsTheNewOne) {
    const LineDiff diff = diff_lines(u"a\nb\nc\nd", u"a\nb\nX\nc\nd");
    ASSERT_EQ(diff.ranges, (std::vector<ChangeRange>{{2, 2, 2, 3}}));

    const ChangeMarks merged = carry_watch_marks(diff, {{2, 3, changed}}, {});
    EXPECT_EQ(merged.line_marks, (std::vector<LineMark>{{2, 3, added}, {3, 4, changed}}));
    EXPECT_TRUE(merged.deletion_marks.empty());
}

TEST(CarryWatchMarks, DropsTheMarkOfADeletedLineForADeletionMark) {
    const LineDiff diff = diff_lines(u"a\nb\nc\nd", u"a\nb\nd");

    const ChangeMarks merged = carry_watch_marks(diff, {{2, 3, changed}}, {});
    EXPECT_TRUE(merged.line_marks.empty());
    EXPECT_EQ(merged.deletion_marks, (std::vector<DeletionMark>{{2, 1}}));
}

TEST(CarryWatchMarks, AnAddedLineChangedAgainStaysAdded) {
    const LineDiff diff = diff_lines(u"0\n1\n2\n3\nx\n5", u"0\n1\n2\n3\ny\n5");
    ASSERT_EQ(diff.marks.line_marks, (std::vector<LineMark>{{4, 5, changed}}));

    const ChangeMarks merged = carry_watch_marks(diff, {{4, 5, added}}, {});
    EXPECT_EQ(merged.line_marks, (std::vector<LineMark>{{4, 5, added}}));
}

TEST(CarryWatchMarks, DeletionMarksOnOneLineAddUpAndTheEndStaysTheEnd) {
    // Old line b goes: the old mark on line 1 lands where b was, beside the new deletion; the
    // one on line 3 moves up a line; the one past the last line stays past the last line.
    const LineDiff diff = diff_lines(u"a\nb\nc\nd\ne", u"a\nc\nd\ne");
    ASSERT_EQ(diff.marks.deletion_marks, (std::vector<DeletionMark>{{1, 1}}));

    const ChangeMarks merged = carry_watch_marks(diff, {}, {{5, 4}, {3, 1}, {1, 2}});
    EXPECT_EQ(merged.deletion_marks, (std::vector<DeletionMark>{{1, 3}, {2, 1}, {4, 4}}));
}

TEST(CarryWatchMarks, ACoarseDiffPlacesNoMark) {
    LineDiff coarse;
    coarse.line_by_line = false;
    coarse.old_lines = 3;
    coarse.new_lines = 3;
    coarse.ranges = {{0, 3, 0, 3}};

    const ChangeMarks merged = carry_watch_marks(coarse, {{0, 1, added}}, {{1, 1}});
    EXPECT_TRUE(merged.line_marks.empty());
    EXPECT_TRUE(merged.deletion_marks.empty());
}

TEST(CarryWatchMarks, AMarkReachingPastTheOldTextStopsAtItsEnd) {
    const LineDiff diff = diff_lines(u"a\nb", u"a\nb\nc");

    const ChangeMarks merged = carry_watch_marks(diff, {{0, UINT64_MAX, changed}}, {});
    EXPECT_EQ(merged.line_marks, (std::vector<LineMark>{{0, 2, changed}, {2, 3, added}}));
}

} // namespace
} // namespace pellix
