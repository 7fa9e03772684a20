#include "tracking/watch_marks.h"

#include <algorithm>
#include <cstdint>

namespace pellix {
namespace {

// One byte per new line; a larger code wins, so added outranks changed.
constexpr std::uint8_t code_changed = 1;
constexpr std::uint8_t code_added = 2;

std::uint8_t code_of(std::uint32_t kind) {
    return kind == line_mark_added ? code_added : code_changed;
}

void mark(std::vector<std::uint8_t>& codes, std::uint64_t line, std::uint8_t code) {
    codes[line] = std::max(codes[line], code);
}

// The old line lies in a range whose new side is empty: it was deleted.
bool removed_line(const LineDiff& diff, std::uint64_t line) {
    auto after = std::upper_bound(
        diff.ranges.begin(), diff.ranges.end(), line,
        [](std::uint64_t value, const ChangeRange& range) { return value < range.old_begin; });
    if (after == diff.ranges.begin()) {
        return false;
    }
    const ChangeRange& range = *std::prev(after);
    return line < range.old_end && range.new_begin == range.new_end;
}

std::uint64_t mapped_line(const LineDiff& diff, std::uint64_t line) {
    return static_cast<std::uint64_t>(map_line_through_hunks(diff, static_cast<double>(line)));
}

void carry_old_line_marks(const LineDiff& diff, const std::vector<LineMark>& marks,
                          std::vector<std::uint8_t>& codes) {
    for (const LineMark& old_mark : marks) {
        // Lines past the old text do not exist; without this bound a damaged mark would pile
        // onto the last line, and could run for 2^64 steps.
        const std::uint64_t end = std::min(old_mark.end, diff.old_lines);
        for (std::uint64_t line = old_mark.first; line < end; ++line) {
            if (removed_line(diff, line)) {
                continue;
            }
            const std::uint64_t target = mapped_line(diff, line);
            if (target < diff.new_lines) {
                mark(codes, target, code_of(old_mark.kind));
            }
        }
    }
}

std::vector<LineMark> runs_of(const std::vector<std::uint8_t>& codes) {
    std::vector<LineMark> runs;
    std::uint64_t line = 0;
    while (line < codes.size()) {
        const std::uint8_t code = codes[line];
        std::uint64_t stop = line + 1;
        while (stop < codes.size() && codes[stop] == code) {
            ++stop;
        }
        if (code != 0) {
            runs.push_back(
                LineMark{line, stop, code == code_added ? line_mark_added : line_mark_changed});
        }
        line = stop;
    }
    return runs;
}

std::vector<DeletionMark> merged_deletions(const LineDiff& diff,
                                           const std::vector<DeletionMark>& old_marks) {
    std::vector<DeletionMark> all;
    all.reserve(old_marks.size() + diff.marks.deletion_marks.size());
    for (const DeletionMark& old_mark : old_marks) {
        const std::uint64_t line =
            old_mark.line < diff.old_lines ? mapped_line(diff, old_mark.line) : diff.new_lines;
        all.push_back(DeletionMark{line, old_mark.count});
    }
    all.insert(all.end(), diff.marks.deletion_marks.begin(), diff.marks.deletion_marks.end());
    std::sort(all.begin(), all.end(),
              [](const DeletionMark& a, const DeletionMark& b) { return a.line < b.line; });

    std::vector<DeletionMark> merged;
    for (const DeletionMark& entry : all) {
        if (!merged.empty() && merged.back().line == entry.line) {
            merged.back().count += entry.count;
        } else {
            merged.push_back(entry);
        }
    }
    return merged;
}

} // namespace

ChangeMarks carry_watch_marks(const LineDiff& diff, const std::vector<LineMark>& line_marks,
                              const std::vector<DeletionMark>& deletion_marks) {
    if (!diff.line_by_line) {
        return {};
    }
    std::vector<std::uint8_t> codes(diff.new_lines, 0);
    carry_old_line_marks(diff, line_marks, codes);
    for (const LineMark& new_mark : diff.marks.line_marks) {
        const std::uint64_t end = std::min(new_mark.end, diff.new_lines);
        for (std::uint64_t line = new_mark.first; line < end; ++line) {
            mark(codes, line, code_of(new_mark.kind));
        }
    }
    return ChangeMarks{runs_of(codes), merged_deletions(diff, deletion_marks)};
}

} // namespace pellix
