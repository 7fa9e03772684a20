#pragma once

#include "tracking/recovery_format.h"
#include "tracking/recovery_policy.h"
#include "tracking/recovery_snapshot.h"

#include <condition_variable>
#include <deque>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

namespace pellix {

// Writes recovery snapshots on a thread of its own so that typing never waits for the disk. Only
// the newest snapshot waiting is written; each carries a sequence number so that the caller can
// ignore results of requests it has since superseded.
class SessionWriter {
public:
    // Writes the workspace as the plan says and says what it left on disk.
    using WriterFunction =
        std::function<StoreOutcome(const StorePlan& plan, const Workspace& workspace)>;

    struct Result {
        std::uint64_t sequence = 0;
        std::string error; // UTF-8; empty on success
        StorePlan plan;
        StoreOutcome outcome; // what it left on disk; empty on failure
    };

    // An empty function means `carry_out_store` on the real recovery folder. Starts the thread
    // at once.
    explicit SessionWriter(WriterFunction writer = {});
    ~SessionWriter();

    SessionWriter(const SessionWriter&) = delete;
    SessionWriter& operator=(const SessionWriter&) = delete;

    // Replaces any job still waiting and returns the new job's sequence number (the first is 1).
    // Throws std::runtime_error "Recovery writer is closing." after stop().
    std::uint64_t submit(StorePlan plan, Workspace workspace);
    // The same for a snapshot whose texts are still shared with the editors: they are taken out
    // on the writer thread, so the caller pays for no text.
    std::uint64_t submit(StorePlan plan, WorkspaceSnapshot snapshot);

    // The oldest finished write's result not taken yet, once each: every write's outcome reaches
    // the caller, in the order written; nothing when none is waiting.
    std::optional<Result> take_result();

    // Refuses further jobs, lets the thread write the job in progress and the one waiting, and
    // returns once it has ended.
    void stop();

private:
    struct Job {
        StorePlan plan;
        std::variant<Workspace, WorkspaceSnapshot> workspace;
        std::uint64_t sequence = 0;
    };

    std::uint64_t enqueue(StorePlan plan, std::variant<Workspace, WorkspaceSnapshot> workspace);

    // A text fingerprinted for an earlier store: its tab, the shared root of its pieces (the
    // same root is the same text, and holding it keeps its address from being taken by another)
    // and what else the fingerprint covers.
    struct Fingerprinted {
        std::uint64_t tab = 0;
        SourceDocument::NodePtr root;
        Encoding encoding = Encoding::utf8;
        LineEnding line_ending = LineEnding::crlf;
        std::string path;
        std::uint64_t fingerprint = 0;
    };

    void run();
    Result write(const Job& job);
    // The fingerprint of each session, read through again only for a text that changed since
    // the last snapshot written; remembers them for the next.
    std::vector<std::uint64_t> fingerprints_of(const WorkspaceSnapshot& snapshot,
                                               const Workspace& workspace);

    WriterFunction writer_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<Job> pending_;
    std::deque<Result> results_;
    std::thread thread_;
    std::uint64_t last_sequence_ = 0;
    bool stopping_ = false;
    // The texts of the last snapshot written; the writer thread's own.
    std::vector<Fingerprinted> fingerprinted_;
};

} // namespace pellix
