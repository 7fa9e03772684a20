#include <gtest/gtest.h>
#include <windows.h>
#include <dwmapi.h>

#include "app/palette.h"

using namespace pellix;

namespace {

// Restores the process-wide tables after each case.
class PaletteState : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = palette;
        saved_high_contrast_ = high_contrast;
    }
    void TearDown() override {
        palette = saved_;
        high_contrast = saved_high_contrast_;
    }
    Palette saved_{};
    bool saved_high_contrast_ = false;
};

} // namespace

TEST_F(PaletteState, TablesHoldTheDocumentedColours) {
    EXPECT_EQ(palette.light[0], 0xFAFAFAu);
    EXPECT_EQ(palette.light[7], 0xECEEF0u);
    EXPECT_EQ(palette.light[10], 0xA9CDE0u);
    EXPECT_EQ(palette.dark[0], 0x1F1F1Fu);
    EXPECT_EQ(palette.dark[4], 0x7ECFF0u);
    EXPECT_EQ(palette.dark[10], 0x3D4C54u);
}

TEST_F(PaletteState, HighContrastWinsOverTheDarkFlag) {
    palette.high_contrast.fill(0x123456);
    high_contrast = false;
    EXPECT_EQ(&active_palette(false), &palette.light);
    EXPECT_EQ(&active_palette(true), &palette.dark);
    high_contrast = true;
    EXPECT_EQ(&active_palette(false), &palette.high_contrast);
    EXPECT_EQ(&active_palette(true), &palette.high_contrast);
}

TEST_F(PaletteState, ColourOrderConversions) {
    EXPECT_EQ(colour_from_colorref(0x00332211), 0x00112233u);
    EXPECT_EQ(colorref_from_colour(0x00112233), 0x00332211u);
    EXPECT_EQ(colour_from_colorref(colorref_from_colour(0xABCDEF)), 0xABCDEFu);
}

TEST_F(PaletteState, HighContrastTableComesFromSystemColours) {
    const auto system = [](int index) { return colour_from_colorref(GetSysColor(index)); };
    const PaletteTable expected{
        system(COLOR_WINDOW),
        system(COLOR_BTNFACE),
        system(COLOR_WINDOWTEXT),
        system(COLOR_GRAYTEXT),
        system(COLOR_HOTLIGHT),
        system(COLOR_WINDOWTEXT),
        system(COLOR_HIGHLIGHT),
        system(COLOR_WINDOW),
        system(COLOR_HIGHLIGHT),
        0,
        0,
    };
    EXPECT_EQ(system_colour_palette(), expected);
}

TEST_F(PaletteState, RefreshFollowsTheSystem) {
    refresh_system_palette();
    EXPECT_EQ(high_contrast, system_high_contrast());
    DWORD colorization = 0;
    BOOL opaque = FALSE;
    if (FAILED(DwmGetColorizationColor(&colorization, &opaque))) {
        // Wine cannot read the colour: the defaults stay.
        EXPECT_EQ(palette.light[8], 0x0078D4u);
        EXPECT_EQ(palette.dark[8], 0x458FEAu);
    } else if (!high_contrast) {
        EXPECT_EQ(palette.light[8], colorization & 0xFFFFFF);
        EXPECT_EQ(palette.dark[8], colorization & 0xFFFFFF);
    }
    // Entries other than 8 never change.
    EXPECT_EQ(palette.light[4], 0x0078AAu);
}
