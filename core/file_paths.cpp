#include "core/file_paths.h"

#include "platform/unique_handle.h"

#include <windows.h>

#include <string>
#include <string_view>

namespace pellix {
namespace {

constexpr std::wstring_view literal_prefix = L"\\\\?\\";
constexpr std::wstring_view device_prefix = L"\\\\.\\";
constexpr std::wstring_view object_prefix = L"\\??\\";
constexpr std::wstring_view literal_unc_prefix = L"\\\\?\\UNC\\";
constexpr std::wstring_view unc_start = L"\\\\";

bool has_literal_spelling(std::wstring_view path) {
    return path.starts_with(literal_prefix) || path.starts_with(device_prefix) ||
           path.starts_with(object_prefix);
}

// GetFullPathNameW's answer, or nothing when it fails.
std::wstring full_path_name(const std::wstring& path) {
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) {
            return {};
        }
        if (length < full.size()) {
            full.resize(length);
            return full;
        }
        full.resize(length);
    }
}

// Plain Win32 parsing drops the trailing spaces and dots of the last name; a file name put back
// by hand gets the same treatment, so both spellings name one file.
std::wstring without_trailing_spaces_and_dots(std::wstring name) {
    const std::size_t end = name.find_last_not_of(L" .");
    name.erase(end == std::wstring::npos ? 0 : end + 1);
    return name;
}

// Only the last name of a path is ever read as a device, so the folder is resolved on its own
// and the name put back after it.
std::wstring resolved_beside_folder(const std::filesystem::path& path) {
    const std::wstring name = without_trailing_spaces_and_dots(path.filename().native());
    const std::filesystem::path parent = path.has_parent_path() ? path.parent_path() : L".";
    std::wstring folder = full_path_name(parent.native());
    if (name.empty() || folder.empty() || folder.starts_with(device_prefix)) {
        return {};
    }
    if (folder.back() != L'\\') {
        folder += L'\\';
    }
    return folder + name;
}

bool is_drive_absolute(std::wstring_view path) {
    return path.size() >= 3 && path[1] == L':' && path[2] == L'\\';
}

} // namespace

std::filesystem::path absolute_file_path(const std::filesystem::path& path) {
    const std::wstring& spelled = path.native();
    if (spelled.empty() || has_literal_spelling(spelled)) {
        return path;
    }
    std::wstring full = full_path_name(spelled);
    if (full.starts_with(device_prefix)) {
        full = resolved_beside_folder(path);
    }
    return full.empty() ? path : std::filesystem::path(full);
}

std::filesystem::path win32_file_path(const std::filesystem::path& path) {
    if (path.empty() || has_literal_spelling(path.native())) {
        return path;
    }
    const std::wstring full = absolute_file_path(path).native();
    // "//?/C:/..." and "\\?/C:/..." resolve to the literal spelling, which a prefix would spoil.
    if (has_literal_spelling(full)) {
        return full;
    }
    if (full.starts_with(unc_start)) {
        return std::wstring(literal_unc_prefix) + full.substr(unc_start.size());
    }
    if (is_drive_absolute(full)) {
        return std::wstring(literal_prefix) + full;
    }
    return full;
}

std::optional<FileIdentity> file_identity(const std::filesystem::path& path) {
    const UniqueHandle file(CreateFileW(
        win32_file_path(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file || !GetFileInformationByHandle(file.get(), &information)) {
        return std::nullopt;
    }
    return FileIdentity{information.dwVolumeSerialNumber, information.nFileIndexHigh,
                        information.nFileIndexLow};
}

} // namespace pellix
