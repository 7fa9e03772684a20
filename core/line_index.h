#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/source_document.h"

namespace pellix {

// What the word count remembers between calls so that an edit recounts only the lines it
// touched. A fresh value is the reset state (empty text, one empty line, no words).
struct WordCountCache {
    // The text of the last call as a snapshot of the document it came from: it shares that
    // document's pieces, so the cache holds no second copy of a large text, and a later state of
    // the same editor is compared with it piece by piece.
    SourceDocument previous_text;
    // A document holds at most `document_limit` units, so 32 bits hold every offset and count;
    // the tables have one entry per line, which halves their size on a document of short lines.
    std::vector<std::uint32_t> line_starts{0}; // one entry per line of `previous_text`
    std::uint64_t total = 0;                   // words in `previous_text`
    std::vector<std::uint32_t> line_words{0};  // words per line, parallel to `line_starts`
};

// Start offset of every line: 0, then i + 1 for each LF at index i.
std::vector<std::uint64_t> line_starts(const std::u16string& text);

// True for the Unicode White_Space units; every other unit, surrogates included, belongs to a
// word.
bool is_word_separator(char16_t unit);

// Brings the cache up to `text`; `cache.total` is then its word count. Only the lines in the
// stretch that differs from the previous text are counted again.
void update_word_count(WordCountCache& cache, const SourceDocument& text);
// The same for a text that no document holds yet (LF line breaks).
void update_word_count(WordCountCache& cache, const std::u16string& text);

} // namespace pellix
