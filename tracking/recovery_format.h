#pragma once

#include "core/encoding.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pellix {

// One tab as the recovery store keeps it.
struct Session {
    std::u16string text; // LF line breaks, no U+0000
    Encoding encoding = Encoding::utf8;
    LineEnding line_ending = LineEnding::crlf;
    std::string path;   // UTF-8; empty for an untitled tab
    bool draft = false; // the tab had unsaved changes, so its text is what must come back

    bool operator==(const Session&) const = default;
};

// All kept tabs; no sessions means there is nothing to recover.
struct Workspace {
    std::vector<Session> sessions;
    std::uint64_t active = 0;

    bool operator==(const Workspace&) const = default;
};

inline constexpr std::size_t recovery_max_tabs = 128;
inline constexpr std::uint64_t recovery_record_limit = 0x2800000;     // "session.bin" and one entry
inline constexpr std::uint64_t recovery_container_limit = 0x10000000; // "tabs.bin"
inline constexpr std::size_t recovery_path_limit = 0x20000;           // UTF-8 bytes per path

// The whole "tabs.bin" container for a non-empty workspace. Validates each session as it reaches
// it and throws std::runtime_error with the first fault's sentence.
std::string encode_tab_recovery(const Workspace& workspace);

// Decodes a whole "tabs.bin" file. Throws std::runtime_error; never returns a partial value.
Workspace read_tab_recovery(std::string_view bytes);

// A container as far as it can be trusted: every record when it reads whole; otherwise, after a
// right magic, the records in file order up to the first that fails a check of the format
// (whatever the header's count and active index say), with the active tab kept when it is among
// them and the last of them otherwise.
struct SalvagedWorkspace {
    Workspace workspace;
    bool whole = true;
};
SalvagedWorkspace salvage_tab_recovery(std::string_view bytes);

// Decodes one record: a whole "session.bin" file or one entry of the container.
Session read_recovery_record(std::string_view bytes);

} // namespace pellix
