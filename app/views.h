#pragma once

// Which view shows the active tab (Source, Preview or Split), the rule that only Markdown tabs
// leave Source view, and the refresh chain that brings the preview page and the outline up to
// date with the active tab's text.

#include <cstdint>

namespace pellix {

struct DocumentTab;

// Makes the preview window inside its host with the main window's callbacks, once.
void ensure_preview_window();

// Re-reads the active tab's text and refreshes everything that depends on it.
void refresh_current_tab();

// Renders the preview page and rebuilds the outline when something they show changed.
void update_preview();

// Draws at once every window of the main window that waits to be drawn, the active editor
// first. Under Wine each window shows its new frame when it is painted, and a slow paint (an
// editor at a size whose glyphs are not cached yet, a tab's first screen) left the quicker
// panes showing the new state beside the editor's old text until it came.
void draw_waiting_windows();

// The preview's top position as a fractional source line (0 without a preview).
double preview_top_line();

// Schedules a compare pass of a compared tab whose revision moved on.
void schedule_compare_pass(DocumentTab& tab);

// What the preview last rendered; all zero after a failed render.
struct RenderedPreview {
    std::uint64_t tab_id = 0;
    std::uint64_t revision = 0;
    bool dark = false;
    bool high_contrast = false;
    bool operator==(const RenderedPreview&) const = default;
};
const RenderedPreview& rendered_preview();
// How many pages were handed to the preview since the process started.
std::uint64_t preview_render_count();

} // namespace pellix
