#include "app/dialog_placement.h"

#include <algorithm>

namespace pellix {

namespace {

RECT work_area_of(HMONITOR monitor) {
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (monitor != nullptr && GetMonitorInfoW(monitor, &info)) {
        return info.rcWork;
    }
    RECT area{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

} // namespace

POINT place_dialog(const RECT& dialog, std::optional<RECT> owner, const RECT& work_area) {
    const LONG width = dialog.right - dialog.left;
    const LONG height = dialog.bottom - dialog.top;
    const RECT& centre_on = owner ? *owner : work_area;
    LONG x = centre_on.left + (centre_on.right - centre_on.left - width) / 2;
    LONG y = centre_on.top + (centre_on.bottom - centre_on.top - height) / 2;
    x = std::max(std::min(x, work_area.right - width), work_area.left);
    y = std::max(std::min(y, work_area.bottom - height), work_area.top);
    return {x, y};
}

void centre_on_owner(HWND dialog) {
    HWND owner = GetWindow(dialog, GW_OWNER);
    RECT dialog_rect{};
    GetWindowRect(dialog, &dialog_rect);
    std::optional<RECT> owner_rect;
    RECT rect{};
    if (owner != nullptr && GetWindowRect(owner, &rect)) {
        owner_rect = rect;
    }
    const RECT work = work_area_of(
        MonitorFromWindow(owner != nullptr ? owner : dialog, MONITOR_DEFAULTTONEAREST));
    const POINT corner = place_dialog(dialog_rect, owner_rect, work);
    SetWindowPos(dialog, nullptr, corner.x, corner.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace pellix
