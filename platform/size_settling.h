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

// When a window's render target takes the window's size. The first size after a quiet moment is
// taken at once, so that one change (a view switch, a maximise) shows one picture; the sizes
// that follow it within the settle time are not, and the window draws its frame scaled onto the
// target it has meanwhile. The settle timer, restarted by each such size, ends the run.
class SizeSettling {
public:
    explicit SizeSettling(UINT_PTR timer) : timer_(timer) {}

    // At a paint that finds the target at another size than its window: true when the target
    // takes the window's size now.
    bool takes_size_now(HWND window);

    // The window's size is about to change through a run of sizes: even the first of them waits
    // for the size to settle.
    void hold(HWND window);

    // On the settle timer: the size has stayed. The caller paints again when its target does not
    // fit the window, and that paint takes the size.
    void settle(HWND window);

    UINT_PTR timer() const { return timer_; }

private:
    UINT_PTR timer_;
    bool settling_ = false;
};

} // namespace pellix
