#include <gtest/gtest.h>

#include <windows.h>

#include "app/prompts.h"
#include "app/theme.h"
#include "app/ui_fonts.h"

namespace pellix {
namespace {

TEST(Theme, DarkFlagFromSettingSystemValueAndBrightness) {
    EXPECT_FALSE(theme_is_dark(0, std::nullopt)); // "AppsUseLightTheme" missing: light
    EXPECT_TRUE(theme_is_dark(0, 0));
    EXPECT_FALSE(theme_is_dark(0, 1));
    EXPECT_FALSE(theme_is_dark(1, 0));
    EXPECT_TRUE(theme_is_dark(2, 1));

    EXPECT_TRUE(is_dark_colour(0x000000));
    EXPECT_FALSE(is_dark_colour(0xFFFFFF));
    EXPECT_TRUE(is_dark_colour(0x7F7F7F));  // 127 x 1000 = 127000
    EXPECT_FALSE(is_dark_colour(0x808080)); // 128000 is not below
    EXPECT_FALSE(is_dark_colour(0x00FF00)); // green weighs most
    EXPECT_TRUE(is_dark_colour(0xFF0000));
}

TEST(Theme, MenuModeFollowsThemeHighContrastAndTheSwitch) {
    EXPECT_EQ(choose_menu_theme(true, true, true, true, true, false), (MenuTheme{true, 2}));
    EXPECT_EQ(choose_menu_theme(true, true, true, true, false, false), (MenuTheme{false, 3}));
    EXPECT_EQ(choose_menu_theme(true, true, true, true, true, true), (MenuTheme{false, 0}));
    EXPECT_EQ(choose_menu_theme(true, true, true, false, true, false), (MenuTheme{false, 0}));
    EXPECT_EQ(choose_menu_theme(false, true, true, true, true, false), (MenuTheme{false, 0}));
    EXPECT_EQ(choose_menu_theme(true, false, true, true, true, false), (MenuTheme{false, 0}));
}

TEST(Theme, PreviewZoomAndFontCache) {
    EXPECT_EQ(preview_zoom_for(12), 1.0);
    EXPECT_EQ(preview_zoom_for(32), 32 / 12.0);
    EXPECT_EQ(preview_zoom_for(8), 8 / 12.0);
    EXPECT_EQ(preview_zoom_for(4), 0.5);
    EXPECT_EQ(preview_zoom_for(60), 4.0);

    HFONT small = editor_font(12, 96);
    ASSERT_NE(small, nullptr);
    HFONT large = editor_font(12, 144);
    EXPECT_NE(large, small);
    EXPECT_EQ(editor_font(12, 96), small);
    LOGFONTW font{};
    GetObjectW(large, sizeof(font), &font);
    EXPECT_EQ(font.lfHeight, -24);
    release_theme_resources();
}

TEST(UiFonts, IconFontHeightFollowsDpi) {
    EXPECT_EQ(icon_font_height(96), -13);
    EXPECT_EQ(icon_font_height(144), -20);
}

TEST(ErrorBox, InvalidBytesAreShownAsReplacementCharactersWithoutThrowing) {
    std::vector<MessageBoxRequest> shown;
    install_message_box([&](const MessageBoxRequest& request) {
        shown.push_back(request);
        return IDOK;
    });
    show_error_message(std::runtime_error("Could not open C:\\caf\xE9\xFF.md."));
    show_error_message(std::runtime_error("Gr\xC3\xBC\xC3\x9F"));
    install_message_box({});
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, L"Could not open C:\\caf\xFFFD\xFFFD.md.");
    EXPECT_EQ(shown[0].caption, L"Pellix");
    EXPECT_EQ(shown[0].style, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(shown[0].owner, nullptr);
    EXPECT_EQ(shown[1].text, L"Gr\xFC\xDF");
}

} // namespace
} // namespace pellix
