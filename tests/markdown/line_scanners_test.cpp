#include "markdown/line_scanners.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pellix {
namespace {

using Cells = std::vector<std::string>;
using Codes = std::vector<std::uint32_t>;

constexpr std::uint16_t backtick = '`';
constexpr std::uint16_t tilde = '~';

TEST(TrimBlanks, RemovesOnlySpacesAndTabs) {
    EXPECT_EQ(trim_blanks(" \t a b \t "), "a b");
    EXPECT_EQ(trim_blanks("   "), "");
    EXPECT_EQ(trim_blanks(""), "");
    EXPECT_EQ(trim_blanks("\ra\f"), "\ra\f");
    EXPECT_EQ(trim_blanks(" \r "), "\r");
    EXPECT_EQ(trim_blanks_view("\t x\t"), "x");
}

TEST(ScanListMarker, RecognisesItems) {
    struct Case {
        std::string line;
        ListMarker expected;
    };
    const std::vector<Case> cases = {
        {"- ", {2, 0, 1, false}},     {"- a", {2, 0, 1, false}},
        {"+ a", {2, 0, 1, false}},    {"* a", {2, 0, 1, false}},
        {"\t* x", {3, 4, 1, false}},  {"  -   x", {6, 2, 1, false}},
        {" \t- x", {4, 5, 1, false}}, {"123456789. text", {11, 0, 123456789, true}},
        {"007. x", {5, 0, 7, true}},  {"3) x", {3, 0, 3, true}},
        {"1.\tx", {3, 0, 1, true}},   {"1. ", {3, 0, 1, true}},
        {"0. x", {3, 0, 0, true}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(scan_list_marker(c.line), c.expected) << c.line;
    }
}

TEST(ScanListMarker, RejectsNonItems) {
    const ListMarker none{0, 0, 1, false};
    for (const std::string line : {"", "   ", "\t", "-", "1.", "  -", "1234567890. x", "1.a", "-a",
                                   "a. x", "1 x", "12", "# x", "\xE2\x80\xA2 x", "1:. x"}) {
        EXPECT_EQ(scan_list_marker(line), none) << line;
        EXPECT_FALSE(scan_list_marker(line).is_item()) << line;
    }
}

TEST(SplitTableRow, CellsEscapesAndCodeSpans) {
    struct Case {
        std::string line;
        Cells expected;
    };
    const std::vector<Case> cases = {
        {"", {""}},
        {"   ", {""}},
        {"|", {}},
        {"||", {""}},
        {"a | b", {"a", "b"}},
        {"| a | b |", {"a", "b"}},
        {"  | a |b|  ", {"a", "b"}},
        {"| a \\| b |", {"a \\| b"}},
        {"a | `x|y` | c", {"a", "`x|y`", "c"}},
        {"a | b|", {"a", "b"}},
        {"a | b | |", {"a", "b", ""}},
        {"a | `b |", {"a", "`b |"}},
        {"a | \\`b | c", {"a", "\\`b", "c"}},
        {"a\\", {"a\\"}},
        {"|a||b|", {"a", "", "b"}},
        {"a |  ", {"a"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(split_table_row(c.line), c.expected) << c.line;
    }
}

TEST(ParseTableAlignments, DelimiterRows) {
    EXPECT_EQ(parse_table_alignments("| :--- | :---: | ---: | --- |"), (Codes{0, 1, 2, 0}));
    EXPECT_EQ(parse_table_alignments("---|---"), (Codes{0, 0}));
    EXPECT_EQ(parse_table_alignments(":-----:"), (Codes{1}));
    EXPECT_EQ(parse_table_alignments("--- | :---:"), (Codes{0, 1}));
    for (const std::string line : {"--", ": --- :", ":", ":-:", "--- | -a-", "", "|", "| --- | |",
                                   "- - -", "---:|--x", "::---"}) {
        EXPECT_TRUE(parse_table_alignments(line).empty()) << line;
    }
}

TEST(NextFenceState, OpensAndCloses) {
    const FenceState outside{};
    EXPECT_EQ(next_fence_state("```cpp", outside), (FenceState{backtick, 3}));
    EXPECT_EQ(next_fence_state("   ~~~~", outside), (FenceState{tilde, 4}));
    EXPECT_EQ(next_fence_state("```a`b", outside), outside);
    EXPECT_EQ(next_fence_state("~~~a`b", outside), (FenceState{tilde, 3}));
    EXPECT_EQ(next_fence_state("    ```", outside), outside);
    EXPECT_EQ(next_fence_state("\t```", outside), outside);
    EXPECT_EQ(next_fence_state("``", outside), outside);
    EXPECT_EQ(next_fence_state("", outside), outside);
    EXPECT_EQ(next_fence_state("   ", outside), outside);
    EXPECT_EQ(next_fence_state("abc", outside), outside);

    const FenceState four{backtick, 4};
    EXPECT_EQ(next_fence_state("```", four), four);
    EXPECT_EQ(next_fence_state("`````", four), outside);
    EXPECT_EQ(next_fence_state("~~~~", four), four);
    EXPECT_EQ(next_fence_state("````a", four), four);
    EXPECT_EQ(next_fence_state("```` \r", four), outside);
    EXPECT_EQ(next_fence_state("  ````\t", four), outside);
    EXPECT_EQ(next_fence_state("", four), four);
    EXPECT_EQ(next_fence_state("text", four), four);
}

TEST(NextFenceState, InsideOnlyWithMarkerAndLongRun) {
    EXPECT_FALSE((FenceState{}).inside());
    EXPECT_FALSE((FenceState{backtick, 2}).inside());
    EXPECT_FALSE((FenceState{0, 5}).inside());
    EXPECT_TRUE((FenceState{tilde, 3}).inside());
}

TEST(ParseAtxHeading, LevelsAndText) {
    struct Case {
        std::string line;
        AtxHeading expected;
    };
    const std::vector<Case> cases = {
        {"###### word", {6, "word"}},
        {"#\tword", {1, "word"}},
        {"## a ## ", {2, "a ## "}},
        {"# ", {1, ""}},
        {"###   \t", {3, ""}},
        {" # a", {0, ""}},
        {"#a", {0, ""}},
        {"####### a", {0, ""}},
        {"###", {0, ""}},
        {"", {0, ""}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parse_atx_heading(c.line), c.expected) << c.line;
    }
}

TEST(SourceLineAttribute, Decimal) {
    EXPECT_EQ(source_line_attribute(0), " data-source-line=\"0\"");
    EXPECT_EQ(source_line_attribute(1234), " data-source-line=\"1234\"");
    EXPECT_EQ(source_line_attribute(18446744073709551615ull),
              " data-source-line=\"18446744073709551615\"");
}

TEST(SchemePrefix, Utf8AndUtf16Agree) {
    struct Case {
        std::string text;
        std::uint64_t pos;
        std::uint64_t expected;
    };
    const std::vector<Case> cases = {
        {"HTTPS://x", 0, 8}, {"MailTo:a", 0, 7}, {"http:/", 0, 0},     {"https:/", 0, 0},
        {"x http://", 2, 7}, {"https://", 0, 8}, {"mailto:", 0, 7},    {"https://", 8, 0},
        {"https://", 99, 0}, {"ftp://x", 0, 0},  {"http:\\\\x", 0, 0}, {"hTtP://", 0, 7},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(autolink_prefix_length(c.text, c.pos), c.expected) << c.text;
        const std::u16string wide(c.text.begin(), c.text.end());
        EXPECT_EQ(url_scheme_length(wide, c.pos), c.expected) << c.text;
    }
    // Only ASCII letters fold: a fullwidth letter or a byte that lowers to nothing matches none.
    EXPECT_EQ(url_scheme_length(u"\xFF48ttp://x", 0), 0u);
    EXPECT_EQ(url_scheme_length(u"\x0168ttp://x", 0), 0u);
}

} // namespace
} // namespace pellix
