#pragma once

// The recovery store on disk; the formats themselves are in recovery_format.h and touch no file.

#include "tracking/recovery_format.h"

#include <windows.h>

#include <cstddef>
#include <filesystem>

namespace pellix {

// How many moved-aside copies of each store file and kind are kept; the oldest go first.
inline constexpr std::size_t kept_store_copies = 3;

// Stores `workspace` in `tabs_path` atomically and removes `session_path` (none when it is
// empty); an empty workspace removes both files instead.
void write_tab_recovery(const std::filesystem::path& tabs_path,
                        const std::filesystem::path& session_path, const Workspace& workspace);

// Why a store file is moved out of the store's way: its bytes fail the format's checks, or it is
// intact but the next store would replace it without everything it holds.
enum class KeptCopy { damaged, intact };

// Moves a store file out of the store's way, beside it, as "<name>.damaged-YYYYMMDD-HHMMSS" (or
// ".kept-" for an intact one) of `when`, a UTC time so that the stamps never run backwards when
// the time zone or summer time changes (with "-2", "-3", ... when that name is taken), and then
// removes the oldest copies of that name and kind beyond `kept_store_copies`, never the one just
// made. Returns the copy's path. Throws std::system_error when the file cannot be moved.
std::filesystem::path keep_store_copy(const std::filesystem::path& file, KeptCopy kind,
                                      const SYSTEMTIME& when);

} // namespace pellix
