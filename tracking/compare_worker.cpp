#include "tracking/compare_worker.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>

namespace pellix {

CompareWorker::CompareWorker(Notify notify, DiffFunction diff)
    : notify_(std::move(notify)), diff_(std::move(diff)) {
    // Started last, once every field it reads exists.
    thread_ = std::thread([this] { run(); });
}

CompareWorker::~CompareWorker() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    condition_.notify_one();
    thread_.join();
}

bool CompareWorker::hand_over(CompareJob job) {
    if (!job.baseline) {
        throw std::invalid_argument("A compare job needs a baseline.");
    }
    std::lock_guard lock(mutex_);
    if (stop_ || busy_) {
        return false;
    }
    busy_ = true;
    job_ = std::move(job);
    condition_.notify_one();
    return true;
}

std::optional<CompareResult> CompareWorker::take_result() {
    std::lock_guard lock(mutex_);
    if (!result_) {
        return std::nullopt;
    }
    busy_ = false;
    return std::exchange(result_, std::nullopt);
}

bool CompareWorker::busy() {
    std::lock_guard lock(mutex_);
    return busy_;
}

void CompareWorker::run() {
    for (;;) {
        std::unique_lock lock(mutex_);
        condition_.wait(lock, [this] { return stop_ || job_.has_value(); });
        if (stop_) {
            return;
        }
        CompareJob job = std::move(*job_);
        job_.reset();
        lock.unlock();

        CompareResult result = compare(std::move(job));

        lock.lock();
        if (stop_) {
            return;
        }
        // A newer result replaces one not taken yet.
        result_ = std::move(result);
        lock.unlock();
        if (notify_) {
            try {
                notify_();
            } catch (...) {
                // Posting is all a notification does; the owner's timer catches up.
            }
        }
    }
}

CompareResult CompareWorker::compare(CompareJob job) const {
    CompareResult result;
    result.job = std::move(job);
    try {
        const std::u16string& old_text = result.job.baseline->text;
        const std::u16string new_text = result.job.document.text();
        if (old_text == new_text) {
            // Unchanged from the baseline: the line counts are all a diff would add.
            const auto lines =
                static_cast<std::uint64_t>(std::count(new_text.begin(), new_text.end(), u'\n')) + 1;
            result.diff.old_lines = lines;
            result.diff.new_lines = lines;
        } else {
            result.diff = diff_ ? diff_(old_text, new_text, stop_) : diff_lines(old_text, new_text);
        }
    } catch (const std::exception& failure) {
        result.diff = LineDiff{};
        result.error = failure.what();
    }
    return result;
}

} // namespace pellix
