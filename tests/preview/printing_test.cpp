#include <gtest/gtest.h>

#include <windows.h>
#include <cderr.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
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

TEST(PrintGeometry, SurfaceDpiIsCappedAt300AndFollowsLowerResolutions) {
    const PrinterCaps fine{4800, 6600, 600, 600};
    const PageSize sheet = page_size(fine);
    EXPECT_FLOAT_EQ(sheet.width, 768.0f);
    EXPECT_FLOAT_EQ(sheet.height, 1056.0f);
    EXPECT_FLOAT_EQ(sheet.content_height, 984.0f);
    const PrintSurface half = print_surface(fine);
    EXPECT_EQ(half.width, 2400);
    EXPECT_EQ(half.height, 3300);
    EXPECT_EQ(half.dpi, 300);
    const PrintSurface coarse = print_surface({1600, 2200, 200, 200});
    EXPECT_EQ(coarse.width, 1600);
    EXPECT_EQ(coarse.height, 2200);
    EXPECT_EQ(coarse.dpi, 200);
    const PrintSurface uneven = print_surface({4800, 3300, 600, 300});
    EXPECT_EQ(uneven.width, 2400);
    EXPECT_EQ(uneven.height, 3300);
}

TEST(PrintGeometry, RefusesBadCapsAndSurfacesPastThePixelLimit) {
    for (const PrinterCaps& caps : {PrinterCaps{0, 1, 1, 1}, PrinterCaps{1, -1, 1, 1},
                                    PrinterCaps{1, 1, 0, 1}, PrinterCaps{1, 1, 1, 0}}) {
        expect_failure([&] { page_size(caps); }, "Printer reported invalid page dimensions.");
    }
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
    expect_failure([&] { check_print_bands({{10, 10}}, 100); }, message);
    EXPECT_NO_THROW(check_print_bands({{0, 100}, {99.995f, 150}}, 100));
}

TEST(PrintPages, EmptyShortAndZeroHeightDocuments) {
    const std::vector<PrintPage> blank = paginate({}, 100);
    ASSERT_EQ(blank.size(), 1u);
    EXPECT_EQ(blank[0].bottom, 0.0f);
    const std::vector<PrintPage> one = paginate(stacked_bands(20, {false, false}), 100);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].bottom, 40.0f);
    expect_failure(
        [] {
            paginate({{0, 0.005f}}, 100);
        },
        "Requested print page is outside the document.");
}

TEST(PrintPages, TallDocumentIsCutAtBandBottoms) {
    const std::vector<PrintPage> pages = paginate(stacked_bands(24, std::vector<bool>(50)), 100);
    ASSERT_EQ(pages.size(), 13u); // 4 bands (96 DIPs) a page, 1200 DIPs in all
    for (size_t i = 0; i < pages.size(); ++i) {
        EXPECT_FLOAT_EQ(pages[i].top, 96.0f * i);
        EXPECT_FLOAT_EQ(pages[i].bottom, std::min(96.0f * (i + 1), 1200.0f));
    }
}

TEST(PrintPages, HeadingsMoveWithTheirParagraphUnlessAPageHoldsNothingElse) {
    // Three paragraph lines, a heading that would end the page, the paragraph after it.
    const std::vector<PrintPage> moved =
        paginate(stacked_bands(24, {false, false, false, true, false}), 100);
    ASSERT_EQ(moved.size(), 2u);
    EXPECT_FLOAT_EQ(moved[0].bottom, 72.0f);
    EXPECT_FLOAT_EQ(moved[1].bottom, 120.0f);
    const std::vector<PrintPage> headings =
        paginate(stacked_bands(30, {true, true, true, true}), 100);
    ASSERT_EQ(headings.size(), 2u);
    EXPECT_FLOAT_EQ(headings[0].bottom, 90.0f);
}

TEST(PrintPages, PageRangeOfTheDialog) {
    const std::string outside = "Requested print page is outside the document.";
    expect_failure([] { print_page_range(3, true, 5, 9); }, outside);
    const PageRange tail = print_page_range(3, true, 2, 9);
    EXPECT_EQ(tail.first, 1u);
    EXPECT_EQ(tail.last, 3u);
    const PageRange all = print_page_range(3, false, 5, 9);
    EXPECT_EQ(all.first, 0u);
    EXPECT_EQ(all.last, 3u);
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

std::function<int(HDC, int)> caps_of(PrinterCaps caps) {
    return [caps](HDC, int index) {
        switch (index) {
        case HORZRES:
            return caps.width;
        case VERTRES:
            return caps.height;
        case LOGPIXELSX:
            return caps.dpi_x;
        default:
            return caps.dpi_y;
        }
    };
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

    // The dialog answers with a memory DC as the printer, `flags` added and the given pages.
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
        calls.device_caps = caps_of(sheet);
        calls.escape_held = [] { return false; };
        calls.set_abort_proc = [this](HDC, ABORTPROC procedure) {
            EXPECT_EQ(procedure, escape_not_pressed);
            return 1;
        };
        calls.start_doc = [this](HDC, const DOCINFOW* document) {
            const bool named = std::wstring(document->lpszDocName) == L"Pellix";
            events.push_back(named ? "start_doc Pellix" : "start_doc unnamed");
            return 1;
        };
        calls.start_page = [this](HDC) { return step("start_page"); };
        calls.stretch_page = [this](HDC, int width, int height, const void* bits,
                                    const BITMAPINFO* info) {
            EXPECT_EQ(width, sheet.width);
            EXPECT_EQ(height, sheet.height);
            EXPECT_EQ(info->bmiHeader.biWidth, sheet.width);
            EXPECT_EQ(info->bmiHeader.biHeight, -sheet.height);
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

    size_t count(const std::string& name) const {
        return static_cast<size_t>(std::count(events.begin(), events.end(), name));
    }

    static bool white(std::uint32_t pixel) { return (pixel & 0xFFFFFF) == 0xFFFFFF; }

    static inline HWND host = nullptr;
    std::vector<std::string> events;
    std::vector<std::vector<std::uint32_t>> sheets;
    std::string failing;
};

TEST_F(PrintJob, TallDocumentPrintsPageAfterPageBetweenWhiteMargins) {
    ScopedPrintCalls calls(printer());
    print(paragraphs(30));
    ASSERT_GE(sheets.size(), 3u);
    EXPECT_EQ(events.front(), "start_doc Pellix");
    EXPECT_EQ(events.back(), "end_doc");
    EXPECT_EQ(events.size(), 2 + 3 * sheets.size());
    EXPECT_EQ(count("abort_doc"), 0u);
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

TEST_F(PrintJob, PageRangeAndCopies) {
    {
        ScopedPrintCalls calls(printer());
        print(paragraphs(30));
    }
    const size_t pages = sheets.size();
    ASSERT_GE(pages, 3u);
    sheets.clear();
    {
        ScopedPrintCalls calls(printer(PD_PAGENUMS, 2, 9, 2));
        print(paragraphs(30));
    }
    EXPECT_EQ(sheets.size(), 2 * (std::min<size_t>(pages, 9) - 1));
    events.clear();
    ScopedPrintCalls calls(printer(PD_PAGENUMS, 5, 9));
    expect_failure([&] { print(u"One line."); }, "Requested print page is outside the document.");
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(preview().print_error, u"Requested print page is outside the document.");
}

TEST_F(PrintJob, CancelledDialogPrintsNothingAndFailedDialogReportsItsCode) {
    PrintCalls cancelled = printer();
    cancelled.print_dialog = [](PRINTDLGW*) { return FALSE; };
    cancelled.dialog_error = [] { return DWORD{0}; };
    preview().print_error = u"earlier";
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
    EXPECT_EQ(count("end_doc"), 0u);
}

TEST_F(PrintJob, PrinterFailuresAbandonTheJob) {
    const std::vector<std::pair<std::string, std::string>> failures{
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
        EXPECT_EQ(events.back(), "abort_doc") << call;
    }
    PrintCalls refused = printer();
    refused.start_doc = [](HDC, const DOCINFOW*) { return 0; };
    events.clear();
    ScopedPrintCalls calls(refused);
    expect_failure([&] { print(u"One line."); }, "Could not start the print job.");
    EXPECT_TRUE(events.empty());
}

TEST_F(PrintJob, SheetsTooSmallForTheTextAreRefused) {
    PrintCalls low = printer();
    low.device_caps = caps_of({400, 100, 400, 400}); // 24 DIPs high: no room between margins
    {
        ScopedPrintCalls calls(low);
        expect_failure([&] { print(u"Text"); }, "Invalid printable page height.");
    }
    low.device_caps = caps_of({400, 100, 96, 96}); // 28 DIPs between the margins
    ScopedPrintCalls calls(low);
    expect_failure([&] { print(u"# A heading"); }, "Text line cannot fit on the printable page.");
    EXPECT_TRUE(events.empty());
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
