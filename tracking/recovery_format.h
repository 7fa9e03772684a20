#pragma once

#include "core/encoding.h"

#include <cstdint>
#include <optional>
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
    // Kept in the store's stamp, not in the record: which tab this is, the same in every store
    // and every run that brought it back (0: not known), and how new its text is among all the
    // versions of that tab (0: older than any stamped one).
    std::uint64_t tab = 0;
    std::uint64_t order = 0;
    // Never stored: set by a start on a draft from a store that stood side by side with the one
    // holding its tab's newest version (or a saved text of it), to the path (empty for an
    // untitled tab) of the tab it is another version of. Such a draft comes back untitled, as a
    // tab of its own.
    std::optional<std::string> other_version_of = std::nullopt;

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
// right magic, every record in file order that passes the record's checks, passing over those that
// fail them, until the framing of lengths is lost, the bytes end or the tab limit is reached
// (whatever the header's count and active index say), with the active tab kept when it is among
// them and the last of them otherwise.
struct SalvagedWorkspace {
    Workspace workspace;
    bool whole = true;
};
SalvagedWorkspace salvage_tab_recovery(std::string_view bytes);

// Decodes one record: a whole "session.bin" file or one entry of the container.
Session read_recovery_record(std::string_view bytes);

// What a store file says of itself after its container, so that a start can tell which of two
// files holds the newer store: the run that wrote it (a number drawn at its start), its place among
// that run's stores, and what its run took over at its start: the fingerprints of the files it
// read and let go, and, for each run whose stores it read or those took over, the last of them.
// A file without one was written by an earlier version.
struct StoreReach {
    std::uint64_t run = 0;
    std::uint64_t store = 0;

    bool operator==(const StoreReach&) const = default;
};
// One record of a stamped store: its tab, how new its text is and a fingerprint of what it holds
// (`session_fingerprint`), by which a record salvaged from a damaged container is still known.
// Fingerprint 0 says the tab was let go (closed, or its draft refused) at that order: after the
// records, so that no older version of it comes back from a file a start could not let go.
// A record's entry also says whether it is a draft, which its fingerprint leaves out: a record
// whose draft flag alone went bad still matches its entry, and takes the flag from it.
struct StoreEntry {
    std::uint64_t tab = 0;
    std::uint64_t order = 0;
    std::uint64_t fingerprint = 0;
    std::optional<bool> draft; // not known: a store of an earlier version, or a tab let go

    bool operator==(const StoreEntry&) const = default;
};
struct StoreStamp {
    std::uint64_t run = 0;
    std::uint64_t store = 0;
    std::vector<std::uint64_t> replaces;
    std::vector<StoreReach> taken_over;
    // Only in a stamp that heads its file: a number past every order its run had read, which
    // tells the newer of two stores only where one took the other over; and its records in
    // file order.
    std::uint64_t order = 0;
    std::vector<StoreEntry> entries;

    bool operator==(const StoreStamp&) const = default;
};

// At most this many of each list are kept in a stamp.
inline constexpr std::size_t store_stamp_list_limit = 16;
// At most this many tabs let go are listed in a stamp, the newest first.
inline constexpr std::size_t store_gone_limit = 256;

// The stamp's bytes, appended after the container: run and store (u64 each), the count and the
// fingerprints (u32, then u64 each), the count and the runs taken over (u32, then run and store
// as u64 each), the whole stamp's size (u32) and "PLXSTMP1" last. Throws std::runtime_error for
// a list over the limit.
std::string encode_store_stamp(const StoreStamp& stamp);

// A store file as this version writes it: "PLXSTOR2", the stamp's size (u32), the stamp (as
// above, then the order, the container's size and fingerprint, and the entries: count (u32), then
// tab, order and fingerprint as u64 each, the order's top bit set when the entry says whether its
// record is a draft and the next bit saying so; its own fingerprint, u64, last), the container, and
// a copy of the stamp followed by its size (u32) and "PLXTAIL2". A file that ends inside its stamp
// or whose container is not the one stamped reads as damaged.
std::string encode_store_file(const Workspace& workspace, const StoreStamp& stamp);

// A store file split into its container and its stamp. A file of an earlier version is all
// container when it does not end in a well-formed stamp; `intact` is false for a file of this
// version whose stamp or container fails its checks (the stamp is kept when one copy checks out
// itself, or when both went bad in other bytes and one choice between them does).
// `this_version` says the file is of this version even where no stamp in it checks out: its
// records then have nothing to vouch for them.
struct StoreFile {
    std::string_view container;
    std::optional<StoreStamp> stamp;
    bool intact = true;
    bool this_version = false;
};
StoreFile split_store_file(std::string_view bytes);

// The records of a stamped store's container that its entries vouch for, each read at its place
// (the container's header, a record's length or a record the entries do not vouch for damaged
// costs no other record) and given its entry's tab, order and draft flag; an active tab the
// header names among them, else the last. `whole` when the container is exactly what the entries
// say was written.
SalvagedWorkspace read_stamped_records(std::string_view container,
                                       const std::vector<StoreEntry>& entries);

// A fingerprint of what a session holds (its text, path and settings; not whether it is a draft,
// which a restore changes without making a newer version), so that a store can tell a tab's text
// from the one it stored before and a start can match a record to its stamp's entry.
std::uint64_t session_fingerprint(const Session& session);

// A 64-bit fingerprint of a whole file's bytes (FNV-1a).
std::uint64_t store_fingerprint(std::string_view bytes);

} // namespace pellix
