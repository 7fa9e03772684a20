#pragma once

#include <cstdint>

namespace pellix {

// What the preview shows of its document: the scroll offsets in DIPs and the selection in code
// units of the document's text. The selection is [min(anchor, caret), max(anchor, caret));
// anchor == caret is an empty selection.
struct View {
    float scroll_x = 0;
    float scroll_y = 0;
    std::uint64_t anchor = 0;
    std::uint64_t caret = 0;
};

} // namespace pellix
