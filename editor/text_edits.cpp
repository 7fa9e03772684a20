#include <algorithm>
#include <cmath>
#include <map>

#include "editor/changed_rows.h"
#include "editor/fence_state.h"
#include "editor/source_host.h"
#include "editor/source_record.h"

namespace pellix {
namespace {

// How far a band's edge may lie past a pixel edge and still be taken as on it.
constexpr double pixel_slack_dips = 1e-3;
// Edits of up to this many lines are measured at once.
constexpr std::uint64_t measured_edit_lines = 8;
// Edits of more lines than this read their lines in blocks of text: looking each line up in
// the tree, twice for its length and again for its fence state, costs more once a replacement
// spans thousands of lines.
constexpr std::uint64_t scanned_edit_lines = 64;

// Calls visit(line, start, length, block, block_start) for lines first..last in order; `block`
// is the text read last, from `block_start`, which holds the line's end.
template <typename Visit>
void scan_lines(const SourceDocument& document, std::uint64_t first, std::uint64_t last,
                Visit visit) {
    std::uint64_t line = first;
    std::uint64_t start = document.line_start(first);
    const std::uint64_t end =
        last + 1 < document.line_count() ? document.line_start(last + 1) - 1 : document.length();
    std::u16string block;
    std::uint64_t position = start;
    do {
        block = document.text(position, std::min(metrics_scan_units, end - position));
        for (std::uint64_t i = 0; i < block.size(); ++i) {
            if (block[i] == u'\n') {
                visit(line++, start, position + i - start, std::u16string_view(block), position);
                start = position + i + 1;
            }
        }
        position += block.size();
    } while (position < end);
    visit(line, start, end - start, std::u16string_view(block), position - block.size());
}

ScrollAnchor anchor_after_edit(ScrollAnchor anchor, const SourceDocument& document) {
    const std::uint64_t start = document.last_change_start;
    const std::uint64_t old_end = document.last_change_old_end;
    const std::uint64_t new_end = document.last_change_new_end;
    if (anchor.offset >= old_end) {
        anchor.offset = anchor.offset - old_end + new_end;
    } else if (start < anchor.offset) {
        anchor.offset = new_end;
    }
    return anchor;
}

// The text at the top of the view went with the edit, so the view is placed anew.
bool anchor_replaced(const ScrollAnchor& anchor, const SourceDocument& document) {
    return anchor.valid && document.last_change_start < anchor.offset &&
           anchor.offset < document.last_change_old_end;
}

// The edit may have changed the line count, and with it the gutter.
bool needs_full_rebuild(const Source& source, std::uint64_t old_line_count) {
    if (!source.metrics_valid || source.heights.size() != old_line_count) {
        return true;
    }
    return source.line_numbers &&
           decimal_digits(source.document.line_count()) != decimal_digits(old_line_count);
}

double estimate_for(const Source& source, std::uint64_t line) {
    return estimated_line_height(source, line_length(source.document, line));
}

// What the lines first..last of a long edit give, read in one pass over their text: each line's
// estimated height and, with Markdown colouring, the fence state after each line but the last.
// Both are empty for a short edit, whose lines are looked up one by one.
struct EditedLines {
    std::vector<double> estimates;
    std::vector<FenceState> states_after;
};

EditedLines read_edited_lines(const Source& source, std::uint64_t first, std::uint64_t last) {
    EditedLines read;
    // Unwrapped plain text needs nothing of its lines' text.
    if (last - first < scanned_edit_lines || (!source.wrap && !source.markdown_colouring)) {
        return read;
    }
    const SourceDocument& document = source.document;
    const double width = source.wrap ? text_width(source) : 1.0;
    FenceState state =
        first < source.fence_states.size() ? source.fence_states[first] : FenceState{};
    read.estimates.reserve(last - first + 1);
    scan_lines(document, first, last,
               [&](std::uint64_t line, std::uint64_t start, std::uint64_t length,
                   std::u16string_view block, std::uint64_t block_start) {
                   read.estimates.push_back(estimated_line_height(source, length, width));
                   if (source.markdown_colouring && line < last) {
                       LineCursor cursor(document, start, length, block, block_start);
                       state = fence_state_after(state, cursor);
                       read.states_after.push_back(state);
                   }
               });
    return read;
}

// Whether lines first..last of the text now in place are what `handed` gathered: as many whole
// lines, as many units, and the same fence state before them.
bool handed_lines_fit(const Source& source, std::uint64_t first, std::uint64_t last,
                      const ReplacementLines& handed) {
    const std::vector<std::uint64_t>& lengths = handed.lengths();
    if (lengths.size() != last - first || first >= source.fence_states.size() ||
        source.fence_states[first] != handed.start()) {
        return false;
    }
    std::uint64_t units = 0;
    for (const std::uint64_t length : lengths) {
        units += length + 1;
    }
    const SourceDocument& document = source.document;
    return units == document.line_start(last) - document.line_start(first);
}

// The lines first..last of an edit from what the replacement's builder handed over, when it
// fits; otherwise read from the text.
EditedLines edited_lines(const Source& source, std::uint64_t first, std::uint64_t last,
                         ReplacementLines* handed) {
    if (handed == nullptr || !handed_lines_fit(source, first, last, *handed)) {
        return read_edited_lines(source, first, last);
    }
    EditedLines read;
    if (source.wrap) {
        const double width = text_width(source);
        read.estimates.reserve(last - first + 1);
        for (const std::uint64_t length : handed->lengths()) {
            read.estimates.push_back(estimated_line_height(source, length, width));
        }
        read.estimates.push_back(estimate_for(source, last));
    }
    if (source.markdown_colouring) {
        read.states_after = std::move(handed->states_after());
    }
    return read;
}

// The estimated heights of lines first..last.
std::vector<double> estimates_of(const Source& source, std::uint64_t first, std::uint64_t last,
                                 const EditedLines& read) {
    std::vector<double> estimates;
    if (!source.wrap) {
        estimates.assign(last - first + 1, base_line_height(source));
    } else if (!read.estimates.empty()) {
        estimates = read.estimates;
    } else {
        for (std::uint64_t line = first; line <= last; ++line) {
            estimates.push_back(estimate_for(source, line));
        }
    }
    return estimates;
}

void re_estimate_changed_lines(Source& source, std::uint64_t first, std::uint64_t new_last,
                               const EditedLines& read) {
    const SourceDocument& document = source.document;
    const std::uint64_t line_start = document.line_start(first);
    if (first == new_last &&
        keep_pieces_around_edit(source, first, document.last_change_start - line_start,
                                document.last_change_old_end - line_start,
                                document.last_change_new_end - line_start)) {
        make_line_height_exact(source, first);
        return;
    }
    const std::vector<double> estimates = estimates_of(source, first, new_last, read);
    for (std::uint64_t line = first; line <= new_last; ++line) {
        source.heights.set_height(line, estimates[line - first]);
    }
    source.line_cache.erase(source.line_cache.lower_bound(first),
                            source.line_cache.upper_bound(new_last));
}

void splice_line_data(Source& source, std::uint64_t first, std::uint64_t old_count,
                      std::uint64_t old_last, std::uint64_t new_last, const EditedLines& read) {
    const std::vector<double>& old_heights = source.heights.heights();
    const std::uint64_t keep_before = std::min(first, old_count);
    const std::uint64_t resume = std::min(std::max(old_last + 1, keep_before), old_count);
    std::vector<double> heights(old_heights.begin(), old_heights.begin() + keep_before);
    const std::vector<double> estimates = estimates_of(source, first, new_last, read);
    heights.insert(heights.end(), estimates.begin(), estimates.end());
    heights.insert(heights.end(), old_heights.begin() + resume, old_heights.end());
    source.heights.assign(std::move(heights));

    std::vector<FenceState>& states = source.fence_states;
    const FenceState kept = first < states.size() ? states[first] : FenceState{};
    const std::uint64_t erase_end = std::min<std::uint64_t>(old_last + 1, states.size());
    if (first < erase_end) {
        states.erase(states.begin() + first, states.begin() + erase_end);
    }
    const std::uint64_t insert_at = std::min<std::uint64_t>(first, states.size());
    states.insert(states.begin() + insert_at, new_last - first + 1, FenceState{});
    states[insert_at] = kept;

    std::map<std::uint64_t, CachedLine> moved;
    for (auto& [line, cached] : source.line_cache) {
        if (line < first) {
            moved.emplace(line, std::move(cached));
        } else if (line > old_last) {
            moved.emplace(line - old_last + new_last, std::move(cached));
        }
    }
    source.line_cache = std::move(moved);
}

// Carries the fence states past the edit until they agree with what was stored.
// Returns the last line whose state changed (at least `new_last`).
std::uint64_t propagate_fence_states(Source& source, std::uint64_t first, std::uint64_t new_last,
                                     const EditedLines& read) {
    std::vector<FenceState>& states = source.fence_states;
    const SourceDocument& document = source.document;
    std::uint64_t last_changed = new_last;
    std::uint64_t resume = first + 1;
    // The lines of the edit itself always take new states.
    if (read.states_after.size() == new_last - first && new_last < states.size() &&
        !read.states_after.empty()) {
        std::copy(read.states_after.begin(), read.states_after.end(), states.begin() + first + 1);
        source.line_cache.erase(source.line_cache.upper_bound(first),
                                source.line_cache.upper_bound(new_last));
        resume = new_last + 1;
    }
    for (std::uint64_t i = resume; i < states.size(); ++i) {
        FenceState state{};
        if (source.markdown_colouring) {
            LineCursor cursor(document, document.line_start(i - 1), line_length(document, i - 1));
            state = fence_state_after(states[i - 1], cursor);
        }
        if (i - 1 >= new_last && state == states[i]) {
            break;
        }
        states[i] = state;
        source.line_cache.erase(i);
        last_changed = std::max(last_changed, i);
    }
    return last_changed;
}

// Lays the edited lines out at once and takes their measured heights, so that the scroll range
// settles in this edit instead of moving from the estimate now to the measure at the next
// placement (each change of the scroll range redraws the scroll bar, which under Wine costs
// milliseconds). An edit of many lines keeps its estimates until painting measures them. The
// pieces of the last line after the edit's end keep theirs too, which the sizes of the rows
// they replace make close: laying out the rest of a huge line took a keystroke there hundreds
// of milliseconds.
void measure_edited_lines(Source& source, std::uint64_t first, std::uint64_t new_last) {
    if (new_last - first >= measured_edit_lines) {
        return;
    }
    const SourceDocument& document = source.document;
    const std::uint64_t edit_end = document.last_change_new_end - document.line_start(new_last);
    for (std::uint64_t line = first; line <= new_last; ++line) {
        std::vector<LinePiece>& pieces = line_pieces(source, line);
        // Laying a piece out may cut it and add pieces after it, measured already.
        for (std::size_t k = 0;
             k < pieces.size() && (line < new_last || pieces[k].start <= edit_end); ++k) {
            if (!pieces[k].measured) {
                build_piece_layout(source, line, pieces[k]);
            }
        }
        make_line_height_exact(source, line);
    }
}

// Where a piece of a line ended and how tall it was, before an edit laid the line out again.
struct PieceExtent {
    std::uint64_t start = 0;
    std::uint64_t length = 0;
    double height = 0.0;
};

std::vector<PieceExtent> measured_pieces(const Source& source, std::uint64_t line) {
    std::vector<PieceExtent> extents;
    const auto cached = source.line_cache.find(line);
    if (cached == source.line_cache.end()) {
        return extents;
    }
    for (const LinePiece& piece : cached->second.pieces) {
        if (!piece.measured) {
            break;
        }
        extents.push_back({piece.start, piece.length, piece.height});
    }
    return extents;
}

// The height of the rows at the top of a wrapped line that an edit from `edit_start` (within
// the line) left as they were drawn: its leading pieces, laid out again, hold the same text at
// the same size, end before the edit, and end far enough before it that no find highlight in
// them can start or end with the edit (a whole-word match reads one unit past its end). Under
// Wine every glyph run handed to Direct2D is drawn whatever the clip, so the band that leaves
// them out spares drawing them.
double unchanged_rows_height(const Source& source, std::uint64_t line,
                             const std::vector<PieceExtent>& before, std::uint64_t edit_start) {
    const auto cached = source.line_cache.find(line);
    if (!source.wrap || cached == source.line_cache.end()) {
        return 0.0;
    }
    const std::uint64_t reach =
        source.highlight_term.empty() ? 0 : source.highlight_term.size() + 1;
    const std::vector<LinePiece>& pieces = cached->second.pieces;
    double height = 0.0;
    for (std::size_t k = 0; k < std::min(before.size(), pieces.size()); ++k) {
        const LinePiece& piece = pieces[k];
        if (!piece.measured || piece.start != before[k].start || piece.length != before[k].length ||
            piece.height != before[k].height || piece.start + piece.length + reach >= edit_start) {
            break;
        }
        height += piece.height;
    }
    return height;
}

// Only the band [top, bottom) of the text (DIPs from its top), right of the gutter: the caller
// kept the line count, so the numbers stand as they were.
void invalidate_band(Source& source, double top, double bottom) {
    const double scale = scale_of(source);
    RECT client{};
    GetClientRect(source.window, &client);
    // A row's edge summed from fractional heights lands a hair off the pixel edge it stands on;
    // a band taking that pixel too would draw the row beside it again.
    const auto pixel = [&](double y, auto round) {
        return static_cast<LONG>(round(std::max(0.0, y - source.scroll_y) * scale));
    };
    RECT band{static_cast<LONG>(std::floor(gutter_width(source) * scale)),
              pixel(top + pixel_slack_dips, [](double y) { return std::floor(y); }), client.right,
              pixel(bottom - pixel_slack_dips, [](double y) { return std::ceil(y); })};
    if (band.bottom > band.top) {
        InvalidateRect(source.window, &band, FALSE);
    }
}

// What an edit that kept the line count and the view changed of lines first..last: within a
// wrapped line edited alone, the rows whose picture changed, and the lines after it whose fence
// state changed; otherwise the lines from the first row the edit left out of its first line.
void invalidate_changed_rows(Source& source, std::uint64_t first, std::uint64_t new_last,
                             std::uint64_t band_last, const std::vector<PieceExtent>& pieces,
                             const std::vector<DrawnRow>& rows) {
    const SourceDocument& document = source.document;
    const std::uint64_t line_start = document.line_start(first);
    const std::uint64_t edit_start = document.last_change_start - line_start;
    const double line_top = source.heights.prefix(first);
    const double lines_end = source.heights.prefix(std::min(band_last + 1, source.heights.size()));
    if (!source.wrap || first != new_last) {
        invalidate_band(source, line_top + unchanged_rows_height(source, first, pieces, edit_start),
                        lines_end);
        return;
    }
    const auto [top, bottom] =
        changed_rows(source, first, rows, edit_start, document.last_change_old_end - line_start,
                     document.last_change_new_end - line_start);
    if (band_last > first) {
        invalidate_band(source, line_top + std::min(top, source.heights.height(first)), lines_end);
    } else if (bottom > top) {
        invalidate_band(source, line_top + top, line_top + bottom);
    }
}

} // namespace

void set_selection(Source& source, std::uint64_t anchor, std::uint64_t caret, bool scroll) {
    SourceDocument& document = source.document;
    const std::uint64_t length = document.length();
    anchor = document.boundary_before(anchor);
    caret = std::min(caret, length);
    if (caret > 0 && caret < length && is_low_surrogate(document.unit_at(caret)[0])) {
        --caret;
    }
    document.selection = {anchor, caret};
    document.typing_open = false;
    source.pending_high_surrogate = 0;
    if (scroll) {
        scroll_caret_into_view(source);
    } else {
        place_caret(source);
    }
    if (source.redraw) {
        invalidate_editor(source.window);
    }
    send_selection_change(source);
    raise_accessibility_events(source.accessibility, false, true, false);
}

void replace_selection(Source& source, const std::u16string& text, bool typing) {
    SourceDocument& document = source.document;
    StageClock clock;
    const ScrollAnchor anchor = capture_scroll_anchor(source);
    clock.lap(work_stage::edit_anchor);
    const std::uint64_t from = std::min(document.selection[0], document.selection[1]);
    const std::uint64_t to = std::max(document.selection[0], document.selection[1]);
    const std::uint64_t first = document.line_of(from);
    const std::uint64_t old_last = document.line_of(to);
    const std::uint64_t old_count = document.line_count();
    const std::uint64_t before = document.edit_count;
    document.replace(from, to, text, typing);
    clock.lap(work_stage::edit_text);
    if (document.edit_count == before) {
        // The text stayed, but the selection collapsed to the end of the range: show and
        // report that.
        place_caret(source);
        if (source.redraw) {
            invalidate_editor(source.window);
        }
        notify_parent(source, false);
        return;
    }
    apply_edit(source, first, old_count, old_last, anchor, true);
}

void replace_range(Source& source, std::uint64_t from, std::uint64_t to,
                   SourceDocument::NodePtr text, ReplacementLines& lines) {
    SourceDocument& document = source.document;
    const ScrollAnchor anchor = capture_scroll_anchor(source);
    const std::uint64_t first = document.line_of(from);
    const std::uint64_t old_last = document.line_of(to);
    const std::uint64_t old_count = document.line_count();
    document.selection = {from, to};
    document.typing_open = false;
    document.replace_range(from, to, std::move(text));
    apply_edit(source, first, old_count, old_last, anchor, false, &lines);
}

void delete_range(Source& source, std::uint64_t from, std::uint64_t to) {
    if (source.read_only) {
        return;
    }
    source.document.selection = {from, to};
    replace_selection(source, {}, false);
}

bool splice_reloaded_lines(Source& source, std::uint64_t first, std::uint64_t old_end,
                           std::uint64_t new_end, std::uint64_t old_line_count) {
    const std::uint64_t new_line_count = source.document.line_count();
    if (needs_full_rebuild(source, old_line_count) || old_line_count == 0 || first > old_end ||
        first > new_end || old_end > old_line_count || new_end > new_line_count ||
        old_line_count - old_end != new_line_count - new_end) {
        return false;
    }
    // A stretch that starts past the last line of either text (lines removed or added at the
    // very end) starts at the last line both have, laid out again: the line data has no entry
    // there to splice at, and the first new line's fence state follows from that line.
    first = std::min(first, std::min(old_line_count, new_line_count) - 1);
    // The line after the stretch is laid out again too, so that an insertion at the very end
    // (an empty stretch on the old side) still has a last line to resume after.
    const std::uint64_t old_last = std::min(old_end, old_line_count - 1);
    const std::uint64_t new_last = std::min(new_end, new_line_count - 1);
    const EditedLines read = read_edited_lines(source, first, new_last);
    splice_line_data(source, first, old_line_count, old_last, new_last, read);
    propagate_fence_states(source, first, new_last, read);
    drop_recoloured_code(source, first, new_last);
    return true;
}

void apply_edit(Source& source, std::uint64_t first, std::uint64_t old_count,
                std::uint64_t old_last, ScrollAnchor anchor, bool selection_in_edit,
                ReplacementLines* handed) {
    const SourceDocument& document = source.document;
    StageClock clock;
    // A view that showed text to its bottom keeps doing so, and so does one whose top text
    // went: left at the end of a text that shrank, it would show one row above an empty view.
    const bool fill = view_filled(source) || anchor_replaced(anchor, document);
    anchor = anchor_after_edit(anchor, document);
    const std::uint64_t new_last = document.line_of(document.last_change_new_end);
    const double old_x = source.scroll_x;
    const double old_y = source.scroll_y;
    const double old_extent = source.heights.prefix(source.heights.size());
    // A view that showed the whole text keeps its top: held by the text at its top instead, a
    // paste into an empty tab would push what was pasted out of view, above the caret after it.
    const bool whole_text_shown = source.scroll_y <= 0.0 && old_extent <= view_height(source);
    bool only_changed_lines = false;
    std::uint64_t band_last = new_last;
    std::pair<std::uint64_t, std::uint64_t> recoloured{UINT64_MAX, 0};
    std::vector<PieceExtent> first_line_pieces;
    std::vector<DrawnRow> first_line_rows;
    if (needs_full_rebuild(source, old_count)) {
        source.line_cache.clear();
        source.metrics_valid = false;
    } else {
        only_changed_lines = document.line_count() == old_count && selection_in_edit;
        if (only_changed_lines) {
            first_line_pieces = measured_pieces(source, first);
            if (source.wrap && first == new_last && source.redraw) {
                first_line_rows = drawn_rows(source, first);
            }
        }
        const EditedLines read = edited_lines(source, first, new_last, handed);
        if (document.line_count() == old_count) {
            re_estimate_changed_lines(source, first, new_last, read);
        } else {
            splice_line_data(source, first, old_count, old_last, new_last, read);
        }
        band_last = propagate_fence_states(source, first, new_last, read);
        recoloured = drop_recoloured_code(source, first, new_last);
        clock.lap(work_stage::edit_line_data);
        measure_edited_lines(source, first, new_last);
        clock.lap(work_stage::edit_layout);
    }
    stop_wheel_animation(source);
    source.goal_x = -1.0;
    ensure_line_metrics(source);
    if (anchor.valid && !whole_text_shown) {
        restore_scroll_anchor(source, anchor);
    }
    if (fill) {
        fill_view(source);
    }
    scroll_source_to(source, source.scroll_x, source.scroll_y, false);
    clock.lap(work_stage::edit_view);
    scroll_caret_into_view(source, false);
    clock.lap(work_stage::edit_caret);
    only_changed_lines = only_changed_lines && source.scroll_x == old_x &&
                         source.scroll_y == old_y &&
                         source.heights.prefix(source.heights.size()) == old_extent;
    if (source.redraw) {
        if (only_changed_lines) {
            invalidate_changed_rows(source, first, new_last, band_last, first_line_pieces,
                                    first_line_rows);
            if (recoloured.first <= recoloured.second) {
                invalidate_band(
                    source, source.heights.prefix(recoloured.first),
                    source.heights.prefix(std::min(recoloured.second + 1, source.heights.size())));
            }
        } else {
            invalidate_editor(source.window);
        }
    }
    clock.lap(work_stage::edit_invalidation);
    notify_parent(source, true);
    clock.lap(work_stage::edit_notification);
}

void undo_redo(Source& source, bool redo) {
    SourceDocument& document = source.document;
    const SourceDocument::History& stack = redo ? document.redo_entries : document.undo_entries;
    if (stack.empty()) {
        return;
    }
    const ScrollAnchor anchor = capture_scroll_anchor(source);
    const SourceDocument::HistoryEntry& entry = stack.back();
    const std::uint64_t first = document.line_of(entry.start);
    const std::uint64_t last = document.line_of(redo ? entry.old_end : entry.new_end);
    const std::uint64_t old_count = document.line_count();
    if (redo) {
        document.redo();
    } else {
        document.undo();
    }
    apply_edit(source, first, old_count, last, anchor);
}

} // namespace pellix
