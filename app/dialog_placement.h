#pragma once

// Where the program's dialogs stand: centred on the window that owns them and inside the work
// area of its monitor.

#include <windows.h>

#include <optional>

namespace pellix {

// Where a dialog of `dialog`'s size goes: centred on `owner` (on `work_area` when there is no
// owner rectangle), then moved inside `work_area`. Returns the top-left corner.
POINT place_dialog(const RECT& dialog, std::optional<RECT> owner, const RECT& work_area);

// Moves `dialog` to its place over its owner window.
void centre_on_owner(HWND dialog);

} // namespace pellix
