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

TEST_F(TrackingFileWork, RecoveryFilesAreReadAndDamageIsReported) {
    Workspace workspace;
    workspace.sessions.push_back({u"draft text", Encoding::utf8, LineEnding::lf, "", true});
    workspace.sessions.push_back(
        {u"saved", Encoding::utf16_le, LineEnding::crlf, "C:\\notes\\a.md", false});
    workspace.active = 1;
    const auto tabs = folder / "tabs.bin";
    test::write_bytes(tabs, encode_tab_recovery(workspace));
    const SalvagedWorkspace read = read_tab_recovery_file(tabs);
    EXPECT_TRUE(read.whole);
    EXPECT_EQ(read.workspace, workspace);

    const auto broken = folder / "session.bin";
    test::write_bytes(broken, "not a record");
    for (const auto& damaged : {read_recovery_record_file(broken), read_tab_recovery_file(broken),
                                read_recovery_record_file(folder / "missing.bin")}) {
        EXPECT_FALSE(damaged.whole);
        EXPECT_TRUE(damaged.workspace.sessions.empty());
    }
}

} // namespace
} // namespace pellix
