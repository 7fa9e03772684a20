#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <functional>
#include <memory>
#include <numeric>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "editor/source_interface.h"
#include "tests/colour_checks.h"
#include "tests/editor_frame.h"
#include "tests/editor/editor_window.h"
#include "tests/editor/target_interruption.h"
#include "tests/message_window.h"
#include "tests/preview/layout_checks.h"

using namespace pellix;
using pellix::test::EditorWindow;

namespace {

constexpr int width = 600;
constexpr int height = 400;

std::uint32_t pixel(HWND window, int x, int y) {
    return test::FramePixels(window).at(x, y);
}

using test::blend;
using test::near_colour;

// Whether any pixel of the band [top, bottom) near the left of the text has `colour`.
bool band_has_colour(HWND window, int top, int bottom, std::uint32_t colour, int slack) {
    const test::FramePixels frame(window);
    for (int y = top; y < bottom; ++y) {
        for (int x = 40; x < 200; ++x) {
            if (near_colour(frame.at(x, y), colour, slack)) {
                return true;
            }
        }
    }
    return false;
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
    // Background below the text, gutter below the numbers.
    EXPECT_TRUE(
        near_colour(pixel(window.editor, width / 2, height - 40), table[palette_slot::background]));
    EXPECT_TRUE(near_colour(pixel(window.editor, 2, height - 40), table[palette_slot::gutter]));
    // The selected spaces of line 2, and the selected line break to the right of them.
    const std::uint32_t selected =
        blend(table[palette_slot::background], table[palette_slot::selection], 0.4);
    const int spaces_x = window.position_of(window.send(EM_LINEINDEX, 1) + 5).x;
    EXPECT_TRUE(near_colour(pixel(window.editor, spaces_x, line + line / 2), selected));
    EXPECT_TRUE(near_colour(pixel(window.editor, width - 60, line + line / 2), selected));
    // Line 3 is not selected.
    EXPECT_TRUE(near_colour(pixel(window.editor, spaces_x, 2 * line + line / 2),
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
    EXPECT_TRUE(band_has_colour(window.editor, 0, line, 0x006A9D, 40));

    // Without colouring the heading is drawn in the text colour only.
    window.record().colouring_mode = 2;
    clear_line_layouts(window.record());
    repaint(window);
    EXPECT_FALSE(band_has_colour(window.editor, 0, line, 0x006A9D, 40));

    window.record().colouring_mode = 0;
    set_source_style(window.editor, default_font_points, true, true);
    repaint(window);
    check_palette(window, test::dark_table, "dark");
    EXPECT_TRUE(band_has_colour(window.editor, 0, line, 0x7ECFF0, 40));

    // A search highlight behind "plain" and an added-line mark beside line 1, dark colours.
    Source& source = window.record();
    source.highlight_term = L"plain";
    ++source.highlight_generation;
    set_compare_gutter(window.editor, true);
    set_change_marks(window.editor, {{{0, 1, line_mark_added}}, {}});
    repaint(window);
    const int third =
        window.position_of(static_cast<std::uint64_t>(window.send(EM_LINEINDEX, 2))).y;
    EXPECT_TRUE(band_has_colour(window.editor, third, third + line, 0x725920, 3));
    EXPECT_FALSE(band_has_colour(window.editor, 0, line, 0x725920, 3));
    EXPECT_TRUE(near_colour(pixel(window.editor, 3, line / 2), 0x5FD3A6));
    EXPECT_TRUE(near_colour(pixel(window.editor, 3, third + line / 2),
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

std::wstring numbered_lines(int count) {
    std::wstring text;
    for (int i = 0; i < count; ++i) {
        text += L"line " + std::to_wstring(i) + L" with **bold**, `code` and a [link](x)\n";
    }
    return text;
}

// Every row of the editor's last frame shows its text and its line number.
void expect_whole_frame(HWND editor) {
    const test::EditorFrame frame = test::read_editor_frame(editor);
    ASSERT_TRUE(frame.copied);
    EXPECT_GT(frame.rows_read, 10);
    EXPECT_TRUE(frame.blank_rows.empty()) << frame.blank_rows.size() << " blank rows";
    EXPECT_TRUE(frame.lines_without_number.empty());
}

// The first paint that shows rows draws all of them with their numbers, after a new text and
// after a page down; what the layout timer adds later is only the look-ahead.
TEST(EditorPaint, FirstPaintShowsEveryRowWithItsNumber) {
    EditorWindow window(width, height);
    window.set_text(numbered_lines(300));
    UpdateWindow(window.editor);
    expect_whole_frame(window.editor);

    window.send(WM_VSCROLL, SB_PAGEDOWN);
    UpdateWindow(window.editor);
    ASSERT_GT(window.scroll_position().y, 0);
    expect_whole_frame(window.editor);
}

// A resized target holds no frame to draw a band over: the first paint after a resize draws the
// whole client area, whatever part of it the system asked for.
TEST(EditorPaint, APaintAfterAResizeDrawsTheWholeFrame) {
    EditorWindow window(width, height);
    window.set_text(numbered_lines(100));
    ASSERT_TRUE(window.paint_fully());
    // Resized while its repaints are off, then asked for one row only.
    window.record().redraw = false;
    SetWindowPos(window.editor, nullptr, 0, 0, width - 40, height - 20,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    ValidateRect(window.editor, nullptr);
    window.record().redraw = true;
    RECT row{0, 100, width - 40, 120};
    InvalidateRect(window.editor, &row, FALSE);
    UpdateWindow(window.editor);
    expect_whole_frame(window.editor);
}

// A frame read closes the draw it opens, so the paints after it begin and present their own, as
// they do in the program, where nothing reads; read again, the frame is the same.
TEST(EditorPaint, AFrameReadLeavesNoDrawOpen) {
    EditorWindow window(width, height, test::Placement::top_level);
    window.set_text(numbered_lines(40));
    ASSERT_TRUE(window.paint_fully());
    const std::uint64_t ended = window.record().draws_ended;
    const test::FramePixels first(window.editor);
    ASSERT_TRUE(first.copied());
    EXPECT_EQ(window.record().draws_ended, ended + 1);
    const test::FramePixels second(window.editor);
    ASSERT_TRUE(second.copied());
    EXPECT_EQ(test::differing_pixels(window.editor, first, second), 0);
}

// One DirectWrite layout of either line faults in Wine; the editor's pieces keep every layout
// short, wrapped or not, and its end is painted and hit. Wine does not break a word wider than
// the line, so wrapped pieces stay one row each and take many timer paints to settle: one paint
// is enough here.
TEST(EditorPaint, ALineWithoutSpacesPaintsAndAnswersWrappedOrNot) {
    EditorWindow window(width, height);
    for (const std::wstring& line : {std::wstring(100000, L'['), std::wstring(1000000, L'A')}) {
        for (const bool wrap : {true, false}) {
            SCOPED_TRACE(testing::Message() << line.size() << (wrap ? " wrapped" : " unwrapped"));
            window.send(EM_SETTARGETDEVICE, 0, wrap ? 0 : 1);
            window.set_text(line);
            RedrawWindow(window.editor, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
            for (const LinePiece& piece : line_pieces(window.record(), 0)) {
                ASSERT_LE(piece.length, test::wine_fault_units);
            }
            window.select(line.size() - 1, line.size() - 1);
            window.send(EM_SCROLLCARET);
            RedrawWindow(window.editor, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
            const POINTL at = window.position_of(line.size() - 1);
            EXPECT_EQ(window.offset_at(at.x + 1, at.y + 1), line.size() - 1);
        }
    }
}

// Wine's DirectWrite leaves a word wider than the line on one row, drawn blank; the editor cuts
// such a row into rows of its own, so a long unbroken line shows every row at its start and at
// its end, also after typing there, and the caret, hit tests and Down agree with what is drawn.
TEST(EditorPaint, LongUnbrokenLinesShowEveryRowWrapped) {
    EditorWindow window(width, height);
    for (const std::wstring& line : {std::wstring(100000, L'['), std::wstring(1000000, L'A')}) {
        SCOPED_TRACE(testing::Message() << line.size() << " units");
        window.set_text(line);
        ASSERT_TRUE(window.paint_fully());
        expect_whole_frame(window.editor);
        const POINTL first = window.position_of(0);
        const LONG row = std::lround(base_line_height(window.record()));
        const std::uint64_t second_row = window.offset_at(first.x + 1, first.y + row + row / 2);
        ASSERT_GT(second_row, 10u);
        const POINTL second = window.position_of(second_row + 1);
        EXPECT_EQ(second.x, window.position_of(1).x);
        EXPECT_EQ(second.y, first.y + row);
        window.select(3, 3);
        window.send(WM_KEYDOWN, VK_DOWN);
        EXPECT_EQ(window.selection().cpMax, static_cast<LONG>(second_row + 3));

        window.select(line.size(), line.size());
        window.send(EM_SCROLLCARET);
        window.send(WM_CHAR, L'x');
        ASSERT_TRUE(window.paint_fully());
        expect_whole_frame(window.editor);
        // The caret after the last row's text stays in view through the paints that measure
        // the rows around it.
        const POINTL end = window.position_of(line.size() + 1);
        EXPECT_GE(end.y, 0);
        EXPECT_LE(end.y + row, height);
        EXPECT_EQ(window.offset_at(end.x + 1, end.y + 1), line.size() + 1);
    }
}

// The full rows of the last frame, `rows` of them from the row whose top is at `top` (px), that
// show nothing in the last two character widths before the text's right edge.
std::vector<int> rows_short_of_the_edge(const EditorWindow& window, double top, int rows) {
    const Source& source = window.record();
    const test::FramePixels frame(window.editor);
    const std::uint32_t background = source.palette.table[palette_slot::background];
    const double row = base_line_height(source);
    const int right = static_cast<int>(std::floor(text_left_edge(source) + text_width(source)));
    const int from = right - static_cast<int>(std::ceil(2 * source.char_advance));
    std::vector<int> short_rows;
    for (int k = 0; k < rows; ++k) {
        const int row_top = static_cast<int>(std::ceil(top + k * row));
        bool ink = false;
        for (int y = row_top; y < static_cast<int>(top + (k + 1) * row) && !ink; ++y) {
            for (int x = from; x < right && !ink; ++x) {
                ink = !near_colour(frame.at(x, y), background, 40);
            }
        }
        if (!ink) {
            short_rows.push_back(k);
        }
    }
    return short_rows;
}

// What reads as one character can be a whole line: 22,000 emoji joined by U+200D (one extended
// grapheme cluster of 65,999 units), or a letter with 66,000 combining marks (one DirectWrite
// cluster to Wine). Such a character is cut where the line is full, so every row is drawn to the
// text's right edge, at the start and at the end, and after Ctrl+End and a typed letter the
// caret stands in view after it.
TEST(EditorPaint, AnEndlessCharacterIsWrappedToTheLineAndDrawnToItsEnd) {
    std::wstring joined = L"\xD83D\xDC69";
    for (int k = 1; k < 22000; ++k) {
        joined += L"\x200D\xD83D\xDC69";
    }
    const std::wstring marked = L"a" + std::wstring(66000, L'\x0301');
    EditorWindow window(width, height);
    SetFocus(window.editor);
    const double row = base_line_height(window.record());
    const int full_rows = static_cast<int>(height / row) - 1;
    for (const std::wstring& line : {joined, marked}) {
        SCOPED_TRACE(line.size());
        window.set_text(line);
        ASSERT_TRUE(window.paint_fully());
        expect_whole_frame(window.editor);
        EXPECT_EQ(rows_short_of_the_edge(window, window.position_of(0).y, full_rows),
                  std::vector<int>{});
        // No layout runs on past the edge: Wine draws every glyph of a layout it is handed, and
        // thousands of them a row cost seconds a paint.
        const double line_width = text_width(window.record());
        for (const LinePiece& piece : line_pieces(window.record(), 0)) {
            if (piece.layout) {
                EXPECT_LE(piece.width, line_width + 0.01) << "piece at " << piece.start;
            }
        }

        {
            const test::HeldKeys control({VK_CONTROL});
            window.send(WM_KEYDOWN, VK_END);
        }
        window.send(WM_CHAR, L'k');
        ASSERT_TRUE(window.paint_fully());
        expect_whole_frame(window.editor);
        const POINTL end = window.position_of(line.size() + 1);
        ASSERT_GE(end.y, 0);
        EXPECT_LE(end.y + row, height);
        POINT caret{};
        GetCaretPos(&caret);
        // The caret's top is rounded, the position's cut.
        EXPECT_NEAR(caret.x, end.x, 1);
        EXPECT_NEAR(caret.y, end.y, 1);
        const POINTL typed = window.position_of(line.size());
        EXPECT_EQ(typed.y, end.y);
        EXPECT_LT(typed.x, end.x);
        const int above = std::min(full_rows, static_cast<int>(end.y / row));
        EXPECT_EQ(rows_short_of_the_edge(window, end.y - above * row, above), std::vector<int>{});
    }
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
    const int line = window.position_of(window.send(EM_LINEINDEX, 1)).y;
    const POINTL marked = window.position_of(2);
    const std::uint32_t highlight = pixel(window.editor, marked.x, marked.y + line / 2);
    const std::uint32_t background = test::light_table[palette_slot::background];
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
    EXPECT_TRUE(near_colour(pixel(window.editor, marked.x, marked.y + line / 2), highlight));
    const POINTL typed = window.position_of(end_of_third);
    EXPECT_TRUE(band_has_colour(window.editor, typed.y, typed.y + line,
                                test::light_table[palette_slot::text], 40));
}

// Every pixel of the frame an editor presented last, row by row.
std::vector<std::uint32_t> whole_frame(HWND editor) {
    RECT client{};
    GetClientRect(editor, &client);
    const test::FramePixels frame(editor);
    std::vector<std::uint32_t> pixels;
    for (int y = 0; frame.copied() && y < client.bottom; ++y) {
        for (int x = 0; x < client.right; ++x) {
            pixels.push_back(frame.at(x, y));
        }
    }
    return pixels;
}

// The editor at `dpi` in a `points` font, with line numbers and the marker lane.
Source& at_dpi_with_marker_lane(EditorWindow& window, unsigned dpi, unsigned points) {
    Source& source = window.record();
    source.dpi = dpi;
    clear_line_layouts(source);
    set_source_style(window.editor, points, false, true);
    set_compare_gutter(window.editor, true);
    return source;
}

// Types `typed` a keystroke a paint, with `before_paint` before and `check` after each paint,
// and expects the frame they leave to be the one a full redraw of the same state draws.
void expect_keystrokes_to_leave_a_full_redraws_frame(
    EditorWindow& window, std::wstring_view typed, const std::function<void()>& check,
    const std::function<void()>& before_paint = [] {}) {
    for (const wchar_t key : typed) {
        window.send(WM_CHAR, key);
        before_paint();
        UpdateWindow(window.editor);
        check();
    }
    const std::vector<std::uint32_t> drawn = whole_frame(window.editor);
    ASSERT_FALSE(drawn.empty());
    repaint(window);
    const std::vector<std::uint32_t> full_redraw = whole_frame(window.editor);
    ASSERT_EQ(drawn.size(), full_redraw.size());
    EXPECT_EQ(std::transform_reduce(drawn.begin(), drawn.end(), full_redraw.begin(), std::size_t{0},
                                    std::plus<>(), std::not_equal_to<>()),
              0u);
}

// Keystrokes hand Direct2D their own line alone (Wine draws every glyph run it is handed,
// whatever the clip), and leave the frame that a full redraw of the same state draws: at 100 %
// and 150 %, rows 18.67 and 30.8 px tall, with a find highlight on every line, line numbers and
// the marker lane.
TEST(EditorPaint, KeystrokesDrawTheirLineAloneAndLeaveTheFrameAFullRedrawDraws) {
    std::wstring text = L"# Heading\n";
    for (int i = 2; i <= 30; ++i) {
        text += L"line " + std::to_wstring(i) + L" with **bold** and `code`\n";
    }
    for (const auto& [dpi, points] : {std::pair{96u, 10u}, std::pair{144u, 11u}}) {
        SCOPED_TRACE(dpi);
        EditorWindow window(width, height, test::Placement::top_level);
        Source& source = at_dpi_with_marker_lane(window, dpi, points);
        window.set_text(text);
        set_change_marks(window.editor, {{{1, 3, line_mark_added}, {5, 6, 1}}, {{8, 1}}});
        source.highlight_term = L"bold";
        ++source.highlight_generation;
        const auto end_of_fifth = static_cast<std::int64_t>(window.send(EM_LINEINDEX, 5) - 1);
        window.select(end_of_fifth, end_of_fifth);
        repaint(window);
        expect_keystrokes_to_leave_a_full_redraws_frame(
            window, L"typed", [&] { EXPECT_EQ(source.layouts_drawn, 1u); });
        EXPECT_GT(source.layouts_drawn, 20u);
    }
}

// A backtick typed on the next line of a paragraph closes the span opened above it: that line
// turns to code colour with the same keystroke.
TEST(EditorPaint, AClosingBacktickRecoloursTheLineItsSpanOpenedOn) {
    constexpr std::uint32_t code_colour = 0xA14414;
    EditorWindow window(width, height, test::Placement::top_level);
    window.set_text(L"Some `code here\nmore words\n");
    const auto after_more = static_cast<std::int64_t>(window.send(EM_LINEINDEX, 1) + 4);
    window.select(after_more, after_more);
    repaint(window);
    const int line = window.position_of(window.send(EM_LINEINDEX, 1)).y;
    ASSERT_FALSE(band_has_colour(window.editor, 0, line, code_colour, 40));

    expect_keystrokes_to_leave_a_full_redraws_frame(window, L"`", [] {});
    EXPECT_TRUE(band_has_colour(window.editor, 0, line, code_colour, 40));
}

// A paragraph laid out as "W |abcdef V |xxxxxxxx |Wy |..." with W and Wy all but a row wide and
// "abcdef V" a full row: letters typed amid the x change the picture of that row alone, and one
// typed in "abcdef" moves V to the row of the x, which then changes two rows. Each keystroke
// invalidates those rows alone, hands Direct2D their rows alone, and leaves the frame a full redraw
// draws, with a find highlight and change marks beside the paragraph, at 100 % and 150 %.
void type_into_paragraph(std::size_t at_row, std::int64_t into_row, const wchar_t* typed,
                         int rows_changed) {
    for (const auto& [dpi, points] : {std::pair{96u, 10u}, std::pair{144u, 11u}}) {
        SCOPED_TRACE(dpi);
        EditorWindow window(width, height, test::Placement::top_level);
        Source& source = at_dpi_with_marker_lane(window, dpi, points);
        const auto columns =
            static_cast<std::size_t>(std::floor(text_width(source) / source.char_advance));
        const std::wstring w(columns - 2, L'w');
        const std::wstring v(columns - 7, L'v');
        const std::wstring paragraph =
            w + L" abcdef " + v + L" xxxxx " + w + L"y ab " + w + L" tail";
        window.set_text(L"# Notes\n" + paragraph + L"\nend ab\n");
        set_change_marks(window.editor, {{{0, 1, line_mark_added}, {2, 1, 1}}, {}});
        source.highlight_term = L"ab";
        ++source.highlight_generation;
        const auto start = static_cast<std::int64_t>(window.send(EM_LINEINDEX, 1));
        const std::vector<std::int64_t> row_starts{
            0, 1 + static_cast<std::int64_t>(w.size()),
            9 + static_cast<std::int64_t>(w.size() + v.size())};
        const POINTL first = window.position_of(start);
        const LONG row = window.position_of(start + row_starts[1]).y - first.y;
        for (std::size_t r = 1; r < row_starts.size(); ++r) {
            ASSERT_EQ(window.position_of(start + row_starts[r]).y, first.y + row * r);
            ASSERT_EQ(window.position_of(start + row_starts[r] - 1).y, first.y + row * (r - 1));
        }
        const std::int64_t caret = start + row_starts[at_row] + into_row;
        window.select(caret, caret);
        repaint(window);
        const LONG top = first.y + row * static_cast<LONG>(at_row);
        expect_keystrokes_to_leave_a_full_redraws_frame(
            window, typed,
            [&] { EXPECT_EQ(source.rows_drawn, static_cast<std::uint32_t>(rows_changed)); },
            [&] {
                RECT update{};
                ASSERT_TRUE(GetUpdateRect(window.editor, &update, FALSE));
                EXPECT_NEAR(update.top, top, 1);
                EXPECT_NEAR(update.bottom, top + rows_changed * row, 2);
            });
    }
}

TEST(EditorPaint, KeystrokesInAParagraphRepaintTheirRowAlone) {
    type_into_paragraph(2, 3, L"zz", 1);
}

TEST(EditorPaint, AKeystrokeThatMovesTheWrapRepaintsTheRowsItMoved) {
    type_into_paragraph(1, 3, L"q", 2);
}

// In a paragraph with right-to-left words a letter may reorder rows whose text stayed, so a
// keystroke repaints the whole paragraph.
TEST(EditorPaint, AKeystrokeInAParagraphWithRightToLeftWordsRepaintsItWhole) {
    EditorWindow window(width, height, test::Placement::top_level);
    std::wstring paragraph;
    for (int i = 0; i < 30; ++i) {
        paragraph += L"words \u05E9\u05DC\u05D5\u05DD (";
    }
    window.set_text(L"# Notes\n" + paragraph + L"\nend\n");
    const auto start = static_cast<std::int64_t>(window.send(EM_LINEINDEX, 1));
    const std::int64_t caret = start + static_cast<std::int64_t>(paragraph.size() / 2);
    window.select(caret, caret);
    repaint(window);
    expect_keystrokes_to_leave_a_full_redraws_frame(
        window, L"a", [] {},
        [&] {
            RECT update{};
            ASSERT_TRUE(GetUpdateRect(window.editor, &update, FALSE));
            EXPECT_NEAR(update.top, window.position_of(start).y, 1);
            EXPECT_NEAR(update.bottom, window.position_of(window.send(EM_LINEINDEX, 2)).y, 1);
        });
}

// A line with a run wider than the line is cut into a piece per row; keystrokes in its fourth
// row hand Direct2D the pieces from theirs on and leave the rows above as they were drawn, with
// a find highlight on every pair of the run.
TEST(EditorPaint, KeystrokesInALongRunDrawTheRowsFromTheirOwnOn) {
    const std::wstring text =
        L"# Heading\nintro words " + std::wstring(240, L'x') + L" tail\nend\n";
    for (const auto& [dpi, points] : {std::pair{96u, 10u}, std::pair{144u, 11u}}) {
        SCOPED_TRACE(dpi);
        EditorWindow window(width, height, test::Placement::top_level);
        Source& source = window.record();
        source.dpi = dpi;
        clear_line_layouts(source);
        set_source_style(window.editor, points, false, true);
        window.set_text(text);
        source.highlight_term = L"xx";
        ++source.highlight_generation;
        repaint(window);
        const std::size_t pieces = line_pieces(source, 1).size();
        ASSERT_GE(pieces, 4u);
        const POINTL intro = window.position_of(window.send(EM_LINEINDEX, 1));
        const LONG row = intro.y - window.position_of(0).y;
        const std::uint64_t fourth_row = window.offset_at(intro.x, intro.y + 3 * row + row / 2);
        window.select(fourth_row + 5, fourth_row + 5);
        repaint(window);
        expect_keystrokes_to_leave_a_full_redraws_frame(window, L"xxxxx", [&] {
            EXPECT_GE(source.layouts_drawn, 1u);
            EXPECT_LE(source.layouts_drawn, pieces - 3);
        });
    }
}

// Where each row of `line` starts and how tall it is, once every piece is laid out (pieces are
// whole rows: where one row ends and the next begins inside a piece or between two is alike).
std::vector<std::pair<std::uint64_t, float>> laid_out_rows(Source& source, std::uint64_t line) {
    std::vector<LinePiece>& pieces = line_pieces(source, line);
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        build_piece_layout(source, line, pieces[k]);
    }
    std::vector<std::pair<std::uint64_t, float>> rows;
    for (const LinePiece& piece : pieces) {
        UINT32 count = 0;
        piece.layout->GetLineMetrics(nullptr, 0, &count);
        std::vector<DWRITE_LINE_METRICS> metrics(count);
        piece.layout->GetLineMetrics(metrics.data(), count, &count);
        std::uint64_t start = piece.start;
        for (const DWRITE_LINE_METRICS& row : metrics) {
            rows.emplace_back(start, row.height);
            start += row.length;
        }
    }
    return rows;
}

// Types "abc" into a long line (the second of three) with the caret at `share` of it, a
// keystroke a paint. Each keystroke lays out at most `most_anew` of the line's pieces anew and
// leaves the frame a full redraw draws; laid out whole afterwards, the line has the rows that
// laying out its text afresh gives. With `cut_first`, a keystroke before them is not counted: in
// a line first drawn from estimated pieces, the first edit cuts it into pieces of measured rows,
// each laid out anew.
void type_into_long_line(const std::wstring& line, double share, std::size_t most_anew,
                         bool cut_first = false) {
    EditorWindow window(width, height, test::Placement::top_level);
    window.set_text(L"intro\n" + line + L"\nend\n");
    Source& source = window.record();
    const auto start = static_cast<std::int64_t>(window.send(EM_LINEINDEX, 1));
    const std::int64_t caret = start + static_cast<std::int64_t>(share * line.size());
    window.select(caret, caret);
    window.send(EM_SCROLLCARET);
    repaint(window);
    if (cut_first) {
        window.send(WM_CHAR, L' ');
        repaint(window);
    }
    std::vector<IDWriteTextLayout*> before;
    auto remember_layouts = [&] {
        before.clear();
        for (const LinePiece& piece : line_pieces(source, 1)) {
            before.push_back(piece.layout.get());
        }
    };
    remember_layouts();
    expect_keystrokes_to_leave_a_full_redraws_frame(window, L"abc", [&] {
        std::size_t laid_out_anew = 0;
        for (const LinePiece& piece : line_pieces(source, 1)) {
            laid_out_anew += piece.layout && std::find(before.begin(), before.end(),
                                                       piece.layout.get()) == before.end();
        }
        EXPECT_LE(laid_out_anew, most_anew);
        remember_layouts();
    });
    const auto rows = laid_out_rows(source, 1);
    clear_line_layouts(source);
    EXPECT_EQ(rows, laid_out_rows(source, 1));
}

std::wstring joined_emoji(int count) {
    std::wstring line = L"\U0001F469";
    for (int i = 1; i < count; ++i) {
        line += L"\u200D\U0001F469";
    }
    return line;
}

// Keystrokes at either end of a huge wrapped line of emoji joined by U+200D (a run no row may
// break inside, cut into a piece per row of 19 shown) lay out again only the rows around them:
// the rows before them keep their layouts, and so do the rows after them once the new rows start
// where one of those did.
TEST(EditorPaint, KeystrokesInAHugeLineLayOutOnlyTheRowsAroundThem) {
    // The rows of the edit and those within the few hundred units around it that decide where
    // rows and pieces break.
    constexpr std::size_t rows_around_an_edit = 5;
    SCOPED_TRACE("at the line's start");
    type_into_long_line(joined_emoji(3000), 0.0, rows_around_an_edit);
    SCOPED_TRACE("at the line's end");
    type_into_long_line(joined_emoji(3000), 1.0, rows_around_an_edit);
}

// Keystrokes in the middle of a long paragraph of words (pieces of many rows) move the rows
// after them along; it still has the rows a fresh layout gives, and each keystroke lays out
// again only the pieces around it, not every piece the view shows.
TEST(EditorPaint, KeystrokesInTheMiddleOfALongParagraphLeaveTheRowsAFreshLayoutGives) {
    // The edited piece and its neighbours.
    constexpr std::size_t pieces_around_an_edit = 3;
    std::wstring words;
    for (int i = 0; words.size() < 12000; ++i) {
        words += L"word" + std::to_wstring(i % 97) + (i % 7 == 0 ? L", " : L" ");
    }
    type_into_long_line(words, 0.5, pieces_around_an_edit, true);
}

} // namespace

// Hides editors (children of the test's parent) after the ones a test looks at, by default as
// many as keep their drawing while hidden: the editors hidden before them let go of theirs.
class LaterHiddenEditors {
public:
    explicit LaterHiddenEditors(std::size_t count = hidden_editors_keeping_targets) {
        for (std::size_t i = 0; i < count; ++i) {
            editors_.push_back(std::make_unique<EditorWindow>(width, height));
            ShowWindow(editors_.back()->editor, SW_HIDE);
        }
    }

private:
    std::vector<std::unique_ptr<EditorWindow>> editors_;
};

TEST(EditorPaint, HiddenEditorLetsGoOfItsDrawingAndShowsWholeAgain) {
    EditorWindow window(width, height, test::Placement::top_level);
    std::wstring text = L"# Heading\n";
    for (int i = 2; i <= 60; ++i) {
        text += L"line " + std::to_wstring(i) + L" of plain text\n";
    }
    window.set_text(text);
    repaint(window);
    const int line = window.position_of(window.send(EM_LINEINDEX, 1)).y;
    ASSERT_GT(line, 10);

    ShowWindow(window.editor, SW_HIDE);
    const LaterHiddenEditors later;
    const Source& source = window.record();
    ASSERT_TRUE(test::pump_until([&] { return !source.target; }, std::chrono::seconds(10)));
    EXPECT_FALSE(source.brushes.text);
    for (const auto& [index, cached] : source.line_cache) {
        for (const LinePiece& piece : cached.pieces) {
            EXPECT_FALSE(piece.layout) << "line " << index;
        }
    }
    // What the view showed keeps its measured height, so the scroll range does not jump.
    const double extent = source.heights.prefix(source.heights.size());

    ShowWindow(window.editor, SW_SHOWNOACTIVATE);
    ASSERT_TRUE(window.paint_fully());
    EXPECT_EQ(source.heights.prefix(source.heights.size()), extent);
    // The heading's colour in the first row, and a line number and text in the last full one.
    const int last_row = (height / line - 1) * line;
    EXPECT_TRUE(
        test::pump_until([&] { return band_has_colour(window.editor, 0, line, 0x006A9D, 40); },
                         std::chrono::seconds(10)));
    EXPECT_TRUE(band_has_colour(window.editor, last_row, last_row + line,
                                test::light_table[palette_slot::text], 60));
    bool number_drawn = false;
    const int gutter = window.position_of(0).x;
    for (int y = last_row; y < last_row + line && !number_drawn; ++y) {
        for (int x = 0; x < gutter && !number_drawn; ++x) {
            number_drawn =
                near_colour(pixel(window.editor, x, y), test::light_table[palette_slot::muted], 40);
        }
    }
    EXPECT_TRUE(number_drawn);
}

// A target of a window that is not shown is a swap chain nothing presents (under Wine, a
// surface it fails to make): a hidden editor measures its text without one, and shows the
// colours of what it measured once it is shown.
TEST(EditorPaint, AHiddenEditorMeasuresWithoutMakingATarget) {
    EditorWindow window(width, height);
    ShowWindow(window.editor, SW_HIDE);
    window.set_text(L"# Heading\nsecond line\n");
    const Source& source = window.record();
    const POINTL heading_end = window.position_of(9);
    const POINTL second_end = window.position_of(window.send(EM_LINEINDEX, 1) + 11);
    EXPECT_GT(heading_end.x, window.position_of(0).x);
    EXPECT_GT(second_end.y, heading_end.y);
    EXPECT_FALSE(source.target);
    // As a hidden editor's drawing does, what it laid out goes again a while later.
    const auto laid_out = [&] {
        return std::any_of(
            source.line_cache.begin(), source.line_cache.end(), [](const auto& line) {
                return std::any_of(line.second.pieces.begin(), line.second.pieces.end(),
                                   [](const LinePiece& piece) { return piece.layout; });
            });
    };
    EXPECT_TRUE(laid_out());
    EXPECT_TRUE(test::pump_until([&] { return !laid_out(); }, std::chrono::seconds(10)));

    ShowWindow(window.editor, SW_SHOWNOACTIVATE);
    ASSERT_TRUE(window.paint_fully());
    const int line = second_end.y - heading_end.y;
    EXPECT_TRUE(band_has_colour(window.editor, 0, line, 0x006A9D, 40));
    EXPECT_TRUE(
        band_has_colour(window.editor, line, 2 * line, test::light_table[palette_slot::text], 60));
}

// A tab switch hides one editor and shows another: the editors hidden last keep their drawing,
// and one hidden before them lets go of its own.
TEST(EditorPaint, OnlyTheEditorsHiddenLastKeepTheirDrawing) {
    EditorWindow first(width, height);
    EditorWindow second(width, height);
    for (EditorWindow* window : {&first, &second}) {
        window->set_text(L"# Heading\nsecond line\n");
        repaint(*window);
    }
    const int line = first.position_of(first.send(EM_LINEINDEX, 1)).y;
    const Source& kept = first.record();
    ShowWindow(first.editor, SW_HIDE);
    EXPECT_TRUE(kept.target);
    ShowWindow(first.editor, SW_SHOWNOACTIVATE);
    ASSERT_TRUE(first.paint_fully());
    EXPECT_TRUE(band_has_colour(first.editor, 0, line, 0x006A9D, 40));

    ShowWindow(first.editor, SW_HIDE);
    ShowWindow(second.editor, SW_HIDE);
    const LaterHiddenEditors later(hidden_editors_keeping_targets - 1);
    EXPECT_TRUE(test::pump_until([&] { return !kept.target; }, std::chrono::seconds(10)));
    EXPECT_TRUE(second.record().target);
    ShowWindow(first.editor, SW_SHOWNOACTIVATE);
    ASSERT_TRUE(first.paint_fully());
    EXPECT_TRUE(band_has_colour(first.editor, 0, line, 0x006A9D, 40));
}

// What a kept frame may show again after the editor was hidden: only what nothing changed. The
// first frame after the show must equal the editor drawn whole again, whatever changed meanwhile.
TEST(EditorPaint, AKeptFrameIsShownAgainOnlyWhileItIsCurrent) {
    std::wstring text = L"# Heading\n";
    for (int i = 2; i <= 60; ++i) {
        text += L"line " + std::to_wstring(i) + L" of plain text\n";
    }
    const std::vector<std::pair<const char*, std::function<void(EditorWindow&)>>> changes = {
        {"nothing", [](EditorWindow&) {}},
        {"text",
         [](EditorWindow& window) {
             window.send(EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"typed "));
         }},
        {"selection", [](EditorWindow& window) { window.select(3, 40); }},
        {"scroll", [](EditorWindow& window) { window.send(EM_LINESCROLL, 0, 5); }},
        {"change marks",
         [](EditorWindow& window) {
             set_change_marks(window.editor, {{{1, 3, line_mark_added}}, {{6, 1}}});
         }},
        {"font", [](EditorWindow& window) { set_source_style(window.editor, 15, false, true); }},
        {"size",
         [](EditorWindow& window) {
             SetWindowPos(window.editor, nullptr, 0, 0, width - 50, height - 30,
                          SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
         }},
    };
    for (const auto& [name, change] : changes) {
        SCOPED_TRACE(name);
        EditorWindow window(width, height);
        window.set_text(text);
        set_compare_gutter(window.editor, true);
        repaint(window);
        Source& source = window.record();
        ShowWindow(window.editor, SW_HIDE);
        change(window);
        constexpr std::uint32_t marked = 12345;
        source.layouts_drawn = marked;
        ShowWindow(window.editor, SW_SHOWNOACTIVATE);
        UpdateWindow(window.editor);
        EXPECT_EQ(source.layouts_drawn == marked, std::string(name) == "nothing");
        const test::FramePixels first(window.editor);
        ASSERT_TRUE(first.copied());
        repaint(window);
        const test::FramePixels redrawn(window.editor);
        EXPECT_EQ(test::differing_pixels(window.editor, first, redrawn), 0);
    }
}

// A composition ended while the editor was hidden, with no text changed, leaves a kept frame
// that still shows it: that frame is no picture of the editor any more.
TEST(EditorPaint, AFrameDrawnWhileComposingIsNotShownAgainOnceTheCompositionEnded) {
    EditorWindow window(width, height);
    window.set_text(L"# Heading\nsecond line\n");
    window.select(5, 5);
    window.send(WM_IME_STARTCOMPOSITION);
    Source& source = window.record();
    // What the input method's string leaves (its calls need a real input context).
    source.composition = L"\x65E5\x672C\x8A9E composing";
    repaint(window);
    ShowWindow(window.editor, SW_HIDE);
    window.send(WM_IME_ENDCOMPOSITION);
    ShowWindow(window.editor, SW_SHOWNOACTIVATE);
    UpdateWindow(window.editor);
    const test::FramePixels first(window.editor);
    ASSERT_TRUE(first.copied());
    repaint(window);
    const test::FramePixels redrawn(window.editor);
    EXPECT_EQ(test::differing_pixels(window.editor, first, redrawn), 0);
}

// Measuring an editor without a render target makes one; a replacement of the whole text that
// another thread sent meanwhile is served inside that, and the measuring must not go on with the
// line layouts the replacement dropped.
TEST(EditorPaint, ATextReplacedWhileTheTargetIsMadeIsShownWhole) {
    EditorWindow window(width, height, test::Placement::top_level);
    std::wstring text;
    for (int i = 1; i <= 60; ++i) {
        text += L"line " + std::to_wstring(i) + L" of plain text\n";
    }
    window.set_text(text);
    repaint(window);
    Source& source = window.record();
    clear_line_layouts(source);
    const ComPtr<ID2D1Factory> real = source.d2d;
    test::ServingFactory serving(real);
    source.d2d = ComPtr<ID2D1Factory>::share(&serving);

    const std::wstring replaced = L"# Replaced\nsecond line\n";
    std::thread sender([&] {
        SendMessageW(window.editor, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(replaced.c_str()));
    });
    const bool pending = test::sent_message_pending();
    window.position_of(window.send(EM_LINEINDEX, 40) + 3);
    sender.join();
    source.d2d = real;
    ASSERT_TRUE(pending);
    EXPECT_EQ(window.text(), replaced);

    ASSERT_TRUE(window.paint_fully());
    const int line = window.position_of(window.send(EM_LINEINDEX, 1)).y;
    EXPECT_TRUE(band_has_colour(window.editor, 0, line, 0x006A9D, 40));
    EXPECT_TRUE(
        band_has_colour(window.editor, line, 2 * line, test::light_table[palette_slot::text], 60));
}

std::size_t changes_received() {
    std::size_t changes = 0;
    for (const test::Notification& note : test::received()) {
        changes += note.message == WM_COMMAND && note.code == EN_CHANGE ? 1 : 0;
    }
    return changes;
}

// A replacement from outside the window procedure (Replace All's last step) whose render target
// is made, for the view's anchor, while another thread's message is served drops the walk it
// began before it changed the text, and still lands, once, as one undo step the parent hears
// of. (Interrupted after it changed the text: the Replace All tests of the main window.)
TEST(EditorPaint, AReplacementFromOutsideLandsThoughAMessageInterruptedIt) {
    EditorWindow window(width, height);
    const std::wstring text = L"alpha beta\ngamma beta\n";
    window.set_text(text);
    repaint(window);
    Source& source = window.record();
    clear_line_layouts(source);
    test::received().clear();
    RopeBuilder builder(source.document.revision + 1);
    builder.append(u"BETA");
    {
        test::MessageWhileTheTargetIsMade interruption(
            source, [&] { SendMessageW(window.editor, EM_STOPGROUPTYPING, 0, 0); });
        EXPECT_NO_THROW(replace_source_range(window.editor, 6, 10, builder.take(4)));
        EXPECT_TRUE(interruption.served());
    }
    EXPECT_EQ(window.text(), L"alpha BETA\ngamma beta\n");
    EXPECT_EQ(changes_received(), 1u);
    EXPECT_EQ(window.send(EM_GETMODIFY), TRUE);
    window.send(EM_UNDO);
    EXPECT_EQ(window.text(), text);
}

// The message served while a change from outside waits for the render target changes the text
// itself. A replacement's range was taken from the text before it, so the replacement is not
// made and the caller hears so; a reload replaces whatever text is there, so it still lands.
TEST(EditorPaint, AChangeFromOutsideThatAnotherChangeInterruptedLandsOnlyWhereItStillHolds) {
    EditorWindow window(width, height);
    Source& source = window.record();
    const wchar_t other[] = L"other text\n";
    auto change_the_text = [&] {
        SendMessageW(window.editor, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(other));
    };
    window.set_text(L"alpha beta\ngamma beta\n");
    repaint(window);
    clear_line_layouts(source);
    RopeBuilder builder(source.document.revision + 1);
    builder.append(u"BETA");
    {
        test::MessageWhileTheTargetIsMade interruption(source, change_the_text);
        EXPECT_FALSE(replace_source_range(window.editor, 6, 10, builder.take(4)));
        EXPECT_TRUE(interruption.served());
    }
    EXPECT_EQ(window.text(), other);

    window.set_text(L"alpha beta\n");
    repaint(window);
    clear_line_layouts(source);
    SourceDocument reloaded;
    reloaded.assign(u"reloaded text\n");
    DocumentPlacement placement;
    placement.keep_view = true;
    placement.changed_lines_known = true;
    placement.changed_old_end = 1;
    placement.changed_new_end = 1;
    {
        test::MessageWhileTheTargetIsMade interruption(source, change_the_text);
        replace_editor_document(window.editor, std::move(reloaded), placement);
        EXPECT_TRUE(interruption.served());
    }
    EXPECT_EQ(window.text(), L"reloaded text\n");
    repaint(window);
}

// A window answering WM_APP with the length of the text of the editor it is handed: a lookup
// made while the editor makes its target, as a main window does when it serves a message.
LRESULT CALLBACK lookup_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_APP) {
        const auto editor = reinterpret_cast<HWND>(lparam);
        return static_cast<LRESULT>(source_text(editor).size() + source_document(editor).length());
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

TEST(EditorPaint, ALookupWhileTheTargetIsMadeInterruptsNothing) {
    EditorWindow window(width, height);
    window.set_text(L"first\nsecond line\nthird\n");
    repaint(window);
    const POINTL expected = window.position_of(9);
    ASSERT_GT(expected.y, 0);
    Source& source = window.record();
    clear_line_layouts(source);
    HWND lookup = test::message_window(L"Pellix.Test.EditorLookup", lookup_proc);
    LRESULT looked_up = 0;
    POINTL point{};
    {
        test::MessageWhileTheTargetIsMade interruption(source, [&] {
            looked_up = SendMessageW(lookup, WM_APP, 0, reinterpret_cast<LPARAM>(window.editor));
        });
        point = window.position_of(9);
        EXPECT_TRUE(interruption.served());
    }
    DestroyWindow(lookup);
    EXPECT_EQ(looked_up, 2 * 24);
    EXPECT_EQ(point.x, expected.x);
    EXPECT_EQ(point.y, expected.y);
}

TEST(EditorPaint, HiddenEditorThatMeasuredDrawsWhatChangedWhileHidden) {
    EditorWindow window(width, height, test::Placement::top_level);
    window.set_text(L"# Heading\nsecond line\n");
    repaint(window);
    const Source& source = window.record();
    ShowWindow(window.editor, SW_HIDE);

    // Text, palette and size change while the editor keeps its drawing, and after it let go.
    std::wstring text;
    for (int i = 1; i <= 40; ++i) {
        text += L"plain line " + std::to_wstring(i) + L"\n";
    }
    window.set_text(text);
    window.position_of(window.send(EM_LINEINDEX, 3) + 2);
    ASSERT_TRUE(source.target);
    set_source_style(window.editor, 12, true, true);
    window.position_of(window.send(EM_LINEINDEX, 3) + 2);
    const int wider = width + 100;
    const int taller = height + 100;
    SetWindowPos(window.editor, nullptr, 0, 0, wider, taller, SWP_NOMOVE | SWP_NOZORDER);

    ShowWindow(window.editor, SW_SHOWNOACTIVATE);
    ASSERT_TRUE(window.paint_fully());
    const int line = window.position_of(window.send(EM_LINEINDEX, 1)).y;
    ASSERT_GT(line, 10);
    EXPECT_FALSE(band_has_colour(window.editor, 0, line, 0x006A9D, 40));
    EXPECT_FALSE(band_has_colour(window.editor, 0, line, 0x7ECFF0, 40));
    EXPECT_TRUE(band_has_colour(window.editor, 0, line, test::dark_table[palette_slot::text], 60));
    RECT client{};
    GetClientRect(window.editor, &client);
    const int last_row = (client.bottom / line - 1) * line;
    EXPECT_TRUE(band_has_colour(window.editor, last_row, last_row + line,
                                test::dark_table[palette_slot::text], 60));
    EXPECT_TRUE(near_colour(pixel(window.editor, client.right - 20, client.bottom - 4),
                            test::dark_table[palette_slot::background]));
}
