#include "tracking/session_writer.h"

#include "tracking/recovery_files.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>

namespace pellix {

SessionWriter::SessionWriter(WriterFunction writer)
    : writer_(writer ? std::move(writer)
                     : WriterFunction([](const StorePlan& plan, const Workspace& workspace) {
                           RecoveryFolderDisk disk;
                           return carry_out_store(disk, plan, workspace);
                       })) {
    // Started last, once every field it reads exists.
    thread_ = std::thread([this] { run(); });
}

SessionWriter::~SessionWriter() {
    stop();
}

std::uint64_t SessionWriter::submit(StorePlan plan, Workspace workspace) {
    return enqueue(std::move(plan), std::move(workspace));
}

std::uint64_t SessionWriter::submit(StorePlan plan, WorkspaceSnapshot snapshot) {
    return enqueue(std::move(plan), std::move(snapshot));
}

std::uint64_t SessionWriter::enqueue(StorePlan plan,
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
        superseded = std::exchange(pending_, Job{std::move(plan), std::move(workspace), sequence});
    }
    wake_.notify_one();
    return sequence;
}

std::optional<SessionWriter::Result> SessionWriter::take_result() {
    std::lock_guard lock(mutex_);
    if (results_.empty()) {
        return std::nullopt;
    }
    Result result = std::move(results_.front());
    results_.pop_front();
    return result;
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
            // Nothing more is written: the texts kept for their fingerprints are let go.
            fingerprinted_.clear();
            return;
        }
        // Moved out so that the next submit fills the slot while this one is on its way to disk.
        Job job = std::move(*pending_);
        pending_.reset();
        lock.unlock();

        Result result = write(job);

        lock.lock();
        results_.push_back(std::move(result));
        // The snapshot may be hundreds of MiB: free it without holding up submit().
        lock.unlock();
    }
}

std::vector<std::uint64_t> SessionWriter::fingerprints_of(const WorkspaceSnapshot& snapshot,
                                                          const Workspace& workspace) {
    std::vector<std::uint64_t> fingerprints;
    std::vector<Fingerprinted> now;
    fingerprints.reserve(snapshot.sessions.size());
    now.reserve(snapshot.sessions.size());
    for (std::size_t i = 0; i < snapshot.sessions.size(); ++i) {
        const SessionSnapshot& session = snapshot.sessions[i];
        const auto before =
            std::find_if(fingerprinted_.begin(), fingerprinted_.end(),
                         [&](const Fingerprinted& text) { return text.tab == session.tab; });
        const bool same =
            session.tab != 0 && before != fingerprinted_.end() &&
            before->root == session.text.root && before->encoding == session.encoding &&
            before->line_ending == session.line_ending && before->path == session.path;
        fingerprints.push_back(same ? before->fingerprint
                                    : session_fingerprint(workspace.sessions[i]));
        if (session.tab != 0) {
            now.push_back({.tab = session.tab,
                           .root = session.text.root,
                           .encoding = session.encoding,
                           .line_ending = session.line_ending,
                           .path = session.path,
                           .fingerprint = fingerprints.back()});
        }
    }
    fingerprinted_ = std::move(now);
    return fingerprints;
}

SessionWriter::Result SessionWriter::write(const Job& job) {
    Result result{.sequence = job.sequence, .error = {}, .plan = job.plan, .outcome = {}};
    try {
        StoreOutcome& outcome = result.outcome;
        if (const auto* workspace = std::get_if<Workspace>(&job.workspace)) {
            outcome = writer_(job.plan, *workspace);
        } else {
            const auto& snapshot = std::get<WorkspaceSnapshot>(job.workspace);
            const Workspace texts = workspace_of(snapshot);
            StorePlan plan = job.plan;
            plan.fingerprints = fingerprints_of(snapshot, texts);
            outcome = writer_(plan, texts);
        }
    } catch (const std::exception& failure) {
        result.error = failure.what();
    } catch (...) {
        result.error = "Recovery write failed.";
    }
    return result;
}

} // namespace pellix
