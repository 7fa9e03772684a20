#include "app/tab_tooltip.h"

#include <array>
#include <string>

#include "app/main_window_state.h"
#include "app/prompts.h"
#include "app/view_switcher.h"

namespace pellix {

namespace {

constexpr int time_text_units = 64;

// The tooltip reads the text after the notification returns, so it lives here.
std::wstring shown_tooltip;

// The local wall-clock time of a system file time, without seconds; empty when it cannot be
// converted.
std::wstring local_time_text(const FILETIME& when) {
    SYSTEMTIME utc{};
    SYSTEMTIME local{};
    std::array<wchar_t, time_text_units> text{};
    if (!FileTimeToSystemTime(&when, &utc) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) ||
        GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, TIME_NOSECONDS, &local, nullptr, text.data(),
                        time_text_units) == 0) {
        return {};
    }
    return text.data();
}

// The path or shown name, then the Watch state and updates, then what the tab is compared with.
std::wstring tab_tooltip_text(const DocumentTab& tab) {
    std::wstring text = tab.path.empty() ? tab.shown_name : tab.path.wstring();
    if (tab.watch_state == switcher_watch::paused) {
        text += L"\nWatch paused \u00B7 " + display_text(tab.watch_status);
    } else if (tab.watch_state == switcher_watch::watching) {
        text += L"\nWatching \u00B7 Read-only";
    }
    if (tab.watch_state != switcher_watch::off && tab.watch_updates != 0) {
        text += L" \u00B7 updated " + local_time_text(tab.watch_last_write) + L" \u00B7 " +
                std::to_wstring(tab.watch_updates) +
                (tab.watch_updates == 1 ? L" update" : L" updates");
    }
    if (tab.baseline != nullptr) {
        text += L"\nCompared with " + tab.compare_label;
    }
    return text;
}

} // namespace

std::optional<LRESULT> tab_tooltip_notification(const NMHDR& header) {
    if (header.code != TTN_GETDISPINFOW || chrome.tab_control == nullptr ||
        header.hwndFrom !=
            reinterpret_cast<HWND>(SendMessageW(chrome.tab_control, TCM_GETTOOLTIPS, 0, 0)) ||
        header.idFrom >= tabs.size()) {
        return std::nullopt;
    }
    shown_tooltip = tab_tooltip_text(*tabs[header.idFrom]);
    auto& info = reinterpret_cast<NMTTDISPINFOW&>(const_cast<NMHDR&>(header));
    info.hinst = nullptr;
    info.lpszText = shown_tooltip.data();
    return 0;
}

} // namespace pellix
