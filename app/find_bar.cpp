#include "app/find_bar.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <cwchar>
#include <stdexcept>
#include <utility>

#include "app/child_window_class.h"
#include "app/chrome_drawing.h"
#include "app/find_bar_layout.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/owner_drawn_buttons.h"
#include "app/palette.h"
#include "app/prompts.h"

namespace pellix {

namespace {

namespace m = find_bar_metric;

constexpr wchar_t bar_title[] = L"Find and replace";
constexpr wchar_t status_prefix[] = L"Find and replace: ";
constexpr wchar_t no_results[] = L"No results";
constexpr wchar_t widest_status[] = L"9999 of 10000+";
constexpr int window_text_buffer = 512;

struct BarButton {
    int id;
    const wchar_t* name; // the window text, which screen readers read
    const wchar_t* face;
    bool icon;
};

constexpr std::array<BarButton, find_button::count> bar_buttons = {{
    {find_control::match_case, L"Match case", L"Aa", false},
    {find_control::whole_word, L"Match whole word", L"ab", false},
    {find_control::previous, L"Previous match", L"\xE70E", true},
    {find_control::next, L"Next match", L"\xE70D", true},
    {find_control::close, L"Close find bar", L"\xE8BB", true},
    {find_control::replace, L"Replace", L"Replace", false},
    {find_control::replace_all, L"Replace all", L"Replace all", false},
}};

// Request flags of the bar's buttons and of Enter in a box (before the options are added).
constexpr unsigned long request_find_backward = 0x8;
constexpr unsigned long request_find_forward = 0x9;
constexpr unsigned long request_replace = 0x11;
constexpr unsigned long request_replace_all = 0x21;

struct FindBarState {
    HWND window = nullptr;
    HWND find_box = nullptr;
    HWND replace_box = nullptr;
    std::array<HWND, find_button::count> buttons{};
    bool replace_mode = false;
    bool suppress_change = false;
    unsigned long options = 0;
    bool dark = false;
    HFONT text_font = nullptr;
    HFONT icon_font = nullptr;
    HBRUSH edit_brush = nullptr;
    std::wstring status;
    RECT status_rect{};
    BackBuffer buffer;
    FindBarCallbacks callbacks;
};

FindBarState bar;

const PaletteTable& colours() {
    return active_palette(bar.dark);
}

HFONT text_font() {
    return bar.text_font != nullptr ? bar.text_font
                                    : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

const BarButton* button_entry(int id) {
    for (const BarButton& entry : bar_buttons) {
        if (entry.id == id) {
            return &entry;
        }
    }
    return nullptr;
}

HWND button_of(int id) {
    for (std::size_t i = 0; i < bar_buttons.size(); ++i) {
        if (bar_buttons[i].id == id) {
            return bar.buttons[i];
        }
    }
    return nullptr;
}

void run_guarded(const std::function<void()>& callback) {
    if (!callback) {
        return;
    }
    try {
        callback();
    } catch (const std::exception& error) {
        show_error_message(error);
    }
}

void request(unsigned long flags) {
    if (bar.callbacks.request) {
        run_guarded([flags] { bar.callbacks.request(flags | bar.options); });
    }
}

int text_width(HDC dc, const wchar_t* text) {
    SIZE size{};
    GetTextExtentPoint32W(dc, text, static_cast<int>(std::wcslen(text)), &size);
    return size.cx;
}

FindBarSizes measure() {
    FindBarSizes sizes;
    const UINT dpi = GetDpiForWindow(bar.window);
    sizes.dpi = dpi != 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
    HDC dc = GetDC(bar.window);
    if (dc == nullptr) {
        return sizes;
    }
    HGDIOBJ previous = SelectObject(dc, text_font());
    TEXTMETRICW metrics{};
    if (GetTextMetricsW(dc, &metrics)) {
        sizes.line_height = metrics.tmHeight;
    }
    sizes.status_text = text_width(dc, widest_status);
    sizes.replace_text = text_width(dc, bar_buttons[find_button::replace].face);
    sizes.replace_all_text = text_width(dc, bar_buttons[find_button::replace_all].face);
    SelectObject(dc, previous);
    ReleaseDC(bar.window, dc);
    return sizes;
}

void move_to(HWND child, const RECT& rect, bool shown) {
    if (child == nullptr) {
        return;
    }
    if (shown) {
        MoveWindow(child, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                   FALSE);
    }
    ShowWindow(child, shown ? SW_SHOWNA : SW_HIDE);
}

void layout_children() {
    if (bar.window == nullptr) {
        return;
    }
    RECT client{};
    GetClientRect(bar.window, &client);
    const FindBarLayout layout = layout_find_bar(client.right, bar.replace_mode, measure());
    move_to(bar.find_box, layout.find_edit, true);
    move_to(bar.replace_box, layout.replace_edit, layout.replace_shown);
    for (std::size_t i = 0; i < bar.buttons.size(); ++i) {
        move_to(bar.buttons[i], layout.buttons[i], layout.shown[i]);
    }
    bar.status_rect = layout.status;
}

void repaint() {
    if (bar.window != nullptr) {
        RedrawWindow(bar.window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
    }
}

void name_option_buttons() {
    const bool match_case = (bar.options & option_match_case) != 0;
    const bool whole_word = (bar.options & option_whole_word) != 0;
    if (HWND button = button_of(find_control::match_case)) {
        SetWindowTextW(button, match_case ? L"Match case (on)" : L"Match case (off)");
    }
    if (HWND button = button_of(find_control::whole_word)) {
        SetWindowTextW(button, whole_word ? L"Match whole word (on)" : L"Match whole word (off)");
    }
}

// --- painting ---------------------------------------------------------------------------------

void paint_status(HDC dc) {
    if (bar.status.empty() || IsRectEmpty(&bar.status_rect)) {
        return;
    }
    HGDIOBJ previous = SelectObject(dc, text_font());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colorref_from_colour(colours()[bar.status == no_results ? 4 : 3]));
    RECT rect = bar.status_rect;
    DrawTextW(dc, bar.status.c_str(), static_cast<int>(bar.status.size()), &rect,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
    SelectObject(dc, previous);
}

void paint_box_frame(HDC dc, HWND box) {
    if (box == nullptr || (GetWindowLongPtrW(box, GWL_STYLE) & WS_VISIBLE) == 0) {
        return;
    }
    RECT rect{};
    GetWindowRect(box, &rect);
    MapWindowPoints(HWND_DESKTOP, bar.window, reinterpret_cast<POINT*>(&rect), 2);
    const int widening = scale_for_window(bar.window, m::frame_widening);
    const int height = scale_for_window(bar.window, m::frame_height);
    const int corner = scale_for_window(bar.window, m::frame_corner);
    const int top = (rect.top + rect.bottom - height) / 2;
    HGDIOBJ old_pen = SelectObject(dc, GetStockObject(DC_PEN));
    HGDIOBJ old_brush = SelectObject(dc, GetStockObject(DC_BRUSH));
    SetDCPenColor(dc, colorref_from_colour(colours()[GetFocus() == box ? 4 : 5]));
    SetDCBrushColor(dc, colorref_from_colour(colours()[0]));
    RoundRect(dc, rect.left - widening, top, rect.right + widening, top + height, corner, corner);
    SelectObject(dc, old_brush);
    SelectObject(dc, old_pen);
}

void paint_surface(HDC dc, const RECT& client) {
    fill_with_palette_colour(dc, client, colours()[1]);
    fill_with_palette_colour(dc, RECT{0, client.bottom - 1, client.right, client.bottom},
                             colours()[5]);
    paint_status(dc);
    paint_box_frame(dc, bar.find_box);
    paint_box_frame(dc, bar.replace_box);
}

void paint(HWND window) {
    PAINTSTRUCT ps{};
    HDC target = BeginPaint(window, &ps);
    paint_buffered(window, target, bar.buffer, paint_surface);
    EndPaint(window, &ps);
}

void draw_button(const DRAWITEMSTRUCT& item) {
    const BarButton* entry = button_entry(static_cast<int>(item.CtlID));
    if (entry == nullptr) {
        return;
    }
    const bool checked =
        (entry->id == find_control::match_case && (bar.options & option_match_case) != 0) ||
        (entry->id == find_control::whole_word && (bar.options & option_whole_word) != 0);
    paint_owner_drawn_button(item, bar.dark, entry->icon ? bar.icon_font : bar.text_font,
                             entry->face, checked, false);
}

// --- commands ---------------------------------------------------------------------------------

void flip_option(unsigned long option, HWND button) {
    bar.options ^= option;
    name_option_buttons();
    repaint();
    if (button != nullptr) {
        InvalidateRect(button, nullptr, FALSE);
    }
    run_guarded(bar.callbacks.changed);
}

void on_box_command(int id, int code) {
    switch (code) {
    case EN_CHANGE:
        if (id == find_control::find_box && !bar.suppress_change) {
            run_guarded(bar.callbacks.changed);
        }
        break;
    case EN_SETFOCUS:
    case EN_KILLFOCUS:
        InvalidateRect(bar.window, nullptr, FALSE);
        break;
    case 0:
        request(request_find_forward);
        break;
    default:
        break;
    }
}

void on_button_command(int id, HWND button) {
    switch (id) {
    case find_control::close:
        hide_find_bar();
        break;
    case find_control::match_case:
        flip_option(option_match_case, button);
        break;
    case find_control::whole_word:
        flip_option(option_whole_word, button);
        break;
    case find_control::previous:
        request(request_find_backward);
        break;
    case find_control::next:
        request(request_find_forward);
        break;
    case find_control::replace:
        request(request_replace);
        break;
    case find_control::replace_all:
        request(request_replace_all);
        break;
    default:
        break;
    }
}

void on_command(WPARAM wparam, LPARAM lparam) {
    const int id = LOWORD(wparam);
    const int code = HIWORD(wparam);
    if (id == find_control::find_box || id == find_control::replace_box) {
        on_box_command(id, code);
    } else if (code == BN_CLICKED) {
        on_button_command(id, reinterpret_cast<HWND>(lparam));
    }
}

void forget_window() {
    bar.buffer.release();
    if (bar.edit_brush != nullptr) {
        DeleteObject(bar.edit_brush);
        bar.edit_brush = nullptr;
    }
    bar.window = nullptr;
    bar.find_box = nullptr;
    bar.replace_box = nullptr;
    bar.buttons = {};
}

LRESULT CALLBACK find_bar_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_NCCREATE: {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        bar.window = window;
        break;
    }
    case WM_SIZE:
        layout_children();
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
        paint(window);
        return 0;
    case WM_PRINTCLIENT: {
        RECT client{};
        GetClientRect(window, &client);
        paint_surface(reinterpret_cast<HDC>(wparam), client);
        return 0;
    }
    case WM_CTLCOLOREDIT: {
        HDC dc = reinterpret_cast<HDC>(wparam);
        SetTextColor(dc, colorref_from_colour(colours()[2]));
        SetBkColor(dc, colorref_from_colour(colours()[0]));
        if (bar.edit_brush != nullptr) {
            return reinterpret_cast<LRESULT>(bar.edit_brush);
        }
        break;
    }
    case WM_COMMAND:
        on_command(wparam, lparam);
        return 0;
    case WM_DRAWITEM:
        draw_button(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
        return TRUE;
    case WM_NCDESTROY:
        if (bar.window == window) {
            forget_window();
        }
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

HWND make_box(int id, DWORD visible, const wchar_t* cue) {
    HWND box = CreateWindowExW(
        0, L"EDIT", L"", WS_CHILD | visible | WS_TABSTOP | ES_AUTOHSCROLL, 0, 0, 0, 0, bar.window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    if (box != nullptr) {
        SendMessageW(box, EM_LIMITTEXT, find_text_limit, 0);
        SendMessageW(box, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(0, 0));
        SendMessageW(box, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(cue));
    }
    return box;
}

bool make_children() {
    bar.find_box = make_box(find_control::find_box, WS_VISIBLE, L"Find");
    bar.replace_box = make_box(find_control::replace_box, 0, L"Replace with");
    bool made = bar.find_box != nullptr && bar.replace_box != nullptr;
    for (std::size_t i = 0; i < bar_buttons.size(); ++i) {
        bar.buttons[i] = create_owner_drawn_button(
            bar.window, static_cast<unsigned>(bar_buttons[i].id), bar_buttons[i].name);
        made = made && bar.buttons[i] != nullptr;
    }
    return made;
}

} // namespace

HWND create_find_bar(HWND parent, FindBarCallbacks callbacks) {
    if (bar.window != nullptr && IsWindow(bar.window)) {
        DestroyWindow(bar.window);
    }
    forget_window();
    bar.callbacks = std::move(callbacks);
    bar.replace_mode = false;
    bar.suppress_change = false;
    bar.options = 0;
    bar.status.clear();
    bar.status_rect = {};
    if (!register_child_window_class(find_bar_class, find_bar_proc)) {
        return nullptr;
    }
    HWND window =
        CreateWindowExW(WS_EX_CONTROLPARENT, find_bar_class, bar_title, WS_CHILD | WS_CLIPCHILDREN,
                        0, 0, 0, 0, parent, nullptr, instance, &bar);
    if (window == nullptr) {
        return nullptr;
    }
    if (!make_children()) {
        DestroyWindow(window);
        return nullptr;
    }
    return window;
}

void apply_find_bar_appearance(bool dark, HFONT text_font_handle, HFONT icon_font_handle) {
    if (bar.window == nullptr) {
        return;
    }
    bar.dark = dark;
    bar.text_font = text_font_handle;
    bar.icon_font = icon_font_handle;
    for (HWND box : {bar.find_box, bar.replace_box}) {
        SendMessageW(box, WM_SETFONT, reinterpret_cast<WPARAM>(text_font_handle), TRUE);
    }
    if (bar.edit_brush != nullptr) {
        DeleteObject(bar.edit_brush);
    }
    bar.edit_brush = CreateSolidBrush(colorref_from_colour(colours()[0]));
    layout_children();
    repaint();
}

bool is_find_bar_visible() {
    return bar.window != nullptr && (GetWindowLongPtrW(bar.window, GWL_STYLE) & WS_VISIBLE) != 0;
}

void open_find_bar(bool replace_mode, const std::wstring* seed) {
    if (bar.window == nullptr) {
        return;
    }
    bar.replace_mode = replace_mode;
    if (seed != nullptr) {
        bar.suppress_change = true;
        SetWindowTextW(bar.find_box, seed->c_str());
        bar.suppress_change = false;
    }
    ShowWindow(bar.window, SW_SHOW);
    layout_children();
    repaint();
    SetFocus(bar.find_box);
    SendMessageW(bar.find_box, EM_SETSEL, 0, -1);
}

void hide_find_bar() {
    if (bar.window == nullptr) {
        return;
    }
    ShowWindow(bar.window, SW_HIDE);
    run_guarded(bar.callbacks.closed);
}

bool find_bar_shows_replace() {
    return bar.replace_mode;
}

unsigned long find_bar_options() {
    return bar.options;
}

void set_find_bar_options(unsigned long options) {
    bar.options = options & (option_match_case | option_whole_word);
    name_option_buttons();
    repaint();
}

std::wstring find_bar_find_text() {
    return bar.find_box != nullptr ? window_text(bar.find_box) : std::wstring();
}

std::wstring find_bar_replace_text() {
    return bar.replace_box != nullptr ? window_text(bar.replace_box) : std::wstring();
}

void set_find_status(const std::wstring& text) {
    if (text == bar.status) {
        return;
    }
    bar.status = text;
    if (bar.window == nullptr) {
        return;
    }
    SetWindowTextW(bar.window, (status_prefix + text).c_str());
    InvalidateRect(bar.window, &bar.status_rect, FALSE);
}

const std::wstring& find_status() {
    return bar.status;
}

void release_find_bar_buffer() {
    bar.buffer.release();
}

std::wstring window_text(HWND window) {
    std::array<wchar_t, window_text_buffer> buffer{};
    const int length = GetWindowTextW(window, buffer.data(), static_cast<int>(buffer.size()));
    return std::wstring(buffer.data(), static_cast<std::size_t>(std::max(length, 0)));
}

} // namespace pellix
