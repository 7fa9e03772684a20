#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <utility>

#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/palette.h"
#include "app/tab_strip.h"
#include "tests/app/chrome_capture.h"
#include "tests/app/open_tabs_window.h"

namespace pellix {
namespace {

class TabStrip : public test::OpenTabsWindow {
protected:
    TabStrip() : OpenTabsWindow("tab-strip") {}

    static RECT item(int index) {
        RECT rect{};
        EXPECT_TRUE(SendMessageW(chrome.tab_control, TCM_GETITEMRECT, index,
                                 reinterpret_cast<LPARAM>(&rect)));
        return rect;
    }
    static LPARAM centre(const RECT& rect) {
        return MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    }
    static void send(UINT message, WPARAM wparam, LPARAM point) {
        SendMessageW(chrome.tab_control, message, wparam, point);
    }
    static std::wstring item_text(int index) {
        wchar_t text[512] = {};
        TCITEMW entry{};
        entry.mask = TCIF_TEXT;
        entry.pszText = text;
        entry.cchTextMax = 512;
        SendMessageW(chrome.tab_control, TCM_GETITEMW, index, reinterpret_cast<LPARAM>(&entry));
        return text;
    }
    // Posted commands reach the window's procedure when the queue is served.
    static void serve_posted() { test::pump(50); }
};

TEST_F(TabStrip, LabelsFollowNamesMarksAndTheModifiedState) {
    const std::wstring long_name(80, L'w');
    const auto wide = file(std::filesystem::path(long_name + L".md"), "text\n");
    open_path(wide);
    DocumentTab& tab = current_tab();
    EXPECT_EQ(tab.shown_name, long_name + L".md");
    ASSERT_EQ(tab.label.back(), L'\u2026');
    EXPECT_LT(tab.label.size(), tab.shown_name.size());
    EXPECT_EQ(item_text(0), tab.label);

    const auto amp = file("a&b.md", "x\n");
    open_path(amp);
    EXPECT_EQ(item_text(1), L"a&b.md");
    const int plain_width = item(1).right - item(1).left;
    current_tab().changed_on_disk = true;
    refresh_tab_strip();
    EXPECT_GE(item(1).right - item(1).left, plain_width + 10);
    EXPECT_EQ(item_text(1).find(L"a&b.md"), 0u);

    // Typing changes only the modified state: the item is kept as it was.
    const std::wstring label = current_tab().label;
    type(L"typed");
    refresh_tab_strip();
    EXPECT_TRUE(current_tab().shown_modified);
    EXPECT_EQ(current_tab().label, label);
}

TEST_F(TabStrip, CloseGlyphsAndTheMiddleButtonCloseTabs) {
    const auto a = file("a.md", "a\n");
    const auto b = file("b.md", "b\n");
    const auto c = file("c.md", "c\n");
    open_path(a);
    open_path(b);
    open_path(c);
    ASSERT_EQ(active, 2u);

    // Pressed on a close glyph, released elsewhere: nothing closes.
    const RECT glyph = close_glyph_rect(0);
    ASSERT_FALSE(IsRectEmpty(&glyph));
    EXPECT_EQ(close_glyph_hit({(glyph.left + glyph.right) / 2, (glyph.top + glyph.bottom) / 2}), 0);
    send(WM_LBUTTONDOWN, MK_LBUTTON, centre(glyph));
    EXPECT_EQ(strip_hover().pressed, tabs[0]->id);
    EXPECT_EQ(GetCapture(), chrome.tab_control);
    send(WM_LBUTTONUP, 0, centre(item(1)));
    EXPECT_EQ(tabs.size(), 3u);
    EXPECT_EQ(strip_hover().pressed, 0u);
    EXPECT_EQ(active, 2u);

    // Released over the same glyph: that tab closes and the active one stays.
    send(WM_LBUTTONDOWN, MK_LBUTTON, centre(close_glyph_rect(0)));
    send(WM_LBUTTONUP, 0, centre(close_glyph_rect(0)));
    ASSERT_EQ(tabs.size(), 2u);
    EXPECT_EQ(tab_name(current_tab()), L"c.md");
    EXPECT_EQ(tab_name(*tabs[0]), L"b.md");

    // The middle button on a modified inactive tab asks first; Cancel keeps it.
    select_tab(0, false);
    type(L"edit");
    select_tab(1, false);
    box_answers_ = {IDCANCEL};
    send(WM_MBUTTONUP, 0, centre(item(0)));
    EXPECT_EQ(last_box(), L"Save changes to b.md?");
    ASSERT_EQ(tabs.size(), 2u);
    EXPECT_EQ(active, 1u);
    box_answers_ = {IDNO};
    send(WM_MBUTTONUP, 0, centre(item(0)));
    ASSERT_EQ(tabs.size(), 1u);
    EXPECT_EQ(tab_name(current_tab()), L"c.md");
}

TEST_F(TabStrip, TheEmptyStripAndTheNewTabButtonOpenNewTabs) {
    RECT client{};
    GetClientRect(chrome.tab_control, &client);
    const RECT last = item(0);
    const LPARAM empty = MAKELPARAM(client.right - 10, (last.top + last.bottom) / 2);
    send(WM_LBUTTONDOWN, MK_LBUTTON, empty);
    send(WM_LBUTTONUP, 0, empty);
    serve_posted();
    EXPECT_EQ(tabs.size(), 1u);
    send(WM_LBUTTONDBLCLK, MK_LBUTTON, empty);
    EXPECT_TRUE(test::pump_until([] { return tabs.size() == 2u; }));

    ASSERT_NE(chrome.new_tab, nullptr);
    EXPECT_NE(GetWindowLongPtrW(chrome.new_tab, GWL_STYLE) & WS_VISIBLE, 0);
    RECT button{};
    GetWindowRect(chrome.new_tab, &button);
    MapWindowPoints(nullptr, chrome.tab_control, reinterpret_cast<POINT*>(&button), 2);
    EXPECT_EQ(button.left, item(1).right + 4);
    SendMessageW(chrome.tab_control, WM_COMMAND, MAKEWPARAM(100, BN_CLICKED),
                 reinterpret_cast<LPARAM>(chrome.new_tab));
    EXPECT_TRUE(test::pump_until([] { return tabs.size() == 3u; }));

    // Once the strip scrolls its tabs there is no room for the button; closing brings it back.
    auto button_shown = [] {
        return (GetWindowLongPtrW(chrome.new_tab, GWL_STYLE) & WS_VISIBLE) != 0;
    };
    while (tabs.size() < 16) {
        new_tab();
    }
    EXPECT_FALSE(button_shown());
    close_tabs_where([](std::uint64_t index) { return index > 1; }, ask_save_changes);
    EXPECT_TRUE(button_shown());
}

// The window the system would give a click at `point` (screen), and the point in its client.
std::pair<HWND, LPARAM> click_target(POINT point) {
    HWND window = WindowFromPoint(point);
    ScreenToClient(window, &point);
    return {window, MAKELPARAM(point.x, point.y)};
}

// Ends the first pop-up menu that opens, noting the command of its first item; a menu that
// does not show within the deadline is ended all the same, so that no test waits in it.
UINT first_item_of_menu = 0;
ULONGLONG menu_deadline = 0;
bool menu_ended = false;
void CALLBACK end_menu_once_open(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND menu_window = FindWindowW(L"#32768", nullptr);
    const bool open = menu_window != nullptr && IsWindowVisible(menu_window);
    if (!open && GetTickCount64() < menu_deadline) {
        return;
    }
    if (open) {
        const auto menu = reinterpret_cast<HMENU>(SendMessageW(menu_window, MN_GETHMENU, 0, 0));
        first_item_of_menu = GetMenuItemID(menu, 0);
    }
    KillTimer(nullptr, timer);
    EndMenu();
    menu_ended = true;
}

TEST_F(TabStrip, ClicksOnTheEmptyStripReachItThroughHitTesting) {
    // Under Wine without a window manager, hiding a shown window waits two seconds for the X
    // server; only this case shows the window.
    ShowWindow(window_, SW_SHOWNOACTIVATE);
    UpdateWindow(window_);
    RECT client{};
    GetClientRect(chrome.tab_control, &client);
    const RECT last = item(0);
    POINT empty{client.right - 10, (last.top + last.bottom) / 2};
    ClientToScreen(chrome.tab_control, &empty);

    // A double click as the system delivers it to the window under the pointer.
    auto [window, at] = click_target(empty);
    const bool double_clicks = (GetClassLongPtrW(window, GCL_STYLE) & CS_DBLCLKS) != 0;
    PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(window, WM_LBUTTONUP, 0, at);
    PostMessageW(window, double_clicks ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(window, WM_LBUTTONUP, 0, at);
    EXPECT_TRUE(test::pump_until([] { return tabs.size() == 2u; }));

    first_item_of_menu = 0;
    menu_ended = false;
    menu_deadline = GetTickCount64() + 10000;
    SetTimer(nullptr, 0, 20, end_menu_once_open);
    std::tie(window, at) = click_target(empty);
    PostMessageW(window, WM_RBUTTONDOWN, MK_RBUTTON, at);
    PostMessageW(window, WM_RBUTTONUP, 0, at);
    EXPECT_TRUE(test::pump_until([] { return menu_ended; }));
    // The active tab's menu, which starts with Close tab.
    EXPECT_EQ(first_item_of_menu, 108u);
}

// Next and previous change stay with the compare state: only the tab commands follow the count.
TEST_F(TabStrip, OneTabGreysOnlyNextAndPreviousTab) {
    HMENU bar = CreateMenu();
    HMENU file_menu = CreatePopupMenu();
    HMENU view_menu = CreatePopupMenu();
    AppendMenuW(file_menu, MF_STRING, 113, L"Reopen");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file_menu), L"File");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(CreatePopupMenu()), L"Edit");
    for (UINT id : {314u, 315u, 333u, 334u}) {
        AppendMenuW(view_menu, MF_STRING, id, L"item");
    }
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(view_menu), L"View");
    SetMenu(window_, bar);
    auto greyed = [](HMENU menu, UINT id) {
        return (GetMenuState(menu, id, MF_BYCOMMAND) & MF_GRAYED) != 0;
    };

    refresh_tab_strip();
    EXPECT_TRUE(greyed(view_menu, 314));
    EXPECT_TRUE(greyed(view_menu, 315));
    EXPECT_FALSE(greyed(view_menu, 333));
    EXPECT_FALSE(greyed(view_menu, 334));
    EXPECT_TRUE(greyed(file_menu, 113));

    open_path(file("a.md", "a\n"));
    new_tab();
    EXPECT_FALSE(greyed(view_menu, 314));
    EXPECT_FALSE(greyed(view_menu, 315));
    select_tab(0, false);
    EXPECT_FALSE(greyed(file_menu, 113));
}

TEST_F(TabStrip, TheTabMenuFollowsTheClickedTab) {
    auto greyed = [](HMENU menu, UINT id) {
        return (GetMenuState(menu, id, MF_BYCOMMAND) & MF_GRAYED) != 0;
    };
    HMENU only = build_tab_menu(0);
    EXPECT_EQ(GetMenuItemCount(only), 13);
    for (UINT id : {109u, 110u, 111u, 112u, 105u, 114u, 115u, 335u}) {
        EXPECT_TRUE(greyed(only, id)) << id;
    }
    EXPECT_FALSE(greyed(only, 108));
    DestroyMenu(only);

    open_path(file("a.md", "a\n"));
    new_tab();
    tabs[0]->watch_state = 1;
    HMENU watched = build_tab_menu(0);
    for (UINT id : {109u, 110u, 111u, 105u, 114u, 335u}) {
        EXPECT_FALSE(greyed(watched, id)) << id;
    }
    wchar_t text[64] = {};
    GetMenuStringW(watched, 114, text, 64, MF_BYCOMMAND);
    EXPECT_STREQ(text, L"Stop watching");
    DestroyMenu(watched);
}

TEST_F(TabStrip, TheActiveTabCarriesTheAccentBarAndAModifiedTabItsDot) {
    open_path(file("a.md", "a\n"));
    open_path(file("b.md", "b\n"));
    select_tab(0, false);
    type(L"edit");
    select_tab(1, false);
    RECT client{};
    GetClientRect(chrome.tab_control, &client);
    test::Surface surface(client.right, client.bottom);
    SendMessageW(chrome.tab_control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(surface.dc()),
                 PRF_CLIENT);
    const PaletteTable& colours = chrome_palette();
    const RECT active_item = item(1);
    EXPECT_EQ(surface.at((active_item.left + active_item.right) / 2, active_item.top), colours[4]);
    const RECT dot = close_glyph_rect(0);
    EXPECT_EQ(surface.at((dot.left + dot.right) / 2, (dot.top + dot.bottom) / 2), colours[3]);
    const RECT inactive = item(0);
    EXPECT_EQ(surface.at(inactive.left + 2, inactive.bottom - 2), colours[1]);
}

} // namespace
} // namespace pellix
