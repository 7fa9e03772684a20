#include "preview/layout.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/graphemes.h"
#include "platform/text_drawing.h"
#include "preview/row_fit.h"

namespace pellix {
namespace {

// The page's frame: content width, left edge, right margin and top margin.
struct Frame {
    float width = 0;
    float left = 0;
    float right = 0;
    float top = 0;
};

Frame page_frame(float available, float s, bool print) {
    if (print) {
        return {std::max(available - 72.0f, 16.0f), 36.0f, 36.0f, 0.0f};
    }
    Frame frame;
    frame.width = std::min(std::max(available - 48.0f, 16.0f), 960.0f * s);
    frame.left = std::max((available - frame.width) * 0.5f, 24.0f);
    frame.right = 24.0f;
    frame.top = 24.0f;
    return frame;
}

std::wstring user_locale() {
    wchar_t name[85] = {};
    if (GetUserDefaultLocaleName(name, 85) == 0) {
        return L"en-US";
    }
    return name;
}

const wchar_t* wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

// Longest content one DirectWrite layout is given. Wine's DirectWrite faults on a layout holding
// more than 65,536 units between two line feeds, spaces or not, and is slow on one that long; a
// quarter of that costs far less and leaves room for scripts that shape to more glyphs than
// units.
constexpr std::size_t piece_units = 16384;
// Rows one piece holds at most. Direct2D under Wine draws every glyph of a layout it is given,
// however little of it the view shows: a long paragraph drawn whole was slow to paint, drawn in
// pieces of this many rows far less so.
constexpr UINT32 rows_per_piece = 16;

// Where the piece of `content` that starts at `start` ends: after the last line feed in the
// second half of the longest piece, where a line ends anyway, else after the last space or tab
// there (PieceCutter::cut_rows then takes the cut back to where a row ends); an unbroken run is
// cut at the bound.
std::size_t piece_end(std::u16string_view content, std::size_t start) {
    if (content.size() - start <= piece_units) {
        return content.size();
    }
    const std::size_t search_from = start + piece_units / 2;
    const std::u16string_view tail = content.substr(search_from, piece_units / 2);
    std::size_t at = tail.find_last_of(u'\n');
    if (at == std::u16string_view::npos) {
        at = tail.find_last_of(u" \t");
    }
    if (at != std::u16string_view::npos) {
        return search_from + at + 1;
    }
    return grapheme_cut(content, start, start + piece_units);
}

// Cuts a block's content into pieces. DirectWrite breaks a word wider than the line anywhere
// (emergency breaking), but Wine's leaves it whole on one row, which Direct2D there draws glyph
// by glyph however little of it shows, for seconds a paint on a long run. So a piece with a row
// wider than the line ends before that row, or, when it is the first, after what of it fits on a
// line; the rest of its run follows in pieces of that length until the text breaks again.
class PieceCutter {
public:
    PieceCutter(std::u16string_view content, bool wraps) : content_(content), wraps_(wraps) {}

    // Whether the piece that starts at `start` goes on with the last row of the one before: an
    // unwrapped line longer than a piece is laid out in pieces side by side.
    bool continues_row(std::size_t start) const {
        return !wraps_ && start > 0 && content_[start - 1] != u'\n';
    }

    std::size_t next_end(std::size_t start) {
        open_end_ = false;
        if (!row_cuts_.empty()) {
            const std::size_t cut = row_cuts_.front();
            row_cuts_.pop_front();
            return cut;
        }
        const std::size_t end = piece_end(content_, start);
        open_end_ = end < content_.size() && content_[end - 1] != u'\n';
        if (line_units_ == 0) {
            return end;
        }
        const std::size_t run_end = std::min(end, start + line_units_);
        if (content_.substr(start, run_end - start).find_first_of(u" \t\n") !=
            std::u16string_view::npos) {
            line_units_ = 0;
            return end;
        }
        // As long as the run's first row, which may have cut a character longer than a row.
        open_end_ = false;
        return run_cut(content_, start, run_end);
    }

    // The end of the piece [start, end), laid out in `layout` at `max_width`, cut again so that
    // its rows fit; `end` when they do.
    std::size_t refit(std::size_t start, std::size_t end, IDWriteTextLayout* layout,
                      float max_width) {
        const std::optional<RowParts> row =
            fit_overflowing_row(layout, content_.substr(start, end - start), max_width,
                                !is_grapheme_boundary(content_, start));
        if (!row) {
            return end;
        }
        if (row->row_start > 0) {
            return start + row->row_start;
        }
        line_units_ = row->ends.front();
        return start + line_units_;
    }

    // Cuts the laid-out piece [start, end) after every rows_per_piece rows of `layout`, where
    // its rows end anyway, so the pieces break their lines where the whole did; answers the end
    // of the first of them, and the next calls of next_end give the others. A piece cut inside a
    // line ends its last row early, where the whole would run on: such a piece ends after its
    // last complete row instead, and the next starts there, so its rows join as the whole's.
    std::size_t cut_rows(std::size_t start, std::size_t end, IDWriteTextLayout* layout) {
        if (!row_cuts_.empty()) {
            return end; // a piece cut from a whole already laid out
        }
        UINT32 count = 0;
        layout->GetLineMetrics(nullptr, 0, &count);
        if (count <= 1) {
            return end;
        }
        std::vector<DWRITE_LINE_METRICS> rows(count);
        if (FAILED(layout->GetLineMetrics(rows.data(), count, &count))) {
            return end;
        }
        rows.resize(std::min<std::size_t>(count, rows.size()));
        if (open_end_ && rows.size() > 1) {
            end -= rows.back().length;
            rows.pop_back();
        }
        if (continues_row(start) && rows.size() > 1) {
            end = start + rows.front().length; // its later rows would sit right of the line's start
            rows.erase(rows.begin() + 1, rows.end());
        }
        std::size_t at = start;
        for (std::size_t row = 0; row < rows.size(); ++row) {
            at += rows[row].length;
            if ((row + 1) % rows_per_piece == 0 && at < end) {
                row_cuts_.push_back(at);
            }
        }
        if (row_cuts_.empty()) {
            return end;
        }
        row_cuts_.push_back(end);
        const std::size_t first = row_cuts_.front();
        row_cuts_.pop_front();
        return first;
    }

private:
    std::u16string_view content_;
    bool wraps_;
    std::size_t line_units_ = 0;       // length of the pieces of an unbroken run, 0 outside one
    std::deque<std::size_t> row_cuts_; // ends of the pieces still to come from cut_rows
    bool open_end_ = false;            // the piece last given ends inside a line
};

// Geometry of one table cell, worked out before its text format, whose size it sets when
// printing.
struct Cell {
    float x = 0;
    float width = 0;
    float pad = 0;
};

// What the text format of a block is made of.
struct FormatChoice {
    const wchar_t* family = L"Segoe UI";
    DWRITE_FONT_WEIGHT weight = DWRITE_FONT_WEIGHT_NORMAL;
    float size = 16.0f;
};

FormatChoice choose_format(const PreviewBlock& block, const Cell& cell, float s, bool print) {
    static constexpr float heading_sizes[6] = {32, 26, 22, 20, 18, 16};
    FormatChoice choice;
    switch (block.kind) {
    case PreviewBlockKind::heading:
        choice.weight = DWRITE_FONT_WEIGHT_BOLD;
        choice.size = heading_sizes[std::clamp(block.level, 1, 6) - 1] * s;
        break;
    case PreviewBlockKind::code_block:
        choice.family = L"Consolas";
        choice.size = 16.0f * s;
        break;
    case PreviewBlockKind::table_cell:
        choice.size =
            print ? std::max(4.0f, std::min(0.8f * (cell.width - 2.0f * cell.pad), 16.0f * s))
                  : 16.0f * s;
        break;
    default:
        choice.size = 16.0f * s;
        break;
    }
    return choice;
}

// Runs one build. The partial layout lives in the builder, so an exception releases it.
class LayoutBuilder {
public:
    LayoutBuilder(IDWriteFactory* factory, const PreviewDocument& document, float available,
                  float scale, bool print, const LayoutSource* previous = nullptr)
        : factory_(factory), document_(document), s_(scale), print_(print),
          frame_(page_frame(available, scale, print)), locale_(user_locale()), previous_(previous) {
        layout_.width = available;
        layout_.height = 1.0f;
        layout_.boundaries.push_back(0);
        y_ = frame_.top;
        if (previous_) {
            match_previous_blocks();
        }
    }

    Layout build() {
        layout_.blocks.resize(document_.blocks.size());
        for (size_t i = 0; i < document_.blocks.size(); ++i) {
            lay_out_block(i);
        }
        finish();
        return std::move(layout_);
    }

private:
    void lay_out_block(size_t i) {
        const PreviewBlock& block = document_.blocks[i];
        LayoutBlock& entry = layout_.blocks[i];
        if (block.kind == PreviewBlockKind::rule) {
            layout_.bands.push_back({y_ + 7.0f * s_, y_ + 8.0f * s_, false});
            entry.x = frame_.left;
            entry.y = y_;
            entry.height = 16.0f * s_;
            add_block_end_stops(block);
            y_ += entry.height + 12.0f * s_;
            return;
        }
        const bool cell = block.kind == PreviewBlockKind::table_cell;
        Cell geometry;
        if (cell) {
            geometry = place_cell(i, block, entry);
        } else {
            place_block(i, block, entry);
        }
        const FormatChoice choice = choose_format(block, geometry, s_, print_);
        entry.text_start = block.start + block.marker_length;
        entry.text_length =
            block.length >= block.marker_length ? block.length - block.marker_length : 0;
        if (reuse_[i] != no_reuse) {
            take_previous_block(i, block, entry);
        } else {
            ComPtr<IDWriteTextFormat> format = create_format(block, choice);
            if (block.marker_length > 0) {
                lay_out_marker(block, format.get(), choice, entry);
            }
            lay_out_content(i, block, format.get(), geometry, choice, entry);
        }
        widen_content(block, geometry, entry);
        add_block_end_stops(block);
        if (cell) {
            end_cell(i, block, choice, entry);
        } else {
            const float gap = block.kind == PreviewBlockKind::code_block  ? 20.0f
                              : block.kind == PreviewBlockKind::list_item ? 4.0f
                                                                          : 12.0f;
            y_ += entry.height + gap * s_;
        }
    }

    // Which earlier blocks equal the new ones: the longest equal leading run, then the longest
    // equal trailing run of what is left. Rules match, but have nothing to take.
    void match_previous_blocks() {
        const PreviewDocument& old = previous_->document;
        const size_t n = document_.blocks.size();
        const size_t m = old.blocks.size();
        reuse_.assign(n, no_reuse);
        if (previous_->layout.blocks.size() != m) {
            return;
        }
        size_t prefix = 0;
        while (prefix < std::min(n, m) && same_block(prefix, prefix)) {
            reuse_[prefix] = prefix;
            ++prefix;
        }
        for (size_t t = 0; t < std::min(n, m) - prefix && same_block(n - 1 - t, m - 1 - t); ++t) {
            reuse_[n - 1 - t] = m - 1 - t;
        }
        previous_lines_.assign(m + 1, 0);
        for (const LayoutLine& line : previous_->layout.lines) {
            ++previous_lines_[line.block + 1];
        }
        for (size_t j = 0; j < m; ++j) {
            previous_lines_[j + 1] += previous_lines_[j];
        }
    }

    bool same_block(size_t i, size_t j) const {
        const PreviewBlock& a = document_.blocks[i];
        const PreviewBlock& b = previous_->document.blocks[j];
        if (a.kind != b.kind || a.level != b.level || a.task != b.task ||
            a.has_code != b.has_code || a.marker_length != b.marker_length ||
            a.length != b.length || a.row != b.row || a.column != b.column ||
            a.columns != b.columns || a.align != b.align || a.header != b.header ||
            a.start + a.length > document_.text.size() ||
            b.start + b.length > previous_->document.text.size() ||
            (a.kind != PreviewBlockKind::rule && previous_->layout.blocks[j].pieces.empty())) {
            return false;
        }
        const std::u16string_view text(document_.text);
        const std::u16string_view old_text(previous_->document.text);
        return text.substr(a.start, a.length) == old_text.substr(b.start, b.length) &&
               content_runs(document_, a) == content_runs(previous_->document, b);
    }

    // The styles over a block's content, relative to the content's start.
    struct ContentRun {
        DWRITE_TEXT_RANGE range;
        const PreviewRun* run;
        bool operator==(const ContentRun& other) const {
            return range.startPosition == other.range.startPosition &&
                   range.length == other.range.length && run->style == other.run->style &&
                   run->link == other.run->link;
        }
    };

    static std::vector<ContentRun> content_runs(const PreviewDocument& document,
                                                const PreviewBlock& block) {
        LayoutBlock content;
        content.text_start = block.start + block.marker_length;
        content.text_length = block.length - block.marker_length;
        std::vector<ContentRun> runs;
        for_each_block_run(document.runs, content, [&](const PreviewRun& run, DWRITE_TEXT_RANGE r) {
            runs.push_back({r, &run});
        });
        return runs;
    }

    // The shaped text, marker, lines and caret stops of the equal earlier block, moved to
    // where this one starts.
    void take_previous_block(size_t i, const PreviewBlock& block, LayoutBlock& entry) {
        const size_t j = reuse_[i];
        const LayoutBlock& old = previous_->layout.blocks[j];
        entry.marker_layout = old.marker_layout;
        entry.marker_width = old.marker_width;
        entry.x += old.marker_width;
        entry.pieces = old.pieces;
        entry.width = old.width;
        entry.height = old.height;
        const float dy = entry.y - old.y;
        const bool heading = block.kind == PreviewBlockKind::heading;
        const bool is_cell = block.kind == PreviewBlockKind::table_cell;
        for (size_t k = previous_lines_[j]; k < previous_lines_[j + 1]; ++k) {
            const LayoutLine& line = previous_->layout.lines[k];
            const std::uint64_t start = line.start - old.text_start + entry.text_start;
            layout_.lines.push_back({i, start, line.length, line.top + dy, line.bottom + dy});
            if (!is_cell) {
                layout_.bands.push_back({line.top + dy, line.bottom + dy, heading});
            }
        }
        const auto& stops = previous_->layout.boundaries;
        auto from = std::lower_bound(stops.begin(), stops.end(), old.text_start);
        auto to = std::upper_bound(from, stops.end(), old.text_start + old.text_length);
        for (; from != to; ++from) {
            layout_.boundaries.push_back(*from - old.text_start + entry.text_start);
        }
    }

    // Top and left edge of every kind but rules and table cells.
    void place_block(size_t i, const PreviewBlock& block, LayoutBlock& entry) {
        entry.x = frame_.left;
        switch (block.kind) {
        case PreviewBlockKind::heading:
            if (i > 0) {
                y_ += 12.0f * s_;
            }
            break;
        case PreviewBlockKind::quote:
            entry.x = frame_.left + 20.0f * s_;
            break;
        case PreviewBlockKind::list_item: {
            const float indent = static_cast<float>(block.level) * 28.0f * s_;
            entry.x = frame_.left + (print_ ? std::min(indent, frame_.width * 0.5f) : indent);
            break;
        }
        case PreviewBlockKind::code_block:
            y_ += 8.0f * s_;
            entry.x = frame_.left + 12.0f * s_;
            break;
        default:
            break;
        }
        entry.y = y_;
    }

    // A table may be wider than the page on screen, and then widens the content.
    Cell place_cell(size_t i, const PreviewBlock& block, LayoutBlock& entry) {
        if (block.column == 0) {
            row_height_ = 0;
            row_first_ = i;
        }
        const float columns = static_cast<float>(std::max<std::uint64_t>(block.columns, 1));
        const float table_width =
            print_ ? frame_.width : std::max(80.0f * s_ * columns, frame_.width);
        Cell cell;
        cell.width = table_width / columns;
        cell.x = static_cast<float>(block.column) * cell.width + frame_.left;
        cell.pad = std::min(std::max(0.1f * cell.width, 1.0f), 8.0f * s_);
        entry.cell_x = cell.x;
        entry.cell_width = cell.width;
        entry.x = cell.x + cell.pad;
        entry.y = y_ + 8.0f * s_;
        layout_.width = std::max(layout_.width, cell.width + cell.x + frame_.right);
        return cell;
    }

    ComPtr<IDWriteTextFormat> create_format(const PreviewBlock& block, const FormatChoice& choice) {
        ComPtr<IDWriteTextFormat> format;
        throw_if_failed(factory_->CreateTextFormat(
                            choice.family, nullptr, choice.weight, DWRITE_FONT_STYLE_NORMAL,
                            DWRITE_FONT_STRETCH_NORMAL, choice.size, locale_.c_str(), format.put()),
                        "Create preview text format");
        const bool code = block.kind == PreviewBlockKind::code_block;
        throw_if_failed(format->SetWordWrapping(code && !print_
                                                    ? DWRITE_WORD_WRAPPING_NO_WRAP
                                                    : DWRITE_WORD_WRAPPING_EMERGENCY_BREAK),
                        "Set preview wrapping");
        throw_if_failed(format->SetLineSpacing(DWRITE_LINE_SPACING_METHOD_UNIFORM,
                                               1.5f * choice.size, 1.15f * choice.size),
                        "Set preview line spacing");
        const float tab = code ? four_spaces_width(format.get()) : 32.0f * s_;
        throw_if_failed(format->SetIncrementalTabStop(tab), "Set preview tabs");
        return format;
    }

    // A code block's tab stop is four of its own spaces.
    float four_spaces_width(IDWriteTextFormat* format) {
        ComPtr<IDWriteTextLayout> spaces;
        throw_if_failed(
            factory_->CreateTextLayout(L"    ", 4, format, 1000.0f, 1000.0f, spaces.put()),
            "Measure code tab width");
        DWRITE_TEXT_METRICS metrics{};
        throw_if_failed(spaces->GetMetrics(&metrics), "Measure code spaces");
        return std::max(metrics.widthIncludingTrailingWhitespace, 1.0f);
    }

    // The marker is right-aligned in its own column and ends 8 x s left of the content.
    void lay_out_marker(const PreviewBlock& block, IDWriteTextFormat* format,
                        const FormatChoice& choice, LayoutBlock& entry) {
        std::u16string_view marker =
            std::u16string_view(document_.text).substr(block.start, block.marker_length);
        if (!marker.empty() && marker.back() == u'\t') {
            marker.remove_suffix(1);
        }
        ComPtr<IDWriteTextLayout> layout;
        throw_if_failed(factory_->CreateTextLayout(wide(marker.data()),
                                                   static_cast<UINT32>(marker.size()), format,
                                                   1000000.0f, 1.5f * choice.size, layout.put()),
                        "Create list marker");
        DWRITE_TEXT_METRICS metrics{};
        throw_if_failed(layout->GetMetrics(&metrics), "Measure list marker");
        const float column =
            std::max(metrics.widthIncludingTrailingWhitespace + 8.0f * s_, 28.0f * s_);
        throw_if_failed(layout->SetMaxWidth(column - 8.0f * s_), "Size list marker");
        throw_if_failed(layout->SetTextAlignment(DWRITE_TEXT_ALIGNMENT_TRAILING),
                        "Align list marker");
        entry.marker_layout = std::move(layout);
        entry.marker_width = column;
        entry.x += column;
    }

    bool wrapping(const PreviewBlock& block) const {
        return block.kind != PreviewBlockKind::code_block || print_;
    }

    // The width the block's text is laid out to, right of `entry.x`.
    float max_content_width(const PreviewBlock& block, const Cell& cell,
                            const LayoutBlock& entry) const {
        float max_width = block.kind == PreviewBlockKind::table_cell
                              ? cell.width - 2.0f * cell.pad
                              : frame_.width - (entry.x - frame_.left);
        if (block.kind == PreviewBlockKind::code_block) {
            max_width -= 12.0f * s_;
        }
        return std::max(max_width, 1.0f);
    }

    // A wrapping block reaches no further than the width it wraps at: the white space
    // DirectWrite hangs past the end of a wrapped row is no content, and counting it would let
    // the view scroll sideways by a space wherever a paragraph wraps near the edge.
    void widen_content(const PreviewBlock& block, const Cell& cell, const LayoutBlock& entry) {
        const float reach = wrapping(block)
                                ? std::min(entry.width, max_content_width(block, cell, entry))
                                : entry.width;
        layout_.width = std::max(layout_.width, reach + entry.x + frame_.right);
    }

    // The content in pieces of at most piece_units, each below the one before.
    void lay_out_content(size_t i, const PreviewBlock& block, IDWriteTextFormat* format,
                         const Cell& cell, const FormatChoice& choice, LayoutBlock& entry) {
        const std::u16string_view text =
            std::u16string_view(document_.text).substr(entry.text_start, entry.text_length);
        entry.text_length = text.size();
        const float max_width = max_content_width(block, cell, entry);
        const bool wraps = wrapping(block);
        layout_.boundaries.push_back(entry.text_start);
        PieceCutter cutter(text, wraps);
        float top = 0;
        float before_width = 0; // of the piece before, whose row a continuing piece goes on
        std::size_t start = 0;
        do {
            TextPiece piece;
            piece.start = start;
            piece.top = top;
            const bool continues = cutter.continues_row(start);
            if (continues) {
                const TextPiece& before = entry.pieces.back();
                piece.top = before.top;
                piece.left = before.left + before_width;
            }
            std::size_t end = cutter.next_end(start);
            DWRITE_TEXT_METRICS metrics = lay_out_piece(block, format, max_width, entry.text_start,
                                                        text.substr(start, end - start), piece);
            std::size_t fitted =
                wraps ? cutter.refit(start, end, piece.layout.get(), max_width) : end;
            if (fitted == end) {
                fitted = cutter.cut_rows(start, end, piece.layout.get());
            }
            if (fitted != end) {
                end = fitted;
                metrics = lay_out_piece(block, format, max_width, entry.text_start,
                                        text.substr(start, end - start), piece);
            }
            entry.width =
                std::max(entry.width, piece.left + metrics.widthIncludingTrailingWhitespace);
            piece.height = add_lines(i, block, piece, end == text.size(), continues, entry);
            if (end == text.size()) {
                piece.height = std::max(piece.height, metrics.height);
            }
            add_cluster_stops(piece, entry);
            top = piece.top + piece.height;
            before_width = metrics.widthIncludingTrailingWhitespace;
            start = end;
            entry.pieces.push_back(std::move(piece));
        } while (start < text.size());
        entry.height = std::max(top, 1.5f * choice.size);
    }

    // Lays out `part`, which starts `piece.start` units into the content, into `piece` and
    // measures it.
    DWRITE_TEXT_METRICS lay_out_piece(const PreviewBlock& block, IDWriteTextFormat* format,
                                      float max_width, std::uint64_t text_start,
                                      std::u16string_view part, TextPiece& piece) {
        piece.length = part.size();
        piece.split_text = splits_glyph_runs(part);
        piece.layout.reset();
        throw_if_failed(factory_->CreateTextLayout(wide(part.data()),
                                                   static_cast<UINT32>(part.size()), format,
                                                   max_width, 1000000000.0f, piece.layout.put()),
                        "Create preview text layout");
        if (block.kind == PreviewBlockKind::table_cell) {
            throw_if_failed(piece.layout->SetTextAlignment(cell_alignment(block)),
                            "Align table cell");
        }
        apply_styles(text_start, piece);
        DWRITE_TEXT_METRICS metrics{};
        throw_if_failed(piece.layout->GetMetrics(&metrics), "Measure preview text");
        return metrics;
    }

    static DWRITE_TEXT_ALIGNMENT cell_alignment(const PreviewBlock& block) {
        return block.align == 1   ? DWRITE_TEXT_ALIGNMENT_CENTER
               : block.align == 2 ? DWRITE_TEXT_ALIGNMENT_TRAILING
                                  : DWRITE_TEXT_ALIGNMENT_LEADING;
    }

    void apply_styles(std::uint64_t text_start, const TextPiece& piece) {
        IDWriteTextLayout* layout = piece.layout.get();
        LayoutBlock part;
        part.text_start = text_start + piece.start;
        part.text_length = piece.length;
        for_each_block_run(
            document_.runs, part, [&](const PreviewRun& run, DWRITE_TEXT_RANGE range) {
                if (run.style & PreviewStyle::bold) {
                    throw_if_failed(layout->SetFontWeight(DWRITE_FONT_WEIGHT_BOLD, range),
                                    "Set bold preview text");
                }
                if (run.style & PreviewStyle::italic) {
                    throw_if_failed(layout->SetFontStyle(DWRITE_FONT_STYLE_ITALIC, range),
                                    "Set italic preview text");
                }
                if (run.style & PreviewStyle::strike) {
                    throw_if_failed(layout->SetStrikethrough(TRUE, range),
                                    "Set struck preview text");
                }
                if (run.style & PreviewStyle::code) {
                    throw_if_failed(layout->SetFontFamilyName(L"Consolas", range),
                                    "Set code preview text");
                }
                if (!run.link.empty()) {
                    throw_if_failed(layout->SetUnderline(TRUE, range),
                                    "Set preview link underline");
                }
            });
    }

    // Returns the height of the piece's lines. A piece that ends in a line feed ends with an
    // empty line, which the next piece's first line takes the place of. The first line of a
    // piece that `continues` the row before it lengthens that row's line.
    float add_lines(size_t i, const PreviewBlock& block, const TextPiece& piece, bool last,
                    bool continues, const LayoutBlock& entry) {
        UINT32 count = 0;
        piece.layout->GetLineMetrics(nullptr, 0, &count);
        std::vector<DWRITE_LINE_METRICS> lines(count);
        throw_if_failed(piece.layout->GetLineMetrics(lines.data(), count, &count),
                        "Measure preview lines");
        lines.resize(std::min<size_t>(count, lines.size()));
        if (!last && lines.size() > 1 && lines.back().length == 0) {
            lines.pop_back();
        }
        const bool heading = block.kind == PreviewBlockKind::heading;
        const bool is_cell = block.kind == PreviewBlockKind::table_cell;
        float top = entry.y + piece.top;
        std::uint64_t offset = entry.text_start + piece.start;
        float total = 0;
        for (const DWRITE_LINE_METRICS& line : lines) {
            const float bottom = top + line.height;
            if (continues && offset == entry.text_start + piece.start) {
                LayoutLine& row = layout_.lines.back();
                row.length += line.length - line.newlineLength;
                row.bottom = std::max(row.bottom, bottom);
            } else {
                layout_.lines.push_back({i, offset, line.length - line.newlineLength, top, bottom});
                if (!is_cell) {
                    layout_.bands.push_back({top, bottom, heading});
                }
            }
            offset += line.length;
            total += line.height;
            top = bottom;
        }
        return total;
    }

    void add_cluster_stops(const TextPiece& piece, const LayoutBlock& entry) {
        UINT32 count = 0;
        piece.layout->GetClusterMetrics(nullptr, 0, &count);
        std::vector<DWRITE_CLUSTER_METRICS> clusters(count);
        throw_if_failed(piece.layout->GetClusterMetrics(clusters.data(), count, &count),
                        "Measure preview clusters");
        clusters.resize(std::min<size_t>(count, clusters.size()));
        std::uint64_t position = entry.text_start + piece.start;
        for (const DWRITE_CLUSTER_METRICS& cluster : clusters) {
            position += cluster.length;
            layout_.boundaries.push_back(position);
        }
    }

    // The block's end and the position after its separator.
    void add_block_end_stops(const PreviewBlock& block) {
        const std::uint64_t end = block.start + block.length;
        layout_.boundaries.push_back(end);
        layout_.boundaries.push_back(std::min<std::uint64_t>(end + 1, document_.text.size()));
    }

    // A row's cells share its height; the row is cut into bands about one text line high, so
    // a printed page may break inside a tall row but never through a line.
    void end_cell(size_t i, const PreviewBlock& block, const FormatChoice& choice,
                  LayoutBlock& entry) {
        row_height_ = std::max(row_height_, entry.height + 16.0f * s_);
        if (block.column + 1 != block.columns) {
            return;
        }
        for (size_t k = row_first_; k <= i; ++k) {
            layout_.blocks[k].row_height = row_height_;
        }
        const float row_top = y_;
        const float row_end = row_top + row_height_;
        const bool header = block.header != 0;
        float t = row_top;
        float b = 0;
        do {
            b = std::min(t + (t == row_top ? 8.0f * s_ : 0.0f) + 1.5f * choice.size, row_end);
            if (!(b + 8.0f * s_ < row_end)) {
                b = row_end;
            }
            layout_.bands.push_back({t, b, header});
            t = b;
        } while (b < row_end - 0.01f);
        y_ = row_end;
        const bool table_continues = i + 1 < document_.blocks.size() &&
                                     document_.blocks[i + 1].kind == PreviewBlockKind::table_cell &&
                                     document_.blocks[i + 1].table == block.table;
        if (!table_continues) {
            y_ += 12.0f * s_;
        }
    }

    void finish() {
        std::sort(layout_.boundaries.begin(), layout_.boundaries.end());
        layout_.boundaries.erase(std::unique(layout_.boundaries.begin(), layout_.boundaries.end()),
                                 layout_.boundaries.end());
        layout_.height = frame_.top + y_;
        layout_.bottom_bounds.reserve(layout_.blocks.size());
        float reach = 0;
        for (size_t i = 0; i < layout_.blocks.size(); ++i) {
            const LayoutBlock& entry = layout_.blocks[i];
            const float v = entry.y + std::max(entry.row_height, entry.height) + 16.0f * s_;
            reach = i == 0 ? v : std::max(reach, v);
            layout_.bottom_bounds.push_back(reach);
        }
    }

    IDWriteFactory* factory_;
    const PreviewDocument& document_;
    float s_;
    bool print_;
    Frame frame_;
    std::wstring locale_;
    const LayoutSource* previous_;
    static constexpr size_t no_reuse = static_cast<size_t>(-1);
    std::vector<size_t> reuse_ = std::vector<size_t>(document_.blocks.size(), no_reuse);
    std::vector<size_t> previous_lines_; // first line of each earlier block, then the count
    Layout layout_;
    float y_ = 0;          // running top of the next block
    float row_height_ = 0; // tallest cell of the open table row, padding included
    size_t row_first_ = 0; // first block of the open table row
};

float client_dips(HWND window, float dpi, bool horizontal) {
    RECT client{};
    if (window != nullptr) {
        GetClientRect(window, &client);
    }
    const LONG pixels = horizontal ? client.right - client.left : client.bottom - client.top;
    const float dips = static_cast<float>(pixels) * 96.0f / (dpi > 0 ? dpi : 96.0f);
    return std::max(dips, 1.0f);
}

} // namespace

void throw_if_failed(HRESULT hr, const char* stage) {
    if (hr >= 0) {
        return;
    }
    char code[32];
    std::snprintf(code, sizeof(code), "0x%08lX", static_cast<unsigned long>(hr));
    throw std::runtime_error(std::string(stage) + " (HRESULT " + code + ")");
}

Layout build_layout(IDWriteFactory* factory, const PreviewDocument& document, float available_width,
                    float scale, bool print) {
    return LayoutBuilder(factory, document, available_width, scale, print).build();
}

Layout build_layout(IDWriteFactory* factory, const PreviewDocument& document, float available_width,
                    float scale, bool print, const LayoutSource& previous) {
    return LayoutBuilder(factory, document, available_width, scale, print, &previous).build();
}

void destroy_layout(Layout& layout) {
    layout = Layout{};
}

float view_width(HWND window, float dpi) {
    return client_dips(window, dpi, true);
}

float view_height(HWND window, float dpi) {
    return client_dips(window, dpi, false);
}

} // namespace pellix
