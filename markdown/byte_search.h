#pragma once

// Byte search for the scans that touch every byte of a page or a document. The C runtime's
// memchr that mingw-w64 links walks byte by byte; these look at 16 bytes at a time.

#include <emmintrin.h>

#include <cstddef>
#include <string_view>

namespace pellix {

// Position of the first `wanted` at or after `from`, or npos.
inline std::size_t find_byte(std::string_view text, std::size_t from, char wanted) {
    const char* data = text.data();
    std::size_t size = text.size();
    std::size_t i = from;
    const __m128i needle = _mm_set1_epi8(wanted);
    for (; i + 16 <= size; i += 16) {
        __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(chunk, needle));
        if (mask != 0)
            return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
    for (; i < size; ++i)
        if (data[i] == wanted)
            return i;
    return std::string_view::npos;
}

// True when every byte is below 0x80 and none is `excluded`.
inline bool is_ascii_without(std::string_view text, char excluded) {
    const char* data = text.data();
    std::size_t size = text.size();
    std::size_t i = 0;
    const __m128i needle = _mm_set1_epi8(excluded);
    for (; i + 16 <= size; i += 16) {
        __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        // The sign bit of a byte is set exactly for bytes 0x80 and above.
        if ((_mm_movemask_epi8(chunk) | _mm_movemask_epi8(_mm_cmpeq_epi8(chunk, needle))) != 0)
            return false;
    }
    for (; i < size; ++i)
        if (static_cast<unsigned char>(data[i]) >= 0x80 || data[i] == excluded)
            return false;
    return true;
}

} // namespace pellix
