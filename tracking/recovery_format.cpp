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
// A store file's container holds every draft whole, past that limit where it must, leaving room
// in the file for both copies of its stamp; the largest records of the most tabs fit.
constexpr std::uint64_t store_records_limit = recovery_store_file_limit - 0x100000;
constexpr std::uint64_t largest_record =
    4 + record_header_size + recovery_path_limit + 3 * document_limit;
static_assert(container_header_size + recovery_max_tabs * largest_record <= store_records_limit);

[[noreturn]] void fail(const char* sentence) {
    throw std::runtime_error(sentence);
}

void put_u32(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
}

std::uint32_t get_u32(std::string_view bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;) {
        value = value << 8 | static_cast<unsigned char>(bytes[offset + i]);
    }
    return value;
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

// Validates one session and appends its length-prefixed record to the container; a text left
// out is written empty.
void append_record(std::string& out, const Session& session, const TextFacts& facts,
                   bool text_left_out, std::uint64_t records_limit) {
    check_session(session, facts);
    const std::string text = text_left_out ? std::string() : utf16_to_utf8(session.text);
    const std::string& path = record_path(session);
    const std::uint64_t record_size = record_header_size + path.size() + text.size();
    if (out.size() + record_size > records_limit) {
        fail("Tab recovery exceeds the 256 MiB limit.");
    }
    put_u32(out, static_cast<std::uint32_t>(record_size));
    out.append(record_magic);
    out.push_back(static_cast<char>(session.encoding));
    out.push_back(static_cast<char>(session.line_ending));
    out.push_back(session.draft ? 1 : 0);
    put_u32(out, static_cast<std::uint32_t>(path.size()));
    put_u32(out, static_cast<std::uint32_t>(text.size()));
    out.append(path);
    out.append(text);
}

std::uint64_t record_bytes(const Session& session, const TextFacts& facts) {
    return 4 + record_header_size + record_path(session).size() + facts.utf8_size;
}

// The container of the sessions, the texts marked in `left_out` written empty.
std::string encode_container(const Workspace& workspace, const std::vector<TextFacts>& facts,
                             const std::vector<bool>& left_out, std::uint64_t records_limit) {
    if (workspace.sessions.size() > recovery_max_tabs ||
        workspace.active >= workspace.sessions.size()) {
        fail("Invalid tab session.");
    }
    std::uint64_t size = container_header_size;
    for (std::size_t i = 0; i < workspace.sessions.size(); ++i) {
        size += record_bytes(workspace.sessions[i], left_out[i] ? TextFacts{} : facts[i]);
    }
    std::string out;
    out.reserve(std::min(size, records_limit));
    out.append(container_magic);
    put_u32(out, static_cast<std::uint32_t>(workspace.sessions.size()));
    put_u32(out, static_cast<std::uint32_t>(workspace.active));
    for (std::size_t i = 0; i < workspace.sessions.size(); ++i) {
        append_record(out, workspace.sessions[i], facts[i], left_out[i], records_limit);
    }
    return out;
}

std::vector<TextFacts> facts_of(const Workspace& workspace) {
    std::vector<TextFacts> facts(workspace.sessions.size());
    std::ranges::transform(workspace.sessions, facts.begin(),
                           [](const Session& session) { return text_facts(session.text); });
    return facts;
}

} // namespace

std::string encode_tab_recovery(const Workspace& workspace) {
    return encode_container(workspace, facts_of(workspace),
                            std::vector<bool>(workspace.sessions.size()), container_records_limit);
}

const std::string& record_path(const Session& session) {
    return session.path.empty() && session.other_version_of ? *session.other_version_of
                                                            : session.path;
}

namespace {

void check_container_magic(std::string_view bytes, std::uint64_t limit) {
    if (bytes.size() < container_header_size || bytes.size() > limit ||
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

// Every record checks itself and says its own length, so neither the header's count nor one
// record whose contents fail their checks is needed to find the others: a flipped bit in the
// count, or in one draft's text, must not cost the records after it. Reads records in order,
// skipping those that fail, until the framing is lost, the file ends or the tab limit is reached;
// the active index follows its record when that one is kept.
Workspace intact_records(std::string_view bytes) {
    Workspace workspace;
    try {
        check_container_magic(bytes, store_records_limit);
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
    check_container_magic(bytes, recovery_container_limit);
    const std::uint32_t count = get_u32(bytes, 8);
    const std::uint32_t active = get_u32(bytes, 12);
    if (count == 0 || count > recovery_max_tabs || active >= count) {
        fail("Invalid tab recovery index/count.");
    }
    Workspace workspace{.sessions = {}, .active = active};
    workspace.sessions.reserve(count);
    std::size_t offset = container_header_size;
    for (std::uint32_t i = 0; i < count; ++i) {
        workspace.sessions.push_back(read_recovery_record(next_entry(bytes, offset)));
    }
    if (offset != bytes.size()) {
        fail("Unexpected data after tab recovery.");
    }
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
    if (workspace.active >= workspace.sessions.size()) {
        workspace.active = workspace.sessions.empty() ? 0 : workspace.sessions.size() - 1;
    }
    return salvaged;
}

Session read_recovery_record(std::string_view bytes) {
    if (bytes.size() < record_header_size || bytes.size() > recovery_record_limit ||
        bytes.substr(0, 8) != record_magic) {
        fail("Recovery data is incomplete or unsupported.");
    }
    const auto encoding = static_cast<std::uint8_t>(bytes[8]);
    const auto line_ending = static_cast<std::uint8_t>(bytes[9]);
    const auto draft = static_cast<std::uint8_t>(bytes[10]);
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

std::uint64_t store_fingerprint(std::string_view bytes) {
    return fnv_step(fnv_basis, bytes);
}

namespace {

constexpr std::string_view store_magic("PLXSTOR3", 8);
constexpr std::string_view store_tail_magic("PLXTAIL3", 8);
// An earlier development version's store: its records are read as no stamp vouches for them.
constexpr std::string_view earlier_store_magic("PLXSTOR2", 8);
// At each end of a store file: its magic and the size of the stamp's copy there.
constexpr std::size_t store_end_size = 8 + 4;
// run, store, version, the container's size and fingerprint; then the counted lists.
constexpr std::size_t stamp_fixed_size = 5 * 8;
constexpr std::size_t stamp_id_size = 8 + 8;
constexpr std::size_t entry_size = 4 * 8 + 4 + 4;
// An entry's version counts stores, far below these bits.
constexpr std::uint64_t entry_is_draft = std::uint64_t{1} << 63;
constexpr std::uint64_t entry_let_go = std::uint64_t{1} << 62;
constexpr std::uint64_t entry_text_left_out = std::uint64_t{1} << 61;
constexpr std::uint64_t entry_other_version = std::uint64_t{1} << 60;
constexpr std::uint64_t entry_earlier = std::uint64_t{1} << 59;
constexpr std::uint64_t entry_flags =
    entry_is_draft | entry_let_go | entry_text_left_out | entry_other_version | entry_earlier;

void put_u64(std::string& out, std::uint64_t value) {
    put_u32(out, static_cast<std::uint32_t>(value & 0xFFFFFFFF));
    put_u32(out, static_cast<std::uint32_t>(value >> 32));
}

std::uint64_t get_u64(std::string_view bytes, std::size_t offset) {
    return get_u32(bytes, offset) | (static_cast<std::uint64_t>(get_u32(bytes, offset + 4)) << 32);
}

std::uint64_t version_bits(const StoreEntry& entry) {
    return (entry.version & ~entry_flags) | (entry.draft ? entry_is_draft : 0) |
           (entry.let_go ? entry_let_go : 0) | (entry.text_left_out ? entry_text_left_out : 0) |
           (entry.other_version ? entry_other_version : 0) | (entry.earlier ? entry_earlier : 0);
}

// The stamp's bytes: everything but the store file's magics and sizes.
std::string encode_stamp(const StoreStamp& stamp, std::string_view container) {
    if (stamp.replaces.size() > store_stamp_list_limit ||
        stamp.taken_over.size() > store_stamp_list_limit ||
        stamp.entries.size() > recovery_max_tabs + store_gone_limit) {
        fail("Invalid tab session.");
    }
    std::string out;
    for (const std::uint64_t value :
         {stamp.run, stamp.store, stamp.version, std::uint64_t{container.size()},
          store_fingerprint(container)}) {
        put_u64(out, value);
    }
    put_u32(out, static_cast<std::uint32_t>(stamp.replaces.size()));
    for (const std::uint64_t fingerprint : stamp.replaces) {
        put_u64(out, fingerprint);
    }
    put_u32(out, static_cast<std::uint32_t>(stamp.taken_over.size()));
    for (const StoreId& id : stamp.taken_over) {
        put_u64(out, id.run);
        put_u64(out, id.store);
    }
    put_u32(out, static_cast<std::uint32_t>(stamp.entries.size()));
    for (const StoreEntry& entry : stamp.entries) {
        put_u64(out, entry.tab);
        put_u64(out, version_bits(entry));
        put_u64(out, entry.fingerprint);
        put_u64(out, entry.file_version);
        put_u32(out, entry.offset);
        put_u32(out, entry.size);
    }
    put_u64(out, store_fingerprint(out));
    return out;
}

// The stamp whose bytes are `bytes`, with the size and fingerprint it gives its container;
// nothing when they do not check out.
struct FoundStamp {
    StoreStamp stamp;
    std::size_t size = 0;
    std::uint64_t container_size = 0;
    std::uint64_t container_fingerprint = 0;
};
std::optional<FoundStamp> parse_stamp(std::string_view bytes) {
    if (bytes.size() < stamp_fixed_size + 3 * 4 + 8 ||
        store_fingerprint(bytes.substr(0, bytes.size() - 8)) != get_u64(bytes, bytes.size() - 8)) {
        return std::nullopt;
    }
    FoundStamp found;
    found.size = bytes.size();
    bytes.remove_suffix(8);
    StoreStamp& stamp = found.stamp;
    stamp.run = get_u64(bytes, 0);
    stamp.store = get_u64(bytes, 8);
    stamp.version = get_u64(bytes, 16);
    found.container_size = get_u64(bytes, 24);
    found.container_fingerprint = get_u64(bytes, 32);
    std::size_t offset = stamp_fixed_size;
    // The count at `offset` of items of `size` bytes, at most `limit`: where they start, moving
    // past them; nothing when they do not fit.
    auto counted = [&](std::size_t size, std::size_t limit) -> std::optional<std::size_t> {
        if (bytes.size() - offset < 4) {
            return std::nullopt;
        }
        const std::uint32_t count = get_u32(bytes, offset);
        offset += 4;
        if (count > limit || (bytes.size() - offset) / size < count) {
            return std::nullopt;
        }
        offset += size * count;
        return count;
    };
    const std::size_t replaces_at = offset + 4;
    const auto replaces = counted(8, store_stamp_list_limit);
    const std::size_t ids_at = offset + 4;
    const auto ids = replaces ? counted(stamp_id_size, store_stamp_list_limit) : std::nullopt;
    const std::size_t entries_at = offset + 4;
    const auto entries =
        ids ? counted(entry_size, recovery_max_tabs + store_gone_limit) : std::nullopt;
    if (!entries || offset != bytes.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < *replaces; ++i) {
        stamp.replaces.push_back(get_u64(bytes, replaces_at + 8 * i));
    }
    for (std::size_t i = 0, at = ids_at; i < *ids; ++i, at += stamp_id_size) {
        stamp.taken_over.push_back({.run = get_u64(bytes, at), .store = get_u64(bytes, at + 8)});
    }
    for (std::size_t i = 0, at = entries_at; i < *entries; ++i, at += entry_size) {
        const std::uint64_t bits = get_u64(bytes, at + 8);
        stamp.entries.push_back({.tab = get_u64(bytes, at),
                                 .version = bits & ~entry_flags,
                                 .fingerprint = get_u64(bytes, at + 16),
                                 .file_version = get_u64(bytes, at + 24),
                                 .offset = get_u32(bytes, at + 32),
                                 .size = get_u32(bytes, at + 36),
                                 .draft = (bits & entry_is_draft) != 0,
                                 .let_go = (bits & entry_let_go) != 0,
                                 .text_left_out = (bits & entry_text_left_out) != 0,
                                 .other_version = (bits & entry_other_version) != 0,
                                 .earlier = (bits & entry_earlier) != 0});
    }
    return found;
}

// The stamp of `size` bytes at `at` when it checks out.
std::optional<FoundStamp> stamp_at(std::string_view bytes, std::size_t at, std::size_t size) {
    if (at > bytes.size() || size > bytes.size() - at) {
        return std::nullopt;
    }
    return parse_stamp(bytes.substr(at, size));
}

// A stamp both of whose copies went bad, each in other bytes: where the copies differ, the
// choice of bytes that checks out. Each size is tried that either copy gives, or the container's
// place; no choice is made among more differences than a few spoilt bytes make.
std::optional<FoundStamp> stamp_of_both_copies(std::string_view bytes, std::size_t container_at) {
    constexpr std::size_t most_differences = 8;
    if (bytes.size() < 2 * store_end_size) {
        return std::nullopt;
    }
    std::vector<std::size_t> sizes{get_u32(bytes, 8),
                                   get_u32(bytes, bytes.size() - store_end_size)};
    if (container_at != std::string_view::npos) {
        sizes.push_back(container_at - store_end_size);
    }
    for (const std::size_t size : sizes) {
        if (size > (bytes.size() - 2 * store_end_size) / 2) {
            continue;
        }
        const std::string_view head = bytes.substr(store_end_size, size);
        const std::string_view tail = bytes.substr(bytes.size() - store_end_size - size, size);
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
            if (std::optional<FoundStamp> found = parse_stamp(choice)) {
                return found;
            }
        }
    }
    return std::nullopt;
}

// The stamp heads the file and a copy of it ends the file, so that one damaged byte, or a file
// cut short, still leaves a copy that places every record.
StoreFile split_head_stamped(std::string_view bytes) {
    StoreFile file{.container = {}, .stamp = std::nullopt, .intact = false, .this_version = true};
    if (bytes.size() < store_end_size) {
        return file;
    }
    const std::size_t head_size = get_u32(bytes, 8);
    std::optional<FoundStamp> found = stamp_at(bytes, store_end_size, head_size);
    const bool head_whole = found.has_value();
    std::size_t tail_size = 0;
    if (bytes.size() >= 2 * store_end_size && bytes.ends_with(store_tail_magic)) {
        tail_size = get_u32(bytes, bytes.size() - store_end_size);
        tail_size = tail_size <= bytes.size() - store_end_size ? tail_size : 0;
    }
    if (!found && tail_size != 0) {
        found = stamp_at(bytes, bytes.size() - store_end_size - tail_size, tail_size);
    }
    const std::size_t container_magic_at = bytes.find(container_magic, store_end_size);
    if (!found) {
        found = stamp_of_both_copies(bytes, container_magic_at);
    }
    // Both copies of the stamp have one size, so a stamp that checks out places the container
    // whatever damage its own magic took; without one, only that magic can.
    const std::size_t container_at =
        std::min(found ? store_end_size + found->size : container_magic_at, bytes.size());
    std::string_view rest = bytes.substr(container_at);
    if (found) {
        rest = rest.substr(0, std::min<std::uint64_t>(rest.size(), found->container_size));
        const std::size_t after = container_at + rest.size();
        file.intact = bytes.starts_with(store_magic) && head_whole && tail_size == head_size &&
                      rest.size() == found->container_size &&
                      after + tail_size + store_end_size == bytes.size() &&
                      bytes.substr(after, tail_size) == bytes.substr(store_end_size, head_size) &&
                      found->container_fingerprint == store_fingerprint(rest);
        file.stamp = std::move(found->stamp);
    } else if (tail_size == head_size && head_size >= stamp_id_size &&
               2 * (store_end_size + head_size) <= bytes.size()) {
        const std::string_view head = bytes.substr(store_end_size, stamp_id_size);
        if (bytes.substr(bytes.size() - store_end_size - tail_size, stamp_id_size) == head) {
            file.unchecked_id = StoreId{.run = get_u64(head, 0), .store = get_u64(head, 8)};
        }
    }
    file.container = rest;
    return file;
}

} // namespace

std::string encode_store_file(const Workspace& workspace, const StoreStamp& stamp) {
    if (stamp.entries.size() < workspace.sessions.size()) {
        fail("Invalid tab session.");
    }
    // When every text does not fit the container's limit, saved tabs are stored without theirs,
    // the largest first, as far as that makes room; a draft is never left out, past the limit.
    const std::vector<TextFacts> facts = facts_of(workspace);
    std::vector<bool> left_out(workspace.sessions.size());
    std::uint64_t size = container_header_size;
    std::vector<std::size_t> saved;
    for (std::size_t i = 0; i < workspace.sessions.size(); ++i) {
        size += record_bytes(workspace.sessions[i], facts[i]);
        if (!workspace.sessions[i].draft) {
            saved.push_back(i);
        }
    }
    std::ranges::sort(saved, std::greater{}, [&](std::size_t i) { return facts[i].utf8_size; });
    for (const std::size_t i : saved) {
        if (size <= container_records_limit) {
            break;
        }
        left_out[i] = true;
        size -= facts[i].utf8_size;
    }
    const std::string container = encode_container(workspace, facts, left_out, store_records_limit);
    StoreStamp placed = stamp;
    std::size_t offset = container_header_size;
    for (std::size_t i = 0; i < workspace.sessions.size(); ++i) {
        StoreEntry& entry = placed.entries[i];
        entry.size = get_u32(container, offset);
        entry.offset = static_cast<std::uint32_t>(offset + 4);
        offset += 4 + entry.size;
        if (left_out[i]) {
            entry.text_left_out = true;
            entry.fingerprint = session_fingerprint(
                read_recovery_record(std::string_view(container).substr(entry.offset, entry.size)));
        }
    }
    const std::string head = encode_stamp(placed, container);
    std::string out;
    out.reserve(2 * store_end_size + 2 * head.size() + container.size());
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
    const std::string& path = record_path(session);
    std::string head;
    head.push_back(static_cast<char>(session.encoding));
    head.push_back(static_cast<char>(session.line_ending));
    put_u64(head, path.size());
    std::uint64_t hash = fnv_step(fnv_step(fnv_basis, head), path);
    for (const char16_t unit : session.text) {
        hash = fnv_byte(fnv_byte(hash, unit & 0xFF), unit >> 8);
    }
    return hash;
}

StoreFile split_store_file(std::string_view bytes) {
    // Either end says which version wrote the file, so one spoiled magic still does.
    if (bytes.starts_with(store_magic) || bytes.ends_with(store_tail_magic)) {
        return split_head_stamped(bytes);
    }
    const std::size_t earlier = bytes.starts_with(earlier_store_magic) ? bytes.find(container_magic)
                                                                       : std::string_view::npos;
    const std::string_view container =
        earlier == std::string_view::npos ? bytes : bytes.substr(earlier);
    return {.container = container, .stamp = std::nullopt, .intact = true, .this_version = false};
}

SalvagedWorkspace read_stamped_records(std::string_view container,
                                       const std::vector<StoreEntry>& entries) {
    const bool header_whole =
        container.size() >= container_header_size && container.starts_with(container_magic);
    const std::size_t active = header_whole ? get_u32(container, 12) : recovery_max_tabs;
    SalvagedWorkspace read{.workspace = {}, .whole = header_whole};
    Workspace& workspace = read.workspace;
    workspace.active = recovery_max_tabs;
    std::size_t records = 0;
    // Where the container's framing places the next record: a whole container has each where its
    // entry says.
    std::size_t framed = container_header_size + 4;
    for (const StoreEntry& entry : entries) {
        if (entry.let_go || entry.earlier) {
            continue;
        }
        const std::size_t index = records++;
        read.whole = read.whole && entry.offset == framed && framed <= container.size() &&
                     get_u32(container, framed - 4) == entry.size;
        framed = std::size_t{entry.offset} + entry.size + 4;
        Session session;
        try {
            if (entry.offset > container.size() || entry.size > container.size() - entry.offset) {
                fail("Invalid tab recovery length.");
            }
            session = read_recovery_record(container.substr(entry.offset, entry.size));
        } catch (const std::runtime_error&) {
            read.whole = false;
            continue;
        }
        if (session_fingerprint(session) != entry.fingerprint) {
            read.whole = false;
            continue;
        }
        session.tab = entry.tab;
        session.version = entry.version;
        session.file_version = entry.file_version;
        session.draft = entry.draft && !entry.text_left_out;
        session.text_left_out = entry.text_left_out;
        if (entry.other_version) {
            session.other_version_of = std::exchange(session.path, {});
        }
        if (index == active) {
            workspace.active = workspace.sessions.size();
        }
        workspace.sessions.push_back(std::move(session));
    }
    read.whole = read.whole && get_u32(container, 8) == records && active < records &&
                 framed - 4 == container.size();
    if (workspace.active >= workspace.sessions.size()) {
        workspace.active = workspace.sessions.empty() ? 0 : workspace.sessions.size() - 1;
    }
    return read;
}

} // namespace pellix
