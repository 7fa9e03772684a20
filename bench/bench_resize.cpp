// Figures for dragging a window's edge: the memory the real Pellix.exe in Split view keeps over
// three drags of 40 sizes each, beside bare Direct2D targets on a child window driven through
// the same drags in a process that Wine gives the program's Direct3D renderer: a window target
// and a DC target that take every size, and the same targets keeping their size through a drag
// (drawn scaled) and taking the size it ends at.

#include "bench/bench.h"
#include "bench/bench_program.h"
#include "bench/bench_renderer_host.h"

#include <windows.h>
#include <d2d1.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/settings.h"
#include "platform/com_ptr.h"
#include "platform/dib_surface.h"

namespace {

using namespace pellix;

constexpr int drag_count = 3;
constexpr int steps_per_drag = 40;
constexpr DWORD drag_ms = 1000;
constexpr int step_pixels = 7;
constexpr int start_width = 1000;
constexpr int start_height = 700;
// Between two drags the hand rests long enough for a size to settle.
constexpr DWORD rest_ms = 1000;
constexpr const char* host_parts[] = {"window_target_follows", "window_target_keeps",
                                      "dc_target_follows", "dc_target_keeps", "window_alone"};

// The size at `step` of drag `drag`: the first drag widens the window, the second heightens it,
// the third narrows it, so that no size comes twice.
SIZE size_at(int drag, int step) {
    const int moved = (step + 1) * step_pixels;
    const int dragged = steps_per_drag * step_pixels;
    switch (drag) {
    case 0:
        return {start_width + moved, start_height};
    case 1:
        return {start_width + dragged, start_height + moved};
    default:
        return {start_width + dragged - 2 * moved, start_height + dragged};
    }
}

// Runs the drags: `step` takes each size at the pace of a one-second drag, `rest` follows each
// drag. Prints the growth of `process` from before the first drag to after the last.
void drag_through(const char* name, HANDLE process, const std::function<void(SIZE)>& step,
                  const std::function<void()>& rest) {
    const bench::Memory before = bench::memory_of(process);
    for (int drag = 0; drag < drag_count; ++drag) {
        const ULONGLONG start = GetTickCount64();
        for (int i = 0; i < steps_per_drag; ++i) {
            step(size_at(drag, i));
            const ULONGLONG due = start + static_cast<ULONGLONG>(i + 1) * drag_ms / steps_per_drag;
            const ULONGLONG now = GetTickCount64();
            if (now < due) {
                Sleep(static_cast<DWORD>(due - now));
            }
        }
        rest();
    }
    const bench::Memory after = bench::memory_of(process);
    const int sizes = drag_count * steps_per_drag;
    std::printf("%s: private bytes %.1f -> %.1f MiB, %+.1f MiB over %d drags of %d sizes "
                "(%+.2f MiB a size); working set %.1f -> %.1f MiB\n",
                name, before.private_mib, after.private_mib, after.private_mib - before.private_mib,
                drag_count, steps_per_drag, (after.private_mib - before.private_mib) / sizes,
                before.working_set_mib, after.working_set_mib);
}

void real_program(const std::filesystem::path& path, LRESULT units) {
    write_setting_dword(L"View", static_cast<DWORD>(view_split));
    bench::RealProgram program({path.wstring()});
    HWND main = program.wait_for_document(units);
    if (main == nullptr || !program.wait_for_commands(main)) {
        std::printf("the real program did not show the document\n");
        return;
    }
    const auto place = [&](SIZE size) {
        SetWindowPos(main, nullptr, 0, 0, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    };
    place({start_width, start_height});
    bench::settle(main);
    Sleep(rest_ms);
    bench::settle(main);
    drag_through("real program, Split view", program.process(), place, [&] {
        Sleep(rest_ms);
        bench::settle(main);
    });
    const bench::Memory before = bench::memory_of(program.process());
    Sleep(rest_ms);
    std::printf("  the same program idle a second later: %+.2f MiB\n",
                bench::memory_of(program.process()).private_mib - before.private_mib);
}

// A shown pop-up window with a child window filling it: the child holds the targets, as the
// program's panes do.
struct ChildWindow {
    ChildWindow()
        : parent(CreateWindowExW(0, L"STATIC", L"bench", WS_POPUP | WS_VISIBLE, 0, 0, start_width,
                                 start_height, nullptr, nullptr, nullptr, nullptr)),
          child(CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, start_width,
                                start_height, parent, nullptr, nullptr, nullptr)) {}
    ~ChildWindow() { DestroyWindow(parent); }
    ChildWindow(const ChildWindow&) = delete;
    ChildWindow& operator=(const ChildWindow&) = delete;

    void place(SIZE size) const {
        SetWindowPos(parent, nullptr, 0, 0, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
        SetWindowPos(child, nullptr, 0, 0, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    }

    HWND parent;
    HWND child;
};

constexpr float bench_dpi = 96.0f;

// Something of everything a pane draws: a background, a filled band and an outline.
void draw_frame(ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush, SIZE size) {
    target->BeginDraw();
    target->Clear(D2D1::ColorF(D2D1::ColorF::White));
    const auto width = static_cast<float>(size.cx);
    const auto height = static_cast<float>(size.cy);
    target->FillRectangle(D2D1::RectF(0.0f, 0.0f, width / 4.0f, height), brush);
    target->DrawRectangle(D2D1::RectF(8.0f, 8.0f, width - 8.0f, height - 8.0f), brush);
    target->EndDraw();
}

// The DPI that draws a frame of `shown` pixels onto a target of `kept` pixels.
D2D1_SIZE_F dpi_for(SIZE shown, D2D1_SIZE_U kept) {
    return {bench_dpi * static_cast<float>(kept.width) / static_cast<float>(shown.cx),
            bench_dpi * static_cast<float>(kept.height) / static_cast<float>(shown.cy)};
}

ComPtr<ID2D1Factory> make_factory() {
    ComPtr<ID2D1Factory> factory;
    D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), nullptr,
                      reinterpret_cast<void**>(factory.put()));
    return factory;
}

void serve_messages() {
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
    }
}

// A window target on a `ChildWindow`, its first frame drawn; `target` is empty, said on the
// output, when it could not be made.
struct ChildWindowTarget {
    ChildWindowTarget() {
        if (!factory ||
            FAILED(factory->CreateHwndRenderTarget(
                D2D1::RenderTargetProperties(),
                D2D1::HwndRenderTargetProperties(window.child,
                                                 D2D1::SizeU(start_width, start_height)),
                target.put())) ||
            FAILED(target->CreateSolidColorBrush(D2D1::ColorF(D2D1::ColorF::SteelBlue),
                                                 brush.put()))) {
            std::printf("no window target\n");
            target.reset();
            return;
        }
        target->SetDpi(bench_dpi, bench_dpi);
        draw_frame(target.get(), brush.get(), {start_width, start_height});
        serve_messages();
    }

    ChildWindow window;
    ComPtr<ID2D1Factory> factory = make_factory();
    ComPtr<ID2D1HwndRenderTarget> target;
    ComPtr<ID2D1SolidColorBrush> brush;
};

// A window target on the child through the drags: it takes every size (`follows`), or keeps its
// size through a drag, drawn scaled, and takes the size the drag ends at.
void window_target(bool follows) {
    const ChildWindowTarget made;
    if (!made.target) {
        return;
    }
    const ChildWindow& window = made.window;
    ID2D1HwndRenderTarget* target = made.target.get();
    ID2D1SolidColorBrush* brush = made.brush.get();
    SIZE last{start_width, start_height};
    const auto step = [&](SIZE size) {
        window.place(size);
        if (follows) {
            target->Resize(D2D1::SizeU(size.cx, size.cy));
        } else {
            const D2D1_SIZE_F dpi = dpi_for(size, target->GetPixelSize());
            target->SetDpi(dpi.width, dpi.height);
        }
        draw_frame(target, brush, size);
        serve_messages();
        last = size;
    };
    const auto rest = [&] {
        Sleep(rest_ms);
        target->SetDpi(bench_dpi, bench_dpi);
        target->Resize(D2D1::SizeU(last.cx, last.cy));
        draw_frame(target, brush, last);
        serve_messages();
    };
    drag_through(follows ? "bare window target on a child window, every size"
                         : "bare window target on a child window, the settled sizes",
                 GetCurrentProcess(), step, rest);
}

// A DC target drawing into the child's DC through the drags: bound at every size (`follows`), or
// kept at its size through a drag, drawn scaled into a bitmap stretched onto the window, and
// bound at the size the drag ends at.
void dc_target(bool follows) {
    const ChildWindow window;
    const ComPtr<ID2D1Factory> factory = make_factory();
    ComPtr<ID2D1DCRenderTarget> target;
    ComPtr<ID2D1SolidColorBrush> brush;
    const D2D1_RENDER_TARGET_PROPERTIES properties = D2D1::RenderTargetProperties(
        D2D1_RENDER_TARGET_TYPE_DEFAULT,
        D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_IGNORE));
    if (!factory || FAILED(factory->CreateDCRenderTarget(&properties, target.put())) ||
        FAILED(target->CreateSolidColorBrush(D2D1::ColorF(D2D1::ColorF::SteelBlue), brush.put()))) {
        std::printf("no DC target\n");
        return;
    }
    const auto draw_on_window = [&](SIZE size) {
        HDC dc = GetDC(window.child);
        const RECT bounds{0, 0, size.cx, size.cy};
        target->BindDC(dc, &bounds);
        target->SetDpi(bench_dpi, bench_dpi);
        draw_frame(target.get(), brush.get(), size);
        ReleaseDC(window.child, dc);
    };
    draw_on_window({start_width, start_height});
    serve_messages();
    SIZE last{start_width, start_height};
    SIZE kept = last;
    const auto step = [&](SIZE size) {
        window.place(size);
        if (follows) {
            draw_on_window(size);
        } else {
            DibSurface surface(kept.cx, kept.cy);
            const RECT bounds{0, 0, kept.cx, kept.cy};
            target->BindDC(surface.dc(), &bounds);
            const D2D1_SIZE_F dpi = dpi_for(size, D2D1::SizeU(kept.cx, kept.cy));
            target->SetDpi(dpi.width, dpi.height);
            draw_frame(target.get(), brush.get(), size);
            HDC dc = GetDC(window.child);
            StretchBlt(dc, 0, 0, size.cx, size.cy, surface.dc(), 0, 0, kept.cx, kept.cy, SRCCOPY);
            ReleaseDC(window.child, dc);
        }
        serve_messages();
        last = size;
    };
    const auto rest = [&] {
        Sleep(rest_ms);
        draw_on_window(last);
        kept = last;
        serve_messages();
    };
    drag_through(follows ? "bare DC target on a child window, every size"
                         : "bare DC target on a child window, the settled sizes",
                 GetCurrentProcess(), step, rest);
}

// The child window alone through the drags, its target made at the start and never drawn again:
// what the sizes of the window itself cost.
void window_alone() {
    const ChildWindowTarget made;
    if (!made.target) {
        return;
    }
    const ChildWindow& window = made.window;
    drag_through(
        "child window resized, its target not drawn", GetCurrentProcess(),
        [&](SIZE size) {
            window.place(size);
            serve_messages();
        },
        [] { Sleep(rest_ms); });
}

void run() {
    if (const char* part = bench::renderer_host_part("resize")) {
        const std::string name(part);
        if (name == "window_target_follows" || name == "window_target_keeps") {
            window_target(name == "window_target_follows");
        } else if (name == "dc_target_follows" || name == "dc_target_keeps") {
            dc_target(name == "dc_target_follows");
        } else {
            window_alone();
        }
        return;
    }
    const std::string text = bench::mixed_markdown(64 * 1024);
    const auto path = std::filesystem::temp_directory_path() / "pellix-bench-resize.md";
    std::ofstream(path, std::ios::binary) << text;
    real_program(path, static_cast<LRESULT>(text.size()));
    {
        const bench::RendererHost host("resize");
        for (const char* part : host_parts) {
            host.run(part);
        }
    }
    std::filesystem::remove(path);
}

bench::Registration registration("resize", run);

} // namespace
