#pragma once

// The real main window in this process, hidden, with its files in a scratch folder and every
// box, task dialog and file dialog answered from the test's scripts (each answer once, in order;
// an empty script cancels).

#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/document_tabs.h"
#include "app/file_dialogs.h"
#include "app/hosted_units.h"
#include "app/main_layout.h"
#include "app/main_window_create.h"
#include "app/main_window_state.h"
#include "app/prompts.h"
#include "app/settings.h"
#include "tests/app/in_process_main_window.h"
#include "tests/app/message_pump.h"
#include "tests/app/settings_key_guard.h"
#include "tests/scratch_folder.h"

namespace pellix::test {

struct TaskDialogSeen {
    std::wstring title;
    std::wstring instruction;
    std::wstring content;
    std::vector<std::wstring> buttons;
    int default_button = 0;
    DWORD flags = 0;
};

class OpenTabsWindow : public ::testing::Test {
protected:
    explicit OpenTabsWindow(const char* name)
        : key_name_(L"Software\\Orvelworks\\Pellix Native " +
                    std::wstring(name, name + strlen(name))),
          key_(key_name_), folder_(name) {}

    void SetUp() override {
        instance = GetModuleHandleW(nullptr);
        saved_key_ = test::use_settings_key(key_name_);
        install_message_box([this](const MessageBoxRequest& request) {
            boxes_.push_back(request);
            return next(box_answers_, IDCANCEL);
        });
        install_task_dialog([this](const TASKDIALOGCONFIG& config) {
            TaskDialogSeen seen{config.pszWindowTitle,
                                config.pszMainInstruction,
                                config.pszContent != nullptr ? config.pszContent : L"",
                                {},
                                config.nDefaultButton,
                                static_cast<DWORD>(config.dwFlags)};
            for (UINT i = 0; i < config.cButtons; ++i) {
                seen.buttons.emplace_back(config.pButtons[i].pszButtonText);
            }
            task_dialogs_.push_back(seen);
            return next(task_answers_, IDCANCEL);
        });
        install_file_dialog([](OPENFILENAMEW&, bool) { return FALSE; });
        window_ = test::make_main_window();
        ASSERT_NE(window_, nullptr);
        ASSERT_EQ(tabs.size(), 1u);
        layout_window();
    }

    void TearDown() override {
        if (IsWindow(window_)) {
            DestroyWindow(window_);
        }
        pump(50);
        install_message_box({});
        install_task_dialog({});
        install_file_dialog({});
        pending_paths.clear();
        discarded_at_close.clear();
        closing = false;
        test::restore_settings_key(saved_key_);
    }

    static int next(std::deque<int>& script, int otherwise) {
        if (script.empty()) {
            return otherwise;
        }
        const int answer = script.front();
        script.pop_front();
        return answer;
    }

    std::filesystem::path file(const std::filesystem::path& name, const std::string& bytes) {
        const std::filesystem::path path = (folder_ / name).lexically_normal();
        std::filesystem::create_directories(path.parent_path());
        write_bytes(path, bytes);
        return path;
    }

    static void type(const wchar_t* text) {
        SendMessageW(chrome.editor, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text));
    }
    static bool modified(const DocumentTab& tab) {
        return SendMessageW(tab.editor, EM_GETMODIFY, 0, 0) != 0;
    }
    static std::uint64_t index_of(const std::filesystem::path& path) {
        return find_tab_by_path(path, no_tab);
    }
    std::wstring last_box() const { return boxes_.empty() ? L"" : boxes_.back().text; }

    // The strip told that the user chose item `index`, as the tab control tells it.
    static void choose_in_strip(int index) {
        SendMessageW(chrome.tab_control, TCM_SETCURSEL, index, 0);
        NMHDR header{chrome.tab_control, static_cast<UINT_PTR>(child_id::tab_control),
                     static_cast<UINT>(TCN_SELCHANGE)};
        SendMessageW(main_window, WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
    }

    // The window shown at a set size, for cases that read the screen back. Under Wine without a
    // window manager, hiding a shown window waits two seconds for the X server: it stays shown.
    void show_on_screen() const {
        SetWindowPos(window_, nullptr, 0, 0, 1000, 700, SWP_NOZORDER | SWP_NOACTIVATE);
        ShowWindow(window_, SW_SHOWNOACTIVATE);
    }

    static void pump(DWORD milliseconds) { test::pump(milliseconds); }
    template <typename Done>
    static bool pump_until(Done done, DWORD limit_ms = test::settle_limit_ms) {
        return test::pump_until(done, limit_ms);
    }

    std::wstring key_name_;
    SettingsKeyGuard key_;
    ScratchFolder folder_;
    std::wstring saved_key_;
    HWND window_ = nullptr;
    std::vector<MessageBoxRequest> boxes_;
    std::deque<int> box_answers_;
    std::vector<TaskDialogSeen> task_dialogs_;
    std::deque<int> task_answers_;
};

} // namespace pellix::test
