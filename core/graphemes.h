#pragma once

// Where text may be cut without splitting what a reader sees as one character: a letter with its
// combining marks, a surrogate pair, an emoji sequence joined by U+200D, a flag's two regional
// indicators, a Hangul syllable spelt in jamo, CR LF (the extended grapheme clusters of Unicode
// text segmentation).

#include <cstddef>
#include <string_view>

namespace pellix {

// Whether `at` (at most text.size()) lies between two such characters; both ends of the text
// do. What stands before `text` is not seen, so a window of text around `at` serves as well as
// the whole, given a few dozen units of context on each side.
bool is_grapheme_boundary(std::u16string_view text, std::size_t at);

// The last boundary at or before `at`, and the first one after `at` (text.size() at most). A
// character of more than a few hundred units is no character a reader sees as one: these then
// answer the code point boundary that far from `at`.
std::size_t grapheme_boundary_before(std::u16string_view text, std::size_t at);
std::size_t grapheme_boundary_after(std::u16string_view text, std::size_t at);

// Where a piece of `text` that starts at the boundary `start` ends when it should end near
// `at`: the last boundary at or before `at`, but at least one whole character past `start`.
std::size_t grapheme_cut(std::u16string_view text, std::size_t start, std::size_t at);

} // namespace pellix
