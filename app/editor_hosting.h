#pragma once

// The editor window of each tab, created with the settings the main window imposes, and the
// subclass that adds the main window's behaviour on top of the editor: Tab as four spaces, the
// completion popup's keys, the context menu, plain-text paste, dropped files and the input-busy
// and split-scroll bookkeeping of scrolling.

#include <windows.h>

#include <cstdint>

namespace pellix {

inline constexpr UINT_PTR editor_subclass_id = 1;
inline constexpr int editor_control_id = 10;

// A new hidden editor, a child of the main window. Throws std::runtime_error
// "Could not create a document editor.".
HWND create_editor();

// The editor's left margin for the main window's current DPI (on creation and DPI changes).
void set_editor_margin(HWND editor);

LRESULT CALLBACK editor_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                             UINT_PTR subclass, DWORD_PTR data);

// Repaints tab items `index` - 1 and `index` without erasing.
void invalidate_tab_pair(HWND tab_control, int index);

// Input counts as busy until `input_busy_until` has passed.
bool input_busy();
// Starts a burst of input: busy for the next 180 ms.
void note_input();

} // namespace pellix
