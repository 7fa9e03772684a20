#pragma once

#include <windows.h>

#include <vector>

namespace pellix {

// The main window's procedure (UI thread only). A std::exception of a handler is shown in the
// error box; creation then fails, any other message goes on to DefWindowProcW.
LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Opens the queued paths in arrival order, emptying the queue.
void open_pending_paths();

// Empties the queue for whoever opens it; the paths handed over from then on are a batch of their
// own.
struct PendingPath;
std::vector<PendingPath> take_queued_paths();

} // namespace pellix
