#pragma once

// The Format commands on the active tab's source: inline markers around the selection, block
// prefixes in front of the selected lines, and Clean Source. Each computes the whole new text and
// puts only the changed stretch into the editor, as one undo step of its own.

#include <windows.h>

#include <string>

#include "app/format_edits.h"

namespace pellix {

namespace format_id {
inline constexpr unsigned bold = 400;
inline constexpr unsigned italic = 401;
inline constexpr unsigned heading_1 = 402;
inline constexpr unsigned link = 403;
inline constexpr unsigned inline_code = 404;
inline constexpr unsigned bullet_list = 405;
inline constexpr unsigned heading_2 = 406;
inline constexpr unsigned quote = 407;
inline constexpr unsigned numbered_list = 408;
inline constexpr unsigned clean_source = 409;
inline constexpr unsigned heading_3 = 410;
} // namespace format_id

// Replaces the stretch where `new_text` differs from `old_text` (the editor's text), never
// splitting a surrogate pair, as one undo step, then selects `selection`.
void apply_text_edit(HWND editor, const std::u16string& new_text, const std::u16string& old_text,
                     TextSelection selection);

// The three kinds of command on the active editor.
void wrap_selection(const wchar_t* before, const wchar_t* after);
void prefix_lines(const wchar_t* prefix);
// Throws std::runtime_error when the cleaned text would pass the document limit.
void clean_source();

} // namespace pellix
