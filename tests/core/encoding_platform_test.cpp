#include "core/code_pages.h"
#include "core/encoding.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <random>
#include <stdexcept>
#include <string>

// The converters and code-page tables checked against the platform's own, so these tests run
// only in the Windows build.

namespace pellix {
namespace {

template <typename Call> std::string runtime_error_of(Call&& call) {
    try {
        call();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(no error)";
}

Document document_of(std::u16string text, Encoding encoding, LineEnding line_ending) {
    Document document;
    document.text = std::move(text);
    document.encoding = encoding;
    document.line_ending = line_ending;
    return document;
}

constexpr const char* bad_lead = "Invalid UTF-8. Use UTF-8 or BOM-marked UTF-16.";

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

// Long random documents with every kind of line break, against a plain reference built on the
// platform's converter: covers the vectorised paths where breaks, NULs and faults fall at any
// place in a chunk.
std::u16string random_document_text(std::mt19937& random, std::size_t units) {
    const std::u16string pieces[] = {u"\r\n",   u"\n",         u"\r",     u"\u00E9",
                                     u"\u4E2D", u"\U0001F600", u"\r\r\n", u"\n\r"};
    std::u16string text;
    while (text.size() < units) {
        if (random() % 3 != 0) {
            text.append(random() % 40, static_cast<char16_t>(u'a' + random() % 26));
        } else {
            text += pieces[random() % 8];
        }
    }
    return text;
}

std::string platform_utf8(const std::u16string& text) {
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int units = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, units, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, units, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

LineEnding reference_vote(const std::u16string& text) {
    std::size_t crlf = 0, lone_cr = 0, lone_lf = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            ++crlf;
            ++i;
        } else if (text[i] == u'\r') {
            ++lone_cr;
        } else if (text[i] == u'\n') {
            ++lone_lf;
        }
    }
    if (crlf > 0 && crlf >= lone_cr && crlf >= lone_lf) {
        return LineEnding::crlf;
    }
    if (lone_lf >= lone_cr) {
        return lone_lf == 0 ? LineEnding::crlf : LineEnding::lf;
    }
    return LineEnding::cr;
}

TEST(DocumentConversion, LongRandomDocumentsMatchAPlainReference) {
    std::mt19937 random(11);
    for (int round = 0; round < 40; ++round) {
        const std::u16string text = random_document_text(random, 2000 + random() % 3000);
        const std::string bytes = platform_utf8(text);
        const Document document = decode_document_bytes(bytes, 0);
        std::u16string normalized;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
                continue;
            }
            normalized += text[i] == u'\r' ? u'\n' : text[i];
        }
        ASSERT_EQ(document.text, normalized) << round;
        ASSERT_EQ(document.line_ending, reference_vote(text)) << round;
        ASSERT_EQ(decode_document_bytes(utf16_to_utf8(text), 1).text, normalized);

        for (std::uint32_t ending = 0; ending < 3; ++ending) {
            const std::u16string line_break = ending == 0 ? u"\n" : ending == 1 ? u"\r\n" : u"\r";
            std::u16string expected;
            for (char16_t unit : normalized) {
                expected += unit == u'\n' ? line_break : std::u16string(1, unit);
            }
            Document saved = document;
            saved.line_ending = static_cast<LineEnding>(ending);
            // The text to save may still hold CRs: they count as breaks too.
            saved.text = text;
            ASSERT_EQ(encode_document_text(saved), platform_utf8(expected)) << round;
        }
    }
}

TEST(DocumentConversion, FaultsAnywhereInALongTextAreFound) {
    std::mt19937 random(5);
    for (int round = 0; round < 60; ++round) {
        const std::u16string text = random_document_text(random, 300);
        const std::string bytes = platform_utf8(text);
        // Insert only between characters, never inside a sequence.
        std::size_t at = random() % bytes.size();
        while (at > 0 && (static_cast<unsigned char>(bytes[at]) & 0xC0) == 0x80) {
            --at;
        }
        std::string with_nul = bytes;
        with_nul.insert(at, 1, '\0');
        ASSERT_EQ(runtime_error_of([&] { decode_document_bytes(with_nul, 0); }),
                  "Embedded NUL characters are not supported; the file was not opened.");
        // A UTF-8 fault wins over a NUL, wherever each of them stands.
        std::string with_both = with_nul;
        with_both.insert(random() % with_both.size(), 1, '\xFF');
        const std::string message = runtime_error_of([&] { decode_document_bytes(with_both, 0); });
        ASSERT_TRUE(message == bad_lead || message == "Invalid UTF-8 continuation byte." ||
                    message == "Incomplete UTF-8 sequence.")
            << message;

        std::u16string unsaveable = text;
        unsaveable.insert(random() % text.size(), 1, u'\xDC00');
        ASSERT_EQ(runtime_error_of([&] {
                      encode_document_text(
                          document_of(unsaveable, Encoding::utf8, LineEnding::crlf));
                  }),
                  "Invalid UTF-16 surrogate.");
        unsaveable.insert(random() % unsaveable.size(), 1, u'\0');
        ASSERT_EQ(runtime_error_of([&] {
                      encode_document_text(
                          document_of(unsaveable, Encoding::utf8, LineEnding::crlf));
                  }),
                  "Cannot save embedded NUL characters.");
    }
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
