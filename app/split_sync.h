#pragma once

// Split view keeps the editor and the preview at the same source line: a scroll of either side
// records one pending request, and timer 10 carries out the latest one 10 ms after the first,
// moving the other side while `split_syncing` keeps that move from being reported back.

#include <windows.h>

#include <functional>

namespace pellix {

// The two moves a synchronisation makes: the editor's top line, and the preview's top source
// line. They are the editor's and the preview's own calls unless replaced.
struct SplitSyncMoves {
    std::function<void(HWND editor, double line)> editor_to_line;
    std::function<void(double line)> preview_to_line;
};

// The moves in use; a test may put a failing one in place and must restore the defaults.
SplitSyncMoves& split_sync_moves();
SplitSyncMoves default_split_sync_moves();

} // namespace pellix
