#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/settings.h"
#include "platform/dib_surface.h"
#include "tests/app/open_tabs_window.h"

namespace pellix {
namespace {

constexpr WORD outline_command = 304;

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};

BOOL CALLBACK note_waiting(HWND window, LPARAM found) {
    RECT waiting{};
    if (IsWindowVisible(window) && GetUpdateRect(window, &waiting, FALSE)) {
        *reinterpret_cast<bool*>(found) = true;
    }
    return TRUE;
}

bool nothing_waits_to_be_drawn() {
    RECT waiting{};
    bool found = GetUpdateRect(main_window, &waiting, FALSE) != FALSE;
    EnumChildWindows(main_window, note_waiting, reinterpret_cast<LPARAM>(&found));
    return !found;
}

// The main window's client area as the screen shows it, the editor's pane left blank: its
// frame lives in a surface of its own under Wine, and its caret blinks.
Picture read_window() {
    RECT client{};
    GetClientRect(main_window, &client);
    DibSurface surface(client.right, client.bottom);
    HDC dc = GetDCEx(main_window, nullptr, DCX_CACHE);
    BitBlt(surface.dc(), 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    ReleaseDC(main_window, dc);
    RECT editor{};
    GetWindowRect(chrome.editor, &editor);
    MapWindowPoints(nullptr, main_window, reinterpret_cast<POINT*>(&editor), 2);
    Picture picture{client.right, client.bottom, {}};
    for (int y = 0; y < client.bottom; ++y) {
        for (int x = 0; x < client.right; ++x) {
            const POINT point{x, y};
            picture.pixels.push_back(PtInRect(&editor, point) ? 0 : surface.pixel(x, y));
        }
    }
    return picture;
}

// Where two pictures of one size differ, as a count and the box around the differences.
std::string differences(const Picture& a, const Picture& b) {
    if (a.width != b.width || a.height != b.height) {
        return "sizes differ";
    }
    int count = 0;
    RECT box{a.width, a.height, 0, 0};
    for (int y = 0; y < a.height; ++y) {
        for (int x = 0; x < a.width; ++x) {
            if (a.pixels[static_cast<std::size_t>(y * a.width + x)] !=
                b.pixels[static_cast<std::size_t>(y * a.width + x)]) {
                ++count;
                box = {std::min<LONG>(box.left, x), std::min<LONG>(box.top, y),
                       std::max<LONG>(box.right, x + 1), std::max<LONG>(box.bottom, y + 1)};
            }
        }
    }
    if (count == 0) {
        return "";
    }
    std::ostringstream text;
    text << count << " pixels within (" << box.left << ", " << box.top << ")-(" << box.right << ", "
         << box.bottom << ")";
    return text.str();
}

class ResizePictures : public test::OpenTabsWindow {
protected:
    ResizePictures() : OpenTabsWindow("resize-pictures") {}

    void SetUp() override {
        OpenTabsWindow::SetUp();
        show_on_screen();
    }

    Picture settled() {
        EXPECT_TRUE(pump_until(nothing_waits_to_be_drawn));
        return read_window();
    }

    void resize(int width, int height) const {
        SetWindowPos(window_, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    }
};

// Whatever a size the window passed through, once it has settled every child shows what a
// fresh paint of the whole window would draw: the pane headers, their buttons, the outline, the
// strips and the page.
TEST_F(ResizePictures, AfterShrinkingAndGrowingTheWindowShowsAFreshPaint) {
    std::string text = "# Notes\n\n";
    for (int i = 0; i < 60; ++i) {
        text += "A line of words number " + std::to_string(i) + " to read for a while.\n";
    }
    open_path(file("notes.md", text));
    select_view(view_split);
    SendMessageW(window_, WM_COMMAND, MAKEWPARAM(outline_command, 0), 0);
    ASSERT_TRUE(IsWindowVisible(chrome.outline_tree));
    for (const SIZE small : {SIZE{420, 300}, SIZE{700, 500}, SIZE{560, 360}, SIZE{900, 640}}) {
        SCOPED_TRACE("through " + std::to_string(small.cx) + "x" + std::to_string(small.cy));
        settled();
        resize(small.cx, small.cy);
        settled();
        resize(1000, 700);
        const Picture shown = settled();
        RedrawWindow(window_, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        const Picture fresh = settled();
        EXPECT_EQ(differences(shown, fresh), "");
    }
}

} // namespace
} // namespace pellix
