#pragma once

#include <cstdint>
#include <vector>

namespace pellix {

// One height per source line with a Fenwick tree over them, so that the top of a line and the
// line at a vertical position both cost O(log n) while single heights keep changing from
// estimates to measured values.
class HeightTree {
public:
    // Takes over `heights` and builds the tree in linear time.
    void assign(std::vector<double> heights);

    std::uint64_t size() const { return heights_.size(); }
    double height(std::uint64_t line) const { return heights_[line]; }
    const std::vector<double>& heights() const { return heights_; }

    // Sum of the heights of lines 0 .. k - 1; k is clamped to the line count.
    double prefix(std::uint64_t k) const;
    // The line whose top is the last one at or above y: a y on the border between two lines
    // gives the lower line, a negative y line 0, a y beyond the end the last line; 0 when empty.
    std::uint64_t line_at(double y) const;
    void set_height(std::uint64_t line, double height);

private:
    std::vector<double> heights_;
    std::vector<double> tree_; // size() + 1 entries; entry 0 holds nothing
};

} // namespace pellix
