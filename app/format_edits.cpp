#include "app/format_edits.h"

#include <algorithm>

namespace pellix {

namespace {

constexpr std::u16string_view empty_selection_word = u"text";

} // namespace

TextSelection clamp_selection(std::uint64_t start, std::uint64_t end, std::uint64_t length) {
    const std::uint64_t first = std::min(length, start);
    return {first, std::min(std::max(end, first), length)};
}

FormattedText wrap_text(const std::u16string& text, TextSelection selection,
                        std::u16string_view before, std::u16string_view after) {
    const TextSelection range = clamp_selection(selection.start, selection.end, text.size());
    std::u16string_view inner(text.data() + range.start, range.end - range.start);
    if (inner.empty()) {
        inner = empty_selection_word;
    }
    FormattedText result;
    result.text.reserve(text.size() + before.size() + inner.size() + after.size());
    result.text.append(text, 0, range.start);
    result.text.append(before);
    result.text.append(inner);
    result.text.append(after);
    result.text.append(text, range.end);
    const std::uint64_t inner_start = range.start + before.size();
    result.selection = {inner_start, inner_start + inner.size()};
    return result;
}

FormattedText prefix_text_lines(const std::u16string& text, TextSelection selection,
                                std::u16string_view prefix) {
    const TextSelection range = clamp_selection(selection.start, selection.end, text.size());
    const std::size_t line_break =
        range.start == 0 ? std::u16string::npos : text.rfind(u'\n', range.start - 1);
    const std::uint64_t block_start = line_break == std::u16string::npos ? 0 : line_break + 1;
    std::uint64_t block_end = range.end;
    if (block_end > block_start && text[block_end - 1] == u'\n') {
        --block_end;
    }
    block_end = std::min<std::uint64_t>(text.find(u'\n', block_end), text.size());

    std::u16string block;
    block.append(prefix);
    for (std::uint64_t i = block_start; i < block_end; ++i) {
        block.push_back(text[i]);
        if (text[i] == u'\n') {
            block.append(prefix);
        }
    }
    FormattedText result;
    result.text.reserve(text.size() + block.size());
    result.text.append(text, 0, block_start);
    result.text.append(block);
    result.text.append(text, block_end);
    result.selection = {block_start, block_start + block.size()};
    return result;
}

} // namespace pellix
