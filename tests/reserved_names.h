#pragma once

// Files whose names Windows keeps for devices ("nul", "con.md", "com7"). The tests reach them
// through their literal spelling, so what they write and read does not depend on the code under
// test.

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/unique_handle.h"
#include "tests/scratch_folder.h"

namespace pellix::test {

// Every reserved name, bare and with an extension.
inline std::vector<std::wstring> reserved_file_names() {
    std::vector<std::wstring> bases = {L"nul", L"con", L"prn", L"aux"};
    for (int digit = 1; digit <= 9; ++digit) {
        bases.push_back(L"com" + std::to_wstring(digit));
        bases.push_back(L"lpt" + std::to_wstring(digit));
    }
    std::vector<std::wstring> names;
    for (const std::wstring& base : bases) {
        names.push_back(base);
        names.push_back(base + L".md");
    }
    return names;
}

inline bool write_literally(const std::filesystem::path& absolute, const std::string& bytes) {
    const UniqueHandle file(CreateFileW(literal_spelling(absolute).c_str(), GENERIC_WRITE, 0,
                                        nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file &&
           WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
           written == bytes.size();
}

// The whole file, or nothing when it cannot be opened or read.
inline std::optional<std::string> read_literally(const std::filesystem::path& absolute) {
    const UniqueHandle file(CreateFileW(literal_spelling(absolute).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        return std::nullopt;
    }
    std::string bytes;
    char block[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), block, sizeof(block), &got, nullptr) && got > 0) {
        bytes.append(block, got);
    }
    return bytes;
}

inline bool delete_literally(const std::filesystem::path& absolute) {
    return DeleteFileW(literal_spelling(absolute).c_str()) != FALSE;
}

} // namespace pellix::test
