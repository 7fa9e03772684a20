#include "markdown/outline.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pellix {
namespace {

std::vector<TaskEntry> tasks_of(const std::string& source) {
    return extract_tasks(source, export_item_limit);
}

TaskEntry only_task(const std::string& source) {
    std::vector<TaskEntry> tasks = tasks_of(source);
    EXPECT_EQ(tasks.size(), 1u) << source;
    return tasks.empty() ? TaskEntry{} : tasks[0];
}

bool hard_break(const std::string& source) {
    return only_task(source).hardBreak;
}

std::string repeat(const std::string& text, int count) {
    std::string out;
    out.reserve(text.size() * count);
    for (int i = 0; i < count; ++i)
        out += text;
    return out;
}

std::string message_of(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(no error)";
}

TEST(ExtractTasksTest, TaskBoxes) {
    EXPECT_EQ(only_task("- [ ] two words  \t"), (TaskEntry{"two words", 0, 0, -1, false, false}));
    EXPECT_EQ(only_task("* [X]"), (TaskEntry{"", 0, 0, -1, true, false}));
    EXPECT_EQ(only_task("+ [x]\tlower"), (TaskEntry{"lower", 0, 0, -1, true, false}));
    EXPECT_EQ(only_task("\t  12) [ ] ordered"), (TaskEntry{"ordered", 0, 6, -1, false, false}));
    EXPECT_EQ(only_task("3. [x] full stop"), (TaskEntry{"full stop", 0, 0, -1, true, false}));
    EXPECT_TRUE(tasks_of("- [ ]x").empty());
    EXPECT_TRUE(tasks_of("- [y] no").empty());
    EXPECT_TRUE(tasks_of("- [] no").empty());
    EXPECT_TRUE(tasks_of("- [ no").empty());
    EXPECT_TRUE(tasks_of("[ ] not an item").empty());
    EXPECT_TRUE(tasks_of("-[ ] no blank").empty());
}

TEST(ExtractTasksTest, LinesFencesAndHeadings) {
    std::string source = "- [ ] a\r\n"
                         "# One\n"
                         "```\n"
                         "- [ ] fenced\n"
                         "# fenced heading\n"
                         "```\n"
                         "- [x] b\n"
                         "####### seven\n"
                         "#word\n"
                         "- [ ] c\n"
                         "# \n"
                         "~~~~\n"
                         "~~~\n"
                         "- [ ] still fenced\n"
                         "~~~~~\n"
                         "- [ ] d";
    std::vector<TaskEntry> tasks = tasks_of(source);
    ASSERT_EQ(tasks.size(), 4u);
    EXPECT_EQ(tasks[0], (TaskEntry{"a", 0, 0, -1, false, false}));
    EXPECT_EQ(tasks[1], (TaskEntry{"b", 6, 0, 0, true, false}));
    EXPECT_EQ(tasks[2], (TaskEntry{"c", 9, 0, 0, false, false}));
    EXPECT_EQ(tasks[3], (TaskEntry{"d", 15, 0, 1, false, false}));

    std::vector<HeadingEntry> headings = collect_headings(source, export_item_limit);
    EXPECT_EQ(headings, (std::vector<HeadingEntry>{{"One", 1, 1}, {"", 1, 10}}));
}

TEST(ExtractTasksTest, HardBreakNeedsAContinuationLine) {
    EXPECT_TRUE(hard_break("- [ ] a\\\n  b"));
    EXPECT_TRUE(hard_break("- [ ] a\\\\\\\n\tb"));
    EXPECT_TRUE(hard_break("  - [ ] a `x` \\\n   b"));
    EXPECT_TRUE(hard_break("- [ ] \\\n b"));
    EXPECT_FALSE(hard_break("- [ ] a\\\\\n  b"));                     // even backslashes
    EXPECT_FALSE(hard_break("- [ ] `a\\\n  b"));                      // inside an open code span
    EXPECT_FALSE(hard_break("- [ ] a\\"));                            // no next line
    EXPECT_FALSE(hard_break("- [ ] a\\\n   \t"));                     // blank next line
    EXPECT_FALSE(hard_break("- [ ] a\\\n  > q"));                     // quote
    EXPECT_FALSE(hard_break("- [ ] a\\\n# h"));                       // heading
    EXPECT_TRUE(hard_break("- [ ] a\\\n  ##\th"));                    // indented: no heading
    EXPECT_FALSE(hard_break("- [ ] a\\\n  ```"));                     // opens a fence
    EXPECT_FALSE(hard_break("- [ ] a\\\n  ***"));                     // thematic break
    EXPECT_FALSE(hard_break("- [ ] a\\\n  x | y\n  --- | ---"));      // table header
    EXPECT_TRUE(hard_break("- [ ] a\\\n  x | y\n  --- | --- | ---")); // cell counts differ
    EXPECT_FALSE(hard_break("- [ ] a\\\nb"));                         // not deeper
    EXPECT_FALSE(hard_break("  - [ ] a\\\n  b"));                     // not deeper than the marker
    std::vector<TaskEntry> tasks = tasks_of("- [ ] a\\\n  - [ ] b");  // next line is an item
    ASSERT_EQ(tasks.size(), 2u);
    EXPECT_FALSE(tasks[0].hardBreak);
    EXPECT_EQ(tasks[1].indent, 2u);
}

TEST(ExtractTasksTest, LimitsAndMessages) {
    std::string tasks = repeat("- [ ] t\n", 100000);
    EXPECT_EQ(tasks_of(tasks).size(), 100000u);
    EXPECT_EQ(message_of([&] { tasks_of(tasks + "- [x] one more"); }),
              "Too many tasks for export.");
    std::string headings = repeat("# h\n", 100000);
    EXPECT_EQ(collect_headings(headings, export_item_limit).size(), 100000u);
    EXPECT_EQ(message_of([&] { collect_headings(headings + "## h", export_item_limit); }),
              "Too many headings for export.");
    EXPECT_EQ(message_of([] { extract_tasks("- [ ] a\n- [ ] b", 1); }),
              "Too many tasks for export.");
    EXPECT_TRUE(extract_tasks("", 0).empty());
}

TEST(OutlineEntriesTest, IdsParentsAndOffsets) {
    std::string source = "\xF0\x9F\x98\x80 intro\n"
                         "# *Top*\n"
                         "## Setup\n"
                         "### Deep\n"
                         "## Setup\n"
                         "#### `x`_y_[z]\n"
                         "```\n"
                         "# fenced\n"
                         "```\n"
                         "### Deep";
    std::u16string text = u"\U0001F600 intro\n# *Top*\n## Setup\n### Deep\n## Setup\n"
                          u"#### `x`_y_[z]\n```\n# fenced\n```\n### Deep";
    std::vector<OutlineEntry> entries = build_outline_entries(text, source);
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[0], (OutlineEntry{u"Top", u"1:Top:0", 9, -1, 1, 0}));
    EXPECT_EQ(entries[1], (OutlineEntry{u"Setup", u"2:Setup:0", 17, 0, 2, 0}));
    EXPECT_EQ(entries[2], (OutlineEntry{u"Deep", u"3:Deep:0", 26, 1, 3, 0}));
    EXPECT_EQ(entries[3], (OutlineEntry{u"Setup", u"2:Setup:1", 35, 0, 2, 0}));
    // The level-2 heading closed the level-3 slot, so level 4 hangs under level 2.
    EXPECT_EQ(entries[4].title, u"xyz");
    EXPECT_EQ(entries[4].parent, 3);
    EXPECT_EQ(entries[5].id, u"3:Deep:1");
    EXPECT_EQ(entries[5].parent, 3);
    EXPECT_EQ(entries[5].offset, text.size() - 8);

    entries = build_outline_entries(u"", "# a\n### b");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].parent, 0);
    // A text with fewer lines than the source maps later headings to its end.
    EXPECT_EQ(entries[1].offset, 0u);

    EXPECT_THROW(build_outline_entries(u"", "# \xC3"), std::runtime_error);
    EXPECT_EQ(strip_inline_markers(u"*a*_b_[c](d)`e`~f~"), u"abc(d)e~f~");
}

TEST(OutlineEntriesTest, TaskOutlineStepCopiesAncestorsFirst) {
    std::vector<OutlineEntry> headings =
        build_outline_entries(u"# A\n## B\n### C\n## D", "# A\n## B\n### C\n## D");
    std::vector<OutlineEntry> output;
    TaskOutlineStep step(headings, output);
    EXPECT_EQ(step(2), 2);
    ASSERT_EQ(output.size(), 3u);
    EXPECT_EQ(output[0].title, u"A");
    EXPECT_EQ(output[1].title, u"B");
    EXPECT_EQ(output[2].title, u"C");
    EXPECT_EQ(output[0].parent, -1);
    EXPECT_EQ(output[1].parent, 0);
    EXPECT_EQ(output[2].parent, 1);
    EXPECT_EQ(step(3), 3);
    EXPECT_EQ(output[3].parent, 0);
    EXPECT_EQ(step(1), 1);
    EXPECT_EQ(step(static_cast<std::uint64_t>(-1)), -1);
    EXPECT_EQ(output.size(), 4u);
    EXPECT_EQ(step.memo, (std::vector<std::int64_t>{0, 1, 2, 3}));
}

TEST(OutlineEntriesTest, HeadingsCarryTaskCounts) {
    std::string source = "- [x] loose\n# A\n- [x] a1\n## B\n- [ ] b1\n- [x] b2\n# C\n";
    std::u16string text(source.begin(), source.end());
    std::vector<OutlineEntry> entries = heading_outline_entries(text, source);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].title, u"A  2 / 3");
    EXPECT_EQ(entries[1].title, u"B  1 / 2");
    EXPECT_EQ(entries[2].title, u"C");
    EXPECT_EQ(entries[0].id, u"1:A:0");
}

TEST(OutlineEntriesTest, TasksGroupUnderHeadingsAndIndent) {
    std::string source = "- [ ] u1\n"
                         "- [x] u2\n"
                         "- [ ] u3\n"
                         "# A\n"
                         "## B\n"
                         "- [ ] *b1*\n"
                         "  - [x] b2\n"
                         "    - [ ] b3\\\n"
                         "      more\n"
                         "- [ ] *b1*\n"
                         "## Empty\n"
                         "# C\n"
                         "- [x] c1\n";
    std::u16string text(source.begin(), source.end());
    std::vector<OutlineEntry> all = task_outline_entries(text, source, false);
    std::vector<std::u16string> titles;
    for (const OutlineEntry& entry : all)
        titles.push_back(entry.title);
    EXPECT_EQ(titles, (std::vector<std::u16string>{u"Tasks  1 / 3", u"\u2610 u1", u"\u2611 u2",
                                                   u"\u2610 u3", u"A  1 / 4", u"B  1 / 4",
                                                   u"\u2610 b1", u"\u2611 b2", u"\u2610 b3",
                                                   u"\u2610 b1", u"C  1 / 1", u"\u2611 c1"}));
    EXPECT_EQ(all[0].id, u"tasks:ungrouped");
    EXPECT_EQ(all[0].level, 1u);
    EXPECT_EQ(all[0].flag, 0);
    EXPECT_EQ(all[1].parent, 0);
    EXPECT_EQ(all[3].parent, 0);
    EXPECT_EQ(all[4].parent, -1);
    EXPECT_EQ(all[5].parent, 4);
    EXPECT_EQ(all[5].id, u"2:B:0");
    EXPECT_EQ(all[6], (OutlineEntry{u"\u2610 b1", u"task:*b1*:0", 36, 5, 3, 1}));
    EXPECT_EQ(all[7].parent, 6);
    EXPECT_EQ(all[8].parent, 7);
    EXPECT_EQ(all[8].id, u"task:b3\\:0");
    EXPECT_EQ(all[9].parent, 5);
    EXPECT_EQ(all[9].id, u"task:*b1*:1");
    EXPECT_EQ(all[11].parent, 10);

    std::vector<OutlineEntry> open = task_outline_entries(text, source, true);
    titles.clear();
    for (const OutlineEntry& entry : open)
        titles.push_back(entry.title);
    // The hidden b2 leaves b3 under b1; C has no visible task and is left out.
    EXPECT_EQ(titles,
              (std::vector<std::u16string>{u"Tasks  1 / 3", u"\u2610 u1", u"\u2610 u3", u"A  1 / 4",
                                           u"B  1 / 4", u"\u2610 b1", u"\u2610 b3", u"\u2610 b1"}));
    EXPECT_EQ(open[6].parent, 5);
}

} // namespace
} // namespace pellix
