#pragma once

// Where the windows and work of the main window's units join: each function is the one place a
// unit is called from the others, so that no unit includes another's internals.

#include <windows.h>

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/encoding.h"

namespace pellix {

struct MainLayout;
struct DocumentTab;

// The editor of a new tab, a child of `main` with control id 10; null while there is no editor.
HWND create_tab_editor(HWND main);

// Gives the active editor the font size, the dark flag and the line-number setting.
void style_active_editor();

// Makes the status strip, the view switcher and the find bar (and stores them in `chrome`).
void create_chrome_units(HWND main);

// A command from a menu, an accelerator or a control.
void run_command(unsigned id);

// A notification the active editor sent with WM_COMMAND (EN_CHANGE and the like).
void editor_notification(unsigned code);

// The preview's zoom (1.0 for 12-point text); a failed relayout is shown in the preview.
void zoom_preview(double zoom);

// Shows or hides the preview window like its host and fits it into the host.
void fit_preview(bool shown);

// Destroys the preview window and its drawing objects.
void destroy_preview_window();

// Selects a view (300 Source, 301 Preview, 302 Split) and lays the window out.
void select_view(int view);

// A running Replace All, which Esc cancels.
bool replace_all_running();
void cancel_replace_all();

// The find bar's keys: hiding it, a find or replace request with find flags, and its option bits.
void hide_find_bar();
void request_find(unsigned long flags);
unsigned long find_bar_options();

// After the message loop: the recovery writer stops after writing what it still holds; the
// scroll profile is written when asked for; the glyph renderer lets go of its objects.
void stop_recovery_writer();
void write_scroll_profile();
void release_glyph_renderer();

// Opens one file in a tab (or selects the tab that has it); reports its own errors. A file kept
// in `known` (a restored session's file) is decoded in it rather than asking the user again.
void open_path(const std::filesystem::path& path, std::optional<Encoding> known = std::nullopt);

// Opens paths that came together (one command line, one hand-off, one drop, one Open selection)
// in order. Once the tab limit refuses one, its box is the batch's last: the rest are dropped and
// false is returned.
bool open_paths(const std::vector<std::filesystem::path>& paths);

// Opens queued paths in order, each batch as open_paths opens it: a refused batch's box is its
// last, and the batches after it are opened still.
struct PendingPath;
void open_queued_paths(const std::vector<PendingPath>& queued);

// Compare mode: loads the baseline and opens the compared file against it.
void open_compare(const std::filesystem::path& baseline, const std::filesystem::path& compared);

// The active tab's file; empty for an untitled tab.
std::filesystem::path active_tab_path();

// Whether the find bar shows its replace row.
bool find_bar_shows_replace();

// Empties the cache of drawn glyph bitmaps (after a DPI, theme or icon-size change).
void clear_glyph_cache();

// Resolves every modified tab; false keeps the window open.
bool may_close_window();

// The final recovery snapshot at close.
void store_final_session();

// The start-up tail's recovery restore and first-run welcome document; true when drafts were
// refused (see `restore_session`).
bool restore_and_welcome();

// Restyles the chrome units (view switcher, status strip, find bar) with the theme and fonts.
void restyle_chrome_units();

// Gives the view switcher the layout's button sizes and what the layout shows.
void update_view_switcher(const MainLayout& layout);

// Drops the chrome's cached back buffers so that they are rebuilt at the new size.
void release_chrome_buffers();

// Before the main window exists: the preview records its input and paint timings into the
// scroll profile when it was asked for.
void attach_scroll_profile();

// The tab strip: one item per tab with its name, the active one selected.
void refresh_tab_strip();

// The status strip's texts; and the screen rectangle of one of its items (false when absent).
void update_status();
bool status_item_rect(unsigned id, RECT& rect);

// The find bar's match count starts again (the text or the searched window changed).
void start_match_count();

// The outline pane: whether it was built from this tab revision, building it from the text
// (and its UTF-8 form), following the caret, and emptying it.
bool outline_is_current(std::uint64_t tab_id, std::uint64_t revision);
void rebuild_outline(const std::u16string& text, const std::string& utf8);
void sync_outline_selection();
void clear_outline();

// The completion popup of the active editor.
bool completion_visible();
void accept_completion();
void hide_completion();
void move_completion_selection(int step);
void set_completion_owner(HWND editor);
void empty_completion_list();

// The recovery store: a snapshot of the tabs (`final` at close; `now` to hand it to the writer at
// once, else it follows through the deferred timer), the writer's latest result, and whether tabs
// are being restored right now.
void store_session(bool final, bool now);
void take_recovery_writer_result();
bool restoring_session();
// The recovery status the status strip shows: empty, or why the store could not be written or
// read.
const std::wstring& recovery_status();

// Disk state: with `check`, the active tab is checked against its file (asking when it
// changed); without, only the queued opens run when nothing blocks them. Directory changes
// recorded by the watcher are applied to every tab (`all`) or the changed ones.
void check_disk_changes(bool check);
// The check for the tab `tab_id` behind the shown one, without asking: its file's bytes are
// compared when the stamp says so, and a tab whose file holds others stays marked, for the
// question to come when the user comes to it. A read that fails is reported naming the file.
void check_disk_behind(std::uint64_t tab_id);
void apply_directory_changes(bool all);

// Watch results waiting to be applied.
void apply_watch_reads();

// Split-view scroll synchronisation: one pending request (timer 10), the preview brought to
// the editor's top line, and a scroll of the preview to follow.
void run_split_sync();
void sync_preview_to_editor();
void preview_scrolled(double line);
// A view change that brings the editor back keeps the reader's place: the source line at the
// top of the preview the reader scrolled last, taken before the view changes (none when the
// editor moved last or the preview shows another text), becomes the editor's top line after.
std::optional<double> preview_place_to_keep();
void editor_to_preview_place(std::optional<double> line);

// Records the active tab's file and view at the head of the recent files.
void remember_recent_file();

// Menu checks and greying for the active tab.
void update_command_state();

// The answer of the unsaved-changes prompt.
enum class CloseChoice : std::uint32_t { save = 0, discard = 1, discard_all = 2, cancel = 3 };

// The unsaved-changes prompt of the active tab; `several` when more tabs are asked after it.
CloseChoice ask_save_changes(bool several);

// Closes every tab but the active one for which `select` holds, asking about modified ones.
void close_tabs_where(const std::function<bool(std::uint64_t index)>& select,
                      const std::function<CloseChoice(bool several)>& ask);

// Re-reads the active tab from disk, with the tab's encoding unless one is forced.
void reload_file(bool confirm, std::optional<Encoding> forced);

// Asks the directory watcher to read every watched folder again.
void rearm_directory_watcher();

// Watch mode of a tab: start or stop it, ask for a read, clear its marks.
void toggle_watch(std::uint64_t tab_id, const std::function<bool()>& confirm);
void schedule_watch_read(std::uint64_t tab_id, bool now);
void clear_watch_changes(std::uint64_t tab_id);

// The compare commands (compare sources, change navigation, the compare pop-up, the compare
// target list) and the status strip's watch pop-up.
void run_compare_command(unsigned id);
void show_watch_menu();
// Fills the "Open tab" compare submenu before it opens.
void rebuild_compare_menu();
// Compares the active tab with the tab `tab_id` (the tab menu's "Compare with this tab").
void compare_other_tab(std::uint64_t tab_id);
// A tab is about to close: its watch read is cancelled, its compare pass and its preview page
// forgotten.
void forget_tab_work(DocumentTab& tab);

// Timer 11: due compare passes are handed to the compare worker.
void compare_timer();

// Find and replace: the commands Find, Find next, Replace and Find previous (206-209), and the
// steps of Replace All (timer 5) and of the match count (timer 7).
void find_command(unsigned id);
void find_timer(UINT_PTR id);

// The formatting commands 400-410.
void format_command(unsigned id);

// The recent files: the File menu's submenu refilled, reopening entry `index`, emptying.
void rebuild_recent_menu();
void open_recent_file(std::size_t index);
void clear_recent_files();

// The completion popup computed at the caret (command Complete).
void show_completion();

// Expand all and Collapse all of the outline.
void set_outline_expansion(bool expand);

// The outline's mode (tasks, else headings) and whether finished tasks are hidden. Setting it
// gives the two mode buttons their window texts, then rebuilds the pane in the new mode.
bool outline_shows_tasks();
bool outline_hides_completed();
void set_outline_mode(bool tasks, bool hide_completed);

// The status strip's encoding and line-ending items, enabled unless the tab is watched.
void enable_status_format_items(bool enabled);

// Ends compare mode of a tab.
void stop_compare(DocumentTab& tab);

} // namespace pellix
