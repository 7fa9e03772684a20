#include "tests/app/editing_window.h"

#include <commctrl.h>

#include "app/find_bar.h"
#include "app/main_window_state.h"
#include "app/scroll_profile.h"
#include "app/timers.h"

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

TEST_F(MainWindowTimers, OneSplitSyncTickIsOneProfileSample) {
    scroll_profile = {};
    scroll_profile.enabled = true;
    SendMessageW(main_window, WM_TIMER, timer_id::split_sync, 0);
    const std::uint64_t samples = scroll_profile.stages[scroll_stage_split_sync].count;
    scroll_profile = {};
    EXPECT_EQ(samples, 1u);
}

} // namespace
} // namespace pellix
