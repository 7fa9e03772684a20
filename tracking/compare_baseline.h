#pragma once

#include <string>

namespace pellix {

// The immutable text a tab is compared against: UTF-16 with LF as the only line break. Shared as
// std::shared_ptr<const CompareBaseline>; its identity tells a stale comparison from a current one.
struct CompareBaseline {
    std::u16string text;
};

// Validates the text (at most the editor's unit limit, paired surrogates) and normalises its line
// breaks. Throws std::runtime_error.
CompareBaseline make_compare_baseline(const std::u16string& text);

} // namespace pellix
