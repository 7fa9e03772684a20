#pragma once

// Several child windows moved in one batch. The batch calls can fail part-way (out of memory, a
// window gone) in ways a test cannot provoke, so they can be replaced; production code never
// replaces them.

#include <windows.h>

#include <functional>

namespace pellix {

// As DeferWindowPos: the batch with the move added, or null when it failed, the batch then gone
// with every move it held.
HDWP defer_window_move(HDWP batch, HWND window, const RECT& place, UINT flags);
// As EndDeferWindowPos: false when the moves may not all have been made.
bool end_window_moves(HDWP batch);

// Substitutes for the two calls; an empty function means the real Win32 call.
struct WindowMoveCalls {
    std::function<HDWP(HDWP batch, HWND window, const RECT& place, UINT flags)> defer;
    std::function<bool(HDWP batch)> end;
};

// Installs substitute calls for the lifetime of the object (tests only).
class ScopedWindowMoveCalls {
public:
    explicit ScopedWindowMoveCalls(WindowMoveCalls calls);
    ~ScopedWindowMoveCalls();
    ScopedWindowMoveCalls(const ScopedWindowMoveCalls&) = delete;
    ScopedWindowMoveCalls& operator=(const ScopedWindowMoveCalls&) = delete;

private:
    WindowMoveCalls previous_;
};

} // namespace pellix
