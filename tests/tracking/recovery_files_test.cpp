#include "tracking/recovery_files.h"

#include "core/file_io.h"
#include "core/file_io_calls.h"
#include "tests/message_of.h"

#include <gtest/gtest.h>

#include <windows.h>

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

TEST_F(RecoveryFiles, AStoreThatCannotBeOpenedIsTriedAgainAndThenIsNotDamaged) {
    const Workspace workspace{{{u"draft", Encoding::utf8, LineEnding::lf, "", true}}, 0};
    const std::string bytes = encode_tab_recovery(workspace);
    put(tabs_, bytes);
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
    RecoveryFolderDisk disk;
    EXPECT_EQ(disk.read(tabs_, recovery_container_limit), bytes);
    EXPECT_EQ(opens, 3);

    // Held for good: nothing, after a bounded number of tries.
    refusals = 1000;
    opens = 0;
    EXPECT_FALSE(disk.read(tabs_, recovery_container_limit));
    EXPECT_GT(opens, 2);
    EXPECT_LT(opens, 20);
}

TEST_F(RecoveryFiles, TheFolderOnDiskReadsWritesMovesWithoutReplacingAndLists) {
    RecoveryFolderDisk disk;
    // A file over the limit holds nothing of this program's: no bytes, not "cannot be read".
    disk.write(tabs_, "12345");
    EXPECT_EQ(disk.read(tabs_, 4), std::string());
    EXPECT_EQ(disk.read(tabs_, 5), "12345");
    put(session_, "record");
    EXPECT_THROW(disk.move(session_, tabs_), std::runtime_error);
    EXPECT_EQ(disk.read(tabs_, 5), "12345");
    disk.move(session_, tabs_.parent_path() / "session.bin.kept-x");
    EXPECT_FALSE(disk.exists(session_));
    disk.remove(session_);
    std::vector<std::filesystem::path> names = disk.names(tabs_.parent_path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::filesystem::path>{"session.bin.kept-x", "tabs.bin"}));
    EXPECT_TRUE(disk.names(folder_ / "none").empty());
}

// A replace that moves the old file away and cannot put the new one in its place
// (ERROR_UNABLE_TO_MOVE_REPLACEMENT): the store has landed once the temporary file is moved
// there; where that fails too, the next start still reads the store from the temporary file and
// cleans it up once a store holds it.
TEST_F(RecoveryFiles, AReplaceThatLosesTheOldFileStillLeavesTheStoreWhereAStartReadsIt) {
    RecoveryFolderDisk disk;
    const std::filesystem::path folder = tabs_.parent_path();
    const Workspace old{{session_of(u"old", "")}, 0};
    const Workspace newer{{session_of(u"newer", "")}, 0};
    {
        RecoveryPolicy first(disk, folder, 1);
        first.start();
        first.restored({}, {});
        const StorePlan plan = first.plan_store();
        first.store_written(plan, carry_out_store(disk, plan, old));
    }
    bool move_fails = false;
    auto lose_old = [&](const wchar_t* replaced, const wchar_t*) {
        DeleteFileW(replaced);
        SetLastError(ERROR_UNABLE_TO_MOVE_REPLACEMENT);
        return false;
    };
    auto move = [&](const wchar_t* from, const wchar_t* to) {
        return !move_fails && MoveFileExW(from, to, MOVEFILE_WRITE_THROUGH) != FALSE;
    };
    RecoveryPolicy second(disk, folder, 2);
    ASSERT_TRUE(second.start());
    second.restored({}, {});
    {
        ScopedAtomicSaveCalls calls({.write_file = {},
                                     .replace_file = lose_old,
                                     .move_file = move,
                                     .open_for_reading = {}});
        const StorePlan plan = second.plan_store();
        EXPECT_EQ(carry_out_store(disk, plan, newer).written, tabs_);
        move_fails = true;
        const StorePlan lost = second.plan_store();
        StorePlan nowhere_else = lost;
        nowhere_else.fallback.clear();
        EXPECT_THROW(carry_out_store(disk, nowhere_else, Workspace{{session_of(u"last", "")}, 0}),
                     std::runtime_error);
    }
    EXPECT_FALSE(std::filesystem::exists(tabs_));
    RecoveryPolicy third(disk, folder, 3);
    const std::optional<SalvagedWorkspace> read = third.start();
    ASSERT_TRUE(read);
    ASSERT_EQ(read->workspace.sessions.size(), 1u);
    EXPECT_EQ(read->workspace.sessions[0].text, u"last");
    third.restored({}, {});
    const StorePlan plan = third.plan_store();
    third.store_written(plan, carry_out_store(disk, plan, read->workspace));
    std::vector<std::filesystem::path> left;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        left.push_back(entry.path().filename());
    }
    EXPECT_EQ(left, std::vector<std::filesystem::path>{"tabs.bin"});
}

} // namespace
} // namespace pellix
