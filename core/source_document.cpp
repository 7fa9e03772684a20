#include "core/source_document.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <thread>

namespace pellix {

struct SourceDocument::Buffer {
    std::u16string text;
    std::vector<std::uint64_t> newlines; // index of every LF in `text`, ascending
};

namespace {

using NodePtr = SourceDocument::NodePtr;

// Fixed-size blocks for the rope's nodes and buffer records. An edit builds and later frees
// a node for every level of the tree it passes, so these small allocations dominate an edit;
// a free list behind a spin lock serves them several times faster than the C runtime heap.
// Nodes are freed on whichever thread lets go of them last, hence the lock. Blocks are kept
// for reuse, never returned.
class BlockPool {
public:
    explicit constexpr BlockPool(std::size_t block_size) : block_size_(block_size) {}

    void* allocate() {
        lock();
        if (!free_) {
            refill();
        }
        FreeBlock* block = free_;
        free_ = block->next;
        unlock();
        return block;
    }

    void deallocate(void* pointer) {
        auto* block = static_cast<FreeBlock*>(pointer);
        lock();
        block->next = free_;
        free_ = block;
        unlock();
    }

private:
    struct FreeBlock {
        FreeBlock* next;
    };
    static constexpr std::size_t blocks_per_slab = 512;

    void lock() {
        while (busy_.test_and_set(std::memory_order_acquire)) {
            std::this_thread::yield();
        }
    }
    void unlock() { busy_.clear(std::memory_order_release); }

    // Runs under the lock; a failed allocation throws std::bad_alloc after unlocking.
    void refill() {
        void* slab = std::malloc(block_size_ * blocks_per_slab);
        if (!slab) {
            unlock();
            throw std::bad_alloc();
        }
        auto* bytes = static_cast<unsigned char*>(slab);
        for (std::size_t i = 0; i < blocks_per_slab; ++i) {
            auto* block = reinterpret_cast<FreeBlock*>(bytes + i * block_size_);
            block->next = free_;
            free_ = block;
        }
    }

    std::atomic_flag busy_ = ATOMIC_FLAG_INIT;
    FreeBlock* free_ = nullptr;
    std::size_t block_size_;
};

// Hands `std::allocate_shared` blocks of the pool for its combined control block and object.
template <typename T> struct PoolAllocator {
    using value_type = T;

    PoolAllocator() = default;
    template <typename U> PoolAllocator(const PoolAllocator<U>&) {}

    static BlockPool& pool() {
        static constexpr std::size_t align = alignof(std::max_align_t);
        static BlockPool blocks((sizeof(T) + align - 1) / align * align);
        return blocks;
    }

    T* allocate(std::size_t n) {
        if (n != 1) {
            return static_cast<T*>(::operator new(n * sizeof(T)));
        }
        return static_cast<T*>(pool().allocate());
    }
    void deallocate(T* pointer, std::size_t n) {
        if (n != 1) {
            ::operator delete(pointer);
            return;
        }
        pool().deallocate(pointer);
    }

    template <typename U> bool operator==(const PoolAllocator<U>&) const { return true; }
};

template <typename T> std::shared_ptr<T> pooled() {
    return std::allocate_shared<T>(PoolAllocator<T>());
}

bool is_high_surrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool is_low_surrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

std::uint64_t subtree_length(const NodePtr& node) {
    return node ? node->subtree_length : 0;
}
std::uint64_t subtree_newlines(const NodePtr& node) {
    return node ? node->subtree_newlines : 0;
}

// SplitMix64's output function: well-spread priorities from consecutive offsets, and the same
// shape for the same text and seed (or the same parent priority and piece start).
std::uint64_t chunk_priority(std::uint64_t seed, std::uint64_t offset) {
    std::uint64_t z = seed + 0x9E3779B97F4A7C15ull + offset;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Where the LFs of a piece begin in its buffer's LF index.
std::vector<std::uint64_t>::const_iterator first_newline_of(const SourceDocument::Node& node) {
    const auto& newlines = node.buffer->newlines;
    return std::lower_bound(newlines.begin(), newlines.end(), node.start);
}

// LF units among the first `offset` units of a node's piece.
std::uint64_t newlines_before(const SourceDocument::Node& node, std::uint64_t offset) {
    const auto& newlines = node.buffer->newlines;
    auto first = first_newline_of(node);
    return static_cast<std::uint64_t>(std::lower_bound(first, newlines.end(), node.start + offset) -
                                      first);
}

// A childless node over part of another node's piece. A cut piece gets a priority of its own,
// mixed from its parent's and its start: were both halves to keep the parent's, equal
// priorities would stack one under another and repeated cuts inside one leaf would grow a
// chain as long as the number of edits.
NodePtr cut_piece(const SourceDocument::Node& from, std::uint64_t offset, std::uint64_t length,
                  std::uint64_t newlines) {
    SourceDocument::Node proto;
    proto.buffer = from.buffer;
    proto.start = from.start + offset;
    proto.length = length;
    proto.priority = chunk_priority(from.priority, proto.start);
    return SourceDocument::assemble(proto, newlines, nullptr, nullptr);
}

// Drops one reference to a subtree. Nodes that only this reference keeps alive are taken apart
// here, their left children rotated up, so a tree of any depth is freed in one loop. A node
// that others still hold is left to them.
void release_subtree(NodePtr tree) noexcept {
    auto sole_owner = [](const NodePtr& node) {
        if (node.use_count() != 1) {
            return false;
        }
        // Pairs with the release in the other owners' reference drops: their reads of the
        // node's links happen before the links are changed here.
        std::atomic_thread_fence(std::memory_order_acquire);
        return true;
    };
    auto links_of = [](const NodePtr& node) -> SourceDocument::Node& {
        // Built non-const by `pooled`; only the last owner ever changes it.
        return const_cast<SourceDocument::Node&>(*node);
    };
    while (tree) {
        if (!sole_owner(tree)) {
            return;
        }
        SourceDocument::Node& node = links_of(tree);
        if (!node.left) {
            NodePtr next = std::move(node.right);
            tree = std::move(next);
            continue;
        }
        NodePtr left = std::move(node.left);
        if (!sole_owner(left)) {
            continue;
        }
        SourceDocument::Node& top = links_of(left);
        node.left = std::move(top.right);
        top.right = std::move(tree);
        tree = std::move(left);
    }
}

// Units of the chunk that starts at `offset`: 4096, or what remains, but one fewer when a
// surrogate pair would straddle two buffers.
std::uint64_t chunk_at(const std::u16string& text, std::uint64_t offset) {
    std::uint64_t chunk = std::min<std::uint64_t>(source_chunk_units, text.size() - offset);
    if (offset + chunk < text.size() && is_low_surrogate(text[offset + chunk])) {
        --chunk;
    }
    return chunk;
}

NodePtr make_leaf(const std::u16string& text, std::uint64_t offset, std::uint64_t length,
                  std::uint64_t priority) {
    auto buffer = pooled<SourceDocument::Buffer>();
    buffer->text.assign(text, offset, length);
    // Counted first so the index holds exactly what it needs: it is a large share of the
    // memory of a document with short lines.
    auto count = std::count(buffer->text.begin(), buffer->text.end(), u'\n');
    buffer->newlines.reserve(static_cast<std::size_t>(count));
    for (std::uint64_t i = 0; i < length; ++i) {
        if (buffer->text[i] == u'\n') {
            buffer->newlines.push_back(i);
        }
    }
    SourceDocument::Node proto;
    proto.buffer = std::move(buffer);
    proto.length = length;
    proto.priority = priority;
    return SourceDocument::make_node(proto, nullptr, nullptr);
}

// The unit at a position inside the text (the caller checks the range).
char16_t unit_in(const NodePtr& root, std::uint64_t position) {
    const SourceDocument::Node* node = root.get();
    while (node) {
        std::uint64_t left = subtree_length(node->left);
        if (position < left) {
            node = node->left.get();
            continue;
        }
        position -= left;
        if (position < node->length) {
            return node->buffer->text[node->start + position];
        }
        position -= node->length;
        node = node->right.get();
    }
    return 0;
}

} // namespace

std::u16string normalize_source(const std::u16string& text) {
    if (text.size() > document_limit) {
        throw std::length_error("Source exceeds the 8 MiB character limit.");
    }
    std::u16string out;
    out.reserve(text.size());
    const std::size_t size = text.size();
    for (std::size_t i = 0; i < size; ++i) {
        char16_t unit = text[i];
        if (unit == 0) {
            throw std::invalid_argument("Source contains NUL.");
        }
        if (is_high_surrogate(unit)) {
            if (i + 1 >= size || !is_low_surrogate(text[i + 1])) {
                throw std::invalid_argument("Invalid UTF-16.");
            }
            out.push_back(unit);
            out.push_back(text[++i]);
        } else if (is_low_surrogate(unit)) {
            throw std::invalid_argument("Invalid UTF-16.");
        } else if (unit == u'\r') {
            out.push_back(u'\n');
            if (i + 1 < size && text[i + 1] == u'\n') {
                ++i;
            }
        } else {
            out.push_back(unit);
        }
    }
    return out;
}

NodePtr build_rope(const std::u16string& normalized, std::uint64_t seed) {
    NodePtr root;
    const std::uint64_t size = normalized.size();
    std::uint64_t offset = 0;
    while (offset < size) {
        const std::uint64_t chunk = chunk_at(normalized, offset);
        root = SourceDocument::merge(
            root, make_leaf(normalized, offset, chunk, chunk_priority(seed, offset)));
        offset += chunk;
    }
    return root;
}

void RopeBuilder::append(std::u16string_view text) {
    pending_.append(text);
    // A chunk is cut only once the unit after it is known, since a low surrogate there
    // shortens it.
    std::uint64_t used = 0;
    while (pending_.size() - used > source_chunk_units) {
        const std::uint64_t chunk = chunk_at(pending_, used);
        root_ = SourceDocument::merge(
            root_, make_leaf(pending_, used, chunk, chunk_priority(seed_, built_)));
        used += chunk;
        built_ += chunk;
    }
    pending_.erase(0, used);
}

NodePtr RopeBuilder::take(std::uint64_t units) {
    if (!pending_.empty()) {
        root_ = SourceDocument::merge(
            root_, make_leaf(pending_, 0, pending_.size(), chunk_priority(seed_, built_)));
    }
    NodePtr whole = std::move(root_);
    const std::uint64_t size = length();
    built_ = 0;
    pending_.clear();
    return units < size ? SourceDocument::split(whole, units).first : whole;
}

SourceDocument::SourceDocument(SourceDocument&& other) noexcept
    : root(std::move(other.root)), selection(other.selection),
      last_change_start(other.last_change_start), last_change_old_end(other.last_change_old_end),
      last_change_new_end(other.last_change_new_end), undo_entries(std::move(other.undo_entries)),
      redo_entries(std::move(other.redo_entries)),
      history_bytes(std::exchange(other.history_bytes, 0)), typing_end(other.typing_end),
      state_id(other.state_id), saved_state_id(other.saved_state_id), revision(other.revision),
      edit_count(other.edit_count), forced_modified(other.forced_modified),
      typing_open(other.typing_open) {
    other.undo_entries.clear();
    other.redo_entries.clear();
}

SourceDocument& SourceDocument::operator=(SourceDocument&& other) noexcept {
    if (this == &other) {
        return *this;
    }
    redo_entries.clear();
    undo_entries.clear();
    root.reset();
    root = std::move(other.root);
    undo_entries = std::move(other.undo_entries);
    redo_entries = std::move(other.redo_entries);
    other.undo_entries.clear();
    other.redo_entries.clear();
    selection = other.selection;
    last_change_start = other.last_change_start;
    last_change_old_end = other.last_change_old_end;
    last_change_new_end = other.last_change_new_end;
    history_bytes = std::exchange(other.history_bytes, 0);
    typing_end = other.typing_end;
    state_id = other.state_id;
    saved_state_id = other.saved_state_id;
    revision = other.revision;
    edit_count = other.edit_count;
    forced_modified = other.forced_modified;
    typing_open = other.typing_open;
    return *this;
}

SourceDocument::~SourceDocument() {
    redo_entries.clear();
    undo_entries.clear();
    root.reset();
}

SourceDocument SourceDocument::snapshot() const {
    SourceDocument copy;
    copy.root = root;
    copy.selection = selection;
    copy.last_change_start = last_change_start;
    copy.last_change_old_end = last_change_old_end;
    copy.last_change_new_end = last_change_new_end;
    copy.typing_end = typing_end;
    copy.state_id = state_id;
    copy.saved_state_id = saved_state_id;
    copy.revision = revision;
    copy.edit_count = edit_count;
    copy.forced_modified = forced_modified;
    copy.typing_open = typing_open;
    return copy;
}

SourceDocument::Node::~Node() {
    release_subtree(std::move(left));
    release_subtree(std::move(right));
}

NodePtr SourceDocument::make_node(const Node& proto, NodePtr left, NodePtr right) {
    return assemble(proto, newlines_before(proto, proto.length), std::move(left), std::move(right));
}

NodePtr SourceDocument::rebuild(const Node& node, NodePtr left, NodePtr right) {
    return assemble(node, node.newlines, std::move(left), std::move(right));
}

NodePtr SourceDocument::assemble(const Node& piece, std::uint64_t newlines, NodePtr left,
                                 NodePtr right) {
    auto copy = pooled<Node>();
    copy->buffer = piece.buffer;
    copy->start = piece.start;
    copy->length = piece.length;
    copy->priority = piece.priority;
    copy->newlines = newlines;
    copy->subtree_length = piece.length + subtree_length(left) + subtree_length(right);
    copy->subtree_newlines = newlines + subtree_newlines(left) + subtree_newlines(right);
    copy->left = std::move(left);
    copy->right = std::move(right);
    return copy;
}

NodePtr SourceDocument::extended_leaf(const Node& node, std::uint64_t units,
                                      const std::u16string& tail, std::uint64_t seed) {
    auto buffer = pooled<Buffer>();
    buffer->text.reserve(units + tail.size());
    buffer->text.append(node.buffer->text, node.start, units);
    buffer->text += tail;
    const auto& old_newlines = node.buffer->newlines;
    auto first = first_newline_of(node);
    auto last = std::lower_bound(first, old_newlines.end(), node.start + units);
    const auto tail_newlines = std::count(tail.begin(), tail.end(), u'\n');
    buffer->newlines.reserve(static_cast<std::size_t>((last - first) + tail_newlines));
    for (auto it = first; it != last; ++it) {
        buffer->newlines.push_back(*it - node.start);
    }
    for (std::size_t i = 0; i < tail.size(); ++i) {
        if (tail[i] == u'\n') {
            buffer->newlines.push_back(units + i);
        }
    }
    Node proto;
    proto.length = buffer->text.size();
    proto.buffer = std::move(buffer);
    proto.priority = chunk_priority(seed, 0);
    return make_node(proto, nullptr, nullptr);
}

NodePtr SourceDocument::merge(const NodePtr& a, const NodePtr& b) {
    if (!a) {
        return b;
    }
    if (!b) {
        return a;
    }
    if (b->priority < a->priority) {
        return rebuild(*a, a->left, merge(a->right, b));
    }
    return rebuild(*b, merge(a, b->left), b->right);
}

std::pair<NodePtr, NodePtr> SourceDocument::split(const NodePtr& t, std::uint64_t position) {
    // The ends need no new nodes: the whole subtree goes to one side unchanged.
    if (!t || position == 0) {
        return {nullptr, t};
    }
    if (position >= t->subtree_length) {
        return {t, nullptr};
    }
    const std::uint64_t left = subtree_length(t->left);
    if (position < left) {
        auto [x, y] = split(t->left, position);
        return {std::move(x), attach(*t, std::move(y), t->right)};
    }
    if (position > left + t->length) {
        auto [x, y] = split(t->right, position - left - t->length);
        return {attach(*t, t->left, std::move(x)), std::move(y)};
    }
    // A whole piece keeps its node's priority, so the heap order below it still holds.
    const std::uint64_t offset = position - left;
    if (offset == 0) {
        return {t->left, rebuild(*t, nullptr, t->right)};
    }
    if (offset == t->length) {
        return {rebuild(*t, t->left, nullptr), t->right};
    }
    const std::uint64_t newlines = newlines_before(*t, offset);
    return {merge(t->left, cut_piece(*t, 0, offset, newlines)),
            merge(cut_piece(*t, offset, t->length - offset, t->newlines - newlines), t->right)};
}

NodePtr SourceDocument::attach(const Node& node, NodePtr left, NodePtr right) {
    if (left && left->priority > node.priority) {
        return merge(left, attach(node, nullptr, std::move(right)));
    }
    if (right && right->priority > node.priority) {
        return merge(rebuild(node, std::move(left), nullptr), right);
    }
    return rebuild(node, std::move(left), std::move(right));
}

void SourceDocument::append_range(const NodePtr& t, std::uint64_t position, std::uint64_t count,
                                  std::u16string& out) {
    const Node* node = t.get();
    while (node && count > 0) {
        const std::uint64_t left = subtree_length(node->left);
        if (position < left) {
            std::uint64_t take = std::min(count, left - position);
            append_range(node->left, position, take, out);
            position += take;
            count -= take;
            if (count == 0) {
                return;
            }
        }
        const std::uint64_t offset = position - left;
        if (offset < node->length) {
            std::uint64_t take = std::min(count, node->length - offset);
            out.append(node->buffer->text, node->start + offset, take);
            position += take;
            count -= take;
        }
        // Whatever remains lies in the right subtree.
        position -= left + node->length;
        node = node->right.get();
    }
}

std::u16string SourceDocument::text(std::uint64_t position, std::uint64_t count) const {
    const std::uint64_t size = length();
    position = std::min(position, size);
    count = std::min(count, size - position);
    std::u16string out;
    out.reserve(count);
    append_range(root, position, count, out);
    return out;
}

namespace {

// A stretch of units the text holds in one place, in text order.
struct Piece {
    const char16_t* units = nullptr;
    std::uint64_t length = 0;
};

void collect_pieces(const SourceDocument::Node* node, std::vector<Piece>& out) {
    while (node) {
        collect_pieces(node->left.get(), out);
        out.push_back({node->buffer->text.data() + node->start, node->length});
        node = node->right.get();
    }
}

std::vector<Piece> pieces_of(const SourceDocument& document) {
    std::vector<Piece> pieces;
    collect_pieces(document.root.get(), pieces);
    return pieces;
}

// Whole blocks are compared with memcmp first: nearly all of two large texts is equal, and a
// block compare is many times faster than a unit-by-unit loop.
constexpr std::uint64_t compare_block = 2048;

// How many of the `count` units from `a` and `b` on are equal before the first that differs;
// `step` is 1 to read forwards and -1 to read backwards from the unit before `a` and `b`.
std::uint64_t equal_run(const char16_t* a, const char16_t* b, std::uint64_t count, int step) {
    if (a == b) {
        return count;
    }
    std::uint64_t same = 0;
    const auto block_at = [&](const char16_t* p) {
        return step > 0 ? p + same : p - same - compare_block;
    };
    while (same + compare_block <= count &&
           std::memcmp(block_at(a), block_at(b), compare_block * sizeof(char16_t)) == 0) {
        same += compare_block;
    }
    const auto unit_at = [&](const char16_t* p) { return step > 0 ? p[same] : *(p - same - 1); };
    while (same < count && unit_at(a) == unit_at(b)) {
        ++same;
    }
    return same;
}

// Units equal from the front of both piece lists (or, reading `step` -1, from their back), at
// most `limit`.
std::uint64_t common_run(const std::vector<Piece>& a, const std::vector<Piece>& b, int step,
                         std::uint64_t limit) {
    const auto piece = [step](const std::vector<Piece>& list, std::size_t i) -> const Piece& {
        return step > 0 ? list[i] : list[list.size() - 1 - i];
    };
    const auto place = [step](const Piece& p, std::uint64_t used) {
        return step > 0 ? p.units + used : p.units + p.length - used;
    };
    std::size_t i = 0;
    std::size_t j = 0;
    std::uint64_t used_a = 0;
    std::uint64_t used_b = 0;
    std::uint64_t equal = 0;
    while (i < a.size() && j < b.size() && equal < limit) {
        const Piece& x = piece(a, i);
        const Piece& y = piece(b, j);
        const std::uint64_t run = std::min({x.length - used_a, y.length - used_b, limit - equal});
        const std::uint64_t same = equal_run(place(x, used_a), place(y, used_b), run, step);
        equal += same;
        if (same < run) {
            break;
        }
        used_a += run;
        used_b += run;
        if (used_a == x.length) {
            ++i;
            used_a = 0;
        }
        if (used_b == y.length) {
            ++j;
            used_b = 0;
        }
    }
    return equal;
}

} // namespace

TextDifference text_difference(const SourceDocument& before, const SourceDocument& after) {
    const std::vector<Piece> old_pieces = pieces_of(before);
    const std::vector<Piece> new_pieces = pieces_of(after);
    const std::uint64_t shorter = std::min(before.length(), after.length());
    const std::uint64_t prefix = common_run(old_pieces, new_pieces, 1, shorter);
    const std::uint64_t suffix = common_run(old_pieces, new_pieces, -1, shorter - prefix);
    return {prefix, before.length() - suffix, after.length() - suffix};
}

std::uint64_t SourceDocument::depth() const {
    std::uint64_t deepest = 0;
    std::vector<std::pair<const Node*, std::uint64_t>> pending;
    if (root) {
        pending.emplace_back(root.get(), 1);
    }
    while (!pending.empty()) {
        auto [node, level] = pending.back();
        pending.pop_back();
        deepest = std::max(deepest, level);
        for (const Node* child : {node->left.get(), node->right.get()}) {
            if (child) {
                pending.emplace_back(child, level + 1);
            }
        }
    }
    return deepest;
}

std::u16string SourceDocument::unit_at(std::uint64_t position) const {
    if (position >= length()) {
        return {};
    }
    return std::u16string(1, unit_in(root, position));
}

std::uint64_t SourceDocument::boundary_before(std::uint64_t position) const {
    const std::uint64_t size = length();
    position = std::min(position, size);
    if (position == 0 || position == size) {
        return position;
    }
    return is_low_surrogate(unit_in(root, position)) ? position - 1 : position;
}

std::uint64_t SourceDocument::boundary_after(std::uint64_t position) const {
    const std::uint64_t size = length();
    if (size == 0) {
        return 0;
    }
    position = std::min(position, size);
    if (position > 0 && position < size && is_low_surrogate(unit_in(root, position))) {
        --position;
    }
    if (position == size) {
        return size;
    }
    return is_high_surrogate(unit_in(root, position)) ? position + 2 : position + 1;
}

std::uint64_t SourceDocument::line_of(std::uint64_t position) const {
    position = std::min(position, length());
    std::uint64_t line = 0;
    const Node* node = root.get();
    while (node) {
        const std::uint64_t left = subtree_length(node->left);
        if (position < left) {
            node = node->left.get();
            continue;
        }
        line += subtree_newlines(node->left);
        position -= left;
        if (position <= node->length) {
            return line + newlines_before(*node, position);
        }
        line += node->newlines;
        position -= node->length;
        node = node->right.get();
    }
    return line;
}

std::uint64_t SourceDocument::line_start(std::uint64_t line) const {
    if (line == 0 || !root) {
        return 0;
    }
    if (line > root->subtree_newlines) {
        return root->subtree_length;
    }
    std::uint64_t remaining = line;
    std::uint64_t position = 0;
    const Node* node = root.get();
    while (node) {
        const std::uint64_t left_newlines = subtree_newlines(node->left);
        if (left_newlines >= remaining) {
            node = node->left.get();
            continue;
        }
        position += subtree_length(node->left);
        remaining -= left_newlines;
        if (node->newlines >= remaining) {
            std::uint64_t index = *(first_newline_of(*node) + (remaining - 1));
            return position + 1 + index - node->start;
        }
        position += node->length;
        remaining -= node->newlines;
        node = node->right.get();
    }
    return root->subtree_length;
}

void SourceDocument::assign(const std::u16string& text) {
    std::u16string normalized = normalize_source(text);
    // Built before any field changes, so a failed allocation leaves the document as it was.
    NodePtr new_root = build_rope(normalized, revision + 1);
    revision += 1;
    root = std::move(new_root);
    selection = {0, 0};
    redo_entries.clear();
    undo_entries.clear();
    history_bytes = 0;
    forced_modified = false;
    typing_open = false;
    revision += 1;
    state_id = revision;
    saved_state_id = revision;
    edit_count += 1;
}

} // namespace pellix
