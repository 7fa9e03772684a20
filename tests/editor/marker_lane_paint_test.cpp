#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <vector>

#include "editor/source_interface.h"
#include "editor/source_record.h"
#include "tests/colour_checks.h"
#include "tests/editor_frame.h"
#include "tests/editor/editor_window.h"

namespace pellix {
namespace {

std::uint32_t pixel(HWND window, int x, int y) {
    return test::FramePixels(window).at(x, y);
}

// The pixels of the text area beside the gutter, rows [top, bottom).
std::vector<std::uint32_t> text_pixels(HWND window, int top, int bottom) {
    const test::FramePixels frame(window);
    std::vector<std::uint32_t> pixels;
    for (int y = top; y < bottom; ++y) {
        for (int x = 40; x < 160; x += 2) {
            pixels.push_back(frame.at(x, y));
        }
    }
    return pixels;
}

// New change marks repaint the marker lane alone, over the frame the editor keeps.
TEST(MarkerLanePaint, NewMarksRepaintTheLaneAndLeaveTheText) {
    test::EditorWindow window(600, 400, test::Placement::top_level);
    window.set_text(L"first line\nsecond line\nthird line\nfourth line\n");
    set_compare_gutter(window.editor, true);
    set_change_marks(window.editor, {{{0, 1, line_mark_added}}, {}});
    ASSERT_TRUE(window.paint_fully());
    const int line = window.position_of(static_cast<std::uint64_t>(window.send(EM_LINEINDEX, 1))).y;
    const int third =
        window.position_of(static_cast<std::uint64_t>(window.send(EM_LINEINDEX, 2))).y;
    const std::uint32_t marked = pixel(window.editor, 3, line / 2);
    const std::uint32_t unmarked = pixel(window.editor, 3, third + line / 2);
    ASSERT_FALSE(test::near_colour(marked, unmarked, 3));
    const std::vector<std::uint32_t> text = text_pixels(window.editor, 0, third + line);

    set_change_marks(window.editor, {{{2, 3, line_mark_added}}, {}});
    RECT update{};
    ASSERT_TRUE(GetUpdateRect(window.editor, &update, FALSE));
    EXPECT_EQ(update.left, 0);
    EXPECT_EQ(update.right, marker_lane_right(window.record()));
    UpdateWindow(window.editor);
    EXPECT_TRUE(test::near_colour(pixel(window.editor, 3, line / 2), unmarked, 3));
    EXPECT_TRUE(test::near_colour(pixel(window.editor, 3, third + line / 2), marked, 3));
    EXPECT_EQ(text_pixels(window.editor, 0, third + line), text);
}

} // namespace
} // namespace pellix
