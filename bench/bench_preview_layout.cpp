#include "bench/bench.h"
#include "bench/bench_window_target.h"

#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>

#include <algorithm>
#include <cstdio>
#include <random>
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

using bench::median;

constexpr int rounds = 7;
constexpr float view_width_dips = 1000.0f;
constexpr float view_height_dips = 800.0f;

template <typename Work> std::vector<double> samples_of(Work work, int count = rounds) {
    std::vector<double> samples;
    for (int i = 0; i < count; ++i) {
        samples.push_back(bench::seconds_of(work));
    }
    std::sort(samples.begin(), samples.end());
    return samples;
}

// Where build_layout spends its time: the same DirectWrite calls, one stage at a time.
void report_layout_stages(IDWriteFactory* factory, const PreviewDocument& document) {
    std::vector<ComPtr<IDWriteTextFormat>> formats(document.blocks.size());
    const double format_seconds = median(samples_of(
        [&] {
            for (ComPtr<IDWriteTextFormat>& format : formats) {
                factory->CreateTextFormat(L"Segoe UI", nullptr, DWRITE_FONT_WEIGHT_NORMAL,
                                          DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL,
                                          16.0f, L"en-US", format.put());
            }
        },
        3));
    std::vector<ComPtr<IDWriteTextLayout>> layouts(document.blocks.size());
    const double create_seconds = median(samples_of(
        [&] {
            for (size_t i = 0; i < document.blocks.size(); ++i) {
                const PreviewBlock& block = document.blocks[i];
                factory->CreateTextLayout(
                    reinterpret_cast<const wchar_t*>(document.text.data() + block.start),
                    static_cast<UINT32>(block.length), formats[i].get(), 900.0f, 1e9f,
                    layouts[i].put());
            }
        },
        3));
    const double measure_seconds = median(samples_of(
        [&] {
            for (ComPtr<IDWriteTextLayout>& layout : layouts) {
                DWRITE_TEXT_METRICS metrics{};
                layout->GetMetrics(&metrics);
            }
        },
        1));
    const double clusters_seconds = median(samples_of(
        [&] {
            std::vector<DWRITE_CLUSTER_METRICS> clusters;
            for (ComPtr<IDWriteTextLayout>& layout : layouts) {
                UINT32 count = 0;
                layout->GetClusterMetrics(nullptr, 0, &count);
                clusters.resize(count);
                layout->GetClusterMetrics(clusters.data(), count, &count);
            }
        },
        3));
    std::printf("  stages over %zu blocks: text formats %.1f ms, create layouts %.1f ms, "
                "first measure (shaping) %.1f ms, cluster reads %.1f ms\n",
                document.blocks.size(), format_seconds * 1e3, create_seconds * 1e3,
                measure_seconds * 1e3, clusters_seconds * 1e3);
}

// One full-window paint at each of three scroll positions, as the preview paints.
void report_draws(const PreviewDocument& document, Layout& layout) {
    bench::PopupTarget popup(static_cast<UINT32>(view_width_dips),
                             static_cast<UINT32>(view_height_dips));
    if (!popup.target) {
        std::printf("  draw: no render target (HRESULT 0x%08lX)\n",
                    static_cast<unsigned long>(popup.result));
        return;
    }
    ID2D1HwndRenderTarget* target = popup.target.get();
    Brushes brushes;
    const std::vector<double> empty_frame = samples_of([&] {
        target->BeginDraw();
        target->Clear(D2D1::ColorF(0xFAFAFA));
        target->EndDraw();
    });
    std::printf("  empty frame (BeginDraw, Clear, EndDraw): median %.2f ms\n",
                median(empty_frame) * 1e3);
    for (double fraction : {0.0, 0.5, 0.95}) {
        const float top =
            static_cast<float>(fraction * std::max(0.0f, layout.height - view_height_dips));
        View view;
        view.scroll_y = top;
        // A selection and find matches over the visible band exercise the range hit tests.
        auto first =
            std::lower_bound(layout.bottom_bounds.begin(), layout.bottom_bounds.end(), top);
        const size_t index = static_cast<size_t>(first - layout.bottom_bounds.begin());
        const std::uint64_t from =
            index < layout.blocks.size() ? layout.blocks[index].text_start : 0;
        view.anchor = from;
        view.caret = std::min<std::uint64_t>(from + 1500, document.text.size());
        std::vector<std::pair<std::uint64_t, std::uint64_t>> matches;
        for (std::uint64_t m = from; m + 3 < view.caret; m += 40) {
            matches.emplace_back(m, m + 3);
        }
        auto draw = [&] {
            target->BeginDraw();
            target->SetTransform(D2D1::Matrix3x2F::Identity());
            target->Clear(D2D1::ColorF(0xFAFAFA));
            target->SetTransform(D2D1::Matrix3x2F::Translation(0, -top));
            draw_document(target, document, layout, paint_colours(false), top,
                          top + view_height_dips, 1.0f, view, matches, false, brushes);
            target->SetTransform(D2D1::Matrix3x2F::Identity());
            target->EndDraw();
        };
        draw(); // brushes and glyph caches
        const std::vector<double> plain = samples_of([&] {
            View none = view;
            none.anchor = none.caret;
            target->BeginDraw();
            target->Clear(D2D1::ColorF(0xFAFAFA));
            target->SetTransform(D2D1::Matrix3x2F::Translation(0, -top));
            draw_document(target, document, layout, paint_colours(false), top,
                          top + view_height_dips, 1.0f, none, {}, false, brushes);
            target->SetTransform(D2D1::Matrix3x2F::Identity());
            target->EndDraw();
        });
        const std::vector<double> highlighted = samples_of(draw);
        const std::vector<double> text_only = samples_of([&] {
            target->BeginDraw();
            target->Clear(D2D1::ColorF(0xFAFAFA));
            ComPtr<ID2D1SolidColorBrush> ink;
            target->CreateSolidColorBrush(D2D1::ColorF(0x1E1E1E), ink.put());
            for (size_t i = index; i < layout.blocks.size(); ++i) {
                const LayoutBlock& block = layout.blocks[i];
                if (block.y > top + view_height_dips) {
                    break;
                }
                for (const TextPiece& piece : block.pieces) {
                    target->DrawTextLayout({block.x, block.y + piece.top - top}, piece.layout.get(),
                                           ink.get());
                }
            }
            target->EndDraw();
        });
        std::printf("  draw at %3.0f%% (y %.0f): median %.2f ms plain, %.2f ms with selection and "
                    "%zu matches (goal: under 8 ms)\n",
                    fraction * 100, top, median(plain) * 1e3, median(highlighted) * 1e3,
                    matches.size());
        // The program's own share: the highlight rectangles found by hit testing, undrawn.
        const std::vector<double> hit_tests = samples_of([&] {
            for (size_t i = index; i < layout.blocks.size(); ++i) {
                const LayoutBlock& block = layout.blocks[i];
                if (block.y > top + view_height_dips) {
                    break;
                }
                if (block.pieces.empty() || block.text_length == 0) {
                    continue;
                }
                for_each_range_rect(block, 0, static_cast<std::uint32_t>(block.text_length),
                                    block.x, block.y, [](const D2D1_RECT_F&) {});
            }
        });
        std::printf("    of which DirectWrite text drawing alone takes %.2f ms; range hit tests "
                    "over every visible block %.3f ms\n",
                    median(text_only) * 1e3, median(hit_tests) * 1e3);
    }
    brushes = Brushes{};
}

// The computed hit tests read a layout's clusters on every call; the largest block the preview
// holds is one code block of the whole 256 KiB source, laid out in pieces.
void report_large_block_hit_test(IDWriteFactory* factory) {
    std::string source = "```\n";
    while (source.size() < 0x40000 - 64) {
        source += "    total += values[index] * weight; // one line of a long listing\n";
    }
    source += "```\n";
    const PreviewDocument document =
        read_preview_markup(render_markdown_html(source, false, preview_source_limit));
    Layout layout = build_layout(factory, document, view_width_dips, 1.0f, false);
    const LayoutBlock& block = layout.blocks.at(0);
    const auto middle = static_cast<std::uint32_t>(block.text_length / 2);
    const double seconds = median(samples_of([&] {
        for_each_range_rect(block, middle, 200, block.x, block.y, [](const D2D1_RECT_F&) {});
    }));
    const double cluster_seconds = median(samples_of([&] {
        for (const TextPiece& piece : block.pieces) {
            UINT32 count = 0;
            piece.layout->GetClusterMetrics(nullptr, 0, &count);
            std::vector<DWRITE_CLUSTER_METRICS> clusters(count);
            piece.layout->GetClusterMetrics(clusters.data(), count, &count);
            std::vector<DWRITE_LINE_METRICS> lines(layout.lines.size() + 1);
            piece.layout->GetLineMetrics(lines.data(), lines.size(), &count);
        }
    }));
    std::printf("  reading its cluster and line metrics: %.2f ms\n", cluster_seconds * 1e3);
    std::printf("  one range hit test in a code block of %llu units (%zu lines): %.2f ms\n",
                static_cast<unsigned long long>(block.text_length), layout.lines.size(),
                seconds * 1e3);
}

void bench_preview_layout() {
    ComPtr<IDWriteFactory> factory;
    DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                        reinterpret_cast<IUnknown**>(factory.put()));
    const std::string source = bench::mixed_markdown(0x40000);
    const std::string page = render_markdown_html(source, false, preview_source_limit);
    const PreviewDocument document = read_preview_markup(page);
    Layout layout;
    const std::vector<double> layout_samples = samples_of(
        [&] { layout = build_layout(factory.get(), document, view_width_dips, 1.0f, false); });
    std::printf("layout: %zu bytes of Markdown, %zu UTF-16 units, %zu blocks, %zu lines, "
                "%zu caret stops, content %.0f x %.0f DIPs\n",
                source.size(), document.text.size(), layout.blocks.size(), layout.lines.size(),
                layout.boundaries.size(), layout.width, layout.height);
    std::printf("  build_layout: median %.1f ms, best %.1f ms\n", median(layout_samples) * 1e3,
                layout_samples.front() * 1e3);
    Layout printed;
    const double print_seconds = median(samples_of(
        [&] { printed = build_layout(factory.get(), document, 540.0f, 11.0f / 12.0f, true); }, 3));
    std::printf("  build_layout for paper (540 DIPs, scale 11/12): median %.1f ms\n",
                print_seconds * 1e3);
    report_layout_stages(factory.get(), document);
    report_draws(document, layout);
    report_large_block_hit_test(factory.get());
}

static bench::Registration registration("preview_layout", bench_preview_layout);

} // namespace
} // namespace pellix
