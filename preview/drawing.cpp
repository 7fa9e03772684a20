#include "preview/drawing.h"

#include <algorithm>
#include <cmath>

#include "platform/ballot_boxes.h"
#include "platform/text_drawing.h"
#include "platform/text_hit_test.h"
#include "preview/text_pieces.h"

namespace pellix {
namespace {

using Range = std::pair<std::uint64_t, std::uint64_t>;

D2D1_COLOR_F colour(std::uint32_t rgb, float alpha = 1.0f) {
    return D2D1::ColorF(static_cast<float>((rgb >> 16) & 0xFF) / 255.0f,
                        static_cast<float>((rgb >> 8) & 0xFF) / 255.0f,
                        static_cast<float>(rgb & 0xFF) / 255.0f, alpha);
}

void create_brush_set(Brushes& brushes, ID2D1RenderTarget* target) {
    Brushes created;
    for (ComPtr<ID2D1SolidColorBrush>* slot :
         {&created.text, &created.muted, &created.link, &created.code_fill, &created.selection,
          &created.find_match, &created.contrast_text}) {
        throw_if_failed(target->CreateSolidColorBrush(D2D1::ColorF(0, 0, 0), slot->put()),
                        "Create preview brush");
    }
    brushes = std::move(created);
}

// Everything one block's drawing needs besides the block itself.
struct Paint {
    ID2D1RenderTarget* target;
    const PreviewDocument& document;
    const Layout& layout;
    float s;
    Range selection;
    const std::vector<Range>& matches;
    Brushes& brushes;
    bool high_contrast;
    float top; // the band being drawn
    float bottom;
};

// [from, to) of the document clipped to the block's content, relative to its layout; empty
// when they do not meet.
bool clip_to_block(const LayoutBlock& block, std::uint64_t from, std::uint64_t to,
                   DWRITE_TEXT_RANGE& range) {
    const std::uint64_t begin = std::max(from, block.text_start);
    const std::uint64_t end = std::min(to, block.text_start + block.text_length);
    if (begin >= end) {
        return false;
    }
    range = {static_cast<UINT32>(begin - block.text_start), static_cast<UINT32>(end - begin)};
    return true;
}

bool piece_in_band(const Paint& paint, const LayoutBlock& block, const TextPiece& piece) {
    const float top = block.y + piece.top;
    return top <= paint.bottom && top + piece.height >= paint.top;
}

// Only the pieces in the band are drawn, so only they take (and give back) drawing effects: a
// link over a long block would otherwise touch every piece of it at every paint.
void set_drawing_effect(const Paint& paint, const LayoutBlock& block, IUnknown* effect,
                        DWRITE_TEXT_RANGE range, const char* stage) {
    for_each_piece_range(block, range, [&](const TextPiece& piece, DWRITE_TEXT_RANGE part) {
        if (piece_in_band(paint, block, piece)) {
            throw_if_failed(piece.layout->SetDrawingEffect(effect, part), stage);
        }
    });
}

// Only the pieces in the band: a selection over a long block would hit-test all of them.
void fill_range(const Paint& paint, const LayoutBlock& block, const DWRITE_TEXT_RANGE& range,
                ID2D1Brush* brush) {
    for_each_piece_range(block, range, [&](const TextPiece& piece, DWRITE_TEXT_RANGE part) {
        if (piece_in_band(paint, block, piece)) {
            for_each_range_rect(
                piece.layout.get(), part.startPosition, part.length, block.x + piece.left,
                block.y + piece.top,
                [&](const D2D1_RECT_F& rect) { paint.target->FillRectangle(rect, brush); });
        }
    });
}

// The rules of headings and tables are 0.5 DIP wide. Where a device pixel is wider than that,
// such a line between two pixels' centres leaves each a quarter of its ink and all but vanishes,
// so it takes one whole pixel, on a pixel's centre.
struct ThinLines {
    explicit ThinLines(ID2D1RenderTarget* target) {
        FLOAT dpi_y = 0;
        target->GetDpi(&dpi_x, &dpi_y);
        target->GetTransform(&transform);
        pixel = dips_per_inch / std::max(dpi_x, 1.0f);
        width = std::max(thin_rule, pixel);
    }
    // The pixel centre nearest a coordinate, in the target's current transform.
    float x(float at) const { return centre(at, transform._31); }
    float y(float at) const { return centre(at, transform._32); }

    float dpi_x = 0;
    float pixel = 1;
    float width = thin_rule;

private:
    static constexpr float dips_per_inch = 96.0f;
    static constexpr float thin_rule = 0.5f;
    float centre(float at, float offset) const {
        return (std::floor((at + offset) / pixel) + 0.5f) * pixel - offset;
    }
    D2D1_MATRIX_3X2_F transform{};
};

void draw_cell_frame(const Paint& paint, const PreviewBlock& source, const LayoutBlock& block) {
    const float top = block.y - 8.0f * paint.s;
    const D2D1_RECT_F cell{block.cell_x, top, block.cell_x + block.cell_width,
                           top + block.row_height};
    if (source.header != 0) {
        paint.target->FillRectangle(cell, paint.brushes.code_fill.get());
    }
    const ThinLines thin(paint.target);
    paint.target->DrawRectangle(
        {thin.x(cell.left), thin.y(cell.top), thin.x(cell.right), thin.y(cell.bottom)},
        paint.brushes.muted.get(), thin.width);
}

void draw_code_background(const Paint& paint, const LayoutBlock& block) {
    const float s = paint.s;
    const float right = std::max(paint.layout.width - 24.0f, block.x + block.width + 12.0f * s);
    const D2D1_ROUNDED_RECT box{
        {block.x - 12.0f * s, block.y - 8.0f * s, right, block.y + block.height + 8.0f * s},
        4.0f,
        4.0f};
    paint.target->FillRoundedRectangle(box, paint.brushes.code_fill.get());
}

void draw_quote_bar(const Paint& paint, const LayoutBlock& block) {
    const float x = block.x - 14.0f * paint.s;
    paint.target->DrawLine({x, block.y}, {x, block.y + block.height}, paint.brushes.link.get(),
                           3.0f * paint.s);
}

// Inline code backgrounds (outside code blocks) and link colours.
void apply_runs(const Paint& paint, const PreviewBlock& source, const LayoutBlock& block) {
    for_each_block_run(
        paint.document.runs, block, [&](const PreviewRun& run, const DWRITE_TEXT_RANGE& range) {
            if ((run.style & PreviewStyle::code) && source.kind != PreviewBlockKind::code_block) {
                fill_range(paint, block, range, paint.brushes.code_fill.get());
            }
            if (!run.link.empty()) {
                set_drawing_effect(paint, block, paint.brushes.link.get(), range,
                                   "Color preview link");
            }
        });
}

// The first of the sorted matches that ends after the start of the block's content.
std::vector<Range>::const_iterator first_match_in(const std::vector<Range>& matches,
                                                  const LayoutBlock& block) {
    const std::uint64_t begin = block.text_start;
    return std::partition_point(matches.begin(), matches.end(),
                                [begin](const Range& m) { return m.second <= begin; });
}

// Matches that touch end to start are filled as one range, so their shared edge is not
// painted twice with the translucent brush.
void fill_matches(const Paint& paint, const LayoutBlock& block) {
    const std::uint64_t end = block.text_start + block.text_length;
    auto match = first_match_in(paint.matches, block);
    while (match != paint.matches.end() && match->first < end) {
        Range merged = *match;
        for (++match; match != paint.matches.end() && match->first == merged.second; ++match) {
            merged.second = match->second;
        }
        DWRITE_TEXT_RANGE range{};
        if (clip_to_block(block, merged.first, merged.second, range)) {
            fill_range(paint, block, range, paint.brushes.find_match.get());
        }
    }
}

void colour_contrast_text(const Paint& paint, const LayoutBlock& block) {
    const std::uint64_t end = block.text_start + block.text_length;
    auto apply = [&](std::uint64_t from, std::uint64_t to) {
        DWRITE_TEXT_RANGE range{};
        if (clip_to_block(block, from, to, range)) {
            set_drawing_effect(paint, block, paint.brushes.contrast_text.get(), range,
                               "Color contrast selection");
        }
    };
    for (auto match = first_match_in(paint.matches, block);
         match != paint.matches.end() && match->first < end; ++match) {
        apply(match->first, match->second);
    }
    apply(paint.selection.first, paint.selection.second);
}

// A task's box is the last character of its marker. Where the system has no glyph for it, the
// marker's text is drawn up to the box and the box as a figure, so that checked and unchecked
// differ.
void draw_marker_text(const Paint& paint, const PreviewBlock& source, const LayoutBlock& block,
                      D2D1_POINT_2F origin) {
    IDWriteTextLayout* marker = block.marker_layout.get();
    const UINT32 box =
        source.marker_length >= 2 ? static_cast<UINT32>(source.marker_length - 2) : 0;
    if (source.task < 0 || source.marker_length < 2 || draws_glyph_at(marker, box)) {
        paint.target->DrawTextLayout(origin, marker, paint.brushes.text.get(),
                                     D2D1_DRAW_TEXT_OPTIONS_NONE);
        return;
    }
    const D2D1_RECT_F cell = character_cell(marker, box, origin);
    if (box > 0) {
        paint.target->PushAxisAlignedClip({origin.x, cell.top, cell.left, cell.bottom},
                                          D2D1_ANTIALIAS_MODE_ALIASED);
        paint.target->DrawTextLayout(origin, marker, paint.brushes.text.get(),
                                     D2D1_DRAW_TEXT_OPTIONS_NONE);
        paint.target->PopAxisAlignedClip();
    }
    draw_ballot_box(paint.target, paint.brushes.text.get(), marker, box, origin, source.task == 1);
}

void draw_marker(const Paint& paint, const PreviewBlock& source, const LayoutBlock& block) {
    const float left = block.x - block.marker_width;
    if (paint.selection.first < block.text_start && paint.selection.second > source.start) {
        paint.target->FillRectangle({left, block.y, block.x, block.y + block.height},
                                    paint.brushes.selection.get());
    }
    draw_marker_text(paint, source, block, {left, block.y});
}

// Effects hold brushes of this target, and the layouts outlive it: a paint that fails half-way
// must not leave a brush behind, so the effects are cleared on every way out.
class EffectsCleared {
public:
    EffectsCleared(const Paint& paint, const LayoutBlock& block) : paint_(paint), block_(block) {}
    ~EffectsCleared() {
        for (const TextPiece& piece : block_.pieces) {
            if (piece_in_band(paint_, block_, piece)) {
                piece.layout->SetDrawingEffect(nullptr, {0, static_cast<UINT32>(piece.length)});
            }
        }
    }
    EffectsCleared(const EffectsCleared&) = delete;
    EffectsCleared& operator=(const EffectsCleared&) = delete;

private:
    const Paint& paint_;
    const LayoutBlock& block_;
};

void draw_block_text(const Paint& paint, const PreviewBlock& source, const LayoutBlock& block) {
    EffectsCleared cleared(paint, block);
    apply_runs(paint, source, block);
    fill_matches(paint, block);
    DWRITE_TEXT_RANGE selected{};
    if (clip_to_block(block, paint.selection.first, paint.selection.second, selected)) {
        fill_range(paint, block, selected, paint.brushes.selection.get());
    }
    if (paint.high_contrast) {
        colour_contrast_text(paint, block);
    }
    ID2D1Brush* ink = source.kind == PreviewBlockKind::quote ? paint.brushes.muted.get()
                                                             : paint.brushes.text.get();
    for (const TextPiece& piece : block.pieces) {
        if (piece_in_band(paint, block, piece)) {
            draw_text_layout(paint.target, {block.x + piece.left, block.y + piece.top},
                             piece.layout.get(), ink, piece.split_text);
        }
    }
}

void draw_text_block(const Paint& paint, const PreviewBlock& source, const LayoutBlock& block) {
    if (source.kind == PreviewBlockKind::code_block && source.has_code != 0) {
        draw_code_background(paint, block);
    }
    if (source.kind == PreviewBlockKind::quote) {
        draw_quote_bar(paint, block);
    }
    if (!block.pieces.empty()) {
        draw_block_text(paint, source, block);
    }
    if (block.marker_layout) {
        draw_marker(paint, source, block);
    }
    if (source.kind == PreviewBlockKind::heading && (source.level == 1 || source.level == 2)) {
        const ThinLines thin(paint.target);
        const float line_y = thin.y(block.y + block.height);
        paint.target->DrawLine({block.x, line_y}, {paint.layout.width - 24.0f, line_y},
                               paint.brushes.muted.get(), thin.width);
    }
}

void draw_block(const Paint& paint, const PreviewBlock& source, const LayoutBlock& block) {
    if (source.kind == PreviewBlockKind::table_cell) {
        draw_cell_frame(paint, source, block);
    }
    if (source.kind == PreviewBlockKind::rule) {
        const float line_y = block.y + 8.0f * paint.s;
        paint.target->DrawLine({block.x, line_y}, {paint.layout.width - 24.0f, line_y},
                               paint.brushes.muted.get(), 1.0f);
        return;
    }
    draw_text_block(paint, source, block);
}

bool meets_band(const PreviewBlock& source, const LayoutBlock& block, float top, float bottom) {
    const float reach =
        source.kind == PreviewBlockKind::table_cell ? block.row_height : block.height;
    return !(top > block.y + reach || block.y > bottom);
}

} // namespace

void create_brushes(Brushes& brushes, ID2D1RenderTarget* target, const PaintColours& colours,
                    bool print) {
    if (!brushes.text) {
        create_brush_set(brushes, target);
    }
    const PaletteTable& table = colours.table;
    const bool high_contrast = colours.high_contrast;
    const std::uint32_t highlight_text =
        static_cast<std::uint32_t>(colour_from_colorref(GetSysColor(COLOR_HIGHLIGHTTEXT)));
    if (print) {
        brushes.text->SetColor(D2D1::ColorF(0, 0, 0));
        brushes.muted->SetColor(D2D1::ColorF(0.2f, 0.2f, 0.2f));
        brushes.link->SetColor(D2D1::ColorF(0, 0, 0));
        brushes.code_fill->SetColor(D2D1::ColorF(0.941176f, 0.945098f, 0.94902f));
    } else {
        brushes.text->SetColor(colour(table[palette_slot::text]));
        brushes.muted->SetColor(colour(table[palette_slot::muted]));
        brushes.link->SetColor(colour(table[palette_slot::link]));
        brushes.code_fill->SetColor(colour(table[palette_slot::code_background]));
    }
    brushes.selection->SetColor(
        colour(table[palette_slot::selection], high_contrast ? 1.0f : 0.4f));
    brushes.find_match->SetColor(high_contrast ? colour(table[palette_slot::selection])
                                               : D2D1::ColorF(1.0f, 0.741176f, 0.207843f, 0.5f));
    brushes.contrast_text->SetColor(colour(highlight_text));
}

void draw_document(ID2D1RenderTarget* target, const PreviewDocument& document, Layout& layout,
                   const PaintColours& colours, float top, float bottom, float scale,
                   const View& view,
                   const std::vector<std::pair<std::uint64_t, std::uint64_t>>& matches, bool print,
                   Brushes& brushes) {
    create_brushes(brushes, target, colours, print);
    const Paint paint{target,
                      document,
                      layout,
                      scale,
                      {std::min(view.anchor, view.caret), std::max(view.anchor, view.caret)},
                      matches,
                      brushes,
                      colours.high_contrast,
                      top,
                      bottom};
    const size_t count = std::min(layout.blocks.size(), document.blocks.size());
    auto first = std::lower_bound(layout.bottom_bounds.begin(), layout.bottom_bounds.end(), top);
    for (size_t i = static_cast<size_t>(first - layout.bottom_bounds.begin()); i < count; ++i) {
        const LayoutBlock& block = layout.blocks[i];
        if (block.y > bottom + 16.0f * scale) {
            break;
        }
        if (meets_band(document.blocks[i], block, top, bottom)) {
            draw_block(paint, document.blocks[i], block);
        }
    }
}

void for_each_range_rect(IDWriteTextLayout* layout, std::uint32_t start, std::uint32_t length,
                         float x, float y, const std::function<void(const D2D1_RECT_F&)>& visit) {
    if (!visit) {
        throw std::bad_function_call();
    }
    UINT32 count = 0;
    hit_test_text_range(layout, start, length, x, y, nullptr, 0, &count);
    std::vector<DWRITE_HIT_TEST_METRICS> metrics(count);
    throw_if_failed(hit_test_text_range(layout, start, length, x, y, metrics.data(), count, &count),
                    "Hit test preview range");
    metrics.resize(std::min<size_t>(count, metrics.size()));
    for (const DWRITE_HIT_TEST_METRICS& m : metrics) {
        visit({m.left, m.top, m.left + m.width, m.top + m.height});
    }
}

void for_each_range_rect(const LayoutBlock& block, std::uint32_t start, std::uint32_t length,
                         float x, float y, const std::function<void(const D2D1_RECT_F&)>& visit) {
    for_each_piece_range(block, {start, length},
                         [&](const TextPiece& piece, DWRITE_TEXT_RANGE part) {
                             for_each_range_rect(piece.layout.get(), part.startPosition,
                                                 part.length, x + piece.left, y + piece.top, visit);
                         });
}

} // namespace pellix
