#pragma once

// What every editor window reads of the window that hosts it, installed once at run time by the
// host (the main window, or a test with its own tables): the editor sits below the main window
// and cannot reach its state otherwise.

#include <chrono>
#include <functional>
#include <string>

#include "core/palette_table.h"

namespace pellix {

// Stages of the scroll profile that the editor reports.
inline constexpr int scroll_stage_source_input = 0;
inline constexpr int scroll_stage_source_paint = 1;

struct SourceHost {
    // The colours for an editor in dark (true) or light mode. In high-contrast mode the host
    // answers the high-contrast table with `high_contrast` set, whatever `dark` says.
    std::function<PaintColours(bool dark)> paint_colours;
    // The host's current find and highlight term.
    std::function<std::wstring()> search_term;
    // One timing sample of a scroll-profile stage that began at `start`.
    std::function<void(int stage, std::chrono::steady_clock::time_point start)>
        record_scroll_sample;
};

// Replaces the host of every editor window of the process. UI thread.
void install_source_host(SourceHost host);
const SourceHost& source_host();

} // namespace pellix
