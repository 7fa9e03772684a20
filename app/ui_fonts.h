#pragma once

// The chrome's three GDI fonts at the main window's DPI: the system's message font, a semibold
// variant for pane titles, and the icon font for glyph buttons.

#include <windows.h>

namespace pellix {

struct UiFonts {
    HFONT message = nullptr;
    HFONT semibold = nullptr;
    HFONT icon = nullptr;
};

// Owned here; replaced by update_ui_fonts and deleted by release_ui_fonts.
extern UiFonts ui_fonts;

inline constexpr int icon_font_points = 10;
inline constexpr LONG semibold_weight = 600;
// Added (scaled) to the message font's height for an outline row.
inline constexpr int tree_row_padding = 10;

// The icon font's LOGFONT height at `dpi` (negative: a character height).
int icon_font_height(unsigned dpi);

// Re-creates the fonts for the window's DPI and hands them to every chrome window. When the
// system metrics or the message font cannot be had, the old fonts stay.
void update_ui_fonts();

// Shut-down: deletes the three fonts.
void release_ui_fonts();

} // namespace pellix
