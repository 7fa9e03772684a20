#include "core/line_index.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace pellix {

namespace {

std::uint64_t count_words(const char16_t* first, const char16_t* last) {
    std::uint64_t words = 0;
    bool in_word = false;
    for (; first != last; ++first) {
        if (is_word_separator(*first)) {
            in_word = false;
        } else if (!in_word) {
            in_word = true;
            ++words;
        }
    }
    return words;
}

// The stretch an edit changed: units before `prefix` are equal in both texts, and so are the
// units from `old_end` in the old text and from `new_end` in the new one.
struct ChangedStretch {
    std::uint64_t prefix = 0;
    std::uint64_t old_end = 0;
    std::uint64_t new_end = 0;
};

// Whole blocks are compared with memcmp first: on a large document nearly all of the text is
// equal, and a block compare is many times faster than a unit-by-unit loop.
constexpr std::size_t compare_block = 2048;

ChangedStretch find_changed_stretch(const std::u16string& old_text, const std::u16string& text) {
    const char16_t* old_units = old_text.data();
    const char16_t* new_units = text.data();
    const std::size_t shorter = std::min(old_text.size(), text.size());
    std::size_t prefix = 0;
    while (prefix + compare_block <= shorter &&
           std::memcmp(old_units + prefix, new_units + prefix, compare_block * 2) == 0) {
        prefix += compare_block;
    }
    while (prefix < shorter && old_units[prefix] == new_units[prefix]) {
        ++prefix;
    }
    std::size_t old_end = old_text.size();
    std::size_t new_end = text.size();
    while (old_end >= prefix + compare_block && new_end >= prefix + compare_block &&
           std::memcmp(old_units + old_end - compare_block, new_units + new_end - compare_block,
                       compare_block * 2) == 0) {
        old_end -= compare_block;
        new_end -= compare_block;
    }
    while (prefix < old_end && prefix < new_end &&
           old_units[old_end - 1] == new_units[new_end - 1]) {
        --old_end;
        --new_end;
    }
    return ChangedStretch{prefix, old_end, new_end};
}

// The first old line at or after the change whose start, shifted by `delta`, is still a line
// start of the new text; its lines can be kept with their counts. Returns the number of old
// lines when none is left to keep.
std::size_t first_kept_line(const std::vector<std::uint64_t>& starts, std::size_t changed_line,
                            const ChangedStretch& stretch, const std::u16string& text,
                            std::uint64_t delta) {
    std::size_t j = static_cast<std::size_t>(
        std::lower_bound(starts.begin(), starts.end(), stretch.old_end) - starts.begin());
    for (j = std::max(j, changed_line + 1); j < starts.size(); ++j) {
        const std::uint64_t shifted = starts[j] + delta;
        if (shifted == 0 || text[shifted - 1] == u'\n') {
            break;
        }
    }
    return j;
}

// Counts the lines of `text` that start in [from, stop_at) and appends them to the tables.
// Returns false when the last line counted ran to the end of the text without a LF.
bool recount_lines(const std::u16string& text, std::uint64_t from, std::uint64_t stop_at,
                   std::vector<std::uint64_t>& starts, std::vector<std::uint64_t>& words,
                   std::uint64_t& next_start) {
    const std::uint64_t size = text.size();
    std::uint64_t t = from;
    while (t < stop_at) {
        std::size_t lf = text.find(u'\n', t);
        const std::uint64_t end = lf == std::u16string::npos ? size : lf;
        starts.push_back(t);
        words.push_back(count_words(text.data() + t, text.data() + end));
        if (end == size) {
            next_start = size;
            return false;
        }
        t = end + 1;
    }
    next_start = t;
    return true;
}

} // namespace

std::vector<std::uint64_t> line_starts(const std::u16string& text) {
    std::vector<std::uint64_t> starts{0};
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\n') {
            starts.push_back(i + 1);
        }
    }
    return starts;
}

bool is_word_separator(char16_t unit) {
    switch (unit) {
    case 0x0009:
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0020:
    case 0x0085:
    case 0x00A0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
        return true;
    default:
        return unit >= 0x2000 && unit <= 0x200A;
    }
}

void update_word_count(WordCountCache& cache, const std::u16string& text) {
    const ChangedStretch stretch = find_changed_stretch(cache.previous_text, text);
    if (cache.previous_text.size() == text.size() && stretch.prefix == text.size()) {
        return;
    }
    // Unsigned wrap-around makes `start + delta` right for shrinking texts too.
    const std::uint64_t delta = stretch.new_end - stretch.old_end;
    const auto& old_starts = cache.line_starts;
    const auto& old_words = cache.line_words;

    const std::size_t changed_line = static_cast<std::size_t>(
        std::upper_bound(old_starts.begin(), old_starts.end(), stretch.prefix) -
        old_starts.begin() - 1);
    const std::size_t kept = first_kept_line(old_starts, changed_line, stretch, text, delta);
    const std::uint64_t stop_at = kept < old_starts.size() ? old_starts[kept] + delta : text.size();

    std::vector<std::uint64_t> starts;
    std::vector<std::uint64_t> words;
    starts.reserve(old_starts.size() + 16);
    words.reserve(old_starts.size() + 16);
    starts.assign(old_starts.begin(), old_starts.begin() + changed_line);
    words.assign(old_words.begin(), old_words.begin() + changed_line);
    std::uint64_t next_start = 0;
    bool open_line =
        recount_lines(text, old_starts[changed_line], stop_at, starts, words, next_start);
    // A text ending in LF (or an empty one) has a last, empty line that no kept line supplies.
    if (open_line && kept == old_starts.size() && next_start == text.size()) {
        starts.push_back(next_start);
        words.push_back(0);
    }
    for (std::size_t i = kept; i < old_starts.size(); ++i) {
        starts.push_back(old_starts[i] + delta);
        words.push_back(old_words[i]);
    }

    cache.total = std::accumulate(words.begin(), words.end(), std::uint64_t{0});
    cache.previous_text = text;
    cache.line_starts = std::move(starts);
    cache.line_words = std::move(words);
}

} // namespace pellix
