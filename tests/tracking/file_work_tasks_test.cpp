#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "core/source_document.h"
#include "tracking/file_work_tasks.h"
#include "tests/scratch_folder.h"

namespace pellix {
namespace {

class TrackingFileWork : public ::testing::Test {
protected:
    test::ScratchFolder folder{"tracking-work"};
};

TEST_F(TrackingFileWork, CompareBaselinesOfATextAndOfASnapshot) {
    SourceDocument document;
    document.assign(u"a\nb\nc");
    auto baseline = compare_baseline(u"x\r\ny");
    ASSERT_TRUE(baseline);
    EXPECT_EQ(baseline->text, u"x\ny");
    EXPECT_EQ(compare_snapshot_baseline(document.snapshot())->text, u"a\nb\nc");
    try {
        compare_baseline(std::u16string(document_limit + 1, u'x'));
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Compare baseline exceeds the editor limit.");
    }
}

} // namespace
} // namespace pellix
