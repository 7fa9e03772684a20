#include "tracking/compare_worker.h"

#include "tests/tracking/message_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

namespace pellix {
namespace {

std::shared_ptr<const CompareBaseline> baseline_of(const std::u16string& text) {
    return std::make_shared<const CompareBaseline>(make_compare_baseline(text));
}

SourceDocument document_of(const std::u16string& text) {
    SourceDocument document;
    document.assign(text);
    return document;
}

CompareJob job_of(std::shared_ptr<const CompareBaseline> baseline, const std::u16string& text,
                  std::uint64_t generation = 1) {
    return CompareJob{.tab_id = 4,
                      .generation = generation,
                      .revision = 9,
                      .baseline = std::move(baseline),
                      .document = document_of(text)};
}

TEST(CompareWorker, PostsTheDiffOfItsJobAndTakesNoOtherUntilTheResultIsTaken) {
    test::MessageWindow window;
    CompareWorker worker(window.notifier());
    const auto baseline = baseline_of(u"a\nb\nc");

    EXPECT_FALSE(worker.busy());
    ASSERT_TRUE(worker.hand_over(job_of(baseline, u"a\nc", 6)));
    EXPECT_FALSE(worker.hand_over(job_of(baseline, u"other", 7)));
    ASSERT_TRUE(window.wait_posted());
    EXPECT_TRUE(worker.busy());

    std::optional<CompareResult> result = worker.take_result();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->job.tab_id, 4u);
    EXPECT_EQ(result->job.generation, 6u);
    EXPECT_EQ(result->job.revision, 9u);
    EXPECT_EQ(result->job.baseline, baseline);
    EXPECT_EQ(result->job.document.text(), u"a\nc");
    EXPECT_TRUE(result->error.empty());
    const LineDiff expected = diff_lines(u"a\nb\nc", u"a\nc");
    EXPECT_EQ(result->diff.ranges, expected.ranges);
    EXPECT_EQ(result->diff.marks, expected.marks);
    EXPECT_FALSE(worker.take_result());
    EXPECT_FALSE(worker.busy());

    // Taking the result frees the worker.
    ASSERT_TRUE(worker.hand_over(job_of(baseline, u"a\nb\nc", 8)));
    ASSERT_TRUE(window.wait_posted());
    EXPECT_EQ(worker.take_result()->job.generation, 8u);
}

TEST(CompareWorker, DestroyedWhileItDiffsItWaitsForTheDiffAndPublishesNothing) {
    test::MessageWindow window;
    // Stands for a long diff: it runs on until the worker is being destroyed.
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
    auto worker = std::make_unique<CompareWorker>(
        window.notifier(),
        [&](std::u16string_view, std::u16string_view, const std::atomic<bool>& stopping) {
            started = true;
            test::wait_until([&] { return stopping.load(); });
            finished = true;
            return LineDiff{};
        });
    ASSERT_TRUE(worker->hand_over(job_of(baseline_of(u"old\n"), u"new\n")));
    ASSERT_TRUE(test::wait_until([&] { return started.load(); }));
    worker.reset();
    EXPECT_TRUE(finished);
    EXPECT_FALSE(window.has_posted());
}

TEST(CompareWorker, AnUnchangedTextCountsItsLinesWithoutRanges) {
    test::MessageWindow window;
    CompareWorker worker(window.notifier());

    ASSERT_TRUE(worker.hand_over(job_of(baseline_of(u"x\ny\n"), u"x\ny\n")));
    ASSERT_TRUE(window.wait_posted());
    CompareResult result = *worker.take_result();
    EXPECT_TRUE(result.diff.line_by_line);
    EXPECT_EQ(result.diff.old_lines, 3u);
    EXPECT_EQ(result.diff.new_lines, 3u);
    EXPECT_TRUE(result.diff.ranges.empty());

    ASSERT_TRUE(worker.hand_over(job_of(baseline_of(u""), u"")));
    ASSERT_TRUE(window.wait_posted());
    result = *worker.take_result();
    EXPECT_EQ(result.diff.old_lines, 1u);
    EXPECT_EQ(result.diff.new_lines, 1u);

    EXPECT_THROW(worker.hand_over(job_of(nullptr, u"")), std::invalid_argument);
}

} // namespace
} // namespace pellix
