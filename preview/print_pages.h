#pragma once

// The arithmetic of a print job that needs no printer: the sheet in DIPs and the bitmap surface
// from the printer's device caps, the cutting of a laid-out document into pages at its bands,
// and the pages the dialog asked for.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "preview/layout.h"

namespace pellix {

// A document range [top, bottom] in layout DIPs printed on one sheet.
struct PrintPage {
    float top = 0;
    float bottom = 0;
};

// The printer DC's HORZRES, VERTRES (printable pixels), LOGPIXELSX and LOGPIXELSY.
struct PrinterCaps {
    int width = 0;
    int height = 0;
    int dpi_x = 0;
    int dpi_y = 0;
};

// The space left blank above and below the content of every sheet, in DIPs.
inline constexpr float print_margin = 36.0f;
inline constexpr int max_print_surface_dpi = 300;
inline constexpr std::int64_t max_print_surface_pixels = 40'000'000;

// The printable sheet in DIPs and the height left for content between the margins (may be
// zero or less on a tiny sheet).
struct PageSize {
    float width = 0;
    float height = 0;
    float content_height = 0;
};

// Throws std::runtime_error "Printer reported invalid page dimensions." when a cap is not
// positive.
PageSize page_size(const PrinterCaps& caps);

// The bitmap a page is drawn into at up to 300 DPI before it is stretched onto the sheet.
struct PrintSurface {
    int width = 1;
    int height = 1;
    int dpi = 96;
};

// Throws std::runtime_error "Printer page is too large for the native print surface." when the
// surface would hold more than 40,000,000 pixels. `caps` must be positive (see page_size).
PrintSurface print_surface(const PrinterCaps& caps);

// Throws std::runtime_error "Text line cannot fit on the printable page." unless the bands are
// finite, in order, not empty and each at most `content_height` high.
void check_print_bands(const std::vector<LayoutBand>& bands, float content_height);

// Cuts checked bands into pages at most `content_height` high, only at band edges; a band that
// keeps with the next moves to the next page with it unless the page would hold nothing else.
// No bands give one blank page [0, 0]. Throws std::runtime_error "Requested print page is
// outside the document." for a document of zero height and "Cannot paginate preview content."
// when no cut can move forward.
std::vector<PrintPage> paginate(const std::vector<LayoutBand>& bands, float content_height);

// Indices [first, last) of the pages to print: with `page_numbers`, dialog pages `from` to `to`
// (1-based, inclusive) within `page_count`, otherwise all. Throws std::runtime_error "Requested
// print page is outside the document." when that leaves nothing.
struct PageRange {
    std::size_t first = 0;
    std::size_t last = 0;
};
PageRange print_page_range(std::size_t page_count, bool page_numbers, unsigned from, unsigned to);

} // namespace pellix
