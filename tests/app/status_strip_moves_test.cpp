#include <gtest/gtest.h>

#include <windows.h>

#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/settings.h"
#include "app/status_strip.h"
#include "app/views.h"
#include "app/window_moves.h"
#include "tests/app/panes_window.h"

namespace pellix {
namespace {

using StatusStripMoves = test::PanesWindow;

// The item `id` in the strip's client coordinates.
RECT item_in_strip(unsigned id) {
    RECT rect{};
    if (status_item_rect(id, rect)) {
        MapWindowPoints(nullptr, chrome.status_strip, reinterpret_cast<POINT*>(&rect), 2);
    }
    return rect;
}

void resize_main_window(int width) {
    SetWindowPos(main_window, nullptr, 0, 0, width, 600, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The zoom, encoding and line-ending buttons all move when the window narrows; the batch that
// moves them fails at the second, losing the first move with it. Each button still ends under
// its item, so that a click on an item reaches its own button.
TEST_F(StatusStripMoves, ABatchThatFailsPartWayLeavesEveryButtonUnderItsItem) {
    select_view(view_source);
    resize_main_window(1000);
    settings.font_size = 14;
    update_status();
    const unsigned ids[] = {status_command::zoom, status_command::encoding,
                            status_command::line_ending};
    const RECT zoom_before = item_in_strip(status_command::zoom);
    ASSERT_GT(zoom_before.right, zoom_before.left);

    int deferred = 0;
    {
        const ScopedWindowMoveCalls failing(
            {.defer =
                 [&deferred](HDWP batch, HWND window, const RECT& place, UINT flags) {
                     if (++deferred == 2) {
                         return HDWP{};
                     }
                     return DeferWindowPos(batch, window, nullptr, place.left, place.top,
                                           place.right - place.left, place.bottom - place.top,
                                           flags);
                 },
             .end = {}});
        resize_main_window(900);
    }
    ASSERT_GE(deferred, 2);
    ASSERT_NE(item_in_strip(status_command::zoom).left, zoom_before.left);

    for (unsigned id : ids) {
        SCOPED_TRACE(id);
        HWND button = GetDlgItem(chrome.status_strip, static_cast<int>(id));
        const RECT item = item_in_strip(id);
        RECT placed{};
        GetWindowRect(button, &placed);
        MapWindowPoints(nullptr, chrome.status_strip, reinterpret_cast<POINT*>(&placed), 2);
        EXPECT_TRUE(EqualRect(&item, &placed) != FALSE);
        const POINT middle{(item.left + item.right) / 2, (item.top + item.bottom) / 2};
        EXPECT_EQ(ChildWindowFromPointEx(chrome.status_strip, middle, CWP_SKIPINVISIBLE), button);
    }
    settings.font_size = 12;
}

} // namespace
} // namespace pellix
