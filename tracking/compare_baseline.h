#pragma once

#include <cstddef>
#include <string>

namespace pellix {

// The immutable text a tab is compared against: UTF-16 with LF as the only line break. Shared as
// std::shared_ptr<const CompareBaseline>; its identity tells a stale comparison from a current one.
struct CompareBaseline {
    std::u16string text;
};

inline constexpr std::size_t compare_baseline_limit = 0x800000;

// Validates the text (length, surrogate pairs) and normalises its line breaks. Throws
// std::runtime_error.
CompareBaseline make_compare_baseline(const std::u16string& text);

} // namespace pellix
