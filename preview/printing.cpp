#include "preview/printing.h"

#include <d2d1.h>

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

#include "core/encoding.h"
#include "core/file_io.h"
#include "core/limits.h"
#include "markdown/html_render.h"
#include "markdown/plain_text_page.h"
#include "markdown/preview_markup.h"
#include "platform/dib_surface.h"
#include "preview/drawing.h"
#include "preview/layout.h"
#include "preview/preview_window.h"
#include "preview/print_pages.h"

namespace pellix {
namespace {

constexpr DWORD dialog_flags = PD_RETURNDC | PD_NOSELECTION | PD_USEDEVMODECOPIESANDCOLLATE;
constexpr WORD last_dialog_page = 0xFFFF;
constexpr float print_scale = 11.0f / 12.0f;
constexpr wchar_t job_name[] = L"Pellix";
constexpr DWORD dialog_cancelled = 0;

PrintCalls installed_calls;

// --- the calls a test may replace --------------------------------------------------------------

BOOL print_dialog(PRINTDLGW* dialog) {
    return installed_calls.print_dialog ? installed_calls.print_dialog(dialog) : PrintDlgW(dialog);
}

DWORD dialog_error() {
    return installed_calls.dialog_error ? installed_calls.dialog_error() : CommDlgExtendedError();
}

int device_caps(HDC dc, int index) {
    return installed_calls.device_caps ? installed_calls.device_caps(dc, index)
                                       : GetDeviceCaps(dc, index);
}

bool escape_held() {
    return installed_calls.escape_held ? installed_calls.escape_held()
                                       : (GetAsyncKeyState(VK_ESCAPE) & 0x8000) != 0;
}

int set_abort_proc(HDC dc, ABORTPROC procedure) {
    return installed_calls.set_abort_proc ? installed_calls.set_abort_proc(dc, procedure)
                                          : SetAbortProc(dc, procedure);
}

int start_doc(HDC dc, const DOCINFOW* document) {
    return installed_calls.start_doc ? installed_calls.start_doc(dc, document)
                                     : StartDocW(dc, document);
}

int start_page(HDC dc) {
    return installed_calls.start_page ? installed_calls.start_page(dc) : StartPage(dc);
}

int stretch_page(HDC dc, int width, int height, const void* bits, const BITMAPINFO* info) {
    if (installed_calls.stretch_page) {
        return installed_calls.stretch_page(dc, width, height, bits, info);
    }
    SetStretchBltMode(dc, HALFTONE);
    return StretchDIBits(dc, 0, 0, width, height, 0, 0, info->bmiHeader.biWidth,
                         -info->bmiHeader.biHeight, bits, info, DIB_RGB_COLORS, SRCCOPY);
}

int end_page(HDC dc) {
    return installed_calls.end_page ? installed_calls.end_page(dc) : EndPage(dc);
}

int end_doc(HDC dc) {
    return installed_calls.end_doc ? installed_calls.end_doc(dc) : EndDoc(dc);
}

int abort_doc(HDC dc) {
    return installed_calls.abort_doc ? installed_calls.abort_doc(dc) : AbortDoc(dc);
}

// --- what the job holds ------------------------------------------------------------------------

// The dialog's answer; frees what the dialog allocated, the printer DC included.
struct PrintDialog {
    PRINTDLGW data{};

    PrintDialog() = default;
    PrintDialog(const PrintDialog&) = delete;
    PrintDialog& operator=(const PrintDialog&) = delete;
    ~PrintDialog() {
        if (data.hDC) {
            DeleteDC(data.hDC);
        }
        if (data.hDevMode) {
            GlobalFree(data.hDevMode);
        }
        if (data.hDevNames) {
            GlobalFree(data.hDevNames);
        }
    }
};

// The surface every page is drawn into.
class SurfaceBitmap {
public:
    explicit SurfaceBitmap(const PrintSurface& size) : surface_(size.width, size.height) {
        if (surface_.dc() == nullptr) {
            throw std::runtime_error("Could not allocate the print page surface.");
        }
    }

    HDC dc() const { return surface_.dc(); }
    const void* bits() const { return surface_.bits(); }
    const BITMAPINFO& info() const { return surface_.info(); }

private:
    DibSurface surface_;
};

// A started print job: abandoned unless it was finished.
class PrinterJob {
public:
    explicit PrinterJob(HDC printer) : printer_(printer) {
        const DOCINFOW document{
            .cbSize = sizeof(DOCINFOW),
            .lpszDocName = job_name,
            .lpszOutput = nullptr,
            .lpszDatatype = nullptr,
            .fwType = 0,
        };
        set_abort_proc(printer_, escape_not_pressed);
        if (start_doc(printer_, &document) <= 0) {
            throw std::runtime_error("Could not start the print job.");
        }
        started_ = true;
    }
    PrinterJob(const PrinterJob&) = delete;
    PrinterJob& operator=(const PrinterJob&) = delete;
    ~PrinterJob() {
        if (started_) {
            abort_doc(printer_);
        }
    }

    void finish() {
        if (end_doc(printer_) <= 0) {
            throw std::runtime_error("Could not finish the print job.");
        }
        started_ = false;
    }

private:
    HDC printer_;
    bool started_ = false;
};

// What the pages are drawn from: the paper layout of the page and its geometry.
struct PrintContent {
    PreviewDocument document;
    Layout layout;
    PageSize sheet;
    PrintSurface surface;
    std::vector<PrintPage> pages;
    PageRange range;
};

// --- the steps ---------------------------------------------------------------------------------

std::string render_print_page(const PrintSource& source) {
    const std::string text = utf16_to_utf8(source.text);
    if (is_markdown_path(source.path)) {
        return render_markdown_html(text, false, document_limit);
    }
    return render_plain_text_html(text);
}

// Opens the dialog; false when the user cancelled it.
bool choose_printer(Preview::Impl& p, PrintDialog& dialog) {
    dialog.data = PRINTDLGW{
        .lStructSize = sizeof(PRINTDLGW),
        .hwndOwner = p.parent ? GetAncestor(p.parent, GA_ROOT) : nullptr,
        .hDevMode = nullptr,
        .hDevNames = nullptr,
        .hDC = nullptr,
        .Flags = dialog_flags,
        .nFromPage = 1,
        .nToPage = 1,
        .nMinPage = 1,
        .nMaxPage = last_dialog_page,
        .nCopies = 1,
        .hInstance = nullptr,
        .lCustData = 0,
        .lpfnPrintHook = nullptr,
        .lpfnSetupHook = nullptr,
        .lpPrintTemplateName = nullptr,
        .lpSetupTemplateName = nullptr,
        .hPrintTemplate = nullptr,
        .hSetupTemplate = nullptr,
    };
    if (print_dialog(&dialog.data)) {
        return true;
    }
    const DWORD code = dialog_error();
    if (code == dialog_cancelled) {
        return false;
    }
    throw std::runtime_error("Could not open the Windows print dialog. Error " +
                             std::to_string(code));
}

PrinterCaps printer_caps(HDC printer) {
    return {device_caps(printer, HORZRES), device_caps(printer, VERTRES),
            device_caps(printer, LOGPIXELSX), device_caps(printer, LOGPIXELSY)};
}

void lay_out_pages(Preview::Impl& p, const std::string& page, const PRINTDLGW& dialog,
                   PrintContent& content) {
    content.document = read_preview_markup(page);
    const PrinterCaps caps = printer_caps(dialog.hDC);
    content.sheet = page_size(caps);
    content.layout = build_layout(p.dwrite_factory.get(), content.document, content.sheet.width,
                                  print_scale, true);
    if (!(content.sheet.content_height > 0)) {
        throw std::runtime_error("Invalid printable page height.");
    }
    check_print_bands(content.layout.bands, content.sheet.content_height);
    content.pages = paginate(content.layout.bands, content.sheet.content_height);
    content.range = print_page_range(content.pages.size(), (dialog.Flags & PD_PAGENUMS) != 0,
                                     dialog.nFromPage, dialog.nToPage);
    content.surface = print_surface(caps);
}

ComPtr<ID2D1DCRenderTarget> create_print_renderer(Preview::Impl& p, const PrintSurface& surface,
                                                  HDC surface_dc) {
    const auto dpi = static_cast<float>(surface.dpi);
    const D2D1_RENDER_TARGET_PROPERTIES properties = D2D1::RenderTargetProperties(
        D2D1_RENDER_TARGET_TYPE_SOFTWARE,
        D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_IGNORE), dpi, dpi);
    ComPtr<ID2D1DCRenderTarget> target;
    throw_if_failed(p.d2d_factory->CreateDCRenderTarget(&properties, target.put()),
                    "Create native print renderer");
    const RECT bounds{0, 0, surface.width, surface.height};
    throw_if_failed(target->BindDC(surface_dc, &bounds), "Bind native print surface");
    return target;
}

// Draws one page onto white paper between the margins.
void render_page(ID2D1DCRenderTarget* target, PrintContent& content, const PaintColours& colours,
                 const PrintPage& page, Brushes& brushes) {
    const float clip_bottom =
        std::min(print_margin + (page.bottom - page.top), content.sheet.height - print_margin);
    target->BeginDraw();
    target->SetTransform(D2D1::Matrix3x2F::Identity());
    target->Clear(D2D1::ColorF(D2D1::ColorF::White));
    target->PushAxisAlignedClip(D2D1::RectF(0, print_margin, content.sheet.width, clip_bottom),
                                D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
    target->SetTransform(D2D1::Matrix3x2F::Translation(0, print_margin - page.top));
    try {
        draw_document(target, content.document, content.layout, colours, page.top, page.bottom,
                      print_scale, View{}, {}, true, brushes);
    } catch (...) {
        target->PopAxisAlignedClip();
        target->EndDraw();
        throw;
    }
    target->SetTransform(D2D1::Matrix3x2F::Identity());
    target->PopAxisAlignedClip();
    throw_if_failed(target->EndDraw(), "Render native print page");
    // The bits are read straight from memory next, past any GDI work still batched on the DC.
    GdiFlush();
}

void send_page(HDC printer, const PrinterCaps& caps, const SurfaceBitmap& surface) {
    if (start_page(printer) <= 0) {
        throw std::runtime_error("Could not start the printer page.");
    }
    const int sent =
        stretch_page(printer, caps.width, caps.height, surface.bits(), &surface.info());
    if (sent == 0 || sent == static_cast<int>(GDI_ERROR)) {
        throw std::runtime_error("Could not send the native page to the printer.");
    }
    if (end_page(printer) <= 0) {
        throw std::runtime_error("Could not finish the printer page.");
    }
}

// Steps from the factories to the end of the document; every resource is released on the way
// out, and a started job is abandoned unless it finished.
void print_document(Preview::Impl& p, const std::string& page, const PRINTDLGW& dialog) {
    create_preview_factories(p);
    PrintContent content;
    lay_out_pages(p, page, dialog, content);
    SurfaceBitmap surface(content.surface);
    const ComPtr<ID2D1DCRenderTarget> target =
        create_print_renderer(p, content.surface, surface.dc());
    Brushes brushes;
    const PaintColours colours = p.colours ? p.colours(false) : PaintColours{};
    const PrinterCaps caps = printer_caps(dialog.hDC);
    PrinterJob job(dialog.hDC);
    const int copies = std::max<int>(dialog.nCopies, 1);
    for (int copy = 0; copy < copies; ++copy) {
        for (std::size_t i = content.range.first; i < content.range.last; ++i) {
            if (escape_held()) {
                throw std::runtime_error("Printing cancelled.");
            }
            render_page(target.get(), content, colours, content.pages[i], brushes);
            send_page(dialog.hDC, caps, surface);
        }
    }
    job.finish();
}

std::u16string message_of(const std::exception& error) {
    const std::string text = error.what();
    try {
        return utf8_to_utf16(text);
    } catch (const std::exception&) {
        return std::u16string(text.begin(), text.end());
    }
}

} // namespace

void request_print(const PrintSource& source, HWND preview_host,
                   std::function<void(unsigned int)> command) {
    const std::string page = render_print_page(source);
    create_preview(preview_host, std::move(command));
    Preview::Impl& p = preview();
    p.print_error.clear();
    try {
        PrintDialog dialog;
        if (!choose_printer(p, dialog)) {
            return;
        }
        print_document(p, page, dialog.data);
    } catch (const std::exception& error) {
        p.print_error = message_of(error);
        const std::string text = error.what();
        if (text.empty()) {
            throw std::runtime_error("Could not print the document.");
        }
        throw std::runtime_error(text);
    }
}

BOOL CALLBACK escape_not_pressed(HDC, int) {
    return escape_held() ? FALSE : TRUE;
}

ScopedPrintCalls::ScopedPrintCalls(PrintCalls calls)
    : previous_(std::exchange(installed_calls, std::move(calls))) {}

ScopedPrintCalls::~ScopedPrintCalls() {
    installed_calls = std::move(previous_);
}

} // namespace pellix
