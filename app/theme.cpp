#include "app/theme.h"

#include <dwmapi.h>
#include <uxtheme.h>

#include <algorithm>
#include <vector>

#include "app/hosted_units.h"
#include "app/main_layout.h"
#include "app/main_window_state.h"
#include "app/palette.h"
#include "app/settings.h"

namespace pellix {

namespace {

constexpr wchar_t personalize_key[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
constexpr DWORD dark_mode_first_build = 18362;
constexpr DWORD immersive_dark_mode = 20;
constexpr DWORD immersive_dark_mode_before_20h1 = 19;
constexpr double base_font_points = 12.0;

// Undocumented uxtheme entry points, exported by ordinal only.
using SetPreferredAppMode = int(WINAPI*)(int mode);
using AllowDarkModeForWindow = BOOL(WINAPI*)(HWND window, BOOL allow);
using FlushMenuThemes = void(WINAPI*)();
using RtlGetVersionCall = LONG(WINAPI*)(OSVERSIONINFOW*);

struct DarkMenuEntryPoints {
    bool looked_up = false;
    bool recent_build = false;
    SetPreferredAppMode set_mode = nullptr;
    AllowDarkModeForWindow allow_window = nullptr;
    FlushMenuThemes flush = nullptr;
};
DarkMenuEntryPoints entry_points;

MenuTheme applied_menus;

struct PushedAppearance {
    bool pushed = false;
    PaletteTable table{};
    bool dark = false;
    bool high_contrast = false;
};
PushedAppearance pushed;

struct CachedFont {
    int points;
    unsigned dpi;
    HFONT font;
};
std::vector<CachedFont> font_cache;

struct WindowIcons {
    HICON big = nullptr;
    HICON small = nullptr;
};
WindowIcons icons;

void look_up_dark_menu_entry_points() {
    if (entry_points.looked_up) {
        return;
    }
    entry_points.looked_up = true;
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto get_version = ntdll != nullptr
                           ? reinterpret_cast<RtlGetVersionCall>(
                                 reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
                           : nullptr;
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (get_version == nullptr || get_version(&version) != 0) {
        return;
    }
    entry_points.recent_build =
        version.dwMajorVersion == 10 && version.dwBuildNumber >= dark_mode_first_build;
    if (!entry_points.recent_build) {
        return;
    }
    HMODULE uxtheme = LoadLibraryExW(L"uxtheme.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (uxtheme == nullptr) {
        return;
    }
    auto by_ordinal = [&](WORD ordinal) {
        return reinterpret_cast<void*>(GetProcAddress(uxtheme, MAKEINTRESOURCEA(ordinal)));
    };
    entry_points.set_mode = reinterpret_cast<SetPreferredAppMode>(by_ordinal(135));
    entry_points.allow_window = reinterpret_cast<AllowDarkModeForWindow>(by_ordinal(133));
    entry_points.flush = reinterpret_cast<FlushMenuThemes>(by_ordinal(136));
}

void apply_menu_theme() {
    if (entry_points.set_mode == nullptr || entry_points.flush == nullptr) {
        return;
    }
    const bool dark_menus = read_setting_dword(L"DarkMenus", 1) != 0;
    const MenuTheme wanted =
        choose_menu_theme(IsThemeActive() != FALSE, entry_points.recent_build,
                          IsAppThemed() != FALSE, dark_menus, dark_theme, high_contrast);
    if (wanted == applied_menus) {
        return;
    }
    applied_menus = wanted;
    entry_points.set_mode(wanted.mode);
    if (entry_points.allow_window != nullptr) {
        entry_points.allow_window(main_window, wanted.dark);
    }
    entry_points.flush();
    DrawMenuBar(main_window);
    RedrawWindow(main_window, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME);
}

// Slots 0..8 are the ones the pushed controls use.
constexpr size_t pushed_slots = 9;

bool appearance_unchanged() {
    const PaletteTable& table = chrome_palette();
    return pushed.pushed &&
           std::equal(table.begin(), table.begin() + pushed_slots, pushed.table.begin()) &&
           pushed.dark == dark_theme && pushed.high_contrast == high_contrast;
}

void colour_outline_tree() {
    if (chrome.outline_tree == nullptr) {
        return;
    }
    const PaletteTable& table = chrome_palette();
    SendMessageW(chrome.outline_tree, TVM_SETBKCOLOR, 0, colorref_from_colour(table[1]));
    SendMessageW(chrome.outline_tree, TVM_SETTEXTCOLOR, 0, colorref_from_colour(table[2]));
    SendMessageW(chrome.outline_tree, TVM_SETLINECOLOR, 0, colorref_from_colour(table[3]));
}

void theme_title_bar_and_controls() {
    const BOOL dark = dark_theme && !high_contrast;
    if (FAILED(DwmSetWindowAttribute(main_window, immersive_dark_mode, &dark, sizeof(dark)))) {
        DwmSetWindowAttribute(main_window, immersive_dark_mode_before_20h1, &dark, sizeof(dark));
    }
    const wchar_t* theme = dark ? L"DarkMode_Explorer" : L"Explorer";
    for (HWND window : {chrome.editor, chrome.outline_tree}) {
        if (window != nullptr) {
            SetWindowTheme(window, theme, nullptr);
        }
    }
    if (chrome.tab_control != nullptr) {
        if (auto tooltip =
                reinterpret_cast<HWND>(SendMessageW(chrome.tab_control, TCM_GETTOOLTIPS, 0, 0))) {
            SetWindowTheme(tooltip, theme, nullptr);
        }
    }
    SetWindowPos(main_window, nullptr, 0, 0, 0, 0,
                 SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

unsigned window_dpi() {
    const UINT dpi = main_window != nullptr ? GetDpiForWindow(main_window) : 0;
    return dpi != 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

} // namespace

bool is_dark_colour(std::uint32_t colour) {
    const std::uint32_t red = (colour >> 16) & 0xFF;
    const std::uint32_t green = (colour >> 8) & 0xFF;
    const std::uint32_t blue = colour & 0xFF;
    return 299 * red + 587 * green + 114 * blue < 128000;
}

bool theme_is_dark(unsigned theme, std::optional<std::uint32_t> apps_use_light) {
    if (theme == 1) {
        return false;
    }
    if (theme == 2) {
        return true;
    }
    return apps_use_light.value_or(1) == 0;
}

MenuTheme choose_menu_theme(bool theme_active, bool recent_build, bool app_themed, bool dark_menus,
                            bool dark, bool high_contrast) {
    if (!theme_active || !recent_build || !app_themed || !dark_menus) {
        return {};
    }
    const bool dark_menu = dark && !high_contrast;
    return {.dark = dark_menu, .mode = high_contrast ? 0 : (dark_menu ? 2 : 3)};
}

void refresh_system_theme() {
    refresh_system_palette();
    if (high_contrast) {
        dark_theme = is_dark_colour(palette.high_contrast[palette_slot::background]);
        return;
    }
    std::optional<std::uint32_t> apps_use_light;
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, personalize_key, L"AppsUseLightTheme", RRF_RT_REG_DWORD,
                     nullptr, &value, &size) == ERROR_SUCCESS) {
        apps_use_light = value;
    }
    dark_theme = theme_is_dark(settings.theme, apps_use_light);
}

void apply_appearance() {
    refresh_system_theme();
    look_up_dark_menu_entry_points();
    apply_menu_theme();
    restyle_chrome_units();
    style_active_editor();
    if (appearance_unchanged()) {
        return;
    }
    pushed = {true, chrome_palette(), dark_theme, high_contrast};
    colour_outline_tree();
    RedrawWindow(main_window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    theme_title_bar_and_controls();
}

bool dark_menus_active() {
    return applied_menus.dark;
}

double preview_zoom_for(int font_size) {
    return std::clamp(font_size / base_font_points, 0.5, 4.0);
}

HFONT editor_font(int points, unsigned dpi) {
    for (const CachedFont& cached : font_cache) {
        if (cached.points == points && cached.dpi == dpi && cached.font != nullptr) {
            return cached.font;
        }
    }
    HFONT font = CreateFontW(-MulDiv(points, static_cast<int>(dpi), 72), 0, 0, 0, FW_NORMAL, FALSE,
                             FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             CLEARTYPE_QUALITY, FIXED_PITCH | FF_MODERN, L"Consolas");
    if (font != nullptr) {
        font_cache.push_back({points, dpi, font});
    }
    return font;
}

void apply_editor_font() {
    HFONT font = editor_font(settings.font_size, window_dpi());
    if (font == nullptr) {
        return;
    }
    if (chrome.editor != nullptr && GetWindowTextLengthW(chrome.editor) == 0) {
        SendMessageW(chrome.editor, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    style_active_editor();
    zoom_preview(preview_zoom_for(settings.font_size));
    layout_window();
}

void update_window_icons() {
    const unsigned dpi = window_dpi();
    auto load = [&](int width_metric, int height_metric) {
        return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(application_icon_id),
                                             IMAGE_ICON, GetSystemMetricsForDpi(width_metric, dpi),
                                             GetSystemMetricsForDpi(height_metric, dpi), 0));
    };
    HICON big = load(SM_CXICON, SM_CYICON);
    HICON small = load(SM_CXSMICON, SM_CYSMICON);
    if (big == nullptr || small == nullptr) {
        for (HICON loaded : {big, small}) {
            if (loaded != nullptr) {
                DestroyIcon(loaded);
            }
        }
        return;
    }
    SendMessageW(main_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    SendMessageW(main_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    for (HICON old : {icons.big, icons.small}) {
        if (old != nullptr) {
            DestroyIcon(old);
        }
    }
    icons = {big, small};
}

void release_theme_resources() {
    for (HICON old : {icons.big, icons.small}) {
        if (old != nullptr) {
            DestroyIcon(old);
        }
    }
    icons = {};
    for (const CachedFont& cached : font_cache) {
        DeleteObject(cached.font);
    }
    font_cache.clear();
}

} // namespace pellix
