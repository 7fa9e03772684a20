#pragma once

// The strokes of a window-chrome glyph read from its SVG text and drawn as Direct2D geometry, for
// systems whose Direct2D cannot draw SVG documents (Wine). The glyphs are plain stroked figures
// on a 16-unit grid: paths of moves, lines and cubic curves, rounded rectangles and circles, in
// one group that gives the stroke width, with round caps and joins. Anything else in a glyph is
// refused, so a figure is never drawn other than its SVG says.

#include <d2d1.h>

#include <string_view>
#include <vector>

namespace pellix {

struct GlyphSegment {
    bool curve = false;
    D2D1_POINT_2F control1{};
    D2D1_POINT_2F control2{};
    D2D1_POINT_2F end{};
};

// One subpath: a start point and the segments from it.
struct GlyphOutline {
    D2D1_POINT_2F start{};
    std::vector<GlyphSegment> segments;
    bool closed = false;
};

struct GlyphShape {
    enum class Kind { path, rounded_rectangle, ellipse };
    Kind kind = Kind::path;
    float stroke_width = 1.0f;
    std::vector<GlyphOutline> outlines;
    D2D1_ROUNDED_RECT rectangle{};
    D2D1_ELLIPSE ellipse{};
};

// The shapes of a glyph's SVG text in document order; false for text with no shape, or with an
// element, attribute or path command this reader does not know.
bool read_glyph_shapes(std::string_view svg, std::vector<GlyphShape>& shapes);

// Strokes the shapes in opaque black onto a target between its BeginDraw and EndDraw, in the
// target's current transform.
HRESULT draw_glyph_shapes(ID2D1Factory* factory, ID2D1RenderTarget* target,
                          const std::vector<GlyphShape>& shapes);

} // namespace pellix
