#pragma once

// The recovery store on disk; the formats themselves are in recovery_format.h and touch no file.

#include "tracking/recovery_format.h"
#include "tracking/recovery_policy.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pellix {

// Stores `workspace` in `tabs_path` atomically and removes `session_path` (none when it is
// empty); an empty workspace removes both files instead.
void write_tab_recovery(const std::filesystem::path& tabs_path,
                        const std::filesystem::path& session_path, const Workspace& workspace);

// The recovery folder as the recovery store's decisions see it, on the real file system. A read
// that cannot open the file tries again a few times over about a second (a backup or a virus
// scanner may hold it for a moment) and then gives nothing; it blocks meanwhile, so it belongs on
// a file-work task.
class RecoveryFolderDisk final : public RecoveryDisk {
public:
    bool exists(const std::filesystem::path& path) override;
    std::optional<std::string> read(const std::filesystem::path& path,
                                    std::uint64_t limit) override;
    void write(const std::filesystem::path& path, const std::string& bytes) override;
    void move(const std::filesystem::path& from, const std::filesystem::path& to) override;
    void remove(const std::filesystem::path& path) override;
    std::vector<std::filesystem::path> names(const std::filesystem::path& folder) override;
};

} // namespace pellix
