#pragma once

// The real main window made in this process for the pane tests: settings under a test key,
// every message box answered and recorded, files written to a scratch folder.

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_window_create.h"
#include "app/main_window_state.h"
#include "app/prompts.h"
#include "app/settings.h"
#include "tests/app/in_process_main_window.h"
#include "tests/app/message_pump.h"
#include "tests/app/settings_key_guard.h"
#include "tests/scratch_folder.h"

namespace pellix::test {

inline const std::wstring panes_test_key = L"Software\\Orvelworks\\Pellix Native Panes Test";

inline std::wstring text_of(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

class PanesWindow : public ::testing::Test {
protected:
    void SetUp() override {
        instance = GetModuleHandleW(nullptr);
        saved_key_ = test::use_settings_key(panes_test_key);
        install_message_box([this](const MessageBoxRequest& request) {
            boxes_.push_back(request.text);
            return IDOK;
        });
        WNDCLASSEXW existing{};
        existing.cbSize = sizeof(WNDCLASSEXW);
        registered_ = register_main_window_class();
        ASSERT_TRUE(registered_ || GetClassInfoExW(instance, main_window_class(), &existing));
        window_ = create_main_window();
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        if (IsWindow(window_)) {
            DestroyWindow(window_);
        }
        pump(50);
        // Other suites of this program register the class themselves.
        if (registered_) {
            UnregisterClassW(main_window_class(), instance);
        }
        install_message_box({});
        pending_paths.clear();
        file_work_busy = false;
        test::restore_settings_key(saved_key_);
    }

    static void pump(DWORD milliseconds) { test::pump(milliseconds); }

    std::filesystem::path file(const std::string& name, const std::string& bytes) {
        const std::filesystem::path path = folder_ / name;
        write_bytes(path, bytes);
        return path;
    }

    // Typing as the editor's own undoable replacement of the selection.
    static void type(const wchar_t* text) {
        SendMessageW(chrome.editor, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text));
    }

    static void select(LONG from, LONG to) {
        CHARRANGE range{from, to};
        SendMessageW(chrome.editor, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    }

    static LONG caret() {
        CHARRANGE range{};
        SendMessageW(chrome.editor, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
        return range.cpMin;
    }

    SettingsKeyGuard key_{panes_test_key};
    ScratchFolder folder_{"panes"};
    std::wstring saved_key_;
    HWND window_ = nullptr;
    bool registered_ = false;
    std::vector<std::wstring> boxes_;
};

} // namespace pellix::test
