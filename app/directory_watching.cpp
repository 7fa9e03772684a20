#include "app/directory_watching.h"

#include <cstdlib>
#include <memory>

#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "tracking/directory_watcher.h"

namespace pellix {

namespace {

std::unique_ptr<DirectoryWatcher> watcher;
// The files last handed to the watcher, so that an unchanged tab list costs no set building.
std::vector<std::filesystem::path> handed_files;

// Runs at process exit for a window that was never destroyed, so that the thread is joined
// before the process tears down the runtime under it.
void destroy_directory_watcher() {
    stop_directory_watcher();
}

bool same_files(const std::vector<std::filesystem::path>& a,
                const std::vector<std::filesystem::path>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].native() != b[i].native()) {
            return false;
        }
    }
    return true;
}

} // namespace

void start_directory_watcher() {
    static const bool registered = std::atexit(destroy_directory_watcher) == 0;
    (void)registered;
    stop_directory_watcher();
    watcher = std::make_unique<DirectoryWatcher>();
}

void stop_directory_watcher() {
    watcher.reset();
    handed_files.clear();
}

bool directory_watcher_running() {
    return watcher && watcher->has_port();
}

void watch_open_files() {
    if (!watcher) {
        return;
    }
    std::vector<std::filesystem::path> files;
    files.reserve(tabs.size());
    for (const auto& tab : tabs) {
        if (!tab->path.empty()) {
            files.push_back(tab->path);
        }
    }
    if (same_files(files, handed_files)) {
        return;
    }
    watcher->watch_files(files);
    handed_files = std::move(files);
}

std::vector<std::filesystem::path> take_changed_files() {
    return watcher ? watcher->take_changed_files() : std::vector<std::filesystem::path>{};
}

void rearm_directory_watcher() {
    if (watcher) {
        watcher->rearm_all();
    }
}

} // namespace pellix
