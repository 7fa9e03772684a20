#pragma once

// The per-line data of a long replacement text, gathered while the text is built in slices, so
// that handing the text to the editor only splices the lines in instead of reading a hundred
// thousand of them in one go.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "markdown/line_scanners.h"

namespace pellix {

// Counts from the start of the line where the replacement begins: for each line that the text
// completes (ends with its line feed), the line's length without the line feed and the fence
// state after it. The last line, which the text after the replacement finishes, is left to the
// editor.
class ReplacementLines {
public:
    ReplacementLines() = default;
    // `start`: the fence state before the line where the replacement begins; `before`: that
    // line's text before the replacement.
    ReplacementLines(FenceState start, std::u16string_view before);

    void append(std::u16string_view text);
    std::uint64_t complete_lines() const { return lengths_.size(); }
    // Forgets the lines completed after the first `lines` (text appended past the replacement).
    void keep(std::uint64_t lines);

    FenceState start() const { return start_; }
    const std::vector<std::uint64_t>& lengths() const { return lengths_; }
    std::vector<FenceState>& states_after() { return states_after_; }

private:
    void complete(std::u16string_view line);

    FenceState start_{};
    FenceState state_{};
    // The line not yet ended.
    std::u16string partial_;
    std::vector<std::uint64_t> lengths_;
    std::vector<FenceState> states_after_;
};

} // namespace pellix
