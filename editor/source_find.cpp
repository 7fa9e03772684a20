#include "editor/source_find.h"

#include <algorithm>
#include <cwctype>
#include <vector>

namespace pellix {

namespace {

constexpr std::size_t unit_count = 0x10000;

// towlower of every UTF-16 unit, taken once: a case-blind search of 8 MiB would otherwise call
// it twice per position.
const std::vector<char16_t>& lower_units() {
    static const std::vector<char16_t> table = [] {
        std::vector<char16_t> units(unit_count);
        for (std::size_t unit = 0; unit < unit_count; ++unit) {
            units[unit] = static_cast<char16_t>(std::towlower(static_cast<wint_t>(unit)));
        }
        return units;
    }();
    return table;
}

bool whole_word_at(std::u16string_view text, std::uint64_t position, std::uint64_t n) {
    if (position > 0 && is_find_word_unit(text[position - 1])) {
        return false;
    }
    return !(position + n < text.size() && is_find_word_unit(text[position + n]));
}

// Whether the needle stands at `position`, its first unit already known to match.
bool rest_matches(std::u16string_view text, std::uint64_t position, std::u16string_view needle,
                  bool match_case, const std::vector<char16_t>& lower) {
    for (std::uint64_t i = 1; i < needle.size(); ++i) {
        const char16_t a = text[position + i];
        const char16_t b = needle[i];
        if (match_case ? a != b : lower[a] != lower[b]) {
            return false;
        }
    }
    return true;
}

} // namespace

bool is_find_word_unit(char16_t unit) {
    return unit == u'_' || std::iswalnum(static_cast<wint_t>(unit));
}

bool matches_at(std::u16string_view text, std::uint64_t position, std::u16string_view needle,
                bool match_case, bool whole_word) {
    const std::uint64_t length = text.size();
    const std::uint64_t n = needle.size();
    if (position > length || length - position < n) {
        return false;
    }
    if (n > 0) {
        const std::vector<char16_t>& lower = lower_units();
        const char16_t a = text[position];
        const char16_t b = needle[0];
        if ((match_case ? a != b : lower[a] != lower[b]) ||
            !rest_matches(text, position, needle, match_case, lower)) {
            return false;
        }
    }
    return !whole_word || whole_word_at(text, position, n);
}

namespace {

std::uint64_t clamped(std::int64_t offset, std::uint64_t length, std::uint64_t negative) {
    return offset < 0 ? negative
                      : std::min<std::uint64_t>(static_cast<std::uint64_t>(offset), length);
}

} // namespace

std::uint64_t find_span(std::uint64_t length, const FindRequest& request) {
    const std::uint64_t a = clamped(request.from, length, 0);
    const std::uint64_t b = clamped(request.to, length, length);
    return a < b ? b - a : a - b;
}

std::int64_t find_in_document(const SourceDocument& document, std::u16string_view needle,
                              const FindRequest& request) {
    const std::uint64_t length = document.length();
    const std::uint64_t a = clamped(request.from, length, 0);
    const std::uint64_t b = clamped(request.to, length, length);
    const std::uint64_t low = std::min(a, b);
    const std::uint64_t first = low > 0 ? low - 1 : 0;
    const std::uint64_t end = std::min(std::max(a, b) + 1, length);
    const std::u16string window = document.text(first, end - first);
    FindRequest inside = request;
    inside.from = static_cast<std::int64_t>(a - first);
    inside.to = static_cast<std::int64_t>(b - first);
    const std::int64_t hit = find_in_text(window, needle, inside);
    return hit < 0 ? hit : hit + static_cast<std::int64_t>(first);
}

std::int64_t find_in_text(std::u16string_view text, std::u16string_view needle,
                          const FindRequest& request) {
    if (needle.empty()) {
        return -1;
    }
    const std::uint64_t length = text.size();
    const std::uint64_t n = needle.size();
    const std::uint64_t a = clamped(request.from, length, 0);
    const std::uint64_t b = clamped(request.to, length, length);
    const std::vector<char16_t>& lower = lower_units();
    const char16_t first = request.match_case ? needle[0] : lower[needle[0]];
    // The first unit is tested inline; only its matches pay for the rest of the comparison.
    auto hit = [&](std::uint64_t p) {
        const char16_t unit = request.match_case ? text[p] : lower[text[p]];
        return unit == first && rest_matches(text, p, needle, request.match_case, lower) &&
               (!request.whole_word || whole_word_at(text, p, n));
    };
    if (request.down) {
        for (std::uint64_t p = a; p + n <= b; ++p) {
            if (hit(p)) {
                return static_cast<std::int64_t>(p);
            }
        }
        return -1;
    }
    if (n > a) {
        return -1;
    }
    for (std::uint64_t p = a - n;; --p) {
        if (p < b) {
            return -1;
        }
        if (hit(p)) {
            return static_cast<std::int64_t>(p);
        }
        if (p == 0) {
            return -1;
        }
    }
}

} // namespace pellix
