#include "markdown/outline.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "core/encoding.h"
#include "markdown/byte_search.h"
#include "markdown/line_scanners.h"

namespace pellix {
namespace {

constexpr std::int64_t no_index = -1;

// Walks a source line by line: split at LF, one trailing CR removed from each line; a final
// LF starts no extra line.
class SourceLines {
public:
    explicit SourceLines(std::string_view source) : source_(source) {}

    // The line starting at `pos` and the start of the line after it; false past the end.
    bool read(std::size_t pos, std::string_view& line, std::size_t& next) const {
        if (pos >= source_.size())
            return false;
        std::size_t lf = find_byte(source_, pos, '\n');
        std::size_t end = lf == std::string_view::npos ? source_.size() : lf;
        line = source_.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        next = lf == std::string_view::npos ? source_.size() : lf + 1;
        return true;
    }

private:
    std::string_view source_;
};

// The heading test of collect_headings, so a task's heading index points into its output.
bool is_heading_line(std::string_view line) {
    return parse_atx_heading(line).level != 0;
}

bool ends_in_odd_backslashes(std::string_view line) {
    std::size_t count = 0;
    while (count < line.size() && line[line.size() - 1 - count] == '\\')
        ++count;
    return count % 2 == 1;
}

// Whether the task text ends outside a backtick code span; backslash escapes count only outside
// a span.
bool ends_outside_code_span(std::string_view text) {
    bool in_span = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '`') {
            in_span = !in_span;
        } else if (c == '\\' && !in_span) {
            if (i + 2 >= text.size())
                return true;
            ++i;
        }
    }
    return !in_span;
}

bool is_thematic_break(std::string_view trimmed) {
    if (trimmed.size() <= 2)
        return false;
    char first = trimmed.front();
    if (first != '*' && first != '-' && first != '_')
        return false;
    return trimmed.find_first_not_of(first) == std::string_view::npos;
}

bool is_table_header(std::string_view line, const std::string_view* delimiter) {
    if (line.find('|') == std::string_view::npos || delimiter == nullptr)
        return false;
    std::vector<std::uint32_t> alignments = parse_table_alignments(*delimiter);
    return !alignments.empty() && split_table_row(line).size() == alignments.size();
}

// A hard line break continues the item only when the next line could not start a block of its
// own and is indented past the item's marker.
bool next_line_continues_item(std::string_view next, const std::string_view* after,
                              std::uint64_t indent) {
    std::string_view trimmed = trim_blanks_view(next);
    if (trimmed.empty() || trimmed.front() == '>')
        return false;
    if (is_heading_line(next) || next_fence_state(next, FenceState{}).inside() ||
        scan_list_marker(next).is_item())
        return false;
    if (is_table_header(next, after) || is_thematic_break(trimmed))
        return false;
    return leading_columns(next) > indent;
}

// The task at `line`, if the line holds one: the box right at the list item's content.
bool parse_task(std::string_view line, TaskEntry& task, std::size_t& text_start) {
    ListMarker marker = scan_list_marker(line);
    if (!marker.is_item())
        return false;
    std::size_t c = marker.content_offset;
    if (line.size() < c + 3 || line[c] != '[' || line[c + 2] != ']')
        return false;
    char box = line[c + 1];
    if (box != ' ' && box != 'x' && box != 'X')
        return false;
    if (line.size() > c + 3 && !is_blank(line[c + 3]))
        return false;
    text_start = c + 3;
    while (text_start < line.size() && is_blank(line[text_start]))
        ++text_start;
    std::size_t text_end = line.size();
    while (text_end > text_start && is_blank(line[text_end - 1]))
        --text_end;
    task.text.assign(line.substr(text_start, text_end - text_start));
    task.indent = marker.indent;
    task.done = box != ' ';
    return true;
}

std::u16string decimal16(std::uint64_t value) {
    std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

// Offsets of the start of every line of a UTF-16 text.
std::vector<std::uint64_t> line_start_offsets(const std::u16string& text) {
    std::vector<std::uint64_t> starts{0};
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == u'\n')
            starts.push_back(i + 1);
    return starts;
}

struct TaskCount {
    std::uint64_t done = 0;
    std::uint64_t total = 0;
};

std::u16string count_suffix(const TaskCount& count) {
    return u"  " + decimal16(count.done) + u" / " + decimal16(count.total);
}

// Adds each task under a heading to that heading and to all its ancestors, and titles every
// heading that has tasks with its counts.
void add_task_counts(std::vector<OutlineEntry>& headings, const std::vector<TaskEntry>& tasks) {
    std::vector<TaskCount> counts(headings.size());
    for (const TaskEntry& task : tasks) {
        for (std::int64_t at = task.heading;
             at >= 0 && static_cast<std::uint64_t>(at) < headings.size();
             at = headings[at].parent) {
            ++counts[at].total;
            counts[at].done += task.done ? 1 : 0;
        }
    }
    for (std::size_t i = 0; i < headings.size(); ++i)
        if (counts[i].total != 0)
            headings[i].title += count_suffix(counts[i]);
}

std::u16string task_title(const TaskEntry& task) {
    std::string text = task.text;
    // The trailing backslash of a hard break is markup, not text.
    if (task.hardBreak && !text.empty())
        text.pop_back();
    return std::u16string(task.done ? u"\u2611 " : u"\u2610 ") +
           strip_inline_markers(utf8_to_utf16(text));
}

// Builds the outline of tasks: heading copies through the memoising step, the ungrouped group,
// and task entries nested by indent.
class TaskOutlineBuilder {
public:
    TaskOutlineBuilder(const std::u16string& text, const std::vector<OutlineEntry>& headings,
                       const std::vector<TaskEntry>& tasks)
        : line_starts_(line_start_offsets(text)), tasks_(tasks), copy_heading_(headings, output_) {}

    std::vector<OutlineEntry> build(bool hide_completed) {
        for (const TaskEntry& task : tasks_) {
            if (hide_completed && task.done)
                continue;
            add_task(task);
        }
        return std::move(output_);
    }

private:
    std::int64_t ungrouped_group() {
        if (ungrouped_ != no_index)
            return ungrouped_;
        TaskCount count;
        for (const TaskEntry& task : tasks_) {
            if (task.heading == no_index) {
                ++count.total;
                count.done += task.done ? 1 : 0;
            }
        }
        OutlineEntry group;
        group.title = u"Tasks" + count_suffix(count);
        group.id = u"tasks:ungrouped";
        group.level = 1;
        ungrouped_ = static_cast<std::int64_t>(output_.size());
        output_.push_back(std::move(group));
        return ungrouped_;
    }

    std::int64_t parent_of(const TaskEntry& task, bool first_of_group) {
        std::int64_t group = task.heading == no_index
                                 ? ungrouped_group()
                                 : copy_heading_(static_cast<std::uint64_t>(task.heading));
        if (first_of_group)
            nesting_.clear();
        while (!nesting_.empty() && nesting_.back().indent >= task.indent)
            nesting_.pop_back();
        return nesting_.empty() ? group : nesting_.back().entry;
    }

    void add_task(const TaskEntry& task) {
        bool first_of_group = !has_previous_ || previous_heading_ != task.heading;
        has_previous_ = true;
        previous_heading_ = task.heading;
        OutlineEntry entry;
        entry.parent = parent_of(task, first_of_group);
        entry.title = task_title(task);
        std::u16string key = u"task:" + utf8_to_utf16(task.text);
        entry.id = key + u":" + decimal16(occurrences_[key]++);
        std::uint64_t line = std::min<std::uint64_t>(task.line, line_starts_.size() - 1);
        entry.offset = line_starts_[line];
        entry.level = 3;
        entry.flag = 1;
        std::int64_t index = static_cast<std::int64_t>(output_.size());
        output_.push_back(std::move(entry));
        nesting_.push_back({task.indent, index});
    }

    struct Nesting {
        std::uint64_t indent;
        std::int64_t entry;
    };

    std::vector<std::uint64_t> line_starts_;
    const std::vector<TaskEntry>& tasks_;
    std::vector<OutlineEntry> output_;
    TaskOutlineStep copy_heading_;
    std::int64_t ungrouped_ = no_index;
    bool has_previous_ = false;
    std::int64_t previous_heading_ = no_index;
    std::vector<Nesting> nesting_;
    std::unordered_map<std::u16string, std::uint64_t> occurrences_;
};

} // namespace

std::vector<TaskEntry> extract_tasks(const std::string& source, std::uint64_t limit) {
    std::vector<TaskEntry> tasks;
    SourceLines lines(source);
    FenceState fence;
    std::int64_t heading = no_index;
    std::int64_t headings_seen = 0;
    std::string_view line;
    std::size_t next_pos = 0;
    for (std::uint64_t number = 0, pos = 0; lines.read(pos, line, next_pos);
         ++number, pos = next_pos) {
        FenceState next = next_fence_state(line, fence);
        bool fenced = fence.inside() || next.inside();
        fence = next;
        if (fenced)
            continue;
        if (is_heading_line(line))
            heading = headings_seen++;
        TaskEntry task;
        std::size_t text_start = 0;
        if (!parse_task(line, task, text_start))
            continue;
        task.line = number;
        task.heading = heading;
        if (ends_in_odd_backslashes(line) && ends_outside_code_span(line.substr(text_start))) {
            // Only now are the two following lines needed.
            std::string_view following, after;
            std::size_t after_pos = 0, unused = 0;
            if (lines.read(next_pos, following, after_pos)) {
                bool has_after = lines.read(after_pos, after, unused);
                task.hardBreak =
                    next_line_continues_item(following, has_after ? &after : nullptr, task.indent);
            }
        }
        if (tasks.size() >= limit)
            throw std::runtime_error("Too many tasks for export.");
        tasks.push_back(std::move(task));
    }
    return tasks;
}

std::vector<HeadingEntry> collect_headings(const std::string& source, std::uint64_t limit) {
    std::vector<HeadingEntry> headings;
    SourceLines lines(source);
    FenceState fence;
    std::string_view line;
    std::size_t next_pos = 0;
    for (std::uint64_t number = 0, pos = 0; lines.read(pos, line, next_pos);
         ++number, pos = next_pos) {
        FenceState next = next_fence_state(line, fence);
        bool outside = next == fence && !fence.inside();
        fence = next;
        if (!outside)
            continue;
        AtxHeading atx = parse_atx_heading(line);
        if (atx.level == 0)
            continue;
        if (headings.size() >= limit)
            throw std::runtime_error("Too many headings for export.");
        headings.push_back(HeadingEntry{std::move(atx.text), atx.level, number});
    }
    return headings;
}

std::vector<OutlineEntry> build_outline_entries(const std::u16string& text,
                                                const std::string& source) {
    std::vector<HeadingEntry> headings = collect_headings(source, document_limit);
    std::vector<OutlineEntry> entries;
    entries.reserve(headings.size());
    std::unordered_map<std::u16string, std::uint64_t> occurrences;
    std::array<std::int64_t, 7> open_at_level; // slot per level 1-6
    open_at_level.fill(no_index);
    std::uint64_t offset = 0;
    std::uint64_t offset_line = 0;
    for (const HeadingEntry& heading : headings) {
        while (offset_line < heading.line && offset < text.size()) {
            std::size_t lf = text.find(u'\n', offset);
            offset = lf == std::u16string::npos ? text.size() : lf + 1;
            ++offset_line;
        }
        OutlineEntry entry;
        entry.title = strip_inline_markers(utf8_to_utf16(heading.text));
        std::u16string key = decimal16(heading.level) + u":" + entry.title;
        entry.id = key + u":" + decimal16(occurrences[key]++);
        entry.offset = offset;
        entry.level = heading.level;
        for (std::uint32_t level = heading.level - 1; level >= 1; --level) {
            if (open_at_level[level] != no_index) {
                entry.parent = open_at_level[level];
                break;
            }
        }
        for (std::uint32_t level = heading.level; level <= 6; ++level)
            open_at_level[level] = no_index;
        open_at_level[heading.level] = static_cast<std::int64_t>(entries.size());
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::u16string strip_inline_markers(const std::u16string& text) {
    std::u16string out;
    out.reserve(text.size());
    for (char16_t c : text)
        if (c != u'*' && c != u'_' && c != u'[' && c != u']' && c != u'`')
            out.push_back(c);
    return out;
}

TaskOutlineStep::TaskOutlineStep(const std::vector<OutlineEntry>& headings_,
                                 std::vector<OutlineEntry>& output_)
    : memo(headings_.size(), no_index), headings(headings_), output(output_) {
    step = [this](std::uint64_t index) -> std::int64_t {
        // -1 (no parent) has all bits set, so it fails the bound too.
        if (index >= memo.size())
            return no_index;
        if (memo[index] != no_index)
            return memo[index];
        OutlineEntry copy = headings[index];
        // Ancestors first, so every parent index points backwards.
        copy.parent = step(static_cast<std::uint64_t>(copy.parent));
        memo[index] = static_cast<std::int64_t>(output.size());
        output.push_back(std::move(copy));
        return memo[index];
    };
}

std::vector<OutlineEntry> heading_outline_entries(const std::u16string& text,
                                                  const std::string& source) {
    std::vector<OutlineEntry> headings = build_outline_entries(text, source);
    add_task_counts(headings, extract_tasks(source, document_limit));
    return headings;
}

std::vector<OutlineEntry> task_outline_entries(const std::u16string& text,
                                               const std::string& source, bool hide_completed) {
    std::vector<OutlineEntry> headings = build_outline_entries(text, source);
    std::vector<TaskEntry> tasks = extract_tasks(source, document_limit);
    add_task_counts(headings, tasks);
    return TaskOutlineBuilder(text, headings, tasks).build(hide_completed);
}

} // namespace pellix
