#include "core/file_io.h"
#include "core/file_io_calls.h"
#include "core/file_paths.h"
#include "tests/reserved_names.h"
#include "tests/scratch_folder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace pellix {
namespace {

namespace fs = std::filesystem;

constexpr const char* cannot_open = "Could not open the file for reading.";
constexpr const char* read_failed = "The file could not be read completely.";

std::string read_or_error(const fs::path& path) {
    try {
        return read_file_bytes(path, 100);
    } catch (const std::runtime_error& error) {
        return std::string("error: ") + error.what();
    }
}

std::string narrow(const std::wstring& ascii) {
    return std::string(ascii.begin(), ascii.end());
}

class DeviceNames : public ::testing::Test {
protected:
    std::vector<std::wstring> names() const {
        std::vector<std::wstring> found;
        for (const auto& entry : fs::directory_iterator(folder_.path())) {
            found.push_back(entry.path().filename().wstring());
        }
        return found;
    }

    test::ScratchFolder folder_{"device-names"};
};

TEST_F(DeviceNames, EveryReservedNameIsReadAndSavedAsTheFileItIs) {
    for (const std::wstring& name : test::reserved_file_names()) {
        SCOPED_TRACE(narrow(name));
        const fs::path path = folder_ / name;
        const std::string bytes = std::string("abc\0def\n", 8) + narrow(name);
        ASSERT_TRUE(test::write_literally(path, bytes));
        ASSERT_EQ(read_or_error(path), bytes);

        write_file_atomically(path, "saved over " + narrow(name), 100);
        EXPECT_EQ(test::read_literally(path), "saved over " + narrow(name));
        ASSERT_TRUE(test::delete_literally(path));
        write_file_atomically(path, "saved anew", 100);
        EXPECT_EQ(test::read_literally(path), "saved anew");
        EXPECT_EQ(names(), std::vector<std::wstring>{name});
        ASSERT_TRUE(test::delete_literally(path));
    }
}

TEST_F(DeviceNames, ARelativeReservedNameIsTheFileInTheCurrentFolder) {
    ASSERT_TRUE(test::write_literally(folder_ / "nul.md", "relative\n"));
    const fs::path previous = fs::current_path();
    fs::current_path(folder_.path());
    const std::string read = read_or_error("nul.md");
    const fs::path shown = absolute_file_path("sub\\..\\con.txt");
    fs::current_path(previous);
    EXPECT_EQ(read, "relative\n");
    EXPECT_EQ(shown, folder_ / "con.txt");
}

TEST_F(DeviceNames, ADeviceOrAFileThatYieldsNoneOfItsBytesIsNeverAnEmptyDocument) {
    EXPECT_EQ(read_or_error(L"\\\\.\\nul"), std::string("error: ") + cannot_open);

    // The size says eight bytes; the handle, left at the end, reads none of them.
    const fs::path path = folder_ / "notes.md";
    ASSERT_TRUE(test::write_literally(path, "8 bytes\n"));
    ScopedAtomicSaveCalls at_end({.write_file = {},
                                  .replace_file = {},
                                  .move_file = {},
                                  .open_for_reading = [](const wchar_t* name) -> void* {
                                      HANDLE file = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ,
                                                                nullptr, OPEN_EXISTING, 0, nullptr);
                                      SetFilePointerEx(file, {}, nullptr, FILE_END);
                                      return file;
                                  }});
    EXPECT_EQ(read_or_error(path), std::string("error: ") + read_failed);
}

TEST(Win32FilePath, EveryAbsoluteFormTakesItsLiteralSpellingAndIsShownAsItWas) {
    EXPECT_EQ(win32_file_path(L"C:\\docs\\nul.md"), L"\\\\?\\C:\\docs\\nul.md");
    EXPECT_EQ(win32_file_path(L"C:/docs/./old/../com1"), L"\\\\?\\C:\\docs\\com1");
    EXPECT_EQ(win32_file_path(L"\\\\server\\share\\con.txt"),
              L"\\\\?\\UNC\\server\\share\\con.txt");
    EXPECT_EQ(win32_file_path(L"\\\\?\\C:\\docs\\a.md"), L"\\\\?\\C:\\docs\\a.md");
    EXPECT_EQ(win32_file_path(L"\\\\.\\nul"), L"\\\\.\\nul");
    EXPECT_EQ(absolute_file_path(L"C:\\docs\\nul.md"), L"C:\\docs\\nul.md");
    EXPECT_EQ(absolute_file_path(L"C:\\docs\\aux.md. "), L"C:\\docs\\aux.md");
}

} // namespace
} // namespace pellix
