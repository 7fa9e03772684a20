#include "bench/bench.h"
#include "bench/bench_window_target.h"

#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/palette.h"
#include "markdown/html_render.h"
#include "markdown/preview_markup.h"
#include "platform/com_ptr.h"
#include "preview/drawing.h"
#include "preview/layout.h"

namespace pellix {
namespace {

constexpr float view_width_dips = 1000.0f;
constexpr float view_height_dips = 800.0f;

// One DirectWrite layout of `text` as the preview makes it for a paragraph, measured.
double one_layout_seconds(IDWriteFactory* factory, IDWriteTextFormat* format,
                          const std::wstring& text) {
    std::vector<double> samples;
    for (int i = 0; i < 3; ++i) {
        samples.push_back(bench::seconds_of([&] {
            ComPtr<IDWriteTextLayout> layout;
            factory->CreateTextLayout(text.data(), static_cast<UINT32>(text.size()), format,
                                      view_width_dips - 48.0f, 1e9f, layout.put());
            DWRITE_TEXT_METRICS metrics{};
            layout->GetMetrics(&metrics);
        }));
    }
    return bench::median(samples);
}

// How long one layout of an unbroken run takes, beside prose of the same length. Longer runs
// than the last are not tried: Wine's DirectWrite faults on a layout of 65,537 units or more
// between line feeds, spaces or none.
void report_run_lengths(IDWriteFactory* factory) {
    ComPtr<IDWriteTextFormat> format;
    factory->CreateTextFormat(L"Segoe UI", nullptr, DWRITE_FONT_WEIGHT_NORMAL,
                              DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL, 16.0f, L"en-US",
                              format.put());
    format->SetWordWrapping(DWRITE_WORD_WRAPPING_EMERGENCY_BREAK);
    format->SetLineSpacing(DWRITE_LINE_SPACING_METHOD_UNIFORM, 24.0f, 18.4f);
    std::printf("one text layout (create and measure), median of 3:\n");
    for (const std::size_t units : {4096u, 16384u, 32768u, 65536u}) {
        std::wstring prose;
        while (prose.size() < units) {
            prose += L"lorem ipsum ";
        }
        prose.resize(units);
        std::printf("  %6zu units: '[' %.1f ms, 'A' %.1f ms, prose %.1f ms\n", units,
                    one_layout_seconds(factory, format.get(), std::wstring(units, L'[')) * 1e3,
                    one_layout_seconds(factory, format.get(), std::wstring(units, L'A')) * 1e3,
                    one_layout_seconds(factory, format.get(), prose) * 1e3);
    }
}

// The preview's whole road for one paragraph, and the paint of its first screen.
void report_paragraph(IDWriteFactory* factory, ID2D1RenderTarget* target, const char* name,
                      const std::string& paragraph) {
    const std::string source = paragraph + "\n";
    std::string page;
    const double render =
        bench::seconds_of([&] { page = render_markdown_html(source, false, source.size() + 1); });
    PreviewDocument document;
    const double read = bench::seconds_of([&] { document = read_preview_markup(page); });
    Layout layout;
    const double lay_out = bench::seconds_of(
        [&] { layout = build_layout(factory, document, view_width_dips, 1.0f, false); });
    const double print = bench::seconds_of(
        [&] { Layout paper = build_layout(factory, document, 540.0f, 11.0f / 12.0f, true); });
    Brushes brushes;
    const double paint = bench::seconds_of([&] {
        target->BeginDraw();
        target->Clear(D2D1::ColorF(0xFAFAFA));
        draw_document(target, document, layout, paint_colours(false), 0, view_height_dips, 1.0f,
                      View{}, {}, false, brushes);
        target->EndDraw();
    });
    std::printf("%s: render %.0f ms, read %.0f ms, layout %.0f ms (%zu pieces, %zu lines, "
                "content %.0f x %.0f DIPs), paper layout %.0f ms, first screen %.0f ms\n",
                name, render * 1e3, read * 1e3, lay_out * 1e3,
                layout.blocks.empty() ? 0 : layout.blocks[0].pieces.size(), layout.lines.size(),
                layout.width, layout.height, print * 1e3, paint * 1e3);
}

void run() {
    ComPtr<IDWriteFactory> factory;
    DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                        reinterpret_cast<IUnknown**>(factory.put()));
    report_run_lengths(factory.get());
    bench::PopupTarget popup(static_cast<UINT32>(view_width_dips),
                             static_cast<UINT32>(view_height_dips));
    if (popup.target) {
        report_paragraph(factory.get(), popup.target.get(), "100000 x '['",
                         std::string(100000, '['));
        report_paragraph(factory.get(), popup.target.get(), "1000000 x 'A'",
                         std::string(1000000, 'A'));
        std::string prose;
        while (prose.size() < 100000) {
            prose += "lorem ipsum dolor sit amet ";
        }
        report_paragraph(factory.get(), popup.target.get(), "100000 units of prose", prose);
    }
}

static bench::Registration registration("long_runs", run);

} // namespace
} // namespace pellix
