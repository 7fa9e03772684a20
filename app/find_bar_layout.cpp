#include "app/find_bar_layout.h"

#include <algorithm>

namespace pellix {

namespace {

namespace m = find_bar_metric;
namespace b = find_button;

struct Scaled {
    explicit Scaled(unsigned dpi) : dpi_(static_cast<int>(dpi)) {}
    int operator()(int value) const { return MulDiv(value, dpi_, USER_DEFAULT_SCREEN_DPI); }

private:
    int dpi_;
};

RECT edit_in_row(int left, int right, int row_top, int row, int line_height) {
    const int top = row_top + (row - line_height) / 2;
    return {left, top, right, top + line_height};
}

void place(FindBarLayout& layout, std::size_t button, int left, int top, int right, int bottom) {
    layout.buttons[button] = {left, top, right, bottom};
    layout.shown[button] = true;
}

FindBarLayout narrow_layout(int width, bool replace_mode, const FindBarSizes& sizes) {
    const Scaled s(sizes.dpi);
    const int row = s(m::row_height);
    const int button = s(m::button_width);
    const int right = width - s(m::margin);
    FindBarLayout layout;

    place(layout, b::close, right - button, 0, right, row);
    const int edit_left = s(m::edit_left);
    layout.find_edit =
        edit_in_row(edit_left, std::max(right - button - s(m::narrow_edit_gap), edit_left + 1), 0,
                    row, sizes.line_height);

    const int left = s(m::margin);
    place(layout, b::match_case, left, row, left + button, 2 * row);
    place(layout, b::whole_word, left + button, row, left + 2 * button, 2 * row);
    place(layout, b::next, right - button, row, right, 2 * row);
    int status_right = right - button;
    if (width >= s(m::previous_hidden_below)) {
        place(layout, b::previous, right - 2 * button, row, right - button, 2 * row);
        status_right -= button;
    }
    layout.status = {left + 2 * button, row, std::max(status_right, left + 2 * button), 2 * row};

    if (replace_mode) {
        const int wide = s(m::narrow_replace_button);
        place(layout, b::replace_all, right - wide, 2 * row, right, 3 * row);
        place(layout, b::replace, right - 2 * wide, 2 * row, right - wide, 3 * row);
        layout.replace_edit = edit_in_row(
            edit_left, std::max(right - 2 * wide - s(m::narrow_edit_gap), edit_left + 1), 2 * row,
            row, sizes.line_height);
        layout.replace_shown = true;
    }
    return layout;
}

FindBarLayout wide_layout(int width, bool replace_mode, const FindBarSizes& sizes) {
    const Scaled s(sizes.dpi);
    const int row = s(m::row_height);
    const int button = s(m::button_width);
    const int right = width - s(m::margin);
    const int status_width = sizes.status_text + s(m::text_padding) - s(m::status_trim);
    const int room = width - s(m::space_reserve) - s(m::margin) - s(m::min_edit);
    FindBarLayout layout;

    int x = right - button;
    place(layout, b::close, x, 0, right, row);
    int block = button;
    if (3 * button <= room) {
        place(layout, b::next, x - button, 0, x, row);
        place(layout, b::previous, x - 2 * button, 0, x - button, row);
        x -= 2 * button;
        block += 2 * button;
        if (3 * button + status_width <= room) {
            layout.status = {x - status_width, 0, x, row};
            x -= status_width;
            block += status_width;
            if (5 * button + status_width <= room) {
                place(layout, b::whole_word, x - button, 0, x, row);
                place(layout, b::match_case, x - 2 * button, 0, x - button, row);
                block += 2 * button;
            }
        }
    }

    const int replace_width = sizes.replace_text + s(m::text_padding);
    const int replace_all_width = sizes.replace_all_text + s(m::text_padding);
    const int buttons_width = replace_width + replace_all_width;
    const int right_width = replace_mode ? std::max(block, buttons_width) : block;
    const int right_left = right - right_width;
    const int edit_left = s(m::edit_left);
    const int edit_right = std::max(right_left - s(m::wide_edit_gap), s(m::min_edit_right));
    layout.find_edit = edit_in_row(edit_left, edit_right, 0, row, sizes.line_height);

    if (replace_mode) {
        layout.replace_edit = edit_in_row(edit_left, edit_right, row, row, sizes.line_height);
        layout.replace_shown = true;
        const int spare = right_width - buttons_width;
        const int replace_right = right_left + replace_width + spare / 2;
        place(layout, b::replace, right_left, row, replace_right, 2 * row);
        place(layout, b::replace_all, replace_right, row, right, 2 * row);
    }
    return layout;
}

} // namespace

FindBarLayout layout_find_bar(int width, bool replace_mode, const FindBarSizes& sizes) {
    if (width < MulDiv(m::narrow_width, static_cast<int>(sizes.dpi), USER_DEFAULT_SCREEN_DPI)) {
        return narrow_layout(width, replace_mode, sizes);
    }
    return wide_layout(width, replace_mode, sizes);
}

} // namespace pellix
