#pragma once

#include <windows.h>

#include <optional>

namespace pellix {

// How long a top-level window's size stays the same before its panes' render targets take it,
// where a target waits for that (`targets_wait_for_settled_size`): a drag's sizes come a few
// tens of milliseconds apart, and the settled size is drawn this long after the last of them.
inline constexpr UINT size_settle_ms = 60;

// True where every distinct size a Direct2D target takes keeps memory for the life of the
// process, window targets and DC targets alike: Wine's. Dragging a window's edge passes through
// dozens of sizes, so there a target keeps its size through a run of changes and takes the one
// it ends at. Windows gives such memory back, and its targets follow every size.
bool targets_wait_for_settled_size();

// Makes `targets_wait_for_settled_size` answer `wait` (nothing: ask the platform again), so
// that either path can be taken on any platform, with sizes settling after `settle_ms`: a test
// that settles the sizes itself makes it long, so that a slow run cannot end a run of sizes
// behind its back.
void override_targets_wait_for_settled_size(std::optional<bool> wait,
                                            UINT settle_ms = size_settle_ms);

// How long sizes wait to settle now (`size_settle_ms` unless a test changed it).
UINT size_settle_delay();

// When a window's render target takes the window's size. A size its top-level window gave it
// (the top-level window's edge dragged, dozens of sizes in a row) is held: the window presents
// its last frame stretched over the window, until the top-level window says the size has
// settled or until a size of its own comes (a view switch, a split bar moved), which the next
// paint takes, so that one such change shows one picture.
class SizeSettling {
public:
    // At a paint that finds the target at another size than its window: true when the target
    // takes the window's size now.
    bool takes_size_now() const;

    // The size the window was just given came from its top-level window's: it waits for the
    // size to settle.
    void hold();

    // A size of the window's own, or the size settled: the next paint takes it.
    void release();

private:
    bool held_ = false;
};

} // namespace pellix
