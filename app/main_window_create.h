#pragma once

// Registering the main window's class and building its children when it is created.

#include <windows.h>

namespace pellix {

// Control ids of the children the main window makes itself.
namespace child_id {
inline constexpr int editor = 10;
inline constexpr int outline_tree = 11;
inline constexpr int tab_control = 12;
inline constexpr int new_tab = 100;
inline constexpr int outline_options = 318;
inline constexpr int hide_source = 319;
inline constexpr int hide_preview = 320;
inline constexpr int headings = 326;
inline constexpr int tasks = 327;
inline constexpr int source_label = 350;
inline constexpr int preview_label = 351;
inline constexpr int outline_label = 352;
} // namespace child_id

// The class of this run ("Pellix.Native.Editor", or "Pellix.Native.Compare" in compare mode).
const wchar_t* main_window_class();

// Registers the class with `window_proc`; false on failure.
bool register_main_window_class();

// The main window at 1200 by 800 pixels scaled from 96 DPI to the system DPI; null on failure.
HWND create_main_window();

// WM_CREATE: every child, the fonts, the theme. Throws std::runtime_error when a child is missing.
void build_main_window(HWND window);

} // namespace pellix
