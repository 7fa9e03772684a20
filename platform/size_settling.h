#pragma once

#include <windows.h>

#include <optional>

namespace pellix {

// How long a window's size stays the same before its render target takes it, where a target
// waits for that (`targets_wait_for_settled_size`).
inline constexpr UINT size_settle_ms = 250;

// True where every distinct size a Direct2D target takes keeps memory for the life of the
// process, window targets and DC targets alike: Wine's. Dragging a window's edge passes through
// dozens of sizes, so there a target keeps its size through a run of changes and takes the one
// it ends at. Windows gives such memory back, and its targets follow every size.
bool targets_wait_for_settled_size();

// Makes `targets_wait_for_settled_size` answer `wait` (nothing: ask the platform again), so
// that either path can be taken on any platform, with sizes settling after `settle_ms`: a test
// that sends the settle timer itself makes it long, so that a slow run cannot end a run of sizes
// behind its back.
void override_targets_wait_for_settled_size(std::optional<bool> wait,
                                            UINT settle_ms = size_settle_ms);

// When a window's render target takes the window's size. A size its top-level window gave it
// (the top-level window's edge dragged, dozens of sizes in a row) is held: the window draws its
// frame scaled onto the target it has, until the size has stayed for the settle time (a window
// timer, restarted by each size) or until a size of its own comes (a view switch, a split bar
// moved), which the next paint takes, so that one such change shows one picture.
class SizeSettling {
public:
    explicit SizeSettling(UINT_PTR timer) : timer_(timer) {}

    // At a paint that finds the target at another size than its window: true when the target
    // takes the window's size now.
    bool takes_size_now() const;

    // The size the window was just given came from its top-level window's: it waits for the
    // size to settle.
    void hold(HWND window);

    // A size of the window's own: the next paint takes it.
    void release();

    // On the settle timer: the size has stayed. The caller paints again when its target does not
    // fit the window, and that paint takes the size.
    void settle(HWND window);

private:
    UINT_PTR timer_;
    bool held_ = false;
};

} // namespace pellix
