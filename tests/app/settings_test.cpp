#include <gtest/gtest.h>

#include <windows.h>

#include "app/main_window_state.h"
#include "app/settings.h"
#include "tests/app/settings_key_guard.h"

namespace pellix {
namespace {

const std::wstring test_key = L"Software\\Orvelworks\\Pellix Native Settings Test";

class SettingsKey : public ::testing::Test {
protected:
    test::SettingsKeyGuard key_{test_key};
};

TEST_F(SettingsKey, MissingValuesTakeTheirDefaults) {
    const Settings loaded = load_settings(test_key);
    EXPECT_EQ(loaded.view, 300);
    EXPECT_TRUE(loaded.wrap);
    EXPECT_FALSE(loaded.outline);
    EXPECT_EQ(loaded.outline_width, 220u);
    EXPECT_EQ(loaded.font_size, 12);
    EXPECT_EQ(loaded.split, 0.5);
    EXPECT_EQ(loaded.split_restore, 0.5);
    EXPECT_TRUE(loaded.recent.empty());
    EXPECT_FALSE(loaded.placement_valid);
}

TEST_F(SettingsKey, ValuesOutOfRangeAreClampedOrReplaced) {
    key_.set_dword(L"FontSize", 4);
    key_.set_dword(L"OutlineWidth", 0);
    key_.set_dword(L"Theme", 7);
    key_.set_dword(L"SyntaxColouring", 7);
    key_.set_dword(L"View", 299);
    key_.set_dword(L"Split", 1500);
    key_.set_dword(L"SplitRestore", 0);
    key_.set_dword(L"Wrap", 5);
    Settings loaded = load_settings(test_key);
    EXPECT_EQ(loaded.font_size, 8);
    EXPECT_EQ(loaded.outline_width, 96u);
    EXPECT_EQ(loaded.theme, 2u);
    EXPECT_EQ(loaded.syntax_colouring, 0u);
    EXPECT_EQ(loaded.view, 300);
    EXPECT_EQ(loaded.split, 1.0);
    EXPECT_EQ(loaded.split_restore, 0.1);
    EXPECT_TRUE(loaded.wrap);

    key_.set_dword(L"FontSize", 100);
    key_.set_dword(L"Split", 0);
    loaded = load_settings(test_key);
    EXPECT_EQ(loaded.font_size, 32);
    EXPECT_EQ(loaded.split, 0.0);
    save_settings(test_key, loaded);
    EXPECT_EQ(key_.dword(L"Split"), 0u);
    EXPECT_EQ(key_.dword(L"SplitRestore"), 100u);
    EXPECT_EQ(key_.dword(L"FontSize"), 32u);

    // A value of another type counts as missing.
    RegSetKeyValueW(HKEY_CURRENT_USER, test_key.c_str(), L"View", REG_SZ, L"302", 8);
    EXPECT_EQ(load_settings(test_key).view, 300);
}

TEST_F(SettingsKey, RoundTripRewritesEveryValueAndDropsRecentEntriesPastTheList) {
    Settings values;
    values.view = 302;
    values.wrap = false;
    values.outline = true;
    values.outline_width = 333;
    values.theme = 1;
    values.font_size = 20;
    values.split = 0.3339;
    values.split_restore = 0.75;
    values.line_numbers = false;
    values.autocomplete = false;
    values.syntax_colouring = 1;
    values.recent = {{L"C:\\a.md", 301}, {L"C:\\b.txt", 300}, {L"C:\\c.md", 302}};
    for (size_t i = 0; i < recent_file_limit; ++i) {
        values.recent.push_back({L"C:\\old" + std::to_wstring(i) + L".md", 301});
    }
    save_settings(test_key, values);
    values.recent.resize(3);
    save_settings(test_key, values);

    const Settings loaded = load_settings(test_key);
    EXPECT_EQ(loaded.view, 302);
    EXPECT_FALSE(loaded.wrap);
    EXPECT_TRUE(loaded.outline);
    EXPECT_EQ(loaded.outline_width, 333u);
    EXPECT_EQ(loaded.theme, 1u);
    EXPECT_EQ(loaded.font_size, 20);
    EXPECT_EQ(key_.dword(L"Split"), 333u); // truncated toward zero
    EXPECT_EQ(loaded.split, 0.333);
    EXPECT_EQ(loaded.split_restore, 0.75);
    EXPECT_FALSE(loaded.line_numbers);
    EXPECT_FALSE(loaded.autocomplete);
    EXPECT_EQ(loaded.syntax_colouring, 1u);
    ASSERT_EQ(loaded.recent.size(), 3u);
    EXPECT_EQ(loaded.recent[0].path, L"C:\\a.md");
    EXPECT_EQ(loaded.recent[0].view, 301);
    EXPECT_EQ(loaded.recent[2].path, L"C:\\c.md");
    EXPECT_EQ(key_.dword(L"RecentView3"), ~0u);
    EXPECT_EQ(key_.dword(L"RecentView11"), ~0u);
}

TEST_F(SettingsKey, PlacementIsTakenOnlyWhenWellFormed) {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof(placement);
    placement.showCmd = SW_SHOWMAXIMIZED;
    placement.rcNormalPosition = {10, 20, 810, 620};
    auto store = [&](const void* data, DWORD size) {
        RegSetKeyValueW(HKEY_CURRENT_USER, test_key.c_str(), L"Placement", REG_BINARY, data, size);
    };
    store(&placement, sizeof(placement));
    Settings loaded = load_settings(test_key);
    ASSERT_TRUE(loaded.placement_valid);
    EXPECT_EQ(loaded.placement.rcNormalPosition.right, 810);

    store(&placement, sizeof(placement) - 4);
    EXPECT_FALSE(load_settings(test_key).placement_valid);
    std::vector<char> longer(sizeof(placement) + 4);
    memcpy(longer.data(), &placement, sizeof(placement));
    store(longer.data(), static_cast<DWORD>(longer.size()));
    EXPECT_FALSE(load_settings(test_key).placement_valid);
    placement.rcNormalPosition = {10, 20, 10, 620};
    store(&placement, sizeof(placement));
    EXPECT_FALSE(load_settings(test_key).placement_valid);
}

TEST_F(SettingsKey, CompareModeWritesNothing) {
    const std::wstring saved_key = settings_key;
    settings_key = test_key;
    compare_mode = true;
    settings.font_size = 16;
    persist_settings(true);
    write_setting_dword(L"WelcomeShown", 1);
    compare_mode = false;
    EXPECT_FALSE(test::key_exists(test_key));
    persist_settings(true);
    EXPECT_EQ(key_.dword(L"FontSize"), 16u);
    settings_key = saved_key;
    settings = {};
}

} // namespace
} // namespace pellix
