#pragma once

#include "tracking/change_marks.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace pellix {

// One line of a caller's text, never a copy. Equal lines have equal lengths and equal units;
// nothing is folded (a trailing CR makes a line different).
struct LineView {
    std::size_t length = 0;
    const char16_t* data = nullptr;

    std::u16string_view view() const { return {data, length}; }
};

// One changed stretch: old lines [old_begin, old_end) became new lines [new_begin, new_end).
// One side may be empty, never both.
struct ChangeRange {
    std::uint64_t old_begin = 0;
    std::uint64_t old_end = 0;
    std::uint64_t new_begin = 0;
    std::uint64_t new_end = 0;

    bool operator==(const ChangeRange&) const = default;
};

// The comparison of an old text with a new one. When `line_by_line` is false the texts were too
// large or too different: `ranges` holds one coarse range and `marks` is empty.
struct LineDiff {
    bool line_by_line = true;
    std::uint64_t old_lines = 1;
    std::uint64_t new_lines = 1;
    std::vector<ChangeRange> ranges;
    ChangeMarks marks;
};

// Texts longer than this many UTF-16 units are compared coarsely, by units.
inline constexpr std::size_t diff_unit_limit = 0x20000;
// Texts with more lines than this (after equal ones were ruled out) are refused line by line.
inline constexpr std::uint64_t diff_line_limit = 10000;
// Total LCS cells one diff may fill; bounds its work and its largest table (4 MB).
inline constexpr std::uint64_t diff_cell_budget = 2000000;

// The text cut at every LF; the LF belongs to neither side, a CR stays with its line. n LF units
// give n + 1 lines.
std::vector<LineView> split_lines(std::u16string_view text);

// Appends a range, dropping one empty on both sides and extending the last range when the new one
// starts exactly where it ends on both sides.
void append_change_range(LineDiff& diff, std::uint64_t old_begin, std::uint64_t old_end,
                         std::uint64_t new_begin, std::uint64_t new_end);

// Compares two LF-normalised UTF-16 texts line by line. Pure; throws only std::bad_alloc.
LineDiff diff_lines(std::u16string_view old_text, std::u16string_view new_text);

// Carries a fractional line position of the old text over to the new text.
double map_line_through_hunks(const LineDiff& diff, double position);

} // namespace pellix
