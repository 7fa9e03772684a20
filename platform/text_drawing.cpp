#include "platform/text_drawing.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>
#include <vector>

#include "platform/com_ptr.h"
#include "platform/stack_text_renderer.h"

namespace pellix {
namespace {

constexpr float dips_per_inch = 96.0f;

// Glyph runs of one font, size, direction and drawing effect on one baseline, joined.
struct JoinedRun {
    ComPtr<IDWriteFontFace> face;
    float em_size = 0;
    BOOL sideways = FALSE;
    UINT32 bidi_level = 0;
    DWRITE_MEASURING_MODE measuring = DWRITE_MEASURING_MODE_NATURAL;
    IUnknown* effect = nullptr; // held by the layout, which outlives the drawing
    D2D1_POINT_2F origin{};
    float pen_x = 0; // where the glyph after the last one would stand
    std::vector<UINT16> indices;
    std::vector<FLOAT> advances;
    std::vector<DWRITE_GLYPH_OFFSET> offsets;

    bool takes(float y, DWRITE_MEASURING_MODE mode, const DWRITE_GLYPH_RUN& run,
               IUnknown* run_effect) const {
        // A right-to-left or sideways run places its glyphs from its origin in another
        // direction; such runs stay as they come.
        return face.get() == run.fontFace && em_size == run.fontEmSize && !sideways &&
               !run.isSideways && bidi_level == run.bidiLevel && (bidi_level & 1) == 0 &&
               measuring == mode && effect == run_effect && origin.y == y;
    }

    // Appends the glyphs of `run`, whose origin is `x`: the last advance so far grows by the
    // distance to it, which puts every glyph where the layout put it.
    void append(float x, const DWRITE_GLYPH_RUN& run) {
        if (!advances.empty()) {
            advances.back() += x - pen_x;
        }
        pen_x = x;
        for (UINT32 i = 0; i < run.glyphCount; ++i) {
            indices.push_back(run.glyphIndices[i]);
            advances.push_back(run.glyphAdvances[i]);
            offsets.push_back(run.glyphOffsets != nullptr ? run.glyphOffsets[i]
                                                          : DWRITE_GLYPH_OFFSET{0.0f, 0.0f});
            pen_x += run.glyphAdvances[i];
        }
    }
};

// An underline or strikethrough, as the rectangle Direct2D fills for it.
struct Stroke {
    D2D1_RECT_F rect;
    IUnknown* effect;
};

// Takes what a layout draws, without drawing it.
class RunGatherer final : public StackTextRenderer {
public:
    explicit RunGatherer(ID2D1RenderTarget* target) : target_(target) {}

    // Keeps only what is drawn on the baselines `shown` answers true for; with `brush`, hands
    // each run and stroke kept to the target as it comes instead of gathering it.
    void keep_only(std::function<bool(float baseline)> shown, ID2D1Brush* brush) {
        shown_ = std::move(shown);
        forward_brush_ = brush;
    }

    HRESULT STDMETHODCALLTYPE GetCurrentTransform(void*, DWRITE_MATRIX* transform) override {
        D2D1_MATRIX_3X2_F matrix;
        target_->GetTransform(&matrix);
        *transform = {matrix._11, matrix._12, matrix._21, matrix._22, matrix._31, matrix._32};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPixelsPerDip(void*, FLOAT* pixels_per_dip) override {
        *pixels_per_dip = dpi_y() / dips_per_inch;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE DrawGlyphRun(void*, FLOAT x, FLOAT y, DWRITE_MEASURING_MODE mode,
                                           const DWRITE_GLYPH_RUN* run,
                                           const DWRITE_GLYPH_RUN_DESCRIPTION*,
                                           IUnknown* effect) override {
        ++runs_given_;
        if (shown_ && !shown_(y)) {
            return S_OK;
        }
        if (forward_brush_ != nullptr) {
            // A run without glyphs draws nothing.
            if (run->glyphCount != 0) {
                target_->DrawGlyphRun({x, y}, run, brush_for(effect, forward_brush_).get(), mode);
            }
            return S_OK;
        }
        if (run->glyphCount == 0) {
            after_empty_ = true;
            return S_OK;
        }
        if (!runs_.empty() && runs_.back().takes(y, mode, *run, effect)) {
            split_ = split_ || after_empty_;
        } else {
            runs_.push_back({.face = ComPtr<IDWriteFontFace>::share(run->fontFace),
                             .em_size = run->fontEmSize,
                             .sideways = run->isSideways,
                             .bidi_level = run->bidiLevel,
                             .measuring = mode,
                             .effect = effect,
                             .origin = {x, y},
                             .pen_x = x,
                             .indices = {},
                             .advances = {},
                             .offsets = {}});
        }
        runs_.back().append(x, *run);
        after_empty_ = false;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE DrawUnderline(void*, FLOAT x, FLOAT y,
                                            const DWRITE_UNDERLINE* underline,
                                            IUnknown* effect) override {
        if (shown_ && !shown_(y)) {
            return S_OK;
        }
        add_stroke(x, y + underline->offset, underline->width, underline->thickness, effect);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DrawStrikethrough(void*, FLOAT x, FLOAT y,
                                                const DWRITE_STRIKETHROUGH* strikethrough,
                                                IUnknown* effect) override {
        if (shown_ && !shown_(y)) {
            return S_OK;
        }
        add_stroke(x, y + strikethrough->offset, strikethrough->width, strikethrough->thickness,
                   effect);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DrawInlineObject(void*, FLOAT, FLOAT, IDWriteInlineObject*, BOOL,
                                               BOOL, IUnknown*) override {
        inline_object_ = true;
        return S_OK;
    }

    // Whether joining saves Direct2D runs that the layout split around empty ones, and nothing
    // is there that only DrawTextLayout draws.
    bool worth_joining() const { return split_ && !inline_object_; }
    std::size_t runs_given() const { return runs_given_; }

    std::size_t draw(ID2D1Brush* brush) const {
        for (const JoinedRun& joined : runs_) {
            const DWRITE_GLYPH_RUN run{
                .fontFace = joined.face.get(),
                .fontEmSize = joined.em_size,
                .glyphCount = static_cast<UINT32>(joined.indices.size()),
                .glyphIndices = joined.indices.data(),
                .glyphAdvances = joined.advances.data(),
                .glyphOffsets = joined.offsets.data(),
                .isSideways = joined.sideways,
                .bidiLevel = joined.bidi_level,
            };
            target_->DrawGlyphRun(joined.origin, &run, brush_for(joined.effect, brush).get(),
                                  joined.measuring);
        }
        for (const Stroke& stroke : strokes_) {
            target_->FillRectangle(stroke.rect, brush_for(stroke.effect, brush).get());
        }
        return runs_.size();
    }

private:
    float dpi_y() const {
        FLOAT x = dips_per_inch;
        FLOAT y = dips_per_inch;
        target_->GetDpi(&x, &y);
        return y;
    }

    // At least one pixel thick, as Direct2D draws a line thinner than that.
    void add_stroke(float x, float top, float width, float thickness, IUnknown* effect) {
        D2D1_MATRIX_3X2_F matrix;
        target_->GetTransform(&matrix);
        const float scale = dpi_y() / dips_per_inch * std::hypot(matrix._21, matrix._22);
        const float pixel = scale > 0.0f ? 1.0f / scale : thickness;
        const D2D1_RECT_F rect{x, top, x + width, top + std::max(thickness, pixel)};
        if (forward_brush_ != nullptr) {
            target_->FillRectangle(rect, brush_for(effect, forward_brush_).get());
        } else {
            strokes_.push_back({rect, effect});
        }
    }

    static ComPtr<ID2D1Brush> brush_for(IUnknown* effect, ID2D1Brush* brush) {
        ComPtr<ID2D1Brush> chosen;
        if (effect == nullptr ||
            FAILED(effect->QueryInterface(__uuidof(ID2D1Brush),
                                          reinterpret_cast<void**>(chosen.put())))) {
            chosen = ComPtr<ID2D1Brush>::share(brush);
        }
        return chosen;
    }

    ID2D1RenderTarget* target_;
    std::function<bool(float)> shown_;
    ID2D1Brush* forward_brush_ = nullptr;
    std::vector<JoinedRun> runs_;
    std::vector<Stroke> strokes_;
    std::size_t runs_given_ = 0;
    bool after_empty_ = false; // a run without glyphs came since the last glyphs
    bool split_ = false;       // two runs joined across one without glyphs
    bool inline_object_ = false;
};

} // namespace

bool splits_glyph_runs(std::u16string_view text) {
    return std::any_of(text.begin(), text.end(), [](char16_t c) {
        return c == 0x00AD || c == 0x034F || c == 0x061C || c == 0x115F || c == 0x1160 ||
               c == 0x17B4 || c == 0x17B5 || (c >= 0x180B && c <= 0x180F) ||
               (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) ||
               (c >= 0x2060 && c <= 0x206F) || c == 0x3164 || c == 0xFEFF || c == 0xFFA0 ||
               (c >= 0xFFF0 && c <= 0xFFF8) ||
               // The high surrogates of the tag characters, U+E0000 to U+E0FFF.
               (c >= 0xDB40 && c <= 0xDB43);
    });
}

std::size_t draw_text_layout(ID2D1RenderTarget* target, D2D1_POINT_2F origin,
                             IDWriteTextLayout* layout, ID2D1Brush* brush, bool split_text) {
    if (!split_text) {
        target->DrawTextLayout(origin, layout, brush, D2D1_DRAW_TEXT_OPTIONS_NONE);
        return 0;
    }
    RunGatherer gatherer(target);
    if (SUCCEEDED(layout->Draw(nullptr, &gatherer, origin.x, origin.y)) &&
        gatherer.worth_joining()) {
        return gatherer.draw(brush);
    }
    target->DrawTextLayout(origin, layout, brush, D2D1_DRAW_TEXT_OPTIONS_NONE);
    return gatherer.runs_given();
}

std::size_t draw_text_rows(ID2D1RenderTarget* target, D2D1_POINT_2F origin,
                           IDWriteTextLayout* layout, ID2D1Brush* brush, bool split_text,
                           const std::function<bool(float top, float bottom)>& row_shown) {
    UINT32 count = 0;
    layout->GetLineMetrics(nullptr, 0, &count);
    std::vector<DWRITE_LINE_METRICS> metrics(count);
    if (FAILED(layout->GetLineMetrics(metrics.data(), count, &count))) {
        draw_text_layout(target, origin, layout, brush, split_text);
        return count;
    }
    // Each row's bottom and whether it is drawn; a baseline lies inside its row.
    std::vector<std::pair<float, bool>> rows;
    std::size_t drawn = 0;
    float top = origin.y;
    for (const DWRITE_LINE_METRICS& row : metrics) {
        const bool shown = row_shown(top, top + row.height);
        rows.emplace_back(top + row.height, shown);
        drawn += shown ? 1 : 0;
        top += row.height;
    }
    if (drawn == 0) {
        return 0;
    }
    if (drawn == rows.size()) {
        draw_text_layout(target, origin, layout, brush, split_text);
        return drawn;
    }
    const auto shown = [&rows](float baseline) {
        const auto row =
            std::upper_bound(rows.begin(), rows.end(), baseline,
                             [](float y, const std::pair<float, bool>& r) { return y < r.first; });
        return row == rows.end() || row->second;
    };
    RunGatherer gatherer(target);
    gatherer.keep_only(shown, split_text ? nullptr : brush);
    if (FAILED(layout->Draw(nullptr, &gatherer, origin.x, origin.y))) {
        draw_text_layout(target, origin, layout, brush, split_text);
    } else if (split_text) {
        if (gatherer.worth_joining()) {
            gatherer.draw(brush);
        } else {
            // Nothing was split: the gathered runs go as DrawTextLayout would hand them.
            RunGatherer forward(target);
            forward.keep_only(shown, brush);
            layout->Draw(nullptr, &forward, origin.x, origin.y);
        }
    }
    return drawn;
}

} // namespace pellix
