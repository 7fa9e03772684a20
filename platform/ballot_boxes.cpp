#include "platform/ballot_boxes.h"

#include <algorithm>
#include <vector>

#include "platform/text_hit_test.h"
#include "platform/stack_text_renderer.h"

namespace pellix {
namespace {

// The figure's proportions, in parts of the font size: a box about as tall as a capital letter,
// a stroke that thickens with the text, and a tick from the left middle down and up to the top.
constexpr float box_side = 0.68f;
constexpr float box_lift = 0.02f;
constexpr float stroke_part = 0.07f;
constexpr float corner_part = 0.08f;
constexpr D2D1_POINT_2F tick[] = {{0.22f, 0.52f}, {0.42f, 0.74f}, {0.8f, 0.26f}};

// Reads, without drawing, whether the glyph run that holds one text position gives it glyph 0,
// the font's empty box.
class GlyphProbe final : public StackTextRenderer {
public:
    explicit GlyphProbe(UINT32 position) : position_(position) {}

    HRESULT STDMETHODCALLTYPE GetCurrentTransform(void*, DWRITE_MATRIX* transform) override {
        *transform = {1, 0, 0, 1, 0, 0};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPixelsPerDip(void*, FLOAT* pixels_per_dip) override {
        *pixels_per_dip = 1;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE DrawGlyphRun(void*, FLOAT, FLOAT, DWRITE_MEASURING_MODE,
                                           const DWRITE_GLYPH_RUN* run,
                                           const DWRITE_GLYPH_RUN_DESCRIPTION* description,
                                           IUnknown*) override {
        if (!description || !description->clusterMap || position_ < description->textPosition ||
            position_ - description->textPosition >= description->stringLength) {
            return S_OK;
        }
        const UINT16 glyph = description->clusterMap[position_ - description->textPosition];
        found_ = true;
        drawn_ = glyph < run->glyphCount && run->glyphIndices[glyph] != 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DrawUnderline(void*, FLOAT, FLOAT, const DWRITE_UNDERLINE*,
                                            IUnknown*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DrawStrikethrough(void*, FLOAT, FLOAT, const DWRITE_STRIKETHROUGH*,
                                                IUnknown*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DrawInlineObject(void*, FLOAT, FLOAT, IDWriteInlineObject*, BOOL,
                                               BOOL, IUnknown*) override {
        return S_OK;
    }

    // A position no run described is taken as drawn: nothing says otherwise.
    bool drawn() const { return !found_ || drawn_; }

private:
    UINT32 position_;
    bool found_ = false;
    bool drawn_ = false;
};

} // namespace

bool draws_glyph_at(IDWriteTextLayout* layout, UINT32 position) {
    GlyphProbe probe(position);
    return FAILED(layout->Draw(nullptr, &probe, 0, 0)) || probe.drawn();
}

D2D1_RECT_F character_cell(IDWriteTextLayout* layout, UINT32 position, D2D1_POINT_2F origin) {
    FLOAT x = 0;
    FLOAT y = 0;
    DWRITE_HIT_TEST_METRICS cell{};
    if (FAILED(hit_test_text_position(layout, position, FALSE, &x, &y, &cell))) {
        return {origin.x, origin.y, origin.x, origin.y};
    }
    return {origin.x + cell.left, origin.y + cell.top, origin.x + cell.left + cell.width,
            origin.y + cell.top + cell.height};
}

void draw_ballot_box(ID2D1RenderTarget* target, ID2D1Brush* brush, IDWriteTextLayout* layout,
                     UINT32 position, D2D1_POINT_2F origin, bool checked) {
    FLOAT size = 0;
    UINT32 lines = 0;
    layout->GetLineMetrics(nullptr, 0, &lines);
    std::vector<DWRITE_LINE_METRICS> metrics(std::max<UINT32>(lines, 1));
    if (FAILED(layout->GetFontSize(position, &size)) ||
        FAILED(layout->GetLineMetrics(metrics.data(), lines, &lines)) || lines == 0) {
        return;
    }
    const D2D1_RECT_F cell = character_cell(layout, position, origin);
    const float side = box_side * size;
    const float left = (cell.left + cell.right - side) / 2;
    const float bottom = origin.y + metrics[0].baseline - box_lift * size;
    const D2D1_RECT_F box{left, bottom - side, left + side, bottom};
    const float stroke = stroke_part * size;
    const float corner = corner_part * size;
    target->DrawRoundedRectangle({box, corner, corner}, brush, stroke);
    if (checked) {
        auto at = [&](D2D1_POINT_2F p) {
            return D2D1_POINT_2F{box.left + p.x * side, box.top + p.y * side};
        };
        target->DrawLine(at(tick[0]), at(tick[1]), brush, stroke * 1.4f);
        target->DrawLine(at(tick[1]), at(tick[2]), brush, stroke * 1.4f);
    }
}

} // namespace pellix
