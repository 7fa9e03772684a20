#pragma once

#include <filesystem>
#include <memory>
#include <vector>

namespace pellix {

// Records which open files may have changed on disk. One thread waits on one I/O completion port
// and keeps one directory-change read armed on the folder of every watched file; it never reads a
// file and never posts to a window: the owner takes the record on its timers.
class DirectoryWatcher {
public:
    // Creates the completion port and starts the thread. Without a port (the system refused
    // one) the watcher does nothing at all.
    DirectoryWatcher();
    // Stops the thread through the port, waits until every read was cancelled and joins it.
    ~DirectoryWatcher();
    DirectoryWatcher(const DirectoryWatcher&) = delete;
    DirectoryWatcher& operator=(const DirectoryWatcher&) = delete;

    bool has_port() const;

    // Replaces the files to watch (full paths; empty ones are skipped). When the set differs from
    // the current one the thread re-synchronises its folder reads with it.
    void watch_files(const std::vector<std::filesystem::path>& files);

    // Cancels every folder read and arms fresh ones, for a file that must be looked at now.
    void rearm_all();

    // The watched files named in change notifications since the last call (every watched file
    // of a folder whose read failed or lost its notifications), in path order; the record is
    // emptied.
    std::vector<std::filesystem::path> take_changed_files();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace pellix
