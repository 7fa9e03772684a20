#pragma once

#include <cstdint>
#include <vector>

namespace pellix {

// The markers an editor draws beside its text after a comparison. Header-only on purpose: the
// editor includes it without linking the tracking library.

enum LineMarkKind : std::uint32_t {
    line_mark_added = 0,
    line_mark_changed = 1,
};

// Lines [first, end) of the shown text; kind 0 means added, any other value changed.
struct LineMark {
    std::uint64_t first = 0;
    std::uint64_t end = 0;
    std::uint32_t kind = line_mark_added;

    bool operator==(const LineMark&) const = default;
};

// `count` baseline lines were removed at the top edge of `line`.
struct DeletionMark {
    std::uint64_t line = 0;
    std::uint64_t count = 0;

    bool operator==(const DeletionMark&) const = default;
};

// Line marks ascend by first line and never overlap, so a reader can binary-search them.
struct ChangeMarks {
    std::vector<LineMark> line_marks;
    std::vector<DeletionMark> deletion_marks;

    bool operator==(const ChangeMarks&) const = default;
};

// How many lines the marks cover, and how many baseline lines the deletion marks stand for.
inline std::uint64_t marked_line_count(const std::vector<LineMark>& marks) {
    std::uint64_t count = 0;
    for (const LineMark& mark : marks) {
        count += mark.end - mark.first;
    }
    return count;
}
inline std::uint64_t deleted_line_count(const std::vector<DeletionMark>& marks) {
    std::uint64_t count = 0;
    for (const DeletionMark& mark : marks) {
        count += mark.count;
    }
    return count;
}

} // namespace pellix
