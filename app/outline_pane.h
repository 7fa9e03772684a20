#pragma once

// The outline pane: a tree of the active Markdown tab's headings (each with the count of its
// finished and total tasks) or of its task items grouped under their headings. Choosing an
// entry puts the editor's caret on its line and scrolls both panes there; moving the caret
// selects the entry that holds it. Each tab keeps the keys of the entries the user collapsed,
// and a rebuild keeps the first visible entry.

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "markdown/outline.h"

namespace pellix {

// What the pane shows and what it was built from.
struct OutlinePane {
    std::vector<OutlineEntry> entries;
    std::vector<HTREEITEM> items;       // one per entry, in entry order
    std::vector<std::uint32_t> offsets; // entry offsets, for the caret lookup
    std::uint64_t tab_id = 0;           // 0 when empty or invalidated
    std::uint64_t revision = 0;
    bool tasks_mode = false;
    bool hide_completed = false;
    bool rebuilding = false;
    bool syncing = false;
};

// The process's pane state (UI thread only).
const OutlinePane& outline_pane();

// Moves the caret and both panes to entry `index`, as choosing it in the tree does.
void go_to_outline_entry(std::uint64_t index);

// The tree's WM_NOTIFY answers (selection, expansion, colours); nothing for other senders.
std::optional<LRESULT> outline_notification(const NMHDR& header);

} // namespace pellix
