#pragma once

// Printing of the current tab. It does not print the preview's pixels: the tab's text is
// rendered again into the program's page, read back, laid out for the paper and drawn page by
// page into one bitmap, which GDI stretches onto each printed sheet. The whole job runs on the UI
// thread, from the print dialog to the end of the document.

#include <windows.h>
#include <commdlg.h>

#include <filesystem>
#include <functional>
#include <string>

namespace pellix {

// The tab to print, read by the main window at the moment of the request.
struct PrintSource {
    std::u16string text;        // the active editor's source text
    std::filesystem::path path; // the current tab's path; empty for an untitled tab (Markdown)
};

// Prints `source` through the print dialog. `preview_host` and `command` are what
// `create_preview` is given when the preview does not exist yet (it keeps the factories the job
// creates). Returns normally when the job was printed or the dialog cancelled; a failure to
// render the page propagates unchanged before the dialog opens; any later failure is stored in
// the preview's `print_error` and thrown as std::runtime_error with the same text.
void request_print(const PrintSource& source, HWND preview_host,
                   std::function<void(unsigned int)> command);

// The job's abort procedure: TRUE while Esc is not held, FALSE (abandon the job) while it is.
BOOL CALLBACK escape_not_pressed(HDC dc, int error);

// The dialog, the printer and the keyboard as the job sees them. Production code never sets
// them; an empty function means the real Win32 call named beside it. Tests hand in a DC of their
// own as the printer and watch what reaches it.
struct PrintCalls {
    std::function<BOOL(PRINTDLGW* dialog)> print_dialog; // PrintDlgW
    std::function<DWORD()> dialog_error;                 // CommDlgExtendedError
    std::function<int(HDC dc, int index)> device_caps;   // GetDeviceCaps
    std::function<bool()> escape_held;                   // GetAsyncKeyState(VK_ESCAPE) high bit
    std::function<int(HDC dc, ABORTPROC procedure)> set_abort_proc;
    std::function<int(HDC dc, const DOCINFOW* document)> start_doc;
    std::function<int(HDC dc)> start_page;
    // SetStretchBltMode(HALFTONE), then StretchDIBits of the whole top-down 32-bit bitmap onto
    // the sheet's printable area with DIB_RGB_COLORS and SRCCOPY.
    std::function<int(HDC dc, int width, int height, const void* bits, const BITMAPINFO* info)>
        stretch_page;
    std::function<int(HDC dc)> end_page;
    std::function<int(HDC dc)> end_doc;
    std::function<int(HDC dc)> abort_doc;
};

// Installs substitute calls for the lifetime of the object (tests only; not thread-safe).
class ScopedPrintCalls {
public:
    explicit ScopedPrintCalls(PrintCalls calls);
    ~ScopedPrintCalls();
    ScopedPrintCalls(const ScopedPrintCalls&) = delete;
    ScopedPrintCalls& operator=(const ScopedPrintCalls&) = delete;

private:
    PrintCalls previous_;
};

} // namespace pellix
