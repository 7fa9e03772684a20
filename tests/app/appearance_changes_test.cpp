#include <windows.h>
#include <commctrl.h>

#include <map>

#include "app/view_switcher.h"
#include "tests/app/open_tabs_window.h"

namespace pellix {
namespace {

constexpr UINT_PTR recorder_id = 0x7E57;

// Counts the messages of one kind that a window receives, keeping the last one's lParam.
struct Received {
    UINT message = 0;
    int count = 0;
    LPARAM last = 0;
};

LRESULT CALLBACK record(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                        DWORD_PTR data) {
    auto& received = *reinterpret_cast<Received*>(data);
    if (message == received.message) {
        ++received.count;
        received.last = lparam;
    }
    return DefSubclassProc(window, message, wparam, lparam);
}

class RecordedWindow {
public:
    RecordedWindow(HWND window, UINT message) : window_(window), received_{message} {
        SetWindowSubclass(window_, record, recorder_id, reinterpret_cast<DWORD_PTR>(&received_));
    }
    ~RecordedWindow() { RemoveWindowSubclass(window_, record, recorder_id); }
    RecordedWindow(const RecordedWindow&) = delete;
    RecordedWindow& operator=(const RecordedWindow&) = delete;
    const Received& received() const { return received_; }

private:
    HWND window_;
    Received received_;
};

// On each WM_SETFONT, whether the font the window held until then was still a font.
LRESULT CALLBACK check_old_font(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                DWORD_PTR data) {
    if (message == WM_SETFONT) {
        auto held = reinterpret_cast<HGDIOBJ>(SendMessageW(window, WM_GETFONT, 0, 0));
        reinterpret_cast<std::vector<bool>*>(data)->push_back(GetObjectType(held) == OBJ_FONT);
    }
    return DefSubclassProc(window, message, wparam, lparam);
}

class AppearanceChanges : public test::OpenTabsWindow {
protected:
    AppearanceChanges() : OpenTabsWindow("Appearance Changes Test") {}
};

TEST_F(AppearanceChanges, ADpiChangeGivesEveryTabsEditorTheSameMargin) {
    SendMessageW(window_, WM_COMMAND, 100, 0);
    SendMessageW(window_, WM_COMMAND, 100, 0);
    ASSERT_EQ(tabs.size(), 3u);
    std::vector<std::unique_ptr<RecordedWindow>> editors;
    for (const auto& tab : tabs) {
        editors.push_back(std::make_unique<RecordedWindow>(tab->editor, EM_SETMARGINS));
    }
    RECT placed{};
    GetWindowRect(window_, &placed);
    const UINT dpi = GetDpiForWindow(window_);
    SendMessageW(window_, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&placed));
    for (const auto& editor : editors) {
        EXPECT_EQ(editor->received().count, 1);
        EXPECT_EQ(editor->received().last, editors.back()->received().last);
        EXPECT_GT(LOWORD(editor->received().last), 0);
    }
}

TEST_F(AppearanceChanges, TheSwitcherButtonsArePaintedBeforeTheChangeIsHandled) {
    ShowWindow(window_, SW_SHOWNOACTIVATE);
    UpdateWindow(window_);
    HWND button = GetWindow(chrome.view_switcher, GW_CHILD);
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(IsWindowVisible(button));
    RecordedWindow painted(button, WM_PAINT);
    SendMessageW(window_, WM_APP_APPEARANCE_CHANGED, 0, 0);
    EXPECT_GE(painted.received().count, 1);
}

TEST_F(AppearanceChanges, NewFontsReachTheWindowsBeforeTheOldOnesAreDeleted) {
    ASSERT_NE(chrome.find_box, nullptr);
    std::vector<bool> old_font_alive;
    SetWindowSubclass(chrome.find_box, check_old_font, recorder_id,
                      reinterpret_cast<DWORD_PTR>(&old_font_alive));
    SendMessageW(window_, WM_SETTINGCHANGE, SPI_SETNONCLIENTMETRICS, 0);
    RemoveWindowSubclass(chrome.find_box, check_old_font, recorder_id);
    EXPECT_EQ(old_font_alive, std::vector<bool>{true});
}

} // namespace
} // namespace pellix
