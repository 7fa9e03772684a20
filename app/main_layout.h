#pragma once

// Where every child of the main window goes for a client size, DPI, view, split share, outline
// width and find bar state, and the two splitters the user drags: the divider between Source
// and Preview in Split view and the outline pane's left edge.

#include <windows.h>

#include <array>

#include "app/child_placement.h"

namespace pellix {

// Pixel metrics at 96 DPI, scaled by the window's DPI.
namespace layout_metric {
inline constexpr int status_height = 24;
inline constexpr int tab_row_height = 36;
inline constexpr int tab_padding_x = 23;
inline constexpr int tab_padding_y = 6;
inline constexpr int min_tab_width = 64;
inline constexpr int switcher_label_padding = 42;
inline constexpr int switcher_icon_button = 28;
inline constexpr int switcher_margin = 28; // twice three gaps of 2 and a padding of 8
inline constexpr int switcher_right_gap = 8;
inline constexpr int reserved_tab_padding = 46;
inline constexpr int reserved_tab_row = 320;
inline constexpr int switcher_icon = 16;
inline constexpr int min_outline_main = 160;
inline constexpr int splitter_width = 5;
inline constexpr int header_height = 32;
inline constexpr int find_row_height = 36;
inline constexpr int narrow_find_pane = 260;
inline constexpr int hide_button_width = 30;
inline constexpr int headings_button_width = 72;
inline constexpr int tasks_button_width = 52;
inline constexpr int tree_indent = 6;
} // namespace layout_metric

// Raw pixels, never scaled.
inline constexpr int min_outline_width_pixels = 96;
inline constexpr int outline_percent_of_width = 30;

// The view switcher's five buttons in the order Source, Split, Preview, Outline, Watch.
inline constexpr size_t switcher_buttons = 5;

// Text widths measured in the switcher's font, in pixels.
struct SwitcherTexts {
    std::array<int, switcher_buttons> labels{}; // "Source", "Split", "Preview", "Outline", "Watch"
    int paused = 0;                             // "Paused"
    int untitled = 0;                           // "Untitled 999"
};

struct LayoutInput {
    int width = 0;
    int height = 0;
    unsigned dpi = USER_DEFAULT_SCREEN_DPI;
    int view = 300;
    bool markdown = true;
    bool outline = false;
    unsigned outline_width = 220;
    double split = 0.5;
    bool find_bar_visible = false;
    bool find_replace_row = false;
    int find_bar_client_width = 0;
    SwitcherTexts texts;
};

struct SwitcherLayout {
    std::array<int, switcher_buttons> widths{};
    int total = 0;
    bool labels = false;
    int icon_size = 0;
};

struct MainLayout {
    int view = 300; // the view after the rule that non-Markdown tabs show Source
    int effective_view = 300;
    bool show_outline = false;
    bool source_shown = false;
    bool preview_shown = false;
    RECT status{}, tabs{}, switcher{}, separator{};
    SwitcherLayout switcher_layout;
    RECT split_divider{}, outline_splitter{};
    RECT editor{}, preview{}, find_bar{};
    RECT source_label{}, hide_source{}, preview_label{}, hide_preview{};
    RECT outline_label{}, headings{}, tasks{}, outline_options{}, tree{};
};

MainLayout compute_layout(const LayoutInput& input);

// The layout last applied; painting and hit tests use it.
extern MainLayout current_layout;

// Lays every child out for the current state and repaints the window. Does nothing before the
// children exist.
void layout_window();

// Splitter hit tests on a WM_* mouse LPARAM in client coordinates.
bool hit_outline_splitter(LPARAM point);
bool hit_split_divider(LPARAM point);

} // namespace pellix
