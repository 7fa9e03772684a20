#pragma once

// Line-level decisions of the Markdown dialect. The renderer, the outline and task extraction
// and the editor's colouring all call these, so they agree on what a list marker, a table row,
// a fence or a heading is. Every function is pure: bytes in, value out, no state, no throw
// (apart from a failed allocation). A line is one source line without its line feed. Byte
// tests are ASCII only: bytes 0x80 and above are never blanks, letters or digits.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pellix {

// A list item marker found at the start of a line. `content_offset` 0 means "not an item"
// (a real item always has at least the marker and one blank in front of its content).
struct ListMarker {
    std::uint64_t content_offset = 0;
    std::uint64_t indent = 0; // columns before the marker: space 1, tab 4
    std::int64_t number = 1;  // ordered items only; 1 for bullets
    bool ordered = false;

    bool is_item() const { return content_offset != 0; }
    bool operator==(const ListMarker&) const = default;
};

// Fenced-code state after a line. Inside a fence only when a marker is set and the opening
// run had at least three bytes; every other value means outside. {0, 0} starts a document.
struct FenceState {
    std::uint16_t marker = 0; // '`' or '~'
    std::uint64_t length = 0; // bytes in the opening run

    bool inside() const { return marker != 0 && length > 2; }
    bool operator==(const FenceState&) const = default;
};

// An ATX heading line: `level` 1..6, or 0 when the line is not a heading.
struct AtxHeading {
    std::uint32_t level = 0;
    std::string text; // rest of the line after the blanks, closing hashes included

    bool operator==(const AtxHeading&) const = default;
};

// Table column alignment codes of a delimiter row.
constexpr std::uint32_t table_align_default = 0; // shown as left
constexpr std::uint32_t table_align_center = 1;
constexpr std::uint32_t table_align_right = 2;

// Space and tab; nothing else counts as a blank here.
constexpr bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// Columns of the leading blanks: a space counts 1, a tab 4.
std::uint64_t leading_columns(std::string_view line);

// The part of `text` without leading and trailing blanks (a view into `text`).
std::string_view trim_blanks_view(std::string_view text);
// A copy of `text` without leading and trailing blanks; other whitespace (CR, FF) stays.
std::string trim_blanks(std::string_view text);

ListMarker scan_list_marker(std::string_view line);

// Cell texts of a pipe-table row, each trimmed of blanks. Backslash escapes and backtick spans
// keep a '|' from splitting; the backslashes stay in the cell text.
std::vector<std::string> split_table_row(std::string_view line);
// The same cells as views into `line`, written into `cells` (cleared first) so that a
// renderer can reuse one buffer for every row.
void split_table_row_views(std::string_view line, std::vector<std::string_view>& cells);

// One alignment code per cell of a delimiter row ("---", ":---", "---:", ":---:"), or empty
// when the line is not a delimiter row.
std::vector<std::uint32_t> parse_table_alignments(std::string_view line);
// The same codes written into `codes` (cleared first), with `cells` as the caller's scratch.
void parse_table_alignments(std::string_view line, std::vector<std::uint32_t>& codes,
                            std::vector<std::string_view>& cells);

FenceState next_fence_state(std::string_view line, FenceState current);

AtxHeading parse_atx_heading(std::string_view line);

// " data-source-line=\"N\"" with N in decimal; the leading space is part of the text.
std::string source_line_attribute(std::uint64_t line);
// The same text appended to `out`, for callers building a page in one string.
void append_source_line_attribute(std::string& out, std::uint64_t line);

// Length of "https://" (8), "http://" (7) or "mailto:" (7) at `pos`, letters compared without
// case; 0 when none stands there or `pos` is at or past the end.
std::uint64_t autolink_prefix_length(std::string_view text, std::uint64_t pos);
// The same rule over UTF-16 code units, for the editor's colouring.
std::uint64_t url_scheme_length(std::u16string_view text, std::uint64_t pos);

} // namespace pellix
