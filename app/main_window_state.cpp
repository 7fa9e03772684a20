#include "app/main_window_state.h"

#include "core/window_work.h"

namespace pellix {

HWND main_window = nullptr;
bool file_work_busy = false;
bool keys_queued = false;
std::vector<std::filesystem::path> pending_paths;
bool close_pending = false;
HINSTANCE instance = nullptr;
bool compare_mode = false;
bool start_up_pending = false;
bool command_line_named_files = false;
bool closing = false;
MainChrome chrome;
HWND editor_shown_later = nullptr;
MainMenus menus;
std::vector<std::unique_ptr<DocumentTab>> tabs;
std::uint64_t active = 0;
std::uint64_t next_tab_id = 1;
bool suppress_change = false;
std::uint64_t input_busy_until = 0;
std::uint64_t autosave_deadline = 0;
std::uint64_t recovery_store_deadline = 0;
WordCountCache word_count_cache;
std::wstring search_term;
unsigned long highlight_mode = 0;
SplitSyncRequest split_sync_request;
bool split_syncing = false;

namespace {

// The batch of each entry of `pending_paths`, at the same index.
std::vector<std::uint64_t> pending_batches;
std::uint64_t last_open_batch = 0;

// Entries put into the queue directly get the batch 0 and lose any stale number.
void match_batches_to_paths() {
    pending_batches.resize(pending_paths.size(), 0);
}

} // namespace

DocumentTab& current_tab() {
    return *tabs.at(active);
}

std::uint64_t new_open_batch() {
    return ++last_open_batch;
}

void queue_pending_path(std::filesystem::path path, std::uint64_t batch) {
    match_batches_to_paths();
    pending_paths.push_back(std::move(path));
    pending_batches.push_back(batch);
}

void unqueue_last_pending_path() {
    match_batches_to_paths();
    if (!pending_paths.empty()) {
        pending_paths.pop_back();
        pending_batches.pop_back();
    }
}

std::vector<PendingPath> take_pending_paths() {
    match_batches_to_paths();
    std::vector<PendingPath> taken;
    taken.reserve(pending_paths.size());
    for (std::size_t i = 0; i < pending_paths.size(); ++i) {
        taken.push_back({std::move(pending_paths[i]), pending_batches[i]});
    }
    pending_paths.clear();
    pending_batches.clear();
    return taken;
}

void release_queued_work() {
    if (main_window == nullptr || !IsWindow(main_window)) {
        return;
    }
    if (!pending_paths.empty()) {
        PostMessageW(main_window, WM_APP_OPEN_QUEUED, 0, 0);
    }
    if (close_pending) {
        close_pending = false;
        PostMessageW(main_window, WM_CLOSE, 0, 0);
    }
}

void install_main_window_file_work_host() {
    install_file_work_host({
        .window = [] { return main_window; },
        .set_busy = [](bool busy) { file_work_busy = busy; },
        .released = release_queued_work,
    });
}

} // namespace pellix
