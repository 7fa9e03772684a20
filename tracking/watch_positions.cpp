#include "tracking/watch_positions.h"

#include <algorithm>

namespace pellix {

std::uint64_t carry_watch_position(const SourceDocument& old_text, const SourceDocument& new_text,
                                   const LineDiff& diff, std::uint64_t position) {
    position = std::min(position, old_text.length());
    const std::uint64_t old_line = old_text.line_of(position);
    const std::uint64_t column = position - old_text.line_start(old_line);

    const std::uint64_t last_line = new_text.line_count() - 1;
    const auto mapped =
        static_cast<std::uint64_t>(map_line_through_hunks(diff, static_cast<double>(old_line)));
    const std::uint64_t line = std::min(mapped, last_line);
    const std::uint64_t start = new_text.line_start(line);
    // The last line has no following line start: it runs to the end of the text.
    std::uint64_t end = line < last_line ? new_text.line_start(line + 1) : new_text.length();
    if (end > start && new_text.text(end - 1, 1) == u"\n") {
        --end;
    }
    return start + std::min(column, end - start);
}

} // namespace pellix
