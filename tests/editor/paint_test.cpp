#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <functional>

#include "editor/source_interface.h"
#include "tests/colour_checks.h"
#include "tests/editor/editor_window.h"

using namespace pellix;
using pellix::test::EditorWindow;

namespace {

constexpr int width = 600;
constexpr int height = 400;

using test::blend;
using test::eventually;
using test::near_colour;
using test::screen_pixel;
using test::shows_colour;

// Whether any pixel of the band [top, bottom) near the left of the text has `colour`.
bool band_has_colour(HWND window, int top, int bottom, std::uint32_t colour, int slack) {
    for (int y = top; y < bottom; ++y) {
        for (int x = 40; x < 200; ++x) {
            if (near_colour(screen_pixel(window, x, y), colour, slack)) {
                return true;
            }
        }
    }
    return false;
}

// Whether the band comes to show `colour` (or, with `wanted` false, comes to lose it) once the
// frame last drawn has reached the screen.
::testing::AssertionResult band_shows(HWND window, int top, int bottom, std::uint32_t colour,
                                      int slack, bool wanted = true) {
    return eventually([&]() -> ::testing::AssertionResult {
        if (band_has_colour(window, top, bottom, colour, slack) == wanted) {
            return ::testing::AssertionSuccess();
        }
        char text[80];
        std::snprintf(text, sizeof(text), "rows %d to %d %s colour %06X", top, bottom,
                      wanted ? "lack" : "still show", colour);
        return ::testing::AssertionFailure() << text;
    });
}

void repaint(const EditorWindow& window) {
    ASSERT_TRUE(window.paint_fully());
}

void check_palette(const EditorWindow& window, const PaletteTable& table, const char* mode) {
    SCOPED_TRACE(mode);
    const int line = window.position_of(window.send(EM_LINEINDEX, 1)).y;
    ASSERT_GT(line, 10);
    const int gutter = window.position_of(0).x;
    ASSERT_GT(gutter, 8);
    // Background below the text, gutter below the numbers; the first check waits for the frame.
    EXPECT_TRUE(
        shows_colour(window.editor, width / 2, height - 40, table[palette_slot::background]));
    EXPECT_TRUE(
        near_colour(screen_pixel(window.editor, 2, height - 40), table[palette_slot::gutter]));
    // The selected spaces of line 2, and the selected line break to the right of them.
    const std::uint32_t selected =
        blend(table[palette_slot::background], table[palette_slot::selection], 0.4);
    const int spaces_x = window.position_of(window.send(EM_LINEINDEX, 1) + 5).x;
    EXPECT_TRUE(near_colour(screen_pixel(window.editor, spaces_x, line + line / 2), selected));
    EXPECT_TRUE(near_colour(screen_pixel(window.editor, width - 60, line + line / 2), selected));
    // Line 3 is not selected.
    EXPECT_TRUE(near_colour(screen_pixel(window.editor, spaces_x, 2 * line + line / 2),
                            table[palette_slot::background]));
}

TEST(EditorPaint, LightAndDarkPixels) {
    EditorWindow window(width, height, test::Placement::top_level);
    window.set_text(L"# Heading\nx          y\nplain\n");
    const std::uint64_t second = static_cast<std::uint64_t>(window.send(EM_LINEINDEX, 1));
    window.select(static_cast<std::int64_t>(second + 2), static_cast<std::int64_t>(second + 13));
    repaint(window);
    check_palette(window, test::light_table, "light");
    const int line = window.position_of(second).y;
    EXPECT_TRUE(band_shows(window.editor, 0, line, 0x006A9D, 40));

    // Without colouring the heading is drawn in the text colour only.
    window.record().colouring_mode = 2;
    clear_line_layouts(window.record());
    repaint(window);
    EXPECT_TRUE(band_shows(window.editor, 0, line, 0x006A9D, 40, false));
    EXPECT_TRUE(band_shows(window.editor, 0, line, test::light_table[palette_slot::text], 40));

    window.record().colouring_mode = 0;
    set_source_style(window.editor, default_font_points, true, true);
    repaint(window);
    check_palette(window, test::dark_table, "dark");
    EXPECT_TRUE(band_shows(window.editor, 0, line, 0x7ECFF0, 40));

    // A search highlight behind "plain" and an added-line mark beside line 1, dark colours.
    Source& source = window.record();
    source.highlight_term = L"plain";
    ++source.highlight_generation;
    set_compare_gutter(window.editor, true);
    set_change_marks(window.editor, {{{0, 1, line_mark_added}}, {}});
    repaint(window);
    const int third =
        window.position_of(static_cast<std::uint64_t>(window.send(EM_LINEINDEX, 2))).y;
    EXPECT_TRUE(band_shows(window.editor, third, third + line, 0x725920, 3));
    EXPECT_TRUE(shows_colour(window.editor, 3, line / 2, 0x5FD3A6));
    // The frame both checks waited for shows no highlight on line 1 and no mark beside line 3.
    EXPECT_FALSE(band_has_colour(window.editor, 0, line, 0x725920, 3));
    EXPECT_TRUE(near_colour(screen_pixel(window.editor, 3, third + line / 2),
                            test::dark_table[palette_slot::gutter]));
}

TEST(EditorPaint, CaretFollowsTheSelection) {
    EditorWindow window(width, height);
    window.set_text(L"first\nsecond line\n");
    SetFocus(window.editor);
    ASSERT_EQ(GetFocus(), window.editor);
    window.select(9, 9);
    POINT caret{};
    GetCaretPos(&caret);
    const POINTL expected = window.position_of(9);
    EXPECT_EQ(caret.x, expected.x);
    EXPECT_EQ(caret.y, expected.y);
    // Out of view the caret is parked rather than hidden.
    window.set_text(std::wstring(300, L'\n'));
    window.select(0, 0);
    window.send(EM_LINESCROLL, 0, 200);
    GetCaretPos(&caret);
    EXPECT_EQ(caret.x, -100);
    EXPECT_EQ(caret.y, -100);
}

TEST(EditorPaint, BudgetDefersLayoutsToTheTimer) {
    EditorWindow window(width, height);
    std::wstring text;
    for (int i = 0; i < 60; ++i) {
        text += L"line with **some** `code` and text\n";
    }
    window.set_text(text);
    RedrawWindow(window.editor, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    const LayoutBudget& budget = window.record().budget;
    EXPECT_TRUE(budget.last_paint_pending);
    EXPECT_GE(budget.last_paint_built, 1u);
    EXPECT_LE(budget.last_paint_built, 8u);
    ASSERT_TRUE(window.paint_fully());
    EXPECT_FALSE(budget.last_paint_pending);
    // Outside a paint, layouts are built without limit.
    EXPECT_GT(window.position_of(text.size() - 3).y, 0);
}

} // namespace

namespace {

// A keystroke repaints only the rows of its line; what the last frame showed elsewhere stays.
TEST(EditorPaint, KeystrokeRepaintsOnlyItsLine) {
    EditorWindow window(width, height, test::Placement::top_level);
    window.set_text(L"plain words\nsecond\nthird\n");
    Source& source = window.record();
    source.highlight_term = L"plain";
    ++source.highlight_generation;
    repaint(window);
    const std::uint32_t background = test::light_table[palette_slot::background];
    ASSERT_TRUE(shows_colour(window.editor, width / 2, height - 40, background));
    const int line = window.position_of(window.send(EM_LINEINDEX, 1)).y;
    const POINTL marked = window.position_of(2);
    const std::uint32_t highlight = screen_pixel(window.editor, marked.x, marked.y + line / 2);
    ASSERT_FALSE(near_colour(highlight, background));

    const std::uint64_t end_of_third = 24;
    window.select(end_of_third, end_of_third);
    RedrawWindow(window.editor, nullptr, nullptr, RDW_VALIDATE);
    window.send(WM_CHAR, L'W');
    RECT update{};
    ASSERT_TRUE(GetUpdateRect(window.editor, &update, FALSE));
    EXPECT_EQ(update.top, 2 * line);
    EXPECT_LE(update.bottom, 3 * line + 2); // rows are 22.4 px tall
    repaint(window);
    const POINTL typed = window.position_of(end_of_third);
    EXPECT_TRUE(band_shows(window.editor, typed.y, typed.y + line,
                           test::light_table[palette_slot::text], 40));
    // The frame that shows the typed unit kept the first line as it was.
    EXPECT_TRUE(near_colour(screen_pixel(window.editor, marked.x, marked.y + line / 2), highlight));
}

} // namespace
