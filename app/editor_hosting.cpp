#include "app/editor_hosting.h"

#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>
#include <uxtheme.h>

#include <stdexcept>

#include "editor/source_interface.h"
#include "app/hosted_units.h"
#include "app/main_layout.h"
#include "app/main_window_state.h"
#include "app/palette.h"
#include "app/settings.h"
#include "app/timers.h"
#include "core/limits.h"
#include "editor/source_host.h"
#include "editor/source_window.h"

namespace pellix {

namespace {

constexpr LPARAM undo_limit = 1000;
constexpr int left_margin = 8;
constexpr std::uint64_t input_burst_ms = 180;
constexpr wchar_t four_spaces[] = L"    ";

namespace menu_id {
constexpr UINT undo = 200;
constexpr UINT redo = 201;
constexpr UINT cut = 202;
constexpr UINT copy = 203;
constexpr UINT paste = 204;
constexpr UINT select_all = 205;
} // namespace menu_id

// The WM_CHAR the completion popup's key leaves behind, eaten once.
wchar_t swallowed_character = 0;

void install_host_once() {
    static bool installed = false;
    if (installed) {
        return;
    }
    installed = true;
    install_source_host({
        .paint_colours = [](bool dark) { return paint_colours(dark); },
        .search_term = [] { return search_term; },
        .record_scroll_sample = scroll_profile.enabled ? record_stage_sample : nullptr,
        .record_work_stage = nullptr,
    });
}

bool completion_key(HWND editor, WPARAM key) {
    switch (key) {
    case VK_TAB:
    case VK_RETURN:
        accept_completion();
        swallowed_character = key == VK_TAB ? L'\t' : L'\r';
        return true;
    case VK_ESCAPE:
        hide_completion();
        swallowed_character = 27;
        return true;
    case VK_UP:
    case VK_DOWN:
        move_completion_selection(key == VK_DOWN ? 1 : -1);
        return true;
    default:
        hide_completion();
        (void)editor;
        return false;
    }
}

bool is_navigation_key(WPARAM key) {
    switch (key) {
    case VK_PRIOR:
    case VK_NEXT:
    case VK_END:
    case VK_HOME:
    case VK_LEFT:
    case VK_UP:
    case VK_RIGHT:
    case VK_DOWN:
        return true;
    default:
        return false;
    }
}

bool is_scrolling_message(UINT message, WPARAM wparam) {
    switch (message) {
    case WM_VSCROLL:
    case WM_HSCROLL:
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
    case WM_KEYUP:
    case EM_LINESCROLL:
    case EM_SCROLLCARET:
    case EM_SETSCROLLPOS:
    case WM_APP_SOURCE_SCROLLED:
        return true;
    case WM_KEYDOWN:
        return is_navigation_key(wparam);
    default:
        return false;
    }
}

void after_scrolling(HWND editor) {
    if (split_syncing || tabs.empty() || current_tab().editor != editor) {
        return;
    }
    note_input();
    DocumentTab& tab = current_tab();
    tab.source_leads = true;
    if (settings.view != view_split) {
        return;
    }
    const bool was_pending = split_sync_request.pending;
    split_sync_request = {true, true, tab.id, tab.revision, 0.0};
    if (!was_pending) {
        SetTimer(main_window, timer_id::split_sync, timer_period::split_sync, nullptr);
    }
}

bool editor_is_watched(HWND editor) {
    for (const auto& tab : tabs) {
        if (tab->editor == editor) {
            return tab->watch_state != 0;
        }
    }
    return false;
}

POINT menu_point(HWND editor, LPARAM lparam) {
    POINT point{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
    if (point.x != -1 || point.y != -1) {
        return point;
    }
    CHARRANGE selection{};
    SendMessageW(editor, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    POINTL caret{};
    SendMessageW(editor, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&caret), selection.cpMax);
    point = {caret.x, caret.y};
    ClientToScreen(editor, &point);
    return point;
}

void show_context_menu(HWND editor, LPARAM lparam) {
    SetFocus(editor);
    hide_completion();
    const POINT point = menu_point(editor, lparam);
    CHARRANGE selection{};
    SendMessageW(editor, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    const bool empty_selection = selection.cpMin == selection.cpMax;
    const bool watched = editor_is_watched(editor);
    auto state = [](bool greyed) { return MF_STRING | (greyed ? MF_GRAYED : MF_ENABLED); };
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr) {
        return;
    }
    AppendMenuW(menu, state(empty_selection || watched), menu_id::cut, L"Cut\tCtrl+X");
    AppendMenuW(menu, state(empty_selection), menu_id::copy, L"Copy\tCtrl+C");
    AppendMenuW(menu, state(!IsClipboardFormatAvailable(CF_UNICODETEXT) || watched), menu_id::paste,
                L"Paste\tCtrl+V");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, state(GetWindowTextLengthW(editor) == 0), menu_id::select_all,
                L"Select all\tCtrl+A");
    if (watched) {
        for (UINT id : {menu_id::undo, menu_id::redo}) {
            EnableMenuItem(menu, id, MF_BYCOMMAND | MF_GRAYED);
        }
    }
    const UINT chosen = static_cast<UINT>(TrackPopupMenu(
        menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, point.x, point.y, 0, main_window, nullptr));
    DestroyMenu(menu);
    if (chosen != 0) {
        SendMessageW(main_window, WM_COMMAND, MAKEWPARAM(chosen, 0), 0);
    }
}

} // namespace

bool input_busy() {
    const std::uint64_t now = GetTickCount64();
    return now < input_busy_until && static_cast<std::uint32_t>(input_busy_until - now) != 0;
}

void note_input() {
    input_busy_until = GetTickCount64() + input_burst_ms;
}

HWND create_editor() {
    register_source_window_class(instance);
    install_host_once();
    HWND editor = CreateWindowExW(
        0, source_window_class, L"", WS_CHILD | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP, 0, 0, 0, 0,
        main_window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(editor_control_id)), instance,
        nullptr);
    if (editor == nullptr) {
        throw std::runtime_error("Could not create a document editor.");
    }
    set_colouring_mode(editor, static_cast<int>(settings.syntax_colouring));
    SendMessageW(editor, EM_EXLIMITTEXT, 0, static_cast<LPARAM>(document_limit));
    SendMessageW(editor, EM_SETUNDOLIMIT, undo_limit, 0);
    SendMessageW(editor, EM_SETEVENTMASK, 0, ENM_CHANGE | ENM_SELCHANGE);
    SendMessageW(editor, EM_SETTARGETDEVICE, 0, settings.wrap ? 0 : 1);
    SetWindowSubclass(editor, editor_proc, editor_subclass_id, 0);
    RevokeDragDrop(editor);
    DragAcceptFiles(editor, TRUE);
    SetWindowTheme(editor, dark_theme && !high_contrast ? L"DarkMode_Explorer" : L"Explorer",
                   nullptr);
    set_editor_margin(editor);
    return editor;
}

void set_editor_margin(HWND editor) {
    SendMessageW(editor, EM_SETMARGINS, EC_LEFTMARGIN,
                 MAKELPARAM(scale_metric(left_margin, main_window_dpi()), 0));
}

LRESULT CALLBACK editor_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                             DWORD_PTR) {
    switch (message) {
    case WM_KEYDOWN:
        if (completion_visible() && completion_key(window, wparam)) {
            return 0;
        }
        break;
    case WM_CHAR:
        if (swallowed_character != 0 && static_cast<wchar_t>(wparam) == swallowed_character) {
            swallowed_character = 0;
            return 0;
        }
        swallowed_character = 0;
        if (wparam == L'\t') {
            SendMessageW(window, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(four_spaces));
            return 0;
        }
        break;
    case WM_KILLFOCUS:
        hide_completion();
        break;
    case WM_CONTEXTMENU:
        show_context_menu(window, lparam);
        return 0;
    case WM_DROPFILES:
        return SendMessageW(main_window, message, wparam, lparam);
    case WM_PASTE:
        return SendMessageW(window, EM_PASTESPECIAL, CF_UNICODETEXT, 0);
    default:
        break;
    }
    const LRESULT result = DefSubclassProc(window, message, wparam, lparam);
    if (is_scrolling_message(message, wparam)) {
        after_scrolling(window);
    }
    return result;
}

void invalidate_tab_pair(HWND tab_control, int index) {
    for (int item : {index - 1, index}) {
        RECT rect{};
        if (item >= 0 && SendMessageW(tab_control, TCM_GETITEMRECT, item,
                                      reinterpret_cast<LPARAM>(&rect)) != FALSE) {
            InvalidateRect(tab_control, &rect, FALSE);
        }
    }
}

} // namespace pellix
