#pragma once

// The editor record behind each source editor window, and the operations the editor's units
// share over it. Private to the editor and to code that works on an editor record directly
// (the host's document installation, compare and watch, tests); everyone else uses messages.

#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>
#include <richedit.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/palette_table.h"
#include "core/source_document.h"
#include "editor/code_span_carry.h"
#include "editor/height_tree.h"
#include "editor/markdown_colouring.h"
#include "editor/replacement_lines.h"
#include "editor/source_interface.h"
#include "markdown/line_scanners.h"
#include "platform/com_ptr.h"
#include "platform/size_settling.h"
#include "preview/accessibility_bridge.h"
#include "tracking/change_marks.h"

namespace pellix {

// Timers on the editor window.
inline constexpr UINT_PTR wheel_timer = 2;
inline constexpr UINT wheel_timer_ms = 10;
inline constexpr UINT_PTR drag_timer = 3;
inline constexpr UINT drag_timer_ms = 30;
inline constexpr UINT_PTR layout_timer = 4;
inline constexpr UINT layout_timer_ms = 16;
// An editor hidden longer ago than the last few lets go of its drawing objects once the screen
// it gave way to is drawn, or this long after it was hidden when none is drawn.
inline constexpr UINT_PTR release_timer = 5;
inline constexpr UINT release_timer_ms = 1000;
// How many hidden editors, the ones hidden last, keep their render target, frame and layouts: a
// switch back to one of them shows its text at once, where a new target shows nothing until its
// first frame is drawn and reaches the screen. Two make a round of the three tabs used last
// (Ctrl+Tab among them) show text at every switch; under Wine each kept target costs memory
// that a third would add to for little (docs/wine-notes.md gives the figures).
inline constexpr std::size_t hidden_editors_keeping_targets = 2;

// Hidden itself, as a tab that is not shown; an editor in a hidden or minimised main window is
// not.
inline bool editor_hidden(HWND window) {
    return (GetWindowLongPtrW(window, GWL_STYLE) & WS_VISIBLE) == 0;
}

inline constexpr DWORD default_event_mask = ENM_SELCHANGE | ENM_CHANGE;
inline constexpr double default_char_advance = 10.0;
inline constexpr double line_spacing_factor = 1.4;
// Width of the change-marker lane at the gutter's left edge, in DIPs.
inline constexpr double marker_lane_width = 6.0;
// Free space left and right of the text area, in DIPs.
inline constexpr double text_side_padding = 8.0;
// Scroll bar values stay within what a 32-bit scroll bar can hold.
inline constexpr double scroll_bar_limit = 1e9;

// Scans over many lines read the document in blocks of this many units.
inline constexpr std::uint64_t metrics_scan_units = 0x10000;

inline bool is_low_surrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// One piece of a source line with its own text layout (absent until built).
struct LinePiece {
    // Search-term matches touching the piece, cached for painting.
    bool matches_valid = false;
    std::uint64_t matches_document_generation = 0;
    std::uint64_t matches_highlight_generation = 0;
    std::uint64_t matches_start = 0;
    std::uint64_t matches_length = 0;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> matches;

    std::uint64_t start = 0; // within the line
    std::uint64_t length = 0;
    double height = 0.0;
    double width = 0.0;
    ComPtr<IDWriteTextLayout> layout;
    // Its text holds characters Wine splits glyph runs around (`splits_glyph_runs`).
    bool split_text = false;
    double last_used = 0.0;
    // The sizes above are measured, not estimated; they stay when an idle layout is released.
    bool measured = false;
    // Laid out while the editor had no render target (hidden): the sizes are true, but the
    // colours, which are brushes of a target, are missing until the layout is made again.
    bool uncoloured = false;
};

struct CachedLine {
    std::vector<LinePiece> pieces;
    double last_used = 0.0;
    // Pieces after an edit in the line, their text as it was, waiting to be taken back once the
    // pieces laid out anew reach a row start of theirs (`keep_pieces_around_edit`).
    std::vector<LinePiece> tail;
    // The inline code the lines around carried into it when it was last laid out.
    CodeCarry code_carry;
};

// The first visible row by its text offset, so that the view can be put back after the heights
// above it changed.
struct ScrollAnchor {
    std::uint64_t offset = 0;
    double delta = 0.0; // that row's top minus scroll y: zero or negative
    bool valid = false;
};

// Everything a frame was drawn from besides the layouts, whose remaking (another font, size,
// wrap, gutter or palette) goes with a new text format or a new target: a kept frame drawn from
// the inputs of now shows what a full redraw would. Whatever else comes to change the picture
// belongs here, or a kept frame shows it stale.
struct FrameInputs {
    std::uint64_t edit_count = 0;
    std::array<std::uint64_t, 2> selection{};
    double scroll_x = 0.0;
    double scroll_y = 0.0;
    // Held, so that a format made later cannot take its address.
    ComPtr<IDWriteTextFormat> text_format;
    std::uint64_t highlight_generation = 0;
    std::uint64_t marks_generation = 0;
    // The input method's text drawn at the caret; an ended composition draws none.
    std::wstring composition;

    bool operator==(const FrameInputs& other) const {
        return edit_count == other.edit_count && selection == other.selection &&
               scroll_x == other.scroll_x && scroll_y == other.scroll_y &&
               text_format.get() == other.text_format.get() &&
               highlight_generation == other.highlight_generation &&
               marks_generation == other.marks_generation && composition == other.composition;
    }
};

// Bookkeeping of the per-paint layout budget.
struct LayoutBudget {
    // The continuation timer is set: only then does a paint that leaves nothing for later kill
    // it (under Wine each timer call is a round trip to the server).
    bool timer_set = false;
    bool active = false;
    bool pending = false;
    std::uint32_t built = 0;
    double deadline = 0.0;
    std::uint32_t last_paint_built = 0;
    bool last_paint_pending = false;
};

// What the system caret was last placed from besides the scroll offsets: a paint or a look-ahead
// that measures estimated rows above the caret moves the text under it, and the caret follows.
struct CaretFooting {
    std::uint64_t offset = 0;
    double line_top = 0.0; // of the caret's line, in the view
    // Where the caret's piece starts in its line: heights with wrapping, widths without.
    double piece_offset = 0.0;
    double scroll_x = 0.0;
    bool valid = false;

    bool operator==(const CaretFooting&) const = default;
};

// Device-dependent brushes, made with the render target.
struct SourceBrushes {
    ComPtr<ID2D1SolidColorBrush> gutter;
    ComPtr<ID2D1SolidColorBrush> text;
    std::array<ComPtr<ID2D1SolidColorBrush>, span_kind_count> kinds;
    ComPtr<ID2D1SolidColorBrush> selection;
    ComPtr<ID2D1SolidColorBrush> muted;
    ComPtr<ID2D1SolidColorBrush> find_highlight;
    ComPtr<ID2D1SolidColorBrush> marker;
};

// Last values handed to SetScrollInfo for one bar.
struct ScrollBarCache {
    int max = -1;
    int page = -1;
    int position = -1;
};

struct Source {
    HWND window = nullptr;
    SourceDocument document;
    bool marker_lane = false;
    std::vector<LineMark> line_marks;
    std::vector<DeletionMark> deletion_marks;
    // Grows whenever the marks above change.
    std::uint64_t marks_generation = 0;
    std::function<std::wstring(unsigned long long, bool)> marker_text_source;
    HWND tooltip = nullptr;
    std::wstring tooltip_text;
    LayoutBudget budget;
    ComPtr<IDWriteFactory> dwrite;
    ComPtr<ID2D1Factory> d2d;
    ComPtr<ID2D1HwndRenderTarget> target;
    // Whether a paint's target takes the window's size; until it does, the frame is drawn
    // scaled onto the target as it is, and the window shows it stretched.
    SizeSettling size_settling;
    // Messages the window has handled and calls from outside that may change the editor (a
    // lookup does not count); see `EditorChangedMeanwhile`.
    std::uint64_t handled_calls = 0;
    // The target holds the whole last frame, so a paint may redraw a band of it or the marker
    // lane alone. A new target, a resize (new buffers), a show and a lost device leave no such
    // frame: the next paint draws the whole client area whatever part the system asked for.
    bool frame_kept = false;
    // A caret remade for a new size stays hidden until a frame drawn at that size is shown:
    // shown over the old frame, it stood beside the old text's caret until the paint came.
    bool caret_waits_for_frame = false;
    // Set by a show that found the kept frame current: the first paint presents it again as it
    // is. Drawing the text again first kept the window showing what lay under it for as long as
    // a whole frame takes to draw under Wine, and a presented frame reaches the screen a while
    // later.
    bool present_kept_frame = false;
    // Layouts were made while hidden without a target; the release timer lets them go.
    bool hidden_layouts_made = false;
    // What the kept frame was drawn from (see `frame_kept`).
    FrameInputs frame_inputs;
    // How many times the target was read back (`copy_frame`), and how many draws it ended.
    std::uint64_t frames_read = 0;
    std::uint64_t draws_ended = 0;
    SourceBrushes brushes;
    ComPtr<IDWriteTextFormat> text_format;
    ComPtr<IDWriteTextFormat> number_format;
    std::map<std::uint64_t, ComPtr<IDWriteTextLayout>> number_cache;
    double number_cache_gutter = -1.0;
    std::map<std::uint64_t, CachedLine> line_cache;
    HeightTree heights; // the line heights and their Fenwick tree
    std::vector<FenceState> fence_states{FenceState{}};
    // The inline-code units worked out for the text of `edit_count`, by their first line: the
    // lines of one paragraph are laid out one by one, and each would read the whole of it.
    struct CodeUnits {
        std::uint64_t edit_count = UINT64_MAX;
        std::map<std::uint64_t, CodeUnit> units;
    } code_units;
    PreviewAccessibility accessibility;
    PaintColours palette;
    HFONT font = nullptr;
    bool markdown_colouring = true;
    std::uint64_t highlight_generation = 0;
    int colouring_mode = 0;
    int font_points = default_font_points;
    UINT dpi = 96;
    double scroll_x = 0.0;
    double scroll_y = 0.0;
    double content_width = 0.0;
    double wheel_target = 0.0;
    double last_animation_tick = 0.0;
    double last_wheel_input = 0.0;
    bool animating = false;
    int scroll_direction = 1;
    bool wrap = true;
    bool dark = false;
    bool line_numbers = true;
    bool read_only = false;
    bool redraw = true;
    bool dragging = false;
    bool composing = false;
    // Between WM_SETFOCUS and WM_KILLFOCUS: the window owns the system caret. Asking the system
    // instead (GetFocus) is a round trip to the server under Wine at every caret placement.
    bool focused = false;
    bool metrics_valid = false;
    // The text width the line heights, and so every cached layout, were made for.
    double metrics_width = 0.0;
    bool scroll_notify = true;
    DWORD event_mask = default_event_mask;
    std::wstring highlight_term;
    std::wstring composition;
    std::u16string find_text;
    std::uint64_t find_text_edit_count = UINT64_MAX;
    int highlight_mode = 0;
    char16_t pending_high_surrogate = 0;
    std::array<ScrollBarCache, 2> scroll_bars; // horizontal, vertical
    // The band [top, bottom) of the view, from `left` to the right edge, in DIPs, that the
    // running paint redraws over the kept frame; the whole view while bottom <= top.
    double paint_band_top = 0.0;
    double paint_band_bottom = 0.0;
    double paint_band_left = 0.0;
    // Text layouts (lines, numbers, composition) the running or last paint handed to Direct2D:
    // under Wine a frame's cost follows them, not the pixels that change.
    std::uint32_t layouts_drawn = 0;
    // Rows of wrapped layouts a banded paint handed to Direct2D, which leaves out the rest.
    std::uint32_t rows_drawn = 0;
    // The running paint redraws only the marker lane (new change marks) over the kept frame.
    bool paint_lane_only = false;
    double char_advance = default_char_advance;
    double goal_x = -1.0;
    std::uint64_t drag_anchor = 0;
    CaretFooting caret_footing;

    void paint();
};

// The record of an editor window; null for any other window.
Source* source_record(HWND window);

// Runs a call from outside the window procedure that may change the editor as the window
// procedure runs a message: it counts as a handled call, and whatever it throws first drops
// the line layouts and tells the parent when the text changed. An interrupted walk
// (`EditorChangedMeanwhile`) is not the caller's failure and stays here: the view is drawn
// again whole, and a call interrupted before it changed the text runs again, also when the
// message that interrupted it changed the text (a call that depends on the text it was made
// for checks the edit count itself). True when the call ran to its end or its change of the
// text was made before the interruption; false when it was interrupted each time before.
bool change_from_outside(Source& source, const std::function<void()>& call);

// --- window (source_window.cpp)
void notify_parent(Source& source, bool changed);
// WM_NOTIFY EN_SELCHANGE to the parent when the event mask asks for it.
void send_selection_change(Source& source);
void invalidate_editor(HWND window);
// The main window's size has settled: a target that kept another size takes it at the next
// paint, which draws the whole frame.
void settle_size(Source& source);
std::u16string source_wide_text(const SourceDocument& document);
double scale_of(const Source& source);
// The text was replaced wholesale: drop what was derived from the old one.
void forget_text_layouts(Source& source);

// Making a render target can deliver messages that other threads sent (under Wine it asks the
// display driver, which waits on another process). One of them may edit or lay out the editor,
// so a walk over the line cache that needs a target stops with this rather than touch what it
// holds; the window procedure drops the interrupted message without a beep, and a call from
// outside it recovers the same way (`change_from_outside`).
class EditorChangedMeanwhile : public std::runtime_error {
public:
    // `edit_count`: the document's edit count when the target was asked for, so that the call
    // interrupted knows whether it had changed the text itself.
    explicit EditorChangedMeanwhile(std::uint64_t edit_count)
        : std::runtime_error("The editor changed while its render target was made."),
          edit_count_(edit_count) {}
    std::uint64_t edit_count() const { return edit_count_; }

private:
    std::uint64_t edit_count_;
};

// --- line layout and colouring (line_layout.cpp)
double now_ms();
// Throws std::runtime_error "Source text rendering failed." for a failing HRESULT.
void check_render(HRESULT result);
std::vector<LinePiece>& line_pieces(Source& source, std::uint64_t line);
bool build_piece_layout(Source& source, std::uint64_t line, LinePiece& piece);
// After an edit of `line` alone that replaced [edit_start, old_end) (within the line) by text
// ending at `new_end`, keeps the line's leading pieces that the edit left as they were, layouts
// and sizes, and cuts the rest anew with the sizes of what they replace as estimates; the pieces
// behind the edit wait to be taken back once the new ones reach a row start of theirs. A
// keystroke in a huge line lays out again only the rows it changed. False when the line was not
// cached.
bool keep_pieces_around_edit(Source& source, std::uint64_t line, std::uint64_t edit_start,
                             std::uint64_t old_end, std::uint64_t new_end);
void clear_line_layouts(Source& source);
// After an edit of lines [first, last]: lets go of the layouts of the lines around whose inline
// code the edit opened or closed, and returns the lines they span (empty when none, first >
// last); the edited lines themselves are not looked at.
std::pair<std::uint64_t, std::uint64_t> drop_recoloured_code(Source& source, std::uint64_t first,
                                                             std::uint64_t last);
// The render target and the brushes made with it; the next paint makes them again.
void release_device_objects(Source& source);
// Counts one more layout against a running paint's budget; false (and layouts pending) when the
// budget is spent. Always true outside a paint.
bool layout_budget_allows(Source& source, double now);
std::uint64_t line_at_height(const HeightTree& heights, double y);

// --- painting and metrics (source_paint.cpp)
// The colours that apply now, from the host.
PaintColours colours_now(const Source& source);
void create_text_format(Source& source);
void create_source_brushes(Source& source);
// The timer's turn after a paint left look-ahead layouts for later: builds more of them under
// a fresh budget, without drawing what the screen already shows.
void continue_layouts(Source& source);
// Creates the render target and its brushes when there is none.
void ensure_render_target(Source& source);
// Copies the frame last presented into `into`, client pixels from (0, 0), read from the render
// target inside a draw of its own that presents the frame once more; false when the target holds
// no whole frame. Under Wine a window target's frames in a child window never
// reach the screen, or (presented through Vulkan) GDI cannot read them there: this is how the
// tests see what reaches the window.
bool copy_frame(Source& source, HDC into);
// Presents the frame the render target holds once more; false when that lost the device (the
// next paint draws everything again).
bool present_frame_again(Source& source);
std::uint64_t decimal_digits(std::uint64_t value);
double gutter_width(const Source& source);
// The right edge, in pixels, of the change-marker lane at the left of the gutter.
LONG marker_lane_right(const Source& source);
double text_width(const Source& source);
double view_height(const Source& source);
// One rectangle per line part of [start, start + length) of `layout` placed at (x, y).
std::vector<D2D1_RECT_F> range_rects(IDWriteTextLayout* layout, UINT32 start, UINT32 length,
                                     FLOAT x, FLOAT y);

// --- geometry (line_geometry.cpp)
double base_line_height(const Source& source);
double text_left_edge(const Source& source);
// Length of a line without its line feed.
std::uint64_t line_length(const SourceDocument& document, std::uint64_t line);
// Height of a line of `length` units before it is laid out.
double estimated_line_height(const Source& source, std::uint64_t length);
// The same for a text area `width` DIPs wide (`text_width`), for callers estimating many lines:
// the width asks the window for its size.
double estimated_line_height(const Source& source, std::uint64_t length, double width);
void ensure_line_metrics(Source& source);
// The largest scroll y: the last line may stand at the top of the view.
double maximum_scroll_y(const Source& source);
// The line at the top of the view, plus the share of its height scrolled past.
double top_line(Source& source);
// The document y of such a fractional line; 0 past the last line.
double top_of_line(Source& source, double line);
// Another text width, font size or wrapping gives the lines other heights, so the same scroll
// offset would fall on other text: the view keeps the line at its top, and the share of it
// scrolled past. `top_to_keep` notes it before such a change (nothing while the heights are not
// known), `kept_top` gives the scroll y that shows it after.
std::optional<double> top_to_keep(Source& source);
double kept_top(Source& source, const std::optional<double>& line);
// Where the caret stands before `offset`, in client DIPs. `caret_point` hands it out as the f32
// pair that Direct2D takes; the editor's own scrolling keeps the full precision, which a
// position millions of DIPs down the document needs.
struct CaretPosition {
    double x = 0.0;
    double y = 0.0;
};
CaretPosition caret_position(Source& source, std::uint64_t offset);
D2D1_POINT_2F caret_point(Source& source, std::uint64_t offset);
std::uint64_t hit_test(Source& source, double x, double y);
// `known`: where the caret stands in the view as it is now, when the caller just found it.
void place_caret(Source& source, const CaretPosition* known = nullptr);
// Places the caret again when what it was placed from moved since: measured rows above it, or
// pieces before it in its line.
void follow_measured_caret(Source& source);
void scroll_source_to(Source& source, double x, double y, bool repaint);
// Scrolls as little as brings the caret into view, and places the caret; `repaint` as for
// scroll_source_to.
void scroll_caret_into_view(Source& source, bool repaint = true);
ScrollAnchor capture_scroll_anchor(Source& source);
void restore_scroll_anchor(Source& source, const ScrollAnchor& anchor);
// Whether the view shows text down to its bottom (or the whole of a shorter text), as far as the
// heights now known tell; unknown heights count as filled.
bool view_filled(const Source& source);
// A change of the text can leave the view's top below where the text's end stands at the view's
// bottom (the top row went with the text it showed, or estimated rows turned out shorter): the
// rows down to the end are measured and the view brought up until that end fills it, as
// scrolling the caret to the end would leave it. Only the offsets move; the caller updates the
// scroll bars and repaints.
void fill_view(Source& source);
// Another size of the view keeps what the user was looking at: the caret's row where it stood
// in the view, when it was in view (another width wraps a long line anew, and the top of that
// line may then stand screens above the caret); else the line at the view's top, as
// `top_to_keep` notes it. A view that showed text down to its bottom still does: a top that only
// a narrower view filled would leave the pane below the text's end empty. `view_to_keep` notes
// it before the change (nothing while the heights are not known), `keep_view` scrolls to it
// after and repaints.
struct KeptView {
    std::optional<double> top;
    std::optional<double> caret_row; // the top of the caret's row, down from the view's top
    bool filled = false;
};
KeptView view_to_keep(Source& source);
void keep_view(Source& source, const KeptView& kept);
void measure_band(Source& source, double top, double bottom);
// The next caret stop after `offset` (or before it): a place that is both the edge of a shaped
// cluster and a boundary between two characters a reader sees, so a flag, a letter with its
// accents and emoji joined by U+200D are stepped over whole.
std::uint64_t step_cluster(Source& source, std::uint64_t offset, bool forward);
// `offset` when it is a caret stop, else the caret stop after it (or before it).
std::uint64_t whole_character_edge(Source& source, std::uint64_t offset, bool forward);
// The height a line has once laid out: its pieces stacked with wrapping, one row without.
void make_line_height_exact(Source& source, std::uint64_t line);

// --- text changes (text_edits.cpp)
void set_selection(Source& source, std::uint64_t anchor, std::uint64_t caret, bool scroll);
void replace_selection(Source& source, const std::u16string& text, bool typing);
void delete_range(Source& source, std::uint64_t from, std::uint64_t to);
// [from, to) (character boundaries) replaced by a tree of normalised text, as one undo step
// that selects the range again when undone. `lines`, when they fit, spare reading the new lines.
void replace_range(Source& source, std::uint64_t from, std::uint64_t to,
                   SourceDocument::NodePtr text, ReplacementLines& lines);
// `selection_in_edit`: the selection before the change lay within the changed range (so that
// repainting the changed lines also clears it).
// After a whole new text was installed whose lines differ from the old ones only in old lines
// [first, old_end) that became new lines [first, new_end) (of `old_line_count` lines before):
// the line data around that stretch is kept and moved. False, with nothing changed, when the
// whole text must be measured again.
bool splice_reloaded_lines(Source& source, std::uint64_t first, std::uint64_t old_end,
                           std::uint64_t new_end, std::uint64_t old_line_count);
// `handed`: the new lines as gathered while the new text was built; taken when they fit.
void apply_edit(Source& source, std::uint64_t first_line, std::uint64_t old_line_count,
                std::uint64_t old_last_line, ScrollAnchor anchor, bool selection_in_edit = false,
                ReplacementLines* handed = nullptr);
void undo_redo(Source& source, bool redo);

// --- clipboard (clipboard.cpp)
// The selection to the clipboard as CF_UNICODETEXT with CR LF line breaks.
void copy_selection(Source& source);
// The clipboard's text (up to a NUL) over the selection, unless read-only. A text that would
// take the document past its limit is refused whole with the document's length_error.
void paste_clipboard(Source& source);

// --- input-method composition (input_method.cpp)
void start_composition(Source& source);
void update_composition(Source& source, LPARAM flags);
void end_composition(Source& source);

// --- keyboard, characters, mouse and clipboard messages (source_input.cpp)
// Word boundaries of Ctrl+arrows and Ctrl+Delete/Backspace: a word unit is iswalnum or "_".
std::uint64_t next_word_start(Source& source, std::uint64_t offset);
std::uint64_t previous_word_start(Source& source, std::uint64_t offset);
// true when the message was an input message, with its answer in `result`.
bool answer_input_message(Source& source, UINT message, WPARAM wparam, LPARAM lparam,
                          LRESULT& result);

// --- accessibility (source_accessibility.cpp)
// Hands the editor's UI Automation callbacks to its accessibility binding.
void attach_source_accessibility(Source& source);

// --- change markers (change_markers.cpp)
// The client point that stands for "no pointer".
inline constexpr int no_marker_point = -100;
// Shows, moves or hides the marker tooltip for the pointer at client pixels (x, y).
void update_marker_tooltip(Source& source, int x, int y);

// --- message set (source_messages.cpp): true when the message was one of the editor's text,
// selection, line or find messages, with its answer in `result`.
bool answer_text_message(Source& source, UINT message, WPARAM wparam, LPARAM lparam,
                         LRESULT& result);

// --- wheel, scroll bars and drag autoscroll (scroll_input.cpp)
void stop_wheel_animation(Source& source);
void wheel_scroll(Source& source, WPARAM wparam);
void horizontal_wheel_scroll(Source& source, WPARAM wparam);
void scroll_bar_command(Source& source, int bar, WPARAM wparam);
void wheel_animation_step(Source& source);
void drag_autoscroll_step(Source& source);

} // namespace pellix
