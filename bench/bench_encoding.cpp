#include "bench/bench.h"
#include "core/encoding.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>

namespace pellix {
namespace {

constexpr int rounds = 7;
constexpr std::size_t sample_bytes = 0x800000;

// Markdown-like lines up to exactly 8 MiB; `mixed` adds Cyrillic, CJK and emoji words to the
// mostly-ASCII prose.
std::string make_sample(bool mixed, const char* line_break) {
    const char* ascii_words[] = {"the",
                                 "editor",
                                 "saves",
                                 "**bold**",
                                 "`code`",
                                 "- [ ] task",
                                 "Markdown",
                                 "file",
                                 "with",
                                 "a",
                                 "[link](https://x.org)",
                                 "#"};
    const char* other_words[] = {"\xC3\xA9t\xC3\xA9", "\xD0\x96\xD1\x83\xD0\xBA",
                                 "\xE4\xB8\xAD\xE6\x96\x87", "\xF0\x9F\x98\x80", "na\xC3\xAFve"};
    std::mt19937 random(42);
    std::string text;
    text.reserve(sample_bytes + 256);
    while (text.size() < sample_bytes) {
        const int words = 4 + static_cast<int>(random() % 12);
        for (int i = 0; i < words; ++i) {
            if (mixed && random() % 3 == 0) {
                text += other_words[random() % 5];
            } else {
                text += ascii_words[random() % 12];
            }
            text += ' ';
        }
        text += line_break;
    }
    // Cut at a character boundary at or below the limit.
    std::size_t end = sample_bytes;
    while ((static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    text.resize(end);
    return text;
}

template <typename Work> double best_seconds(Work&& work) {
    double best = 1e9;
    for (int i = 0; i < rounds; ++i) {
        best = std::min(best, bench::seconds_of(work));
    }
    return best;
}

double mb_per_second(std::size_t bytes, double seconds) {
    return bytes / 1e6 / seconds;
}

void compare_utf8(const char* label, const std::string& bytes) {
    Document document;
    const double decode = best_seconds([&] { document = decode_document_bytes(bytes, 0); });
    const double convert = best_seconds([&] { (void)utf8_to_utf16(bytes); });
    std::string saved;
    const double encode = best_seconds([&] { saved = encode_document_text(document); });
    if (saved != bytes) {
        std::printf("  round trip changed the bytes!\n");
    }

    // The platform converters twice: into a buffer made and touched in advance (their best
    // case), and as a decoder must call them: size query, fresh buffer, conversion. A fresh
    // buffer of 16 MiB costs page faults that ours pays too.
    std::wstring wide(bytes.size(), L'\0');
    int units = 0;
    const auto size = static_cast<int>(bytes.size());
    const double platform_decode = best_seconds([&] {
        units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), size, wide.data(),
                                    static_cast<int>(wide.size()));
    });
    const double platform_decode_fresh = best_seconds([&] {
        const int needed =
            MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
        std::wstring fresh(static_cast<std::size_t>(needed), L'\0');
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), size, fresh.data(),
                            needed);
    });
    std::string narrow(bytes.size() + 16, '\0');
    const double platform_encode = best_seconds([&] {
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), units, narrow.data(),
                            static_cast<int>(narrow.size()), nullptr, nullptr);
    });
    const double platform_encode_fresh = best_seconds([&] {
        const int needed = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), units,
                                               nullptr, 0, nullptr, nullptr);
        std::string fresh(static_cast<std::size_t>(needed), '\0');
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), units, fresh.data(), needed,
                            nullptr, nullptr);
    });
    const double allocation = best_seconds([&] { std::u16string fresh(bytes.size(), u'\0'); });

    const auto rate = [&](double seconds) { return mb_per_second(bytes.size(), seconds); };
    std::printf("%s: %zu bytes, line ending %s\n", label, bytes.size(),
                std::string(line_ending_name(document.line_ending)).c_str());
    std::printf("  decode_document_bytes   %8.1f MB/s   (utf8_to_utf16 alone %.1f MB/s)\n",
                rate(decode), rate(convert));
    std::printf("  MultiByteToWideChar     %8.1f MB/s sized + fresh buffer, %.1f MB/s into a "
                "ready buffer\n",
                rate(platform_decode_fresh), rate(platform_decode));
    std::printf("  encode_document_text    %8.1f MB/s\n", rate(encode));
    std::printf("  WideCharToMultiByte     %8.1f MB/s sized + fresh buffer, %.1f MB/s into a "
                "ready buffer\n",
                rate(platform_encode_fresh), rate(platform_encode));
    std::printf("  (a fresh %zu-unit string alone: %.2f ms)\n", bytes.size(), allocation * 1e3);
}

void legacy_saves() {
    Document document;
    document.text.assign(sample_bytes, u'a');
    for (std::size_t i = 0; i < document.text.size(); i += 61) {
        document.text[i] = i % 2 ? u'\n' : u'\u20AC';
    }
    document.encoding = Encoding::windows_1252;
    const double first = bench::seconds_of([&] { (void)encode_document_text(document); });
    const double later = best_seconds([&] { (void)encode_document_text(document); });
    std::printf("Windows-1252 save of %zu units: first %6.2f ms (builds the reverse tables), "
                "later %6.2f ms, %8.1f MB/s\n",
                document.text.size(), first * 1e3, later * 1e3,
                mb_per_second(document.text.size(), later));
}

void bench_encoding() {
    legacy_saves();
    compare_utf8("Mostly ASCII Markdown", make_sample(false, "\r\n"));
    compare_utf8("Mixed scripts", make_sample(true, "\n"));
}

static bench::Registration reg("encoding", bench_encoding);

} // namespace
} // namespace pellix
