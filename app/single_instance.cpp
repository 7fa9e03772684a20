#include "app/single_instance.h"

#include <stdexcept>

#include "app/prompts.h"
#include "core/file_paths.h"

namespace pellix {

namespace {

void send_path(HWND window, const std::filesystem::path& path) {
    const std::wstring absolute = absolute_file_path(path).wstring();
    COPYDATASTRUCT record{
        .dwData = hand_off_path_kind,
        .cbData = static_cast<DWORD>((absolute.size() + 1) * sizeof(wchar_t)),
        .lpData = const_cast<wchar_t*>(absolute.c_str()),
    };
    DWORD_PTR answer = 0;
    const LRESULT sent =
        SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&record),
                            SMTO_ABORTIFHUNG, hand_off_timeout_ms, &answer);
    if (sent == 0 || answer == 0) {
        throw std::runtime_error("Pellix did not accept a requested file. Please open it again.");
    }
}

} // namespace

std::optional<InstanceLock> claim_single_instance() {
    InstanceLock lock;
    lock.mutex.reset(CreateMutexW(nullptr, FALSE, instance_mutex_name));
    if (!lock.mutex) {
        message_box(nullptr, L"Could not open the editor session lock.", L"Pellix", MB_ICONERROR);
        return std::nullopt;
    }
    lock.second_start = GetLastError() == ERROR_ALREADY_EXISTS;
    lock.ready.reset(CreateEventW(nullptr, TRUE, FALSE, ready_event_name));
    if (!lock.ready) {
        return std::nullopt;
    }
    if (!lock.second_start) {
        // A previous instance may have left the event signalled in a still-open handle.
        ResetEvent(lock.ready.get());
    }
    return lock;
}

int hand_off_to_running_instance(HANDLE ready, const std::vector<std::filesystem::path>& paths) {
    HWND window = nullptr;
    if (WaitForSingleObject(ready, ready_wait_ms) == WAIT_OBJECT_0) {
        window = FindWindowW(editor_window_class, nullptr);
    }
    if (window == nullptr) {
        message_box(nullptr,
                    L"Pellix is still starting or closing. The requested files were not opened. "
                    L"Please try again.",
                    L"Pellix", MB_ICONWARNING);
        return 1;
    }
    try {
        for (const auto& path : paths) {
            send_path(window, path);
        }
    } catch (const std::exception& error) {
        show_error_message(error);
        return 1;
    }
    ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
    return 0;
}

std::optional<std::wstring> path_from_copy_data(const COPYDATASTRUCT* record) {
    if (record == nullptr || record->dwData != hand_off_path_kind || record->lpData == nullptr) {
        return std::nullopt;
    }
    const DWORD bytes = record->cbData;
    if (bytes < 2 * sizeof(wchar_t) || bytes > hand_off_limit || bytes % sizeof(wchar_t) != 0) {
        return std::nullopt;
    }
    const auto* units = static_cast<const wchar_t*>(record->lpData);
    const size_t length = bytes / sizeof(wchar_t) - 1;
    if (units[length] != L'\0') {
        return std::nullopt;
    }
    std::wstring path(units, length);
    if (path.find(L'\0') != std::wstring::npos) {
        return std::nullopt;
    }
    return path;
}

} // namespace pellix
