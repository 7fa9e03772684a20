#pragma once

// The main window's keyboard shortcuts (accelerator table 102).

#include <windows.h>

namespace pellix {

inline constexpr int accelerator_table_id = 102;

// TranslateAcceleratorW, except that a shortcut whose menu item is grey still reaches its
// command: the system drops those silently, and a watched tab must answer its refused
// shortcuts with a beep. True when the message was a shortcut of the table.
bool translate_accelerator(HWND window, HACCEL table, MSG& message);

} // namespace pellix
