#pragma once

// The recovery store on disk; the formats themselves are in recovery_format.h and touch no file.

#include "tracking/recovery_format.h"

#include <windows.h>

#include <cstddef>
#include <filesystem>

namespace pellix {

// How many moved-aside copies of each store file are kept; the oldest go first.
inline constexpr std::size_t kept_damaged_copies = 3;

// Stores `workspace` in `tabs_path` atomically and removes `session_path`; an empty workspace
// removes both files instead.
void write_tab_recovery(const std::filesystem::path& tabs_path,
                        const std::filesystem::path& session_path, const Workspace& workspace);

// Moves a store file that could not be read whole out of the store's way, beside it, as
// "<name>.damaged-YYYYMMDD-HHMMSS" of `when` (with "-2", "-3", ... when that name is taken), and
// then removes the oldest such copies beyond `kept_damaged_copies`, never the one just made.
// Returns the copy's path. Throws std::system_error when the file cannot be moved.
std::filesystem::path keep_damaged_store(const std::filesystem::path& file, const SYSTEMTIME& when);

} // namespace pellix
