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
MainMenus menus;
std::vector<std::unique_ptr<DocumentTab>> tabs;
std::uint64_t active = 0;
std::uint64_t next_tab_id = 1;
bool suppress_change = false;
std::uint64_t input_busy_until = 0;
std::uint64_t autosave_deadline = 0;
WordCountCache word_count_cache;
std::wstring search_term;
unsigned long highlight_mode = 0;
SplitSyncRequest split_sync_request;
bool split_syncing = false;

DocumentTab& current_tab() {
    return *tabs.at(active);
}

namespace {

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

} // namespace

void install_main_window_file_work_host() {
    install_file_work_host({
        .window = [] { return main_window; },
        .set_busy = [](bool busy) { file_work_busy = busy; },
        .released = release_queued_work,
    });
}

} // namespace pellix
