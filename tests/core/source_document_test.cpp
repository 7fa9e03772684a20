#include "core/source_document.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <cstdio>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace pellix {
namespace {

using u64 = std::uint64_t;
using NodePtr = SourceDocument::NodePtr;

std::vector<const SourceDocument::Node*> pieces_of(const NodePtr& root) {
    std::vector<const SourceDocument::Node*> out;
    std::function<void(const SourceDocument::Node*)> walk = [&](const SourceDocument::Node* n) {
        if (n) {
            walk(n->left.get());
            out.push_back(n);
            walk(n->right.get());
        }
    };
    walk(root.get());
    return out;
}

template <typename Call> void expect_message(Call call, const char* message) {
    try {
        call();
        ADD_FAILURE() << "no exception, expected: " << message;
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), message);
    }
}

// Every number a caller may observe, to prove that a failed call changed nothing.
struct Observed {
    std::u16string text;
    const void* root;
    std::array<u64, 2> selection;
    u64 numbers[9];
    size_t undo_entries, redo_entries;
    bool flags[2];
    bool operator==(const Observed&) const = default;
};

Observed observe(const SourceDocument& d) {
    return Observed{d.text(),
                    d.root.get(),
                    d.selection,
                    {d.last_change_start, d.last_change_old_end, d.last_change_new_end,
                     d.history_bytes, d.typing_end, d.state_id, d.saved_state_id, d.revision,
                     d.edit_count},
                    d.undo_entries.size(),
                    d.redo_entries.size(),
                    {d.forced_modified, d.typing_open}};
}

TEST(SourceDocumentTest, EmptyDocument) {
    SourceDocument doc;
    doc.assign(u"");
    EXPECT_EQ(doc.root, nullptr);
    EXPECT_EQ(doc.length(), 0u);
    EXPECT_EQ(doc.line_count(), 1u);
    EXPECT_EQ(doc.line_start(5), 0u);
    EXPECT_EQ(doc.line_of(3), 0u);
    EXPECT_EQ(doc.unit_at(0), u"");
    EXPECT_EQ(doc.boundary_before(4), 0u);
    EXPECT_EQ(doc.boundary_after(4), 0u);
    EXPECT_EQ(doc.text(), u"");
}

TEST(SourceDocumentTest, NormalisesAndValidates) {
    EXPECT_EQ(normalize_source(u"a\r\nb\rc\n\r\r\nd\r"), u"a\nb\nc\n\n\nd\n");
    EXPECT_EQ(normalize_source(u"\xD83D\xDE00x"), u"\xD83D\xDE00x");
    expect_message([] { normalize_source(std::u16string(u"a\0b", 3)); }, "Source contains NUL.");
    expect_message([] { normalize_source(u"a\xD83D"); }, "Invalid UTF-16.");
    expect_message([] { normalize_source(u"\xD83Dx"); }, "Invalid UTF-16.");
    expect_message([] { normalize_source(u"x\xDE00"); }, "Invalid UTF-16.");
    expect_message([] { normalize_source(u"\xD83D\xD83D\xDE00"); }, "Invalid UTF-16.");
    SourceDocument doc;
    doc.assign(u"x\r\ny\r");
    EXPECT_EQ(doc.text(), u"x\ny\n");
    EXPECT_EQ(doc.line_count(), 3u);
}

TEST(SourceDocumentTest, LengthLimitAtAndPastTheEdge) {
    SourceDocument doc;
    doc.assign(u"old");
    Observed before = observe(doc);
    std::u16string too_long(document_limit + 1, u'x');
    expect_message([&] { doc.assign(too_long); }, "Source exceeds the 8 MiB character limit.");
    EXPECT_THROW(doc.assign(too_long), std::length_error);
    EXPECT_EQ(observe(doc), before);

    too_long.pop_back();
    doc.assign(too_long);
    EXPECT_EQ(doc.length(), document_limit);
    EXPECT_EQ(doc.text(document_limit - 2, 10), u"xx");

    before = observe(doc);
    expect_message([&] { doc.replace(5, 5, u"y", true); },
                   "Source exceeds the 8 MiB character limit.");
    EXPECT_THROW(doc.replace(5, 5, u"y", false), std::length_error);
    EXPECT_EQ(observe(doc), before);
    doc.replace(5, 6, u"y", false); // same length is still allowed
    EXPECT_EQ(doc.text(4, 3), u"xyx");
}

TEST(SourceDocumentTest, FailedReplaceChangesNothing) {
    SourceDocument doc;
    doc.assign(u"abc");
    doc.replace(1, 1, u"x", true);
    Observed before = observe(doc);
    expect_message([&] { doc.replace(1, 2, std::u16string(u"\0", 1), false); },
                   "Source contains NUL.");
    expect_message([&] { doc.replace(0, 0, u"\xDC00", true); }, "Invalid UTF-16.");
    EXPECT_EQ(observe(doc), before);
}

TEST(SourceDocumentTest, ChunksNeverSplitASurrogatePair) {
    std::u16string text(4095, u'a');
    text += u"\xD83D\xDE00";
    SourceDocument doc;
    doc.assign(text);
    auto pieces = pieces_of(doc.root);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0]->length, 4095u);
    EXPECT_EQ(pieces[1]->length, 2u);

    doc.assign(std::u16string(4096 * 2 + 1, u'b'));
    pieces = pieces_of(doc.root);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0]->length, 4096u);
    EXPECT_EQ(pieces[2]->length, 1u);
}

TEST(SourceDocumentTest, PrioritiesComeFromSplitMix64) {
    // The first SplitMix64 output for state 0.
    EXPECT_EQ(build_rope(u"x", 0)->priority, 0xE220A8397B1DCDAFull);
    std::u16string text(50000, u'q');
    NodePtr first = build_rope(text, 7);
    NodePtr second = build_rope(text, 7);
    auto a = pieces_of(first);
    auto b = pieces_of(second);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i]->priority, b[i]->priority);
        EXPECT_EQ(a[i]->length, b[i]->length);
    }
    EXPECT_NE(build_rope(text, 8)->priority, build_rope(text, 7)->priority);
}

TEST(SourceDocumentTest, ARopeBuiltPieceByPieceIsTheRopeOfTheWholeText) {
    // A pair right where the second chunk would end, and pieces that end inside pairs and
    // just before and after chunk edges.
    std::u16string text(8191, u'a');
    text += u"\xD83D\xDE00";
    text += std::u16string(5000, u'\n');
    text += u"z\xD83D\xDE01";
    RopeBuilder builder(7);
    for (u64 at = 0, step = 1; at < text.size(); at += step, step = step * 3 % 4099 + 1) {
        builder.append(std::u16string_view(text).substr(at, step));
    }
    EXPECT_EQ(builder.length(), text.size());
    SourceDocument built;
    built.root = builder.take(text.size());
    const auto pieces = pieces_of(built.root);
    const auto expected = pieces_of(build_rope(text, 7));
    ASSERT_EQ(pieces.size(), expected.size());
    for (size_t i = 0; i < pieces.size(); ++i) {
        EXPECT_EQ(pieces[i]->length, expected[i]->length);
        EXPECT_EQ(pieces[i]->priority, expected[i]->priority);
    }
    EXPECT_EQ(built.text(), text);
    EXPECT_EQ(built.line_count(), 5001u);
    EXPECT_EQ(builder.length(), 0u);

    // Taking fewer units cuts the tree at a character boundary past the last whole chunk.
    builder.append(text);
    built.root = builder.take(8193);
    EXPECT_EQ(built.text(), text.substr(0, 8193));
}

TEST(SourceDocumentTest, ReplaceRangeIsOneStepThatUndoesToTheExactText) {
    SourceDocument doc;
    const std::u16string original = u"\xD83D\xDE00 keep ab ab\nab keep";
    doc.assign(original);
    doc.selection = {8, 16};
    RopeBuilder builder(doc.revision + 1);
    builder.append(u"X\n\nX\nX");
    doc.replace_range(8, 16, builder.take(100));
    EXPECT_EQ(doc.text(), u"\xD83D\xDE00 keep X\n\nX\nX keep");
    EXPECT_EQ(doc.line_count(), 4u);
    EXPECT_EQ(doc.selection, (std::array<u64, 2>{14, 14}));
    EXPECT_EQ(doc.history_bytes, 2u * (8 + 6 + 128));
    ASSERT_EQ(doc.undo_entries.size(), 1u);
    EXPECT_EQ(doc.undo_entries[0].selection, (std::array<u64, 2>{8, 16}));
    doc.undo();
    EXPECT_EQ(doc.text(), original);
    EXPECT_EQ(doc.selection, (std::array<u64, 2>{8, 16}));
    EXPECT_TRUE(doc.undo_entries.empty());

    // An empty replacement deletes; one that would pass the limit changes nothing.
    doc.replace_range(2, 7, nullptr);
    EXPECT_EQ(doc.text(), u"\xD83D\xDE00 ab ab\nab keep");
    builder.append(std::u16string(document_limit - doc.length() + 3, u'w'));
    const Observed before = observe(doc);
    expect_message([&] { doc.replace_range(0, 2, builder.take(document_limit)); },
                   "Source exceeds the 8 MiB character limit.");
    EXPECT_EQ(observe(doc), before);
}

TEST(SourceDocumentTest, SurrogateBoundaries) {
    SourceDocument doc;
    doc.assign(u"a\xD83D\xDE00z");
    EXPECT_EQ(doc.boundary_before(2), 1u);
    EXPECT_EQ(doc.boundary_before(1), 1u);
    EXPECT_EQ(doc.boundary_before(3), 3u);
    EXPECT_EQ(doc.boundary_before(99), 4u);
    EXPECT_EQ(doc.boundary_after(1), 3u);
    EXPECT_EQ(doc.boundary_after(2), 3u);
    EXPECT_EQ(doc.boundary_after(0), 1u);
    EXPECT_EQ(doc.boundary_after(3), 4u);
    EXPECT_EQ(doc.boundary_after(99), 4u);
    EXPECT_EQ(doc.unit_at(2), u"\xDE00");
    EXPECT_EQ(doc.unit_at(4), u"");
    // A replace that names the middle of a pair snaps to before it.
    doc.replace(2, 2, u"-", false);
    EXPECT_EQ(doc.text(), u"a-\xD83D\xDE00z");
}

TEST(SourceDocumentTest, LinesAndPositions) {
    SourceDocument doc;
    doc.assign(u"a\nb");
    EXPECT_EQ(doc.line_of(2), 1u);
    EXPECT_EQ(doc.line_of(1), 0u);
    EXPECT_EQ(doc.line_start(1), 2u);
    EXPECT_EQ(doc.line_start(2), 3u);
    doc.assign(u"\n\n");
    EXPECT_EQ(doc.line_count(), 3u);
    EXPECT_EQ(doc.line_start(2), 2u);
    EXPECT_EQ(doc.line_of(2), 2u);
    EXPECT_EQ(doc.text(1, 99), u"\n");
    EXPECT_EQ(doc.text(9, 1), u"");
}

TEST(SourceDocumentTest, AssignCounters) {
    SourceDocument doc;
    doc.assign(u"one");
    EXPECT_EQ(doc.revision, 2u);
    EXPECT_EQ(doc.state_id, 2u);
    EXPECT_EQ(doc.saved_state_id, 2u);
    EXPECT_EQ(doc.edit_count, 1u);
    doc.replace(3, 3, u"!", false);
    doc.selection = {1, 2};
    doc.forced_modified = true;
    EXPECT_TRUE(doc.modified());
    doc.assign(u"two");
    EXPECT_EQ(doc.revision, 5u);
    EXPECT_EQ(doc.state_id, 5u);
    EXPECT_EQ(doc.saved_state_id, 5u);
    EXPECT_EQ(doc.edit_count, 3u);
    EXPECT_TRUE(doc.undo_entries.empty());
    EXPECT_EQ(doc.history_bytes, 0u);
    EXPECT_EQ(doc.selection, (std::array<u64, 2>{0, 0}));
    EXPECT_FALSE(doc.forced_modified);
    EXPECT_FALSE(doc.modified());
    // The change range and the typing end survive an assign.
    EXPECT_EQ(doc.last_change_start, 3u);
    EXPECT_EQ(doc.last_change_new_end, 4u);
    EXPECT_EQ(doc.typing_end, 4u);
}

TEST(SourceDocumentTest, ReplaceCountersAndUndoRedo) {
    SourceDocument doc;
    doc.assign(u"hello world");
    doc.selection = {0, 5};
    doc.replace(11, 6, u"there", false); // positions in either order
    EXPECT_EQ(doc.text(), u"hello there");
    EXPECT_EQ(doc.revision, 3u);
    EXPECT_EQ(doc.state_id, 3u);
    EXPECT_EQ(doc.edit_count, 2u);
    EXPECT_EQ(doc.selection, (std::array<u64, 2>{11, 11}));
    EXPECT_EQ(doc.history_bytes, 2u * (5 + 5 + 128));
    ASSERT_EQ(doc.undo_entries.size(), 1u);
    EXPECT_EQ(doc.undo_entries[0].selection, (std::array<u64, 2>{0, 5}));
    EXPECT_EQ(doc.undo_entries[0].state_id, 2u);

    doc.undo();
    EXPECT_EQ(doc.text(), u"hello world");
    EXPECT_EQ(doc.state_id, 2u);
    EXPECT_EQ(doc.selection, (std::array<u64, 2>{0, 5}));
    EXPECT_EQ(doc.edit_count, 3u);
    EXPECT_EQ(doc.revision, 3u);
    EXPECT_EQ(doc.history_bytes, 0u);
    EXPECT_EQ(doc.last_change_start, 6u);
    EXPECT_EQ(doc.last_change_old_end, 11u);
    EXPECT_EQ(doc.last_change_new_end, 11u);
    doc.undo(); // empty stack: nothing
    EXPECT_EQ(doc.edit_count, 3u);

    doc.redo();
    EXPECT_EQ(doc.text(), u"hello there");
    EXPECT_EQ(doc.state_id, 3u);
    EXPECT_EQ(doc.selection, (std::array<u64, 2>{11, 11}));
    EXPECT_EQ(doc.history_bytes, 2u * (5 + 5 + 128));
    EXPECT_TRUE(doc.redo_entries.empty());

    doc.undo();
    ASSERT_EQ(doc.redo_entries.size(), 1u);
    doc.replace(0, 0, u">", false);
    EXPECT_TRUE(doc.redo_entries.empty());
    EXPECT_EQ(doc.state_id, 4u);
}

TEST(SourceDocumentTest, IdenticalReplaceChangesNothing) {
    SourceDocument doc;
    doc.assign(u"abcdef");
    doc.replace(3, 3, u"x", true);
    doc.selection = {0, 1};
    Observed before = observe(doc);
    doc.replace(1, 3, u"bc", false);
    Observed after = observe(doc);
    EXPECT_EQ(after.selection, (std::array<u64, 2>{3, 3}));
    EXPECT_FALSE(doc.typing_open);
    after.selection = before.selection;
    after.flags[1] = before.flags[1];
    EXPECT_EQ(after, before);
}

TEST(SourceDocumentTest, TypingCoalesces) {
    SourceDocument doc;
    doc.assign(u"start");
    for (int i = 0; i < 1001; ++i) {
        doc.replace(doc.length(), doc.length(), u"k", true);
    }
    ASSERT_EQ(doc.undo_entries.size(), 1u);
    EXPECT_EQ(doc.undo_entries[0].new_end, 5u + 1001);
    EXPECT_EQ(doc.history_bytes, 1001u * 2 * 129);
    doc.undo();
    EXPECT_EQ(doc.text(), u"start");

    // A LF ends the step and leaves the next character a step of its own.
    doc.assign(u"");
    for (const char16_t* unit : {u"a", u"b", u"\n", u"c", u"d"}) {
        doc.replace(doc.length(), doc.length(), unit, true);
    }
    EXPECT_EQ(doc.undo_entries.size(), 3u);

    // Typing anywhere but `typing_end` starts a new step even while the step is open.
    doc.assign(u"xyz");
    doc.replace(3, 3, u"1", true);
    ASSERT_TRUE(doc.typing_open);
    doc.replace(1, 1, u"2", true);
    EXPECT_EQ(doc.undo_entries.size(), 2u);
    // Replacing a selection by typing is always its own step.
    doc.replace(0, 1, u"3", true);
    doc.replace(1, 1, u"4", true);
    EXPECT_EQ(doc.undo_entries.size(), 4u);
}

TEST(SourceDocumentTest, HistoryTrimmedToItsLimits) {
    SourceDocument doc;
    doc.assign(u"");
    for (int i = 0; i < 1001; ++i) {
        doc.typing_open = false; // as a caret move does
        doc.replace(doc.length(), doc.length(), u"k", true);
    }
    ASSERT_EQ(doc.undo_entries.size(), 1000u);
    EXPECT_EQ(doc.undo_entries.front().start, 1u);
    EXPECT_EQ(doc.undo_entries.back().start, 1000u);
    EXPECT_EQ(doc.history_bytes, 1000u * 2 * 129);

    // One step charged above the byte limit stays alone; the next step pushes it out.
    doc.assign(std::u16string(document_limit, u'a'));
    doc.replace(0, 5, u"b", false);
    doc.replace(0, doc.length(), std::u16string(document_limit, u'c'), false);
    const u64 big = 2 * ((document_limit - 4) + document_limit + 128);
    ASSERT_GT(big, history_byte_limit);
    ASSERT_EQ(doc.undo_entries.size(), 1u);
    EXPECT_EQ(doc.history_bytes, big);
    doc.replace(0, 1, u"d", false);
    ASSERT_EQ(doc.undo_entries.size(), 1u);
    EXPECT_EQ(doc.history_bytes, 2u * (1 + 1 + 128));
    doc.undo();
    EXPECT_EQ(doc.text(0, 3), u"ccc");
}

// Two steps charged `extra` bytes over exactly the byte limit: a full-size paste, then a
// replacement of most of it by one unit.
SourceDocument history_at_byte_limit(u64 extra) {
    SourceDocument doc;
    doc.assign(u"");
    doc.replace(0, 0, std::u16string(document_limit, u'a'), false);
    const u64 removed = document_limit - 257 + extra / 2;
    doc.replace(0, removed, u"b", false);
    return doc;
}

TEST(SourceDocumentTest, ByteLimitAtAndPastTheEdge) {
    SourceDocument at = history_at_byte_limit(0);
    EXPECT_EQ(at.history_bytes, history_byte_limit);
    EXPECT_EQ(at.undo_entries.size(), 2u);
    at.replace(0, 1, u"c", false);
    ASSERT_EQ(at.undo_entries.size(), 2u);
    EXPECT_EQ(at.undo_entries.front().start, 0u);
    EXPECT_EQ(at.undo_entries.front().old_end, document_limit - 257);
    EXPECT_EQ(at.history_bytes, history_byte_limit - 2 * (document_limit + 128) + 2 * 130);

    SourceDocument past = history_at_byte_limit(2);
    EXPECT_EQ(past.undo_entries.size(), 1u);
    EXPECT_EQ(past.history_bytes, 2 * (document_limit - 256 + 1 + 128));
}

// A snapshot or a moved-from value holds no history, so nothing may stay charged to it: its
// own steps would otherwise be trimmed away at once.
TEST(SourceDocumentTest, ValuesWithoutHistoryStartUncharged) {
    SourceDocument doc = history_at_byte_limit(0);
    SourceDocument copy = doc.snapshot();
    EXPECT_EQ(copy.history_bytes, 0u);
    copy.replace(0, 1, u"x", false);
    copy.replace(0, 1, u"y", false);
    EXPECT_EQ(copy.undo_entries.size(), 2u);
    EXPECT_EQ(copy.history_bytes, 2u * 2 * 130);
    EXPECT_EQ(doc.history_bytes, history_byte_limit);

    SourceDocument taken(std::move(doc));
    EXPECT_EQ(taken.history_bytes, history_byte_limit);
    EXPECT_EQ(doc.history_bytes, 0u);
    doc.replace(0, 0, u"x", false);
    doc.replace(1, 1, u"y", false);
    EXPECT_EQ(doc.undo_entries.size(), 2u);
    doc = std::move(taken);
    EXPECT_EQ(doc.history_bytes, history_byte_limit);
    EXPECT_EQ(taken.history_bytes, 0u);
}

TEST(SourceDocumentTest, SmallTypedInsertionJoinsTheLeafBeforeIt) {
    auto leaves_after_typing = [](size_t leaf, size_t typed) {
        SourceDocument doc;
        doc.assign(std::u16string(leaf, u'a'));
        doc.replace(leaf, leaf, std::u16string(typed, u'b'), true);
        return pieces_of(doc.root).size();
    };
    EXPECT_EQ(leaves_after_typing(4080, 16), 1u);
    EXPECT_EQ(leaves_after_typing(4081, 16), 2u);
    EXPECT_EQ(leaves_after_typing(100, 17), 2u);

    SourceDocument doc; // a pasted insertion never joins
    doc.assign(u"abc");
    doc.replace(3, 3, u"d", false);
    EXPECT_EQ(pieces_of(doc.root).size(), 2u);
}

TEST(SourceDocumentTest, SnapshotsAndMoves) {
    SourceDocument doc;
    doc.assign(u"first");
    SourceDocument before = doc.snapshot();
    doc.replace(0, 5, u"second", false);
    SourceDocument after = doc.snapshot();
    doc.replace(0, 6, u"third", false);
    EXPECT_EQ(before.text(), u"first");
    EXPECT_EQ(after.text(), u"second");
    EXPECT_TRUE(after.undo_entries.empty());
    EXPECT_EQ(after.state_id, 3u);

    // A snapshot taken mid-typing has nothing to join, so typing into it makes a new step.
    doc.replace(5, 5, u"x", true);
    SourceDocument copy = doc.snapshot();
    ASSERT_TRUE(copy.typing_open);
    copy.replace(6, 6, u"y", true);
    EXPECT_EQ(copy.undo_entries.size(), 1u);
    copy.undo();
    EXPECT_EQ(copy.text(), u"thirdx");

    SourceDocument moved(std::move(doc));
    EXPECT_EQ(moved.text(), u"thirdx");
    EXPECT_EQ(moved.undo_entries.size(), 3u);
    EXPECT_EQ(doc.root, nullptr);
    EXPECT_TRUE(doc.undo_entries.empty());
    EXPECT_EQ(doc.revision, moved.revision);
    doc = std::move(moved);
    EXPECT_EQ(doc.text(), u"thirdx");
    EXPECT_EQ(doc.undo_entries.size(), 3u);
    EXPECT_EQ(moved.root, nullptr);
    EXPECT_TRUE(moved.undo_entries.empty());
}

// Workers read and release snapshots while the owner keeps editing and undoing, so nodes are
// shared and freed on both threads at once.
TEST(SourceDocumentTest, SnapshotsReadOnOtherThreads) {
    SourceDocument doc;
    doc.assign(std::u16string(20000, u'a'));
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<std::pair<SourceDocument, std::u16string>> queue;
    bool done = false;
    std::atomic<int> mismatches{0}, checked{0};
    auto reader = [&] {
        for (;;) {
            std::unique_lock lock(mutex);
            ready.wait(lock, [&] { return done || !queue.empty(); });
            if (queue.empty()) {
                return;
            }
            auto [snapshot, expected] = std::move(queue.front());
            queue.pop_front();
            lock.unlock();
            if (snapshot.text() != expected ||
                snapshot.line_count() !=
                    1 + static_cast<u64>(std::count(expected.begin(), expected.end(), u'\n'))) {
                ++mismatches;
            }
            ++checked;
        }
    };
    std::thread first(reader), second(reader);
    std::mt19937 rng(3);
    for (int i = 0; i < 3000; ++i) {
        u64 at = rng() % (doc.length() + 1);
        if (rng() % 4 == 0) {
            doc.undo();
        } else {
            doc.typing_open = false;
            doc.replace(at, at + rng() % 3, i % 7 == 0 ? u"\n" : u"xy", i % 2 == 0);
        }
        if (i % 3 == 0) {
            std::lock_guard lock(mutex);
            queue.emplace_back(doc.snapshot(), doc.text());
            ready.notify_one();
        }
    }
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    ready.notify_all();
    first.join();
    second.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(checked.load(), 1000);
}

// Depth bounds every walk, split, merge and release, so it must stay logarithmic whatever the
// edit pattern: many cuts inside one leaf used to stack its pieces into a chain.
TEST(SourceDocumentTest, DepthStaysLowUnderScatteredEdits) {
    std::u16string line(63, u'w');
    line.replace(10, 6, u"needle");
    line += u'\n';
    constexpr u64 span = 16384;
    std::u16string text; // as much as leaves room for the insertions
    while (text.size() + line.size() + span / 2 <= document_limit) {
        text += line;
    }
    const u64 lines = text.size() / line.size();
    // From the back, so positions in the original text stay valid.
    auto edit_every_other = [&](SourceDocument& doc, u64 width, const std::u16string& with) {
        for (u64 at = span; at > 0; at -= 2) {
            doc.replace(at - 2, at - 2 + width, with, !with.empty() && at % 4 == 0);
        }
    };
    SourceDocument doc;
    doc.assign(text);
    edit_every_other(doc, 1, u"");
    EXPECT_LT(doc.depth(), 64u);
    EXPECT_EQ(doc.length(), text.size() - span / 2);
    EXPECT_EQ(doc.text(0, 6), u"wwwwwe");

    doc.assign(text);
    edit_every_other(doc, 0, u"b");
    EXPECT_LT(doc.depth(), 64u);
    EXPECT_EQ(doc.text(0, 6), u"bwwbww");

    doc.assign(text);
    for (u64 k = lines; k > 0; --k) {
        doc.replace((k - 1) * line.size() + 10, (k - 1) * line.size() + 16, u"", false);
    }
    EXPECT_LT(doc.depth(), 64u);
    EXPECT_EQ(doc.line_count(), lines + 1);
    EXPECT_EQ(doc.line_start(lines - 1), (lines - 1) * (line.size() - 6));
}

// Far deeper than any edit makes, yet freed without a stack frame per level; the part still
// held elsewhere outlives the rest.
TEST(SourceDocumentTest, DeepTreeReleasedWithoutRecursion) {
    const NodePtr leaf = build_rope(u"\n", 0);
    NodePtr tree, kept;
    for (u64 i = 1; i <= 1000000; ++i) {
        tree = i % 2 ? SourceDocument::make_node(*leaf, std::move(tree), nullptr)
                     : SourceDocument::make_node(*leaf, nullptr, std::move(tree));
        if (i == 500000) {
            kept = tree;
        }
    }
    tree.reset();
    SourceDocument doc;
    doc.root = std::move(kept);
    EXPECT_EQ(doc.depth(), 500000u);
}

// ---- Randomised differential test against a plain string with a plain history ----

bool is_low(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}
bool is_high(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}

std::u16string model_normalize(const std::u16string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == u'\r') {
            out += u'\n';
            if (i + 1 < s.size() && s[i + 1] == u'\n') {
                ++i;
            }
        } else {
            out += s[i];
        }
    }
    return out;
}

u64 model_before(const std::u16string& s, u64 p) {
    p = std::min<u64>(p, s.size());
    return (p > 0 && p < s.size() && is_low(s[p])) ? p - 1 : p;
}

struct ModelEntry {
    std::u16string text;
    std::array<u64, 2> selection;
    u64 state_id, cost, start, old_end, new_end;
};

struct Model {
    std::u16string text;
    std::array<u64, 2> selection{};
    std::vector<ModelEntry> undo_entries, redo_entries;
    u64 history_bytes = 0, typing_end = 0, state_id = 0, revision = 0, edit_count = 0;
    u64 change[3] = {0, 0, 0};
    bool typing_open = false;

    void assign(const std::u16string& s) {
        text = model_normalize(s);
        revision += 2;
        state_id = revision;
        edit_count += 1;
        selection = {0, 0};
        undo_entries.clear();
        redo_entries.clear();
        history_bytes = 0;
        typing_open = false;
    }

    void replace(u64 a, u64 b, const std::u16string& raw, bool typing) {
        a = model_before(text, a);
        b = model_before(text, b);
        u64 from = std::min(a, b), to = std::max(a, b);
        std::u16string ins = model_normalize(raw);
        u64 end = from + ins.size();
        if (text.compare(from, to - from, ins) == 0) {
            selection = {end, end};
            typing_open = false;
            return;
        }
        u64 cost = 2 * ((to - from) + ins.size() + 128);
        bool lf = ins.find(u'\n') != std::u16string::npos;
        if (typing && typing_open && from == to && typing_end == from && !lf) {
            undo_entries.back().new_end = end;
            undo_entries.back().cost += cost;
        } else {
            undo_entries.push_back({text, selection, state_id, cost, from, to, end});
        }
        history_bytes += cost;
        redo_entries.clear();
        text.replace(from, to - from, ins);
        change[0] = from;
        change[1] = to;
        change[2] = end;
        edit_count += 1;
        revision += 1;
        state_id = revision;
        selection = {end, end};
        typing_end = end;
        typing_open = typing && from == to && !lf;
        while (undo_entries.size() > 1 &&
               (undo_entries.size() > 1000 || history_bytes > 0x2000000)) {
            history_bytes -= undo_entries.front().cost;
            undo_entries.erase(undo_entries.begin());
        }
    }

    void step(bool forward) {
        auto& source = forward ? redo_entries : undo_entries;
        auto& target = forward ? undo_entries : redo_entries;
        if (source.empty()) {
            return;
        }
        ModelEntry e = source.back();
        source.pop_back();
        target.push_back({text, selection, state_id, e.cost, e.start, e.old_end, e.new_end});
        change[0] = e.start;
        change[1] = forward ? e.old_end : e.new_end;
        change[2] = forward ? e.new_end : e.old_end;
        history_bytes = forward ? history_bytes + e.cost : history_bytes - e.cost;
        text = e.text;
        selection = e.selection;
        state_id = e.state_id;
        edit_count += 1;
        typing_open = false;
    }
};

// Checks heap order, subtree sums and piece LF counts against the model text; returns depth.
size_t check_treap(const SourceDocument::Node* n, const std::u16string& text, u64 offset) {
    if (!n) {
        return 0;
    }
    u64 left_len = n->left ? n->left->subtree_length : 0;
    u64 left_nl = n->left ? n->left->subtree_newlines : 0;
    u64 right_len = n->right ? n->right->subtree_length : 0;
    u64 right_nl = n->right ? n->right->subtree_newlines : 0;
    EXPECT_GT(n->length, 0u);
    EXPECT_EQ(n->subtree_length, left_len + n->length + right_len);
    EXPECT_EQ(n->subtree_newlines, left_nl + n->newlines + right_nl);
    u64 piece_start = offset + left_len;
    EXPECT_EQ(n->newlines,
              static_cast<u64>(std::count(text.begin() + piece_start,
                                          text.begin() + piece_start + n->length, u'\n')));
    if (n->left) {
        EXPECT_GE(n->priority, n->left->priority);
    }
    if (n->right) {
        EXPECT_GE(n->priority, n->right->priority);
    }
    size_t l = check_treap(n->left.get(), text, offset);
    size_t r = check_treap(n->right.get(), text, piece_start + n->length);
    return 1 + std::max(l, r);
}

class Differential {
public:
    explicit Differential(unsigned seed) : rng_(seed) {}

    void run(int operations) {
        doc_.assign(u"");
        model_.assign(u"");
        for (int op = 0; op < operations; ++op) {
            act(op);
            verify();
            if (::testing::Test::HasFailure()) {
                FAIL() << "after operation " << op;
            }
        }
        for (auto& [snap, text] : snapshots_) {
            EXPECT_EQ(snap.text(), text);
        }
    }

    // What the run reached, so that the test proves it exercised the interesting regions.
    size_t max_depth = 0;
    size_t max_length = 0;
    size_t max_undo = 0;
    size_t joined_typing = 0;
    size_t snapshot_checks = 0;

private:
    u64 pick(u64 below) { return std::uniform_int_distribution<u64>(0, below - 1)(rng_); }

    std::u16string random_text(size_t max_units) {
        static const char16_t* atoms[] = {
            u"a", u"b", u"c", u" ", u"\n", u"\r", u"\r\n", u"\xE9", u"\xD83D\xDE00", u"word "};
        std::u16string s;
        size_t n = pick(max_units + 1);
        while (s.size() < n) {
            s += atoms[pick(std::size(atoms))];
        }
        return s;
    }

    void act(int op) {
        u64 len = model_.text.size();
        u64 kind = pick(100);
        if (kind < 40) { // typing, mostly where the last typing ended
            u64 at = pick(4) != 0 ? model_.typing_end : pick(len + 1);
            if (pick(8) == 0) {
                doc_.typing_open = model_.typing_open = false;
            }
            u64 to = pick(10) == 0 ? at + pick(4) : at;
            std::u16string s = pick(10) == 0 ? random_text(20) : random_text(2);
            apply_replace(at, to, s, true);
        } else if (kind < 62) { // delete, paste or overwrite
            u64 a = pick(len + 1);
            u64 b = pick(40) == 0 ? pick(len + 1) : a + pick(20);
            size_t size = len > 20000 ? 8 : (pick(40) == 0 ? 5000 : 40);
            apply_replace(a, b, pick(3) == 0 ? std::u16string() : random_text(size), false);
        } else if (kind < 72) {
            doc_.undo();
            model_.step(false);
        } else if (kind < 80) {
            doc_.redo();
            model_.step(true);
        } else if (kind < 81 && pick(25) == 0) { // rare, so the history can fill up
            std::u16string s = random_text(pick(2) == 0 ? 20000 : 300);
            doc_.assign(s);
            model_.assign(s);
        } else if (kind < 85) {
            size_t slot = pick(8);
            if (snapshots_.size() <= slot) {
                snapshots_.emplace_back(doc_.snapshot(), model_.text);
            } else {
                snapshots_[slot] = {doc_.snapshot(), model_.text};
            }
        } else if (kind < 86) {
            SourceDocument moved(std::move(doc_));
            doc_ = std::move(moved);
        } else if (kind < 90 && !snapshots_.empty()) {
            auto& [snap, text] = snapshots_[pick(snapshots_.size())];
            ASSERT_EQ(snap.text(), text) << "snapshot at operation " << op;
            ++snapshot_checks;
        } else {
            u64 a = pick(len + 2), b = pick(len + 2);
            doc_.selection = model_.selection = {a, b};
        }
    }

    void apply_replace(u64 a, u64 b, const std::u16string& s, bool typing) {
        if (model_.text.size() + s.size() > 30000) {
            return;
        }
        const size_t entries = doc_.undo_entries.size();
        const u64 edits = doc_.edit_count;
        doc_.replace(a, b, s, typing);
        if (typing && doc_.edit_count != edits && doc_.undo_entries.size() == entries) {
            ++joined_typing;
        }
        model_.replace(a, b, s, typing);
    }

    void verify() {
        const std::u16string& text = model_.text;
        ASSERT_EQ(doc_.length(), text.size());
        ASSERT_EQ(doc_.text(), text);
        EXPECT_EQ(doc_.selection, model_.selection);
        EXPECT_EQ(doc_.state_id, model_.state_id);
        EXPECT_EQ(doc_.revision, model_.revision);
        EXPECT_EQ(doc_.edit_count, model_.edit_count);
        EXPECT_EQ(doc_.history_bytes, model_.history_bytes);
        EXPECT_EQ(doc_.undo_entries.size(), model_.undo_entries.size());
        EXPECT_EQ(doc_.redo_entries.size(), model_.redo_entries.size());
        EXPECT_EQ(doc_.typing_open, model_.typing_open);
        EXPECT_EQ(doc_.typing_end, model_.typing_end);
        EXPECT_EQ(doc_.last_change_start, model_.change[0]);
        EXPECT_EQ(doc_.last_change_old_end, model_.change[1]);
        EXPECT_EQ(doc_.last_change_new_end, model_.change[2]);
        if (!doc_.undo_entries.empty()) {
            EXPECT_EQ(doc_.undo_entries.back().state_id, model_.undo_entries.back().state_id);
            EXPECT_EQ(doc_.undo_entries.back().new_end, model_.undo_entries.back().new_end);
        }

        std::vector<u64> starts{0};
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == u'\n') {
                starts.push_back(i + 1);
            }
        }
        EXPECT_EQ(doc_.line_count(), starts.size());
        for (int i = 0; i < 4; ++i) {
            u64 p = pick(text.size() + 3);
            u64 clamped = std::min<u64>(p, text.size());
            u64 line = std::upper_bound(starts.begin(), starts.end(), clamped) - starts.begin() - 1;
            EXPECT_EQ(doc_.line_of(p), line) << "position " << p;
            u64 k = pick(starts.size() + 2);
            EXPECT_EQ(doc_.line_start(k), k < starts.size() ? starts[k] : text.size());

            u64 before = doc_.boundary_before(p);
            EXPECT_EQ(before, model_before(text, p));
            u64 after = doc_.boundary_after(p);
            EXPECT_TRUE(after == text.size() || !is_low(text[after]));
            if (clamped < text.size()) {
                u64 start = model_before(text, clamped);
                EXPECT_EQ(after, start + (is_high(text[start]) ? 2 : 1));
            }
            u64 n = pick(50);
            EXPECT_EQ(doc_.text(p, n), text.substr(clamped, n));
        }
        max_depth = std::max(max_depth, check_treap(doc_.root.get(), text, 0));
        max_length = std::max(max_length, text.size());
        max_undo = std::max(max_undo, doc_.undo_entries.size());
    }

    std::mt19937_64 rng_;
    SourceDocument doc_;
    Model model_;
    std::vector<std::pair<SourceDocument, std::u16string>> snapshots_;
};

TEST(SourceDocumentTest, RandomisedAgainstPlainString) {
    Differential run(20261207);
    run.run(100000);
    // The treap must stay shallow; a degenerate shape would show here long before it hurt.
    EXPECT_LT(run.max_depth, 200u);
    EXPECT_GT(run.max_length, 3 * source_chunk_units);
    EXPECT_EQ(run.max_undo, history_entry_limit);
    EXPECT_GT(run.joined_typing, 1000u);
    EXPECT_GT(run.snapshot_checks, 1000u);
    std::printf("max depth %zu, max length %zu, joined typing %zu, snapshot checks %zu\n",
                run.max_depth, run.max_length, run.joined_typing, run.snapshot_checks);
}

// Two states of one document, sharing most pieces, differ exactly where a unit-by-unit
// comparison of their texts says: longest common prefix, then longest common suffix of the rest.
TEST(SourceDocumentTest, DifferenceOfTwoStatesIsTheExactChangedStretch) {
    std::mt19937 rng(7);
    auto pick = [&](u64 below) { return std::uniform_int_distribution<u64>(0, below - 1)(rng); };
    SourceDocument document;
    std::u16string seed;
    for (int i = 0; i < 30000; ++i) {
        seed += static_cast<char16_t>(u'a' + pick(3));
    }
    document.assign(seed);
    for (int step = 0; step < 400; ++step) {
        const SourceDocument before = document.snapshot();
        if (pick(5) == 0) {
            document.undo();
        } else {
            const u64 at = pick(document.length() + 1);
            std::u16string inserted(pick(3) == 0 ? pick(9000) : pick(4), u'a');
            for (char16_t& unit : inserted) {
                unit = static_cast<char16_t>(u'a' + pick(3));
            }
            document.replace(at, std::min(document.length(), at + pick(5)), inserted, false);
        }
        const std::u16string old_text = before.text();
        const std::u16string new_text = document.text();
        u64 prefix = 0;
        while (prefix < std::min(old_text.size(), new_text.size()) &&
               old_text[prefix] == new_text[prefix]) {
            ++prefix;
        }
        u64 old_end = old_text.size();
        u64 new_end = new_text.size();
        while (old_end > prefix && new_end > prefix &&
               old_text[old_end - 1] == new_text[new_end - 1]) {
            --old_end;
            --new_end;
        }
        const TextDifference difference = text_difference(before, document);
        ASSERT_EQ(difference.prefix, prefix) << "step " << step;
        ASSERT_EQ(difference.old_end, old_end) << "step " << step;
        ASSERT_EQ(difference.new_end, new_end) << "step " << step;
    }
}

} // namespace
} // namespace pellix
