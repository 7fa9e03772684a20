#include "core/source_document.h"

#include <algorithm>
#include <stdexcept>

namespace pellix {

namespace {

using NodePtr = SourceDocument::NodePtr;

// Typed insertions up to this size are folded into the leaf before them, so a typing burst
// does not leave one tiny leaf per keystroke.
constexpr std::uint64_t typing_join_units = 16;

// Two bytes per removed and inserted unit, plus 256 for the entry itself.
std::uint64_t step_cost(std::uint64_t removed, std::uint64_t inserted) {
    return 2 * (removed + inserted + 128);
}

// The node whose piece holds the unit just before `position` (> 0), and the position where
// that piece begins.
std::pair<const SourceDocument::Node*, std::uint64_t> piece_before(const NodePtr& root,
                                                                   std::uint64_t position) {
    std::uint64_t remaining = position - 1;
    std::uint64_t base = 0;
    const SourceDocument::Node* node = root.get();
    for (;;) {
        const std::uint64_t left = node->left ? node->left->subtree_length : 0;
        if (remaining < left) {
            node = node->left.get();
            continue;
        }
        remaining -= left;
        base += left;
        if (remaining < node->length) {
            return {node, base};
        }
        remaining -= node->length;
        base += node->length;
        node = node->right.get();
    }
}

// The treap with [from, to) replaced by `middle` (null, or any subtree): split twice, then
// merge the three parts.
NodePtr split_and_merge(const NodePtr& t, std::uint64_t from, std::uint64_t to,
                        const NodePtr& middle) {
    auto [left, rest] = SourceDocument::split(t, from);
    NodePtr right = SourceDocument::split(rest, to - from).second;
    return SourceDocument::merge(SourceDocument::merge(left, middle), right);
}

// The same result for a single childless `middle`, found the way a treap insertion is: copy
// the path down to where `middle`'s priority belongs and split only the subtree below it.
// This builds about a third of the nodes that splitting and merging at the root would, which
// is most of the cost of a keystroke.
NodePtr splice_node(const NodePtr& t, std::uint64_t from, std::uint64_t to, const NodePtr& middle) {
    if (!t) {
        return middle;
    }
    if (middle->priority >= t->priority) {
        return split_and_merge(t, from, to, middle);
    }
    const std::uint64_t left = t->left ? t->left->subtree_length : 0;
    if (to <= left) {
        return SourceDocument::attach(*t, splice_node(t->left, from, to, middle), t->right);
    }
    const std::uint64_t piece_end = left + t->length;
    if (from >= piece_end) {
        return SourceDocument::attach(
            *t, t->left, splice_node(t->right, from - piece_end, to - piece_end, middle));
    }
    return split_and_merge(t, from, to, middle);
}

// The root after replacing [from, to) with `inserted`. A small typed insertion is built
// together with the piece before it, which keeps leaves from fragmenting into one per
// keystroke.
NodePtr spliced_root(const NodePtr& root, std::uint64_t from, std::uint64_t to,
                     const std::u16string& inserted, bool typed_insertion, std::uint64_t seed) {
    if (typed_insertion && inserted.size() <= typing_join_units && from > 0) {
        auto [piece, piece_start] = piece_before(root, from);
        const std::uint64_t kept = from - piece_start;
        if (kept + inserted.size() <= source_chunk_units) {
            return splice_node(root, piece_start, to,
                               SourceDocument::extended_leaf(*piece, kept, inserted, seed));
        }
    }
    NodePtr middle = build_rope(inserted, seed);
    if (middle && !middle->left && !middle->right) {
        return splice_node(root, from, to, middle);
    }
    return split_and_merge(root, from, to, middle);
}

} // namespace

void SourceDocument::replace(std::uint64_t a, std::uint64_t b, const std::u16string& text,
                             bool typing) {
    const std::uint64_t first = boundary_before(a);
    const std::uint64_t second = b == a ? first : boundary_before(b);
    const std::uint64_t from = std::min(first, second);
    const std::uint64_t to = std::max(first, second);
    const std::u16string inserted = normalize_source(text);
    const std::uint64_t inserted_end = from + inserted.size();
    if (length() - (to - from) + inserted.size() > document_limit) {
        throw std::length_error("Source exceeds the 8 MiB character limit.");
    }
    if (to - from == inserted.size() && this->text(from, to - from) == inserted) {
        selection = {inserted_end, inserted_end};
        typing_open = false;
        return;
    }

    const bool insertion = from == to;
    NodePtr new_root = spliced_root(root, from, to, inserted, typing && insertion, revision + 1);
    commit_replacement(from, to, std::move(new_root), inserted.size(),
                       inserted.find(u'\n') != std::u16string::npos, typing);
}

void SourceDocument::replace_range(std::uint64_t from, std::uint64_t to, NodePtr text) {
    to = std::min(to, length());
    from = std::min(from, to);
    const std::uint64_t inserted = text ? text->subtree_length : 0;
    if (length() - (to - from) + inserted > document_limit) {
        throw std::length_error("Source exceeds the 8 MiB character limit.");
    }
    const bool has_newline = text && text->subtree_newlines > 0;
    commit_replacement(from, to, split_and_merge(root, from, to, text), inserted, has_newline,
                       false);
}

void SourceDocument::commit_replacement(std::uint64_t from, std::uint64_t to, NodePtr new_root,
                                        std::uint64_t inserted, bool has_newline, bool typing) {
    const std::uint64_t inserted_end = from + inserted;
    const bool insertion = from == to;
    const std::uint64_t cost = step_cost(to - from, inserted);
    // A snapshot or a moved-from value keeps `typing_open` but has no entries to join.
    const bool joins = typing && typing_open && insertion && typing_end == from && !has_newline &&
                       !undo_entries.empty();
    if (joins) {
        undo_entries.back().new_end = inserted_end;
        undo_entries.back().cost += cost;
    } else {
        undo_entries.push_back(
            HistoryEntry{root, selection, state_id, cost, from, to, inserted_end});
    }
    history_bytes += cost;
    redo_entries.clear();

    last_change_start = from;
    last_change_old_end = to;
    last_change_new_end = inserted_end;
    root = std::move(new_root);
    edit_count += 1;
    revision += 1;
    state_id = revision;
    selection = {inserted_end, inserted_end};
    typing_end = inserted_end;
    typing_open = typing && insertion && !has_newline;

    // The newest entry stays however large it is, so the step just made can always be undone.
    while (undo_entries.size() > 1 &&
           (undo_entries.size() > history_entry_limit || history_bytes > history_byte_limit)) {
        history_bytes -= undo_entries.front().cost;
        undo_entries.pop_front();
    }
}

void SourceDocument::undo() {
    if (undo_entries.empty()) {
        return;
    }
    HistoryEntry& entry = undo_entries.back();
    redo_entries.push_back(HistoryEntry{root, selection, state_id, entry.cost, entry.start,
                                        entry.old_end, entry.new_end});
    last_change_start = entry.start;
    last_change_old_end = entry.new_end;
    last_change_new_end = entry.old_end;
    history_bytes -= entry.cost;
    root = std::move(entry.root);
    selection = entry.selection;
    state_id = entry.state_id;
    undo_entries.pop_back();
    edit_count += 1;
    typing_open = false;
}

void SourceDocument::redo() {
    if (redo_entries.empty()) {
        return;
    }
    HistoryEntry& entry = redo_entries.back();
    undo_entries.push_back(HistoryEntry{root, selection, state_id, entry.cost, entry.start,
                                        entry.old_end, entry.new_end});
    last_change_start = entry.start;
    last_change_old_end = entry.old_end;
    last_change_new_end = entry.new_end;
    history_bytes += entry.cost;
    root = std::move(entry.root);
    selection = entry.selection;
    state_id = entry.state_id;
    redo_entries.pop_back();
    edit_count += 1;
    typing_open = false;
}

} // namespace pellix
