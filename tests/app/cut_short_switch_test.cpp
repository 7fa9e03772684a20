#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "app/main_layout.h"
#include "app/status_strip.h"
#include "app/tab_switch_faults.h"
#include "app/views.h"
#include "tests/app/open_tabs_window.h"

namespace pellix {
namespace {

bool shown(HWND window) {
    return (GetWindowLongPtrW(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

std::vector<HWND> shown_editors() {
    std::vector<HWND> editors;
    for (const auto& tab : tabs) {
        if (shown(tab->editor)) {
            editors.push_back(tab->editor);
        }
    }
    return editors;
}

std::wstring text_of(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

RECT place_in_parent(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

class CutShortSwitch : public test::OpenTabsWindow,
                       public ::testing::WithParamInterface<SwitchPoint> {
protected:
    CutShortSwitch() : OpenTabsWindow("cut-short-switch") {}
};

// A switch from a plain-text tab to a Markdown tab in Split, failing at each point on its way:
// the failure reaches the caller, and the window is left showing the tab entered, as a whole
// switch leaves it, with its editor the only one shown.
TEST_P(CutShortSwitch, LeavesTheEnteredTabsEditorTheOnlyOneShownAndTheWindowLaidOutForIt) {
    open_path(file("plain.txt", "plain text\n"));
    open_path(file("page.md", "# Page\n\nwords on the page\n"));
    select_view(view_split);
    const std::uint64_t page = active;
    select_tab(index_of(folder_ / "plain.txt"), false);
    ASSERT_EQ(shown_editors(), std::vector<HWND>{chrome.editor});
    ASSERT_FALSE(shown(chrome.preview_host));
    const HWND entered = tabs[page]->editor;

    {
        const ScopedSwitchFault fault([failing = GetParam()](SwitchPoint point) {
            if (point == failing) {
                throw std::runtime_error("Not enough memory for the switch.");
            }
        });
        EXPECT_THROW(select_tab(page, false), std::runtime_error);
    }

    EXPECT_EQ(active, page);
    EXPECT_EQ(chrome.editor, entered);
    EXPECT_EQ(shown_editors(), std::vector<HWND>{entered});
    const RECT placed = place_in_parent(entered);
    EXPECT_TRUE(EqualRect(&current_layout.editor, &placed) != FALSE);
    EXPECT_EQ(current_layout.view, view_split);
    EXPECT_TRUE(shown(chrome.preview_host));
    EXPECT_EQ(SendMessageW(chrome.tab_control, TCM_GETCURSEL, 0, 0), static_cast<LRESULT>(page));
    EXPECT_EQ(text_of(main_window), L"page.md - Pellix");
    EXPECT_EQ(text_of(chrome.status_strip), L"Ln 1, Col 1, 6 words, UTF-8, LF, Markdown");

    // The next switch goes as any other.
    select_tab(index_of(folder_ / "plain.txt"), false);
    EXPECT_EQ(shown_editors(), std::vector<HWND>{chrome.editor});
    EXPECT_FALSE(shown(chrome.preview_host));
}

std::string point_name(const ::testing::TestParamInfo<SwitchPoint>& point) {
    switch (point.param) {
    case SwitchPoint::before_view:
        return "BeforeView";
    case SwitchPoint::entered:
        return "Entered";
    default:
        return "Presenting";
    }
}

INSTANTIATE_TEST_SUITE_P(AtEachPoint, CutShortSwitch,
                         ::testing::Values(SwitchPoint::before_view, SwitchPoint::entered,
                                           SwitchPoint::presenting),
                         point_name);

} // namespace
} // namespace pellix
