#include "core/encoding.h"

#include "core/code_pages.h"

#include <emmintrin.h>

#include <array>
#include <cstring>
#include <stdexcept>

namespace pellix {
namespace {

constexpr const char* invalid_utf8_lead = "Invalid UTF-8. Use UTF-8 or BOM-marked UTF-16.";
constexpr const char* incomplete_utf8 = "Incomplete UTF-8 sequence.";
constexpr const char* invalid_utf8_continuation = "Invalid UTF-8 continuation byte.";
constexpr const char* overlong_utf8 = "Invalid UTF-8 sequence.";
constexpr const char* invalid_character = "Invalid Unicode character.";
constexpr const char* incomplete_surrogate_pair = "Incomplete UTF-16 surrogate pair.";
constexpr const char* lone_low_surrogate = "Invalid UTF-16 surrogate.";
constexpr const char* unsupported_encoding = "Unsupported text encoding.";
constexpr const char* over_editing_limit = "File exceeds the 8 MiB editing limit.";
constexpr const char* nul_byte_in_code_page = "Embedded NUL characters are not supported.";
constexpr const char* odd_utf16_file = "Incomplete UTF-16 file.";
constexpr const char* nul_in_text =
    "Embedded NUL characters are not supported; the file was not opened.";
constexpr const char* nul_on_save = "Cannot save embedded NUL characters.";
constexpr const char* unrepresentable =
    "Text cannot be represented in the selected encoding. Choose UTF-8; the original file was not "
    "replaced.";

constexpr char16_t cr = u'\r';
constexpr char16_t lf = u'\n';

[[noreturn]] void fail(const char* message) {
    throw std::runtime_error(message);
}

bool is_surrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDFFF;
}
bool is_low_surrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Throws unless the surrogate at `in` is the high half of a complete pair.
void check_surrogate_pair(const char16_t* in, const char16_t* end) {
    if (is_low_surrogate(*in)) {
        fail(lone_low_surrogate);
    }
    if (in + 1 == end || !is_low_surrogate(in[1])) {
        fail(incomplete_surrogate_pair);
    }
}

bool is_line_break(char16_t unit) {
    return unit == cr || unit == lf;
}

// `in` is at a CR or LF; returns the unit after that line break, a CR LF pair being one break.
const char16_t* skip_line_break(const char16_t* in, const char16_t* end) {
    return *in == cr && in + 1 < end && in[1] == lf ? in + 2 : in + 1;
}

// ---- UTF-8 to UTF-16 ----------------------------------------------------------------------

// Decodes the multi-byte sequence at `in` (its lead is not ASCII); returns the byte after it.
const unsigned char* decode_utf8_sequence(const unsigned char* in, const unsigned char* end,
                                          char16_t*& out) {
    const unsigned lead = *in;
    if (lead < 0xC2 || lead > 0xF4) {
        fail(invalid_utf8_lead);
    }
    const int trailing = lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    if (end - in - 1 < trailing) {
        fail(incomplete_utf8);
    }
    std::uint32_t value = lead & (0x3Fu >> trailing);
    for (int i = 1; i <= trailing; ++i) {
        const unsigned byte = in[i];
        if ((byte & 0xC0) != 0x80) {
            fail(invalid_utf8_continuation);
        }
        value = (value << 6) | (byte & 0x3F);
    }
    if ((trailing == 2 && value < 0x800) || (trailing == 3 && value < 0x10000)) {
        fail(overlong_utf8);
    }
    if ((value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
        fail(invalid_character);
    }
    if (value < 0x10000) {
        *out++ = static_cast<char16_t>(value);
    } else {
        value -= 0x10000;
        *out++ = static_cast<char16_t>(0xD800 + (value >> 10));
        *out++ = static_cast<char16_t>(0xDC00 + (value & 0x3FF));
    }
    return in + trailing + 1;
}

// How a text broke its lines before normalisation, and whether it held a NUL.
struct BreakTally {
    std::size_t crlf = 0;
    std::size_t lone_cr = 0;
    std::size_t lone_lf = 0;
    bool nul = false;
};

// Decodes the byte at `in`, or the sequence it leads. For a document, CR LF and lone CR become
// LF and are tallied, and a NUL is noted (it is refused only once the whole text is known to be
// valid UTF-8).
template <bool ForDocument>
const unsigned char* decode_utf8_at(const unsigned char* in, const unsigned char* end,
                                    char16_t*& out, BreakTally& tally) {
    const unsigned char byte = *in;
    if (byte >= 0x80) {
        return decode_utf8_sequence(in, end, out);
    }
    if constexpr (ForDocument) {
        if (byte == '\r') {
            *out++ = lf;
            if (in + 1 < end && in[1] == '\n') {
                ++tally.crlf;
                return in + 2;
            }
            ++tally.lone_cr;
            return in + 1;
        }
        tally.nul |= byte == 0;
    }
    *out++ = byte;
    return in + 1;
}

// The two- and three-byte forms of the European and Asian scripts, decoded inline; anything
// else, faults included, goes to the full check.
inline const unsigned char* decode_common_sequence(const unsigned char* in,
                                                   const unsigned char* end, char16_t*& out) {
    const unsigned lead = in[0];
    if (lead >= 0xC2 && lead <= 0xDF && end - in >= 2 && (in[1] & 0xC0) == 0x80) {
        *out++ = static_cast<char16_t>(((lead & 0x1F) << 6) | (in[1] & 0x3F));
        return in + 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF && end - in >= 3 && (in[1] & 0xC0) == 0x80 &&
        (in[2] & 0xC0) == 0x80) {
        const unsigned value = ((lead & 0x0F) << 12) | ((in[1] & 0x3F) << 6) | (in[2] & 0x3F);
        if (value >= 0x800 && (value < 0xD800 || value > 0xDFFF)) {
            *out++ = static_cast<char16_t>(value);
            return in + 3;
        }
    }
    return decode_utf8_sequence(in, end, out);
}

// Sums the byte lanes of a counter vector.
std::size_t sum_bytes(__m128i counters) {
    const __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());
    return static_cast<std::size_t>(_mm_cvtsi128_si64(sums)) +
           static_cast<std::size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
}

// The one pass from UTF-8 to UTF-16. Sixteen ASCII bytes are widened at once; a chunk with a
// byte that needs attention (non-ASCII, and for a document also CR and NUL) is still widened
// whole, the units past that byte being overwritten by what follows (the output never runs
// ahead of the input).
template <bool ForDocument>
std::u16string decode_utf8(const unsigned char* in, const unsigned char* end, BreakTally& tally) {
    // Never more units than bytes; the excess is cut at the end.
    std::u16string result(static_cast<std::size_t>(end - in), u'\0');
    char16_t* out = result.data();
    const __m128i zero = _mm_setzero_si128();
    [[maybe_unused]] const __m128i cr_bytes = _mm_set1_epi8('\r');
    [[maybe_unused]] const __m128i lf_bytes = _mm_set1_epi8('\n');
    __m128i lf_counters = zero; // one byte lane each, emptied before it can wrap
    int chunks_counted = 0;
    std::size_t lfs = 0;
    while (end - in >= 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(chunk, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(chunk, zero));
        auto attention = static_cast<unsigned>(_mm_movemask_epi8(chunk));
        if constexpr (ForDocument) {
            attention |= static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, cr_bytes)) |
                                               _mm_movemask_epi8(_mm_cmpeq_epi8(chunk, zero)));
            const __m128i lf_lanes = _mm_cmpeq_epi8(chunk, lf_bytes);
            if (attention == 0) {
                lf_counters = _mm_sub_epi8(lf_counters, lf_lanes);
                if (++chunks_counted == 255) {
                    lfs += sum_bytes(lf_counters);
                    lf_counters = zero;
                    chunks_counted = 0;
                }
            } else {
                const unsigned before = (1u << __builtin_ctz(attention)) - 1;
                lfs += static_cast<std::size_t>(__builtin_popcount(
                    static_cast<unsigned>(_mm_movemask_epi8(lf_lanes)) & before));
            }
        }
        if (attention == 0) {
            in += 16;
            out += 16;
            continue;
        }
        const int plain = __builtin_ctz(attention);
        in += plain;
        out += plain;
        in = decode_utf8_at<ForDocument>(in, end, out, tally);
        // A run of non-Latin text goes on without the vector test failing at every character.
        while (in < end && *in >= 0x80) {
            in = decode_common_sequence(in, end, out);
        }
    }
    while (in < end) {
        if constexpr (ForDocument) {
            lfs += *in == '\n';
        }
        in = decode_utf8_at<ForDocument>(in, end, out, tally);
    }
    tally.lone_lf = lfs + sum_bytes(lf_counters);
    result.resize(static_cast<std::size_t>(out - result.data()));
    return result;
}

// ---- UTF-16 to UTF-8 ----------------------------------------------------------------------

// Room left after UTF-8 output for the last eight-byte vector store.
constexpr std::size_t vector_slack = 8;

// Worst-case UTF-8 size of one unit: a surrogate counts 3 although a pair needs only 4 bytes.
inline std::size_t utf8_upper_bound(char16_t unit) {
    return 1 + (unit >= 0x80) + (unit >= 0x800);
}

// Encodes the code point at `in` and returns the unit after it. With Translate, CR LF, lone CR
// and LF each become `line_break`, as if the text had first been normalised to LF.
template <bool Translate>
const char16_t* encode_utf8_unit(const char16_t* in, const char16_t* end, char*& out,
                                 std::string_view line_break) {
    const char16_t unit = *in;
    if constexpr (Translate) {
        if (is_line_break(unit)) {
            std::memcpy(out, line_break.data(), line_break.size());
            out += line_break.size();
            return skip_line_break(in, end);
        }
    }
    if (unit < 0x80) {
        *out++ = static_cast<char>(unit);
        return in + 1;
    }
    if (unit < 0x800) {
        *out++ = static_cast<char>(0xC0 | (unit >> 6));
        *out++ = static_cast<char>(0x80 | (unit & 0x3F));
        return in + 1;
    }
    if (is_surrogate(unit)) {
        check_surrogate_pair(in, end);
        const std::uint32_t value = 0x10000 + ((unit - 0xD800u) << 10) + (in[1] - 0xDC00u);
        *out++ = static_cast<char>(0xF0 | (value >> 18));
        *out++ = static_cast<char>(0x80 | ((value >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (value & 0x3F));
        return in + 2;
    }
    *out++ = static_cast<char>(0xE0 | (unit >> 12));
    *out++ = static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (unit & 0x3F));
    return in + 1;
}

// Writes the UTF-8 form of [in, end) at `out`, which has room for the worst case plus eight
// bytes, and returns the end of what was written. Runs of eight ASCII units (line breaks excluded
// when they are translated) are narrowed with one SSE2 pack.
template <bool Translate>
char* encode_utf8(const char16_t* in, const char16_t* end, char* out, std::string_view line_break) {
    const __m128i non_ascii_bits = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i zero = _mm_setzero_si128();
    [[maybe_unused]] const __m128i cr_units = _mm_set1_epi16(cr);
    [[maybe_unused]] const __m128i lf_units = _mm_set1_epi16(lf);
    while (end - in >= 8) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        __m128i plain = _mm_cmpeq_epi16(_mm_and_si128(chunk, non_ascii_bits), zero);
        if constexpr (Translate) {
            const __m128i breaks =
                _mm_or_si128(_mm_cmpeq_epi16(chunk, cr_units), _mm_cmpeq_epi16(chunk, lf_units));
            plain = _mm_andnot_si128(breaks, plain);
        }
        // Stored whole; bytes past the first unit that needs attention are overwritten by what
        // follows (the caller leaves room for that).
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(chunk, chunk));
        const auto mask = static_cast<unsigned>(_mm_movemask_epi8(plain));
        if (mask == 0xFFFF) {
            in += 8;
            out += 8;
            continue;
        }
        const int run = __builtin_ctz(~mask) / 2;
        in += run;
        out += run;
        in = encode_utf8_unit<Translate>(in, end, out, line_break);
        // A run of non-Latin text goes on without the vector test failing at every character.
        while (in < end && *in >= 0x80) {
            in = encode_utf8_unit<Translate>(in, end, out, line_break);
        }
    }
    while (in < end) {
        in = encode_utf8_unit<Translate>(in, end, out, line_break);
    }
    return out;
}

// Runs the same checks as the UTF-8 conversion without producing anything.
void validate_utf16(const char16_t* in, const char16_t* end) {
    while (in < end) {
        if (is_surrogate(*in)) {
            check_surrogate_pair(in, end);
            in += 2;
        } else {
            ++in;
        }
    }
}

// ---- Line endings -------------------------------------------------------------------------

// What one pass over a text learns about its line breaks, NULs and UTF-8 size.
struct UnitCounts {
    std::size_t crs = 0;
    std::size_t lfs = 0;
    std::size_t crlf_pairs = 0;
    std::size_t nuls = 0;
    std::size_t utf8_extra = 0; // bytes beyond one per unit, worst case

    std::size_t lone_crs() const { return crs - crlf_pairs; }
    std::size_t lone_lfs() const { return lfs - crlf_pairs; }
};

void count_unit(UnitCounts& counts, char16_t unit, char16_t previous) {
    counts.crs += unit == cr;
    counts.lfs += unit == lf;
    counts.nuls += unit == 0;
    counts.utf8_extra += utf8_upper_bound(unit) - 1;
    counts.crlf_pairs += (unit == lf) & (previous == cr);
}

// Sums the 16-bit lanes of a counter vector.
std::size_t sum_lanes(__m128i counters) {
    const __m128i pairs = _mm_madd_epi16(counters, _mm_set1_epi16(1));
    const __m128i halves = _mm_add_epi32(pairs, _mm_shuffle_epi32(pairs, 0x4E));
    const __m128i total = _mm_add_epi32(halves, _mm_shuffle_epi32(halves, 0xB1));
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(total));
}

// Eight units per step; each 16-bit lane counts at most one hit per step and is emptied every
// 4096 steps, well before it could wrap.
UnitCounts count_units(const std::u16string& text) {
    UnitCounts counts;
    const char16_t* units = text.data();
    const std::size_t size = text.size();
    if (size == 0) {
        return counts;
    }
    count_unit(counts, units[0], 0);
    std::size_t i = 1;
    const __m128i zero = _mm_setzero_si128();
    const __m128i cr_units = _mm_set1_epi16(cr);
    const __m128i lf_units = _mm_set1_epi16(lf);
    const __m128i two_byte_bits = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i three_byte_bits = _mm_set1_epi16(static_cast<short>(0xF800));
    while (size - i >= 8) {
        __m128i crs = zero, lfs = zero, nuls = zero, pairs = zero, extra = zero;
        for (int step = 0; step < 4096 && size - i >= 8; ++step, i += 8) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
            const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i - 1));
            const __m128i is_cr = _mm_cmpeq_epi16(chunk, cr_units);
            const __m128i is_lf = _mm_cmpeq_epi16(chunk, lf_units);
            crs = _mm_sub_epi16(crs, is_cr);
            lfs = _mm_sub_epi16(lfs, is_lf);
            nuls = _mm_sub_epi16(nuls, _mm_cmpeq_epi16(chunk, zero));
            pairs = _mm_sub_epi16(pairs, _mm_and_si128(is_lf, _mm_cmpeq_epi16(before, cr_units)));
            // Two extra bytes per lane, less one for a unit below 0x800 and one more for a unit
            // below 0x80 (a mask lane is -1).
            extra =
                _mm_add_epi16(extra, _mm_cmpeq_epi16(_mm_and_si128(chunk, two_byte_bits), zero));
            extra =
                _mm_add_epi16(extra, _mm_cmpeq_epi16(_mm_and_si128(chunk, three_byte_bits), zero));
            extra = _mm_add_epi16(extra, _mm_set1_epi16(2));
        }
        counts.crs += sum_lanes(crs);
        counts.lfs += sum_lanes(lfs);
        counts.nuls += sum_lanes(nuls);
        counts.crlf_pairs += sum_lanes(pairs);
        counts.utf8_extra += sum_lanes(extra);
    }
    for (; i < size; ++i) {
        count_unit(counts, units[i], units[i - 1]);
    }
    return counts;
}

LineEnding vote_line_ending(const BreakTally& tally) {
    if (tally.crlf > 0 && tally.crlf >= tally.lone_cr && tally.crlf >= tally.lone_lf) {
        return LineEnding::crlf;
    }
    if (tally.lone_lf >= tally.lone_cr) {
        // A text without any line break takes the platform's own style.
        return tally.lone_lf == 0 ? LineEnding::crlf : LineEnding::lf;
    }
    return LineEnding::cr;
}

// Compacts the text in place: CR LF and lone CR become LF.
void normalize_in_place(std::u16string& text) {
    char16_t* write = text.data();
    const char16_t* read = text.data();
    const char16_t* end = read + text.size();
    while (read < end) {
        const char16_t unit = *read++;
        if (unit == cr) {
            if (read < end && *read == lf) {
                ++read;
            }
            *write++ = lf;
        } else {
            *write++ = unit;
        }
    }
    text.resize(static_cast<std::size_t>(write - text.data()));
}

// ---- Decoding -----------------------------------------------------------------------------

std::u16string decode_code_page(const std::string& bytes, Encoding encoding) {
    const CodePageTable& table = code_page_table(encoding);
    std::u16string text(bytes.size(), u'\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte == 0) {
            fail(nul_byte_in_code_page);
        }
        text[i] = table[byte];
    }
    return text;
}

std::u16string decode_utf16(const std::string& bytes, bool big_endian) {
    if (bytes.size() % 2 != 0) {
        fail(odd_utf16_file);
    }
    std::u16string text((bytes.size() - 2) / 2, u'\0');
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data()) + 2;
    for (char16_t& unit : text) {
        unit = big_endian ? static_cast<char16_t>((in[0] << 8) | in[1])
                          : static_cast<char16_t>(in[0] | (in[1] << 8));
        in += 2;
    }
    validate_utf16(text.data(), text.data() + text.size());
    return text;
}

bool starts_with_bytes(const std::string& bytes, std::initializer_list<unsigned char> prefix) {
    if (bytes.size() < prefix.size()) {
        return false;
    }
    std::size_t i = 0;
    for (unsigned char byte : prefix) {
        if (static_cast<unsigned char>(bytes[i++]) != byte) {
            return false;
        }
    }
    return true;
}

BreakTally tally_of(const UnitCounts& counts) {
    return {counts.crlf_pairs, counts.lone_crs(), counts.lone_lfs(), counts.nuls != 0};
}

// Counts and normalises a text decoded from UTF-16 or a code page.
BreakTally normalize_decoded(std::u16string& text) {
    const UnitCounts counts = count_units(text);
    if (counts.nuls == 0 && counts.crs != 0) {
        normalize_in_place(text);
    }
    return tally_of(counts);
}

// Decodes a request of 0-3, which the byte-order mark (or its absence) overrides.
BreakTally decode_detected(const std::string& bytes, Document& document) {
    const auto* begin = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = begin + bytes.size();
    BreakTally tally;
    if (starts_with_bytes(bytes, {0xFE, 0xFF})) {
        document.encoding = Encoding::utf16_be;
        document.text = decode_utf16(bytes, true);
        return normalize_decoded(document.text);
    }
    if (starts_with_bytes(bytes, {0xFF, 0xFE})) {
        document.encoding = Encoding::utf16_le;
        document.text = decode_utf16(bytes, false);
        return normalize_decoded(document.text);
    }
    if (starts_with_bytes(bytes, {0xEF, 0xBB, 0xBF})) {
        document.encoding = Encoding::utf8_bom;
        document.text = decode_utf8<true>(begin + 3, end, tally);
        return tally;
    }
    document.encoding = Encoding::utf8;
    document.text = decode_utf8<true>(begin, end, tally);
    return tally;
}

// ---- Encoding -----------------------------------------------------------------------------

std::string_view line_break_bytes(LineEnding line_ending) {
    switch (line_ending) {
    case LineEnding::lf:
        return "\n";
    case LineEnding::cr:
        return "\r";
    default:
        return "\r\n";
    }
}

// The sizes of a text to save, once CR LF and lone CR count as one line break each.
struct SaveMeasure {
    std::size_t plain_units = 0; // units other than CR and LF
    std::size_t breaks = 0;
    std::size_t utf8_extra = 0;
};

SaveMeasure measure_for_save(const std::u16string& text) {
    const UnitCounts counts = count_units(text);
    if (counts.nuls != 0) {
        fail(nul_on_save);
    }
    return {text.size() - counts.crs - counts.lfs, counts.crs + counts.lfs - counts.crlf_pairs,
            counts.utf8_extra};
}

std::string encode_as_utf8(const std::u16string& text, const SaveMeasure& measure,
                           std::string_view line_break, bool with_bom) {
    const std::size_t bom = with_bom ? 3 : 0;
    std::string bytes(bom + measure.plain_units + measure.utf8_extra +
                          measure.breaks * line_break.size() + vector_slack,
                      '\0');
    if (with_bom) {
        bytes[0] = '\xEF';
        bytes[1] = '\xBB';
        bytes[2] = '\xBF';
    }
    char* end =
        encode_utf8<true>(text.data(), text.data() + text.size(), bytes.data() + bom, line_break);
    bytes.resize(static_cast<std::size_t>(end - bytes.data()));
    return bytes;
}

void put_utf16_unit(char*& out, char16_t unit, bool big_endian) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    *out++ = big_endian ? high : low;
    *out++ = big_endian ? low : high;
}

std::string encode_as_utf16(const std::u16string& text, const SaveMeasure& measure,
                            std::string_view line_break, bool big_endian) {
    std::string bytes(2 * (1 + measure.plain_units + measure.breaks * line_break.size()), '\0');
    char* out = bytes.data();
    put_utf16_unit(out, 0xFEFF, big_endian);
    const char16_t* in = text.data();
    const char16_t* end = in + text.size();
    while (in < end) {
        if (is_line_break(*in)) {
            for (char byte : line_break) {
                put_utf16_unit(out, static_cast<char16_t>(byte), big_endian);
            }
            in = skip_line_break(in, end);
            continue;
        }
        if (is_surrogate(*in)) {
            check_surrogate_pair(in, end);
            put_utf16_unit(out, *in++, big_endian);
        }
        put_utf16_unit(out, *in++, big_endian);
    }
    return bytes;
}

std::string encode_as_code_page(const std::u16string& text, const SaveMeasure& measure,
                                std::string_view line_break, Encoding encoding) {
    const ReverseCodePageTable& reverse = reverse_code_page_table(encoding);
    std::string bytes(measure.plain_units + measure.breaks * line_break.size(), '\0');
    char* out = bytes.data();
    const char16_t* in = text.data();
    const char16_t* end = in + text.size();
    while (in < end) {
        if (is_line_break(*in)) {
            // CR and LF are themselves in every one of the code pages.
            std::memcpy(out, line_break.data(), line_break.size());
            out += line_break.size();
            in = skip_line_break(in, end);
            continue;
        }
        const std::uint16_t byte = reverse[*in++];
        if (byte == no_byte) {
            fail(unrepresentable);
        }
        *out++ = static_cast<char>(byte);
    }
    return bytes;
}

} // namespace

std::string_view encoding_name(Encoding encoding) {
    static constexpr std::array<std::string_view, 8> names = {
        "UTF-8",        "UTF-8 BOM",    "UTF-16 LE",  "UTF-16 BE",
        "Windows-1252", "Windows-1251", "ISO-8859-1", "OEM 437"};
    const auto id = static_cast<std::uint32_t>(encoding);
    return id < names.size() ? names[id] : std::string_view();
}

std::string_view line_ending_name(LineEnding line_ending) {
    static constexpr std::array<std::string_view, 3> names = {"LF", "CRLF", "CR"};
    const auto id = static_cast<std::uint32_t>(line_ending);
    return id < names.size() ? names[id] : std::string_view();
}

std::u16string utf8_to_utf16(const std::string& utf8) {
    const auto* begin = reinterpret_cast<const unsigned char*>(utf8.data());
    BreakTally unused;
    return decode_utf8<false>(begin, begin + utf8.size(), unused);
}
std::string utf16_to_utf8(const std::u16string& utf16) {
    const std::size_t upper = utf16.size() + count_units(utf16).utf8_extra;
    std::string result(upper + vector_slack, '\0');
    char* end = encode_utf8<false>(utf16.data(), utf16.data() + utf16.size(), result.data(), {});
    result.resize(static_cast<std::size_t>(end - result.data()));
    return result;
}

std::u16string normalize_line_endings(const std::u16string& text) {
    std::u16string result = text;
    if (result.find(cr) != std::u16string::npos) {
        normalize_in_place(result);
    }
    return result;
}

Document decode_document_bytes(const std::string& bytes, std::int32_t request) {
    if (request < 0 || request > 7) {
        fail(unsupported_encoding);
    }
    if (bytes.size() > document_limit) {
        fail(over_editing_limit);
    }
    Document document;
    const auto requested = static_cast<Encoding>(request);
    BreakTally tally;
    if (is_legacy_encoding(requested)) {
        document.encoding = requested;
        document.text = decode_code_page(bytes, requested);
        tally = normalize_decoded(document.text);
    } else {
        tally = decode_detected(bytes, document);
    }
    if (tally.nul) {
        fail(nul_in_text);
    }
    document.line_ending = vote_line_ending(tally);
    return document;
}

std::string encode_document_text(const Document& document) {
    if (static_cast<std::uint32_t>(document.encoding) > 7) {
        fail(unsupported_encoding);
    }
    const SaveMeasure measure = measure_for_save(document.text);
    const std::string_view line_break = line_break_bytes(document.line_ending);
    switch (document.encoding) {
    case Encoding::utf8:
        return encode_as_utf8(document.text, measure, line_break, false);
    case Encoding::utf8_bom:
        return encode_as_utf8(document.text, measure, line_break, true);
    case Encoding::utf16_le:
        return encode_as_utf16(document.text, measure, line_break, false);
    case Encoding::utf16_be:
        return encode_as_utf16(document.text, measure, line_break, true);
    default:
        return encode_as_code_page(document.text, measure, line_break, document.encoding);
    }
}

} // namespace pellix
