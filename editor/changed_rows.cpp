#include "editor/changed_rows.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>

#include "editor/source_record.h"

namespace pellix {
namespace {

// Row tops summed over pieces cut elsewhere after the edit, and the rows of a layout summed
// against its height, differ by rounding alone.
constexpr double same_place_dips = 1e-3;

// What a run of a layout is drawn in: everything the colouring sets on a range.
struct RunStyle {
    std::uint32_t from = 0; // units from the row's start
    IUnknown* effect = nullptr;
    DWRITE_FONT_WEIGHT weight = DWRITE_FONT_WEIGHT_NORMAL;
    DWRITE_FONT_STYLE style = DWRITE_FONT_STYLE_NORMAL;
    BOOL underline = FALSE;
    BOOL strikethrough = FALSE;

    bool looks_like(const RunStyle& other) const {
        return effect == other.effect && weight == other.weight && style == other.style &&
               underline == other.underline && strikethrough == other.strikethrough;
    }
    bool operator==(const RunStyle&) const = default;
};

// The styles of a row, each where it starts.
std::vector<RunStyle> row_styles(const DrawnRow& row) {
    std::vector<RunStyle> styles;
    IDWriteTextLayout* layout = row.layout.get();
    const std::uint32_t end = row.in_layout + static_cast<std::uint32_t>(row.length);
    for (std::uint32_t at = row.in_layout; at < end;) {
        RunStyle style{.from = at - row.in_layout};
        std::uint32_t next = end;
        DWRITE_TEXT_RANGE range{};
        const auto narrow = [&] { next = std::min(next, range.startPosition + range.length); };
        ComPtr<IUnknown> effect;
        layout->GetDrawingEffect(at, effect.put(), &range);
        narrow();
        // The layout holds the effect for as long as the row is compared.
        style.effect = effect.get();
        layout->GetFontWeight(at, &style.weight, &range);
        narrow();
        layout->GetFontStyle(at, &style.style, &range);
        narrow();
        layout->GetUnderline(at, &style.underline, &range);
        narrow();
        layout->GetStrikethrough(at, &style.strikethrough, &range);
        narrow();
        if (styles.empty() || !styles.back().looks_like(style)) {
            styles.push_back(style);
        }
        at = std::max(next, at + 1);
    }
    return styles;
}

// Whether two rows of the same text are drawn alike. Colours are found in a piece's text alone
// (with the line's fence state, which an edit inside the line keeps), so rows of the same piece
// of unchanged text are; others are when their layouts style them alike.
bool drawn_alike(const Source& source, const DrawnRow& before, const DrawnRow& after,
                 bool same_piece) {
    if (same_piece || !source.markdown_colouring) {
        return true;
    }
    return before.layout && after.layout && row_styles(before) == row_styles(after);
}

// Whether `text` holds a right-to-left letter. The bidirectional algorithm resolves a neutral
// character by the strong letters around it, in rows before and after its own, so a letter typed
// in such a layout may reorder other rows of it whose text stayed.
bool holds_right_to_left(std::u16string_view text) {
    return std::any_of(text.begin(), text.end(), [](char16_t c) {
        return (c >= 0x0590 && c <= 0x08FF) || (c >= 0xFB1D && c <= 0xFDFF) ||
               (c >= 0xFE70 && c <= 0xFEFF) ||
               // The high surrogates of U+10800 to U+10FFF and U+1E800 to U+1EFFF.
               c == 0xD802 || c == 0xD803 || c == 0xD83A || c == 0xD83B;
    });
}

} // namespace

std::vector<DrawnRow> drawn_rows(const Source& source, std::uint64_t line) {
    std::vector<DrawnRow> rows;
    const auto cached = source.line_cache.find(line);
    if (cached == source.line_cache.end()) {
        return rows;
    }
    double top = 0.0;
    for (const LinePiece& piece : cached->second.pieces) {
        if (!piece.measured) {
            break;
        }
        if (!piece.layout) {
            rows.push_back(
                {piece.start, piece.length, top, piece.height, {}, 0, piece.start, piece.length});
            top += piece.height;
            continue;
        }
        UINT32 count = 0;
        piece.layout->GetLineMetrics(nullptr, 0, &count);
        std::vector<DWRITE_LINE_METRICS> metrics(count);
        piece.layout->GetLineMetrics(metrics.data(), count, &count);
        std::uint32_t at = 0;
        double row_top = top;
        for (const DWRITE_LINE_METRICS& row : metrics) {
            rows.push_back({piece.start + at, row.length, row_top, row.height, piece.layout, at,
                            piece.start, piece.length});
            at += row.length;
            row_top += row.height;
        }
        top += piece.height;
    }
    return rows;
}

std::pair<double, double> changed_rows(const Source& source, std::uint64_t line,
                                       const std::vector<DrawnRow>& before,
                                       std::uint64_t edit_start, std::uint64_t old_end,
                                       std::uint64_t new_end) {
    // A whole-word match reads one unit beyond each end.
    const std::uint64_t reach =
        source.highlight_term.empty() ? 0 : source.highlight_term.size() + 1;
    // Where text of the line now from `start` stood before the edit, when it lies `margin` or
    // more units clear of it.
    const auto was_at = [&](std::uint64_t start, std::uint64_t length,
                            std::uint64_t margin) -> std::optional<std::uint64_t> {
        if (start + length + margin <= edit_start) {
            return start;
        }
        if (start >= new_end + margin) {
            return start - new_end + old_end;
        }
        return std::nullopt;
    };
    const auto unchanged = [&](const DrawnRow& row) {
        const std::optional<std::uint64_t> old_start = was_at(row.start, row.length, reach);
        if (!old_start) {
            return false;
        }
        const auto was = std::lower_bound(
            before.begin(), before.end(), *old_start,
            [](const DrawnRow& r, std::uint64_t start) { return r.start < start; });
        if (was == before.end() || was->start != *old_start || was->length != row.length ||
            std::abs(was->top - row.top) >= same_place_dips ||
            std::abs(was->height - row.height) >= same_place_dips) {
            return false;
        }
        const bool same_piece = was->piece_length == row.piece_length &&
                                was_at(row.piece_start, row.piece_length, 0) == was->piece_start;
        return drawn_alike(source, *was, row, same_piece);
    };
    double top = std::numeric_limits<double>::infinity();
    double bottom = 0.0;
    const std::vector<DrawnRow> after = drawn_rows(source, line);
    for (const DrawnRow& row : after) {
        if (!unchanged(row)) {
            top = std::min(top, row.top);
            bottom = std::max(bottom, row.top + row.height);
        }
    }
    const double known = after.empty() ? 0.0 : after.back().top + after.back().height;
    const double height = source.heights.height(line);
    if (known < height - same_place_dips) {
        top = std::min(top, known);
        bottom = height;
    }
    // Bidirectional order is resolved per layout: the pieces the edit touched change whole.
    const SourceDocument& document = source.document;
    const std::uint64_t line_start = document.line_start(line);
    std::optional<std::uint64_t> read_piece;
    for (const DrawnRow& row : after) {
        if (read_piece == row.piece_start || row.piece_start > new_end ||
            row.piece_start + row.piece_length < edit_start) {
            continue;
        }
        read_piece = row.piece_start;
        if (holds_right_to_left(document.text(line_start + row.piece_start, row.piece_length))) {
            for (const DrawnRow& other : after) {
                if (other.piece_start == row.piece_start) {
                    top = std::min(top, other.top);
                    bottom = std::max(bottom, other.top + other.height);
                }
            }
        }
    }
    return {top, bottom};
}

} // namespace pellix
