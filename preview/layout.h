#pragma once

#include <windows.h>
#include <dwrite.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "markdown/preview_document.h"
#include "platform/com_ptr.h"

namespace pellix {

// One DirectWrite layout of a block's content. A long block is laid out in several, stacked
// one below the other: Wine's DirectWrite faults on one layout of more than 65,536 units
// between line feeds, and a bound keeps each shaping short.
struct TextPiece {
    ComPtr<IDWriteTextLayout> layout;
    std::uint64_t start = 0;  // offset within the block's content
    std::uint64_t length = 0; // code units
    float top = 0;            // below the block's y
    float left = 0;           // right of the block's x: an unwrapped line goes on in the next
    float height = 0;         // to the next piece's top
    bool split_text = false;  // holds characters Wine splits glyph runs around
};

// One block of the document placed on the page. Lengths are DIPs in document coordinates.
struct LayoutBlock {
    std::vector<TextPiece> pieces;           // the content, in order; none for a rule
    ComPtr<IDWriteTextLayout> marker_layout; // null without a list marker
    std::uint64_t text_start = 0;            // block start + marker length
    std::uint64_t text_length = 0;           // block length - marker length
    float x = 0;                             // left edge of the pieces
    float y = 0;                             // top edge of the first piece
    float height = 0;                        // height of the content
    float width = 0;                         // widest piece, trailing whitespace included
    float marker_width = 0;                  // marker column left of x
    float cell_x = 0;                        // table cells: left edge of the cell
    float cell_width = 0;                    // table cells: column width
    float row_height = 0;                    // table cells: height of the row
};

// One visual line of a block that has a text layout.
struct LayoutLine {
    std::uint64_t block = 0;  // index into Layout::blocks
    std::uint64_t start = 0;  // text offset of the line's first code unit
    std::uint64_t length = 0; // line length without its newline
    float top = 0;
    float bottom = 0;
};

// A vertical range a printed page may not cut.
struct LayoutBand {
    float top = 0;
    float bottom = 0;
    bool keep_with_next = false; // heading lines and table header rows
};

// A laid-out preview document; owns the DirectWrite layouts of its blocks. Holders replace it
// as a whole, so a failed build never touches the layout already shown.
struct Layout {
    std::vector<LayoutBlock> blocks;       // same index as the document's blocks
    std::vector<LayoutLine> lines;         // document order
    std::vector<LayoutBand> bands;         // document order
    std::vector<std::uint64_t> boundaries; // caret stops, ascending, unique
    std::vector<float> bottom_bounds;      // running maximum of block bottoms, per block
    float width = 1.0f;                    // content width, at least the available width
    float height = 1.0f;                   // content height
};

// Lays the document out for a page `available_width` DIPs wide at text scale `scale`, for the
// screen or (with `print`) for paper. Throws std::runtime_error from throw_if_failed, or
// std::out_of_range when a block lies beyond the text; nothing leaks on either.
Layout build_layout(IDWriteFactory* factory, const PreviewDocument& document, float available_width,
                    float scale, bool print);

// An earlier layout and the document it was built from, built at the same available width,
// scale and mode as the layout about to be built.
struct LayoutSource {
    const PreviewDocument& document;
    const Layout& layout;
};

// The same layout as above, sharing the text layouts of the blocks that the edit left alone:
// a leading and a trailing run of blocks equal in kind, text and styles to those of `previous`
// keep their shaped text and are only moved, so a change to one block re-shapes only that
// block. Positions are those of a full build.
Layout build_layout(IDWriteFactory* factory, const PreviewDocument& document, float available_width,
                    float scale, bool print, const LayoutSource& previous);

// Releases every block's layouts and empties the layout; its size goes back to 1 x 1.
void destroy_layout(Layout& layout);

// Calls visit(run, range) for each of the document's `runs` (sorted by start) that meets the
// content of `block`, with the part inside the content as a range of the block's text layout.
template <typename Visit>
void for_each_block_run(const std::vector<PreviewRun>& runs, const LayoutBlock& block,
                        Visit visit) {
    const std::uint64_t begin = block.text_start;
    const std::uint64_t end = block.text_start + block.text_length;
    auto run = std::partition_point(runs.begin(), runs.end(), [begin](const PreviewRun& r) {
        return r.start + r.length <= begin;
    });
    for (; run != runs.end() && run->start < end; ++run) {
        const std::uint64_t from = std::max(run->start, begin);
        const std::uint64_t to = std::min(run->start + run->length, end);
        if (from < to) {
            visit(*run, DWRITE_TEXT_RANGE{static_cast<UINT32>(from - begin),
                                          static_cast<UINT32>(to - from)});
        }
    }
}

// Throws std::runtime_error "<stage> (HRESULT 0x%08lX)" for a failed HRESULT.
void throw_if_failed(HRESULT hr, const char* stage);

// The client size of `window` in DIPs at `dpi`, at least 1.0 each: the preview's visible
// band and scroll page.
float view_width(HWND window, float dpi);
float view_height(HWND window, float dpi);

} // namespace pellix
