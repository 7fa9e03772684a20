#pragma once

// What the main window paints itself: its background, the tab-row separator and the splitter
// lines, the pane headers and pane buttons, and the menu bar while menus are dark.

#include <windows.h>

#include <optional>

namespace pellix {

// The answer to a painting message, or nothing when it is not one (or goes on to the default).
std::optional<LRESULT> paint_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Repaints the Source header when the current tab's Watch state asks for the other badge state
// than the one on screen, as after a switch to another tab.
void refresh_source_badge();

} // namespace pellix
