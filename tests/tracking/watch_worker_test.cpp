#include "tracking/watch_worker.h"

#include "platform/unique_handle.h"
#include "tests/scratch_folder.h"
#include "tests/tracking/message_window.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace pellix {
namespace {

std::string read_error(const std::filesystem::path& path, bool cancelled = false) {
    const std::atomic<bool> cancel{cancelled};
    try {
        read_watched_file(path, cancel);
    } catch (const std::runtime_error& failure) {
        return failure.what();
    }
    return {};
}

TEST(ReadWatchedFile, ReadsUpToTheLimitAndNamesEachRefusal) {
    test::ScratchFolder folder("watch-read");
    const auto at_limit = folder / "limit.md";
    test::write_bytes(at_limit, std::string(document_limit, 'a'));
    const std::atomic<bool> cancel{false};
    const WatchRead read = read_watched_file(at_limit, cancel);
    EXPECT_EQ(read.size, document_limit);
    EXPECT_EQ(read.bytes, std::string(document_limit, 'a'));

    const auto over = folder / "over.md";
    test::write_bytes(over, std::string(document_limit + 1, 'a'));
    EXPECT_EQ(read_error(over), "File exceeds the editing limit");
    EXPECT_EQ(read_error(folder / "missing.md"), "File unavailable");
    EXPECT_EQ(read_error(at_limit, true), "Cancelled");
}

TEST(ReadWatchedFile, AFileNamedLikeADeviceIsReadFromTheFile) {
    test::ScratchFolder folder("watch-read-device");
    for (const wchar_t* name : {L"nul.md", L"con"}) {
        test::write_bytes(test::literal_spelling(folder / name), "watched\n");
        const std::atomic<bool> cancel{false};
        std::string bytes;
        ASSERT_NO_THROW(bytes = read_watched_file(folder / name, cancel).bytes);
        EXPECT_EQ(bytes, "watched\n");
    }
}

WatchJob job_for(const std::filesystem::path& path, const std::u16string& text,
                 Encoding encoding = Encoding::utf8) {
    WatchJob job;
    job.tab_id = 7;
    job.generation = 3;
    job.marks_counter = 2;
    job.path = path;
    job.document.assign(text);
    job.encoding = encoding;
    job.line_ending = LineEnding::lf;
    return job;
}

class WatchWorkerTest : public ::testing::Test {
protected:
    WatchResult run(WatchJob job) {
        EXPECT_TRUE(worker.hand_over(std::move(job)));
        EXPECT_TRUE(window.wait_posted());
        std::optional<WatchResult> result = worker.take_result();
        if (!result) {
            throw std::logic_error("No result was published.");
        }
        return std::move(*result);
    }

    test::ScratchFolder folder{"watch-worker"};
    test::MessageWindow window;
    WatchWorker worker{window.notifier(), read_watched_file};
};

TEST_F(WatchWorkerTest, CarriesTheTabsMarksOverTheTextReadAgain) {
    const auto path = folder / "notes.md";
    test::write_bytes(path, "a\nX\nb\nc");
    WatchJob job = job_for(path, u"a\nb\nc");
    job.line_marks = {{1, 2, line_mark_changed}};

    const WatchResult result = run(std::move(job));
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.job.tab_id, 7u);
    EXPECT_EQ(result.job.generation, 3u);
    EXPECT_EQ(result.job.marks_counter, 2u);
    EXPECT_EQ(result.bytes, "a\nX\nb\nc");
    EXPECT_EQ(result.size, 7u);
    EXPECT_FALSE(result.unchanged);
    EXPECT_FALSE(result.cancelled);
    EXPECT_EQ(result.diff.marks.line_marks, (std::vector<LineMark>{{1, 2, line_mark_added}}));
    EXPECT_EQ(result.merged_line_marks,
              (std::vector<LineMark>{{1, 2, line_mark_added}, {2, 3, line_mark_changed}}));
    EXPECT_EQ(result.new_document.text(), u"a\nX\nb\nc");
    EXPECT_FALSE(worker.busy());
}

TEST_F(WatchWorkerTest, AByteOrderMarkDecidesTheEncodingAndFailuresHaveOneSentence) {
    const auto path = folder / "wide.md";
    test::write_bytes(path, std::string("\xFF\xFE"
                                        "h\0i\0",
                                        6));

    WatchResult result = run(job_for(path, u"hi", Encoding::utf8));
    EXPECT_EQ(result.decoded.encoding, Encoding::utf16_le);
    EXPECT_FALSE(result.unchanged);
    EXPECT_EQ(result.new_document.text(), u"hi");

    WatchJob same = job_for(path, u"hi", Encoding::utf16_le);
    same.line_ending = result.decoded.line_ending;
    result = run(std::move(same));
    EXPECT_TRUE(result.unchanged);
    EXPECT_TRUE(result.diff.ranges.empty());
    EXPECT_TRUE(result.merged_line_marks.empty());
    EXPECT_EQ(result.new_document.length(), 0u);

    // Whatever the decoder's complaint, the user reads one sentence.
    test::write_bytes(path, std::string("a\0b", 3));
    result = run(job_for(path, u"ab"));
    EXPECT_EQ(result.error, "Encoding could not be read");
    EXPECT_EQ(result.bytes, std::string("a\0b", 3));
}

// Destroys the worker on another thread and waits a bounded time for the destructor: a worker
// that cannot stop fails the test instead of hanging it.
bool destroyed_within(std::unique_ptr<WatchWorker> worker, std::chrono::seconds timeout) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> destroyed = done->get_future();
    std::thread([worker = std::move(worker), done]() mutable {
        worker.reset();
        done->set_value();
    }).detach();
    return destroyed.wait_for(timeout) == std::future_status::ready;
}

bool wait_until(const std::atomic<bool>& flag) {
    const ULONGLONG deadline = GetTickCount64() + 10000;
    while (!flag && GetTickCount64() < deadline) {
        Sleep(1);
    }
    return flag;
}

// A read that blocks in the kernel on a pipe nobody writes to, as an open of an unreachable
// share would; only CancelSynchronousIo can end it.
WatchRead blocking_read(std::atomic<bool>& started) {
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, nullptr, 0)) {
        throw std::runtime_error("No pipe.");
    }
    UniqueHandle reader(read_end);
    UniqueHandle writer(write_end);
    started = true;
    char byte = 0;
    DWORD count = 0;
    ReadFile(reader.get(), &byte, 1, &count, nullptr);
    throw std::runtime_error("The read ended.");
}

TEST(WatchWorker, CancellingItsTabEndsABlockingRead) {
    test::MessageWindow window;
    auto started = std::make_shared<std::atomic<bool>>(false);
    auto worker = std::make_unique<WatchWorker>(
        window.notifier(), [started](const std::filesystem::path&, const std::atomic<bool>&) {
            return blocking_read(*started);
        });
    ASSERT_TRUE(worker->hand_over(job_for("C:\\blocked.md", u"")));
    ASSERT_TRUE(wait_until(*started));

    worker->cancel(8);
    EXPECT_FALSE(window.wait_posted(50));
    // Repeated, since the first may come before the read has blocked.
    const ULONGLONG deadline = GetTickCount64() + 10000;
    while (!window.wait_posted(20) && GetTickCount64() < deadline) {
        worker->cancel(7);
    }
    std::optional<WatchResult> result = worker->take_result();
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->cancelled);
    EXPECT_EQ(result->error, "The read ended.");
    EXPECT_TRUE(destroyed_within(std::move(worker), std::chrono::seconds(10)));
}

TEST(WatchWorker, DestroyedDuringAReadItPublishesNothing) {
    test::MessageWindow window;
    auto started = std::make_shared<std::atomic<bool>>(false);
    auto worker = std::make_unique<WatchWorker>(
        window.notifier(),
        [started](const std::filesystem::path&, const std::atomic<bool>& cancel) {
            *started = true;
            while (!cancel) {
                Sleep(1);
            }
            return WatchRead{};
        });
    ASSERT_TRUE(worker->hand_over(job_for("C:\\slow.md", u"")));
    ASSERT_TRUE(wait_until(*started));

    ASSERT_TRUE(destroyed_within(std::move(worker), std::chrono::seconds(10)));
    EXPECT_FALSE(window.has_posted());
}

} // namespace
} // namespace pellix
