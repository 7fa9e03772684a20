#pragma once

// Inline Markdown (emphasis, code spans, links, autolinks, escapes and line breaks) rendered to
// HTML, with the one HTML escaping and the one link-target rule that every generated page, the
// preview reader, the export and the preview's link opening share.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pellix {

// Nesting depth at which links and emphasis stop being recognised; bounds the recursion.
constexpr std::uint32_t max_inline_depth = 8;

// Replaces & < > " ' by "&amp;" "&lt;" "&gt;" "&quot;" "&#39;"; every other byte is copied.
std::string escape_html(std::string_view text);
// The same escaping appended to `out`.
void append_escaped_html(std::string& out, std::string_view text);

// The link rule: non-empty, no byte 0x00-0x20 or 0x7F, and either an http://, https:// or
// mailto: prefix (any letter case) or a leading '#'.
bool is_allowed_link(const char* data, std::size_t size);
inline bool is_allowed_link(std::string_view target) {
    return is_allowed_link(target.data(), target.size());
}

// Renders the inline source of one block (lines joined with line feeds). Block-level callers
// pass depth 0.
std::string render_inline_html(const std::string& text, std::uint32_t depth);
// The same rendering appended to `out`.
void append_inline_html(std::string& out, std::string_view text, std::uint32_t depth);

} // namespace pellix
