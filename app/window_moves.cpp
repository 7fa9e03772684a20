#include "app/window_moves.h"

#include <utility>

namespace pellix {

namespace {

WindowMoveCalls substitutes;

} // namespace

HDWP defer_window_move(HDWP batch, HWND window, const RECT& place, UINT flags) {
    if (substitutes.defer) {
        return substitutes.defer(batch, window, place, flags);
    }
    return DeferWindowPos(batch, window, nullptr, place.left, place.top, place.right - place.left,
                          place.bottom - place.top, flags);
}

bool end_window_moves(HDWP batch) {
    if (substitutes.end) {
        return substitutes.end(batch);
    }
    return EndDeferWindowPos(batch) != FALSE;
}

ScopedWindowMoveCalls::ScopedWindowMoveCalls(WindowMoveCalls calls)
    : previous_(std::exchange(substitutes, std::move(calls))) {}

ScopedWindowMoveCalls::~ScopedWindowMoveCalls() {
    substitutes = std::move(previous_);
}

} // namespace pellix
