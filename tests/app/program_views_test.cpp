#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>

#include "app/single_instance.h"
#include "tests/app/program_process.h"
#include "tests/app/recovery_support.h"
#include "tests/app/settings_key_guard.h"
#include "tests/scratch_folder.h"

namespace pellix {
namespace {

constexpr int editor_id = 10;

// The preview window, a grandchild of the main window inside its host.
HWND find_preview(HWND window) {
    HWND host = nullptr;
    while ((host = FindWindowExW(window, host, L"STATIC", nullptr)) != nullptr) {
        if (HWND preview = FindWindowExW(host, nullptr, L"Pellix.DirectWrite.Preview", nullptr)) {
            return preview;
        }
    }
    return nullptr;
}

DWORD_PTR send(HWND window, UINT message, WPARAM wparam) {
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(window, message, wparam, 0, SMTO_ABORTIFHUNG, 10000, &answer);
    return answer;
}

void run_view_command(HWND window, WPARAM view) {
    send(window, WM_COMMAND, view);
}

TEST(ProgramViews, AFileFromTheCommandLineShowsInSourcePreviewAndSplit) {
    test::SettingsKeyGuard settings;
    // An empty recovery store of its own: nothing is restored while the test drives the views.
    test::ScratchLocalAppData local("program-views-store");
    test::ScratchFolder folder("program-views");
    const auto path = folder / "shown.md";
    test::write_bytes(path, "# Shown\n\nText.\n");
    test::Program program(L"\"" + path.wstring() + L"\"");
    ASSERT_TRUE(program.started());
    HWND window = program.wait_for_window(editor_window_class, L"shown.md - Pellix");
    ASSERT_NE(window, nullptr);
    HWND editor = GetDlgItem(window, editor_id);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(send(editor, WM_GETTEXTLENGTH, 0), 15u);
    EXPECT_EQ(find_preview(window), nullptr); // made on the first view that shows it

    run_view_command(window, 302);
    HWND preview = find_preview(window);
    ASSERT_NE(preview, nullptr);
    EXPECT_TRUE(IsWindowVisible(editor));
    EXPECT_TRUE(IsWindowVisible(preview));

    run_view_command(window, 301);
    EXPECT_FALSE(IsWindowVisible(editor));
    EXPECT_TRUE(IsWindowVisible(preview));

    run_view_command(window, 300);
    EXPECT_TRUE(IsWindowVisible(editor));
    EXPECT_FALSE(IsWindowVisible(preview));

    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.wait_for_exit(), 0u);
}

} // namespace
} // namespace pellix
