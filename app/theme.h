#pragma once

// The theme of the main window: which palette is in effect, dark or light menus and title bar,
// the window icons at the window's DPI and the editor's font.

#include <windows.h>

#include <cstdint>
#include <optional>

namespace pellix {

inline constexpr int application_icon_id = 101;
inline constexpr int document_icon_id = 103;

// Perceived brightness below one half (299 R + 587 G + 114 B < 128000) of a 0x00RRGGBB colour.
bool is_dark_colour(std::uint32_t colour);

// The dark flag outside high contrast for the "Theme" setting; `apps_use_light` is the
// system's "AppsUseLightTheme" value, when it could be read.
bool theme_is_dark(unsigned theme, std::optional<std::uint32_t> apps_use_light);

// The menus' preferred mode (0 system default, 2 force dark, 3 force light) and whether the
// window's menus are dark.
struct MenuTheme {
    bool dark = false;
    int mode = 0;
    bool operator==(const MenuTheme&) const = default;
};
MenuTheme choose_menu_theme(bool theme_active, bool recent_build, bool app_themed, bool dark_menus,
                            bool dark, bool high_contrast);

// Recomputes `high_contrast`, `dark_theme`, the high-contrast palette and the accent.
void refresh_system_theme();

// Applies the theme to the menus, the title bar and the controls; cheap when nothing changed.
void apply_appearance();

// True while the window's menus are drawn dark by the program.
bool dark_menus_active();

// The preview's zoom for an editor font size: size / 12, within 0.5..4.0.
double preview_zoom_for(int font_size);

// The editor font of `points` at `dpi`, made once per pair and kept until shut-down; null when
// it cannot be made.
HFONT editor_font(int points, unsigned dpi);

// Applies "FontSize" at the window's DPI to the editor and the preview, then lays out.
void apply_editor_font();

// Loads the window icons for the window's DPI; keeps the old pair when loading fails.
void update_window_icons();

// Shut-down: the window icons and every cached editor font.
void release_theme_resources();

} // namespace pellix
