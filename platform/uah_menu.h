#pragma once

// The undocumented messages through which the system lets a window paint its own menu bar, and
// their parameter blocks as the platform lays them out. Only the fields the program reads are
// named.

#include <windows.h>

namespace pellix {

inline constexpr UINT WM_UAHDRAWMENU = 0x0091;
inline constexpr UINT WM_UAHDRAWMENUITEM = 0x0092;

struct UahMenu {
    HMENU menu;
    HDC dc;
    DWORD flags;
};

struct UahMenuItemMetrics {
    DWORD sizes[8];
};

struct UahMenuPopupMetrics {
    DWORD widths[4];
    DWORD update_max_widths;
};

struct UahMenuItem {
    int position;
    UahMenuItemMetrics metrics;
    UahMenuPopupMetrics popup_metrics;
};

struct UahDrawMenuItem {
    DRAWITEMSTRUCT item;
    UahMenu menu;
    UahMenuItem menu_item;
};

} // namespace pellix
