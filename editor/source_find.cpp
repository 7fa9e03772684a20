#include "editor/source_find.h"

#include <algorithm>
#include <cwctype>

namespace pellix {

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
    for (std::uint64_t i = 0; i < n; ++i) {
        const wint_t a = text[position + i];
        const wint_t b = needle[i];
        if (match_case ? a != b : std::towlower(a) != std::towlower(b)) {
            return false;
        }
    }
    if (!whole_word) {
        return true;
    }
    if (position > 0 && is_find_word_unit(text[position - 1])) {
        return false;
    }
    return !(position + n < length && is_find_word_unit(text[position + n]));
}

std::int64_t find_in_text(std::u16string_view text, std::u16string_view needle,
                          const FindRequest& request) {
    if (needle.empty()) {
        return -1;
    }
    const std::uint64_t length = text.size();
    const std::uint64_t n = needle.size();
    const std::uint64_t a =
        request.from < 0
            ? 0
            : std::min<std::uint64_t>(static_cast<std::uint64_t>(request.from), length);
    const std::uint64_t b =
        request.to < 0 ? length
                       : std::min<std::uint64_t>(static_cast<std::uint64_t>(request.to), length);
    auto hit = [&](std::uint64_t p) {
        return matches_at(text, p, needle, request.match_case, request.whole_word);
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
