#pragma once

// Waits for a condition with a deadline, never for a fixed time. In a brand-new Wine prefix the
// first Direct3D device compiles its shaders into an empty cache, and a loaded machine runs
// timers and other processes late: a frame, a timer or a started program may come seconds after
// it would come on a warm, idle machine, and a test that looked after a fixed pause would see
// what came before.

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>

namespace pellix::test {

// How long a test waits for something that is bound to come: far beyond the slowest first start
// seen, so that reaching it means the thing never comes.
inline constexpr DWORD settle_limit_ms = 30000;
inline constexpr std::chrono::milliseconds settle_limit{settle_limit_ms};

// Serves this thread's posted and sent messages as they are, untranslated: a test posts the keys
// it means. A quit message is dropped: a destroyed main window posts one, and the suite goes on.
inline void serve_messages() {
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message != WM_QUIT) {
            DispatchMessageW(&message);
        }
    }
}

// Polls `done`, serving this thread's messages meanwhile, until it holds or `limit` has passed;
// whether it holds.
template <typename Done>
bool wait_until(Done&& done, std::chrono::milliseconds limit = settle_limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        serve_messages();
        if (done()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

// Waits until another thread's message sent to this one is pending, without taking messages
// (which would deliver it at once); whether it came within `limit`.
inline bool sent_message_pending(std::chrono::milliseconds limit = settle_limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while ((HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) == 0) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        Sleep(1);
    }
    return true;
}

// Repeats `check` (an AssertionResult) until it succeeds or `limit` has passed, and answers its
// last result, so that a failure tells what was last seen.
template <typename Check>
::testing::AssertionResult eventually(Check&& check,
                                      std::chrono::milliseconds limit = settle_limit) {
    ::testing::AssertionResult last = ::testing::AssertionFailure();
    wait_until(
        [&] {
            last = check();
            return static_cast<bool>(last);
        },
        limit);
    return last;
}

} // namespace pellix::test
