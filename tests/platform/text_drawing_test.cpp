#include <gtest/gtest.h>
#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/com_ptr.h"
#include "platform/dib_surface.h"
#include "platform/text_drawing.h"

using pellix::ComPtr;

namespace {

constexpr int surface_width = 600;
constexpr int surface_height = 60;

std::wstring joined(const std::wstring& character, int count) {
    std::wstring text = character;
    for (int i = 1; i < count; ++i) {
        text += L"\u200D" + character;
    }
    return text;
}

class TextDrawing : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                      reinterpret_cast<IUnknown**>(dwrite_.put())),
                  S_OK);
        ASSERT_EQ(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, d2d_.put()), S_OK);
        const D2D1_RENDER_TARGET_PROPERTIES properties = D2D1::RenderTargetProperties(
            D2D1_RENDER_TARGET_TYPE_DEFAULT,
            D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_IGNORE));
        ASSERT_EQ(d2d_->CreateDCRenderTarget(&properties, target_.put()), S_OK);
        ASSERT_NE(surface_.dc(), nullptr);
        const RECT bounds{0, 0, surface_width, surface_height};
        ASSERT_EQ(target_->BindDC(surface_.dc(), &bounds), S_OK);
        ASSERT_EQ(target_->CreateSolidColorBrush(D2D1::ColorF(0x1E1E1E), ink_.put()), S_OK);
        ASSERT_EQ(target_->CreateSolidColorBrush(D2D1::ColorF(0x0078AA), link_.put()), S_OK);
    }

    ComPtr<IDWriteTextLayout> make_layout(const std::wstring& text) {
        ComPtr<IDWriteTextFormat> format;
        EXPECT_EQ(dwrite_->CreateTextFormat(L"Segoe UI", nullptr, DWRITE_FONT_WEIGHT_NORMAL,
                                            DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL,
                                            16.0f, L"en-US", format.put()),
                  S_OK);
        ComPtr<IDWriteTextLayout> layout;
        EXPECT_EQ(dwrite_->CreateTextLayout(text.c_str(), static_cast<UINT32>(text.size()),
                                            format.get(), surface_width, surface_height,
                                            layout.put()),
                  S_OK);
        return layout;
    }

    // The surface after one frame with `draw`, which answers the glyph runs it handed over.
    std::vector<std::uint32_t> frame(const std::function<void()>& draw) {
        target_->BeginDraw();
        target_->Clear(D2D1::ColorF(0xFAFAFA));
        draw();
        EXPECT_EQ(target_->EndDraw(), S_OK);
        GdiFlush();
        const auto* bits = static_cast<const std::uint32_t*>(surface_.bits());
        return {bits, bits + surface_width * surface_height};
    }

    ComPtr<IDWriteFactory> dwrite_;
    ComPtr<ID2D1Factory> d2d_;
    ComPtr<ID2D1DCRenderTarget> target_;
    pellix::DibSurface surface_{surface_width, surface_height};
    ComPtr<ID2D1SolidColorBrush> ink_;
    ComPtr<ID2D1SolidColorBrush> link_;
};

// Emoji joined by U+200D (boxes here, as no font has them), the first struck through, and then
// letters joined the same way under a link's colour and underline: one run for each colour,
// where Wine's DirectWrite gives two a character, and the same pixels as DrawTextLayout.
TEST_F(TextDrawing, JoinedCharactersGoAsOneRunPerBrushWithTheSamePixels) {
    const std::wstring emoji = joined(L"\U0001F469", 30);
    const std::wstring letters = joined(L"x", 20);
    const std::wstring text = emoji + letters;
    ComPtr<IDWriteTextLayout> layout = make_layout(text);
    const DWRITE_TEXT_RANGE link{static_cast<UINT32>(emoji.size()),
                                 static_cast<UINT32>(letters.size())};
    ASSERT_EQ(layout->SetDrawingEffect(link_.get(), link), S_OK);
    ASSERT_EQ(layout->SetUnderline(TRUE, link), S_OK);
    ASSERT_EQ(layout->SetStrikethrough(TRUE, {0, 20}), S_OK);
    const D2D1_POINT_2F origin{3.0f, 5.0f};
    const auto expected = frame([&] {
        target_->DrawTextLayout(origin, layout.get(), ink_.get(), D2D1_DRAW_TEXT_OPTIONS_NONE);
    });
    std::size_t runs = 0;
    const auto drawn = frame(
        [&] {
        const bool split = pellix::splits_glyph_runs(std::u16string(text.begin(), text.end()));
        runs = pellix::draw_text_layout(target_.get(), origin, layout.get(), ink_.get(), split);
    });
    EXPECT_EQ(runs, 2u);
    EXPECT_TRUE(drawn == expected) << "the pixels differ from DrawTextLayout's";
    EXPECT_TRUE(std::any_of(drawn.begin(), drawn.end(), [](std::uint32_t pixel) {
        return (pixel & 0xFFFFFF) == 0x0078AA;
    })) << "no underline in the link's colour";
}

} // namespace
