#pragma once

// Process-wide state of the main window that code outside the main window reads or signals.
// It is owned by the main window and touched only on the UI thread; the main window's own
// code extends this header rather than keeping a second copy.

#include <windows.h>
#include <richedit.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "app/scroll_profile.h"

#include "core/line_index.h"
#include "tracking/change_marks.h"
#include "tracking/compare_baseline.h"
#include "tracking/line_diff.h"

namespace pellix {

// The main window; null before it exists and after it is destroyed. Users check it with
// IsWindow before use.
extern HWND main_window;

// True while blocking file work runs (see window_work); the main window's operations read it
// to hold back work that must not start meanwhile.
extern bool file_work_busy;

// Set by the message loop while it dispatches a key message that more key messages wait
// behind, so that a burst of typing refreshes the status once. The loop looks at the queue
// itself because looking from inside an edit's notification would deliver messages sent from
// other threads there, in the middle of the edit.
extern bool keys_queued;

// Paths that could not be opened yet, in arrival order; opened on WM_APP_OPEN_QUEUED.
extern std::vector<std::filesystem::path> pending_paths;

// A queued path and the open batch it came with (one drop, one Open selection, the paths handed
// over between two openings of the queue). The tab limit's refusal ends its own batch only.
struct PendingPath {
    std::filesystem::path path;
    std::uint64_t batch = 0;
};
// A batch number no earlier batch had.
std::uint64_t new_open_batch();
void queue_pending_path(std::filesystem::path path, std::uint64_t batch);
// Takes back the path queued last (its opening could not be requested).
void unqueue_last_pending_path();
// Empties the queue. Paths put into `pending_paths` without a batch count as one batch.
std::vector<PendingPath> take_pending_paths();

// A WM_CLOSE arrived while file work or start-up was unfinished or a prompt was open: whoever
// ends that work, or closes the last prompt, clears the flag and posts WM_CLOSE again. Both names
// denote the one flag.
extern bool close_pending;
inline bool& close_deferred = close_pending;

// The program's private window messages; each carries no parameters. WM_APP + 0x5D is unused;
// the editor and the preview keep WM_APP + 0x51 and WM_APP + 0x5C for themselves.
// Posted to the main window to have it open `pending_paths`.
inline constexpr UINT WM_APP_OPEN_QUEUED = WM_APP + 0x5E;
// Posted once after the window is first shown in an editor run: the start-up tail.
inline constexpr UINT WM_APP_STARTUP_TAIL = WM_APP + 0x5F;
// Relayout and redraw of the chrome after a DPI, display or monitor change.
inline constexpr UINT WM_APP_APPEARANCE_CHANGED = WM_APP + 0x60;
// Posted by the watch and compare workers from their threads.
inline constexpr UINT WM_APP_WATCH_RESULTS = WM_APP + 0x61;
inline constexpr UINT WM_APP_COMPARE_RESULTS = WM_APP + 0x62;
// Posted by a size of the window: the whole window is drawn once the sizes waiting are taken.
inline constexpr UINT WM_APP_DRAW_SIZE = WM_APP + 0x63;

// The module of the program, stored before anything else at start.
extern HINSTANCE instance;

// A valid "--compare" run: its own window class, no single instance, nothing saved.
extern bool compare_mode;

// "--scroll-profile" was given: the one flag of the scroll profile's record.
inline bool& scroll_profile_enabled = scroll_profile.enabled;

// From showing the window until the start-up tail has run (never in compare mode): queued opens
// and a close request wait meanwhile.
extern bool start_up_pending;

// The command line named at least one path.
extern bool command_line_named_files;

// The window has decided to close and is about to be destroyed: WM_COPYDATA is refused.
extern bool closing;

// The main window's children. Null until made; a pane whose unit has not landed stays null
// and is skipped by the layout.
struct MainChrome {
    HWND tab_control = nullptr;
    HWND status_strip = nullptr;
    HWND view_switcher = nullptr;
    HWND editor = nullptr; // the active tab's editor
    HWND preview_host = nullptr;
    HWND preview = nullptr; // the preview window inside the host, once made
    HWND outline_tree = nullptr;
    HWND outline_label = nullptr;
    HWND source_label = nullptr;
    HWND preview_label = nullptr;
    HWND outline_options = nullptr;
    HWND headings_button = nullptr;
    HWND tasks_button = nullptr;
    HWND hide_source = nullptr;
    HWND hide_preview = nullptr;
    HWND new_tab = nullptr;
    HWND find_bar = nullptr;
    HWND find_box = nullptr;
    HWND replace_box = nullptr;
};
extern MainChrome chrome;
// The editor a tab switch enters, kept hidden by the layout until the rest of the window shows
// the new tab: shown at once, it covered the editor left (under Wine's renderer, with nothing)
// for as long as the switch took.
extern HWND editor_shown_later;

// The menu bar and the submenus that are filled or marked after it is built; null until built.
struct MainMenus {
    HMENU bar = nullptr;
    HMENU encoding = nullptr;
    HMENU recent = nullptr;
    HMENU colouring = nullptr;
    HMENU theme = nullptr;
    HMENU compare = nullptr;
    HMENU compare_tabs = nullptr;
};
extern MainMenus menus;

// One open document: its editor window, cached text, file identity and disk state, view state,
// compare and watch state, and what the tab strip last showed for it. UI thread only; workers
// get copies of its text, never the record.
struct DocumentTab {
    std::shared_ptr<const CompareBaseline> baseline;
    std::wstring compare_label;
    // The note on the pass shown ("At last change", "Comparison updating"): it goes whenever a
    // pass is scheduled or applied, so it never outlives the pass it was made for.
    std::wstring compare_summary;
    std::string compare_error;
    LineDiff compare_diff;
    bool baseline_is_saved_file = false;
    bool compare_pending = false;
    std::uint64_t compare_generation = 0;
    std::uint64_t compare_scheduled_revision = UINT64_MAX;
    std::uint64_t compare_applied_revision = UINT64_MAX;
    std::uint64_t compare_due = 0;
    std::uint64_t nav_index = 0;
    bool nav_set = false;
    std::int32_t nav_caret = -1;
    HWND editor = nullptr;
    std::u16string text;
    // The editor's text state that `text` was last taken from, sharing the editor's pieces, so
    // that the next refresh copies only the stretch that changed since. Empty when `text` came
    // from elsewhere; the refresh then copies the whole text.
    SourceDocument text_source;
    std::uint32_t encoding = 0;
    std::uint32_t line_ending = 1;
    std::filesystem::path path;
    std::string disk_bytes;
    // A fingerprint of `disk_bytes` (of the file a restored draft grew from, when it has none):
    // the version of its file the tab's draft grew from, which the recovery store names.
    std::uint64_t disk_version = 0;
    FILETIME disk_write_time{};
    std::uint64_t disk_size = 0;
    bool disk_exists = false;
    bool recovered_draft = false;
    bool disk_check_pending = false;
    bool text_stale = false;
    std::uint64_t revision = 0;
    std::uint32_t view = 300;
    double split_ratio = 0.5;
    double split_restore = 0.5;
    std::uint64_t id = 0;
    // Which tab this is to the recovery store, the same in every store and every run that brings
    // it back: its session's when a restore brought it back, else made at its first store; 0
    // until then.
    std::uint64_t recovery_tab = 0;
    // Set by a restore on an untitled tab holding another version of a tab (a draft of a store
    // written beside the one its tab came from, or grown from another version of its file): the
    // file of that tab (empty for an untitled one), which names this one.
    std::optional<std::filesystem::path> other_version_of;
    std::uint32_t watch_state = 0;
    std::uint32_t shown_watch_state = 0;
    std::vector<LineMark> watch_line_marks;
    std::vector<DeletionMark> watch_deletion_marks;
    std::uint64_t watch_generation = 0;
    std::uint64_t watch_marks_counter = 0;
    bool was_read_only = false;
    bool watch_pending = false;
    bool watch_highlights_unavailable = false;
    bool source_leads = true;
    bool preview_line_pending = false;
    double preview_line = 0.0;
    std::uint32_t watch_retries = 0;
    std::uint64_t watch_due = 0;
    std::uint64_t watch_first_change = 0;
    FILETIME watch_last_write{};
    std::uint64_t watch_updates = 0;
    std::string watch_status;
    // A Replace All's progress, shown in the status strip.
    std::wstring status_note;
    CHARRANGE selection{};
    POINT scroll_pos{};
    std::wstring shown_name;
    std::wstring label;
    bool shown_modified = false;
    bool changed_on_disk = false;
    bool shown_changed_on_disk = false;
    bool shown_comparing = false;
    std::unordered_set<std::u16string> collapsed_keys;
    std::int64_t shown_index = -1;
};

// The tabs in strip order, never empty while the main window exists, and the active index.
extern std::vector<std::unique_ptr<DocumentTab>> tabs;
extern std::uint64_t active;
// The identifier the next tab takes; identifiers are never reused within a run.
extern std::uint64_t next_tab_id;
inline constexpr std::uint64_t no_tab = UINT64_MAX;

// `tabs.at(active)`.
DocumentTab& current_tab();

// While set, the active editor's EN_CHANGE is ignored: a whole document is being installed.
extern bool suppress_change;

// The end of the current burst of editor or preview input (GetTickCount64 milliseconds); the
// deferred refreshes wait until it has passed.
extern std::uint64_t input_busy_until;
// The latest time input may still postpone a deferred recovery snapshot to, from its first
// postponement; 0 for none.
extern std::uint64_t autosave_deadline;
// The latest time the snapshot of the first change not yet handed to the recovery writer may
// wait until, however steadily changes come; 0 for none.
extern std::uint64_t recovery_store_deadline;

// The word count of the active tab's text, brought up to date by the text refreshes.
extern WordCountCache word_count_cache;

// The find and highlight term the editors read.
extern std::wstring search_term;
// The editors' search highlight mode (the find flags; 0 for none).
extern unsigned long highlight_mode;

// A pending split-view scroll synchronisation, carried out on timer 10.
struct SplitSyncRequest {
    bool pending = false;
    bool from_source = false;
    std::uint64_t tab_id = 0;
    std::uint64_t revision = 0;
    double line = 0.0;
};
extern SplitSyncRequest split_sync_request;
// Set while a scroll is being applied on purpose, so that it is not echoed back.
extern bool split_syncing;

// Makes the file-work runner work on this state: it disables `main_window` while work runs,
// keeps `file_work_busy`, and when the outermost run ends posts WM_APP_OPEN_QUEUED for queued
// paths and a deferred WM_CLOSE (clearing `close_pending`) to the window, if it exists.
void install_main_window_file_work_host();
// Posts what waited for work or a prompt to end: WM_APP_OPEN_QUEUED for queued paths, and a
// deferred WM_CLOSE (clearing `close_pending`), to the window if it exists.
void release_queued_work();

// One flag per tab index, set by the closing prompts for the tabs whose edits the user
// discarded; the final recovery snapshot keeps those tabs as their saved files.
extern std::vector<bool> discarded_at_close;

} // namespace pellix
