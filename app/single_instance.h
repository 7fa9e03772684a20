#pragma once

// One editor instance per logged-on user: the first start holds a named mutex and signals a
// named event once its main window exists; a later start hands its paths to that window with
// WM_COPYDATA and ends.

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/unique_handle.h"

namespace pellix {

inline constexpr wchar_t editor_window_class[] = L"Pellix.Native.Editor";
inline constexpr wchar_t compare_window_class[] = L"Pellix.Native.Compare";
inline constexpr wchar_t instance_mutex_name[] = L"Local\\Pellix.Native.Editor";
inline constexpr wchar_t ready_event_name[] = L"Local\\Pellix.Native.Ready";

// dwData of a hand-off record: one path, UTF-16 with its terminating NUL.
inline constexpr ULONG_PTR hand_off_path_kind = 1;
// The largest record the receiver takes, in bytes.
inline constexpr DWORD hand_off_limit = 65536;

inline constexpr DWORD ready_wait_ms = 10000;
inline constexpr UINT hand_off_timeout_ms = 2000;

struct InstanceLock {
    UniqueHandle mutex;
    UniqueHandle ready;
    // The mutex existed already: another instance runs or is starting.
    bool second_start = false;
};

// Creates the mutex and the event. Without a mutex the user is told and nothing is returned;
// without an event nothing is returned silently. Either way the process ends with 1.
std::optional<InstanceLock> claim_single_instance();

// A second start: waits for the running instance, hands each path over (made absolute, in
// order), then restores and raises its window. Returns the exit code.
int hand_off_to_running_instance(HANDLE ready, const std::vector<std::filesystem::path>& paths);

// The path a WM_COPYDATA record carries, or nothing when the record is not a well-formed
// hand-off (wrong kind, no data, odd or out-of-range size, no final NUL, an inner NUL, or an
// empty path).
std::optional<std::wstring> path_from_copy_data(const COPYDATASTRUCT* record);

} // namespace pellix
