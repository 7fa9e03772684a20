#include "app/outline_pane.h"

#include <richedit.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <unordered_set>

#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_layout.h"
#include "app/main_window_create.h"
#include "app/main_window_state.h"
#include "app/palette.h"
#include "app/settings.h"
#include "app/timers.h"
#include "app/views.h"
#include "core/file_io.h"
#include "editor/source_interface.h"
#include "preview/preview_window.h"

namespace pellix {

namespace {

// Pixel metrics at 96 DPI of the selected row's accent bar.
constexpr int accent_width = 3;
constexpr int accent_inset = 6;
constexpr std::uint32_t muted_level = 3;

constexpr wchar_t no_headings[] = L"No headings yet";
constexpr wchar_t no_tasks[] = L"No tasks yet";
constexpr wchar_t no_unfinished[] = L"No unfinished tasks";

OutlinePane pane;

// Sets a flag of the pane for one scope, whatever way the scope is left.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;
    ~FlagScope() { flag_ = false; }

private:
    bool& flag_;
};

HWND tree() {
    return chrome.outline_tree;
}

bool active_markdown() {
    return !tabs.empty() && is_markdown_path(current_tab().path);
}

bool built_from_active_tab() {
    return !tabs.empty() && pane.tab_id != 0 && pane.tab_id == current_tab().id &&
           pane.revision == current_tab().revision;
}

bool same_structure(const std::vector<OutlineEntry>& a, const std::vector<OutlineEntry>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const OutlineEntry& x, const OutlineEntry& y) {
                          return x.title == y.title && x.id == y.id && x.level == y.level &&
                                 x.parent == y.parent && x.flag == y.flag;
                      });
}

std::vector<std::uint32_t> offsets_of(const std::vector<OutlineEntry>& entries) {
    std::vector<std::uint32_t> offsets;
    offsets.reserve(entries.size());
    for (const OutlineEntry& entry : entries) {
        offsets.push_back(static_cast<std::uint32_t>(entry.offset));
    }
    return offsets;
}

// The entry index a tree item stands for, or nothing for the placeholder and foreign items.
std::optional<std::uint64_t> entry_of(LPARAM parameter) {
    if (parameter <= 0 || static_cast<std::uint64_t>(parameter) > pane.entries.size()) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(parameter) - 1;
}

LPARAM item_parameter(HTREEITEM item) {
    TVITEMW query{};
    query.mask = TVIF_PARAM;
    query.hItem = item;
    if (item == nullptr ||
        !SendMessageW(tree(), TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&query))) {
        return 0;
    }
    return query.lParam;
}

bool expanded(HTREEITEM item) {
    return (SendMessageW(tree(), TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item), TVIS_EXPANDED) &
            TVIS_EXPANDED) != 0;
}

HTREEITEM next_item(HTREEITEM item, UINT relation) {
    return reinterpret_cast<HTREEITEM>(
        SendMessageW(tree(), TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

const wchar_t* placeholder_text() {
    if (!pane.tasks_mode) {
        return no_headings;
    }
    return pane.hide_completed ? no_unfinished : no_tasks;
}

// An item at the end of `parent`'s children; `expanded` opens it before its children arrive.
HTREEITEM insert(HTREEITEM parent, const wchar_t* text, LPARAM parameter, bool bold,
                 bool expanded) {
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_STATE;
    insert.item.pszText = const_cast<wchar_t*>(text);
    insert.item.lParam = parameter;
    insert.item.stateMask = TVIS_BOLD | TVIS_EXPANDED;
    insert.item.state = (bold ? TVIS_BOLD : 0) | (expanded ? TVIS_EXPANDED : 0);
    return reinterpret_cast<HTREEITEM>(
        SendMessageW(tree(), TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
}

std::optional<std::u16string> first_visible_key() {
    const auto entry = entry_of(item_parameter(next_item(nullptr, TVGN_FIRSTVISIBLE)));
    if (!entry) {
        return std::nullopt;
    }
    return pane.entries[*entry].id;
}

// Items go in already expanded (unless collapsed by the user): expanding them afterwards
// would lay the whole tree out again once per parent.
void fill_tree(const std::vector<std::uint8_t>& has_children,
               const std::unordered_set<std::u16string>& collapsed) {
    pane.items.clear();
    pane.items.reserve(pane.entries.size());
    for (size_t i = 0; i < pane.entries.size(); ++i) {
        const OutlineEntry& entry = pane.entries[i];
        HTREEITEM parent = entry.parent >= 0 && static_cast<size_t>(entry.parent) < i
                               ? pane.items[static_cast<size_t>(entry.parent)]
                               : TVI_ROOT;
        const bool expanded = has_children[i] && !collapsed.contains(entry.id);
        HTREEITEM item = insert(parent, reinterpret_cast<const wchar_t*>(entry.title.c_str()),
                                static_cast<LPARAM>(i + 1), entry.level == 1, expanded);
        if (item == nullptr) {
            SendMessageW(tree(), WM_SETREDRAW, TRUE, 0);
            throw std::runtime_error("Could not add an outline heading.");
        }
        pane.items.push_back(item);
    }
    if (pane.items.empty()) {
        insert(TVI_ROOT, placeholder_text(), 0, false, false);
    }
}

void rebuild_tree(const DocumentTab& tab) {
    std::optional<std::u16string> first_key;
    if (pane.tab_id == tab.id) {
        first_key = first_visible_key();
    }
    std::vector<std::uint8_t> has_children(pane.entries.size(), 0);
    for (const OutlineEntry& entry : pane.entries) {
        if (entry.parent >= 0 && static_cast<size_t>(entry.parent) < has_children.size()) {
            has_children[static_cast<size_t>(entry.parent)] = 1;
        }
    }
    {
        FlagScope rebuilding(pane.rebuilding);
        SendMessageW(tree(), WM_SETREDRAW, FALSE, 0);
        SendMessageW(tree(), TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
        pane.tab_id = 0;
        fill_tree(has_children, tab.collapsed_keys);
        if (first_key) {
            for (size_t i = 0; i < pane.entries.size(); ++i) {
                if (pane.entries[i].id == *first_key) {
                    SendMessageW(tree(), TVM_SELECTITEM, TVGN_FIRSTVISIBLE,
                                 reinterpret_cast<LPARAM>(pane.items[i]));
                    break;
                }
            }
        }
        pane.tab_id = tab.id;
        pane.revision = tab.revision;
        SendMessageW(tree(), WM_SETREDRAW, TRUE, 0);
        InvalidateRect(tree(), nullptr, TRUE);
    }
    sync_outline_selection();
}

// The item the caret's entry is shown by: the entry's own, or its outermost collapsed ancestor.
HTREEITEM caret_item() {
    CHARRANGE selection{};
    SendMessageW(chrome.editor, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    const auto caret = static_cast<std::uint32_t>(std::max<LONG>(selection.cpMin, 0));
    const auto after = std::upper_bound(pane.offsets.begin(), pane.offsets.end(), caret);
    if (after == pane.offsets.begin()) {
        return nullptr;
    }
    auto index = static_cast<std::int64_t>(after - pane.offsets.begin()) - 1;
    HTREEITEM target = pane.items[static_cast<size_t>(index)];
    for (std::int64_t up = pane.entries[static_cast<size_t>(index)].parent; up >= 0;
         up = pane.entries[static_cast<size_t>(up)].parent) {
        HTREEITEM ancestor = pane.items[static_cast<size_t>(up)];
        if (!expanded(ancestor)) {
            target = ancestor;
        }
    }
    return target;
}

void set_mode_button_texts() {
    if (chrome.headings_button != nullptr) {
        SetWindowTextW(chrome.headings_button,
                       pane.tasks_mode ? L"Show headings" : L"Headings, selected");
        InvalidateRect(chrome.headings_button, nullptr, FALSE);
    }
    if (chrome.tasks_button != nullptr) {
        SetWindowTextW(chrome.tasks_button, pane.tasks_mode ? L"Tasks, selected" : L"Show tasks");
        InvalidateRect(chrome.tasks_button, nullptr, FALSE);
    }
}

void scroll_preview_to_heading(std::uint64_t index) {
    Preview::Impl& p = preview();
    if (p.window == nullptr || index >= p.document.headings.size()) {
        return;
    }
    const std::uint64_t block = p.document.headings[index];
    if (block < p.layout.blocks.size()) {
        set_preview_scroll(p, p.view.scroll_x, p.layout.blocks[block].y);
    }
}

void on_expanded(const NMTREEVIEWW& change) {
    const auto entry = entry_of(item_parameter(change.itemNew.hItem));
    if (!entry || tabs.empty()) {
        return;
    }
    auto& collapsed = current_tab().collapsed_keys;
    if (expanded(change.itemNew.hItem)) {
        collapsed.erase(pane.entries[*entry].id);
    } else {
        collapsed.insert(pane.entries[*entry].id);
    }
}

COLORREF slot(int index) {
    return colorref_from_colour(chrome_palette()[static_cast<size_t>(index)]);
}

LRESULT custom_draw(NMTVCUSTOMDRAW& draw) {
    switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: {
        const bool selected = (draw.nmcd.uItemState & CDIS_SELECTED) != 0;
        const auto entry = entry_of(draw.nmcd.lItemlParam);
        const bool muted = !entry || pane.entries[*entry].level >= muted_level;
        if (selected && high_contrast) {
            draw.clrText = GetSysColor(COLOR_HIGHLIGHTTEXT);
            draw.clrTextBk = GetSysColor(COLOR_HIGHLIGHT);
        } else if (selected) {
            draw.clrText = slot(2);
            draw.clrTextBk = slot(6);
        } else {
            draw.clrText = slot(muted ? 3 : 2);
            draw.clrTextBk = slot(1);
        }
        return CDRF_NOTIFYPOSTPAINT;
    }
    case CDDS_ITEMPOSTPAINT:
        if ((draw.nmcd.uItemState & CDIS_SELECTED) != 0) {
            const RECT& row = draw.nmcd.rc;
            const unsigned dpi = main_window_dpi();
            const int inset = scale_metric(accent_inset, dpi);
            SetDCBrushColor(draw.nmcd.hdc, slot(4));
            const RECT bar{row.left, row.top + inset, row.left + scale_metric(accent_width, dpi),
                           row.bottom - inset};
            FillRect(draw.nmcd.hdc, &bar, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
        }
        return 0;
    default:
        return 0;
    }
}

} // namespace

const OutlinePane& outline_pane() {
    return pane;
}

bool outline_is_current(std::uint64_t tab_id, std::uint64_t revision) {
    return pane.tab_id != 0 && pane.tab_id == tab_id && pane.revision == revision;
}

void rebuild_outline(const std::u16string& text, const std::string& utf8) {
    if (tabs.empty() || tree() == nullptr) {
        return;
    }
    const DocumentTab& tab = current_tab();
    if (outline_is_current(tab.id, tab.revision)) {
        return;
    }
    std::vector<OutlineEntry> entries = pane.tasks_mode
                                            ? task_outline_entries(text, utf8, pane.hide_completed)
                                            : heading_outline_entries(text, utf8);
    if (pane.tab_id == tab.id && same_structure(entries, pane.entries)) {
        pane.entries = std::move(entries);
        pane.offsets = offsets_of(pane.entries);
        pane.revision = tab.revision;
        sync_outline_selection();
        return;
    }
    pane.entries = std::move(entries);
    pane.offsets = offsets_of(pane.entries);
    rebuild_tree(tab);
}

void sync_outline_selection() {
    if (!current_layout.show_outline || !active_markdown() || pane.rebuilding || pane.syncing ||
        !built_from_active_tab() || pane.items.empty() || tree() == nullptr) {
        return;
    }
    HTREEITEM target = caret_item();
    if (target != next_item(nullptr, TVGN_CARET)) {
        FlagScope syncing(pane.syncing);
        SendMessageW(tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(target));
    }
}

void clear_outline() {
    if (tree() != nullptr) {
        FlagScope rebuilding(pane.rebuilding);
        SendMessageW(tree(), TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    }
    pane.entries.clear();
    pane.items.clear();
    pane.offsets.clear();
    pane.tab_id = 0;
    pane.revision = 0;
}

void go_to_outline_entry(std::uint64_t index) {
    if (index >= pane.offsets.size() || replace_all_running() || !built_from_active_tab()) {
        return;
    }
    HWND editor = current_tab().editor;
    {
        FlagScope syncing(pane.syncing);
        FlagScope suppressed(split_syncing);
        KillTimer(main_window, timer_id::split_sync);
        split_sync_request.pending = false;
        const auto offset = static_cast<LONG>(pane.offsets[index]);
        CHARRANGE caret{offset, offset};
        SendMessageW(editor, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&caret));
        const auto line = static_cast<double>(SendMessageW(editor, EM_LINEFROMCHAR, offset, 0));
        set_source_top_line(editor, line, 0);
        if (pane.tasks_mode) {
            if (preview().window != nullptr) {
                scroll_preview_to_source_line(line);
            }
        } else {
            scroll_preview_to_heading(index);
        }
    }
    if (settings.view != view_preview && GetFocus() != tree()) {
        SetFocus(editor);
    }
}

void set_outline_expansion(bool expand) {
    if (tabs.empty() || tree() == nullptr) {
        return;
    }
    auto& collapsed = current_tab().collapsed_keys;
    collapsed.clear();
    {
        FlagScope rebuilding(pane.rebuilding);
        std::vector<std::uint8_t> has_children(pane.entries.size(), 0);
        for (const OutlineEntry& entry : pane.entries) {
            if (entry.parent >= 0) {
                has_children[static_cast<size_t>(entry.parent)] = 1;
            }
        }
        for (size_t i = 0; i < pane.items.size(); ++i) {
            if (!expand && has_children[i]) {
                collapsed.insert(pane.entries[i].id);
            }
            SendMessageW(tree(), TVM_EXPAND, expand ? TVE_EXPAND : TVE_COLLAPSE,
                         reinterpret_cast<LPARAM>(pane.items[i]));
        }
    }
    sync_outline_selection();
}

bool outline_shows_tasks() {
    return pane.tasks_mode;
}

bool outline_hides_completed() {
    return pane.hide_completed;
}

void set_outline_mode(bool tasks, bool hide_completed) {
    pane.tasks_mode = tasks;
    pane.hide_completed = hide_completed;
    set_mode_button_texts();
    clear_outline();
    update_preview();
}

std::optional<LRESULT> outline_notification(const NMHDR& header) {
    if (tree() == nullptr || header.hwndFrom != tree()) {
        return std::nullopt;
    }
    const auto& change = reinterpret_cast<const NMTREEVIEWW&>(header);
    const bool quiet = !pane.rebuilding && !pane.syncing;
    switch (header.code) {
    case TVN_SELCHANGINGW:
        // Clearing the selection (no item) is the caret above the first entry, not a choice.
        return change.itemNew.hItem != nullptr && item_parameter(change.itemNew.hItem) == 0 &&
                       !pane.rebuilding
                   ? TRUE
                   : 0;
    case TVN_SELCHANGEDW:
        if (quiet && !replace_all_running() &&
            (change.action == TVC_BYMOUSE || change.action == TVC_BYKEYBOARD)) {
            if (const auto entry = entry_of(item_parameter(change.itemNew.hItem))) {
                go_to_outline_entry(*entry);
            }
        }
        return 0;
    case TVN_ITEMEXPANDEDW:
        if (quiet) {
            on_expanded(change);
        }
        return 0;
    case NM_CUSTOMDRAW:
        return custom_draw(*reinterpret_cast<NMTVCUSTOMDRAW*>(const_cast<NMHDR*>(&header)));
    default:
        return 0;
    }
}

} // namespace pellix
