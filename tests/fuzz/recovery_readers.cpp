// Recovery files as the program finds them after a crash: a whole "tabs.bin" container or one
// "session.bin" record. Refusals are std::runtime_error; whatever is accepted must be written
// back byte for byte, since the format has one way to write each value. What is salvaged from a
// damaged container must be records of the file, in its order and as they stand in it, whatever
// its header's count and active index say, and every record passed over one the reader refuses.

#include "tracking/recovery_format.h"
#include "tests/fuzz/fuzz_check.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace pellix {
namespace {

void check_container(std::string_view bytes) {
    Workspace workspace;
    try {
        workspace = read_tab_recovery(bytes);
    } catch (const std::runtime_error&) {
        return;
    }
    require(encode_tab_recovery(workspace) == bytes, "an accepted container is written back");
}

void check_salvage(std::string_view bytes) {
    const SalvagedWorkspace salvaged = salvage_tab_recovery(bytes);
    bool reads_whole = true;
    try {
        require(read_tab_recovery(bytes) == salvaged.workspace,
                "a whole container is salvaged whole");
    } catch (const std::runtime_error&) {
        reads_whole = false;
    }
    require(reads_whole == salvaged.whole, "salvage says whether the container read whole");
    const Workspace& workspace = salvaged.workspace;
    require(workspace.sessions.empty() ? workspace.active == 0
                                       : workspace.active < workspace.sessions.size(),
            "the active tab is a salvaged one, and nothing salvaged has none");
    if (bytes.size() < 16 || bytes.size() > recovery_container_limit ||
        bytes.substr(0, 8) != "PLXTABS1") {
        require(workspace.sessions.empty(), "nothing is salvaged from a file that is no container");
        return;
    }
    // Walked frame by frame as the file's lengths give them: every record is either the next one
    // salvaged, byte for byte, or one the reader refuses; the walk ends where the framing is
    // lost, the bytes end or the tab limit is reached.
    std::size_t offset = 16;
    std::size_t next = 0;
    while (next < recovery_max_tabs && bytes.size() >= offset + 4) {
        std::uint32_t length = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            length |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + i]))
                      << (8 * i);
        }
        if (length > recovery_record_limit || length > bytes.size() - offset - 4) {
            break;
        }
        const std::string_view record = bytes.substr(offset + 4, length);
        offset += 4 + length;
        bool refused = false;
        try {
            read_recovery_record(record);
        } catch (const std::runtime_error&) {
            refused = true;
        }
        if (refused) {
            continue;
        }
        require(next < workspace.sessions.size(), "no record the reader accepts is passed over");
        const std::string written =
            encode_tab_recovery(Workspace{{workspace.sessions[next]}, 0}).substr(20);
        require(written == record,
                "salvaged records are the file's records in order, byte for byte");
        ++next;
    }
    require(next == workspace.sessions.size(), "every salvaged record is one of the file's");
}

// A store file of this version: every record read from it is one its stamp places and checks,
// in the order of its entries, with that entry's tab, version and draft flag; one that reads whole
// is written back byte for byte from what was read.
void check_stored_file(std::string_view bytes, const StoreFile& split) {
    if (!split.stamp) {
        return;
    }
    const std::vector<StoreEntry>& entries = split.stamp->entries;
    const SalvagedWorkspace read = read_stamped_records(split.container, entries);
    std::size_t from = 0;
    for (const Session& session : read.workspace.sessions) {
        while (
            from < entries.size() &&
            (entries[from].let_go || entries[from].fingerprint != session_fingerprint(session))) {
            ++from;
        }
        require(from < entries.size(), "every record read is one the stamp vouches for");
        const StoreEntry& entry = entries[from++];
        require(session.tab == entry.tab && session.version == entry.version &&
                    session.draft == entry.draft,
                "a record read takes its entry's tab, version and draft flag");
    }
    if (!split.intact || !read.whole) {
        return;
    }
    Workspace workspace = read.workspace;
    for (Session& session : workspace.sessions) {
        session.tab = 0;
        session.version = 0;
    }
    require(encode_store_file(workspace, *split.stamp) == bytes,
            "an intact store file is written back byte for byte");
}

// A store of up to four tabs whose texts come from the input, spoiled at the bytes the rest of
// the input names, any number and anywhere: while a stamp survives, every record whose bytes
// from its length to its end stand as written comes back.
void check_spoiled_store(std::string_view bytes) {
    if (bytes.empty()) {
        return;
    }
    const std::size_t tabs = 1 + static_cast<unsigned char>(bytes[0]) % 4;
    bytes.remove_prefix(1);
    Workspace workspace;
    StoreStamp stamp{
        .run = 1, .store = 1, .replaces = {}, .taken_over = {}, .version = 9, .entries = {}};
    for (std::size_t i = 0; i < tabs; ++i) {
        const std::string_view words = bytes.substr(0, std::min<std::size_t>(bytes.size(), 8));
        bytes.remove_prefix(words.size());
        Session session;
        session.text = u"tab " + std::u16string(1, static_cast<char16_t>(u'0' + i)) + u" ";
        for (const char c : words) {
            session.text += static_cast<char16_t>(0x20 + static_cast<unsigned char>(c) % 0x5F);
        }
        session.path = i % 2 == 0 ? "" : "t.md";
        session.draft = i % 3 != 2;
        stamp.entries.push_back({.tab = 100 + i,
                                 .version = 1 + i,
                                 .fingerprint = session_fingerprint(session),
                                 .draft = session.draft});
        workspace.sessions.push_back(session);
    }
    std::string file = encode_store_file(workspace, stamp);
    const StoreStamp written = *split_store_file(file).stamp;
    // Where each record's length is, and where the record ends.
    std::vector<std::pair<std::size_t, std::size_t>> records;
    for (std::size_t at = file.find("PLXTABS1") + 16; records.size() < tabs;) {
        std::uint32_t length = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            length |= static_cast<std::uint32_t>(static_cast<unsigned char>(file[at + i]))
                      << (8 * i);
        }
        records.emplace_back(at, at + 4 + length);
        at += 4 + length;
    }
    std::vector<bool> spoiled(file.size());
    for (; bytes.size() >= 3; bytes.remove_prefix(3)) {
        const std::size_t at =
            (static_cast<unsigned char>(bytes[0]) |
             static_cast<std::size_t>(static_cast<unsigned char>(bytes[1])) << 8) %
            file.size();
        const char flip = static_cast<char>(bytes[2] == 0 ? 1 : bytes[2]);
        file[at] = static_cast<char>(file[at] ^ flip);
        spoiled[at] = true;
    }
    const StoreFile split = split_store_file(file);
    if (!split.stamp) {
        return;
    }
    require(*split.stamp == written, "a stamp read from a spoiled store is the one written");
    const SalvagedWorkspace read = read_stamped_records(split.container, split.stamp->entries);
    for (std::size_t i = 0; i < tabs; ++i) {
        const bool untouched =
            std::none_of(spoiled.begin() + records[i].first, spoiled.begin() + records[i].second,
                         [](bool b) { return b; });
        const bool back = std::any_of(
            read.workspace.sessions.begin(), read.workspace.sessions.end(), [&](const Session& s) {
                return s.tab == 100 + i && s.text == workspace.sessions[i].text;
            });
        require(!untouched || back, "every record whose bytes stand as written comes back");
    }
}

// A store file of this version is read through its stamp; any other file is all container,
// or a store of an earlier development version whose container lies within it.
void check_stamp(std::string_view bytes) {
    const StoreFile split = split_store_file(bytes);
    if (split.this_version) {
        check_stored_file(bytes, split);
        return;
    }
    require(!split.stamp && split.container.size() <= bytes.size(),
            "a file of an earlier version has no stamp and its container is within it");
}

// The input's first eight bytes written over the count and active index of the container that
// follows them: a damaged header costs no record, since every record checks itself, and the
// active tab stays where the damaged index still names one.
void check_damaged_header(std::string_view bytes) {
    constexpr std::size_t fields = 8;
    constexpr std::size_t fields_at = 8;
    if (bytes.size() < fields) {
        return;
    }
    std::string container(bytes.substr(fields));
    Workspace stored;
    try {
        stored = read_tab_recovery(container);
    } catch (const std::runtime_error&) {
        return;
    }
    container.replace(fields_at, fields, bytes.substr(0, fields));
    const SalvagedWorkspace salvaged = salvage_tab_recovery(container);
    require(salvaged.workspace.sessions == stored.sessions, "a damaged header costs no record");
    std::uint32_t active = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        active |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[4 + i])) << (8 * i);
    }
    const std::uint64_t expected =
        active < stored.sessions.size() ? active : stored.sessions.size() - 1;
    require(salvaged.workspace.active == expected, "the damaged index names a salvaged tab");
}

// A record is written only inside a container, where a lone tab's record ends the file.
void check_record(std::string_view bytes) {
    Session session;
    try {
        session = read_recovery_record(bytes);
    } catch (const std::runtime_error&) {
        return;
    }
    const std::string container = encode_tab_recovery(Workspace{{session}, 0});
    require(container.size() > bytes.size() &&
                std::string_view(container).substr(container.size() - bytes.size()) == bytes,
            "an accepted record is written back");
}

} // namespace
} // namespace pellix

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    pellix::check_container(bytes);
    pellix::check_salvage(bytes);
    pellix::check_stamp(bytes);
    pellix::check_damaged_header(bytes);
    pellix::check_spoiled_store(bytes);
    pellix::check_record(bytes);
    return 0;
}
