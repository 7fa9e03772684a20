#include "tracking/recovery_files.h"

#include "core/file_io.h"

namespace pellix {

void write_tab_recovery(const std::filesystem::path& tabs_path,
                        const std::filesystem::path& session_path, const Workspace& workspace) {
    if (workspace.sessions.empty()) {
        std::filesystem::remove(tabs_path);
        std::filesystem::remove(session_path);
        return;
    }
    if (tabs_path.has_parent_path()) {
        std::filesystem::create_directories(tabs_path.parent_path());
    }
    write_file_atomically(tabs_path, encode_tab_recovery(workspace), recovery_container_limit);
    std::filesystem::remove(session_path);
}

} // namespace pellix
