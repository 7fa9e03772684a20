#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>

#include "app/main_window_create.h"
#include "app/single_instance.h"
#include "tests/app/program_process.h"
#include "tests/app/recovery_support.h"
#include "tests/app/settings_key_guard.h"
#include "tests/bounded_wait.h"
#include "tests/scratch_folder.h"

namespace pellix {
namespace {

constexpr int message_text_id = 0xFFFF;

// The shown editor of the program's window and the length of its text; -1 without one.
LRESULT shown_editor_length(HWND window) {
    HWND editor = nullptr;
    while ((editor = FindWindowExW(window, editor, L"Pellix.DirectWrite.Source", nullptr)) !=
           nullptr) {
        DWORD_PTR length = 0;
        if (IsWindowVisible(editor) &&
            SendMessageTimeoutW(editor, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
            return static_cast<LRESULT>(length);
        }
    }
    return -1;
}

using test::wait_until;

TEST(ProgramDisk, ClickingATabWhoseFileAnotherProgramRewroteAsksAndYesReloadsIt) {
    test::SettingsKeyGuard settings;
    test::ScratchLocalAppData local("program-disk-store");
    test::ScratchFolder folder("program-disk");
    const auto first = folder / "first.md";
    const auto second = folder / "second.md";
    test::write_bytes(first, "alpha\n");
    test::write_bytes(second, "beta\n");
    test::Program program(L"\"" + first.wstring() + L"\" \"" + second.wstring() + L"\"");
    HWND window = program.wait_for_window(editor_window_class, L"second.md - Pellix");
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(wait_until([&] { return shown_editor_length(window) == 5; }));

    // A tab chosen before the start-up has ended is not checked. The start-up's last step arms
    // the first store of the open tabs.
    ASSERT_TRUE(wait_until([&] { return std::filesystem::exists(local.tabs_file()); }));
    test::write_bytes(first, "alpha, rewritten\n");
    HWND strip = GetDlgItem(window, child_id::tab_control);
    RECT client{};
    GetClientRect(strip, &client);
    const LPARAM on_first_tab = MAKELPARAM(20, client.bottom / 2);
    PostMessageW(strip, WM_LBUTTONDOWN, MK_LBUTTON, on_first_tab);
    PostMessageW(strip, WM_LBUTTONUP, 0, on_first_tab);

    HWND box = program.wait_for_window(L"#32770", L"File changed", 20000);
    ASSERT_NE(box, nullptr);
    wchar_t shown[512] = {};
    GetDlgItemTextW(box, message_text_id, shown, 512);
    EXPECT_STREQ(shown,
                 L"The file changed on disk. Refresh this tab? Choose No to keep the editor copy.");
    PostMessageW(box, WM_COMMAND, IDYES, 0);
    EXPECT_TRUE(wait_until([&] { return !IsWindow(box); }));
    EXPECT_TRUE(wait_until([&] { return shown_editor_length(window) == 17; }));

    // Nothing is modified: the window closes without a question.
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.wait_for_exit(), 0u);
}

} // namespace
} // namespace pellix
