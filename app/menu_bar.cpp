#include "app/menu_bar.h"

#include <algorithm>
#include <span>
#include <stdexcept>
#include <string>

#include "app/hosted_units.h"
#include "app/main_layout.h"
#include "app/main_window_state.h"
#include "app/settings.h"
#include "core/encoding.h"

namespace pellix {

namespace {

// An identifier of 0 is a separator.
struct MenuRecord {
    std::uint64_t id = 0;
    const wchar_t* text = nullptr;
};

constexpr MenuRecord file_items[] = {
    {100, L"&New\tCtrl+N"},
    {101, L"&Open...\tCtrl+O"},
    {105, L"&Reload\tF5"},
    {113, L"Reopen with &encoding"},
    {102, L"&Save\tCtrl+S"},
    {103, L"Save &As...\tCtrl+Shift+S"},
    {},
    {116, L"&Export"},
    {107, L"&Print...\tCtrl+P"},
    {},
    {108, L"&Close tab\tCtrl+W"},
    {},
    {104, L"E&xit"},
};

constexpr MenuRecord edit_items[] = {
    {200, L"&Undo\tCtrl+Z"},
    {201, L"&Redo\tCtrl+Y"},
    {},
    {202, L"Cu&t\tCtrl+X"},
    {203, L"&Copy\tCtrl+C"},
    {204, L"&Paste\tCtrl+V"},
    {205, L"Select &All\tCtrl+A"},
    {},
    {206, L"&Find...\tCtrl+F"},
    {207, L"Find &next\tF3"},
    {209, L"Find pre&vious\tShift+F3"},
    {208, L"&Replace...\tCtrl+H"},
};

constexpr MenuRecord view_items[] = {
    {300, L"&Source\tCtrl+1"},
    {301, L"&Preview\tCtrl+2"},
    {302, L"S&plit\tCtrl+3"},
    {},
    {304, L"&Outline\tCtrl+Shift+O"},
    {324, L"&Watch file\tCtrl+Shift+W"},
    {325, L"Clear c&hanges"},
    {309, L"&Line numbers"},
    {303, L"&Word wrap"},
    {310, L"&Autocomplete\tCtrl+Space"},
    {},
    {306, L"Zoom &in\tCtrl++"},
    {307, L"Zoom o&ut\tCtrl+-"},
    {308, L"&Reset zoom\tCtrl+0"},
    {},
    {314, L"&Next tab\tCtrl+Tab"},
    {315, L"Pre&vious tab\tCtrl+Shift+Tab"},
};

constexpr MenuRecord format_items[] = {
    {402, L"Heading &1\tCtrl+Shift+1"},
    {406, L"Heading &2\tCtrl+Shift+2"},
    {410, L"Heading &3\tCtrl+Shift+3"},
    {},
    {400, L"&Bold\tCtrl+B"},
    {401, L"&Italic\tCtrl+I"},
    {404, L"Inline &code\tCtrl+E"},
    {403, L"&Link\tCtrl+K"},
    {},
    {407, L"&Quote\tCtrl+Shift+Q"},
    {405, L"B&ullet list\tCtrl+Shift+8"},
    {408, L"&Numbered list\tCtrl+Shift+7"},
    {},
    {409, L"Clean &Source\tCtrl+Shift+F"},
};

constexpr MenuRecord help_items[] = {
    {501, L"Use Pellix for &Markdown files..."},
    {},
    {500, L"About Pellix"},
};

constexpr MenuRecord export_items[] = {{106, L"&HTML..."}, {117, L"&JSON..."}};
constexpr MenuRecord colouring_items[] = {{321, L"&Full"}, {322, L"&Punctuation"}, {323, L"&Off"}};
constexpr MenuRecord theme_items[] = {{311, L"&System"}, {312, L"&Light"}, {313, L"&Dark"}};

constexpr UINT export_item = 116;
constexpr UINT encoding_item = 113;
constexpr UINT unicode_reopen = 900;
constexpr UINT first_code_page_reopen = 904;
constexpr UINT last_reopen = 907;
constexpr UINT recent_position = 2;
constexpr UINT colouring_position = 10;
constexpr UINT theme_position = 12;
constexpr UINT watch_command = 324;
constexpr UINT clear_changes_command = 325;
constexpr std::uint32_t first_single_byte = 4;

// Bits of the command-state key.
constexpr std::uint32_t key_watched = 1;
constexpr std::uint32_t key_untitled = 2;
constexpr std::uint32_t key_replacing = 4;
constexpr std::uint32_t key_marked = 8;

HMENU last_treated_menu = nullptr;
std::uint32_t last_state_key = 0xFFFFFFFF;

HMENU popup_from(std::span<const MenuRecord> records) {
    HMENU popup = CreatePopupMenu();
    for (const MenuRecord& record : records) {
        if (record.id == 0) {
            AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
        } else {
            AppendMenuW(popup, MF_STRING, static_cast<UINT_PTR>(record.id), record.text);
        }
    }
    return popup;
}

void append_popup(HMENU bar, HMENU popup, const wchar_t* text) {
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), text);
}

void attach_submenu(HMENU menu, UINT item, HMENU submenu, const char* failure) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof(MENUITEMINFOW);
    info.fMask = MIIM_ID | MIIM_SUBMENU;
    info.wID = item;
    info.hSubMenu = submenu;
    if (submenu == nullptr || !SetMenuItemInfoW(menu, item, FALSE, &info)) {
        if (submenu != nullptr) {
            DestroyMenu(submenu);
        }
        throw std::runtime_error(failure);
    }
}

HMENU encoding_popup() {
    HMENU popup = CreatePopupMenu();
    if (popup == nullptr) {
        return nullptr;
    }
    AppendMenuW(popup, MF_STRING, unicode_reopen, L"&Unicode (automatic)");
    for (UINT id = first_code_page_reopen; id <= last_reopen; ++id) {
        const std::string_view name = encoding_name(static_cast<Encoding>(id - unicode_reopen));
        const std::wstring wide(name.begin(), name.end());
        AppendMenuW(popup, MF_STRING, id, wide.c_str());
    }
    return popup;
}

HMENU file_popup() {
    HMENU file = popup_from(file_items);
    attach_submenu(file, export_item, popup_from(export_items),
                   "Could not create the Export submenu.");
    menus.encoding = encoding_popup();
    attach_submenu(file, encoding_item, menus.encoding, "Could not create the encoding submenu.");
    menus.recent = CreatePopupMenu();
    InsertMenuW(file, recent_position, MF_BYPOSITION | MF_POPUP,
                reinterpret_cast<UINT_PTR>(menus.recent), L"&Recent");
    rebuild_recent_menu();
    return file;
}

HMENU compare_popup() {
    menus.compare = CreatePopupMenu();
    menus.compare_tabs = CreatePopupMenu();
    AppendMenuW(menus.compare, MF_STRING, 329, L"&Saved version");
    AppendMenuW(menus.compare, MF_STRING, 330, L"&Another file...");
    AppendMenuW(menus.compare, MF_POPUP, reinterpret_cast<UINT_PTR>(menus.compare_tabs),
                L"Open &tab");
    AppendMenuW(menus.compare, MF_STRING, 331, L"&Clipboard");
    AppendMenuW(menus.compare, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menus.compare, MF_STRING, 333, L"&Next change\tF8");
    AppendMenuW(menus.compare, MF_STRING, 334, L"&Previous change\tShift+F8");
    AppendMenuW(menus.compare, MF_STRING, 332, L"S&top comparing");
    return menus.compare;
}

HMENU view_popup() {
    HMENU view = popup_from(view_items);
    menus.colouring = popup_from(colouring_items);
    const unsigned mode = settings.syntax_colouring > 2 ? 0 : settings.syntax_colouring;
    CheckMenuRadioItem(menus.colouring, 321, 323, 321 + mode, MF_BYCOMMAND);
    InsertMenuW(view, colouring_position, MF_BYPOSITION | MF_POPUP,
                reinterpret_cast<UINT_PTR>(menus.colouring), L"Syntax &colouring");
    InsertMenuW(view, colouring_position + 1, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
    menus.theme = popup_from(theme_items);
    CheckMenuRadioItem(menus.theme, 311, 313, 311 + std::min(settings.theme, 2u), MF_BYCOMMAND);
    InsertMenuW(view, theme_position, MF_BYPOSITION | MF_POPUP,
                reinterpret_cast<UINT_PTR>(menus.theme), L"&Theme");
    AppendMenuW(view, MF_SEPARATOR, 0, nullptr);
    append_popup(view, compare_popup(), L"Compare &with");
    return view;
}

void enable(UINT id, bool enabled) {
    EnableMenuItem(menus.bar, id, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

bool has_marks(const DocumentTab& tab) {
    return !tab.watch_line_marks.empty() || !tab.watch_deletion_marks.empty();
}

std::uint32_t state_key(const DocumentTab& tab) {
    std::uint32_t key = 0;
    key |= tab.watch_state != 0 ? key_watched : 0;
    key |= tab.path.empty() ? key_untitled : 0;
    key |= replace_all_running() ? key_replacing : 0;
    key |= has_marks(tab) ? key_marked : 0;
    return key;
}

void apply_menu_state(const DocumentTab& tab) {
    const bool watched = tab.watch_state != 0;
    for (unsigned id : watch_greyed_commands) {
        enable(id, !watched);
    }
    const bool watch_available = !tab.path.empty() && !replace_all_running();
    CheckMenuItem(menus.bar, watch_command, MF_BYCOMMAND | (watched ? MF_CHECKED : MF_UNCHECKED));
    enable(watch_command, watch_available);
    if (watched) {
        enable(clear_changes_command, has_marks(tab));
    } else {
        if (tab.path.empty()) {
            enable(encoding_item, false);
        }
        enable(clear_changes_command, false);
    }
}

void mark_encoding_popup() {
    const DocumentTab& tab = current_tab();
    const UINT marked =
        tab.encoding < first_single_byte ? unicode_reopen : unicode_reopen + tab.encoding;
    CheckMenuRadioItem(menus.encoding, unicode_reopen, last_reopen, marked, MF_BYCOMMAND);
    const bool usable = !tab.path.empty() && tab.watch_state == 0 && !replace_all_running();
    const int count = GetMenuItemCount(menus.encoding);
    for (int i = 0; i < count; ++i) {
        EnableMenuItem(menus.encoding, static_cast<UINT>(i),
                       MF_BYPOSITION | (usable ? MF_ENABLED : MF_GRAYED));
    }
}

} // namespace

HMENU build_menu_bar() {
    menus = {};
    // A new bar may reuse the handle of a destroyed one, so the cache must not match it.
    last_treated_menu = nullptr;
    last_state_key = 0xFFFFFFFF;
    HMENU bar = CreateMenu();
    menus.bar = bar;
    try {
        append_popup(bar, file_popup(), L"&File");
        append_popup(bar, popup_from(edit_items), L"&Edit");
        append_popup(bar, view_popup(), L"&View");
        append_popup(bar, popup_from(format_items), L"F&ormat");
        append_popup(bar, popup_from(help_items), L"&Help");
    } catch (...) {
        DestroyMenu(bar);
        menus = {};
        throw;
    }
    return bar;
}

void prepare_menu_popup(HMENU popup) {
    if (popup == nullptr) {
        return;
    }
    if (popup == menus.compare || popup == menus.compare_tabs) {
        rebuild_compare_menu();
    }
    if (popup == menus.encoding && !tabs.empty()) {
        mark_encoding_popup();
    }
}

void update_command_state() {
    if (main_window == nullptr || tabs.empty() || menus.bar == nullptr) {
        return;
    }
    const DocumentTab& tab = current_tab();
    const std::uint32_t key = state_key(tab);
    if (menus.bar != last_treated_menu || key != last_state_key) {
        last_treated_menu = menus.bar;
        last_state_key = key;
        apply_menu_state(tab);
    }
    enable_status_format_items(tab.watch_state == 0);
    update_view_switcher(current_layout);
}

} // namespace pellix
