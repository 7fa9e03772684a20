#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/settings.h"
#include "app/single_instance.h"
#include "tests/app/program_process.h"
#include "tests/app/recovery_support.h"
#include "tests/app/settings_key_guard.h"
#include "tests/scratch_folder.h"

namespace pellix {
namespace {

// One DirectWrite layout of either paragraph faults in Wine; opening them in Split view once
// took the program down within three seconds.
TEST(ProgramLongRuns, ParagraphsWithoutSpacesOpenInSplitViewAndTheProgramKeepsRunning) {
    test::SettingsKeyGuard settings;
    test::ScratchLocalAppData local("program-long-runs-store");
    test::ScratchFolder folder("program-long-runs");
    const auto brackets = folder / "brackets.md";
    const auto letters = folder / "letters.md";
    test::write_bytes(brackets, std::string(100000, '[') + "\n");
    test::write_bytes(letters, std::string(1000000, 'A') + "\n");
    // Split view from the start: opening each file renders its preview.
    const DWORD split = view_split;
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, settings.key().c_str(), L"View", REG_DWORD, &split,
                              sizeof(split)),
              ERROR_SUCCESS);
    test::Program program(L"\"" + brackets.wstring() + L"\" \"" + letters.wstring() + L"\"");
    ASSERT_TRUE(program.started());
    // A loaded machine and a new prefix make the first start slow; a crash ends the wait early.
    HWND window = program.wait_for_window(editor_window_class, L"letters.md - Pellix", 90000);
    ASSERT_NE(window, nullptr);
    // Still running 10 s later: the wait must time out.
    EXPECT_EQ(program.wait_for_exit(10000), STILL_ACTIVE);
    DWORD_PTR answer = 0;
    EXPECT_NE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 10000, &answer), 0);
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.wait_for_exit(), 0u);
}

} // namespace
} // namespace pellix
