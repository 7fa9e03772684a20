#include "shell/markdown_files_dialog.h"

#include "scratch_registry.h"
#include "tests/bounded_wait.h"
#include "shell/registration_plan.h"
#include "shell/registration_status.h"

#include <gtest/gtest.h>
#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace pellix {
namespace {

using namespace std::chrono_literals;
constexpr wchar_t dialog_title[] = L"Pellix Markdown files";

// The window's text followed by its children's, one a line.
std::wstring texts_of(HWND window) {
    std::wstring texts;
    auto add = [](HWND child, LPARAM to) {
        wchar_t text[2048] = {};
        GetWindowTextW(child, text, 2048);
        *reinterpret_cast<std::wstring*>(to) += std::wstring(text) + L"\n";
        return TRUE;
    };
    add(window, reinterpret_cast<LPARAM>(&texts));
    EnumChildWindows(window, add, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

// A visible window with the title other than `previous`, or null after a bounded wait.
HWND wait_for_window(const wchar_t* title, HWND previous = nullptr) {
    HWND window = nullptr;
    const bool shown = test::wait_until([&] {
        window = FindWindowW(nullptr, title);
        return window != nullptr && window != previous && IsWindowVisible(window);
    });
    return shown ? window : nullptr;
}

// Runs `drive` on a second thread beside a modal call; whatever it leaves open is then closed,
// so that the modal call always returns.
template <class Modal, class Drive> void drive_modal(Modal modal, Drive drive) {
    std::atomic<bool> returned = false;
    std::thread driver([&] {
        drive();
        for (; !returned; std::this_thread::sleep_for(50ms)) {
            PostMessageW(FindWindowW(nullptr, dialog_title), WM_CLOSE, 0, 0);
            for (const wchar_t* box : {L"Markdown files", L"Default apps"}) {
                PostMessageW(FindWindowW(nullptr, box), WM_COMMAND, IDOK, 0);
            }
        }
    });
    modal();
    returned = true;
    driver.join();
}

// The registration's keys in the test prefix's real user hive.
test::RegistryDump dump_user_registration() {
    test::RegistryDump dump;
    for (const wchar_t* key :
         {L"Software\\Classes\\Pellix.Markdown", application_key, L"Software\\Classes\\.md",
          L"Software\\Classes\\.mkdn", L"Software\\Orvelworks", registered_applications_key}) {
        UniqueRegistryKey opened;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, opened.put()) == ERROR_SUCCESS) {
            test::dump_key(opened.get(), key, dump);
        }
    }
    return dump;
}

TEST(MarkdownFilesDialog, ShowsTheRegistryStateAndItsButtonsRegisterAndRemove) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    // Unregistering keeps the settings' key and the shared list, which real hives hold anyway.
    for (const wchar_t* kept :
         {L"Software\\Orvelworks\\Pellix Native", registered_applications_key}) {
        RegSetKeyValueW(HKEY_CURRENT_USER, kept, L"PellixTest", REG_NONE, nullptr, 0);
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kept, L"PellixTest");
    }
    ASSERT_EQ(registration_status(), RegistrationStatus::not_registered);
    const test::RegistryDump before = dump_user_registration();
    std::vector<std::wstring> shown;
    drive_modal([] { show_markdown_files_dialog(nullptr); },
                [&] {
                    HWND dialog = nullptr;
                    for (const int button : {101, 103, 100}) {
                        if (!(dialog = wait_for_window(dialog_title, dialog))) {
                            return;
                        }
                        shown.push_back(texts_of(dialog));
                        PostMessageW(dialog, TDM_CLICK_BUTTON, button, 0);
                    }
                    // Wine has no settings pages, so both fail and the information box shows.
                    if (HWND box = wait_for_window(L"Default apps")) {
                        shown.push_back(texts_of(box));
                    }
                });
    CoUninitialize();
    EXPECT_EQ(registration_status(), RegistrationStatus::this_copy);
    unregister_markdown_handler();

    ASSERT_EQ(shown.size(), 4u);
    EXPECT_NE(shown[3].find(L"\nOpen Windows Settings > Apps > Default apps"), std::wstring::npos);
    for (const std::wstring& unregistered : {shown[0], shown[2]}) {
        EXPECT_NE(unregistered.find(L"\nUse Pellix for Markdown files?\n"), std::wstring::npos);
        EXPECT_NE(unregistered.find(L"\nPellix will add itself"), std::wstring::npos);
        EXPECT_NE(unregistered.find(L"\nRegister only"), std::wstring::npos);
        EXPECT_EQ(unregistered.find(L"\nRemove Pellix"), std::wstring::npos);
    }
    EXPECT_NE(shown[1].find(L"\nPellix is registered for Markdown files\n"), std::wstring::npos);
    // Wine's association object cannot name the default, so nothing is said about it.
    EXPECT_EQ(shown[1].find(L"Windows opens .md files"), std::wstring::npos);
    EXPECT_EQ(shown[1].find(L"Pellix will add itself"), std::wstring::npos);
    EXPECT_NE(shown[1].find(L"\nFor .txt, .ini, .nfo or other text files"), std::wstring::npos);
    EXPECT_NE(shown[1].find(L"\nRemove Pellix from Markdown files"), std::wstring::npos);
    EXPECT_EQ(test::dump_difference(before, dump_user_registration()), "");
}

TEST(MarkdownFilesDialog, ContentSaysWhatIsKnownForEachStatusAndDefault) {
    const std::wstring text_files =
        L"For .txt, .ini, .nfo or other text files: right-click a file in Windows, choose Open "
        L"with > Choose another app, select Pellix (or browse to Pellix.exe), and choose Always.";
    const std::wstring offer =
        L"Pellix will add itself to Open with and to Settings > Default apps for .md, .markdown, "
        L".mdown, .mkd and .mkdn files. Markdown files get the Pellix document icon when Pellix "
        L"is their handler. Only your Windows account is changed, and no administrator rights "
        L"are needed.\n\n";
    const std::wstring handler =
        L"Current .md handler: another program. Its default is preserved.\n\n";
    const std::wstring replaces = L"Another copy of Pellix is registered. Registering this "
                                  L"copy will replace that registration.\n\n";
    // A ProgID no program answers to, so its name is "another program".
    const std::wstring nobody = L"Pellix.Test.Nobody";
    struct Case {
        RegistrationStatus status;
        std::wstring current;
        std::wstring content;
    };
    using enum RegistrationStatus;
    const Case cases[] = {
        {this_copy, L"", text_files},
        {this_copy, L"pellix.MARKDOWN",
         L"Pellix opens your .md files. Use Default apps to choose the program for each Markdown "
         L"file type.\n\n" +
             text_files},
        {this_copy, nobody,
         L"Windows opens .md files with another program. Choose Pellix in Settings to make it the "
         L"default.\n\n" +
             text_files},
        {not_registered, L"", offer + text_files},
        {not_registered, L"Pellix.Markdown", offer + text_files},
        {not_registered, nobody, offer + handler + text_files},
        {other_copy, nobody, offer + handler + replaces + text_files},
        {missing_copy, nobody, offer + handler + text_files},
    };
    for (const Case& shown : cases) {
        EXPECT_EQ(dialog_content(shown.status, shown.current), shown.content)
            << "status " << static_cast<int>(shown.status) << ", default " << shown.current;
    }
}

// Where a showing of the dialog stood and whether its children keep as much room on the right
// as on the left.
struct Placement {
    RECT frame{};
    bool within_margins = false;
};

Placement placement_of(HWND dialog) {
    Placement seen;
    GetWindowRect(dialog, &seen.frame);
    RECT client{};
    GetClientRect(dialog, &client);
    LONG left = client.right;
    LONG right = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (IsWindowVisible(child)) {
            RECT rect{};
            GetWindowRect(child, &rect);
            MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
            left = std::min(left, rect.left);
            right = std::max(right, rect.right);
        }
    }
    seen.within_margins = right > left && client.right - right >= left;
    return seen;
}

TEST(MarkdownFilesDialog, RegisterOnlyShowsItAgainWhereItStoodWithItsTextInsideItsMargins) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(registration_status(), RegistrationStatus::not_registered);
    HWND owner = CreateWindowExW(0, L"STATIC", L"dialog owner", WS_POPUP | WS_VISIBLE, 240, 160,
                                 700, 500, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(owner, nullptr);
    std::vector<Placement> shown;
    drive_modal([owner] { show_markdown_files_dialog(owner); },
                [&] {
                    HWND dialog = nullptr;
                    for (const int button : {101, IDCLOSE}) {
                        if (!(dialog = wait_for_window(dialog_title, dialog))) {
                            return;
                        }
                        shown.push_back(placement_of(dialog));
                        PostMessageW(dialog, TDM_CLICK_BUTTON, button, 0);
                    }
                });
    CoUninitialize();
    unregister_markdown_handler();
    DestroyWindow(owner);

    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].frame.left, shown[0].frame.left);
    EXPECT_EQ(shown[1].frame.top, shown[0].frame.top);
    EXPECT_TRUE(shown[0].within_margins);
    EXPECT_TRUE(shown[1].within_margins);
}

TEST(MarkdownFilesDialog, ErrorBoxNamesTheWindowsError) {
    const std::wstring start = L"Markdown registration failed (Windows error 5).\n";
    const std::wstring text = registration_error_text(
        std::system_error(ERROR_ACCESS_DENIED, std::system_category(), "Markdown registration"));
    EXPECT_EQ(text.substr(0, start.size()), start);
    EXPECT_GT(text.size(), start.size());
    EXPECT_EQ(registration_error_text(std::runtime_error("\xff")),
              L"Markdown registration failed.");
    EXPECT_EQ(current_handler_name(L"Pellix.NoSuchProgId"), L"another program");

    std::wstring shown;
    drive_modal([] { show_registration_error(nullptr, std::runtime_error("Caf\xc3\xa9.")); },
                [&] {
                    if (HWND box = wait_for_window(L"Markdown files")) {
                        shown = texts_of(box);
                    }
                });
    EXPECT_NE(shown.find(L"\nCaf\u00e9.\n"), std::wstring::npos);
}

} // namespace
} // namespace pellix
