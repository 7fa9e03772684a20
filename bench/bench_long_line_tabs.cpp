// Figures for switching to a tab whose document is one very long line, beside a switch to a
// small document in the same window: the time from the switch until the main window's first
// complete screen (the editor drawn whole, the preview showing the tab's page) in Split view,
// and for the longest lines also in Source view, with the parts of that time that the switch, the
// editor's paint and the preview's paint take (a switch that draws the windows itself leaves the
// paints after it nothing to do). Beside the longest lines stands what the platform alone takes
// to draw the rows of them that the preview shows.

#include "bench/bench.h"
#include "bench/bench_main_window.h"
#include "bench/bench_renderer_host.h"

#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/settings.h"
#include "editor/source_record.h"
#include "platform/dib_surface.h"
#include "platform/text_drawing.h"
#include "preview/preview_window.h"
#include "preview/text_pieces.h"

namespace {

using namespace pellix;

constexpr int switches = 5;
constexpr DWORD complete_limit_ms = 10000;
constexpr std::size_t small_bytes = 10 * 1024;
constexpr std::size_t long_line_units = 10000;
constexpr std::size_t data_uri_bytes = 218 * 1024;

std::filesystem::path folder() {
    return std::filesystem::temp_directory_path() / "pellix-bench-long-line-tabs";
}

std::wstring write(const char* name, const std::string& text) {
    const std::filesystem::path path = folder() / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.wstring();
}

std::string words_line(std::size_t units) {
    std::string line;
    for (int i = 0; line.size() < units; ++i) {
        line += "word" + std::to_string(i % 97) + " ";
    }
    line.resize(units);
    return "# One long line\n\n" + line + "\n";
}

std::string unbroken_line(std::size_t units) {
    return "# One long word\n\n" + std::string(units, 'x') + "\n";
}

// What reads as one character, 66,000 units long: 22,000 emoji joined by U+200D (one extended
// grapheme cluster), and a letter carrying 66,000 combining acute accents.
constexpr std::size_t joined_emoji = 22000;
constexpr std::size_t combining_marks = 66000;

std::string joined_emoji_line(std::size_t emoji) {
    std::string line = "\xF0\x9F\x91\xA9";
    for (std::size_t i = 1; i < emoji; ++i) {
        line += "\xE2\x80\x8D\xF0\x9F\x91\xA9";
    }
    return "# Joined emoji\n\n" + line + "\n";
}

std::string marked_letter_line(std::size_t marks) {
    std::string line = "a";
    for (std::size_t i = 0; i < marks; ++i) {
        line += "\xCC\x81";
    }
    return "# One letter, many marks\n\n" + line + "\n";
}

// An image given inline, as a pasted screenshot is: one line of base64 without a break.
std::string data_uri_line(std::size_t bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string line = "![shot](data:image/png;base64,";
    for (std::size_t i = 0; line.size() < bytes; ++i) {
        line += digits[(i * 7919 + i / 64) % 64];
    }
    return "# A pasted image\n\n" + line + ")\n";
}

void serve_until_complete(HWND editor) {
    const Source* source = source_record(editor);
    const ULONGLONG end = GetTickCount64() + complete_limit_ms;
    while (source->budget.last_paint_pending && GetTickCount64() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        bench::serve_messages();
    }
}

struct SwitchTimes {
    std::vector<double> select;
    std::vector<double> editor_paint;
    std::vector<double> preview_paint;
    std::vector<double> complete;
};

// Switches from the tab at `from` to the tab at `to`, each time once the window has served
// everything of the switch before.
SwitchTimes time_switches(std::uint64_t from, std::uint64_t to) {
    SwitchTimes times;
    for (int i = 0; i < switches; ++i) {
        select_tab(from, false);
        UpdateWindow(main_window);
        serve_until_complete(chrome.editor);
        bench::serve_messages();
        const auto start = std::chrono::steady_clock::now();
        select_tab(to, false);
        const auto selected = std::chrono::steady_clock::now();
        UpdateWindow(chrome.editor);
        const auto editor_drawn = std::chrono::steady_clock::now();
        UpdateWindow(preview().window);
        const auto preview_drawn = std::chrono::steady_clock::now();
        UpdateWindow(main_window);
        serve_until_complete(chrome.editor);
        const auto complete = std::chrono::steady_clock::now();
        times.select.push_back(bench::milliseconds_between(start, selected));
        times.editor_paint.push_back(bench::milliseconds_between(selected, editor_drawn));
        times.preview_paint.push_back(bench::milliseconds_between(editor_drawn, preview_drawn));
        times.complete.push_back(bench::milliseconds_between(start, complete));
    }
    return times;
}

void print(const char* name, const SwitchTimes& times) {
    std::printf("  to %s: complete screen %.1f ms median (switch %.1f, editor paint %.1f, "
                "preview paint %.1f)\n",
                name, bench::median(times.complete), bench::median(times.select),
                bench::median(times.editor_paint), bench::median(times.preview_paint));
}

// The preview's text format for the content of `piece`, made anew from what its layout holds.
ComPtr<IDWriteTextFormat> plain_format(IDWriteFactory* factory, IDWriteTextLayout* piece) {
    wchar_t family[LOCALE_NAME_MAX_LENGTH] = {};
    wchar_t locale[LOCALE_NAME_MAX_LENGTH] = {};
    piece->GetFontFamilyName(0, family, LOCALE_NAME_MAX_LENGTH);
    piece->GetLocaleName(0, locale, LOCALE_NAME_MAX_LENGTH);
    FLOAT size = 0;
    piece->GetFontSize(0, &size);
    DWRITE_FONT_WEIGHT weight = DWRITE_FONT_WEIGHT_NORMAL;
    piece->GetFontWeight(0, &weight);
    DWRITE_LINE_SPACING_METHOD method{};
    FLOAT spacing = 0;
    FLOAT baseline = 0;
    piece->GetLineSpacing(&method, &spacing, &baseline);
    ComPtr<IDWriteTextFormat> format;
    factory->CreateTextFormat(family, nullptr, weight, DWRITE_FONT_STYLE_NORMAL,
                              DWRITE_FONT_STRETCH_NORMAL, size, locale, format.put());
    format->SetWordWrapping(piece->GetWordWrapping());
    format->SetLineSpacing(method, spacing, baseline);
    return format;
}

struct PlainRow {
    ComPtr<IDWriteTextLayout> layout;
    D2D1_POINT_2F origin;
    bool split_text;
};

// The rows of the page's longest block that the preview shows, each in a plain DirectWrite
// layout of the preview's font and width.
std::vector<PlainRow> shown_rows(const Preview::Impl& p) {
    const auto longest = std::max_element(
        p.layout.blocks.begin(), p.layout.blocks.end(),
        [](const LayoutBlock& a, const LayoutBlock& b) { return a.text_length < b.text_length; });
    const std::uint64_t block_index = longest - p.layout.blocks.begin();
    const float bottom = p.view.scroll_y + view_height(p.window, p.dpi);
    std::vector<PlainRow> rows;
    for (const LayoutLine& line : p.layout.lines) {
        if (line.block != block_index || line.bottom <= p.view.scroll_y || line.top >= bottom) {
            continue;
        }
        IDWriteTextLayout* piece =
            piece_at(*longest, line.start - longest->text_start).layout.get();
        const ComPtr<IDWriteTextFormat> format = plain_format(p.dwrite_factory.get(), piece);
        const std::u16string_view text(p.document.text.data() + line.start, line.length);
        PlainRow row{{},
                     {longest->x - p.view.scroll_x, line.top - p.view.scroll_y},
                     splits_glyph_runs(text)};
        p.dwrite_factory->CreateTextLayout(
            reinterpret_cast<const wchar_t*>(text.data()), static_cast<UINT32>(text.size()),
            format.get(), piece->GetMaxWidth(), 1000000.0f,
            row.layout.put());
        rows.push_back(std::move(row));
    }
    return rows;
}

// Draws one row into a render target.
using RowDrawing = void (*)(ID2D1RenderTarget* target, const PlainRow& row, ID2D1Brush* ink);

void draw_as_platform(ID2D1RenderTarget* target, const PlainRow& row, ID2D1Brush* ink) {
    target->DrawTextLayout(row.origin, row.layout.get(), ink, D2D1_DRAW_TEXT_OPTIONS_NONE);
}

void draw_as_preview(ID2D1RenderTarget* target, const PlainRow& row, ID2D1Brush* ink) {
    draw_text_layout(target, row.origin, row.layout.get(), ink, row.split_text);
}

// Milliseconds from BeginDraw to the end of EndDraw for `rows` drawn into a DC render target of
// the preview's size, bound to a memory DC: the median of `switches` frames after one that
// warms the target.
double frame_ms(const Preview::Impl& p, const std::vector<PlainRow>& rows, RowDrawing draw) {
    RECT client{};
    GetClientRect(p.window, &client);
    DibSurface surface(client.right, client.bottom);
    const D2D1_RENDER_TARGET_PROPERTIES properties = D2D1::RenderTargetProperties(
        D2D1_RENDER_TARGET_TYPE_DEFAULT,
        D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_IGNORE));
    ComPtr<ID2D1DCRenderTarget> target;
    p.d2d_factory->CreateDCRenderTarget(&properties, target.put());
    target->BindDC(surface.dc(), &client);
    target->SetDpi(p.dpi, p.dpi);
    ComPtr<ID2D1SolidColorBrush> ink;
    target->CreateSolidColorBrush(D2D1::ColorF(0x1E1E1E), ink.put());
    std::vector<double> frames;
    for (int i = 0; i <= switches; ++i) {
        const auto start = std::chrono::steady_clock::now();
        target->BeginDraw();
        target->Clear(D2D1::ColorF(0xFAFAFA));
        for (const PlainRow& row : rows) {
            draw(target.get(), row, ink.get());
        }
        target->EndDraw();
        if (i > 0) {
            frames.push_back(bench::milliseconds_between(start, std::chrono::steady_clock::now()));
        }
    }
    return bench::median(frames);
}

// What the platform alone takes to draw the rows of the tab's page that the preview shows, and
// the same rows drawn as the preview draws text, once the tab is shown.
void print_platform_draw(const char* name, std::uint64_t tab) {
    select_tab(tab, false);
    UpdateWindow(main_window);
    serve_until_complete(chrome.editor);
    const Preview::Impl& p = preview();
    const std::vector<PlainRow> rows = shown_rows(p);
    std::printf("  like: %s, the %zu rows shown in plain layouts drawn by the platform alone "
                "(DrawTextLayout into a DC target of the preview's size): %.1f ms median; "
                "drawn as the preview draws them: %.1f ms\n",
                name, rows.size(), frame_ms(p, rows, draw_as_platform),
                frame_ms(p, rows, draw_as_preview));
}

void switching_here() {
    std::filesystem::create_directories(folder());
    const std::wstring small = write("small.md", bench::mixed_markdown(small_bytes));
    const std::wstring long_line = write("long-line.md", words_line(long_line_units));
    const std::wstring data_uri = write("data-uri.md", data_uri_line(data_uri_bytes));
    const std::wstring unbroken = write("unbroken.md", unbroken_line(long_line_units));
    const std::wstring joined = write("joined-emoji.md", joined_emoji_line(joined_emoji));
    const std::wstring marked = write("marked-letter.md", marked_letter_line(combining_marks));
    HWND window = bench::open_main_window();
    SetWindowPos(window, nullptr, 0, 0, 1200, 800, SWP_NOZORDER | SWP_NOACTIVATE);
    for (const std::wstring& path : {small, long_line, data_uri, unbroken, joined, marked}) {
        open_path(path);
        select_view(view_split);
        UpdateWindow(window);
        serve_until_complete(chrome.editor);
    }
    const std::wstring other = write("other.md", bench::mixed_markdown(small_bytes / 2));
    open_path(other);
    select_view(view_split);
    std::printf("switching tabs in Split view, medians of %d switches from a small document:\n",
                switches);
    print("a small document (10 KiB of Markdown)", time_switches(6, 0));
    print("one line of 10,000 characters in words", time_switches(6, 1));
    print("one line of 10,000 characters without a break", time_switches(6, 3));
    print("one data-URI line of 218 KiB", time_switches(6, 2));
    print("22,000 emoji joined by U+200D", time_switches(6, 4));
    print("a letter with 66,000 combining marks", time_switches(6, 5));
    print_platform_draw("one line of 10,000 characters without a break", 3);
    print_platform_draw("22,000 emoji joined by U+200D", 4);
    print_platform_draw("a letter with 66,000 combining marks", 5);
    // The view is each tab's own.
    for (const std::uint64_t tab : {3, 4, 5, 6}) {
        select_tab(tab, false);
        select_view(view_source);
        UpdateWindow(window);
        serve_until_complete(chrome.editor);
    }
    std::printf("the same in Source view:\n");
    print("one line of 10,000 characters without a break", time_switches(6, 3));
    print("22,000 emoji joined by U+200D", time_switches(6, 4));
    print("a letter with 66,000 combining marks", time_switches(6, 5));
    bench::close_main_window(window);
    std::filesystem::remove_all(folder());
}

void run() {
    if (bench::renderer_host_part("long_line_tabs") != nullptr) {
        switching_here();
        return;
    }
    bench::RendererHost("long_line_tabs").run("switching");
}

bench::Registration registration("long_line_tabs", run);

} // namespace
