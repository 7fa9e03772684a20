#include "tracking/line_diff.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace pellix {
namespace {

// Both texts cut into lines, with one hash per line so that most unequal pairs are told apart
// without touching their units (the LCS tables compare every pair of a gap).
struct SplitText {
    std::vector<LineView> lines;
    std::vector<std::uint64_t> hashes;
};

std::uint64_t hash_line(const LineView& line) {
    // FNV-1a over the units: cheap, and good enough for table keys.
    std::uint64_t hash = 1469598103934665603ull;
    for (std::size_t i = 0; i < line.length; ++i) {
        hash = (hash ^ static_cast<std::uint16_t>(line.data[i])) * 1099511628211ull;
    }
    return hash;
}

bool same_units(const LineView& a, const LineView& b) {
    return a.length == b.length && std::equal(a.data, a.data + a.length, b.data);
}

struct Comparison {
    const SplitText& old_text;
    const SplitText& new_text;

    bool equal(std::uint64_t old_line, std::uint64_t new_line) const {
        return old_text.hashes[old_line] == new_text.hashes[new_line] &&
               same_units(old_text.lines[old_line], new_text.lines[new_line]);
    }
};

void hash_lines(SplitText& text, std::uint64_t begin, std::uint64_t end) {
    text.hashes.assign(text.lines.size(), 0);
    for (std::uint64_t i = begin; i < end; ++i) {
        text.hashes[i] = hash_line(text.lines[i]);
    }
}

std::uint64_t count_line_feeds(std::u16string_view text) {
    return static_cast<std::uint64_t>(std::count(text.begin(), text.end(), u'\n'));
}

LineDiff coarse_line_result(std::uint64_t old_lines, std::uint64_t new_lines, std::uint64_t p,
                            std::uint64_t old_end, std::uint64_t new_end) {
    LineDiff diff;
    diff.line_by_line = false;
    diff.old_lines = old_lines;
    diff.new_lines = new_lines;
    append_change_range(diff, p, old_end, p, new_end);
    return diff;
}

// Texts too long to split: one range from the first differing line to the last, found by units.
LineDiff coarse_unit_result(std::u16string_view old_text, std::u16string_view new_text) {
    LineDiff diff;
    diff.old_lines = count_line_feeds(old_text) + 1;
    diff.new_lines = count_line_feeds(new_text) + 1;
    const std::size_t shorter = std::min(old_text.size(), new_text.size());
    const std::size_t u = static_cast<std::size_t>(
        std::mismatch(old_text.begin(), old_text.begin() + shorter, new_text.begin()).first -
        old_text.begin());
    if (u == old_text.size() && u == new_text.size()) {
        // Equal texts have nothing to mark; a one-line range here would look like an edit.
        return diff;
    }
    diff.line_by_line = false;
    std::size_t s = 0;
    if (u < old_text.size()) {
        const std::size_t room = std::min(old_text.size() - u, new_text.size() - u);
        while (s < room && old_text[old_text.size() - 1 - s] == new_text[new_text.size() - 1 - s]) {
            ++s;
        }
    }
    const std::uint64_t first = count_line_feeds(old_text.substr(0, u));
    const std::uint64_t k = count_line_feeds(old_text.substr(old_text.size() - s));
    const std::uint64_t old_end = diff.old_lines - k;
    const std::uint64_t new_end = diff.new_lines - k;
    append_change_range(diff, first, std::max(first, old_end), first, std::max(first, new_end));
    return diff;
}

// Occurrence counters of one distinct line, in an open-addressing table keyed by its units.
struct LineCounts {
    std::uint64_t hash = 0;
    LineView line;
    std::uint32_t old_count = 0;
    std::uint32_t new_count = 0;
    std::uint64_t old_index = 0;
    std::uint64_t new_index = 0;
    bool used = false;
};

class LineCountTable {
public:
    explicit LineCountTable(std::size_t distinct_at_most) {
        std::size_t capacity = 16;
        while (capacity < distinct_at_most * 2) {
            capacity *= 2;
        }
        slots_.resize(capacity);
    }

    LineCounts& find(const LineView& line, std::uint64_t hash) {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t at = static_cast<std::size_t>(hash) & mask;; at = (at + 1) & mask) {
            LineCounts& slot = slots_[at];
            if (!slot.used) {
                slot.used = true;
                slot.hash = hash;
                slot.line = line;
                return slot;
            }
            if (slot.hash == hash && same_units(slot.line, line)) {
                return slot;
            }
        }
    }

private:
    std::vector<LineCounts> slots_;
};

struct LinePair {
    std::uint64_t old_line;
    std::uint64_t new_line;
};

// Pairs of lines that occur exactly once in each text's changed middle, in old order.
std::vector<LinePair> unique_line_pairs(const SplitText& old_text, const SplitText& new_text,
                                        std::uint64_t p, std::uint64_t old_end,
                                        std::uint64_t new_end) {
    LineCountTable table((old_end - p) + (new_end - p));
    std::vector<LineCounts*> old_slots;
    old_slots.reserve(old_end - p);
    for (std::uint64_t i = p; i < old_end; ++i) {
        LineCounts& counts = table.find(old_text.lines[i], old_text.hashes[i]);
        ++counts.old_count;
        counts.old_index = i;
        old_slots.push_back(&counts);
    }
    for (std::uint64_t j = p; j < new_end; ++j) {
        LineCounts& counts = table.find(new_text.lines[j], new_text.hashes[j]);
        ++counts.new_count;
        counts.new_index = j;
    }
    std::vector<LinePair> candidates;
    for (std::uint64_t i = p; i < old_end; ++i) {
        const LineCounts& counts = *old_slots[i - p];
        if (counts.old_count == 1 && counts.new_count == 1) {
            candidates.push_back({i, counts.new_index});
        }
    }
    return candidates;
}

// The longest run of candidates increasing on the new side too, by patience sorting.
std::vector<LinePair> patience_anchors(const std::vector<LinePair>& candidates) {
    constexpr std::size_t none = std::numeric_limits<std::size_t>::max();
    std::vector<std::uint64_t> tails;
    std::vector<std::size_t> tail_candidates;
    std::vector<std::size_t> predecessors(candidates.size(), none);
    for (std::size_t k = 0; k < candidates.size(); ++k) {
        const std::uint64_t new_line = candidates[k].new_line;
        const std::size_t place = static_cast<std::size_t>(
            std::lower_bound(tails.begin(), tails.end(), new_line) - tails.begin());
        if (place > 0) {
            predecessors[k] = tail_candidates[place - 1];
        }
        if (place == tails.size()) {
            tails.push_back(new_line);
            tail_candidates.push_back(k);
        } else {
            tails[place] = new_line;
            tail_candidates[place] = k;
        }
    }
    std::vector<LinePair> anchors;
    if (!tail_candidates.empty()) {
        for (std::size_t k = tail_candidates.back(); k != none; k = predecessors[k]) {
            anchors.push_back(candidates[k]);
        }
        std::reverse(anchors.begin(), anchors.end());
    }
    return anchors;
}

// Fills the gap between two anchors with the ranges of a longest common subsequence. Returns
// false, having appended nothing, when the gap's table does not fit the remaining budget.
bool diff_gap(LineDiff& diff, const Comparison& lines, LinePair from, LinePair to,
              std::uint64_t& budget) {
    const std::uint64_t g_old = to.old_line - from.old_line;
    const std::uint64_t g_new = to.new_line - from.new_line;
    if (g_old == 0 || g_new == 0) {
        append_change_range(diff, from.old_line, to.old_line, from.new_line, to.new_line);
        return true;
    }
    const std::uint64_t cells = (g_old + 1) * (g_new + 1);
    if (cells > budget) {
        return false;
    }
    const std::uint64_t width = g_new + 1;
    std::vector<std::uint16_t> table(cells, 0);
    auto at = [&](std::uint64_t i, std::uint64_t j) -> std::uint16_t& {
        return table[i * width + j];
    };
    for (std::uint64_t i = g_old; i-- > 0;) {
        for (std::uint64_t j = g_new; j-- > 0;) {
            at(i, j) = lines.equal(from.old_line + i, from.new_line + j)
                           ? static_cast<std::uint16_t>(at(i + 1, j + 1) + 1)
                           : std::max(at(i, j + 1), at(i + 1, j));
        }
    }
    std::uint64_t i = 0;
    std::uint64_t j = 0;
    std::uint64_t cur_old = from.old_line;
    std::uint64_t cur_new = from.new_line;
    while (i < g_old || j < g_new) {
        if (i < g_old && j < g_new && lines.equal(from.old_line + i, from.new_line + j)) {
            append_change_range(diff, cur_old, from.old_line + i, cur_new, from.new_line + j);
            ++i;
            ++j;
            cur_old = from.old_line + i;
            cur_new = from.new_line + j;
        } else if (j < g_new) {
            // On a tie the new line is skipped first.
            if (i < g_old && at(i, j + 1) < at(i + 1, j)) {
                ++i;
            } else {
                ++j;
            }
        } else {
            ++i;
        }
    }
    append_change_range(diff, cur_old, to.old_line, cur_new, to.new_line);
    budget -= cells;
    return true;
}

void derive_marks(LineDiff& diff, bool old_empty, bool new_empty) {
    auto& line_marks = diff.marks.line_marks;
    auto& deletion_marks = diff.marks.deletion_marks;
    for (const ChangeRange& range : diff.ranges) {
        const std::uint64_t c_old = range.old_end - range.old_begin;
        const std::uint64_t c_new = range.new_end - range.new_begin;
        if (old_empty) {
            if (!new_empty && c_new > 0) {
                line_marks.push_back({range.new_begin, range.new_end, line_mark_added});
            }
        } else if (new_empty) {
            if (c_old > 0) {
                deletion_marks.push_back({range.new_end, c_old});
            }
        } else {
            const std::uint64_t m = std::min(c_old, c_new);
            if (m > 0) {
                line_marks.push_back({range.new_begin, range.new_begin + m, line_mark_changed});
            }
            if (c_new > c_old) {
                line_marks.push_back({range.new_begin + m, range.new_end, line_mark_added});
            }
            if (c_old > c_new) {
                deletion_marks.push_back({range.new_end, c_old - m});
            }
        }
    }
}

} // namespace

std::vector<LineView> split_lines(std::u16string_view text) {
    std::vector<LineView> lines;
    lines.reserve(count_line_feeds(text) + 1);
    const char16_t* start = text.data();
    const char16_t* end = text.data() + text.size();
    for (const char16_t* at = start; at != end; ++at) {
        if (*at == u'\n') {
            lines.push_back({static_cast<std::size_t>(at - start), start});
            start = at + 1;
        }
    }
    lines.push_back({static_cast<std::size_t>(end - start), start});
    return lines;
}

void append_change_range(LineDiff& diff, std::uint64_t old_begin, std::uint64_t old_end,
                         std::uint64_t new_begin, std::uint64_t new_end) {
    if (old_begin == old_end && new_begin == new_end) {
        return;
    }
    if (!diff.ranges.empty()) {
        ChangeRange& last = diff.ranges.back();
        if (last.old_end == old_begin && last.new_end == new_begin) {
            last.old_end = old_end;
            last.new_end = new_end;
            return;
        }
    }
    diff.ranges.push_back({old_begin, old_end, new_begin, new_end});
}

LineDiff diff_lines(std::u16string_view old_text, std::u16string_view new_text) {
    if (old_text.size() > diff_unit_limit || new_text.size() > diff_unit_limit) {
        return coarse_unit_result(old_text, new_text);
    }
    SplitText old_split{split_lines(old_text), {}};
    SplitText new_split{split_lines(new_text), {}};
    const std::uint64_t old_lines = old_split.lines.size();
    const std::uint64_t new_lines = new_split.lines.size();

    std::uint64_t p = 0;
    const std::uint64_t shorter = std::min(old_lines, new_lines);
    while (p < shorter && same_units(old_split.lines[p], new_split.lines[p])) {
        ++p;
    }
    std::uint64_t old_end = old_lines;
    std::uint64_t new_end = new_lines;
    while (p < new_end && p < old_end &&
           same_units(old_split.lines[old_end - 1], new_split.lines[new_end - 1])) {
        --old_end;
        --new_end;
    }

    LineDiff diff;
    diff.old_lines = old_lines;
    diff.new_lines = new_lines;
    if (p == old_end && p == new_end) {
        return diff;
    }
    if (old_lines > diff_line_limit || new_lines > diff_line_limit) {
        return coarse_line_result(old_lines, new_lines, p, old_end, new_end);
    }

    hash_lines(old_split, p, old_end);
    hash_lines(new_split, p, new_end);
    std::vector<LinePair> anchors =
        patience_anchors(unique_line_pairs(old_split, new_split, p, old_end, new_end));
    anchors.push_back({old_end, new_end});

    const Comparison lines{old_split, new_split};
    std::uint64_t budget = diff_cell_budget;
    LinePair previous{p, p};
    for (const LinePair& anchor : anchors) {
        if (!diff_gap(diff, lines, previous, anchor, budget)) {
            return coarse_line_result(old_lines, new_lines, p, old_end, new_end);
        }
        previous = {anchor.old_line + 1, anchor.new_line + 1};
    }
    derive_marks(diff, old_text.empty(), new_text.empty());
    return diff;
}

double map_line_through_hunks(const LineDiff& diff, double position) {
    // Written so that NaN lands on 0 too: callers truncate the result to an unsigned line.
    const double x = position > 0.0 ? position : 0.0;
    const auto after = std::upper_bound(
        diff.ranges.begin(), diff.ranges.end(), x,
        [](double value, const ChangeRange& range) { return value < double(range.old_begin); });
    double result = x;
    if (after != diff.ranges.begin()) {
        const ChangeRange& range = *(after - 1);
        if (x >= double(range.old_end)) {
            result = x - double(range.old_end) + double(range.new_end);
        } else {
            const double span =
                range.new_end > range.new_begin ? double(range.new_end - range.new_begin - 1) : 0.0;
            result = double(range.new_begin) + std::min(span, x - double(range.old_begin));
        }
    }
    const double last = diff.new_lines > 0 ? double(diff.new_lines - 1) : 0.0;
    return std::clamp(result, 0.0, last);
}

} // namespace pellix
