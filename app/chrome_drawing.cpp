#include "app/chrome_drawing.h"

#include "app/main_layout.h"
#include "core/palette_table.h"

namespace pellix {

int scale_for_window(HWND window, int value) {
    const UINT dpi = window != nullptr ? GetDpiForWindow(window) : 0;
    return scale_metric(value, dpi != 0 ? dpi : USER_DEFAULT_SCREEN_DPI);
}

void fill_with_palette_colour(HDC dc, const RECT& rect, std::uint32_t colour) {
    SetDCBrushColor(dc, colorref_from_colour(colour));
    FillRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

HDC BackBuffer::ensure(HDC window_dc, int width, int height) {
    if (dc_ != nullptr && width == width_ && height == height_) {
        return dc_;
    }
    release();
    if (width < 1 || height < 1) {
        return window_dc;
    }
    HDC dc = CreateCompatibleDC(window_dc);
    HBITMAP bitmap = dc != nullptr ? CreateCompatibleBitmap(window_dc, width, height) : nullptr;
    HGDIOBJ previous = bitmap != nullptr ? SelectObject(dc, bitmap) : nullptr;
    if (previous == nullptr || previous == HGDI_ERROR) {
        if (bitmap != nullptr) {
            DeleteObject(bitmap);
        }
        if (dc != nullptr) {
            DeleteDC(dc);
        }
        return window_dc;
    }
    dc_ = dc;
    bitmap_ = bitmap;
    previous_ = previous;
    width_ = width;
    height_ = height;
    return dc_;
}

void BackBuffer::release() {
    if (dc_ != nullptr && previous_ != nullptr) {
        SelectObject(dc_, previous_);
    }
    if (bitmap_ != nullptr) {
        DeleteObject(bitmap_);
    }
    if (dc_ != nullptr) {
        DeleteDC(dc_);
    }
    dc_ = nullptr;
    bitmap_ = nullptr;
    previous_ = nullptr;
    width_ = 0;
    height_ = 0;
}

} // namespace pellix
