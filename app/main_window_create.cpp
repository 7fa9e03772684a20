#include "app/main_window_create.h"

#include <commctrl.h>
#include <shellapi.h>

#include <stdexcept>

#include "app/directory_watching.h"
#include "app/completion_popup.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/menu_bar.h"
#include "app/owner_drawn_buttons.h"
#include "app/settings.h"
#include "app/single_instance.h"
#include "app/tab_strip.h"
#include "app/theme.h"
#include "app/timers.h"
#include "app/ui_fonts.h"
#include "app/window_proc.h"

namespace pellix {

namespace {

constexpr int default_width = 1200;
constexpr int default_height = 800;
constexpr int tab_tooltip_width = 600;
constexpr int tab_tooltip_delay_ms = 400;

HWND make_child(const wchar_t* window_class, const wchar_t* text, DWORD style, int id,
                HWND parent) {
    return CreateWindowExW(0, window_class, text, style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
}

HWND make_label(HWND parent, int id) {
    return make_child(L"STATIC", L"", WS_CHILD | SS_OWNERDRAW, id, parent);
}

HWND make_pane_button(HWND parent, const wchar_t* text, int id) {
    HWND button = make_child(L"BUTTON", text, WS_CHILD | WS_TABSTOP | BS_OWNERDRAW, id, parent);
    install_hot_tracking(button);
    return button;
}

void create_document_panes(HWND window) {
    chrome.tab_control = make_child(WC_TABCONTROLW, L"",
                                    WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN |
                                        WS_TABSTOP | TCS_TOOLTIPS,
                                    child_id::tab_control, window);
    if (chrome.tab_control != nullptr) {
        SendMessageW(chrome.tab_control, WM_SETFONT,
                     reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
        install_tab_strip(chrome.tab_control);
    }
    chrome.editor = create_tab_editor(window);
    chrome.preview_host = make_child(L"STATIC", L"", WS_CHILD | WS_CLIPCHILDREN, 0, window);
    chrome.outline_tree =
        make_child(WC_TREEVIEWW, L"Outline headings",
                   WS_CHILD | WS_TABSTOP | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_DISABLEDRAGDROP |
                       TVS_SHOWSELALWAYS | TVS_TRACKSELECT | TVS_FULLROWSELECT,
                   child_id::outline_tree, window);
    chrome.outline_label = make_label(window, child_id::outline_label);
    chrome.outline_options =
        make_pane_button(window, L"Outline options", child_id::outline_options);
    chrome.headings_button = make_pane_button(window, L"Headings, selected", child_id::headings);
    chrome.tasks_button = make_pane_button(window, L"Show tasks", child_id::tasks);
    chrome.source_label = make_label(window, child_id::source_label);
    chrome.preview_label = make_label(window, child_id::preview_label);
    chrome.hide_source = make_pane_button(window, L"Hide Source pane", child_id::hide_source);
    chrome.hide_preview = make_pane_button(window, L"Hide Preview pane", child_id::hide_preview);
    if (chrome.tab_control != nullptr) {
        chrome.new_tab = make_child(L"BUTTON", L"New tab", WS_CHILD | WS_TABSTOP | BS_OWNERDRAW,
                                    child_id::new_tab, chrome.tab_control);
        install_hot_tracking(chrome.new_tab);
    }
}

void check_children() {
    for (HWND child : {chrome.tab_control, chrome.status_strip, chrome.editor, chrome.preview_host,
                       chrome.outline_tree, chrome.outline_label, chrome.source_label,
                       chrome.preview_label, chrome.outline_options, chrome.headings_button,
                       chrome.tasks_button, chrome.hide_source, chrome.hide_preview}) {
        if (child == nullptr) {
            throw std::runtime_error("Could not create the native editor controls.");
        }
    }
}

void configure_tooltips_and_tree() {
    if (auto tooltip =
            reinterpret_cast<HWND>(SendMessageW(chrome.tab_control, TCM_GETTOOLTIPS, 0, 0))) {
        SendMessageW(tooltip, TTM_SETMAXTIPWIDTH, 0, tab_tooltip_width);
        SendMessageW(tooltip, TTM_SETDELAYTIME, TTDT_INITIAL, tab_tooltip_delay_ms);
    }
    const LPARAM extended = TVS_EX_DOUBLEBUFFER | TVS_EX_FADEINOUTEXPANDOS;
    SendMessageW(chrome.outline_tree, TVM_SETEXTENDEDSTYLE, extended, extended);
}

void check_setting_menu_items(HWND window) {
    HMENU menu = GetMenu(window);
    if (menu == nullptr) {
        return;
    }
    auto check = [menu](UINT id, bool on) {
        CheckMenuItem(menu, id, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
    };
    check(303, settings.wrap);
    check(304, settings.outline);
    check(309, settings.line_numbers);
    check(310, settings.autocomplete);
}

} // namespace

const wchar_t* main_window_class() {
    return compare_mode ? compare_window_class : editor_window_class;
}

bool register_main_window_class() {
    WNDCLASSEXW window_class{
        .cbSize = sizeof(WNDCLASSEXW),
        .style = CS_DBLCLKS,
        .lpfnWndProc = window_proc,
        .cbClsExtra = 0,
        .cbWndExtra = 0,
        .hInstance = instance,
        .hIcon = LoadIconW(instance, MAKEINTRESOURCEW(application_icon_id)),
        .hCursor = LoadCursorW(nullptr, IDC_ARROW),
        .hbrBackground = nullptr,
        .lpszMenuName = nullptr,
        .lpszClassName = main_window_class(),
        .hIconSm = nullptr,
    };
    return RegisterClassExW(&window_class) != 0;
}

HWND create_main_window() {
    const int dpi = static_cast<int>(GetDpiForSystem());
    return CreateWindowExW(
        0, main_window_class(), L"Pellix", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
        CW_USEDEFAULT, MulDiv(default_width, dpi, USER_DEFAULT_SCREEN_DPI),
        MulDiv(default_height, dpi, USER_DEFAULT_SCREEN_DPI), nullptr, nullptr, instance, nullptr);
}

void build_main_window(HWND window) {
    main_window = window;
    update_window_icons();
    SetMenu(window, build_menu_bar());
    create_chrome_units(window);
    create_document_panes(window);
    check_children();
    configure_tooltips_and_tree();
    update_ui_fonts();
    set_completion_owner(chrome.editor);
    create_completion_popup(window);
    apply_editor_font();
    apply_appearance();
    if (chrome.editor != nullptr) {
        SendMessageW(chrome.editor, EM_SETMODIFY, FALSE, 0);
    }
    check_setting_menu_items(window);
    update_command_state();
    start_directory_watcher();
    start_housekeeping_timers();
    DragAcceptFiles(window, TRUE);
}

} // namespace pellix
