#pragma once

// Reads back the frame an editor window presented last and finds the rows it left undrawn: a
// row whose text area holds only background, a line whose gutter holds no digit.

#include <windows.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "editor/source_record.h"
#include "platform/dib_surface.h"

namespace pellix::test {

inline int client_width(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    return client.right;
}

inline int client_height(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    return client.bottom;
}

// The frame an editor presented last, read back from its render target: what reaches the
// window, without waiting for Wine to bring it to the screen. The read presents the same frame
// once more.
class FramePixels {
public:
    explicit FramePixels(HWND editor) : surface_(client_width(editor), client_height(editor)) {
        copied_ = copy_frame(*source_record(editor), surface_.dc());
    }
    bool copied() const { return copied_; }
    std::uint32_t at(int x, int y) const { return surface_.pixel(x, y); }

private:
    DibSurface surface_;
    bool copied_ = false;
};

// How many pixels of the window's client area two readings of it tell apart.
template <typename First, typename Second>
int differing_pixels(HWND window, const First& first, const Second& second) {
    const int width = client_width(window);
    const int height = client_height(window);
    int differing = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            differing += first.at(x, y) != second.at(x, y) ? 1 : 0;
        }
    }
    return differing;
}

struct EditorFrame {
    // Rows of one base line height from the top of the view, 0-based.
    std::vector<int> blank_rows;
    std::vector<std::uint64_t> lines_without_number;
    bool copied = false;
    int rows_read = 0;
    int numbers_read = 0;
};

// The last frame of `editor`; every row of the view is expected to hold text (lines that
// are not empty, or one long wrapped line), and every line's number when numbers are shown.
inline EditorFrame read_editor_frame(HWND editor) {
    Source& source = *source_record(editor);
    RECT client{};
    GetClientRect(editor, &client);
    const FramePixels surface(editor);
    EditorFrame frame;
    frame.copied = surface.copied();
    const double scale = source.dpi / 96.0;
    const std::uint32_t background = source.palette.table[palette_slot::background];
    const std::uint32_t gutter = source.palette.table[palette_slot::gutter];
    const double row = base_line_height(source);
    const int text_left = static_cast<int>(std::ceil(text_left_edge(source) * scale));
    const int gutter_right = static_cast<int>(std::floor(gutter_width(source) * scale));
    // A drawn row shows its ground colour and something else on it: a frame that never
    // reached the screen (black) or was never drawn counts as blank.
    auto only = [&](std::uint32_t colour, int left, int right, double top, double bottom) {
        bool ground = false;
        bool ink = false;
        for (int y = static_cast<int>(std::ceil(top * scale));
             y < static_cast<int>(std::floor(bottom * scale)); ++y) {
            for (int x = left; x < right; ++x) {
                (surface.at(x, y) == colour ? ground : ink) = true;
            }
        }
        return !(ground && ink);
    };
    const double view = client.bottom / scale;
    const auto last_line = source.document.line_count() - 1;
    const double text_end = source.heights.prefix(source.heights.size()) - source.scroll_y;
    for (int r = 0; (r + 1) * row <= std::min(view, text_end); ++r) {
        ++frame.rows_read;
        if (only(background, text_left, client.right, r * row, (r + 1) * row)) {
            frame.blank_rows.push_back(r);
        }
    }
    if (source.line_numbers) {
        for (std::uint64_t line = line_at_height(source.heights, source.scroll_y);
             line <= last_line; ++line) {
            const double top = source.heights.prefix(line) - source.scroll_y;
            if (top + row > view) {
                break;
            }
            if (top < 0.0) {
                continue;
            }
            ++frame.numbers_read;
            if (only(gutter, 0, gutter_right, top, top + row)) {
                frame.lines_without_number.push_back(line);
            }
        }
    }
    return frame;
}

} // namespace pellix::test
