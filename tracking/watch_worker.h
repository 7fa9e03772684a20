#pragma once

#include "core/encoding.h"
#include "core/source_document.h"
#include "tracking/change_marks.h"
#include "tracking/line_diff.h"
#include "tracking/watched_file_read.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace pellix {

// One request to read a watched tab's file again.
struct WatchJob {
    std::uint64_t tab_id = 0; // identifiers start at 1
    std::uint64_t generation = 0;
    std::uint64_t marks_counter = 0;
    std::filesystem::path path;
    // A snapshot of the tab's editor document, never modified by the worker.
    SourceDocument document;
    Encoding encoding = Encoding::utf8;
    LineEnding line_ending = LineEnding::crlf;
    // The tab's current marks, in the snapshot's lines.
    std::vector<LineMark> line_marks;
    std::vector<DeletionMark> deletion_marks;
};

// One finished job. Fields after `error` hold what was done before a failure.
struct WatchResult {
    WatchJob job;
    std::string bytes;
    std::string error; // English, empty on success
    std::uint64_t size = 0;
    FILETIME last_write{};
    Document decoded;
    SourceDocument new_document;
    // The snapshot's text (old) against the decoded text (new).
    LineDiff diff;
    std::vector<LineMark> merged_line_marks;
    std::vector<DeletionMark> merged_deletion_marks;
    // The file decoded to the snapshot's text, encoding and line ending: no diff, marks or new
    // document were made.
    bool unchanged = false;
    // The cancel flag was set when the result was published.
    bool cancelled = false;
};

// The one thread that re-reads watched files: it reads the file, decodes it, compares it with the
// tab's snapshot, carries the tab's marks over and builds the new editor document, one job at a
// time. It never touches a window or a tab; the owner hands jobs over and takes results back on
// the UI thread.
class WatchWorker {
public:
    using Notify = std::function<void()>;
    using ReadFunction =
        std::function<WatchRead(const std::filesystem::path&, const std::atomic<bool>&)>;

    // `notify` runs on the worker thread after each published result and must only post a
    // message (its exceptions are ignored); `read` is normally read_watched_file. Starts the
    // thread.
    WatchWorker(Notify notify, ReadFunction read);
    // Cancels the running read (also a blocking system call), joins the thread and drops
    // whatever was not taken.
    ~WatchWorker();
    WatchWorker(const WatchWorker&) = delete;
    WatchWorker& operator=(const WatchWorker&) = delete;

    // Hands a job over unless the previous result has not been taken yet; a job still waiting is
    // replaced. Returns false, dropping `job`, when refused: the caller keeps the tab pending.
    bool hand_over(WatchJob job);

    // The finished result, once; taking it frees the worker for the next job.
    std::optional<WatchResult> take_result();

    // A job was handed over and its result not yet taken.
    bool busy();

    // Cancels the job of `tab_id` when it is the one handed over: its read gives up at once and
    // its result comes back with `cancelled` set. Nothing happens for any other tab.
    void cancel(std::uint64_t tab_id);

private:
    void run();
    void process(WatchResult& result);
    void publish(std::unique_lock<std::mutex>& lock, WatchResult& result);
    void cancel_blocking_call();

    Notify notify_;
    ReadFunction read_;
    std::mutex mutex_;
    std::condition_variable condition_;
    std::optional<WatchJob> job_;
    std::optional<WatchResult> result_;
    std::atomic<bool> cancel_{false};
    std::atomic<DWORD> worker_thread_id_{0};
    bool stop_ = false;
    bool busy_ = false;
    std::uint64_t current_job_ = 0;
    std::thread thread_;
};

} // namespace pellix
