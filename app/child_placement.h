#pragma once

// Placing and scaling the main window's children: the DPI their metrics scale by, and moves,
// shows and hides that touch only what differs and leave the erase to the main window's paint.

#include <windows.h>

namespace pellix {

// `value` at 96 DPI scaled to `dpi`.
inline int scale_metric(int value, unsigned dpi) {
    return MulDiv(value, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
}

// The main window's DPI, 96 when it has none.
unsigned main_window_dpi();

// Whether a child stands exactly at `rect` (parent client coordinates).
bool stands_at(HWND window, const RECT& rect);

// Moves a child window to `rect` (parent client coordinates) and shows or hides it, touching
// only what differs from where it is. What it uncovers is erased at the main window's next
// paint, not at once.
void place_child(HWND window, const RECT& rect, bool shown);

// Whether the window itself is shown, whatever its parent is.
bool shown_itself(HWND window);

// Hides a child as ShowWindow would, less the erase of the main window under it, which waits for
// that window's next paint. The child is told it is hidden only once it is. False when it is
// still shown.
bool hide_without_erase(HWND window);

} // namespace pellix
