#pragma once

// Inline code that runs over line breaks. The preview joins the lines of a paragraph, of a list
// item with its deeper lines and of a block quote before it reads code spans, so a span opened
// on one line may close on a later one; the editor colours each line alone and learns here what
// the lines around it leave open.

#include <cstdint>
#include <vector>

#include "core/source_document.h"
#include "editor/markdown_colouring.h"

namespace pellix {

// The lines that the preview reads as one run of inline text, and what each of them carries.
struct CodeUnit {
    std::uint64_t first = 0;
    std::vector<CodeCarry> carries; // one per line from `first` on
};

// The unit holding `line`, given the fenced-code state at the start of every line. A line in a
// fence, a fence line, a blank line, a heading or a rule is a unit of its own with no carry.
// Very long paragraphs are looked at only so far around the line.
CodeUnit code_unit_around(const SourceDocument& document, const std::vector<FenceState>& fences,
                          std::uint64_t line);

} // namespace pellix
