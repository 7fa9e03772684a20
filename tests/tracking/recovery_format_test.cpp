#include "tracking/recovery_format.h"
#include "tests/message_of.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

namespace pellix {
namespace {

using namespace std::string_literals;

using test::message_of;

std::string u32le(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    return bytes;
}

std::string record_bytes(std::string_view path, std::string_view text, char encoding = 0,
                         char line_ending = 1, char draft = 0) {
    return "PELLIX2\n"s + encoding + line_ending + draft +
           u32le(static_cast<std::uint32_t>(path.size())) +
           u32le(static_cast<std::uint32_t>(text.size())) + std::string(path) + std::string(text);
}

std::string container_bytes(std::uint32_t count, std::uint32_t active,
                            const std::vector<std::string>& records) {
    std::string bytes = "PLXTABS1"s + u32le(count) + u32le(active);
    for (const std::string& record : records) {
        bytes += u32le(static_cast<std::uint32_t>(record.size())) + record;
    }
    return bytes;
}

Session session_of(std::u16string text, std::string path, bool draft = true) {
    Session session;
    session.text = std::move(text);
    session.path = std::move(path);
    session.draft = draft;
    return session;
}

TEST(RecoveryFormat, OneTabWorkspaceHasExactBytes) {
    Workspace workspace{{session_of(u"x\ny", "C:\\a.md")}, 0};
    const std::string expected = "PLXTABS1\x01\0\0\0\0\0\0\0\x1D\0\0\0PELLIX2\n\0\x01\x01"
                                 "\x07\0\0\0\x03\0\0\0C:\\a.md"
                                 "x\ny"s;
    EXPECT_EQ(encode_tab_recovery(workspace), expected);
}

TEST(RecoveryFormat, RoundTripKeepsEverySession) {
    Workspace workspace;
    for (std::uint32_t i = 0; i < 8; ++i) {
        Session session;
        session.text = u"line \U0001F600 " + std::u16string(i, u'\x00E9') + u"\n\tend";
        session.encoding = static_cast<Encoding>(i);
        session.line_ending = static_cast<LineEnding>(i % 3);
        session.path =
            i % 2 ? "C:\\Users\\Zo\xC3\xAB\\\xE3\x83\x8E" + std::to_string(i) + ".md" : "";
        session.draft = i % 3 == 0;
        workspace.sessions.push_back(session);
    }
    workspace.sessions.push_back(Session{});
    workspace.active = 5;
    EXPECT_EQ(read_tab_recovery(encode_tab_recovery(workspace)), workspace);
}

TEST(RecoveryFormat, MinimalRecordIsAnEmptyUntitledSession) {
    const std::string bytes = record_bytes("", "", 0, 0, 0);
    ASSERT_EQ(bytes.size(), 19u);
    Session session = read_recovery_record(bytes);
    EXPECT_TRUE(session.text.empty());
    EXPECT_TRUE(session.path.empty());
    EXPECT_EQ(session.line_ending, LineEnding::lf);
    EXPECT_FALSE(session.draft);
    EXPECT_TRUE(read_recovery_record(record_bytes("p", "t", 7, 2, 1)).draft);
}

TEST(RecoveryFormat, RecordReaderMessages) {
    const std::string incomplete = "Recovery data is incomplete or unsupported.";
    const std::string settings = "Invalid recovery settings.";
    const std::string lengths = "Recovery lengths are invalid.";
    auto read = [](std::string bytes) { return message_of([&] { read_recovery_record(bytes); }); };
    EXPECT_EQ(read(record_bytes("", "").substr(0, 18)), incomplete);
    EXPECT_EQ(read("PELLIX3\n" + record_bytes("", "").substr(8)), incomplete);
    EXPECT_EQ(read(record_bytes("", std::string(0x2800000 - 18, 'a'))), incomplete);
    EXPECT_EQ(read(record_bytes("", "", 8)), settings);
    EXPECT_EQ(read(record_bytes("", "", 0, 3)), settings);
    EXPECT_EQ(read(record_bytes("", "", 0, 1, 2)), settings);

    std::string text_short = record_bytes("p", "abc");
    text_short[15] = 2; // T one less than the bytes that follow the path
    EXPECT_EQ(read(text_short), lengths);
    std::string text_long = record_bytes("p", "abc");
    text_long[15] = 4;
    EXPECT_EQ(read(text_long), lengths);
    std::string path_past_end = record_bytes("p", "");
    path_past_end[11] = 2;
    EXPECT_EQ(read(path_past_end), lengths);
    const std::string long_path(0x20001, 'p');
    EXPECT_EQ(read(record_bytes(long_path, "")), lengths);
    EXPECT_NO_THROW(read_recovery_record(record_bytes(long_path.substr(1), "")));

    EXPECT_EQ(read(record_bytes("a\0b"s, "")), "Recovery path contains a NUL character.");
    EXPECT_EQ(read(record_bytes("\xC3", "")), "Incomplete UTF-8 sequence.");
    EXPECT_EQ(read(record_bytes("", "\xFF")), "Invalid UTF-8. Use UTF-8 or BOM-marked UTF-16.");
    EXPECT_EQ(read(record_bytes("", "a\0b"s)), "Invalid recovery text.");
    EXPECT_EQ(read(record_bytes("", std::string(0x800001, 'a'))), "Invalid recovery text.");
    EXPECT_EQ(read_recovery_record(record_bytes("", std::string(0x800000, 'a'))).text.size(),
              0x800000u);
}

TEST(RecoveryFormat, ContainerReaderMessages) {
    const std::string incomplete = "Tab recovery is incomplete or unsupported.";
    const std::string count = "Invalid tab recovery index/count.";
    const std::string length = "Invalid tab recovery length.";
    const std::string good = record_bytes("p", "text");
    auto read = [](std::string bytes) { return message_of([&] { read_tab_recovery(bytes); }); };

    EXPECT_EQ(read(container_bytes(1, 0, {}).substr(0, 15)), incomplete);
    EXPECT_EQ(read("PLXTABS2" + container_bytes(1, 0, {good}).substr(8)), incomplete);
    std::string oversized = container_bytes(1, 0, {good});
    oversized.resize(0x10000001, 'x');
    EXPECT_EQ(read(oversized), incomplete);

    EXPECT_EQ(read(container_bytes(0, 0, {})), count);
    EXPECT_EQ(read(container_bytes(129, 0, {})), count);
    EXPECT_EQ(read(container_bytes(2, 2, {good, good})), count);
    EXPECT_EQ(read(container_bytes(1, 0, {})), "Truncated tab recovery.");
    EXPECT_EQ(read(container_bytes(2, 0, {good}) + "abc"), "Truncated tab recovery.");

    std::string one_short = container_bytes(1, 0, {good});
    one_short.pop_back();
    EXPECT_EQ(read(one_short), length);
    EXPECT_EQ(read(container_bytes(1, 0, {}) + u32le(0x2800001)), length);
    EXPECT_EQ(read(container_bytes(1, 0, {good}) + "x"), "Unexpected data after tab recovery.");
    EXPECT_EQ(read(container_bytes(2, 1, {good, record_bytes("", "", 0, 0, 9)})),
              "Invalid recovery settings.");

    Workspace full = read_tab_recovery(
        container_bytes(128, 127, std::vector<std::string>(128, record_bytes("", "x"))));
    EXPECT_EQ(full.sessions.size(), 128u);
    EXPECT_EQ(full.active, 127u);
}

TEST(RecoveryFormat, SalvageKeepsEveryRecordThatChecksWhileTheFramingHolds) {
    const Workspace stored{{session_of(u"first draft", "C:\\a.md"),
                            session_of(u"zweite \u00C4nderung\n", ""),
                            session_of(u"third \U0001F600", "C:\\c.txt")},
                           2};
    const std::string bytes = encode_tab_recovery(stored);
    // Where each entry (its length, then its record) ends.
    std::vector<std::size_t> ends;
    for (std::size_t offset = 16; offset < bytes.size();) {
        offset += 4 + static_cast<unsigned char>(bytes[offset]);
        ends.push_back(offset);
    }
    ASSERT_EQ(ends.size(), 3u);
    auto first = [&](std::size_t count) {
        return std::vector<Session>(stored.sessions.begin(), stored.sessions.begin() + count);
    };

    const SalvagedWorkspace whole = salvage_tab_recovery(bytes);
    EXPECT_TRUE(whole.whole);
    EXPECT_EQ(whole.workspace, stored);
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        const SalvagedWorkspace salvaged = salvage_tab_recovery(bytes.substr(0, cut));
        const auto intact = static_cast<std::size_t>(
            std::count_if(ends.begin(), ends.end(), [&](std::size_t end) { return end <= cut; }));
        EXPECT_FALSE(salvaged.whole) << cut;
        EXPECT_EQ(salvaged.workspace.sessions, first(intact)) << cut;
        // The active tab was the last one, so the last intact one stands in for it.
        EXPECT_EQ(salvaged.workspace.active, intact == 0 ? 0 : intact - 1) << cut;
    }
    // In valid UTF-8, and in every length and setting of a record, a flipped top bit always
    // breaks a check, wherever it falls. Inside a record only that record is lost: the ones after
    // it say their own lengths. In a length the framing is lost, and with it what follows.
    for (std::size_t record = 0; record < ends.size(); ++record) {
        const std::size_t start = record == 0 ? 16 : ends[record - 1];
        std::vector<Session> others = stored.sessions;
        others.erase(others.begin() + static_cast<std::ptrdiff_t>(record));
        for (std::size_t at = start; at < ends[record]; ++at) {
            std::string damaged = bytes;
            damaged[at] = static_cast<char>(damaged[at] ^ 0x80);
            const SalvagedWorkspace salvaged = salvage_tab_recovery(damaged);
            EXPECT_FALSE(salvaged.whole) << at;
            EXPECT_EQ(salvaged.workspace.sessions, at < start + 4 ? first(record) : others) << at;
            EXPECT_LT(salvaged.workspace.active,
                      std::max<std::size_t>(1, salvaged.workspace.sessions.size()))
                << at;
        }
    }
    // The active record kept where it is found after a skipped one; the last when it was skipped.
    std::string second_bad = bytes;
    second_bad[ends[1] - 1] = '\xFF';
    EXPECT_EQ(salvage_tab_recovery(second_bad).workspace.active, 1u);
    const SalvagedWorkspace trailing = salvage_tab_recovery(bytes + "x");
    EXPECT_FALSE(trailing.whole);
    EXPECT_EQ(trailing.workspace, stored);
    // A flipped bit in the header's count or active index costs no record: each checks itself.
    for (std::size_t at = 8; at < 16; ++at) {
        for (int bit = 0; bit < 8; ++bit) {
            std::string damaged = bytes;
            damaged[at] = static_cast<char>(damaged[at] ^ (1 << bit));
            const SalvagedWorkspace salvaged = salvage_tab_recovery(damaged);
            EXPECT_EQ(salvaged.workspace.sessions, stored.sessions) << at << ":" << bit;
            EXPECT_LT(salvaged.workspace.active, 3u) << at << ":" << bit;
        }
    }
    // A count of one too few: the record past it is still read; a wrong magic reads nothing.
    EXPECT_EQ(
        salvage_tab_recovery(container_bytes(1, 5, {record_bytes("", "a"), record_bytes("", "b")}))
            .workspace,
        (Workspace{{session_of(u"a", "", false), session_of(u"b", "", false)}, 1}));
    std::string bad_magic = bytes;
    bad_magic[7] = '2';
    EXPECT_TRUE(salvage_tab_recovery(bad_magic).workspace.sessions.empty());
}

// A store of an earlier development version is read as its container, which no stamp vouches
// for; a file an earlier release wrote is all container.
TEST(RecoveryFormat, AnEarlierStoreIsReadAsItsContainerWithNoStamp) {
    const std::string container =
        container_bytes(2, 0, {record_bytes("", "first"), record_bytes("", "last")});
    const std::string stamp(40, 'S');
    const std::string earlier =
        "PLXSTOR2"s + u32le(40) + stamp + container + stamp + u32le(40) + "PLXTAIL2";
    for (const std::string& file : {container, earlier}) {
        const StoreFile split = split_store_file(file);
        EXPECT_EQ(split.container.substr(0, container.size()), container);
        EXPECT_FALSE(split.stamp);
        EXPECT_FALSE(split.this_version);
        EXPECT_EQ(salvage_tab_recovery(split.container).workspace.sessions.size(), 2u);
    }
    EXPECT_THROW(encode_store_file({.sessions = {session_of(u"a", "")}, .active = 0},
                                   {.run = 1,
                                    .store = 1,
                                    .replaces = std::vector<std::uint64_t>(17),
                                    .taken_over = {},
                                    .version = 0,
                                    .entries = {StoreEntry{}}}),
                 std::runtime_error);
}

// A store file of this version, and each of its bytes spoiled or the file cut there: it never
// reads as whole, and a stamp read from it is always the one written.
TEST(RecoveryFormat, AStoreFileCutOrSpoiledAnywhereIsDamagedAndKeepsOnlyItsTrueStamp) {
    const Workspace workspace{
        .sessions = {session_of(u"one", "a.md", true), session_of(u"two", "", true)}, .active = 1};
    const StoreStamp stamp{
        .run = 3,
        .store = 4,
        .replaces = {77},
        .taken_over = {{.run = 2, .store = 9}},
        .version = 1234,
        .entries = {{.tab = 11, .version = 1000, .fingerprint = 5, .draft = true},
                    {.tab = 12, .version = 1234, .fingerprint = 6},
                    {.tab = 13, .version = 1100, .fingerprint = 8, .let_go = true},
                    {.tab = 11, .fingerprint = 4, .earlier = true}}};
    const std::string bytes = encode_store_file(workspace, stamp);
    const StoreFile split = split_store_file(bytes);
    EXPECT_TRUE(split.intact);
    ASSERT_TRUE(split.stamp);
    // The stamp written places each record.
    EXPECT_EQ(split.stamp->entries[1].offset, 16 + 4 + 19 + 4 + 3 + 4);
    EXPECT_EQ(split.stamp->entries[1].size, 19 + 3);
    StoreStamp placed = stamp;
    for (std::size_t i = 0; i < 2; ++i) {
        placed.entries[i].offset = split.stamp->entries[i].offset;
        placed.entries[i].size = split.stamp->entries[i].size;
    }
    EXPECT_EQ(split.stamp, placed);
    EXPECT_EQ(read_tab_recovery(split.container), workspace);
    auto reads_whole = [](std::string_view file) {
        const StoreFile part = split_store_file(file);
        if (part.stamp) {
            return part.intact && salvage_tab_recovery(part.container).whole;
        }
        return salvage_tab_recovery(part.container).whole && !part.this_version;
    };
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        const std::string cut = bytes.substr(0, at);
        EXPECT_FALSE(reads_whole(cut)) << "cut at " << at;
        // Past the head's own stamp, the stamp still names every record.
        const std::optional<StoreStamp> cut_stamp = split_store_file(cut).stamp;
        EXPECT_TRUE(!cut_stamp || *cut_stamp == placed) << "cut at " << at;
        for (const int flip : {0x01, 0x08, 0x80}) {
            std::string spoiled = bytes;
            spoiled[at] = static_cast<char>(spoiled[at] ^ flip);
            EXPECT_FALSE(reads_whole(spoiled)) << "byte " << at << " ^ " << flip;
            const StoreFile part = split_store_file(spoiled);
            // One spoiled byte leaves one whole copy of the stamp.
            EXPECT_EQ(part.stamp, placed) << "byte " << at << " ^ " << flip;
        }
    }
}

// A stamp whose entries vouch for each session of `workspace`, as a store writes it.
StoreStamp stamp_vouching_for(const Workspace& workspace) {
    StoreStamp stamp{
        .run = 3, .store = 4, .replaces = {}, .taken_over = {}, .version = 1234, .entries = {}};
    for (std::size_t i = 0; i < workspace.sessions.size(); ++i) {
        const Session& session = workspace.sessions[i];
        stamp.entries.push_back({.tab = 10 + i,
                                 .version = 1000 + i,
                                 .fingerprint = session_fingerprint(session),
                                 .draft = session.draft});
    }
    stamp.entries.push_back({.tab = 99, .version = 1200, .let_go = true});
    return stamp;
}

// Each spoiled byte of a store file costs at most the record it falls in, and nothing in its
// length; a cut costs the records it cuts off. Every record read is the one written, with its
// entry's tab and version, also where a spoiled byte makes one record's text another's and
// where two records hold one text.
TEST(RecoveryFormat, EachSpoiledByteCostsAtMostTheRecordItFallsIn) {
    const Workspace workspace{
        .sessions = {session_of(u"Note 1", "", true),
                     session_of(u"Shopping list: milk, \u00C4", "c.txt", false),
                     session_of(u"Note 3", "", true), session_of(u"", "", true),
                     session_of(u"Note 1", "", true), session_of(u"", "", true)},
        .active = 1};
    const StoreStamp stamp = stamp_vouching_for(workspace);
    const std::string bytes = encode_store_file(workspace, stamp);
    std::vector<Session> stored = workspace.sessions;
    for (std::size_t i = 0; i < stored.size(); ++i) {
        stored[i].tab = stamp.entries[i].tab;
        stored[i].version = stamp.entries[i].version;
    }
    // Where each record (its length first) starts and ends in the file.
    std::vector<std::pair<std::size_t, std::size_t>> records;
    for (std::size_t at = bytes.find("PLXTABS1") + 16; records.size() < stored.size();) {
        const std::size_t end = at + 4 + static_cast<unsigned char>(bytes[at]);
        records.emplace_back(at, end);
        at = end;
    }
    auto read = [](std::string_view file) {
        const StoreFile split = split_store_file(file);
        return split.stamp ? read_stamped_records(split.container, split.stamp->entries)
                           : SalvagedWorkspace{.workspace = {}, .whole = false};
    };
    const SalvagedWorkspace whole = read(bytes);
    EXPECT_TRUE(whole.whole);
    EXPECT_EQ(whole.workspace, (Workspace{stored, 1}));
    constexpr std::size_t draft_flag = 4 + 10;
    auto all_but = [&](std::size_t at, int flip) {
        std::vector<Session> kept;
        for (std::size_t i = 0; i < stored.size(); ++i) {
            // A record's length is said again by its header, and a flag that still reads as one
            // by its entry.
            const bool flag = at == records[i].first + draft_flag && flip == 0x01;
            if (at < records[i].first + 4 || at >= records[i].second || flag) {
                kept.push_back(stored[i]);
            }
        }
        return kept;
    };
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        for (const int flip : {0x01, 0x02, 0x08, 0x80}) {
            std::string spoiled = bytes;
            spoiled[at] = static_cast<char>(spoiled[at] ^ flip);
            const SalvagedWorkspace salvaged = read(spoiled);
            EXPECT_EQ(salvaged.workspace.sessions, all_but(at, flip))
                << "byte " << at << " ^ " << flip;
            EXPECT_LT(salvaged.workspace.active, salvaged.workspace.sessions.size());
        }
        const std::size_t head_end = bytes.find("PLXTABS1");
        if (at >= head_end) {
            std::vector<Session> before;
            for (std::size_t i = 0; i < stored.size() && records[i].second <= at; ++i) {
                before.push_back(stored[i]);
            }
            EXPECT_EQ(read(bytes.substr(0, at)).workspace.sessions, before) << "cut at " << at;
        }
    }
    // A length and the record after it spoiled together: the record whose bytes stand still
    // comes back.
    std::string twice = bytes;
    twice[records[0].first + 1] ^= 0x40;
    twice[records[1].first + 6] ^= 0x40;
    stored.erase(stored.begin() + 1);
    EXPECT_EQ(read(twice).workspace.sessions, stored);
}

// Both copies of the stamp spoiled, sizes included: where they went bad in other bytes, a choice
// between them gives back the stamp written, and no spoiling ever gives another.
TEST(RecoveryFormat, AStampSpoiledInBothCopiesInOtherBytesIsStillKnown) {
    const Workspace workspace{.sessions = {session_of(u"one", "", true)}, .active = 0};
    const StoreStamp stamp{
        .run = 3,
        .store = 4,
        .replaces = {77},
        .taken_over = {},
        .version = 1234,
        .entries = {{.tab = 11, .version = 1000, .fingerprint = 5, .draft = true},
                    {.tab = 13, .version = 900, .let_go = true}}};
    const std::string bytes = encode_store_file(workspace, stamp);
    const StoreStamp placed = *split_store_file(bytes).stamp;
    constexpr std::size_t size_field = 4;
    constexpr std::size_t head_at = 8 + 4;
    constexpr std::size_t tail_after = 4 + 8;
    const std::size_t size = bytes.find("PLXTABS1") - head_at;
    const std::size_t tail_at = bytes.size() - tail_after - size;
    for (std::size_t i = 0; i < size + size_field; ++i) {
        for (std::size_t j = 0; j < size + size_field; ++j) {
            std::string spoiled = bytes;
            spoiled[head_at - size_field + i] ^= 0x01;
            spoiled[tail_at + j] ^= 0x80;
            const StoreFile split = split_store_file(spoiled);
            EXPECT_FALSE(split.intact);
            const bool same_byte = i == j + size_field;
            if (!same_byte) {
                EXPECT_EQ(split.stamp, placed) << "head byte " << i << ", tail byte " << j;
            } else {
                EXPECT_TRUE(!split.stamp || *split.stamp == placed) << "byte " << i;
            }
        }
    }
}

TEST(RecoveryFormat, WriterRefusals) {
    auto encode = [](const Workspace& workspace) {
        return message_of([&] { encode_tab_recovery(workspace); });
    };
    Workspace many{std::vector<Session>(129), 0};
    EXPECT_EQ(encode(many), "Invalid tab session.");
    EXPECT_EQ(encode(Workspace{std::vector<Session>(2), 2}), "Invalid tab session.");

    const std::string limits = "Recovery data exceeds supported limits.";
    const std::string document = "Invalid recovery document.";
    auto one = [&](Session session) {
        // A valid first tab proves that each tab is checked when it is reached.
        return encode(Workspace{{session_of(u"ok", "ok"), std::move(session)}, 0});
    };
    EXPECT_EQ(one(session_of(std::u16string(0x800001, u'a'), "")), limits);
    EXPECT_EQ(one(session_of(u"", std::string(0x20001, 'p'))), limits);
    EXPECT_EQ(one(session_of(u"", "a\0b"s)), limits);
    EXPECT_EQ(one(session_of(u"a\0b"s, "")), document);
    Session bad_encoding;
    bad_encoding.encoding = static_cast<Encoding>(8);
    EXPECT_EQ(one(bad_encoding), document);
    Session bad_line_ending;
    bad_line_ending.line_ending = static_cast<LineEnding>(3);
    EXPECT_EQ(one(bad_line_ending), document);
    EXPECT_EQ(one(session_of(u"", "\xFF")), "Invalid UTF-8. Use UTF-8 or BOM-marked UTF-16.");
    EXPECT_EQ(one(session_of(u"\xDC00", "")), "Invalid UTF-16 surrogate.");
    EXPECT_EQ(one(session_of(u"\xD800", "")), "Incomplete UTF-16 surrogate pair.");
    EXPECT_NO_THROW(encode_tab_recovery(
        Workspace{{session_of(std::u16string(0x800000, u'a'), std::string(0x20000, 'p'))}, 0}));
}

TEST(RecoveryFormat, ContainerSizeLimitAtItsEdge) {
    // Ten tabs of 24 MiB of three-byte characters, then one sized so that the whole container is
    // exactly 256 MiB.
    Workspace workspace;
    for (int i = 0; i < 10; ++i) {
        workspace.sessions.push_back(session_of(std::u16string(0x800000, u'\x4E00'), ""));
    }
    workspace.sessions.push_back(session_of(std::u16string(5592315, u'\x4E00') + u"aa", ""));
    std::string bytes = encode_tab_recovery(workspace);
    EXPECT_EQ(bytes.size(), 0x10000000u);
    EXPECT_EQ(read_tab_recovery(bytes).sessions.size(), 11u);
    bytes.clear();
    bytes.shrink_to_fit();

    workspace.sessions.back().text += u'a';
    EXPECT_EQ(message_of([&] { encode_tab_recovery(workspace); }),
              "Tab recovery exceeds the 256 MiB limit.");
    // A store file keeps the drafts: saved tabs give up their texts, as few as make room.
    for (std::size_t i = 0; i < 3; ++i) {
        workspace.sessions[i].draft = false;
    }
    const std::string file = encode_store_file(workspace, stamp_vouching_for(workspace));
    const StoreFile split = split_store_file(file);
    const SalvagedWorkspace read = read_stamped_records(split.container, split.stamp->entries);
    EXPECT_TRUE(split.intact && read.whole);
    ASSERT_EQ(read.workspace.sessions.size(), 11u);
    EXPECT_EQ(std::count_if(read.workspace.sessions.begin(), read.workspace.sessions.end(),
                            [](const Session& s) { return s.text_left_out && s.text.empty(); }),
              1);
    EXPECT_EQ(read.workspace.sessions.back().text, workspace.sessions.back().text);
}

} // namespace
} // namespace pellix
