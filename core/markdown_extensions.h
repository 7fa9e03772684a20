#pragma once

// The Markdown file extensions, in the order the program registers and lists them. Every place
// that decides whether a name is Markdown or which extensions to register reads this one table.

#include <array>
#include <string_view>

namespace pellix {

inline constexpr std::array<std::wstring_view, 5> markdown_extensions = {
    L".md", L".markdown", L".mdown", L".mkd", L".mkdn"};

} // namespace pellix
