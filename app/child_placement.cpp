#include "app/child_placement.h"

#include "app/main_window_state.h"
#include "platform/frames_undrawn.h"

namespace pellix {

namespace {

int width_of(const RECT& rect) {
    return rect.right - rect.left;
}

// As ShowWindow tells the window first, less the erase of the window itself, which waits for its
// paint: a button shown over a header cleared its place at once.
void show_without_erase(HWND window) {
    SendMessageW(window, WM_SHOWWINDOW, TRUE, 0);
    SetWindowPos(window, nullptr, 0, 0, 0, 0,
                 SWP_SHOWWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE |
                     SWP_DEFERERASE);
}

} // namespace

unsigned main_window_dpi() {
    const UINT dpi = main_window != nullptr ? GetDpiForWindow(main_window) : 0;
    return dpi != 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

bool stands_at(HWND window, const RECT& rect) {
    RECT now{};
    GetWindowRect(window, &now);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&now), 2);
    return EqualRect(&now, &rect) != FALSE;
}

// A tab switch lays the window out twice over; under Wine even a move to where a window already
// is costs a round trip to the server and a burst of messages, so only what changed is touched.
// A moved child is drawn anew whole, its old pixels not carried along: the pane headers are
// statics, whose class repaints only what a resize uncovers, and the bits a move copies are what
// the screen showed there, with neighbours already moved over it (a header kept a hide button's
// glyph after the window shrank and grew; at a switch to Split, the old page jumped into the right
// half). Nothing is erased before the main window paints: at a switch that changes the view, a
// header hidden or moved out of the way left an empty strip above the old panes for as long as
// the new page took to draw, which under Wine is long enough to see.
void place_child(HWND window, const RECT& rect, bool shown) {
    if (window == nullptr) {
        return;
    }
    if (!stands_at(window, rect)) {
        SetWindowPos(window, nullptr, rect.left, rect.top, width_of(rect), rect.bottom - rect.top,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS | SWP_DEFERERASE |
                         (frames_undrawn() ? SWP_NOREDRAW : 0));
    }
    if (shown_itself(window) != shown) {
        if (shown) {
            show_without_erase(window);
        } else {
            hide_without_erase(window);
        }
    }
}

bool shown_itself(HWND window) {
    return (GetWindowLongPtrW(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

// Told first, an editor whose hide then failed would let go of the drawing it still shows.
bool hide_without_erase(HWND window) {
    SetWindowPos(window, nullptr, 0, 0, 0, 0,
                 SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE |
                     SWP_DEFERERASE);
    if (shown_itself(window)) {
        return false;
    }
    SendMessageW(window, WM_SHOWWINDOW, FALSE, 0);
    // As after ShowWindow, the keyboard goes to the parent rather than stay in a hidden window.
    const HWND focus = GetFocus();
    if (focus != nullptr && (focus == window || IsChild(window, focus) != FALSE)) {
        SetFocus(GetParent(window));
    }
    return true;
}

} // namespace pellix
