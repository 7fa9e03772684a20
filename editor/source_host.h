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

// Stages of an edit and of a paint that the editor times for a profile when the host asks
// (`record_work_stage`): where a keystroke's time goes.
namespace work_stage {
inline constexpr int edit_anchor = 0;       // noting the first visible row
inline constexpr int edit_text = 1;         // the document's own change
inline constexpr int edit_line_data = 2;    // line heights, fence states, cached lines
inline constexpr int edit_layout = 3;       // laying out and colouring the edited lines
inline constexpr int edit_view = 4;         // the view put back over the text it showed
inline constexpr int edit_caret = 5;        // the caret found, scrolled into view, placed
inline constexpr int edit_invalidation = 6; // the band asked to be redrawn
inline constexpr int edit_notification = 7; // EN_CHANGE, EN_SELCHANGE, accessibility
inline constexpr int paint_begin = 8;       // BeginPaint
inline constexpr int paint_layout = 9;      // the screen's layouts and the look-ahead
inline constexpr int paint_text = 10;       // the background and the text area
inline constexpr int paint_gutter = 11;     // line numbers and the marker lane
inline constexpr int paint_present = 12;    // EndDraw
inline constexpr int paint_after = 13;      // evicting layouts, scroll bars, caret
inline constexpr int paint_end = 14;        // EndPaint
inline constexpr int count = 15;
} // namespace work_stage

struct SourceHost {
    // The colours for an editor in dark (true) or light mode. In high-contrast mode the host
    // answers the high-contrast table with `high_contrast` set, whatever `dark` says.
    std::function<PaintColours(bool dark)> paint_colours;
    // The host's current find and highlight term.
    std::function<std::wstring()> search_term;
    // One timing sample of a scroll-profile stage that began at `start`.
    std::function<void(int stage, std::chrono::steady_clock::time_point start)>
        record_scroll_sample;
    // The milliseconds one stage of an edit or a paint took (`work_stage`).
    std::function<void(int stage, double milliseconds)> record_work_stage;
};

// Times consecutive stages for `SourceHost::record_work_stage`; costs nothing while the host
// does not ask.
class StageClock {
public:
    StageClock();
    // Reports the time since the clock was made or last reported as `stage`.
    void lap(int stage);

private:
    bool active_;
    std::chrono::steady_clock::time_point last_;
};

// Replaces the host of every editor window of the process. UI thread.
void install_source_host(SourceHost host);
const SourceHost& source_host();

} // namespace pellix
