#include "app/tab_strip.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <utility>

#include "app/directory_watching.h"
#include "app/disk_state.h"
#include "app/document_tabs.h"
#include "app/editor_hosting.h"
#include "app/child_placement.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/owner_drawn_buttons.h"
#include "app/palette.h"
#include "app/prompts.h"
#include "app/ui_fonts.h"
#include "editor/source_interface.h"

namespace pellix {

namespace {

constexpr UINT_PTR tab_subclass_id = 3;
constexpr unsigned new_command = 100;
constexpr wchar_t ellipsis = L'\u2026';
constexpr wchar_t thin_space = L'\u2009';
constexpr int most_padding = 400;
// The menu bar's View menu holds the next and previous tab commands; the File menu the reopen
// submenu.
constexpr int view_menu_position = 2;
constexpr int file_menu_position = 0;
constexpr UINT next_tab_command = 314;
constexpr UINT previous_tab_command = 315;
constexpr UINT reopen_submenu_command = 113;

StripHover hover;
// The first click on the empty strip, for a double click the control does not report.
struct EmptyClick {
    bool remembered = false;
    DWORD time = 0;
    POINT point{};
};
EmptyClick empty_click;

int scaled(int value) {
    return scale_metric(value, main_window_dpi());
}

HFONT strip_font() {
    return ui_fonts.message != nullptr ? ui_fonts.message
                                       : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

// A screen DC with the strip's font, for measuring labels.
class MeasuringDc {
public:
    MeasuringDc() : dc_(GetDC(nullptr)), previous_(SelectObject(dc_, strip_font())) {}
    ~MeasuringDc() {
        SelectObject(dc_, previous_);
        ReleaseDC(nullptr, dc_);
    }
    MeasuringDc(const MeasuringDc&) = delete;
    MeasuringDc& operator=(const MeasuringDc&) = delete;

    int width(const std::wstring& text) const {
        SIZE size{};
        GetTextExtentPoint32W(dc_, text.c_str(), static_cast<int>(text.size()), &size);
        return size.cx;
    }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

bool item_rect(int index, RECT& rect) {
    return chrome.tab_control != nullptr && SendMessageW(chrome.tab_control, TCM_GETITEMRECT, index,
                                                         reinterpret_cast<LPARAM>(&rect)) != FALSE;
}

void invalidate_item(int index) {
    RECT rect{};
    if (item_rect(index, rect)) {
        InvalidateRect(chrome.tab_control, &rect, FALSE);
    }
}

void invalidate_close_box(int index) {
    const RECT box = close_glyph_rect(index);
    if (!IsRectEmpty(&box)) {
        InvalidateRect(chrome.tab_control, &box, FALSE);
    }
}

int item_at(HWND control, POINT point) {
    TCHITTESTINFO test{.pt = point, .flags = 0};
    return static_cast<int>(SendMessageW(control, TCM_HITTEST, 0, reinterpret_cast<LPARAM>(&test)));
}

bool shows_state_icon(const DocumentTab& tab) {
    return tab.watch_state != 0 || tab.baseline != nullptr;
}

// Rewrites item `index` from its tab: name, label (cut, then padded for its marks) and the
// state it was built from.
void write_item(HWND control, int index, DocumentTab& tab, std::wstring name, bool modified,
                bool exists) {
    std::wstring label = fit_label(name);
    if (tab.changed_on_disk) {
        label = pad_label(std::move(label), scaled(strip_metric::disk_mark_shift));
    }
    if (shows_state_icon(tab)) {
        label = pad_label(std::move(label), scaled(strip_metric::state_icon_room));
    }
    tab.shown_name = std::move(name);
    tab.label = std::move(label);
    tab.shown_modified = modified;
    tab.shown_changed_on_disk = tab.changed_on_disk;
    tab.shown_watch_state = tab.watch_state;
    tab.shown_comparing = tab.baseline != nullptr;
    tab.shown_index = index;
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = tab.label.data();
    SendMessageW(control, exists ? TCM_SETITEMW : TCM_INSERTITEMW, index,
                 reinterpret_cast<LPARAM>(&item));
}

void enable_menu_item(HMENU menu, UINT id, bool enabled) {
    if (menu != nullptr) {
        EnableMenuItem(menu, id, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    }
}

// Next and previous tab need a second tab. Next and previous change follow the compare state
// instead: a single tab compared with its saved file has changes to step through.
void grey_tab_commands() {
    HMENU bar = main_window != nullptr ? GetMenu(main_window) : nullptr;
    if (bar == nullptr) {
        return;
    }
    const bool several = tabs.size() >= 2;
    HMENU view = GetSubMenu(bar, view_menu_position);
    enable_menu_item(view, next_tab_command, several);
    enable_menu_item(view, previous_tab_command, several);
    const DocumentTab& tab = current_tab();
    const bool reopen = !tab.path.empty() && tab.watch_state == 0;
    HMENU file = GetSubMenu(bar, file_menu_position);
    if (file == nullptr) {
        return;
    }
    const UINT flags = reopen ? MF_ENABLED : MF_GRAYED;
    if (EnableMenuItem(file, reopen_submenu_command, MF_BYCOMMAND | flags) != -1) {
        return;
    }
    // A submenu item may carry no identifier of its own; it is then found by its submenu.
    for (int i = 0; i < GetMenuItemCount(file); ++i) {
        if (menus.encoding != nullptr && GetSubMenu(file, i) == menus.encoding) {
            EnableMenuItem(file, static_cast<UINT>(i), MF_BYPOSITION | flags);
        }
    }
}

void post_new_command() {
    PostMessageW(main_window, WM_COMMAND, new_command, 0);
}

// Reports a failure of a tab action the way the main window reports its own.
template <typename Action> void guarded(Action action) {
    try {
        action();
    } catch (const std::exception& error) {
        show_error_message(error);
    }
}

void on_mouse_move(HWND control, LPARAM lparam) {
    const POINT point{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
    const int hot = item_at(control, point);
    if (hot != hover.hot) {
        invalidate_tab_pair(control, hover.hot);
        invalidate_tab_pair(control, hot);
        hover.hot = hot;
    }
    const int hot_close = close_glyph_hit(point);
    if (hot_close != hover.hot_close) {
        invalidate_close_box(hover.hot_close);
        invalidate_close_box(hot_close);
        hover.hot_close = hot_close;
    }
    TRACKMOUSEEVENT track{.cbSize = sizeof(TRACKMOUSEEVENT),
                          .dwFlags = TME_LEAVE,
                          .hwndTrack = control,
                          .dwHoverTime = 0};
    TrackMouseEvent(&track);
}

void on_mouse_leave(HWND control) {
    invalidate_tab_pair(control, hover.hot);
    hover.hot = -1;
    invalidate_close_box(hover.hot_close);
    hover.hot_close = -1;
}

bool is_second_empty_click(POINT point, DWORD time) {
    return empty_click.remembered && time - empty_click.time <= GetDoubleClickTime() &&
           std::abs(point.x - empty_click.point.x) <= GetSystemMetrics(SM_CXDOUBLECLK) / 2 &&
           std::abs(point.y - empty_click.point.y) <= GetSystemMetrics(SM_CYDOUBLECLK) / 2;
}

// True when the click was taken here and must not reach the control.
bool on_left_down(HWND control, LPARAM lparam) {
    const POINT point{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
    if (item_at(control, point) < 0) {
        const DWORD time = static_cast<DWORD>(GetMessageTime());
        if (is_second_empty_click(point, time)) {
            empty_click = {};
            post_new_command();
        } else {
            empty_click = {.remembered = true, .time = time, .point = point};
        }
        return false;
    }
    const int index = close_glyph_hit(point);
    if (index < 0) {
        return false;
    }
    hover.pressed = tabs[static_cast<std::size_t>(index)]->id;
    SetCapture(control);
    invalidate_close_box(index);
    return true;
}

void on_close_glyph_up(HWND control, POINT point) {
    const std::uint64_t pressed = std::exchange(hover.pressed, 0);
    ReleaseCapture();
    const int index = close_glyph_hit(point);
    if (index >= 0 && tabs[static_cast<std::size_t>(index)]->id == pressed &&
        !replace_all_running()) {
        guarded([index] { close_tab_at(static_cast<std::uint64_t>(index), {}); });
    }
    InvalidateRect(control, nullptr, FALSE);
}

LRESULT on_left_up(HWND control, WPARAM wparam, LPARAM lparam) {
    const POINT point{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
    if (hover.pressed != 0) {
        on_close_glyph_up(control, point);
        return 0;
    }
    const LRESULT result = DefSubclassProc(control, WM_LBUTTONUP, wparam, lparam);
    const int index = item_at(control, point);
    if (index >= 0 && static_cast<std::uint64_t>(index) == active) {
        guarded([] { check_disk_changes(true); });
    }
    return result;
}

void on_middle_up(HWND control, LPARAM lparam) {
    const int index = item_at(control, {GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)});
    if (index >= 0 && !replace_all_running()) {
        guarded([index] { close_tab_at(static_cast<std::uint64_t>(index), {}); });
    }
}

void run_tab_menu_command(unsigned id, std::uint64_t index) {
    const std::uint64_t tab_id = tabs.at(index)->id;
    switch (id) {
    case compare_with_tab_command:
        compare_other_tab(tab_id);
        break;
    case toggle_watch_command:
        toggle_watch(tab_id, {});
        break;
    case clear_watch_command:
        clear_watch_changes(tab_id);
        break;
    default:
        select_tab(index, false);
        run_command(id);
        break;
    }
}

void on_context_menu(HWND control, LPARAM lparam) {
    if (replace_all_running() || tabs.empty()) {
        return;
    }
    POINT screen{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
    int index = -1;
    const bool from_keyboard = GET_X_LPARAM(lparam) == -1 && GET_Y_LPARAM(lparam) == -1;
    if (!from_keyboard) {
        POINT client = screen;
        ScreenToClient(control, &client);
        index = item_at(control, client);
    }
    if (index < 0) {
        index = static_cast<int>(active);
        RECT item{};
        item_rect(index, item);
        screen = {item.left + 4, item.bottom};
        ClientToScreen(control, &screen);
    }
    HMENU menu = build_tab_menu(static_cast<std::uint64_t>(index));
    const auto chosen = static_cast<unsigned>(TrackPopupMenu(
        menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, screen.x, screen.y, 0, main_window, nullptr));
    DestroyMenu(menu);
    if (chosen != 0) {
        guarded(
            [chosen, index] { run_tab_menu_command(chosen, static_cast<std::uint64_t>(index)); });
    }
}

bool from_new_tab_button(LPARAM lparam) {
    return chrome.new_tab != nullptr && reinterpret_cast<HWND>(lparam) == chrome.new_tab;
}

LRESULT CALLBACK tab_proc(HWND control, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                          DWORD_PTR) {
    switch (message) {
    case WM_NCHITTEST: {
        // The control answers HTTRANSPARENT outside its tabs, which would hand the clicks on the
        // empty strip (double click for New, right click for the tab menu) to the main window.
        const LRESULT hit = DefSubclassProc(control, message, wparam, lparam);
        return hit == HTTRANSPARENT ? HTCLIENT : hit;
    }
    case WM_ERASEBKGND:
        // The paint covers the whole strip. An erase of its own, which the system may run apart
        // from the paint (a window moved or hidden beside it), showed the strip without its tabs.
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT paint{};
        HDC target = BeginPaint(control, &paint);
        paint_tab_strip(control, target, paint.rcPaint);
        EndPaint(control, &paint);
        return 0;
    }
    case WM_PRINTCLIENT: {
        RECT client{};
        GetClientRect(control, &client);
        paint_tab_strip(control, reinterpret_cast<HDC>(wparam), client);
        return 0;
    }
    case WM_MOUSEMOVE:
        on_mouse_move(control, lparam);
        break;
    case WM_MOUSELEAVE:
        on_mouse_leave(control);
        break;
    case WM_LBUTTONDOWN:
        if (!replace_all_running() && on_left_down(control, lparam)) {
            return 0;
        }
        break;
    case WM_LBUTTONUP:
        return on_left_up(control, wparam, lparam);
    case WM_CAPTURECHANGED:
        hover.pressed = 0;
        InvalidateRect(control, nullptr, FALSE);
        break;
    case WM_LBUTTONDBLCLK:
        if (item_at(control, {GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)}) < 0) {
            empty_click = {};
            post_new_command();
            return 0;
        }
        break;
    case WM_MBUTTONUP:
        on_middle_up(control, lparam);
        return 0;
    case WM_CONTEXTMENU:
        on_context_menu(control, lparam);
        return 0;
    case WM_CTLCOLORBTN:
        return owner_drawn_button_background(reinterpret_cast<HDC>(wparam), dark_theme);
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
        if (item != nullptr && item->hwndItem == chrome.new_tab) {
            paint_owner_drawn_button(*item, dark_theme, ui_fonts.icon, L"\xE710", false, false);
            return 1;
        }
        break;
    }
    case WM_COMMAND:
        if (LOWORD(wparam) == new_command && from_new_tab_button(lparam)) {
            post_new_command();
            return 0;
        }
        break;
    case WM_NCDESTROY:
        release_tab_back_buffer();
        hover = {};
        RemoveWindowSubclass(control, tab_proc, tab_subclass_id);
        break;
    default:
        break;
    }
    return DefSubclassProc(control, message, wparam, lparam);
}

} // namespace

void install_tab_strip(HWND tab_control) {
    hover = {};
    empty_click = {};
    SetWindowSubclass(tab_control, tab_proc, tab_subclass_id, 0);
}

void forget_tab_labels() {
    for (const auto& tab : tabs) {
        tab->shown_index = -1;
    }
}

const StripHover& strip_hover() {
    return hover;
}

std::wstring pad_label(std::wstring text, int pixels) {
    const MeasuringDc dc;
    const int start = dc.width(text);
    for (int added = 0; added < most_padding && dc.width(text) - start < pixels; ++added) {
        text += thin_space;
    }
    return text;
}

std::wstring fit_label(const std::wstring& name) {
    const MeasuringDc dc;
    const int largest = scaled(strip_metric::label_width);
    if (dc.width(name) <= largest) {
        return name;
    }
    std::wstring rest = name;
    while (!rest.empty()) {
        const bool pair = rest.size() >= 2 && IS_LOW_SURROGATE(rest.back()) &&
                          IS_HIGH_SURROGATE(rest[rest.size() - 2]);
        rest.resize(rest.size() - (pair ? 2 : 1));
        if (dc.width(rest + ellipsis) <= largest) {
            break;
        }
    }
    return rest + ellipsis;
}

RECT close_glyph_rect(int index) {
    RECT item{};
    if (index < 0 || static_cast<std::size_t>(index) >= tabs.size() || !item_rect(index, item)) {
        return {};
    }
    const int size = scaled(strip_metric::close_box);
    const int middle = (item.top + item.bottom) / 2;
    const int right = item.right - scaled(strip_metric::close_margin);
    return {right - size, middle - size / 2, right, middle + (size + 1) / 2};
}

int close_glyph_hit(POINT point) {
    if (chrome.tab_control == nullptr) {
        return -1;
    }
    const int index = item_at(chrome.tab_control, point);
    if (index < 0) {
        return -1;
    }
    const RECT box = close_glyph_rect(index);
    return PtInRect(&box, point) ? index : -1;
}

void place_new_tab_button() {
    HWND button = chrome.new_tab;
    HWND control = chrome.tab_control;
    if (button == nullptr || control == nullptr) {
        return;
    }
    // Shown within the control, whether or not the window itself is on screen yet.
    HWND arrows = FindWindowExW(control, nullptr, UPDOWN_CLASSW, nullptr);
    if (arrows != nullptr && (GetWindowLongPtrW(arrows, GWL_STYLE) & WS_VISIBLE) != 0) {
        ShowWindow(button, SW_HIDE);
        return;
    }
    RECT client{};
    GetClientRect(control, &client);
    const int size = scaled(strip_metric::new_tab_size);
    const int gap = scaled(strip_metric::new_tab_gap);
    const int count = TabCtrl_GetItemCount(control);
    int x = client.left + gap;
    int height = client.bottom;
    RECT last{};
    if (count > 0 && item_rect(count - 1, last)) {
        x = last.right + gap;
        height = last.top + last.bottom;
    }
    if (x + size > client.right) {
        ShowWindow(button, SW_HIDE);
        return;
    }
    const int top = std::max((height - size) / 2, 0);
    place_child(button, {x, top, x + size, top + size}, true);
}

void refresh_tab_strip() {
    HWND control = chrome.tab_control;
    if (control == nullptr) {
        return;
    }
    const int count = static_cast<int>(tabs.size());
    int items = TabCtrl_GetItemCount(control);
    while (items > count) {
        TabCtrl_DeleteItem(control, --items);
    }
    bool rewritten = false;
    for (int i = 0; i < count; ++i) {
        DocumentTab& tab = *tabs[static_cast<std::size_t>(i)];
        std::wstring name = tab_name(tab);
        const bool modified = source_modified(tab.editor);
        if (i < items && name == tab.shown_name && tab.shown_index == i &&
            tab.changed_on_disk == tab.shown_changed_on_disk &&
            tab.watch_state == tab.shown_watch_state &&
            tab.shown_comparing == (tab.baseline != nullptr)) {
            if (modified != tab.shown_modified) {
                tab.shown_modified = modified;
                invalidate_item(i);
            }
            continue;
        }
        write_item(control, i, tab, std::move(name), modified, i < items);
        items = std::max(items, i + 1);
        rewritten = true;
    }
    if (rewritten) {
        InvalidateRect(control, nullptr, FALSE);
    }
    if (!tabs.empty()) {
        grey_tab_commands();
        if (SendMessageW(control, TCM_GETCURSEL, 0, 0) != static_cast<LRESULT>(active)) {
            SendMessageW(control, TCM_SETCURSEL, active, 0);
        }
    }
    place_new_tab_button();
    watch_open_files();
}

HMENU build_tab_menu(std::uint64_t index) {
    const DocumentTab& tab = *tabs.at(index);
    const bool untitled = tab.path.empty();
    const bool replacing = replace_all_running();
    auto state = [](bool enabled) { return enabled ? MF_ENABLED : MF_GRAYED; };
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, 108, L"Close tab\tCtrl+W");
    AppendMenuW(menu, MF_STRING | state(tabs.size() > 1), 109, L"Close all other tabs");
    AppendMenuW(menu, MF_STRING | state(index + 1 < tabs.size()), 110, L"Close tabs to the right");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING | state(!untitled), 111, L"Copy full path");
    AppendMenuW(menu, MF_STRING | state(!untitled), 112, L"Open containing folder");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING | state(!untitled), 105, L"Reload\tF5");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING | state(!untitled && !replacing), toggle_watch_command,
                tab.watch_state != 0 ? L"Stop watching" : L"Watch this file");
    AppendMenuW(
        menu, MF_STRING | state(!tab.watch_line_marks.empty() || !tab.watch_deletion_marks.empty()),
        clear_watch_command, L"Clear changes");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING | state(index != active && !replacing), compare_with_tab_command,
                L"Compare with this tab");
    return menu;
}

} // namespace pellix
