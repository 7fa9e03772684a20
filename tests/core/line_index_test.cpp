#include "core/line_index.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

namespace pellix {
namespace {

using u64 = std::uint64_t;
using Starts = std::vector<u64>;
using Lines = std::vector<std::uint32_t>;

TEST(LineIndexTest, LineStarts) {
    EXPECT_EQ(line_starts(u""), (Starts{0}));
    EXPECT_EQ(line_starts(u"a\n"), (Starts{0, 2}));
    EXPECT_EQ(line_starts(u"\n\n"), (Starts{0, 1, 2}));
    EXPECT_EQ(line_starts(u"ab\ncd"), (Starts{0, 3}));
}

TEST(LineIndexTest, SeparatorsAreExactlyWhiteSpace) {
    const std::set<u64> expected = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                                    0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                    0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                                    0x2029, 0x202F, 0x205F, 0x3000};
    for (u64 unit = 0; unit <= 0xFFFF; ++unit) {
        EXPECT_EQ(is_word_separator(static_cast<char16_t>(unit)), expected.count(unit) == 1)
            << std::hex << unit;
    }
}

// What the cache should hold for a text, counted from scratch independently of the incremental
// tables.
struct Counted {
    std::u16string previous_text;
    Lines line_starts;
    u64 total = 0;
    Lines line_words;
};

Counted count_from_scratch(const std::u16string& text) {
    Counted fresh;
    fresh.previous_text = text;
    fresh.line_starts = {0};
    fresh.line_words = {0};
    bool in_word = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\n') {
            fresh.line_starts.push_back(i + 1);
            fresh.line_words.push_back(0);
            in_word = false;
        } else if (is_word_separator(text[i])) {
            in_word = false;
        } else if (!in_word) {
            in_word = true;
            ++fresh.line_words.back();
            ++fresh.total;
        }
    }
    return fresh;
}

void expect_same(const WordCountCache& cache, const Counted& want) {
    EXPECT_EQ(cache.total, want.total);
    EXPECT_EQ(cache.line_starts, want.line_starts);
    EXPECT_EQ(cache.line_words, want.line_words);
    EXPECT_EQ(cache.previous_text.text(), want.previous_text);
}

TEST(LineIndexTest, WordCountBasics) {
    WordCountCache cache;
    update_word_count(cache, u"two words");
    EXPECT_EQ(cache.total, 2u);
    update_word_count(cache, u"ab c\n");
    EXPECT_EQ(cache.line_starts, (Lines{0, 5}));
    EXPECT_EQ(cache.line_words, (Lines{2, 0}));
    EXPECT_EQ(cache.total, 2u);

    // Non-breaking, ideographic and tab separate; a zero width space does not.
    update_word_count(cache, u"a\u00A0b\u3000c\td\u200Be");
    EXPECT_EQ(cache.total, 4u);

    update_word_count(cache, u"one two three");
    update_word_count(cache, u"one twothree");
    EXPECT_EQ(cache.total, 2u);

    const SourceDocument::Node* counted = cache.previous_text.root.get();
    update_word_count(cache, u"one twothree");
    expect_same(cache, count_from_scratch(u"one twothree"));
    EXPECT_EQ(cache.previous_text.root.get(), counted);

    update_word_count(cache, u"");
    expect_same(cache, count_from_scratch(u""));
}

TEST(LineIndexTest, WordCountEdgesOfLines) {
    WordCountCache cache;
    const std::vector<std::u16string> steps = {
        u"ab\ncd",  u"ab\n\ncd", u"ab\ncd\n", u"\nab\ncd\n", u"x\n",    u"x\n\n", u"\n",
        u"a\nb\nc", u"a\nc",     u"a c",      u"a\n\n\nc",   u"\n\n\n", u"w",     u"",
    };
    for (const auto& text : steps) {
        update_word_count(cache, text);
        expect_same(cache, count_from_scratch(text));
    }
}

TEST(LineIndexTest, WordCountFollowsRandomEdits) {
    std::mt19937 rng(42);
    auto pick = [&](size_t below) {
        return std::uniform_int_distribution<size_t>(0, below - 1)(rng);
    };
    static const char16_t atoms[] = {u'a', u'b', u' ', u'\n', u'\t', 0x3000, 0x200B, 0xD83D};
    WordCountCache cache;
    std::u16string text;
    for (int step = 0; step < 20000; ++step) {
        size_t at = pick(text.size() + 1);
        size_t removed = std::min(text.size() - at, pick(4) == 0 ? pick(30) : pick(3));
        std::u16string inserted;
        for (size_t n = pick(4) == 0 ? pick(30) : pick(3); n > 0; --n) {
            inserted += atoms[pick(std::size(atoms))];
        }
        if (text.size() > 3000) {
            inserted.clear();
        }
        text.replace(at, removed, inserted);
        update_word_count(cache, text);
        Counted want = count_from_scratch(text);
        ASSERT_EQ(cache.total, want.total) << "step " << step;
        ASSERT_EQ(cache.line_starts, want.line_starts) << "step " << step;
        ASSERT_EQ(cache.line_words, want.line_words) << "step " << step;
        ASSERT_EQ(Starts(cache.line_starts.begin(), cache.line_starts.end()), line_starts(text));
    }
}

// Runs of ASCII are counted several units at a time; every ASCII unit, at every place in such a
// run, must split words exactly as the white-space set says.
TEST(LineIndexTest, EveryAsciiUnitCountsAsItsSeparatorRuleSays) {
    for (char16_t unit = 1; unit < 0x80; ++unit) {
        for (std::size_t at = 0; at < 17; ++at) {
            std::u16string text(24, u'w');
            text[at] = unit;
            text[at + 3] = unit;
            WordCountCache cache;
            update_word_count(cache, text);
            const Counted want = count_from_scratch(text);
            ASSERT_EQ(cache.total, want.total)
                << std::hex << static_cast<int>(unit) << " at " << at;
            ASSERT_EQ(cache.line_words, want.line_words)
                << std::hex << static_cast<int>(unit) << " at " << at;
        }
    }
}

// The editor's way: successive states of one document that share their unchanged pieces, with
// edits that keep the length, undo back to the counted text, and a whole new text.
TEST(LineIndexTest, WordCountFollowsStatesOfOneDocument) {
    std::mt19937 rng(5);
    auto pick = [&](size_t below) {
        return std::uniform_int_distribution<size_t>(0, below - 1)(rng);
    };
    static const char16_t atoms[] = {u'a', u'b', u' ', u'\n', u'\t', 0x3000};
    auto random_text = [&](size_t units) {
        std::u16string text;
        while (text.size() < units) {
            text += atoms[pick(std::size(atoms))];
        }
        return text;
    };
    SourceDocument document;
    document.assign(random_text(20000));
    WordCountCache cache;
    for (int step = 0; step < 3000; ++step) {
        const size_t kind = pick(10);
        if (kind == 0) {
            document.undo();
        } else if (kind == 1) {
            document.redo();
        } else if (kind == 2 && step % 500 == 0) {
            document.assign(random_text(20000 + pick(100)));
        } else {
            const size_t at = pick(document.length() + 1);
            const size_t removed = std::min(document.length() - at, pick(4));
            // Half the edits replace units by as many others.
            const size_t inserted = pick(2) == 0 ? removed : pick(4);
            document.replace(at, at + removed, random_text(inserted), false);
        }
        update_word_count(cache, document);
        const Counted want = count_from_scratch(document.text());
        ASSERT_EQ(cache.total, want.total) << "step " << step;
        ASSERT_EQ(cache.line_starts, want.line_starts) << "step " << step;
        ASSERT_EQ(cache.line_words, want.line_words) << "step " << step;
    }
}

} // namespace
} // namespace pellix
