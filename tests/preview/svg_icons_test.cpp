#include <gtest/gtest.h>

#include <shlwapi.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/palette_table.h"
#include "platform/dib_surface.h"
#include "preview/svg_icons.h"

namespace pellix {
namespace {

// A 32-bit top-down memory bitmap selected into its own DC, filled with one colour.
class Canvas {
public:
    Canvas(int size, COLORREF fill) : surface_(size, size), dc(surface_.dc()) {
        auto* bits = static_cast<std::uint32_t*>(surface_.bits());
        std::fill(bits, bits + size * size, colour_from_colorref(fill));
    }
    // 0x00RRGGBB of a pixel.
    std::uint32_t at(int x, int y) const { return surface_.pixel(x, y); }

private:
    DibSurface surface_; // made before `dc`, which it owns

public:
    HDC dc;
};

// A premultiplied glyph bitmap made from coverage values the way a render leaves them.
HBITMAP glyph_bitmap(HDC dc, const std::vector<std::uint8_t>& alphas, int size, COLORREF colour) {
    std::vector<std::uint8_t> pixels(alphas.size() * 4);
    for (size_t i = 0; i < alphas.size(); ++i) {
        pixels[i * 4 + 3] = alphas[i];
    }
    tint_glyph_pixels(pixels, colour);
    const BITMAPINFO info = top_down_bitmap_info(size, size);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    std::copy(pixels.begin(), pixels.end(), static_cast<std::uint8_t*>(bits));
    return bitmap;
}

class SvgIcons : public ::testing::Test {
protected:
    void TearDown() override { clear_icon_cache(); }
    HMODULE module = GetModuleHandleW(nullptr);
    Canvas canvas{32, RGB(255, 255, 255)};
};

TEST_F(SvgIcons, TintingPremultipliesTheRequestedColour) {
    std::array<std::uint8_t, 12> pixels{0, 0, 0, 255, 0, 0, 0, 128, 9, 9, 9, 0};
    tint_glyph_pixels(pixels, RGB(255, 0, 0));
    EXPECT_EQ(pixels, (std::array<std::uint8_t, 12>{0, 0, 255, 255, 0, 0, 128, 128, 0, 0, 0, 0}));
    std::array<std::uint8_t, 4> grey{0, 0, 0, 51};
    tint_glyph_pixels(grey, RGB(10, 20, 30));
    // (30 x 51 + 127) / 255 = 6, (20 x 51 + 127) / 255 = 4, (10 x 51 + 127) / 255 = 2.
    EXPECT_EQ(grey, (std::array<std::uint8_t, 4>{6, 4, 2, 51}));
}

TEST_F(SvgIcons, BlendingAGlyphBitmapOntoADeviceContext) {
    const std::vector<std::uint8_t> alphas{255, 128, 0, 0, 255, 255, 255, 255,
                                           0,   0,   0, 0, 0,   0,   0,   0};
    HBITMAP glyph = glyph_bitmap(canvas.dc, alphas, 4, RGB(255, 0, 0));
    const RECT rect{2, 3, 6, 7};
    ASSERT_EQ(blend_icon(canvas.dc, rect, glyph), S_OK);
    EXPECT_EQ(canvas.at(2, 3), 0xFF0000u);
    // Half coverage over white: 128 of red plus (255 - 128) of white.
    EXPECT_EQ(canvas.at(3, 3), 0xFF7F7Fu);
    EXPECT_EQ(canvas.at(4, 3), 0xFFFFFFu);
    EXPECT_EQ(canvas.at(1, 3), 0xFFFFFFu);
    DeleteObject(glyph);
}

TEST_F(SvgIcons, RectanglesAreCheckedBeforeAnythingElse) {
    const RECT tall{0, 0, 20, 24};
    const RECT empty{5, 5, 5, 5};
    const RECT too_large{0, 0, 513, 513};
    const RECT largest{0, 0, 512, 512};
    EXPECT_EQ(draw_icon(module, icon_id::close, canvas.dc, nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(draw_icon(module, icon_id::close, nullptr, &largest, 0), E_INVALIDARG);
    EXPECT_EQ(draw_icon(module, icon_id::close, canvas.dc, &tall, 0), E_INVALIDARG);
    EXPECT_EQ(draw_icon(module, icon_id::close, canvas.dc, &empty, 0), E_INVALIDARG);
    EXPECT_EQ(draw_icon(module, icon_id::close, canvas.dc, &too_large, 0), E_INVALIDARG);
    EXPECT_TRUE(icon_cache().empty());
    EXPECT_NE(draw_icon(module, icon_id::close, canvas.dc, &largest, 0), E_INVALIDARG);
    EXPECT_EQ(icon_cache().size(), 1u);
}

TEST_F(SvgIcons, FailuresAreCachedPerKeyAndTheCacheEmptiesWhenFull) {
    const RECT rect{0, 0, 16, 16};
    EXPECT_EQ(draw_icon(module, 799, canvas.dc, &rect, RGB(1, 2, 3)), E_FAIL);
    EXPECT_EQ(draw_icon(module, 799, canvas.dc, &rect, RGB(1, 2, 3)), E_FAIL);
    ASSERT_EQ(icon_cache().size(), 1u);
    EXPECT_EQ(icon_cache()[0].bitmap, nullptr);
    EXPECT_EQ(icon_cache()[0].result, E_FAIL);
    for (std::uint32_t id = 1; id < 128; ++id) {
        draw_icon(module, 2000 + id, canvas.dc, &rect, 0);
    }
    EXPECT_EQ(icon_cache().size(), 128u);
    draw_icon(module, 799, canvas.dc, &rect, RGB(1, 2, 3));
    EXPECT_EQ(icon_cache().size(), 128u);
    draw_icon(module, 799, canvas.dc, &rect, RGB(3, 2, 1));
    ASSERT_EQ(icon_cache().size(), 1u);
    EXPECT_EQ(icon_cache()[0].colour, RGB(3, 2, 1));
}

TEST_F(SvgIcons, GlyphsRenderOncePerColour) {
    const RECT rect{8, 8, 24, 24};
    ASSERT_EQ(draw_icon(module, icon_id::add, canvas.dc, &rect, RGB(200, 0, 0)), S_OK);
    draw_icon(module, icon_id::add, canvas.dc, &rect, RGB(0, 0, 200));
    EXPECT_EQ(draw_icon(module, icon_id::add, canvas.dc, &rect, RGB(200, 0, 0)), S_OK);
    ASSERT_EQ(icon_cache().size(), 2u);
    // The plus sign's vertical stroke runs down x = 7.5 of the 16-unit glyph; its corners stay
    // clear.
    EXPECT_EQ(canvas.at(8 + 7, 8 + 8) & 0xFF0000, 0xC80000u);
    EXPECT_EQ(canvas.at(8 + 1, 8 + 1), 0xFFFFFFu);
    EXPECT_NE(icon_cache()[0].bitmap, nullptr);
}

// Every glyph leaves ink, and only inside the square it was asked to fill.
TEST_F(SvgIcons, EveryGlyphDrawsInkInsideItsSquare) {
    constexpr int size = 24;
    const RECT square{4, 4, 4 + size, 4 + size};
    for (std::uint32_t id = icon_id::source_view; id <= icon_id::compare; ++id) {
        Canvas sheet{32, RGB(255, 255, 255)};
        ASSERT_EQ(draw_icon(module, id, sheet.dc, &square, RGB(0, 0, 0)), S_OK) << id;
        int inside = 0;
        int outside = 0;
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                const bool inked = sheet.at(x, y) != 0xFFFFFFu;
                const bool within =
                    x >= square.left && x < square.right && y >= square.top && y < square.bottom;
                (within ? inside : outside) += inked ? 1 : 0;
            }
        }
        EXPECT_GE(inside, size / 2) << id;
        EXPECT_EQ(outside, 0) << id;
    }
}

// Where the system draws SVG documents, the figures drawn in their place cover the same pixels.
TEST_F(SvgIcons, FiguresCoverWhatTheSvgDocumentCovers) {
    SvgRenderer* renderer = nullptr;
    ASSERT_EQ(shared_svg_renderer(renderer), S_OK);
    if (!renderer->context) {
        GTEST_SKIP() << "This system's Direct2D draws no SVG documents; only figures are drawn.";
    }
    SvgRenderer figures_only = *renderer;
    figures_only.figures_context = renderer->context;
    figures_only.context = nullptr;
    constexpr int size = 32;
    const RECT area{0, 0, size, size};
    for (std::uint32_t id = icon_id::source_view; id <= icon_id::compare; ++id) {
        HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), RT_RCDATA);
        const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
        IStream* stream = SHCreateMemStream(bytes, SizeofResource(module, found));
        HBITMAP document = nullptr;
        HBITMAP figures = nullptr;
        ASSERT_EQ(render_svg(*renderer, stream, canvas.dc, &area, true, 0, &document), S_OK);
        ASSERT_EQ(render_svg(figures_only, stream, canvas.dc, &area, true, 0, &figures), S_OK);
        stream->Release();
        DIBSECTION a{};
        DIBSECTION b{};
        GetObjectW(document, sizeof(a), &a);
        GetObjectW(figures, sizeof(b), &b);
        const auto* left = static_cast<const std::uint8_t*>(a.dsBm.bmBits);
        const auto* right = static_cast<const std::uint8_t*>(b.dsBm.bmBits);
        int differing = 0;
        for (int i = 0; i < size * size; ++i) {
            differing += std::abs(left[i * 4 + 3] - right[i * 4 + 3]) > 64 ? 1 : 0;
        }
        EXPECT_LE(differing, size / 4) << id;
        DeleteObject(document);
        DeleteObject(figures);
    }
}

TEST_F(SvgIcons, StageLinesNameTheStageAndTheResultInLowerCaseHex) {
    EXPECT_EQ(svg_stage_line("parsing embedded SVG", static_cast<HRESULT>(0x8899000C)),
              "SVG stage: parsing embedded SVG, HRESULT=0x8899000c\n");
    EXPECT_EQ(svg_stage_line("drawing SVG", 1), "SVG stage: drawing SVG, HRESULT=0x1\n");
}

} // namespace
} // namespace pellix
