#include "tracking/recovery_files.h"

#include "core/file_io.h"
#include "platform/unique_handle.h"

#include <windows.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

namespace pellix {
namespace {

// Another program may hold a store file for a moment; how often and how far apart it is tried.
constexpr int store_read_attempts = 5;
constexpr std::chrono::milliseconds store_read_pause{200};

} // namespace

void write_tab_recovery(const std::filesystem::path& tabs_path,
                        const std::filesystem::path& session_path, const Workspace& workspace) {
    if (workspace.sessions.empty()) {
        std::filesystem::remove(tabs_path);
    } else {
        if (tabs_path.has_parent_path()) {
            std::filesystem::create_directories(tabs_path.parent_path());
        }
        write_file_atomically(tabs_path, encode_tab_recovery(workspace), recovery_container_limit);
    }
    if (!session_path.empty()) {
        std::filesystem::remove(session_path);
    }
}

bool RecoveryFolderDisk::exists(const std::filesystem::path& path) {
    // Asked of the system itself: the library's answer is "no" when access is denied.
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        return false;
    }
    throw std::system_error(static_cast<int>(error), std::system_category(),
                            "Could not look for the recovery file");
}

std::optional<std::string> RecoveryFolderDisk::read(const std::filesystem::path& path,
                                                    std::uint64_t limit) {
    for (int attempt = 1;; ++attempt) {
        FileRead read = read_whole_file(path, limit);
        if (read.end == FileReadEnd::read) {
            return std::move(read.bytes);
        }
        if (read.end == FileReadEnd::over_limit) {
            return std::string();
        }
        if (attempt == store_read_attempts) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(store_read_pause);
    }
}

void RecoveryFolderDisk::write(const std::filesystem::path& path, const std::string& bytes) {
    if (path.has_parent_path()) {
        std::filesystem::create_directories(path.parent_path());
    }
    // A file another program holds without sharing cannot be replaced: found out before the
    // whole store is written to a temporary file for nothing.
    UniqueHandle probe(CreateFileW(path.c_str(), DELETE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    if (!probe.valid() && GetLastError() == ERROR_SHARING_VIOLATION) {
        throw std::runtime_error("The recovery file is in use.");
    }
    probe.reset();
    try {
        write_file_atomically(path, bytes, recovery_store_file_limit);
    } catch (const std::exception&) {
        // A file that holds the new bytes is a store that landed, whatever the write reported
        // (a failed replace over a file that already held them). Otherwise the old file is as
        // it was, or gone with the new bytes left in a temporary file that the next start reads.
        const FileRead landed = read_whole_file(path, recovery_store_file_limit);
        if (landed.end == FileReadEnd::read && landed.bytes == bytes) {
            return;
        }
        throw;
    }
}

void RecoveryFolderDisk::move(const std::filesystem::path& from, const std::filesystem::path& to) {
    // Without MOVEFILE_REPLACE_EXISTING the move never lands on another file.
    if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "Could not keep the recovery file");
    }
}

void RecoveryFolderDisk::remove(const std::filesystem::path& path) {
    std::filesystem::remove(path);
}

std::vector<std::filesystem::path> RecoveryFolderDisk::names(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> names;
    std::error_code error;
    std::filesystem::directory_iterator entry(folder, error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        names.push_back(entry->path().filename());
    }
    if (error && error != std::errc::no_such_file_or_directory) {
        // A name missed could be taken again by a new copy, over the old one.
        throw std::system_error(error, "Could not list the recovery folder");
    }
    return names;
}

} // namespace pellix
