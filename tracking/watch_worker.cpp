#include "tracking/watch_worker.h"

#include "platform/unique_handle.h"
#include "tracking/watch_marks.h"

#include <exception>
#include <stdexcept>
#include <utility>

namespace pellix {
namespace {

bool starts_with_byte_order_mark(const std::string& bytes) {
    const auto starts = [&](std::string_view mark) { return bytes.starts_with(mark); };
    return starts("\xFF\xFE") || starts("\xFE\xFF") || starts("\xEF\xBB\xBF");
}

// A byte-order mark wins over the tab's encoding, so a file re-saved as UTF-16 still reads.
// Whatever the decoder's own complaint, the user sees one sentence.
Document decode_watched_bytes(const std::string& bytes, Encoding encoding) {
    try {
        const auto request =
            starts_with_byte_order_mark(bytes) ? 0 : static_cast<std::int32_t>(encoding);
        return decode_document_bytes(bytes, request);
    } catch (const std::exception&) {
        throw std::runtime_error("Encoding could not be read");
    }
}

void throw_if_cancelled(const std::atomic<bool>& cancel) {
    if (cancel) {
        throw std::runtime_error("Cancelled");
    }
}

} // namespace

WatchWorker::WatchWorker(Notify notify, ReadFunction read)
    : notify_(std::move(notify)), read_(std::move(read)) {
    // Started last, once every field it reads exists.
    thread_ = std::thread([this] { run(); });
}

WatchWorker::~WatchWorker() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        cancel_.exchange(true);
    }
    condition_.notify_one();
    cancel_blocking_call();
    thread_.join();
}

bool WatchWorker::hand_over(WatchJob job) {
    std::lock_guard lock(mutex_);
    if (stop_ || busy_) {
        return false;
    }
    busy_ = true;
    current_job_ = job.tab_id;
    cancel_.exchange(false);
    job_ = std::move(job);
    condition_.notify_one();
    return true;
}

std::optional<WatchResult> WatchWorker::take_result() {
    std::lock_guard lock(mutex_);
    if (!result_) {
        return std::nullopt;
    }
    std::optional<WatchResult> taken = std::exchange(result_, std::nullopt);
    busy_ = false;
    current_job_ = 0;
    return taken;
}

bool WatchWorker::busy() {
    std::lock_guard lock(mutex_);
    return busy_;
}

void WatchWorker::cancel(std::uint64_t tab_id) {
    std::lock_guard lock(mutex_);
    if (tab_id == 0 || current_job_ != tab_id) {
        return;
    }
    cancel_ = true;
    cancel_blocking_call();
}

// Wakes a blocking open or read on the worker thread, which the cancel flag cannot reach.
void WatchWorker::cancel_blocking_call() {
    const DWORD id = worker_thread_id_;
    if (id == 0) {
        return;
    }
    UniqueHandle thread(OpenThread(THREAD_TERMINATE, FALSE, id));
    if (thread) {
        CancelSynchronousIo(thread.get());
    }
}

void WatchWorker::run() {
    worker_thread_id_.exchange(GetCurrentThreadId());
    for (;;) {
        std::unique_lock lock(mutex_);
        condition_.wait(lock, [this] { return stop_ || job_.has_value(); });
        if (stop_) {
            return;
        }
        WatchResult result;
        result.job = std::move(*job_);
        job_.reset();
        lock.unlock();

        try {
            process(result);
        } catch (const std::exception& failure) {
            result.error = failure.what();
        }
        result.cancelled = cancel_;

        lock.lock();
        if (stop_) {
            return;
        }
        publish(lock, result);
    }
}

void WatchWorker::process(WatchResult& result) {
    throw_if_cancelled(cancel_);
    WatchRead read = read_(result.job.path, cancel_);
    throw_if_cancelled(cancel_);
    result.bytes = std::move(read.bytes);
    result.size = read.size;
    result.last_write = read.last_write;

    result.decoded = decode_watched_bytes(result.bytes, result.job.encoding);
    const std::u16string old_text = result.job.document.text();
    if (old_text == result.decoded.text && result.decoded.encoding == result.job.encoding &&
        result.decoded.line_ending == result.job.line_ending) {
        result.unchanged = true;
        return;
    }
    result.diff = diff_lines(old_text, result.decoded.text);
    ChangeMarks merged =
        carry_watch_marks(result.diff, result.job.line_marks, result.job.deletion_marks);
    result.merged_line_marks = std::move(merged.line_marks);
    result.merged_deletion_marks = std::move(merged.deletion_marks);

    throw_if_cancelled(cancel_);
    result.new_document.assign(result.decoded.text);
}

// A newer result replaces one not taken yet.
void WatchWorker::publish(std::unique_lock<std::mutex>& lock, WatchResult& result) {
    result_ = std::move(result);
    lock.unlock();
    if (notify_) {
        try {
            notify_();
        } catch (...) {
            // Posting is all a notification does; a failed one is caught up with by the
            // owner's timer.
        }
    }
}

} // namespace pellix
