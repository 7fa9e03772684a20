#include <gtest/gtest.h>
#include <windows.h>
#include <dwrite.h>

#include <string>
#include <vector>

#include "platform/com_ptr.h"
#include "platform/text_hit_test.h"

using pellix::ComPtr;

namespace {

constexpr float font_size = 16.0f;
constexpr float line_height = 24.0f; // uniform spacing of 1.5 x size

class TextHitTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                      reinterpret_cast<IUnknown**>(factory_.put())),
                  S_OK);
    }

    ComPtr<IDWriteTextLayout>
    make_layout(const std::wstring& text, float max_width,
                DWRITE_TEXT_ALIGNMENT alignment = DWRITE_TEXT_ALIGNMENT_LEADING) {
        ComPtr<IDWriteTextFormat> format;
        EXPECT_EQ(factory_->CreateTextFormat(L"Segoe UI", nullptr, DWRITE_FONT_WEIGHT_NORMAL,
                                             DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL,
                                             font_size, L"en-US", format.put()),
                  S_OK);
        format->SetLineSpacing(DWRITE_LINE_SPACING_METHOD_UNIFORM, line_height, font_size * 1.15f);
        format->SetTextAlignment(alignment);
        ComPtr<IDWriteTextLayout> layout;
        EXPECT_EQ(factory_->CreateTextLayout(text.c_str(), static_cast<UINT32>(text.size()),
                                             format.get(), max_width, 1000.0f, layout.put()),
                  S_OK);
        return layout;
    }

    static std::vector<DWRITE_LINE_METRICS> lines_of(IDWriteTextLayout* layout) {
        UINT32 count = 0;
        layout->GetLineMetrics(nullptr, 0, &count);
        std::vector<DWRITE_LINE_METRICS> lines(count);
        EXPECT_EQ(layout->GetLineMetrics(lines.data(), count, &count), S_OK);
        return lines;
    }

    static std::vector<DWRITE_CLUSTER_METRICS> clusters_of(IDWriteTextLayout* layout) {
        UINT32 count = 0;
        layout->GetClusterMetrics(nullptr, 0, &count);
        std::vector<DWRITE_CLUSTER_METRICS> clusters(count);
        EXPECT_EQ(layout->GetClusterMetrics(clusters.data(), count, &count), S_OK);
        return clusters;
    }

    struct Caret {
        float x = 0, y = 0;
        DWRITE_HIT_TEST_METRICS metrics{};
    };
    static Caret caret(IDWriteTextLayout* layout, UINT32 position, BOOL trailing) {
        Caret c;
        EXPECT_EQ(
            pellix::hit_test_text_position(layout, position, trailing, &c.x, &c.y, &c.metrics),
            S_OK);
        return c;
    }

    struct PointHit {
        BOOL trailing = FALSE, inside = FALSE;
        DWRITE_HIT_TEST_METRICS metrics{};
    };
    static PointHit point(IDWriteTextLayout* layout, float x, float y) {
        PointHit hit;
        EXPECT_EQ(pellix::hit_test_point(layout, x, y, &hit.trailing, &hit.inside, &hit.metrics),
                  S_OK);
        return hit;
    }

    static std::vector<DWRITE_HIT_TEST_METRICS> range(IDWriteTextLayout* layout, UINT32 start,
                                                      UINT32 length, float x = 0, float y = 0) {
        UINT32 count = 0;
        HRESULT hr = pellix::hit_test_text_range(layout, start, length, x, y, nullptr, 0, &count);
        EXPECT_TRUE(hr == S_OK || hr == E_NOT_SUFFICIENT_BUFFER);
        std::vector<DWRITE_HIT_TEST_METRICS> boxes(count);
        EXPECT_EQ(
            pellix::hit_test_text_range(layout, start, length, x, y, boxes.data(), count, &count),
            S_OK);
        boxes.resize(count);
        return boxes;
    }

    ComPtr<IDWriteFactory> factory_;
};

const std::wstring wrapped_text = L"alpha beta gamma delta epsilon zeta";

} // namespace

TEST_F(TextHitTest, CaretPositionsFollowClusterAdvancesOnEachLine) {
    auto layout = make_layout(wrapped_text, 90.0f);
    auto lines = lines_of(layout.get());
    auto clusters = clusters_of(layout.get());
    ASSERT_GE(lines.size(), 3u);
    UINT32 position = 0, cluster = 0;
    float widest = 0;
    for (size_t line = 0; line < lines.size(); ++line) {
        float x = 0;
        const UINT32 line_end = position + lines[line].length;
        for (; position < line_end; position += clusters[cluster++].length) {
            Caret leading = caret(layout.get(), position, FALSE);
            Caret trailing = caret(layout.get(), position, TRUE);
            EXPECT_NEAR(leading.x, x, 0.01) << position;
            EXPECT_NEAR(leading.y, line * line_height, 0.01) << position;
            EXPECT_NEAR(trailing.x, x + clusters[cluster].width, 0.01) << position;
            EXPECT_EQ(leading.metrics.textPosition, position);
            EXPECT_EQ(leading.metrics.length, clusters[cluster].length);
            EXPECT_NEAR(leading.metrics.height, line_height, 0.01);
            if (position < line_end - lines[line].trailingWhitespaceLength) {
                widest = std::max(widest, x + clusters[cluster].width);
            }
            x += clusters[cluster].width;
        }
    }
    // DirectWrite's own measure of the widest line agrees with the placed clusters.
    DWRITE_TEXT_METRICS metrics{};
    ASSERT_EQ(layout->GetMetrics(&metrics), S_OK);
    EXPECT_NEAR(widest, metrics.width, 0.01);
}

TEST_F(TextHitTest, CaretAtTextEndStandsAfterTheLastCluster) {
    auto layout = make_layout(L"ab", 500.0f);
    Caret end = caret(layout.get(), 2, FALSE);
    Caret last = caret(layout.get(), 1, TRUE);
    EXPECT_NEAR(end.x, last.x, 0.01);
    EXPECT_EQ(end.metrics.textPosition, 2u);
    EXPECT_EQ(end.metrics.length, 0u);
    // After a final line break the end lies at the start of the empty last line.
    auto broken = make_layout(L"ab\n", 500.0f);
    Caret after = caret(broken.get(), 3, FALSE);
    EXPECT_NEAR(after.x, 0.0, 0.01);
    EXPECT_NEAR(after.y, line_height, 0.01);
    auto empty = make_layout(L"", 500.0f);
    Caret nothing = caret(empty.get(), 0, FALSE);
    EXPECT_NEAR(nothing.x, 0.0, 0.01);
    EXPECT_NEAR(nothing.y, 0.0, 0.01);
}

TEST_F(TextHitTest, PointsBeforeInsideAndAfterTheText) {
    auto layout = make_layout(wrapped_text, 90.0f);
    auto lines = lines_of(layout.get());
    const UINT32 second_line = lines[0].length;
    Caret second = caret(layout.get(), second_line, FALSE);
    Caret second_end = caret(layout.get(), second_line, TRUE);
    const float mid_y = line_height * 1.5f;

    PointHit left = point(layout.get(), -5.0f, mid_y);
    EXPECT_EQ(left.metrics.textPosition, second_line);
    EXPECT_FALSE(left.trailing);
    EXPECT_FALSE(left.inside);

    PointHit leading_half = point(layout.get(), second.x + 1.0f, mid_y);
    EXPECT_EQ(leading_half.metrics.textPosition, second_line);
    EXPECT_FALSE(leading_half.trailing);
    EXPECT_TRUE(leading_half.inside);
    EXPECT_NEAR(leading_half.metrics.top, line_height, 0.01);

    PointHit trailing_half = point(layout.get(), second_end.x - 1.0f, mid_y);
    EXPECT_EQ(trailing_half.metrics.textPosition, second_line);
    EXPECT_TRUE(trailing_half.trailing);
    EXPECT_TRUE(trailing_half.inside);

    // Right of the first line: its last cluster (the space before the wrap), trailing edge.
    PointHit right = point(layout.get(), 1000.0f, line_height * 0.5f);
    EXPECT_EQ(right.metrics.textPosition + right.metrics.length, lines[0].length);
    EXPECT_TRUE(right.trailing);
    EXPECT_FALSE(right.inside);

    PointHit above = point(layout.get(), second.x + 1.0f, -30.0f);
    EXPECT_EQ(above.metrics.textPosition, 0u);
    EXPECT_FALSE(above.inside);

    PointHit below = point(layout.get(), 1000.0f, 5000.0f);
    EXPECT_EQ(below.metrics.textPosition + below.metrics.length, wrapped_text.size());
    EXPECT_TRUE(below.trailing);
    EXPECT_FALSE(below.inside);
}

TEST_F(TextHitTest, PointsPastALineBreakStopBeforeIt) {
    auto layout = make_layout(L"ab\n\ncd\n", 500.0f);
    PointHit first = point(layout.get(), 400.0f, 5.0f);
    EXPECT_EQ(first.metrics.textPosition, 1u);
    EXPECT_TRUE(first.trailing);
    PointHit empty_line = point(layout.get(), 400.0f, line_height + 5.0f);
    EXPECT_EQ(empty_line.metrics.textPosition, 3u);
    EXPECT_FALSE(empty_line.trailing);
    EXPECT_FALSE(empty_line.inside);
    PointHit last_line = point(layout.get(), 400.0f, line_height * 3 + 5.0f);
    EXPECT_EQ(last_line.metrics.textPosition, 7u);
    EXPECT_FALSE(last_line.trailing);
}

TEST_F(TextHitTest, RangeBoxesAreTheUnionOfClusterBoxesPerLine) {
    auto layout = make_layout(wrapped_text, 90.0f);
    auto lines = lines_of(layout.get());
    // From the middle of the first line to the middle of the third.
    const UINT32 start = 2;
    const UINT32 end = lines[0].length + lines[1].length + 3;
    auto boxes = range(layout.get(), start, end - start, 10.0f, 100.0f);
    ASSERT_EQ(boxes.size(), 3u);
    UINT32 line_start = 0;
    for (size_t i = 0; i < 3; ++i) {
        const UINT32 first = std::max(start, line_start);
        const UINT32 last = std::min(end, line_start + lines[i].length) - 1;
        Caret left = caret(layout.get(), first, FALSE);
        Caret right = caret(layout.get(), last, TRUE);
        EXPECT_EQ(boxes[i].textPosition, first);
        EXPECT_EQ(boxes[i].length, last + 1 - first);
        EXPECT_NEAR(boxes[i].left, 10.0f + left.x, 0.01);
        EXPECT_NEAR(boxes[i].left + boxes[i].width, 10.0f + right.x, 0.01);
        EXPECT_NEAR(boxes[i].top, 100.0f + line_height * i, 0.01);
        EXPECT_NEAR(boxes[i].height, line_height, 0.01);
        line_start += lines[i].length;
    }
}

TEST_F(TextHitTest, RangeWithinOneLineEmptyAndPastTheEnd) {
    auto layout = make_layout(L"abcdef", 500.0f);
    auto boxes = range(layout.get(), 1, 3);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NEAR(boxes[0].left, caret(layout.get(), 1, FALSE).x, 0.01);
    EXPECT_NEAR(boxes[0].left + boxes[0].width, caret(layout.get(), 3, TRUE).x, 0.01);
    auto clipped = range(layout.get(), 4, 100);
    ASSERT_EQ(clipped.size(), 1u);
    EXPECT_EQ(clipped[0].length, 2u);
    EXPECT_TRUE(range(layout.get(), 6, 4).empty());
}

TEST_F(TextHitTest, SmallBufferAnswersNotSufficientWithTheCount) {
    auto layout = make_layout(wrapped_text, 90.0f);
    UINT32 count = 0;
    EXPECT_EQ(pellix::hit_test_text_range(layout.get(), 0, 20, 0, 0, nullptr, 0, &count),
              E_NOT_SUFFICIENT_BUFFER);
    EXPECT_GE(count, 2u);
    DWRITE_HIT_TEST_METRICS one{};
    UINT32 again = 0;
    EXPECT_EQ(pellix::hit_test_text_range(layout.get(), 0, 20, 0, 0, &one, 1, &again),
              E_NOT_SUFFICIENT_BUFFER);
    EXPECT_EQ(again, count);
}

TEST_F(TextHitTest, AlignedLinesStartWhereDirectWritePlacesThem) {
    for (auto alignment : {DWRITE_TEXT_ALIGNMENT_TRAILING, DWRITE_TEXT_ALIGNMENT_CENTER}) {
        auto layout = make_layout(L"right", 200.0f, alignment);
        DWRITE_TEXT_METRICS metrics{};
        ASSERT_EQ(layout->GetMetrics(&metrics), S_OK);
        EXPECT_GT(metrics.left, 10.0f);
        EXPECT_NEAR(caret(layout.get(), 0, FALSE).x, metrics.left, 0.01);
        EXPECT_NEAR(caret(layout.get(), 4, TRUE).x, metrics.left + metrics.width, 0.01);
    }
}

TEST_F(TextHitTest, PositionsInsideAClusterReportTheWholeCluster) {
    // A surrogate pair is one cluster of two code units.
    auto layout = make_layout(L"a\U0001F600b", 500.0f);
    Caret inside = caret(layout.get(), 2, FALSE);
    EXPECT_EQ(inside.metrics.textPosition, 1u);
    EXPECT_EQ(inside.metrics.length, 2u);
    EXPECT_NEAR(inside.x, caret(layout.get(), 1, FALSE).x, 0.01);
    auto boxes = range(layout.get(), 2, 1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].textPosition, 1u);
    EXPECT_EQ(boxes[0].length, 2u);
}
