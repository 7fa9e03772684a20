#include "tracking/directory_watcher.h"

#include "core/file_paths.h"
#include "platform/unique_handle.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <list>
#include <mutex>
#include <set>
#include <thread>

namespace pellix {
namespace {

// Completion keys of the control packets; a folder read completes with its entry's address.
constexpr ULONG_PTR sync_key = 1;
constexpr ULONG_PTR stop_key = 2;
constexpr ULONG_PTR rearm_key = 3;

constexpr DWORD notify_buffer_bytes = 32768;
constexpr DWORD notify_filter =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;
// NextEntryOffset, Action and FileNameLength precede each record's name.
constexpr std::size_t notify_header_bytes = 12;

struct WatchEntry {
    UniqueHandle handle;
    OVERLAPPED overlapped{};
    // The system writes FILE_NOTIFY_INFORMATION records here, which must be DWORD-aligned.
    alignas(DWORD) std::byte buffer[notify_buffer_bytes];
    std::filesystem::path folder;
    bool read_pending = false;
    // Never re-armed; freed once no read is pending, because the system may still write into
    // `overlapped` and `buffer` until the aborted read completes.
    bool cancelled = false;
};

bool same_path_text(const std::filesystem::path& a, const std::filesystem::path& b) {
    const std::wstring& left = a.native();
    const std::wstring& right = b.native();
    return CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                                static_cast<int>(right.size()), TRUE) == CSTR_EQUAL;
}

void arm_read(WatchEntry& entry) {
    entry.overlapped = OVERLAPPED{};
    const BOOL armed =
        ReadDirectoryChangesW(entry.handle.get(), entry.buffer, notify_buffer_bytes, FALSE,
                              notify_filter, nullptr, &entry.overlapped, nullptr);
    entry.read_pending = armed || GetLastError() == ERROR_IO_PENDING;
}

void cancel_entry(WatchEntry& entry) {
    entry.cancelled = true;
    if (entry.read_pending) {
        CancelIoEx(entry.handle.get(), &entry.overlapped);
    }
}

} // namespace

struct DirectoryWatcher::Impl {
    UniqueHandle port;
    std::thread thread;
    std::mutex mutex;
    std::set<std::filesystem::path> watched_files;
    std::set<std::filesystem::path> changed_files;
    std::list<std::unique_ptr<WatchEntry>> entries;
    bool stopping = false;

    Impl() : port(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1)) {
        if (port) {
            thread = std::thread([this] { run(); });
        }
    }

    ~Impl() {
        if (thread.joinable()) {
            post(stop_key);
            thread.join();
        }
        port.reset();
        clear_watch_entries();
    }

    void post(ULONG_PTR key) const {
        if (port) {
            PostQueuedCompletionStatus(port.get(), 0, key, nullptr);
        }
    }

    void run() {
        while (!(stopping && entries.empty())) {
            DWORD bytes = 0;
            ULONG_PTR key = 0;
            OVERLAPPED* overlapped = nullptr;
            const BOOL completed =
                GetQueuedCompletionStatus(port.get(), &bytes, &key, &overlapped, INFINITE);
            if (overlapped != nullptr) {
                complete_read(*reinterpret_cast<WatchEntry*>(key), completed != FALSE, bytes);
            } else if (completed) {
                control(key);
            } else {
                // The port itself failed: nothing will ever arrive again. The teardown waits
                // for the reads still pending before it frees their entries.
                return;
            }
            remove_finished_entries();
        }
    }

    void control(ULONG_PTR key) {
        if (key == stop_key) {
            stopping = true;
            for (auto& entry : entries) {
                cancel_entry(*entry);
            }
        } else if (key == rearm_key && !stopping) {
            for (auto& entry : entries) {
                cancel_entry(*entry);
            }
            sync_watches();
        } else if (key == sync_key && !stopping) {
            sync_watches();
        }
    }

    void complete_read(WatchEntry& entry, bool succeeded, DWORD bytes) {
        entry.read_pending = false;
        if (entry.cancelled || stopping) {
            return;
        }
        if (!succeeded || bytes == 0) {
            // Failed, or the system lost notifications that did not fit: any file may have
            // changed.
            record_folder(entry.folder);
            if (!succeeded) {
                // Opened afresh at the next re-synchronisation.
                entry.cancelled = true;
                return;
            }
        } else {
            record_names(entry, bytes);
        }
        arm_read(entry);
    }

    void record_folder(const std::filesystem::path& folder) {
        std::lock_guard lock(mutex);
        for (const auto& file : watched_files) {
            if (file.parent_path() == folder) {
                changed_files.insert(file);
            }
        }
    }

    void record_name(const std::filesystem::path& changed) {
        std::lock_guard lock(mutex);
        for (const auto& file : watched_files) {
            if (same_path_text(file, changed)) {
                changed_files.insert(file);
            }
        }
    }

    // The action of a record is not looked at: a file added, removed, renamed or written counts
    // alike.
    void record_names(const WatchEntry& entry, DWORD bytes) {
        std::size_t offset = 0;
        while (bytes - offset >= notify_header_bytes) {
            FILE_NOTIFY_INFORMATION header;
            std::memcpy(&header, entry.buffer + offset, notify_header_bytes);
            const std::size_t name_bytes = header.FileNameLength;
            if (name_bytes % 2 != 0 || name_bytes > bytes - offset - notify_header_bytes) {
                return;
            }
            std::wstring name(name_bytes / 2, L'\0');
            std::memcpy(name.data(), entry.buffer + offset + notify_header_bytes, name_bytes);
            record_name(entry.folder / name);

            const std::size_t next = header.NextEntryOffset;
            if (next < notify_header_bytes || next > bytes - offset - notify_header_bytes) {
                return;
            }
            offset += next;
        }
    }

    void sync_watches() {
        std::set<std::filesystem::path> folders;
        {
            std::lock_guard lock(mutex);
            for (const auto& file : watched_files) {
                folders.insert(file.parent_path());
            }
        }
        for (auto& entry : entries) {
            if (!entry->cancelled && !folders.contains(entry->folder)) {
                cancel_entry(*entry);
            }
        }
        for (const auto& folder : folders) {
            const bool watched = std::any_of(entries.begin(), entries.end(), [&](const auto& e) {
                return !e->cancelled && e->folder == folder;
            });
            if (!watched) {
                open_entry(folder);
            }
        }
    }

    // A folder that cannot be opened or bound is skipped silently and tried again at the next
    // re-synchronisation.
    void open_entry(const std::filesystem::path& folder) {
        auto entry = std::make_unique<WatchEntry>();
        entry->folder = folder;
        entry->handle.reset(
            CreateFileW(win32_file_path(folder).c_str(), FILE_LIST_DIRECTORY,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
        if (!entry->handle ||
            CreateIoCompletionPort(entry->handle.get(), port.get(),
                                   reinterpret_cast<ULONG_PTR>(entry.get()), 0) == nullptr) {
            return;
        }
        arm_read(*entry);
        entries.push_back(std::move(entry));
    }

    void remove_finished_entries() {
        entries.remove_if(
            [](const auto& entry) { return entry->cancelled && !entry->read_pending; });
    }

    // Normally empty by now. After a failed port a read may still be pending: its buffer must
    // outlive it, so each one is cancelled and waited for before its entry is freed.
    void clear_watch_entries() {
        for (auto& entry : entries) {
            if (entry->read_pending) {
                DWORD ignored = 0;
                CancelIoEx(entry->handle.get(), &entry->overlapped);
                GetOverlappedResult(entry->handle.get(), &entry->overlapped, &ignored, TRUE);
            }
        }
        entries.clear();
    }
};

DirectoryWatcher::DirectoryWatcher() : impl_(std::make_unique<Impl>()) {}

DirectoryWatcher::~DirectoryWatcher() = default;

bool DirectoryWatcher::has_port() const {
    return impl_->port.valid();
}

void DirectoryWatcher::watch_files(const std::vector<std::filesystem::path>& files) {
    if (!has_port()) {
        return;
    }
    std::set<std::filesystem::path> wanted;
    for (const auto& file : files) {
        if (!file.empty()) {
            // One spelling of the separators, so that a folder joined with a reported name
            // compares equal to the watched path's text.
            wanted.insert(file.lexically_normal());
        }
    }
    {
        std::lock_guard lock(impl_->mutex);
        if (wanted == impl_->watched_files) {
            return;
        }
        impl_->watched_files = std::move(wanted);
    }
    impl_->post(sync_key);
}

void DirectoryWatcher::rearm_all() {
    impl_->post(rearm_key);
}

std::vector<std::filesystem::path> DirectoryWatcher::take_changed_files() {
    std::lock_guard lock(impl_->mutex);
    std::vector<std::filesystem::path> changed(impl_->changed_files.begin(),
                                               impl_->changed_files.end());
    impl_->changed_files.clear();
    return changed;
}

} // namespace pellix
