#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>

#include "tests/app/open_tabs_window.h"

namespace pellix {
namespace {

class TabTooltip : public test::OpenTabsWindow {
protected:
    TabTooltip() : OpenTabsWindow("Tab Tooltip Test") {}

    // What the tab control's tooltip is told for tab `index`, asked as it asks its owner.
    static std::wstring tooltip_of(std::uint64_t index) {
        NMTTDISPINFOW info{};
        info.hdr = {reinterpret_cast<HWND>(SendMessageW(chrome.tab_control, TCM_GETTOOLTIPS, 0, 0)),
                    static_cast<UINT_PTR>(index), static_cast<UINT>(TTN_GETDISPINFOW)};
        info.hinst = GetModuleHandleW(nullptr);
        SendMessageW(main_window, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
        if (info.lpszText == nullptr) {
            return L"";
        }
        EXPECT_EQ(info.hinst, nullptr); // the text is ours, not a resource
        return info.lpszText;
    }
};

TEST_F(TabTooltip, NamesThePathThenWatchAndCompareStateOnTheirOwnLines) {
    ASSERT_NE(SendMessageW(chrome.tab_control, TCM_GETTOOLTIPS, 0, 0), 0);
    EXPECT_EQ(tooltip_of(0), L"Untitled " + std::to_wstring(current_tab().id));
    const std::filesystem::path path = file("notes.md", "# Notes\n");
    open_path(path);
    SendMessageW(window_, WM_COMMAND, 100, 0);
    ASSERT_EQ(tabs.size(), 2u);
    EXPECT_EQ(tooltip_of(0), path.wstring());

    // Watching, updated once at 05:06:37 UTC: the time is shown in the local zone, without its
    // seconds. A zone may be a half or three quarters of an hour off UTC, so the minute looked
    // for is the local one.
    DocumentTab& tab = *tabs[0];
    tab.watch_state = 1;
    tab.watch_updates = 1;
    const SYSTEMTIME at{.wYear = 2026,
                        .wMonth = 3,
                        .wDayOfWeek = 0,
                        .wDay = 4,
                        .wHour = 5,
                        .wMinute = 6,
                        .wSecond = 37,
                        .wMilliseconds = 0};
    SystemTimeToFileTime(&at, &tab.watch_last_write);
    SYSTEMTIME local{};
    ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &at, &local));
    const std::wstring minute = (local.wMinute < 10 ? L"0" : L"") + std::to_wstring(local.wMinute);
    const std::wstring watching = tooltip_of(0);
    const std::wstring start = path.wstring() + L"\nWatching \u00B7 Read-only \u00B7 updated ";
    const std::wstring end = L" \u00B7 1 update";
    ASSERT_EQ(watching.substr(0, start.size()), start);
    ASSERT_GT(watching.size(), start.size() + end.size());
    EXPECT_EQ(watching.substr(watching.size() - end.size()), end);
    const std::wstring time =
        watching.substr(start.size(), watching.size() - start.size() - end.size());
    EXPECT_NE(time.find(minute), std::wstring::npos) << time;
    EXPECT_EQ(time.find(L"37"), std::wstring::npos) << time;

    // Paused with its reason, two updates, and compared.
    tab.watch_state = 2;
    tab.watch_updates = 2;
    tab.watch_status = "file is locked";
    tab.baseline = std::make_shared<const CompareBaseline>();
    tab.compare_label = L"draft.md";
    const std::wstring paused = tooltip_of(0);
    const std::wstring paused_start =
        path.wstring() + L"\nWatch paused \u00B7 file is locked \u00B7 updated ";
    EXPECT_EQ(paused.substr(0, paused_start.size()), paused_start);
    EXPECT_EQ(paused.substr(paused.find(L" \u00B7 2 updates")),
              L" \u00B7 2 updates\nCompared with draft.md");

    // Not watched: the update count is no longer told.
    tab.watch_state = 0;
    EXPECT_EQ(tooltip_of(0), path.wstring() + L"\nCompared with draft.md");
    tab.baseline.reset();
    // An index past the tabs gets no text.
    EXPECT_EQ(tooltip_of(2), L"");
}

} // namespace
} // namespace pellix
