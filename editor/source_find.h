#pragma once

// The editor's text search: one match test shared by EM_FINDTEXTEXW and the painted search
// highlights, and the search over a range in either direction.

#include <cstdint>
#include <string_view>

#include "core/source_document.h"

namespace pellix {

// The FR_ flags of EM_FINDTEXTEXW, also used as the highlight mode.
inline constexpr unsigned find_down = 0x1;
inline constexpr unsigned find_whole_word = 0x2;
inline constexpr unsigned find_match_case = 0x4;

// iswalnum or "_".
bool is_find_word_unit(char16_t unit);

// Whether `needle` stands in `text` at `position`: unit for unit with `match_case`, else
// through towlower; with `whole_word`, not preceded or followed by a word unit.
bool matches_at(std::u16string_view text, std::uint64_t position, std::u16string_view needle,
                bool match_case, bool whole_word);

struct FindRequest {
    std::int64_t from = 0; // CHARRANGE cpMin; negative means 0
    std::int64_t to = -1;  // CHARRANGE cpMax; negative means the end of the text
    bool down = true;
    bool match_case = false;
    bool whole_word = false;
};

// The offset of the first match, or -1. Downward from `from` while the match fits before `to`;
// upward, matches that end at or before `from`, nearest first, down to `to`.
std::int64_t find_in_text(std::u16string_view text, std::u16string_view needle,
                          const FindRequest& request);

// The same search over a document, reading from its rope only the range searched and the unit
// on either side of it (whole-word tests look at them).
std::int64_t find_in_document(const SourceDocument& document, std::u16string_view needle,
                              const FindRequest& request);

// The number of units a search spans: from `from` to `to` as `find_in_text` clamps them.
std::uint64_t find_span(std::uint64_t length, const FindRequest& request);

} // namespace pellix
