#include "app/tab_strip.h"

#include <commctrl.h>

#include <algorithm>

#include "app/child_placement.h"
#include "app/chrome_drawing.h"
#include "app/main_window_state.h"
#include "app/palette.h"
#include "app/ui_fonts.h"
#include "core/palette_table.h"
#include "preview/svg_icons.h"

namespace pellix {

namespace {

constexpr std::uint32_t close_glyph = 806;
constexpr std::uint32_t watch_glyph = 805;
constexpr std::uint32_t compare_glyph = 813;
constexpr wchar_t close_fallback[] = L"\xE8BB";
constexpr wchar_t disk_mark[] = L"!";

// Colours outside the palette, 0x00RRGGBB.
constexpr std::uint32_t dark_plate = 0x3A3A3A;
constexpr std::uint32_t light_plate = 0xD8DCDF;
constexpr std::uint32_t dark_warning = 0xFFBF55;
constexpr std::uint32_t light_warning = 0x9A6000;

// Slots of the main window's own chrome.
constexpr int slot_background = 0;
constexpr int slot_chrome = 1;
constexpr int slot_text = 2;
constexpr int slot_muted = 3;
constexpr int slot_accent = 4;
constexpr int slot_border = 5;
constexpr int slot_hover = 6;

BackBuffer strip_buffer;

int scaled(int value) {
    return scale_metric(value, main_window_dpi());
}

std::uint32_t slot(int index) {
    return chrome_palette()[static_cast<std::size_t>(index)];
}

COLORREF colour(int index) {
    return colorref_from_colour(slot(index));
}

COLORREF warning_colour() {
    if (high_contrast) {
        return colour(slot_accent);
    }
    return colorref_from_colour(dark_theme ? dark_warning : light_warning);
}

COLORREF plate_colour() {
    if (high_contrast) {
        return colour(slot_hover);
    }
    return colorref_from_colour(dark_theme ? dark_plate : light_plate);
}

RECT centred_square(const RECT& box, int size) {
    const int left = (box.left + box.right - size) / 2;
    const int top = (box.top + box.bottom - size) / 2;
    return {left, top, left + size, top + size};
}

void draw_close_glyph(HDC dc, const RECT& box, COLORREF tint) {
    const RECT icon = centred_square(box, scaled(strip_metric::close_icon));
    if (SUCCEEDED(draw_icon(instance, close_glyph, dc, &icon, tint))) {
        return;
    }
    HGDIOBJ previous =
        SelectObject(dc, ui_fonts.icon != nullptr ? static_cast<HGDIOBJ>(ui_fonts.icon)
                                                  : GetStockObject(DEFAULT_GUI_FONT));
    SetTextColor(dc, tint);
    RECT area = box;
    DrawTextW(dc, close_fallback, -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, previous);
}

void draw_plate(HDC dc, const RECT& box) {
    const int corner = scaled(strip_metric::plate_corner);
    SetDCBrushColor(dc, plate_colour());
    SetDCPenColor(dc, plate_colour());
    HGDIOBJ brush = SelectObject(dc, GetStockObject(DC_BRUSH));
    HGDIOBJ pen = SelectObject(dc, GetStockObject(DC_PEN));
    RoundRect(dc, box.left, box.top, box.right, box.bottom, corner, corner);
    SelectObject(dc, pen);
    SelectObject(dc, brush);
}

void draw_dot(HDC dc, const RECT& box, COLORREF tint) {
    const int radius = scaled(strip_metric::dot_radius);
    const int x = (box.left + box.right) / 2;
    const int y = (box.top + box.bottom) / 2;
    SetDCBrushColor(dc, tint);
    SetDCPenColor(dc, tint);
    HGDIOBJ brush = SelectObject(dc, GetStockObject(DC_BRUSH));
    HGDIOBJ pen = SelectObject(dc, GetStockObject(DC_PEN));
    Ellipse(dc, x - radius, y - radius, x + radius + 1, y + radius + 1);
    SelectObject(dc, pen);
    SelectObject(dc, brush);
}

// The Watch or compare glyph of a tab and its tint; false when the tab shows none.
bool state_icon(const DocumentTab& tab, std::uint32_t& glyph, COLORREF& tint) {
    const bool comparing = tab.baseline != nullptr;
    if (tab.watch_state == 2) {
        glyph = comparing ? compare_glyph : watch_glyph;
        tint = warning_colour();
        return true;
    }
    if (tab.watch_state != 0 && !comparing) {
        glyph = watch_glyph;
        tint = colour(slot_accent);
        return true;
    }
    if (!comparing) {
        return false;
    }
    glyph = compare_glyph;
    const bool coarse = !tab.compare_error.empty() || !tab.compare_diff.line_by_line;
    tint = coarse && !high_contrast ? warning_colour() : colour(slot_accent);
    return true;
}

void draw_state_icon(HDC dc, const DocumentTab& tab, const RECT& text) {
    std::uint32_t glyph = 0;
    COLORREF tint = 0;
    if (!state_icon(tab, glyph, tint)) {
        return;
    }
    const int left = text.right + scaled(strip_metric::state_icon_gap);
    const int height = scaled(strip_metric::state_icon_height);
    const int top = (text.top + text.bottom - height) / 2;
    const RECT box{left, top, left + scaled(strip_metric::state_icon_width), top + height};
    // Glyphs are drawn square.
    const RECT icon = centred_square(box, std::min(static_cast<int>(box.right - box.left), height));
    draw_icon(instance, glyph, dc, &icon, tint);
}

void draw_close_box(HDC dc, int index, bool active_item, bool modified, const RECT& box) {
    const StripHover& hover = strip_hover();
    if (index == hover.hot || index == hover.hot_close) {
        draw_close_glyph(dc, box, colour(index == hover.hot_close ? slot_text : slot_muted));
    } else if (modified) {
        draw_dot(dc, box, colour(active_item ? slot_accent : slot_muted));
    } else if (active_item) {
        draw_close_glyph(dc, box, colour(slot_muted));
    }
}

void draw_separator(HDC dc, int index, const RECT& item) {
    const StripHover& hover = strip_hover();
    const auto quiet = [&](int i) {
        return static_cast<std::uint64_t>(i) != active && i != hover.hot;
    };
    if (!quiet(index) || (static_cast<std::size_t>(index + 1) < tabs.size() && !quiet(index + 1))) {
        return;
    }
    const int inset = scaled(strip_metric::separator_inset);
    const RECT line{item.right - 1, item.top + inset, item.right, item.bottom - inset};
    if (line.bottom > line.top) {
        fill_with_palette_colour(dc, line, slot(slot_border));
    }
}

void paint_item(HDC dc, int index, const RECT& item) {
    const DocumentTab& tab = *tabs[static_cast<std::size_t>(index)];
    const StripHover& hover = strip_hover();
    const bool active_item = static_cast<std::uint64_t>(index) == active;
    fill_with_palette_colour(dc, item,
                             slot(active_item          ? slot_background
                                  : index == hover.hot ? slot_hover
                                                       : slot_chrome));
    const RECT box = close_glyph_rect(index);
    if (index == hover.hot_close || (hover.pressed != 0 && hover.pressed == tab.id)) {
        draw_plate(dc, box);
    }
    SetTextColor(dc, colour(active_item ? slot_text : slot_muted));
    RECT text{item.left + scaled(strip_metric::text_inset), item.top,
              box.left - scaled(strip_metric::glyph_gap), item.bottom};
    if (tab.changed_on_disk) {
        RECT mark{text.left, text.top, text.left + scaled(strip_metric::disk_mark_box),
                  text.bottom};
        SetTextColor(dc, warning_colour());
        DrawTextW(dc, disk_mark, -1, &mark, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
        SetTextColor(dc, colour(active_item ? slot_text : slot_muted));
        text.left += scaled(strip_metric::disk_mark_shift);
    }
    if (tab.watch_state != 0 || tab.baseline != nullptr) {
        text.right -= scaled(strip_metric::state_icon_room);
    }
    DrawTextW(dc, tab.shown_name.c_str(), static_cast<int>(tab.shown_name.size()), &text,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    draw_close_box(dc, index, active_item, tab.shown_modified, box);
    draw_separator(dc, index, item);
    draw_state_icon(dc, tab, text);
    if (active_item) {
        const RECT bar{item.left, item.top, item.right,
                       item.top + std::max(2, scaled(strip_metric::accent_bar))};
        fill_with_palette_colour(dc, bar, slot(slot_accent));
    }
}

void draw_focus(HWND control, HDC dc) {
    RECT item{};
    if (GetFocus() != control || tabs.empty() ||
        SendMessageW(control, TCM_GETITEMRECT, active, reinterpret_cast<LPARAM>(&item)) == FALSE) {
        return;
    }
    InflateRect(&item, -scaled(strip_metric::focus_inset_x), -scaled(strip_metric::focus_inset_y));
    SetTextColor(dc, colour(slot_text));
    DrawFocusRect(dc, &item);
}

} // namespace

void paint_tab_strip(HWND tab_control, HDC target, const RECT& update) {
    paint_buffered(tab_control, target, strip_buffer, [&](HDC dc, const RECT& client) {
        fill_with_palette_colour(dc, client, slot(slot_chrome));
        HGDIOBJ previous =
            SelectObject(dc, ui_fonts.message != nullptr ? static_cast<HGDIOBJ>(ui_fonts.message)
                                                         : GetStockObject(DEFAULT_GUI_FONT));
        SetBkMode(dc, TRANSPARENT);
        const int count =
            std::min(TabCtrl_GetItemCount(tab_control), static_cast<int>(tabs.size()));
        for (int i = 0; i < count; ++i) {
            RECT item{};
            RECT overlap{};
            if (TabCtrl_GetItemRect(tab_control, i, &item) &&
                IntersectRect(&overlap, &item, &update)) {
                paint_item(dc, i, item);
            }
        }
        draw_focus(tab_control, dc);
        SelectObject(dc, previous);
    });
}

void release_tab_back_buffer() {
    strip_buffer.release();
}

} // namespace pellix
