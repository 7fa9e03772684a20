#pragma once

#include <windows.h>
#include <psapi.h>

#include <objbase.h>

#include <filesystem>

#include "app/hosted_units.h"
#include "app/main_window_create.h"
#include "app/main_window_state.h"

namespace pellix::bench {

// Dispatches every message waiting for this thread.
inline void serve_messages() {
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
    }
}

// The real main window in this process, shown without taking the focus. Compare mode, so that
// nothing a benchmark does reaches the settings.
inline HWND open_main_window() {
    instance = GetModuleHandleW(nullptr);
    compare_mode = true;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    register_main_window_class();
    HWND window = create_main_window();
    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);
    return window;
}

// The main window of `open_main_window` with `path` opened and painted.
inline HWND open_main_window_on(const std::filesystem::path& path) {
    HWND window = open_main_window();
    open_path(path);
    UpdateWindow(window);
    serve_messages();
    return window;
}

inline void close_main_window(HWND window) {
    DestroyWindow(window);
    serve_messages();
    CoUninitialize();
    compare_mode = false;
}

// The process's private bytes in MiB.
inline double private_mib() {
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                         sizeof(memory));
    // Wine leaves PrivateUsage at 0; the pagefile figure is the same count on Windows.
    const SIZE_T bytes = memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage;
    return bytes / (1024.0 * 1024.0);
}

} // namespace pellix::bench
