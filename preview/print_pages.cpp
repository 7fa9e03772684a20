#include "preview/print_pages.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace pellix {
namespace {

constexpr float dips_per_inch = 96.0f;
// Band edges come out of float sums of line heights; they may miss each other by this much.
constexpr float tolerance = 0.01f;

[[noreturn]] void cannot_paginate() {
    throw std::runtime_error("Cannot paginate preview content.");
}

[[noreturn]] void outside_document() {
    throw std::runtime_error("Requested print page is outside the document.");
}

// Where the page that starts at `start` ends, walking the bands from `first` onwards.
float page_cut(const std::vector<LayoutBand>& bands, std::size_t first, float start,
               float content_height) {
    const float limit = start + content_height;
    float cut = start;
    std::size_t j = first;
    for (; j < bands.size() && bands[j].bottom <= limit + tolerance; ++j) {
        if (!bands[j].keep_with_next) {
            cut = bands[j].bottom;
        }
    }
    if (cut > start + tolerance) {
        return cut;
    }
    if (j > first) {
        // Nothing but bands that keep with the next fitted: end after the last of them.
        return bands[j - 1].bottom;
    }
    if (j == bands.size() || bands[j].top <= start) {
        cannot_paginate();
    }
    return std::min(bands[j].top, limit);
}

} // namespace

PageSize page_size(const PrinterCaps& caps) {
    if (caps.width <= 0 || caps.height <= 0 || caps.dpi_x <= 0 || caps.dpi_y <= 0) {
        throw std::runtime_error("Printer reported invalid page dimensions.");
    }
    const float width = static_cast<float>(caps.width) * dips_per_inch / caps.dpi_x;
    const float height = static_cast<float>(caps.height) * dips_per_inch / caps.dpi_y;
    return {width, height, height - 2.0f * print_margin};
}

PrintSurface print_surface(const PrinterCaps& caps) {
    const int dpi = std::min({max_print_surface_dpi, caps.dpi_x, caps.dpi_y});
    const PrintSurface surface{std::max(1, MulDiv(caps.width, dpi, caps.dpi_x)),
                               std::max(1, MulDiv(caps.height, dpi, caps.dpi_y)), dpi};
    if (static_cast<std::int64_t>(surface.width) * surface.height > max_print_surface_pixels) {
        throw std::runtime_error("Printer page is too large for the native print surface.");
    }
    return surface;
}

void check_print_bands(const std::vector<LayoutBand>& bands, float content_height) {
    float previous = 0;
    for (const LayoutBand& band : bands) {
        if (!std::isfinite(band.top) || !std::isfinite(band.bottom) ||
            band.top < previous - tolerance || !(band.bottom > band.top) ||
            band.bottom - band.top > content_height) {
            throw std::runtime_error("Text line cannot fit on the printable page.");
        }
        previous = band.bottom;
    }
}

std::vector<PrintPage> paginate(const std::vector<LayoutBand>& bands, float content_height) {
    if (bands.empty()) {
        return {PrintPage{0, 0}};
    }
    const float end = bands.back().bottom;
    if (end - tolerance <= 0) {
        outside_document();
    }
    std::vector<PrintPage> pages;
    float start = 0;
    std::size_t next = 0;
    while (start < end - tolerance) {
        if (start + content_height >= end - tolerance) {
            pages.push_back({start, end});
            break;
        }
        const float cut = page_cut(bands, next, start, content_height);
        if (!(cut > start)) {
            cannot_paginate();
        }
        pages.push_back({start, cut});
        start = cut;
        while (next < bands.size() && bands[next].bottom <= cut + tolerance) {
            ++next;
        }
        if (next == bands.size() && start < end - tolerance) {
            cannot_paginate();
        }
    }
    return pages;
}

PageRange print_page_range(std::size_t page_count, bool page_numbers, unsigned from, unsigned to) {
    PageRange range{0, page_count};
    if (page_numbers) {
        range.first = from > 0 ? from - 1 : 0;
        range.last = std::min<std::size_t>(to, page_count);
    }
    if (range.first >= range.last) {
        outside_document();
    }
    return range;
}

} // namespace pellix
