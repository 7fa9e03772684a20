#include <gtest/gtest.h>
#include <windows.h>
#include <d2d1.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <set>

#include "platform/ballot_boxes.h"
#include "platform/dib_surface.h"
#include "preview/drawing.h"
#include "tests/colour_checks.h"
#include "tests/preview/preview_test_document.h"

using namespace pellix;
using pellix::test::DocumentBuilder;

namespace {

constexpr int surface_width = 400;
constexpr int surface_height = 400;
using Matches = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

using test::blend;
using test::near_colour;

// The tables the main window would hand down; the tests change them as the system would.
struct TestPalette {
    PaletteTable light;
    PaletteTable dark;
    PaletteTable high_contrast;
};

TestPalette palette{
    {0xFAFAFA, 0xF2F4F5, 0x1E1E1E, 0x696969, 0x0078AA, 0xE1E4E6, 0xE6E9EB, 0xECEEF0, 0x0078D4,
     0xDCECF4, 0xA9CDE0},
    {0x1F1F1F, 0x181818, 0xEBEBEB, 0x9B9B9B, 0x7ECFF0, 0x2B2B2B, 0x2A2A2A, 0x2B2D30, 0x458FEA,
     0x2F3A40, 0x3D4C54},
    {},
};
bool high_contrast = false;

const PaletteTable& active_palette(bool dark) {
    if (high_contrast) {
        return palette.high_contrast;
    }
    return dark ? palette.dark : palette.light;
}

PaintColours colours_for(bool dark, bool print) {
    return {active_palette(dark && !print), high_contrast};
}

// Points one real layout at a copy of its method table with one entry replaced. GCC encodes a
// virtual member pointer as its byte offset in the table plus one; HitTestTextRange is the
// interface's last method, so the copy ends with it.
class PatchedLayout {
public:
    template <typename Method>
    PatchedLayout(IDWriteTextLayout* layout, Method method, void* replacement)
        : object_(reinterpret_cast<void***>(layout)), original_(*object_) {
        table_.assign(original_, original_ + index_of(&IDWriteTextLayout::HitTestTextRange) + 1);
        table_[index_of(method)] = replacement;
        *object_ = table_.data();
    }
    ~PatchedLayout() { *object_ = original_; }
    PatchedLayout(const PatchedLayout&) = delete;
    PatchedLayout& operator=(const PatchedLayout&) = delete;

private:
    template <typename Method> static std::size_t index_of(Method method) {
        std::ptrdiff_t encoded = 0;
        std::memcpy(&encoded, &method, sizeof(encoded));
        return static_cast<std::size_t>(encoded - 1) / sizeof(void*);
    }

    void*** object_;
    void** original_;
    std::vector<void*> table_;
};

// Makes every range hit test of one real layout fail, the way a lost device or an exhausted heap
// would.
class FailingRangeHitTests : public PatchedLayout {
public:
    explicit FailingRangeHitTests(IDWriteTextLayout* layout)
        : PatchedLayout(layout, &IDWriteTextLayout::HitTestTextRange,
                        reinterpret_cast<void*>(&fail)) {}

private:
    static HRESULT STDMETHODCALLTYPE fail(IDWriteTextLayout*, UINT32, UINT32, FLOAT, FLOAT,
                                          DWRITE_HIT_TEST_METRICS*, UINT32, UINT32*) {
        return E_FAIL;
    }
};

// Counts the drawing effects set on, or cleared from, one real layout (and sets none).
class CountedDrawingEffects : public PatchedLayout {
public:
    explicit CountedDrawingEffects(IDWriteTextLayout* layout)
        : PatchedLayout(layout, &IDWriteTextLayout::SetDrawingEffect,
                        reinterpret_cast<void*>(&count)) {}
    static inline int calls = 0;

private:
    static HRESULT STDMETHODCALLTYPE count(IDWriteTextLayout*, IUnknown*, DWRITE_TEXT_RANGE) {
        ++calls;
        return S_OK;
    }
};

// Draws into a 32-bit DIB through a DC render target, the way printing draws pages.
class DocumentDrawing : public ::testing::Test {
protected:
    void SetUp() override {
        saved_palette_ = palette;
        saved_high_contrast_ = high_contrast;
        high_contrast = false;
        dwrite_ = test::make_dwrite_factory();
        ASSERT_TRUE(dwrite_);
        ASSERT_EQ(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory),
                                    nullptr, reinterpret_cast<void**>(d2d_.put())),
                  S_OK);
        const BITMAPINFO info = top_down_bitmap_info(surface_width, surface_height);
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_),
                                   nullptr, 0);
        ASSERT_NE(bitmap_, nullptr);
        old_bitmap_ = SelectObject(dc_, bitmap_);
        const D2D1_RENDER_TARGET_PROPERTIES properties = D2D1::RenderTargetProperties(
            D2D1_RENDER_TARGET_TYPE_DEFAULT,
            D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_IGNORE), 96.0f, 96.0f);
        ASSERT_EQ(d2d_->CreateDCRenderTarget(&properties, target_.put()), S_OK);
        const RECT area{0, 0, surface_width, surface_height};
        ASSERT_EQ(target_->BindDC(dc_, &area), S_OK);
    }

    void TearDown() override {
        brushes_ = Brushes{};
        target_.reset();
        SelectObject(dc_, old_bitmap_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
        palette = saved_palette_;
        high_contrast = saved_high_contrast_;
    }

    Layout lay_out(const PreviewDocument& document, bool print = false) {
        return build_layout(dwrite_.get(), document, static_cast<float>(surface_width), 1.0f,
                            print);
    }

    // Paints the document on the page colour with aliased text, so glyph pixels carry their
    // brush colour exactly.
    void paint(const PreviewDocument& document, Layout& layout, const View& view = {},
               const Matches& matches = {}, bool dark = false, bool print = false, float top = 0.0f,
               float bottom = static_cast<float>(surface_height)) {
        target_->BeginDraw();
        target_->SetTransform(D2D1::Matrix3x2F::Identity());
        target_->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_ALIASED);
        target_->Clear(page_colour(dark, print));
        draw_document(target_.get(), document, layout, colours_for(dark, print), top, bottom, 1.0f,
                      view, matches, print, brushes_);
        ASSERT_EQ(target_->EndDraw(), S_OK);
        GdiFlush();
    }

    static D2D1_COLOR_F page_colour(bool dark, bool print) {
        const std::uint32_t rgb = active_palette(dark && !print)[palette_slot::background];
        return D2D1::ColorF(rgb);
    }

    std::uint32_t pixel(float x, float y) const {
        const int px = static_cast<int>(std::floor(x));
        const int py = static_cast<int>(std::floor(y));
        return bits_[py * surface_width + px] & 0xFFFFFF;
    }

    // Every colour inside a document rectangle.
    std::set<std::uint32_t> colours_in(const D2D1_RECT_F& rect) const {
        std::set<std::uint32_t> found;
        for (int y = static_cast<int>(std::ceil(rect.top)); y < static_cast<int>(rect.bottom);
             ++y) {
            for (int x = static_cast<int>(std::ceil(rect.left)); x < static_cast<int>(rect.right);
                 ++x) {
                found.insert(bits_[y * surface_width + x] & 0xFFFFFF);
            }
        }
        return found;
    }

    // The rectangles of [start, start + length) of one block, in document coordinates.
    static std::vector<D2D1_RECT_F> rects(const LayoutBlock& block, std::uint32_t start,
                                          std::uint32_t length) {
        std::vector<D2D1_RECT_F> found;
        for_each_range_rect(block, start, length, block.x, block.y,
                            [&](const D2D1_RECT_F& r) { found.push_back(r); });
        return found;
    }

    ComPtr<IDWriteFactory> dwrite_;
    ComPtr<ID2D1Factory> d2d_;
    ComPtr<ID2D1DCRenderTarget> target_;
    Brushes brushes_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_bitmap_ = nullptr;
    std::uint32_t* bits_ = nullptr;
    TestPalette saved_palette_{};
    bool saved_high_contrast_ = false;
};

DocumentBuilder decorated_blocks() {
    DocumentBuilder b;
    b.block(PreviewBlockKind::paragraph, u"plain text");
    b.block(PreviewBlockKind::code_block, u"code").has_code = 1;
    b.block(PreviewBlockKind::quote, u"quoted");
    return b;
}

} // namespace

TEST_F(DocumentDrawing, BackgroundsAndQuoteBarInBothPalettes) {
    for (bool dark : {false, true}) {
        const PaletteTable& colours = dark ? palette.dark : palette.light;
        DocumentBuilder b = decorated_blocks();
        Layout layout = lay_out(b.document);
        paint(b.document, layout, {}, {}, dark);
        EXPECT_EQ(pixel(3, 3), colours[palette_slot::background]);
        const LayoutBlock& code = layout.blocks[1];
        EXPECT_EQ(pixel(code.x - 6, code.y - 4), colours[palette_slot::code_background]);
        // The rounded background reaches the content width less 24.
        EXPECT_EQ(pixel(layout.width - 26, code.y + 2), colours[palette_slot::code_background]);
        EXPECT_EQ(pixel(layout.width - 22, code.y + 2), colours[palette_slot::background]);
        const LayoutBlock& quote = layout.blocks[2];
        EXPECT_EQ(pixel(quote.x - 14, quote.y + 5), colours[palette_slot::link]);
        EXPECT_EQ(pixel(quote.x - 18, quote.y + 5), colours[palette_slot::background]);
        // Quote text is muted, body text is text.
        const auto quote_colours =
            colours_in({quote.x, quote.y, quote.x + quote.width, quote.y + quote.height});
        EXPECT_TRUE(quote_colours.count(colours[palette_slot::muted]));
        EXPECT_FALSE(quote_colours.count(colours[palette_slot::text]));
        const LayoutBlock& plain = layout.blocks[0];
        EXPECT_TRUE(colours_in({plain.x, plain.y, plain.x + plain.width, plain.y + plain.height})
                        .count(colours[palette_slot::text]));
    }
}

TEST_F(DocumentDrawing, LinksAreDrawnInTheLinkColourUntilThePaintEnds) {
    DocumentBuilder b;
    b.block(PreviewBlockKind::paragraph, u"see link here");
    b.run(0, 4, 0);
    b.run(4, 4, 0, "https://example.com/");
    b.run(8, 5, 0);
    Layout layout = lay_out(b.document);
    paint(b.document, layout);
    const LayoutBlock& block = layout.blocks[0];
    const D2D1_RECT_F link = rects(block, 4, 4).at(0);
    const auto link_colours = colours_in(link);
    EXPECT_TRUE(link_colours.count(palette.light[palette_slot::link]));
    EXPECT_FALSE(link_colours.count(palette.light[palette_slot::text]));
    EXPECT_TRUE(colours_in(rects(block, 0, 3).at(0)).count(palette.light[palette_slot::text]));
    // The effect is removed after drawing.
    IUnknown* effect = reinterpret_cast<IUnknown*>(1);
    ASSERT_EQ(block.pieces[0].layout->GetDrawingEffect(5, &effect), S_OK);
    EXPECT_EQ(effect, nullptr);
}

TEST_F(DocumentDrawing, SelectionAndFindMatchesAreBlendedOverThePage) {
    for (bool dark : {false, true}) {
        const PaletteTable& colours = dark ? palette.dark : palette.light;
        DocumentBuilder b;
        b.block(PreviewBlockKind::paragraph, u"select this and find that");
        Layout layout = lay_out(b.document);
        View view;
        view.anchor = 11;
        view.caret = 0; // a backwards selection is the same range
        paint(b.document, layout, view, {{16, 20}}, dark);
        const LayoutBlock& block = layout.blocks[0];
        const std::uint32_t page = colours[palette_slot::background];
        const D2D1_RECT_F selected = rects(block, 0, 11).at(0);
        EXPECT_TRUE(near_colour(pixel((selected.left + selected.right) / 2, selected.top + 2),
                                blend(page, colours[palette_slot::selection], 0.4)));
        const D2D1_RECT_F found = rects(block, 16, 4).at(0);
        EXPECT_TRUE(near_colour(pixel((found.left + found.right) / 2, found.top + 2),
                                blend(page, 0xFFBD35, 0.5)));
        const D2D1_RECT_F between = rects(block, 12, 3).at(0);
        EXPECT_EQ(pixel((between.left + between.right) / 2, between.top + 2), page);
    }
}

TEST_F(DocumentDrawing, AdjacentMatchesPaintAsOneRun) {
    DocumentBuilder b;
    b.block(PreviewBlockKind::paragraph, u"aaaa");
    Layout layout = lay_out(b.document);
    paint(b.document, layout, {}, {{0, 2}, {2, 4}});
    const D2D1_RECT_F all = rects(layout.blocks[0], 0, 4).at(0);
    const std::uint32_t expected = blend(palette.light[palette_slot::background], 0xFFBD35, 0.5);
    for (float x = std::ceil(all.left) + 1; x < all.right - 1; x += 1.0f) {
        EXPECT_TRUE(near_colour(pixel(x, all.top + 1), expected)) << x;
    }
}

TEST_F(DocumentDrawing, SelectionCoversTheMarkerOnlyWhenItStartsBeforeTheContent) {
    DocumentBuilder b;
    b.block(PreviewBlockKind::list_item, u"\u2022\titem", 0, 2);
    Layout layout = lay_out(b.document);
    const LayoutBlock& item = layout.blocks[0];
    const float column_x = item.x - item.marker_width + 2;
    const std::uint32_t page = palette.light[palette_slot::background];
    const std::uint32_t selected = blend(page, palette.light[palette_slot::selection], 0.4);
    View whole;
    whole.anchor = 0;
    whole.caret = 4;
    paint(b.document, layout, whole);
    EXPECT_TRUE(near_colour(pixel(column_x, item.y + 2), selected));
    View inside;
    inside.anchor = 3;
    inside.caret = 5;
    paint(b.document, layout, inside);
    EXPECT_EQ(pixel(column_x, item.y + 2), page);
}

TEST_F(DocumentDrawing, InlineCodeBackgroundOnlyOutsideCodeBlocks) {
    DocumentBuilder b;
    b.block(PreviewBlockKind::paragraph, u"call run() now");
    b.run(5, 5, PreviewStyle::code);
    b.block(PreviewBlockKind::code_block, u"plain code"); // no "code" element inside
    b.run(b.document.blocks[1].start, 10, PreviewStyle::code);
    Layout layout = lay_out(b.document);
    paint(b.document, layout);
    const std::uint32_t page = palette.light[palette_slot::background];
    const std::uint32_t fill = palette.light[palette_slot::code_background];
    const D2D1_RECT_F inline_code = rects(layout.blocks[0], 5, 5).at(0);
    EXPECT_EQ(pixel((inline_code.left + inline_code.right) / 2, inline_code.top + 1), fill);
    const D2D1_RECT_F outside = rects(layout.blocks[0], 0, 4).at(0);
    EXPECT_EQ(pixel((outside.left + outside.right) / 2, outside.top + 1), page);
    const LayoutBlock& code = layout.blocks[1];
    EXPECT_EQ(pixel(code.x - 6, code.y - 4), page);
    EXPECT_EQ(pixel(code.x + 2, code.y + 1), page);
}

TEST_F(DocumentDrawing, HighContrastUsesOpaqueSelectionAndHighlightText) {
    high_contrast = true;
    palette.high_contrast = {0x000000, 0x000000, 0xFFFF00, 0x00FFFF, 0x00FF00, 0,
                             0,        0x202020, 0x0000C0, 0,        0};
    DocumentBuilder b;
    b.block(PreviewBlockKind::paragraph, u"MMMM MMMM");
    Layout layout = lay_out(b.document);
    View view;
    view.anchor = 0;
    view.caret = 4;
    // dark = true must not matter in high contrast.
    paint(b.document, layout, view, {}, true);
    const LayoutBlock& block = layout.blocks[0];
    const D2D1_RECT_F selected = rects(block, 0, 4).at(0);
    EXPECT_EQ(pixel(selected.left + 1, selected.top + 1), 0x0000C0u);
    const std::uint32_t highlight_text = colour_from_colorref(GetSysColor(COLOR_HIGHLIGHTTEXT));
    const auto inside = colours_in(selected);
    EXPECT_TRUE(inside.count(highlight_text));
    EXPECT_FALSE(inside.count(0xFFFF00));
    EXPECT_TRUE(colours_in(rects(block, 5, 4).at(0)).count(0xFFFF00));
    EXPECT_EQ(pixel(3, 3), 0x000000u);
}

TEST_F(DocumentDrawing, PrintedPagesUseBlackTextAndLinks) {
    DocumentBuilder b;
    b.block(PreviewBlockKind::paragraph, u"text link");
    b.run(5, 4, 0, "https://example.com/");
    b.block(PreviewBlockKind::code_block, u"code").has_code = 1;
    Layout layout = lay_out(b.document, true);
    paint(b.document, layout, {}, {}, true, true);
    const LayoutBlock& block = layout.blocks[0];
    const auto link = colours_in(rects(block, 5, 4).at(0));
    EXPECT_TRUE(link.count(0x000000));
    EXPECT_FALSE(link.count(palette.light[palette_slot::link]));
    const LayoutBlock& code = layout.blocks[1];
    EXPECT_EQ(pixel(code.x - 6, code.y - 4), 0xF0F1F2u);
    EXPECT_EQ(pixel(3, 3), palette.light[palette_slot::background]);
}

TEST_F(DocumentDrawing, OnlyBlocksMeetingTheBandAreDrawn) {
    DocumentBuilder b;
    b.block(PreviewBlockKind::paragraph, u"first");
    for (int i = 0; i < 8; ++i) {
        b.block(PreviewBlockKind::paragraph, u"filler");
    }
    b.block(PreviewBlockKind::paragraph, u"last");
    Layout layout = lay_out(b.document);
    View all;
    all.anchor = 0;
    all.caret = b.document.text.size();
    const LayoutBlock& first = layout.blocks[0];
    const LayoutBlock& last = layout.blocks.back();
    const std::uint32_t page = palette.light[palette_slot::background];
    paint(b.document, layout, all, {}, false, false, last.y, last.y + 10);
    EXPECT_EQ(pixel(first.x + 1, first.y + 1), page);
    EXPECT_NE(pixel(last.x + 1, last.y + 1), page);
    paint(b.document, layout, all, {}, false, false, 0, first.y + 1);
    EXPECT_NE(pixel(first.x + 1, first.y + 1), page);
    EXPECT_EQ(pixel(last.x + 1, last.y + 1), page);
}

TEST_F(DocumentDrawing, RangeRectanglesWithinALineAcrossLinesAndAcrossBlocks) {
    DocumentBuilder b;
    b.block(PreviewBlockKind::paragraph,
            u"one two three four five six seven eight nine ten eleven twelve thirteen fourteen "
            u"fifteen sixteen seventeen eighteen nineteen twenty");
    b.block(PreviewBlockKind::paragraph, u"second block");
    Layout layout = lay_out(b.document);
    const LayoutBlock& block = layout.blocks[0];
    auto within = rects(block, 4, 3);
    ASSERT_EQ(within.size(), 1u);
    EXPECT_NEAR(within[0].top, block.y, 0.01);
    EXPECT_NEAR(within[0].bottom, block.y + 24.0, 0.01);
    EXPECT_GT(within[0].left, block.x);
    auto across = rects(block, 0, static_cast<std::uint32_t>(block.text_length));
    ASSERT_GE(across.size(), 2u);
    for (size_t i = 0; i < across.size(); ++i) {
        EXPECT_NEAR(across[i].left, block.x, 0.01);
        EXPECT_NEAR(across[i].top, block.y + 24.0 * i, 0.01);
        EXPECT_NEAR(across[i].bottom - across[i].top, 24.0, 0.01);
    }
    EXPECT_TRUE(rects(block, 3, 0).empty());
    EXPECT_THROW(for_each_range_rect(block.pieces[0].layout.get(), 0, 1, 0, 0, {}),
                 std::bad_function_call);
    // A selection from the middle of one block into the next fills both, not the gap.
    const LayoutBlock& second = layout.blocks[1];
    View view;
    view.anchor = 5;
    view.caret = second.text_start + 3;
    paint(b.document, layout, view);
    const std::uint32_t page = palette.light[palette_slot::background];
    const std::uint32_t selected = blend(page, palette.light[palette_slot::selection], 0.4);
    const D2D1_RECT_F tail = across.back();
    EXPECT_TRUE(near_colour(pixel(tail.left + 1, tail.top + 1), selected));
    EXPECT_TRUE(near_colour(pixel(second.x + 1, second.y + 1), selected));
    EXPECT_EQ(pixel(second.x + 1, second.y - 6), page);
    EXPECT_EQ(pixel(second.x + 1, second.y + 30), page);
}

TEST_F(DocumentDrawing, BrushesAreCreatedOnceAndRecolouredEveryCall) {
    create_brushes(brushes_, target_.get(), colours_for(false, false), false);
    ASSERT_TRUE(brushes_.text && brushes_.muted && brushes_.link && brushes_.code_fill &&
                brushes_.selection && brushes_.find_match && brushes_.contrast_text);
    ID2D1SolidColorBrush* text = brushes_.text.get();
    create_brushes(brushes_, target_.get(), colours_for(true, false), false);
    EXPECT_EQ(brushes_.text.get(), text);
    const D2D1_COLOR_F dark_text = brushes_.text->GetColor();
    EXPECT_NEAR(dark_text.r, 0xEB / 255.0, 1e-4);
    EXPECT_NEAR(brushes_.selection->GetColor().a, 0.4, 1e-4);
    EXPECT_NEAR(brushes_.find_match->GetColor().g, 0.741176, 1e-4);
    EXPECT_NEAR(brushes_.find_match->GetColor().a, 0.5, 1e-4);
    // Dark is ignored on paper: text black, selection from the light palette.
    create_brushes(brushes_, target_.get(), colours_for(true, true), true);
    EXPECT_EQ(brushes_.text->GetColor().r, 0.0f);
    EXPECT_NEAR(brushes_.muted->GetColor().g, 0.2, 1e-4);
    EXPECT_NEAR(brushes_.selection->GetColor().b, 0xD4 / 255.0, 1e-4);
    Brushes moved = std::move(brushes_);
    EXPECT_FALSE(brushes_.text);
    EXPECT_EQ(moved.text.get(), text);
}

TEST_F(DocumentDrawing, HeaderCellsAreFilledAndBodyCellsAreNot) {
    DocumentBuilder b;
    b.row(1, 0, {u"name", u"value"}, true);
    b.row(1, 1, {u"a", u"1"}, false);
    Layout layout = lay_out(b.document);
    paint(b.document, layout);
    const LayoutBlock& header = layout.blocks[1];
    const LayoutBlock& body = layout.blocks[3];
    EXPECT_EQ(pixel(header.cell_x + header.cell_width - 4, header.y - 5),
              palette.light[palette_slot::code_background]);
    EXPECT_EQ(pixel(body.cell_x + body.cell_width - 4, body.y - 5),
              palette.light[palette_slot::background]);
}

TEST_F(DocumentDrawing, APaintThatFailsLeavesNoBrushOnTheCachedLayouts) {
    DocumentBuilder b;
    b.block(PreviewBlockKind::paragraph, u"see link here");
    b.run(4, 4, 0, "https://example.com/");
    Layout layout = lay_out(b.document);
    IDWriteTextLayout* text = layout.blocks[0].pieces[0].layout.get();
    {
        FailingRangeHitTests failing(text);
        target_->BeginDraw();
        // The find match is filled after the link got its brush.
        EXPECT_THROW(draw_document(target_.get(), b.document, layout, colours_for(false, false),
                                   0.0f, static_cast<float>(surface_height), 1.0f, {}, {{0, 3}},
                                   false, brushes_),
                     std::runtime_error);
        target_->EndDraw();
    }
    ComPtr<IUnknown> effect;
    ASSERT_EQ(text->GetDrawingEffect(5, effect.put(), nullptr), S_OK);
    EXPECT_FALSE(effect);
}

// A link over a long block, and its selection in high contrast, colour only the pieces the paint
// draws: the others are neither given drawing effects nor cleared of them.
TEST_F(DocumentDrawing, OnlyThePiecesInTheBandTakeDrawingEffects) {
    DocumentBuilder b;
    b.block(PreviewBlockKind::paragraph, std::u16string(20000, u'['));
    b.run(0, 20000, 0, "https://example.com/");
    Layout layout = lay_out(b.document);
    const LayoutBlock& block = layout.blocks[0];
    std::vector<std::unique_ptr<CountedDrawingEffects>> below;
    for (const TextPiece& piece : block.pieces) {
        if (block.y + piece.top > static_cast<float>(surface_height) + 1.0f) {
            below.push_back(std::make_unique<CountedDrawingEffects>(piece.layout.get()));
        }
    }
    ASSERT_GT(below.size(), 10u);
    CountedDrawingEffects::calls = 0;
    View all;
    all.caret = 20000;
    paint(b.document, layout, all);
    high_contrast = true;
    paint(b.document, layout, all);
    EXPECT_EQ(CountedDrawingEffects::calls, 0);
    ComPtr<IUnknown> effect;
    ASSERT_EQ(block.pieces[0].layout->GetDrawingEffect(0, effect.put(), nullptr), S_OK);
    EXPECT_FALSE(effect);
}

namespace pellix {
namespace {

// A checked task must not look like an open one, whatever fonts the system has.
TEST_F(DocumentDrawing, CheckedAndOpenTaskBoxesDiffer) {
    DocumentBuilder b;
    b.block(PreviewBlockKind::list_item, u"\u2610\ttask", 0, 2).task = 0;
    b.block(PreviewBlockKind::list_item, u"\u2611\ttask", 0, 2).task = 1;
    b.block(PreviewBlockKind::list_item, u"1. \u2611\ttask", 0, 5).task = 1;
    Layout layout = lay_out(b.document);
    paint(b.document, layout);
    const std::uint32_t page = palette.light[palette_slot::background];
    auto column = [&](const LayoutBlock& item) {
        std::vector<std::uint32_t> found;
        for (float y = item.y; y < item.y + item.height; y += 1.0f) {
            for (float x = item.x - item.marker_width; x < item.x; x += 1.0f) {
                found.push_back(pixel(x, y));
            }
        }
        return found;
    };
    const std::vector<std::uint32_t> open = column(layout.blocks[0]);
    const std::vector<std::uint32_t> done = column(layout.blocks[1]);
    ASSERT_EQ(open.size(), done.size());
    EXPECT_NE(open, done);
    EXPECT_NE(std::count(open.begin(), open.end(), page), static_cast<long>(open.size()));
    // A numbered task keeps its number left of the box.
    const LayoutBlock& numbered = layout.blocks[2];
    const D2D1_RECT_F box =
        character_cell(numbered.marker_layout.get(), 3, {numbered.x - numbered.marker_width, 0});
    EXPECT_NE(colours_in({numbered.x - numbered.marker_width, numbered.y, box.left - 1,
                          numbered.y + numbered.height})
                  .size(),
              1u);
}

// The 0.5-DIP heading and table rules leave ink at 100 % and where a pixel's edge falls on them.
TEST_F(DocumentDrawing, ThinRulesLeaveInkAtEveryOffset) {
    DocumentBuilder b;
    b.block(PreviewBlockKind::heading, u"Title", 1);
    b.row(1, 0, {u"a", u"b"}, false);
    Layout layout = lay_out(b.document);
    const std::uint32_t page = palette.light[palette_slot::background];
    const LayoutBlock& heading = layout.blocks[0];
    const LayoutBlock& cell = layout.blocks[1];
    for (const float shift : {0.0f, 0.25f, 0.5f, 0.75f}) {
        target_->BeginDraw();
        target_->SetTransform(D2D1::Matrix3x2F::Translation(0, shift));
        target_->Clear(page_colour(false, false));
        draw_document(target_.get(), b.document, layout, colours_for(false, false), 0,
                      static_cast<float>(surface_height), 1.0f, {}, {}, false, brushes_);
        ASSERT_EQ(target_->EndDraw(), S_OK);
        GdiFlush();
        auto darkest = [&](float x, float from, float to) {
            int most = 0;
            for (float y = std::floor(from); y <= to; y += 1.0f) {
                most = std::max(most, static_cast<int>(page & 0xFF) -
                                          static_cast<int>(pixel(x, y) & 0xFF));
            }
            return most;
        };
        const float rule_y = heading.y + heading.height + shift;
        EXPECT_GT(darkest(heading.x + 20, rule_y - 1, rule_y + 1), 0x30) << shift;
        const float top = cell.y - 8.0f + shift;
        EXPECT_GT(darkest(cell.cell_x + 20, top - 1, top + 1), 0x30) << shift;
    }
}

} // namespace
} // namespace pellix
