#pragma once

// The message loop with its keyboard pre-translation: Esc for a running Replace All, the F6
// focus ring, the preview's own Ctrl+A and Ctrl+C, the find bar's keys, then the accelerators
// and dialog navigation.

#include <windows.h>

#include <vector>

namespace pellix {

// The fourteen panes and controls F6 moves through, in order; absent ones are null.
std::vector<HWND> focus_ring();

// The members of `ring` that exist, are visible and are enabled, in order.
std::vector<HWND> usable_windows(const std::vector<HWND>& ring);

// Where F6 (or Shift+F6 when `backward`) moves the focus from `focus` in a ring of usable
// windows: the next (previous) one, or the first (last) when the focus is outside the ring.
// Null for an empty ring.
HWND next_focus(const std::vector<HWND>& ring, HWND focus, bool backward);

// Runs until WM_QUIT (exit code 0) or a failed GetMessageW (1).
int run_message_loop(HACCEL accelerators);

} // namespace pellix
