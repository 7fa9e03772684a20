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

// Everything the computed hit tests need, read once per call from the layout. Cluster places
// are worked out only for the lines a query touches, so a query on a long layout costs little
// more than reading its metrics.
struct Geometry {
    std::vector<DWRITE_CLUSTER_METRICS>& clusters;
    std::vector<LinePlace> lines;
    UINT32 text_length = 0;
};

// One cluster of a line with its text position and left edge.
struct PlacedCluster {
    UINT32 index = 0;
    UINT32 position = 0;
    FLOAT left = 0;
};

// The cluster buffer outlives each call so that repeated queries on a long layout do not
// allocate it again; each thread has its own.
std::vector<DWRITE_CLUSTER_METRICS>& cluster_buffer() {
    thread_local std::vector<DWRITE_CLUSTER_METRICS> buffer;
    return buffer;
}

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

// Finds the clusters of one line and its left edge.
LinePlace place_line(IDWriteTextLayout* layout, const DWRITE_LINE_METRICS& metrics,
                     const std::vector<DWRITE_CLUSTER_METRICS>& clusters, UINT32 start,
                     UINT32& cluster) {
    LinePlace line;
    line.start = start;
    line.height = metrics.height;
    const UINT32 line_end = start + metrics.length;
    const UINT32 content_limit =
        line_end - std::min(metrics.trailingWhitespaceLength, metrics.length);
    line.first_cluster = cluster;
    FLOAT content_width = 0;
    for (UINT32 position = start; cluster < clusters.size() && position < line_end; ++cluster) {
        if (position < content_limit) {
            content_width += clusters[cluster].width;
        }
        position += clusters[cluster].length;
    }
    line.end_cluster = cluster;
    line.content_end = cluster;
    while (line.content_end > line.first_cluster && clusters[line.content_end - 1].isNewline) {
        --line.content_end;
    }
    line.left = aligned_left(layout, content_width);
    return line;
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
    FLOAT text_height = 0;
    for (const DWRITE_LINE_METRICS& metrics : line_metrics) {
        text_height += metrics.height;
    }
    FLOAT top = aligned_top(layout, text_height);
    UINT32 start = 0;
    UINT32 cluster = 0;
    geometry.lines.reserve(line_metrics.size());
    for (const DWRITE_LINE_METRICS& metrics : line_metrics) {
        LinePlace line = place_line(layout, metrics, geometry.clusters, start, cluster);
        line.top = top;
        geometry.lines.push_back(line);
        start += metrics.length;
        top += metrics.height;
    }
    geometry.text_length = start;
    return S_OK;
}

// Calls `visit` with each cluster of [line.first_cluster, end) in order until it answers false.
template <typename Visit>
void walk_line(const Geometry& geometry, const LinePlace& line, UINT32 end, Visit visit) {
    PlacedCluster placed{line.first_cluster, line.start, line.left};
    for (; placed.index < end; ++placed.index) {
        if (!visit(placed)) {
            return;
        }
        placed.position += geometry.clusters[placed.index].length;
        placed.left += geometry.clusters[placed.index].width;
    }
}

// The x where the clusters [line.first_cluster, end) of a line end.
FLOAT line_right(const Geometry& geometry, const LinePlace& line, UINT32 end) {
    FLOAT right = line.left;
    for (UINT32 c = line.first_cluster; c < end; ++c) {
        right += geometry.clusters[c].width;
    }
    return right;
}

DWRITE_HIT_TEST_METRICS cluster_metrics(const Geometry& geometry, const LinePlace& line,
                                        const PlacedCluster& placed) {
    const DWRITE_CLUSTER_METRICS& metrics = geometry.clusters[placed.index];
    DWRITE_HIT_TEST_METRICS result{};
    result.textPosition = placed.position;
    result.length = metrics.length;
    result.left = placed.left;
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

const LinePlace& line_at_y(const Geometry& geometry, FLOAT y, bool& inside) {
    const LinePlace& first = geometry.lines.front();
    const LinePlace& last = geometry.lines.back();
    inside = y >= first.top && y < last.top + last.height;
    auto below =
        std::partition_point(geometry.lines.begin(), geometry.lines.end(),
                             [y](const LinePlace& line) { return line.top + line.height <= y; });
    return below == geometry.lines.end() ? last : *below;
}

// The line holding `position`, which must lie below the text length.
const LinePlace& line_of_position(const Geometry& geometry, UINT32 position) {
    auto after =
        std::upper_bound(geometry.lines.begin(), geometry.lines.end(), position,
                         [](UINT32 value, const LinePlace& line) { return value < line.start; });
    return *(after - 1);
}

// The cluster of `line` holding `position`.
PlacedCluster cluster_holding(const Geometry& geometry, const LinePlace& line, UINT32 position) {
    PlacedCluster found{};
    walk_line(geometry, line, line.end_cluster, [&](const PlacedCluster& placed) {
        found = placed;
        return placed.position + geometry.clusters[placed.index].length <= position;
    });
    return found;
}

void computed_hit_test_point(const Geometry& geometry, FLOAT x, FLOAT y, BOOL* is_trailing_hit,
                             BOOL* is_inside, DWRITE_HIT_TEST_METRICS* metrics) {
    bool inside_vertically = false;
    const LinePlace& line = line_at_y(geometry, y, inside_vertically);
    if (line.content_end == line.first_cluster) {
        // An empty line: the caret can only stand at its start, before any newline.
        *metrics = empty_metrics(line, std::min(line.start, geometry.text_length), line.left);
        if (line.first_cluster < line.end_cluster) {
            metrics->length = geometry.clusters[line.first_cluster].length;
        }
        *is_trailing_hit = FALSE;
        *is_inside = FALSE;
        return;
    }
    // The cluster under x, or the nearest one at either end of the line.
    PlacedCluster hit{};
    walk_line(geometry, line, line.content_end, [&](const PlacedCluster& placed) {
        hit = placed;
        return x >= placed.left + geometry.clusters[placed.index].width;
    });
    const FLOAT right = line_right(geometry, line, line.content_end);
    const bool right_to_left = geometry.clusters[hit.index].isRightToLeft;
    *metrics = cluster_metrics(geometry, line, hit);
    if (x < line.left) {
        *is_trailing_hit = right_to_left ? TRUE : FALSE;
    } else if (x >= right) {
        *is_trailing_hit = right_to_left ? FALSE : TRUE;
    } else {
        const bool right_half = x >= metrics->left + metrics->width * 0.5f;
        *is_trailing_hit = right_half != right_to_left ? TRUE : FALSE;
    }
    *is_inside = inside_vertically && x >= line.left && x < right ? TRUE : FALSE;
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
    const LinePlace& line = line_of_position(geometry, position);
    const PlacedCluster placed = cluster_holding(geometry, line, position);
    *metrics = cluster_metrics(geometry, line, placed);
    const bool far_edge = static_cast<bool>(is_trailing_hit) !=
                          static_cast<bool>(geometry.clusters[placed.index].isRightToLeft);
    *x = metrics->left + (far_edge ? metrics->width : 0.0f);
    *y = metrics->top;
}

// Per line, one box over the clusters that [start, start + length) touches.
std::vector<DWRITE_HIT_TEST_METRICS> computed_range_boxes(const Geometry& geometry, UINT32 start,
                                                          UINT32 length, FLOAT origin_x,
                                                          FLOAT origin_y) {
    std::vector<DWRITE_HIT_TEST_METRICS> boxes;
    const UINT32 text_length = geometry.text_length;
    const UINT32 end =
        std::min(start, text_length) + std::min(length, text_length - std::min(start, text_length));
    if (start >= end) {
        return boxes;
    }
    for (const LinePlace* line = &line_of_position(geometry, start);
         line != geometry.lines.data() + geometry.lines.size() && line->start < end; ++line) {
        bool found = false;
        DWRITE_HIT_TEST_METRICS box{};
        FLOAT right = 0;
        walk_line(geometry, *line, line->end_cluster, [&](const PlacedCluster& placed) {
            const DWRITE_CLUSTER_METRICS& cluster = geometry.clusters[placed.index];
            if (placed.position >= end) {
                return false;
            }
            if (placed.position + cluster.length > start) {
                if (!found) {
                    box = cluster_metrics(geometry, *line, placed);
                    found = true;
                }
                box.length = placed.position + cluster.length - box.textPosition;
                right = placed.left + cluster.width;
            }
            return true;
        });
        if (!found) {
            continue;
        }
        box.width = right - box.left;
        box.isText = TRUE;
        box.left += origin_x;
        box.top += origin_y;
        boxes.push_back(box);
    }
    return boxes;
}

// Reads the layout's geometry and hands it to `compute`, or answers the failure of reading it.
template <typename Compute> HRESULT with_geometry(IDWriteTextLayout* layout, Compute compute) {
    Geometry geometry{cluster_buffer(), {}, 0};
    const HRESULT hr = read_geometry(layout, geometry);
    return FAILED(hr) ? hr : compute(geometry);
}

} // namespace

HRESULT hit_test_point(IDWriteTextLayout* layout, FLOAT x, FLOAT y, BOOL* is_trailing_hit,
                       BOOL* is_inside, DWRITE_HIT_TEST_METRICS* metrics) {
    const HRESULT hr = layout->HitTestPoint(x, y, is_trailing_hit, is_inside, metrics);
    if (hr != E_NOTIMPL) {
        return hr;
    }
    return with_geometry(layout, [&](const Geometry& geometry) {
        computed_hit_test_point(geometry, x, y, is_trailing_hit, is_inside, metrics);
        return S_OK;
    });
}

HRESULT hit_test_text_position(IDWriteTextLayout* layout, UINT32 position, BOOL is_trailing_hit,
                               FLOAT* x, FLOAT* y, DWRITE_HIT_TEST_METRICS* metrics) {
    const HRESULT hr = layout->HitTestTextPosition(position, is_trailing_hit, x, y, metrics);
    if (hr != E_NOTIMPL) {
        return hr;
    }
    return with_geometry(layout, [&](const Geometry& geometry) {
        computed_hit_test_text_position(geometry, position, is_trailing_hit, x, y, metrics);
        return S_OK;
    });
}

HRESULT hit_test_text_range(IDWriteTextLayout* layout, UINT32 start, UINT32 length, FLOAT origin_x,
                            FLOAT origin_y, DWRITE_HIT_TEST_METRICS* metrics, UINT32 max_count,
                            UINT32* actual_count) {
    const HRESULT hr = layout->HitTestTextRange(start, length, origin_x, origin_y, metrics,
                                                max_count, actual_count);
    if (hr != E_NOTIMPL) {
        return hr;
    }
    return with_geometry(layout, [&](const Geometry& geometry) {
        const std::vector<DWRITE_HIT_TEST_METRICS> boxes =
            computed_range_boxes(geometry, start, length, origin_x, origin_y);
        *actual_count = static_cast<UINT32>(boxes.size());
        if (boxes.size() > max_count || (metrics == nullptr && !boxes.empty())) {
            return E_NOT_SUFFICIENT_BUFFER;
        }
        std::copy(boxes.begin(), boxes.end(), metrics);
        return S_OK;
    });
}

} // namespace pellix
