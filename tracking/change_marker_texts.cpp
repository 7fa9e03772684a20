#include "tracking/change_marker_texts.h"

#include <algorithm>
#include <string_view>

namespace pellix {
namespace {

constexpr std::size_t tooltip_unit_limit = 0x800;
constexpr std::uint64_t tooltip_line_limit = 5;

bool is_high_surrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

std::u16string decimal(std::uint64_t value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

// How many of the range's new lines replaced baseline lines: the length of the changed mark
// that starts the range, at most the baseline lines it removed.
std::uint64_t changed_count(const ChangeMarks& marks, const ChangeRange& range,
                            std::uint64_t old_length) {
    auto mark = std::lower_bound(
        marks.line_marks.begin(), marks.line_marks.end(), range.new_begin,
        [](const LineMark& candidate, std::uint64_t line) { return candidate.first < line; });
    if (mark == marks.line_marks.end() || mark->first != range.new_begin ||
        mark->kind != line_mark_changed) {
        return 0;
    }
    return std::min(mark->end - range.new_begin, old_length);
}

std::size_t start_of_line(std::u16string_view text, std::uint64_t line) {
    std::size_t at = 0;
    for (std::uint64_t k = 0; k < line; ++k) {
        at = text.find(u'\n', at) + 1;
    }
    return at;
}

// The heading, then baseline lines [begin, end): at most five, the whole text at most 2048 units
// (a cut never leaves half a surrogate pair), and a count of the lines left out.
std::u16string listing(std::u16string heading, std::u16string_view baseline, std::uint64_t begin,
                       std::uint64_t end) {
    std::u16string text = std::move(heading);
    const auto lines =
        static_cast<std::uint64_t>(std::count(baseline.begin(), baseline.end(), u'\n')) + 1;
    begin = std::min(begin, lines);
    end = std::max(std::min(end, lines), begin);
    const std::uint64_t shown = std::min(end - begin, tooltip_line_limit);
    std::uint64_t hidden = end - begin - shown;

    std::size_t at = shown > 0 ? start_of_line(baseline, begin) : 0;
    for (std::uint64_t listed = 0; listed < shown; ++listed) {
        const std::size_t line_end = std::min(baseline.find(u'\n', at), baseline.size());
        std::u16string_view line = baseline.substr(at, line_end - at);
        const std::size_t room = tooltip_unit_limit - std::min(tooltip_unit_limit, text.size());
        const bool cut = line.size() > room;
        if (cut) {
            line = line.substr(0, room);
            if (!line.empty() && is_high_surrogate(line.back())) {
                line.remove_suffix(1);
            }
        }
        text += line;
        if (cut || text.size() >= tooltip_unit_limit) {
            text += u"\n[text truncated]";
            hidden += shown - listed - 1;
            break;
        }
        text += u'\n';
        at = line_end + 1;
    }
    if (hidden > 0) {
        text += u"and ";
        text += decimal(hidden);
        text += u" more";
    }
    return text;
}

} // namespace

std::u16string change_marker_text(const CompareBaseline* baseline, bool updating,
                                  const LineDiff& diff, std::uint64_t line, bool deletion) {
    if (baseline == nullptr) {
        return {};
    }
    if (updating) {
        return u"Comparison updating";
    }
    if (!diff.line_by_line) {
        return u"Too large to compare line by line";
    }
    for (const ChangeRange& range : diff.ranges) {
        const std::uint64_t old_length =
            baseline->text.empty() ? 0 : range.old_end - range.old_begin;
        const std::uint64_t changed = changed_count(diff.marks, range, old_length);
        if (!deletion) {
            if (line < range.new_begin || line >= range.new_end) {
                continue;
            }
            if (line >= range.new_begin + changed) {
                return u"Added; no baseline text";
            }
            return listing(u"Baseline:\n", baseline->text, range.old_begin, range.old_end);
        }
        if (line == range.new_end && changed < old_length) {
            return listing(u"Removed from baseline:\n", baseline->text, range.old_begin + changed,
                           range.old_end);
        }
    }
    return {};
}

} // namespace pellix
