#include "tracking/change_marker_texts.h"

#include <gtest/gtest.h>

#include <string>

namespace pellix {
namespace {

std::u16string lines_named(char16_t letter, int count) {
    std::u16string text;
    for (int i = 0; i < count; ++i) {
        text += letter;
        text += static_cast<char16_t>(u'0' + i);
        text += u'\n';
    }
    return text;
}

// The tooltip of a marker after comparing `text` with `baseline`.
std::u16string tooltip(const std::u16string& baseline, const std::u16string& text,
                       std::uint64_t line, bool deletion) {
    const CompareBaseline base{baseline};
    return change_marker_text(&base, false, diff_lines(baseline, text), line, deletion);
}

TEST(ChangeMarkerText, ChangedLinesShowTheBaselineAndSurplusLinesSayAdded) {
    const std::u16string baseline = u"a\nB1\nB2\nz";
    const std::u16string text = u"a\nN1\nN2\nN3\nz";
    EXPECT_EQ(tooltip(baseline, text, 1, false), u"Baseline:\nB1\nB2\n");
    EXPECT_EQ(tooltip(baseline, text, 2, false), u"Baseline:\nB1\nB2\n");
    EXPECT_EQ(tooltip(baseline, text, 3, false), u"Added; no baseline text");
    EXPECT_EQ(tooltip(baseline, text, 4, false), u"");
}

TEST(ChangeMarkerText, ADeletionMarkListsOnlyTheRemovedSurplus) {
    const std::u16string baseline = u"x\nb1\nb2\nb3\nb4\ny";
    const std::u16string text = u"x\nn1\nn2\ny";
    EXPECT_EQ(tooltip(baseline, text, 3, true), u"Removed from baseline:\nb3\nb4\n");
    EXPECT_EQ(tooltip(baseline, text, 1, true), u"");
}

TEST(ChangeMarkerText, ShowsFiveLinesAndCountsTheRest) {
    const std::u16string baseline = u"top\n" + lines_named(u'b', 8) + u"end";
    const std::u16string text = u"top\nnew\nend";
    EXPECT_EQ(tooltip(baseline, text, 1, false), u"Baseline:\nb0\nb1\nb2\nb3\nb4\nand 3 more");
}

TEST(ChangeMarkerText, CutsALongLineAtTheUnitLimitWithoutSplittingAPair) {
    const std::u16string heading = u"Baseline:\n";
    std::u16string long_line(3000, u'w');
    const std::u16string text = u"a\nchanged\nc";
    std::u16string shown = tooltip(u"a\n" + long_line + u"\nnext\nc", text, 1, false);
    EXPECT_EQ(shown, heading + long_line.substr(0, 0x800 - heading.size()) +
                         u"\n[text truncated]and 1 more");

    // A pair straddling the cut loses its high half too.
    const std::size_t cut = 0x800 - heading.size();
    long_line[cut - 1] = 0xD83D;
    long_line[cut] = 0xDE00;
    shown = tooltip(u"a\n" + long_line + u"\nc", text, 1, false);
    EXPECT_EQ(shown, heading + long_line.substr(0, cut - 1) + u"\n[text truncated]");
}

TEST(ChangeMarkerText, StatesBeforeTheRangesAreLookedAt) {
    const CompareBaseline base{u"a\nb"};
    const LineDiff diff = diff_lines(base.text, u"a\nc");
    EXPECT_EQ(change_marker_text(nullptr, false, diff, 1, false), u"");
    EXPECT_EQ(change_marker_text(&base, true, diff, 1, false), u"Comparison updating");

    LineDiff coarse = diff;
    coarse.line_by_line = false;
    EXPECT_EQ(change_marker_text(&base, false, coarse, 1, false),
              u"Too large to compare line by line");
}

TEST(ChangeMarkerText, AnEmptyBaselineHasNoTextBehindAnyLine) {
    EXPECT_EQ(tooltip(u"", u"new\nlines", 1, false), u"Added; no baseline text");
}

} // namespace
} // namespace pellix
