// Figures for a burst of typed characters landing in an 8 MiB document: the real Pellix.exe with
// 200 characters queued at once, beside single keystrokes in the same program and the same
// burst in the main window of this process.

#include "bench/bench.h"
#include "bench/bench_main_window.h"
#include "bench/bench_program.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "core/limits.h"

namespace {

using namespace pellix;
using clock_type = std::chrono::steady_clock;

constexpr int burst = 200;
constexpr int single_keys = 20;
constexpr auto land_limit = std::chrono::seconds(60);

// Posts `count` characters to `editor` as the keyboard queues them, and waits until all have
// landed in the text and the program has painted and served its queue.
double type_into(HWND main, HWND editor, int count) {
    DWORD_PTR before = 0;
    SendMessageTimeoutW(editor, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &before);
    const auto start = clock_type::now();
    for (int i = 0; i < count; ++i) {
        PostMessageW(editor, WM_CHAR, L'a' + i % 26, 1);
    }
    DWORD_PTR length = before;
    while (length < before + count && clock_type::now() - start < land_limit) {
        SendMessageTimeoutW(editor, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length);
    }
    return bench::milliseconds_between(start, bench::settle(main));
}

void real_program(const std::filesystem::path& path, LRESULT units) {
    bench::RealProgram program({path.wstring()});
    HWND editor = program.editor_of_document(units);
    if (editor == nullptr) {
        return;
    }
    HWND main = GetParent(editor);
    // The caret on the fifth line, painted on the first screen.
    const LRESULT fifth = SendMessageW(editor, EM_LINEINDEX, 4, 0);
    SendMessageW(editor, EM_SETSEL, fifth, fifth);
    bench::settle(main);
    std::vector<double> singles;
    for (int i = 0; i < single_keys; ++i) {
        singles.push_back(type_into(main, editor, 1));
    }
    const double whole = type_into(main, editor, burst);
    // Nothing to save or recover when the program closes.
    SendMessageW(editor, EM_SETMODIFY, FALSE, 0);
    std::printf("real program, 8 MiB: %d characters queued at once landed and painted in %.0f ms "
                "(%.2f ms a character); one character alone %.1f ms median\n",
                burst, whole, whole / burst, bench::median(singles));
}

void main_window_here(const std::filesystem::path& path) {
    HWND window = bench::open_main_window_on(path);
    HWND editor = chrome.editor;
    const LRESULT fifth = SendMessageW(editor, EM_LINEINDEX, 4, 0);
    SendMessageW(editor, EM_SETSEL, fifth, fifth);
    UpdateWindow(window);
    bench::serve_messages();
    int paints = 0;
    const auto start = clock_type::now();
    for (int i = 0; i < burst; ++i) {
        PostMessageW(editor, WM_CHAR, L'a' + i % 26, 1);
    }
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        paints += message.message == WM_PAINT && message.hwnd == editor;
        DispatchMessageW(&message);
    }
    std::printf("main window in this process: the same burst landed and painted in %.0f ms with "
                "%d editor paints\n",
                bench::milliseconds_between(start, clock_type::now()), paints);
    bench::close_main_window(window);
}

void run() {
    const std::string text = bench::mixed_markdown(document_limit - 4096);
    const auto path = std::filesystem::temp_directory_path() / "pellix-bench-burst.md";
    std::ofstream(path, std::ios::binary) << text;
    real_program(path, static_cast<LRESULT>(text.size()));
    main_window_here(path);
    std::filesystem::remove(path);
}

bench::Registration registration("typing_burst", run);

} // namespace
