#pragma once

#include <windows.h>

#include <chrono>
#include <utility>

#include "tests/bounded_wait.h"

namespace pellix::test {

// Serves this thread's messages for `milliseconds`: only for a test that must show that nothing
// happens within a time; a test waiting for something waits with pump_until.
inline void pump(DWORD milliseconds) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    while (GetTickCount64() < end) {
        serve_messages();
        Sleep(5);
    }
}

// Pumps until `done` holds, for at most `limit_ms`: a loaded machine may run a timer late.
template <typename Done> bool pump_until(Done done, DWORD limit_ms = settle_limit_ms) {
    return wait_until(done, std::chrono::milliseconds(limit_ms));
}

// `key` pressed in `window` with Ctrl held, as the keyboard state its handler reads says.
inline void control_key(HWND window, WPARAM key) {
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    const BYTE control = std::exchange(keys[VK_CONTROL], 0x80);
    SetKeyboardState(keys);
    SendMessageW(window, WM_KEYDOWN, key, 1);
    SendMessageW(window, WM_KEYUP, key, 1);
    keys[VK_CONTROL] = control;
    SetKeyboardState(keys);
}

} // namespace pellix::test
