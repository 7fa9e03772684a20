#pragma once

// Task boxes are text (U+2610 and U+2611 in the list marker), which DirectWrite draws from a
// fallback font where the text's own font lacks them. Wine's DirectWrite has no font fallback
// and draws the font's empty box for both, so a checked task would look unchecked: there the
// box is drawn as a figure in the character's place instead.

#include <d2d1.h>
#include <dwrite.h>

namespace pellix {

// Whether the layout draws a glyph of its own (not the font's empty box) for the character at
// `position`, by reading the glyph runs its drawing would hand over.
bool draws_glyph_at(IDWriteTextLayout* layout, UINT32 position);

// Draws a ballot box, ticked when `checked`, in the place of the character at `position` of a
// layout drawn with its top-left corner at `origin`: as wide as a letter, sitting on the line's
// baseline.
void draw_ballot_box(ID2D1RenderTarget* target, ID2D1Brush* brush, IDWriteTextLayout* layout,
                     UINT32 position, D2D1_POINT_2F origin, bool checked);

// Where the character at `position` of a layout drawn at `origin` lies, as tall as its line.
D2D1_RECT_F character_cell(IDWriteTextLayout* layout, UINT32 position, D2D1_POINT_2F origin);

} // namespace pellix
