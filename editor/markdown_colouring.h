#pragma once

// The editor's Markdown colouring of one line piece: the constructs found in its text, each as a
// span of one kind, in the order in which their formats are applied to the piece's layout.

#include <cstdint>
#include <string_view>
#include <vector>

#include "markdown/line_scanners.h"

namespace pellix {

enum class SpanKind : std::int32_t {
    Marker,
    Heading,
    Code,
    Emphasis,
    Strong,
    StrongEmphasis,
    Strikethrough,
    LinkText,
    Url,
    ImageText,
    ListMarker,
    QuoteMarker,
    QuoteText,
    ThematicBreak,
    TablePipe,
    Escape,
    FenceMarker,
    FenceInfo,
};
inline constexpr int span_kind_count = 18;

// [start, end) within the piece's text.
struct ColourSpan {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    SpanKind kind = SpanKind::Marker;

    bool operator==(const ColourSpan&) const = default;
};

// Colouring modes of the editor.
inline constexpr int colouring_full = 0;
inline constexpr int colouring_punctuation = 1;
inline constexpr int colouring_off = 2;

// Lower priorities are applied first, so the later, higher ones win where spans overlap.
int kind_priority(SpanKind kind);

// Whether the punctuation-only mode colours this kind.
bool is_punctuation_kind(SpanKind kind);

// Inline code that runs over line breaks within one paragraph: the backtick run length of a
// code span still open where the text starts (0 for none), and the run lengths that come after
// the text in its paragraph, which a run the text leaves unclosed pairs with.
struct CodeCarry {
    std::uint64_t open_run = 0;
    std::vector<std::uint64_t> later_runs;

    bool operator==(const CodeCarry&) const = default;
};

// The spans of `text`, scanned as one whole line (it holds no line feed) that starts in the
// fenced-code state `fence`, in the order the scan finds them.
std::vector<ColourSpan> scan_colour_spans(std::u16string_view text, FenceState fence,
                                          const CodeCarry& carry = {});

// Stable sort by priority: the order in which the spans are applied.
void order_spans(std::vector<ColourSpan>& spans);

} // namespace pellix
