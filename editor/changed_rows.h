#pragma once

// What a keystroke in a wrapped line changes on screen: the line's rows as drawn before the edit,
// compared with the rows laid out after it. A letter typed in a paragraph changes the picture of
// one row unless the wrap moves, and Direct2D under Wine draws every glyph run it is handed, so
// repainting the rest of the paragraph cost a keystroke most of its time.

#include <dwrite.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/com_ptr.h"

namespace pellix {

struct Source;

// A row of a wrapped line as drawn: its text within the line, its place below the line's top,
// and the layout that drew it. A measured piece whose layout was let go stands as one row.
struct DrawnRow {
    std::uint64_t start = 0;
    std::uint64_t length = 0;
    double top = 0.0;
    double height = 0.0;
    ComPtr<IDWriteTextLayout> layout;
    std::uint32_t in_layout = 0; // where the row starts in its layout
    // The piece of the line that holds the row.
    std::uint64_t piece_start = 0;
    std::uint64_t piece_length = 0;
};

// The rows of `line` laid out so far, top to bottom, up to its first piece not yet measured.
std::vector<DrawnRow> drawn_rows(const Source& source, std::uint64_t line);

// The band [first, second) below the top of `line` whose picture an edit of the line changed:
// it replaced [edit_start, old_end) by text now ending at `new_end` (offsets within the line),
// and `before` are the rows drawn before it. A row laid out again is unchanged when it holds the
// same text, at the same place and size, in the same colours and styles, far enough from the
// edit that no find highlight in it can start or end with it; the rows not laid out since go to
// the line's end. A piece of the line that the edit touched and that holds right-to-left text
// changes whole. An empty band (second <= first) when nothing changed.
std::pair<double, double> changed_rows(const Source& source, std::uint64_t line,
                                       const std::vector<DrawnRow>& before,
                                       std::uint64_t edit_start, std::uint64_t old_end,
                                       std::uint64_t new_end);

} // namespace pellix
