#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "app/main_window_state.h"
#include "app/owner_drawn_buttons.h"
#include "app/palette.h"
#include "app/view_switcher.h"
#include "preview/svg_icons.h"
#include "tests/app/chrome_capture.h"

namespace pellix {
namespace {

enum Button : size_t { source, split, preview, outline, watch };

// A switcher of its own in a shown host window, its commands recorded instead of run.
class Switcher : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        instance = GetModuleHandleW(nullptr);
        // Under Wine without a window manager, hiding a shown top-level window waits for the X
        // server; one host serves every case.
        host_ = CreateWindowExW(0, L"STATIC", L"switcher host", WS_OVERLAPPEDWINDOW, 0, 0, 800, 120,
                                nullptr, nullptr, instance, nullptr);
        ShowWindow(host_, SW_SHOWNOACTIVATE);
    }
    static void TearDownTestSuite() { DestroyWindow(host_); }

    void SetUp() override {
        ASSERT_NE(host_, nullptr);
        switcher_.command = [this](unsigned id) { commands_.push_back(id); };
        ASSERT_NE(create_view_switcher(host_, switcher_), nullptr);
        set_switcher_theme(switcher_, false, nullptr);
        set_switcher_sizes(switcher_, {90, 80, 90, 90, 90}, 8, 2, true);
        SetWindowPos(switcher_.window, nullptr, 0, 0, 480, 36, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    void TearDown() override { DestroyWindow(switcher_.window); }

    HWND button(Button which) const { return switcher_.buttons[which]; }
    void key(Button which, WPARAM key) { SendMessageW(button(which), WM_KEYDOWN, key, 0); }
    bool checked(Button which) const {
        return SendMessageW(button(which), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    bool tab_stop(Button which) const {
        return (GetWindowLongPtrW(button(which), GWL_STYLE) & WS_TABSTOP) != 0;
    }
    std::wstring tooltip(Button which) const {
        wchar_t text[256] = {};
        TTTOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.hwnd = switcher_.window;
        tool.uId = reinterpret_cast<UINT_PTR>(button(which));
        tool.lpszText = text;
        SendMessageW(switcher_.tooltip, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
        return text;
    }
    std::wstring text(Button which) const {
        wchar_t buffer[128] = {};
        GetWindowTextW(button(which), buffer, 128);
        return buffer;
    }
    // A pixel inside the frame, between the label and the frame's right edge.
    std::uint32_t inside_frame(Button which) const {
        RECT client{};
        GetClientRect(button(which), &client);
        return test::client_pixel(button(which), client.right - 5, client.bottom / 2);
    }

    static inline HWND host_ = nullptr;
    ViewSwitcher switcher_;
    std::vector<unsigned> commands_;
};

TEST_F(Switcher, APlainTextTabLeavesOnlySourceAndTakesTheFocusThere) {
    update_switcher(switcher_, 301, true, true, 0, false, L"");
    EXPECT_TRUE(checked(preview));
    EXPECT_FALSE(checked(source));
    EXPECT_TRUE(checked(outline));
    EXPECT_TRUE(tab_stop(preview));
    EXPECT_FALSE(tab_stop(source));
    EXPECT_TRUE(tab_stop(outline));
    EXPECT_EQ(tooltip(preview), L"Preview view (Ctrl+2)");
    SetFocus(button(preview));
    ASSERT_EQ(GetFocus(), button(preview));

    update_switcher(switcher_, 300, false, false, 0, false, L"");
    EXPECT_TRUE(IsWindowEnabled(button(source)));
    for (Button off : {split, preview, outline, watch}) {
        EXPECT_FALSE(IsWindowEnabled(button(off))) << off;
    }
    EXPECT_EQ(tooltip(split), L"Preview unavailable for this file type");
    EXPECT_EQ(tooltip(preview), L"Preview unavailable for this file type");
    EXPECT_EQ(tooltip(outline), L"Outline unavailable for plain text");
    EXPECT_EQ(tooltip(watch), L"Save this file first, or finish the current operation");
    EXPECT_EQ(tooltip(source), L"Source view (Ctrl+1)");
    EXPECT_EQ(GetFocus(), button(source));
    EXPECT_TRUE(tab_stop(source));
    EXPECT_FALSE(tab_stop(preview));
}

TEST_F(Switcher, KeysMoveThroughTheViewGroupWrappingAndSkippingDisabledButtons) {
    update_switcher(switcher_, 301, false, true, 0, true, L"");
    key(preview, VK_RIGHT); // wraps to Source
    key(source, VK_LEFT);   // wraps back to Preview
    key(preview, VK_HOME);
    key(source, VK_END);
    EXPECT_EQ(commands_, (std::vector<unsigned>{300, 301, 300, 301}));
    EXPECT_EQ(GetFocus(), button(preview));

    // Outline and Watch leave arrows alone but take Enter and Space, each once.
    commands_.clear();
    key(outline, VK_RIGHT);
    key(outline, VK_RETURN);
    SendMessageW(button(outline), WM_KEYUP, VK_RETURN, 0);
    SendMessageW(button(outline), WM_CHAR, VK_RETURN, 0);
    key(watch, VK_SPACE);
    SendMessageW(button(watch), WM_KEYUP, VK_SPACE, 0);
    SendMessageW(button(watch), WM_CHAR, L' ', 0);
    EXPECT_EQ(commands_, (std::vector<unsigned>{304, 324}));
    EXPECT_NE(SendMessageW(button(source), WM_GETDLGCODE, VK_LEFT, 0) & DLGC_WANTARROWS, 0);

    // A plain-text tab: Right from Source finds no other view and selects Source again.
    update_switcher(switcher_, 300, false, false, 0, true, L"");
    commands_.clear();
    key(source, VK_RIGHT);
    key(source, VK_END);
    SendMessageW(button(split), BM_CLICK, 0, 0); // disabled: no click
    EXPECT_EQ(commands_, (std::vector<unsigned>{300, 300}));

    update_switcher(switcher_, 300, false, true, 0, true, L"");
    commands_.clear();
    SendMessageW(button(split), BM_CLICK, 0, 0);
    EXPECT_EQ(commands_, (std::vector<unsigned>{302}));
}

TEST_F(Switcher, APausedWatchShowsTheWarningColoursAndSaysSoInItsText) {
    update_switcher(switcher_, 300, false, true, 2, true, L"The file is locked");
    EXPECT_EQ(text(watch), L"Watch file, paused");
    EXPECT_EQ(tooltip(watch),
              L"Watch paused: The file is locked. F5 to retry; Ctrl+Shift+W to stop");
    EXPECT_EQ(inside_frame(watch), 0xFFF3CBu);
    RECT client{};
    GetClientRect(button(watch), &client);
    EXPECT_EQ(test::client_pixel(button(watch), client.right - 3, client.bottom / 2), 0x9A6000u);

    update_switcher(switcher_, 300, false, true, 1, true, L"");
    EXPECT_EQ(text(watch), L"Watch file");
    EXPECT_EQ(tooltip(watch), L"Stop watching (Ctrl+Shift+W)");
    EXPECT_EQ(inside_frame(watch), palette.light[9]);
    update_switcher(switcher_, 300, false, true, 0, true, L"");
    EXPECT_EQ(tooltip(watch), L"Watch file (Ctrl+Shift+W)");
    EXPECT_EQ(inside_frame(watch), palette.light[1]);
}

TEST_F(Switcher, HoverFramesAButtonUntilTheMouseLeaves) {
    update_switcher(switcher_, 300, false, true, 0, true, L"");
    EXPECT_EQ(inside_frame(split), palette.light[1]);
    SendMessageW(button(split), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_TRUE(is_hot(button(split)));
    EXPECT_EQ(inside_frame(split), palette.light[6]);
    EXPECT_EQ(SendMessageW(button(split), WM_SETCURSOR, reinterpret_cast<WPARAM>(button(split)),
                           MAKELPARAM(HTCLIENT, 0)),
              TRUE);
    SendMessageW(button(split), WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(is_hot(button(split)));
    EXPECT_EQ(inside_frame(split), palette.light[1]);
}

TEST_F(Switcher, AThemeIsAppliedOnlyWhenSomethingChanged) {
    HDC dc = GetDC(host_);
    const RECT square{0, 0, 16, 16};
    draw_icon(instance, icon_id::source_view, dc, &square, RGB(1, 2, 3));
    ReleaseDC(host_, dc);
    ASSERT_FALSE(icon_cache().empty());
    set_switcher_theme(switcher_, false, nullptr);
    EXPECT_FALSE(icon_cache().empty());

    HFONT font = static_cast<HFONT>(GetStockObject(ANSI_VAR_FONT));
    set_switcher_theme(switcher_, true, font);
    EXPECT_TRUE(icon_cache().empty());
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(button(outline), WM_GETFONT, 0, 0)), font);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(switcher_.window, WM_GETFONT, 0, 0)), font);
    EXPECT_EQ(inside_frame(split), palette.dark[1]);
}

// An owner-drawn push button painted as its owner would on WM_DRAWITEM.
class OwnerDrawn : public Switcher {
protected:
    void SetUp() override {
        Switcher::SetUp();
        button_ = create_owner_drawn_button(host_, 345, L"\xE8BB");
        ASSERT_NE(button_, nullptr);
    }
    void TearDown() override {
        DestroyWindow(button_);
        Switcher::TearDown();
    }
    // Paints a 40 x 30 face onto `surface` as the owner would.
    void paint(test::Surface& surface, const wchar_t* caption, UINT state, bool active, bool rule) {
        DRAWITEMSTRUCT item{
            .CtlType = ODT_BUTTON,
            .CtlID = 345,
            .itemID = 0,
            .itemAction = ODA_DRAWENTIRE,
            .itemState = state,
            .hwndItem = button_,
            .hDC = surface.dc(),
            .rcItem = {0, 0, 40, 30},
            .itemData = 0,
        };
        paint_owner_drawn_button(item, false, nullptr, caption, active, rule);
    }
    HWND button_ = nullptr;
};

TEST_F(OwnerDrawn, FramesWhenActiveOrPressedButNotWhenDisabled) {
    const PaletteTable& light = palette.light;
    test::Surface plain(40, 30);
    paint(plain, L"\xE8BB", 0, false, false);
    EXPECT_EQ(plain.at(5, 15), light[1]);
    EXPECT_EQ(plain.at(20, 29), light[1]);
    // The glyph (or, where it cannot be rendered, the caption character) is drawn in the middle.
    EXPECT_LT(plain.count(light[1], {12, 7, 28, 23}), 16 * 16);

    test::Surface pressed(40, 30);
    paint(pressed, L"Replace", ODS_SELECTED | ODS_FOCUS, false, true);
    EXPECT_EQ(pressed.at(5, 15), light[6]);
    EXPECT_EQ(pressed.at(20, 29), light[5]);
    EXPECT_EQ(pressed.at(1, 1), light[1]);

    test::Surface disabled(40, 30);
    paint(disabled, L"Aa", ODS_DISABLED, true, false);
    EXPECT_EQ(disabled.at(5, 15), light[1]);

    // A square-ish button gets a centred square frame.
    test::Surface active(40, 30);
    paint(active, L"Aa", 0, true, false);
    EXPECT_EQ(active.at(5, 15), light[6]);
    SetWindowPos(button_, nullptr, 0, 0, 34, 30, SWP_NOZORDER | SWP_NOACTIVATE);
    DRAWITEMSTRUCT square{.CtlType = ODT_BUTTON,
                          .CtlID = 345,
                          .itemID = 0,
                          .itemAction = ODA_DRAWENTIRE,
                          .itemState = 0,
                          .hwndItem = button_,
                          .hDC = active.dc(),
                          .rcItem = {0, 0, 34, 30},
                          .itemData = 0};
    paint_owner_drawn_button(square, false, nullptr, L"Aa", true, false);
    EXPECT_EQ(active.at(4, 15), light[1]); // the 24-pixel square starts at x = 5
    EXPECT_EQ(active.at(8, 15), light[6]);
}

TEST_F(OwnerDrawn, HoverTrackingSetsAndClearsTheProperty) {
    SendMessageW(button_, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
    EXPECT_EQ(GetPropW(button_, L"Pellix.Hot"), reinterpret_cast<HANDLE>(1));
    SendMessageW(button_, WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(GetPropW(button_, L"Pellix.Hot"), nullptr);
    HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
    SendMessageW(button_, WM_SETCURSOR, reinterpret_cast<WPARAM>(button_), MAKELPARAM(HTCLIENT, 0));
    EXPECT_EQ(GetCursor(), hand);
    EnableWindow(button_, FALSE);
    SendMessageW(button_, WM_SETCURSOR, reinterpret_cast<WPARAM>(button_), MAKELPARAM(HTCLIENT, 0));
    EXPECT_NE(GetCursor(), hand);
}

} // namespace
} // namespace pellix
