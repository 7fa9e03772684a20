#pragma once

// Where text may be cut without splitting what a reader sees as one character: a letter with its
// combining marks, a surrogate pair, an emoji sequence joined by U+200D, a flag's two regional
// indicators, a Hangul syllable spelt in jamo, CR LF (the extended grapheme clusters of Unicode
// text segmentation, version 14).
//
// Two rules look back along a run: regional indicators pair up counting from the first of their
// run, and an emoji after a joiner joins the emoji before its marks. Each looks back over at most
// `grapheme_run_units`; runs within that answer as Unicode says. Past it, which only made-up text
// reaches, the answers stay cheap and never fall inside a surrogate pair: a regional indicator
// with more than that of them before it starts a character of its own, and an emoji after a
// joiner with more than that of marks before the joiner starts one too. A character longer than
// `grapheme_longest_units` is cut between code points (see grapheme_boundary_before).
//
// So each answer depends only on the text around `at`: a window of the text holding at least
// `grapheme_context_units` on each side of `at` (or reaching the text's end on that side) answers
// as the whole text does, past the bounds too. A window that starts at a boundary of the whole
// text needs nothing before it while its runs are within the bounds: its start then stands for
// all that lies before. grapheme_cut also needs `start` in the window.

#include <cstddef>
#include <string_view>

namespace pellix {

inline constexpr std::size_t grapheme_run_units = 256;
inline constexpr std::size_t grapheme_longest_units = 256;
// What the look-back rules see from the farthest boundary a search tries, with the code point
// that ends a run, and what a search forward reads to its farthest answer.
inline constexpr std::size_t grapheme_context_units =
    grapheme_longest_units + grapheme_run_units + 8;

// Whether `at` (at most text.size()) lies between two such characters; both ends of the text
// do.
bool is_grapheme_boundary(std::u16string_view text, std::size_t at);

// The last boundary at or before `at`, and the first one after `at` (text.size() at most). A
// character of more than grapheme_longest_units is no character a reader sees as one: these
// then answer the code point boundary that far from `at`.
std::size_t grapheme_boundary_before(std::u16string_view text, std::size_t at);
std::size_t grapheme_boundary_after(std::u16string_view text, std::size_t at);

// Where a piece of `text` that starts at the boundary `start` ends when it should end near
// `at`: the last boundary at or before `at`, but at least one whole character past `start`. In a
// run of regional indicators longer than the bound the flags pair up counting from `start` (or
// from the run's first, when that comes later), so that pieces cut one after another from a
// boundary keep every flag whole however long the run; this reads the run back to `start`, so
// its cost grows with `at - start`, which the callers bound.
std::size_t grapheme_cut(std::u16string_view text, std::size_t start, std::size_t at);

// The same three answers in a piece of text cut from a longer one at a boundary, as
// grapheme_cut cuts: flags pair up counting from the piece's start (or from their run's first,
// when that comes later) however long their run, as the pieces cut one after another keep them.
// Inside a run of flags this reads the run back to the piece's start, so its cost grows with
// `at`, which the callers bound by the length of their pieces.
bool is_piece_boundary(std::u16string_view piece, std::size_t at);
std::size_t piece_boundary_before(std::u16string_view piece, std::size_t at);
std::size_t piece_boundary_after(std::u16string_view piece, std::size_t at);

// The first caret stop after `at` (below piece.size()) that also lies between two characters of
// `piece`: DirectWrite's clusters under Wine hold one code point each, where Windows' hold a
// whole character. `stop_at_or_after(g)` answers the first caret stop at or after `g`, and
// piece.size() is one. Inside a character longer than grapheme_longest_units the code point
// boundary piece_boundary_after answers there is one.
template <typename StopAtOrAfter>
std::size_t character_stop_after(std::u16string_view piece, std::size_t at,
                                 StopAtOrAfter stop_at_or_after) {
    for (std::size_t boundary = piece_boundary_after(piece, at);;) {
        const std::size_t stop = stop_at_or_after(boundary);
        if (stop == boundary || is_piece_boundary(piece, stop)) {
            return stop;
        }
        boundary = piece_boundary_after(piece, stop);
    }
}

// The same before `at` (above 0): `stop_at_or_before(g)` answers the last caret stop at or
// before `g`, and 0 is one.
template <typename StopAtOrBefore>
std::size_t character_stop_before(std::u16string_view piece, std::size_t at,
                                  StopAtOrBefore stop_at_or_before) {
    for (std::size_t boundary = piece_boundary_before(piece, at - 1);;) {
        const std::size_t stop = stop_at_or_before(boundary);
        if (stop == boundary || is_piece_boundary(piece, stop)) {
            return stop;
        }
        boundary = piece_boundary_before(piece, stop - 1);
    }
}

} // namespace pellix
