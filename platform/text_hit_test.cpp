#include "platform/text_hit_test.h"

#include <algorithm>
#include <vector>

namespace pellix {
namespace {

// Where one line of a layout lies, with its clusters as an index range into the layout's
// cluster list.
struct LinePlace {
    UINT32 start = 0;         // text position of the line's first code unit
    UINT32 first_cluster = 0; // [first_cluster, end_cluster) lie on this line
    UINT32 end_cluster = 0;
    UINT32 content_end = 0; // end_cluster without the trailing newline clusters
    FLOAT left = 0;         // x of the line's first cluster
    FLOAT top = 0;
    FLOAT height = 0;
};

// Everything the computed hit tests need, read once per call from the layout.
struct Geometry {
    std::vector<DWRITE_CLUSTER_METRICS> clusters;
    std::vector<UINT32> cluster_start; // text position of each cluster
    std::vector<FLOAT> cluster_left;   // x of each cluster's left edge
    std::vector<LinePlace> lines;
    UINT32 text_length = 0;
};

// Reads a metrics array with the usual size query first; a size query answers
// E_NOT_SUFFICIENT_BUFFER on Windows and Wine alike, which is no failure.
template <typename Metrics, typename Read>
HRESULT read_metrics(std::vector<Metrics>& out, Read read) {
    UINT32 count = 0;
    HRESULT hr = read(nullptr, 0u, &count);
    if (FAILED(hr) && hr != E_NOT_SUFFICIENT_BUFFER) {
        return hr;
    }
    out.resize(count);
    if (count == 0) {
        return S_OK;
    }
    hr = read(out.data(), count, &count);
    out.resize(std::min<size_t>(count, out.size()));
    return hr;
}

// Horizontal offset of a line from the layout box's left edge. Trailing white space hangs past
// the aligned edge, as in DirectWrite's own line placement.
FLOAT aligned_left(IDWriteTextLayout* layout, FLOAT content_width) {
    DWRITE_TEXT_ALIGNMENT alignment = layout->GetTextAlignment();
    if (layout->GetReadingDirection() == DWRITE_READING_DIRECTION_RIGHT_TO_LEFT) {
        if (alignment == DWRITE_TEXT_ALIGNMENT_LEADING) {
            alignment = DWRITE_TEXT_ALIGNMENT_TRAILING;
        } else if (alignment == DWRITE_TEXT_ALIGNMENT_TRAILING) {
            alignment = DWRITE_TEXT_ALIGNMENT_LEADING;
        }
    }
    const FLOAT room = layout->GetMaxWidth() - content_width;
    switch (alignment) {
    case DWRITE_TEXT_ALIGNMENT_TRAILING:
        return room;
    case DWRITE_TEXT_ALIGNMENT_CENTER:
        return room * 0.5f;
    default:
        return 0.0f;
    }
}

FLOAT aligned_top(IDWriteTextLayout* layout, FLOAT text_height) {
    const FLOAT room = layout->GetMaxHeight() - text_height;
    switch (layout->GetParagraphAlignment()) {
    case DWRITE_PARAGRAPH_ALIGNMENT_FAR:
        return room;
    case DWRITE_PARAGRAPH_ALIGNMENT_CENTER:
        return room * 0.5f;
    default:
        return 0.0f;
    }
}

// Places the clusters of one line from left to right and notes where its content ends.
void place_line(IDWriteTextLayout* layout, const DWRITE_LINE_METRICS& metrics, Geometry& geometry,
                LinePlace& line, UINT32& cluster) {
    const UINT32 line_end = line.start + metrics.length;
    const UINT32 content_limit =
        line_end - std::min(metrics.trailingWhitespaceLength, metrics.length);
    line.first_cluster = cluster;
    FLOAT content_width = 0;
    UINT32 position = line.start;
    while (cluster < geometry.clusters.size() && position < line_end) {
        geometry.cluster_start[cluster] = position;
        if (position < content_limit) {
            content_width += geometry.clusters[cluster].width;
        }
        position += geometry.clusters[cluster].length;
        ++cluster;
    }
    line.end_cluster = cluster;
    line.content_end = cluster;
    while (line.content_end > line.first_cluster &&
           geometry.clusters[line.content_end - 1].isNewline) {
        --line.content_end;
    }
    line.left = aligned_left(layout, content_width);
    FLOAT x = line.left;
    for (UINT32 c = line.first_cluster; c < line.end_cluster; ++c) {
        geometry.cluster_left[c] = x;
        x += geometry.clusters[c].width;
    }
}

HRESULT read_geometry(IDWriteTextLayout* layout, Geometry& geometry) {
    std::vector<DWRITE_LINE_METRICS> line_metrics;
    HRESULT hr = read_metrics(line_metrics, [&](DWRITE_LINE_METRICS* out, UINT32 max, UINT32* n) {
        return layout->GetLineMetrics(out, max, n);
    });
    if (FAILED(hr)) {
        return hr;
    }
    hr = read_metrics(geometry.clusters, [&](DWRITE_CLUSTER_METRICS* out, UINT32 max, UINT32* n) {
        return layout->GetClusterMetrics(out, max, n);
    });
    if (FAILED(hr)) {
        return hr;
    }
    if (line_metrics.empty()) {
        // A layout always has a line, even for empty text; guard against one that does not.
        line_metrics.push_back(DWRITE_LINE_METRICS{});
    }
    geometry.cluster_start.assign(geometry.clusters.size(), 0);
    geometry.cluster_left.assign(geometry.clusters.size(), 0);
    FLOAT text_height = 0;
    for (const DWRITE_LINE_METRICS& metrics : line_metrics) {
        text_height += metrics.height;
    }
    FLOAT top = aligned_top(layout, text_height);
    UINT32 start = 0;
    UINT32 cluster = 0;
    for (const DWRITE_LINE_METRICS& metrics : line_metrics) {
        LinePlace line;
        line.start = start;
        line.top = top;
        line.height = metrics.height;
        place_line(layout, metrics, geometry, line, cluster);
        geometry.lines.push_back(line);
        start += metrics.length;
        top += metrics.height;
    }
    geometry.text_length = start;
    return S_OK;
}

DWRITE_HIT_TEST_METRICS cluster_metrics(const Geometry& geometry, const LinePlace& line,
                                        UINT32 cluster) {
    const DWRITE_CLUSTER_METRICS& metrics = geometry.clusters[cluster];
    DWRITE_HIT_TEST_METRICS result{};
    result.textPosition = geometry.cluster_start[cluster];
    result.length = metrics.length;
    result.left = geometry.cluster_left[cluster];
    result.top = line.top;
    result.width = metrics.width;
    result.height = line.height;
    result.bidiLevel = metrics.isRightToLeft ? 1 : 0;
    result.isText = metrics.isNewline ? FALSE : TRUE;
    result.isTrimmed = FALSE;
    return result;
}

// A zero-width location at `x` of `line`, for positions that have no cluster to show.
DWRITE_HIT_TEST_METRICS empty_metrics(const LinePlace& line, UINT32 position, FLOAT x) {
    DWRITE_HIT_TEST_METRICS result{};
    result.textPosition = position;
    result.left = x;
    result.top = line.top;
    result.height = line.height;
    return result;
}

FLOAT line_right(const Geometry& geometry, const LinePlace& line, UINT32 end_cluster) {
    if (end_cluster == line.first_cluster) {
        return line.left;
    }
    return geometry.cluster_left[end_cluster - 1] + geometry.clusters[end_cluster - 1].width;
}

const LinePlace& line_at_y(const Geometry& geometry, FLOAT y, bool& inside) {
    const LinePlace& first = geometry.lines.front();
    const LinePlace& last = geometry.lines.back();
    inside = y >= first.top && y < last.top + last.height;
    if (y < first.top) {
        return first;
    }
    for (const LinePlace& line : geometry.lines) {
        if (y < line.top + line.height) {
            return line;
        }
    }
    return last;
}

UINT32 cluster_at_x(const Geometry& geometry, const LinePlace& line, FLOAT x) {
    for (UINT32 c = line.first_cluster; c < line.content_end; ++c) {
        if (x < geometry.cluster_left[c] + geometry.clusters[c].width) {
            return c;
        }
    }
    return line.content_end - 1;
}

void computed_hit_test_point(const Geometry& geometry, FLOAT x, FLOAT y, BOOL* is_trailing_hit,
                             BOOL* is_inside, DWRITE_HIT_TEST_METRICS* metrics) {
    bool inside_vertically = false;
    const LinePlace& line = line_at_y(geometry, y, inside_vertically);
    if (line.content_end == line.first_cluster) {
        // An empty line: the caret can only stand at its start, before any newline.
        const UINT32 position = line.first_cluster < line.end_cluster
                                    ? geometry.cluster_start[line.first_cluster]
                                    : std::min(line.start, geometry.text_length);
        *metrics = empty_metrics(line, position, line.left);
        *is_trailing_hit = FALSE;
        *is_inside = FALSE;
        return;
    }
    const FLOAT right = line_right(geometry, line, line.content_end);
    const UINT32 cluster = cluster_at_x(geometry, line, std::max(x, line.left));
    *metrics = cluster_metrics(geometry, line, cluster);
    if (x < line.left) {
        *is_trailing_hit = geometry.clusters[cluster].isRightToLeft ? TRUE : FALSE;
    } else if (x >= right) {
        *is_trailing_hit = geometry.clusters[cluster].isRightToLeft ? FALSE : TRUE;
    } else {
        const bool right_half = x >= metrics->left + metrics->width * 0.5f;
        *is_trailing_hit =
            right_half != static_cast<bool>(geometry.clusters[cluster].isRightToLeft);
    }
    *is_inside = inside_vertically && x >= line.left && x < right ? TRUE : FALSE;
}

// Index of the cluster holding `position`, which must lie below the text length.
UINT32 cluster_holding(const Geometry& geometry, UINT32 position) {
    auto after =
        std::upper_bound(geometry.cluster_start.begin(), geometry.cluster_start.end(), position);
    return static_cast<UINT32>(after - geometry.cluster_start.begin()) - 1;
}

const LinePlace& line_of_cluster(const Geometry& geometry, UINT32 cluster) {
    auto after = std::upper_bound(
        geometry.lines.begin(), geometry.lines.end(), cluster,
        [](UINT32 value, const LinePlace& line) { return value < line.first_cluster; });
    // Lines without clusters share first_cluster with the next line; the last of equals wins,
    // which is wrong only for empty lines, and those hold no cluster.
    while (after != geometry.lines.begin() && (after - 1)->end_cluster <= cluster) {
        --after;
    }
    return *(after - 1);
}

void computed_hit_test_text_position(const Geometry& geometry, UINT32 position,
                                     BOOL is_trailing_hit, FLOAT* x, FLOAT* y,
                                     DWRITE_HIT_TEST_METRICS* metrics) {
    if (position >= geometry.text_length || geometry.clusters.empty()) {
        // Past the end: the caret stands after the last cluster of the last line.
        const LinePlace& line = geometry.lines.back();
        const FLOAT right = line_right(geometry, line, line.end_cluster);
        *metrics = empty_metrics(line, geometry.text_length, right);
        *x = right;
        *y = line.top;
        return;
    }
    const UINT32 cluster = cluster_holding(geometry, position);
    const LinePlace& line = line_of_cluster(geometry, cluster);
    *metrics = cluster_metrics(geometry, line, cluster);
    const bool far_edge = static_cast<bool>(is_trailing_hit) !=
                          static_cast<bool>(geometry.clusters[cluster].isRightToLeft);
    *x = metrics->left + (far_edge ? metrics->width : 0.0f);
    *y = metrics->top;
}

// The clusters of one line that a range touches, as one box.
std::vector<DWRITE_HIT_TEST_METRICS> computed_range_boxes(const Geometry& geometry, UINT32 start,
                                                          UINT32 length, FLOAT origin_x,
                                                          FLOAT origin_y) {
    std::vector<DWRITE_HIT_TEST_METRICS> boxes;
    const UINT32 end =
        start + std::min(length, geometry.text_length - std::min(start, geometry.text_length));
    if (start >= end) {
        return boxes;
    }
    UINT32 cluster = cluster_holding(geometry, start);
    const UINT32 last = cluster_holding(geometry, end - 1);
    while (cluster <= last) {
        const LinePlace& line = line_of_cluster(geometry, cluster);
        const UINT32 line_last = std::min(last, line.end_cluster - 1);
        DWRITE_HIT_TEST_METRICS box = cluster_metrics(geometry, line, cluster);
        const UINT32 box_end =
            geometry.cluster_start[line_last] + geometry.clusters[line_last].length;
        box.length = box_end - box.textPosition;
        box.width = line_right(geometry, line, line_last + 1) - box.left;
        box.isText = TRUE;
        box.left += origin_x;
        box.top += origin_y;
        boxes.push_back(box);
        cluster = line_last + 1;
    }
    return boxes;
}

} // namespace

HRESULT hit_test_point(IDWriteTextLayout* layout, FLOAT x, FLOAT y, BOOL* is_trailing_hit,
                       BOOL* is_inside, DWRITE_HIT_TEST_METRICS* metrics) {
    HRESULT hr = layout->HitTestPoint(x, y, is_trailing_hit, is_inside, metrics);
    if (hr != E_NOTIMPL) {
        return hr;
    }
    Geometry geometry;
    hr = read_geometry(layout, geometry);
    if (FAILED(hr)) {
        return hr;
    }
    computed_hit_test_point(geometry, x, y, is_trailing_hit, is_inside, metrics);
    return S_OK;
}

HRESULT hit_test_text_position(IDWriteTextLayout* layout, UINT32 position, BOOL is_trailing_hit,
                               FLOAT* x, FLOAT* y, DWRITE_HIT_TEST_METRICS* metrics) {
    HRESULT hr = layout->HitTestTextPosition(position, is_trailing_hit, x, y, metrics);
    if (hr != E_NOTIMPL) {
        return hr;
    }
    Geometry geometry;
    hr = read_geometry(layout, geometry);
    if (FAILED(hr)) {
        return hr;
    }
    computed_hit_test_text_position(geometry, position, is_trailing_hit, x, y, metrics);
    return S_OK;
}

HRESULT hit_test_text_range(IDWriteTextLayout* layout, UINT32 start, UINT32 length, FLOAT origin_x,
                            FLOAT origin_y, DWRITE_HIT_TEST_METRICS* metrics, UINT32 max_count,
                            UINT32* actual_count) {
    HRESULT hr = layout->HitTestTextRange(start, length, origin_x, origin_y, metrics, max_count,
                                          actual_count);
    if (hr != E_NOTIMPL) {
        return hr;
    }
    Geometry geometry;
    hr = read_geometry(layout, geometry);
    if (FAILED(hr)) {
        return hr;
    }
    const std::vector<DWRITE_HIT_TEST_METRICS> boxes =
        computed_range_boxes(geometry, start, length, origin_x, origin_y);
    *actual_count = static_cast<UINT32>(boxes.size());
    if (boxes.size() > max_count || (metrics == nullptr && !boxes.empty())) {
        return E_NOT_SUFFICIENT_BUFFER;
    }
    std::copy(boxes.begin(), boxes.end(), metrics);
    return S_OK;
}

} // namespace pellix
