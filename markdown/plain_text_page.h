#pragma once

// A non-Markdown document as one escaped, preformatted block in a self-contained, print-friendly
// HTML page, for export and printing.

#include <string>

namespace pellix {

// Throws std::runtime_error "Text output exceeds the 8 MiB source limit." for a text longer
// than document_limit bytes.
std::string render_plain_text_html(const std::string& text);

} // namespace pellix
