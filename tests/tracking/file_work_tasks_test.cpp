#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "core/file_io_calls.h"
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
    const std::optional<SalvagedWorkspace> read = read_tab_recovery_file(tabs);
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->whole);
    EXPECT_EQ(read->workspace, workspace);

    // Bytes the format refuses are damage, a record over its size limit among them.
    const auto broken = folder / "session.bin";
    test::write_bytes(broken, "not a record");
    const auto oversized = folder / "oversized.bin";
    test::write_bytes(oversized, std::string(recovery_record_limit + 1, 'x'));
    for (const auto& damaged : {read_recovery_record_file(broken), read_tab_recovery_file(broken),
                                read_recovery_record_file(oversized)}) {
        ASSERT_TRUE(damaged);
        EXPECT_FALSE(damaged->whole);
        EXPECT_TRUE(damaged->workspace.sessions.empty());
    }
}

TEST_F(TrackingFileWork, AStoreThatCannotBeOpenedIsTriedAgainAndThenIsNotDamaged) {
    const auto tabs = folder / "tabs.bin";
    const Workspace workspace{{{u"draft", Encoding::utf8, LineEnding::lf, "", true}}, 0};
    test::write_bytes(tabs, encode_tab_recovery(workspace));
    int refusals = 2;
    int opens = 0;
    ScopedAtomicSaveCalls held({.write_file = {},
                                .replace_file = {},
                                .move_file = {},
                                .open_for_reading = [&](const wchar_t* path) -> void* {
                                    ++opens;
                                    if (opens <= refusals) {
                                        SetLastError(ERROR_SHARING_VIOLATION);
                                        return INVALID_HANDLE_VALUE;
                                    }
                                    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                       OPEN_EXISTING, 0, nullptr);
                                }});
    const std::optional<SalvagedWorkspace> later = read_tab_recovery_file(tabs);
    ASSERT_TRUE(later);
    EXPECT_TRUE(later->whole);
    EXPECT_EQ(later->workspace, workspace);
    EXPECT_EQ(opens, 3);

    // Held for good: nothing, after a bounded number of tries, for either file.
    refusals = 1000;
    opens = 0;
    EXPECT_FALSE(read_tab_recovery_file(tabs));
    EXPECT_FALSE(read_recovery_record_file(tabs));
    EXPECT_GT(opens, 2);
    EXPECT_LT(opens, 20);
}

} // namespace
} // namespace pellix
