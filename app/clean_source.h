#pragma once

// Clean Source: trailing blanks go (a two-space hard break stays as exactly two spaces), lines of
// nothing but blanks become empty, leading blank lines and runs of more than two blank lines go,
// and the text ends in one line break. Front matter, fenced code, indented code and block quotes
// are left as they are.

#include <string>

namespace pellix {

// The cleaned text; the text itself when it has front matter without a closing line.
std::u16string clean_markdown_source(const std::u16string& text);

} // namespace pellix
