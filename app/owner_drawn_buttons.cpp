#include "app/owner_drawn_buttons.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <utility>

#include "app/chrome_drawing.h"
#include "app/main_window_state.h"
#include "app/palette.h"
#include "preview/svg_icons.h"

namespace pellix {

namespace {

constexpr int frame_inset = 3;
constexpr int frame_corner = 6;
constexpr int square_slack = 6;
constexpr int glyph_size = 16;
constexpr int focus_inset = 3;

constexpr std::array<std::pair<std::wstring_view, std::uint32_t>, 7> caption_glyphs = {{
    {L"\xE8BB", icon_id::close},
    {L"\xE710", icon_id::add},
    {L"\xE712", icon_id::more},
    {L"\xE70E", icon_id::chevron_up},
    {L"\xE70D", icon_id::chevron_down},
    {L"Aa", icon_id::match_case},
    {L"ab", icon_id::whole_word},
}};

// One buffer for every owner-drawn button: they are painted one at a time on the UI thread.
BackBuffer button_buffer;

LRESULT CALLBACK hot_tracking_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                   UINT_PTR, DWORD_PTR) {
    switch (message) {
    case WM_MOUSEMOVE:
        if (!is_hot(window)) {
            SetPropW(window, hot_property, reinterpret_cast<HANDLE>(1));
            TRACKMOUSEEVENT track{
                .cbSize = sizeof(TRACKMOUSEEVENT),
                .dwFlags = TME_LEAVE,
                .hwndTrack = window,
                .dwHoverTime = 0,
            };
            TrackMouseEvent(&track);
            InvalidateRect(window, nullptr, FALSE);
        }
        break;
    case WM_MOUSELEAVE:
        RemovePropW(window, hot_property);
        InvalidateRect(window, nullptr, FALSE);
        break;
    case WM_SETCURSOR:
        if (LOWORD(lparam) == HTCLIENT && IsWindowEnabled(window)) {
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        }
        break;
    case WM_NCDESTROY:
        RemovePropW(window, hot_property);
        RemoveWindowSubclass(window, hot_tracking_proc, hot_tracking_subclass_id);
        break;
    default:
        break;
    }
    return DefSubclassProc(window, message, wparam, lparam);
}

// The frame of a framed button: inset, and a centred square when the button is about square.
RECT frame_rect(RECT rect, HWND button) {
    const int inset = scale_for_window(button, frame_inset);
    InflateRect(&rect, -inset, -inset);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= height + scale_for_window(button, square_slack)) {
        const int side = std::min(width, height);
        const int left = rect.left + (width - side) / 2;
        const int top = rect.top + (height - side) / 2;
        rect = {left, top, left + side, top + side};
    }
    return rect;
}

void fill_rounded(HDC dc, const RECT& rect, int corner, COLORREF colour) {
    HGDIOBJ old_pen = SelectObject(dc, GetStockObject(NULL_PEN));
    HGDIOBJ old_brush = SelectObject(dc, GetStockObject(DC_BRUSH));
    SetDCBrushColor(dc, colour);
    // A null pen leaves the right and bottom edges one pixel short.
    RoundRect(dc, rect.left, rect.top, rect.right + 1, rect.bottom + 1, corner, corner);
    SelectObject(dc, old_brush);
    SelectObject(dc, old_pen);
}

bool draw_caption_glyph(HDC dc, const RECT& item, HWND button, std::wstring_view caption,
                        COLORREF colour) {
    const std::uint32_t glyph = caption_glyph(caption);
    if (glyph == 0) {
        return false;
    }
    const int size = scale_for_window(button, glyph_size);
    const int left = item.left + (item.right - item.left - size) / 2;
    const int top = item.top + (item.bottom - item.top - size) / 2;
    const RECT square{left, top, left + size, top + size};
    return SUCCEEDED(draw_icon(instance, glyph, dc, &square, colour));
}

void draw_caption_text(HDC dc, RECT rect, HFONT font, std::wstring_view caption, COLORREF colour) {
    HGDIOBJ previous = SelectObject(
        dc, font != nullptr ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colour);
    DrawTextW(dc, caption.data(), static_cast<int>(caption.size()), &rect,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, previous);
}

void draw_button_face(HDC dc, const RECT& rect, const DRAWITEMSTRUCT& item, bool dark, HFONT font,
                      std::wstring_view caption, bool active, bool bottom_rule) {
    const PaletteTable& colours = active_palette(dark);
    fill_with_palette_colour(dc, rect, colours[1]);
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    const bool framed =
        !disabled && (is_hot(item.hwndItem) || (item.itemState & ODS_SELECTED) != 0 || active);
    if (framed) {
        fill_rounded(dc, frame_rect(rect, item.hwndItem),
                     scale_for_window(item.hwndItem, frame_corner),
                     colorref_from_colour(colours[6]));
    }
    const COLORREF caption_colour = colorref_from_colour(colours[framed ? 2 : 3]);
    if (!draw_caption_glyph(dc, rect, item.hwndItem, caption, caption_colour)) {
        draw_caption_text(dc, rect, font, caption, caption_colour);
    }
    if (bottom_rule) {
        fill_with_palette_colour(dc, RECT{rect.left, rect.bottom - 1, rect.right, rect.bottom},
                                 colours[5]);
    }
    if ((item.itemState & ODS_FOCUS) != 0) {
        RECT focus = rect;
        const int inset = scale_for_window(item.hwndItem, focus_inset);
        InflateRect(&focus, -inset, -inset);
        DrawFocusRect(dc, &focus);
    }
}

} // namespace

void install_hot_tracking(HWND button) {
    if (button != nullptr) {
        SetWindowSubclass(button, hot_tracking_proc, hot_tracking_subclass_id, 0);
    }
}

bool is_hot(HWND button) {
    return GetPropW(button, hot_property) != nullptr;
}

HWND create_owner_drawn_button(HWND parent, unsigned id, const wchar_t* caption) {
    HWND button = CreateWindowExW(
        0, L"BUTTON", caption, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW, 0, 0, 0, 0,
        parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), instance, nullptr);
    install_hot_tracking(button);
    return button;
}

std::uint32_t caption_glyph(std::wstring_view caption) {
    for (const auto& [text, glyph] : caption_glyphs) {
        if (caption == text) {
            return glyph;
        }
    }
    return 0;
}

void paint_owner_drawn_button(const DRAWITEMSTRUCT& item, bool dark, HFONT font,
                              const wchar_t* caption, bool active, bool bottom_rule) {
    const std::wstring_view text = caption != nullptr ? caption : L"";
    const RECT& target = item.rcItem;
    const int width = target.right - target.left;
    const int height = target.bottom - target.top;
    HDC dc = button_buffer.ensure(item.hDC, width, height);
    if (dc == item.hDC) {
        draw_button_face(dc, target, item, dark, font, text, active, bottom_rule);
        return;
    }
    draw_button_face(dc, RECT{0, 0, width, height}, item, dark, font, text, active, bottom_rule);
    BitBlt(item.hDC, target.left, target.top, width, height, dc, 0, 0, SRCCOPY);
}

LRESULT owner_drawn_button_background(HDC dc, bool dark) {
    SetDCBrushColor(dc, colorref_from_colour(active_palette(dark)[1]));
    return reinterpret_cast<LRESULT>(GetStockObject(DC_BRUSH));
}

DRAWITEMSTRUCT owner_drawn_button_item(HWND button, HDC dc, const RECT& rect) {
    const LRESULT state = SendMessageW(button, BM_GETSTATE, 0, 0);
    UINT item_state = 0;
    if ((state & BST_PUSHED) != 0) {
        item_state |= ODS_SELECTED;
    }
    if ((state & BST_FOCUS) != 0) {
        item_state |= ODS_FOCUS;
    }
    if (!IsWindowEnabled(button)) {
        item_state |= ODS_DISABLED;
    }
    return {
        .CtlType = ODT_BUTTON,
        .CtlID = static_cast<UINT>(GetDlgCtrlID(button)),
        .itemID = 0,
        .itemAction = ODA_DRAWENTIRE,
        .itemState = item_state,
        .hwndItem = button,
        .hDC = dc,
        .rcItem = rect,
        .itemData = 0,
    };
}

// The system's button draws at once only while it is visible, which the redraw switch turns off.
void change_drawn_later(HWND button, const std::function<void()>& change) {
    if (!IsWindowVisible(button)) {
        change();
        return;
    }
    SendMessageW(button, WM_SETREDRAW, FALSE, 0);
    try {
        change();
    } catch (...) {
        SendMessageW(button, WM_SETREDRAW, TRUE, 0);
        throw;
    }
    SendMessageW(button, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(button, nullptr, FALSE);
}

void release_owner_drawn_buffer() {
    button_buffer.release();
}

} // namespace pellix
