#pragma once

// Where the windows and work of other units join the main window. Each function is the one
// place a unit plugs in; until it lands the function does the least that keeps the main window
// whole (a pane stays empty, a request is dropped).

#include <windows.h>

#include <exception>
#include <filesystem>

namespace pellix {

struct MainLayout;

// The editor of a new tab, a child of `main` with control id 10; null while there is no editor.
HWND create_tab_editor(HWND main);

// Gives the active editor the font size, the dark flag and the line-number setting.
void style_active_editor();

// Makes the status strip, the view switcher and the find bar (and stores them in `chrome`).
void create_chrome_units(HWND main);

// Builds and attaches the menu bar.
void attach_menu_bar(HWND main);

// A command from a menu, an accelerator or a control.
void run_command(unsigned id);

// A notification the active editor sent with WM_COMMAND (EN_CHANGE and the like).
void editor_notification(unsigned code);

// The preview's zoom (1.0 for 12-point text); a failed relayout is shown in the preview.
void zoom_preview(double zoom);

// Shows or hides the preview window like its host and fits it into the host.
void fit_preview(bool shown);

// Destroys the preview window and its drawing objects.
void destroy_preview_window();

// Selects a view (300 Source, 301 Preview, 302 Split) and lays the window out.
void select_view(int view);

// A running Replace All, which Esc cancels.
bool replace_all_running();
void cancel_replace_all();

// The find bar's keys: hiding it, a find or replace request with find flags, and its option bits.
void hide_find_bar();
void request_find(unsigned long flags);
unsigned long find_bar_options();

// After the message loop: the recovery writer stops after writing what it still holds; the
// scroll profile is written when asked for; the glyph renderer lets go of its objects.
void stop_recovery_writer();
void write_scroll_profile();
void release_glyph_renderer();

// Opens one file in a tab (or selects the tab that has it); reports its own errors.
void open_path(const std::filesystem::path& path);

// Compare mode: loads the baseline and opens the compared file against it.
void open_compare(const std::filesystem::path& baseline, const std::filesystem::path& compared);

// The active tab's file; empty for an untitled tab.
std::filesystem::path active_tab_path();

// Whether the find bar shows its replace row.
bool find_bar_shows_replace();

// Empties the cache of drawn glyph bitmaps (after a DPI, theme or icon-size change).
void clear_glyph_cache();

// Resolves every modified tab; false keeps the window open.
bool may_close_window();

// The final recovery snapshot at close.
void store_final_session();

// The start-up tail's recovery restore and first-run welcome document.
void restore_and_welcome();

// Restyles the chrome units (view switcher, status strip, find bar) with the theme and fonts.
void restyle_chrome_units();

// Gives the view switcher the layout's button sizes and what the layout shows.
void update_view_switcher(const MainLayout& layout);

// Drops the chrome's cached back buffers so that they are rebuilt at the new size.
void release_chrome_buffers();

// Before the main window exists: the preview records its input and paint timings into the
// scroll profile when it was asked for.
void attach_scroll_profile();

} // namespace pellix
