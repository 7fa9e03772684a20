#include "shell/markdown_files_dialog.h"

#include "platform/unique_registry_key.h"
#include "shell/registration_plan.h"
#include "shell/registration_status.h"

#include <gtest/gtest.h>
#include <commctrl.h>
#include <objbase.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace pellix {
namespace {

using namespace std::chrono_literals;

constexpr wchar_t dialog_title[] = L"Pellix Markdown files";
constexpr auto window_wait = 10s;

std::wstring window_text(HWND window) {
    wchar_t text[2048] = {};
    GetWindowTextW(window, text, 2048);
    return text;
}

// The texts of a window's children, in creation order.
std::vector<std::wstring> child_texts(HWND window) {
    std::vector<std::wstring> texts;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM list) {
            reinterpret_cast<std::vector<std::wstring>*>(list)->push_back(window_text(child));
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&texts));
    return texts;
}

// A window with the title other than `previous`, or null after a bounded wait.
HWND wait_for_window(const wchar_t* title, HWND previous = nullptr) {
    for (auto deadline = std::chrono::steady_clock::now() + window_wait;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(20ms)) {
        HWND window = FindWindowW(nullptr, title);
        if (window != nullptr && window != previous && IsWindowVisible(window)) {
            return window;
        }
    }
    return nullptr;
}

// What one showing of the dialog offered.
struct Showing {
    std::vector<std::wstring> texts;
    bool register_buttons = false;
    bool registered_buttons = false;
};

bool has_text_starting(const Showing& showing, const std::wstring& start) {
    for (const std::wstring& text : showing.texts) {
        if (text.rfind(start, 0) == 0) {
            return true;
        }
    }
    return false;
}

// Runs `drive` beside a modal call on this thread; whatever it leaves open is closed, so the
// modal call always returns.
template <class Modal, class Drive> void drive_modal(Modal modal, Drive drive) {
    std::atomic<bool> returned = false;
    std::thread driver([&] {
        drive();
        while (!returned) {
            if (HWND dialog = FindWindowW(nullptr, dialog_title)) {
                PostMessageW(dialog, WM_CLOSE, 0, 0);
            }
            for (const wchar_t* box : {L"Markdown files", L"Default apps"}) {
                if (HWND window = FindWindowW(nullptr, box)) {
                    PostMessageW(window, WM_COMMAND, IDOK, 0);
                }
            }
            std::this_thread::sleep_for(50ms);
        }
    });
    modal();
    returned = true;
    driver.join();
}

TEST(MarkdownFilesDialog, ShowsTheRegistryStateAndItsButtonsRegisterAndRemove) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(registration_status(), RegistrationStatus::not_registered)
        << "the test prefix's user already holds a registration";
    std::vector<Showing> showings;
    drive_modal([] { show_markdown_files_dialog(nullptr); },
                [&] {
                    HWND dialog = nullptr;
                    for (const int button : {101, 103, IDCLOSE}) {
                        dialog = wait_for_window(dialog_title, dialog);
                        if (dialog == nullptr) {
                            return;
                        }
                        showings.push_back({child_texts(dialog),
                                            GetDlgItem(dialog, 100) && GetDlgItem(dialog, 101),
                                            GetDlgItem(dialog, 102) && GetDlgItem(dialog, 103)});
                        PostMessageW(dialog, TDM_CLICK_BUTTON, button, 0);
                    }
                });
    CoUninitialize();

    ASSERT_EQ(showings.size(), 3u);
    for (const std::size_t unregistered : {0u, 2u}) {
        EXPECT_TRUE(has_text_starting(showings[unregistered], L"Use Pellix for Markdown files?"));
        EXPECT_TRUE(has_text_starting(showings[unregistered], L"Pellix will add itself"));
        EXPECT_TRUE(showings[unregistered].register_buttons);
        EXPECT_FALSE(showings[unregistered].registered_buttons);
    }
    EXPECT_TRUE(has_text_starting(showings[1], L"Pellix is registered for Markdown files"));
    // Wine's association object cannot name the default, so the program is "another program".
    EXPECT_TRUE(has_text_starting(showings[1], L"Windows opens .md files with another program."));
    EXPECT_TRUE(showings[1].registered_buttons);
    EXPECT_EQ(registration_status(), RegistrationStatus::not_registered);
}

TEST(MarkdownFilesDialog, ErrorBoxNamesTheWindowsError) {
    const std::wstring text = registration_error_text(
        std::system_error(ERROR_ACCESS_DENIED, std::system_category(), "Markdown registration"));
    const std::wstring start = L"Markdown registration failed (Windows error 5).\n";
    EXPECT_EQ(text.substr(0, start.size()), start);
    EXPECT_GT(text.size(), start.size());
    EXPECT_EQ(registration_error_text(std::runtime_error("\xff")),
              L"Markdown registration failed.");

    std::wstring shown;
    drive_modal([] { show_registration_error(nullptr, std::runtime_error("Caf\xc3\xa9 failed.")); },
                [&] {
                            if (HWND box = wait_for_window(L"Markdown files")) {
                        shown = window_text(GetDlgItem(box, 0xFFFF));
                    }
                });
    EXPECT_EQ(shown, L"Caf\u00e9 failed.");
}

TEST(MarkdownFilesDialog, UnknownHandlersAreAnotherProgram) {
    EXPECT_EQ(current_handler_name(L""), L"another program");
    EXPECT_EQ(current_handler_name(L"Pellix.NoSuchProgId"), L"another program");
}

} // namespace
} // namespace pellix
