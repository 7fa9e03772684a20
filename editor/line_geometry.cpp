#include "editor/source_record.h"

#include <imm.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/graphemes.h"
#include "editor/fence_state.h"
#include "editor/source_window.h"
#include "platform/text_hit_test.h"
#include "platform/frames_undrawn.h"

namespace pellix {
namespace {

// Where the system caret waits while its line is out of view.
constexpr int parked_caret = -100;
// Space kept free right of the caret when scrolling it into view.
constexpr double caret_right_margin = 4.0;
// Restoring the anchor moves the view by at least this much before it counts as a scroll.
constexpr double anchor_scroll_epsilon = 0.001;
// Measuring the rows a caret is scrolled among settles within a few rounds; a bound keeps a
// failure to settle from running on.
constexpr int caret_settle_rounds = 8;

void park_caret() {
    SetCaretPos(parked_caret, parked_caret);
}

// The piece holding `offset_in_line` (the first whose end reaches it, else the last) and the
// distance before it: heights with wrapping, widths without. With `row_start`, an offset where
// one piece ends and the next begins belongs to the next one, whose first row it starts.
std::pair<std::size_t, double> piece_at(const Source& source, const std::vector<LinePiece>& pieces,
                                        std::uint64_t offset_in_line, bool row_start = false) {
    std::size_t k = 0;
    double before = 0.0;
    auto ends_before = [&](const LinePiece& piece) {
        const std::uint64_t end = piece.start + piece.length;
        return end < offset_in_line || (row_start && end == offset_in_line);
    };
    while (k + 1 < pieces.size() && ends_before(pieces[k])) {
        before += source.wrap ? pieces[k].height : pieces[k].width;
        ++k;
    }
    return {k, before};
}

// Lays out the piece that `find` names (an index into `pieces`; past the end for none) and
// returns whether it has its layout. Laying a wrapped piece out for the first time can move the
// boundaries of the pieces up to the next one, so the search repeats until it holds still.
template <typename Find>
bool lay_out_piece_where(Source& source, std::uint64_t line, std::vector<LinePiece>& pieces,
                         Find find) {
    for (std::size_t k = find(); k < pieces.size();) {
        const std::size_t count = pieces.size();
        if (!build_piece_layout(source, line, pieces[k])) {
            if (pieces.size() == count) {
                return false;
            }
            // Pieces before it were cut into more: look for it again.
            k = find();
            continue;
        }
        const std::size_t again = find();
        if (again == k) {
            return true;
        }
        k = again;
    }
    return false;
}

void update_scroll_bar(Source& source, int bar, double range, double page, double position) {
    const double scale = scale_of(source);
    const double divisor = std::max(range / scroll_bar_limit, 1.0);
    const int max = static_cast<int>(std::min(std::ceil(range / divisor), scroll_bar_limit));
    const int page_units = static_cast<int>(std::max(page * scale / divisor, 1.0));
    const int position_units = static_cast<int>(position * scale / divisor);
    ScrollBarCache& cache = source.scroll_bars[bar == SB_HORZ ? 0 : 1];
    if (cache.max == max && cache.page == page_units && cache.position == position_units) {
        return;
    }
    const bool position_only = cache.max == max && cache.page == page_units;
    SCROLLINFO info{
        .cbSize = sizeof(SCROLLINFO),
        .fMask = position_only ? UINT(SIF_POS) : UINT(SIF_RANGE | SIF_PAGE | SIF_POS),
        .nMin = 0,
        .nMax = max,
        .nPage = static_cast<UINT>(page_units),
        .nPos = position_units,
        .nTrackPos = 0,
    };
    SetScrollInfo(source.window, bar, &info, !frames_undrawn());
    cache = {max, page_units, position_units};
}

void post_scrolled(const Source& source) {
    PostMessageW(source.window, WM_APP_SOURCE_SCROLLED, 0, 0);
}

// Puts the view's top at `y` (clamped), the wheel's target moving with it; the scroll bars and
// the caret are the caller's.
void move_scroll_top(Source& source, double y) {
    const double maximum_y = maximum_scroll_y(source);
    const double new_y = std::min(maximum_y, std::max(0.0, y));
    const double moved = new_y - source.scroll_y;
    source.wheel_target = std::min(maximum_y, std::max(0.0, source.wheel_target + moved));
    source.scroll_y = new_y;
    if (source.scroll_notify && std::abs(moved) > anchor_scroll_epsilon) {
        post_scrolled(source);
    }
}

void place_composition_window(const Source& source, D2D1_POINT_2F caret) {
    HIMC context = ImmGetContext(source.window);
    if (!context) {
        return;
    }
    const double scale = scale_of(source);
    COMPOSITIONFORM form{
        .dwStyle = CFS_POINT,
        .ptCurrentPos = {static_cast<LONG>(caret.x * scale),
                         static_cast<LONG>((caret.y + base_line_height(source)) * scale)},
        .rcArea = {},
    };
    ImmSetCompositionWindow(context, &form);
    ImmReleaseContext(source.window, context);
}

// Scans the document once for line lengths (estimated widths and heights) and fence states.
class MetricsScan {
public:
    MetricsScan(Source& source, std::vector<double>& heights)
        : source_(source), heights_(heights), base_(base_line_height(source)),
          text_width_(text_width(source)) {}

    void run() {
        const SourceDocument& document = source_.document;
        const std::uint64_t total = document.length();
        std::uint64_t line = 0;
        std::uint64_t line_start = 0;
        std::u16string block;
        for (std::uint64_t position = 0; position < total; position += block.size()) {
            block = document.text(position, metrics_scan_units);
            for (std::uint64_t i = 0; i < block.size(); ++i) {
                if (block[i] == u'\n') {
                    finish_line(line, line_start, position + i - line_start, block, position);
                    ++line;
                    line_start = position + i + 1;
                }
            }
        }
        finish_line(line, line_start, total - line_start, block, total - block.size());
    }

private:
    void finish_line(std::uint64_t line, std::uint64_t start, std::uint64_t length,
                     std::u16string_view block, std::uint64_t block_start) {
        const double estimated_width = static_cast<double>(length) * source_.char_advance;
        source_.content_width = std::max(source_.content_width, estimated_width);
        if (source_.wrap) {
            heights_[line] = base_ * std::max(1.0, std::ceil(estimated_width / text_width_));
        }
        // The state after the last line has no line to belong to and is not kept.
        if (source_.markdown_colouring && line + 1 < heights_.size()) {
            LineCursor cursor(source_.document, start, length, block, block_start);
            source_.fence_states[line + 1] = fence_state_after(source_.fence_states[line], cursor);
        }
    }

    Source& source_;
    std::vector<double>& heights_;
    double base_;
    double text_width_;
};

} // namespace

double base_line_height(const Source& source) {
    return source.font_points * 96.0 / 72.0 * line_spacing_factor;
}

double text_left_edge(const Source& source) {
    return gutter_width(source) + text_side_padding;
}

std::uint64_t line_length(const SourceDocument& document, std::uint64_t line) {
    const std::uint64_t start = document.line_start(line);
    if (line + 1 >= document.line_count()) {
        return document.length() - start;
    }
    return document.line_start(line + 1) - 1 - start;
}

double estimated_line_height(const Source& source, std::uint64_t length) {
    return estimated_line_height(source, length, source.wrap ? text_width(source) : 1.0);
}

double estimated_line_height(const Source& source, std::uint64_t length, double width) {
    const double base = base_line_height(source);
    if (!source.wrap) {
        return base;
    }
    const double line_width = static_cast<double>(length) * source.char_advance;
    return base * std::max(1.0, std::ceil(line_width / width));
}

void ensure_line_metrics(Source& source) {
    if (source.metrics_valid) {
        return;
    }
    const std::uint64_t lines = source.document.line_count();
    std::vector<double> heights(lines, base_line_height(source));
    source.fence_states.assign(lines, FenceState{});
    source.code_units.units.clear();
    source.content_width = 0.0;
    MetricsScan(source, heights).run();
    source.heights.assign(std::move(heights));
    source.metrics_width = text_width(source);
    source.metrics_valid = true;
}

double maximum_scroll_y(const Source& source) {
    const std::uint64_t lines = source.heights.size();
    const double last_top = lines > 0 ? source.heights.prefix(lines - 1) : 0.0;
    return std::max(last_top, std::max(0.0, source.heights.prefix(lines) - view_height(source)));
}

double top_line(Source& source) {
    ensure_line_metrics(source);
    const std::uint64_t lines = source.heights.size();
    if (lines == 0) {
        return 0.0;
    }
    const std::uint64_t line = std::min(source.heights.line_at(source.scroll_y), lines - 1);
    const double height = source.heights.height(line);
    const double within = source.scroll_y - source.heights.prefix(line);
    return static_cast<double>(line) + (height > 0.0 ? within / height : 0.0);
}

double top_of_line(Source& source, double line) {
    ensure_line_metrics(source);
    const auto whole = static_cast<std::uint64_t>(line);
    if (whole >= source.heights.size()) {
        return 0.0;
    }
    return source.heights.prefix(whole) +
           (line - static_cast<double>(whole)) * source.heights.height(whole);
}

std::optional<double> top_to_keep(Source& source) {
    return source.metrics_valid ? std::optional<double>(top_line(source)) : std::nullopt;
}

double kept_top(Source& source, const std::optional<double>& line) {
    return line ? top_of_line(source, *line) : source.scroll_y;
}

void make_line_height_exact(Source& source, std::uint64_t line) {
    if (line >= source.heights.size()) {
        return;
    }
    double height = base_line_height(source);
    const auto cached = source.line_cache.find(line);
    if (source.wrap && cached != source.line_cache.end()) {
        height = 0.0;
        for (const LinePiece& piece : cached->second.pieces) {
            height += piece.height;
        }
    }
    source.heights.set_height(line, height);
}

namespace {

// A piece of a line with its text and the ends of its shaped clusters, where caret stops are
// places that are both a cluster's edge and a boundary between characters a reader sees.
struct PieceStops {
    std::u16string text;
    std::vector<std::uint64_t> cluster_ends; // within the piece, ascending, ending at its length

    std::uint64_t after(std::uint64_t at) const {
        return character_stop_after(text, at, [&](std::size_t from) -> std::size_t {
            const auto stop = std::lower_bound(cluster_ends.begin(), cluster_ends.end(), from);
            return stop == cluster_ends.end() ? text.size() : *stop;
        });
    }

    std::uint64_t before(std::uint64_t at) const {
        return character_stop_before(text, at, [&](std::size_t from) -> std::size_t {
            const auto stop = std::upper_bound(cluster_ends.begin(), cluster_ends.end(), from);
            return stop == cluster_ends.begin() ? 0 : *(stop - 1);
        });
    }
};

// The ends of a laid-out piece's shaped clusters, ending at the piece's length.
std::vector<std::uint64_t> cluster_ends(const LinePiece& piece) {
    UINT32 count = 0;
    piece.layout->GetClusterMetrics(nullptr, 0, &count);
    std::vector<DWRITE_CLUSTER_METRICS> clusters(count);
    check_render(piece.layout->GetClusterMetrics(clusters.data(), count, &count));
    std::vector<std::uint64_t> ends;
    std::uint64_t end = 0;
    for (const DWRITE_CLUSTER_METRICS& cluster : clusters) {
        end += cluster.length;
        ends.push_back(end);
    }
    ends.push_back(piece.length);
    return ends;
}

// The caret stop nearest the point at `x` (within the laid-out piece that starts at
// `piece_start`) that a hit test placed at the cluster edge `at`: the hit itself unless it falls
// inside a character, else that character's nearer edge.
std::uint64_t nearest_stop(const Source& source, std::uint64_t piece_start, const LinePiece& piece,
                           std::uint64_t at, float x) {
    std::u16string text = source.document.text(piece_start, piece.length);
    if (is_piece_boundary(text, at)) {
        return at;
    }
    const PieceStops stops{std::move(text), cluster_ends(piece)};
    const std::uint64_t before = stops.before(at);
    const std::uint64_t after = stops.after(at);
    FLOAT before_x = 0.0f;
    FLOAT after_x = 0.0f;
    FLOAT before_y = 0.0f;
    FLOAT after_y = 0.0f;
    DWRITE_HIT_TEST_METRICS metrics{};
    check_render(hit_test_text_position(piece.layout.get(), static_cast<UINT32>(before), FALSE,
                                        &before_x, &before_y, &metrics));
    check_render(hit_test_text_position(piece.layout.get(), static_cast<UINT32>(after), FALSE,
                                        &after_x, &after_y, &metrics));
    // A character cut by a row ends on the row below, where its start is the nearer edge.
    const bool one_row = before_y == after_y;
    return one_row && x - before_x > after_x - x ? after : before;
}

// Where the caret stands before `offset`; with `row_start`, an offset where one piece of its line
// ends and the next begins stands at the start of the next one's row, not at the end of the row
// above (as a caret there does).
CaretPosition position_before(Source& source, std::uint64_t offset, bool row_start) {
    ensure_line_metrics(source);
    const SourceDocument& document = source.document;
    offset = std::min(offset, document.length());
    const std::uint64_t line = document.line_of(offset);
    offset -= document.line_start(line);
    double y = source.heights.prefix(line);
    double x = 0.0;
    std::vector<LinePiece>& pieces = line_pieces(source, line);
    if (pieces.empty()) {
        return {0.0, 0.0};
    }
    const bool built = lay_out_piece_where(
        source, line, pieces, [&] { return piece_at(source, pieces, offset, row_start).first; });
    const auto [k, before] = piece_at(source, pieces, offset, row_start);
    (source.wrap ? y : x) += before;
    LinePiece& piece = pieces[k];
    const double left = text_left_edge(source) + x - source.scroll_x;
    if (!built) {
        return {left, y - source.scroll_y};
    }
    FLOAT px = 0.0f;
    FLOAT py = 0.0f;
    DWRITE_HIT_TEST_METRICS metrics{};
    const auto position = static_cast<UINT32>(std::min(offset - piece.start, piece.length));
    check_render(hit_test_text_position(piece.layout.get(), position, FALSE, &px, &py, &metrics));
    make_line_height_exact(source, line);
    return {left + px, y + py - source.scroll_y};
}

} // namespace

CaretPosition caret_position(Source& source, std::uint64_t offset) {
    return position_before(source, offset, false);
}

D2D1_POINT_2F caret_point(Source& source, std::uint64_t offset) {
    const CaretPosition position = caret_position(source, offset);
    return {static_cast<float>(position.x), static_cast<float>(position.y)};
}

std::uint64_t hit_test(Source& source, double x, double y) {
    ensure_line_metrics(source);
    const double document_y = source.scroll_y + y;
    const std::uint64_t line = source.heights.line_at(document_y);
    const double top = source.heights.prefix(line);
    std::vector<LinePiece>& pieces = line_pieces(source, line);
    const std::uint64_t length = source.document.length();
    if (pieces.empty()) {
        return length;
    }
    const double horizontal = std::max(0.0, source.scroll_x + x - text_left_edge(source));
    std::size_t k = 0;
    D2D1_POINT_2F inside{};
    auto find_piece = [&] {
        k = 0;
        if (source.wrap) {
            double piece_top = top;
            while (k + 1 < pieces.size() && piece_top + pieces[k].height <= document_y) {
                piece_top += pieces[k].height;
                ++k;
            }
            inside = {static_cast<float>(horizontal), static_cast<float>(document_y - piece_top)};
        } else {
            double piece_left = 0.0;
            while (k + 1 < pieces.size() && piece_left + pieces[k].width <= horizontal) {
                piece_left += pieces[k].width;
                ++k;
            }
            inside = {static_cast<float>(horizontal - piece_left),
                      static_cast<float>(document_y - top)};
        }
        return k;
    };
    const bool built = lay_out_piece_where(source, line, pieces, find_piece);
    find_piece();
    LinePiece& piece = pieces[k];
    const std::uint64_t piece_start = source.document.line_start(line) + piece.start;
    if (!built) {
        return piece_start;
    }
    BOOL trailing = FALSE;
    BOOL is_inside = FALSE;
    DWRITE_HIT_TEST_METRICS metrics{};
    check_render(
        hit_test_point(piece.layout.get(), inside.x, inside.y, &trailing, &is_inside, &metrics));
    make_line_height_exact(source, line);
    const std::uint64_t at = metrics.textPosition + (trailing ? metrics.length : 0);
    const std::uint64_t hit = piece_start + nearest_stop(source, piece_start, piece, at, inside.x);
    return std::min(hit, length);
}

namespace {

CaretFooting footing_now(const Source& source) {
    const SourceDocument& document = source.document;
    const std::uint64_t caret = document.selection[1];
    const std::uint64_t line = document.line_of(caret);
    CaretFooting footing{.offset = caret,
                         .line_top = source.heights.prefix(line) - source.scroll_y,
                         .piece_offset = 0.0,
                         .scroll_x = source.scroll_x,
                         .valid = true};
    // A line not cached has no measured piece: the caret was placed by its estimate.
    const auto cached = source.line_cache.find(line);
    if (cached != source.line_cache.end() && !cached->second.pieces.empty()) {
        footing.piece_offset =
            piece_at(source, cached->second.pieces, caret - document.line_start(line)).second;
    }
    return footing;
}

// `footing`: what the caret stands on, or nothing when the caret waits for its piece's layout,
// which a later paint makes without moving anything.
void park_caret(Source& source, bool footing) {
    park_caret();
    source.caret_footing = footing ? footing_now(source) : CaretFooting{};
}

} // namespace

void place_caret(Source& source, const CaretPosition* known) {
    if (!source.focused || !source.metrics_valid) {
        return;
    }
    const std::uint64_t caret = source.document.selection[1];
    const std::uint64_t line = source.document.line_of(caret);
    const double line_top = source.heights.prefix(line);
    const double view_top = source.scroll_y;
    const double view_bottom = source.scroll_y + view_height(source);
    if (!source.composing &&
        (source.heights.prefix(line + 1) <= view_top || line_top >= view_bottom)) {
        park_caret(source, true);
        return;
    }
    std::vector<LinePiece>& pieces = line_pieces(source, line);
    if (!pieces.empty()) {
        const auto [k, before] = piece_at(source, pieces, caret - source.document.line_start(line));
        const LinePiece& piece = pieces[k];
        if (!piece.layout) {
            const double piece_top = line_top + (source.wrap ? before : 0.0);
            const double piece_bottom = piece_top + piece.height;
            const bool out_of_view = piece_bottom <= view_top || piece_top >= view_bottom;
            if (source.budget.active || (!source.composing && out_of_view)) {
                park_caret(source, !source.budget.active);
                return;
            }
        }
    }
    const D2D1_POINT_2F point =
        known ? D2D1_POINT_2F{static_cast<float>(known->x), static_cast<float>(known->y)}
              : caret_point(source, caret);
    const double scale = scale_of(source);
    SetCaretPos(static_cast<int>(std::lround(point.x * scale)),
                static_cast<int>(std::lround(point.y * scale)));
    source.caret_footing = footing_now(source);
    if (source.composing) {
        place_composition_window(source, point);
    }
}

void follow_measured_caret(Source& source) {
    if (source.focused && source.metrics_valid && source.caret_footing != footing_now(source)) {
        place_caret(source);
    }
}

void scroll_source_to(Source& source, double x, double y, bool repaint) {
    ensure_line_metrics(source);
    const double maximum_y = maximum_scroll_y(source);
    const double width = text_width(source);
    if (source.wrap) {
        x = 0.0;
    } else {
        x = std::min(std::max(0.0, source.content_width - width), x);
        if (!(x >= 0.0)) {
            x = 0.0;
        }
    }
    y = std::min(maximum_y, std::max(0.0, y));
    const double old_x = source.scroll_x;
    const double old_y = source.scroll_y;
    source.scroll_x = x;
    source.scroll_y = y;

    const double scale = scale_of(source);
    const double view = view_height(source);
    // Wrapped text never scrolls sideways, so its bar offers no range: a range that follows the
    // widest line would move (and redraw the bar) on nearly every keystroke for nothing.
    const double horizontal_range = source.wrap ? 0.0 : source.content_width;
    update_scroll_bar(source, SB_HORZ, horizontal_range * scale, width, x);
    update_scroll_bar(source, SB_VERT, (maximum_y + view) * scale, view, y);

    if (y > old_y) {
        source.scroll_direction = 1;
    } else if (y < old_y || std::isnan(y) || std::isnan(old_y)) {
        source.scroll_direction = -1;
    }
    if (repaint && source.redraw) {
        InvalidateRect(source.window, nullptr, FALSE);
    }
    const bool moved = x != old_x || y != old_y;
    if (!repaint && !moved) {
        return;
    }
    place_caret(source);
    if (source.scroll_notify && moved) {
        post_scrolled(source);
    }
}

namespace {

struct ScrollOffsets {
    double x = 0.0;
    double y = 0.0;
};

// The scroll offsets nearest the present ones that show the caret standing at `caret`.
ScrollOffsets offsets_showing(const Source& source, const CaretPosition& caret) {
    double x = source.scroll_x;
    double y = source.scroll_y;
    const double line = base_line_height(source);
    const double view = view_height(source);
    if (caret.y < 0.0) {
        y += caret.y;
    } else if (caret.y + line > view) {
        y += caret.y + line - view;
    }
    const double left = text_left_edge(source);
    const double width = text_width(source);
    if (caret.x < left) {
        x = source.scroll_x + (caret.x - left);
    } else if (caret.x > left + width - caret_right_margin) {
        x = source.scroll_x + (caret.x - left) - width + caret_right_margin;
    }
    return {x, y};
}

// The rows of a view the caret scrolls to may still have estimated heights. The paint measures
// them keeping the view's top row, which would carry the caret's line elsewhere, out of view
// even: they are measured first, and the view chosen again, until the caret holds still. The view
// shown was measured by its paint, so a caret that stays in it (every keystroke) measures
// nothing. Only the top of the caret's line can move: the pieces before the caret in its line
// were laid out to find it.
// `choose` gives the offsets wanted for the caret standing at a position.
template <typename Choose>
ScrollOffsets measured_offsets(Source& source, CaretPosition& caret, Choose choose) {
    ScrollOffsets offsets = choose(caret);
    if (!source.wrap) {
        return offsets;
    }
    const std::uint64_t line = source.document.line_of(source.document.selection[1]);
    for (int round = 0; round < caret_settle_rounds && offsets.y != source.scroll_y; ++round) {
        const double line_top = source.heights.prefix(line);
        measure_band(source, offsets.y, offsets.y + view_height(source));
        const double moved = source.heights.prefix(line) - line_top;
        if (moved == 0.0) {
            break;
        }
        caret.y += moved;
        offsets = choose(caret);
    }
    return offsets;
}

ScrollOffsets measured_offsets_showing(Source& source, CaretPosition& caret) {
    return measured_offsets(source, caret,
                            [&](const CaretPosition& at) { return offsets_showing(source, at); });
}

bool view_holds_a_row(const Source& source) {
    return view_height(source) >= base_line_height(source);
}

// The caret's row brought to `row` from the view's top, its heights above measured first.
void put_caret_row_at(Source& source, double row) {
    const double lowest = std::max(0.0, view_height(source) - base_line_height(source));
    const double wanted = std::clamp(row, 0.0, lowest);
    CaretPosition caret = caret_position(source, source.document.selection[1]);
    const ScrollOffsets offsets = measured_offsets(source, caret, [&](const CaretPosition& at) {
        return ScrollOffsets{source.scroll_x, source.scroll_y + at.y - wanted};
    });
    move_scroll_top(source, offsets.y);
}

} // namespace

void scroll_caret_into_view(Source& source, bool repaint) {
    CaretPosition caret = caret_position(source, source.document.selection[1]);
    const auto [x, y] = measured_offsets_showing(source, caret);
    const double old_x = source.scroll_x;
    const double old_y = source.scroll_y;
    scroll_source_to(source, x, y, repaint);
    // Unless it moved the view or repaints, the scroll left the caret where it was: placed at
    // the position just found, it is not looked up a second time.
    if (!repaint && source.scroll_x == old_x && source.scroll_y == old_y) {
        place_caret(source, &caret);
    }
}

ScrollAnchor capture_scroll_anchor(Source& source) {
    ensure_line_metrics(source);
    const std::uint64_t line = source.heights.line_at(source.scroll_y);
    double piece_top = source.heights.prefix(line);
    std::vector<LinePiece>& pieces = line_pieces(source, line);
    if (pieces.empty()) {
        return {};
    }
    const double line_top = piece_top;
    std::size_t k = 0;
    auto find_piece = [&] {
        k = 0;
        piece_top = line_top;
        while (k + 1 < pieces.size() && piece_top + pieces[k].height <= source.scroll_y) {
            piece_top += pieces[k].height;
            ++k;
        }
        return k;
    };
    const bool built = lay_out_piece_where(source, line, pieces, find_piece);
    find_piece();
    LinePiece& piece = pieces[k];
    const std::uint64_t piece_start = source.document.line_start(line) + piece.start;
    if (!built) {
        return {piece_start, piece_top - source.scroll_y, true};
    }
    BOOL trailing = FALSE;
    BOOL inside = FALSE;
    DWRITE_HIT_TEST_METRICS metrics{};
    const auto within = static_cast<FLOAT>(std::max(0.0, source.scroll_y - piece_top));
    check_render(hit_test_point(piece.layout.get(), 0.0f, within, &trailing, &inside, &metrics));
    make_line_height_exact(source, line);
    return {piece_start + metrics.textPosition, metrics.top + piece_top - source.scroll_y, true};
}

void restore_scroll_anchor(Source& source, const ScrollAnchor& anchor) {
    // The anchor is the first offset of a row: where a piece of a wrapped line ends, that row is
    // the next piece's, or the view would climb a row at each restore.
    const CaretPosition point =
        position_before(source, std::min(anchor.offset, source.document.length()), true);
    move_scroll_top(source, point.y + source.scroll_y - anchor.delta);
}

bool view_filled(const Source& source) {
    if (!source.metrics_valid) {
        return true;
    }
    const double extent = source.heights.prefix(source.heights.size());
    return source.scroll_y <= std::max(0.0, extent - view_height(source)) + anchor_scroll_epsilon;
}

KeptView view_to_keep(Source& source) {
    if (!source.metrics_valid) {
        return {};
    }
    KeptView kept;
    kept.top = top_line(source);
    // A minimised window's editor shows no row: what it kept is what its restore comes back to.
    if (!view_holds_a_row(source)) {
        return kept;
    }
    kept.filled = view_filled(source);
    // A caret's line out of view is not laid out to find that out: measuring a line above the
    // view would move the rows it shows.
    const double view = view_height(source);
    const std::uint64_t line = source.document.line_of(source.document.selection[1]);
    const double line_top = source.heights.prefix(line) - source.scroll_y;
    if (line_top >= view || line_top + source.heights.height(line) <= 0.0) {
        return kept;
    }
    const double caret_row = caret_position(source, source.document.selection[1]).y;
    if (caret_row >= 0.0 && caret_row < view) {
        kept.caret_row = caret_row;
    }
    return kept;
}

void keep_view(Source& source, const KeptView& kept) {
    ensure_line_metrics(source);
    if (kept.caret_row && view_holds_a_row(source)) {
        put_caret_row_at(source, *kept.caret_row);
    } else {
        move_scroll_top(source, kept_top(source, kept.top));
    }
    if (kept.filled) {
        fill_view(source);
    }
    scroll_source_to(source, source.scroll_x, source.scroll_y, true);
}

void fill_view(Source& source) {
    ensure_line_metrics(source);
    const double view = view_height(source);
    for (int round = 0; round < caret_settle_rounds; ++round) {
        const double extent = source.heights.prefix(source.heights.size());
        const double filled_top = std::max(0.0, extent - view);
        if (source.scroll_y <= filled_top) {
            return;
        }
        // Measuring the rows that will show can change the end's place, and so the top that
        // fills the view with them.
        measure_band(source, filled_top, extent);
        if (source.heights.prefix(source.heights.size()) == extent) {
            break;
        }
    }
    const double extent = source.heights.prefix(source.heights.size());
    move_scroll_top(source, std::min(source.scroll_y, extent - view));
}

void measure_band(Source& source, double top, double bottom) {
    ensure_line_metrics(source);
    const std::uint64_t lines = source.heights.size();
    for (std::uint64_t line = source.heights.line_at(std::max(0.0, top));
         line < lines && source.heights.prefix(line) < bottom; ++line) {
        std::vector<LinePiece>& pieces = line_pieces(source, line);
        double piece_top = source.heights.prefix(line);
        // Laying a piece out may cut it and add pieces after it, so they are taken by index.
        for (std::size_t k = 0; k < pieces.size(); ++k) {
            // A piece measured before keeps its sizes after its idle layout was released:
            // building it again would not change them, and a look-ahead band that takes more
            // paints than a layout may stay idle would otherwise be rebuilt for ever.
            if (piece_top + pieces[k].height >= top && piece_top < bottom && !pieces[k].measured &&
                !build_piece_layout(source, line, pieces[k])) {
                make_line_height_exact(source, line);
                return;
            }
            if (source.wrap) {
                piece_top += pieces[k].height;
            }
        }
        make_line_height_exact(source, line);
    }
}

std::uint64_t step_cluster(Source& source, std::uint64_t offset, bool forward) {
    const SourceDocument& document = source.document;
    const std::uint64_t length = document.length();
    offset = std::min(offset, length);
    if ((forward && offset == length) || (!forward && offset == 0)) {
        return offset;
    }
    auto by_code_point = [&] {
        return forward ? document.boundary_after(offset) : document.boundary_before(offset - 1);
    };
    const std::uint64_t line = document.line_of(offset);
    const std::uint64_t line_start = document.line_start(line);
    const std::uint64_t in_line = offset - line_start;
    std::vector<LinePiece>& pieces = line_pieces(source, line);
    LinePiece* found = nullptr;
    auto find_piece = [&] {
        found = nullptr;
        for (LinePiece& piece : pieces) {
            if (piece.start <= in_line && in_line <= piece.start + piece.length &&
                !(forward && in_line == piece.start + piece.length)) {
                found = &piece;
                break;
            }
        }
        return found ? static_cast<std::size_t>(found - pieces.data()) : pieces.size();
    };
    if (find_piece() == pieces.size() || (!forward && in_line == found->start)) {
        return by_code_point();
    }
    const bool built = lay_out_piece_where(source, line, pieces, find_piece);
    if (!found || (!forward && in_line == found->start)) {
        return by_code_point();
    }
    if (!built) {
        return offset;
    }
    const std::uint64_t piece_start = line_start + found->start;
    const PieceStops stops{document.text(piece_start, found->length), cluster_ends(*found)};
    const std::uint64_t at = in_line - found->start;
    return piece_start + (forward ? stops.after(at) : stops.before(at));
}

std::uint64_t whole_character_edge(Source& source, std::uint64_t offset, bool forward) {
    offset = std::min(offset, source.document.length());
    if (offset == 0 || offset == source.document.length()) {
        return offset;
    }
    const std::uint64_t before = step_cluster(source, offset, false);
    const std::uint64_t after = step_cluster(source, before, true);
    if (after == offset) {
        return offset;
    }
    return forward ? after : before;
}

} // namespace pellix
