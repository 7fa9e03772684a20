#pragma once

// Files whose names Windows keeps for devices ("nul", "con.md", "com7"). The tests write, read
// and remove them through their literal spelling (tests/scratch_folder.h), so what they see does
// not depend on the code under test.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/scratch_folder.h"

namespace pellix::test {

// Every reserved name, bare and with an extension.
inline std::vector<std::wstring> reserved_file_names() {
    std::vector<std::wstring> bases = {L"nul", L"con", L"prn", L"aux"};
    for (wchar_t digit = L'1'; digit <= L'9'; ++digit) {
        bases.insert(bases.end(), {std::wstring(L"com") + digit, std::wstring(L"lpt") + digit});
    }
    std::vector<std::wstring> names;
    for (const std::wstring& base : bases) {
        names.insert(names.end(), {base, base + L".md"});
    }
    return names;
}

inline std::string read_literally(const std::filesystem::path& path) {
    std::ifstream stream(literal_spelling(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), {});
}

} // namespace pellix::test
