#include "core/code_pages.h"
#include "core/encoding.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <random>
#include <string>

// The converters and code-page tables checked against the platform's own, so these tests run
// only in the Windows build.

namespace pellix {
namespace {

// Random valid text in long runs checked against the platform's own converters, which covers
// the vectorised paths at every alignment.
TEST(StrictConverters, AgreeWithThePlatformOnRandomText) {
    std::mt19937 random(7);
    std::u16string text;
    const char32_t samples[] = {U'a',          U'\n',         U'\r',        U'\u00E9',
                                U'\u0416',     U'\u20AC',     U'\u4E2D',    U'\uFFFD',
                                U'\U0001F600', U'\U00010000', U'\U0010FFFF'};
    while (text.size() < 200000) {
        const bool ascii_burst = random() % 2 == 0;
        const int length = static_cast<int>(random() % 40);
        for (int i = 0; i < length; ++i) {
            char32_t c = ascii_burst ? U' ' + random() % 95 : samples[random() % 11];
            if (c < 0x10000) {
                text.push_back(static_cast<char16_t>(c));
            } else {
                text.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
                text.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
            }
        }
    }
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int units = static_cast<int>(text.size());
    std::string expected(static_cast<std::size_t>(units) * 3, '\0');
    expected.resize(static_cast<std::size_t>(
        WideCharToMultiByte(CP_UTF8, 0, wide, units, expected.data(),
                            static_cast<int>(expected.size()), nullptr, nullptr)));
    const std::string utf8 = utf16_to_utf8(text);
    EXPECT_EQ(utf8, expected);
    EXPECT_EQ(utf8_to_utf16(utf8), text);
}
TEST(RoundTrip, CodePageTablesMatchThePlatform) {
    const std::pair<Encoding, UINT> pages[] = {{Encoding::windows_1252, 1252},
                                               {Encoding::windows_1251, 1251},
                                               {Encoding::iso_8859_1, 28591},
                                               {Encoding::oem_437, 437}};
    for (const auto& [encoding, code_page] : pages) {
        for (unsigned byte = 0; byte < 256; ++byte) {
            const char narrow = static_cast<char>(byte);
            wchar_t wide = 0;
            if (MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, &narrow, 1, &wide, 1) == 1) {
                EXPECT_EQ(static_cast<unsigned>(code_page_table(encoding)[byte]),
                          static_cast<unsigned>(wide))
                    << code_page << " byte " << byte;
            }
        }
    }
}

} // namespace
} // namespace pellix
