#include "app/view_switcher.h"

#include <commctrl.h>

#include <algorithm>
#include <stdexcept>
#include <string_view>

#include "app/child_window_class.h"
#include "app/main_window_state.h"
#include "app/owner_drawn_buttons.h"
#include "app/palette.h"
#include "preview/svg_icons.h"

namespace pellix {

static_assert(6 * switcher_group_margin + 2 * switcher_group_gap == layout_metric::switcher_margin);

namespace {

constexpr wchar_t switcher_class[] = L"Pellix.ViewSwitcher";
constexpr UINT_PTR switcher_button_subclass_id = 3;
constexpr int tooltip_width = 400;
constexpr int button_height = 28;
constexpr int group_corner = 8;
constexpr int frame_inset = 2;
constexpr int frame_corner = 6;
constexpr int glyph_size = 16;
constexpr int glyph_indent = 10;
constexpr int label_gap = 6;
constexpr int label_right_margin = 10;
constexpr int focus_inset = 3;
constexpr size_t view_buttons = 3;
constexpr size_t outline_button = 3;
constexpr size_t watch_button = 4;

constexpr COLORREF warning_dark = RGB(0xFF, 0xBE, 0x55);
constexpr COLORREF warning_light = RGB(0x9A, 0x60, 0x00);
constexpr COLORREF warning_fill_dark = RGB(0x49, 0x37, 0x14);
constexpr COLORREF warning_fill_light = RGB(0xFF, 0xF3, 0xCB);
constexpr COLORREF disabled_dark = RGB(0x55, 0x55, 0x55);
constexpr COLORREF disabled_light = RGB(0xB4, 0xB4, 0xB4);

struct SwitcherButton {
    const wchar_t* text;
    const wchar_t* label;
    std::uint32_t glyph;
    const wchar_t* tooltip;
    DWORD style;
};

constexpr DWORD visible_child = WS_CHILD | WS_VISIBLE;
constexpr std::array<SwitcherButton, switcher_buttons> switcher_button_table = {{
    {L"Source view", L"Source", icon_id::source_view, L"Source view (Ctrl+1)",
     visible_child | WS_GROUP | WS_TABSTOP | BS_PUSHLIKE | BS_RADIOBUTTON},
    {L"Split view", L"Split", icon_id::split_view, L"Split view (Ctrl+3)",
     visible_child | BS_PUSHLIKE | BS_RADIOBUTTON},
    {L"Preview view", L"Preview", icon_id::preview_view, L"Preview view (Ctrl+2)",
     visible_child | BS_PUSHLIKE | BS_RADIOBUTTON},
    {L"Outline", L"Outline", icon_id::outline, L"Show or hide Outline (Ctrl+Shift+O)",
     visible_child | WS_GROUP | WS_TABSTOP | BS_PUSHLIKE | BS_CHECKBOX},
    {L"Watch file", L"Watch", icon_id::watch, L"Watch file (Ctrl+Shift+W)",
     visible_child | WS_GROUP | WS_TABSTOP | BS_PUSHLIKE | BS_CHECKBOX},
}};

constexpr wchar_t preview_unavailable[] = L"Preview unavailable for this file type";
constexpr wchar_t outline_unavailable[] = L"Outline unavailable for plain text";
constexpr wchar_t watch_unavailable[] = L"Save this file first, or finish the current operation";
constexpr wchar_t stop_watching[] = L"Stop watching (Ctrl+Shift+W)";
constexpr wchar_t watch_text_paused[] = L"Watch file, paused";
constexpr wchar_t paused_label[] = L"Paused";

ViewSwitcher* switcher_of(HWND window) {
    return reinterpret_cast<ViewSwitcher*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

int index_of(const ViewSwitcher& s, HWND button) {
    const auto found = std::find(s.buttons.begin(), s.buttons.end(), button);
    return found == s.buttons.end() ? -1 : static_cast<int>(found - s.buttons.begin());
}

void run_command(const ViewSwitcher& s, size_t index) {
    if (s.command) {
        s.command(switcher_commands[index]);
    }
}

struct SwitcherGeometry {
    int top = 0;
    int height = 0;
    std::array<int, switcher_buttons> lefts{};
    std::array<RECT, 3> groups{};
};

SwitcherGeometry geometry(const ViewSwitcher& s) {
    RECT client{};
    GetClientRect(s.window, &client);
    SwitcherGeometry g;
    g.height = std::min(scale_for_window(s.window, button_height), static_cast<int>(client.bottom));
    const int slack = client.bottom - g.height;
    g.top = slack < 2 ? 0 : slack / 2;
    int x = s.margin;
    for (size_t i = 0; i < switcher_buttons; ++i) {
        g.lefts[i] = x;
        x += s.widths[i];
        if (i + 1 >= view_buttons && i + 1 < switcher_buttons) {
            x += s.gap + 2 * s.margin;
        }
    }
    const int frame_top = g.top - 1;
    const int frame_bottom = g.top + g.height + 1;
    const int first_right = g.lefts[outline_button] - s.gap - s.margin;
    const int second_right = g.lefts[watch_button] - s.gap - s.margin;
    g.groups[0] = {0, frame_top, first_right, frame_bottom};
    g.groups[1] = {first_right + s.gap, frame_top, second_right, frame_bottom};
    g.groups[2] = {second_right + s.gap, frame_top, static_cast<int>(client.right), frame_bottom};
    return g;
}

void place_buttons(const ViewSwitcher& s) {
    if (s.buttons[0] == nullptr) {
        return;
    }
    const SwitcherGeometry g = geometry(s);
    for (size_t i = 0; i < switcher_buttons; ++i) {
        if (s.buttons[i] != nullptr) {
            SetWindowPos(s.buttons[i], nullptr, g.lefts[i], g.top, s.widths[i], g.height,
                         SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    RedrawWindow(s.window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void paint_groups(const ViewSwitcher& s, HDC dc, const RECT& client) {
    fill_with_palette_colour(dc, client, s.colours[1]);
    HGDIOBJ old_pen = SelectObject(dc, GetStockObject(DC_PEN));
    HGDIOBJ old_brush = SelectObject(dc, GetStockObject(DC_BRUSH));
    SetDCPenColor(dc, colorref_from_colour(s.colours[5]));
    SetDCBrushColor(dc, colorref_from_colour(s.colours[1]));
    const int corner = scale_for_window(s.window, group_corner);
    for (const RECT& group : geometry(s).groups) {
        RoundRect(dc, group.left, group.top, group.right, group.bottom, corner, corner);
    }
    SelectObject(dc, old_brush);
    SelectObject(dc, old_pen);
}

struct ButtonState {
    bool enabled = false;
    bool checked = false;
    bool framed = false;
    bool paused = false;
};

ButtonState button_state(const ViewSwitcher& s, size_t index) {
    HWND button = s.buttons[index];
    ButtonState state;
    state.enabled = IsWindowEnabled(button) != FALSE;
    state.checked = SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
    const bool pushed = (SendMessageW(button, BM_GETSTATE, 0, 0) & BST_PUSHED) != 0;
    state.framed = is_hot(button) || pushed || state.checked;
    state.paused = index == watch_button && s.watch_state == switcher_watch::paused;
    return state;
}

COLORREF slot(const ViewSwitcher& s, int index) {
    return colorref_from_colour(s.colours[static_cast<size_t>(index)]);
}

void draw_frame(const ViewSwitcher& s, HDC dc, RECT rect, const ButtonState& state, HWND button) {
    COLORREF pen = slot(s, 6);
    COLORREF brush = slot(s, 6);
    if (s.high_contrast) {
        pen = state.checked ? slot(s, 8) : slot(s, 5);
        brush = state.checked ? slot(s, 8) : slot(s, 6);
    } else if (state.paused) {
        pen = s.dark ? warning_dark : warning_light;
        brush = s.dark ? warning_fill_dark : warning_fill_light;
    } else if (state.checked) {
        pen = slot(s, 10);
        brush = slot(s, 9);
    }
    const int inset = scale_for_window(button, frame_inset);
    InflateRect(&rect, -inset, -inset);
    HGDIOBJ old_pen = SelectObject(dc, GetStockObject(DC_PEN));
    HGDIOBJ old_brush = SelectObject(dc, GetStockObject(DC_BRUSH));
    SetDCPenColor(dc, pen);
    SetDCBrushColor(dc, brush);
    const int corner = scale_for_window(button, frame_corner);
    RoundRect(dc, rect.left, rect.top, rect.right, rect.bottom, corner, corner);
    SelectObject(dc, old_brush);
    SelectObject(dc, old_pen);
}

COLORREF glyph_colour(const ViewSwitcher& s, const ButtonState& state) {
    if (s.high_contrast) {
        if (!state.enabled) {
            return GetSysColor(COLOR_GRAYTEXT);
        }
        return GetSysColor(state.framed && state.checked ? COLOR_HIGHLIGHTTEXT : COLOR_BTNTEXT);
    }
    if (state.paused) {
        return s.dark ? warning_dark : warning_light;
    }
    if (!state.enabled) {
        return s.dark ? disabled_dark : disabled_light;
    }
    if (state.framed) {
        return slot(s, state.checked ? 4 : 2);
    }
    return slot(s, 3);
}

COLORREF label_colour(const ViewSwitcher& s, const ButtonState& state) {
    if (s.high_contrast) {
        return glyph_colour(s, state);
    }
    if (!state.enabled) {
        return s.dark ? disabled_dark : disabled_light;
    }
    return slot(s, state.framed ? 2 : 3);
}

// The figure drawn when a glyph cannot be rendered, on a 16-unit grid.
void draw_fallback_figure(HDC dc, size_t index, const RECT& box, COLORREF colour) {
    const int size = box.right - box.left;
    auto at = [&](int x, int y) {
        return POINT{box.left + x * size / 16, box.top + y * size / 16};
    };
    auto line = [&](std::initializer_list<POINT> points) {
        Polyline(dc, points.begin(), static_cast<int>(points.size()));
    };
    HPEN pen = CreatePen(PS_SOLID, 1, colour);
    HGDIOBJ old_pen = SelectObject(dc, pen);
    HGDIOBJ old_brush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    switch (index) {
    case 0:
        line({at(6, 3), at(2, 8), at(6, 13)});
        line({at(10, 3), at(14, 8), at(10, 13)});
        break;
    case 1: {
        const POINT a = at(1, 3), b = at(15, 13);
        Rectangle(dc, a.x, a.y, b.x, b.y);
        line({at(8, 3), at(8, 13)});
        break;
    }
    case 2: {
        const POINT a = at(1, 4), b = at(15, 12), c = at(6, 6), d = at(10, 10);
        Ellipse(dc, a.x, a.y, b.x, b.y);
        Ellipse(dc, c.x, c.y, d.x, d.y);
        break;
    }
    case 3:
        for (int y : {4, 8, 12}) {
            line({at(1, y), at(3, y)});
            line({at(5, y), at(15, y)});
        }
        break;
    default: {
        const POINT a = at(3, 1), b = at(13, 15);
        Rectangle(dc, a.x, a.y, b.x, b.y);
        line({at(3, 9), at(6, 9), at(7, 6), at(9, 12), at(10, 9), at(13, 9)});
        break;
    }
    }
    SelectObject(dc, old_brush);
    SelectObject(dc, old_pen);
    DeleteObject(pen);
}

bool focus_shown(HWND button) {
    return GetFocus() == button &&
           (SendMessageW(button, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS) == 0;
}

void paint_switcher_button(const ViewSwitcher& s, size_t index, HDC dc, const RECT& rect) {
    HWND button = s.buttons[index];
    const ButtonState state = button_state(s, index);
    fill_with_palette_colour(dc, rect, s.colours[1]);
    if (state.framed) {
        draw_frame(s, dc, rect, state, button);
    }
    const int size = scale_for_window(button, glyph_size);
    const int left = s.labels ? rect.left + scale_for_window(button, glyph_indent)
                              : rect.left + (rect.right - rect.left - size) / 2;
    const int top = rect.top + (rect.bottom - rect.top - size) / 2;
    const RECT glyph{left, top, left + size, top + size};
    const COLORREF colour = glyph_colour(s, state);
    if (FAILED(draw_icon(instance, switcher_button_table[index].glyph, dc, &glyph, colour))) {
        draw_fallback_figure(dc, index, glyph, colour);
    }
    if (s.labels) {
        RECT text{glyph.right + scale_for_window(button, label_gap), rect.top,
                  rect.right - scale_for_window(button, label_right_margin), rect.bottom};
        const std::wstring_view label =
            state.paused ? paused_label : switcher_button_table[index].label;
        HFONT font =
            s.font != nullptr ? s.font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
        HGDIOBJ previous = SelectObject(dc, font);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, label_colour(s, state));
        DrawTextW(dc, label.data(), static_cast<int>(label.size()), &text,
                  DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc, previous);
    }
    if (focus_shown(button)) {
        RECT focus = rect;
        const int inset = scale_for_window(button, focus_inset);
        InflateRect(&focus, -inset, -inset);
        DrawFocusRect(dc, &focus);
    }
}

void select_and_run(ViewSwitcher& s, size_t index) {
    SetFocus(s.buttons[index]);
    run_command(s, index);
}

void step_view(ViewSwitcher& s, size_t from, bool forward) {
    for (size_t step = 1; step <= view_buttons; ++step) {
        const size_t next = forward ? (from + step) % view_buttons
                                    : (from + view_buttons * step - step) % view_buttons;
        if (IsWindowEnabled(s.buttons[next])) {
            select_and_run(s, next);
            return;
        }
    }
}

bool is_activation_key(WPARAM key) {
    return key == VK_RETURN || key == VK_SPACE;
}

// The key's answer, or false when the button's own handling goes on.
bool handle_key(ViewSwitcher& s, size_t index, WPARAM key) {
    if (is_activation_key(key)) {
        if (IsWindowEnabled(s.buttons[index])) {
            run_command(s, index);
        }
        return true;
    }
    if (index >= view_buttons) {
        return false;
    }
    switch (key) {
    case VK_LEFT:
    case VK_RIGHT:
        step_view(s, index, key == VK_RIGHT);
        return true;
    case VK_HOME:
        select_and_run(s, 0);
        return true;
    case VK_END:
        select_and_run(s, IsWindowEnabled(s.buttons[2]) ? 2 : 0);
        return true;
    default:
        return false;
    }
}

bool wants_key(WPARAM key) {
    return is_activation_key(key) || key == VK_END || key == VK_HOME || key == VK_LEFT ||
           key == VK_RIGHT;
}

// Messages after which the system's button draws its own face at once; ours is put back.
bool repaints_itself(UINT message) {
    switch (message) {
    case BM_SETSTATE:
    case BM_SETCHECK:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_ENABLE:
    case WM_SETTEXT:
    case WM_UPDATEUISTATE:
        return true;
    default:
        return false;
    }
}

LRESULT CALLBACK switcher_button_proc(HWND button, UINT message, WPARAM wparam, LPARAM lparam,
                                      UINT_PTR, DWORD_PTR data) {
    auto& s = *reinterpret_cast<ViewSwitcher*>(data);
    const int index = index_of(s, button);
    if (index < 0) {
        if (message == WM_NCDESTROY) {
            RemoveWindowSubclass(button, switcher_button_proc, switcher_button_subclass_id);
        }
        return DefSubclassProc(button, message, wparam, lparam);
    }
    const auto i = static_cast<size_t>(index);
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint{};
        HDC dc = BeginPaint(button, &paint);
        if (dc != nullptr) {
            paint_buffered(button, dc, s.buffers[i], [&](HDC target, const RECT& client) {
                paint_switcher_button(s, i, target, client);
            });
        }
        EndPaint(button, &paint);
        return 0;
    }
    case WM_PRINTCLIENT: {
        RECT client{};
        GetClientRect(button, &client);
        paint_switcher_button(s, i, reinterpret_cast<HDC>(wparam), client);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_GETDLGCODE: {
        LRESULT code = DefSubclassProc(button, message, wparam, lparam);
        if (wants_key(wparam)) {
            code |= DLGC_WANTARROWS | DLGC_WANTALLKEYS;
        }
        return code;
    }
    case WM_KEYDOWN:
        if (handle_key(s, i, wparam)) {
            return 0;
        }
        break;
    case WM_KEYUP:
    case WM_CHAR:
        if (is_activation_key(wparam)) {
            return 0;
        }
        break;
    case WM_NCDESTROY:
        s.buffers[i].release();
        s.buttons[i] = nullptr;
        RemoveWindowSubclass(button, switcher_button_proc, switcher_button_subclass_id);
        return DefSubclassProc(button, message, wparam, lparam);
    default:
        if (repaints_itself(message)) {
            const LRESULT result = DefSubclassProc(button, message, wparam, lparam);
            if (IsWindowVisible(button)) {
                RedrawWindow(button, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
            }
            return result;
        }
        break;
    }
    return DefSubclassProc(button, message, wparam, lparam);
}

LRESULT CALLBACK switcher_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* s =
            static_cast<ViewSwitcher*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(s));
        s->window = window;
        return DefWindowProcW(window, message, wparam, lparam);
    }
    ViewSwitcher* s = switcher_of(window);
    if (s == nullptr) {
        return DefWindowProcW(window, message, wparam, lparam);
    }
    switch (message) {
    case WM_NCDESTROY:
        s->window = nullptr;
        s->tooltip = nullptr;
        s->buttons = {};
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        break;
    case WM_ERASEBKGND:
        return 1;
    case WM_SIZE:
        place_buttons(*s);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint{};
        HDC dc = BeginPaint(window, &paint);
        if (dc != nullptr) {
            RECT client{};
            GetClientRect(window, &client);
            paint_groups(*s, dc, client);
        }
        EndPaint(window, &paint);
        return 0;
    }
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(s->font);
    case WM_COMMAND: {
        const int index = index_of(*s, reinterpret_cast<HWND>(lparam));
        if (HIWORD(wparam) == BN_CLICKED && index >= 0 &&
            IsWindowEnabled(s->buttons[static_cast<size_t>(index)])) {
            run_command(*s, static_cast<size_t>(index));
        }
        return 0;
    }
    default:
        break;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

TTTOOLINFOW tool_for(const ViewSwitcher& s, size_t index, const wchar_t* text) {
    return TTTOOLINFOW{
        .cbSize = TTTOOLINFOW_V2_SIZE,
        .uFlags = TTF_IDISHWND | TTF_SUBCLASS,
        .hwnd = s.window,
        .uId = reinterpret_cast<UINT_PTR>(s.buttons[index]),
        .rect = {},
        .hinst = nullptr,
        .lpszText = const_cast<wchar_t*>(text),
        .lParam = 0,
        .lpReserved = nullptr,
    };
}

void set_tooltip(ViewSwitcher& s, size_t index, const std::wstring& text) {
    if (s.tooltips[index] == text) {
        return;
    }
    s.tooltips[index] = text;
    if (s.tooltip != nullptr) {
        TTTOOLINFOW tool = tool_for(s, index, s.tooltips[index].c_str());
        SendMessageW(s.tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

void make_buttons(ViewSwitcher& s) {
    for (size_t i = 0; i < switcher_buttons; ++i) {
        const SwitcherButton& button = switcher_button_table[i];
        s.buttons[i] =
            CreateWindowExW(0, L"BUTTON", button.text, button.style, 0, 0, 0, 0, s.window,
                            reinterpret_cast<HMENU>(static_cast<UINT_PTR>(switcher_commands[i])),
                            instance, nullptr);
        if (s.buttons[i] == nullptr) {
            throw std::runtime_error("Could not create view switcher");
        }
        install_hot_tracking(s.buttons[i]);
        SetWindowSubclass(s.buttons[i], switcher_button_proc, switcher_button_subclass_id,
                          reinterpret_cast<DWORD_PTR>(&s));
        s.tooltips[i] = button.tooltip;
        if (s.tooltip != nullptr) {
            TTTOOLINFOW tool = tool_for(s, i, button.tooltip);
            SendMessageW(s.tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        }
    }
}

// The switcher shows the view of the tab entered with the rest of the window, not before the page.
void set_enabled(HWND button, bool enabled) {
    if ((IsWindowEnabled(button) != FALSE) != enabled) {
        change_drawn_later(button, [&] { EnableWindow(button, enabled); });
    }
}

void set_checked(HWND button, bool checked) {
    const WPARAM wanted = checked ? BST_CHECKED : BST_UNCHECKED;
    if (static_cast<WPARAM>(SendMessageW(button, BM_GETCHECK, 0, 0)) != wanted) {
        change_drawn_later(button, [&] { SendMessageW(button, BM_SETCHECK, wanted, 0); });
    }
}

void set_tab_stop(HWND button, bool tab_stop) {
    const LONG_PTR style = GetWindowLongPtrW(button, GWL_STYLE);
    const LONG_PTR wanted = tab_stop ? (style | WS_TABSTOP) : (style & ~LONG_PTR{WS_TABSTOP});
    if (wanted != style) {
        SetWindowLongPtrW(button, GWL_STYLE, wanted);
    }
}

std::wstring watch_tooltip(unsigned watch_state, bool available, const std::wstring& reason) {
    if (!available) {
        return watch_unavailable;
    }
    switch (watch_state) {
    case switcher_watch::off:
        return switcher_button_table[watch_button].tooltip;
    case switcher_watch::paused:
        return L"Watch paused: " + reason + L". F5 to retry; Ctrl+Shift+W to stop";
    default:
        return stop_watching;
    }
}

std::wstring tooltip_for(size_t index, bool markdown, unsigned watch_state, bool watch_available,
                         const std::wstring& pause_reason) {
    if (index == watch_button) {
        return watch_tooltip(watch_state, watch_available, pause_reason);
    }
    if (markdown || index == 0) {
        return switcher_button_table[index].tooltip;
    }
    return index == outline_button ? outline_unavailable : preview_unavailable;
}

} // namespace

HWND create_view_switcher(HWND parent, ViewSwitcher& s) {
    register_child_window_class(switcher_class, switcher_proc);
    HWND window = CreateWindowExW(WS_EX_CONTROLPARENT, switcher_class, L"Document view",
                                  WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0,
                                  0, 0, parent, nullptr, instance, &s);
    if (window == nullptr) {
        throw std::runtime_error("Could not create view switcher");
    }
    s.tooltip =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                        WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, window, nullptr, instance, nullptr);
    make_buttons(s);
    if (s.tooltip != nullptr) {
        SendMessageW(s.tooltip, TTM_SETMAXTIPWIDTH, 0, tooltip_width);
    }
    update_switcher(s, 300, false, true, switcher_watch::off, false, {});
    return window;
}

void set_switcher_sizes(ViewSwitcher& s, const std::array<int, switcher_buttons>& widths, int gap,
                        int margin, bool labels) {
    if (s.widths == widths && s.gap == gap && s.margin == margin && s.labels == labels) {
        return;
    }
    s.widths = widths;
    s.gap = gap;
    s.margin = margin;
    s.labels = labels;
    if (s.window != nullptr) {
        place_buttons(s);
    }
}

void update_switcher(ViewSwitcher& s, int view, bool outline_visible, bool markdown,
                     unsigned watch_state, bool watch_available, const std::wstring& pause_reason) {
    // Disabling the focused window takes the focus away, so where it was is read first.
    HWND focus = GetFocus();
    const bool focus_inside = focus != nullptr && s.window != nullptr &&
                              (focus == s.window || GetParent(focus) == s.window);
    const unsigned previous_watch = s.watch_state;
    s.watch_state = watch_state;
    s.selected = view == 302 ? 1 : view == 301 ? 2 : 0;
    for (size_t i = 0; i < switcher_buttons; ++i) {
        HWND button = s.buttons[i];
        if (button == nullptr) {
            continue;
        }
        const bool enabled = i == 0 ? true : i == watch_button ? watch_available : markdown;
        set_enabled(button, enabled);
        const bool checked = i < view_buttons      ? static_cast<int>(i) == s.selected
                             : i == outline_button ? outline_visible
                                                   : watch_state != switcher_watch::off;
        set_checked(button, checked);
        set_tab_stop(button, i >= view_buttons || static_cast<int>(i) == s.selected);
        if (i == watch_button && watch_state != previous_watch) {
            SetWindowTextW(button, watch_state == switcher_watch::paused
                                       ? watch_text_paused
                                       : switcher_button_table[watch_button].text);
        }
        set_tooltip(s, i, tooltip_for(i, markdown, watch_state, watch_available, pause_reason));
    }
    if (focus_inside && !IsWindowEnabled(focus)) {
        SetFocus(s.buttons[static_cast<size_t>(s.selected)]);
    }
}

void set_switcher_theme(ViewSwitcher& s, bool dark, HFONT font) {
    const PaletteTable& table = active_palette(dark);
    auto same_slots = [&] {
        for (size_t i = 0; i < table.size(); ++i) {
            if (i != 7 && s.colours[i] != table[i]) {
                return false;
            }
        }
        return true;
    };
    if (s.themed && s.dark == dark && s.font == font && s.high_contrast == high_contrast &&
        same_slots()) {
        return;
    }
    s.themed = true;
    s.dark = dark;
    s.font = font;
    s.high_contrast = high_contrast;
    s.colours = table;
    clear_icon_cache();
    for (HWND button : s.buttons) {
        if (button != nullptr) {
            SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        }
    }
    if (s.window != nullptr) {
        RedrawWindow(s.window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
    }
}

} // namespace pellix
