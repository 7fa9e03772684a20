#pragma once

// Process-wide state of the main window that code outside the main window reads or signals.
// It is owned by the main window and touched only on the UI thread; the main window's own
// code extends this header rather than keeping a second copy.

#include <windows.h>

#include <filesystem>
#include <vector>

#include "app/scroll_profile.h"

namespace pellix {

// The main window; null before it exists and after it is destroyed. Users check it with
// IsWindow before use.
extern HWND main_window;

// True while blocking file work runs (see window_work); the main window's operations read it
// to hold back work that must not start meanwhile.
extern bool file_work_busy;

// Paths that could not be opened yet, in arrival order; opened on WM_APP_OPEN_QUEUED.
extern std::vector<std::filesystem::path> pending_paths;

// A WM_CLOSE arrived while file work or start-up was unfinished: whoever ends that work clears
// the flag and posts WM_CLOSE again. Both names denote the one flag.
extern bool close_pending;
inline bool& close_deferred = close_pending;

// The program's private window messages; each carries no parameters. WM_APP + 0x5D is unused;
// the editor and the preview keep WM_APP + 0x51 and WM_APP + 0x5C for themselves.
// Posted to the main window to have it open `pending_paths`.
inline constexpr UINT WM_APP_OPEN_QUEUED = WM_APP + 0x5E;
// Posted once after the window is first shown in an editor run: the start-up tail.
inline constexpr UINT WM_APP_STARTUP_TAIL = WM_APP + 0x5F;
// Relayout and redraw of the chrome after a DPI, display or monitor change.
inline constexpr UINT WM_APP_APPEARANCE_CHANGED = WM_APP + 0x60;
// Posted by the watch and compare workers from their threads.
inline constexpr UINT WM_APP_WATCH_RESULTS = WM_APP + 0x61;
inline constexpr UINT WM_APP_COMPARE_RESULTS = WM_APP + 0x62;

// The module of the program, stored before anything else at start.
extern HINSTANCE instance;

// A valid "--compare" run: its own window class, no single instance, nothing saved.
extern bool compare_mode;

// "--scroll-profile" was given: the one flag of the scroll profile's record.
inline bool& scroll_profile_enabled = scroll_profile.enabled;

// From showing the window until the start-up tail has run (never in compare mode): queued opens
// and a close request wait meanwhile.
extern bool start_up_pending;

// The command line named at least one path.
extern bool command_line_named_files;

// The window has decided to close and is about to be destroyed: WM_COPYDATA is refused.
extern bool closing;

// The main window's children. Null until made; a pane whose unit has not landed stays null
// and is skipped by the layout.
struct MainChrome {
    HWND tab_control = nullptr;
    HWND status_strip = nullptr;
    HWND view_switcher = nullptr;
    HWND editor = nullptr; // the active tab's editor
    HWND preview_host = nullptr;
    HWND preview = nullptr; // the preview window inside the host, once made
    HWND outline_tree = nullptr;
    HWND outline_label = nullptr;
    HWND source_label = nullptr;
    HWND preview_label = nullptr;
    HWND outline_options = nullptr;
    HWND headings_button = nullptr;
    HWND tasks_button = nullptr;
    HWND hide_source = nullptr;
    HWND hide_preview = nullptr;
    HWND new_tab = nullptr;
    HWND find_bar = nullptr;
    HWND find_box = nullptr;
    HWND replace_box = nullptr;
};
extern MainChrome chrome;

// Makes the file-work runner work on this state: it disables `main_window` while work runs,
// keeps `file_work_busy`, and when the outermost run ends posts WM_APP_OPEN_QUEUED for queued
// paths and a deferred WM_CLOSE (clearing `close_pending`) to the window, if it exists.
void install_main_window_file_work_host();

} // namespace pellix
