#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "markdown/preview_document.h"
#include "preview/layout.h"

namespace pellix::test {

// Wine's DirectWrite faults on a layout of more than this many units between line feeds.
inline constexpr std::uint64_t wine_fault_units = 65536;

// Every block's content is laid out whole: its pieces follow each other without a gap and stay
// below the length Wine faults on, its lines stack from the block's top to its bottom, and the
// caret stops reach the end of the text.
inline void expect_content_covered(const PreviewDocument& document, const Layout& layout) {
    ASSERT_EQ(layout.blocks.size(), document.blocks.size());
    std::size_t line = 0;
    for (std::size_t i = 0; i < layout.blocks.size(); ++i) {
        const LayoutBlock& block = layout.blocks[i];
        if (document.blocks[i].kind == PreviewBlockKind::rule) {
            continue;
        }
        ASSERT_FALSE(block.pieces.empty()) << "block " << i;
        std::uint64_t next = 0;
        for (const TextPiece& piece : block.pieces) {
            EXPECT_EQ(piece.start, next) << "block " << i;
            EXPECT_LE(piece.length, wine_fault_units) << "block " << i;
            next = piece.start + piece.length;
        }
        EXPECT_EQ(next, block.text_length) << "block " << i;
        float top = block.y;
        for (; line < layout.lines.size() && layout.lines[line].block == i; ++line) {
            EXPECT_NEAR(layout.lines[line].top, top, 0.01) << "block " << i << " line " << line;
            top = layout.lines[line].bottom;
        }
        EXPECT_LE(top, block.y + block.height + 0.01f) << "block " << i;
    }
    EXPECT_EQ(line, layout.lines.size());
    ASSERT_FALSE(layout.boundaries.empty());
    EXPECT_EQ(layout.boundaries.back(), document.text.size());
}

} // namespace pellix::test
