// The preview's answers to UI Automation: its text, selection and geometry, given to the
// accessibility bridge as callbacks that run on the UI thread inside preview_proc.

#include <algorithm>

#include "preview/preview_window.h"

namespace pellix {
namespace {

bool block_in_view(const Preview::Impl& p, const LayoutBlock& block) {
    const float top = p.view.scroll_y;
    return block.y + block.height >= top && block.y <= top + view_height(p.window, p.dpi);
}

AccessibleSnapshot take_snapshot(const Preview::Impl& p) {
    AccessibleSnapshot snap;
    snap.text = p.document.text;
    snap.anchor = p.view.anchor;
    snap.caret = p.view.caret;
    snap.cluster_starts = p.layout.boundaries;
    for (const PreviewBlock& block : p.document.blocks) {
        for (std::uint64_t i = 0; i < block.marker_length; ++i) {
            snap.cluster_starts.push_back(block.start + i);
        }
    }
    for (const LayoutLine& line : p.layout.lines) {
        snap.line_starts.push_back(line.start);
    }
    for (const PreviewBlock& block : p.document.blocks) {
        snap.paragraph_starts.push_back(block.start);
    }
    std::uint64_t first = p.document.text.size();
    std::uint64_t end = 0;
    for (std::size_t i = 0; i < p.layout.blocks.size(); ++i) {
        if (block_in_view(p, p.layout.blocks[i])) {
            const PreviewBlock& block = p.document.blocks[i];
            first = std::min(first, block.start);
            end = std::max(end, block.start + block.length);
        }
    }
    snap.first_visible = end < first ? end : first;
    snap.visible_end = end;
    return snap;
}

// Screen rectangles of [start, end) clipped to the client area, four values each.
std::vector<double> range_bounds(const Preview::Impl& p, std::uint64_t start, std::uint64_t end) {
    std::vector<double> result;
    POINT origin{0, 0};
    ClientToScreen(p.window, &origin);
    const float scale = p.dpi / 96.0f;
    const float width = view_width(p.window, p.dpi) * scale;
    const float height = view_height(p.window, p.dpi) * scale;
    for (const LayoutBlock& block : p.layout.blocks) {
        if (block.pieces.empty() || !block_in_view(p, block)) {
            continue;
        }
        const std::uint64_t s = std::max(start, block.text_start);
        const std::uint64_t e = std::min(block.text_start + block.text_length, end);
        if (s >= e) {
            continue;
        }
        for_each_range_rect(
            block, static_cast<std::uint32_t>(s - block.text_start),
            static_cast<std::uint32_t>(e - s), block.x, block.y, [&](const D2D1_RECT_F& rect) {
                const float l = std::max(0.0f, (rect.left - p.view.scroll_x) * scale);
                const float t = std::max(0.0f, (rect.top - p.view.scroll_y) * scale);
                const float r = std::min((rect.right - p.view.scroll_x) * scale, width);
                const float b = std::min((rect.bottom - p.view.scroll_y) * scale, height);
                if (r > l && b > t) {
                    result.insert(result.end(), {origin.x + l, origin.y + t, r - l, b - t});
                }
            });
    }
    return result;
}

void select_text(Preview::Impl& p, std::uint64_t start, std::uint64_t end) {
    const std::uint64_t length = p.document.text.size();
    p.view.anchor = std::min(start, length);
    p.view.caret = std::min(end, length);
    write_view_record(p);
    InvalidateRect(p.window, nullptr, FALSE);
    raise_accessibility_events(p.accessibility, false, true, false);
}

void scroll_text_into_view(Preview::Impl& p, std::uint64_t offset) {
    locate_preview_caret(p, std::min<std::uint64_t>(offset, p.document.text.size()));
    report_preview_top_line(p);
}

} // namespace

void Preview::Impl::attach_accessibility() {
    Preview::Impl* p = this;
    AccessibilityCallbacks callbacks;
    callbacks.name = L"Markdown preview";
    callbacks.document = true;
    callbacks.snapshot = [p] { return take_snapshot(*p); };
    callbacks.bounds = [p](unsigned long long start, unsigned long long end) {
        return range_bounds(*p, start, end);
    };
    callbacks.offset_at = [p](POINT point) -> unsigned long long {
        return hit_test_text(*p, point, false);
    };
    callbacks.select = [p](unsigned long long start, unsigned long long end) {
        select_text(*p, start, end);
    };
    callbacks.scroll_into_view = [p](unsigned long long offset) {
        scroll_text_into_view(*p, offset);
    };
    attach_accessibility_state(accessibility, window, std::move(callbacks));
}

} // namespace pellix
