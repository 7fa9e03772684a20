#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

#include "app/about_box.h"
#include "app/dialog_placement.h"
#include "app/main_window_state.h"
#include "tests/app/chrome_capture.h"
#include "tests/app/modal_driver.h"
#include "tests/bounded_wait.h"

namespace pellix {
namespace {

constexpr wchar_t about_title[] = L"About Pellix";
// Enough of the lettering to tell it from a stray pixel.
constexpr int min_dark_pixels = 20;

struct Seen {
    std::wstring version;
    LONG weight = 0;
    HFONT font = nullptr;
    bool font_is_property = false;
    POINT centre{};
    std::uint32_t corner = 0;
    int dark_pixels = 0;
};

// What the open box shows, read from the driver thread.
Seen look_at(HWND dialog) {
    Seen seen;
    wchar_t text[64] = {};
    GetDlgItemTextW(dialog, about_box_id::version, text, 64);
    seen.version = text;
    seen.font = reinterpret_cast<HFONT>(
        SendDlgItemMessageW(dialog, about_box_id::version, WM_GETFONT, 0, 0));
    LOGFONTW font{};
    GetObjectW(seen.font, sizeof(font), &font);
    seen.weight = font.lfWeight;
    seen.font_is_property = GetPropW(dialog, about_font_property) == seen.font;
    RECT rect{};
    GetWindowRect(dialog, &rect);
    seen.centre = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};

    // The logo as it reached the screen: white with the maker's dark lettering on it. The box
    // is shown before its logo's first frame is.
    RECT logo{};
    GetWindowRect(GetDlgItem(dialog, about_box_id::logo), &logo);
    const int width = logo.right - logo.left;
    const int height = logo.bottom - logo.top;
    test::wait_until([&] {
        test::Surface surface(width, height);
        HDC screen = GetDC(nullptr);
        BitBlt(surface.dc(), 0, 0, width, height, screen, logo.left, logo.top, SRCCOPY);
        ReleaseDC(nullptr, screen);
        seen.corner = surface.at(1, 1);
        seen.dark_pixels = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                seen.dark_pixels += (surface.at(x, y) & 0x808080) == 0 ? 1 : 0;
            }
        }
        return seen.corner == 0xFFFFFFu && seen.dark_pixels > min_dark_pixels;
    });
    if (const char* hold = std::getenv("PELLIX_ABOUT_HOLD_MS")) {
        Sleep(static_cast<DWORD>(std::atoi(hold)));
    }
    return seen;
}

TEST(AboutBox, ShowsTheVersionInSemiboldOverItsOwnerAndClosesOnEscapeOrClose) {
    instance = GetModuleHandleW(nullptr);
    HWND owner = CreateWindowExW(0, L"STATIC", L"about owner", WS_OVERLAPPEDWINDOW, 100, 100, 600,
                                 400, nullptr, nullptr, instance, nullptr);
    ASSERT_NE(owner, nullptr);
    ShowWindow(owner, SW_SHOWNOACTIVATE);
    for (UINT close : {UINT{WM_KEYDOWN}, UINT{BM_CLICK}}) {
        Seen seen;
        const bool closed = test::drive_modal(
            about_title, [&] { show_about_box(owner); },
            [&](HWND dialog) {
                seen = look_at(dialog);
                PostMessageW(GetDlgItem(dialog, IDOK), close, close == WM_KEYDOWN ? VK_ESCAPE : 0,
                             0);
            });
        EXPECT_TRUE(closed) << close;
        EXPECT_EQ(seen.version, L"Version 1.2.9");
        EXPECT_EQ(seen.weight, 600);
        EXPECT_TRUE(seen.font_is_property);
        // Freed with the box.
        EXPECT_EQ(GetObjectType(seen.font), 0u);
        EXPECT_NEAR(seen.centre.x, 400, 1);
        EXPECT_NEAR(seen.centre.y, 300, 1);
        EXPECT_EQ(seen.corner, 0xFFFFFFu);
        EXPECT_GT(seen.dark_pixels, min_dark_pixels);
    }
    DestroyWindow(owner);
}

TEST(AboutBox, PlacementCentresOnTheOwnerInsideItsMonitorsWorkArea) {
    const RECT dialog{0, 0, 400, 250};
    const RECT second{1920, 0, 3840, 1040};
    // Centred over an owner on the second monitor.
    POINT corner = place_dialog(dialog, RECT{2000, 100, 3000, 900}, second);
    EXPECT_EQ(corner.x, 2300);
    EXPECT_EQ(corner.y, 375);
    // An owner hanging off the work area's right and bottom edges: the box stays inside.
    corner = place_dialog(dialog, RECT{3600, 900, 4200, 1300}, second);
    EXPECT_EQ(corner.x, 3440);
    EXPECT_EQ(corner.y, 790);
    corner = place_dialog(dialog, RECT{1700, -300, 1900, -100}, second);
    EXPECT_EQ(corner.x, 1920);
    EXPECT_EQ(corner.y, 0);
    // No owner: centred on the work area.
    corner = place_dialog(dialog, std::nullopt, second);
    EXPECT_EQ(corner.x, 2680);
    EXPECT_EQ(corner.y, 395);
}

} // namespace
} // namespace pellix
