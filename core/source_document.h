#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/limits.h"

namespace pellix {

// Leaves are cut at this many units so that rebuilding one leaf stays cheap.
inline constexpr std::uint64_t source_chunk_units = 4096;

// Undo history limits: entries kept, and bytes charged for them.
inline constexpr std::size_t history_entry_limit = 1000;
inline constexpr std::uint64_t history_byte_limit = 0x2000000;

// The editor's text: UTF-16 with LF line breaks only, held as a persistent copy-on-write treap
// of pieces of shared, immutable buffers. An edit rebuilds only the nodes on the path to the
// change, so snapshots and history entries share everything else and may be read on other
// threads while the owner keeps editing.
//
// Positions are UTF-16 unit offsets (position p lies between units p-1 and p); lines are
// 0-based, line k starting right after the k-th LF.
class SourceDocument {
public:
    // One chunk of text as it was built, with the index of each LF; never changed once built.
    struct Buffer;

    struct Node {
        std::shared_ptr<const Buffer> buffer;
        std::uint64_t start = 0;  // first unit of the piece within the buffer
        std::uint64_t length = 0; // units in the piece
        std::uint64_t newlines = 0;
        std::uint64_t subtree_length = 0;
        std::uint64_t subtree_newlines = 0;
        std::uint64_t priority = 0; // never below a child's
        std::shared_ptr<const Node> left;
        std::shared_ptr<const Node> right;

        // Frees the subtrees only this node kept alive in a loop rather than one nested
        // destructor call per level, so no shape of tree can exhaust the stack.
        ~Node();
    };
    using NodePtr = std::shared_ptr<const Node>;

    // One undo or redo step: the whole other text state by its shared root, plus the range the
    // step changed. No text is copied into the history.
    struct HistoryEntry {
        NodePtr root;
        std::array<std::uint64_t, 2> selection{};
        std::uint64_t state_id = 0;
        std::uint64_t cost = 0;
        std::uint64_t start = 0;
        std::uint64_t old_end = 0;
        std::uint64_t new_end = 0;
    };

    // A stack of history entries that can also drop its oldest entry cheaply: once the history
    // is full that happens on nearly every edit, and a plain vector would move all 1000
    // entries each time. Dropped entries are released at once; their slots are reclaimed in
    // batches.
    class History {
    public:
        History() = default;
        History(History&& other) noexcept
            : entries_(std::move(other.entries_)), head_(std::exchange(other.head_, 0)) {
            other.entries_.clear();
        }
        History& operator=(History&& other) noexcept {
            if (this == &other) {
                return *this;
            }
            entries_ = std::move(other.entries_);
            head_ = std::exchange(other.head_, 0);
            other.entries_.clear();
            return *this;
        }

        bool empty() const { return entries_.size() == head_; }
        std::size_t size() const { return entries_.size() - head_; }
        HistoryEntry& operator[](std::size_t i) { return entries_[head_ + i]; }
        const HistoryEntry& operator[](std::size_t i) const { return entries_[head_ + i]; }
        HistoryEntry& front() { return entries_[head_]; }
        const HistoryEntry& front() const { return entries_[head_]; }
        HistoryEntry& back() { return entries_.back(); }
        const HistoryEntry& back() const { return entries_.back(); }
        auto begin() const { return entries_.begin() + static_cast<std::ptrdiff_t>(head_); }
        auto end() const { return entries_.end(); }

        void push_back(HistoryEntry entry) { entries_.push_back(std::move(entry)); }
        void pop_back() {
            entries_.pop_back();
            if (empty()) {
                clear();
            }
        }
        void pop_front() {
            entries_[head_++] = HistoryEntry{};
            if (head_ >= 64 && head_ * 2 >= entries_.size()) {
                entries_.erase(entries_.begin(), begin());
                head_ = 0;
            }
        }
        void clear() {
            entries_.clear();
            head_ = 0;
        }

    private:
        std::vector<HistoryEntry> entries_;
        std::size_t head_ = 0;
    };

    NodePtr root;
    // Anchor, then caret, of the editor's selection in this text state.
    std::array<std::uint64_t, 2> selection{};
    std::uint64_t last_change_start = 0;
    std::uint64_t last_change_old_end = 0;
    std::uint64_t last_change_new_end = 0;
    History undo_entries;
    History redo_entries;
    // The summed cost of the undo entries, so 0 in a moved-from value or a snapshot: their own
    // first steps must not be trimmed for a history they do not hold.
    std::uint64_t history_bytes = 0;
    std::uint64_t typing_end = 0;
    // Names the text state: the same number always means the same text.
    std::uint64_t state_id = 0;
    std::uint64_t saved_state_id = 0;
    // Only grows (+1 per replace, +2 per assign); seeds the node priorities.
    std::uint64_t revision = 0;
    // Grows on every change of the text state; callers compare it before and after a call.
    std::uint64_t edit_count = 0;
    bool forced_modified = false;
    // The latest change was a typed insertion without LF, so the next typed unit at
    // `typing_end` may join its undo entry.
    bool typing_open = false;

    SourceDocument() = default;
    SourceDocument(SourceDocument&& other) noexcept;
    SourceDocument& operator=(SourceDocument&& other) noexcept;
    // Copies would duplicate the history by accident; take a `snapshot` instead.
    SourceDocument(const SourceDocument&) = delete;
    SourceDocument& operator=(const SourceDocument&) = delete;
    ~SourceDocument();

    // A value sharing this text (one reference count), with every number and flag copied and
    // both histories empty (so nothing charged to them either); safe to hand to a worker thread.
    SourceDocument snapshot() const;

    static NodePtr make_node(const Node& proto, NodePtr left, NodePtr right);
    // `node`'s piece with new children. Its LF count is taken over rather than searched for
    // again: the copies made along an edit path are the bulk of all nodes built.
    static NodePtr rebuild(const Node& node, NodePtr left, NodePtr right);
    // `node`'s piece with new children, either of which may outrank it because it holds a
    // freshly cut piece; such a child is merged with the node instead of placed below it.
    static NodePtr attach(const Node& node, NodePtr left, NodePtr right);
    // A new node over `piece` with the given line-feed count and children.
    static NodePtr assemble(const Node& piece, std::uint64_t newlines, NodePtr left, NodePtr right);
    // The leaf `build_rope` would build, with `seed`, from the first `units` units of `node`'s
    // piece followed by `tail`; the piece's LF positions are taken from its buffer's index
    // instead of being searched for again.
    static NodePtr extended_leaf(const Node& node, std::uint64_t units, const std::u16string& tail,
                                 std::uint64_t seed);
    static NodePtr merge(const NodePtr& a, const NodePtr& b);
    static std::pair<NodePtr, NodePtr> split(const NodePtr& t, std::uint64_t position);
    static void append_range(const NodePtr& t, std::uint64_t position, std::uint64_t count,
                             std::u16string& out);

    std::uint64_t length() const { return root ? root->subtree_length : 0; }
    std::uint64_t line_count() const { return (root ? root->subtree_newlines : 0) + 1; }
    // Levels of nodes from the root to the deepest leaf (0 for the empty text): every walk,
    // split and merge is bounded by it.
    std::uint64_t depth() const;
    bool modified() const { return state_id != saved_state_id || forced_modified; }

    // Position clamped to the length, count clamped to what remains.
    std::u16string text(std::uint64_t position = 0, std::uint64_t count = UINT64_MAX) const;
    std::u16string unit_at(std::uint64_t position) const;
    std::uint64_t boundary_before(std::uint64_t position) const;
    std::uint64_t boundary_after(std::uint64_t position) const;
    std::uint64_t line_of(std::uint64_t position) const;
    std::uint64_t line_start(std::uint64_t line) const;

    // Replaces the whole text and clears the history. Throws like `normalize_source` and then
    // changes nothing.
    void assign(const std::u16string& text);

    // Replaces the units between a and b (either order) and records the change for undo;
    // `typing` marks units the user typed, which join into one undo step. Throws
    // std::length_error / std::invalid_argument and then changes nothing.
    void replace(std::uint64_t a, std::uint64_t b, const std::u16string& text, bool typing);

    // The same for a replacement too long to normalise and build in one go: `text` is a tree of
    // normalised text built beforehand (see `RopeBuilder`), and [from, to) must lie on character
    // boundaries. Never typing, and with no test for an unchanged text (the caller knows).
    // Throws std::length_error when the result would pass the limit, and then changes nothing.
    void replace_range(std::uint64_t from, std::uint64_t to, NodePtr text);

    // One undo or redo step; nothing happens when its stack is empty.
    void undo();
    void redo();

private:
    // Takes `new_root`, the text with [from, to) replaced by `inserted` units, as the next
    // state, and records the step for undo.
    void commit_replacement(std::uint64_t from, std::uint64_t to, NodePtr new_root,
                            std::uint64_t inserted, bool has_newline, bool typing);
};

// Where two texts differ: units before `prefix` are equal in both, and so are the units from
// `old_end` in the first text and from `new_end` in the second.
struct TextDifference {
    std::uint64_t prefix = 0;
    std::uint64_t old_end = 0;
    std::uint64_t new_end = 0;
};

// The stretch where `after` differs from `before`, taking the longest common prefix and then the
// longest common suffix of what remains. Pieces the two states share are equal without being
// read, so two states of one editor compare in time of their pieces plus the changed units.
TextDifference text_difference(const SourceDocument& before, const SourceDocument& after);

// Validates text for a document and turns CR LF and lone CR into LF. Throws
// std::length_error "Source exceeds the 8 MiB character limit.", std::invalid_argument
// "Source contains NUL." or "Invalid UTF-16.".
std::u16string normalize_source(const std::u16string& text);

// Builds a treap of 4096-unit chunks (never splitting a surrogate pair) from normalised text;
// the seed fixes the priorities, so equal text and seed give an equal shape.
SourceDocument::NodePtr build_rope(const std::u16string& normalized, std::uint64_t seed);

// Builds the tree of a long normalised text that arrives piece by piece, cut and ranked exactly
// as `build_rope` would cut the whole, so that the work can be spread over many short slices
// and the finished tree handed over at once.
class RopeBuilder {
public:
    explicit RopeBuilder(std::uint64_t seed) : seed_(seed) {}

    void append(std::u16string_view text);
    std::uint64_t length() const { return built_ + pending_.size(); }
    // The tree of the first `units` units appended (clamped to `length()`; a character
    // boundary); the builder is left empty.
    SourceDocument::NodePtr take(std::uint64_t units);

private:
    std::uint64_t seed_;
    SourceDocument::NodePtr root_;
    // Units already in `root_`; the rest waits in `pending_` until a whole chunk is known.
    std::uint64_t built_ = 0;
    std::u16string pending_;
};

} // namespace pellix
