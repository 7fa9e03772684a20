#include "tracking/session_writer.h"

#include "tracking/recovery_files.h"

#include <exception>
#include <stdexcept>
#include <utility>

namespace pellix {

SessionWriter::SessionWriter(WriterFunction writer)
    : writer_(writer ? std::move(writer) : WriterFunction(write_tab_recovery)) {
    // Started last, once every field it reads exists.
    thread_ = std::thread([this] { run(); });
}

SessionWriter::~SessionWriter() {
    stop();
}

std::uint64_t SessionWriter::submit(std::filesystem::path tabs_path,
                                    std::filesystem::path session_path, Workspace workspace) {
    return enqueue(std::move(tabs_path), std::move(session_path), std::move(workspace));
}

std::uint64_t SessionWriter::submit(std::filesystem::path tabs_path,
                                    std::filesystem::path session_path,
                                    WorkspaceSnapshot snapshot) {
    return enqueue(std::move(tabs_path), std::move(session_path), std::move(snapshot));
}

std::uint64_t SessionWriter::enqueue(std::filesystem::path tabs_path,
                                     std::filesystem::path session_path,
                                     std::variant<Workspace, WorkspaceSnapshot> workspace) {
    std::uint64_t sequence = 0;
    // The snapshot this one supersedes may be hundreds of MiB: it is freed here, after the
    // lock is released, so the writer thread and take_result() never wait for it.
    std::optional<Job> superseded;
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            throw std::runtime_error("Recovery writer is closing.");
        }
        sequence = ++last_sequence_;
        superseded = std::exchange(pending_, Job{std::move(tabs_path), std::move(session_path),
                                                 std::move(workspace), sequence});
    }
    wake_.notify_one();
    return sequence;
}

std::optional<SessionWriter::Result> SessionWriter::take_result() {
    std::lock_guard lock(mutex_);
    return std::exchange(last_result_, std::nullopt);
}

void SessionWriter::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void SessionWriter::run() {
    for (;;) {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return stopping_ || pending_.has_value(); });
        if (!pending_) {
            return;
        }
        // Moved out so that the next submit fills the slot while this one is on its way to disk.
        Job job = std::move(*pending_);
        pending_.reset();
        lock.unlock();

        std::string error = write(job);

        lock.lock();
        last_result_ = Result{job.sequence, std::move(error)};
        // The snapshot may be hundreds of MiB: free it without holding up submit().
        lock.unlock();
    }
}

std::string SessionWriter::write(const Job& job) const {
    try {
        if (const auto* workspace = std::get_if<Workspace>(&job.workspace)) {
            writer_(job.tabs_path, job.session_path, *workspace);
        } else {
            writer_(job.tabs_path, job.session_path,
                    workspace_of(std::get<WorkspaceSnapshot>(job.workspace)));
        }
        return {};
    } catch (const std::exception& failure) {
        return failure.what();
    } catch (...) {
        return "Recovery write failed.";
    }
}

} // namespace pellix
