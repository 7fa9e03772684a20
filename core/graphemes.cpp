#include "core/graphemes.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace pellix {
namespace {

enum class K : std::uint8_t {
    other,
    cr,
    lf,
    control,
    extend,
    zwj,
    spacing_mark,
    prepend,
    regional_indicator,
    hangul_l,
    hangul_v,
    hangul_t,
    hangul_lv,
    hangul_lvt,
    pictographic,
};

struct ClassRange {
    char32_t first;
    char32_t last;
    K kind;
};

constexpr ClassRange class_ranges[] = {
#include "core/grapheme_classes.inc"
};

constexpr char32_t syllables_first = 0xAC00;
constexpr char32_t syllables_last = 0xD7A3;
// Each leading consonant and vowel begins a run of this many syllables: the bare pair, then one
// per trailing consonant.
constexpr char32_t syllables_per_pair = 28;
// A run of marks or joined emoji longer than this is no character anyone reads as one: cut
// inside it, so that a piece stays within its bound and a search for a boundary stays short.
constexpr std::size_t longest_character_units = 256;
// Regional indicators pair up counting from the first of a run; a run longer than this is taken
// as even, so that a cut looks back a bounded way however long the run.
constexpr int regional_indicators_seen = 64;

K class_of(char32_t c) {
    if (c >= syllables_first && c <= syllables_last) {
        return (c - syllables_first) % syllables_per_pair == 0 ? K::hangul_lv : K::hangul_lvt;
    }
    const auto* end = std::end(class_ranges);
    const auto* range =
        std::upper_bound(std::begin(class_ranges), end, c,
                         [](char32_t v, const ClassRange& r) { return v < r.first; });
    if (range == std::begin(class_ranges) || c > (range - 1)->last) {
        return K::other;
    }
    return (range - 1)->kind;
}

bool high_surrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool low_surrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The code point that starts at `at` (a lone surrogate stands for itself).
char32_t code_point_at(std::u16string_view text, std::size_t at) {
    if (high_surrogate(text[at]) && at + 1 < text.size() && low_surrogate(text[at + 1])) {
        return 0x10000 + ((static_cast<char32_t>(text[at]) - 0xD800) << 10) +
               (static_cast<char32_t>(text[at + 1]) - 0xDC00);
    }
    return text[at];
}

// The start of the code point that ends at `at` (> 0).
std::size_t code_point_before(std::u16string_view text, std::size_t at) {
    if (at >= 2 && low_surrogate(text[at - 1]) && high_surrogate(text[at - 2])) {
        return at - 2;
    }
    return at - 1;
}

// An emoji, then any extending marks, then the joiner that ends at `at`.
bool joined_pictograph_before(std::u16string_view text, std::size_t at) {
    at = code_point_before(text, at);
    while (at > 0) {
        at = code_point_before(text, at);
        const K kind = class_of(code_point_at(text, at));
        if (kind != K::extend) {
            return kind == K::pictographic;
        }
    }
    return false;
}

// Whether an odd number of regional indicators ends at `at`.
bool odd_regional_indicators_before(std::u16string_view text, std::size_t at) {
    int count = 0;
    while (at > 0 && count < regional_indicators_seen) {
        at = code_point_before(text, at);
        if (class_of(code_point_at(text, at)) != K::regional_indicator) {
            break;
        }
        ++count;
    }
    return count % 2 == 1;
}

bool breaks_between(std::u16string_view text, std::size_t at, K before, K after) {
    if (before == K::cr && after == K::lf) {
        return false;
    }
    auto control = [](K k) { return k == K::cr || k == K::lf || k == K::control; };
    if (control(before) || control(after)) {
        return true;
    }
    if (before == K::hangul_l && (after == K::hangul_l || after == K::hangul_v ||
                                  after == K::hangul_lv || after == K::hangul_lvt)) {
        return false;
    }
    if ((before == K::hangul_lv || before == K::hangul_v) &&
        (after == K::hangul_v || after == K::hangul_t)) {
        return false;
    }
    if ((before == K::hangul_lvt || before == K::hangul_t) && after == K::hangul_t) {
        return false;
    }
    if (after == K::extend || after == K::zwj || after == K::spacing_mark || before == K::prepend) {
        return false;
    }
    if (before == K::zwj && after == K::pictographic) {
        return !joined_pictograph_before(text, at);
    }
    if (before == K::regional_indicator && after == K::regional_indicator) {
        return !odd_regional_indicators_before(text, at);
    }
    return true;
}

// Not inside a surrogate pair.
bool between_code_points(std::u16string_view text, std::size_t at) {
    return at == 0 || at >= text.size() || !low_surrogate(text[at]) ||
           !high_surrogate(text[at - 1]);
}

} // namespace

bool is_grapheme_boundary(std::u16string_view text, std::size_t at) {
    if (at == 0 || at >= text.size()) {
        return true;
    }
    if (!between_code_points(text, at)) {
        return false;
    }
    const K before = class_of(code_point_at(text, code_point_before(text, at)));
    return breaks_between(text, at, before, class_of(code_point_at(text, at)));
}

std::size_t grapheme_boundary_before(std::u16string_view text, std::size_t at) {
    at = std::min(at, text.size());
    const std::size_t farthest = at - std::min(at, longest_character_units);
    while (at > farthest && !is_grapheme_boundary(text, at)) {
        --at;
    }
    return between_code_points(text, at) ? at : at + 1;
}

std::size_t grapheme_boundary_after(std::u16string_view text, std::size_t at) {
    if (at >= text.size()) {
        return text.size();
    }
    const std::size_t farthest = std::min(text.size(), at + longest_character_units);
    do {
        ++at;
    } while (at < farthest && !is_grapheme_boundary(text, at));
    return between_code_points(text, at) ? at : at + 1;
}

std::size_t grapheme_cut(std::u16string_view text, std::size_t start, std::size_t at) {
    return std::max(grapheme_boundary_before(text, at), grapheme_boundary_after(text, start));
}

} // namespace pellix
