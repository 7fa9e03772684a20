#include "tracking/recovery_files.h"

#include "core/file_io.h"
#include "tests/message_of.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>
#include <algorithm>

namespace pellix {
namespace {

using namespace std::string_literals;

using test::message_of;

Session session_of(std::u16string text, std::string path, bool draft = true) {
    Session session;
    session.text = std::move(text);
    session.path = std::move(path);
    session.draft = draft;
    return session;
}

// 2026-12-07 09:05 and `second` seconds, as the clock would give it.
SYSTEMTIME morning(WORD second) {
    return {.wYear = 2026,
            .wMonth = 12,
            .wDayOfWeek = 1,
            .wDay = 7,
            .wHour = 9,
            .wMinute = 5,
            .wSecond = second,
            .wMilliseconds = 0};
}

class RecoveryFiles : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        folder_ = std::filesystem::absolute(
            std::filesystem::temp_directory_path() /
            ("pellix-" + std::string(test->name()) + "-" + std::to_string(stamp)));
        tabs_ = folder_ / "Pellix" / "Native" / "tabs.bin";
        session_ = folder_ / "Pellix" / "Native" / "session.bin";
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    void put(const std::filesystem::path& path, const std::string& bytes) {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }

    std::filesystem::path folder_;
    std::filesystem::path tabs_;
    std::filesystem::path session_;
};

TEST_F(RecoveryFiles, EmptyWorkspaceDeletesBothFiles) {
    put(tabs_, "old tabs");
    put(session_, "old session");
    write_tab_recovery(tabs_, session_, Workspace{});
    EXPECT_FALSE(std::filesystem::exists(tabs_));
    EXPECT_FALSE(std::filesystem::exists(session_));
    // Missing files are no error.
    EXPECT_NO_THROW(write_tab_recovery(tabs_, session_, Workspace{}));
}

TEST_F(RecoveryFiles, WriteCreatesTheFolderReplacesTabsAndDropsSession) {
    Workspace workspace{{session_of(u"draft\ntext", "C:\\notes\\a.md"), session_of(u"", "", false)},
                        1};
    write_tab_recovery(tabs_, session_, workspace);
    EXPECT_EQ(read_file_bytes(tabs_, recovery_container_limit), encode_tab_recovery(workspace));

    put(session_, "old session");
    workspace.sessions[0].text = u"newer";
    write_tab_recovery(tabs_, session_, workspace);
    EXPECT_FALSE(std::filesystem::exists(session_));
    EXPECT_EQ(read_tab_recovery(read_file_bytes(tabs_, recovery_container_limit)), workspace);
}

TEST_F(RecoveryFiles, FailedWriteLeavesBothFilesAsTheyWere) {
    const std::string old_tabs = "old tabs";
    put(tabs_, old_tabs);
    put(session_, "session");
    Workspace bad{{session_of(u"fine", ""), session_of(u"a\0b"s, "")}, 0};
    EXPECT_EQ(message_of([&] { write_tab_recovery(tabs_, session_, bad); }),
              "Invalid recovery document.");
    EXPECT_EQ(read_file_bytes(tabs_, recovery_container_limit), old_tabs);
    EXPECT_TRUE(std::filesystem::exists(session_));
}

TEST_F(RecoveryFiles, ADamagedStoreIsMovedAsideAsItIsAndOnlyTheNewestFewStay) {
    const std::string damaged("PLXTABS1\x03\0\0\0half", 16);
    SYSTEMTIME when = morning(3);
    put(tabs_, damaged);
    const auto first = keep_store_copy(tabs_, KeptCopy::damaged, when);
    EXPECT_EQ(first, tabs_.parent_path() / "tabs.bin.damaged-20261207-090503");
    EXPECT_FALSE(std::filesystem::exists(tabs_));
    EXPECT_EQ(read_file_bytes(first, recovery_container_limit), damaged);

    // The same second again: the older copy is never replaced.
    put(tabs_, "second");
    const auto second = keep_store_copy(tabs_, KeptCopy::damaged, when);
    EXPECT_EQ(second, tabs_.parent_path() / "tabs.bin.damaged-20261207-090503-2");
    EXPECT_EQ(read_file_bytes(first, recovery_container_limit), damaged);

    put(session_, "record");
    const auto session_copy = keep_store_copy(session_, KeptCopy::damaged, when);
    for (WORD minute = 6; minute < 9; ++minute) {
        when.wMinute = minute;
        put(tabs_, "later");
        keep_store_copy(tabs_, KeptCopy::damaged, when);
    }
    EXPECT_FALSE(std::filesystem::exists(first));
    EXPECT_FALSE(std::filesystem::exists(second));
    std::size_t kept = 0;
    for (const auto& entry : std::filesystem::directory_iterator(tabs_.parent_path())) {
        kept += entry.path().filename().wstring().starts_with(L"tabs.bin.damaged-");
    }
    EXPECT_EQ(kept, kept_store_copies);
    EXPECT_TRUE(std::filesystem::exists(session_copy));

    EXPECT_THROW(keep_store_copy(tabs_, KeptCopy::damaged, when), std::system_error);
}

TEST_F(RecoveryFiles, CopiesArePrunedByTheirStampAndCounterAsNumbersAndEachKindApart) {
    const SYSTEMTIME when = morning(0);
    put(tabs_.parent_path() / "tabs.bin.damaged-mine", "the user's own");
    std::filesystem::path intact;
    for (int round = 1; round <= 12; ++round) {
        put(tabs_, std::to_string(round));
        keep_store_copy(tabs_, KeptCopy::damaged, when);
        if (round == 1) {
            put(tabs_, "intact");
            intact = keep_store_copy(tabs_, KeptCopy::intact, when);
        }
    }
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(tabs_.parent_path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"tabs.bin.damaged-20261207-090500-10",
                                        "tabs.bin.damaged-20261207-090500-11",
                                        "tabs.bin.damaged-20261207-090500-12",
                                        "tabs.bin.damaged-mine", "tabs.bin.kept-20261207-090500"}));
    EXPECT_EQ(intact.filename(), "tabs.bin.kept-20261207-090500");
}

} // namespace
} // namespace pellix
