// The editor's answers to UI Automation: its text, selection and geometry, handed to the
// accessibility bridge as callbacks that run on the UI thread inside the window procedure.

#include <algorithm>

#include "core/line_index.h"
#include "editor/source_record.h"

namespace pellix {
namespace {

bool is_high_surrogate_unit(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

// Every code point start, then the text length: the editor's character unit is the code point.
std::vector<std::uint64_t> code_point_starts(const std::u16string& text) {
    std::vector<std::uint64_t> starts;
    starts.reserve(text.size() + 1);
    for (std::uint64_t i = 0; i < text.size(); ++i) {
        if (!is_low_surrogate(text[i]) || i == 0 || !is_high_surrogate_unit(text[i - 1])) {
            starts.push_back(i);
        }
    }
    starts.push_back(text.size());
    return starts;
}

// The text part of the snapshots, kept while the text stays the same: a screen reader asks many
// questions of an unchanged document, and providers share what they derive from one text value.
struct TextFacts {
    std::uint64_t edit_count = UINT64_MAX;
    std::shared_ptr<const AccessibleText> text;
};

std::shared_ptr<const AccessibleText> text_facts(Source& source, TextFacts& facts) {
    if (!facts.text || facts.edit_count != source.document.edit_count) {
        auto text = std::make_shared<AccessibleText>();
        text->text = source.document.text();
        text->line_starts = line_starts(text->text);
        text->paragraph_starts = text->line_starts;
        text->cluster_starts = code_point_starts(text->text);
        facts.text = std::move(text);
        facts.edit_count = source.document.edit_count;
    }
    return facts.text;
}

AccessibleSnapshot take_snapshot(Source& source, TextFacts& cache) {
    ensure_line_metrics(source);
    const SourceDocument& document = source.document;
    AccessibleSnapshot snap;
    snap.shared = text_facts(source, cache);
    snap.anchor = document.selection[0];
    snap.caret = document.selection[1];
    const std::uint64_t last_line = document.line_count() - 1;
    const std::uint64_t first = std::min(source.heights.line_at(source.scroll_y), last_line);
    const std::uint64_t last =
        std::min(source.heights.line_at(source.scroll_y + view_height(source)), last_line);
    snap.first_visible = document.line_start(first);
    snap.visible_end =
        last + 1 < document.line_count() ? document.line_start(last + 1) : document.length();
    return snap;
}

// Appends `rect` (client DIPs) clipped to the text area, as screen pixels.
void append_clipped(const Source& source, POINT origin, D2D1_RECT_F rect,
                    std::vector<double>& out) {
    const double left_edge = text_left_edge(source);
    const double left = std::max<double>(rect.left, left_edge);
    const double right = std::min<double>(rect.right, left_edge + text_width(source));
    const double top = std::max<double>(rect.top, 0.0);
    const double bottom = std::min<double>(rect.bottom, view_height(source));
    if (right <= left || bottom <= top) {
        return;
    }
    const double scale = scale_of(source);
    out.insert(out.end(), {left * scale + origin.x, top * scale + origin.y, (right - left) * scale,
                           (bottom - top) * scale});
}

bool piece_out_of_view(const Source& source, const LinePiece& piece, double x, double y) {
    if (source.wrap) {
        return y + piece.height < 0.0 || y >= view_height(source);
    }
    const double left_edge = text_left_edge(source);
    return x + piece.width < left_edge || x >= left_edge + text_width(source);
}

std::vector<double> range_bounds(Source& source, std::uint64_t start, std::uint64_t end) {
    std::vector<double> out;
    POINT origin{0, 0};
    ClientToScreen(source.window, &origin);
    ensure_line_metrics(source);
    const SourceDocument& document = source.document;
    const double view = view_height(source);
    for (std::uint64_t line = source.heights.line_at(source.scroll_y); line < source.heights.size();
         ++line) {
        const double line_top = source.heights.prefix(line) - source.scroll_y;
        if (line_top >= view) {
            break;
        }
        const std::uint64_t line_start = document.line_start(line);
        double x = text_left_edge(source) - source.scroll_x;
        double y = line_top;
        std::vector<LinePiece>& pieces = line_pieces(source, line);
        // Laying a piece out may cut it and add pieces after it, so they are taken by index.
        for (std::size_t k = 0; k < pieces.size(); ++k) {
            const double piece_x = x;
            const double piece_y = y;
            const bool shown = !piece_out_of_view(source, pieces[k], piece_x, piece_y) &&
                               build_piece_layout(source, line, pieces[k]);
            const LinePiece& piece = pieces[k];
            if (source.wrap) {
                y += piece.height;
            } else {
                x += piece.width;
            }
            if (!shown) {
                continue;
            }
            const std::uint64_t piece_start = line_start + piece.start;
            const std::uint64_t from = std::max(start, piece_start);
            const std::uint64_t to = std::min(end, piece_start + piece.length);
            if (from >= to) {
                continue;
            }
            for (const D2D1_RECT_F& rect :
                 range_rects(piece.layout.get(), static_cast<UINT32>(from - piece_start),
                             static_cast<UINT32>(to - from), static_cast<FLOAT>(piece_x),
                             static_cast<FLOAT>(piece_y))) {
                append_clipped(source, origin, rect, out);
            }
        }
    }
    return out;
}

void scroll_offset_into_view(Source& source, std::uint64_t offset) {
    const CaretPosition point = caret_position(source, offset);
    scroll_source_to(source, source.scroll_x, point.y + source.scroll_y, true);
}

} // namespace

void attach_source_accessibility(Source& source) {
    Source* s = &source;
    // Shared by the snapshot callable's copies; lives as long as the callbacks.
    auto cache = std::make_shared<TextFacts>();
    AccessibilityCallbacks callbacks;
    callbacks.name = L"Source editor";
    callbacks.document = false;
    callbacks.is_read_only = [s] { return s->read_only; };
    callbacks.snapshot = [s, cache] { return take_snapshot(*s, *cache); };
    callbacks.bounds = [s](unsigned long long start, unsigned long long end) {
        return range_bounds(*s, start, end);
    };
    callbacks.offset_at = [s](POINT point) -> unsigned long long {
        const double scale = scale_of(*s);
        return hit_test(*s, point.x / scale, point.y / scale);
    };
    callbacks.select = [s](unsigned long long anchor, unsigned long long caret) {
        set_selection(*s, anchor, caret, true);
    };
    callbacks.scroll_into_view = [s](unsigned long long offset) {
        scroll_offset_into_view(*s, offset);
    };
    attach_accessibility_state(source.accessibility, source.window, std::move(callbacks));
}

} // namespace pellix
