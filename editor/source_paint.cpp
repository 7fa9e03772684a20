#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "editor/source_find.h"
#include "editor/source_host.h"
#include "editor/source_record.h"
#include "platform/text_drawing.h"
#include "platform/text_hit_test.h"

namespace pellix {
namespace {

constexpr double number_padding = 16.0;  // beside the digits of the line numbers
constexpr double number_right_gap = 6.0; // numbers end this far before the gutter's edge
constexpr float selection_opacity = 0.4f;
constexpr double layout_budget_ms = 2.0;
// A shift of the shown rows below this many DIPs leaves the frame on screen true.
constexpr double frame_shift_epsilon = 0.01;
constexpr std::size_t matches_per_piece = 256;
constexpr std::uint32_t matches_per_paint = 256;
constexpr std::size_t number_cache_limit = 512;
constexpr double idle_layout_ms = 500.0;
constexpr std::size_t cached_lines_limit = 256;
constexpr double composition_rows = 3.0;
constexpr FLOAT format_probe_size = 1000.0f;
constexpr double baseline_factor = 1.05;

// Find highlights keep their light or dark colour also in high contrast.
constexpr std::uint32_t find_highlight_light = 0xFFDA85;
constexpr std::uint32_t find_highlight_dark = 0x725920;

// Change-marker lane: bar and dash geometry, wedge size.
constexpr float mark_left = 1.5f;
constexpr float mark_right = 4.5f;
constexpr double dash_length = 3.0;
constexpr double dash_period = 5.0;
constexpr double wedge_reach = 4.0;
constexpr int wedge_lines = 6;
constexpr double wedge_slope = 0.6;
constexpr std::uint32_t added_mark_light = 0x0A7C5A;
constexpr std::uint32_t added_mark_dark = 0x5FD3A6;
constexpr std::uint32_t deletion_mark_light = 0xB4235A;
constexpr std::uint32_t deletion_mark_dark = 0xF08BB0;

// A kind's colour in full colouring: a palette entry, or its own light and dark values.
struct KindColour {
    int slot; // palette entry, or -1 for the values below
    std::uint32_t light;
    std::uint32_t dark;
};
constexpr KindColour kind_colours[span_kind_count] = {
    {palette_slot::muted, 0, 0}, // Marker
    {-1, 0x006A9D, 0x7ECFF0},    // Heading
    {-1, 0xA14414, 0xCE9178},    // Code
    {-1, 0x7B4C00, 0xD7BA7D},    // Emphasis
    {palette_slot::text, 0, 0},  // Strong
    {-1, 0x7B4C00, 0xD7BA7D},    // StrongEmphasis
    {palette_slot::muted, 0, 0}, // Strikethrough
    {-1, 0x006C5C, 0x4EC9B0},    // LinkText
    {-1, 0x81409A, 0xC586C0},    // Url
    {-1, 0x006C5C, 0x4EC9B0},    // ImageText
    {-1, 0x3F6B19, 0xB5CEA8},    // ListMarker
    {palette_slot::muted, 0, 0}, // QuoteMarker
    {palette_slot::muted, 0, 0}, // QuoteText
    {palette_slot::muted, 0, 0}, // ThematicBreak
    {-1, 0x006D77, 0x56B6C2},    // TablePipe
    {palette_slot::muted, 0, 0}, // Escape
    {palette_slot::muted, 0, 0}, // FenceMarker
    {-1, 0x795E26, 0xDCDCAA},    // FenceInfo
};

D2D1_COLOR_F colour(std::uint32_t rgb, float alpha = 1.0f) {
    return D2D1::ColorF(static_cast<float>((rgb >> 16) & 0xFF) / 255.0f,
                        static_cast<float>((rgb >> 8) & 0xFF) / 255.0f,
                        static_cast<float>(rgb & 0xFF) / 255.0f, alpha);
}

std::uint32_t kind_colour(SpanKind kind, int mode, const PaintColours& colours, bool dark) {
    const PaletteTable& table = colours.table;
    if (mode == colouring_punctuation) {
        return table[is_punctuation_kind(kind) ? palette_slot::link : palette_slot::text];
    }
    if (mode == colouring_off) {
        return table[palette_slot::text];
    }
    if (colours.high_contrast) {
        const bool link = kind == SpanKind::LinkText || kind == SpanKind::Url;
        return table[link ? palette_slot::link : palette_slot::text];
    }
    const KindColour& entry = kind_colours[static_cast<int>(kind)];
    return entry.slot >= 0 ? table[entry.slot] : (dark ? entry.dark : entry.light);
}

void make_brush(Source& source, ComPtr<ID2D1SolidColorBrush>& brush, std::uint32_t rgb,
                float alpha = 1.0f) {
    brush.reset();
    check_render(source.target->CreateSolidColorBrush(colour(rgb, alpha), brush.put()));
}

ComPtr<IDWriteTextFormat> make_format(Source& source) {
    ComPtr<IDWriteTextFormat> format;
    check_render(source.dwrite->CreateTextFormat(
        L"Consolas", nullptr, DWRITE_FONT_WEIGHT_NORMAL, DWRITE_FONT_STYLE_NORMAL,
        DWRITE_FONT_STRETCH_NORMAL, static_cast<FLOAT>(source.font_points * 96.0 / 72.0), L"",
        format.put()));
    return format;
}

void recreate_caret(Source& source) {
    if (!source.focused) {
        return;
    }
    const double scale = scale_of(source);
    HideCaret(source.window);
    DestroyCaret();
    CreateCaret(source.window, nullptr, std::max(1, static_cast<int>(scale)),
                static_cast<int>(base_line_height(source) * scale));
    source.caret_waits_for_frame = true;
}

void show_waiting_caret(Source& source) {
    if (source.caret_waits_for_frame && source.frame_kept) {
        source.caret_waits_for_frame = false;
        ShowCaret(source.window);
    }
}

// Ends the paint's layout budget on every way out and arms the continuation timer.
class BudgetScope {
public:
    explicit BudgetScope(Source& source) : source_(source) {
        LayoutBudget& budget = source.budget;
        budget.active = true;
        budget.pending = false;
        budget.built = 0;
        budget.deadline = now_ms() + layout_budget_ms;
    }
    ~BudgetScope() {
        LayoutBudget& budget = source_.budget;
        budget.active = false;
        budget.last_paint_built = budget.built;
        budget.last_paint_pending = budget.pending;
        if (budget.pending) {
            SetTimer(source_.window, layout_timer, layout_timer_ms, nullptr);
            budget.timer_set = true;
        } else if (budget.timer_set) {
            KillTimer(source_.window, layout_timer);
            budget.timer_set = false;
        }
    }
    BudgetScope(const BudgetScope&) = delete;
    BudgetScope& operator=(const BudgetScope&) = delete;

private:
    Source& source_;
};

void fill_rects(Source& source, IDWriteTextLayout* layout, std::uint64_t start,
                std::uint64_t length, D2D1_POINT_2F origin, ID2D1Brush* brush) {
    for (const D2D1_RECT_F& rect : range_rects(layout, static_cast<UINT32>(start),
                                               static_cast<UINT32>(length), origin.x, origin.y)) {
        source.target->FillRectangle(rect, brush);
    }
}

void update_matches(Source& source, LinePiece& piece, std::uint64_t absolute_start) {
    const std::uint64_t edit_count = source.document.edit_count;
    if (piece.matches_valid && piece.matches_document_generation == edit_count &&
        piece.matches_highlight_generation == source.highlight_generation &&
        piece.matches_start == absolute_start && piece.matches_length == piece.length) {
        return;
    }
    piece.matches.clear();
    const std::u16string_view term(reinterpret_cast<const char16_t*>(source.highlight_term.data()),
                                   source.highlight_term.size());
    const std::uint64_t t = term.size();
    const std::uint64_t total = source.document.length();
    const std::uint64_t s = absolute_start;
    if (total >= t && piece.length != 0 && total > s) {
        const std::uint64_t piece_end = s + std::min(piece.length, total - s);
        const std::uint64_t w0 = s < t ? 0 : s - t;
        const std::uint64_t w1 = std::min(piece_end + t, total);
        const std::u16string window = source.document.text(w0, w1 - w0);
        const bool match_case = (source.highlight_mode & find_match_case) != 0;
        const bool whole_word = (source.highlight_mode & find_whole_word) != 0;
        for (std::uint64_t p = w0; p < piece_end && piece.matches.size() < matches_per_piece; ++p) {
            if (p + t > s && p + t <= w1 &&
                matches_at(window, p - w0, term, match_case, whole_word)) {
                piece.matches.emplace_back(p, p + t);
            }
        }
    }
    piece.matches_valid = true;
    piece.matches_document_generation = edit_count;
    piece.matches_highlight_generation = source.highlight_generation;
    piece.matches_start = s;
    piece.matches_length = piece.length;
}

// Fills the part of [from, to) that lies in the piece.
void fill_piece_part(Source& source, const LinePiece& piece, std::uint64_t piece_start,
                     std::uint64_t from, std::uint64_t to, D2D1_POINT_2F origin,
                     ID2D1Brush* brush) {
    const std::uint64_t begin = std::max(from, piece_start);
    const std::uint64_t end = std::min(to, piece_start + piece.length);
    if (begin < end) {
        fill_rects(source, piece.layout.get(), begin - piece_start, end - begin, origin, brush);
    }
}

// Hands one text layout to Direct2D and counts it; `split_text` as `draw_text_layout` takes it.
void draw_layout(Source& source, D2D1_POINT_2F origin, IDWriteTextLayout* layout, ID2D1Brush* brush,
                 bool split_text = false) {
    draw_text_layout(source.target.get(), origin, layout, brush, split_text);
    ++source.layouts_drawn;
}

// How much of the rows [top, bottom) of the view lies in the band the running paint redraws,
// in DIPs; all of them when the paint draws the whole view.
double paint_band_overlap(const Source& source, double top, double bottom) {
    if (source.paint_band_bottom <= source.paint_band_top) {
        return bottom - top;
    }
    return std::min(bottom, source.paint_band_bottom) - std::max(top, source.paint_band_top);
}

// Rows of 18.67 px put a band's edges inside the rows of its neighbours, and Wine's Direct2D
// draws every glyph run it is handed whatever the clip. A line that shares less than a device
// pixel with the band shares only a row of line spacing with it, which no glyph reaches, so
// its text is not drawn again; its fills (selection, find highlights) reach the row and are.
bool text_in_paint_band(const Source& source, double top, double bottom) {
    return paint_band_overlap(source, top, bottom) >= 1.0 / scale_of(source);
}

// `with_text` false draws the piece's fills alone (see `text_in_paint_band`).
void draw_piece(Source& source, LinePiece& piece, std::uint64_t piece_start, D2D1_POINT_2F origin,
                std::uint32_t& matches_drawn, bool with_text) {
    if (!source.highlight_term.empty() && matches_drawn < matches_per_paint) {
        update_matches(source, piece, piece_start);
        for (const auto& [from, to] : piece.matches) {
            if (matches_drawn >= matches_per_paint) {
                break;
            }
            ++matches_drawn;
            fill_piece_part(source, piece, piece_start, from, to, origin,
                            source.brushes.find_highlight.get());
        }
    }
    const auto& selection = source.document.selection;
    fill_piece_part(source, piece, piece_start, std::min(selection[0], selection[1]),
                    std::max(selection[0], selection[1]), origin, source.brushes.selection.get());
    if (!with_text) {
        return;
    }
    if (source.wrap && source.paint_band_bottom > source.paint_band_top) {
        source.rows_drawn += static_cast<std::uint32_t>(draw_text_rows(
            source.target.get(), origin, piece.layout.get(), source.brushes.text.get(),
            piece.split_text,
            [&](float top, float bottom) { return text_in_paint_band(source, top, bottom); }));
        ++source.layouts_drawn;
    } else {
        draw_layout(source, origin, piece.layout.get(), source.brushes.text.get(),
                    piece.split_text);
    }
}

void draw_selected_line_break(Source& source, std::uint64_t line, double line_top) {
    const SourceDocument& document = source.document;
    if (line + 1 >= document.line_count()) {
        return;
    }
    const std::uint64_t line_feed = document.line_start(line) + line_length(document, line);
    const auto& selection = document.selection;
    const double base = base_line_height(source);
    if (line_feed < std::min(selection[0], selection[1]) ||
        line_feed >= std::max(selection[0], selection[1]) ||
        line_top + source.heights.height(line) - base >= view_height(source)) {
        return;
    }
    const D2D1_POINT_2F point = caret_point(source, line_feed);
    const double right = text_left_edge(source) + text_width(source);
    source.target->FillRectangle(D2D1::RectF(point.x, point.y, static_cast<float>(right),
                                             static_cast<float>(point.y + base)),
                                 source.brushes.selection.get());
}

void draw_lines(Source& source) {
    const std::uint64_t count = source.heights.size();
    const double view = view_height(source);
    const double left = text_left_edge(source);
    const double width = text_width(source);
    std::uint32_t matches_drawn = 0;
    std::uint64_t line = line_at_height(source.heights, source.scroll_y);
    double y = source.heights.prefix(line) - source.scroll_y;
    for (; line < count && y < view; ++line) {
        const double bottom = y + source.heights.height(line);
        if (paint_band_overlap(source, y, bottom) <= 0.0) {
            y = bottom;
            continue;
        }
        const bool line_text = text_in_paint_band(source, y, bottom);
        std::vector<LinePiece>& pieces = line_pieces(source, line);
        const std::uint64_t line_start = source.document.line_start(line);
        double top = y;
        double x = left - source.scroll_x;
        // Laying a piece out may cut it and add pieces after it, so they are taken by index.
        for (std::size_t k = 0; k < pieces.size(); ++k) {
            const bool visible = source.wrap ? top + pieces[k].height >= 0.0 && top < view
                                             : x + pieces[k].width >= left && x < left + width;
            // Wrapped pieces are rows of their own, so a band can leave some of a line's out.
            const bool with_text =
                line_text &&
                (!source.wrap || text_in_paint_band(source, top, top + pieces[k].height));
            if (visible && build_piece_layout(source, line, pieces[k])) {
                draw_piece(source, pieces[k], line_start + pieces[k].start,
                           D2D1::Point2F(static_cast<float>(x), static_cast<float>(top)),
                           matches_drawn, with_text);
            }
            (source.wrap ? top : x) += source.wrap ? pieces[k].height : pieces[k].width;
        }
        draw_selected_line_break(source, line, y);
        make_line_height_exact(source, line);
        y += source.heights.height(line);
    }
}

void draw_composition(Source& source) {
    if (!source.composing || source.composition.empty()) {
        return;
    }
    ComPtr<IDWriteTextLayout> layout;
    check_render(source.dwrite->CreateTextLayout(
        source.composition.c_str(), static_cast<UINT32>(source.composition.size()),
        source.text_format.get(), static_cast<FLOAT>(text_width(source)),
        static_cast<FLOAT>(composition_rows * base_line_height(source)), layout.put()));
    check_render(layout->SetUnderline(TRUE, {0, static_cast<UINT32>(source.composition.size())}));
    const D2D1_POINT_2F at = caret_point(source, source.document.selection[1]);
    draw_layout(source, at, layout.get(), source.brushes.text.get());
}

double lane_width(const Source& source) {
    return source.marker_lane ? marker_lane_width : 0.0;
}

// The number layouts are built for the gutter width they were made for.
void check_number_cache(Source& source) {
    const double gutter = gutter_width(source);
    if (source.number_cache_gutter != gutter) {
        source.number_cache.clear();
        source.number_cache_gutter = gutter;
    }
}

// The layout of a line's number, built under the paint's budget; null when refused.
IDWriteTextLayout* number_layout(Source& source, std::uint64_t line) {
    const auto cached = source.number_cache.find(line);
    if (cached != source.number_cache.end()) {
        return cached->second.get();
    }
    if (!layout_budget_allows(source, now_ms())) {
        return nullptr;
    }
    if (source.number_cache.size() >= number_cache_limit) {
        source.number_cache.clear();
    }
    const std::wstring number = std::to_wstring(line + 1);
    const double width = gutter_width(source) - number_right_gap - lane_width(source);
    ComPtr<IDWriteTextLayout> layout;
    check_render(source.dwrite->CreateTextLayout(
        number.c_str(), static_cast<UINT32>(number.size()), source.number_format.get(),
        static_cast<FLOAT>(std::max(1.0, width)), static_cast<FLOAT>(base_line_height(source)),
        layout.put()));
    return source.number_cache.emplace(line, std::move(layout)).first->second.get();
}

template <typename Visit> void for_each_visible_line(const Source& source, Visit visit) {
    const double view = view_height(source);
    const std::uint64_t count = source.heights.size();
    for (std::uint64_t line = line_at_height(source.heights, source.scroll_y);
         line < count && source.heights.prefix(line) - source.scroll_y < view; ++line) {
        visit(line);
    }
}

void measure_bands(Source& source, bool look_ahead);

// Lifts the paint's layout budget while it is alive: what the screen shows is laid out whole.
class UnbudgetedScope {
public:
    explicit UnbudgetedScope(Source& source) : source_(source), active_(source.budget.active) {
        source.budget.active = false;
    }
    ~UnbudgetedScope() { source_.budget.active = active_; }
    UnbudgetedScope(const UnbudgetedScope&) = delete;
    UnbudgetedScope& operator=(const UnbudgetedScope&) = delete;

private:
    Source& source_;
    bool active_;
};

// Builds the layouts of the pieces the view shows, each placed by the measured sizes of those
// above it in its line.
void build_visible_pieces(Source& source) {
    const double left = text_left_edge(source);
    const double width = text_width(source);
    const double view = view_height(source);
    for_each_visible_line(source, [&](std::uint64_t line) {
        double top = source.heights.prefix(line) - source.scroll_y;
        double x = left - source.scroll_x;
        std::vector<LinePiece>& pieces = line_pieces(source, line);
        for (std::size_t k = 0; k < pieces.size(); ++k) {
            const bool visible = source.wrap ? top + pieces[k].height >= 0.0 && top < view
                                             : x + pieces[k].width >= left && x < left + width;
            if (visible) {
                build_piece_layout(source, line, pieces[k]);
            }
            top += pieces[k].height;
            x += pieces[k].width;
        }
        make_line_height_exact(source, line);
    });
}

// Every row and line number the view shows is laid out before anything is drawn, outside the
// budget: under a slow renderer (Wine's, where even an empty frame is dear) a screen completed
// a few layouts per paint took seconds of whole-screen paints. Measured heights replace estimates,
// which can bring other lines into view, so this repeats until the view holds still.
void lay_out_visible_rows(Source& source) {
    constexpr int settle_rounds = 8;
    UnbudgetedScope unbudgeted(source);
    for (int round = 0; round < settle_rounds; ++round) {
        const double top = source.scroll_y;
        const double extent = source.heights.prefix(source.heights.size());
        if (source.wrap) {
            measure_bands(source, false);
        }
        build_visible_pieces(source);
        if (source.scroll_y == top && source.heights.prefix(source.heights.size()) == extent) {
            break;
        }
    }
    if (source.line_numbers) {
        check_number_cache(source);
        for_each_visible_line(source, [&](std::uint64_t line) { number_layout(source, line); });
    }
}

// The look-ahead above and below the view is what the budget governs; its time starts now.
void measure_look_ahead(Source& source) {
    source.budget.deadline = now_ms() + layout_budget_ms;
    if (source.wrap) {
        measure_bands(source, true);
    }
}

void draw_line_numbers(Source& source) {
    check_number_cache(source);
    const double gutter = gutter_width(source);
    const double view = view_height(source);
    source.target->FillRectangle(
        D2D1::RectF(0.0f, 0.0f, static_cast<float>(gutter), static_cast<float>(view)),
        source.brushes.gutter.get());
    // A band right of the numbers (an edit that kept the line count) leaves them as they are.
    if (source.paint_band_left >= gutter - number_right_gap) {
        return;
    }
    const double lane = lane_width(source);
    for_each_visible_line(source, [&](std::uint64_t line) {
        const double top = source.heights.prefix(line) - source.scroll_y;
        if (!text_in_paint_band(source, top, top + source.heights.height(line))) {
            return;
        }
        if (IDWriteTextLayout* layout = number_layout(source, line)) {
            draw_layout(source, D2D1::Point2F(static_cast<float>(lane), static_cast<float>(top)),
                        layout, source.brushes.muted.get());
        }
    });
}

std::uint32_t line_mark_colour(const Source& source, const LineMark& mark) {
    const PaletteTable& table = source.palette.table;
    if (mark.kind != line_mark_added || source.palette.high_contrast) {
        return table[palette_slot::link];
    }
    return source.dark ? added_mark_dark : added_mark_light;
}

void draw_marker_lane(Source& source) {
    const double view = view_height(source);
    const auto lane = static_cast<float>(marker_lane_width);
    source.target->FillRectangle(D2D1::RectF(0.0f, 0.0f, lane, static_cast<float>(view)),
                                 source.brushes.gutter.get());
    if (!source.brushes.marker) {
        make_brush(source, source.brushes.marker, source.palette.table[palette_slot::link]);
    }
    ID2D1SolidColorBrush* brush = source.brushes.marker.get();
    const HeightTree& heights = source.heights;
    const std::uint64_t first = line_at_height(heights, source.scroll_y);
    const std::uint64_t last = line_at_height(heights, source.scroll_y + view);
    auto top_of = [&](std::uint64_t line) { return heights.prefix(line) - source.scroll_y; };

    auto mark =
        std::upper_bound(source.line_marks.begin(), source.line_marks.end(), first,
                         [](std::uint64_t line, const LineMark& m) { return line < m.end; });
    for (; mark != source.line_marks.end() && mark->first <= last; ++mark) {
        brush->SetColor(colour(line_mark_colour(source, *mark)));
        const double y0 = std::max(0.0, top_of(mark->first));
        const double y1 = std::min(view, top_of(mark->end));
        if (mark->kind == line_mark_added) {
            source.target->FillRectangle(
                D2D1::RectF(mark_left, static_cast<float>(y0), mark_right, static_cast<float>(y1)),
                brush);
            continue;
        }
        for (double t = y0; t < y1; t += dash_period) {
            source.target->FillRectangle(
                D2D1::RectF(mark_left, static_cast<float>(t), mark_right,
                            static_cast<float>(std::min(t + dash_length, y1))),
                brush);
        }
    }

    const std::uint32_t deletion = source.palette.high_contrast
                                       ? source.palette.table[palette_slot::text]
                                       : (source.dark ? deletion_mark_dark : deletion_mark_light);
    brush->SetColor(colour(deletion));
    for (const DeletionMark& deleted : source.deletion_marks) {
        if (deleted.line < first || deleted.line > last + 1) {
            continue;
        }
        const double y = top_of(std::min<std::uint64_t>(deleted.line, heights.size()));
        if (y < -wedge_reach || y > view + wedge_reach) {
            continue;
        }
        for (int i = 0; i < wedge_lines; ++i) {
            const double reach = (wedge_lines - i) * wedge_slope;
            const auto x = static_cast<float>(i);
            source.target->DrawLine(D2D1::Point2F(x, static_cast<float>(y - reach)),
                                    D2D1::Point2F(x, static_cast<float>(y + reach)), brush, 1.0f);
        }
    }
}

// With wrapping, the heights of what is shown are made exact before anything is drawn, and
// then those of one screen to each side, the side of the last scroll first, while the budget
// lasts. The view keeps its first visible text throughout.
void measure_bands(Source& source, bool look_ahead) {
    const double view = view_height(source);
    const ScrollAnchor anchor = capture_scroll_anchor(source);
    auto measure = [&](double top, double bottom) {
        measure_band(source, top, bottom);
        if (anchor.valid) {
            restore_scroll_anchor(source, anchor);
        }
    };
    if (!look_ahead) {
        measure(source.scroll_y, source.scroll_y + view);
        return;
    }
    if (source.budget.pending) {
        return;
    }
    const double y = source.scroll_y;
    const std::pair<double, double> above{std::max(0.0, y - view), y};
    const std::pair<double, double> below{y + view, y + 2.0 * view};
    const auto& [first, second] =
        source.scroll_direction < 0 ? std::pair{above, below} : std::pair{below, above};
    measure(first.first, first.second);
    if (!source.budget.pending) {
        measure(second.first, second.second);
    }
}

// Idle time is counted up to when the paint began: a paint slower than the idle time (a loaded
// machine draws a frame in seconds) would otherwise let go of the layouts it has just drawn, and
// each keystroke after it would lay the whole view out again, slower still.
void evict_layouts(Source& source, double paint_start) {
    auto release_idle = [&](std::vector<LinePiece>& pieces) {
        for (LinePiece& piece : pieces) {
            if (piece.layout && paint_start - piece.last_used > idle_layout_ms) {
                piece.layout.reset();
            }
        }
    };
    for (auto& [line, cached] : source.line_cache) {
        release_idle(cached.pieces);
        release_idle(cached.tail);
    }
    if (source.line_cache.size() <= cached_lines_limit) {
        return;
    }
    const std::uint64_t first = line_at_height(source.heights, source.scroll_y);
    const std::uint64_t last =
        line_at_height(source.heights, source.scroll_y + view_height(source));
    std::vector<std::pair<double, std::uint64_t>> outside;
    for (const auto& [line, cached] : source.line_cache) {
        if (line < first || line > last) {
            outside.emplace_back(cached.last_used, line);
        }
    }
    std::sort(outside.begin(), outside.end());
    for (const auto& [used, line] : outside) {
        if (source.line_cache.size() <= cached_lines_limit) {
            break;
        }
        source.line_cache.erase(line);
    }
}

void draw_text_area(Source& source) {
    const double gutter = gutter_width(source);
    source.target->PushAxisAlignedClip(
        D2D1::RectF(
            static_cast<float>(gutter), 0.0f,
            static_cast<float>(gutter + text_side_padding + text_width(source) + text_side_padding),
            static_cast<float>(view_height(source))),
        D2D1_ANTIALIAS_MODE_ALIASED);
    draw_lines(source);
    draw_composition(source);
    source.target->PopAxisAlignedClip();
}

} // namespace

std::vector<D2D1_RECT_F> range_rects(IDWriteTextLayout* layout, UINT32 start, UINT32 length,
                                     FLOAT x, FLOAT y) {
    UINT32 count = 0;
    hit_test_text_range(layout, start, length, x, y, nullptr, 0, &count);
    std::vector<DWRITE_HIT_TEST_METRICS> metrics(count);
    check_render(hit_test_text_range(layout, start, length, x, y, metrics.data(), count, &count));
    std::vector<D2D1_RECT_F> rects;
    for (UINT32 i = 0; i < std::min<UINT32>(count, static_cast<UINT32>(metrics.size())); ++i) {
        const DWRITE_HIT_TEST_METRICS& m = metrics[i];
        rects.push_back({m.left, m.top, m.left + m.width, m.top + m.height});
    }
    return rects;
}

std::uint64_t decimal_digits(std::uint64_t value) {
    std::uint64_t digits = 1;
    for (; value >= 10; value /= 10) {
        ++digits;
    }
    return digits;
}

namespace {

// True when the frame was presented. After a lost device every device-dependent object is
// made again, and the next paint draws the whole window.
bool end_frame(Source& source) {
    const HRESULT drawn = source.target->EndDraw();
    ++source.draws_ended;
    if (drawn == static_cast<HRESULT>(D2DERR_RECREATE_TARGET)) {
        clear_line_layouts(source);
        invalidate_editor(source.window);
        return false;
    }
    check_render(drawn);
    return true;
}

RECT whole_frame(const Source& source) {
    const D2D1_SIZE_U size = source.target->GetPixelSize();
    return RECT{0, 0, static_cast<LONG>(size.width), static_cast<LONG>(size.height)};
}

void begin_frame(Source& source) {
    source.target->BeginDraw();
}

} // namespace

double gutter_width(const Source& source) {
    const double lane = lane_width(source);
    if (!source.line_numbers) {
        return lane;
    }
    const auto digits = static_cast<double>(decimal_digits(source.document.line_count()));
    return lane + digits * source.char_advance + number_padding;
}

double text_width(const Source& source) {
    RECT client{};
    GetClientRect(source.window, &client);
    const double width = (client.right - client.left) / scale_of(source);
    return std::max(1.0, width - (gutter_width(source) + text_side_padding) - text_side_padding);
}

double view_height(const Source& source) {
    RECT client{};
    GetClientRect(source.window, &client);
    return std::max(1.0, (client.bottom - client.top) / scale_of(source));
}

PaintColours colours_now(const Source& source) {
    const SourceHost& host = source_host();
    return host.paint_colours ? host.paint_colours(source.dark) : PaintColours{};
}

void create_text_format(Source& source) {
    source.line_cache.clear();
    source.number_cache.clear();
    source.text_format.reset();
    source.number_format.reset();
    source.metrics_valid = false;

    const double size = source.font_points * 96.0 / 72.0;
    ComPtr<IDWriteTextFormat> text = make_format(source);
    check_render(text->SetWordWrapping(source.wrap ? DWRITE_WORD_WRAPPING_WRAP
                                                   : DWRITE_WORD_WRAPPING_NO_WRAP));
    check_render(text->SetLineSpacing(DWRITE_LINE_SPACING_METHOD_UNIFORM,
                                      static_cast<FLOAT>(line_spacing_factor * size),
                                      static_cast<FLOAT>(baseline_factor * size)));
    ComPtr<IDWriteTextLayout> probe;
    check_render(source.dwrite->CreateTextLayout(L"M", 1, text.get(), format_probe_size,
                                                 format_probe_size, probe.put()));
    DWRITE_TEXT_METRICS metrics{};
    check_render(probe->GetMetrics(&metrics));
    source.char_advance =
        std::max(1.0, static_cast<double>(metrics.widthIncludingTrailingWhitespace));
    source.text_format = std::move(text);
    recreate_caret(source);

    // The numbers share the text's line spacing so that both sit on the same baseline.
    ComPtr<IDWriteTextFormat> numbers = make_format(source);
    check_render(numbers->SetTextAlignment(DWRITE_TEXT_ALIGNMENT_TRAILING));
    check_render(numbers->SetLineSpacing(DWRITE_LINE_SPACING_METHOD_UNIFORM,
                                         static_cast<FLOAT>(line_spacing_factor * size),
                                         static_cast<FLOAT>(baseline_factor * size)));
    source.number_format = std::move(numbers);
}

void create_source_brushes(Source& source) {
    const auto dpi = static_cast<FLOAT>(source.dpi);
    source.target->SetDpi(dpi, dpi);
    source.palette = colours_now(source);
    const PaletteTable& table = source.palette.table;
    SourceBrushes& brushes = source.brushes;
    make_brush(source, brushes.gutter, table[palette_slot::gutter]);
    make_brush(source, brushes.text, table[palette_slot::text]);
    if (source.markdown_colouring) {
        for (int kind = 0; kind < span_kind_count; ++kind) {
            make_brush(source, brushes.kinds[kind],
                       kind_colour(static_cast<SpanKind>(kind), source.colouring_mode,
                                   source.palette, source.dark));
        }
    }
    make_brush(source, brushes.selection, table[palette_slot::selection], selection_opacity);
    make_brush(source, brushes.muted, table[palette_slot::muted]);
    make_brush(source, brushes.find_highlight,
               source.dark ? find_highlight_dark : find_highlight_light);
}

void ensure_render_target(Source& source) {
    if (source.target) {
        return;
    }
    RECT client{};
    GetClientRect(source.window, &client);
    // GDI-compatible so that the frame it holds can be copied out (`copy_frame`).
    const D2D1_RENDER_TARGET_PROPERTIES properties = D2D1::RenderTargetProperties(
        D2D1_RENDER_TARGET_TYPE_DEFAULT,
        D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED), 0.0f, 0.0f,
        D2D1_RENDER_TARGET_USAGE_GDI_COMPATIBLE);
    const D2D1_HWND_RENDER_TARGET_PROPERTIES window_properties{
        .hwnd = source.window,
        .pixelSize = {static_cast<UINT32>(std::max<LONG>(1, client.right - client.left)),
                      static_cast<UINT32>(std::max<LONG>(1, client.bottom - client.top))},
        .presentOptions = D2D1_PRESENT_OPTIONS_RETAIN_CONTENTS,
    };
    ComPtr<ID2D1HwndRenderTarget> target;
    check_render(source.d2d->CreateHwndRenderTarget(properties, window_properties, target.put()));
    if (source.target) {
        // A message handled while this one was made made one too; its brushes are in use.
        return;
    }
    source.target = std::move(target);
    source.frame_kept = false;
    create_source_brushes(source);
}

bool copy_frame(Source& source, HDC into) {
    ComPtr<ID2D1GdiInteropRenderTarget> interop;
    if (!source.target || !source.frame_kept ||
        FAILED(source.target->QueryInterface(__uuidof(ID2D1GdiInteropRenderTarget),
                                             reinterpret_cast<void**>(interop.put())))) {
        return false;
    }
    ++source.frames_read;
    begin_frame(source);
    HDC frame = nullptr;
    bool copied = false;
    if (SUCCEEDED(interop->GetDC(D2D1_DC_INITIALIZE_MODE_COPY, &frame))) {
        const RECT whole = whole_frame(source);
        copied = BitBlt(into, 0, 0, whole.right, whole.bottom, frame, 0, 0, SRCCOPY) != FALSE;
        // Nothing was drawn through the DC; told otherwise, Wine's target keeps more memory.
        RECT nothing{};
        interop->ReleaseDC(&nothing);
    }
    // The draw is closed here, the unchanged frame presented once more, so that every paint
    // after a read begins and presents a draw of its own as it does when nothing reads.
    source.frame_kept = end_frame(source);
    return copied;
}

bool present_frame_again(Source& source) {
    begin_frame(source);
    source.frame_kept = end_frame(source);
    return source.frame_kept;
}

LONG marker_lane_right(const Source& source) {
    return static_cast<LONG>(std::ceil(marker_lane_width * scale_of(source)));
}

void continue_layouts(Source& source) {
    BudgetScope budget_scope(source);
    ensure_line_metrics(source);
    const std::uint64_t first = line_at_height(source.heights, source.scroll_y);
    const double first_top = source.heights.prefix(first) - source.scroll_y;
    measure_look_ahead(source);
    // The look-ahead keeps the first row shown where it was, so the frame stays true; only
    // where that could not hold (the view at an end of the document) is the screen redrawn.
    const double shift = source.heights.prefix(first) - source.scroll_y - first_top;
    if (source.redraw && (line_at_height(source.heights, source.scroll_y) != first ||
                          std::abs(shift) > frame_shift_epsilon)) {
        invalidate_editor(source.window);
    }
    scroll_source_to(source, source.scroll_x, source.scroll_y, false);
    follow_measured_caret(source);
}

void Source::paint() {
    StageClock clock;
    const double start = now_ms();
    BudgetScope budget_scope(*this);
    ensure_line_metrics(*this);
    ensure_render_target(*this);
    if (paint_lane_only && frame_kept) {
        begin_frame(*this);
        draw_marker_lane(*this);
        frame_kept = end_frame(*this);
        return;
    }
    const double extent = heights.prefix(heights.size());
    const double top = scroll_y;
    lay_out_visible_rows(*this);
    measure_look_ahead(*this);
    clock.lap(work_stage::paint_layout);
    // A band is drawn over the kept frame; without one, when measuring moved the view, or while
    // a composition (which may reach beyond the band) is shown, the whole client area is drawn.
    if (!frame_kept || composing || scroll_y != top || heights.prefix(heights.size()) != extent) {
        paint_band_top = paint_band_bottom = paint_band_left = 0.0;
    }
    const bool banded = paint_band_bottom > paint_band_top;
    layouts_drawn = 0;
    rows_drawn = 0;
    begin_frame(*this);
    if (banded) {
        target->PushAxisAlignedClip(
            D2D1::RectF(static_cast<float>(paint_band_left), static_cast<float>(paint_band_top),
                        target->GetSize().width, static_cast<float>(paint_band_bottom)),
            D2D1_ANTIALIAS_MODE_ALIASED);
    }
    target->Clear(colour(colours_now(*this).table[palette_slot::background]));
    draw_text_area(*this);
    clock.lap(work_stage::paint_text);
    if (line_numbers) {
        draw_line_numbers(*this);
    }
    if (marker_lane && paint_band_left < marker_lane_width) {
        draw_marker_lane(*this);
    }
    if (banded) {
        target->PopAxisAlignedClip();
    }
    clock.lap(work_stage::paint_gutter);
    frame_kept = end_frame(*this);
    clock.lap(work_stage::paint_present);
    evict_layouts(*this, start);
    scroll_source_to(*this, scroll_x, scroll_y, false);
    follow_measured_caret(*this);
    show_waiting_caret(*this);
    clock.lap(work_stage::paint_after);
}

} // namespace pellix
