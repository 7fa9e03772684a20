#pragma once

// What a tab's file looked like on disk when it was last read or written, and noticing that it
// changed since: the watcher's reports and the poll only mark a tab; the user is asked only
// when coming to the tab and its bytes really differ. `check_disk_changes`,
// `apply_directory_changes` and `reload_file` are declared in app/hosted_units.h.

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "app/main_window_state.h"

namespace pellix {

// A file's last-write time and size; a missing file, or a folder, does not exist.
struct DiskStamp {
    FILETIME write_time{};
    std::uint64_t size = 0;
    bool exists = false;
};

DiskStamp stamp_file(const std::filesystem::path& path);
bool same_stamp(const DiskStamp& a, const DiskStamp& b);

// The stamp a tab keeps, and storing one into it.
DiskStamp stored_stamp(const DocumentTab& tab);
void store_stamp(DocumentTab& tab, const DiskStamp& stamp);

// The bytes the tab's file held when the tab last read or wrote it, with their fingerprint.
void take_disk_bytes(DocumentTab& tab, std::string bytes);

// Set while the outside-change question is on screen, so that the check does not run again.
extern bool disk_prompt_open;

} // namespace pellix
