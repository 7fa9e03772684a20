#pragma once

// The commands that change how the main window shows documents: split repair, word wrap, the
// outline pane and its mode, line numbers, autocomplete, zoom, theme and syntax colouring.
// Each that changes a setting saves the settings.

namespace pellix {

inline constexpr int min_font_points = 8;
inline constexpr int max_font_points = 32;

// Split view, after bringing a share outside 0.1..0.9 back to the restore share (or one half).
void open_split_view();

void toggle_word_wrap();
void toggle_outline_pane();
void toggle_line_numbers();
void toggle_autocomplete();

// 306 zoom in, 307 zoom out, 308 reset.
void zoom_command(unsigned id);

// Theme 0 system, 1 light, 2 dark.
void select_theme(unsigned theme);

// Colouring 0 full, 1 punctuation, 2 off, for every open editor.
void select_syntax_colouring(unsigned mode);

// 326 headings, 327 tasks, 328 hide completed tasks.
void outline_mode_command(unsigned id);

// The outline options pop-up under its button; the chosen item runs as a command.
void show_outline_options();

} // namespace pellix
