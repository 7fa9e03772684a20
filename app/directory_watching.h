#pragma once

// The main window's one directory watcher: started with the window, fed the files of the open
// tabs, and asked for the files it saw named in change notifications.

#include <filesystem>
#include <vector>

namespace pellix {

// Replaces any watcher left from an earlier window (stopping it first) with a fresh one.
void start_directory_watcher();

// Stops the watcher's thread through its port, joins it and frees it; nothing without one.
void stop_directory_watcher();

bool directory_watcher_running();

// Hands the watcher the files of every tab that has one; cheap when they did not change.
void watch_open_files();

// The watched files reported as changed since the last call; empty without a watcher.
std::vector<std::filesystem::path> take_changed_files();

} // namespace pellix
