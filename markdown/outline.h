#pragma once

// Headings and task items taken straight from Markdown source, line by line, without
// rendering: the outline pane's entries and the lists the JSON export writes. The fence,
// heading and list rules are the line scanners', so extraction agrees with the renderer on what
// a fence, a heading and a list item are.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/limits.h"

namespace pellix {

// Limits of the callers: the export refuses more than 100,000 headings or tasks; the outline
// allows one per possible source line (document_limit).
inline constexpr std::uint64_t export_item_limit = 100000;

// One task item: a list item whose content begins with "[ ]", "[x]" or "[X]".
struct TaskEntry {
    std::string text;          // raw Markdown after the box, trailing blanks removed; may be empty
    std::uint64_t line = 0;    // 0-based source line
    std::uint64_t indent = 0;  // columns before the list marker (space 1, tab 4)
    std::int64_t heading = -1; // index of the last heading above it (collect_headings), -1 none
    bool done = false;
    bool hardBreak = false; // ends in a hard line break and the next line continues the item

    bool operator==(const TaskEntry&) const = default;
};

// One ATX heading.
struct HeadingEntry {
    std::string text; // as parse_atx_heading gives it (raw Markdown, UTF-8)
    std::uint32_t level = 0;
    std::uint64_t line = 0; // 0-based source line

    bool operator==(const HeadingEntry&) const = default;
};

// One entry of the outline.
struct OutlineEntry {
    std::u16string title;     // text without inline marker characters
    std::u16string id;        // stable key: level, ":", title, ":", occurrence number
    std::uint64_t offset = 0; // UTF-16 offset of the start of the entry's source line
    std::int64_t parent = -1; // index of the enclosing entry in the same vector, -1 none
    std::uint32_t level = 0;  // 1-6 for headings
    std::uint8_t flag = 0;    // 1 for a task entry of the outline of tasks

    bool operator==(const OutlineEntry&) const = default;
};

// The task items of `source` (UTF-8) outside fenced code, in document order. Throws
// std::runtime_error "Too many tasks for export." past `limit` items.
std::vector<TaskEntry> extract_tasks(const std::string& source, std::uint64_t limit);

// The ATX headings of `source` outside fenced code, in document order. Throws
// std::runtime_error "Too many headings for export." past `limit` headings.
std::vector<HeadingEntry> collect_headings(const std::string& source, std::uint64_t limit);

// One entry per heading, with parent links and stable ids. `text` is the document as UTF-16
// with LF line ends, `source` the same document as UTF-8.
std::vector<OutlineEntry> build_outline_entries(const std::u16string& text,
                                                const std::string& source);

// The text without "*", "_", "[", "]" and backticks.
std::u16string strip_inline_markers(const std::u16string& text);

// The memoising step that copies a heading of the heading outline, after all of its ancestors,
// into the outline of tasks and answers its index there; -1 (all bits set) maps to -1. Every
// heading is copied at most once, so parent indices refer to the outline of tasks. The step
// calls itself through `step`, so the object stays where it was built.
struct TaskOutlineStep {
    std::vector<std::int64_t> memo; // index in `output` of each copied heading, -1 not yet
    const std::vector<OutlineEntry>& headings;
    std::function<std::int64_t(std::uint64_t)> step;
    std::vector<OutlineEntry>& output;

    TaskOutlineStep(const std::vector<OutlineEntry>& headings, std::vector<OutlineEntry>& output);
    TaskOutlineStep(const TaskOutlineStep&) = delete;
    TaskOutlineStep& operator=(const TaskOutlineStep&) = delete;

    std::int64_t operator()(std::uint64_t index) { return step(index); }
};

// Headings mode of the outline pane: the heading entries, each heading that has tasks below it
// (its own or its sub-headings') titled with two spaces, the done count, " / " and the total.
std::vector<OutlineEntry> heading_outline_entries(const std::u16string& text,
                                                  const std::string& source);

// Tasks mode of the outline pane: every task item (done ones left out when `hide_completed`)
// under a copy of its heading and that heading's ancestors, tasks without a heading under one
// "tasks:ungrouped" group, and tasks nested under shallower tasks by their indent. Task
// entries have level 3, flag 1 and the id "task:", the raw text, ":" and an occurrence number.
std::vector<OutlineEntry> task_outline_entries(const std::u16string& text,
                                               const std::string& source, bool hide_completed);

} // namespace pellix
