#include "editor/code_span_carry.h"

#include <algorithm>
#include <map>
#include <string>
#include <string_view>

namespace pellix {
namespace {

// How far around a line its paragraph is read, on each side: a paragraph longer than this is
// taken to start or end there, which keeps the cost of laying out one line small.
constexpr std::uint64_t side_line_limit = 256;
constexpr std::uint64_t side_unit_limit = std::uint64_t{1} << 18;
constexpr std::uint64_t thematic_break_minimum = 3;

// What a line is to the preview's joining of lines: a line that stands alone, a plain line, a
// list item's first line, or a quoted line.
enum class Role { alone, plain, item, quote };

struct UnitLine {
    Role role = Role::alone;
    std::uint64_t columns = 0;       // the item marker's indent, or a plain line's leading columns
    std::vector<std::uint64_t> runs; // its backtick run lengths, in order
    std::uint64_t length = 0;
};

bool is_rule(std::string_view trimmed) {
    if (trimmed.size() < thematic_break_minimum) {
        return false;
    }
    const char c = trimmed.front();
    return (c == '*' || c == '-' || c == '_') &&
           trimmed.find_first_not_of(c) == std::string_view::npos;
}

std::uint64_t line_end(const SourceDocument& document, std::uint64_t line) {
    return line + 1 < document.line_count() ? document.line_start(line + 1) - 1 : document.length();
}

UnitLine read_line(const SourceDocument& document, const std::vector<FenceState>& fences,
                   std::uint64_t line) {
    const std::uint64_t start = document.line_start(line);
    const std::u16string text = document.text(start, line_end(document, line) - start);
    // The block scanners test single bytes; a unit from 0x80 up is never a blank or a marker.
    std::string bytes(text.size(), '\x80');
    std::transform(text.begin(), text.end(), bytes.begin(),
                   [](char16_t c) { return c < 0x80 ? static_cast<char>(c) : '\x80'; });
    UnitLine read{.role = Role::alone, .columns = 0, .runs = {}, .length = text.size()};
    const FenceState before = line < fences.size() ? fences[line] : FenceState{};
    const std::string_view trimmed = trim_blanks_view(bytes);
    if (before.inside() || next_fence_state(bytes, before) != before || trimmed.empty() ||
        parse_atx_heading(bytes).level != 0 || is_rule(trimmed)) {
        return read;
    }
    if (trimmed.front() == '>') {
        read.role = Role::quote;
    } else if (const ListMarker marker = scan_list_marker(bytes); marker.is_item()) {
        read.role = Role::item;
        read.columns = marker.indent;
    } else {
        read.role = Role::plain;
        read.columns = leading_columns(bytes);
    }
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == u'\\') {
            i += 2;
        } else if (text[i] == u'`') {
            const std::size_t run_start = i;
            while (i < text.size() && text[i] == u'`') {
                ++i;
            }
            read.runs.push_back(i - run_start);
        } else {
            ++i;
        }
    }
    return read;
}

// Whether `next` belongs to the unit whose first line is `first`: quoted lines join quoted
// lines, plain lines join a paragraph, and a list item's lines indented deeper than its marker.
bool continues(const UnitLine& first, const UnitLine& next) {
    switch (next.role) {
    case Role::quote:
        return first.role == Role::quote;
    case Role::plain:
        return first.role == Role::plain ||
               (first.role == Role::item && next.columns > first.columns);
    default:
        return false;
    }
}

// Lines read around one line, each read once.
class LinesAround {
public:
    LinesAround(const SourceDocument& document, const std::vector<FenceState>& fences)
        : document_(document), fences_(fences) {}

    const UnitLine& at(std::uint64_t line) {
        auto found = lines_.find(line);
        if (found == lines_.end()) {
            found = lines_.emplace(line, read_line(document_, fences_, line)).first;
        }
        return found->second;
    }

private:
    const SourceDocument& document_;
    const std::vector<FenceState>& fences_;
    std::map<std::uint64_t, UnitLine> lines_;
};

// Pairs the unit's backtick runs as the line scan pairs them within a line: a run opens a span
// when a run of its length follows anywhere later in the unit, and the first such run closes it.
std::vector<CodeCarry> carries_of(LinesAround& lines, std::uint64_t first, std::uint64_t last) {
    std::map<std::uint64_t, std::uint64_t> remaining;
    for (std::uint64_t line = first; line <= last; ++line) {
        for (const std::uint64_t run : lines.at(line).runs) {
            ++remaining[run];
        }
    }
    std::vector<CodeCarry> carries(last - first + 1);
    std::uint64_t open = 0;
    for (std::uint64_t line = first; line <= last; ++line) {
        CodeCarry& carry = carries[line - first];
        carry.open_run = open;
        for (const std::uint64_t run : lines.at(line).runs) {
            --remaining[run];
            if (open == 0 ? remaining[run] > 0 : run == open) {
                open = open == 0 ? run : 0;
            }
        }
        for (const auto& [run, count] : remaining) {
            if (count > 0) {
                carry.later_runs.push_back(run);
            }
        }
    }
    return carries;
}

} // namespace

CodeUnit code_unit_around(const SourceDocument& document, const std::vector<FenceState>& fences,
                          std::uint64_t line) {
    LinesAround lines(document, fences);
    if (line >= document.line_count() || lines.at(line).role == Role::alone) {
        return {line, {CodeCarry{}}};
    }
    // Back to the nearest line that can start a unit and that nothing before it continues,
    // then forward again to find where the unit holding `line` starts.
    std::uint64_t first = line;
    std::uint64_t read = 0;
    while (first > 0 && line - first < side_line_limit && read < side_unit_limit) {
        const UnitLine& here = lines.at(first);
        const UnitLine& before = lines.at(first - 1);
        const bool joins = here.role == Role::quote
                               ? before.role == Role::quote
                               : here.role == Role::plain &&
                                     (before.role == Role::plain || before.role == Role::item);
        if (!joins) {
            break;
        }
        --first;
        read += before.length;
    }
    std::uint64_t start = first;
    for (std::uint64_t k = first + 1; k <= line; ++k) {
        if (!continues(lines.at(start), lines.at(k))) {
            start = k;
        }
    }
    std::uint64_t last = line;
    read = 0;
    while (last + 1 < document.line_count() && last - line < side_line_limit &&
           read < side_unit_limit && continues(lines.at(start), lines.at(last + 1))) {
        ++last;
        read += lines.at(last).length;
    }
    return {start, carries_of(lines, start, last)};
}

} // namespace pellix
