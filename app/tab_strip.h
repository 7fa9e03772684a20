#pragma once

// The row of tabs: a tab control whose items this unit keeps in step with the tab list
// (`refresh_tab_strip`, declared in app/hosted_units.h), paints itself and drives with the
// mouse: close glyphs, middle click, double click on the empty strip and the tab menu.

#include <windows.h>

#include <cstdint>
#include <string>

namespace pellix {

// Metrics at 96 DPI, scaled by the main window's DPI.
namespace strip_metric {
inline constexpr int label_width = 260;
inline constexpr int text_inset = 12;
inline constexpr int glyph_gap = 8;
inline constexpr int close_box = 20;
inline constexpr int close_margin = 5;
inline constexpr int close_icon = 16;
inline constexpr int plate_corner = 6;
inline constexpr int dot_radius = 3;
inline constexpr int disk_mark_box = 12;
inline constexpr int disk_mark_shift = 14;
inline constexpr int state_icon_width = 14;
inline constexpr int state_icon_height = 12;
inline constexpr int state_icon_gap = 2;
inline constexpr int state_icon_room = 18;
inline constexpr int separator_inset = 9;
inline constexpr int accent_bar = 2;
inline constexpr int focus_inset_x = 1;
inline constexpr int focus_inset_y = 4;
inline constexpr int new_tab_size = 28;
inline constexpr int new_tab_gap = 4;
} // namespace strip_metric

// The tab menu's commands that act on the clicked tab rather than the active one.
inline constexpr unsigned toggle_watch_command = 114;
inline constexpr unsigned clear_watch_command = 115;
inline constexpr unsigned compare_with_tab_command = 335;

// Installs the strip's subclass on the tab control.
void install_tab_strip(HWND tab_control);

// Makes the next refresh measure and rewrite every item (the strip's font changed).
void forget_tab_labels();

// Places the new-tab button after the last tab, or hides it when there is no room or the
// control shows its scroll arrows.
void place_new_tab_button();

// `text` padded with thin spaces until it measures at least `pixels` wider in the strip's font.
std::wstring pad_label(std::wstring text, int pixels);

// `name` cut with an ellipsis to the largest label width in the strip's font.
std::wstring fit_label(const std::wstring& name);

// The close glyph's box of item `index` (empty outside the list), and the item whose close
// glyph holds a client point (-1 for none).
RECT close_glyph_rect(int index);
int close_glyph_hit(POINT point);

// The tab menu of tab `index`, as it pops up (the caller destroys it).
HMENU build_tab_menu(std::uint64_t index);

// What the strip is drawing now: the hot item, the item whose close glyph is hot, and the
// identifier of the tab whose close glyph is pressed (-1, -1, 0 for none).
struct StripHover {
    int hot = -1;
    int hot_close = -1;
    std::uint64_t pressed = 0;
};
const StripHover& strip_hover();

// The strip's painting, in app/tab_strip_paint.cpp.
// Paints the items that meet `update` into `target` through the strip's back buffer.
void paint_tab_strip(HWND tab_control, HDC target, const RECT& update);
void release_tab_back_buffer();

} // namespace pellix
