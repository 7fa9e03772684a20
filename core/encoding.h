#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/limits.h"

namespace pellix {

// The text encoding of a document. The numeric ids are stored on disk by the recovery records
// (one byte), so they never change.
enum class Encoding : std::uint32_t {
    utf8 = 0,
    utf8_bom = 1,
    utf16_le = 2,
    utf16_be = 3,
    windows_1252 = 4,
    windows_1251 = 5,
    iso_8859_1 = 6,
    oem_437 = 7,
};

// The line-ending style a document is written back with; in memory the only break is LF.
enum class LineEnding : std::uint32_t {
    lf = 0,
    crlf = 1,
    cr = 2,
};

// A decoded document: UTF-16 text whose only line break is LF (no CR, no NUL), plus how to
// write it back.
struct Document {
    std::u16string text;
    Encoding encoding = Encoding::utf8;
    LineEnding line_ending = LineEnding::crlf;
};

// Display names ("UTF-8", "UTF-8 BOM", ..., "OEM 437"; "LF", "CRLF", "CR"). An id outside the
// known range gives an empty view.
std::string_view encoding_name(Encoding encoding);
std::string_view line_ending_name(LineEnding line_ending);

// Strict converters: the first fault throws std::runtime_error; nothing is ever replaced.
std::u16string utf8_to_utf16(const std::string& utf8);
std::string utf16_to_utf8(const std::u16string& utf16);

// CRLF and lone CR become LF; every other unit is copied.
std::u16string normalize_line_endings(const std::u16string& text);

// File bytes to a document. A request of 0-3 detects the encoding from a byte-order mark
// (UTF-8 without one); 4-7 force that single-byte code page. Throws std::runtime_error.
Document decode_document_bytes(const std::string& bytes, std::int32_t request);

// A document to the bytes to save, in its encoding and line-ending style. Throws
// std::runtime_error.
std::string encode_document_text(const Document& document);

} // namespace pellix
