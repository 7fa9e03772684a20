#include "app/splitters.h"

#include <windowsx.h>

#include <algorithm>

#include "app/main_layout.h"
#include "app/settings.h"

namespace pellix {

namespace {

constexpr unsigned min_outline_width = 96;
constexpr unsigned max_outline_width = 4000;

SplitterPart hot = SplitterPart::none;
bool dragging_split = false;
bool dragging_outline = false;

void invalidate_splitters(HWND window) {
    InvalidateRect(window, &current_layout.split_divider, FALSE);
    InvalidateRect(window, &current_layout.outline_splitter, FALSE);
}

SplitterPart part_at(LPARAM point) {
    if (hit_split_divider(point)) {
        return SplitterPart::split_divider;
    }
    if (hit_outline_splitter(point)) {
        return SplitterPart::outline_splitter;
    }
    return SplitterPart::none;
}

int client_width(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    return client.right;
}

void track_hover(HWND window, LPARAM lparam) {
    const SplitterPart now = part_at(lparam);
    if (now != hot) {
        hot = now;
        invalidate_splitters(window);
    }
    TRACKMOUSEEVENT track{};
    track.cbSize = sizeof(track);
    track.dwFlags = TME_LEAVE;
    track.hwndTrack = window;
    TrackMouseEvent(&track);
}

void on_mouse_move(HWND window, LPARAM lparam) {
    const int x = GET_X_LPARAM(lparam);
    if (dragging_split) {
        const int width = current_layout.show_outline ? current_layout.outline_splitter.left
                                                      : client_width(window);
        settings.split = split_share_at(x, width);
        if (settings.split > collapse_low && settings.split < collapse_high) {
            settings.split_restore = settings.split;
        }
        layout_window();
    } else if (dragging_outline) {
        settings.outline_width = outline_width_at(client_width(window), x, main_window_dpi());
        layout_window();
    } else {
        track_hover(window, lparam);
    }
}

void on_button_down(HWND window, LPARAM lparam) {
    if (hit_outline_splitter(lparam)) {
        dragging_outline = true;
    } else if (hit_split_divider(lparam)) {
        dragging_split = true;
    }
    if (dragging_outline || dragging_split) {
        SetCapture(window);
    }
}

void on_button_up() {
    if (dragging_split || dragging_outline) {
        persist_settings(true);
    }
    dragging_split = false;
    dragging_outline = false;
    ReleaseCapture();
}

void on_double_click(LPARAM lparam) {
    if (hit_outline_splitter(lparam)) {
        settings.outline_width = default_outline_width;
    } else if (hit_split_divider(lparam)) {
        const SplitShares shares = toggle_split({settings.split, settings.split_restore});
        settings.split = shares.split;
        settings.split_restore = shares.restore;
    } else {
        return;
    }
    layout_window();
    persist_settings(true);
}

bool on_set_cursor(HWND window, WPARAM wparam, LPARAM lparam) {
    if (reinterpret_cast<HWND>(wparam) != window || LOWORD(lparam) != HTCLIENT) {
        return false;
    }
    POINT cursor{};
    GetCursorPos(&cursor);
    ScreenToClient(window, &cursor);
    if (part_at(MAKELPARAM(cursor.x, cursor.y)) == SplitterPart::none) {
        return false;
    }
    SetCursor(LoadCursorW(nullptr, IDC_SIZEWE));
    return true;
}

} // namespace

SplitterPart hot_splitter() {
    if (dragging_split) {
        return SplitterPart::split_divider;
    }
    if (dragging_outline) {
        return SplitterPart::outline_splitter;
    }
    return hot;
}

double split_share_at(int x, int width) {
    return std::clamp(static_cast<double>(x) / std::max(width, 1), 0.0, 1.0);
}

unsigned outline_width_at(int client_width, int x, unsigned dpi) {
    const int width = MulDiv(client_width - x, USER_DEFAULT_SCREEN_DPI, static_cast<int>(dpi));
    return static_cast<unsigned>(std::clamp(width, static_cast<int>(min_outline_width),
                                            static_cast<int>(max_outline_width)));
}

SplitShares toggle_split(SplitShares shares) {
    if (shares.split > collapse_low && shares.split < collapse_high) {
        return {shares.split >= 0.5 ? 1.0 : 0.0, shares.split};
    }
    return {shares.restore, shares.restore};
}

std::optional<LRESULT> splitter_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_SETCURSOR:
        if (on_set_cursor(window, wparam, lparam)) {
            return TRUE;
        }
        return std::nullopt;
    case WM_MOUSEMOVE:
        on_mouse_move(window, lparam);
        return 0;
    case WM_MOUSELEAVE:
        hot = SplitterPart::none;
        invalidate_splitters(window);
        return 0;
    case WM_LBUTTONDOWN:
        on_button_down(window, lparam);
        return 0;
    case WM_LBUTTONUP:
        on_button_up();
        return 0;
    case WM_CAPTURECHANGED:
        dragging_split = false;
        dragging_outline = false;
        return 0;
    case WM_LBUTTONDBLCLK:
        on_double_click(lparam);
        return 0;
    default:
        return std::nullopt;
    }
}

} // namespace pellix
