#pragma once

// The user's preferences: values under one key of the current user's registry hive, loaded once
// before the main window exists and written whole whenever one changes. Nothing is written in
// compare mode.

#include <windows.h>

#include <string>
#include <vector>

#include "editor/source_interface.h"

namespace pellix {

inline constexpr wchar_t settings_key_path[] = L"Software\\Orvelworks\\Pellix Native";

inline constexpr int view_source = 300;
inline constexpr int view_preview = 301;
inline constexpr int view_split = 302;

inline constexpr size_t recent_file_limit = 12;

struct RecentFile {
    std::wstring path;
    int view = view_source;
};

struct Settings {
    int view = view_source;
    bool wrap = true;
    bool outline = false;
    unsigned outline_width = 220;        // a 96-DPI pixel metric
    unsigned theme = 0;                  // 0 follow the system, 1 light, 2 dark
    int font_size = default_font_points; // points
    double split = 0.5;                  // the Source pane's share in Split view
    double split_restore = 0.5;
    bool line_numbers = true;
    bool autocomplete = true;
    unsigned syntax_colouring = 0;  // 0 full, 1 punctuation, 2 off
    std::vector<RecentFile> recent; // newest first
    WINDOWPLACEMENT placement{};
    bool placement_valid = false;
};

// The settings of this process; UI thread only.
extern Settings settings;

// The key every settings read and write goes to: `settings_key_path` unless a test points the
// process elsewhere.
extern std::wstring settings_key;

// The values under `key`, each checked and clamped; a missing or unreadable value takes its
// default.
Settings load_settings(const std::wstring& key);

// Writes every value of `values` under `key` (creating it), and deletes recent entries past the
// list's end. Failures are ignored.
void save_settings(const std::wstring& key, const Settings& values);

// Loads `settings` and then the system theme (save false), or writes them outside compare mode
// (save true).
void persist_settings(bool save);

// A DWORD of the settings key, or `fallback` when it cannot be read.
DWORD read_setting_dword(const wchar_t* name, DWORD fallback);
void write_setting_dword(const wchar_t* name, DWORD value);

// The window placement as "Placement" (outside compare mode).
void save_window_placement(HWND window);

} // namespace pellix
