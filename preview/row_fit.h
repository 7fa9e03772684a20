#pragma once

// Wine's DirectWrite does not break a word wider than the line (Windows breaks it anywhere, as
// emergency breaking allows): such a row stands wider than the layout, and what lies past the
// edge is drawn blank or not at all. The preview and the editor cut such a row into line-wide
// parts themselves, each in a layout of its own. On Windows no row is ever too wide, so this
// path is never taken there.

#include <windows.h>
#include <dwrite.h>

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace pellix {

// The first row of a layout that is wider than its line, cut into parts that fit.
struct RowParts {
    std::size_t row_start = 0;     // units of the layout's text before the row
    std::vector<std::size_t> ends; // end of each part, in units from the text's start
    std::vector<float> widths;     // width of each part, trailing white space not counted
};

// The row of `layout` (laid out from `text` at `max_width`) that first overflows, in parts of
// whole clusters (DirectWrite's, and what a reader sees as one character) as wide as fits, at
// least one character each; the last part ends the row. None when every row fits. A character
// longer than a few hundred units is cut between code points where the line is full;
// `starts_inside_character` says that `text` starts inside one, cut before it.
std::optional<RowParts> fit_overflowing_row(IDWriteTextLayout* layout, std::u16string_view text,
                                            float max_width, bool starts_inside_character);

// Where a piece of an unbroken run that starts at `start` ends when it should end at `at`: as
// `grapheme_cut` answers, but inside a character longer than a few hundred units (a letter with
// endless marks, emoji joined without end) at `at` itself, between code points, as the rows
// above cut such a character.
std::size_t run_cut(std::u16string_view text, std::size_t start, std::size_t at);

} // namespace pellix
