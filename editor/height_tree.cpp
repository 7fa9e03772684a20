#include "editor/height_tree.h"

#include <algorithm>

namespace pellix {

void HeightTree::assign(std::vector<double> heights) {
    heights_ = std::move(heights);
    tree_.assign(heights_.size() + 1, 0.0);
    const std::uint64_t tree_size = tree_.size();
    for (std::uint64_t i = 1; i < tree_size; ++i) {
        tree_[i] += heights_[i - 1];
        const std::uint64_t parent = i + (i & (~i + 1));
        if (parent < tree_size) {
            tree_[parent] += tree_[i];
        }
    }
}

double HeightTree::prefix(std::uint64_t k) const {
    k = std::min<std::uint64_t>(k, heights_.size());
    // Summed from the highest bit down, in the order `line_at` descends, so that the top of a
    // line found again by `line_at` gives that very line and not the one above by rounding.
    std::uint64_t step = 1;
    while (step <= k / 2) {
        step <<= 1;
    }
    double sum = 0.0;
    std::uint64_t index = 0;
    for (; step > 0; step >>= 1) {
        if (k & step) {
            index += step;
            sum += tree_[index];
        }
    }
    return sum;
}

std::uint64_t HeightTree::line_at(double y) const {
    const std::uint64_t n = heights_.size();
    if (n == 0) {
        return 0;
    }
    std::uint64_t step = 1;
    while (step < n + 1) {
        step <<= 1;
    }
    std::uint64_t position = 0;
    double sum = 0.0;
    for (; step > 0; step >>= 1) {
        if (position + step < n + 1 && sum + tree_[position + step] <= y) {
            sum += tree_[position + step];
            position += step;
        }
    }
    return std::min(n - 1, position);
}

void HeightTree::set_height(std::uint64_t line, double height) {
    if (line >= heights_.size()) {
        return;
    }
    const double difference = height - heights_[line];
    heights_[line] = height;
    if (difference == 0.0) {
        return;
    }
    for (std::uint64_t i = line + 1; i < tree_.size(); i += i & (~i + 1)) {
        tree_[i] += difference;
    }
}

} // namespace pellix
