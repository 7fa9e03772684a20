#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/source_document.h"
#include "editor/code_span_carry.h"
#include "editor/markdown_colouring.h"

using namespace pellix;
using K = SpanKind;

namespace {

using Spans = std::vector<ColourSpan>;

Spans scan(std::u16string_view text, FenceState fence = {}) {
    return scan_colour_spans(text, fence);
}

const FenceState in_backticks{u'`', 3};

TEST(Colouring, HeadingsEmphasisAndStrikethrough) {
    EXPECT_EQ(scan(u"## Title"), (Spans{{0, 2, K::Marker}, {2, 8, K::Heading}}));
    EXPECT_EQ(scan(u"#######"), Spans{});
    EXPECT_EQ(scan(u"**bold**"), (Spans{{0, 2, K::Marker}, {2, 6, K::Strong}, {6, 8, K::Marker}}));
    EXPECT_EQ(scan(u"***x***"),
              (Spans{{0, 3, K::Marker}, {3, 4, K::StrongEmphasis}, {4, 7, K::Marker}}));
    EXPECT_EQ(scan(u"**a*"), Spans{});
    EXPECT_EQ(scan(u"~~x~~"),
              (Spans{{0, 2, K::Marker}, {2, 3, K::Strikethrough}, {3, 5, K::Marker}}));
    EXPECT_EQ(scan(u"~x~"), Spans{});
    EXPECT_EQ(scan(u"a ~~~x~~~"), Spans{});
    EXPECT_EQ(scan(u"snake_case_name"), Spans{});
    EXPECT_EQ(scan(u"an _a_ b"),
              (Spans{{3, 4, K::Marker}, {4, 5, K::Emphasis}, {5, 6, K::Marker}}));
    EXPECT_EQ(scan(u"a * b * c"), Spans{});
}

TEST(Colouring, CodeSpansAndEscapes) {
    EXPECT_EQ(scan(u"`a` and ``b``"), (Spans{{0, 1, K::Marker},
                                             {1, 2, K::Code},
                                             {2, 3, K::Marker},
                                             {8, 10, K::Marker},
                                             {10, 11, K::Code},
                                             {11, 13, K::Marker}}));
    EXPECT_EQ(scan(u"lone ` tick"), (Spans{{5, 6, K::Marker}}));
    EXPECT_EQ(scan(u"\\*not\\*"), (Spans{{0, 2, K::Escape}, {5, 7, K::Escape}}));
    EXPECT_EQ(scan(u"\\a"), Spans{});
}

// Each line's spans scanned with what its paragraph carries into it.
std::vector<Spans> spans_by_line(const std::u16string& text) {
    SourceDocument document;
    document.assign(text);
    const std::vector<FenceState> fences(document.line_count());
    std::vector<Spans> lines;
    for (std::uint64_t line = 0; line < document.line_count(); ++line) {
        const CodeUnit unit = code_unit_around(document, fences, line);
        const std::uint64_t start = document.line_start(line);
        const std::uint64_t end = line + 1 < document.line_count()
                                      ? document.line_start(line + 1) - 1
                                      : document.length();
        lines.push_back(scan_colour_spans(document.text(start, end - start), {},
                                          unit.carries[line - unit.first]));
    }
    return lines;
}

// A code span closes on a later line of its paragraph, list item or quote, and the pairing
// after it goes on from there; a blank line, a line not inside the item or a change from a quote
// to a paragraph ends what may close.
TEST(Colouring, CodeSpansRunOverLineBreaksWithinAParagraph) {
    const std::vector<Spans> lines = spans_by_line(u"Run `git\n"
                                                   u"status` and `x` then\n"
                                                   u"- item `a\n"
                                                   u"  b` done\n"
                                                   u"lone ` tick\n"
                                                   u"\n"
                                                   u"next` para\n"
                                                   u"> quoted `a\n"
                                                   u"> b` c");
    EXPECT_EQ(lines[0], (Spans{{4, 5, K::Marker}, {5, 8, K::Code}}));
    EXPECT_EQ(lines[1], (Spans{{0, 6, K::Code},
                               {6, 7, K::Marker},
                               {12, 13, K::Marker},
                               {13, 14, K::Code},
                               {14, 15, K::Marker}}));
    EXPECT_EQ(lines[2], (Spans{{0, 1, K::ListMarker}, {7, 8, K::Marker}, {8, 9, K::Code}}));
    EXPECT_EQ(lines[3], (Spans{{2, 3, K::Code}, {3, 4, K::Marker}}));
    EXPECT_EQ(lines[4], (Spans{{5, 6, K::Marker}}));
    EXPECT_EQ(lines[6], (Spans{{4, 5, K::Marker}}));
    EXPECT_EQ(
        lines[7],
        (Spans{
            {0, 1, K::QuoteMarker}, {2, 11, K::QuoteText}, {9, 10, K::Marker}, {10, 11, K::Code}}));
    EXPECT_EQ(
        lines[8],
        (Spans{{0, 1, K::QuoteMarker}, {2, 6, K::QuoteText}, {2, 3, K::Code}, {3, 4, K::Marker}}));
}

TEST(Colouring, LinksImagesAndAddresses) {
    EXPECT_EQ(scan(u"[text](url)"), (Spans{{0, 1, K::Marker},
                                           {1, 5, K::LinkText},
                                           {5, 7, K::Marker},
                                           {7, 10, K::Url},
                                           {10, 11, K::Marker}}));
    EXPECT_EQ(scan(u"![alt](src)"), (Spans{{0, 2, K::Marker},
                                           {2, 5, K::ImageText},
                                           {5, 7, K::Marker},
                                           {7, 10, K::Url},
                                           {10, 11, K::Marker}}));
    EXPECT_EQ(scan(u"[text] (url)"), Spans{});
    EXPECT_EQ(scan(u"<https://a.b>"),
              (Spans{{0, 1, K::Marker}, {1, 12, K::Url}, {12, 13, K::Marker}}));
    EXPECT_EQ(scan(u"see https://x.y/a_(b)."), (Spans{{4, 21, K::Url}}));
    EXPECT_EQ(scan(u"xhttps://x.y"), Spans{});
    EXPECT_EQ(scan(u"a|b"), (Spans{{1, 2, K::TablePipe}}));
}

TEST(Colouring, BlockMarkers) {
    EXPECT_EQ(scan(u"- [x] done"), (Spans{{0, 1, K::ListMarker}, {2, 5, K::ListMarker}}));
    EXPECT_EQ(scan(u"1) x"), (Spans{{0, 2, K::ListMarker}}));
    EXPECT_EQ(scan(u"1234567890. x"), Spans{});
    EXPECT_EQ(scan(u"> > quote"), (Spans{{0, 1, K::QuoteMarker},
                                         {2, 9, K::QuoteText},
                                         {2, 3, K::QuoteMarker},
                                         {4, 9, K::QuoteText}}));
    EXPECT_EQ(scan(u" * * *"), (Spans{{1, 6, K::ThematicBreak}}));
    // A piece is scanned as though it began a line.
    EXPECT_EQ(scan(u"# mid-line piece").front(), (ColourSpan{0, 1, K::Marker}));
}

TEST(Colouring, FenceLines) {
    EXPECT_EQ(scan(u"```js"), (Spans{{0, 3, K::FenceMarker}, {3, 5, K::FenceInfo}}));
    EXPECT_EQ(scan(u"```a`b").front().kind, K::Marker);
    EXPECT_EQ(scan(u"~~~ a~b"), (Spans{{0, 3, K::FenceMarker}, {3, 7, K::FenceInfo}}));
    EXPECT_EQ(scan(u"````", in_backticks), (Spans{{0, 4, K::FenceMarker}}));
    EXPECT_EQ(scan(u"~~~", in_backticks), (Spans{{0, 3, K::Code}}));
    EXPECT_EQ(scan(u"``` x", in_backticks), (Spans{{0, 5, K::Code}}));
    EXPECT_EQ(scan(u"# not a heading", in_backticks), (Spans{{0, 15, K::Code}}));
    EXPECT_EQ(scan(u"    ```"), (Spans{{4, 7, K::Marker}}));
}

TEST(Colouring, OrderLetsMarkersAndCodeWin) {
    Spans spans = scan(u"# a `b` c");
    order_spans(spans);
    ASSERT_EQ(spans.size(), 5u);
    EXPECT_EQ(spans[0].kind, K::Heading);
    EXPECT_EQ(spans[1].kind, K::Code);
    for (std::size_t i = 2; i < spans.size(); ++i) {
        EXPECT_EQ(spans[i].kind, K::Marker);
    }
    EXPECT_TRUE(is_punctuation_kind(K::FenceMarker));
    EXPECT_FALSE(is_punctuation_kind(K::FenceInfo));
}

} // namespace
