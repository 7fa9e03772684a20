#include "tracking/recovery_format.h"

#include "core/source_document.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace pellix {
namespace {

constexpr std::string_view record_magic("PELLIX2\n", 8);
constexpr std::string_view container_magic("PLXTABS1", 8);
constexpr std::size_t record_header_size = 19;
constexpr std::size_t container_header_size = 16;
// The most a container may hold before one more record's 4-byte length, so the whole file stays
// within 256 MiB.
constexpr std::uint64_t container_records_limit = 0xFFFFFFC;

[[noreturn]] void fail(const char* sentence) {
    throw std::runtime_error(sentence);
}

void put_u32(std::string& out, std::uint32_t value) {
    const char bytes[4] = {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                           static_cast<char>((value >> 16) & 0xFF),
                           static_cast<char>((value >> 24) & 0xFF)};
    out.append(bytes, 4);
}

std::uint32_t get_u32(std::string_view bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + i]))
                 << (8 * i);
    }
    return value;
}

std::uint8_t get_u8(std::string_view bytes, std::size_t offset) {
    return static_cast<std::uint8_t>(bytes[offset]);
}

// FNV-1a, 64-bit.
constexpr std::uint64_t fnv_basis = 0xCBF29CE484222325;

std::uint64_t fnv_byte(std::uint64_t hash, std::uint64_t byte) {
    constexpr std::uint64_t prime = 0x100000001B3;
    return (hash ^ byte) * prime;
}

std::uint64_t fnv_step(std::uint64_t hash, std::string_view bytes) {
    for (const char byte : bytes) {
        hash = fnv_byte(hash, static_cast<unsigned char>(byte));
    }
    return hash;
}

// What one pass over a tab's text finds out: whether it holds U+0000, and its UTF-8 size when it
// is valid, used only to size the output once (growing a buffer of hundreds of MiB by doubling
// would briefly hold the old and the new buffer together).
struct TextFacts {
    std::uint64_t utf8_size = 0;
    bool has_nul = false;
};

TextFacts text_facts(const std::u16string& text) {
    TextFacts facts;
    const char16_t* at = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        // Branch-free counters over bounded chunks, so that the compiler can vectorise the loop.
        const std::size_t chunk = std::min<std::size_t>(left, 0x10000);
        std::uint32_t extra = 0;
        std::uint32_t zeros = 0;
        for (std::size_t i = 0; i < chunk; ++i) {
            const std::uint16_t unit = at[i];
            extra += (unit >= 0x80) + (unit >= 0x800) -
                     (static_cast<std::uint16_t>(unit - 0xD800) < 0x800);
            zeros += unit == 0;
        }
        facts.utf8_size += chunk + extra;
        facts.has_nul = facts.has_nul || zeros != 0;
        at += chunk;
        left -= chunk;
    }
    return facts;
}

void check_session(const Session& session, const TextFacts& facts) {
    if (session.text.size() > document_limit || session.path.size() > recovery_path_limit ||
        session.path.find('\0') != std::string::npos) {
        fail("Recovery data exceeds supported limits.");
    }
    if (facts.has_nul || static_cast<std::uint32_t>(session.encoding) > 7 ||
        static_cast<std::uint32_t>(session.line_ending) > 2) {
        fail("Invalid recovery document.");
    }
    utf8_to_utf16(session.path);
}

// Validates one session and appends its length-prefixed record to the container.
void append_record(std::string& out, const Session& session, const TextFacts& facts) {
    check_session(session, facts);
    const std::string text = utf16_to_utf8(session.text);
    const std::uint64_t record_size = record_header_size + session.path.size() + text.size();
    if (out.size() + record_size > container_records_limit) {
        fail("Tab recovery exceeds the 256 MiB limit.");
    }
    put_u32(out, static_cast<std::uint32_t>(record_size));
    out.append(record_magic);
    out.push_back(static_cast<char>(session.encoding));
    out.push_back(static_cast<char>(session.line_ending));
    out.push_back(session.draft ? 1 : 0);
    put_u32(out, static_cast<std::uint32_t>(session.path.size()));
    put_u32(out, static_cast<std::uint32_t>(text.size()));
    out.append(session.path);
    out.append(text);
}

} // namespace

std::string encode_tab_recovery(const Workspace& workspace) {
    if (workspace.sessions.size() > recovery_max_tabs ||
        workspace.active >= workspace.sessions.size()) {
        fail("Invalid tab session.");
    }
    std::vector<TextFacts> facts;
    facts.reserve(workspace.sessions.size());
    std::uint64_t size = container_header_size;
    for (const Session& session : workspace.sessions) {
        facts.push_back(text_facts(session.text));
        size += 4 + record_header_size + session.path.size() + facts.back().utf8_size;
    }
    std::string out;
    out.reserve(std::min(size, recovery_container_limit));
    out.append(container_magic);
    put_u32(out, static_cast<std::uint32_t>(workspace.sessions.size()));
    put_u32(out, static_cast<std::uint32_t>(workspace.active));
    for (std::size_t i = 0; i < workspace.sessions.size(); ++i) {
        append_record(out, workspace.sessions[i], facts[i]);
    }
    return out;
}

namespace {

void check_container_magic(std::string_view bytes) {
    if (bytes.size() < container_header_size || bytes.size() > recovery_container_limit ||
        bytes.substr(0, 8) != container_magic) {
        fail("Tab recovery is incomplete or unsupported.");
    }
}

// The bytes of the record that starts at `offset` (its length first), moving past them; throws
// with its sentence where the framing itself fails.
std::string_view next_entry(std::string_view bytes, std::size_t& offset) {
    if (bytes.size() - offset < 4) {
        fail("Truncated tab recovery.");
    }
    const std::uint32_t length = get_u32(bytes, offset);
    offset += 4;
    if (length > recovery_record_limit || length > bytes.size() - offset) {
        fail("Invalid tab recovery length.");
    }
    const std::string_view entry = bytes.substr(offset, length);
    offset += length;
    return entry;
}

// Reads the container into `workspace` record by record; throws at the first fault with its
// sentence.
void read_container(std::string_view bytes, Workspace& workspace) {
    check_container_magic(bytes);
    const std::uint32_t count = get_u32(bytes, 8);
    const std::uint32_t active = get_u32(bytes, 12);
    if (count == 0 || count > recovery_max_tabs || active >= count) {
        fail("Invalid tab recovery index/count.");
    }
    workspace.active = active;
    workspace.sessions.reserve(count);
    std::size_t offset = container_header_size;
    for (std::uint32_t i = 0; i < count; ++i) {
        workspace.sessions.push_back(read_recovery_record(next_entry(bytes, offset)));
    }
    if (offset != bytes.size()) {
        fail("Unexpected data after tab recovery.");
    }
}

// Every record checks itself and says its own length, so neither the header's count nor one
// record whose contents fail their checks is needed to find the others: a flipped bit in the
// count, or in one draft's text, must not cost the records after it. Reads records in order,
// skipping those that fail, until the framing is lost, the file ends or the tab limit is reached;
// the active index follows its record when that one is kept.
Workspace intact_records(std::string_view bytes) {
    Workspace workspace;
    try {
        check_container_magic(bytes);
        const std::uint64_t active = get_u32(bytes, 12);
        workspace.active = recovery_max_tabs;
        std::size_t offset = container_header_size;
        for (std::uint64_t index = 0;
             offset < bytes.size() && workspace.sessions.size() < recovery_max_tabs; ++index) {
            const std::string_view entry = next_entry(bytes, offset);
            try {
                workspace.sessions.push_back(read_recovery_record(entry));
            } catch (const std::runtime_error&) {
                continue; // kept with the damaged file's copy
            }
            if (index == active) {
                workspace.active = workspace.sessions.size() - 1;
            }
        }
    } catch (const std::runtime_error&) {
        // The records before the framing was lost are what can be trusted.
    }
    return workspace;
}

} // namespace

Workspace read_tab_recovery(std::string_view bytes) {
    Workspace workspace;
    read_container(bytes, workspace);
    return workspace;
}

SalvagedWorkspace salvage_tab_recovery(std::string_view bytes) {
    try {
        return {.workspace = read_tab_recovery(bytes), .whole = true};
    } catch (const std::runtime_error&) {
        // Damaged: what can be trusted is read below.
    }
    SalvagedWorkspace salvaged{.workspace = intact_records(bytes), .whole = false};
    Workspace& workspace = salvaged.workspace;
    if (workspace.sessions.empty()) {
        workspace.active = 0;
    } else if (workspace.active >= workspace.sessions.size()) {
        workspace.active = workspace.sessions.size() - 1;
    }
    return salvaged;
}

namespace {

constexpr std::string_view stamp_magic("PLXSTMP1", 8);
// run, store and the first count; then the lists; then the size and the magic.
constexpr std::size_t stamp_head_size = 8 + 8 + 4;
constexpr std::size_t stamp_tail_size = 4 + 8;
constexpr std::size_t stamp_reach_size = 8 + 8;

void put_u64(std::string& out, std::uint64_t value) {
    put_u32(out, static_cast<std::uint32_t>(value & 0xFFFFFFFF));
    put_u32(out, static_cast<std::uint32_t>(value >> 32));
}

std::uint64_t get_u64(std::string_view bytes, std::size_t offset) {
    return get_u32(bytes, offset) | (static_cast<std::uint64_t>(get_u32(bytes, offset + 4)) << 32);
}

// The stamp whose bytes (without the size and the magic) are `bytes`; nothing when they do not
// add up.
std::optional<StoreStamp> parse_stamp(std::string_view bytes) {
    if (bytes.size() < stamp_head_size) {
        return std::nullopt;
    }
    StoreStamp stamp{.run = get_u64(bytes, 0),
                     .store = get_u64(bytes, 8),
                     .replaces = {},
                     .taken_over = {},
                     .order = 0,
                     .entries = {}};
    const std::uint32_t fingerprints = get_u32(bytes, 16);
    std::size_t offset = stamp_head_size;
    if (fingerprints > store_stamp_list_limit || bytes.size() - offset < 8 * fingerprints + 4) {
        return std::nullopt;
    }
    for (std::uint32_t i = 0; i < fingerprints; ++i, offset += 8) {
        stamp.replaces.push_back(get_u64(bytes, offset));
    }
    const std::uint32_t reaches = get_u32(bytes, offset);
    offset += 4;
    if (reaches > store_stamp_list_limit || bytes.size() - offset != stamp_reach_size * reaches) {
        return std::nullopt;
    }
    for (std::uint32_t i = 0; i < reaches; ++i, offset += stamp_reach_size) {
        stamp.taken_over.push_back(
            {.run = get_u64(bytes, offset), .store = get_u64(bytes, offset + 8)});
    }
    return stamp;
}

} // namespace

std::string encode_store_stamp(const StoreStamp& stamp) {
    if (stamp.replaces.size() > store_stamp_list_limit ||
        stamp.taken_over.size() > store_stamp_list_limit) {
        fail("Invalid tab session.");
    }
    std::string out;
    put_u64(out, stamp.run);
    put_u64(out, stamp.store);
    put_u32(out, static_cast<std::uint32_t>(stamp.replaces.size()));
    for (const std::uint64_t fingerprint : stamp.replaces) {
        put_u64(out, fingerprint);
    }
    put_u32(out, static_cast<std::uint32_t>(stamp.taken_over.size()));
    for (const StoreReach& reach : stamp.taken_over) {
        put_u64(out, reach.run);
        put_u64(out, reach.store);
    }
    put_u32(out, static_cast<std::uint32_t>(out.size() + stamp_tail_size));
    out.append(stamp_magic);
    return out;
}

namespace {

constexpr std::string_view store_magic("PLXSTOR2", 8);
constexpr std::string_view store_tail_magic("PLXTAIL2", 8);
constexpr std::size_t store_tail_size = 4 + 8;
constexpr std::size_t store_head_size = 8 + 4;
constexpr std::size_t entry_size = 8 + 8 + 8;
// The bytes after the v1 stamp's lists: order, container size and fingerprint, the entry count.
constexpr std::size_t stamp_more_size = 8 + 8 + 8 + 4;
// An entry's order counts stores (an earlier version's, a clock's milliseconds), far below these
// bits; a store of an earlier version set neither.
constexpr std::uint64_t entry_draft_known = std::uint64_t{1} << 63;
constexpr std::uint64_t entry_is_draft = std::uint64_t{1} << 62;

std::uint64_t entry_order_bits(const StoreEntry& entry) {
    if (!entry.draft || entry.order >= entry_is_draft) {
        return entry.order;
    }
    return entry.order | entry_draft_known | (*entry.draft ? entry_is_draft : 0);
}

StoreEntry entry_of_bits(std::uint64_t tab, std::uint64_t order, std::uint64_t fingerprint) {
    StoreEntry entry{.tab = tab, .order = order, .fingerprint = fingerprint, .draft = {}};
    if ((order & entry_draft_known) != 0) {
        entry.draft = (order & entry_is_draft) != 0;
        entry.order = order & (entry_is_draft - 1);
    }
    return entry;
}

// The stamp of this version's header; nothing when its bytes do not add up. `container` gets the
// size and fingerprint the stamp gives its container.
std::optional<StoreStamp> parse_head_stamp(std::string_view bytes, std::uint64_t& size,
                                           std::uint64_t& fingerprint) {
    if (bytes.size() < 8 || fnv_step(fnv_basis, bytes.substr(0, bytes.size() - 8)) !=
                                get_u64(bytes, bytes.size() - 8)) {
        return std::nullopt;
    }
    bytes.remove_suffix(8);
    // The v1 part: run, store and the two lists, up to the order.
    if (bytes.size() < stamp_head_size) {
        return std::nullopt;
    }
    const std::uint32_t fingerprints = get_u32(bytes, 16);
    if (fingerprints > store_stamp_list_limit) {
        return std::nullopt;
    }
    std::size_t offset = stamp_head_size + 8 * fingerprints;
    if (bytes.size() < offset + 4) {
        return std::nullopt;
    }
    const std::uint32_t reaches = get_u32(bytes, offset);
    if (reaches > store_stamp_list_limit) {
        return std::nullopt;
    }
    offset += 4 + stamp_reach_size * reaches;
    if (bytes.size() < offset + stamp_more_size) {
        return std::nullopt;
    }
    std::optional<StoreStamp> stamp = parse_stamp(bytes.substr(0, offset));
    if (!stamp) {
        return std::nullopt;
    }
    stamp->order = get_u64(bytes, offset);
    size = get_u64(bytes, offset + 8);
    fingerprint = get_u64(bytes, offset + 16);
    const std::uint32_t entries = get_u32(bytes, offset + 24);
    offset += stamp_more_size;
    if (entries > recovery_max_tabs + store_gone_limit ||
        bytes.size() - offset != entry_size * entries) {
        return std::nullopt;
    }
    for (std::uint32_t i = 0; i < entries; ++i, offset += entry_size) {
        stamp->entries.push_back(entry_of_bits(get_u64(bytes, offset), get_u64(bytes, offset + 8),
                                               get_u64(bytes, offset + 16)));
    }
    return stamp;
}

// The stamp of `size` bytes at `at` when it checks out, with the size and fingerprint it gives
// the container it stamps.
struct FoundStamp {
    StoreStamp stamp;
    std::size_t size = 0;
    std::uint64_t container_size = 0;
    std::uint64_t container_fingerprint = 0;
};
std::optional<FoundStamp> stamp_at(std::string_view bytes, std::size_t at, std::size_t size) {
    if (at > bytes.size() || size > bytes.size() - at) {
        return std::nullopt;
    }
    FoundStamp found;
    found.size = size;
    std::optional<StoreStamp> stamp =
        parse_head_stamp(bytes.substr(at, size), found.container_size, found.container_fingerprint);
    if (!stamp) {
        return std::nullopt;
    }
    found.stamp = std::move(*stamp);
    return found;
}

// A stamp both of whose copies went bad, each in other bytes: where the copies differ, the
// choice of bytes that checks out. Each size is tried that either copy gives, or the container's
// place; no choice is made among more differences than a few spoilt bytes make.
std::optional<FoundStamp> stamp_of_both_copies(std::string_view bytes, std::size_t container_at) {
    constexpr std::size_t most_differences = 8;
    if (bytes.size() < store_head_size + store_tail_size) {
        return std::nullopt;
    }
    std::vector<std::size_t> sizes{get_u32(bytes, 8),
                                   get_u32(bytes, bytes.size() - store_tail_size)};
    if (container_at != std::string_view::npos) {
        sizes.push_back(container_at - store_head_size);
    }
    for (const std::size_t size : sizes) {
        if (size > (bytes.size() - store_head_size - store_tail_size) / 2) {
            continue;
        }
        const std::size_t tail_at = bytes.size() - store_tail_size - size;
        const std::string_view head = bytes.substr(store_head_size, size);
        const std::string_view tail = bytes.substr(tail_at, size);
        std::vector<std::size_t> differ;
        for (std::size_t i = 0; i < size && differ.size() <= most_differences; ++i) {
            if (head[i] != tail[i]) {
                differ.push_back(i);
            }
        }
        if (differ.size() > most_differences) {
            continue;
        }
        std::string choice(head);
        for (std::size_t mask = 0; mask < (std::size_t{1} << differ.size()); ++mask) {
            for (std::size_t k = 0; k < differ.size(); ++k) {
                choice[differ[k]] = ((mask >> k) & 1) != 0 ? tail[differ[k]] : head[differ[k]];
            }
            if (std::optional<FoundStamp> found = stamp_at(choice, 0, size)) {
                return found;
            }
        }
    }
    return std::nullopt;
}

// The stamp heads the file and a copy of it ends the file, so that one damaged byte, or a file
// cut short, still leaves a copy that names every record.
StoreFile split_head_stamped(std::string_view bytes) {
    StoreFile file{.container = {}, .stamp = std::nullopt, .intact = false, .this_version = true};
    if (bytes.size() < store_head_size) {
        return file;
    }
    const std::size_t head_size = get_u32(bytes, 8);
    std::optional<FoundStamp> found = stamp_at(bytes, store_head_size, head_size);
    const bool head_whole = found.has_value();
    std::size_t tail_size = 0;
    if (bytes.size() >= store_head_size + store_tail_size &&
        bytes.substr(bytes.size() - store_tail_magic.size()) == store_tail_magic) {
        tail_size = get_u32(bytes, bytes.size() - store_tail_size);
        if (tail_size <= bytes.size() - store_tail_size) {
            if (!found) {
                found = stamp_at(bytes, bytes.size() - store_tail_size - tail_size, tail_size);
            }
        } else {
            tail_size = 0;
        }
    }
    if (!found) {
        found = stamp_of_both_copies(bytes, bytes.find(container_magic, store_head_size));
    }
    // Both copies of the stamp have one size, so a stamp that checks out places the container
    // whatever damage its own magic took; without one, only that magic can.
    std::size_t container_at = bytes.find(container_magic, store_head_size);
    if (found) {
        container_at = store_head_size + found->size;
    }
    container_at = std::min(container_at, bytes.size());
    std::string_view rest = bytes.substr(container_at);
    if (found) {
        file.stamp = found->stamp;
        rest = rest.substr(0, std::min<std::uint64_t>(rest.size(), found->container_size));
        const std::size_t after = container_at + rest.size();
        file.intact = bytes.starts_with(store_magic) && head_whole && tail_size == head_size &&
                      rest.size() == found->container_size &&
                      after + tail_size + store_tail_size == bytes.size() &&
                      bytes.substr(after, tail_size) == bytes.substr(store_head_size, head_size) &&
                      found->container_fingerprint == store_fingerprint(rest);
    }
    file.container = rest;
    return file;
}

} // namespace

std::string encode_store_file(const Workspace& workspace, const StoreStamp& stamp) {
    if (stamp.entries.size() > recovery_max_tabs + store_gone_limit) {
        fail("Invalid tab session.");
    }
    const std::string container = encode_tab_recovery(workspace);
    std::string head = encode_store_stamp(stamp);
    head.resize(head.size() - stamp_tail_size);
    put_u64(head, stamp.order);
    put_u64(head, container.size());
    put_u64(head, store_fingerprint(container));
    put_u32(head, static_cast<std::uint32_t>(stamp.entries.size()));
    for (const StoreEntry& entry : stamp.entries) {
        put_u64(head, entry.tab);
        put_u64(head, entry_order_bits(entry));
        put_u64(head, entry.fingerprint);
    }
    put_u64(head, fnv_step(fnv_basis, head));
    std::string out;
    out.reserve(store_head_size + 2 * head.size() + container.size() + store_tail_size);
    out.append(store_magic);
    put_u32(out, static_cast<std::uint32_t>(head.size()));
    out.append(head);
    out.append(container);
    out.append(head);
    put_u32(out, static_cast<std::uint32_t>(head.size()));
    out.append(store_tail_magic);
    return out;
}

std::uint64_t session_fingerprint(const Session& session) {
    std::string head;
    head.push_back(static_cast<char>(session.encoding));
    head.push_back(static_cast<char>(session.line_ending));
    put_u64(head, session.path.size());
    std::uint64_t hash = fnv_step(fnv_basis, head);
    hash = fnv_step(hash, session.path);
    for (const char16_t unit : session.text) {
        hash = fnv_byte(fnv_byte(hash, unit & 0xFF), unit >> 8);
    }
    return hash == 0 ? 1 : hash; // 0 marks a tab let go
}

StoreFile split_store_file(std::string_view bytes) {
    // Either end says that this version wrote the file, so one spoiled magic still does.
    if (bytes.starts_with(store_magic) || bytes.ends_with(store_tail_magic)) {
        return split_head_stamped(bytes);
    }
    const StoreFile whole{
        .container = bytes, .stamp = std::nullopt, .intact = true, .this_version = false};
    if (bytes.size() < container_header_size + stamp_head_size + stamp_tail_size ||
        bytes.substr(bytes.size() - stamp_magic.size()) != stamp_magic) {
        return whole;
    }
    const std::uint32_t size = get_u32(bytes, bytes.size() - stamp_tail_size);
    if (size < stamp_head_size + stamp_tail_size || size > bytes.size() - container_header_size) {
        return whole;
    }
    std::optional<StoreStamp> stamp =
        parse_stamp(bytes.substr(bytes.size() - size, size - stamp_tail_size));
    const std::string_view container = bytes.substr(0, bytes.size() - size);
    if (!stamp) {
        return whole;
    }
    // A damaged size can make a stamp of the last bytes of the container and its own first
    // ones: a stamp of an earlier version counts only after a container that reads whole.
    try {
        Workspace read;
        read_container(container, read);
    } catch (const std::runtime_error&) {
        return whole;
    }
    return {
        .container = container, .stamp = std::move(stamp), .intact = true, .this_version = false};
}

std::uint64_t store_fingerprint(std::string_view bytes) {
    return fnv_step(fnv_basis, bytes);
}

Session read_recovery_record(std::string_view bytes) {
    if (bytes.size() < record_header_size || bytes.size() > recovery_record_limit ||
        bytes.substr(0, 8) != record_magic) {
        fail("Recovery data is incomplete or unsupported.");
    }
    const std::uint8_t encoding = get_u8(bytes, 8);
    const std::uint8_t line_ending = get_u8(bytes, 9);
    const std::uint8_t draft = get_u8(bytes, 10);
    if (encoding > 7 || line_ending > 2 || draft > 1) {
        fail("Invalid recovery settings.");
    }
    const std::uint32_t path_size = get_u32(bytes, 11);
    const std::uint32_t text_size = get_u32(bytes, 15);
    const std::size_t payload = bytes.size() - record_header_size;
    if (path_size > recovery_path_limit || path_size > payload ||
        text_size != payload - path_size) {
        fail("Recovery lengths are invalid.");
    }
    Session session;
    session.encoding = static_cast<Encoding>(encoding);
    session.line_ending = static_cast<LineEnding>(line_ending);
    session.draft = draft == 1;
    session.path.assign(bytes.substr(record_header_size, path_size));
    utf8_to_utf16(session.path);
    if (session.path.find('\0') != std::string::npos) {
        fail("Recovery path contains a NUL character.");
    }
    // The converter wants its own string; only this one record's bytes are copied.
    const std::string text(bytes.substr(record_header_size + path_size));
    session.text = utf8_to_utf16(text);
    // In valid UTF-8 a zero byte is exactly U+0000, and the bytes are the shorter scan.
    if (session.text.size() > document_limit || text.find('\0') != std::string::npos) {
        fail("Invalid recovery text.");
    }
    return session;
}

namespace {

// A record of a container read at the place its stamp gives it.
struct VouchedRecord {
    Session session;
    std::size_t entry =
        0; // the stamp's entry that vouches for it, which is its place in file order
    std::size_t end = 0;
    bool as_written = false; // its length, header and draft flag are the ones written
};

// The record whose length is at `offset`, when an entry from `from` on vouches for what it holds.
// A record says its size twice, by its length and by its own header, so that a damaged length
// costs no record.
std::optional<VouchedRecord> vouched_record(std::string_view bytes, std::size_t offset,
                                            const std::vector<StoreEntry>& entries,
                                            std::size_t from) {
    const std::size_t at = offset + 4;
    if (at > bytes.size() || bytes.size() - at < record_header_size) {
        return std::nullopt;
    }
    const std::uint64_t stated = get_u32(bytes, offset);
    const std::uint64_t own =
        record_header_size + std::uint64_t{get_u32(bytes, at + 11)} + get_u32(bytes, at + 15);
    for (const std::uint64_t size : {stated, own}) {
        if (size > bytes.size() - at) {
            continue;
        }
        Session session;
        try {
            session = read_recovery_record(bytes.substr(at, size));
        } catch (const std::runtime_error&) {
            continue;
        }
        const std::uint64_t fingerprint = session_fingerprint(session);
        for (std::size_t i = from; i < entries.size(); ++i) {
            const StoreEntry& entry = entries[i];
            if (entry.fingerprint != fingerprint) {
                continue;
            }
            const bool flag_as_written = !entry.draft || *entry.draft == session.draft;
            session.tab = entry.tab;
            session.order = entry.order;
            session.draft = entry.draft.value_or(session.draft);
            return VouchedRecord{.session = std::move(session),
                                 .entry = i,
                                 .end = at + size,
                                 .as_written = size == stated && flag_as_written};
        }
    }
    return std::nullopt;
}

} // namespace

SalvagedWorkspace read_stamped_records(std::string_view container,
                                       const std::vector<StoreEntry>& entries) {
    const bool header_whole = container.size() >= container_header_size &&
                              container.substr(0, container_magic.size()) == container_magic;
    const std::size_t count = header_whole ? get_u32(container, 8) : 0;
    const std::size_t active = header_whole ? get_u32(container, 12) : recovery_max_tabs;
    SalvagedWorkspace read{.workspace = {}, .whole = header_whole};
    Workspace& workspace = read.workspace;
    workspace.active = recovery_max_tabs;
    std::size_t offset = container_header_size;
    std::size_t from = 0;
    while (offset < container.size() && workspace.sessions.size() < recovery_max_tabs) {
        std::optional<VouchedRecord> record = vouched_record(container, offset, entries, from);
        if (!record) {
            // Nothing the stamp vouches for starts here: the next record, if any is left, is
            // where a record's magic is next.
            read.whole = false;
            const std::size_t next = container.find(record_magic, offset + 4 + 1);
            if (next == std::string_view::npos) {
                break;
            }
            offset = next - 4;
            continue;
        }
        read.whole = read.whole && record->as_written && record->entry == workspace.sessions.size();
        if (record->entry == active) {
            workspace.active = workspace.sessions.size();
        }
        workspace.sessions.push_back(std::move(record->session));
        from = record->entry + 1;
        offset = record->end;
    }
    const auto records = static_cast<std::size_t>(std::count_if(
        entries.begin(), entries.end(), [](const StoreEntry& e) { return e.fingerprint != 0; }));
    read.whole = read.whole && offset == container.size() && count == records &&
                 workspace.sessions.size() == records && active < records;
    if (workspace.active >= workspace.sessions.size()) {
        workspace.active = workspace.sessions.empty() ? 0 : workspace.sessions.size() - 1;
    }
    return read;
}

} // namespace pellix
