#pragma once

// The window classes of the main window's own child windows (status strip, view switcher, find
// bar, completion popup): arrow cursor, no background brush (each paints all of itself).

#include <windows.h>

namespace pellix {

// Registers `name` with `procedure` in the program's module; true when the class exists
// afterwards (registered now or earlier).
bool register_child_window_class(const wchar_t* name, WNDPROC procedure,
                                 UINT style = CS_HREDRAW | CS_VREDRAW);

} // namespace pellix
