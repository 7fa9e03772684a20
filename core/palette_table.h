#pragma once

// The shape of a colour table that every custom-drawn window paints with. The tables
// themselves belong to the main window, which passes the active one to the windows it hosts.

#include <array>
#include <cstdint>

namespace pellix {

// Eleven 0x00RRGGBB colours, indexed 0-10.
using PaletteTable = std::array<std::uint32_t, 11>;

// Indices other windows read; entries 5, 6, 9 and 10 are the main window's alone.
namespace palette_slot {
inline constexpr int background = 0;      // editor and page background
inline constexpr int gutter = 1;          // editor gutter background
inline constexpr int text = 2;            // body text
inline constexpr int muted = 3;           // secondary text, lines, borders
inline constexpr int link = 4;            // links, quote bars, the editor's accent
inline constexpr int code_background = 7; // code blocks and inline code
inline constexpr int selection = 8;       // selection; follows the desktop colorisation colour
} // namespace palette_slot

// What a custom-drawn window paints with at one moment: the table for its mode, and whether the
// system is in high-contrast mode (selections then become opaque and selected text takes the
// system's highlight-text colour). The main window hands these down; lower windows never read
// its tables directly.
struct PaintColours {
    PaletteTable table{};
    bool high_contrast = false;
};

// 0x00BBGGRR (COLORREF) to 0x00RRGGBB and back; swapping the red and blue bytes is its own
// inverse.
inline std::uint32_t colour_from_colorref(std::uint32_t colorref) {
    return ((colorref & 0xFF) << 16) | (colorref & 0xFF00) | ((colorref >> 16) & 0xFF);
}
inline std::uint32_t colorref_from_colour(std::uint32_t colour) {
    return colour_from_colorref(colour);
}

} // namespace pellix
