#pragma once

// Where the find bar's children go for a client width: one row (two in replace mode) on a wide
// bar; the options, the status and the match buttons on a row of their own when it is narrow.

#include <windows.h>

#include <array>
#include <cstddef>

namespace pellix {

// The bar's seven buttons, in creation order.
namespace find_button {
inline constexpr std::size_t match_case = 0;
inline constexpr std::size_t whole_word = 1;
inline constexpr std::size_t previous = 2;
inline constexpr std::size_t next = 3;
inline constexpr std::size_t close = 4;
inline constexpr std::size_t replace = 5;
inline constexpr std::size_t replace_all = 6;
inline constexpr std::size_t count = 7;
} // namespace find_button

// Metrics at 96 DPI.
namespace find_bar_metric {
inline constexpr int row_height = 36;
inline constexpr int button_width = 28;
inline constexpr int margin = 6;
inline constexpr int edit_left = 10;
inline constexpr int narrow_edit_gap = 4;
inline constexpr int wide_edit_gap = 10;
inline constexpr int min_edit_right = 14;
inline constexpr int min_edit = 120;
inline constexpr int space_reserve = 12; // besides the margin and the minimal edit
inline constexpr int narrow_width = 260;
inline constexpr int previous_hidden_below = 150;
inline constexpr int narrow_replace_button = 60;
inline constexpr int text_padding = 20;
inline constexpr int status_trim = 4;
inline constexpr int frame_widening = 4;
inline constexpr int frame_height = 28;
inline constexpr int frame_corner = 6;
} // namespace find_bar_metric

// What the layout needs besides the width, in pixels at the bar's DPI.
struct FindBarSizes {
    unsigned dpi = USER_DEFAULT_SCREEN_DPI;
    int line_height = 16;      // the text font's line
    int status_text = 80;      // "9999 of 10000+" in the text font
    int replace_text = 40;     // "Replace"
    int replace_all_text = 60; // "Replace all"
};

struct FindBarLayout {
    RECT find_edit{};
    RECT replace_edit{};
    RECT status{}; // empty when there is no room for it
    std::array<RECT, find_button::count> buttons{};
    std::array<bool, find_button::count> shown{};
    bool replace_shown = false;
};

FindBarLayout layout_find_bar(int width, bool replace_mode, const FindBarSizes& sizes);

} // namespace pellix
