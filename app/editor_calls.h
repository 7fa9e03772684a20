#pragma once

// The few calls the main window makes on an editor window beyond its message set: its whole
// text, installing a new document, its style and colouring. One place, so that the main window
// never reaches into the editor's record elsewhere.

#include <windows.h>

#include <string>

#include "core/source_document.h"

namespace pellix {

// The editor's whole text, every line break LF. Throws "Source control is unavailable." for a
// window without editor state.
std::u16string editor_text(HWND editor);

// Replaces the editor's document with `document`: caret and selection at 0, the view at the top,
// and the parent told of the change. Throws for a window without editor state.
void install_editor_document(HWND editor, SourceDocument document);

// Switches Markdown colouring; a change drops the line layouts and repaints a visible editor.
void set_editor_markdown(HWND editor, bool markdown);

// The colouring mode (0 full, 1 punctuation, 2 off); a stored mode of 3 or more counts as 0.
void set_editor_colouring(HWND editor, unsigned mode);

// The font size in points, the dark or light palette and the line-number gutter.
void style_editor(HWND editor, int font_points, bool dark, bool line_numbers);

// Re-applies the search highlight `mode` (find flags; 0 removes it) with the current term.
void highlight_editor(HWND editor, unsigned long mode);

} // namespace pellix
