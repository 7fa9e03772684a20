#pragma once

// The window chrome's small icons: 16 x 16 SVG glyphs stored as RT_RCDATA resources 801-813,
// rendered once per size and colour with Direct2D's SVG support on a software Direct3D device,
// tinted, cached as premultiplied GDI bitmaps and alpha-blended onto a device context. Nothing
// here throws; failures are written to the error stream and answered as HRESULTs, and a caller
// draws its text face instead. Where the system's Direct2D cannot draw SVG documents (Wine), a
// glyph's strokes are read from the same SVG text and drawn as path geometry on the same device,
// so the figures stay the same; the About box's picture then fails with E_NOINTERFACE, silently.
// UI thread only.

#include <windows.h>
#include <d2d1_1.h>
#include <d3d11.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/d2d_svg.h"

namespace pellix {

// The glyph resource ids.
namespace icon_id {
inline constexpr std::uint32_t source_view = 801;
inline constexpr std::uint32_t split_view = 802;
inline constexpr std::uint32_t preview_view = 803;
inline constexpr std::uint32_t outline = 804;
inline constexpr std::uint32_t watch = 805;
inline constexpr std::uint32_t close = 806;
inline constexpr std::uint32_t add = 807;
inline constexpr std::uint32_t more = 808;
inline constexpr std::uint32_t chevron_up = 809;
inline constexpr std::uint32_t chevron_down = 810;
inline constexpr std::uint32_t match_case = 811;
inline constexpr std::uint32_t whole_word = 812;
inline constexpr std::uint32_t compare = 813;
} // namespace icon_id

struct SvgRenderer {
    ID2D1Factory1* factory = nullptr;
    ID3D11Device* d3d_device = nullptr;
    ID2D1Device* device = nullptr;
    ID2D1DeviceContext5* context = nullptr;
    // Where the system has no SVG documents: the plain context that draws glyphs as geometry.
    ID2D1DeviceContext* figures_context = nullptr;
};

struct IconCacheEntry {
    HMODULE module = nullptr;
    std::uint32_t resource_id = 0;
    std::int32_t size = 0;
    std::uint32_t colour = 0; // COLORREF
    HBITMAP bitmap = nullptr; // owned; null when rendering failed
    HRESULT result = S_OK;
};

// Draws glyph `resource_id` of `module` into the square `rect` (at most 512 pixels wide) on
// `dc`, tinted with `colour`. E_INVALIDARG for a null dc or rect, an empty, non-square or too
// large rect.
HRESULT draw_icon(HMODULE module, std::uint32_t resource_id, HDC dc, const RECT* rect,
                  COLORREF colour);

// Deletes every cached bitmap and empties the cache (for DPI and theme changes).
void clear_icon_cache();

// The cache, oldest entry first.
const std::vector<IconCacheEntry>& icon_cache();

HRESULT create_svg_renderer(SvgRenderer& renderer);
void release_svg_renderer(SvgRenderer* renderer);
// The one renderer of the process (icons and the About box's picture), made on first use. A
// failed creation is answered from then on without trying again.
HRESULT shared_svg_renderer(SvgRenderer*& renderer);
// Releases the renderer the icons share; it must go before COM ends. The next icon that misses
// the cache makes a new one.
void release_icon_renderer();

// Renders an SVG stream into rect's size: with `glyph`, a new tinted bitmap in *out on a 16 x 16
// viewport; otherwise a 250 x 50 picture on white painted onto dc at the rect's corner.
HRESULT render_svg(SvgRenderer& renderer, IStream* svg, HDC dc, const RECT* rect, bool glyph,
                   COLORREF colour, HBITMAP* out);

// Turns rendered coverage (32-bit pixels, alpha in byte 3) into premultiplied `colour`.
void tint_glyph_pixels(std::span<std::uint8_t> pixels, COLORREF colour);

// Alpha-blends a premultiplied square bitmap onto dc at rect.
HRESULT blend_icon(HDC dc, const RECT& rect, HBITMAP bitmap);

// "SVG stage: <stage>, HRESULT=0x<hex>\n", the line written for a failed stage.
std::string svg_stage_line(const char* stage, HRESULT hr);
void log_svg_stage(const char* stage, HRESULT hr);

} // namespace pellix
