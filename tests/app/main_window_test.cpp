#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "app/hosted_units.h"
#include "app/main_window_create.h"
#include "app/main_window_state.h"
#include "app/message_loop.h"
#include "app/palette.h"
#include "app/prompts.h"
#include "app/settings.h"
#include "app/theme.h"
#include "app/ui_fonts.h"
#include "app/main_layout.h"
#include "tests/app/in_process_main_window.h"
#include "tests/app/modal_driver.h"
#include "tests/app/message_pump.h"
#include "tests/app/settings_key_guard.h"

namespace pellix {
namespace {

const std::wstring test_key = L"Software\\Orvelworks\\Pellix Native Window Test";

// The real main window, made in this process with its settings under a test key; hidden unless
// a case needs it shown.
class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        instance = GetModuleHandleW(nullptr);
        saved_key_ = test::use_settings_key(test_key);
        // Opening the queued test paths reports that they do not exist.
        install_message_box([this](const MessageBoxRequest& request) {
            boxes_.push_back(request.text);
            return IDOK;
        });
        window_ = test::make_main_window();
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        if (IsWindow(window_)) {
            DestroyWindow(window_);
        }
        pump();
        file_work_busy = false;
        start_up_pending = false;
        close_deferred = false;
        closing = false;
        pending_paths.clear();
        test::restore_settings_key(saved_key_);
        install_message_box({});
    }

    static void pump(DWORD milliseconds = 100) { test::pump(milliseconds); }

    LRESULT send_record(ULONG_PTR kind, const void* data, DWORD bytes) {
        COPYDATASTRUCT record{kind, bytes, const_cast<void*>(data)};
        return SendMessageW(window_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&record));
    }

    test::SettingsKeyGuard key_{test_key};
    std::wstring saved_key_;
    HWND window_ = nullptr;
    std::vector<std::wstring> boxes_;
};

TEST_F(MainWindow, HandOffRecordsAtTheirLimits) {
    EXPECT_EQ(send_record(1, L"", 2), FALSE); // a lone NUL
    EXPECT_EQ(send_record(1, L"x", 4), TRUE);
    std::vector<wchar_t> largest(65536 / sizeof(wchar_t), L'y');
    largest.back() = L'\0';
    EXPECT_EQ(send_record(1, largest.data(), 65536), TRUE);
    largest.push_back(L'\0');
    EXPECT_EQ(send_record(1, largest.data(), 65538), FALSE);
    EXPECT_EQ(send_record(1, nullptr, 4), FALSE);
    EXPECT_EQ(SendMessageW(window_, WM_COPYDATA, 0, 0), FALSE);
    ASSERT_EQ(pending_paths.size(), 2u);
    EXPECT_EQ(pending_paths[0], std::filesystem::path(L"x"));

    // Queued opens wait while start-up is unfinished, then the queue is taken in order.
    start_up_pending = true;
    pump();
    EXPECT_EQ(pending_paths.size(), 2u);
    start_up_pending = false;
    PostMessageW(window_, WM_APP_OPEN_QUEUED, 0, 0);
    EXPECT_TRUE(test::pump_until([] { return pending_paths.empty(); }));
    EXPECT_EQ(boxes_.size(), 2u);
}

TEST_F(MainWindow, ACloseDuringFileWorkWaitsAndStillTakesHandOffs) {
    file_work_busy = true;
    SendMessageW(window_, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(window_));
    EXPECT_TRUE(close_deferred);
    EXPECT_FALSE(closing);
    EXPECT_EQ(send_record(1, L"later.md", 18), TRUE);

    file_work_busy = false;
    close_deferred = false;
    pending_paths.clear();
    SendMessageW(window_, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window_));
    EXPECT_EQ(main_window, nullptr);
    EXPECT_TRUE(closing);
    // The settings were saved when the window went away.
    EXPECT_EQ(key_.dword(L"View"), 300u);
}

TEST_F(MainWindow, ACloseDuringStartUpRunsWhenTheStartUpTailHasRun) {
    start_up_pending = true;
    SendMessageW(window_, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(window_));
    PostMessageW(window_, WM_APP_STARTUP_TAIL, 0, 0);
    EXPECT_TRUE(test::pump_until([this] { return !IsWindow(window_); }));
    EXPECT_FALSE(start_up_pending);
    EXPECT_FALSE(close_deferred);
    EXPECT_FALSE(IsWindow(window_));
}

TEST_F(MainWindow, QueuedPathsKeepTheWindowOpenAtClose) {
    pending_paths.emplace_back(L"C:\\dropped.md");
    SendMessageW(window_, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(window_));
    EXPECT_TRUE(test::pump_until([] { return pending_paths.empty(); }));
    EXPECT_FALSE(closing);
}

TEST_F(MainWindow, F6MovesThroughTheVisibleEnabledMembersOfTheRing) {
    // Under Wine without a window manager, hiding a shown window waits two seconds for the
    // X server; only this case shows the window.
    ShowWindow(window_, SW_SHOWNOACTIVATE);
    select_view(view_split);
    // The switcher's selected view button and Outline are in the ring; Watch is disabled for an
    // untitled tab.
    auto switcher_button = [](int id) { return GetDlgItem(chrome.view_switcher, id); };
    const std::vector<HWND> ring = usable_windows(focus_ring());
    ASSERT_NE(chrome.preview, nullptr);
    HWND encoding_item = GetDlgItem(chrome.status_strip, 360);
    ASSERT_EQ(ring, (std::vector<HWND>{chrome.tab_control, switcher_button(view_split),
                                       switcher_button(304), chrome.hide_source, chrome.editor,
                                       chrome.hide_preview, chrome.preview, encoding_item}));
    // Source view: the hide buttons are disabled and the preview's are hidden.
    select_view(view_source);
    EXPECT_EQ(usable_windows(focus_ring()),
              (std::vector<HWND>{chrome.tab_control, switcher_button(view_source),
                                 switcher_button(304), chrome.editor, encoding_item}));

    HWND a = reinterpret_cast<HWND>(1), b = reinterpret_cast<HWND>(2);
    HWND c = reinterpret_cast<HWND>(3), outside = reinterpret_cast<HWND>(9);
    const std::vector<HWND> three{a, b, c};
    EXPECT_EQ(next_focus(three, a, false), b);
    EXPECT_EQ(next_focus(three, c, false), a);
    EXPECT_EQ(next_focus(three, a, true), c);
    EXPECT_EQ(next_focus(three, outside, false), a);
    EXPECT_EQ(next_focus(three, outside, true), c);
    EXPECT_EQ(next_focus({}, a, false), nullptr);
}

} // namespace
} // namespace pellix

namespace pellix {
namespace {

TEST_F(MainWindow, ThemeAndFontsReachTheChrome) {
    settings.theme = 2;
    apply_appearance();
    EXPECT_TRUE(dark_theme || high_contrast);
    const COLORREF dark_chrome = colorref_from_colour(chrome_palette()[1]);
    EXPECT_EQ(static_cast<COLORREF>(SendMessageW(chrome.outline_tree, TVM_GETBKCOLOR, 0, 0)),
              dark_chrome);
    settings.theme = 1;
    apply_appearance();
    EXPECT_EQ(static_cast<COLORREF>(SendMessageW(chrome.outline_tree, TVM_GETBKCOLOR, 0, 0)),
              colorref_from_colour(chrome_palette()[1]));

    ASSERT_NE(ui_fonts.message, nullptr);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(chrome.outline_tree, WM_GETFONT, 0, 0)),
              ui_fonts.message);
    LOGFONTW semibold{};
    GetObjectW(ui_fonts.semibold, sizeof(semibold), &semibold);
    EXPECT_EQ(semibold.lfWeight, 600);
    HDC dc = GetDC(chrome.outline_tree);
    HGDIOBJ previous = SelectObject(dc, ui_fonts.message);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, previous);
    ReleaseDC(chrome.outline_tree, dc);
    EXPECT_EQ(SendMessageW(chrome.outline_tree, TVM_GETITEMHEIGHT, 0, 0), metrics.tmHeight + 10);
}

TEST_F(MainWindow, ResizingPlacesThePanesForTheNewClientSize) {
    RECT frame{0, 0, 900, 600};
    AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
    SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client{};
    GetClientRect(window_, &client);
    RECT label{};
    GetWindowRect(chrome.source_label, &label);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&label), 2);
    EXPECT_EQ(label.right, client.right - 30);
    EXPECT_EQ(label.top, 37);
    EXPECT_EQ(current_layout.status.top, client.bottom - 24);
}

} // namespace
} // namespace pellix

namespace pellix {
namespace {

RECT rect_in(HWND child, HWND parent) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

TEST_F(MainWindow, TheViewSwitcherIsLaidOutInGroupsAndItsButtonsRunTheirCommands) {
    HWND switcher = chrome.view_switcher;
    ASSERT_NE(switcher, nullptr);
    wchar_t text[32] = {};
    GetWindowTextW(switcher, text, 32);
    EXPECT_STREQ(text, L"Document view");
    auto button = [switcher](int id) { return GetDlgItem(switcher, id); };
    const RECT source = rect_in(button(300), switcher);
    const RECT split = rect_in(button(302), switcher);
    const RECT preview = rect_in(button(301), switcher);
    const RECT outline = rect_in(button(304), switcher);
    const RECT watch = rect_in(button(324), switcher);
    EXPECT_EQ(source.left, 2);
    EXPECT_EQ(source.top, 4);
    EXPECT_EQ(source.bottom, 32);
    EXPECT_EQ(split.left, source.right);
    EXPECT_EQ(preview.left, split.right);
    EXPECT_EQ(outline.left, preview.right + 12);
    EXPECT_EQ(watch.left, outline.right + 12);
    EXPECT_EQ(watch.right - watch.left, current_layout.switcher_layout.widths[4]);
    EXPECT_EQ(rect_in(switcher, window_).right - rect_in(switcher, window_).left,
              current_layout.switcher_layout.total);

    SendMessageW(button(302), BM_CLICK, 0, 0);
    EXPECT_TRUE(test::pump_until([] { return settings.view == 302; }));
    EXPECT_EQ(SendMessageW(button(302), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(button(300), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    SendMessageW(button(304), BM_CLICK, 0, 0);
    EXPECT_TRUE(test::pump_until([] { return settings.outline; }));
    EXPECT_EQ(SendMessageW(button(304), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_TRUE(current_layout.show_outline);
    EXPECT_EQ(key_.dword(L"Outline"), 1u);
}

TEST_F(MainWindow, TheAboutCommandShowsTheBoxOverTheMainWindow) {
    HWND owner = nullptr;
    const bool closed = test::drive_modal(
        L"About Pellix", [this] { SendMessageW(window_, WM_COMMAND, 500, 0); },
        [&owner](HWND dialog) {
            owner = GetWindow(dialog, GW_OWNER);
            PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
        });
    EXPECT_TRUE(closed);
    EXPECT_EQ(owner, window_);
}

} // namespace
} // namespace pellix
