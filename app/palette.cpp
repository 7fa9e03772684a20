#include "app/palette.h"

#include <windows.h>
#include <dwmapi.h>

#include <iterator>

namespace pellix {

bool system_high_contrast() {
    HIGHCONTRASTW settings{};
    settings.cbSize = sizeof(settings);
    if (!SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(settings), &settings, 0)) {
        return false;
    }
    return (settings.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

PaletteTable system_colour_palette() {
    // The system colour each slot stands for; the two toggled-button slots have none and stay
    // black.
    static constexpr int sources[9] = {
        COLOR_WINDOW,     COLOR_BTNFACE,   COLOR_WINDOWTEXT, COLOR_GRAYTEXT,  COLOR_HOTLIGHT,
        COLOR_WINDOWTEXT, COLOR_HIGHLIGHT, COLOR_WINDOW,     COLOR_HIGHLIGHT,
    };
    PaletteTable table{};
    for (size_t i = 0; i < std::size(sources); ++i) {
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
