#pragma once

// Find and replace on the active tab, in the source editor or in the rendered preview: the next
// or previous match with wrap-around, replacing the selected match, the find bar's requests and
// the Edit menu's find commands. Replace All and the match count run on timers of their own
// (replace_all.h, match_count.h).

#include <windows.h>
#include <commdlg.h>

#include <string>

namespace pellix {

// The find flags, in the values of the system's find dialog.
namespace find_flag {
inline constexpr unsigned long down = FR_DOWN;
inline constexpr unsigned long whole_word = FR_WHOLEWORD;
inline constexpr unsigned long match_case = FR_MATCHCASE;
inline constexpr unsigned long find_next = FR_FINDNEXT;
inline constexpr unsigned long replace = FR_REPLACE;
inline constexpr unsigned long replace_all = FR_REPLACEALL;
inline constexpr unsigned long dialog_term = FR_DIALOGTERM;
inline constexpr unsigned long options = whole_word | match_case;
} // namespace find_flag

// The shared find strings (at most 511 units each) and the find flags.
struct FindTexts {
    std::wstring find;
    std::wstring replace;
    unsigned long flags = find_flag::down;
};
extern FindTexts find_texts;

// Whether the source is the pane find works in: not Preview view, and not Split view with the
// source pane collapsed.
bool source_shown();

// The preview takes the find text with the match-case and whole-word bits of `flags`.
void tell_preview_find(unsigned long flags);

// One search in the shown pane, from the selection, wrapping around once.
void find_next(bool forward);

// Opens the find bar in find or replace mode, seeded with a short one-line selection.
void show_find_bar(bool replace);

// The bar's two texts become the find strings; the find flags become its options and down.
void read_find_fields();

// Find, Replace or Replace All as the request's flags say.
void handle_find_request(const FINDREPLACEW& request);

// Makes the main window's find bar (`chrome.find_bar`, `find_box`, `replace_box`) with the
// main window's callbacks. Throws std::runtime_error when it cannot be made.
void make_find_bar(HWND main);

} // namespace pellix
