// Figures for the caret keys in extreme lines: Right (Left at the end) and Backspace at the
// start, the middle and the end of a line of 10,000 'x', of 25,000 flags, of 22,000 emoji joined by
// U+200D and of a letter with 66,000 combining marks, in a bare editor of this process. Each line's
// figures stand beside the 'x' line's, where a step is one unit and one cluster.

#include "bench/bench.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/palette.h"
#include "editor/source_host.h"
#include "editor/source_record.h"
#include "editor/source_window.h"

namespace pellix {
namespace {

constexpr int window_width = 1000;
constexpr int window_height = 800;
constexpr int steps = 20;
// Where a key is pressed: so far from the line's start, the middle or the end.
constexpr double places[] = {0.0, 0.5, 1.0};

void serve_messages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
    }
}

std::vector<std::pair<const char*, std::wstring>> lines() {
    std::wstring flags;
    for (int i = 0; i < 25000; ++i) {
        flags += i % 2 ? L"\xD83C\xDDEB\xD83C\xDDF7" : L"\xD83C\xDDE9\xD83C\xDDEA";
    }
    std::wstring joined = L"\xD83D\xDC68";
    for (int i = 1; i < 22000; ++i) {
        joined += L"\x200D\xD83D\xDC68";
    }
    return {{"10,000 'x'", std::wstring(10000, L'x')},
            {"25,000 flags", flags},
            {"22,000 joined emoji", joined},
            {"a letter with 66,000 marks", L"a" + std::wstring(66000, L'\x0301')}};
}

// Milliseconds per key, over `steps` keys from `at`, with the units the caret moved.
std::pair<double, long> per_key(HWND editor, std::uint64_t at, WPARAM key) {
    SendMessageW(editor, EM_SETSEL, at, static_cast<LPARAM>(at));
    serve_messages();
    const double seconds = bench::seconds_of([&] {
        for (int i = 0; i < steps; ++i) {
            SendMessageW(editor, WM_KEYDOWN, key, 0);
        }
    });
    DWORD caret = 0;
    SendMessageW(editor, EM_GETSEL, 0, reinterpret_cast<LPARAM>(&caret));
    serve_messages();
    return {seconds * 1000.0 / steps, static_cast<long>(caret) - static_cast<long>(at)};
}

void run() {
    SourceHost host;
    host.paint_colours = [](bool dark) { return paint_colours(dark); };
    install_source_host(std::move(host));
    register_source_window_class(GetModuleHandleW(nullptr));
    for (const auto& [name, text] : lines()) {
        HWND editor = CreateWindowExW(
            0, source_window_class, L"", WS_POPUP | WS_VISIBLE | WS_VSCROLL, 0, 0, window_width,
            window_height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        SendMessageW(editor, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        UpdateWindow(editor);
        serve_messages();
        for (double place : places) {
            const auto at = static_cast<std::uint64_t>(static_cast<double>(text.size()) * place);
            // The first key lays out the rows about the caret, as a paint would have.
            per_key(editor, at, place < 1.0 ? VK_RIGHT : VK_LEFT);
            const auto [right, moved] = per_key(editor, at, place < 1.0 ? VK_RIGHT : VK_LEFT);
            std::printf("%-27s at %3.0f %%: %s %.2f ms a key (%ld units in %d keys)", name,
                        place * 100.0, place < 1.0 ? "Right" : "Left", right, moved, steps);
            if (at > 0) {
                const auto [back, deleted] = per_key(editor, at, VK_BACK);
                SendMessageW(editor, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
                serve_messages();
                std::printf(", Backspace %.2f ms a key (%ld units)", back, -deleted);
            }
            std::printf("\n");
        }
        DestroyWindow(editor);
        serve_messages();
    }
}

bench::Registration registration("caret_steps", run);

} // namespace
} // namespace pellix
