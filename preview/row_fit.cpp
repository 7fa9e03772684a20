#include "preview/row_fit.h"

#include <algorithm>

#include "core/graphemes.h"

namespace pellix {
namespace {

// Widths DirectWrite reports for a row that fits may exceed the line by rounding.
constexpr float width_slack = 0.01f;

// What a count query and then a fill of `read` give; empty when the fill fails.
template <typename Metrics, typename Read> std::vector<Metrics> metrics_of(Read read) {
    UINT32 count = 0;
    read(nullptr, 0, &count);
    std::vector<Metrics> metrics(count);
    if (FAILED(read(metrics.data(), count, &count))) {
        return {};
    }
    metrics.resize(std::min<std::size_t>(count, metrics.size()));
    return metrics;
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
    const auto clusters = metrics_of<DWRITE_CLUSTER_METRICS>(
        [&](DWRITE_CLUSTER_METRICS* out, UINT32 size, UINT32* count) {
            return layout->GetClusterMetrics(out, size, count);
        });
    const auto rows =
        metrics_of<DWRITE_LINE_METRICS>([&](DWRITE_LINE_METRICS* out, UINT32 size, UINT32* count) {
            return layout->GetLineMetrics(out, size, count);
        });
    std::size_t cluster = 0;
    std::size_t start = 0;
    for (const DWRITE_LINE_METRICS& row : rows) {
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
