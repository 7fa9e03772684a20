#pragma once

// Wine's DirectWrite hands each default-ignorable format character (U+200D, U+200C, U+200B,
// U+2060, U+00AD, U+200E, ...) to the renderer as a glyph run of its own without glyphs, and so
// splits the text around it into runs of one glyph each; Wine's Direct2D draws every run through
// a texture of its own. A row of 90 emoji joined by U+200D then costs 180 runs where a row of
// letters costs one, many times the drawing time. Windows keeps such text in one run.

#include <d2d1.h>
#include <dwrite.h>

#include <cstddef>
#include <functional>
#include <string_view>

namespace pellix {

// Whether `text` holds a character Wine's DirectWrite splits glyph runs around: the
// default-ignorable code points but the variation selectors, which shaping keeps in their
// cluster.
bool splits_glyph_runs(std::u16string_view text);

// Draws `layout` with its top-left corner at `origin`, in `brush` wherever no drawing effect of
// the layout names another brush, as DrawTextLayout with D2D1_DRAW_TEXT_OPTIONS_NONE does.
// `split_text` says that the layout's text `splits_glyph_runs`; only such a layout is read for
// its glyph runs first, and when they come split around runs without glyphs it is drawn from
// them, the runs of one font and brush that follow each other on a row handed over as one, each
// glyph where the layout put it. Every other layout goes to DrawTextLayout itself. Answers how
// many glyph runs Direct2D was given (0 when DrawTextLayout drew without being read first).
std::size_t draw_text_layout(ID2D1RenderTarget* target, D2D1_POINT_2F origin,
                             IDWriteTextLayout* layout, ID2D1Brush* brush, bool split_text);

// Draws the rows of `layout` (placed as `draw_text_layout` places it) for which `row_shown`
// answers true, given each row's top and bottom on the target, and hands Direct2D the glyph runs
// of those rows alone: Wine's Direct2D draws every run it is handed, whatever the clip, so a
// repaint of one row of a tall layout costs one row. Each run goes where DrawTextLayout puts it.
// Answers how many rows were drawn.
std::size_t draw_text_rows(ID2D1RenderTarget* target, D2D1_POINT_2F origin,
                           IDWriteTextLayout* layout, ID2D1Brush* brush, bool split_text,
                           const std::function<bool(float top, float bottom)>& row_shown);

} // namespace pellix
