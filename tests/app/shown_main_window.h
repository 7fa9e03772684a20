#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>

#include "app/main_window_state.h"
#include "app/recovery_store.h"
#include "core/message_box.h"
#include "core/window_work.h"
#include "tests/app/in_process_main_window.h"
#include "tests/app/message_pump.h"
#include "tests/app/settings_key_guard.h"
#include "tests/scratch_folder.h"

namespace pellix::test {

// The real main window in this process, shown at 1000 by 700 with file work disabling it as the
// program's does, its settings under `key`, its recovery store in "store" of a scratch folder,
// and every message box answered `answer`.
class ShownMainWindow : public ::testing::Test {
protected:
    ShownMainWindow(std::wstring key, const std::string& folder, int answer)
        : key_(key), folder_(folder), settings_key_(std::move(key)), answer_(answer) {}

    void SetUp() override {
        saved_key_ = use_settings_key(settings_key_);
        saved_folder_ = recovery_folder_override;
        recovery_folder_override = folder_ / "store";
        install_message_box([answer = answer_](const MessageBoxRequest&) { return answer; });
        window_ = make_main_window();
        ASSERT_NE(window_, nullptr);
        install_main_window_file_work_host();
        // Under Wine without a window manager, hiding a shown window waits two seconds for the
        // X server; the panes must be on screen to paint.
        SetWindowPos(window_, nullptr, 0, 0, 1000, 700, SWP_NOZORDER | SWP_NOACTIVATE);
        ShowWindow(window_, SW_SHOWNOACTIVATE);
        pump(50);
    }

    void TearDown() override {
        if (IsWindow(window_)) {
            DestroyWindow(window_);
        }
        pump(50);
        install_message_box({});
        install_file_work_host({});
        recovery_folder_override = saved_folder_;
        restore_settings_key(saved_key_);
    }

    SettingsKeyGuard key_;
    ScratchFolder folder_;
    HWND window_ = nullptr;

private:
    std::wstring settings_key_;
    int answer_;
    std::wstring saved_key_;
    std::filesystem::path saved_folder_;
};

} // namespace pellix::test
