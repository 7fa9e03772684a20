#pragma once

#include <windows.h>

namespace pellix::test {

// Serves this thread's messages for `milliseconds`; the quit message a destroyed main window
// posts is dropped, so the suite's own loop goes on.
inline void pump(DWORD milliseconds) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    MSG message{};
    while (GetTickCount64() < end) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message != WM_QUIT) {
                DispatchMessageW(&message);
            }
        }
        Sleep(5);
    }
}

// Pumps until `done` holds, for at most `limit_ms`: a loaded machine may run a timer late.
template <typename Done> bool pump_until(Done done, DWORD limit_ms = 5000) {
    const ULONGLONG end = GetTickCount64() + limit_ms;
    while (!done() && GetTickCount64() < end) {
        pump(10);
    }
    return done();
}

} // namespace pellix::test
