#include "core/code_pages.h"
#include "core/encoding.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace pellix {
namespace {

std::string bytes_of(std::initializer_list<unsigned> values) {
    std::string bytes;
    for (unsigned value : values) {
        bytes.push_back(static_cast<char>(value));
    }
    return bytes;
}

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

// Padding in front of a fault pushes it past the vectorised runs, so both paths are checked.
const std::string ascii_run(37, 'x');
const std::u16string ascii_units(37, u'x');

constexpr const char* bad_lead = "Invalid UTF-8. Use UTF-8 or BOM-marked UTF-16.";
constexpr const char* cannot_represent = "Text cannot be represented in the selected encoding. "
                                         "Choose UTF-8; the original file was not replaced.";

// ---- Strict converters ----------------------------------------------------------------------

TEST(Utf8ToUtf16, DecodesEveryLengthOfSequence) {
    EXPECT_EQ(utf8_to_utf16(""), u"");
    EXPECT_EQ(utf8_to_utf16(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
    EXPECT_EQ(utf8_to_utf16("\xC2\x80\xDF\xBF"), u"\u0080\u07FF");
    EXPECT_EQ(utf8_to_utf16("\xE0\xA0\x80\xEF\xBF\xBF"), u"\u0800\uFFFF");
    EXPECT_EQ(utf8_to_utf16("\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"), u"\U00010000\U0010FFFF");
    EXPECT_EQ(utf8_to_utf16(ascii_run + "\xF0\x9F\x98\x80" + ascii_run),
              ascii_units + u"\U0001F600" + ascii_units);
}

TEST(Utf8ToUtf16, RefusesEachFaultWithItsMessage) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"\x80", bad_lead},
        {"\xC0\x80", bad_lead},
        {"\xC1\xBF", bad_lead},
        {"\xF5\x80\x80\x80", bad_lead},
        {"\xFF", bad_lead},
        {"\xC2", "Incomplete UTF-8 sequence."},
        {"\xE2\x82", "Incomplete UTF-8 sequence."},
        {"\xE2\x41", "Incomplete UTF-8 sequence."},
        {"\xF0\x9F\x98", "Incomplete UTF-8 sequence."},
        {"\xC2\x41", "Invalid UTF-8 continuation byte."},
        {"\xE2\x82\xC0", "Invalid UTF-8 continuation byte."},
        {"\xF0\x9F\x41\x80", "Invalid UTF-8 continuation byte."},
        {"\xE0\x80\x80", "Invalid UTF-8 sequence."},
        {"\xE0\x9F\xBF", "Invalid UTF-8 sequence."},
        {"\xF0\x8F\xBF\xBF", "Invalid UTF-8 sequence."},
        {"\xED\xA0\x80", "Invalid Unicode character."},
        {"\xED\xBF\xBF", "Invalid Unicode character."},
        {"\xF4\x90\x80\x80", "Invalid Unicode character."},
    };
    // Named references: clang 14 cannot capture a structured binding in a lambda.
    for (const auto& [bound_input, message] : cases) {
        const std::string& input = bound_input;
        EXPECT_EQ(runtime_error_of([&] { utf8_to_utf16(input); }), message) << input;
        EXPECT_EQ(runtime_error_of([&] { utf8_to_utf16(ascii_run + input); }), message) << input;
    }
}

TEST(Utf16ToUtf8, EncodesEveryLength) {
    EXPECT_EQ(utf16_to_utf8(u""), "");
    EXPECT_EQ(utf16_to_utf8(u"\u007F\u0080\u07FF\u0800\uFFFF"),
              "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
    EXPECT_EQ(utf16_to_utf8(u"\U00010000\U0010FFFF"), "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
    EXPECT_EQ(utf16_to_utf8(ascii_units + u"\u00E9" + ascii_units),
              ascii_run + "\xC3\xA9" + ascii_run);
}

TEST(Utf16ToUtf8, RefusesUnpairedSurrogates) {
    const std::vector<std::pair<std::u16string, std::string>> cases = {
        {u"\xD800", "Incomplete UTF-16 surrogate pair."},
        {u"\xDBFF"
         u"a",
         "Incomplete UTF-16 surrogate pair."},
        {u"\xD800\xD800\xDC00", "Incomplete UTF-16 surrogate pair."},
        {u"\xDC00", "Invalid UTF-16 surrogate."},
        {u"a\xDFFF\xD800", "Invalid UTF-16 surrogate."},
    };
    for (const auto& [bound_input, message] : cases) {
        const std::u16string& input = bound_input;
        EXPECT_EQ(runtime_error_of([&] { utf16_to_utf8(input); }), message);
        EXPECT_EQ(runtime_error_of([&] { utf16_to_utf8(ascii_units + input); }), message);
    }
}

// Long random documents with every kind of line break, against a plain reference built on the
// strict converter (itself checked against the platform's in encoding_platform_test.cpp): covers
// the vectorised paths where breaks, NULs and faults fall at any place in a chunk.
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
        const std::string bytes = utf16_to_utf8(text);
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
            ASSERT_EQ(encode_document_text(saved), utf16_to_utf8(expected)) << round;
        }
    }
}

TEST(DocumentConversion, FaultsAnywhereInALongTextAreFound) {
    std::mt19937 random(5);
    for (int round = 0; round < 60; ++round) {
        const std::u16string text = random_document_text(random, 300);
        const std::string bytes = utf16_to_utf8(text);
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

TEST(NormalizeLineEndings, TurnsCrLfAndLoneCrIntoLf) {
    EXPECT_EQ(normalize_line_endings(u""), u"");
    EXPECT_EQ(normalize_line_endings(u"a\r\nb\rc\nd\r"), u"a\nb\nc\nd\n");
    EXPECT_EQ(normalize_line_endings(u"\r\r\n\n\r"), u"\n\n\n\n");
    EXPECT_EQ(normalize_line_endings(u"\n\r"), u"\n\n");
}

// ---- Decoding -------------------------------------------------------------------------------

TEST(DecodeDocument, RefusesRequestsAndSizesPastTheirLimits) {
    EXPECT_EQ(runtime_error_of([] { decode_document_bytes("a", -1); }),
              "Unsupported text encoding.");
    EXPECT_EQ(runtime_error_of([] { decode_document_bytes("a", 8); }),
              "Unsupported text encoding.");
    const std::string at_limit(0x800000, 'a');
    EXPECT_EQ(decode_document_bytes(at_limit, 0).text.size(), 0x800000u);
    EXPECT_EQ(decode_document_bytes(at_limit, 4).text.size(), 0x800000u);
    const std::string past_limit(0x800001, 'a');
    EXPECT_EQ(runtime_error_of([&] { decode_document_bytes(past_limit, 0); }),
              "File exceeds the 8 MiB editing limit.");
    EXPECT_EQ(runtime_error_of([&] { decode_document_bytes(past_limit, 6); }),
              "File exceeds the 8 MiB editing limit.");
}

TEST(DecodeDocument, EmptyFileIsUtf8WithCrLf) {
    for (int request = 0; request < 8; ++request) {
        const Document document = decode_document_bytes("", request);
        EXPECT_EQ(document.text, u"");
        EXPECT_EQ(document.encoding, request < 4 ? Encoding::utf8 : static_cast<Encoding>(request));
        EXPECT_EQ(document.line_ending, LineEnding::crlf);
    }
}

TEST(DecodeDocument, ByteOrderMarksDecideOverTheRequest) {
    for (int request = 0; request < 4; ++request) {
        Document document = decode_document_bytes(bytes_of({0xFF, 0xFE}), request);
        EXPECT_EQ(document.encoding, Encoding::utf16_le);
        EXPECT_EQ(document.text, u"");
        document = decode_document_bytes(bytes_of({0xFF, 0xFE, 0x41, 0x00, 0x3D, 0xD8, 0x00, 0xDE}),
                                         request);
        EXPECT_EQ(document.encoding, Encoding::utf16_le);
        EXPECT_EQ(document.text, u"A\U0001F600");
        document = decode_document_bytes(bytes_of({0xFE, 0xFF, 0x00, 0x41, 0xD8, 0x3D, 0xDE, 0x00}),
                                         request);
        EXPECT_EQ(document.encoding, Encoding::utf16_be);
        EXPECT_EQ(document.text, u"A\U0001F600");
        document = decode_document_bytes(bytes_of({0xEF, 0xBB, 0xBF, 0x61}), request);
        EXPECT_EQ(document.encoding, Encoding::utf8_bom);
        EXPECT_EQ(document.text, u"a");
        document = decode_document_bytes(bytes_of({0xEF, 0xBB, 0xBF}), request);
        EXPECT_EQ(document.encoding, Encoding::utf8_bom);
        EXPECT_EQ(document.text, u"");
        document = decode_document_bytes("ab", request);
        EXPECT_EQ(document.encoding, Encoding::utf8);
        document = decode_document_bytes("a", request);
        EXPECT_EQ(document.encoding, Encoding::utf8);
    }
}

TEST(DecodeDocument, MalformedMarksAndUnitsFail) {
    EXPECT_EQ(runtime_error_of([] {
                  decode_document_bytes(bytes_of({0xFF, 0xFE, 0x41}), 0);
              }),
              "Incomplete UTF-16 file.");
    EXPECT_EQ(runtime_error_of([] {
                  decode_document_bytes(bytes_of({0xFE, 0xFF, 0x00}), 2);
              }),
              "Incomplete UTF-16 file.");
    EXPECT_EQ(runtime_error_of([] { decode_document_bytes(bytes_of({0xFF, 0x41}), 0); }), bad_lead);
    EXPECT_EQ(runtime_error_of([] { decode_document_bytes(bytes_of({0xFE}), 0); }), bad_lead);
    EXPECT_EQ(runtime_error_of([] {
                  decode_document_bytes(bytes_of({0xEF, 0xBB}), 0);
              }),
              "Incomplete UTF-8 sequence.");
    EXPECT_EQ(runtime_error_of([] {
                  decode_document_bytes(bytes_of({0xFF, 0xFE, 0x00, 0xDC, 0x41, 0x00}), 0);
              }),
              "Invalid UTF-16 surrogate.");
    EXPECT_EQ(runtime_error_of([] {
                  decode_document_bytes(bytes_of({0xFE, 0xFF, 0xD8, 0x00}), 0);
              }),
              "Incomplete UTF-16 surrogate pair.");
}

TEST(DecodeDocument, RefusesNulWithTheMessageOfItsPath) {
    const std::string with_nul("a\0b", 3);
    EXPECT_EQ(runtime_error_of([&] { decode_document_bytes(with_nul, 0); }),
              "Embedded NUL characters are not supported; the file was not opened.");
    EXPECT_EQ(runtime_error_of([] {
                  decode_document_bytes(bytes_of({0xFF, 0xFE, 0x41, 0x00, 0x00, 0x00}), 1);
              }),
              "Embedded NUL characters are not supported; the file was not opened.");
    for (int request = 4; request < 8; ++request) {
        EXPECT_EQ(runtime_error_of([&] { decode_document_bytes(with_nul, request); }),
                  "Embedded NUL characters are not supported.");
    }
}

TEST(DecodeDocument, LineEndingVote) {
    const std::vector<std::pair<std::string, LineEnding>> cases = {
        {"one line", LineEnding::crlf},   {"a\nb", LineEnding::lf},
        {"a\r\nb", LineEnding::crlf},     {"a\rb", LineEnding::cr},
        {"a\nb\r\nc", LineEnding::crlf},  {"a\rb\r\nc", LineEnding::crlf},
        {"a\nb\rc", LineEnding::lf},      {"a\rb\rc\nd", LineEnding::cr},
        {"a\r\nb\nc\nd", LineEnding::lf}, {"a\r", LineEnding::cr},
        {"\n\r\n\r", LineEnding::crlf},   {"\r\r\n\r\n\n\n\n", LineEnding::lf},
    };
    for (const auto& [bytes, expected] : cases) {
        EXPECT_EQ(decode_document_bytes(bytes, 0).line_ending, expected) << bytes;
        EXPECT_EQ(decode_document_bytes(bytes, 4).line_ending, expected) << bytes;
    }
    EXPECT_EQ(decode_document_bytes("a\r\nb\rc\nd\r", 0).text, u"a\nb\nc\nd\n");
    EXPECT_EQ(
        decode_document_bytes(bytes_of({0xFE, 0xFF, 0x00, 0x0D, 0x00, 0x0A, 0x00, 0x0D}), 0).text,
        u"\n\n");
}

TEST(DecodeDocument, ForcedCodePageIgnoresByteOrderMarks) {
    const Document document = decode_document_bytes(bytes_of({0xEF, 0xBB, 0xBF, 0x80}), 4);
    EXPECT_EQ(document.encoding, Encoding::windows_1252);
    EXPECT_EQ(document.text, u"\u00EF\u00BB\u00BF\u20AC");
    EXPECT_EQ(decode_document_bytes(bytes_of({0xFF, 0xFE}), 6).text, u"\u00FF\u00FE");
}

// ---- Encoding -------------------------------------------------------------------------------

TEST(EncodeDocument, AppliesLineEndingsBeforeTheEncoding) {
    EXPECT_EQ(encode_document_text(document_of(u"a\nb", Encoding::utf16_be, LineEnding::cr)),
              bytes_of({0xFE, 0xFF, 0x00, 0x61, 0x00, 0x0D, 0x00, 0x62}));
    EXPECT_EQ(encode_document_text(document_of(u"a\nb", Encoding::utf8_bom, LineEnding::crlf)),
              bytes_of({0xEF, 0xBB, 0xBF, 0x61, 0x0D, 0x0A, 0x62}));
    EXPECT_EQ(encode_document_text(document_of(u"a\nb", Encoding::utf16_le, LineEnding::crlf)),
              bytes_of({0xFF, 0xFE, 0x61, 0x00, 0x0D, 0x00, 0x0A, 0x00, 0x62, 0x00}));
    EXPECT_EQ(encode_document_text(document_of(u"a\r\nb\rc\n", Encoding::utf8, LineEnding::lf)),
              "a\nb\nc\n");
    EXPECT_EQ(
        encode_document_text(document_of(u"a\nb", Encoding::utf8, static_cast<LineEnding>(9))),
        "a\r\nb");
    EXPECT_EQ(encode_document_text(document_of(u"", Encoding::utf16_le, LineEnding::crlf)),
              bytes_of({0xFF, 0xFE}));
    EXPECT_EQ(encode_document_text(
                  document_of(ascii_units + u"\n" + ascii_units, Encoding::utf8, LineEnding::crlf)),
              ascii_run + "\r\n" + ascii_run);
}

TEST(EncodeDocument, RefusesWhatCannotBeSaved) {
    EXPECT_EQ(runtime_error_of([] {
                  encode_document_text(
                      document_of(u"a", static_cast<Encoding>(8), LineEnding::crlf));
              }),
              "Unsupported text encoding.");
    for (std::uint32_t encoding = 0; encoding < 8; ++encoding) {
        const auto id = static_cast<Encoding>(encoding);
        // The NUL comes last, yet it is reported before anything else is looked at.
        EXPECT_EQ(runtime_error_of([&] {
                      encode_document_text(
                          document_of(std::u16string(u"\xDC00\x4E2D\0", 3), id, LineEnding::lf));
                  }),
                  "Cannot save embedded NUL characters.");
    }
    for (std::uint32_t encoding = 0; encoding < 4; ++encoding) {
        const auto id = static_cast<Encoding>(encoding);
        EXPECT_EQ(runtime_error_of(
                      [&] { encode_document_text(document_of(u"a\xD800", id, LineEnding::lf)); }),
                  "Incomplete UTF-16 surrogate pair.");
        EXPECT_EQ(runtime_error_of([&] {
                      encode_document_text(document_of(u"\xD800\nb", id, LineEnding::crlf));
                  }),
                  "Incomplete UTF-16 surrogate pair.");
        EXPECT_EQ(runtime_error_of([&] {
                      encode_document_text(
                          document_of(ascii_units + u"\xDC00", id, LineEnding::lf));
                  }),
                  "Invalid UTF-16 surrogate.");
    }
}

TEST(EncodeDocument, LegacyCodePagesMapOrRefuse) {
    EXPECT_EQ(encode_document_text(document_of(u"\u20AC", Encoding::windows_1252, LineEnding::lf)),
              "\x80");
    EXPECT_EQ(runtime_error_of([] {
                  encode_document_text(
                      document_of(u"\u20AC", Encoding::iso_8859_1, LineEnding::lf));
              }),
              cannot_represent);
    EXPECT_EQ(
        encode_document_text(document_of(u"\u0416\n", Encoding::windows_1251, LineEnding::crlf)),
        "\xC6\r\n");
    EXPECT_EQ(encode_document_text(document_of(u"\u2591\u00E9", Encoding::oem_437, LineEnding::lf)),
              "\xB0\x82");
    EXPECT_EQ(runtime_error_of([] {
                  encode_document_text(
                      document_of(u"a\U0001F600", Encoding::oem_437, LineEnding::lf));
              }),
              cannot_represent);
    EXPECT_EQ(runtime_error_of([] { reverse_code_page_table(Encoding::utf8); }),
              "Not a supported legacy encoding.");
    EXPECT_EQ(runtime_error_of([] { code_page_table(static_cast<Encoding>(8)); }),
              "Not a supported legacy encoding.");
}

// ---- Round trips ----------------------------------------------------------------------------

TEST(RoundTrip, EveryByteSurvivesEachCodePage) {
    for (std::uint32_t encoding = 4; encoding < 8; ++encoding) {
        const auto id = static_cast<Encoding>(encoding);
        std::set<char16_t> units;
        for (unsigned byte = 1; byte < 256; ++byte) {
            const std::string single(1, static_cast<char>(byte));
            const Document document = decode_document_bytes(single, static_cast<int>(encoding));
            EXPECT_EQ(encode_document_text(document), single) << encoding << " " << byte;
            units.insert(code_page_table(id)[byte]);
        }
        units.insert(code_page_table(id)[0]);
        EXPECT_EQ(units.size(), 256u);
        EXPECT_EQ(code_page_table(id)[0], u'\0');

        // All bytes in one file, the lone CR left out: it would come back as the file's style.
        std::string all;
        for (unsigned byte = 1; byte < 256; ++byte) {
            if (byte != 0x0D) {
                all.push_back(static_cast<char>(byte));
            }
        }
        EXPECT_EQ(encode_document_text(decode_document_bytes(all, static_cast<int>(encoding))),
                  all);
    }
}

TEST(RoundTrip, UnicodeEncodingsKeepTextBeyondThePlane) {
    const std::u16string text = u"Gr\u00FC\u00DFe \u4E16\u754C \U0001F600\U00010348\nend\n";
    for (std::uint32_t encoding = 0; encoding < 4; ++encoding) {
        for (std::uint32_t ending = 0; ending < 3; ++ending) {
            const Document original =
                document_of(text, static_cast<Encoding>(encoding), static_cast<LineEnding>(ending));
            const Document back = decode_document_bytes(encode_document_text(original), 0);
            EXPECT_EQ(back.text, text);
            EXPECT_EQ(back.encoding, original.encoding);
            EXPECT_EQ(back.line_ending, original.line_ending);
        }
    }
}

TEST(ReverseTables, AreBuiltOnceAndSharedAcrossThreads) {
    std::vector<std::thread> threads;
    std::vector<const ReverseCodePageTable*> seen(8);
    std::vector<std::string> saved(8);
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([i, &seen, &saved] {
            const auto encoding = static_cast<Encoding>(4 + i % 4);
            saved[i] = encode_document_text(document_of(u"a\nb", encoding, LineEnding::crlf));
            seen[i] = &reverse_code_page_table(encoding);
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(saved[i], "a\r\nb");
        EXPECT_EQ(seen[i], &reverse_code_page_table(static_cast<Encoding>(4 + i % 4)));
    }
    EXPECT_EQ(reverse_code_page_table(Encoding::windows_1252)[0x20AC], 0x80);
    EXPECT_EQ(reverse_code_page_table(Encoding::windows_1252)[0x0100], no_byte);
}

TEST(Names, MatchTheStatusStrip) {
    EXPECT_EQ(encoding_name(Encoding::utf8_bom), "UTF-8 BOM");
    EXPECT_EQ(encoding_name(Encoding::oem_437), "OEM 437");
    EXPECT_EQ(encoding_name(static_cast<Encoding>(8)), "");
    EXPECT_EQ(line_ending_name(LineEnding::crlf), "CRLF");
    EXPECT_EQ(line_ending_name(LineEnding::cr), "CR");
}

} // namespace
} // namespace pellix
