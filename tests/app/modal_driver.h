#pragma once

// Drives a modal dialog from a second thread while the test thread sits in its modal loop.
// Every wait is bounded: a dialog that does not close by itself is closed, so a fault fails the
// test instead of hanging it.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "tests/bounded_wait.h"

namespace pellix::test {

// Runs `modal` on this thread; once a top-level window titled `title` appears, `drive` gets it
// on a second thread. Returns whether the dialog closed without being forced.
inline bool drive_modal(const wchar_t* title, const std::function<void()>& modal,
                        const std::function<void(HWND dialog)>& drive) {
    std::atomic<bool> returned{false};
    bool forced = false;
    std::thread driver([&] {
        // Found before its initialisation has run, a dialog has no controls yet; it is shown
        // once that has run.
        HWND dialog = nullptr;
        wait_until([&] {
            dialog = FindWindowW(L"#32770", title);
            return returned || (dialog != nullptr && IsWindowVisible(dialog));
        });
        if (dialog != nullptr && !returned) {
            drive(dialog);
        }
        wait_until([&] { return returned.load(); });
        while (!returned) {
            forced = true;
            PostMessageW(FindWindowW(L"#32770", title), WM_COMMAND, IDCANCEL, 0);
            wait_until([&] { return returned.load(); }, std::chrono::milliseconds(50));
        }
    });
    modal();
    returned = true;
    driver.join();
    return !forced;
}

} // namespace pellix::test
