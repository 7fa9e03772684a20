#pragma once

// The fenced-code state at the start of each source line, as the editor's colouring reads it.
// The state after a line is decided from a few of its first units, so the scan reads the
// document through a small window instead of copying lines out.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/source_document.h"
#include "markdown/line_scanners.h"

namespace pellix {

// Reads the units of one source line, reloading an aligned window of the document when an
// index falls outside the units it holds. A caller that already holds the text around the line
// may lend it, so that scanning a whole document copies nothing per line.
class LineCursor {
public:
    static constexpr std::uint64_t window_units = 128;

    LineCursor(const SourceDocument& document, std::uint64_t line_start, std::uint64_t length);
    // `lent` holds the document's units from `lent_start` on and must outlive the cursor.
    LineCursor(const SourceDocument& document, std::uint64_t line_start, std::uint64_t length,
               std::u16string_view lent, std::uint64_t lent_start);
    // A line held whole, outside any document.
    explicit LineCursor(std::u16string_view line);

    std::uint64_t length() const { return length_; }
    // The unit at `index` within the line; index < length().
    char16_t at(std::uint64_t index);

private:
    const SourceDocument* document_;
    std::uint64_t line_start_;
    std::uint64_t length_;
    std::u16string_view view_;
    std::uint64_t view_start_ = 0; // absolute offset of view_[0]
    std::u16string window_;
};

// The fenced-code state after the cursor's line, given the state before it.
FenceState fence_state_after(FenceState before, LineCursor& line);

} // namespace pellix
