#pragma once

// The real main window in this process, hidden, for the find, replace and formatting cases:
// its active editor takes a text directly, and every box the window shows is answered and kept.

#include <gtest/gtest.h>

#include <windows.h>
#include <richedit.h>

#include <string>
#include <vector>

#include "app/find_bar.h"
#include "app/find_replace.h"
#include "app/hosted_units.h"
#include "app/main_window_create.h"
#include "app/main_window_state.h"
#include "app/prompts.h"
#include "app/settings.h"
#include "core/source_document.h"
#include "editor/source_interface.h"
#include "tests/app/in_process_main_window.h"
#include "tests/app/message_pump.h"
#include "tests/app/settings_key_guard.h"

namespace pellix::test {

class EditingWindow : public ::testing::Test {
protected:
    void SetUp() override {
        instance = GetModuleHandleW(nullptr);
        saved_key_ = test::use_settings_key(key_name);
        // The find strings and options outlive a main window, as they do in the program.
        find_texts = {};
        install_message_box([this](const MessageBoxRequest& request) {
            boxes_.push_back(request);
            return IDOK;
        });
        window_ = test::make_main_window();
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        cancel_replace_all();
        if (IsWindow(window_)) {
            DestroyWindow(window_);
        }
        pump(20);
        install_message_box({});
        test::restore_settings_key(saved_key_);
    }

public:
    // A new document in the active editor: caret at 0, nothing to undo.
    static void set_text(const std::u16string& text) {
        SourceDocument document;
        document.assign(text);
        replace_editor_document(chrome.editor, std::move(document));
    }
    static std::u16string text() { return source_text(chrome.editor); }

    static void select(LONG start, LONG end) {
        CHARRANGE range{start, end};
        SendMessageW(chrome.editor, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    }
    static CHARRANGE selection() {
        CHARRANGE range{};
        SendMessageW(chrome.editor, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
        return range;
    }
    static bool undo() { return SendMessageW(chrome.editor, EM_UNDO, 0, 0) != 0; }
    static bool can_undo() { return SendMessageW(chrome.editor, EM_CANUNDO, 0, 0) != 0; }
    static bool read_only() {
        return (GetWindowLongPtrW(chrome.editor, GWL_STYLE) & ES_READONLY) != 0;
    }

    // Typed the way the editor takes keys: one WM_CHAR per unit.
    static void type(const std::wstring& typed) {
        for (wchar_t unit : typed) {
            SendMessageW(chrome.editor, WM_CHAR, unit, 0);
        }
    }

    static void set_box(HWND box, const std::wstring& value) { SetWindowTextW(box, value.c_str()); }
    static void click(int id) {
        SendMessageW(chrome.find_bar, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(chrome.find_bar, id)));
    }

protected:
    static void pump(DWORD milliseconds) { test::pump(milliseconds); }
    template <typename Done>
    static bool pump_until(Done done, DWORD limit_ms = test::settle_limit_ms) {
        return test::pump_until(done, limit_ms);
    }

    static constexpr wchar_t key_name[] = L"Software\\Orvelworks\\Pellix Native Find Test";
    SettingsKeyGuard key_{key_name};
    std::wstring saved_key_;
    HWND window_ = nullptr;
    std::vector<MessageBoxRequest> boxes_;
};

} // namespace pellix::test
