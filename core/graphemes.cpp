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
// Every regional indicator is a surrogate pair.
constexpr std::size_t regional_indicator_units = 2;
constexpr std::size_t regional_indicators_seen = grapheme_run_units / regional_indicator_units;
// A search looks back over a run from each position it tries, and at the code point before it,
// and reads one unit past its farthest answer.
static_assert(grapheme_context_units >= grapheme_longest_units + grapheme_run_units + 4);

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

// An emoji, then at most grapheme_run_units of extending marks, then the joiner that ends at
// `at`.
bool joined_pictograph_before(std::u16string_view text, std::size_t at) {
    const std::size_t joiner = code_point_before(text, at);
    for (at = joiner; at > 0;) {
        at = code_point_before(text, at);
        const K kind = class_of(code_point_at(text, at));
        if (kind != K::extend) {
            return kind == K::pictographic;
        }
        if (joiner - at > grapheme_run_units) {
            return false;
        }
    }
    return false;
}

// Regional indicators are U+1F1E6 to U+1F1FF: each is a pair of these surrogates. Read from
// the units, a long run is counted without a table search per indicator.
constexpr char16_t indicator_high = 0xD83C;
constexpr char16_t indicator_low_first = 0xDDE6;
constexpr char16_t indicator_low_last = 0xDDFF;

bool regional_indicator_at(std::u16string_view text, std::size_t at) {
    return at + 1 < text.size() && text[at] == indicator_high &&
           text[at + 1] >= indicator_low_first && text[at + 1] <= indicator_low_last;
}

bool regional_indicator_before(std::u16string_view text, std::size_t at) {
    return at >= regional_indicator_units &&
           regional_indicator_at(text, at - regional_indicator_units);
}

// The regional indicators that end at `at`, at most `most` of them, and no further back than
// `floor`.
std::size_t regional_indicators_before(std::u16string_view text, std::size_t at, std::size_t most,
                                       std::size_t floor = 0) {
    std::size_t count = 0;
    for (; count < most && at > floor && regional_indicator_before(text, at); ++count) {
        at -= regional_indicator_units;
    }
    return count;
}

// Whether regional indicators end at `at` that pair up with the one after it: an odd number of
// them, or (past the bound) none.
bool open_flag_before(std::u16string_view text, std::size_t at) {
    const std::size_t count = regional_indicators_before(text, at, regional_indicators_seen);
    return count < regional_indicators_seen && count % 2 == 1;
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
        return !open_flag_before(text, at);
    }
    return true;
}

// Not inside a surrogate pair.
bool between_code_points(std::u16string_view text, std::size_t at) {
    return at == 0 || at >= text.size() || !low_surrogate(text[at]) ||
           !high_surrogate(text[at - 1]);
}

// The last position at or before `at` that `boundary` accepts, searching back at most
// grapheme_longest_units, and never inside a surrogate pair.
template <typename Boundary>
std::size_t boundary_before(std::u16string_view text, std::size_t at, Boundary boundary) {
    at = std::min(at, text.size());
    const std::size_t farthest = at - std::min(at, grapheme_longest_units);
    while (at > farthest && !boundary(text, at)) {
        --at;
    }
    return between_code_points(text, at) ? at : at + 1;
}

// The first position after `at` that `boundary` accepts, searching on at most
// grapheme_longest_units, and never inside a surrogate pair.
template <typename Boundary>
std::size_t boundary_after(std::u16string_view text, std::size_t at, Boundary boundary) {
    if (at >= text.size()) {
        return text.size();
    }
    const std::size_t farthest = std::min(text.size(), at + grapheme_longest_units);
    do {
        ++at;
    } while (at < farthest && !boundary(text, at));
    return between_code_points(text, at) ? at : at + 1;
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
    return boundary_before(text, at, is_grapheme_boundary);
}

std::size_t grapheme_boundary_after(std::u16string_view text, std::size_t at) {
    return boundary_after(text, at, is_grapheme_boundary);
}

std::size_t grapheme_cut(std::u16string_view text, std::size_t start, std::size_t at) {
    std::size_t cut =
        std::max(grapheme_boundary_before(text, at), grapheme_boundary_after(text, start));
    const bool between_indicators =
        regional_indicator_before(text, cut) && regional_indicator_at(text, cut);
    if (between_indicators && regional_indicators_before(text, cut, text.size(), start) % 2 == 1) {
        const bool flag_fits = cut - start > regional_indicator_units;
        cut = flag_fits ? cut - regional_indicator_units : cut + regional_indicator_units;
    }
    return cut;
}

bool is_piece_boundary(std::u16string_view piece, std::size_t at) {
    if (regional_indicator_before(piece, at) && regional_indicator_at(piece, at)) {
        return regional_indicators_before(piece, at, piece.size()) % 2 == 0;
    }
    return is_grapheme_boundary(piece, at);
}

std::size_t piece_boundary_before(std::u16string_view piece, std::size_t at) {
    return boundary_before(piece, at, is_piece_boundary);
}

std::size_t piece_boundary_after(std::u16string_view piece, std::size_t at) {
    return boundary_after(piece, at, is_piece_boundary);
}

} // namespace pellix
