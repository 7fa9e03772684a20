#include "tracking/recovery_files.h"

#include "core/file_io.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace pellix {
namespace {

constexpr wchar_t damaged_marker[] = L".damaged-";

std::wstring damaged_prefix(const std::filesystem::path& file) {
    return file.filename().wstring() + damaged_marker;
}

std::wstring stamp_of(const SYSTEMTIME& when) {
    wchar_t stamp[32] = {};
    std::swprintf(stamp, std::size(stamp), L"%04u%02u%02u-%02u%02u%02u", when.wYear, when.wMonth,
                  when.wDay, when.wHour, when.wMinute, when.wSecond);
    return stamp;
}

// The kept copies of `file`, oldest first: the stamp sorts by time, and a counter only lengthens
// a name.
std::vector<std::filesystem::path> kept_copies(const std::filesystem::path& file) {
    const std::wstring prefix = damaged_prefix(file);
    std::vector<std::filesystem::path> copies;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path(), error)) {
        if (entry.path().filename().wstring().starts_with(prefix)) {
            copies.push_back(entry.path());
        }
    }
    std::sort(copies.begin(), copies.end());
    return copies;
}

} // namespace

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

std::filesystem::path keep_damaged_store(const std::filesystem::path& file,
                                         const SYSTEMTIME& when) {
    const std::filesystem::path base = file.parent_path() / (damaged_prefix(file) + stamp_of(when));
    std::filesystem::path kept = base;
    // Without MOVEFILE_REPLACE_EXISTING the move never lands on an older copy.
    for (int counter = 2; !MoveFileExW(file.c_str(), kept.c_str(), MOVEFILE_WRITE_THROUGH);
         ++counter) {
        const DWORD failure = GetLastError();
        if (failure != ERROR_ALREADY_EXISTS && failure != ERROR_FILE_EXISTS) {
            throw std::system_error(static_cast<int>(failure), std::system_category(),
                                    "Could not keep the damaged recovery file");
        }
        kept = base.wstring() + L"-" + std::to_wstring(counter);
    }
    std::vector<std::filesystem::path> copies = kept_copies(file);
    std::erase(copies, kept);
    for (std::size_t i = 0; i + kept_damaged_copies <= copies.size(); ++i) {
        std::error_code ignored;
        std::filesystem::remove(copies[i], ignored);
    }
    return kept;
}

} // namespace pellix
