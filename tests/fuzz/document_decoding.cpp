// File bytes as the open command reads them. Refusals are std::runtime_error; any other way
// out, a sanitizer report or a document that cannot be saved and read back is a fault.

#include "core/encoding.h"
#include "core/limits.h"
#include "tests/fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace pellix {
namespace {

constexpr std::int32_t request_count = 8;
constexpr std::u16string_view carriage_return_or_nul(u"\r\0", 2);

void check_saved_again(const Document& document, std::int32_t request) {
    const std::string saved = encode_document_text(document);
    if (saved.size() > document_limit) {
        return; // line breaks written as CRLF may grow a text at the limit past it
    }
    const Document again = decode_document_bytes(saved, request);
    require(again.text == document.text, "a saved document reads back to the same text");
    require(again.encoding == document.encoding, "a saved document keeps its encoding");
    require(again.line_ending == document.line_ending, "a saved document keeps its line breaks");
}

} // namespace
} // namespace pellix

// The first byte picks the request (0-3 detect the encoding, 4-7 force a code page); the rest
// is the file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pellix;
    if (size == 0) {
        return 0;
    }
    const std::int32_t request = data[0] % request_count;
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    Document document;
    try {
        document = decode_document_bytes(bytes, request);
    } catch (const std::runtime_error&) {
        return 0;
    }
    require(document.text.find_first_of(carriage_return_or_nul) == std::u16string::npos,
            "a decoded text holds neither CR nor NUL");
    check_saved_again(document, request);
    return 0;
}
