#include "app/main_paint.h"

#include <string_view>

#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_layout.h"
#include "app/main_window_create.h"
#include "app/main_window_state.h"
#include "app/owner_drawn_buttons.h"
#include "app/palette.h"
#include "app/settings.h"
#include "app/splitters.h"
#include "app/status_strip.h"
#include "app/theme.h"
#include "app/ui_fonts.h"
#include "platform/uah_menu.h"

namespace pellix {

namespace {

constexpr int header_text_indent = 12;
constexpr int header_note_gap = 8;
constexpr int badge_corner = 6;
constexpr int menu_text_limit = 256;
constexpr wchar_t options_glyph[] = L"\xE712";
constexpr wchar_t hide_glyph[] = L"\xE8BB";

COLORREF slot(int index) {
    return colorref_from_colour(chrome_palette()[index]);
}

void fill(HDC dc, const RECT& rect, int index) {
    SetDCBrushColor(dc, slot(index));
    FillRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

void paint_lines(HWND window) {
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(window, &paint);
    if (dc == nullptr) {
        return;
    }
    const MainLayout& layout = current_layout;
    RECT client{};
    GetClientRect(window, &client);
    fill(dc, RECT{0, 0, client.right, layout.tabs.bottom}, 1);
    fill(dc, layout.separator, 5);
    const SplitterPart hot = hot_splitter();
    if (layout.view == view_split && settings.split > 0.0 && settings.split < 1.0) {
        const RECT& divider = layout.split_divider;
        fill(dc, divider, 0);
        const int centre = (divider.left + divider.right) / 2;
        fill(dc, RECT{centre, divider.top, centre + 1, divider.bottom},
             hot == SplitterPart::split_divider ? 4 : 5);
    }
    if (layout.show_outline) {
        const RECT& edge = layout.outline_splitter;
        fill(dc, RECT{edge.left, edge.top, edge.left + 1, edge.bottom},
             hot == SplitterPart::outline_splitter ? 4 : 5);
    }
    EndPaint(window, &paint);
}

void draw_text(HDC dc, std::wstring_view text, RECT rect, UINT format) {
    DrawTextW(dc, text.data(), static_cast<int>(text.size()), &rect, format);
}

int text_width(HDC dc, std::wstring_view text) {
    SIZE size{};
    GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &size);
    return static_cast<int>(size.cx);
}

bool badge_wanted() {
    return !tabs.empty() && current_tab().watch_state != 0;
}

// Whether the Source header on screen carries the badge; another tab may need the other state.
bool badge_on_screen = false;

// The "Read-only" badge of a watched tab's Source header, from `left`.
void draw_badge(HDC dc, const RECT& header, int left, unsigned dpi) {
    constexpr std::wstring_view badge = L"Read-only";
    const int corner = scale_metric(badge_corner, dpi);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    const int height = metrics.tmHeight + corner;
    const int top = header.top + (header.bottom - header.top - height) / 2;
    const RECT frame{left, top, left + text_width(dc, badge) + 2 * corner, top + height};
    HGDIOBJ old_pen = SelectObject(dc, GetStockObject(DC_PEN));
    HGDIOBJ old_brush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    SetDCPenColor(dc, slot(5));
    RoundRect(dc, frame.left, frame.top, frame.right, frame.bottom, corner, corner);
    SelectObject(dc, old_brush);
    SelectObject(dc, old_pen);
    draw_text(dc, badge, frame, DT_CENTER | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
}

// After the title, in the message font: the Source header's badge of a watched tab, or the
// Preview header's reading time when it fits.
void draw_header_note(HDC dc, const RECT& rect, int left, unsigned id, unsigned dpi) {
    HGDIOBJ previous = ui_fonts.message != nullptr ? SelectObject(dc, ui_fonts.message) : nullptr;
    SetTextColor(dc, slot(3));
    if (id == child_id::source_label) {
        badge_on_screen = badge_wanted();
        if (badge_on_screen) {
            draw_badge(dc, rect, left, dpi);
        }
    } else if (id == child_id::preview_label) {
        const std::wstring& note = preview_header_note();
        if (!note.empty() && left + text_width(dc, note) <= rect.right) {
            draw_text(dc, note, RECT{left, rect.top, rect.right, rect.bottom},
                      DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
        }
    }
    if (previous != nullptr) {
        SelectObject(dc, previous);
    }
}

void draw_header(const DRAWITEMSTRUCT& item, std::wstring_view title) {
    HDC dc = item.hDC;
    const RECT& rect = item.rcItem;
    fill(dc, rect, 1);
    const unsigned dpi = main_window_dpi();
    HFONT font = ui_fonts.semibold != nullptr ? ui_fonts.semibold : ui_fonts.message;
    HGDIOBJ previous = font != nullptr ? SelectObject(dc, font) : nullptr;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, slot(2));
    RECT text = rect;
    text.left += scale_metric(header_text_indent, dpi);
    draw_text(dc, title, text, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
    const int note_left = text.left + text_width(dc, title) + scale_metric(header_note_gap, dpi);
    if (previous != nullptr) {
        SelectObject(dc, previous);
    }
    draw_header_note(dc, rect, note_left, item.CtlID, dpi);
    fill(dc, RECT{rect.left, rect.bottom - 1, rect.right, rect.bottom}, 5);
}

bool draw_item(const DRAWITEMSTRUCT& item) {
    switch (item.CtlID) {
    case child_id::source_label:
        draw_header(item, L"Source");
        return true;
    case child_id::preview_label:
        draw_header(item, L"Preview");
        return true;
    case child_id::outline_label:
        draw_header(item, L"Outline");
        return true;
    case child_id::headings:
        paint_owner_drawn_button(item, dark_theme, ui_fonts.message, L"Headings",
                                 !outline_shows_tasks(), true);
        return true;
    case child_id::tasks:
        paint_owner_drawn_button(item, dark_theme, ui_fonts.message, L"Tasks",
                                 outline_shows_tasks(), true);
        return true;
    case child_id::outline_options:
        paint_owner_drawn_button(item, dark_theme, ui_fonts.icon, options_glyph, false, true);
        return true;
    case child_id::hide_source:
    case child_id::hide_preview:
        paint_owner_drawn_button(item, dark_theme, ui_fonts.icon, hide_glyph, false, true);
        return true;
    default:
        return false;
    }
}

bool draw_menu_bar(HWND window, const UahMenu& menu) {
    if (menu.menu != GetMenu(window) || menu.dc == nullptr) {
        return false;
    }
    MENUBARINFO bar{};
    bar.cbSize = sizeof(bar);
    if (!GetMenuBarInfo(window, OBJID_MENU, 0, &bar)) {
        return false;
    }
    RECT window_rect{};
    GetWindowRect(window, &window_rect);
    RECT rect = bar.rcBar;
    OffsetRect(&rect, -window_rect.left, -window_rect.top);
    rect.top -= 1;
    const int saved = SaveDC(menu.dc);
    fill(menu.dc, rect, 1);
    RestoreDC(menu.dc, saved);
    return true;
}

bool draw_menu_item(HWND window, const UahDrawMenuItem& draw) {
    if (draw.menu.menu != GetMenu(window) || draw.menu.dc == nullptr) {
        return false;
    }
    wchar_t text[menu_text_limit] = {};
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_STRING;
    info.dwTypeData = text;
    info.cch = menu_text_limit - 1;
    GetMenuItemInfoW(draw.menu.menu, static_cast<UINT>(draw.menu_item.position), TRUE, &info);
    const UINT state = draw.item.itemState;
    HDC dc = draw.item.hDC;
    fill(dc, draw.item.rcItem, (state & (ODS_HOTLIGHT | ODS_SELECTED)) != 0 ? 6 : 1);
    HFONT font = ui_fonts.message != nullptr ? ui_fonts.message
                                             : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    HGDIOBJ previous = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    const bool muted = (state & (ODS_GRAYED | ODS_DISABLED | ODS_INACTIVE)) != 0;
    SetTextColor(dc, slot(muted ? 3 : 2));
    UINT format = DT_CENTER | DT_SINGLELINE | DT_VCENTER;
    if ((state & ODS_NOACCEL) != 0) {
        format |= DT_HIDEPREFIX;
    }
    draw_text(dc, text, draw.item.rcItem, format);
    SelectObject(dc, previous);
    return true;
}

void paint_line_under_menu(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
    RECT window_rect{};
    GetWindowRect(window, &window_rect);
    OffsetRect(&client, -window_rect.left, -window_rect.top);
    HDC dc = GetWindowDC(window);
    if (dc != nullptr) {
        fill(dc, RECT{client.left, client.top - 1, client.right, client.top}, 1);
        ReleaseDC(window, dc);
    }
}

LRESULT control_colours(HDC dc) {
    SetTextColor(dc, slot(2));
    SetBkColor(dc, slot(1));
    SetDCBrushColor(dc, slot(1));
    return reinterpret_cast<LRESULT>(GetStockObject(DC_BRUSH));
}

} // namespace

void refresh_source_badge() {
    if (badge_wanted() != badge_on_screen && chrome.source_label != nullptr) {
        InvalidateRect(chrome.source_label, nullptr, FALSE);
    }
}

std::optional<LRESULT> paint_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_ERASEBKGND: {
        RECT client{};
        GetClientRect(window, &client);
        const RECT kept = window == main_window ? place_kept_through_switch() : RECT{};
        ExcludeClipRect(reinterpret_cast<HDC>(wparam), kept.left, kept.top, kept.right,
                        kept.bottom);
        fill(reinterpret_cast<HDC>(wparam), client, 1);
        return 1;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORLISTBOX:
        return control_colours(reinterpret_cast<HDC>(wparam));
    case WM_CTLCOLORBTN:
        return owner_drawn_button_background(reinterpret_cast<HDC>(wparam), dark_theme);
    case WM_PAINT:
        paint_lines(window);
        return 0;
    case WM_DRAWITEM:
        if (draw_item(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam))) {
            return TRUE;
        }
        return std::nullopt;
    case WM_UAHDRAWMENU:
        if (dark_menus_active() && lparam != 0 &&
            draw_menu_bar(window, *reinterpret_cast<const UahMenu*>(lparam))) {
            return TRUE;
        }
        return std::nullopt;
    case WM_UAHDRAWMENUITEM:
        if (dark_menus_active() && lparam != 0 &&
            draw_menu_item(window, *reinterpret_cast<const UahDrawMenuItem*>(lparam))) {
            return TRUE;
        }
        return std::nullopt;
    case WM_NCPAINT:
    case WM_NCACTIVATE: {
        const LRESULT result = DefWindowProcW(window, message, wparam, lparam);
        if (dark_menus_active()) {
            paint_line_under_menu(window);
        }
        return result;
    }
    default:
        return std::nullopt;
    }
}

} // namespace pellix
