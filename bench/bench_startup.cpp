// Figures for starting the program: the real Pellix.exe from CreateProcess to its first painted
// main window, the same steps taken in this process (COM and settings, window creation, first
// paint), and the private bytes of the idle program.

#include "bench/bench.h"

#include <windows.h>
#include <objbase.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "app/main_window_create.h"
#include "app/main_window_state.h"
#include "app/settings.h"
#include "app/single_instance.h"
#include "platform/unique_handle.h"

namespace {

using namespace pellix;

constexpr DWORD start_limit_ms = 30000;

std::wstring program_beside_bench() {
    wchar_t own[MAX_PATH];
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    std::wstring path(own);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"Pellix.exe";
}

// The program's main window once it is shown and has served its queue (the first paint runs
// before the message loop starts); null after the limit.
HWND wait_for_painted_window(DWORD process_id) {
    const ULONGLONG end = GetTickCount64() + start_limit_ms;
    while (GetTickCount64() < end) {
        HWND window = nullptr;
        while ((window = FindWindowExW(nullptr, window, editor_window_class, nullptr)) != nullptr) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            DWORD_PTR answer = 0;
            if (owner == process_id && IsWindowVisible(window) &&
                SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer)) {
                return window;
            }
        }
        Sleep(1);
    }
    return nullptr;
}

void start_real_program(const std::wstring& sample) {
    const std::wstring exe = program_beside_bench();
    std::wstring command = L"\"" + exe + L"\" \"" + sample + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    const auto start = GetTickCount64();
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::printf("could not start %ls\n", exe.c_str());
        return;
    }
    UniqueHandle process_handle(process.hProcess);
    CloseHandle(process.hThread);
    HWND window = wait_for_painted_window(process.dwProcessId);
    const auto shown = GetTickCount64();
    if (window == nullptr) {
        std::printf("the main window did not appear\n");
        TerminateProcess(process_handle.get(), 1);
        return;
    }
    std::printf("start to first painted window (real program): %llu ms\n", shown - start);
    Sleep(1000);
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof(memory);
    if (GetProcessMemoryInfo(process_handle.get(),
                             reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory))) {
        // Wine leaves PrivateUsage at 0; the pagefile figure is the same count on Windows.
        const SIZE_T private_bytes =
            memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage;
        std::printf("private bytes of the idle program: %.1f MiB (working set %.1f MiB)\n",
                    private_bytes / (1024.0 * 1024.0), memory.WorkingSetSize / (1024.0 * 1024.0));
    }
    PostMessageW(window, WM_CLOSE, 0, 0);
    WaitForSingleObject(process_handle.get(), start_limit_ms);
}

void start_in_process() {
    instance = GetModuleHandleW(nullptr);
    compare_mode = true; // nothing is saved
    const double com_and_settings = bench::seconds_of([] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        persist_settings(false);
    });
    HWND window = nullptr;
    const double creation = bench::seconds_of([&] {
        register_main_window_class();
        window = create_main_window();
    });
    const double first_paint = bench::seconds_of([&] {
        ShowWindow(window, SW_SHOWNOACTIVATE);
        UpdateWindow(window);
    });
    std::printf("in process: COM and settings %.1f ms, window creation %.1f ms, first paint %.1f "
                "ms\n",
                com_and_settings * 1000, creation * 1000, first_paint * 1000);
    DestroyWindow(window);
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
    }
    CoUninitialize();
    compare_mode = false;
}

void run() {
    wchar_t sample[MAX_PATH];
    const DWORD length = GetFullPathNameW(L"..\\resources\\sample.md", MAX_PATH, sample, nullptr);
    start_real_program(length > 0 && length < MAX_PATH ? sample : L"sample.md");
    start_in_process();
}

bench::Registration registration("startup", run);

} // namespace
