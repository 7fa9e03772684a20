#include "preview/row_fit.h"

#include <algorithm>

#include "core/graphemes.h"

namespace pellix {
namespace {

// Widths DirectWrite reports for a row that fits may exceed the line by rounding.
constexpr float width_slack = 0.01f;

std::vector<DWRITE_LINE_METRICS> rows_of(IDWriteTextLayout* layout) {
    UINT32 count = 0;
    layout->GetLineMetrics(nullptr, 0, &count);
    std::vector<DWRITE_LINE_METRICS> rows(count);
    if (FAILED(layout->GetLineMetrics(rows.data(), count, &count))) {
        return {};
    }
    rows.resize(std::min<std::size_t>(count, rows.size()));
    return rows;
}

std::vector<DWRITE_CLUSTER_METRICS> clusters_of(IDWriteTextLayout* layout) {
    UINT32 count = 0;
    layout->GetClusterMetrics(nullptr, 0, &count);
    std::vector<DWRITE_CLUSTER_METRICS> clusters(count);
    if (FAILED(layout->GetClusterMetrics(clusters.data(), count, &count))) {
        return {};
    }
    clusters.resize(std::min<std::size_t>(count, clusters.size()));
    return clusters;
}

// Cuts the row of clusters [first, last) that starts at unit `start` into parts that fit.
RowParts cut_row(std::u16string_view text, const std::vector<DWRITE_CLUSTER_METRICS>& clusters,
                 std::size_t first, std::size_t last, std::size_t start, float max_width) {
    RowParts parts;
    parts.row_start = start;
    std::size_t position = start;
    float width = 0;         // of the open part, up to `position`
    float ink = 0;           // of the open part without the white space it ends in
    std::size_t fits_at = 0; // last cut inside the open part that fits, 0 for none
    float fits_width = 0;
    for (std::size_t k = first; k < last; ++k) {
        const DWRITE_CLUSTER_METRICS& cluster = clusters[k];
        position += cluster.length;
        width += cluster.width;
        if (!cluster.isWhitespace) {
            ink = width;
        }
        if (!is_grapheme_boundary(text, position) && k + 1 < last) {
            continue;
        }
        if (ink > max_width + width_slack && fits_at != 0) {
            parts.ends.push_back(fits_at);
            parts.widths.push_back(fits_width);
            width -= fits_width;
            ink -= fits_width;
        }
        fits_at = position;
        fits_width = ink;
    }
    parts.ends.push_back(position);
    parts.widths.push_back(ink);
    return parts;
}

} // namespace

std::optional<RowParts> fit_overflowing_row(IDWriteTextLayout* layout, std::u16string_view text,
                                            float max_width) {
    DWRITE_TEXT_METRICS metrics{};
    if (FAILED(layout->GetMetrics(&metrics)) || metrics.width <= max_width + width_slack) {
        return std::nullopt;
    }
    const std::vector<DWRITE_CLUSTER_METRICS> clusters = clusters_of(layout);
    std::size_t cluster = 0;
    std::size_t start = 0;
    for (const DWRITE_LINE_METRICS& row : rows_of(layout)) {
        const std::size_t first = cluster;
        float ink = 0;
        float width = 0;
        for (std::size_t units = 0; units < row.length && cluster < clusters.size(); ++cluster) {
            units += clusters[cluster].length;
            width += clusters[cluster].width;
            if (!clusters[cluster].isWhitespace) {
                ink = width;
            }
        }
        if (ink > max_width + width_slack) {
            return cut_row(text, clusters, first, cluster, start, max_width);
        }
        start += row.length;
    }
    return std::nullopt;
}

} // namespace pellix
