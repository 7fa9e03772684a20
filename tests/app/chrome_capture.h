#pragma once

// Reads back what a window or a painter draws: a 32-bit top-down surface whose pixels are
// 0x00RRGGBB, the palette's own form.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/dib_surface.h"

namespace pellix::test {

class Surface {
public:
    Surface(int width, int height) : surface_(width, height) {}

    HDC dc() const { return surface_.dc(); }
    std::uint32_t at(int x, int y) const { return surface_.pixel(x, y); }
    // How many pixels inside [left, right) x [top, bottom) are `colour`.
    int count(std::uint32_t colour, RECT area) const {
        int found = 0;
        for (int y = area.top; y < area.bottom; ++y) {
            for (int x = area.left; x < area.right; ++x) {
                found += at(x, y) == colour ? 1 : 0;
            }
        }
        return found;
    }

private:
    DibSurface surface_;
};

// The client area of `window` as it paints itself for WM_PRINTCLIENT.
inline std::uint32_t client_pixel(HWND window, int x, int y) {
    RECT client{};
    GetClientRect(window, &client);
    Surface surface(client.right, client.bottom);
    SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(surface.dc()), PRF_CLIENT);
    return surface.at(x, y);
}

} // namespace pellix::test
