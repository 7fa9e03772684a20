#pragma once

// The find bar: a child of the main window with the find and replace boxes, seven owner-drawn
// buttons and the match-count status. It is made once with the main window, hidden until Find
// or Replace is chosen, and reaches the main window only through the three callbacks it is
// made with.

#include <windows.h>

#include <functional>
#include <string>

namespace pellix {

inline constexpr wchar_t find_bar_class[] = L"Pellix.FindBar";

// Control ids of the bar's children.
namespace find_control {
inline constexpr int find_box = 340;
inline constexpr int match_case = 341;
inline constexpr int whole_word = 342;
inline constexpr int previous = 343;
inline constexpr int next = 344;
inline constexpr int close = 345;
inline constexpr int replace_box = 346;
inline constexpr int replace = 347;
inline constexpr int replace_all = 348;
} // namespace find_control

// The option bits of the bar, in the values of the find flags.
inline constexpr unsigned long option_whole_word = 0x2;
inline constexpr unsigned long option_match_case = 0x4;

// The longest find or replace text, in UTF-16 units.
inline constexpr int find_text_limit = 511;

struct FindBarCallbacks {
    std::function<void(unsigned long flags)> request;
    std::function<void()> changed;
    std::function<void()> closed;
};

// Takes the callbacks (replacing earlier ones), registers the class and makes the hidden bar and
// its children; null when the bar cannot be made.
HWND create_find_bar(HWND parent, FindBarCallbacks callbacks);

// The theme and fonts: the boxes take the text font, their background becomes palette entry 0;
// the bar lays out and repaints.
void apply_find_bar_appearance(bool dark, HFONT text_font, HFONT icon_font);

bool is_find_bar_visible();

// Shows the bar in find or replace mode, laid out for its size, with the find box focused and
// its text selected. With `seed`, the find box takes that text first without a change
// notification.
void open_find_bar(bool replace_mode, const std::wstring* seed);

// Sets the option bits (match case, whole word; `find_bar_options` reads them), renaming and
// repainting the two option buttons.
void set_find_bar_options(unsigned long options);

// The texts of the two boxes.
std::wstring find_bar_find_text();
std::wstring find_bar_replace_text();

// The match-count status: an unchanged text does nothing; otherwise the bar's window text
// becomes "Find and replace: " and the status, and the status is repainted.
void set_find_status(const std::wstring& text);
const std::wstring& find_status();

// Drops the cached back buffer so that it is rebuilt at the new size.
void release_find_bar_buffer();

// The window's text, read through a 512-unit buffer.
std::wstring window_text(HWND window);

} // namespace pellix
