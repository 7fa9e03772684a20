#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace pellix {

// The absolute, normalised spelling of `path` (a relative one is taken from the current folder),
// still naming the user's file when its name is one Windows keeps for a device ("nul.md",
// "com1", "con.txt"): plain Win32 parsing turns such a path into the device itself. This is the
// spelling to show and to compare. A path that cannot be resolved comes back as it was.
std::filesystem::path absolute_file_path(const std::filesystem::path& path);

// The spelling to hand to a Win32 file call: the extended-length form of `absolute_file_path`
// ("\\?\C:\folder\nul.md", "\\?\UNC\server\share\nul.md"), which Win32 takes literally, so a
// device name is a file name and the length limit of plain paths does not apply. A path that
// already names a literal or device spelling ("\\?\", "\\.\") comes back as it was. For Win32
// calls only: the standard library's status queries may refuse the literal spelling.
std::filesystem::path win32_file_path(const std::filesystem::path& path);

// A file's place on its volume, the same for every spelling of it and every hard link to it.
struct FileIdentity {
    std::uint32_t volume = 0;
    std::uint32_t index_high = 0;
    std::uint32_t index_low = 0;
    bool operator==(const FileIdentity&) const = default;
};

// Nothing when the file cannot be opened.
std::optional<FileIdentity> file_identity(const std::filesystem::path& path);

} // namespace pellix
