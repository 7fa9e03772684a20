#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/editor/editor_window.h"

using namespace pellix;
using pellix::test::EditorWindow;

namespace {

constexpr int width = 400;
constexpr int height = 300;
constexpr double line_height = 12 * 96.0 / 72.0 * 1.4;

std::wstring lines(int count, const std::wstring& body = L"text") {
    std::wstring text;
    for (int i = 0; i < count; ++i) {
        text += body + L"\n";
    }
    return text;
}

LONG scroll_y(const EditorWindow& window) {
    return window.scroll_position().y;
}

bool scrolled_message_waiting(HWND editor) {
    MSG message;
    return PeekMessageW(&message, editor, WM_APP_SOURCE_SCROLLED, WM_APP_SOURCE_SCROLLED,
                        PM_REMOVE) != FALSE;
}

TEST(EditorScrollBars, CommandsMoveAndClampTheView) {
    EditorWindow window(width, height);
    window.set_text(lines(100));
    window.send(WM_VSCROLL, SB_LINEDOWN);
    EXPECT_EQ(scroll_y(window), static_cast<LONG>(line_height));
    window.send(WM_VSCROLL, SB_PAGEDOWN);
    RECT client{};
    GetClientRect(window.editor, &client);
    EXPECT_EQ(scroll_y(window), static_cast<LONG>(line_height + client.bottom));
    EXPECT_TRUE(scrolled_message_waiting(window.editor));

    // The bottom is where the last line stands at the top of the view.
    window.send(WM_VSCROLL, SB_BOTTOM);
    EXPECT_EQ(window.send(EM_GETFIRSTVISIBLELINE), 100);
    EXPECT_NEAR(scroll_y(window), 100 * line_height, 1.0);
    SCROLLINFO info{};
    info.cbSize = sizeof(SCROLLINFO);
    info.fMask = SIF_ALL;
    GetScrollInfo(window.editor, SB_VERT, &info);
    EXPECT_EQ(info.nPage, static_cast<UINT>(client.bottom));
    EXPECT_EQ(info.nPos, scroll_y(window));
    EXPECT_EQ(info.nMax, static_cast<int>(std::ceil(100 * line_height + client.bottom)));

    window.send(WM_VSCROLL, SB_TOP);
    EXPECT_EQ(scroll_y(window), 0);
    window.send(WM_VSCROLL, SB_LINEUP);
    EXPECT_EQ(scroll_y(window), 0);
}

TEST(EditorScrollBars, HorizontalOnlyWithoutWrapping) {
    EditorWindow window(width, height);
    window.set_text(lines(3, std::wstring(200, L'w')));
    window.send(WM_HSCROLL, SB_LINEDOWN);
    EXPECT_EQ(window.scroll_position().x, 0);
    window.send(EM_SETTARGETDEVICE, 0, 1);
    window.send(WM_HSCROLL, SB_LINEDOWN);
    EXPECT_EQ(window.scroll_position().x, static_cast<LONG>(line_height));
    window.send(WM_HSCROLL, SB_BOTTOM);
    const LONG right = window.scroll_position().x;
    EXPECT_GT(right, static_cast<LONG>(line_height));
    window.send(WM_HSCROLL, SB_PAGEDOWN);
    EXPECT_EQ(window.scroll_position().x, right);
}

TEST(EditorWheel, SmallDeltasScrollAtOnceWholeNotchesAnimate) {
    UINT lines_per_notch = 3;
    SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines_per_notch, 0);
    ASSERT_NE(lines_per_notch, static_cast<UINT>(WHEEL_PAGESCROLL));
    BOOL animation = TRUE;
    SystemParametersInfoW(SPI_GETCLIENTAREAANIMATION, 0, &animation, 0);
    const double notch = lines_per_notch * line_height;

    EditorWindow window(width, height);
    window.set_text(lines(200));
    window.send(WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-60)));
    EXPECT_EQ(scroll_y(window), static_cast<LONG>(notch / 2));
    EXPECT_FALSE(window.record().animating);

    window.send(WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120)));
    if (animation) {
        EXPECT_TRUE(window.record().animating);
        // A second notch the same way adds to the target.
        window.send(WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120)));
        EXPECT_DOUBLE_EQ(window.record().wheel_target, notch / 2 + 2 * notch);
        EXPECT_TRUE(
            test::pump_until([&] { return !window.record().animating; }, test::settle_limit));
        EXPECT_EQ(scroll_y(window), static_cast<LONG>(notch / 2 + 2 * notch));
    } else {
        EXPECT_EQ(scroll_y(window), static_cast<LONG>(notch / 2 + notch));
    }
    // Upwards past the top stops at 0.
    window.send(WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(120 * 20)));
    EXPECT_TRUE(test::pump_until([&] { return !window.record().animating; }, test::settle_limit));
    EXPECT_EQ(scroll_y(window), 0);
}

TEST(EditorDrag, AutoscrollAboveTheWindowScrollsAndExtendsTheSelection) {
    EditorWindow window(width, height);
    SetWindowPos(window.parent, nullptr, 0, 200, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    window.set_text(lines(100));
    window.send(EM_LINESCROLL, 0, 50);
    const LONG before = scroll_y(window);
    Source& source = window.record();
    source.dragging = true;
    source.drag_anchor = 0;
    ASSERT_TRUE(SetCursorPos(20, 100));
    POINT cursor{};
    GetCursorPos(&cursor);
    ASSERT_EQ(cursor.y, 100);
    window.send(WM_TIMER, drag_timer);
    const LONG after = scroll_y(window);
    EXPECT_NEAR(after, before - line_height, 1.0);
    // The pointer is 100 pixels above the view.
    EXPECT_EQ(window.selection().cpMin, 0);
    EXPECT_EQ(window.send(EM_LINEFROMCHAR, static_cast<WPARAM>(window.selection().cpMax)),
              static_cast<LRESULT>((after - 100) / line_height));

    // Inside the view nothing happens.
    SetCursorPos(20, 300);
    window.send(WM_TIMER, drag_timer);
    EXPECT_EQ(scroll_y(window), after);
    source.dragging = false;
}

TEST(EditorScrollProfile, PaintsAndScrollInputAreSampled) {
    EditorWindow window(width, height);
    std::vector<int> stages;
    SourceHost host;
    host.paint_colours = [](bool) { return PaintColours{test::light_table}; };
    host.record_scroll_sample = [&](int stage, std::chrono::steady_clock::time_point start) {
        EXPECT_LE(start, std::chrono::steady_clock::now());
        stages.push_back(stage);
    };
    install_source_host(std::move(host));
    window.set_text(lines(50));
    window.send(WM_VSCROLL, SB_LINEDOWN);
    EXPECT_EQ(stages, std::vector<int>{scroll_stage_source_input});
    ASSERT_TRUE(window.paint_fully());
    EXPECT_EQ(stages.back(), scroll_stage_source_paint);
    test::install_test_host();
}

} // namespace
