#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_window_create.h"
#include "app/main_window_state.h"
#include "app/recovery_store.h"
#include "app/settings.h"
#include "app/status_strip.h"
#include "core/message_box.h"
#include "core/window_work.h"
#include "editor/source_interface.h"
#include "tests/app/in_process_main_window.h"
#include "tests/app/message_pump.h"
#include "tests/app/recovery_support.h"
#include "tests/app/shown_main_window.h"
#include "tests/scratch_folder.h"

namespace pellix {
namespace {

const std::wstring test_key = L"Software\\Orvelworks\\Pellix Native Restore Progress Test";
constexpr std::size_t draft_count = 127;
constexpr std::size_t active_draft = 5;

// What the status strip showed at one of its paints during a restore.
struct StripPaint {
    std::vector<std::wstring> items;
    LRESULT tabs_in_strip = 0;
    bool window_enabled = true;
    std::wstring title;
};
std::vector<StripPaint> strip_paints;

LRESULT CALLBACK record_strip_paint(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                    UINT_PTR, DWORD_PTR) {
    if (message == WM_PAINT && restoring_session()) {
        StripPaint paint{.items = {},
                         .tabs_in_strip = TabCtrl_GetItemCount(chrome.tab_control),
                         .window_enabled = IsWindowEnabled(main_window) != FALSE,
                         .title = {}};
        wchar_t title[256] = {};
        GetWindowTextW(main_window, title, 256);
        paint.title = title;
        for (const StatusItem& item : status_strip().items) {
            paint.items.push_back(item.text);
        }
        strip_paints.push_back(std::move(paint));
    }
    return DefSubclassProc(window, message, wparam, lparam);
}

std::u16string draft_text(std::size_t i) {
    const std::string number = std::to_string(i);
    return u"# Draft " + std::u16string(number.begin(), number.end()) + u"\n\nA few words.\n";
}

// The real main window in this process, shown, with a store of many small drafts to restore and
// the drafts question answered Yes.
class RestoreProgress : public test::ShownMainWindow {
protected:
    RestoreProgress() : ShownMainWindow(test_key, "restore-progress", IDYES) {}

    void SetUp() override {
        ShownMainWindow::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        Workspace workspace{.sessions = {}, .active = active_draft};
        for (std::size_t i = 0; i < draft_count; ++i) {
            workspace.sessions.push_back(
                {draft_text(i), Encoding::utf8, LineEnding::lf, std::string(), true});
        }
        std::filesystem::create_directories(folder_ / "store");
        test::write_bytes(folder_ / "store" / "tabs.bin", test::store_bytes(workspace));
        strip_paints.clear();
        SetWindowSubclass(chrome.status_strip, record_strip_paint, 1, 0);
    }
};

TEST_F(RestoreProgress, TheStripsPaintHowFarTheRestoreHasGotWhileTheWindowTakesNoInput) {
    restore_session();

    ASSERT_EQ(tabs.size(), draft_count);
    for (std::size_t i = 0; i < draft_count; ++i) {
        EXPECT_EQ(source_text(tabs[i]->editor), draft_text(i)) << i;
        EXPECT_TRUE(source_modified(tabs[i]->editor)) << i;
    }
    EXPECT_EQ(active, active_draft);
    const auto shown = std::count_if(tabs.begin(), tabs.end(),
                                     [](const auto& tab) { return IsWindowVisible(tab->editor); });
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(IsWindowVisible(tabs[active_draft]->editor));
    EXPECT_TRUE(IsWindowEnabled(window_));

    // Midway, the status strip was painted saying how many sessions were done, beside a tab strip
    // that held as many tabs, while the window took no input.
    std::size_t midway = 0;
    for (const StripPaint& paint : strip_paints) {
        for (std::size_t done = 1; done < draft_count; ++done) {
            const std::wstring progress = restore_progress_text(done, draft_count);
            if (std::find(paint.items.begin(), paint.items.end(), progress) != paint.items.end()) {
                EXPECT_EQ(paint.tabs_in_strip, static_cast<LRESULT>(done)) << progress;
                EXPECT_FALSE(paint.window_enabled) << progress;
                ++midway;
            }
        }
    }
    EXPECT_GT(midway, 0u) << strip_paints.size() << " paints of the status strip while restoring";
    EXPECT_EQ(recovery_status(), L"");
}

TEST_F(RestoreProgress, DeclinedDraftsReopenTheirFilesBehindTheShownTab) {
    install_message_box([](const MessageBoxRequest&) { return IDNO; });
    Workspace workspace{.sessions = {}, .active = active_draft};
    for (std::size_t i = 0; i < draft_count; ++i) {
        const std::filesystem::path file = folder_ / ("saved-" + std::to_string(i) + ".md");
        const std::u16string saved = draft_text(i);
        test::write_bytes(file, std::string(saved.begin(), saved.end()));
        workspace.sessions.push_back(
            {u"an unsaved edit", Encoding::utf8, LineEnding::lf, test::utf8(file), true});
    }
    test::write_bytes(folder_ / "store" / "tabs.bin", test::store_bytes(workspace));

    restore_session();

    ASSERT_EQ(tabs.size(), draft_count);
    for (std::size_t i = 0; i < draft_count; ++i) {
        EXPECT_EQ(source_text(tabs[i]->editor), draft_text(i)) << i;
        EXPECT_FALSE(source_modified(tabs[i]->editor)) << i;
    }
    EXPECT_EQ(active, active_draft);
    const auto shown = std::count_if(tabs.begin(), tabs.end(),
                                     [](const auto& tab) { return IsWindowVisible(tab->editor); });
    EXPECT_EQ(shown, 1);
    // The window went on showing one tab, the first file once it took the empty one's place,
    // while the rest were built behind it; then the active one.
    const std::wstring first = L"saved-0.md - Pellix";
    const std::wstring last = L"saved-" + std::to_wstring(active_draft) + L".md - Pellix";
    for (const StripPaint& paint : strip_paints) {
        EXPECT_TRUE(paint.title.starts_with(L"Untitled") || paint.title == first ||
                    paint.title == last)
            << paint.title;
    }
    EXPECT_FALSE(strip_paints.empty());
}

} // namespace
} // namespace pellix
