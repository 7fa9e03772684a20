#include <gtest/gtest.h>

#include <string>

#include "markdown/html_render.h"
#include "markdown/preview_markup.h"
#include "preview/layout.h"
#include "tests/preview/preview_test_document.h"

namespace pellix {
namespace {

PreviewDocument read(const std::string& markdown) {
    return read_preview_markup(render_markdown_html(markdown, false, preview_source_limit));
}

const std::string before =
    "# Notes\n\nA paragraph that wraps over more than one line in a narrow window, with a "
    "[link](https://example.test/) and `code`.\n\n- one\n- [ ] two\n\n| a | b |\n|---|---:|\n| "
    "1 | 2 |\n\n---\n\n```\nfor (;;) {}\n```\n\n> quoted\n\nThe last paragraph.\n";

class LayoutReuse : public ::testing::Test {
protected:
    void SetUp() override {
        factory = test::make_dwrite_factory();
        ASSERT_TRUE(factory);
        old_document = read(before);
        ASSERT_EQ(old_document.blocks[4].kind, PreviewBlockKind::table_cell);
        old_layout = build_layout(factory.get(), old_document, width, 1.25f, false);
    }

    // Builds `markdown` both ways and checks that the reusing build places everything where
    // the full build does; answers the reusing build.
    Layout both_ways(const std::string& markdown) {
        document = read(markdown);
        Layout full = build_layout(factory.get(), document, width, 1.25f, false);
        Layout reused = build_layout(factory.get(), document, width, 1.25f, false,
                                     LayoutSource{old_document, old_layout});
        EXPECT_EQ(reused.blocks.size(), full.blocks.size());
        for (size_t i = 0; i < full.blocks.size() && i < reused.blocks.size(); ++i) {
            const LayoutBlock& a = full.blocks[i];
            const LayoutBlock& b = reused.blocks[i];
            EXPECT_EQ(b.text_start, a.text_start) << i;
            EXPECT_EQ(b.text_length, a.text_length) << i;
            EXPECT_FLOAT_EQ(b.x, a.x) << i;
            EXPECT_FLOAT_EQ(b.y, a.y) << i;
            EXPECT_FLOAT_EQ(b.height, a.height) << i;
            EXPECT_FLOAT_EQ(b.width, a.width) << i;
            EXPECT_FLOAT_EQ(b.marker_width, a.marker_width) << i;
            EXPECT_FLOAT_EQ(b.row_height, a.row_height) << i;
            EXPECT_EQ(b.pieces.size(), a.pieces.size()) << i;
            EXPECT_EQ(!b.marker_layout, !a.marker_layout) << i;
        }
        EXPECT_EQ(reused.lines.size(), full.lines.size());
        for (size_t i = 0; i < full.lines.size() && i < reused.lines.size(); ++i) {
            EXPECT_EQ(reused.lines[i].block, full.lines[i].block) << i;
            EXPECT_EQ(reused.lines[i].start, full.lines[i].start) << i;
            EXPECT_EQ(reused.lines[i].length, full.lines[i].length) << i;
            EXPECT_NEAR(reused.lines[i].top, full.lines[i].top, 0.01) << i;
            EXPECT_NEAR(reused.lines[i].bottom, full.lines[i].bottom, 0.01) << i;
        }
        EXPECT_EQ(reused.bands.size(), full.bands.size());
        for (size_t i = 0; i < full.bands.size() && i < reused.bands.size(); ++i) {
            EXPECT_NEAR(reused.bands[i].top, full.bands[i].top, 0.01) << i;
            EXPECT_NEAR(reused.bands[i].bottom, full.bands[i].bottom, 0.01) << i;
            EXPECT_EQ(reused.bands[i].keep_with_next, full.bands[i].keep_with_next) << i;
        }
        EXPECT_EQ(reused.boundaries, full.boundaries);
        EXPECT_EQ(reused.bottom_bounds, full.bottom_bounds);
        EXPECT_FLOAT_EQ(reused.width, full.width);
        EXPECT_FLOAT_EQ(reused.height, full.height);
        return reused;
    }

    // Which blocks of `layout` share their shaped text with the old layout's block at the
    // same distance from the start (or the end, with `from_end`).
    std::vector<bool> shared(const Layout& layout, bool from_end = false) {
        std::vector<bool> result;
        const size_t n = layout.blocks.size();
        const size_t m = old_layout.blocks.size();
        for (size_t i = 0; i < n; ++i) {
            const size_t j = from_end ? m - (n - i) : i;
            result.push_back(j < m && !layout.blocks[i].pieces.empty() &&
                             !old_layout.blocks[j].pieces.empty() &&
                             layout.blocks[i].pieces[0].layout.get() ==
                                 old_layout.blocks[j].pieces[0].layout.get());
        }
        return result;
    }

    static constexpr float width = 420.0f;
    ComPtr<IDWriteFactory> factory;
    PreviewDocument old_document;
    Layout old_layout;
    PreviewDocument document;
};

TEST_F(LayoutReuse, OneChangedWordReshapesOnlyItsBlock) {
    std::string edited = before;
    edited.replace(edited.find("wraps"), 5, "runs and wraps");
    const Layout reused = both_ways(edited);
    const std::vector<bool> sharing = shared(reused);
    for (size_t i = 0; i < sharing.size(); ++i) {
        const bool text_block = document.blocks[i].kind != PreviewBlockKind::rule;
        EXPECT_EQ(sharing[i], text_block && i != 1) << i;
    }
}

TEST_F(LayoutReuse, AnInsertedBlockMovesTheBlocksAfterIt) {
    std::string edited = before;
    edited.insert(edited.find("- one"), "A new paragraph\nover two source lines.\n\n");
    const Layout reused = both_ways(edited);
    ASSERT_EQ(reused.blocks.size(), old_layout.blocks.size() + 1);
    EXPECT_TRUE(shared(reused)[1]);
    const std::vector<bool> tail = shared(reused, true);
    EXPECT_FALSE(tail[2]);
    EXPECT_TRUE(tail[3]);
    EXPECT_TRUE(tail.back());
}

TEST_F(LayoutReuse, SameTextWithOtherStylesIsShapedAgain) {
    std::string edited = before;
    edited.replace(edited.find("https://example.test/"), 21, "https://example.test/other");
    const Layout reused = both_ways(edited);
    EXPECT_FALSE(shared(reused)[1]);
    EXPECT_TRUE(shared(reused)[0]);
    // A table cell whose text is unchanged keeps its shaped text only when its row does too.
    edited = before;
    edited.replace(edited.find("| 1 |"), 5, "| 1 | 3 |");
    edited.replace(edited.find("|---|---:|"), 10, "|---|---:|---|");
    edited.replace(edited.find("| a | b |"), 9, "| a | b | c |");
    both_ways(edited);
}

TEST_F(LayoutReuse, NothingIsTakenFromALayoutOfAnotherDocument) {
    const PreviewDocument other = read("Just one paragraph.\n");
    document = read(before);
    const Layout reused =
        build_layout(factory.get(), document, width, 1.25f, false, LayoutSource{other, old_layout});
    for (size_t i = 0; i < reused.blocks.size(); ++i) {
        EXPECT_FALSE(!reused.blocks[i].pieces.empty() &&
                     reused.blocks[i].pieces[0].layout.get() ==
                         old_layout.blocks[0].pieces[0].layout.get());
    }
}

} // namespace
} // namespace pellix
