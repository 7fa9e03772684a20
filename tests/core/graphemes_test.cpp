#include <gtest/gtest.h>

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
