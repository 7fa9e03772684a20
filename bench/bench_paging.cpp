// Figures for paging through an 8 MiB document: the memory growth of the real Pellix.exe over
// cycles of Page Down and a return to the top, beside the same cycles in the main window and in
// a bare editor window of this process.

#include "bench/bench.h"
#include "bench/bench_main_window.h"
#include "bench/bench_program.h"

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "core/limits.h"
#include "editor/source_window.h"

namespace {

using namespace pellix;

constexpr int cycles = 51;
constexpr int page_downs_per_cycle = 20;

// Runs the cycles (`key` presses Page Down, `top` returns to the start) and prints the growth
// from the end of the first cycle, which lays the pages out and fills the caches, to the end of
// the last.
double page_through(const char* name, HANDLE process, const std::function<void()>& key,
                    const std::function<void()>& top) {
    bench::Memory first{};
    const ULONGLONG start = GetTickCount64();
    for (int cycle = 0; cycle < cycles; ++cycle) {
        for (int i = 0; i < page_downs_per_cycle; ++i) {
            key();
        }
        top();
        if (cycle == 0) {
            first = bench::memory_of(process);
        }
    }
    const bench::Memory last = bench::memory_of(process);
    const int measured = (cycles - 1) * page_downs_per_cycle;
    const double seconds = (GetTickCount64() - start) / 1000.0;
    std::printf("%s: private bytes %.1f -> %.1f MiB, %+.2f MiB over %d Page Down (%+.2f KiB "
                "each, %.0f s); working set %.1f -> %.1f MiB\n",
                name, first.private_mib, last.private_mib, last.private_mib - first.private_mib,
                measured, (last.private_mib - first.private_mib) * 1024.0 / measured, seconds,
                first.working_set_mib, last.working_set_mib);
    return seconds;
}

void real_program(const std::filesystem::path& path, LRESULT units) {
    bench::RealProgram program({path.wstring()});
    HWND editor = program.editor_of_document(units);
    if (editor == nullptr) {
        return;
    }
    HWND main = GetParent(editor);
    HANDLE process = program.process();
    const double seconds = page_through(
        "real program",
        process,
        [&] {
            SendMessageW(editor, WM_KEYDOWN, VK_NEXT, 1);
            SendMessageW(editor, WM_KEYUP, VK_NEXT, 0xC0000001);
            bench::settle(process, main);
        },
        [&] {
            SendMessageW(editor, EM_SETSEL, 0, 0);
            SendMessageW(editor, EM_SCROLLCARET, 0, 0);
            bench::settle(process, main);
        });
    // The program's timers run meanwhile: the same time without keys tells their share.
    const bench::Memory before = bench::memory_of(process);
    Sleep(static_cast<DWORD>(seconds * 1000));
    std::printf("  the same program idle for as long: %+.2f MiB\n",
                bench::memory_of(process).private_mib - before.private_mib);
}

void page_in_this_process(const char* name, HWND editor, HWND painted) {
    page_through(
        name,
        GetCurrentProcess(),
        [&] {
            SendMessageW(editor, WM_KEYDOWN, VK_NEXT, 1);
            SendMessageW(editor, WM_KEYUP, VK_NEXT, 0xC0000001);
            UpdateWindow(painted);
            bench::serve_messages();
        },
        [&] {
            SendMessageW(editor, EM_SETSEL, 0, 0);
            SendMessageW(editor, EM_SCROLLCARET, 0, 0);
            UpdateWindow(painted);
            bench::serve_messages();
        });
}

void main_window_here(const std::filesystem::path& path) {
    HWND window = bench::open_main_window_on(path);
    page_in_this_process("main window in this process", chrome.editor, window);
    bench::close_main_window(window);
}

void bare_editor(const std::string& text) {
    register_source_window_class(GetModuleHandleW(nullptr));
    HWND editor = CreateWindowExW(0, source_window_class, L"", WS_POPUP | WS_VISIBLE | WS_VSCROLL,
                                  0, 0, 1000, 800, nullptr, nullptr, GetModuleHandleW(nullptr),
                                  nullptr);
    const std::wstring wide(text.begin(), text.end());
    SendMessageW(editor, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    UpdateWindow(editor);
    page_in_this_process("bare editor window in this process", editor, editor);
    DestroyWindow(editor);
    bench::serve_messages();
}

void run() {
    const std::string text = bench::mixed_markdown(document_limit - 4096);
    const auto path = std::filesystem::temp_directory_path() / "pellix-bench-paging.md";
    std::ofstream(path, std::ios::binary) << text;
    real_program(path, static_cast<LRESULT>(text.size()));
    main_window_here(path);
    bare_editor(text);
    std::filesystem::remove(path);
}

bench::Registration registration("paging", run);

} // namespace
