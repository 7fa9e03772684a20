#include <gtest/gtest.h>

#include "core/source_document.h"
#include "tracking/line_diff.h"
#include "tracking/watch_positions.h"

#include <string>

namespace pellix {
namespace {

// The position `old_position` of `old_text` carried into `new_text`.
std::uint64_t carried(const std::u16string& old_text, const std::u16string& new_text,
                      std::uint64_t old_position) {
    SourceDocument before;
    before.assign(old_text);
    SourceDocument after;
    after.assign(new_text);
    return carry_watch_position(before, after, diff_lines(old_text, new_text), old_position);
}

TEST(WatchPositions, AColumnIsKeptAndCutToTheMappedLine) {
    // Column 10 of a line the update shortens to 4 units ends at its column 4.
    EXPECT_EQ(carried(u"first\n0123456789abc\nlast", u"first\nwxyz\nlast", 6 + 10), 6u + 4u);
    // A line inserted above moves the caret down by one line, at the same column.
    EXPECT_EQ(carried(u"a\nbcd\ne", u"new\na\nbcd\ne", 2 + 2), 4u + 2u + 2u);
}

TEST(WatchPositions, ReplacedAndDeletedBlocks) {
    // A line of a replaced block lands on the same line of the block that replaced it, or on
    // its last line when that block is shorter.
    const std::u16string old_text = u"keep\nx1\nx2\nx3\ntail";
    EXPECT_EQ(carried(old_text, u"keep\ny1\ny2\ny3\ntail", 8 + 1), 8u + 1u);
    EXPECT_EQ(carried(old_text, u"keep\nyy\ntail", 11 + 1), 5u + 1u);
    // A caret on a deleted line moves to the line after the deleted block.
    EXPECT_EQ(carried(u"a\ngone\nb\n", u"a\nb\n", 2 + 3), 2u + 1u);
}

TEST(WatchPositions, TheLastLineRunsToTheEndOfTheText) {
    // No LF after the last line: its length is measured to the end of the text.
    EXPECT_EQ(carried(u"one\ntwo three", u"one\ntwo three!", 4 + 9), 4u + 9u);
    EXPECT_EQ(carried(u"one\ntwo three", u"one\ntwo", 4 + 9), 4u + 3u);
    EXPECT_EQ(carried(u"abc", u"", 2), 0u);
}

} // namespace
} // namespace pellix
