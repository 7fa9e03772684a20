#include "tracking/directory_watcher.h"

#include "tests/scratch_folder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace pellix {
namespace {

using Paths = std::set<std::filesystem::path>;

constexpr ULONGLONG wait_ms = 10000;

// Takes the record until it holds `wanted`, for at most `wait_ms`; returns everything taken.
Paths wait_for_record(DirectoryWatcher& watcher, const std::filesystem::path& wanted) {
    Paths taken;
    const ULONGLONG deadline = GetTickCount64() + wait_ms;
    while (!taken.contains(wanted) && GetTickCount64() < deadline) {
        for (auto& path : watcher.take_changed_files()) {
            taken.insert(std::move(path));
        }
        Sleep(5);
    }
    return taken;
}

// The folder reads are armed on the watcher's thread some time after the files were given: this
// rewrites `file` until a change to it is recorded, then empties the record.
bool wait_until_watching(DirectoryWatcher& watcher, const std::filesystem::path& file) {
    const ULONGLONG deadline = GetTickCount64() + wait_ms;
    while (GetTickCount64() < deadline) {
        test::write_bytes(file, "touched");
        Sleep(20);
        if (!watcher.take_changed_files().empty()) {
            Sleep(50);
            watcher.take_changed_files();
            return true;
        }
    }
    return false;
}

// The process's handle count. Wine answers GetProcessHandleCount with 0, so there the handle
// table is probed instead: kernel handles are multiples of 4, and a small test process stays far
// below the probed range.
DWORD handle_count() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) {
        return count;
    }
    constexpr std::uintptr_t probed_values = 0x1000;
    for (std::uintptr_t value = 4; value < probed_values; value += 4) {
        DWORD flags = 0;
        count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
    }
    return count;
}

// The watcher holds one handle per watched folder; waits until the process holds `expected`.
bool wait_for_handles(DWORD expected) {
    const ULONGLONG deadline = GetTickCount64() + wait_ms;
    while (handle_count() != expected && GetTickCount64() < deadline) {
        Sleep(5);
    }
    return handle_count() == expected;
}

TEST(DirectoryWatcher, RecordsOnlyWatchedNamesWhateverTheirCaseOrSeparators) {
    test::ScratchFolder folder("watcher-names");
    const auto a = folder / "a.md";
    const auto b = folder / "b.md";
    test::write_bytes(a, "a");
    test::write_bytes(folder / "B.md", "b");
    DirectoryWatcher watcher;
    ASSERT_TRUE(watcher.has_port());
    // A path spelled with forward slashes still matches the names the system reports.
    watcher.watch_files({a, std::filesystem::path(b.generic_wstring())});
    ASSERT_TRUE(wait_until_watching(watcher, a));

    test::write_bytes(folder / "other.txt", "unrelated");
    test::write_bytes(folder / "B.md", "written under another case");
    EXPECT_EQ(wait_for_record(watcher, b), Paths{b});
}

TEST(DirectoryWatcher, OneReadPerFolderFollowsTheWatchedFiles) {
    test::ScratchFolder folder("watcher-folders");
    std::filesystem::create_directories(folder / "one");
    std::filesystem::create_directories(folder / "two");
    const auto a = folder / "one" / "a.md";
    const auto c = folder / "one" / "c.md";
    const auto d = folder / "two" / "d.md";
    for (const auto& file : {a, c, d}) {
        test::write_bytes(file, "text");
    }
    DirectoryWatcher watcher;
    const DWORD idle = handle_count();
    watcher.watch_files({a, c, d});
    ASSERT_TRUE(wait_for_handles(idle + 2));
    ASSERT_TRUE(wait_until_watching(watcher, d));

    // The notification of a rename carries the old name.
    std::filesystem::rename(a, folder / "one" / "z.md");
    EXPECT_TRUE(wait_for_record(watcher, a).contains(a));

    // Closing one of two files of a folder keeps its read; closing the only one drops it.
    watcher.watch_files({c});
    EXPECT_TRUE(wait_for_handles(idle + 1));
    test::write_bytes(c, "changed");
    EXPECT_TRUE(wait_for_record(watcher, c).contains(c));

    // Re-arming replaces the read by a fresh one that goes on watching. Wine may make a handle
    // of its own at the first cancelled read, so the count is compared from the second one on.
    watcher.rearm_all();
    ASSERT_TRUE(wait_until_watching(watcher, c));
    const DWORD armed = handle_count();
    watcher.rearm_all();
    ASSERT_TRUE(wait_until_watching(watcher, c));
    EXPECT_TRUE(wait_for_handles(armed));

    watcher.watch_files({});
    watcher.rearm_all();
    EXPECT_TRUE(wait_for_handles(armed - 1));
}

TEST(DirectoryWatcher, WatchesAFolderNamedLikeADevice) {
    test::ScratchFolder folder("watcher-device-folder");
    ASSERT_TRUE(std::filesystem::create_directory(test::literal_spelling(folder / "con")));
    DirectoryWatcher watcher;
    watcher.watch_files({folder / "con" / "a.md"});
    EXPECT_TRUE(wait_until_watching(watcher, folder / "con" / "a.md"));
}

TEST(DirectoryWatcher, StartsAndStopsAThousandTimesWithoutLeakingAHandle) {
    test::ScratchFolder folder("watcher-cycles");
    std::vector<std::filesystem::path> files;
    for (int i = 0; i < 4; ++i) {
        const auto sub = folder / std::to_string(i);
        std::filesystem::create_directories(sub);
        files.push_back(sub / "f.md");
    }
    const DWORD before = handle_count();
    for (int cycle = 0; cycle < 1000; ++cycle) {
        DirectoryWatcher watcher;
        if (cycle % 100 == 0) {
            // Now and then with every read armed, so that teardown cancels pending reads.
            const DWORD idle = handle_count();
            watcher.watch_files(files);
            ASSERT_TRUE(wait_for_handles(idle + 4));
        }
        watcher.watch_files({files[cycle % 4], files[(cycle + 1) % 4]});
        watcher.watch_files({files[(cycle + 2) % 4]});
        if (cycle % 3 == 0) {
            watcher.rearm_all();
        }
    }
    // A leak would grow with the thousand cycles; Wine itself opens the odd handle lazily.
    EXPECT_LE(handle_count(), before + 8);
}

} // namespace
} // namespace pellix
