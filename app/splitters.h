#pragma once

// The two splitters of the main window: the divider between Source and Preview in Split view
// and the outline pane's left edge, with their hover state and drags.

#include <windows.h>

#include <optional>

namespace pellix {

enum class SplitterPart { none, split_divider, outline_splitter };

// Below and above these shares a pane counts as hidden; a share between them is remembered so
// that a collapsed pane can come back.
inline constexpr double collapse_low = 0.02;
inline constexpr double collapse_high = 0.98;
inline constexpr unsigned default_outline_width = 220;

// The part drawn in the hot colour: the one hovered or dragged.
SplitterPart hot_splitter();

// The Source share for the divider dragged to `x` in a main area `width` wide.
double split_share_at(int x, int width);

// The outline width (at 96 DPI) for its edge dragged to `x` in a client `client_width` wide.
unsigned outline_width_at(int client_width, int x, unsigned dpi);

// A double click on the divider: a shown pair collapses toward the larger pane (remembering the
// share); a collapsed pair comes back to the remembered share.
struct SplitShares {
    double split;
    double restore;
};
SplitShares toggle_split(SplitShares shares);

// The answer to a mouse or cursor message that belongs to the splitters.
std::optional<LRESULT> splitter_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

} // namespace pellix
