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
    // and every run that brought it back (0: not known); how new its text is among all the
    // versions of that tab (0: older than any stamped one); and a fingerprint of the bytes of the
    // tab's file when the tab last read or wrote it, which its draft grew from (0: not known).
    std::uint64_t tab = 0;
    std::uint64_t version = 0;
    std::uint64_t file_version = 0;
    // A saved tab stored without its text, which the store's size limit left no room for: it
    // reopens its file.
    bool text_left_out = false;
    // Another version of a tab, in a tab of its own: the path (empty for an untitled tab) of the
    // tab it is another version of, which names it. Its record holds that path.
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
// A store file of this version, whose container passes the limit above rather than lose a draft.
inline constexpr std::uint64_t recovery_store_file_limit = 0xFFFFFFFF;

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

// The path a session's record holds: the tab's file, or for another version the path of the tab
// it is another version of.
const std::string& record_path(const Session& session);

// One store: the run that wrote it (a number drawn at its start) and its place among that
// run's stores.
struct StoreId {
    std::uint64_t run = 0;
    std::uint64_t store = 0;

    bool operator==(const StoreId&) const = default;
};
// One tab of a stamped store: its tab and version, the record that holds it (its place and size
// in the container and a fingerprint of what it holds, `session_fingerprint`, which checks it),
// and what the stamp keeps of it besides the record. A tab let go (closed, or its draft refused)
// at that version has no record; its fingerprint is that of the last text of it stored, so that
// no start brings that text back from a file that could not be let go. Nor has an earlier text
// of a tab the store holds, so that a start that lets the tab go lets that text go too.
struct StoreEntry {
    std::uint64_t tab = 0;
    std::uint64_t version = 0;
    std::uint64_t fingerprint = 0;
    std::uint64_t file_version = 0;
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
    bool draft = false;
    bool let_go = false;
    bool text_left_out = false;
    bool other_version = false;
    bool earlier = false;

    bool operator==(const StoreEntry&) const = default;
};
// What a store file says of itself before its container, so that a start can tell which of two
// files holds the newer store: its store, what its run took over at its start (the fingerprints
// of the files it read and let go, and, for each run whose stores it read or those took over,
// the last of them), a number past every version its run had read, and its tabs in file order,
// then the tabs let go.
struct StoreStamp {
    std::uint64_t run = 0;
    std::uint64_t store = 0;
    std::vector<std::uint64_t> replaces = {};
    std::vector<StoreId> taken_over = {};
    std::uint64_t version = 0;
    std::vector<StoreEntry> entries = {};

    bool operator==(const StoreStamp&) const = default;
};

// At most this many of each list are kept in a stamp.
inline constexpr std::size_t store_stamp_list_limit = 16;
// At most this many tabs let go are listed in a stamp, the newest first.
inline constexpr std::size_t store_gone_limit = 256;

// A store file as this version writes it: "PLXSTOR3", the stamp's size (u32), the stamp (run,
// store, version, the container's size and fingerprint as u64 each; the fingerprints taken over,
// a u32 count then u64 each; the stores taken over, a u32 count then run and store; the entries,
// a u32 count then tab, version with its flags in the top bits, fingerprint, file version, and
// the record's offset and size as u32 each; a fingerprint of all that last), the container, and
// a copy of the stamp followed by its size (u32) and "PLXTAIL3". Each record's entry gives its
// place, so that no damage elsewhere costs a record. The entries of the workspace's sessions come
// first, in order; their places are filled in here. Where the texts pass the container's limit,
// saved tabs go without theirs as far as that makes room; drafts go whole, past the limit.
std::string encode_store_file(const Workspace& workspace, const StoreStamp& stamp);

// A store file split into its container and its stamp. A file of an earlier version is all
// container (an earlier development version's stamp is passed over); `intact` is false for a
// file of this version whose stamp or container fails its checks (the stamp is kept when one
// copy checks out itself, or when both went bad in other bytes and one choice between them does).
// `this_version` says the file is of this version even where no stamp in it checks out: its
// records then have nothing to vouch for them, and `unchecked_id` is the store both copies of
// the stamp still name alike, if they do.
struct StoreFile {
    std::string_view container;
    std::optional<StoreStamp> stamp;
    bool intact = true;
    bool this_version = false;
    std::optional<StoreId> unchecked_id = std::nullopt;
};
StoreFile split_store_file(std::string_view bytes);

// The records of a stamped store's container, each read at the place its entry gives and kept
// when it passes its entry's check, with its entry's tab, version and flags; the active tab the
// header names among them, else the last. `whole` when every record the entries name is there.
SalvagedWorkspace read_stamped_records(std::string_view container,
                                       const std::vector<StoreEntry>& entries);

// A fingerprint of what a session's record holds (its text, the path its record holds and its
// settings; not whether it is a draft, which a restore changes without making a newer version),
// so that a store can tell a tab's text from the one it stored before and a start can check a
// record against its stamp's entry.
std::uint64_t session_fingerprint(const Session& session);

// A 64-bit fingerprint of a whole file's bytes (FNV-1a).
std::uint64_t store_fingerprint(std::string_view bytes);

} // namespace pellix
