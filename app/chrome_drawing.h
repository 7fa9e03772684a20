#pragma once

// Drawing helpers of the custom-drawn chrome: a window's DPI scaling, a fill in a palette colour
// and the back buffer a window paints into before one copy to the screen.

#include <windows.h>

#include <cstdint>

namespace pellix {

// `value` at 96 DPI for the window's DPI (96 when the window reports none).
int scale_for_window(HWND window, int value);

// Fills `rect` with the 0x00RRGGBB `colour` through the stock DC brush.
void fill_with_palette_colour(HDC dc, const RECT& rect, std::uint32_t colour);

// A memory DC with a bitmap of one size, kept between paints and rebuilt when the size changes.
class BackBuffer {
public:
    BackBuffer() = default;
    BackBuffer(const BackBuffer&) = delete;
    BackBuffer& operator=(const BackBuffer&) = delete;
    ~BackBuffer() { release(); }

    // The memory DC for a `width` x `height` surface; `window_dc` itself when the size is
    // below 1 or the buffer cannot be made, so that painting goes straight to the window.
    HDC ensure(HDC window_dc, int width, int height);
    void release();

    HDC dc() const { return dc_; }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

// Paints a window's client area through `buffer`: `paint` draws into the DC it is given (the
// buffer, or the window itself when no buffer could be made), which is then copied out.
template <class Paint>
void paint_buffered(HWND window, HDC target, BackBuffer& buffer, Paint paint) {
    RECT client{};
    GetClientRect(window, &client);
    HDC dc = buffer.ensure(target, client.right, client.bottom);
    paint(dc, client);
    if (dc != target) {
        BitBlt(target, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    }
}

} // namespace pellix
