#include <gtest/gtest.h>

#include <windows.h>

#include "app/main_window_state.h"
#include "core/window_work.h"

namespace pellix {
namespace {

// A message-only window stands in for the main window: the host only disables it and posts
// to it.
class MainWindowFileWorkHost : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window_, nullptr);
        install_main_window_file_work_host();
        main_window = window_;
    }
    void TearDown() override {
        install_file_work_host({});
        main_window = nullptr;
        file_work_busy = false;
        close_pending = false;
        pending_paths.clear();
        DestroyWindow(window_);
    }

    UINT next_posted() {
        MSG message{};
        return PeekMessageW(&message, window_, 0, 0, PM_REMOVE) ? message.message : 0;
    }

    HWND window_ = nullptr;
};

TEST_F(MainWindowFileWorkHost, QueuedOpensAndADeferredCloseArePostedWhenTheWorkEnds) {
    bool busy_during = false;
    bool enabled_during = true;
    window_work([&] {
        busy_during = file_work_busy;
        enabled_during = IsWindowEnabled(window_) != FALSE;
    });
    EXPECT_TRUE(busy_during);
    EXPECT_FALSE(enabled_during);
    EXPECT_FALSE(file_work_busy);
    EXPECT_EQ(next_posted(), 0u); // nothing was queued

    pending_paths.emplace_back(L"C:\\queued.md");
    close_pending = true;
    window_work([] {});
    EXPECT_EQ(next_posted(), WM_APP_OPEN_QUEUED);
    EXPECT_EQ(next_posted(), static_cast<UINT>(WM_CLOSE));
    EXPECT_FALSE(close_deferred);
    EXPECT_EQ(pending_paths.size(), 1u); // the main window empties it when it opens them
}

TEST_F(MainWindowFileWorkHost, WithoutTheWindowADeferredCloseWaits) {
    main_window = nullptr;
    close_pending = true;
    pending_paths.emplace_back(L"C:\\waiting.md");
    window_work([] {});
    EXPECT_TRUE(close_pending);
    EXPECT_EQ(next_posted(), 0u);
}

} // namespace
} // namespace pellix
