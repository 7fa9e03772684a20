#pragma once

// The Format menu's text transforms: wrapping the selection in inline markers and putting a
// block prefix in front of every selected line. Each takes the whole text and the selection and
// gives the whole new text with the new selection, so that the caller can apply the difference
// as one edit.

#include <cstdint>
#include <string>
#include <string_view>

namespace pellix {

// A selection as UTF-16 offsets, `start` <= `end`.
struct TextSelection {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    bool operator==(const TextSelection&) const = default;
};

struct FormattedText {
    std::u16string text;
    TextSelection selection;
};

// The selection clamped to `length`: start = min(length, start), end between start and length.
TextSelection clamp_selection(std::uint64_t start, std::uint64_t end, std::uint64_t length);

// `before` + the selected text (the word "text" when nothing is selected) + `after` in place of
// the selection; the new selection covers the inner text.
FormattedText wrap_text(const std::u16string& text, TextSelection selection,
                        std::u16string_view before, std::u16string_view after);

// Every line the selection touches gets `prefix` in front (a selection ending just after a line
// break leaves the next line alone); the new selection covers the whole new block.
FormattedText prefix_text_lines(const std::u16string& text, TextSelection selection,
                                std::u16string_view prefix);

} // namespace pellix
