#include <algorithm>
#include <cmath>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <utility>

#include "core/graphemes.h"
#include "editor/code_span_carry.h"
#include "editor/source_record.h"
#include "platform/text_drawing.h"
#include "preview/row_fit.h"

namespace pellix {
namespace {

// Longest piece of a line with and without wrapping: a huge line costs only what is shown.
constexpr std::uint64_t wrapped_piece_units = 4096;
constexpr std::uint64_t unwrapped_piece_units = 1024;
constexpr FLOAT layout_height_limit = 10000000.0f;
// A paint builds at most this many layouts, and only the first once its deadline has passed.
constexpr std::uint32_t layouts_per_paint = 8;
// Enough for the paragraphs of many screens; past it the units start again from none.
constexpr std::size_t kept_code_units = 4096;

// The sizes of a piece of `units` units before it is laid out.
void estimate_piece(const Source& source, LinePiece& piece) {
    const double columns = std::max(1.0, text_width(source) / source.char_advance);
    const auto units = static_cast<double>(piece.length);
    piece.width = units * source.char_advance;
    piece.height =
        base_line_height(source) * (source.wrap ? std::max(1.0, std::ceil(units / columns)) : 1.0);
}

LinePiece estimated_piece(const Source& source, std::uint64_t start, std::uint64_t units) {
    LinePiece piece;
    piece.start = start;
    piece.length = units;
    estimate_piece(source, piece);
    return piece;
}

// Where the piece of a line (starting at `line_start` in the document) that starts at `from`
// ends when it should end at `at`: between two whole characters, at least one past `from`. The
// text is read from the piece's start, a boundary, so that a run of flags longer than the
// context still pairs up from there.
std::uint64_t cut_between_characters(const SourceDocument& document, std::uint64_t line_start,
                                     std::uint64_t from, std::uint64_t at) {
    const std::u16string piece =
        document.text(line_start + from, at - from + grapheme_context_units);
    return from + grapheme_cut(piece, 0, at - from);
}

// Whether the piece of a line (starting at `line_start` in the document) that starts at `at`
// starts inside a character, which only one longer than a few hundred units is cut in.
bool starts_inside_character(const SourceDocument& document, std::uint64_t line_start,
                             std::uint64_t at) {
    const std::uint64_t back = std::min(at, grapheme_context_units);
    const std::u16string around =
        document.text(line_start + at - back, back + grapheme_context_units);
    return !is_grapheme_boundary(around, back);
}

// The pieces of a line from `from` (a boundary between two pieces) to its end; those that start
// before `short_until` are no longer than an unwrapped piece.
std::vector<LinePiece> cut_line_from(Source& source, std::uint64_t line, std::uint64_t from,
                                     std::uint64_t short_until = 0) {
    const SourceDocument& document = source.document;
    const std::uint64_t start = document.line_start(line);
    const std::uint64_t length = line_length(document, line);
    const std::uint64_t chunk = source.wrap ? wrapped_piece_units : unwrapped_piece_units;
    std::vector<LinePiece> pieces;
    if (length == 0) {
        pieces.push_back(estimated_piece(source, 0, 0));
    }
    for (std::uint64_t cut = from; cut < length;) {
        std::uint64_t end =
            std::min(cut + (cut < short_until ? unwrapped_piece_units : chunk), length);
        if (end < length) {
            end = cut_between_characters(document, start, cut, end);
        }
        pieces.push_back(estimated_piece(source, cut, end - cut));
        cut = end;
    }
    return pieces;
}

std::vector<LinePiece> cut_line(Source& source, std::uint64_t line) {
    std::vector<LinePiece> pieces = cut_line_from(source, line, 0);
    if (pieces.size() == 1) {
        pieces.front().height = source.heights.height(line);
    }
    return pieces;
}

// How many leading pieces of a line an edit from `edit_start` (within the line) leaves as they
// were: a piece was fitted from text that reaches at most to the end of the piece after it (its
// last row goes on to that piece), and where a piece was cut read the grapheme context beyond.
std::size_t pieces_before_edit(const std::vector<LinePiece>& pieces, std::uint64_t edit_start) {
    std::size_t kept = 0;
    while (kept + 1 < pieces.size() && pieces[kept].measured &&
           pieces[kept + 1].start + pieces[kept + 1].length + grapheme_context_units <=
               edit_start) {
        ++kept;
    }
    return kept;
}

// The first piece after `kept` that an edit ending at `old_end` (within the line) left as it
// was, and that starts a row: its text and the grapheme context before it are after the edit,
// and the piece before it was laid out, so that it ends where a row does.
std::size_t pieces_after_edit(const std::vector<LinePiece>& pieces, std::size_t kept,
                              std::uint64_t old_end) {
    std::size_t first = kept + 1;
    while (first < pieces.size() && (pieces[first].start < old_end + grapheme_context_units ||
                                     !pieces[first - 1].measured)) {
        ++first;
    }
    return first;
}

// Gives `pieces` the sizes that the pieces of `old` from `from` on (the pieces they replace) had
// together, shared out by their units: closer to the truth than an estimate from their units
// alone, so the line's height barely moves until they are laid out.
void share_out_sizes(const Source& source, std::vector<LinePiece>& pieces,
                     const std::vector<LinePiece>& old, std::size_t from) {
    double height = 0.0;
    double width = 0.0;
    for (std::size_t k = from; k < old.size(); ++k) {
        height += old[k].height;
        width += old[k].width;
    }
    std::uint64_t units = 0;
    for (const LinePiece& piece : pieces) {
        units += piece.length;
    }
    if (units == 0 || from >= old.size()) {
        return;
    }
    for (LinePiece& piece : pieces) {
        const double share = static_cast<double>(piece.length) / static_cast<double>(units);
        piece.width = width * share;
        if (source.wrap) {
            piece.height = height * share;
        }
    }
}

void apply_span(Source& source, IDWriteTextLayout* layout, const ColourSpan& span) {
    const DWRITE_TEXT_RANGE range{static_cast<UINT32>(span.start),
                                  static_cast<UINT32>(span.end - span.start)};
    check_render(
        layout->SetDrawingEffect(source.brushes.kinds[static_cast<int>(span.kind)].get(), range));
    if (source.colouring_mode != colouring_full) {
        return;
    }
    switch (span.kind) {
    case SpanKind::Heading:
    case SpanKind::Strong:
        check_render(layout->SetFontWeight(DWRITE_FONT_WEIGHT_BOLD, range));
        break;
    case SpanKind::Emphasis:
    case SpanKind::QuoteText:
        check_render(layout->SetFontStyle(DWRITE_FONT_STYLE_ITALIC, range));
        break;
    case SpanKind::StrongEmphasis:
        check_render(layout->SetFontWeight(DWRITE_FONT_WEIGHT_BOLD, range));
        check_render(layout->SetFontStyle(DWRITE_FONT_STYLE_ITALIC, range));
        break;
    case SpanKind::Strikethrough:
        check_render(layout->SetStrikethrough(TRUE, range));
        break;
    case SpanKind::LinkText:
        check_render(layout->SetUnderline(TRUE, range));
        break;
    case SpanKind::Code:
    case SpanKind::Url:
        check_render(layout->SetFontStyle(DWRITE_FONT_STYLE_NORMAL, range));
        check_render(layout->SetFontWeight(DWRITE_FONT_WEIGHT_NORMAL, range));
        check_render(layout->SetStrikethrough(FALSE, range));
        break;
    default:
        break;
    }
}

bool colours_spans(const Source& source) {
    return source.markdown_colouring && source.colouring_mode != colouring_off;
}

const CodeUnit& code_unit_of(Source& source, std::uint64_t line) {
    auto& cache = source.code_units;
    if (cache.edit_count != source.document.edit_count || cache.units.size() >= kept_code_units) {
        cache.units.clear();
        cache.edit_count = source.document.edit_count;
    }
    const auto after = cache.units.upper_bound(line);
    if (after != cache.units.begin()) {
        const CodeUnit& unit = std::prev(after)->second;
        if (line < unit.first + unit.carries.size()) {
            return unit;
        }
    }
    CodeUnit unit = code_unit_around(source.document, source.fence_states, line);
    const std::uint64_t first = unit.first;
    return cache.units.insert_or_assign(first, std::move(unit)).first->second;
}

CodeCarry code_carry_of(Source& source, std::uint64_t line) {
    const CodeUnit& unit = code_unit_of(source, line);
    return unit.carries[line - unit.first];
}

// What the lines around carry into a piece: a span open at the line's start reaches only its
// first piece, and one it leaves open ends a piece only at the line's end.
CodeCarry piece_carry(const Source& source, std::uint64_t line, const CodeCarry& carry,
                      std::uint64_t piece_start, std::uint64_t piece_length) {
    CodeCarry piece = carry;
    if (piece_start != 0) {
        piece.open_run = 0;
    }
    if (piece_start + piece_length < line_length(source.document, line)) {
        piece.later_runs.clear();
    }
    return piece;
}

void colour_layout(Source& source, std::uint64_t line, const std::u16string& text,
                   const CodeCarry& carry, IDWriteTextLayout* layout) {
    if (!colours_spans(source)) {
        return;
    }
    const FenceState fence =
        line < source.fence_states.size() ? source.fence_states[line] : FenceState{};
    std::vector<ColourSpan> spans = scan_colour_spans(text, fence, carry);
    order_spans(spans);
    for (const ColourSpan& span : spans) {
        if (source.colouring_mode == colouring_punctuation && !is_punctuation_kind(span.kind)) {
            continue;
        }
        apply_span(source, layout, span);
    }
}

ComPtr<IDWriteTextLayout> make_layout(Source& source, std::uint64_t line,
                                      const std::u16string& text, const CodeCarry& carry) {
    ComPtr<IDWriteTextLayout> layout;
    check_render(source.dwrite->CreateTextLayout(
        reinterpret_cast<const WCHAR*>(text.c_str()), static_cast<UINT32>(text.size()),
        source.text_format.get(), static_cast<FLOAT>(text_width(source)), layout_height_limit,
        layout.put()));
    colour_layout(source, line, text, carry, layout.get());
    return layout;
}

// The units of a wrapped layout before its last row; 0 for a single row.
std::uint64_t rows_but_the_last(IDWriteTextLayout* layout) {
    UINT32 count = 0;
    layout->GetLineMetrics(nullptr, 0, &count);
    std::vector<DWRITE_LINE_METRICS> rows(count);
    check_render(layout->GetLineMetrics(rows.data(), count, &count));
    std::uint64_t units = 0;
    for (UINT32 row = 0; row + 1 < std::min<UINT32>(count, static_cast<UINT32>(rows.size()));
         ++row) {
        units += rows[row].length;
    }
    return units;
}

// A wrapped piece ends where its last full row ends and the next piece takes the rest, so the
// rows break where they would in one layout of the whole line: a piece cut at a fixed length
// would end in a short row and could start the next row with the space the break belongs to.
void pass_on_last_row(const Source& source, LinePiece& piece, LinePiece& next, std::uint64_t kept) {
    const std::uint64_t carried = piece.length - kept;
    piece.length = kept;
    next.start -= carried;
    next.length += carried;
    estimate_piece(source, next);
}

// A row wider than the line (Wine's DirectWrite leaves a word wider than the line whole) is cut
// into line-wide pieces: the piece at `index` keeps the rows before it, or else the row's first
// part. The parts after that are measured already, from the clusters just laid out, so that a
// long run is laid out only where it is shown. The row's last part goes on with what follows it:
// the text after it in the piece, or the next piece when the row ends the piece. Returns the
// units the piece keeps.
std::uint64_t cut_overflowing_row(const Source& source, std::vector<LinePiece>& pieces,
                                  std::size_t index, const RowParts& row) {
    const std::uint64_t start = pieces[index].start;
    const std::uint64_t length = pieces[index].length;
    const auto behind = pieces.begin() + static_cast<std::ptrdiff_t>(index) + 1;
    if (row.row_start > 0) {
        pieces[index].length = row.row_start;
        pieces.insert(behind,
                      estimated_piece(source, start + row.row_start, length - row.row_start));
        return row.row_start;
    }
    std::vector<LinePiece> after;
    const std::vector<std::size_t>& ends = row.ends;
    for (std::size_t part = 1; part < ends.size(); ++part) {
        const bool last = part + 1 == ends.size();
        if (last && ends[part] < length) {
            break;
        }
        LinePiece& measured = after.emplace_back(
            estimated_piece(source, start + ends[part - 1], ends[part] - ends[part - 1]));
        measured.width = row.widths[part];
        measured.height = base_line_height(source);
        measured.measured = true;
    }
    const std::uint64_t rest = ends.size() > 1 ? ends[ends.size() - 2] : ends.front();
    const bool row_ends_piece = ends.back() >= length;
    if (row_ends_piece && ends.size() > 1 && index + 1 < pieces.size()) {
        after.pop_back();
        LinePiece& next = pieces[index + 1];
        next.start -= length - rest;
        next.length += length - rest;
        estimate_piece(source, next);
    } else if (!row_ends_piece) {
        after.push_back(estimated_piece(source, start + rest, length - rest));
    }
    pieces[index].length = ends.front();
    pieces.insert(behind, after.begin(), after.end());
    return ends.front();
}

// The first layout of a wrapped piece decides where the piece ends; returns the units it keeps.
std::uint64_t fit_wrapped_piece(Source& source, std::uint64_t line, std::vector<LinePiece>& pieces,
                                std::size_t index, const std::u16string& text,
                                IDWriteTextLayout* layout) {
    const SourceDocument& document = source.document;
    const std::uint64_t start = pieces[index].start;
    const bool inside =
        start > 0 && starts_inside_character(document, document.line_start(line), start);
    const std::optional<RowParts> overflowing =
        fit_overflowing_row(layout, text, static_cast<float>(text_width(source)), inside);
    if (overflowing) {
        return cut_overflowing_row(source, pieces, index, *overflowing);
    }
    if (index + 1 < pieces.size()) {
        const std::uint64_t kept = rows_but_the_last(layout);
        if (kept > 0 && kept < text.size()) {
            pass_on_last_row(source, pieces[index], pieces[index + 1], kept);
            return kept;
        }
    }
    return text.size();
}

double height_from(const std::vector<LinePiece>& pieces, std::size_t index) {
    double height = 0.0;
    for (std::size_t k = index; k < pieces.size(); ++k) {
        height += pieces[k].height;
    }
    return height;
}

// The pieces from `index` on stood `height` tall before the one at `index` was laid out; the
// next piece not yet measured takes what the measured ones leave of it (at least a row), so the
// line keeps its height while it is measured piece by piece and changes only by what its last
// piece shows it to be. A scroll range that moved at each step redrew the scroll bar each time.
void keep_line_height(const Source& source, std::vector<LinePiece>& pieces, std::size_t index,
                      double height) {
    const auto open = std::find_if(pieces.begin() + static_cast<std::ptrdiff_t>(index) + 1,
                                   pieces.end(), [](const LinePiece& p) { return !p.measured; });
    if (open == pieces.end()) {
        return;
    }
    const double others = height_from(pieces, index) - open->height;
    open->height = std::max(height - others, base_line_height(source));
}

// Rows break by what fits from where each starts: once the pieces laid out after an edit start
// a row where a piece kept from behind the edit started, every piece after it stands as it did
// and is taken back, layouts and sizes. Only a boundary after a measured piece starts a row.
void join_kept_tail(CachedLine& cached, std::size_t index) {
    std::vector<LinePiece>& pieces = cached.pieces;
    std::vector<LinePiece>& tail = cached.tail;
    for (std::size_t j = index + 1; j < pieces.size() && !tail.empty() && pieces[j - 1].measured;
         ++j) {
        for (std::size_t t = 0; t < tail.size() && tail[t].start <= pieces[j].start; ++t) {
            if (tail[t].start == pieces[j].start && (t == 0 || tail[t - 1].measured)) {
                pieces.erase(pieces.begin() + static_cast<std::ptrdiff_t>(j), pieces.end());
                pieces.insert(
                    pieces.end(),
                    std::make_move_iterator(tail.begin() + static_cast<std::ptrdiff_t>(t)),
                    std::make_move_iterator(tail.end()));
                tail.clear();
                return;
            }
        }
    }
}

// Lays out the pieces before `index` that were never measured, since where a wrapped piece
// starts depends on how those ended. False when the budget refused one, or when cutting one moved
// the piece at `index` along: its caller's reference is then stale, and the next request finds
// it measured up to it.
bool measure_pieces_before(Source& source, std::uint64_t line, std::size_t index) {
    std::vector<LinePiece>& pieces = source.line_cache.at(line).pieces;
    const std::size_t count = pieces.size();
    for (std::size_t k = 0; k < index + (pieces.size() - count); ++k) {
        if (!pieces[k].measured && !build_piece_layout(source, line, pieces[k])) {
            return false;
        }
    }
    if (pieces.size() == count) {
        return true;
    }
    if (source.budget.active) {
        source.budget.pending = true;
    }
    return false;
}

// A layout made while the editor was hidden has its sizes but not its colours; it is made again
// once the editor is shown.
bool wants_colours(const Source& source, const LinePiece& piece) {
    return piece.uncoloured && !editor_hidden(source.window);
}

} // namespace

bool layout_budget_allows(Source& source, double now) {
    LayoutBudget& budget = source.budget;
    if (!budget.active) {
        return true;
    }
    if (budget.built >= layouts_per_paint || (budget.built != 0 && budget.deadline <= now)) {
        budget.pending = true;
        return false;
    }
    ++budget.built;
    return true;
}

double now_ms() {
    static LARGE_INTEGER frequency;
    static LARGE_INTEGER first;
    static std::once_flag once;
    std::call_once(once, [] {
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&first);
    });
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - first.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

void check_render(HRESULT result) {
    if (FAILED(result)) {
        throw std::runtime_error("Source text rendering failed.");
    }
}

std::vector<LinePiece>& line_pieces(Source& source, std::uint64_t line) {
    ensure_line_metrics(source);
    const auto cached = source.line_cache.find(line);
    if (cached != source.line_cache.end()) {
        cached->second.last_used = now_ms();
        return cached->second.pieces;
    }
    const double now = now_ms();
    CachedLine entry{cut_line(source, line), now, {}, {}};
    return source.line_cache.emplace(line, std::move(entry)).first->second.pieces;
}

bool build_piece_layout(Source& source, std::uint64_t line, LinePiece& piece) {
    const double now = now_ms();
    piece.last_used = now;
    if (piece.layout && !wants_colours(source, piece)) {
        return true;
    }
    std::vector<LinePiece>& pieces = source.line_cache.at(line).pieces;
    const auto index =
        static_cast<std::size_t>(std::find_if(pieces.begin(), pieces.end(),
                                              [&](const LinePiece& p) { return &p == &piece; }) -
                                 pieces.begin());
    const bool first_build = source.wrap && !piece.measured && index < pieces.size();
    if (first_build && !measure_pieces_before(source, line, index)) {
        return false;
    }
    if (!layout_budget_allows(source, now)) {
        // An uncoloured layout still answers for sizes and positions.
        return static_cast<bool>(piece.layout);
    }
    // A hidden editor measures without a target: a target of a window that is not shown is a
    // swap chain that nothing presents (Wine even fails to make its surface).
    if (!source.target && !editor_hidden(source.window)) {
        const std::uint64_t calls = source.handled_calls;
        const std::uint64_t edits = source.document.edit_count;
        ensure_render_target(source);
        if (source.handled_calls != calls) {
            throw EditorChangedMeanwhile(edits);
        }
    }
    std::u16string text =
        source.document.text(source.document.line_start(line) + piece.start, piece.length);
    piece.layout.reset();
    const CodeCarry carry = colours_spans(source) ? code_carry_of(source, line) : CodeCarry{};
    source.line_cache.at(line).code_carry = carry;
    const std::uint64_t piece_start = piece.start;
    ComPtr<IDWriteTextLayout> layout =
        make_layout(source, line, text, piece_carry(source, line, carry, piece_start, text.size()));
    const double height_from_here = first_build ? height_from(pieces, index) : 0.0;
    if (first_build) {
        // May add pieces after this one, which moves it in memory.
        const std::uint64_t kept =
            fit_wrapped_piece(source, line, pieces, index, text, layout.get());
        if (kept < text.size()) {
            text.resize(kept);
            layout = make_layout(source, line, text,
                                 piece_carry(source, line, carry, piece_start, text.size()));
        }
    }
    LinePiece& built = pieces[index];
    DWRITE_TEXT_METRICS metrics{};
    check_render(layout->GetMetrics(&metrics));
    built.height = std::max<double>(metrics.height, base_line_height(source));
    if (first_build) {
        keep_line_height(source, pieces, index, height_from_here);
    }
    built.width = metrics.widthIncludingTrailingWhitespace;
    built.measured = true;
    built.uncoloured = !source.target && colours_spans(source);
    if (editor_hidden(source.window) && !source.target &&
        !std::exchange(source.hidden_layouts_made, true)) {
        // They go again a while later, as the layouts of a hidden editor's drawing do.
        SetTimer(source.window, release_timer, release_timer_ms, nullptr);
    }
    source.content_width = std::max(
        source.content_width, static_cast<double>(built.start) * source.char_advance + built.width);
    built.layout = std::move(layout);
    built.split_text = splits_glyph_runs(text);
    if (first_build) {
        // May drop the pieces after this one and take others, which moves it in memory.
        join_kept_tail(source.line_cache.at(line), index);
    }
    return true;
}

bool keep_pieces_around_edit(Source& source, std::uint64_t line, std::uint64_t edit_start,
                             std::uint64_t old_end, std::uint64_t new_end) {
    const auto cached = source.line_cache.find(line);
    if (cached == source.line_cache.end()) {
        return false;
    }
    std::vector<LinePiece>& pieces = cached->second.pieces;
    std::vector<LinePiece>& tail = cached->second.tail;
    tail.clear();
    const std::size_t kept = pieces_before_edit(pieces, edit_start);
    const std::size_t behind = pieces_after_edit(pieces, kept, old_end);
    // Short pieces up to the first one kept behind the edit: what is laid out to find the rows
    // there, a keystroke's work, is shaped once more in the rows drawn.
    const std::uint64_t short_until =
        behind < pieces.size() ? pieces[behind].start - old_end + new_end : 0;
    std::vector<LinePiece> rest = cut_line_from(source, line, pieces[kept].start, short_until);
    share_out_sizes(source, rest, pieces, kept);
    for (std::size_t k = behind; k < pieces.size(); ++k) {
        pieces[k].start = pieces[k].start - old_end + new_end;
        tail.push_back(std::move(pieces[k]));
    }
    pieces.resize(kept);
    pieces.insert(pieces.end(), std::make_move_iterator(rest.begin()),
                  std::make_move_iterator(rest.end()));
    return true;
}

void clear_line_layouts(Source& source) {
    source.line_cache.clear();
    release_device_objects(source);
}

void release_device_objects(Source& source) {
    SourceBrushes& brushes = source.brushes;
    for (ComPtr<ID2D1SolidColorBrush>& brush : brushes.kinds) {
        brush.reset();
    }
    brushes.gutter.reset();
    brushes.text.reset();
    brushes.selection.reset();
    brushes.muted.reset();
    brushes.find_highlight.reset();
    brushes.marker.reset();
    source.target.reset();
}

std::uint64_t line_at_height(const HeightTree& heights, double y) {
    return heights.line_at(y);
}

std::pair<std::uint64_t, std::uint64_t> drop_recoloured_code(Source& source, std::uint64_t first,
                                                             std::uint64_t last) {
    std::pair<std::uint64_t, std::uint64_t> dropped{UINT64_MAX, 0};
    if (!colours_spans(source) || source.line_cache.empty()) {
        return dropped;
    }
    const std::uint64_t lines = source.document.line_count();
    std::uint64_t looked_at_end = 0;
    // The edit may have split a unit or joined two: the units on each side of it are looked at.
    for (const std::uint64_t line : {first == 0 ? first : first - 1, first, last, last + 1}) {
        if (line >= lines || line < looked_at_end) {
            continue;
        }
        const CodeUnit& unit = code_unit_of(source, line);
        looked_at_end = unit.first + unit.carries.size();
        for (std::uint64_t k = 0; k < unit.carries.size(); ++k) {
            const std::uint64_t around = unit.first + k;
            const auto cached = source.line_cache.find(around);
            if ((around < first || around > last) && cached != source.line_cache.end() &&
                cached->second.code_carry != unit.carries[k]) {
                source.line_cache.erase(cached);
                dropped = {std::min(dropped.first, around), std::max(dropped.second, around)};
            }
        }
    }
    return dropped;
}

} // namespace pellix
