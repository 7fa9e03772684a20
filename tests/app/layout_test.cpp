#include <gtest/gtest.h>

#include "app/main_layout.h"
#include "app/splitters.h"

namespace pellix {
namespace {

// Label widths roughly as a 9-point UI font measures them.
LayoutInput window_of(int width, int height, unsigned dpi, int view) {
    LayoutInput input;
    input.width = width;
    input.height = height;
    input.dpi = dpi;
    input.view = view;
    const int scale = static_cast<int>(dpi);
    input.texts.labels = {MulDiv(38, scale, 96), MulDiv(24, scale, 96), MulDiv(44, scale, 96),
                          MulDiv(44, scale, 96), MulDiv(36, scale, 96)};
    input.texts.paused = MulDiv(40, scale, 96);
    input.texts.untitled = MulDiv(70, scale, 96);
    return input;
}

RECT rect(int left, int top, int right, int bottom) {
    return {left, top, right, bottom};
}

bool same(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(MainLayout, SourceViewAt96Dpi) {
    const MainLayout layout = compute_layout(window_of(1200, 800, 96, 300));
    EXPECT_TRUE(same(layout.status, rect(0, 776, 1200, 800)));
    EXPECT_EQ(layout.tabs.bottom, 36);
    EXPECT_TRUE(same(layout.editor, rect(0, 69, 1200, 776)));
    EXPECT_TRUE(layout.source_shown);
    EXPECT_FALSE(layout.preview_shown);
    EXPECT_EQ(layout.effective_view, 300);
    EXPECT_TRUE(same(layout.hide_source, rect(1170, 37, 1200, 69)));
    EXPECT_TRUE(same(layout.source_label, rect(0, 37, 1170, 69)));
    // Wide enough for labels: each label plus 42, the margin 28, and the tab strip up to the gap.
    EXPECT_TRUE(layout.switcher_layout.labels);
    EXPECT_EQ(layout.switcher_layout.widths[0], 80);
    EXPECT_EQ(layout.switcher_layout.widths[4], 82); // "Paused" is the wider fifth label
    EXPECT_EQ(layout.switcher_layout.total, 80 + 66 + 86 + 86 + 82 + 28);
    EXPECT_EQ(layout.tabs.right, 1200 - layout.switcher_layout.total - 8);
    EXPECT_EQ(layout.switcher.left, layout.tabs.right);
}

TEST(MainLayout, SplitViewAt144DpiScalesEveryMetric) {
    LayoutInput input = window_of(1800, 1200, 144, 302);
    input.split = 0.25;
    const MainLayout layout = compute_layout(input);
    EXPECT_TRUE(same(layout.status, rect(0, 1164, 1800, 1200)));
    EXPECT_EQ(layout.tabs.bottom, 54);
    // Divider 8 wide (7.5 rounded) around x = 450; Source up to its left edge, Preview from its
    // right edge.
    EXPECT_TRUE(same(layout.split_divider, rect(446, 55, 454, 1164)));
    EXPECT_TRUE(same(layout.editor, rect(0, 103, 446, 1164)));
    EXPECT_TRUE(same(layout.preview, rect(454, 103, 1800, 1164)));
    EXPECT_TRUE(same(layout.hide_preview, rect(1755, 55, 1800, 103)));
    EXPECT_EQ(layout.effective_view, 302);
}

TEST(MainLayout, CollapsedSplitShowsOnePaneAndThatPaneDecidesTheView) {
    LayoutInput input = window_of(1200, 800, 96, 302);
    input.split = 1.0;
    MainLayout layout = compute_layout(input);
    EXPECT_TRUE(layout.source_shown);
    EXPECT_FALSE(layout.preview_shown);
    EXPECT_EQ(layout.effective_view, 300);
    EXPECT_EQ(layout.editor.right, layout.split_divider.left);

    input.split = 0.0;
    layout = compute_layout(input);
    EXPECT_FALSE(layout.source_shown);
    EXPECT_TRUE(layout.preview_shown);
    EXPECT_EQ(layout.effective_view, 301);
}

TEST(MainLayout, PlainTextShowsSourceWithoutOutline) {
    LayoutInput input = window_of(1200, 800, 96, 302);
    input.markdown = false;
    input.outline = true;
    const MainLayout layout = compute_layout(input);
    EXPECT_EQ(layout.view, 300);
    EXPECT_FALSE(layout.show_outline);
    EXPECT_FALSE(layout.preview_shown);
    EXPECT_EQ(layout.editor.right, 1200);
}

TEST(MainLayout, OutlinePaneWidthsAndTheirLimits) {
    LayoutInput input = window_of(1200, 800, 96, 300);
    input.outline = true;
    MainLayout layout = compute_layout(input);
    // 220 wide, a 5-pixel splitter before it.
    EXPECT_TRUE(same(layout.outline_splitter, rect(975, 37, 980, 776)));
    EXPECT_TRUE(same(layout.outline_options, rect(1170, 37, 1200, 69)));
    EXPECT_EQ(layout.headings.right - layout.headings.left, 72);
    EXPECT_EQ(layout.tasks.right, 1170);
    EXPECT_EQ(layout.tasks.right - layout.tasks.left, 52);
    EXPECT_EQ(layout.outline_label.left, 980);
    EXPECT_EQ(layout.outline_label.right, layout.headings.left);
    EXPECT_TRUE(same(layout.tree, rect(986, 69, 1200, 776)));

    input.outline_width = 4000; // at most 30 % of the width
    EXPECT_EQ(compute_layout(input).outline_splitter.left, 1200 - 360 - 5);

    input.width = 200; // narrow: never below 96 raw pixels
    layout = compute_layout(input);
    EXPECT_EQ(layout.tree.right - layout.tree.left, 96 - 6);
    EXPECT_EQ(layout.outline_splitter.left, 200 - 96 - 5);
}

TEST(MainLayout, FindBarRowsAndTheNarrowPane) {
    LayoutInput input = window_of(1200, 800, 96, 300);
    input.find_bar_visible = true;
    EXPECT_EQ(compute_layout(input).find_bar.bottom - compute_layout(input).find_bar.top, 36);
    EXPECT_EQ(compute_layout(input).editor.top, 69 + 36);

    input.find_replace_row = true;
    input.view = 302;
    input.split = 0.2; // a source pane of 237 pixels: below 260, one row more
    const MainLayout narrow = compute_layout(input);
    EXPECT_EQ(narrow.find_bar.bottom - narrow.find_bar.top, 108);
    EXPECT_EQ(narrow.find_bar.right, narrow.editor.right);
    EXPECT_EQ(narrow.preview.top, 69);

    input.split = 0.0; // preview only: the bar sits above the preview
    const MainLayout preview_only = compute_layout(input);
    EXPECT_EQ(preview_only.find_bar.left, preview_only.preview.left);
    EXPECT_EQ(preview_only.preview.top, 69 + 72);
}

TEST(MainLayout, NarrowWindowShowsIconOnlySwitcher) {
    const MainLayout layout = compute_layout(window_of(700, 500, 96, 300));
    EXPECT_FALSE(layout.switcher_layout.labels);
    EXPECT_EQ(layout.switcher_layout.total, 168);
    EXPECT_EQ(layout.switcher_layout.widths[2], 28);
}

TEST(Splitters, DragAndDoubleClickArithmetic) {
    EXPECT_EQ(split_share_at(-40, 1000), 0.0);
    EXPECT_EQ(split_share_at(1200, 1000), 1.0);
    EXPECT_EQ(split_share_at(250, 1000), 0.25);
    EXPECT_EQ(split_share_at(5, 0), 1.0);

    EXPECT_EQ(outline_width_at(1200, 1190, 96), 96u);
    EXPECT_EQ(outline_width_at(1200, -9000, 96), 4000u);
    EXPECT_EQ(outline_width_at(1800, 1200, 144), 400u);

    const SplitShares collapsed = toggle_split({0.7, 0.5});
    EXPECT_EQ(collapsed.split, 1.0);
    EXPECT_EQ(collapsed.restore, 0.7);
    EXPECT_EQ(toggle_split({0.3, 0.5}).split, 0.0);
    const SplitShares restored = toggle_split({0.0, 0.7});
    EXPECT_EQ(restored.split, 0.7);
    EXPECT_EQ(restored.restore, 0.7);
}

} // namespace
} // namespace pellix
