#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "core/graphemes.h"

namespace pellix {
namespace {

std::vector<std::size_t> boundaries(std::u16string_view text) {
    std::vector<std::size_t> found;
    for (std::size_t at = 0; at <= text.size(); ++at) {
        if (is_grapheme_boundary(text, at)) {
            found.push_back(at);
        }
    }
    return found;
}

constexpr std::string_view unicode_break_tests =
#include "tests/core/grapheme_break_tests.inc"
    ;

std::u16string repeated(std::u16string_view part, std::size_t times) {
    std::u16string text;
    for (std::size_t k = 0; k < times; ++k) {
        text += part;
    }
    return text;
}

TEST(Graphemes, UnicodeBreakTestsPass) {
    std::istringstream lines{std::string(unicode_break_tests)};
    std::string line;
    int cases = 0;
    while (std::getline(lines, line)) {
        std::istringstream marks(line);
        std::u16string text;
        std::vector<std::size_t> expected;
        for (std::string mark; marks >> mark;) {
            if (mark == "\u00F7") {
                expected.push_back(text.size());
            } else if (mark != "\u00D7") {
                const auto c = static_cast<char32_t>(std::stoul(mark, nullptr, 16));
                text += c < 0x10000 ? std::u16string(1, static_cast<char16_t>(c))
                                    : std::u16string{static_cast<char16_t>(0xD7C0 + (c >> 10)),
                                                     static_cast<char16_t>(0xDC00 + (c & 0x3FF))};
            }
        }
        if (!text.empty()) {
            EXPECT_EQ(boundaries(text), expected) << line;
            ++cases;
        }
    }
    EXPECT_EQ(cases, 602);
}

TEST(Graphemes, WhatAReaderSeesAsOneCharacterStaysWhole) {
    using List = std::vector<std::size_t>;
    // e with two combining accents, then x.
    EXPECT_EQ(boundaries(u"e\u0301\u0302x"), (List{0, 3, 4}));
    // A surrogate pair with a skin-tone modifier (also a pair).
    EXPECT_EQ(boundaries(u"\U0001F44D\U0001F3FDa"), (List{0, 4, 5}));
    // Man, joiner, woman, joiner, girl: one family; a joiner after a letter joins nothing.
    EXPECT_EQ(boundaries(u"\U0001F468\u200D\U0001F469\u200D\U0001F467"), (List{0, 8}));
    EXPECT_EQ(boundaries(u"a\u200D\U0001F469"), (List{0, 2, 4}));
    // Three regional indicators: a flag, then one left over.
    EXPECT_EQ(boundaries(u"\U0001F1E9\U0001F1EA\U0001F1EB"), (List{0, 4, 6}));
    // A syllable spelt in jamo, a composed syllable with a trailing jamo, CR LF, a control.
    EXPECT_EQ(boundaries(u"\u1100\u1161\u11A8\uAC00\u11A8"), (List{0, 3, 5}));
    EXPECT_EQ(boundaries(u"a\r\n\tb"), (List{0, 1, 3, 4, 5}));
    // A Devanagari consonant with its spacing vowel sign; an Arabic sign that prepends.
    EXPECT_EQ(boundaries(u"\u0915\u093Fx"), (List{0, 2, 3}));
    EXPECT_EQ(boundaries(u"\u0600\u0628"), (List{0, 2}));
}

TEST(Graphemes, CutsFallOnBoundariesWithAtLeastOneCharacter) {
    const std::u16string text = u"ab\u0301\u0301c\U0001F600";
    EXPECT_EQ(grapheme_boundary_before(text, 3), 1u);
    EXPECT_EQ(grapheme_boundary_after(text, 1), 4u);
    EXPECT_EQ(grapheme_boundary_after(text, 5), 7u);
    EXPECT_EQ(grapheme_boundary_after(text, 7), 7u);
    EXPECT_EQ(grapheme_cut(text, 0, 3), 1u);
    // Nothing fits before `at`: the piece still takes one whole character.
    EXPECT_EQ(grapheme_cut(text, 1, 2), 4u);
    EXPECT_EQ(grapheme_cut(text, 5, 6), 7u);
    EXPECT_EQ(grapheme_cut(text, 0, 100), text.size());
}

constexpr std::u16string_view flag = u"\U0001F1E9\U0001F1EA";
constexpr std::u16string_view woman = u"\U0001F469";

// Runs as long as the bound are still what Unicode says: flags pair up from the first of their
// run, and an emoji after a joiner joins the one before the marks.
TEST(Graphemes, RunsUpToTheBoundAnswerAsUnicodeSays) {
    const std::u16string flags = repeated(flag, grapheme_run_units / flag.size());
    for (std::size_t at = 0; at <= flags.size(); ++at) {
        ASSERT_EQ(is_grapheme_boundary(flags, at), at % flag.size() == 0) << at;
    }
    const std::u16string marked_joined = std::u16string(woman) +
                                         std::u16string(grapheme_run_units, u'\u0301') + u"\u200D" +
                                         std::u16string(woman);
    EXPECT_EQ(boundaries(marked_joined), (std::vector<std::size_t>{0, marked_joined.size()}));
}

// What the callers rely on: a window with the context around a position answers as the whole
// text, within the bound and past it, and past it every answer lies between code points.
TEST(Graphemes, AWindowWithTheContextAnswersAsTheWholeText) {
    const std::u16string texts[] = {
        std::u16string(u"x") + repeated(flag, 200) + u"y",
        std::u16string(woman) + std::u16string(600, u'\u0301') + u"\u200D" +
            repeated(std::u16string(woman) + u"\u0301\u200D", 100) + u"z",
        u"a" + std::u16string(700, u'\u0308') + repeated(u"\u1100\u1161", 300),
    };
    for (const std::u16string& text : texts) {
        for (std::size_t at = 0; at <= text.size(); ++at) {
            const std::size_t from = at - std::min(at, grapheme_context_units);
            const std::u16string_view window =
                std::u16string_view(text).substr(from, at - from + grapheme_context_units);
            ASSERT_EQ(is_grapheme_boundary(window, at - from), is_grapheme_boundary(text, at))
                << at;
            ASSERT_EQ(grapheme_boundary_before(window, at - from) + from,
                      grapheme_boundary_before(text, at))
                << at;
            ASSERT_EQ(grapheme_boundary_after(window, at - from) + from,
                      grapheme_boundary_after(text, at))
                << at;
            if (at > 0 && at < text.size() && text[at] >= 0xDC00 && text[at] <= 0xDFFF) {
                ASSERT_FALSE(is_grapheme_boundary(text, at)) << at;
            }
        }
    }
}

// Ten thousand flags after a letter, cut as the editor cuts a line: every piece ends between
// two whole flags.
TEST(Graphemes, PiecesCutOneAfterAnotherKeepEveryFlagOfAnEndlessRunWhole) {
    const std::u16string text = std::u16string(u"x") + repeated(flag, 10000);
    constexpr std::size_t piece_units = 4096;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = grapheme_cut(text, start, start + piece_units);
        ASSERT_GT(end, start);
        ASSERT_EQ(end % flag.size(), 1u) << start;
        start = end;
    }
    // Also when each piece may hold only one character.
    EXPECT_EQ(grapheme_cut(text, 4097, 4098), 4101u);
}

// Marks or joined emoji by the ten thousand are no character: a cut stays near where it was
// asked for, between code points, so no piece outgrows the bound its caller keeps.
TEST(Graphemes, AnEndlessCharacterIsCutNearTheBound) {
    const std::u16string marked = u"a" + std::u16string(100000, u'\u0301');
    std::u16string joined = u"\U0001F468";
    while (joined.size() < 100000) {
        joined += u"\u200D\U0001F468";
    }
    for (const std::u16string& text : {marked, joined}) {
        const std::size_t cut = grapheme_cut(text, 0, 4096);
        EXPECT_GT(cut, 0u);
        EXPECT_LE(cut, 4096u + 512u);
        EXPECT_FALSE(text[cut] >= 0xDC00 && text[cut] <= 0xDFFF) << cut;
        const std::size_t before = grapheme_boundary_before(text, 50000);
        EXPECT_LE(before, 50000u);
        EXPECT_GE(before, 50000u - 512u);
    }
}

} // namespace
} // namespace pellix
