#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pellix {

// The preview's own model of a rendered page: one UTF-16 text, the blocks that
// partition it and the styled runs over it. Layout, drawing, printing,
// selection and accessibility work on this value only, never on HTML.

enum class PreviewBlockKind : std::int32_t {
    paragraph = 0,
    heading = 1,
    code_block = 2,
    quote = 3,
    list_item = 4,
    rule = 5,
    table_cell = 6,
};

// Bits of PreviewRun::style; a bit is set while an element of its kind is open.
struct PreviewStyle {
    static constexpr std::uint32_t bold = 1; // "strong", or inside a header cell
    static constexpr std::uint32_t italic = 2;
    static constexpr std::uint32_t strike = 4;
    static constexpr std::uint32_t code = 8;
};

// Greatest length of PreviewDocument::text in code units.
inline constexpr std::uint64_t max_preview_text_units = 0x1000000;

struct PreviewBlock {
    std::uint64_t start = 0;  // offset in text of the block's first code unit
    std::uint64_t length = 0; // code units of the block's text, separator excluded
    // List items: code units of the marker (bullet or number, task box, TAB) at
    // the start of the text; the content begins at start + marker_length.
    std::uint64_t marker_length = 0;
    PreviewBlockKind kind = PreviewBlockKind::paragraph;
    // Heading level 1-6; for a list item the number of enclosing lists minus one.
    std::int32_t level = 0;
    std::int32_t task = -1;        // -1 no task, 0 open task, 1 done task
    std::uint8_t has_code = 0;     // code block holding a "code" element
    std::uint64_t source_line = 0; // 0-based source line; a cell takes its row's line
    // Table cells only (0 in every other block).
    std::uint64_t table = 0;   // table number, counting from 1
    std::uint64_t row = 0;     // header row is 0
    std::uint64_t column = 0;  // from 0
    std::uint64_t columns = 0; // 1 to 64
    std::uint32_t align = 0;   // 0 default, 1 centre, 2 right
    std::uint8_t header = 0;   // 1 for a header cell

    bool operator==(const PreviewBlock&) const = default;
};

struct PreviewRun {
    std::uint64_t start = 0;  // offset in text
    std::uint64_t length = 0; // at least 1
    std::uint32_t style = 0;  // PreviewStyle bits
    std::string link;         // UTF-8 target, empty when no (allowed) link

    bool operator==(const PreviewRun&) const = default;
};

struct PreviewDocument {
    // Visible text, block after block; each block is followed by one separator
    // (TAB after a table cell that is not the last of its row, LF otherwise)
    // that belongs to no block and no run.
    std::u16string text;
    std::vector<PreviewBlock> blocks; // document order
    std::vector<PreviewRun> runs;     // text order, non-overlapping, block text only
    // Index into blocks of each heading; entry N is the heading with id h-N.
    std::vector<std::uint64_t> headings;

    bool operator==(const PreviewDocument&) const = default;
};

// Releases the document's storage: heading indices, each run's link, the runs,
// the blocks, then the text. The value stays usable as an empty document.
inline void destroy_preview_document(PreviewDocument& document) {
    std::vector<std::uint64_t>().swap(document.headings);
    for (PreviewRun& run : document.runs)
        std::string().swap(run.link);
    std::vector<PreviewRun>().swap(document.runs);
    std::vector<PreviewBlock>().swap(document.blocks);
    std::u16string().swap(document.text);
}

} // namespace pellix
