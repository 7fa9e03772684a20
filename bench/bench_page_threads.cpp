#include "bench/bench.h"

#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/palette.h"
#include "markdown/html_render.h"
#include "markdown/preview_markup.h"
#include "platform/com_ptr.h"
#include "platform/dib_surface.h"
#include "preview/drawing.h"
#include "preview/layout.h"

// Whether the preview's page could be drawn off the UI thread, beside the editor's drawing,
// for less time after a window's last size: one page drawn alone, against two drawn at once on
// two threads, each with its own factory, DC target and picture as the preview's paint has.

namespace pellix {
namespace {

using bench::median;

constexpr int pages = 5;
constexpr float page_width_dips = 620.0f;
constexpr float page_height_dips = 828.0f;
// The preview's kept picture for that page: its extent rounded up to 256 pixels.
constexpr int picture_width = 768;
constexpr int picture_height = 1024;

// One thread's drawing of the page's first screen, from its own factory and target.
class PageDrawer {
public:
    PageDrawer(IDWriteFactory* dwrite, const PreviewDocument& document)
        : document_(document), picture_(picture_width, picture_height) {
        layout_ = build_layout(dwrite, document, page_width_dips, 1.0f, false);
        D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), nullptr,
                          reinterpret_cast<void**>(factory_.put()));
        const D2D1_RENDER_TARGET_PROPERTIES properties = D2D1::RenderTargetProperties(
            D2D1_RENDER_TARGET_TYPE_DEFAULT,
            D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_IGNORE));
        if (factory_ && picture_.dc() != nullptr &&
            SUCCEEDED(factory_->CreateDCRenderTarget(&properties, target_.put()))) {
            const RECT bounds{0, 0, picture_width, picture_height};
            target_->BindDC(picture_.dc(), &bounds);
        }
    }

    bool ready() const { return static_cast<bool>(target_); }

    // Milliseconds of one page, or of an empty frame (the target begun, cleared and ended).
    double draw(bool empty) {
        const auto start = std::chrono::steady_clock::now();
        target_->BeginDraw();
        target_->Clear(D2D1::ColorF(0xFAFAFA));
        if (!empty) {
            draw_document(target_.get(), document_, layout_, paint_colours(false), 0.0f,
                          page_height_dips, 1.0f, View{}, {}, false, brushes_);
        }
        target_->EndDraw();
        return bench::milliseconds_between(start, std::chrono::steady_clock::now());
    }

    std::vector<double> draw_pages() {
        std::vector<double> samples;
        for (int i = 0; i < pages; ++i) {
            samples.push_back(draw(false));
        }
        return samples;
    }

private:
    const PreviewDocument& document_;
    Layout layout_;
    DibSurface picture_;
    ComPtr<ID2D1Factory> factory_;
    ComPtr<ID2D1DCRenderTarget> target_;
    Brushes brushes_;
};

void bench_page_threads() {
    ComPtr<IDWriteFactory> dwrite;
    DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                        reinterpret_cast<IUnknown**>(dwrite.put()));
    const std::string source = bench::mixed_markdown(0x2000);
    const PreviewDocument document =
        read_preview_markup(render_markdown_html(source, false, preview_source_limit));
    PageDrawer first(dwrite.get(), document);
    PageDrawer second(dwrite.get(), document);
    if (!first.ready() || !second.ready()) {
        std::printf("page threads: no DC render target\n");
        return;
    }
    first.draw(false); // glyph caches and brushes
    second.draw(false);
    std::vector<double> empty;
    for (int i = 0; i < pages; ++i) {
        empty.push_back(first.draw(true));
    }
    const std::vector<double> alone = first.draw_pages();
    std::vector<double> beside;
    const auto start = std::chrono::steady_clock::now();
    std::thread other([&] { beside = second.draw_pages(); });
    const std::vector<double> together = first.draw_pages();
    other.join();
    const double both = bench::milliseconds_between(start, std::chrono::steady_clock::now());
    std::printf("first screen of the page (%.0f x %.0f DIPs on a %d x %d picture), median of "
                "%d: empty frame %.1f ms, one page alone %.1f ms; two threads at once %.1f and "
                "%.1f ms a page, %d pages each in %.1f ms\n",
                page_width_dips, page_height_dips, picture_width, picture_height, pages,
                median(empty), median(alone), median(together), median(beside), pages, both);
}

static bench::Registration registration("page_threads", bench_page_threads);

} // namespace
} // namespace pellix
