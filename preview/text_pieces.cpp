#include "preview/text_pieces.h"

#include "platform/text_hit_test.h"

namespace pellix {

const TextPiece& piece_at(const LayoutBlock& block, std::uint64_t position) {
    auto after =
        std::upper_bound(block.pieces.begin() + 1, block.pieces.end(), position,
                         [](std::uint64_t at, const TextPiece& piece) { return at < piece.start; });
    return *(after - 1);
}

HRESULT hit_test_block_point(const LayoutBlock& block, FLOAT x, FLOAT y, BOOL* is_trailing_hit,
                             BOOL* is_inside, DWRITE_HIT_TEST_METRICS* metrics) {
    auto after = std::upper_bound(block.pieces.begin() + 1, block.pieces.end(), y,
                                  [](FLOAT at, const TextPiece& piece) { return at < piece.top; });
    // The pieces of an unwrapped line sit side by side on one row.
    while (after - 1 != block.pieces.begin() && (after - 1)->left > x &&
           (after - 2)->top == (after - 1)->top) {
        --after;
    }
    const TextPiece& piece = *(after - 1);
    const HRESULT hr = hit_test_point(piece.layout.get(), x - piece.left, y - piece.top,
                                      is_trailing_hit, is_inside, metrics);
    if (SUCCEEDED(hr)) {
        metrics->textPosition += static_cast<UINT32>(piece.start);
        metrics->left += piece.left;
        metrics->top += piece.top;
    }
    return hr;
}

HRESULT hit_test_block_position(const LayoutBlock& block, UINT32 position, BOOL is_trailing_hit,
                                FLOAT* x, FLOAT* y, DWRITE_HIT_TEST_METRICS* metrics) {
    const TextPiece& piece = piece_at(block, position);
    const HRESULT hr =
        hit_test_text_position(piece.layout.get(), static_cast<UINT32>(position - piece.start),
                               is_trailing_hit, x, y, metrics);
    if (SUCCEEDED(hr)) {
        *x += piece.left;
        *y += piece.top;
        metrics->textPosition += static_cast<UINT32>(piece.start);
        metrics->left += piece.left;
        metrics->top += piece.top;
    }
    return hr;
}

} // namespace pellix
