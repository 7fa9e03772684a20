#pragma once

// Drives a modal dialog from a second thread while the test thread sits in its modal loop.
// Every wait is bounded: a dialog that does not close by itself is closed, so a fault fails the
// test instead of hanging it.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace pellix::test {

// Runs `modal` on this thread; once a top-level window titled `title` appears, `drive` gets it
// on a second thread. Returns whether the dialog closed without being forced.
inline bool drive_modal(const wchar_t* title, const std::function<void()>& modal,
                        const std::function<void(HWND dialog)>& drive) {
    using namespace std::chrono_literals;
    std::atomic<bool> returned{false};
    bool forced = false;
    std::thread driver([&] {
        HWND dialog = nullptr;
        for (int tries = 0; tries < 250 && !returned && dialog == nullptr; ++tries) {
            dialog = FindWindowW(L"#32770", title);
            if (dialog == nullptr) {
                std::this_thread::sleep_for(20ms);
            }
        }
        if (dialog != nullptr) {
            drive(dialog);
        }
        for (int tries = 0; tries < 250 && !returned; ++tries) {
            std::this_thread::sleep_for(20ms);
        }
        while (!returned) {
            forced = true;
            PostMessageW(FindWindowW(L"#32770", title), WM_COMMAND, IDCANCEL, 0);
            std::this_thread::sleep_for(50ms);
        }
    });
    modal();
    returned = true;
    driver.join();
    return !forced;
}

} // namespace pellix::test
