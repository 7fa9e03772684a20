#include <gtest/gtest.h>

#include <numeric>
#include <stdexcept>

#include "preview/drawing.h"
#include "preview/layout.h"
#include "preview/print_pages.h"
#include "platform/text_hit_test.h"
#include "preview/text_pieces.h"
#include "tests/preview/layout_checks.h"
#include "tests/preview/preview_test_document.h"

using namespace pellix;
using pellix::test::DocumentBuilder;

namespace {

constexpr double tolerance = 0.01;

class PreviewLayout : public ::testing::Test {
protected:
    void SetUp() override {
        factory_ = test::make_dwrite_factory();
        ASSERT_TRUE(factory_);
    }

    Layout lay_out(const PreviewDocument& document, float width, float scale = 1.0f,
                   bool print = false) {
        return build_layout(factory_.get(), document, width, scale, print);
    }

    // A page of one long block laid out 800 DIPs wide, its text all covered by its pieces.
    Layout lay_out_long_block(PreviewBlockKind kind, const std::u16string& text) {
        DocumentBuilder b;
        b.block(kind, text);
        Layout layout = lay_out(b.document, 800.0f);
        test::expect_content_covered(b.document, layout);
        return layout;
    }

    static DocumentBuilder heading_and_paragraph() {
        DocumentBuilder b;
        b.block(PreviewBlockKind::heading, u"Title", 1);
        b.block(PreviewBlockKind::paragraph,
                u"The quick brown fox jumps over the lazy dog and keeps on running far away.");
        return b;
    }

    // One layout of `text` in the format and to the width of the first piece of `block`.
    ComPtr<IDWriteTextLayout> lay_out_whole(const LayoutBlock& block, const std::u16string& text) {
        IDWriteTextLayout* first = block.pieces[0].layout.get();
        ComPtr<IDWriteTextLayout> whole;
        EXPECT_EQ(factory_->CreateTextLayout(reinterpret_cast<const wchar_t*>(text.data()),
                                             static_cast<UINT32>(text.size()), first,
                                             first->GetMaxWidth(), 1e9f, whole.put()),
                  S_OK);
        return whole;
    }

    static float line_height(const LayoutBlock& block) {
        DWRITE_LINE_METRICS line{};
        UINT32 count = 0;
        block.pieces[0].layout->GetLineMetrics(&line, 1, &count);
        return line.height;
    }

    ComPtr<IDWriteFactory> factory_;
};

// Checks the lines of block `index` start at `top`, are `height` tall, cover its text in order
// and returns how many there are.
size_t check_block_lines(const Layout& layout, size_t index, float top, float height) {
    const LayoutBlock& block = layout.blocks[index];
    size_t count = 0;
    std::uint64_t next = block.text_start;
    for (const LayoutLine& line : layout.lines) {
        if (line.block != index) {
            continue;
        }
        EXPECT_EQ(line.start, next);
        EXPECT_NEAR(line.top, top + height * count, tolerance);
        EXPECT_NEAR(line.bottom, top + height * (count + 1), tolerance);
        next = line.start + line.length;
        ++count;
    }
    EXPECT_EQ(next, block.text_start + block.text_length);
    return count;
}

} // namespace

TEST(ThrowIfFailed, FormatsTheStageAndTheResult) {
    EXPECT_NO_THROW(throw_if_failed(S_OK, "x"));
    EXPECT_NO_THROW(throw_if_failed(S_FALSE, "x"));
    try {
        throw_if_failed(E_INVALIDARG, "Set preview wrapping");
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Set preview wrapping (HRESULT 0x80070057)");
    }
    try {
        throw_if_failed(static_cast<HRESULT>(0x8899000C), "Draw native preview");
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Draw native preview (HRESULT 0x8899000C)");
    }
}

TEST(ViewSize, ClientSizeInDipsAtLeastOne) {
    EXPECT_FLOAT_EQ(view_width(nullptr, 96.0f), 1.0f);
    EXPECT_FLOAT_EQ(view_height(nullptr, 144.0f), 1.0f);
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 150, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_NEAR(view_width(window, 144.0f), client.right * 96.0 / 144.0, tolerance);
    EXPECT_NEAR(view_height(window, 96.0f), client.bottom, tolerance);
    EXPECT_FLOAT_EQ(view_height(window, 0.0f), static_cast<float>(client.bottom));
    // Pixels x 96 / dpi, multiplied first: 13 pixels at 120 DPI are 10.3999996f, where
    // 13 x (96 / 120) would give 10.4000006f.
    SetWindowPos(window, nullptr, 0, 0, 13, 13, SWP_NOZORDER | SWP_NOACTIVATE);
    GetClientRect(window, &client);
    ASSERT_EQ(client.right, 13);
    EXPECT_EQ(view_width(window, 120.0f), 13.0f * 96.0f / 120.0f);
    DestroyWindow(window);
}

TEST_F(PreviewLayout, EmptyDocument) {
    PreviewDocument empty;
    Layout screen = lay_out(empty, 640.0f);
    EXPECT_TRUE(screen.blocks.empty());
    EXPECT_TRUE(screen.lines.empty());
    EXPECT_TRUE(screen.bands.empty());
    EXPECT_TRUE(screen.bottom_bounds.empty());
    EXPECT_EQ(screen.boundaries, std::vector<std::uint64_t>{0});
    EXPECT_FLOAT_EQ(screen.width, 640.0f);
    EXPECT_FLOAT_EQ(screen.height, 48.0f);
    Layout paper = lay_out(empty, 500.0f, 11.0f / 12.0f, true);
    EXPECT_FLOAT_EQ(paper.width, 500.0f);
    EXPECT_FLOAT_EQ(paper.height, 0.0f);
}

TEST_F(PreviewLayout, HeadingThenParagraphOnAWideScreen) {
    DocumentBuilder b = heading_and_paragraph();
    Layout layout = lay_out(b.document, 1200.0f);
    ASSERT_EQ(layout.blocks.size(), 2u);
    // Content 960 wide, centred: left edge (1200 - 960) / 2.
    const LayoutBlock& heading = layout.blocks[0];
    EXPECT_NEAR(heading.x, 120.0, tolerance);
    EXPECT_NEAR(heading.y, 24.0, tolerance); // no extra space before the first block
    EXPECT_NEAR(line_height(heading), 48.0, tolerance);
    EXPECT_NEAR(heading.height, 48.0, tolerance);
    EXPECT_EQ(check_block_lines(layout, 0, 24.0f, 48.0f), 1u);
    const LayoutBlock& paragraph = layout.blocks[1];
    EXPECT_EQ(paragraph.text_start, 6u);
    EXPECT_NEAR(paragraph.x, 120.0, tolerance);
    EXPECT_NEAR(paragraph.y, 24.0 + 48.0 + 12.0, tolerance);
    EXPECT_EQ(check_block_lines(layout, 1, 84.0f, 24.0f), 1u);
    EXPECT_NEAR(paragraph.height, 24.0, tolerance);
    ASSERT_EQ(layout.bands.size(), 2u);
    EXPECT_NEAR(layout.bands[0].top, 24.0, tolerance);
    EXPECT_NEAR(layout.bands[0].bottom, 72.0, tolerance);
    EXPECT_TRUE(layout.bands[0].keep_with_next);
    EXPECT_FALSE(layout.bands[1].keep_with_next);
    ASSERT_EQ(layout.bottom_bounds.size(), 2u);
    EXPECT_NEAR(layout.bottom_bounds[0], 24.0 + 48.0 + 16.0, tolerance);
    EXPECT_NEAR(layout.bottom_bounds[1], 84.0 + 24.0 + 16.0, tolerance);
    EXPECT_NEAR(layout.height, 24.0 + 84.0 + 24.0 + 12.0, tolerance);
    EXPECT_FLOAT_EQ(layout.width, 1200.0f);
    // ASCII text: every position is a caret stop, through the position after the last LF.
    std::vector<std::uint64_t> all(b.document.text.size() + 1);
    std::iota(all.begin(), all.end(), 0);
    EXPECT_EQ(layout.boundaries, all);
}

TEST_F(PreviewLayout, HeadingThenParagraphWrappedOnANarrowScreen) {
    DocumentBuilder b = heading_and_paragraph();
    Layout layout = lay_out(b.document, 300.0f);
    const LayoutBlock& paragraph = layout.blocks[1];
    EXPECT_NEAR(layout.blocks[0].x, 24.0, tolerance);
    EXPECT_NEAR(paragraph.x, 24.0, tolerance);
    const size_t lines = check_block_lines(layout, 1, 84.0f, 24.0f);
    EXPECT_GE(lines, 3u);
    EXPECT_NEAR(paragraph.height, 24.0 * lines, tolerance);
    EXPECT_LE(paragraph.width, 252.0f);
    EXPECT_EQ(layout.lines.size(), lines + 1);
    EXPECT_EQ(layout.bands.size(), lines + 1);
    EXPECT_NEAR(layout.bottom_bounds[1], 84.0 + 24.0 * lines + 16.0, tolerance);
    EXPECT_NEAR(layout.height, 24.0 + 84.0 + 24.0 * lines + 12.0, tolerance);
    EXPECT_FLOAT_EQ(layout.width, 300.0f);
}

// A wrapped row's trailing space hangs past the wrap width; the content must not grow by it,
// or a view that fits the paragraph would scroll sideways.
TEST_F(PreviewLayout, AParagraphWrappedAtItsEdgeNeedsNoSidewaysScroll) {
    DocumentBuilder b;
    std::u16string words;
    for (int i = 0; i < 60; ++i) {
        words += i % 3 == 0 ? u"ab " : u"abcd ";
    }
    b.block(PreviewBlockKind::paragraph, words);
    b.block(PreviewBlockKind::quote, words);
    bool hung = false;
    for (float width = 280.0f; width <= 340.0f; width += 1.0f) {
        Layout layout = lay_out(b.document, width);
        hung = hung || layout.blocks[0].width > width - 48.0f;
        EXPECT_FLOAT_EQ(layout.width, width);
    }
    EXPECT_TRUE(hung);
}

TEST_F(PreviewLayout, HeadingThenParagraphPrintedAtElevenTwelfths) {
    DocumentBuilder b = heading_and_paragraph();
    const float s = 11.0f / 12.0f;
    Layout layout = lay_out(b.document, 400.0f, s, true);
    const LayoutBlock& heading = layout.blocks[0];
    EXPECT_NEAR(heading.x, 36.0, tolerance);
    EXPECT_NEAR(heading.y, 0.0, tolerance);
    EXPECT_NEAR(heading.height, 48.0 * s, tolerance);
    const float paragraph_top = 48.0f * s + 12.0f * s;
    const LayoutBlock& paragraph = layout.blocks[1];
    EXPECT_NEAR(paragraph.y, paragraph_top, tolerance);
    const size_t lines = check_block_lines(layout, 1, paragraph_top, 24.0f * s);
    EXPECT_GE(lines, 2u);
    EXPECT_LE(paragraph.width, 328.0f);
    EXPECT_NEAR(layout.height, paragraph_top + 24.0f * s * lines + 12.0f * s, tolerance);
    EXPECT_NEAR(layout.bottom_bounds[0], 48.0 * s + 16.0 * s, tolerance);
    EXPECT_TRUE(layout.bands.front().keep_with_next);
}

TEST_F(PreviewLayout, HeadingLevelsAreClampedAndLaterHeadingsGetSpace) {
    DocumentBuilder b;
    b.block(PreviewBlockKind::heading, u"Zero", 0);
    b.block(PreviewBlockKind::heading, u"Nine", 9);
    b.block(PreviewBlockKind::heading, u"Three", 3);
    Layout layout = lay_out(b.document, 800.0f, 2.0f);
    EXPECT_NEAR(line_height(layout.blocks[0]), 96.0, tolerance); // 32 x 1.5 x 2
    EXPECT_NEAR(line_height(layout.blocks[1]), 48.0, tolerance); // 16 x 1.5 x 2
    EXPECT_NEAR(line_height(layout.blocks[2]), 66.0, tolerance); // 22 x 1.5 x 2
    EXPECT_NEAR(layout.blocks[1].y, 24.0 + 96.0 + 24.0 + 24.0, tolerance);
    EXPECT_NEAR(layout.blocks[2].y, layout.blocks[1].y + 48.0 + 24.0 + 24.0, tolerance);
}

TEST_F(PreviewLayout, WideTableWidensTheContentOnScreen) {
    DocumentBuilder b;
    b.row(1, 0, {u"a", u"b", u"c", u"d", u"e", u"f", u"g", u"h", u"i", u"j"}, true);
    b.row(1, 1, {u"1", u"2", u"3", u"4", u"5", u"6", u"7", u"8", u"9", u"10"}, false);
    b.block(PreviewBlockKind::paragraph, u"after");
    Layout layout = lay_out(b.document, 600.0f);
    const LayoutBlock& first = layout.blocks[0];
    const LayoutBlock& last = layout.blocks[9];
    EXPECT_NEAR(first.cell_width, 80.0, tolerance);
    EXPECT_NEAR(first.cell_x, 24.0, tolerance);
    EXPECT_NEAR(first.x, 24.0 + 8.0, tolerance);
    EXPECT_NEAR(first.y, 24.0 + 8.0, tolerance);
    EXPECT_NEAR(last.cell_x, 24.0 + 9 * 80.0, tolerance);
    EXPECT_NEAR(layout.width, 24.0 + 800.0 + 24.0, tolerance);
    // One text line (24) plus 16 of padding per row; the rows touch.
    EXPECT_NEAR(first.row_height, 40.0, tolerance);
    EXPECT_NEAR(layout.blocks[10].y, 24.0 + 40.0 + 8.0, tolerance);
    EXPECT_NEAR(layout.blocks[19].row_height, 40.0, tolerance);
    // 12 follows the table.
    EXPECT_NEAR(layout.blocks[20].y, 24.0 + 80.0 + 12.0, tolerance);
    // Each row is one band: header rows keep with the next.
    ASSERT_EQ(layout.bands.size(), 3u);
    EXPECT_NEAR(layout.bands[0].top, 24.0, tolerance);
    EXPECT_NEAR(layout.bands[0].bottom, 64.0, tolerance);
    EXPECT_TRUE(layout.bands[0].keep_with_next);
    EXPECT_NEAR(layout.bands[1].top, 64.0, tolerance);
    EXPECT_NEAR(layout.bands[1].bottom, 104.0, tolerance);
    EXPECT_FALSE(layout.bands[1].keep_with_next);
    EXPECT_NEAR(layout.bottom_bounds[0], 32.0 + 40.0 + 16.0, tolerance);
    // Cells record lines but no bands of their own.
    EXPECT_EQ(layout.lines.size(), 21u);
}

TEST_F(PreviewLayout, PrintedTableIsSqueezedAndItsFontShrinksToFour) {
    DocumentBuilder b;
    b.row(1, 0, {u"a", u"b", u"c", u"d", u"e", u"f", u"g", u"h", u"i", u"j"}, true);
    const float s = 11.0f / 12.0f;
    Layout layout = lay_out(b.document, 600.0f, s, true);
    EXPECT_NEAR(layout.blocks[0].cell_width, 52.8, tolerance);
    EXPECT_NEAR(layout.blocks[0].x, 36.0 + 5.28, tolerance);
    EXPECT_NEAR(line_height(layout.blocks[0]), 16.0 * s * 1.5, tolerance);
    EXPECT_FLOAT_EQ(layout.width, 600.0f);

    DocumentBuilder tiny;
    tiny.row(1, 0, {u"a", u"b", u"c", u"d", u"e", u"f", u"g", u"h", u"i", u"j"}, true);
    Layout squeezed = lay_out(tiny.document, 92.0f, s, true); // 2 DIPs per column
    EXPECT_NEAR(squeezed.blocks[0].cell_width, 2.0, tolerance);
    EXPECT_NEAR(line_height(squeezed.blocks[0]), 6.0, tolerance);
}

TEST_F(PreviewLayout, TallRowIsCutIntoLineBands) {
    DocumentBuilder b;
    b.row(1, 0, {u"h"}, true);
    b.row(1, 1, {u"one two three four five six seven eight nine ten eleven twelve"}, false);
    Layout layout = lay_out(b.document, 200.0f, 1.0f, true);
    const LayoutBlock& tall = layout.blocks[1];
    const size_t lines = layout.lines.size() - 1;
    ASSERT_GE(lines, 3u);
    EXPECT_NEAR(tall.row_height, 24.0 * lines + 16.0, tolerance);
    // Header row: one band; body row: 8 + 24, then 24 each, the last one absorbing the rest.
    const float row_top = 40.0f; // paper has no top margin; the header row is 40 tall
    ASSERT_EQ(layout.bands.size(), 1 + lines);
    EXPECT_NEAR(layout.bands[1].top, row_top, tolerance);
    EXPECT_NEAR(layout.bands[1].bottom, row_top + 32.0, tolerance);
    for (size_t k = 2; k < lines; ++k) {
        EXPECT_NEAR(layout.bands[k].bottom - layout.bands[k].top, 24.0, tolerance);
    }
    EXPECT_NEAR(layout.bands.back().bottom, row_top + tall.row_height, tolerance);
}

TEST_F(PreviewLayout, ListMarkersSitInTheirColumn) {
    DocumentBuilder b;
    b.block(PreviewBlockKind::list_item, u"1.\tfirst", 0, 3);
    b.block(PreviewBlockKind::list_item, u"\u2022\tnested", 1, 2);
    b.block(PreviewBlockKind::list_item, u"100000.\twide", 0, 8);
    Layout layout = lay_out(b.document, 800.0f);
    const LayoutBlock& first = layout.blocks[0];
    EXPECT_EQ(first.text_start, 3u);
    EXPECT_EQ(first.text_length, 5u);
    EXPECT_NEAR(first.marker_width, 28.0, tolerance);
    EXPECT_NEAR(first.x, 24.0 + 28.0, tolerance);
    ASSERT_TRUE(first.marker_layout);
    EXPECT_NEAR(first.marker_layout->GetMaxWidth(), 20.0, tolerance);
    EXPECT_EQ(first.marker_layout->GetTextAlignment(), DWRITE_TEXT_ALIGNMENT_TRAILING);
    DWRITE_TEXT_METRICS marker{};
    first.marker_layout->GetMetrics(&marker);
    EXPECT_EQ(marker.lineCount, 1u);
    // The TAB is left out: the marker's right edge is its column's.
    EXPECT_NEAR(marker.left + marker.width, 20.0, 0.05);
    const LayoutBlock& nested = layout.blocks[1];
    EXPECT_NEAR(nested.y, 24.0 + 24.0 + 4.0, tolerance);
    EXPECT_NEAR(nested.x, 24.0 + 28.0 + 28.0, tolerance);
    const LayoutBlock& wide = layout.blocks[2];
    EXPECT_GT(wide.marker_width, 28.0f);
    EXPECT_NEAR(wide.x, 24.0 + wide.marker_width, tolerance);
    DWRITE_TEXT_METRICS wide_marker{};
    wide.marker_layout->GetMetrics(&wide_marker);
    EXPECT_NEAR(wide.marker_width, wide_marker.widthIncludingTrailingWhitespace + 8.0, tolerance);
}

TEST_F(PreviewLayout, CodeBlocksWrapOnlyOnPaper) {
    DocumentBuilder b;
    b.block(PreviewBlockKind::paragraph, u"p");
    PreviewBlock& code =
        b.block(PreviewBlockKind::code_block,
                u"int main ( ) { return value + other * third - fourth / fifth % sixth ; }\n");
    code.has_code = 1;
    Layout screen = lay_out(b.document, 300.0f);
    const LayoutBlock& block = screen.blocks[1];
    EXPECT_NEAR(block.x, 24.0 + 12.0, tolerance);
    EXPECT_NEAR(block.y, 24.0 + 24.0 + 12.0 + 8.0, tolerance);
    EXPECT_GT(block.width, 252.0f);
    EXPECT_GT(screen.width, 300.0f);
    EXPECT_NEAR(screen.width, block.width + block.x + 24.0, tolerance);
    // The final LF ends a line: the layout has an empty line after it.
    EXPECT_EQ(screen.lines.size(), 1u + 2u);
    EXPECT_NEAR(screen.height, 24.0 + block.y + block.height + 20.0, tolerance);
    Layout paper = lay_out(b.document, 300.0f, 1.0f, true);
    EXPECT_GT(paper.lines.size(), 3u);
    EXPECT_FLOAT_EQ(paper.width, 300.0f);
}

TEST_F(PreviewLayout, RulesQuotesAndStyles) {
    DocumentBuilder b;
    b.block(PreviewBlockKind::rule, u"");
    b.block(PreviewBlockKind::quote, u"quoted bold link");
    b.run(b.document.blocks[1].start + 7, 4, PreviewStyle::bold | PreviewStyle::code);
    b.run(b.document.blocks[1].start + 12, 4, 0, "https://example.com/");
    Layout layout = lay_out(b.document, 800.0f);
    const LayoutBlock& rule = layout.blocks[0];
    EXPECT_TRUE(rule.pieces.empty());
    EXPECT_NEAR(rule.height, 16.0, tolerance);
    EXPECT_NEAR(layout.bands[0].top, 31.0, tolerance);
    EXPECT_NEAR(layout.bands[0].bottom, 32.0, tolerance);
    const LayoutBlock& quote = layout.blocks[1];
    EXPECT_NEAR(quote.y, 24.0 + 16.0 + 12.0, tolerance);
    EXPECT_NEAR(quote.x, 24.0 + 20.0, tolerance);
    DWRITE_FONT_WEIGHT weight{};
    quote.pieces[0].layout->GetFontWeight(8, &weight);
    EXPECT_EQ(weight, DWRITE_FONT_WEIGHT_BOLD);
    wchar_t family[32] = {};
    quote.pieces[0].layout->GetFontFamilyName(8, family, 32);
    EXPECT_STREQ(family, L"Consolas");
    quote.pieces[0].layout->GetFontFamilyName(2, family, 32);
    EXPECT_STREQ(family, L"Segoe UI");
    BOOL underline = FALSE;
    quote.pieces[0].layout->GetUnderline(13, &underline);
    EXPECT_TRUE(underline);
    quote.pieces[0].layout->GetUnderline(3, &underline);
    EXPECT_FALSE(underline);
}

TEST_F(PreviewLayout, BottomBoundsNeverDecrease) {
    DocumentBuilder b;
    b.row(1, 0, {u"a", u"a long cell that wraps onto several lines of text"}, true);
    b.block(PreviewBlockKind::paragraph, u"x");
    Layout layout = lay_out(b.document, 200.0f);
    ASSERT_EQ(layout.bottom_bounds.size(), 3u);
    // The short first cell reaches as far as its row.
    EXPECT_NEAR(layout.bottom_bounds[0], layout.blocks[0].y + layout.blocks[0].row_height + 16.0,
                tolerance);
    EXPECT_LE(layout.bottom_bounds[0], layout.bottom_bounds[1]);
    EXPECT_LE(layout.bottom_bounds[1], layout.bottom_bounds[2]);
}

TEST_F(PreviewLayout, BlockBeyondTheTextThrowsOutOfRange) {
    DocumentBuilder b;
    b.block(PreviewBlockKind::paragraph, u"fine");
    PreviewBlock broken;
    broken.start = 100;
    broken.length = 3;
    b.document.blocks.push_back(broken);
    EXPECT_THROW(lay_out(b.document, 800.0f), std::out_of_range);
}

// Wine's DirectWrite faults on one layout of a paragraph this long; the preview and printing lay
// it out whole and wrapped, and a point in its last part still finds its text.
TEST_F(PreviewLayout, LongParagraphsWithoutLineFeedsLayOutWholeOnScreenAndOnPaper) {
    std::u16string words;
    while (words.size() < 100000) {
        words += u"lorem ipsum ";
    }
    for (const std::u16string& text :
         {std::u16string(100000, u'['), std::u16string(1000000, u'A'), words}) {
        DocumentBuilder b;
        b.block(PreviewBlockKind::paragraph, text);
        for (const bool print : {false, true}) {
            SCOPED_TRACE(testing::Message() << text.size() << (print ? " printed" : " on screen"));
            const Layout layout = lay_out(b.document, 800.0f, 1.0f, print);
            test::expect_content_covered(b.document, layout);
            EXPECT_LT(layout.width, 1.5f * 800.0f); // wrapped, not one endless line
            const LayoutBlock& block = layout.blocks[0];
            ASSERT_GT(block.pieces.size(), 1u);
            const TextPiece& last = block.pieces.back();
            BOOL trailing = FALSE;
            BOOL inside = FALSE;
            DWRITE_HIT_TEST_METRICS hit{};
            ASSERT_EQ(hit_test_block_point(block, 0.5f, last.top + 1.0f, &trailing, &inside, &hit),
                      S_OK);
            EXPECT_EQ(hit.textPosition, last.start);
            if (text == words) {
                for (std::size_t k = 0; k + 1 < block.pieces.size(); ++k) {
                    const TextPiece& piece = block.pieces[k];
                    EXPECT_EQ(text[piece.start + piece.length - 1], u' ') << "piece " << k;
                }
            }
            if (print) {
                EXPECT_NO_THROW(paginate(layout.bands, 1000.0f));
            }
        }
    }
}

// A long paragraph is drawn in pieces of a few rows, each starting where a row of the whole
// paragraph starts: its rows stay one below the other, full and at the same spacing.
TEST_F(PreviewLayout, ALongParagraphIsCutInPiecesWhereItsRowsBreak) {
    std::u16string words;
    for (int i = 0; words.size() < 10000; ++i) {
        words += u"word" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) + u" ";
    }
    const Layout layout = lay_out_long_block(PreviewBlockKind::paragraph, words);
    const LayoutBlock& block = layout.blocks[0];
    ASSERT_GT(block.pieces.size(), 2u);
    const float spacing = layout.lines[1].top - layout.lines[0].top;
    std::size_t piece = 0;
    for (std::size_t k = 0; k < layout.lines.size(); ++k) {
        const LayoutLine& line = layout.lines[k];
        EXPECT_NEAR(line.top, block.y + static_cast<float>(k) * spacing, 0.05) << k;
        if (piece < block.pieces.size() &&
            line.start == block.text_start + block.pieces[piece].start) {
            ++piece;
        }
        // Every row but the last is full: within two words of the first row's length.
        if (k + 1 < layout.lines.size()) {
            EXPECT_GE(line.length + 12, layout.lines[0].length) << k;
        }
    }
    EXPECT_EQ(piece, block.pieces.size()) << "a piece starts inside a row";
}

// A paragraph longer than one piece breaks its rows where one layout of the whole text does, on
// screen and on paper. At 40,000 units that layout stays below the length Wine faults on, so the
// comparison runs under Wine as on Windows.
TEST_F(PreviewLayout, ALongParagraphBreaksItsRowsWhereTheWholeWould) {
    std::u16string words;
    for (unsigned k = 1; words.size() < 40000; ++k) {
        words += std::u16string(1 + (k * 7919u) % 11, static_cast<char16_t>(u'a' + k % 26)) + u" ";
    }
    DocumentBuilder b;
    b.block(PreviewBlockKind::paragraph, words);
    for (const bool print : {false, true}) {
        SCOPED_TRACE(print ? "printed" : "on screen");
        const Layout layout = lay_out(b.document, 800.0f, 1.0f, print);
        ASSERT_GT(layout.blocks[0].pieces.size(), 2u);
        const ComPtr<IDWriteTextLayout> whole = lay_out_whole(layout.blocks[0], words);
        UINT32 count = 0;
        whole->GetLineMetrics(nullptr, 0, &count);
        std::vector<DWRITE_LINE_METRICS> rows(count);
        ASSERT_EQ(whole->GetLineMetrics(rows.data(), count, &count), S_OK);
        ASSERT_EQ(layout.lines.size(), rows.size());
        for (std::size_t k = 0; k < rows.size(); ++k) {
            ASSERT_EQ(layout.lines[k].length, rows[k].length) << "row " << k;
        }
    }
}

// A listing's line longer than one piece stays one row on screen, its pieces side by side with
// no gap where two meet (the x of a character there is that of one layout of the whole line,
// within float rounding of sums to some 350,000 DIPs), and a point there finds its character.
TEST_F(PreviewLayout, ALongUnwrappedLineStaysOneRowAcrossPieces) {
    std::u16string line;
    for (unsigned k = 0; line.size() < 40000; ++k) {
        line += u"\"key\": " + std::u16string(1 + k % 7, u'7') + u", ";
    }
    const Layout layout = lay_out_long_block(PreviewBlockKind::code_block, u"a\n" + line + u"\nb");
    const LayoutBlock& block = layout.blocks[0];
    ASSERT_EQ(layout.lines.size(), 3u);
    EXPECT_EQ(layout.lines[1].length, line.size());
    const ComPtr<IDWriteTextLayout> whole = lay_out_whole(block, line);
    for (std::size_t k = 2; k < block.pieces.size() - 1; ++k) {
        const auto at = static_cast<UINT32>(block.pieces[k].start);
        FLOAT x = 0, y = 0, whole_x = 0, end_x = 0;
        DWRITE_HIT_TEST_METRICS hit{};
        ASSERT_EQ(hit_test_block_position(block, at, FALSE, &x, &y, &hit), S_OK);
        ASSERT_EQ(hit_test_block_position(block, at - 1, TRUE, &end_x, &y, &hit), S_OK);
        EXPECT_NEAR(x, end_x, 0.5f) << "piece at " << at;
        ASSERT_EQ(hit_test_text_position(whole.get(), at - 2, FALSE, &whole_x, &y, &hit), S_OK);
        EXPECT_NEAR(x, whole_x, 1e-3f * whole_x) << "piece at " << at;
        BOOL trailing = FALSE, inside = FALSE;
        ASSERT_EQ(hit_test_block_point(block, x + 1.0f, layout.lines[1].top - block.y + 1.0f,
                                       &trailing, &inside, &hit),
                  S_OK);
        EXPECT_EQ(hit.textPosition, at) << "piece at " << at;
    }
}

// Pieces of a long listing end at its line feeds, so its lines look as they would in one
// layout: one below the other at the same spacing, none left empty where two pieces meet.
TEST_F(PreviewLayout, ALongListingKeepsItsLinesEvenlySpacedAcrossPieces) {
    const std::u16string row = u"    total += values[index] * weight;";
    constexpr std::size_t rows = 3000;
    std::u16string listing;
    for (std::size_t k = 0; k < rows; ++k) {
        listing += (k == 0 ? u"" : u"\n") + row;
    }
    const Layout layout = lay_out_long_block(PreviewBlockKind::code_block, listing);
    const LayoutBlock& block = layout.blocks[0];
    ASSERT_GT(block.pieces.size(), 1u);
    ASSERT_EQ(layout.lines.size(), rows);
    const float spacing = layout.lines[0].bottom - layout.lines[0].top;
    for (std::size_t k = 0; k < rows; ++k) {
        EXPECT_EQ(layout.lines[k].start, block.text_start + k * (row.size() + 1)) << k;
        EXPECT_EQ(layout.lines[k].length, row.size()) << k;
        EXPECT_NEAR(layout.lines[k].top, block.y + static_cast<float>(k) * spacing, 0.05) << k;
    }
    EXPECT_NEAR(block.height, static_cast<float>(rows) * spacing, 0.05);
}

// What reads as one character can be a whole paragraph: 22,000 emoji joined by U+200D, or a
// letter with 66,000 combining marks, which Wine shapes as one cluster. Such a character is cut
// where the line is full, between code points: every row but the last is as wide as the line
// within a character, none is wider, and each row is a piece of its own, so a paint draws only
// the rows in view.
TEST_F(PreviewLayout, AnEndlessCharacterIsCutIntoRowsAsWideAsTheLine) {
    std::u16string joined = u"\U0001F469";
    for (int k = 1; k < 22000; ++k) {
        joined += u"\u200D\U0001F469";
    }
    const std::u16string marked = u"a" + std::u16string(66000, u'\u0301');
    for (const std::u16string& text : {joined, marked}) {
        SCOPED_TRACE(text.size());
        const Layout layout = lay_out_long_block(PreviewBlockKind::paragraph, text);
        const LayoutBlock& block = layout.blocks[0];
        ASSERT_EQ(block.pieces.size(), layout.lines.size());
        const float line_width = 800.0f - 48.0f;
        float narrowest = line_width;
        for (std::size_t k = 0; k < block.pieces.size(); ++k) {
            const TextPiece& piece = block.pieces[k];
            const char16_t first = text[piece.start];
            EXPECT_FALSE(first >= 0xDC00 && first <= 0xDFFF) << "piece " << k;
            DWRITE_TEXT_METRICS metrics{};
            ASSERT_EQ(piece.layout->GetMetrics(&metrics), S_OK);
            EXPECT_LE(metrics.width, line_width + 0.01f) << "piece " << k;
            if (k + 1 < block.pieces.size()) {
                narrowest = std::min(narrowest, metrics.width);
            }
        }
        EXPECT_GT(narrowest, line_width - 24.0f);
    }
}

// A run wider than the line is cut between what a reader sees as characters, never inside one,
// and a piece holds at least one of them even where one alone is wider than the line; a long
// word among others is cut where it starts, so no row is wider than the line.
TEST_F(PreviewLayout, RunsAreCutBetweenWholeCharactersIntoRowsThatFit) {
    const std::u16string family = u"\U0001F468\u200D\U0001F469\u200D\U0001F467";
    const std::u16string accented = u"e\u0301\u0302";
    std::u16string word_among_others = u"a few words ";
    word_among_others += std::u16string(400, u'w') + u" and more words after it";
    struct Case {
        std::u16string unit;
        std::size_t count;
        float width;
        float scale;
    };
    // Two widths, so that a cut by proportion falls inside a character at one of them at least.
    for (const Case& c :
         {Case{family, 40, 40.0f, 4.0f}, Case{accented, 6000, 405.0f, 1.0f},
          Case{accented, 6000, 410.0f, 1.0f}, Case{word_among_others, 1, 400.0f, 1.0f}}) {
        std::u16string text;
        for (std::size_t k = 0; k < c.count; ++k) {
            text += c.unit;
        }
        SCOPED_TRACE(testing::Message() << c.unit.size() << " units x " << c.count);
        DocumentBuilder b;
        b.block(PreviewBlockKind::paragraph, text);
        const Layout layout = lay_out(b.document, c.width, c.scale);
        test::expect_content_covered(b.document, layout);
        const LayoutBlock& block = layout.blocks[0];
        const float line_width = c.width - 48.0f > 16.0f ? c.width - 48.0f : 16.0f;
        for (const TextPiece& piece : block.pieces) {
            if (c.count > 1) {
                EXPECT_EQ(piece.start % c.unit.size(), 0u) << "piece at " << piece.start;
                EXPECT_GE(piece.length, c.unit.size()) << "piece at " << piece.start;
            }
            DWRITE_TEXT_METRICS metrics{};
            ASSERT_EQ(piece.layout->GetMetrics(&metrics), S_OK);
            if (piece.length > c.unit.size() || c.count == 1) {
                EXPECT_LE(metrics.width, line_width + 0.01f) << "piece at " << piece.start;
            }
        }
    }
}
