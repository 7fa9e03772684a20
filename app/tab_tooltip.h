#pragma once

// The text the tab strip's tooltip shows for a tab: where its text comes from, whether Watch
// follows it and how often it was updated, and what it is compared with.

#include <windows.h>
#include <commctrl.h>

#include <optional>

namespace pellix {

// Answers the tab control tooltip's TTN_GETDISPINFOW for a tab index; nothing for other
// notifications.
std::optional<LRESULT> tab_tooltip_notification(const NMHDR& header);

} // namespace pellix
