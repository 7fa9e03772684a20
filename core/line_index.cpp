#include "core/line_index.h"

#include <algorithm>
#include <bit>
#include <numeric>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pellix {

namespace {

// Lines are read from the document this many units at a time, so that recounting a whole
// document never copies it whole.
constexpr std::uint64_t recount_chunk = 0x10000;

// Units looked at together by `ascii_run`.
constexpr std::size_t ascii_block = 8;

// A run of ASCII units without LF and the words that start in it.
struct AsciiRun {
    std::size_t units = 0;
    std::uint32_t word_starts = 0;
};

// The run from `units` up to the first LF within the next `ascii_block` units, with `in_word`
// carried over; an empty run (and `in_word` untouched) when one of those units is beyond ASCII,
// the first is an LF, or fewer are left. A whole document may be counted within one tick of the
// UI thread, and most text is ASCII: eight units at a time count it several times faster.
AsciiRun ascii_run(const char16_t* units, std::size_t left, bool& in_word) {
#if defined(__SSE2__)
    if (left < ascii_block) {
        return {};
    }
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units));
    const __m128i beyond_ascii = _mm_and_si128(block, _mm_set1_epi16(static_cast<short>(0xFF80)));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(beyond_ascii, _mm_setzero_si128())) != 0xFFFF) {
        return {};
    }
    // One bit per unit.
    const auto bits = [](__m128i lanes) {
        return static_cast<unsigned>(
            _mm_movemask_epi8(_mm_packs_epi16(lanes, _mm_setzero_si128())));
    };
    const unsigned line_feeds = bits(_mm_cmpeq_epi16(block, _mm_set1_epi16(u'\n')));
    const unsigned length = line_feeds != 0 ? std::countr_zero(line_feeds) : ascii_block;
    if (length == 0) {
        return {};
    }
    // Below 0x80 the separators are U+0009-U+000D and U+0020.
    const __m128i control = _mm_and_si128(_mm_cmpgt_epi16(block, _mm_set1_epi16(0x08)),
                                          _mm_cmplt_epi16(block, _mm_set1_epi16(0x0E)));
    const unsigned separators =
        bits(_mm_or_si128(_mm_cmpeq_epi16(block, _mm_set1_epi16(0x20)), control));
    const unsigned in_run = (1u << length) - 1;
    const unsigned word_units = ~separators & in_run;
    const unsigned after_word = ((word_units << 1) | (in_word ? 1u : 0u)) & in_run;
    in_word = ((word_units >> (length - 1)) & 1u) != 0;
    return {length, static_cast<std::uint32_t>(std::popcount(word_units & ~after_word))};
#else
    (void)units;
    (void)left;
    (void)in_word;
    return {};
#endif
}

// Lines a table grows by at least when it must grow: the usual doubling would keep room for
// twice the lines of a large document after one line more.
constexpr std::size_t table_growth = 4096;

// Replaces the entries [first, last) of a table by `entries`.
void splice(std::vector<std::uint32_t>& table, std::size_t first, std::size_t last,
            const std::vector<std::uint32_t>& entries) {
    const std::size_t size = table.size() - (last - first) + entries.size();
    if (size > table.capacity()) {
        table.reserve(std::max(size, table.size() + table_growth));
    }
    table.erase(table.begin() + static_cast<std::ptrdiff_t>(first),
                table.begin() + static_cast<std::ptrdiff_t>(last));
    table.insert(table.begin() + static_cast<std::ptrdiff_t>(first), entries.begin(),
                 entries.end());
}

// The new lines of a changed stretch, with their word counts.
struct CountedLines {
    std::vector<std::uint32_t> starts;
    std::vector<std::uint32_t> words;
    std::uint64_t total = 0;
};

// Counts `lines` lines of `text` from the line start `from`; the last one ends at an LF or at the
// end of the text.
CountedLines count_lines(const SourceDocument& text, std::uint64_t from, std::uint64_t lines) {
    CountedLines counted;
    counted.starts.reserve(lines);
    counted.words.reserve(lines);
    std::uint64_t line_start = from;
    std::uint32_t words = 0;
    bool in_word = false;
    const auto end_line = [&] {
        counted.starts.push_back(static_cast<std::uint32_t>(line_start));
        counted.words.push_back(words);
        counted.total += words;
        words = 0;
        in_word = false;
    };
    std::u16string chunk;
    for (std::uint64_t position = from;;) {
        chunk.clear();
        SourceDocument::append_range(text.root, position, recount_chunk, chunk);
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            if (const AsciiRun run = ascii_run(chunk.data() + i, chunk.size() - i, in_word);
                run.units != 0) {
                words += run.word_starts;
                i += run.units - 1;
                continue;
            }
            const char16_t unit = chunk[i];
            if (unit == u'\n') {
                end_line();
                if (counted.starts.size() == lines) {
                    return counted;
                }
                line_start = position + i + 1;
            } else if (is_word_separator(unit)) {
                in_word = false;
            } else if (!in_word) {
                in_word = true;
                ++words;
            }
        }
        position += chunk.size();
        if (chunk.size() < recount_chunk) {
            end_line();
            return counted;
        }
    }
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
    // Most text is printable ASCII, none of it white space.
    if (unit > 0x0020 && unit < 0x0085) {
        return false;
    }
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

void update_word_count(WordCountCache& cache, const SourceDocument& text) {
    const TextDifference change = text_difference(cache.previous_text, text);
    if (change.prefix == change.old_end && change.prefix == change.new_end) {
        return;
    }
    auto& starts = cache.line_starts;
    auto& words = cache.line_words;
    // Old lines [first, old_last] became new lines [first, new_last]; the lines after them keep
    // their counts, since the LFs from the end of the change on are the same in both texts.
    const auto line_at = [&starts](std::uint64_t position) {
        return static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), position) -
                                        starts.begin() - 1);
    };
    const std::size_t first = line_at(change.prefix);
    const std::size_t old_last = line_at(change.old_end);
    const std::uint64_t new_last = text.line_of(change.new_end);
    CountedLines counted = count_lines(text, starts[first], new_last - first + 1);

    cache.total -= std::accumulate(words.begin() + static_cast<std::ptrdiff_t>(first),
                                   words.begin() + static_cast<std::ptrdiff_t>(old_last + 1),
                                   std::uint64_t{0});
    cache.total += counted.total;
    // Unsigned wrap-around makes the shift right for shrinking texts too.
    const std::uint32_t delta = static_cast<std::uint32_t>(change.new_end - change.old_end);
    for (std::size_t kept = old_last + 1; kept < starts.size(); ++kept) {
        starts[kept] += delta;
    }
    splice(starts, first, old_last + 1, counted.starts);
    splice(words, first, old_last + 1, counted.words);
    cache.previous_text = text.snapshot();
}

void update_word_count(WordCountCache& cache, const std::u16string& text) {
    SourceDocument document;
    document.root = build_rope(text, 0);
    update_word_count(cache, document);
}

} // namespace pellix
