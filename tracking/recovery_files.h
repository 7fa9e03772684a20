#pragma once

// The recovery store on disk; the formats themselves are in recovery_format.h and touch no file.

#include "tracking/recovery_format.h"

#include <filesystem>

namespace pellix {

// Stores `workspace` in `tabs_path` atomically and removes `session_path`; an empty workspace
// removes both files instead.
void write_tab_recovery(const std::filesystem::path& tabs_path,
                        const std::filesystem::path& session_path, const Workspace& workspace);

} // namespace pellix
