#include "preview/row_fit.h"

#include <algorithm>

#include "core/graphemes.h"

namespace pellix {
namespace {

// Widths DirectWrite reports for a row that fits may exceed the line by rounding.
constexpr float width_slack = 0.01f;

bool high_surrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool low_surrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

bool inside_pair(std::u16string_view text, std::size_t at) {
    return at > 0 && at < text.size() && low_surrogate(text[at]) && high_surrogate(text[at - 1]);
}

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

// Ends parts of a row as the row's clusters come, each part as wide as fits. A part ends
// between two characters; a character longer than a few hundred units (a letter with endless
// marks, emoji joined without end), which no reader sees as one, is cut where the line is full,
// between code points, as DirectWrite's emergency breaking does on Windows. A shorter character
// wider than the line stays whole.
class RowCutter {
public:
    RowCutter(std::u16string_view text, std::size_t start, float max_width,
              bool starts_inside_character)
        : text_(text), limit_(max_width + width_slack), part_start_(start), position_(start),
          fits_at_(start), character_start_(start) {
        parts_.row_start = start;
        // Only a long character is ever cut: one the text starts inside is one.
        if (start == 0 ? starts_inside_character : !is_grapheme_boundary(text, start)) {
            long_character_ = true;
        }
    }

    // A cluster; one wider than the line that holds several code points (Wine shapes a letter
    // and all its marks as one) goes in code points, each with its share of the width.
    void add_cluster(const DWRITE_CLUSTER_METRICS& cluster, bool ends_row) {
        const std::size_t end = position_ + cluster.length;
        if (cluster.width <= limit_ || cluster.length < 2) {
            add(cluster.length, cluster.width, cluster.isWhitespace, ends_row);
            return;
        }
        const float unit_width = cluster.width / static_cast<float>(cluster.length);
        while (position_ < end) {
            const std::size_t units = code_point_units(end);
            add(units, unit_width * static_cast<float>(units), cluster.isWhitespace,
                ends_row && position_ + units == end);
        }
    }

    RowParts finish() {
        parts_.ends.push_back(position_);
        parts_.widths.push_back(ink_);
        return std::move(parts_);
    }

private:
    void add(std::size_t units, float width, bool whitespace, bool ends_row) {
        if (!whitespace && width_ + width > limit_) {
            if (fits_at_ != part_start_) {
                end_part(fits_at_, fits_width_); // at the last boundary that fits
            }
            if (fits_at_ == part_start_ && position_ > part_start_ && width_ + width > limit_ &&
                inside_long_character()) {
                end_part(position_, ink_);
                fits_at_ = position_;
                fits_width_ = 0;
            }
        }
        position_ += units;
        width_ += width;
        if (!whitespace) {
            ink_ = width_;
        }
        const bool boundary = is_grapheme_boundary(text_, position_);
        if (boundary) {
            character_start_ = position_;
            long_character_.reset();
        }
        if (boundary || ends_row) {
            fits_at_ = position_;
            fits_width_ = ink_;
        }
    }

    // Whether the character the open part is in runs longer than a few hundred units, where
    // the boundary search gives up and answers a code point boundary instead.
    bool inside_long_character() {
        if (!long_character_) {
            const std::size_t end = grapheme_boundary_after(text_, character_start_);
            long_character_ = end < text_.size() && !is_grapheme_boundary(text_, end);
        }
        return *long_character_;
    }

    void end_part(std::size_t at, float width) {
        parts_.ends.push_back(at);
        parts_.widths.push_back(width);
        part_start_ = at;
        width_ -= width;
        ink_ -= width;
    }

    // Units of the code point at the position, within a cluster ending at `end`.
    std::size_t code_point_units(std::size_t end) const {
        return inside_pair(text_, position_ + 1) && position_ + 2 <= end ? 2 : 1;
    }

    std::u16string_view text_;
    float limit_;
    RowParts parts_;
    std::size_t part_start_;             // where the open part starts
    std::size_t position_;               // end of the clusters seen
    float width_ = 0;                    // of the open part, up to position_
    float ink_ = 0;                      // of the open part without the white space it ends in
    std::size_t fits_at_;                // last boundary in the open part, part_start_ for none
    float fits_width_ = 0;               // ink of the open part up to fits_at_
    std::size_t character_start_;        // last boundary at or before position_
    std::optional<bool> long_character_; // whether that character is long, once asked
};

// Cuts the row of clusters [first, last) that starts at unit `start` into parts that fit.
RowParts cut_row(std::u16string_view text, const std::vector<DWRITE_CLUSTER_METRICS>& clusters,
                 std::size_t first, std::size_t last, std::size_t start, float max_width,
                 bool starts_inside_character) {
    RowCutter cutter(text, start, max_width, starts_inside_character);
    for (std::size_t k = first; k < last; ++k) {
        cutter.add_cluster(clusters[k], k + 1 == last);
    }
    return cutter.finish();
}

} // namespace

std::optional<RowParts> fit_overflowing_row(IDWriteTextLayout* layout, std::u16string_view text,
                                            float max_width, bool starts_inside_character) {
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
            return cut_row(text, clusters, first, cluster, start, max_width,
                           starts_inside_character);
        }
        start += row.length;
    }
    return std::nullopt;
}

std::size_t run_cut(std::u16string_view text, std::size_t start, std::size_t at) {
    const std::size_t cut = grapheme_cut(text, start, at);
    if (is_grapheme_boundary(text, cut) || at >= text.size()) {
        return cut;
    }
    if (!inside_pair(text, at)) {
        return at;
    }
    return at - 1 > start ? at - 1 : at + 1;
}

} // namespace pellix
