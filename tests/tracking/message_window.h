#pragma once

#include <windows.h>

#include <algorithm>
#include <functional>

#include "tests/bounded_wait.h"

namespace pellix::test {

// A message-only window that a worker's notification posts to, as the main window receives
// results. Create and wait on the same thread.
class MessageWindow {
public:
    static constexpr UINT results_message = WM_APP + 1;

    MessageWindow()
        : window_(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                  nullptr)) {}
    ~MessageWindow() { DestroyWindow(window_); }
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    HWND get() const { return window_; }

    // What a worker's owner installs: post the results message, nothing more.
    std::function<void()> notifier() const {
        return [window = window_] { PostMessageW(window, results_message, 0, 0); };
    }

    // Takes one results message, waiting at most `timeout_ms`; false when none came.
    bool wait_posted(DWORD timeout_ms = settle_limit_ms) {
        const ULONGLONG deadline = GetTickCount64() + timeout_ms;
        for (;;) {
            MSG message;
            if (PeekMessageW(&message, window_, results_message, results_message, PM_REMOVE)) {
                return true;
            }
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline) {
                return false;
            }
            // Short slices: a message queued before the wait does not wake it.
            MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                      static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 20)),
                                      QS_ALLPOSTMESSAGE);
        }
    }

    bool has_posted() {
        MSG message;
        return PeekMessageW(&message, window_, results_message, results_message, PM_NOREMOVE);
    }

private:
    HWND window_;
};

} // namespace pellix::test
