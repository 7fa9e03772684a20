#pragma once

// What the recovery tests share: a scratch local application data folder for the real program,
// and reading the recovery store the program left behind.

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/file_io.h"
#include "tests/scratch_folder.h"
#include "tracking/recovery_format.h"

namespace pellix::test {

inline constexpr wchar_t shell_folders_key[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
inline constexpr wchar_t local_app_data_value[] = L"Local AppData";

// Points the current user's local application data folder at a scratch folder while it lives,
// so that a program started meanwhile keeps its recovery store there; the value the prefix had
// is put back afterwards, type and all.
class ScratchLocalAppData {
public:
    explicit ScratchLocalAppData(const std::string& name) : folder_(name) {
        DWORD size = sizeof(saved_);
        had_value_ =
            RegGetValueW(HKEY_CURRENT_USER, shell_folders_key, local_app_data_value,
                         RRF_RT_ANY | RRF_NOEXPAND, &saved_type_, saved_, &size) == ERROR_SUCCESS;
        saved_size_ = size;
        const std::wstring path = folder_.path().wstring();
        RegSetKeyValueW(HKEY_CURRENT_USER, shell_folders_key, local_app_data_value, REG_SZ,
                        path.c_str(), static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    }
    ~ScratchLocalAppData() {
        if (had_value_) {
            RegSetKeyValueW(HKEY_CURRENT_USER, shell_folders_key, local_app_data_value, saved_type_,
                            saved_, saved_size_);
        } else {
            RegDeleteKeyValueW(HKEY_CURRENT_USER, shell_folders_key, local_app_data_value);
        }
    }
    ScratchLocalAppData(const ScratchLocalAppData&) = delete;
    ScratchLocalAppData& operator=(const ScratchLocalAppData&) = delete;

    std::filesystem::path store_folder() const { return folder_ / L"Pellix" / L"Native"; }
    std::filesystem::path tabs_file() const { return store_folder() / L"tabs.bin"; }
    std::filesystem::path session_file() const { return store_folder() / L"session.bin"; }
    const ScratchFolder& files() const { return folder_; }

private:
    ScratchFolder folder_;
    bool had_value_ = false;
    DWORD saved_type_ = 0;
    BYTE saved_[2048] = {};
    DWORD saved_size_ = 0;
};

// The store's container as it is now; nothing while it is missing or unreadable (a reader may
// race the writer's replacement, which the next poll gets past).
inline std::optional<Workspace> stored_workspace(const std::filesystem::path& tabs_file) {
    try {
        const std::string bytes = read_file_bytes(tabs_file, 0x10000000);
        return read_tab_recovery(split_store_file(bytes).container);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

inline std::string store_bytes(const Workspace& workspace) {
    return encode_tab_recovery(workspace);
}

inline std::string utf8(const std::filesystem::path& path) {
    const std::wstring wide = path.wstring();
    std::string bytes;
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    bytes.resize(static_cast<size_t>(size));
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), bytes.data(), size,
                        nullptr, nullptr);
    return bytes;
}

} // namespace pellix::test
