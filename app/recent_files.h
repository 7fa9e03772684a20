#pragma once

// The recent files in the File menu: the newest six of `settings.recent` with their numbers.
// The joining points (`remember_recent_file`, `rebuild_recent_menu`, `open_recent_file`,
// `clear_recent_files`) are declared in app/hosted_units.h.

#include <cstddef>
#include <string>
#include <vector>

#include "app/settings.h"

namespace pellix {

inline constexpr std::size_t recent_menu_entries = 6;
inline constexpr unsigned first_recent_command = 600;
inline constexpr unsigned clear_recent_command = 650;

// A path shortened to at most `recent_label_length` characters for the menu.
inline constexpr std::size_t recent_label_length = 59;
std::wstring compact_recent_path(const std::wstring& path);

// The menu item's text: "&", the number, a space and the compacted path with its ampersands
// doubled, so that only the number is the mnemonic.
std::wstring recent_menu_label(std::size_t index, const std::wstring& path);

// Records files opened together, as each would be recorded when shown in turn: the last one
// becomes the newest. One settings write for them all.
void remember_recent_files(const std::vector<RecentFile>& oldest_first);

} // namespace pellix
