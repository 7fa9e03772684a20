#pragma once

// Reads back what a window or a painter draws: a 32-bit top-down surface whose pixels are
// 0x00RRGGBB, the palette's own form.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace pellix::test {

class Surface {
public:
    Surface(int width, int height) : width_(width), height_(height) {
        BITMAPINFO info{};
        info.bmiHeader = {
            .biSize = sizeof(BITMAPINFOHEADER),
            .biWidth = width,
            .biHeight = -height,
            .biPlanes = 1,
            .biBitCount = 32,
            .biCompression = BI_RGB,
            .biSizeImage = 0,
            .biXPelsPerMeter = 0,
            .biYPelsPerMeter = 0,
            .biClrUsed = 0,
            .biClrImportant = 0,
        };
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
        previous_ = SelectObject(dc_, bitmap_);
    }
    ~Surface() {
        SelectObject(dc_, previous_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    HDC dc() const { return dc_; }
    std::uint32_t at(int x, int y) const {
        GdiFlush();
        return static_cast<const std::uint32_t*>(bits_)[y * width_ + x] & 0xFFFFFF;
    }
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
    int width_;
    int height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    void* bits_ = nullptr;
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
