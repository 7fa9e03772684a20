#pragma once

// The colour tables of every custom-drawn window, owned and updated by the main window, which
// passes the active table to the editor, the preview and printing when they draw.

#include "core/palette_table.h"

namespace pellix {

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

// The theme in effect (chosen by refresh_system_theme): dark, or light. In high contrast it
// follows the brightness of the system's window colour.
inline bool dark_theme = false;

// The table a window paints with: high contrast whatever the window's own dark flag says,
// else dark or light.
inline const PaletteTable& active_palette(bool dark) {
    if (high_contrast) {
        return palette.high_contrast;
    }
    return dark ? palette.dark : palette.light;
}

// The colours handed to a window that paints dark or light: the active table and the flag.
inline PaintColours paint_colours(bool dark) {
    return {active_palette(dark), high_contrast};
}

// The table of the main window's own chrome.
inline const PaletteTable& chrome_palette() {
    return active_palette(dark_theme);
}

// Whether the system's high-contrast mode is on (SPI_GETHIGHCONTRAST, HCF_HIGHCONTRASTON).
bool system_high_contrast();

// The high-contrast table made of the current system colours.
PaletteTable system_colour_palette();

// Reads the system state into `high_contrast` and the tables: the high-contrast table from
// the system colours while that mode is on; otherwise entry 8 of the light and dark tables
// from the desktop colorisation colour when it can be read (it cannot under Wine, which
// leaves the defaults). Called by the main window at start and on system colour changes.
void refresh_system_palette();

} // namespace pellix
