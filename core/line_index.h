#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pellix {

// What the word count remembers between calls so that an edit recounts only the lines it
// touched. A fresh value is the reset state (empty text, one empty line, no words).
struct WordCountCache {
    std::u16string previous_text;
    std::vector<std::uint64_t> line_starts{0}; // one entry per line of `previous_text`
    std::uint64_t total = 0;                   // words in `previous_text`
    std::vector<std::uint64_t> line_words{0};  // words per line, parallel to `line_starts`
};

// Start offset of every line: 0, then i + 1 for each LF at index i.
std::vector<std::uint64_t> line_starts(const std::u16string& text);

// True for the Unicode White_Space units; every other unit, surrogates included, belongs to a
// word.
bool is_word_separator(char16_t unit);

// Brings the cache up to `text` (LF line breaks); `cache.total` is then its word count.
void update_word_count(WordCountCache& cache, const std::u16string& text);

} // namespace pellix
