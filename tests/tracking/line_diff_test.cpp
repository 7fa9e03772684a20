#include "tracking/line_diff.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace pellix {
namespace {

std::u16string joined(const std::vector<std::u16string>& lines) {
    std::u16string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            text += u'\n';
        }
        text += lines[i];
    }
    return text;
}

std::vector<std::u16string> numbered(const std::u16string& prefix, int count) {
    std::vector<std::u16string> lines;
    for (int i = 0; i < count; ++i) {
        std::string digits = std::to_string(i);
        lines.push_back(prefix + std::u16string(digits.begin(), digits.end()));
    }
    return lines;
}

ChangeRange range(std::uint64_t ob, std::uint64_t oe, std::uint64_t nb, std::uint64_t ne) {
    return {ob, oe, nb, ne};
}

TEST(SplitLines, CutsAtEveryLineFeedAndKeepsCarriageReturns) {
    EXPECT_EQ(split_lines(u"").size(), 1u);
    auto lines = split_lines(u"a\r\n\nbc\n");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].view(), u"a\r");
    EXPECT_EQ(lines[1].view(), u"");
    EXPECT_EQ(lines[2].view(), u"bc");
    EXPECT_EQ(lines[3].view(), u"");
}

TEST(AppendChangeRange, DropsEmptyRangesAndMergesTouchingOnes) {
    LineDiff diff;
    append_change_range(diff, 3, 3, 4, 4);
    EXPECT_TRUE(diff.ranges.empty());
    append_change_range(diff, 1, 2, 1, 1);
    append_change_range(diff, 2, 2, 1, 3);
    ASSERT_EQ(diff.ranges.size(), 1u);
    EXPECT_EQ(diff.ranges[0], range(1, 2, 1, 3));
    // Touching on one side only is a separate range.
    append_change_range(diff, 2, 3, 4, 4);
    ASSERT_EQ(diff.ranges.size(), 2u);
    EXPECT_EQ(diff.ranges[1], range(2, 3, 4, 4));
}

TEST(DiffLines, EmptyOldTextMarksEverythingAdded) {
    LineDiff diff = diff_lines(u"", u"a");
    EXPECT_TRUE(diff.line_by_line);
    EXPECT_EQ(diff.old_lines, 1u);
    EXPECT_EQ(diff.new_lines, 1u);
    EXPECT_EQ(diff.ranges, std::vector<ChangeRange>{range(0, 1, 0, 1)});
    EXPECT_EQ(diff.marks.line_marks, std::vector<LineMark>({{0, 1, line_mark_added}}));
    EXPECT_TRUE(diff.marks.deletion_marks.empty());
}

TEST(DiffLines, EmptyNewTextMarksOnlyTheDeletion) {
    LineDiff diff = diff_lines(u"a\nb", u"");
    EXPECT_EQ(diff.ranges, std::vector<ChangeRange>{range(0, 2, 0, 1)});
    EXPECT_TRUE(diff.marks.line_marks.empty());
    EXPECT_EQ(diff.marks.deletion_marks, std::vector<DeletionMark>({{1, 2}}));
}

TEST(DiffLines, RemovedMiddleLineIsADeletionMark) {
    LineDiff diff = diff_lines(u"a\nb\nc", u"a\nc");
    EXPECT_EQ(diff.ranges, std::vector<ChangeRange>{range(1, 2, 1, 1)});
    EXPECT_TRUE(diff.marks.line_marks.empty());
    EXPECT_EQ(diff.marks.deletion_marks, std::vector<DeletionMark>({{1, 1}}));
}

TEST(DiffLines, TrailingLineFeedAddsAnEmptyLine) {
    LineDiff diff = diff_lines(u"a\nb", u"a\nb\n");
    EXPECT_EQ(diff.new_lines, 3u);
    EXPECT_EQ(diff.ranges, std::vector<ChangeRange>{range(2, 2, 2, 3)});
    EXPECT_EQ(diff.marks.line_marks, std::vector<LineMark>({{2, 3, line_mark_added}}));
}

TEST(DiffLines, CarriageReturnMakesALineDifferent) {
    LineDiff diff = diff_lines(u"x\r\ny", u"x\ny");
    EXPECT_EQ(diff.ranges, std::vector<ChangeRange>{range(0, 1, 0, 1)});
    EXPECT_EQ(diff.marks.line_marks, std::vector<LineMark>({{0, 1, line_mark_changed}}));
}

TEST(DiffLines, ChangedAndAddedLinesSplitByCount) {
    LineDiff diff = diff_lines(u"a\nb\nz", u"a\nB\nC\nD\nz");
    EXPECT_EQ(diff.ranges, std::vector<ChangeRange>{range(1, 2, 1, 4)});
    EXPECT_EQ(diff.marks.line_marks,
              std::vector<LineMark>({{1, 2, line_mark_changed}, {2, 4, line_mark_added}}));
    diff = diff_lines(u"a\nb\nc\nd\nz", u"a\nB\nz");
    EXPECT_EQ(diff.marks.line_marks, std::vector<LineMark>({{1, 2, line_mark_changed}}));
    EXPECT_EQ(diff.marks.deletion_marks, std::vector<DeletionMark>({{2, 2}}));
}

TEST(DiffLines, SwappedUniqueLinesKeepOneAnchor) {
    LineDiff diff = diff_lines(u"A\nB", u"B\nA");
    EXPECT_TRUE(diff.line_by_line);
    EXPECT_EQ(diff.ranges, std::vector<ChangeRange>({range(0, 1, 0, 0), range(2, 2, 1, 2)}));
    EXPECT_EQ(diff.marks.deletion_marks, std::vector<DeletionMark>({{0, 1}}));
    EXPECT_EQ(diff.marks.line_marks, std::vector<LineMark>({{1, 2, line_mark_added}}));
}

TEST(DiffLines, RepeatedLinesAreMatchedInsideTheGapTable) {
    // The blank lines are never anchors; the table still keeps them unchanged.
    LineDiff diff = diff_lines(u"x\nA\n\n\nB\ny", u"x\nC\n\n\nD\ny");
    EXPECT_TRUE(diff.line_by_line);
    EXPECT_EQ(diff.ranges, std::vector<ChangeRange>({range(1, 2, 1, 2), range(4, 5, 4, 5)}));
}

TEST(DiffLines, EqualTextsReturnNoChangeEvenPastTheLineLimit) {
    std::u16string text(10000, u'\n');
    LineDiff diff = diff_lines(text, text);
    EXPECT_TRUE(diff.line_by_line);
    EXPECT_EQ(diff.old_lines, 10001u);
    EXPECT_TRUE(diff.ranges.empty());
}

TEST(DiffLines, LineLimitAtItsEdge) {
    std::u16string old_text(9999, u'\n');
    LineDiff diff = diff_lines(old_text, old_text + u"x");
    EXPECT_TRUE(diff.line_by_line);
    EXPECT_EQ(diff.ranges, std::vector<ChangeRange>{range(9999, 10000, 9999, 10000)});

    old_text += u'\n';
    diff = diff_lines(old_text, old_text + u"x");
    EXPECT_FALSE(diff.line_by_line);
    EXPECT_EQ(diff.old_lines, 10001u);
    EXPECT_EQ(diff.ranges, std::vector<ChangeRange>{range(10000, 10001, 10000, 10001)});
    EXPECT_TRUE(diff.marks.line_marks.empty());
}

std::u16string text_of_units(std::size_t units) {
    std::u16string text(units, u'a');
    for (std::size_t i = 63; i < units; i += 64) {
        text[i] = u'\n';
    }
    return text;
}

TEST(DiffLines, UnitLimitAtItsEdge) {
    std::u16string old_text = text_of_units(diff_unit_limit);
    std::u16string new_text = old_text;
    new_text[100] = u'b';
    LineDiff diff = diff_lines(old_text, new_text);
    EXPECT_TRUE(diff.line_by_line);
    EXPECT_EQ(diff.ranges, std::vector<ChangeRange>{range(1, 2, 1, 2)});

    old_text += u'a';
    new_text += u'a';
    diff = diff_lines(old_text, new_text);
    EXPECT_FALSE(diff.line_by_line);
    EXPECT_EQ(diff.old_lines, 2049u);
    EXPECT_EQ(diff.ranges, std::vector<ChangeRange>{range(1, 2, 1, 2)});
    EXPECT_TRUE(diff.marks.line_marks.empty());
}

TEST(DiffLines, CoarseUnitComparisonReportsEqualLongTextsAsUnchanged) {
    std::u16string text = text_of_units(diff_unit_limit + 1000);
    LineDiff diff = diff_lines(text, text);
    EXPECT_TRUE(diff.line_by_line);
    EXPECT_EQ(diff.old_lines, diff.new_lines);
    EXPECT_EQ(diff.old_lines, 2064u);
    EXPECT_TRUE(diff.ranges.empty());
    EXPECT_TRUE(diff.marks.line_marks.empty());
}

TEST(DiffLines, CoarseUnitComparisonOfAnAppendedTail) {
    std::u16string old_text = text_of_units(diff_unit_limit + 10);
    LineDiff diff = diff_lines(old_text, old_text + u"\nnew\nlines");
    EXPECT_FALSE(diff.line_by_line);
    EXPECT_EQ(diff.ranges, std::vector<ChangeRange>{range(2048, 2049, 2048, 2051)});
    // The shorter side exhausted: the common tail may not overlap the common head.
    diff = diff_lines(old_text + u"aa", old_text);
    EXPECT_EQ(diff.ranges, std::vector<ChangeRange>{range(2048, 2049, 2048, 2049)});
}

TEST(DiffLines, CoarseUnitComparisonOfAnInsertedLine) {
    std::u16string old_text = text_of_units(diff_unit_limit + 10);
    std::u16string new_text = old_text;
    new_text.insert(64 * 5, u"inserted\n");
    LineDiff diff = diff_lines(old_text, new_text);
    EXPECT_FALSE(diff.line_by_line);
    EXPECT_EQ(diff.new_lines, diff.old_lines + 1);
    EXPECT_EQ(diff.ranges, std::vector<ChangeRange>{range(5, 6, 5, 7)});
}

TEST(DiffLines, CoarseUnitRangeLeavesEqualLinesOutside) {
    std::mt19937 random(99);
    const std::u16string base = text_of_units(diff_unit_limit + 500);
    for (int round = 0; round < 40; ++round) {
        std::u16string old_text = base;
        std::u16string new_text = base;
        const std::size_t at = random() % base.size();
        const std::size_t cut = std::min<std::size_t>(random() % 200, base.size() - at);
        new_text.replace(at, cut, round % 2 ? u"x\ny" : u"");
        if (round % 5 == 0) {
            old_text[random() % old_text.size()] = u'\n';
        }
        const LineDiff diff = diff_lines(old_text, new_text);
        const auto old_split = split_lines(old_text);
        const auto new_split = split_lines(new_text);
        SCOPED_TRACE(round);
        ASSERT_EQ(diff.old_lines, old_split.size());
        ASSERT_EQ(diff.new_lines, new_split.size());
        if (old_text == new_text) {
            EXPECT_TRUE(diff.line_by_line);
            EXPECT_TRUE(diff.ranges.empty());
            continue;
        }
        ASSERT_FALSE(diff.line_by_line);
        ASSERT_EQ(diff.ranges.size(), 1u);
        const ChangeRange r = diff.ranges[0];
        ASSERT_EQ(r.old_begin, r.new_begin);
        for (std::uint64_t i = 0; i < r.old_begin; ++i) {
            ASSERT_EQ(old_split[i].view(), new_split[i].view());
        }
        ASSERT_EQ(diff.old_lines - r.old_end, diff.new_lines - r.new_end);
        for (std::uint64_t i = 0; i < diff.old_lines - r.old_end; ++i) {
            ASSERT_EQ(old_split[r.old_end + i].view(), new_split[r.new_end + i].view());
        }
    }
}

TEST(DiffLines, OneGapBudgetAtItsEdge) {
    // 1414 x 1414 cells fit the budget, 1415 x 1415 do not.
    LineDiff diff = diff_lines(joined(numbered(u"o", 1413)), joined(numbered(u"n", 1413)));
    EXPECT_TRUE(diff.line_by_line);
    EXPECT_EQ(diff.ranges, std::vector<ChangeRange>{range(0, 1413, 0, 1413)});
    EXPECT_EQ(diff.marks.line_marks, std::vector<LineMark>({{0, 1413, line_mark_changed}}));

    diff = diff_lines(u"same\n" + joined(numbered(u"o", 1414)) + u"\nend",
                      u"same\n" + joined(numbered(u"n", 1414)) + u"\nend");
    EXPECT_FALSE(diff.line_by_line);
    EXPECT_EQ(diff.ranges, std::vector<ChangeRange>{range(1, 1415, 1, 1415)});
    EXPECT_TRUE(diff.marks.line_marks.empty());
}

TEST(DiffLines, BudgetIsSharedByAllGaps) {
    // Two gaps split by a unique anchor; 999 x 999 lines each use exactly half the budget.
    auto two_gaps = [](int size) {
        return std::pair{
            joined(numbered(u"a", size)) + u"\nANCHOR\n" + joined(numbered(u"b", size)),
            joined(numbered(u"c", size)) + u"\nANCHOR\n" + joined(numbered(u"d", size))};
    };
    auto [old_fit, new_fit] = two_gaps(999);
    LineDiff diff = diff_lines(old_fit, new_fit);
    EXPECT_TRUE(diff.line_by_line);
    EXPECT_EQ(diff.ranges,
              std::vector<ChangeRange>({range(0, 999, 0, 999), range(1000, 1999, 1000, 1999)}));

    auto [old_over, new_over] = two_gaps(1000);
    diff = diff_lines(old_over, new_over);
    EXPECT_FALSE(diff.line_by_line);
    EXPECT_EQ(diff.ranges, std::vector<ChangeRange>{range(0, 2001, 0, 2001)});
}

TEST(MapLineThroughHunks, FollowsTheRangeAndClamps) {
    LineDiff diff;
    diff.old_lines = 3;
    diff.new_lines = 2;
    diff.ranges = {range(1, 2, 1, 1)};
    EXPECT_DOUBLE_EQ(map_line_through_hunks(diff, 0.5), 0.5);
    EXPECT_DOUBLE_EQ(map_line_through_hunks(diff, 1.5), 1.0);
    EXPECT_DOUBLE_EQ(map_line_through_hunks(diff, 2.5), 1.0);
    EXPECT_DOUBLE_EQ(map_line_through_hunks(diff, -4.0), 0.0);
    EXPECT_DOUBLE_EQ(map_line_through_hunks(diff, std::nan("")), 0.0);
    EXPECT_DOUBLE_EQ(map_line_through_hunks(diff, std::numeric_limits<double>::infinity()), 1.0);
}

TEST(MapLineThroughHunks, InsideAGrowingRangeStaysInItsNewLines) {
    LineDiff diff = diff_lines(u"a\nb\nc\nd", u"a\nX\nY\nZ\nc\nd");
    EXPECT_EQ(diff.ranges, std::vector<ChangeRange>{range(1, 2, 1, 4)});
    EXPECT_DOUBLE_EQ(map_line_through_hunks(diff, 1.25), 1.25);
    EXPECT_DOUBLE_EQ(map_line_through_hunks(diff, 2.5), 4.5);
    EXPECT_DOUBLE_EQ(map_line_through_hunks(diff, 99.0), 5.0);
}

// The markers follow from the ranges alone; rebuilt here independently.
ChangeMarks expected_marks(const LineDiff& diff, bool old_empty, bool new_empty) {
    ChangeMarks marks;
    for (const ChangeRange& r : diff.ranges) {
        std::uint64_t c_old = r.old_end - r.old_begin;
        std::uint64_t c_new = r.new_end - r.new_begin;
        if (old_empty) {
            if (!new_empty && c_new > 0) {
                marks.line_marks.push_back({r.new_begin, r.new_end, 0});
            }
            continue;
        }
        if (new_empty) {
            if (c_old > 0) {
                marks.deletion_marks.push_back({r.new_end, c_old});
            }
            continue;
        }
        std::uint64_t m = std::min(c_old, c_new);
        if (m > 0) {
            marks.line_marks.push_back({r.new_begin, r.new_begin + m, 1});
        }
        if (c_new > m) {
            marks.line_marks.push_back({r.new_begin + m, r.new_end, 0});
        }
        if (c_old > m) {
            marks.deletion_marks.push_back({r.new_end, c_old - m});
        }
    }
    return marks;
}

TEST(DiffLines, RandomEditsKeepEveryInvariant) {
    std::mt19937 random(20261207);
    const std::vector<std::u16string> vocabulary = {u"",     u"a",   u"b",     u"c",  u"dd",
                                                    u"e\r",  u"ff",  u"g g",   u"#",  u"- x",
                                                    u"uniq", u"end", u"start", u"z9", u"\t"};
    for (int round = 0; round < 1500; ++round) {
        std::vector<std::u16string> old_lines;
        const int count = static_cast<int>(random() % 60);
        const bool unique_heavy = round % 2 == 0;
        for (int i = 0; i < count; ++i) {
            if (unique_heavy && random() % 3 != 0) {
                const std::string n = std::to_string(i);
                std::u16string line = u"u";
                line.append(n.begin(), n.end());
                old_lines.push_back(line);
            } else {
                old_lines.push_back(vocabulary[random() % vocabulary.size()]);
            }
        }
        std::vector<std::u16string> new_lines = old_lines;
        const int edits = static_cast<int>(random() % 8);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = new_lines.empty() ? 0 : random() % (new_lines.size() + 1);
            switch (random() % 4) {
            case 0:
                new_lines.insert(new_lines.begin() + at, vocabulary[random() % vocabulary.size()]);
                break;
            case 1:
                if (at < new_lines.size()) {
                    new_lines.erase(new_lines.begin() + at);
                }
                break;
            case 2:
                if (at < new_lines.size()) {
                    new_lines[at] = vocabulary[random() % vocabulary.size()];
                }
                break;
            default:
                if (at + 1 < new_lines.size()) {
                    std::swap(new_lines[at], new_lines[at + 1]);
                }
                break;
            }
        }
        const std::u16string old_text = count == 0 ? u"" : joined(old_lines);
        const std::u16string new_text = new_lines.empty() ? u"" : joined(new_lines);
        const auto old_split = split_lines(old_text);
        const auto new_split = split_lines(new_text);
        const LineDiff diff = diff_lines(old_text, new_text);
        SCOPED_TRACE(round);
        ASSERT_TRUE(diff.line_by_line);
        ASSERT_EQ(diff.old_lines, old_split.size());
        ASSERT_EQ(diff.new_lines, new_split.size());

        std::uint64_t old_at = 0;
        std::uint64_t new_at = 0;
        for (std::size_t k = 0; k < diff.ranges.size(); ++k) {
            const ChangeRange& r = diff.ranges[k];
            ASSERT_LE(r.old_begin, r.old_end);
            ASSERT_LE(r.new_begin, r.new_end);
            ASSERT_TRUE(r.old_begin < r.old_end || r.new_begin < r.new_end);
            ASSERT_GE(r.old_begin, old_at);
            ASSERT_GE(r.new_begin, new_at);
            if (k > 0) {
                ASSERT_FALSE(r.old_begin == old_at && r.new_begin == new_at) << "adjacent";
            }
            // The unchanged stretch before this range pairs lines one to one.
            ASSERT_EQ(r.old_begin - old_at, r.new_begin - new_at);
            for (std::uint64_t i = 0; i < r.old_begin - old_at; ++i) {
                ASSERT_EQ(old_split[old_at + i].view(), new_split[new_at + i].view());
            }
            old_at = r.old_end;
            new_at = r.new_end;
        }
        ASSERT_LE(old_at, diff.old_lines);
        ASSERT_EQ(diff.old_lines - old_at, diff.new_lines - new_at);
        for (std::uint64_t i = 0; i < diff.old_lines - old_at; ++i) {
            ASSERT_EQ(old_split[old_at + i].view(), new_split[new_at + i].view());
        }
        ASSERT_EQ(diff.marks, expected_marks(diff, old_text.empty(), new_text.empty()));
        ASSERT_EQ(diff.ranges.empty(), old_text == new_text);
    }
}

} // namespace
} // namespace pellix
