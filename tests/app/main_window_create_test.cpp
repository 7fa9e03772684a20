#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/child_window_class.h"
#include "app/main_window_state.h"
#include "app/status_strip.h"
#include "core/message_box.h"
#include "tests/app/in_process_main_window.h"
#include "tests/app/message_pump.h"
#include "tests/app/settings_key_guard.h"

namespace pellix {
namespace {

const std::wstring test_key = L"Software\\Orvelworks\\Pellix Native Create Test";

LRESULT CALLBACK refuse_creation(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return message == WM_NCCREATE ? FALSE : DefWindowProcW(window, message, wparam, lparam);
}

// A status strip that cannot be made: its class is taken by one that refuses every window.
TEST(MainWindowCreate, AMissingStatusStripFailsCreationWithItsMessage) {
    test::SettingsKeyGuard key{test_key};
    const std::wstring saved_key = test::use_settings_key(test_key);
    instance = GetModuleHandleW(nullptr);
    std::vector<std::wstring> boxes;
    install_message_box([&](const MessageBoxRequest& request) {
        boxes.push_back(request.text);
        return IDOK;
    });
    UnregisterClassW(status_strip_class, instance);
    ASSERT_TRUE(register_child_window_class(status_strip_class, refuse_creation));

    HWND window = test::make_main_window();
    if (window != nullptr) {
        DestroyWindow(window);
    }
    EXPECT_TRUE(test::pump_until([&] { return !boxes.empty(); }));
    UnregisterClassW(status_strip_class, instance);
    install_message_box({});
    test::restore_settings_key(saved_key);

    EXPECT_EQ(window, nullptr);
    EXPECT_EQ(boxes, std::vector<std::wstring>{L"Could not create the native editor controls."});
}

} // namespace
} // namespace pellix
