#include <gtest/gtest.h>

#include <windows.h>
#include <cderr.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <utility>
#include <string>
#include <vector>

#include "markdown/html_render.h"
#include "markdown/preview_markup.h"
#include "preview/preview_window.h"
#include "preview/print_pages.h"
#include "preview/printing.h"
#include "tests/preview/preview_test_document.h"

namespace pellix {
namespace {

void expect_failure(const std::function<void()>& action, const std::string& message) {
    try {
        action();
        ADD_FAILURE() << "no failure, expected: " << message;
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), message);
    }
}

// Bands of `height` each, stacked from 0; `keep` marks the ones that keep with the next.
std::vector<LayoutBand> stacked_bands(float height, const std::vector<bool>& keep) {
    std::vector<LayoutBand> bands;
    for (size_t i = 0; i < keep.size(); ++i) {
        bands.push_back({height * i, height * (i + 1), keep[i]});
    }
    return bands;
}

std::vector<float> page_bottoms(const std::vector<PrintPage>& pages) {
    std::vector<float> bottoms;
    for (const PrintPage& page : pages) {
        bottoms.push_back(page.bottom);
    }
    return bottoms;
}

TEST(PrintGeometry, SurfaceDpiIsCappedAt300AndFollowsLowerResolutions) {
    const PageSize sheet = page_size({4800, 6600, 600, 600});
    EXPECT_FLOAT_EQ(sheet.width, 768.0f);
    EXPECT_FLOAT_EQ(sheet.content_height, 1056.0f - 72.0f);
    const PrintSurface half = print_surface({4800, 6600, 600, 600});
    EXPECT_EQ(std::vector<int>({half.width, half.height, half.dpi}),
              std::vector<int>({2400, 3300, 300}));
    const PrintSurface coarse = print_surface({1600, 2200, 200, 300});
    EXPECT_EQ(std::vector<int>({coarse.width, coarse.height, coarse.dpi}),
              std::vector<int>({1600, 1467, 200}));
}

TEST(PrintGeometry, RefusesBadCapsAndSurfacesPastThePixelLimit) {
    expect_failure([] { page_size({1, 1, 0, 1}); }, "Printer reported invalid page dimensions.");
    EXPECT_EQ(print_surface({5000, 8000, 300, 300}).height, 8000);
    const std::string too_large = "Printer page is too large for the native print surface.";
    expect_failure([] { print_surface({5000, 8001, 300, 300}); }, too_large);
    // Past 2^31 pixels the product must not wrap around into an allowed size.
    expect_failure([] { print_surface({65536, 65536, 300, 300}); }, too_large);
}

TEST(PrintPages, RefusesBandsThatCannotBePrinted) {
    const std::string message = "Text line cannot fit on the printable page.";
    expect_failure([&] { check_print_bands({{0, 101}}, 100); }, message);
    expect_failure([&] { check_print_bands({{0, 50}, {40, 60}}, 100); }, message);
    expect_failure([&] { check_print_bands({{0, std::nanf("")}}, 100); }, message);
    EXPECT_NO_THROW(check_print_bands({{0, 100}, {99.995f, 150}}, 100));
    expect_failure(
        [] {
            paginate({{0, 0.005f}}, 100);
        },
        "Requested print page is outside the document.");
}

TEST(PrintPages, CutsAtBandBottomsAndKeepsHeadingsWithWhatFollows) {
    const std::vector<PrintPage> tall = paginate(stacked_bands(24, std::vector<bool>(50)), 100);
    ASSERT_EQ(tall.size(), 13u); // 4 bands (96 DIPs) a page, 1200 DIPs in all
    EXPECT_EQ(tall[1].top, 96.0f);
    EXPECT_EQ(tall[1].bottom, 192.0f);
    EXPECT_EQ(tall.back().bottom, 1200.0f);
    // Three paragraph lines, a heading that would end the page, the paragraph after it.
    EXPECT_EQ(page_bottoms(paginate(stacked_bands(24, {false, false, false, true, false}), 100)),
              std::vector<float>({72, 120}));
    EXPECT_EQ(page_bottoms(paginate(stacked_bands(30, {true, true, true, true}), 100)),
              std::vector<float>({90, 120}));
    EXPECT_EQ(page_bottoms(paginate(stacked_bands(20, {false, false}), 100)),
              std::vector<float>({40}));
}

TEST(PrintPages, PageRangeOfTheDialog) {
    expect_failure([] { print_page_range(3, true, 5, 9); },
                   "Requested print page is outside the document.");
    const PageRange tail = print_page_range(3, true, 2, 9);
    EXPECT_EQ(std::vector<size_t>({tail.first, tail.last}), std::vector<size_t>({1, 3}));
    const PageRange all = print_page_range(3, false, 5, 9);
    EXPECT_EQ(std::vector<size_t>({all.first, all.last}), std::vector<size_t>({0, 3}));
}

// A real paper layout of headings, paragraphs and a tall table: no page edge cuts a line.
TEST(PrintPages, NoPageEdgeCutsALineOfARealLayout) {
    std::string markdown = "| Name | Notes |\n|---|---|\n| a | ";
    for (int i = 0; i < 60; ++i) {
        markdown += "word" + std::to_string(i) + " ";
    }
    markdown += "|\n\n";
    for (int i = 0; i < 20; ++i) {
        markdown += "## Section " + std::to_string(i) +
                    "\n\nA paragraph long enough to wrap over more than one line of the printed "
                    "page at this narrow width.\n\n";
    }
    const PreviewDocument document =
        read_preview_markup(render_markdown_html(markdown, false, preview_source_limit));
    const ComPtr<IDWriteFactory> factory = test::make_dwrite_factory();
    const Layout layout = build_layout(factory.get(), document, 300.0f, 11.0f / 12.0f, true);
    const float height = 150.0f;
    check_print_bands(layout.bands, height);
    const std::vector<PrintPage> pages = paginate(layout.bands, height);
    ASSERT_GT(pages.size(), 10u);
    for (size_t i = 0; i + 1 < pages.size(); ++i) {
        const float cut = pages[i].bottom;
        EXPECT_LE(pages[i].bottom - pages[i].top, height + 0.01f);
        EXPECT_EQ(pages[i + 1].top, cut);
        for (const LayoutLine& line : layout.lines) {
            EXPECT_FALSE(line.top < cut - 0.01f && line.bottom > cut + 0.01f)
                << "page " << i << " ends at " << cut << " inside a line " << line.top << "-"
                << line.bottom;
        }
    }
}

// --- whole jobs on a printer of our own ---------------------------------------------------------

const PaletteTable light_table{0xF0F0F0, 0, 0x101010, 0x606060, 0x0050A0, 0, 0, 0xE0E0E0, 0x3070D0};

// A sheet of 600 x 450 printable pixels at 144 DPI: 400 x 300 DIPs, 228 DIPs of content.
constexpr PrinterCaps sheet{600, 450, 144, 144};
constexpr int margin_pixels = 54;

std::u16string paragraphs(int count) {
    std::u16string text;
    for (int i = 0; i < count; ++i) {
        text += u"Paragraph " + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
                u" with a few words on it.\n\n";
    }
    return text;
}

class PrintJob : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WNDCLASSW host_class{};
        host_class.lpfnWndProc = DefWindowProcW;
        host_class.hInstance = GetModuleHandleW(nullptr);
        host_class.lpszClassName = L"Pellix.Test.PrintHost";
        RegisterClassW(&host_class);
        host = CreateWindowExW(0, L"Pellix.Test.PrintHost", L"print host", WS_POPUP, 0, 0, 200, 200,
                               nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    static void TearDownTestSuite() { DestroyWindow(host); }

    void SetUp() override {
        preview().colours = [](bool) { return PaintColours{light_table, false}; };
    }
    void TearDown() override {
        destroy_preview();
        preview().colours = nullptr;
    }

    // The dialog answers with a memory DC as the printer, `flags` added and the given pages;
    // every printer call is logged and the one named `failing` fails.
    PrintCalls printer(DWORD flags = 0, WORD from = 1, WORD to = 1, WORD copies = 1) {
        PrintCalls calls;
        calls.print_dialog = [=, this](PRINTDLGW* dialog) {
            EXPECT_EQ(dialog->lStructSize, 120u);
            EXPECT_EQ(dialog->Flags, 0x40104u);
            EXPECT_EQ(dialog->hwndOwner, host);
            dialog->hDC = CreateCompatibleDC(nullptr);
            dialog->Flags |= flags;
            dialog->nFromPage = from;
            dialog->nToPage = to;
            dialog->nCopies = copies;
            return TRUE;
        };
        calls.device_caps = [](HDC, int index) {
            return index == HORZRES ? sheet.width : index == VERTRES ? sheet.height : sheet.dpi_x;
        };
        calls.escape_held = [] { return false; };
        calls.set_abort_proc = [](HDC, ABORTPROC procedure) {
            EXPECT_EQ(procedure, escape_not_pressed);
            return 1;
        };
        calls.start_doc = [this](HDC, const DOCINFOW* document) {
            EXPECT_STREQ(document->lpszDocName, L"Pellix");
            return step("start_doc");
        };
        calls.start_page = [this](HDC) { return step("start_page"); };
        calls.stretch_page = [this](HDC, int width, int height, const void* bits,
                                    const BITMAPINFO* info) {
            EXPECT_EQ(std::vector<LONG>(
                          {width, height, info->bmiHeader.biWidth, info->bmiHeader.biHeight}),
                      std::vector<LONG>({sheet.width, sheet.height, sheet.width, -sheet.height}));
            const auto* pixels = static_cast<const std::uint32_t*>(bits);
            sheets.emplace_back(pixels, pixels + width * height);
            return step("stretch");
        };
        calls.end_page = [this](HDC) { return step("end_page"); };
        calls.end_doc = [this](HDC) { return step("end_doc"); };
        calls.abort_doc = [this](HDC) { return step("abort_doc"); };
        return calls;
    }

    int step(const std::string& name) {
        events.push_back(name);
        return failing == name ? 0 : 1;
    }

    void print(const std::u16string& text, const char* path = "notes.md") {
        request_print({text, path}, host, [](unsigned) {});
    }

    static bool white(std::uint32_t pixel) { return (pixel & 0xFFFFFF) == 0xFFFFFF; }

    static inline HWND host = nullptr;
    std::vector<std::string> events;
    std::vector<std::vector<std::uint32_t>> sheets;
    std::string failing;
};

TEST_F(PrintJob, TallDocumentPrintsEachCopyPageAfterPageBetweenWhiteMargins) {
    ScopedPrintCalls calls(printer(0, 1, 1, 2));
    print(paragraphs(30));
    ASSERT_GE(sheets.size(), 6u);
    EXPECT_EQ(sheets[0], sheets[sheets.size() / 2]);
    EXPECT_EQ(events.front(), "start_doc");
    EXPECT_EQ(events.back(), "end_doc");
    EXPECT_EQ(events.size(), 2 + 3 * sheets.size());
    EXPECT_TRUE(preview().print_error.empty());
    for (const std::vector<std::uint32_t>& page : sheets) {
        const auto top_margin_end = page.begin() + margin_pixels * sheet.width;
        EXPECT_TRUE(std::all_of(page.begin(), top_margin_end, white));
        EXPECT_TRUE(std::any_of(top_margin_end, page.end(), [](std::uint32_t pixel) {
            return (pixel & 0xFF) < 0x40; // dark text on the light table
        }));
    }
}

TEST_F(PrintJob, EmptyTabPrintsOneBlankSheet) {
    ScopedPrintCalls calls(printer());
    print(u"", "");
    ASSERT_EQ(sheets.size(), 1u);
    EXPECT_TRUE(std::all_of(sheets[0].begin(), sheets[0].end(), white));
}

TEST_F(PrintJob, CancelledDialogPrintsNothingAndFailedDialogReportsItsCode) {
    PrintCalls cancelled = printer();
    cancelled.print_dialog = [](PRINTDLGW*) { return FALSE; };
    cancelled.dialog_error = [] { return DWORD{0}; };
    {
        ScopedPrintCalls calls(cancelled);
        EXPECT_NO_THROW(print(u"Text"));
    }
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(preview().print_error.empty());
    cancelled.dialog_error = [] { return DWORD{PDERR_NODEFAULTPRN}; };
    ScopedPrintCalls calls(cancelled);
    expect_failure([&] { print(u"Text"); }, "Could not open the Windows print dialog. Error 4104");
    EXPECT_EQ(preview().print_error, u"Could not open the Windows print dialog. Error 4104");
}

TEST_F(PrintJob, EscBetweenPagesAbandonsTheJob) {
    PrintCalls held = printer();
    held.escape_held = [this] { return !sheets.empty(); };
    ScopedPrintCalls calls(held);
    expect_failure([&] { print(paragraphs(30)); }, "Printing cancelled.");
    EXPECT_EQ(sheets.size(), 1u);
    EXPECT_EQ(events.back(), "abort_doc");
}

// A job that StartDocW refused is not abandoned; every later failure abandons it.
TEST_F(PrintJob, PrinterFailuresAbandonAStartedJob) {
    const std::vector<std::pair<std::string, std::string>> failures{
        {"start_doc", "Could not start the print job."},
        {"start_page", "Could not start the printer page."},
        {"stretch", "Could not send the native page to the printer."},
        {"end_page", "Could not finish the printer page."},
        {"end_doc", "Could not finish the print job."},
    };
    for (const auto& [call, message] : failures) {
        failing = call;
        events.clear();
        ScopedPrintCalls calls(printer());
        expect_failure([&] { print(u"One line."); }, message);
        EXPECT_EQ(events.back(), call == "start_doc" ? call : "abort_doc");
    }
}

TEST(PrintAbortProcedure, FollowsTheEscKey) {
    keybd_event(VK_ESCAPE, 0, 0, 0);
    const BOOL held = escape_not_pressed(nullptr, 0);
    keybd_event(VK_ESCAPE, 0, KEYEVENTF_KEYUP, 0);
    EXPECT_FALSE(held);
    EXPECT_TRUE(escape_not_pressed(nullptr, 0));
    MSG message;
    while (PeekMessageW(&message, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
    }
}

} // namespace
} // namespace pellix
