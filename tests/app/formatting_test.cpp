#include "tests/app/editing_window.h"

#include <stdexcept>

#include "app/formatting.h"
#include "core/limits.h"

namespace pellix {
namespace {

using Formatting = test::EditingWindow;

struct Expected {
    unsigned id;
    std::u16string text;
    LONG start;
    LONG end;
};

// Each command from a fresh text and selection: its text and selection, and one undo step that
// brings the text back.
void expect_commands(const std::u16string& original, LONG start, LONG end,
                     const std::vector<Expected>& cases) {
    for (const Expected& expected : cases) {
        Formatting::set_text(original);
        Formatting::select(start, end);
        format_command(expected.id);
        EXPECT_EQ(Formatting::text(), expected.text) << expected.id;
        const CHARRANGE range = Formatting::selection();
        EXPECT_EQ(range.cpMin, expected.start) << expected.id;
        EXPECT_EQ(range.cpMax, expected.end) << expected.id;
        EXPECT_TRUE(Formatting::undo()) << expected.id;
        EXPECT_EQ(Formatting::text(), original) << expected.id;
        EXPECT_FALSE(Formatting::can_undo()) << expected.id;
    }
}

TEST_F(Formatting, EachCommandOnAnEmptySelection) {
    expect_commands(u"one\ntwo\nthree", 4, 4,
                    {
                        {400, u"one\n**text**two\nthree", 6, 10},
                        {401, u"one\n*text*two\nthree", 5, 9},
                        {404, u"one\n`text`two\nthree", 5, 9},
                        {403, u"one\n[text](https://)two\nthree", 5, 9},
                        {402, u"one\n# two\nthree", 4, 9},
                        {406, u"one\n## two\nthree", 4, 10},
                        {410, u"one\n### two\nthree", 4, 11},
                        {407, u"one\n> two\nthree", 4, 9},
                        {405, u"one\n- two\nthree", 4, 9},
                        {408, u"one\n1. two\nthree", 4, 10},
                    });
}

TEST_F(Formatting, EachCommandOnASelectionOfSeveralLines) {
    // From inside "one" to the start of "three": that line is not prefixed.
    expect_commands(u"one\n\ntwo\nthree", 1, 9,
                    {
                        {400, u"o**ne\n\ntwo\n**three", 3, 11},
                        {401, u"o*ne\n\ntwo\n*three", 2, 10},
                        {404, u"o`ne\n\ntwo\n`three", 2, 10},
                        {403, u"o[ne\n\ntwo\n](https://)three", 2, 10},
                        {402, u"# one\n# \n# two\nthree", 0, 14},
                        {406, u"## one\n## \n## two\nthree", 0, 17},
                        {410, u"### one\n### \n### two\nthree", 0, 20},
                        {407, u"> one\n> \n> two\nthree", 0, 14},
                        {405, u"- one\n- \n- two\nthree", 0, 14},
                        {408, u"1. one\n1. \n1. two\nthree", 0, 17},
                    });
    // Markers are added again, not toggled.
    set_text(u"# one");
    select(2, 5);
    format_command(406);
    EXPECT_EQ(text(), u"## # one");
}

TEST_F(Formatting, CleanSourceTidiesProseAndLeavesCodeQuotesAndFrontMatterAlone) {
    const std::u16string messy = u"---\n"
                                 u"title: x   \n"
                                 u"\n\n\n\n"
                                 u"---\n"
                                 u"\n"
                                 u"Prose \t\n"
                                 u"hard break \t  \n"
                                 u" \t \n"
                                 u"        \n"
                                 u"\n\n\n\n"
                                 u"```\n"
                                 u"code  \n"
                                 u"   \n"
                                 u"\n\n\n\n"
                                 u"```\n"
                                 u"    indented  \n"
                                 u"> quoted  \t\n"
                                 u"~~~~\n"
                                 u"~~~ \n"
                                 u"still code \n"
                                 u"~~~~  \n"
                                 u"``` not a fence ` \n"
                                 u"end\t\n\n\n";
    const std::u16string clean = u"---\n"
                                 u"title: x   \n"
                                 u"\n\n\n\n"
                                 u"---\n"
                                 u"\n"
                                 u"Prose\n"
                                 u"hard break  \n"
                                 u"\n"
                                 u"\n"
                                 u"```\n"
                                 u"code  \n"
                                 u"   \n"
                                 u"\n\n\n\n"
                                 u"```\n"
                                 u"    indented  \n"
                                 u"> quoted  \t\n"
                                 u"~~~~\n"
                                 u"~~~ \n"
                                 u"still code \n"
                                 u"~~~~  \n"
                                 u"``` not a fence `\n"
                                 u"end\n";
    set_text(messy);
    select(2, static_cast<LONG>(messy.size()));
    format_command(409);
    EXPECT_EQ(text(), clean);
    const CHARRANGE range = selection();
    EXPECT_EQ(range.cpMin, 2);
    EXPECT_EQ(range.cpMax, static_cast<LONG>(clean.size())); // clamped to the new length
    EXPECT_TRUE(undo());
    EXPECT_EQ(text(), messy);

    // Clean text, and front matter that never closes, are left as they are with nothing to undo.
    for (const std::u16string& kept : {clean, std::u16string(u"+++\na = 1   \n\n\n\n\nb  \t\n")}) {
        set_text(kept);
        format_command(409);
        EXPECT_EQ(text(), kept);
        EXPECT_FALSE(can_undo());
    }

    // Leading blank lines go and the text ends in one line break.
    set_text(u"\n \n\t\nword");
    format_command(409);
    EXPECT_EQ(text(), u"word\n");
}

TEST_F(Formatting, CleanSourceRefusesToPassTheLimit) {
    const std::u16string full(document_limit, u'a');
    set_text(full);
    EXPECT_THROW(
        {
            try {
                format_command(409);
            } catch (const std::runtime_error& error) {
                EXPECT_STREQ(error.what(), "Cleaned source exceeds the editor size limit.");
                throw;
            }
        },
        std::runtime_error);
    EXPECT_EQ(text().size(), document_limit);
}

TEST_F(Formatting, EditsNextToASurrogatePairReplaceThePairWhole) {
    const std::u16string grinning = u"x\U0001F600y";
    const std::u16string beaming = u"x\U0001F601y";
    set_text(grinning);
    apply_text_edit(chrome.editor, beaming, grinning, {4, 4});
    EXPECT_EQ(text(), beaming);
    EXPECT_TRUE(undo());
    EXPECT_EQ(text(), grinning);

    // And the other way: the changed stretch ends just before a low surrogate.
    const std::u16string before = u"a\U0001F600";
    const std::u16string after = u"b\U0001F600";
    set_text(before);
    apply_text_edit(chrome.editor, after, before, {0, 0});
    EXPECT_EQ(text(), after);
}

TEST_F(Formatting, AWatchedTabOnlyBeeps) {
    set_text(u"word");
    current_tab().watch_state = 1;
    format_command(400);
    EXPECT_EQ(text(), u"word");
    current_tab().watch_state = 0;
}

} // namespace
} // namespace pellix
