// Figures for paging through an 8 MiB document: the memory growth of the real Pellix.exe over
// cycles of Page Down and a return to the top, beside the same cycles in the main window and in
// a bare editor window hosted by a process that Wine gives the program's Direct3D renderer, and
// beside a plain Direct2D target that only draws text.

#include "bench/bench.h"
#include "bench/bench_main_window.h"
#include "bench/bench_program.h"
#include "bench/bench_renderer_host.h"
#include "bench/bench_window_target.h"

#include <windows.h>
#include <dwrite.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "core/limits.h"
#include "editor/source_window.h"
#include "platform/com_ptr.h"

namespace {

using namespace pellix;

constexpr int cycles = 51;
constexpr int page_downs_per_cycle = 20;
constexpr int text_frames = 1000;
constexpr int rows_per_frame = 45;
constexpr float row_height = 17.0f;
constexpr float text_size = 14.0f;
constexpr UINT32 frame_width = 1000;
constexpr UINT32 frame_height = 800;
// The in-process figures are measured in the renderer host, each part in a host of its own.
constexpr const char* host_parts[] = {"main_window", "bare_editor", "plain_target"};

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
            bench::settle(main);
        },
        [&] {
            SendMessageW(editor, EM_SETSEL, 0, 0);
            SendMessageW(editor, EM_SCROLLCARET, 0, 0);
            bench::settle(main);
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
    page_in_this_process("main window in the renderer host", chrome.editor, window);
    bench::close_main_window(window);
}

void bare_editor(const std::string& text) {
    register_source_window_class(GetModuleHandleW(nullptr));
    HWND editor = CreateWindowExW(0, source_window_class, L"", WS_POPUP | WS_VISIBLE | WS_VSCROLL,
                                  0, 0, frame_width, frame_height, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    const std::wstring wide(text.begin(), text.end());
    SendMessageW(editor, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    UpdateWindow(editor);
    page_in_this_process("bare editor window in the renderer host", editor, editor);
    DestroyWindow(editor);
    bench::serve_messages();
}

// Frames of a plain Direct2D target on a pop-up window, each drawing `rows_per_frame` lines of
// `lines` as text layouts, as a page of the editor does but with nothing else of ours around it.
void text_frames_on_plain_target(const char* name, const std::vector<std::wstring>& lines) {
    bench::PopupTarget popup(frame_width, frame_height);
    ID2D1HwndRenderTarget* target = popup.target.get();
    ComPtr<IDWriteFactory> dwrite;
    ComPtr<IDWriteTextFormat> format;
    ComPtr<ID2D1SolidColorBrush> brush;
    if (!target ||
        FAILED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                   reinterpret_cast<IUnknown**>(dwrite.put()))) ||
        FAILED(dwrite->CreateTextFormat(L"Consolas", nullptr, DWRITE_FONT_WEIGHT_NORMAL,
                                        DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL,
                                        text_size, L"en-us", format.put())) ||
        FAILED(target->CreateSolidColorBrush(D2D1::ColorF(D2D1::ColorF::Black), brush.put()))) {
        std::printf("%s: no render target\n", name);
        return;
    }
    const auto frame = [&](int page) {
        target->BeginDraw();
        target->Clear(D2D1::ColorF(D2D1::ColorF::White));
        for (int row = 0; row < rows_per_frame; ++row) {
            const std::wstring& line = lines[(page * rows_per_frame + row) % lines.size()];
            ComPtr<IDWriteTextLayout> layout;
            if (SUCCEEDED(dwrite->CreateTextLayout(line.c_str(), static_cast<UINT32>(line.size()),
                                                   format.get(), frame_width, row_height,
                                                   layout.put()))) {
                target->DrawTextLayout(D2D1::Point2F(0.0f, row * row_height), layout.get(),
                                       brush.get());
            }
        }
        target->EndDraw();
        bench::serve_messages();
    };
    for (int page = 0; page < page_downs_per_cycle; ++page) {
        frame(page);
    }
    const bench::Memory first = bench::memory_of(GetCurrentProcess());
    for (int i = 0; i < text_frames; ++i) {
        frame(i % page_downs_per_cycle);
    }
    const bench::Memory last = bench::memory_of(GetCurrentProcess());
    std::printf("%s: %+.2f MiB over %d frames of %d text layouts (%+.2f KiB a frame)\n", name,
                last.private_mib - first.private_mib, text_frames, rows_per_frame,
                (last.private_mib - first.private_mib) * 1024.0 / text_frames);
}

// The first lines of `text`, as many as the cycles' pages show.
std::vector<std::wstring> lines_of(const std::string& text) {
    std::vector<std::wstring> lines;
    for (std::size_t at = 0;
         at < text.size() && lines.size() < rows_per_frame * page_downs_per_cycle;) {
        const std::size_t end = text.find('\n', at);
        lines.emplace_back(text.begin() + static_cast<std::ptrdiff_t>(at),
                           text.begin() + static_cast<std::ptrdiff_t>(end));
        at = end + 1;
    }
    return lines;
}

void run() {
    const std::string text = bench::mixed_markdown(document_limit - 4096);
    const auto path = std::filesystem::temp_directory_path() / "pellix-bench-paging.md";
    if (const char* part = bench::renderer_host_part("paging")) {
        const std::string name(part);
        if (name == "main_window") {
            main_window_here(path);
        } else if (name == "bare_editor") {
            bare_editor(text);
        } else {
            text_frames_on_plain_target("plain Direct2D target, the program's renderer",
                                        lines_of(text));
        }
        return;
    }
    std::ofstream(path, std::ios::binary) << text;
    real_program(path, static_cast<LRESULT>(text.size()));
    {
        const bench::RendererHost host("paging");
        for (const char* part : host_parts) {
            host.run(part);
        }
    }
    text_frames_on_plain_target("plain Direct2D target, Wine's default renderer", lines_of(text));
    std::filesystem::remove(path);
}

bench::Registration registration("paging", run);

} // namespace
