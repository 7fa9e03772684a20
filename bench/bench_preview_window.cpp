#include "bench/bench.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "app/palette.h"
#include "markdown/html_render.h"
#include "markdown/preview_markup.h"
#include "preview/preview_window.h"

namespace pellix {
namespace {

using bench::median;

constexpr int rounds = 7;
constexpr int host_width = 1000;
constexpr int host_height = 800;

double ms(double seconds) {
    return seconds * 1e3;
}

// Paint time of the preview as its own profile hook records it.
struct PaintClock {
    std::vector<double> paints;
    std::vector<double> inputs;
    void install(Preview::Impl& p) {
        p.profile = [this](int stage, std::chrono::steady_clock::time_point start) {
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            (stage == scroll_stage::preview_paint ? paints : inputs).push_back(seconds);
        };
    }
};

double paint_now(Preview::Impl& p) {
    return bench::seconds_of([&] {
        InvalidateRect(p.window, nullptr, FALSE);
        UpdateWindow(p.window);
    });
}

void report_first_screen(Preview::Impl& p, const std::string& source) {
    std::vector<double> render;
    std::vector<double> read;
    std::vector<double> content;
    std::vector<double> paint;
    for (int round = 0; round < rounds; ++round) {
        std::string page;
        render.push_back(bench::seconds_of(
            [&] { page = render_markdown_html(source, false, preview_source_limit); }));
        read.push_back(bench::seconds_of([&] { (void)read_preview_markup(page); }));
        // An empty page in between, so that nothing of the previous round is reused.
        set_preview_content(render_markdown_html("", false, preview_source_limit), 1, 1);
        content.push_back(bench::seconds_of([&] { set_preview_content(page, 1, 1); }));
        paint.push_back(paint_now(p));
    }
    const double layout = median(content) - median(read);
    // The layout runs twice: the vertical scroll bar appears with the long page and narrows
    // the view.
    std::printf("first screen of %zu bytes of Markdown (%zu blocks): render %.1f ms, read %.1f ms, "
                "layout (two passes) %.1f ms, paint %.2f ms; total %.1f ms\n",
                source.size(), p.document.blocks.size(), ms(median(render)), ms(median(read)),
                ms(layout), ms(median(paint)),
                ms(median(render) + median(content) + median(paint)));
}

void report_edit_refresh(Preview::Impl& p, const std::string& source) {
    std::string page = render_markdown_html(source, false, preview_source_limit);
    set_preview_content(page, 1, 1);
    paint_now(p);
    std::vector<double> render;
    std::vector<double> content;
    std::vector<double> paint;
    std::string edited = source;
    const std::size_t word = edited.find("ordinary", edited.size() / 2);
    for (int round = 0; round < rounds; ++round) {
        // One word of one paragraph in the middle of the document changes each round.
        edited.replace(word, 8, round % 2 == 0 ? "ORDINARY" : "ordinary");
        render.push_back(bench::seconds_of(
            [&] { page = render_markdown_html(edited, false, preview_source_limit); }));
        content.push_back(bench::seconds_of([&] { set_preview_content(page, 1, 1); }));
        paint.push_back(paint_now(p));
    }
    // The reusing layout alone, against the page before the edit.
    const PreviewDocument document = read_preview_markup(page);
    edited.replace(word, 8, "Ordinary");
    const PreviewDocument next =
        read_preview_markup(render_markdown_html(edited, false, preview_source_limit));
    const Layout laid = build_layout(p.dwrite_factory.get(), document, p.layout_width, 1.0f, false);
    std::vector<double> reuse;
    for (int round = 0; round < rounds; ++round) {
        reuse.push_back(bench::seconds_of([&] {
            (void)build_layout(p.dwrite_factory.get(), next, p.layout_width, 1.0f, false,
                               LayoutSource{document, laid});
        }));
    }
    std::printf("refresh after a one-word edit: render %.1f ms, read and layout %.1f ms, paint "
                "%.2f ms; total %.1f ms (goal: under 30 ms)\n",
                ms(median(render)), ms(median(content)), ms(median(paint)),
                ms(median(render) + median(content) + median(paint)));
    std::printf("  of which the layout reusing unchanged blocks %.1f ms\n", ms(median(reuse)));
}

void report_scrolling(Preview::Impl& p, PaintClock& clock) {
    set_preview_scroll(p, 0, 0);
    paint_now(p);
    std::vector<double> input;
    std::vector<double> paint;
    clock.paints.clear();
    for (int round = 0; round < rounds * 9; ++round) {
        input.push_back(bench::seconds_of([&] { SendMessageW(p.window, WM_KEYDOWN, VK_NEXT, 0); }));
        paint.push_back(paint_now(p));
    }
    // The scroll-bar position update that each step makes, alone: Wine's share of the input.
    std::vector<double> bar;
    for (int round = 0; round < rounds * 9; ++round) {
        SCROLLINFO info{};
        info.cbSize = sizeof(info);
        info.fMask = SIF_POS;
        info.nPos = round * 10;
        bar.push_back(bench::seconds_of([&] { SetScrollInfo(p.window, SB_VERT, &info, TRUE); }));
    }
    SendMessageW(p.window, WM_KEYDOWN, VK_HOME, 0);
    // An empty frame: the same render target begun, cleared and ended, nothing drawn.
    std::vector<double> empty;
    ID2D1DCRenderTarget* target = p.render_target.get();
    HDC dc = GetDC(p.window);
    RECT client{};
    GetClientRect(p.window, &client);
    for (int round = 0; round < rounds * 9; ++round) {
        empty.push_back(bench::seconds_of([&] {
            target->BindDC(dc, &client);
            target->BeginDraw();
            target->Clear(D2D1::ColorF(0xFAFAFA));
            target->EndDraw();
        }));
    }
    ReleaseDC(p.window, dc);
    std::printf("scrolling by one screen (Page Down): key handling %.3f ms, of which the "
                "scroll-bar update %.3f ms and our own work %.3f ms (goal: under 1 ms); paint "
                "%.2f ms of which the preview's paint handler %.2f ms; empty frame %.2f ms\n",
                ms(median(input)), ms(median(bar)), ms(median(input) - median(bar)),
                ms(median(paint)), ms(median(clock.paints)), ms(median(empty)));
    clock.inputs.clear();
    for (int round = 0; round < rounds * 9; ++round) {
        SendMessageW(p.window, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120)), 0);
    }
    std::printf("one wheel notch: handling %.3f ms\n", ms(median(clock.inputs)));
}

void bench_preview_window() {
    WNDCLASSW host_class{};
    host_class.lpfnWndProc = DefWindowProcW;
    host_class.hInstance = GetModuleHandleW(nullptr);
    host_class.lpszClassName = L"Pellix.Bench.PreviewHost";
    RegisterClassW(&host_class);
    HWND host = CreateWindowExW(0, L"Pellix.Bench.PreviewHost", L"bench",
                                WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, host_width,
                                host_height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    Preview::Impl& p = preview();
    p.colours = [](bool dark) { return paint_colours(dark); };
    PaintClock clock;
    clock.install(p);
    create_preview(host, nullptr);
    const std::string source = bench::mixed_markdown(0x40000 - 0x400);
    report_first_screen(p, source);
    report_edit_refresh(p, source);
    report_scrolling(p, clock);
    p.profile = nullptr;
    destroy_preview();
    DestroyWindow(host);
}

static bench::Registration registration("preview_window", bench_preview_window);

} // namespace
} // namespace pellix
