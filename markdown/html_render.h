#pragma once

// Markdown source to the one self-contained HTML page that the preview reads back, the HTML
// export writes and printing renders. Every byte of the page format is fixed: the preview's
// reader accepts nothing else.

#include <cstdint>
#include <string>

#include "core/limits.h"

namespace pellix {

// Source limits of the callers: the preview renders at most 256 KiB on the UI thread; export
// and printing take a whole document.
constexpr std::uint64_t preview_source_limit = 0x40000;

// Page size caps: the preview's limit selects the small cap, every other limit the large one.
constexpr std::uint64_t preview_page_cap = 1000000;
constexpr std::uint64_t document_page_cap = 0x4000000;

// Renders `source` (UTF-8, LF line breaks) with the dark or light colour rules. Throws
// std::runtime_error when the source is longer than `source_limit` bytes, the page would pass
// its cap, a list nests deeper than 64 levels or a table has more than 64 columns.
std::string render_markdown_html(const std::string& source, bool dark, std::uint64_t source_limit);
// The same, writing into `page`: its old content is replaced and its capacity reused. On
// failure it is left empty, unless it is the source itself, which then stays unchanged.
void render_markdown_html(std::string& page, const std::string& source, bool dark,
                          std::uint64_t source_limit);

} // namespace pellix
