// Figures for starting the program: the real Pellix.exe from CreateProcess to its shown main
// window and to the end of its first paint (several starts), the same steps taken in this process
// (COM and settings, window creation, first paint), the chrome's glyphs drawn after the icon cache
// was emptied as a DPI or theme change empties it, and the private bytes of the idle program.

#include "bench/bench.h"
#include "bench/bench_program.h"

#include <windows.h>
#include <objbase.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/main_window_create.h"
#include "app/main_window_state.h"
#include "app/recovery_store.h"
#include "app/settings.h"
#include "app/single_instance.h"
#include "platform/unique_handle.h"
#include "preview/svg_icons.h"

namespace {

using namespace pellix;

constexpr DWORD start_limit_ms = 30000;
constexpr int program_starts = 5;
constexpr DWORD idle_before_memory_ms = 1000;

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

struct StartTimes {
    double shown_ms = -1;   // the main window visible and answering
    double painted_ms = -1; // its first paint done: nothing left to paint and the thread idle
};

// One start of the program on `sample`; negative times when it did not start. With
// `memory_wanted`, the idle program's private bytes are printed.
StartTimes start_real_program(const std::wstring& sample, bool memory_wanted) {
    using clock = std::chrono::steady_clock;
    // An earlier run's tabs in the recovery store would be restored while the start is timed.
    std::error_code ignored;
    std::filesystem::remove_all(recovery_session_path().parent_path(), ignored);
    const std::wstring exe = program_beside_bench();
    std::wstring command = L"\"" + exe + L"\" \"" + sample + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    const clock::time_point start = clock::now();
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::printf("could not start %ls\n", exe.c_str());
        return {};
    }
    UniqueHandle process_handle(process.hProcess);
    CloseHandle(process.hThread);
    HWND window = wait_for_painted_window(process.dwProcessId);
    const clock::time_point shown = clock::now();
    if (window == nullptr) {
        std::printf("the main window did not appear\n");
        TerminateProcess(process_handle.get(), 1);
        return {};
    }
    const clock::time_point painted = bench::settle(window);
    if (memory_wanted) {
        Sleep(idle_before_memory_ms);
        const bench::Memory memory = bench::memory_of(process_handle.get());
        std::printf("private bytes of the idle program: %.1f MiB (working set %.1f MiB)\n",
                    memory.private_mib, memory.working_set_mib);
    }
    PostMessageW(window, WM_CLOSE, 0, 0);
    WaitForSingleObject(process_handle.get(), start_limit_ms);
    return {bench::milliseconds_between(start, shown), bench::milliseconds_between(start, painted)};
}

// The first start also pays for loading the program's files into the cache; the median of
// several says what a user sees.
void start_real_program_repeatedly(const std::wstring& sample) {
    std::vector<double> shown;
    std::vector<double> painted;
    for (int i = 0; i < program_starts; ++i) {
        const StartTimes times = start_real_program(sample, i == program_starts - 1);
        if (times.shown_ms < 0) {
            return;
        }
        shown.push_back(times.shown_ms);
        painted.push_back(times.painted_ms);
    }
    std::printf("start to main window (real program), median of %d starts: shown %.0f ms, first "
                "paint done %.0f ms (first start %.0f ms)\n",
                program_starts, bench::median(shown), bench::median(painted), painted.front());
}

// What the chrome's glyphs cost when none is cached, as after a DPI or theme change: every
// glyph once, each in a colour of its own. The glyphs are the program's resources, not the bench
// program's.
void glyph_misses() {
    HMODULE program = LoadLibraryExW(program_beside_bench().c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (program == nullptr) {
        std::printf("could not load the program's glyphs\n");
        return;
    }
    constexpr int rounds = 9;
    constexpr int glyph_pixels = 16;
    const RECT rect{0, 0, glyph_pixels, glyph_pixels};
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, glyph_pixels, glyph_pixels);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    std::vector<double> times;
    HRESULT result = S_OK;
    for (int round = 0; round < rounds; ++round) {
        times.push_back(bench::seconds_of([&] {
            clear_icon_cache();
            for (std::uint32_t id = icon_id::source_view; id <= icon_id::compare; ++id) {
                result = draw_icon(program, id, dc, &rect, RGB(round, id & 0xFF, 0));
            }
        }));
    }
    clear_icon_cache();
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    FreeLibrary(program);
    std::printf("%u glyphs drawn with an empty icon cache: median %.2f ms (result 0x%lx)\n",
                icon_id::compare - icon_id::source_view + 1, bench::median(times) * 1000,
                static_cast<unsigned long>(result));
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
    glyph_misses();
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
    start_real_program_repeatedly(length > 0 && length < MAX_PATH ? sample : L"sample.md");
    start_in_process();
}

bench::Registration registration("startup", run);

} // namespace
