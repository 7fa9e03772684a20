#pragma once

// The one size limit every part of the program shares: a document holds at most 8 MiB of text,
// counted as UTF-16 units in memory and as bytes for a file read for editing or watching.
// Renderers, exporters and the outline take a whole document, so they take this limit too.

#include <cstdint>

namespace pellix {

inline constexpr std::uint64_t document_limit = 0x800000;
// Folding CR LF pairs at most halves a text, so a longer one can never fit a document.
inline constexpr std::uint64_t unfolded_text_limit = 2 * document_limit;

} // namespace pellix
