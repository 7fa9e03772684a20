#include "core/encoding.h"
#include "core/file_io.h"
#include "core/file_io_calls.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace pellix {
namespace {

namespace fs = std::filesystem;

constexpr const char* cannot_replace = "Could not replace the destination. Check permissions, "
                                       "read-only status or another program holding the file "
                                       "open.";
constexpr const char* incomplete_write =
    "The complete file could not be written. The destination was not replaced.";

template <typename Call> std::string runtime_error_of(Call&& call) {
    try {
        call();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(no error)";
}

std::string contents_of(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), {});
}

void put_contents(const fs::path& path, const std::string& bytes) {
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A fresh folder per test, removed afterwards.
class FileTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = fs::temp_directory_path() / "pellix-file-io-test" / info->name();
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    std::vector<std::string> names() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            found.push_back(entry.path().filename().string());
        }
        std::sort(found.begin(), found.end());
        return found;
    }

    fs::path folder_;
};

TEST(IsMarkdownPath, KnowsTheFiveExtensionsInAnyCase) {
    EXPECT_TRUE(is_markdown_path(fs::path()));
    EXPECT_TRUE(is_markdown_path("notes.MD"));
    EXPECT_TRUE(is_markdown_path("a.Markdown"));
    EXPECT_TRUE(is_markdown_path("C:\\docs\\x.mdown"));
    EXPECT_TRUE(is_markdown_path("x.MKD"));
    EXPECT_TRUE(is_markdown_path("dir.txt/x.mkdn"));
    EXPECT_FALSE(is_markdown_path("readme"));
    EXPECT_FALSE(is_markdown_path("a.txt"));
    EXPECT_FALSE(is_markdown_path(".md"));
    EXPECT_FALSE(is_markdown_path("a.md.txt"));
    EXPECT_FALSE(is_markdown_path("a.mdx"));
    EXPECT_FALSE(is_markdown_path("dir.md/readme"));
}

// ---- Reading --------------------------------------------------------------------------------

TEST_F(FileTest, ReadsWholeFilesUpToTheLimit) {
    const fs::path empty = folder_ / "empty.txt";
    put_contents(empty, "");
    EXPECT_EQ(read_file_bytes(empty, 0), "");

    // Several 64 KiB blocks and a partial one.
    std::string large(3 * 65536 + 17, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<char>(i * 31 % 251);
    }
    const fs::path file = folder_ / "large.bin";
    put_contents(file, large);
    EXPECT_EQ(read_file_bytes(file, large.size()), large);
    EXPECT_EQ(runtime_error_of([&] { read_file_bytes(file, large.size() - 1); }),
              "File exceeds the reading limit.");
}

TEST_F(FileTest, ReadRefusesMissingFilesAndReadsFilesOpenForWriting) {
    EXPECT_EQ(runtime_error_of([&] { read_file_bytes(folder_ / "missing.txt", 100); }),
              "Could not open the file for reading.");
    EXPECT_EQ(runtime_error_of([&] { read_file_bytes(folder_, 100); }),
              "Could not open the file for reading.");

    const fs::path file = folder_ / "busy.txt";
    put_contents(file, "still being written");
    HANDLE writer = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(read_file_bytes(file, 100), "still being written");
    CloseHandle(writer);
}

// ---- Saving ---------------------------------------------------------------------------------

TEST_F(FileTest, SavesToANewFileAndOverAnExistingOne) {
    const fs::path destination = folder_ / "doc.md";
    write_file_atomically(destination, "first", 0x800000);
    EXPECT_EQ(contents_of(destination), "first");
    write_file_atomically(destination, "second, longer", 0x800000);
    EXPECT_EQ(contents_of(destination), "second, longer");
    const std::string big(0x800000, 'z');
    write_file_atomically(destination, big, 0x800000);
    EXPECT_EQ(contents_of(destination), big);
    EXPECT_EQ(names(), std::vector<std::string>{"doc.md"});
}

TEST_F(FileTest, SavingNothingStillReplacesTheDestination) {
    const fs::path destination = folder_ / "doc.md";
    put_contents(destination, "old");
    int writes = 0;
    int replaces = 0;
    AtomicSaveCalls calls;
    calls.write_file = [&](void*, const char*, std::uint32_t, std::uint32_t&) {
        ++writes;
        return false;
    };
    calls.replace_file = [&](const wchar_t* replaced, const wchar_t* replacement) {
        ++replaces;
        return ReplaceFileW(replaced, replacement, nullptr, 0, nullptr, nullptr) != FALSE;
    };
    ScopedAtomicSaveCalls scope(calls);
    write_file_atomically(destination, "", 0);
    EXPECT_EQ(writes, 0);
    EXPECT_EQ(replaces, 1);
    EXPECT_EQ(contents_of(destination), "");
    EXPECT_EQ(names(), std::vector<std::string>{"doc.md"});
}

TEST_F(FileTest, SavesThroughARelativePath) {
    const fs::path destination = folder_ / "relative.txt";
    put_contents(destination, "old");
    const fs::path previous = fs::current_path();
    fs::current_path(folder_);
    std::string error = runtime_error_of([] { write_file_atomically("relative.txt", "new", 100); });
    fs::current_path(previous);
    EXPECT_EQ(error, "(no error)");
    EXPECT_EQ(contents_of(destination), "new");
    EXPECT_EQ(names(), std::vector<std::string>{"relative.txt"});
}

TEST_F(FileTest, RefusesBytesPastTheLimitBeforeTouchingAnything) {
    const fs::path destination = folder_ / "doc.md";
    put_contents(destination, "kept");
    EXPECT_EQ(runtime_error_of([&] {
                  write_file_atomically(destination, std::string(0x800001, 'a'), 0x800000);
              }),
              "Saving would exceed the 8 MiB file limit. Split the document before saving.");
    EXPECT_EQ(runtime_error_of([&] { write_file_atomically(destination, "abcdef", 5); }),
              "Saving would exceed the 5-byte file limit.");
    write_file_atomically(destination, "abcde", 5);
    EXPECT_EQ(contents_of(destination), "abcde");
    EXPECT_EQ(names(), std::vector<std::string>{"doc.md"});
}

TEST_F(FileTest, NamesTheLimitOfOtherCallers) {
    EXPECT_EQ(runtime_error_of([&] {
                  write_file_atomically(folder_ / "x", std::string(0x4000001, 'a'), 0x4000000);
              }),
              "Saving would exceed the 64 MiB file limit.");
}

TEST_F(FileTest, FolderThatCannotHoldTheTemporaryFileFails) {
    const fs::path destination = folder_ / "no-such-folder" / "doc.md";
    EXPECT_EQ(runtime_error_of([&] { write_file_atomically(destination, "x", 100); }),
              "Cannot create a temporary file beside the destination. Check folder permissions.");
    EXPECT_TRUE(names().empty());
}

TEST_F(FileTest, ShortWritesAreContinuedUntilEverythingIsOut) {
    std::string bytes(200000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>('a' + i % 26);
    }
    AtomicSaveCalls calls;
    int calls_made = 0;
    calls.write_file = [&](void* file, const char* data, std::uint32_t size,
                           std::uint32_t& written) {
        ++calls_made;
        DWORD done = 0;
        const BOOL ok = WriteFile(file, data, size > 1000 ? size / 3 : size, &done, nullptr);
        written = done;
        return ok != FALSE;
    };
    ScopedAtomicSaveCalls scope(calls);
    const fs::path destination = folder_ / "doc.md";
    write_file_atomically(destination, bytes, 0x800000);
    EXPECT_EQ(contents_of(destination), bytes);
    EXPECT_GT(calls_made, 4);
    EXPECT_EQ(names(), std::vector<std::string>{"doc.md"});
}

TEST_F(FileTest, AWriteThatStopsLeavesTheDestinationAsItWas) {
    const fs::path destination = folder_ / "doc.md";
    const std::string original = "original\r\ncontents";
    put_contents(destination, original);
    const std::string bytes(150000, 'n');

    // Success reported with nothing written, success with part of the last piece and then
    // nothing, and a plain failure all count as a failed write.
    std::vector<std::function<bool(void*, const char*, std::uint32_t, std::uint32_t&)>> faults = {
        [](void*, const char*, std::uint32_t, std::uint32_t& written) {
            written = 0;
            return true;
        },
        [total = std::size_t{0}](void* file, const char* data, std::uint32_t size,
                                 std::uint32_t& written) mutable {
            DWORD done = 0;
            const DWORD asked = total + size >= 150000 ? size / 2 : size;
            if (total >= 140000) {
                written = 0;
                return true;
            }
            WriteFile(file, data, asked, &done, nullptr);
            total += done;
            written = done;
            return true;
        },
        [](void*, const char*, std::uint32_t, std::uint32_t& written) {
            written = 0;
            SetLastError(ERROR_DISK_FULL);
            return false;
        },
    };
    for (auto& fault : faults) {
        AtomicSaveCalls calls;
        calls.write_file = fault;
        ScopedAtomicSaveCalls scope(calls);
        EXPECT_EQ(runtime_error_of([&] { write_file_atomically(destination, bytes, 0x800000); }),
                  incomplete_write);
        EXPECT_EQ(contents_of(destination), original);
        EXPECT_EQ(names(), std::vector<std::string>{"doc.md"});
    }
}

TEST_F(FileTest, AFailedReplaceKeepsTheDestinationAndRemovesTheTemporaryFile) {
    const fs::path destination = folder_ / "doc.md";
    put_contents(destination, "original");
    AtomicSaveCalls calls;
    calls.replace_file = [](const wchar_t*, const wchar_t*) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return false;
    };
    ScopedAtomicSaveCalls scope(calls);
    EXPECT_EQ(runtime_error_of([&] { write_file_atomically(destination, "new", 100); }),
              cannot_replace);
    EXPECT_EQ(contents_of(destination), "original");
    EXPECT_EQ(names(), std::vector<std::string>{"doc.md"});
}

// ReplaceFileW can fail after it moved the destination away; the temporary file is then the
// only copy and must not be deleted. Moved into place, it is a save that landed.
TEST_F(FileTest, AReplaceThatLostTheDestinationMovesTheNewCopyIntoPlaceAndSucceeds) {
    const fs::path destination = folder_ / "doc.md";
    for (const DWORD error :
         {ERROR_UNABLE_TO_MOVE_REPLACEMENT, ERROR_UNABLE_TO_MOVE_REPLACEMENT_2}) {
        put_contents(destination, "original");
        AtomicSaveCalls calls;
        calls.replace_file = [error](const wchar_t* replaced, const wchar_t*) {
            DeleteFileW(replaced);
            SetLastError(error);
            return false;
        };
        ScopedAtomicSaveCalls scope(calls);
        EXPECT_NO_THROW(write_file_atomically(destination, "new", 100)) << error;
        EXPECT_EQ(contents_of(destination), "new") << error;
        EXPECT_EQ(names(), std::vector<std::string>{"doc.md"}) << error;
    }
}

TEST_F(FileTest, AReplaceThatLostTheDestinationKeepsTheTemporaryFileWhenTheMoveFails) {
    const fs::path destination = folder_ / "doc.md";
    put_contents(destination, "original");
    AtomicSaveCalls calls;
    calls.replace_file = [](const wchar_t* replaced, const wchar_t*) {
        DeleteFileW(replaced);
        SetLastError(ERROR_UNABLE_TO_MOVE_REPLACEMENT_2);
        return false;
    };
    calls.move_file = [](const wchar_t*, const wchar_t*) { return false; };
    ScopedAtomicSaveCalls scope(calls);
    EXPECT_EQ(runtime_error_of([&] { write_file_atomically(destination, "new", 100); }),
              cannot_replace);
    const auto left = names();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].rfind(".pellix-", 0), 0u);
    EXPECT_EQ(left[0].substr(left[0].size() - 4), ".tmp");
    EXPECT_EQ(contents_of(folder_ / left[0]), "new");
}

// Another program took the name between the replace moving the old file away and putting the new
// one in: the temporary file is the only copy of the new bytes, and the old ones are gone.
TEST_F(FileTest, AReplaceThatLostTheDestinationToAnotherFileKeepsTheTemporaryFile) {
    const fs::path destination = folder_ / "doc.md";
    put_contents(destination, "original");
    AtomicSaveCalls calls;
    calls.replace_file = [](const wchar_t* replaced, const wchar_t*) {
        DeleteFileW(replaced);
        put_contents(replaced, "other");
        SetLastError(ERROR_UNABLE_TO_MOVE_REPLACEMENT);
        return false;
    };
    ScopedAtomicSaveCalls scope(calls);
    EXPECT_EQ(runtime_error_of([&] { write_file_atomically(destination, "new", 100); }),
              cannot_replace);
    EXPECT_EQ(contents_of(destination), "other");
    const auto left = names();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].rfind(".pellix-", 0), 0u);
    EXPECT_EQ(contents_of(folder_ / left[0]), "new");
}

TEST_F(FileTest, AFailedMoveToANewDestinationLeavesNothing) {
    AtomicSaveCalls calls;
    calls.move_file = [](const wchar_t*, const wchar_t*) { return false; };
    ScopedAtomicSaveCalls scope(calls);
    EXPECT_EQ(runtime_error_of([&] { write_file_atomically(folder_ / "doc.md", "new", 100); }),
              cannot_replace);
    EXPECT_TRUE(names().empty());
}

TEST_F(FileTest, TemporaryNamesHaveTheFixedShape) {
    std::vector<std::wstring> temporaries;
    AtomicSaveCalls calls;
    calls.move_file = [&](const wchar_t* from, const wchar_t* to) {
        temporaries.push_back(from);
        return MoveFileExW(from, to, MOVEFILE_WRITE_THROUGH) != FALSE;
    };
    ScopedAtomicSaveCalls scope(calls);
    for (int i = 0; i < 3; ++i) {
        write_file_atomically(folder_ / ("doc" + std::to_string(i)), "x", 100);
    }
    ASSERT_EQ(temporaries.size(), 3u);
    for (const auto& temporary : temporaries) {
        const fs::path path(temporary);
        EXPECT_TRUE(path.is_absolute());
        EXPECT_TRUE(fs::equivalent(path.parent_path(), folder_));
        const std::string name = path.filename().string();
        ASSERT_EQ(name.rfind(".pellix-", 0), 0u) << name;
        ASSERT_EQ(name.substr(name.size() - 4), ".tmp") << name;
        const std::string numbers = name.substr(8, name.size() - 12);
        const auto dash = numbers.find('-');
        ASSERT_NE(dash, std::string::npos) << name;
        EXPECT_NO_THROW(std::stoul(numbers.substr(0, dash)));
        EXPECT_NO_THROW(std::stoul(numbers.substr(dash + 1)));
        EXPECT_EQ(numbers.find_first_not_of("0123456789-"), std::string::npos) << name;
    }
    EXPECT_NE(temporaries[0], temporaries[1]);
}

TEST_F(FileTest, ConcurrentSavesToSeveralDestinationsEachLand) {
    std::vector<std::thread> threads;
    std::vector<std::string> errors(8);
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] {
            const fs::path destination = folder_ / ("doc" + std::to_string(i % 4) + ".md");
            errors[i] = runtime_error_of([&] {
                write_file_atomically(destination, std::string(100000 + i, 'a'), 0x800000);
            });
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (int i = 0; i < 4; ++i) {
        const std::string result = contents_of(folder_ / ("doc" + std::to_string(i) + ".md"));
        // Two saves race for each destination; whichever lands, it lands whole.
        EXPECT_TRUE(result == std::string(100000 + i, 'a') ||
                    result == std::string(100004 + i, 'a'));
    }
    for (const auto& error : errors) {
        EXPECT_TRUE(error == "(no error)" || error == cannot_replace) << error;
    }
    for (const auto& name : names()) {
        EXPECT_NE(name.rfind(".pellix-", 0), 0u) << name;
    }
}

// ---- Welcome document -----------------------------------------------------------------------

TEST(WelcomeText, IsTheFixedMarkdownPage) {
    const std::string_view text = welcome_document_text();
    EXPECT_EQ(text.size(), 892u);
    EXPECT_EQ(text.substr(0, 20), "# Hello from Pellix\n");
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('\r'), std::string_view::npos);
    EXPECT_NE(text.find("\n## Make Pellix your Markdown editor\n"), std::string_view::npos);
    EXPECT_NE(text.find("**Help > Use Pellix for Markdown files...**"), std::string_view::npos);
    EXPECT_NE(text.find("**Register and open Default apps**"), std::string_view::npos);
    EXPECT_NE(text.find("**Register only**"), std::string_view::npos);
    EXPECT_NE(text.find("\n## Other text files\n"), std::string_view::npos);
    EXPECT_NE(text.find("`.txt`, `.ini`, `.nfo`"), std::string_view::npos);
    EXPECT_NE(text.find("**Open with > Choose another app**"), std::string_view::npos);
    EXPECT_NE(text.find("**Always**"), std::string_view::npos);
    const Document document = decode_document_bytes(std::string(text), 0);
    EXPECT_EQ(document.line_ending, LineEnding::lf);
}

TEST_F(FileTest, WelcomeDocumentIsWrittenOnceAndNeverOverTheUsersEdits) {
    const fs::path path = folder_ / "Pellix" / "Native" / "hello.md";
    write_welcome_document(path);
    EXPECT_EQ(contents_of(path), welcome_document_text());
    put_contents(path, "my own notes");
    write_welcome_document(path);
    EXPECT_EQ(contents_of(path), "my own notes");
    EXPECT_EQ(names(), std::vector<std::string>{"Pellix"});

    // Anything at the path counts, a folder included.
    const fs::path taken = folder_ / "taken.md";
    fs::create_directory(taken);
    write_welcome_document(taken);
    EXPECT_TRUE(fs::is_directory(taken));
}

TEST_F(FileTest, AFolderInTheDestinationsPlaceIsNeverReplaced) {
    const fs::path target = folder_ / "notes.md";
    fs::create_directories(target);
    std::ofstream(target / "inside.txt") << "keep";
    try {
        write_file_atomically(target, "new", document_limit);
        ADD_FAILURE() << "saving over a folder succeeded";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Could not replace the destination. Check permissions, "
                                   "read-only status or another program holding the file open.");
    }
    EXPECT_TRUE(fs::is_directory(target));
    EXPECT_TRUE(fs::exists(target / "inside.txt"));
    EXPECT_EQ(names(), std::vector<std::string>{"notes.md"});
}

} // namespace
} // namespace pellix
