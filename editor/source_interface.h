#pragma once

// What the rest of the program does to an editor window besides sending it messages: read its
// text, style it, scroll it, hand it change marks and install a prepared document. Every function
// takes the editor's window handle; on a window that is not an editor the two that return text
// and the one that installs a document throw and the others do nothing (`source_top_line` answers
// 0.0). UI thread only.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "core/source_document.h"
#include "editor/replacement_lines.h"
#include "tracking/change_marks.h"

namespace pellix {

// The whole text, every line break LF. Throws std::runtime_error "Source control is
// unavailable." for a window without an editor.
std::u16string source_text(HWND editor);

// A snapshot sharing the editor's text: same selection, revision and edit count, empty undo and
// redo history; safe to hand to a worker thread. Throws std::runtime_error "Source unavailable"
// for a window without an editor.
SourceDocument source_document(HWND editor);

// What EM_GETMODIFY answers, read without a message (false for a window without an editor): the
// tab strip asks it of every tab on each refresh, and under Wine a message to a subclassed
// window costs tens of microseconds.
bool source_modified(HWND editor);

// The font size before any zoom.
inline constexpr int default_font_points = 12;

// Font size in points (zoom), dark or light palette and the line-number gutter; lays the text out
// again and repaints.
void set_source_style(HWND editor, std::uint32_t font_points, bool dark, bool line_numbers);

// Takes over the host's current search term (`SourceHost::search_term`) and the find flags that
// painting highlights it with (0 removes the highlights); repaints when either changed.
void set_source_highlight(HWND editor, int mode);

// The fractional 0-based line at the top of the view.
double source_top_line(HWND editor);

// Stops a running wheel animation and scrolls so that the fractional `line` (clamped to the
// document) stands at the top, less a margin of `context_lines` line heights (at most a quarter
// of the view). Never posts WM_APP_SOURCE_SCROLLED.
void set_source_top_line(HWND editor, double line, int context_lines);

// Scrolls as little as shows the rows of both `first` and `last` (offsets, `first` <= `last`)
// when they fit in the view together, else as little as shows the caret, as EM_SCROLLCARET does
// (which also brings the caret into view sideways).
void show_source_range(HWND editor, std::uint64_t first, std::uint64_t last);

// A UI Automation notification (activity id "Pellix.Watch") while a client listens.
void announce(HWND editor, const std::wstring& text);

// Where the marker tooltip takes its texts: (hovered line, false) over a line mark, (the mark's
// line, true) over a deletion mark; an empty text hides the tooltip. An empty function restores
// the editor's own texts.
void set_change_marker_source(HWND editor,
                              std::function<std::wstring(unsigned long long, bool)> source);

// Replaces the marks drawn in the marker lane; marks equal to the current ones change nothing.
void set_change_marks(HWND editor, const ChangeMarks& marks);

// Shows or hides the marker lane, keeping the first visible text in place.
void set_compare_gutter(HWND editor, bool show);

// How `replace_editor_document` places the new text.
struct DocumentPlacement {
    // false: a new document for the tab, caret at 0, view at the top, history emptied and the
    // text marked unmodified. true: the same file read again (watch), with the first visible
    // text kept in place, the horizontal offset kept and the selection set to the ends below.
    bool keep_view = false;
    std::uint64_t anchor = 0;
    std::uint64_t caret = 0;
    // With `keep_view`: carries the old text offset of the first visible row over to the new
    // text, so that lines inserted or removed above the view do not move it; empty keeps the
    // offset as it was.
    std::function<std::uint64_t(std::uint64_t)> carry_offset;
    // With `keep_view`: the new text differs from the old only in old lines
    // [changed_first, changed_old_end) that became new lines [changed_first, changed_new_end);
    // the laid-out lines before and after that stretch are kept. Without it every line is laid
    // out again.
    bool changed_lines_known = false;
    std::uint64_t changed_first = 0;
    std::uint64_t changed_old_end = 0;
    std::uint64_t changed_new_end = 0;
};

// The one way to put a whole document into an editor from outside: the new text gets a fresh
// edit count and revision (so every earlier snapshot and every cache keyed on them counts as
// stale), the find-text cache and the line layouts are dropped, the undo history is emptied, and
// the parent is told with EN_CHANGE and EN_SELCHANGE. Throws std::runtime_error "Source control
// is unavailable." for a window without an editor.
void replace_editor_document(HWND editor, SourceDocument document,
                             const DocumentPlacement& placement = {});

// Whether the text is coloured as Markdown, and the colouring mode (0 full, 1 punctuation,
// 2 off; larger values count as 0). A change drops the line layouts and repaints.
void set_markdown_colouring(HWND editor, bool markdown);
void set_colouring_mode(HWND editor, int mode);

// Whether an input-method composition is open.
bool source_composing(HWND editor);

// Drops every cached line layout, so that the next paint lays the lines out again.
void clear_line_layouts(HWND editor);

// The size the editor's window was just given came from its main window's (whose edge a drag
// takes through dozens of sizes): its render target keeps its size until the size settles
// (`SizeSettling`).
void hold_target_size(HWND editor);

// The main window's size has settled: the editor's next paint draws the whole frame at it.
void settle_target_size(HWND editor);

// Where the line data of a replacement starting at `from` begins (`ReplacementLines`): the
// fence state and the text of the line before `from` (an empty start for a window without an
// editor).
ReplacementLines replacement_lines(HWND editor, std::uint64_t from);

// Replaces [from, to) (on character boundaries) with a tree of normalised text built beforehand
// (`RopeBuilder`), as EM_REPLACESEL would replace that selection: one undo step, nothing while
// the editor is read-only, EN_CHANGE to the parent. `lines`, gathered from `replacement_lines`
// over the same text, spare the editor reading the new lines; lines that do not fit the text in
// place are read instead. Throws std::length_error "Source exceeds the 8 MiB character limit."
// and then changes nothing. False, with the text as another message left it, when the
// replacement was not made: a read-only editor, or a message served meanwhile (while the editor
// made its render target) changed the text the range was taken from.
bool replace_source_range(HWND editor, std::uint64_t from, std::uint64_t to,
                          SourceDocument::NodePtr text, ReplacementLines lines = {});

// Sets the scroll offsets in DIPs, clamped to the content, updates the scroll bars and the caret,
// repaints when `repaint` is set, and posts WM_APP_SOURCE_SCROLLED when the offsets moved.
void scroll_source_to(HWND editor, double x, double y, bool repaint);

// EN_CHANGE (when `changed`) and EN_SELCHANGE to the parent as the event mask allows, then the
// accessibility text and selection events.
void notify_parent(HWND editor, bool changed);

} // namespace pellix
