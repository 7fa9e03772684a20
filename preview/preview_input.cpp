#include "preview/preview_input.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "core/encoding.h"
#include "core/graphemes.h"
#include "markdown/inline_render.h"
#include "preview/text_pieces.h"
#include "platform/frames_undrawn.h"

namespace pellix {
namespace {

constexpr float scroll_line_dips = 24.0f;
constexpr float wheel_notch_dips = 48.0f;
constexpr float wheel_delta_per_notch = 120.0f;
constexpr float page_key_fraction = 0.9f;
constexpr float drag_autoscroll_dips = 32.0f;
constexpr UINT drag_autoscroll_ms = 50;
constexpr int drag_threshold_pixels = 4;
constexpr POINT keyboard_menu_point{16, 16};
constexpr WORD word_type_mask = C1_ALPHA | C1_DIGIT;

enum MenuId : UINT { menu_copy = 1, menu_select_all = 2, menu_print = 3 };

bool key_held(int key) {
    return (GetKeyState(key) & 0x8000) != 0;
}

float width_of(const Preview::Impl& p) {
    return view_width(p.window, p.dpi);
}

float height_of(const Preview::Impl& p) {
    return view_height(p.window, p.dpi);
}

std::uint64_t text_length(const Preview::Impl& p) {
    return p.document.text.size();
}

float max_scroll_y(const Preview::Impl& p) {
    const float by_height = std::max(0.0f, p.layout.height - height_of(p));
    if (p.layout.blocks.empty()) {
        return by_height;
    }
    return std::max(p.layout.blocks.back().y, by_height);
}

D2D1_POINT_2F document_point(const Preview::Impl& p, POINT point) {
    return {static_cast<float>(point.x) * 96.0f / p.dpi + p.view.scroll_x,
            static_cast<float>(point.y) * 96.0f / p.dpi + p.view.scroll_y};
}

void invalidate(const Preview::Impl& p) {
    if (p.window) {
        InvalidateRect(p.window, nullptr, FALSE);
    }
}

bool is_word_unit(char16_t unit, bool with_marks) {
    if (unit == u'_') {
        return true;
    }
    const wchar_t c = static_cast<wchar_t>(unit);
    WORD type1 = 0;
    if (GetStringTypeW(CT_CTYPE1, &c, 1, &type1) && (type1 & word_type_mask) != 0) {
        return true;
    }
    WORD type3 = 0;
    return with_marks && GetStringTypeW(CT_CTYPE3, &c, 1, &type3) && (type3 & C3_NONSPACING) != 0;
}

// --- source line mapping --------------------------------------------------------------------

std::uint64_t source_line_of(const Preview::Impl& p, std::size_t block) {
    return p.document.blocks[block].source_line;
}

// The block after `i` that starts a later source line, its line and its top; past the last
// block the source's end and the content's bottom.
struct NextAnchor {
    double line;
    float top;
};

NextAnchor next_anchor(const Preview::Impl& p, std::size_t i, std::size_t search_from) {
    const std::uint64_t line = source_line_of(p, i);
    for (std::size_t k = search_from; k < p.layout.blocks.size(); ++k) {
        if (source_line_of(p, k) > line) {
            return {static_cast<double>(source_line_of(p, k)), p.layout.blocks[k].y};
        }
    }
    return {static_cast<double>(std::max(line + 1, p.source_line_count)), p.layout.height};
}

// --- caret stops ----------------------------------------------------------------------------

// The block whose content holds `offset`, seen from the side the caret moves to: forward from
// the content's end, or backward from its start, leaves it. Null outside every block's content
// (list markers, the separators between blocks), where every caret stop is a whole character.
const LayoutBlock* content_block_at(const Preview::Impl& p, std::uint64_t offset, bool forward) {
    const auto& blocks = p.document.blocks;
    if (p.layout.blocks.size() != blocks.size()) {
        return nullptr; // no layout of this document (yet)
    }
    auto after = std::upper_bound(
        blocks.begin(), blocks.end(), offset,
        [](std::uint64_t at, const PreviewBlock& block) { return at < block.start; });
    if (after == blocks.begin()) {
        return nullptr;
    }
    const LayoutBlock& block =
        p.layout.blocks[static_cast<std::size_t>(after - blocks.begin()) - 1];
    const std::uint64_t end = block.text_start + block.text_length;
    const bool inside = forward ? block.text_start <= offset && offset < end
                                : block.text_start < offset && offset <= end;
    return inside && !block.pieces.empty() ? &block : nullptr;
}

// The piece of `block`'s content that holds `offset` (within the content) on the side the caret
// moves to, and its text.
struct PieceText {
    std::uint64_t start = 0; // in the document
    std::u16string_view text;
};

PieceText piece_text(const Preview::Impl& p, const LayoutBlock& block, std::uint64_t offset,
                     bool forward) {
    const std::uint64_t within = offset - block.text_start;
    auto piece = std::partition_point(
        block.pieces.begin(), block.pieces.end(), [&](const TextPiece& candidate) {
            const std::uint64_t end = candidate.start + candidate.length;
            return forward ? end <= within : end < within;
        });
    if (piece == block.pieces.end()) {
        --piece;
    }
    const std::uint64_t start = block.text_start + piece->start;
    return {start, std::u16string_view(p.document.text).substr(start, piece->length)};
}

// Whether `offset` falls inside a character a reader sees as one: Wine's DirectWrite makes a
// cluster, and so a caret stop, of every code point of a flag, a letter with its accents or
// emoji joined by U+200D.
bool inside_character(const Preview::Impl& p, std::uint64_t offset) {
    const LayoutBlock* block = content_block_at(p, offset, true);
    if (!block) {
        return false;
    }
    const PieceText piece = piece_text(p, *block, offset, true);
    return !is_piece_boundary(piece.text, offset - piece.start);
}

// The caret stop after `offset` (or before it) that lies between two whole characters; `offset`
// itself when there is none.
std::uint64_t next_caret_stop(const Preview::Impl& p, std::uint64_t offset, bool forward) {
    const auto& stops = p.layout.boundaries;
    const LayoutBlock* block = content_block_at(p, offset, forward);
    if (!block) {
        if (forward) {
            auto it = std::upper_bound(stops.begin(), stops.end(), offset);
            return it == stops.end() ? offset : *it;
        }
        auto it = std::lower_bound(stops.begin(), stops.end(), offset);
        return it == stops.begin() ? offset : *(it - 1);
    }
    const PieceText piece = piece_text(p, *block, offset, forward);
    const std::uint64_t base = piece.start;
    const std::uint64_t size = piece.text.size();
    const std::size_t at = offset - base;
    if (forward) {
        return base + character_stop_after(piece.text, at, [&](std::size_t from) -> std::size_t {
                   auto it = std::lower_bound(stops.begin(), stops.end(), base + from);
                   return it == stops.end() ? size : std::min(*it - base, size);
               });
    }
    return base + character_stop_before(piece.text, at, [&](std::size_t from) -> std::size_t {
               auto it = std::upper_bound(stops.begin(), stops.end(), base + from);
               return it == stops.begin() || *(it - 1) < base ? 0 : *(it - 1) - base;
           });
}

// The caret stop nearer to `x` (relative to the block) of the two around a hit at `offset` in
// `block` that fell inside a character; the hit itself when it did not.
std::uint64_t nearest_caret_stop(const Preview::Impl& p, const LayoutBlock& block,
                                 std::uint64_t offset, float x) {
    if (!inside_character(p, offset)) {
        return offset;
    }
    const std::uint64_t before = next_caret_stop(p, offset, false);
    const std::uint64_t after = next_caret_stop(p, offset, true);
    FLOAT before_x = 0;
    FLOAT after_x = 0;
    FLOAT before_y = 0;
    FLOAT after_y = 0;
    DWRITE_HIT_TEST_METRICS metrics{};
    const bool measured =
        SUCCEEDED(hit_test_block_position(block, static_cast<UINT32>(before - block.text_start),
                                          FALSE, &before_x, &before_y, &metrics)) &&
        SUCCEEDED(hit_test_block_position(block, static_cast<UINT32>(after - block.text_start),
                                          FALSE, &after_x, &after_y, &metrics));
    // A character cut by a row ends on the row below, where its start is the nearer edge.
    return measured && before_y == after_y && x - before_x > after_x - x ? after : before;
}

// --- hit tests ------------------------------------------------------------------------------

std::size_t table_cell_under(const Preview::Impl& p, std::size_t b, float x) {
    const auto& blocks = p.document.blocks;
    const PreviewBlock& cell = blocks[b];
    while (b > 0 && blocks[b - 1].kind == PreviewBlockKind::table_cell &&
           blocks[b - 1].table == cell.table && blocks[b - 1].row == cell.row) {
        --b;
    }
    while (b + 1 < blocks.size() &&
           x >= p.layout.blocks[b].cell_x + p.layout.blocks[b].cell_width &&
           blocks[b + 1].kind == PreviewBlockKind::table_cell &&
           blocks[b + 1].table == cell.table && blocks[b + 1].row == cell.row) {
        ++b;
    }
    return b;
}

// The visual line holding the caret: the last whose start is at or before it.
std::size_t caret_line(const Preview::Impl& p) {
    const auto& lines = p.layout.lines;
    auto after = std::upper_bound(
        lines.begin(), lines.end(), p.view.caret,
        [](std::uint64_t caret, const LayoutLine& line) { return caret < line.start; });
    return after == lines.begin() ? 0 : static_cast<std::size_t>(after - lines.begin()) - 1;
}

// The offset on line `target` nearest the caret's x, or nothing when a hit test fails.
bool vertical_move_target(const Preview::Impl& p, std::size_t from, std::size_t target,
                          std::uint64_t& offset) {
    const LayoutBlock& caret_block = p.layout.blocks[p.layout.lines[from].block];
    const LayoutLine& line = p.layout.lines[target];
    const LayoutBlock& block = p.layout.blocks[line.block];
    if (caret_block.pieces.empty() || block.pieces.empty()) {
        return false;
    }
    const std::uint64_t inside = std::clamp(p.view.caret, caret_block.text_start,
                                            caret_block.text_start + caret_block.text_length) -
                                 caret_block.text_start;
    FLOAT hit_x = 0;
    FLOAT hit_y = 0;
    DWRITE_HIT_TEST_METRICS metrics{};
    if (FAILED(hit_test_block_position(caret_block, static_cast<UINT32>(inside), FALSE, &hit_x,
                                       &hit_y, &metrics))) {
        return false;
    }
    const float x = caret_block.x + hit_x - block.x;
    const float y = (line.top + line.bottom) / 2 - block.y;
    BOOL trailing = FALSE;
    BOOL is_inside = FALSE;
    if (FAILED(hit_test_block_point(block, x, y, &trailing, &is_inside, &metrics))) {
        return false;
    }
    offset = nearest_caret_stop(
        p, block, block.text_start + metrics.textPosition + (trailing ? metrics.length : 0), x);
    return true;
}

// --- keyboard -------------------------------------------------------------------------------

void select_range(Preview::Impl& p, std::uint64_t anchor, std::uint64_t caret) {
    p.view.anchor = anchor;
    p.view.caret = caret;
    write_view_record(p);
    invalidate(p);
}

std::uint64_t selection_low(const Preview::Impl& p) {
    return std::min(p.view.anchor, p.view.caret);
}

std::uint64_t selection_high(const Preview::Impl& p) {
    return std::max(p.view.anchor, p.view.caret);
}

void cycle_links(Preview::Impl& p, bool backwards) {
    std::vector<const PreviewRun*> links;
    for (const PreviewRun& run : p.document.runs) {
        if (!run.link.empty()) {
            links.push_back(&run);
        }
    }
    if (links.empty()) {
        return;
    }
    const PreviewRun* chosen = nullptr;
    if (backwards) {
        const std::uint64_t lo = selection_low(p);
        for (auto it = links.rbegin(); it != links.rend() && !chosen; ++it) {
            if ((*it)->start < lo) {
                chosen = *it;
            }
        }
        chosen = chosen ? chosen : links.back();
    } else {
        const std::uint64_t hi = selection_high(p);
        const bool empty = p.view.anchor == p.view.caret;
        for (const PreviewRun* run : links) {
            if (empty ? run->start > p.view.caret : run->start >= hi) {
                chosen = run;
                break;
            }
        }
        chosen = chosen ? chosen : links.front();
    }
    p.view.anchor = chosen->start;
    p.view.caret = chosen->start + chosen->length;
    locate_preview_caret(p, p.view.caret);
    write_view_record(p);
    invalidate(p);
}

void open_selected_link(Preview::Impl& p) {
    const std::uint64_t lo = selection_low(p);
    const std::uint64_t hi = selection_high(p);
    for (const PreviewRun& run : p.document.runs) {
        if (!run.link.empty() && run.start <= lo && lo < run.start + run.length &&
            hi <= run.start + run.length) {
            open_preview_link(p, run.link);
            return;
        }
    }
}

void move_horizontally(Preview::Impl& p, bool left, bool shift) {
    if (!shift && p.view.anchor != p.view.caret) {
        const std::uint64_t to = left ? selection_low(p) : selection_high(p);
        set_preview_caret(p, to, false);
        return;
    }
    set_preview_caret(p, next_caret_stop(p, p.view.caret, !left), shift);
}

void move_in_line(Preview::Impl& p, bool end, bool shift) {
    if (p.layout.lines.empty()) {
        return;
    }
    const LayoutLine& line = p.layout.lines[caret_line(p)];
    set_preview_caret(p, end ? line.start + line.length : line.start, shift);
}

void move_vertically(Preview::Impl& p, bool up, bool shift) {
    if (p.layout.lines.empty()) {
        return;
    }
    const std::size_t from = caret_line(p);
    if ((up && from == 0) || (!up && from + 1 >= p.layout.lines.size())) {
        return;
    }
    std::uint64_t offset = 0;
    if (vertical_move_target(p, from, up ? from - 1 : from + 1, offset)) {
        set_preview_caret(p, offset, shift);
    }
}

// --- mouse ----------------------------------------------------------------------------------

bool is_caret_stop(const Preview::Impl& p, std::uint64_t offset) {
    const auto& stops = p.layout.boundaries;
    return std::binary_search(stops.begin(), stops.end(), offset) && !inside_character(p, offset);
}

std::uint64_t stop_at_or_before(const Preview::Impl& p, std::uint64_t offset) {
    return is_caret_stop(p, offset) ? offset : next_caret_stop(p, offset, false);
}

std::uint64_t stop_at_or_after(const Preview::Impl& p, std::uint64_t offset) {
    return is_caret_stop(p, offset) ? offset : next_caret_stop(p, offset, true);
}

void set_scroll_position(HWND window, int bar, float position) {
    const SCROLLINFO info{.cbSize = sizeof(SCROLLINFO),
                          .fMask = SIF_POS,
                          .nMin = 0,
                          .nMax = 0,
                          .nPage = 0,
                          .nPos = static_cast<int>(position),
                          .nTrackPos = 0};
    SetScrollInfo(window, bar, &info, !frames_undrawn());
}

void set_scroll_range(HWND window, int bar, float extent, float page, float position) {
    const SCROLLINFO info{.cbSize = sizeof(SCROLLINFO),
                          .fMask = SIF_RANGE | SIF_PAGE | SIF_POS,
                          .nMin = 0,
                          .nMax = std::max(0, static_cast<int>(std::ceil(extent)) - 1),
                          .nPage = static_cast<UINT>(page),
                          .nPos = static_cast<int>(position),
                          .nTrackPos = 0};
    SetScrollInfo(window, bar, &info, !frames_undrawn());
}

// Only a whole decimal number names a heading: "#h-1-intro" is no link to heading 1.
void open_heading(Preview::Impl& p, const std::string& number) {
    std::uint64_t n = 0;
    const char* end = number.data() + number.size();
    const auto [stop, error] = std::from_chars(number.data(), end, n);
    if (error != std::errc() || stop != end) {
        return;
    }
    if (n < p.document.headings.size()) {
        const std::uint64_t block = p.document.headings[n];
        if (block < p.layout.blocks.size()) {
            set_preview_scroll(p, 0, p.layout.blocks[block].y);
        }
    }
}

} // namespace

// --- scrolling ------------------------------------------------------------------------------

void write_view_record(Preview::Impl& p) {
    p.views[p.view_key] = p.view;
}

void set_preview_scroll(Preview::Impl& p, float x, float y) {
    const float width = width_of(p);
    const float height = height_of(p);
    const float max_x = std::max(0.0f, p.layout.width - width);
    const float new_x = x < 0 ? 0.0f : std::min(x, max_x);
    const float new_y = y < 0 ? 0.0f : std::min(y, max_scroll_y(p));
    p.view.scroll_x = new_x;
    p.view.scroll_y = new_y;
    write_view_record(p);
    if (!p.window) {
        return;
    }
    const float extent = max_scroll_y(p) + height;
    auto& cache = p.scroll_cache;
    const bool same_ranges = cache.content_width == p.layout.width && cache.extent == extent &&
                             cache.view_width == width;
    if (same_ranges && cache.view_height == height) {
        if (cache.x == new_x && cache.y == new_y) {
            return;
        }
        if (cache.y != new_y) {
            set_scroll_position(p.window, SB_VERT, new_y);
        }
        if (cache.x != new_x) {
            set_scroll_position(p.window, SB_HORZ, new_x);
        }
    } else {
        set_scroll_range(p.window, SB_VERT, extent, height, new_y);
        set_scroll_range(p.window, SB_HORZ, p.layout.width, width, new_x);
    }
    cache = {p.layout.width, extent, width, height, new_x, new_y};
    invalidate(p);
}

void report_preview_top_line(Preview::Impl& p) {
    if (!p.on_scroll) {
        return;
    }
    const auto& blocks = p.layout.blocks;
    const float top = p.view.scroll_y;
    if (blocks.empty() || blocks.front().y >= top) {
        p.on_scroll(0.0);
        return;
    }
    auto after = std::upper_bound(blocks.begin(), blocks.end(), top,
                                  [](float y, const LayoutBlock& block) { return y < block.y; });
    const std::size_t i = static_cast<std::size_t>(after - blocks.begin()) - 1;
    const double line = static_cast<double>(source_line_of(p, i));
    const NextAnchor next = next_anchor(p, i, i + 1);
    const float block_top = blocks[i].y;
    double fraction = 0;
    if (next.top > block_top) {
        fraction =
            std::clamp(static_cast<double>(top - block_top) / (next.top - block_top), 0.0, 1.0);
    }
    p.on_scroll(line + (next.line - line) * fraction);
}

void scroll_preview_to_source_line(double line) {
    Preview::Impl& p = preview();
    const auto& blocks = p.layout.blocks;
    if (blocks.empty()) {
        return;
    }
    const auto& sources = p.document.blocks;
    const std::size_t first_after = static_cast<std::size_t>(
        std::partition_point(sources.begin(),
                             sources.begin() + static_cast<std::ptrdiff_t>(blocks.size()),
                             [line](const PreviewBlock& block) {
                                 return static_cast<double>(block.source_line) <= line;
                             }) -
        sources.begin());
    const std::size_t i = first_after == 0 ? 0 : first_after - 1;
    const double line_i = static_cast<double>(source_line_of(p, i));
    const NextAnchor next = next_anchor(p, i, i + 1);
    const float top = blocks[i].y;
    float fraction = 0;
    if (line_i < next.line && line > line_i) {
        fraction = static_cast<float>((line - line_i) / (next.line - line_i));
        fraction = std::isnan(fraction) ? 0.0f : std::clamp(fraction, 0.0f, 1.0f);
    }
    set_preview_scroll(p, p.view.scroll_x, top + (next.top - top) * fraction);
}

void locate_preview_caret(Preview::Impl& p, std::uint64_t offset) {
    for (const LayoutBlock& block : p.layout.blocks) {
        if (block.pieces.empty() || offset < block.text_start ||
            offset > block.text_start + block.text_length) {
            continue;
        }
        FLOAT x = 0;
        FLOAT y = 0;
        DWRITE_HIT_TEST_METRICS metrics{};
        throw_if_failed(hit_test_block_position(block,
                                                static_cast<UINT32>(offset - block.text_start),
                                                FALSE, &x, &y, &metrics),
                        "Locate preview caret");
        const float width = width_of(p);
        const float height = height_of(p);
        const float caret_top = block.y + y;
        const float caret_bottom = caret_top + metrics.height;
        if (p.view.scroll_y > caret_top || caret_bottom > p.view.scroll_y + height) {
            set_preview_scroll(p, p.view.scroll_x, std::max(0.0f, caret_top - height / 3));
        }
        const float caret_x = block.x + x;
        if (p.view.scroll_x > caret_x || caret_x > p.view.scroll_x + width) {
            set_preview_scroll(p, std::max(0.0f, caret_x - width * 0.5f), p.view.scroll_y);
        }
        return;
    }
}

void set_preview_caret(Preview::Impl& p, std::uint64_t offset, bool extend) {
    p.view.caret = std::min(offset, text_length(p));
    if (!extend) {
        p.view.anchor = p.view.caret;
    }
    locate_preview_caret(p, p.view.caret);
    write_view_record(p);
    invalidate(p);
}

// --- hit tests and links --------------------------------------------------------------------

std::uint64_t hit_test_text(Preview::Impl& p, POINT point, bool leading_only) {
    const D2D1_POINT_2F at = document_point(p, point);
    const auto& blocks = p.layout.blocks;
    if (blocks.empty() || at.y < blocks.front().y) {
        return 0;
    }
    auto after = std::upper_bound(blocks.begin(), blocks.end(), at.y,
                                  [](float y, const LayoutBlock& block) { return y < block.y; });
    std::size_t b = static_cast<std::size_t>(after - blocks.begin()) - 1;
    if (p.document.blocks[b].kind == PreviewBlockKind::table_cell) {
        b = table_cell_under(p, b, at.x);
    }
    const LayoutBlock& block = blocks[b];
    const PreviewBlock& source = p.document.blocks[b];
    if (block.pieces.empty() || at.x < block.x) {
        return source.start;
    }
    if (at.y > block.y + block.height) {
        return source.start + source.length;
    }
    BOOL trailing = FALSE;
    BOOL inside = FALSE;
    DWRITE_HIT_TEST_METRICS metrics{};
    throw_if_failed(
        hit_test_block_point(block, at.x - block.x, at.y - block.y, &trailing, &inside, &metrics),
        "Hit test preview text");
    std::uint64_t offset = block.text_start + metrics.textPosition;
    if (trailing && !leading_only) {
        offset += metrics.length;
    }
    offset = std::min(offset, block.text_start + block.text_length);
    return leading_only ? stop_at_or_before(p, offset)
                        : nearest_caret_stop(p, block, offset, at.x - block.x);
}

std::string preview_link_at(Preview::Impl& p, POINT point) {
    const D2D1_POINT_2F at = document_point(p, point);
    for (const LayoutBlock& block : p.layout.blocks) {
        if (block.pieces.empty() || at.y < block.y || at.y > block.y + block.height) {
            continue;
        }
        if (block.cell_width != 0 &&
            (at.x < block.cell_x || at.x >= block.cell_x + block.cell_width)) {
            continue;
        }
        BOOL trailing = FALSE;
        BOOL inside = FALSE;
        DWRITE_HIT_TEST_METRICS metrics{};
        throw_if_failed(hit_test_block_point(block, at.x - block.x, at.y - block.y, &trailing,
                                             &inside, &metrics),
                        "Hit test preview link");
        if (!inside) {
            return {};
        }
        const std::uint64_t offset = block.text_start + metrics.textPosition;
        const auto& runs = p.document.runs;
        auto after = std::upper_bound(
            runs.begin(), runs.end(), offset,
            [](std::uint64_t at, const PreviewRun& run) { return at < run.start; });
        if (after == runs.begin()) {
            return {};
        }
        const PreviewRun& run = *(after - 1);
        return offset < run.start + run.length ? run.link : std::string();
    }
    return {};
}

void open_preview_link(Preview::Impl& p, const std::string& target) {
    if (!is_allowed_link(target)) {
        return;
    }
    if (target.empty() || target[0] != '#') {
        const std::u16string wide = utf8_to_utf16(target);
        if (p.open_external) {
            p.open_external(p.window, std::wstring(wide.begin(), wide.end()));
        }
        return;
    }
    if (target == "#") {
        set_preview_scroll(p, 0, 0);
    } else if (target.starts_with("#h-")) {
        open_heading(p, target.substr(3));
    }
}

// --- copy and find --------------------------------------------------------------------------

void copy_preview_selection(Preview::Impl& p) {
    if (p.view.anchor == p.view.caret) {
        return;
    }
    const std::uint64_t lo = std::min(selection_low(p), text_length(p));
    const std::uint64_t hi = std::min(selection_high(p), text_length(p));
    std::wstring text;
    text.reserve(hi - lo);
    for (std::uint64_t i = lo; i < hi; ++i) {
        if (p.document.text[i] == u'\n') {
            text += L'\r';
        }
        text += static_cast<wchar_t>(p.document.text[i]);
    }
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    if (!block) {
        throw std::runtime_error("Could not allocate copied preview text.");
    }
    auto* data = static_cast<wchar_t*>(GlobalLock(block));
    if (!data) {
        GlobalFree(block);
        throw std::runtime_error("Could not lock copied text.");
    }
    std::copy(text.c_str(), text.c_str() + text.size() + 1, data);
    GlobalUnlock(block);
    if (!OpenClipboard(p.window)) {
        GlobalFree(block);
        throw std::runtime_error("Clipboard is busy.");
    }
    if (!EmptyClipboard() || !SetClipboardData(CF_UNICODETEXT, block)) {
        GlobalFree(block);
        CloseClipboard();
        throw std::runtime_error("Could not copy preview text to the clipboard.");
    }
    CloseClipboard();
}

TextRanges find_text_matches(const std::u16string& text, const std::u16string& query,
                             bool match_case, bool whole_word) {
    TextRanges matches;
    if (query.empty()) {
        return matches;
    }
    const auto* units = reinterpret_cast<const wchar_t*>(text.data());
    const auto* wanted = reinterpret_cast<const wchar_t*>(query.data());
    std::size_t p = 0;
    while (p < text.size()) {
        const int r =
            FindStringOrdinal(FIND_FROMSTART, units + p, static_cast<int>(text.size() - p), wanted,
                              static_cast<int>(query.size()), !match_case);
        if (r < 0) {
            break;
        }
        const std::size_t start = p + static_cast<std::size_t>(r);
        const std::size_t end = start + query.size();
        p = end;
        if (whole_word && ((start > 0 && is_word_unit(text[start - 1], true)) ||
                           (end < text.size() && is_word_unit(text[end], true)))) {
            continue;
        }
        matches.emplace_back(start, end);
    }
    return matches;
}

void set_preview_find(const std::u16string& query, bool match_case, bool whole_word) {
    Preview::Impl& p = preview();
    if (query == p.find_query && match_case == p.match_case && whole_word == p.whole_word) {
        return;
    }
    p.find_query = query;
    p.match_case = match_case;
    p.whole_word = whole_word;
    p.find_matches = find_text_matches(p.document.text, query, match_case, whole_word);
    invalidate(p);
}

// --- input handlers -------------------------------------------------------------------------

void handle_preview_key(Preview::Impl& p, WPARAM key) {
    const bool shift = key_held(VK_SHIFT);
    const bool ctrl = key_held(VK_CONTROL);
    const float scroll_before = p.view.scroll_y;
    switch (key) {
    case 'A':
        if (ctrl) {
            select_range(p, 0, text_length(p));
        }
        break;
    case 'C':
        if (ctrl) {
            copy_preview_selection(p);
        }
        break;
    case VK_TAB:
        if (!ctrl) {
            cycle_links(p, shift);
        }
        break;
    case VK_RETURN:
        open_selected_link(p);
        break;
    case VK_ESCAPE:
        p.view.caret = std::min(p.view.caret, text_length(p));
        p.view.anchor = p.view.caret;
        locate_preview_caret(p, p.view.caret);
        write_view_record(p);
        invalidate(p);
        break;
    case VK_PRIOR:
    case VK_NEXT: {
        const float step = height_of(p) * page_key_fraction;
        set_preview_scroll(p, p.view.scroll_x, p.view.scroll_y + (key == VK_PRIOR ? -step : step));
        break;
    }
    case VK_LEFT:
    case VK_RIGHT:
        move_horizontally(p, key == VK_LEFT, shift);
        break;
    case VK_HOME:
    case VK_END:
        if (ctrl) {
            set_preview_caret(p, key == VK_HOME ? 0 : text_length(p), shift);
        } else {
            move_in_line(p, key == VK_END, shift);
        }
        break;
    case VK_UP:
    case VK_DOWN:
        move_vertically(p, key == VK_UP, shift);
        break;
    default:
        break;
    }
    if (p.view.scroll_y != scroll_before) {
        report_preview_top_line(p);
    }
}

void handle_preview_button_down(Preview::Impl& p, POINT point) {
    SetFocus(p.window);
    p.press_point = point;
    p.mouse_point = point;
    p.mouse_down = true;
    p.dragged = false;
    p.view.caret = std::min(hit_test_text(p, point, false), text_length(p));
    if (!key_held(VK_SHIFT)) {
        p.view.anchor = p.view.caret;
    }
    locate_preview_caret(p, p.view.caret);
    write_view_record(p);
    invalidate(p);
    SetCapture(p.window);
    SetTimer(p.window, drag_timer_id, drag_autoscroll_ms, nullptr);
}

void handle_preview_mouse_move(Preview::Impl& p, POINT point) {
    p.mouse_point = point;
    if (!p.mouse_down) {
        return;
    }
    if (std::abs(point.x - p.press_point.x) >= drag_threshold_pixels ||
        std::abs(point.y - p.press_point.y) >= drag_threshold_pixels) {
        p.dragged = true;
    }
    set_preview_caret(p, hit_test_text(p, p.mouse_point, false), true);
}

void handle_preview_button_up(Preview::Impl& p, POINT point) {
    const std::string target =
        p.mouse_down && !p.dragged ? preview_link_at(p, point) : std::string();
    end_preview_drag(p);
    if (!target.empty()) {
        open_preview_link(p, target);
    }
}

void end_preview_drag(Preview::Impl& p) {
    p.mouse_down = false;
    if (p.window) {
        KillTimer(p.window, drag_timer_id);
    }
    if (GetCapture() == p.window) {
        ReleaseCapture();
    }
}

void handle_preview_double_click(Preview::Impl& p, POINT point) {
    const std::uint64_t at = hit_test_text(p, point, true);
    const std::u16string& text = p.document.text;
    std::uint64_t start = at;
    std::uint64_t end = at;
    while (start > 0 && is_word_unit(text[start - 1], false)) {
        --start;
    }
    while (end < text.size() && is_word_unit(text[end], false)) {
        ++end;
    }
    if (start < end) {
        start = stop_at_or_before(p, start);
        end = stop_at_or_after(p, end);
    } else {
        start = stop_at_or_before(p, at);
        end = next_caret_stop(p, at, true);
    }
    select_range(p, start, end);
}

void handle_preview_drag_timer(Preview::Impl& p) {
    if (!p.mouse_down) {
        return;
    }
    // The window holds the capture while dragging, so the last move gives the pointer's place
    // also outside the client area.
    RECT client{};
    GetClientRect(p.window, &client);
    if (p.mouse_point.y < 0) {
        set_preview_scroll(p, p.view.scroll_x, p.view.scroll_y - drag_autoscroll_dips);
    } else if (p.mouse_point.y > client.bottom) {
        set_preview_scroll(p, p.view.scroll_x, p.view.scroll_y + drag_autoscroll_dips);
    } else {
        return;
    }
    set_preview_caret(p, hit_test_text(p, p.mouse_point, false), true);
}

void handle_preview_wheel(Preview::Impl& p, WPARAM wparam) {
    const float notches =
        static_cast<float>(GET_WHEEL_DELTA_WPARAM(wparam)) / wheel_delta_per_notch;
    if (GET_KEYSTATE_WPARAM(wparam) & MK_CONTROL) {
        if (p.command) {
            p.command(notches > 0 ? preview_command::zoom_in : preview_command::zoom_out);
        }
        return;
    }
    set_preview_scroll(p, p.view.scroll_x,
                       p.view.scroll_y -
                           notches * wheel_notch_dips * static_cast<float>(p.text_scale));
    report_preview_top_line(p);
}

void handle_preview_horizontal_wheel(Preview::Impl& p, WPARAM wparam) {
    const float notches =
        static_cast<float>(GET_WHEEL_DELTA_WPARAM(wparam)) / wheel_delta_per_notch;
    set_preview_scroll(p, p.view.scroll_x + notches * wheel_notch_dips, p.view.scroll_y);
}

void handle_preview_scroll_bar(Preview::Impl& p, int bar, WPARAM wparam) {
    SCROLLINFO info{.cbSize = sizeof(SCROLLINFO),
                    .fMask = SIF_ALL,
                    .nMin = 0,
                    .nMax = 0,
                    .nPage = 0,
                    .nPos = 0,
                    .nTrackPos = 0};
    GetScrollInfo(p.window, bar, &info);
    const bool vertical = bar == SB_VERT;
    const float now = vertical ? p.view.scroll_y : p.view.scroll_x;
    const float page = vertical ? height_of(p) : width_of(p);
    const float content = vertical ? p.layout.height : p.layout.width;
    float to = now;
    switch (LOWORD(wparam)) {
    case SB_LINEUP:
        to = now - scroll_line_dips;
        break;
    case SB_LINEDOWN:
        to = now + scroll_line_dips;
        break;
    case SB_PAGEUP:
        to = now - page;
        break;
    case SB_PAGEDOWN:
        to = now + page;
        break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
        to = static_cast<float>(info.nTrackPos);
        break;
    case SB_TOP:
        to = 0;
        break;
    case SB_BOTTOM:
        to = content;
        break;
    default:
        break;
    }
    if (vertical) {
        set_preview_scroll(p, p.view.scroll_x, to);
        report_preview_top_line(p);
    } else {
        set_preview_scroll(p, to, p.view.scroll_y);
    }
}

void handle_preview_context_menu(Preview::Impl& p, LPARAM lparam) {
    POINT point{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
    if (point.x == -1 && point.y == -1) {
        point = keyboard_menu_point;
        ClientToScreen(p.window, &point);
    }
    HMENU menu = CreatePopupMenu();
    if (!menu) {
        return;
    }
    const UINT copy_flags = MF_STRING | (p.view.anchor == p.view.caret ? MF_GRAYED : 0);
    AppendMenuW(menu, copy_flags, menu_copy, L"Copy\tCtrl+C");
    AppendMenuW(menu, MF_STRING, menu_select_all, L"Select all\tCtrl+A");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, menu_print, L"Print...\tCtrl+P");
    const UINT chosen = static_cast<UINT>(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON,
                                                         point.x, point.y, 0, p.window, nullptr));
    DestroyMenu(menu);
    switch (chosen) {
    case menu_copy:
        copy_preview_selection(p);
        break;
    case menu_select_all:
        select_range(p, 0, text_length(p));
        break;
    case menu_print:
        if (p.command) {
            p.command(preview_command::print);
        }
        break;
    default:
        break;
    }
}

bool preview_point_on_link(Preview::Impl& p, POINT point) {
    try {
        return !preview_link_at(p, point).empty();
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace pellix
