#pragma once

// The main window's keyboard shortcuts (accelerator table 102).

#include <windows.h>

namespace pellix {

inline constexpr int accelerator_table_id = 102;

// Sends the command of a shortcut of the table to `window` (unless it is disabled) and answers
// true; false for any other message. Unlike TranslateAcceleratorW the menu's state plays no
// part: the system drops the shortcut of a grey item, and greys items afresh through
// WM_INITMENUPOPUP before it decides, while command dispatch must still answer such keys (a
// watched tab beeps at its refused keys; F8 during a pending comparison says so).
bool translate_accelerator(HWND window, HACCEL table, MSG& message);

} // namespace pellix
