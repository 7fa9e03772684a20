#pragma once

#include "core/source_document.h"
#include "tracking/compare_baseline.h"
#include "tracking/line_diff.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace pellix {

// One compare pass wanted for a tab.
struct CompareJob {
    std::uint64_t tab_id = 0;
    std::uint64_t generation = 0;
    std::uint64_t revision = 0;
    // Its identity tells the owner whether the result still belongs to the tab's comparison.
    std::shared_ptr<const CompareBaseline> baseline;
    // A snapshot of the tab's editor document; handed back in the result so that it is released
    // on the owner's thread.
    SourceDocument document;
};

struct CompareResult {
    CompareJob job;
    // The baseline (old) against the document (new).
    LineDiff diff;
    std::string error; // English, empty on success; the diff then keeps its defaults
};

// The one thread that diffs a tab's text against its baseline, one job at a time. It never
// touches a window or a tab: the owner hands jobs over and takes results back on the UI thread,
// and drops results that a newer revision, baseline or generation has overtaken.
class CompareWorker {
public:
    using Notify = std::function<void()>;
    // The line diff of the baseline (old) and the document (new); `stopping` is raised by the
    // destructor.
    using DiffFunction =
        std::function<LineDiff(std::u16string_view old_text, std::u16string_view new_text,
                               const std::atomic<bool>& stopping)>;

    // `notify` runs on the worker thread after each published result and must only post a
    // message (its exceptions are ignored); `diff` is normally empty, for diff_lines. Starts the
    // thread.
    explicit CompareWorker(Notify notify, DiffFunction diff = {});
    // Waits for a diff in progress, publishes nothing more and joins the thread.
    ~CompareWorker();
    CompareWorker(const CompareWorker&) = delete;
    CompareWorker& operator=(const CompareWorker&) = delete;

    // Hands a job over unless the previous result has not been taken yet; a job still waiting is
    // replaced. Returns false, dropping `job`, when refused: the caller keeps the tab pending.
    // Throws std::invalid_argument for a job without a baseline.
    bool hand_over(CompareJob job);

    // The finished result, once; taking it frees the worker for the next job.
    std::optional<CompareResult> take_result();

    // A job was handed over and its result not yet taken.
    bool busy();

private:
    void run();
    CompareResult compare(CompareJob job) const;

    Notify notify_;
    DiffFunction diff_;
    std::mutex mutex_;
    std::condition_variable condition_;
    // Read by a running diff too, without the lock.
    std::atomic<bool> stop_{false};
    bool busy_ = false;
    std::optional<CompareJob> job_;
    std::optional<CompareResult> result_;
    std::thread thread_;
};

} // namespace pellix
