#pragma once

#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "core/palette_table.h"
#include "markdown/preview_document.h"
#include "platform/com_ptr.h"
#include "preview/layout.h"
#include "preview/view.h"

namespace pellix {

// The seven solid brushes of one render target: all empty or all set. Members are released in
// reverse order (slot 6 down to 0); a move takes every slot and leaves the source empty.
struct Brushes {
    ComPtr<ID2D1SolidColorBrush> text;          // body text, list markers
    ComPtr<ID2D1SolidColorBrush> muted;         // quote text, rules, borders, heading lines
    ComPtr<ID2D1SolidColorBrush> link;          // link text, quote bars
    ComPtr<ID2D1SolidColorBrush> code_fill;     // code and header-cell backgrounds
    ComPtr<ID2D1SolidColorBrush> selection;     // selection background
    ComPtr<ID2D1SolidColorBrush> find_match;    // find-match background
    ComPtr<ID2D1SolidColorBrush> contrast_text; // selected and found text in high contrast

    Brushes() = default;
    Brushes(const Brushes&) = delete;
    Brushes& operator=(const Brushes&) = delete;
    Brushes(Brushes&&) = default;
    Brushes& operator=(Brushes&&) = default;
};

// Creates the brushes on `target` when `brushes` is empty (all seven or none; "Create preview
// brush" on failure) and then colours them from `colours`, which the caller chose for the
// mode (the light or high-contrast table when printing); paper gets black text and links.
void create_brushes(Brushes& brushes, ID2D1RenderTarget* target, const PaintColours& colours,
                    bool print);

// Draws the blocks of the laid-out document that meet [top, bottom] (document DIPs) onto a
// target the caller has begun drawing on and transformed to document coordinates. `matches`
// are [start, end) text ranges sorted by start. Drawing effects set on the cached text layouts
// during the call are removed on every way out, so no layout keeps a brush of this target.
void draw_document(ID2D1RenderTarget* target, const PreviewDocument& document, Layout& layout,
                   const PaintColours& colours, float top, float bottom, float scale,
                   const View& view,
                   const std::vector<std::pair<std::uint64_t, std::uint64_t>>& matches, bool print,
                   Brushes& brushes);

// Calls `visit` with the rectangle of each line part of [start, start + length) of `layout`
// placed at (x, y). An empty `visit` throws std::bad_function_call.
void for_each_range_rect(IDWriteTextLayout* layout, std::uint32_t start, std::uint32_t length,
                         float x, float y, const std::function<void(const D2D1_RECT_F&)>& visit);

// The same over the pieces of a block's content: [start, start + length) is within the
// content, and the block is placed at (x, y).
void for_each_range_rect(const LayoutBlock& block, std::uint32_t start, std::uint32_t length,
                         float x, float y, const std::function<void(const D2D1_RECT_F&)>& visit);

} // namespace pellix
