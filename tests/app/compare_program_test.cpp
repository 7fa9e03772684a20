#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/single_instance.h"
#include "tests/app/program_process.h"
#include "tests/app/settings_key_guard.h"
#include "tests/scratch_folder.h"

namespace pellix {
namespace {

std::wstring window_text(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

// The real program in compare mode: its own window class, no single-instance claim, the
// compared file in its tab, and not one setting written however the window is used.
TEST(CompareProgram, ACompareWindowOpensTheComparedFileAndSavesNothing) {
    test::SettingsKeyGuard key;
    test::ScratchFolder folder("compare-program");
    test::write_bytes(folder / "old.md", "# Old\nsame\nbefore\n");
    test::write_bytes(folder / "new.md", "# Old\nsame\nafter\n");
    test::Program program(L"--compare \"" + (folder / "old.md").wstring() + L"\" \"" +
                          (folder / "new.md").wstring() + L"\"");
    ASSERT_TRUE(program.started());
    const HWND window = program.wait_for_window(L"Pellix.Native.Compare");
    ASSERT_NE(window, nullptr);
    const ULONGLONG end = GetTickCount64() + 30000;
    while (window_text(window) != L"new.md - Pellix" && GetTickCount64() < end) {
        Sleep(20);
    }
    EXPECT_EQ(window_text(window), L"new.md - Pellix");
    UniqueHandle ready(OpenEventW(SYNCHRONIZE, FALSE, ready_event_name));
    EXPECT_FALSE(ready);

    constexpr WPARAM split_view = 302;
    PostMessageW(window, WM_COMMAND, split_view, 0);
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.wait_for_exit(), 0u);
    EXPECT_FALSE(test::key_exists(key.key()));
}

} // namespace
} // namespace pellix
