#include "tracking/session_writer.h"

#include "core/file_io.h"
#include "tests/bounded_wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

// One heap block the tests watch: freeing it runs `on_watched_free` first, on the freeing
// thread. The default operator new allocates with malloc, so free() is its matching release.
std::atomic<void*> watched_block{nullptr};
std::function<void()> on_watched_free;

void operator delete(void* block) noexcept {
    if (block != nullptr && watched_block.load() == block) {
        watched_block = nullptr;
        on_watched_free();
    }
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
    operator delete(block);
}

namespace pellix {
namespace {

// A writer function that records which snapshots it was given (by their active index) and, when
// gated, waits for a permit before returning.
class RecordingWriter {
public:
    explicit RecordingWriter(bool gated) : gated_(gated) {}

    SessionWriter::WriterFunction function() {
        return [this](const StorePlan& plan, const Workspace& workspace) {
            std::unique_lock lock(mutex_);
            calls_.push_back(workspace.active);
            changed_.notify_all();
            changed_.wait(lock, [&] { return !gated_ || permits_ > 0; });
            if (gated_) {
                --permits_;
            }
            return plan.target;
        };
    }

    void release() {
        std::lock_guard lock(mutex_);
        ++permits_;
        changed_.notify_all();
    }

    void wait_for_calls(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return calls_.size() >= count; });
    }

    std::vector<std::uint64_t> calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    bool gated_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::uint64_t> calls_;
    int permits_ = 0;
};

StorePlan plan_to(const std::filesystem::path& target, std::vector<RankedFile> let_go = {}) {
    StorePlan plan;
    plan.target = target;
    plan.let_go = std::move(let_go);
    return plan;
}

const StorePlan to_t = plan_to("t");

Workspace tagged(std::uint64_t tag) {
    Workspace workspace;
    workspace.sessions.resize(tag + 1);
    workspace.active = tag;
    return workspace;
}

TEST(SessionWriter, SubmitThenStopWritesBeforeStopReturns) {
    std::vector<std::uint64_t> written;
    SessionWriter writer([&](const StorePlan& plan, const Workspace& workspace) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        written.push_back(workspace.active);
        return plan.target;
    });
    EXPECT_EQ(writer.submit(to_t, tagged(4)), 1u);
    writer.stop();
    EXPECT_EQ(written, std::vector<std::uint64_t>{4});
    auto result = writer.take_result();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->sequence, 1u);
    EXPECT_EQ(result->error, "");
    EXPECT_FALSE(writer.take_result());
}

TEST(SessionWriter, SubmitAfterStopIsRefused) {
    SessionWriter writer([](const StorePlan& plan, const Workspace&) { return plan.target; });
    writer.stop();
    writer.stop();
    try {
        writer.submit(to_t, tagged(0));
        FAIL() << "submit after stop was accepted";
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "Recovery writer is closing.");
    }
    EXPECT_FALSE(writer.take_result());
}

TEST(SessionWriter, FailuresBecomeResultTextsAndTheThreadGoesOn) {
    int call = 0;
    SessionWriter writer([&](const StorePlan& plan, const Workspace&) {
        ++call;
        if (call == 1) {
            throw 42;
        }
        if (call == 2) {
            throw std::length_error("Disk full.");
        }
        return plan.target;
    });
    auto wait_result = [&] {
        std::optional<SessionWriter::Result> result;
        EXPECT_TRUE(test::wait_until([&] { return (result = writer.take_result()).has_value(); }));
        return result.value_or(SessionWriter::Result{});
    };
    writer.submit(to_t, tagged(0));
    auto first = wait_result();
    EXPECT_EQ(first.sequence, 1u);
    EXPECT_EQ(first.error, "Recovery write failed.");
    writer.submit(to_t, tagged(0));
    EXPECT_EQ(wait_result().error, "Disk full.");
    writer.submit(to_t, tagged(0));
    auto third = wait_result();
    EXPECT_EQ(third.sequence, 3u);
    EXPECT_EQ(third.error, "");
    EXPECT_EQ(third.outcome.written, "t");
}

TEST(SessionWriter, OnlyTheNewestWaitingSnapshotIsWritten) {
    RecordingWriter recorder(true);
    SessionWriter writer(recorder.function());
    EXPECT_EQ(writer.submit(to_t, tagged(1)), 1u);
    recorder.wait_for_calls(1);
    // The thread is busy with the first job: the next two compete for the one slot.
    EXPECT_EQ(writer.submit(to_t, tagged(2)), 2u);
    EXPECT_EQ(writer.submit(to_t, tagged(3)), 3u);
    EXPECT_FALSE(writer.take_result());
    recorder.release();
    recorder.wait_for_calls(2);
    auto first = writer.take_result();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->sequence, 1u);
    recorder.release();
    writer.stop();
    EXPECT_EQ(recorder.calls(), (std::vector<std::uint64_t>{1, 3}));
    auto last = writer.take_result();
    ASSERT_TRUE(last);
    EXPECT_EQ(last->sequence, 3u);
}

TEST(SessionWriter, EveryFinishedWriteReportsItsOutcomeOnceInOrder) {
    RecordingWriter recorder(false);
    SessionWriter writer(recorder.function());
    writer.submit(to_t, tagged(0));
    recorder.wait_for_calls(1);
    writer.submit(to_t, tagged(1));
    writer.stop();
    // Both writes finished before anyone asked: the first one's outcome is not lost.
    std::vector<std::uint64_t> sequences;
    while (const auto result = writer.take_result()) {
        sequences.push_back(result->sequence);
    }
    EXPECT_EQ(sequences, (std::vector<std::uint64_t>{1, 2}));
}

TEST(SessionWriter, DefaultWriterStoresTheFiles) {
    const auto folder = std::filesystem::absolute(
        std::filesystem::temp_directory_path() /
        ("pellix-writer-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())));
    const auto tabs = folder / "tabs.bin";
    const auto session = folder / "session.bin";
    Session draft;
    draft.text = u"unsaved";
    draft.draft = true;
    const Workspace workspace{{draft}, 0};
    {
        SessionWriter writer;
        writer.submit(plan_to(tabs, {{.path = session}}), workspace);
        writer.stop();
        auto result = writer.take_result();
        ASSERT_TRUE(result);
        EXPECT_EQ(result->error, "");
        EXPECT_EQ(result->outcome.written, tabs);
    }
    const std::string bytes = read_file_bytes(tabs, recovery_container_limit);
    EXPECT_EQ(read_tab_recovery(split_store_file(bytes).container), workspace);
    {
        // Destruction alone still writes the snapshot handed over last.
        SessionWriter writer;
        writer.submit(plan_to(tabs, {{.path = session}}), Workspace{});
    }
    EXPECT_FALSE(std::filesystem::exists(tabs));
    std::filesystem::remove_all(folder);
}

TEST(SessionWriter, SupersededSnapshotIsFreedWithoutHoldingTheWriterUp) {
    RecordingWriter recorder(true);
    SessionWriter writer(recorder.function());
    writer.submit(to_t, tagged(1));
    recorder.wait_for_calls(1); // the writer thread is busy with the first job
    Workspace waiting = tagged(2);
    waiting.sessions[0].text.assign(4096, u'x');
    void* text_block = waiting.sessions[0].text.data();
    writer.submit(to_t, std::move(waiting));

    // While the waiting snapshot is freed, another thread must still get at the writer.
    std::thread reader;
    bool reader_blocked = false;
    on_watched_free = [&] {
        auto answered = std::make_shared<std::promise<void>>();
        std::future<void> done = answered->get_future();
        reader = std::thread([&writer, answered] {
            writer.take_result();
            answered->set_value();
        });
        reader_blocked = done.wait_for(std::chrono::seconds(2)) != std::future_status::ready;
    };
    watched_block = text_block;
    writer.submit(to_t, tagged(3));
    watched_block = nullptr;
    ASSERT_TRUE(reader.joinable()) << "the superseded snapshot was not freed by submit";
    reader.join();
    EXPECT_FALSE(reader_blocked);
    recorder.release();
    recorder.release();
    writer.stop();
    EXPECT_EQ(recorder.calls(), (std::vector<std::uint64_t>{1, 3}));
}

} // namespace
} // namespace pellix

namespace pellix {
namespace {

// The editor keeps typing into its document after the snapshot was handed over: the writer
// still gets the text as it was, taken out of the shared pieces on its own thread.
TEST(SessionWriter, ASnapshotSharingTheEditorsTextIsWrittenAsItWasTaken) {
    SourceDocument editor;
    editor.assign(u"first line\nsecond");
    std::promise<Workspace> written;
    SessionWriter writer([&](const StorePlan& plan, const Workspace& workspace) {
        written.set_value(workspace);
        return plan.target;
    });
    WorkspaceSnapshot snapshot;
    snapshot.active = 1;
    snapshot.sessions.resize(2);
    snapshot.sessions[1].text = editor.snapshot();
    snapshot.sessions[1].encoding = Encoding::windows_1252;
    snapshot.sessions[1].line_ending = LineEnding::lf;
    snapshot.sessions[1].path = "C:\\notes\\a.txt";
    snapshot.sessions[1].draft = true;
    writer.submit(to_t, std::move(snapshot));
    editor.replace(0, editor.length(), u"changed meanwhile", true);
    writer.stop();

    const Workspace workspace = written.get_future().get();
    const Workspace expected{
        .sessions = {Session{}, Session{u"first line\nsecond", Encoding::windows_1252,
                                        LineEnding::lf, "C:\\notes\\a.txt", true}},
        .active = 1,
    };
    EXPECT_EQ(workspace, expected);
}

// The writer reads a text through for its fingerprint only when it changed since the last
// snapshot written; what it gives the store must still be each written text's own fingerprint,
// also when only a setting or path changed, or a tab's text moved to another tab.
TEST(SessionWriter, TheFingerprintsGivenToAStoreAreThoseOfTheTextsItWrites) {
    SourceDocument first;
    first.assign(u"alpha");
    SourceDocument second;
    second.assign(u"beta\nlines");
    std::mutex mutex;
    std::vector<std::pair<Workspace, std::vector<std::uint64_t>>> stores;
    SessionWriter writer([&](const StorePlan& plan, const Workspace& workspace) {
        std::lock_guard lock(mutex);
        stores.emplace_back(workspace, plan.fingerprints);
        return plan.target;
    });
    auto store = [&](std::uint64_t first_tab, std::uint64_t second_tab, std::string first_path,
                     Encoding second_encoding) {
        WorkspaceSnapshot snapshot;
        snapshot.sessions.resize(2);
        snapshot.sessions[0].text = first.snapshot();
        snapshot.sessions[0].tab = first_tab;
        snapshot.sessions[0].path = std::move(first_path);
        snapshot.sessions[1].text = second.snapshot();
        snapshot.sessions[1].tab = second_tab;
        snapshot.sessions[1].encoding = second_encoding;
        writer.submit(to_t, std::move(snapshot));
        EXPECT_TRUE(test::wait_until([&] { return writer.take_result().has_value(); }));
    };
    store(7, 9, "", Encoding::utf8);
    second.replace(0, 4, u"BETA", true);
    store(7, 9, "", Encoding::utf8);
    store(7, 9, "C:\\notes\\a.md", Encoding::utf8);
    store(7, 9, "C:\\notes\\a.md", Encoding::utf16_le);
    store(9, 7, "C:\\notes\\a.md", Encoding::utf16_le);
    writer.stop();

    ASSERT_EQ(stores.size(), 5u);
    for (const auto& [workspace, fingerprints] : stores) {
        ASSERT_EQ(fingerprints.size(), workspace.sessions.size());
        for (std::size_t i = 0; i < fingerprints.size(); ++i) {
            EXPECT_EQ(fingerprints[i], session_fingerprint(workspace.sessions[i]));
        }
    }
}

} // namespace
} // namespace pellix
