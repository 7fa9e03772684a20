#pragma once

// The 32-bit top-down device-independent bitmaps that printing, icon rendering and the tests
// draw into: row 0 on top, each pixel 0x00RRGGBB in memory order B, G, R, unused.

#include <windows.h>

#include <cstdint>

namespace pellix {

inline BITMAPINFO top_down_bitmap_info(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader = BITMAPINFOHEADER{
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
    return info;
}

// A top-down DIB section selected into a memory DC of its own. When any step fails the surface
// is empty: `dc()` and `bits()` are null.
class DibSurface {
public:
    DibSurface(int width, int height)
        : width_(width), info_(top_down_bitmap_info(width, height)),
          dc_(CreateCompatibleDC(nullptr)) {
        if (dc_ != nullptr) {
            bitmap_ = CreateDIBSection(dc_, &info_, DIB_RGB_COLORS, &bits_, nullptr, 0);
        }
        if (bitmap_ == nullptr || bits_ == nullptr) {
            release();
            return;
        }
        previous_ = SelectObject(dc_, bitmap_);
    }
    ~DibSurface() { release(); }
    DibSurface(const DibSurface&) = delete;
    DibSurface& operator=(const DibSurface&) = delete;

    int width() const { return width_; }
    int height() const { return -info_.bmiHeader.biHeight; }
    HDC dc() const { return dc_; }
    void* bits() const { return bits_; }
    const BITMAPINFO& info() const { return info_; }

    // 0x00RRGGBB of one pixel, after GDI has finished drawing.
    std::uint32_t pixel(int x, int y) const {
        GdiFlush();
        return static_cast<const std::uint32_t*>(bits_)[y * width_ + x] & 0xFFFFFF;
    }

private:
    void release() {
        if (previous_ != nullptr) {
            SelectObject(dc_, previous_);
        }
        if (bitmap_ != nullptr) {
            DeleteObject(bitmap_);
        }
        if (dc_ != nullptr) {
            DeleteDC(dc_);
        }
        previous_ = nullptr;
        bitmap_ = nullptr;
        dc_ = nullptr;
        bits_ = nullptr;
    }

    int width_;
    BITMAPINFO info_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    void* bits_ = nullptr;
};

} // namespace pellix
