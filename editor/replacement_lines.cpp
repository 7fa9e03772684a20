#include "editor/replacement_lines.h"

#include "editor/fence_state.h"

namespace pellix {

ReplacementLines::ReplacementLines(FenceState start, std::u16string_view before)
    : start_(start), state_(start), partial_(before) {}

void ReplacementLines::append(std::u16string_view text) {
    std::size_t begin = 0;
    for (std::size_t end = text.find(u'\n'); end != std::u16string_view::npos;
         end = text.find(u'\n', begin)) {
        // Most lines arrive whole, and only those split across pieces are copied.
        if (partial_.empty()) {
            complete(text.substr(begin, end - begin));
        } else {
            partial_.append(text.substr(begin, end - begin));
            complete(partial_);
            partial_.clear();
        }
        begin = end + 1;
    }
    partial_.append(text.substr(begin));
}

void ReplacementLines::keep(std::uint64_t lines) {
    if (lines < lengths_.size()) {
        lengths_.resize(lines);
        states_after_.resize(lines);
    }
}

void ReplacementLines::complete(std::u16string_view line) {
    LineCursor cursor(line);
    state_ = fence_state_after(state_, cursor);
    lengths_.push_back(line.size());
    states_after_.push_back(state_);
}

} // namespace pellix
