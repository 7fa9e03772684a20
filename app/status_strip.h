#pragma once

// The one-line bar along the bottom of the main window: caret, words, the Watch and compare
// states, a notice, zoom, encoding, line ending and format of the active tab. The Watch,
// compare, zoom, encoding and line-ending items are owner-drawn buttons that post their
// command ids to the main window; the strip's window text is every item joined with ", ", so
// that a screen reader hears the whole line.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/chrome_drawing.h"

namespace pellix {

struct DocumentTab;

inline constexpr wchar_t status_strip_class[] = L"Pellix.StatusStrip";

// The command ids of the strip's buttons.
namespace status_command {
inline constexpr unsigned encoding = 360;
inline constexpr unsigned line_ending = 361;
inline constexpr unsigned zoom = 362;
inline constexpr unsigned watch = 363;
inline constexpr unsigned compare = 364;
} // namespace status_command

struct StatusItem {
    std::wstring text;
    unsigned command = 0; // 0 for a plain text item
    bool right = false;   // belongs to the group at the right end
    bool emphasis = false;
    RECT rect{};
    std::uint32_t icon = 0; // glyph resource, 0 for none
    bool link_icon = false; // icon and text in the link colour when not emphasised

    bool operator==(const StatusItem&) const = default;
};

struct StatusStrip {
    BackBuffer buffer;
    HWND window = nullptr;
    bool dark = false;
    HFONT font = nullptr; // none: DEFAULT_GUI_FONT
    std::vector<StatusItem> items;
    std::vector<HWND> buttons; // parallel to `items`; null for plain items
    std::function<void(unsigned int)> click;
};

// What the items are made of besides the tab.
struct StatusInputs {
    std::uint64_t line = 1; // 1-based caret line and column
    std::uint64_t column = 1;
    std::uint64_t words = 0;
    int font_points = 12;
    std::wstring notice;
    bool narrow = false; // the strip is narrower than 800 pixels at 96 DPI
};

// The items for `tab`, in strip order, without rectangles.
std::vector<StatusItem> compose_status_items(const DocumentTab& tab, const StatusInputs& inputs);


// "N min read" for a word count; empty for no words.
std::wstring reading_time_text(std::uint64_t words);

// The main window's strip object and its window (null until made).
StatusStrip& status_strip();

// Registers "Pellix.StatusStrip" and makes the strip as a child of `main` (stored in
// `chrome.status_strip`), its clicks posted to `main` as WM_COMMAND.
HWND create_status_strip(HWND main);

// Places the items and their buttons for the strip's client size.
void layout_status_strip(StatusStrip& strip);

// The theme or the font changed: the strip takes them, lays out and repaints.
void restyle_status_strip(bool dark, HFONT font);

// The reading time the Preview pane's header shows after its title.
const std::wstring& preview_header_note();

} // namespace pellix
