#pragma once

// The colour tables of every custom-drawn window. The values live in this header (inline
// variables) so that the editor, the preview and printing read them without linking the main
// window; the main window owns and updates them through the functions of palette.cpp.

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

struct Palette {
    PaletteTable light;
    PaletteTable dark;
    // Filled from the system colours while the system's high-contrast mode is on.
    PaletteTable high_contrast;
};

inline Palette palette{
    {0xFAFAFA, 0xF2F4F5, 0x1E1E1E, 0x696969, 0x0078AA, 0xE1E4E6, 0xE6E9EB, 0xECEEF0, 0x0078D4,
     0xDCECF4, 0xA9CDE0},
    {0x1F1F1F, 0x181818, 0xEBEBEB, 0x9B9B9B, 0x7ECFF0, 0x2B2B2B, 0x2A2A2A, 0x2B2D30, 0x458FEA,
     0x2F3A40, 0x3D4C54},
    {},
};

// True while the system reports high-contrast mode; UI thread only.
inline bool high_contrast = false;

// The table a window paints with: high contrast whatever the window's own dark flag says,
// else dark or light.
inline const PaletteTable& active_palette(bool dark) {
    if (high_contrast) {
        return palette.high_contrast;
    }
    return dark ? palette.dark : palette.light;
}

// Whether the system's high-contrast mode is on (SPI_GETHIGHCONTRAST, HCF_HIGHCONTRASTON).
bool system_high_contrast();

// The high-contrast table made of the current system colours.
PaletteTable system_colour_palette();

// 0x00BBGGRR (COLORREF) to 0x00RRGGBB and back; swapping the red and blue bytes is its own
// inverse.
inline std::uint32_t colour_from_colorref(std::uint32_t colorref) {
    return ((colorref & 0xFF) << 16) | (colorref & 0xFF00) | ((colorref >> 16) & 0xFF);
}
inline std::uint32_t colorref_from_colour(std::uint32_t colour) {
    return colour_from_colorref(colour);
}

// Reads the system state into `high_contrast` and the tables: the high-contrast table from
// the system colours while that mode is on; otherwise entry 8 of the light and dark tables
// from the desktop colorisation colour when it can be read (it cannot under Wine, which
// leaves the defaults). Called by the main window at start and on system colour changes.
void refresh_system_palette();

} // namespace pellix
