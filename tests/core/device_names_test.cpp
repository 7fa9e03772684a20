#include "core/file_io.h"
#include "core/file_io_calls.h"
#include "core/file_paths.h"
#include "core/limits.h"
#include "tests/reserved_names.h"
#include "tests/scratch_folder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace pellix {
namespace {

namespace fs = std::filesystem;

std::string read_or_error(const fs::path& path) {
    try {
        return read_file_bytes(path, 100);
    } catch (const std::runtime_error& error) {
        return std::string("error: ") + error.what();
    }
}

TEST(DeviceNames, EveryReservedNameIsReadAndSavedAsTheFileItIs) {
    test::ScratchFolder folder("device-names");
    for (const std::wstring& name : test::reserved_file_names()) {
        const std::string narrow(name.begin(), name.end());
        SCOPED_TRACE(narrow);
        const fs::path path = folder / name;
        test::write_bytes(test::literal_spelling(path), std::string("abc\0def\n", 8) + narrow);
        ASSERT_EQ(read_or_error(path), std::string("abc\0def\n", 8) + narrow);
        write_file_atomically(path, "saved over", 100);
        EXPECT_EQ(test::read_literally(path), "saved over");
        ASSERT_TRUE(fs::remove(test::literal_spelling(path)));
        write_file_atomically(path, "saved anew", 100);
        EXPECT_EQ(test::read_literally(path), "saved anew");
        ASSERT_TRUE(fs::remove(test::literal_spelling(path)));
        EXPECT_TRUE(fs::is_empty(folder.path())) << "a temporary file was left";
    }
}

TEST(DeviceNames, ARelativeNameIsTheFileInTheCurrentFolderAndADeviceIsNoDocument) {
    test::ScratchFolder folder("device-names-relative");
    test::write_bytes(test::literal_spelling(folder / "nul.md"), "relative\n");
    const fs::path previous = fs::current_path();
    fs::current_path(folder.path());
    const std::string read = read_or_error("nul.md");
    const fs::path shown = absolute_file_path("sub\\..\\con.txt");
    fs::current_path(previous);
    EXPECT_EQ(read, "relative\n");
    EXPECT_EQ(shown, folder / "con.txt");
    EXPECT_EQ(read_or_error(L"\\\\.\\nul"), "error: Could not open the file for reading.");

    // The size says nine bytes; the handle, left at the end, reads none of them.
    ScopedAtomicSaveCalls at_end({.write_file = {},
                                  .replace_file = {},
                                  .move_file = {},
                                  .open_for_reading = [](const wchar_t* name) -> void* {
                                      HANDLE file = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ,
                                                                nullptr, OPEN_EXISTING, 0, nullptr);
                                      SetFilePointerEx(file, {}, nullptr, FILE_END);
                                      return file;
                                  }});
    EXPECT_EQ(read_or_error(test::literal_spelling(folder / "nul.md")),
              "error: The file could not be read completely.");
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
    // Slashes spell the literal prefix too, and resolve to it.
    EXPECT_EQ(win32_file_path(L"//?/C:/docs/old/../nul.md"), L"\\\\?\\C:\\docs\\nul.md");
    EXPECT_EQ(win32_file_path(L"\\\\?/C:/docs/a.md"), L"\\\\?\\C:\\docs\\a.md");
    EXPECT_EQ(win32_file_path(L"//?/UNC/server/share/a.md"), L"\\\\?\\UNC\\server\\share\\a.md");

    test::ScratchFolder folder("literal-slashes");
    std::wstring slashed = L"//?/" + fs::absolute(folder / "nul.md").wstring();
    std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
    write_file_atomically(slashed, "saved\n", document_limit);
    EXPECT_EQ(read_or_error(slashed), "saved\n");
    EXPECT_EQ(read_or_error(test::literal_spelling(folder / "nul.md")), "saved\n");
}

} // namespace
} // namespace pellix
