#pragma once

// Process-wide state of the main window that code outside the main window reads or signals.
// It is owned by the main window and touched only on the UI thread; the main window's own
// code extends this header rather than keeping a second copy.

#include <windows.h>

#include <filesystem>
#include <vector>

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

// Posted to the main window (wParam 0, lParam 0) to have it open `pending_paths`.
inline constexpr UINT WM_APP_OPEN_QUEUED = WM_APP + 0x5E;

// Makes the file-work runner work on this state: it disables `main_window` while work runs,
// keeps `file_work_busy`, and when the outermost run ends posts WM_APP_OPEN_QUEUED for queued
// paths and a deferred WM_CLOSE (clearing `close_pending`) to the window, if it exists.
void install_main_window_file_work_host();

} // namespace pellix
