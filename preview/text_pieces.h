#pragma once

#include <windows.h>
#include <dwrite.h>

#include <algorithm>
#include <cstdint>

#include "preview/layout.h"

namespace pellix {

// The piece holding `position` (an offset within the block's content): the one it lies in or
// starts; the content's end belongs to the last piece. The block has at least one piece.
const TextPiece& piece_at(const LayoutBlock& block, std::uint64_t position);

// The hit tests of platform/text_hit_test.h over a block's whole content: positions are
// offsets within the content and points are relative to the block's (x, y), whichever piece
// they fall in. A point above or below the content snaps to the first or last piece.
HRESULT hit_test_block_point(const LayoutBlock& block, FLOAT x, FLOAT y, BOOL* is_trailing_hit,
                             BOOL* is_inside, DWRITE_HIT_TEST_METRICS* metrics);
HRESULT hit_test_block_position(const LayoutBlock& block, UINT32 position, BOOL is_trailing_hit,
                                FLOAT* x, FLOAT* y, DWRITE_HIT_TEST_METRICS* metrics);

// Calls visit(piece, range) for each piece that `range` (within the block's content) meets,
// with the part inside the piece relative to the piece. An empty range visits the piece that
// holds its position; a block without pieces (a rule) visits nothing.
template <typename Visit>
void for_each_piece_range(const LayoutBlock& block, DWRITE_TEXT_RANGE range, Visit visit) {
    if (block.pieces.empty()) {
        return;
    }
    if (range.length == 0) {
        const TextPiece& piece = piece_at(block, range.startPosition);
        visit(piece, DWRITE_TEXT_RANGE{static_cast<UINT32>(range.startPosition - piece.start), 0});
        return;
    }
    const std::uint64_t begin = range.startPosition;
    const std::uint64_t end = begin + range.length;
    for (auto piece = block.pieces.begin() + (&piece_at(block, begin) - block.pieces.data());
         piece != block.pieces.end() && piece->start < end; ++piece) {
        const std::uint64_t from = std::max(begin, piece->start);
        const std::uint64_t to = std::min(end, piece->start + piece->length);
        if (from < to) {
            visit(*piece, DWRITE_TEXT_RANGE{static_cast<UINT32>(from - piece->start),
                                            static_cast<UINT32>(to - from)});
        }
    }
}

} // namespace pellix
