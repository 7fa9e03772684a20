#pragma once

// The main window's menu bar, built once from its tables with the submenus that are filled or
// marked later, and the greying and checking that follow the active tab.

#include <windows.h>

#include <array>
#include <cstdint>

namespace pellix {

// The commands that a watched tab refuses with a beep and shows grey.
inline constexpr std::array<unsigned, 20> watch_greyed_commands = {
    200, 201, 202, 204, 208, 210, 102, 103, 113, 400,
    401, 402, 403, 404, 405, 406, 407, 408, 409, 410};

// A new menu bar with every popup; its submenus are stored in `menus`. Throws
// std::runtime_error when a submenu cannot be attached.
HMENU build_menu_bar();

// WM_INITMENUPOPUP: the compare target list is filled, and the encoding submenu is marked and
// enabled for the active tab.
void prepare_menu_popup(HMENU popup);

} // namespace pellix
