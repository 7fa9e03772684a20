#pragma once

#include <array>
#include <cstdint>

#include "core/encoding.h"

namespace pellix {

// One UTF-16 unit per byte value. Every table maps its 256 bytes to 256 different units, so any
// byte string survives decoding and re-encoding unchanged.
using CodePageTable = std::array<char16_t, 256>;

// Byte for each UTF-16 unit, or no_byte where the code page cannot represent the unit.
using ReverseCodePageTable = std::array<std::uint16_t, 0x10000>;
inline constexpr std::uint16_t no_byte = 0xFFFF;

// Whether `encoding` is one of the four single-byte code pages (Windows-1252, Windows-1251,
// ISO-8859-1, OEM 437).
bool is_legacy_encoding(Encoding encoding);

// The byte-to-unit table of a single-byte encoding. Throws std::runtime_error for any other
// encoding.
const CodePageTable& code_page_table(Encoding encoding);

// The unit-to-byte table of a single-byte encoding. All four are built together on the first
// call from any thread and kept for the life of the process, so saving never pays for them
// twice. Throws std::runtime_error for any other encoding.
const ReverseCodePageTable& reverse_code_page_table(Encoding encoding);

} // namespace pellix
