#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

namespace pellix {

// One read of a watched file: its bytes, their number and the file's last-write time, which
// stayed the same from the start of the read to its end.
struct WatchRead {
    std::string bytes;
    std::uint64_t size = 0;
    FILETIME last_write{};
};

// Reads a watched file whole, with overlapped reads that give up within 25 ms once `cancel` is
// set. Refuses a file above the document limit and one whose size or time changed while it was
// read. Throws std::runtime_error: "Cancelled", "File unavailable", "File exceeds the editing
// limit", "Read unavailable" or "File is still being written".
WatchRead read_watched_file(const std::filesystem::path& path, const std::atomic<bool>& cancel);

} // namespace pellix
