#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace pellix::test {

// The literal spelling of a path ("\\?\C:\..."), which no device-name parsing touches: it
// reaches a file a test named like a device ("nul.md") where the plain path reaches the device.
inline std::filesystem::path literal_spelling(const std::filesystem::path& path) {
    return L"\\\\?\\" + std::filesystem::absolute(path).wstring();
}

// A fresh folder under the temporary folder, named for the test program and its process so
// that concurrent runs never share one, removed with everything in it at the end.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name)
        : path_(std::filesystem::temp_directory_path() /
                ("pellix-" + name + "-" + std::to_string(GetCurrentProcessId()))) {
        std::filesystem::remove_all(literal());
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(literal(), ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& name) const {
        return path_ / name;
    }

private:
    // Also removes files a test named like a device.
    std::filesystem::path literal() const { return literal_spelling(path_); }

    std::filesystem::path path_;
};

inline void write_bytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace pellix::test
