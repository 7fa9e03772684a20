#pragma once

// The view switcher at the right of the tab row: five toggle buttons (Source, Split and Preview
// as one radio group, then Outline, then Watch) drawn by the program with glyphs and optional
// labels, with tooltips, hover, and arrow-key movement through the view group.

#include <windows.h>

#include <array>
#include <functional>
#include <string>

#include "app/chrome_drawing.h"
#include "app/main_layout.h"
#include "core/palette_table.h"

namespace pellix {

// At 96 DPI: the space between a group's border and its buttons, and between two groups. Six
// margins and two gaps make the layout's allowance for the switcher's frame.
inline constexpr int switcher_group_margin = 2;
inline constexpr int switcher_group_gap = 8;

// The watch state a button shows.
namespace switcher_watch {
inline constexpr unsigned off = 0;
inline constexpr unsigned watching = 1;
inline constexpr unsigned paused = 2;
} // namespace switcher_watch

struct ViewSwitcher {
    HWND window = nullptr;
    HWND tooltip = nullptr;
    // Source, Split, Preview, Outline, Watch.
    std::array<HWND, switcher_buttons> buttons{};
    std::array<std::wstring, switcher_buttons> tooltips;
    // Set by the main window's layout, in pixels.
    std::array<int, switcher_buttons> widths{};
    int gap = 0;
    int margin = 0;
    bool labels = false;
    HFONT font = nullptr; // none: DEFAULT_GUI_FONT
    bool dark = false;
    int selected = 0; // 0 Source, 1 Split, 2 Preview
    unsigned watch_state = switcher_watch::off;
    // The colours in effect when the theme was last applied.
    PaletteTable colours{};
    bool high_contrast = false;
    bool themed = false;
    // Carries out a button's command id.
    std::function<void(unsigned int)> command;
    std::array<BackBuffer, switcher_buttons> buffers;
};

// The command ids of the five buttons, in button order.
inline constexpr std::array<unsigned, switcher_buttons> switcher_commands = {300, 302, 301, 304,
                                                                             324};

// Registers "Pellix.ViewSwitcher" and makes the switcher with its tooltip and five buttons as a
// child of `parent`; the switcher keeps a pointer to `switcher`, which must outlive it. Throws
// std::runtime_error when a window cannot be made.
HWND create_view_switcher(HWND parent, ViewSwitcher& switcher);

// The layout's widths, group spacing (both in pixels) and label choice; the buttons move only
// when something changed.
void set_switcher_sizes(ViewSwitcher& switcher, const std::array<int, switcher_buttons>& widths,
                        int gap, int margin, bool labels);

// Brings the buttons' enabled, checked, tab-stop, text and tooltip states in line with the view
// (300, 301 or 302), the outline pane, the tab's kind and its Watch state.
void update_switcher(ViewSwitcher& switcher, int view, bool outline_visible, bool markdown,
                     unsigned watch_state, bool watch_available, const std::wstring& pause_reason);

// Applies a theme or font change; nothing happens when the theme, colours and font are the same.
void set_switcher_theme(ViewSwitcher& switcher, bool dark, HFONT font);

} // namespace pellix
