#include "tracking/watched_file_read.h"

#include "core/limits.h"
#include "core/file_paths.h"
#include "platform/unique_handle.h"

#include <stdexcept>
#include <vector>

namespace pellix {
namespace {

constexpr DWORD read_chunk_bytes = 0x10000;
constexpr DWORD cancel_poll_ms = 25;

[[noreturn]] void fail(const char* text) {
    throw std::runtime_error(text);
}

struct FileStamp {
    std::uint64_t size = 0;
    FILETIME last_write{};
};

bool take_stamp(HANDLE file, FileStamp& stamp) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || !GetFileTime(file, nullptr, nullptr, &stamp.last_write)) {
        return false;
    }
    stamp.size = static_cast<std::uint64_t>(size.QuadPart);
    return true;
}

// Waits for a pending read, looking at `cancel` between short waits. Throws "Cancelled" after
// the aborted read has completed, so the buffer and the OVERLAPPED are no longer in use.
void wait_for_read(HANDLE file, OVERLAPPED& overlapped, const std::atomic<bool>& cancel) {
    while (WaitForSingleObject(overlapped.hEvent, cancel_poll_ms) == WAIT_TIMEOUT) {
        if (cancel) {
            DWORD ignored = 0;
            CancelIoEx(file, &overlapped);
            GetOverlappedResult(file, &overlapped, &ignored, TRUE);
            fail("Cancelled");
        }
    }
}

// Reads from the start to the end of the file into `bytes`; the error that ended the loop, or
// ERROR_SUCCESS at a zero-byte read.
DWORD read_to_end(HANDLE file, HANDLE event, const std::atomic<bool>& cancel, std::string& bytes) {
    std::vector<char> buffer(read_chunk_bytes);
    for (;;) {
        if (cancel) {
            fail("Cancelled");
        }
        OVERLAPPED overlapped{};
        overlapped.Offset = static_cast<DWORD>(bytes.size());
        overlapped.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(bytes.size()) >> 32);
        overlapped.hEvent = event;
        ResetEvent(event);
        DWORD count = 0;
        if (!ReadFile(file, buffer.data(), read_chunk_bytes, &count, &overlapped)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) {
                return error;
            }
            wait_for_read(file, overlapped, cancel);
            if (!GetOverlappedResult(file, &overlapped, &count, FALSE)) {
                return GetLastError();
            }
        }
        if (count == 0) {
            return ERROR_SUCCESS;
        }
        if (bytes.size() + count > document_limit) {
            fail("File exceeds the editing limit");
        }
        bytes.append(buffer.data(), count);
    }
}

} // namespace

WatchRead read_watched_file(const std::filesystem::path& path, const std::atomic<bool>& cancel) {
    if (cancel) {
        fail("Cancelled");
    }
    UniqueHandle file(CreateFileW(win32_file_path(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_FLAG_SEQUENTIAL_SCAN,
                                  nullptr));
    FileStamp before;
    if (!file || !take_stamp(file.get(), before)) {
        fail("File unavailable");
    }
    if (before.size > document_limit) {
        fail("File exceeds the editing limit");
    }
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) {
        fail("Read unavailable");
    }
    WatchRead read;
    read.bytes.reserve(before.size);
    const DWORD error = read_to_end(file.get(), event.get(), cancel, read.bytes);
    if (error != ERROR_SUCCESS && error != ERROR_HANDLE_EOF) {
        fail("Read unavailable");
    }
    FileStamp after;
    if (!take_stamp(file.get(), after) || after.size != read.bytes.size() ||
        CompareFileTime(&before.last_write, &after.last_write) != 0) {
        fail("File is still being written");
    }
    read.size = read.bytes.size();
    read.last_write = after.last_write;
    return read;
}

} // namespace pellix
