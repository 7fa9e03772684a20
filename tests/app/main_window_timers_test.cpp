#include "tests/app/editing_window.h"

#include <commctrl.h>

#include <filesystem>
#include <string>
#include <thread>
#include <utility>

#include "app/find_bar.h"
#include "app/main_window_state.h"
#include "app/recovery_store.h"
#include "app/scroll_profile.h"
#include "app/timers.h"
#include "tests/app/recovery_support.h"
#include "tests/message_window.h"

namespace pellix {
namespace {

using MainWindowTimers = test::EditingWindow;

TEST_F(MainWindowTimers, TheMatchCountWaitsForTheEndOfABurstOfInput) {
    set_text(u"one two one\n");
    find_command(206);
    SetWindowTextW(chrome.find_box, L"one");
    start_match_count();
    ASSERT_EQ(find_status(), L"Searching...");
    // The count's tick arrives in the middle of a burst of scrolling.
    input_busy_until = GetTickCount64() + 300;
    const std::uint64_t burst_end = input_busy_until;
    SendMessageW(main_window, WM_TIMER, timer_id::match_count, 0);
    EXPECT_EQ(find_status(), L"Searching...");
    ASSERT_TRUE(pump_until([] { return find_status() != L"Searching..."; }));
    EXPECT_GE(GetTickCount64(), burst_end);
}

bool typing = false;
bool handled_while_typing = false;
bool handled = false;

LRESULT CALLBACK note_sent_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_APP) {
        handled_while_typing = typing;
        handled = true;
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

// A message sent from another thread (a second start handing over files, a test driver) while a
// typed key is being handled waits for the message loop: handled inside the edit's notification,
// it could switch or close the tab that the edit is still working on.
TEST_F(MainWindowTimers, AMessageSentFromAnotherThreadWaitsUntilTheTypedKeyIsHandled) {
    set_text(u"text\n");
    HWND probe = test::message_window(L"PellixSentMessageProbe", note_sent_message);
    ASSERT_NE(probe, nullptr);
    std::thread sender([probe] { SendMessageW(probe, WM_APP, 0, 0); });
    const bool pending = test::sent_message_pending();
    typing = true;
    SendMessageW(chrome.editor, WM_CHAR, L'x', 1);
    typing = false;
    EXPECT_TRUE(pump_until([] { return handled; }));
    sender.join();
    DestroyWindow(probe);
    ASSERT_TRUE(pending);
    EXPECT_EQ(GetWindowTextLengthW(chrome.editor), 6);
    EXPECT_FALSE(handled_while_typing);
}

TEST_F(MainWindowTimers, OneSplitSyncTickIsOneProfileSample) {
    scroll_profile = {};
    scroll_profile.enabled = true;
    SendMessageW(main_window, WM_TIMER, timer_id::split_sync, 0);
    const std::uint64_t samples = scroll_profile.stages[scroll_stage_split_sync].count;
    scroll_profile = {};
    EXPECT_EQ(samples, 1u);
}

// A letter every 0.3 s never leaves the snapshot the quiet spell it waits for, yet the typing
// reaches the store while it goes on. The limit counts from the first letter; the typing goes on
// for three limits at most, room for a loaded machine's late timers and write.
TEST_F(MainWindowTimers, SteadyTypingReachesTheStoreWhileItGoesOn) {
    const test::ScratchFolder folder("steady-typing");
    const std::filesystem::path saved_folder =
        std::exchange(recovery_folder_override, folder.path());
    const std::filesystem::path tabs_file = recovery_tabs_path(recovery_session_path());
    constexpr ULONGLONG key_every_ms = 300;
    constexpr ULONGLONG typing_limit_ms = 3 * recovery_store_limit_ms;
    set_text(u"");
    std::u16string typed;
    std::u16string stored;
    const ULONGLONG first_key = GetTickCount64();
    ULONGLONG last_key = first_key;
    while (stored.empty() && last_key - first_key < typing_limit_ms) {
        type(std::wstring(1, static_cast<wchar_t>(L'a' + typed.size() % 26)));
        typed += static_cast<char16_t>(u'a' + typed.size() % 26);
        last_key = GetTickCount64();
        pump_until(
            [&] {
                if (const auto store = test::stored_workspace(tabs_file);
                    store && store->sessions.size() == 1) {
                    stored = store->sessions[0].text;
                }
                return !stored.empty() || GetTickCount64() >= last_key + key_every_ms;
            },
            test::settle_limit_ms);
    }
    recovery_folder_override = saved_folder;
    ASSERT_FALSE(stored.empty()) << typed.size() << " letters typed in " << last_key - first_key
                                 << " ms, none stored";
    // What was stored is what had been typed by then, not a mix.
    EXPECT_EQ(typed.substr(0, stored.size()), stored);
}

} // namespace
} // namespace pellix
