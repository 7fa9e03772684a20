#include "app/palette.h"

#include <windows.h>
#include <dwmapi.h>

namespace pellix {

bool system_high_contrast() {
    HIGHCONTRASTW settings{};
    settings.cbSize = sizeof(settings);
    if (!SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(settings), &settings, 0)) {
        return false;
    }
    return (settings.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

std::uint32_t colour_from_colorref(std::uint32_t colorref) {
    return ((colorref & 0xFF) << 16) | (colorref & 0xFF00) | ((colorref >> 16) & 0xFF);
}

std::uint32_t colorref_from_colour(std::uint32_t colour) {
    // Swapping the red and blue bytes is its own inverse.
    return colour_from_colorref(colour);
}

PaletteTable system_colour_palette() {
    // Which system colour stands for each slot; the shared slots follow what they are used
    // for (page, text, grey text, links, selection), the main window's own slots take the
    // nearest button and highlight colours.
    static constexpr int sources[11] = {
        COLOR_WINDOW,    COLOR_BTNFACE,   COLOR_WINDOWTEXT, COLOR_GRAYTEXT,
        COLOR_HOTLIGHT,  COLOR_BTNSHADOW, COLOR_BTNFACE,    COLOR_BTNFACE,
        COLOR_HIGHLIGHT, COLOR_HIGHLIGHT, COLOR_HOTLIGHT,
    };
    PaletteTable table{};
    for (size_t i = 0; i < table.size(); ++i) {
        table[i] = colour_from_colorref(GetSysColor(sources[i]));
    }
    return table;
}

void refresh_system_palette() {
    high_contrast = system_high_contrast();
    if (high_contrast) {
        palette.high_contrast = system_colour_palette();
        return;
    }
    DWORD colorization = 0;
    BOOL opaque = FALSE;
    if (SUCCEEDED(DwmGetColorizationColor(&colorization, &opaque))) {
        palette.light[palette_slot::selection] = colorization & 0xFFFFFF;
        palette.dark[palette_slot::selection] = colorization & 0xFFFFFF;
    }
}

} // namespace pellix
