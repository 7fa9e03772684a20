#include "editor/markdown_colouring.h"

#include <algorithm>
#include <array>
#include <map>
#include <utility>

namespace pellix {
namespace {

constexpr std::uint64_t fence_indent_limit = 3;
constexpr std::uint64_t fence_run_minimum = 3;
constexpr std::uint64_t indented_code_spaces = 4;
constexpr std::uint64_t ordered_digits_limit = 9;
constexpr std::uint64_t heading_level_limit = 6;
constexpr std::uint64_t thematic_break_minimum = 3;
constexpr std::uint64_t emphasis_run_limit = 3;
constexpr std::uint64_t strikethrough_run = 2;
constexpr std::size_t no_partner = SIZE_MAX;

bool is_w(char16_t c) {
    return c == u'\t' || c == u'\n' || c == u'\r' || c == u' ';
}
bool is_space_or_tab(char16_t c) {
    return c == u' ' || c == u'\t';
}
bool is_ascii_letter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}
bool is_ascii_digit(char16_t c) {
    return c >= u'0' && c <= u'9';
}
// Alphanumeric for the underscore rule: ASCII letters and digits, and everything from 0x80 up.
bool is_word_like(char16_t c) {
    return is_ascii_letter(c) || is_ascii_digit(c) || c >= 0x80;
}

class SpanScan {
public:
    SpanScan(std::u16string_view text, FenceState fence, const CodeCarry& carry)
        : text_(text), n_(text.size()), fence_(fence), carry_(carry) {}

    std::vector<ColourSpan> run() {
        if (scan_fence_line()) {
            return std::move(spans_);
        }
        std::uint64_t p = scan_block_quotes();
        if (scan_thematic_break(p)) {
            return std::move(spans_);
        }
        p = scan_list_marker(p);
        scan_task_box();
        p = scan_heading(p);
        scan_inline(p);
        return std::move(spans_);
    }

private:
    void record(std::uint64_t start, std::uint64_t end, SpanKind kind) {
        end = std::min<std::uint64_t>(end, n_);
        if (start < end) {
            spans_.push_back({start, end, kind});
        }
    }

    std::uint64_t leading_spaces(std::uint64_t limit) const {
        std::uint64_t k = 0;
        while (k < limit && k < n_ && text_[k] == u' ') {
            ++k;
        }
        return k;
    }

    std::uint64_t skip_w(std::uint64_t p) const {
        while (p < n_ && is_w(text_[p])) {
            ++p;
        }
        return p;
    }

    bool scan_fence_line() {
        const bool in_fence = fence_.marker != 0 && fence_.length >= fence_run_minimum;
        const std::uint64_t k = leading_spaces(fence_indent_limit);
        if (k < n_ && (text_[k] == u'`' || text_[k] == u'~') &&
            leading_spaces(indented_code_spaces) < indented_code_spaces) {
            const char16_t c = text_[k];
            std::uint64_t run_end = k;
            while (run_end < n_ && text_[run_end] == c) {
                ++run_end;
            }
            const std::uint64_t r = run_end - k;
            const std::u16string_view rest = text_.substr(run_end);
            if (r >= fence_run_minimum) {
                if (!in_fence && (c == u'~' || rest.find(u'`') == std::u16string_view::npos)) {
                    record(0, run_end, SpanKind::FenceMarker);
                    record(run_end, n_, SpanKind::FenceInfo);
                    return true;
                }
                if (in_fence && c == fence_.marker && r >= fence_.length &&
                    std::all_of(rest.begin(), rest.end(), is_w)) {
                    record(0, run_end, SpanKind::FenceMarker);
                    return true;
                }
            }
        }
        if (in_fence) {
            record(0, n_, SpanKind::Code);
            return true;
        }
        return false;
    }

    std::uint64_t scan_block_quotes() {
        const std::uint64_t spaces = leading_spaces(indented_code_spaces);
        std::uint64_t p = spaces >= indented_code_spaces ? 0 : spaces;
        while (p < n_ && text_[p] == u'>') {
            record(p, p + 1, SpanKind::QuoteMarker);
            ++p;
            if (p < n_ && is_w(text_[p])) {
                ++p;
            }
            if (p < n_) {
                record(p, n_, SpanKind::QuoteText);
            }
        }
        return p;
    }

    bool scan_thematic_break(std::uint64_t p) {
        const std::uint64_t first = skip_w(p);
        if (first == n_) {
            return false;
        }
        const char16_t c = text_[first];
        if (c != u'*' && c != u'-' && c != u'_') {
            return false;
        }
        std::uint64_t count = 0;
        for (std::uint64_t i = first; i < n_; ++i) {
            if (text_[i] == c) {
                ++count;
            } else if (!is_w(text_[i])) {
                return false;
            }
        }
        if (count < thematic_break_minimum) {
            return false;
        }
        record(first, n_, SpanKind::ThematicBreak);
        return true;
    }

    // End of a list marker at q (the position after its bullet or its "." / ")"), or 0.
    std::uint64_t list_marker_end(std::uint64_t q) const {
        if (q >= n_) {
            return 0;
        }
        const char16_t c = text_[q];
        if ((c == u'*' || c == u'+' || c == u'-') && q + 1 < n_ && is_w(text_[q + 1])) {
            return q + 1;
        }
        std::uint64_t i = q;
        while (i < n_ && i - q < ordered_digits_limit + 1 && is_ascii_digit(text_[i])) {
            ++i;
        }
        const std::uint64_t digits = i - q;
        if (digits >= 1 && digits <= ordered_digits_limit && i + 1 < n_ &&
            (text_[i] == u'.' || text_[i] == u')') && is_w(text_[i + 1])) {
            return i + 1;
        }
        return 0;
    }

    std::uint64_t scan_list_marker(std::uint64_t p) {
        const std::uint64_t q = skip_w(p);
        const std::uint64_t end = list_marker_end(q);
        if (end == 0) {
            return q;
        }
        record(q, end, SpanKind::ListMarker);
        return skip_w(std::min<std::uint64_t>(end + 1, n_));
    }

    void scan_task_box() {
        std::uint64_t i = 0;
        while (i < n_ && is_space_or_tab(text_[i])) {
            ++i;
        }
        const std::uint64_t end = list_marker_end(i);
        if (end == 0) {
            return;
        }
        std::uint64_t k = end;
        while (k < n_ && is_space_or_tab(text_[k])) {
            ++k;
        }
        if (k == end || k + 2 >= n_) {
            return;
        }
        const char16_t mark = text_[k + 1];
        if (text_[k] == u'[' && (mark == u' ' || mark == u'x' || mark == u'X') &&
            text_[k + 2] == u']' && (k + 3 == n_ || is_space_or_tab(text_[k + 3]))) {
            record(k, k + 3, SpanKind::ListMarker);
        }
    }

    std::uint64_t scan_heading(std::uint64_t p) {
        std::uint64_t i = p;
        while (i < n_ && text_[i] == u'#') {
            ++i;
        }
        const std::uint64_t run = i - p;
        if (run < 1 || run > heading_level_limit || (i < n_ && !is_w(text_[i]))) {
            return p;
        }
        record(p, i, SpanKind::Marker);
        record(i, n_, SpanKind::Heading);
        return i;
    }

    void pair_brackets(std::uint64_t p) {
        partner_.assign(n_, no_partner);
        std::vector<std::uint64_t> openers;
        std::uint64_t i = p;
        while (i < n_) {
            const char16_t c = text_[i];
            if (c == u'\\') {
                i += 2;
                continue;
            }
            if (c == u'`') {
                std::uint64_t end = i;
                while (end < n_ && text_[end] == u'`') {
                    ++end;
                }
                backtick_runs_[end - i].push_back(i);
                i = end;
                continue;
            }
            if (c == u'[' || c == u'(') {
                openers.push_back(i);
            } else if ((c == u']' || c == u')') && !openers.empty() &&
                       text_[openers.back()] == (c == u']' ? u'[' : u'(')) {
                partner_[openers.back()] = i;
                openers.pop_back();
            }
            ++i;
        }
    }

    // The ']' partner of the '[' at `open` followed directly by '(' with its partner ')':
    // {c, d}, or {0, 0} when the shape is not there.
    std::pair<std::uint64_t, std::uint64_t> link_shape(std::uint64_t open) const {
        const std::size_t c = partner_[open];
        if (c == no_partner || c + 1 >= n_ || text_[c + 1] != u'(' ||
            partner_[c + 1] == no_partner) {
            return {0, 0};
        }
        return {c, partner_[c + 1]};
    }

    bool starts_word(std::uint64_t i) const {
        if (i == 0) {
            return true;
        }
        const char16_t b = text_[i - 1];
        return b < 0x80 && !is_ascii_letter(b) && !is_ascii_digit(b) && b != u'_' && b != u'@' &&
               b != u'/';
    }

    // End of a bare web address starting at i, or i when the text there is none.
    std::uint64_t bare_address_end(std::uint64_t i, std::uint64_t scheme) const {
        int parens = 0;
        int brackets = 0;
        std::uint64_t e = i;
        for (; e < n_; ++e) {
            const char16_t c = text_[e];
            if (c < 0x20 || c == u' ' || c == u'"' || c == u'\'' || c == u'<' || c == u'>' ||
                c == u'\\' || c == u'`' || c == 0x7F) {
                break;
            }
            if (c == u'(') {
                ++parens;
            } else if (c == u'[') {
                ++brackets;
            } else if (c == u')') {
                if (parens == 0) {
                    break;
                }
                --parens;
            } else if (c == u']') {
                if (brackets == 0) {
                    break;
                }
                --brackets;
            }
        }
        while (e > i &&
               std::u16string_view(u"!,.:;?").find(text_[e - 1]) != std::u16string_view::npos) {
            --e;
        }
        return e - i > scheme ? e : i;
    }

    // Returns false when the rest of the line is no longer scanned.
    bool scan_angle_link(std::uint64_t& i) {
        if (url_scheme_length(text_, i + 1) == 0) {
            ++i;
            return true;
        }
        std::uint64_t e = i + 1;
        while (e < n_ && !is_w(text_[e]) && text_[e] != u'>') {
            ++e;
        }
        if (e == n_) {
            return false;
        }
        if (text_[e] == u'>') {
            record(i, i + 1, SpanKind::Marker);
            record(i + 1, e, SpanKind::Url);
            record(e, e + 1, SpanKind::Marker);
            i = e + 1;
        } else {
            i = e;
        }
        return true;
    }

    void scan_emphasis(std::uint64_t& i, std::uint64_t scan_start) {
        const char16_t c = text_[i];
        std::uint64_t end = i;
        while (end < n_ && text_[end] == c) {
            ++end;
        }
        const std::uint64_t run = end - i;
        const std::uint64_t start = i;
        i = end;
        if (run > emphasis_run_limit || (c == u'~' && run != strikethrough_run)) {
            return;
        }
        const bool has_before = start > scan_start;
        const bool has_after = end < n_;
        const char16_t b = has_before ? text_[start - 1] : 0;
        const char16_t a = has_after ? text_[end] : 0;
        if (c == u'_' && has_before && has_after && is_word_like(b) && is_word_like(a)) {
            return;
        }
        if (has_before && has_after && is_space_or_tab(b) && is_space_or_tab(a)) {
            return;
        }
        const bool can_close = has_before && !is_space_or_tab(b);
        const bool can_open = has_after && !is_w(a);
        auto& openers = emphasis_openers_[{c, run}];
        if (can_close && b != u'\n' && b != u'\r' && !openers.empty()) {
            const auto [os, oe] = openers.back();
            openers.pop_back();
            record(os, oe, SpanKind::Marker);
            const SpanKind content = c == u'~'  ? SpanKind::Strikethrough
                                     : run == 1 ? SpanKind::Emphasis
                                     : run == 2 ? SpanKind::Strong
                                                : SpanKind::StrongEmphasis;
            record(oe, start, content);
            record(start, end, SpanKind::Marker);
        } else if (can_open) {
            openers.emplace_back(start, end);
        }
    }

    void scan_inline(std::uint64_t p) {
        pair_brackets(p);
        std::uint64_t i = p;
        if (carry_.open_run != 0 && !close_carried_span(i)) {
            return;
        }
        while (i < n_) {
            const char16_t c = text_[i];
            if (c == u'\\') {
                if (i + 1 < n_ && text_[i + 1] < 0x80 && !is_ascii_letter(text_[i + 1]) &&
                    !is_ascii_digit(text_[i + 1]) && !is_w(text_[i + 1])) {
                    record(i, i + 2, SpanKind::Escape);
                    i += 2;
                } else {
                    ++i;
                }
            } else if (c == u'`') {
                scan_code_span(i);
            } else if (c == u'!' || c == u'[') {
                const std::uint64_t open = c == u'!' ? i + 1 : i;
                if (open >= n_ || text_[open] != u'[') {
                    ++i;
                    continue;
                }
                const auto [close, end] = link_shape(open);
                if (close == 0) {
                    ++i;
                    continue;
                }
                record(i, open + 1, SpanKind::Marker);
                record(open + 1, close, c == u'!' ? SpanKind::ImageText : SpanKind::LinkText);
                record(close, close + 2, SpanKind::Marker);
                record(close + 2, end, SpanKind::Url);
                record(end, end + 1, SpanKind::Marker);
                i = end + 1;
            } else if (c == u'<') {
                if (!scan_angle_link(i)) {
                    return;
                }
            } else if (c == u'|') {
                record(i, i + 1, SpanKind::TablePipe);
                ++i;
            } else if ((c == u'h' || c == u'H') && starts_word(i) &&
                       url_scheme_length(text_, i) != 0) {
                const std::uint64_t end = bare_address_end(i, url_scheme_length(text_, i));
                if (end > i) {
                    record(i, end, SpanKind::Url);
                    i = end;
                } else {
                    ++i;
                }
            } else if (c == u'*' || c == u'_' || c == u'~') {
                scan_emphasis(i, p);
            } else {
                ++i;
            }
        }
    }

    // A code span open since an earlier line runs to the first run of its length; false when
    // it runs past the end of this text.
    bool close_carried_span(std::uint64_t& i) {
        const std::vector<std::uint64_t>& starts = backtick_runs_[carry_.open_run];
        const auto close = std::lower_bound(starts.begin(), starts.end(), i);
        if (close == starts.end()) {
            record(i, n_, SpanKind::Code);
            return false;
        }
        record(i, *close, SpanKind::Code);
        record(*close, *close + carry_.open_run, SpanKind::Marker);
        i = *close + carry_.open_run;
        return true;
    }

    void scan_code_span(std::uint64_t& i) {
        std::uint64_t end = i;
        while (end < n_ && text_[end] == u'`') {
            ++end;
        }
        const std::uint64_t run = end - i;
        const std::vector<std::uint64_t>& starts = backtick_runs_[run];
        const auto next = std::upper_bound(starts.begin(), starts.end(), i);
        record(i, end, SpanKind::Marker);
        if (next == starts.end()) {
            // Closed on a later line of the paragraph, the span takes the rest of this one.
            const auto& later = carry_.later_runs;
            if (std::find(later.begin(), later.end(), run) != later.end()) {
                record(end, n_, SpanKind::Code);
                i = n_;
                return;
            }
            i = end;
            return;
        }
        record(end, *next, SpanKind::Code);
        record(*next, *next + run, SpanKind::Marker);
        i = *next + run;
    }

    std::u16string_view text_;
    std::uint64_t n_;
    FenceState fence_;
    const CodeCarry& carry_;
    std::vector<ColourSpan> spans_;
    std::vector<std::size_t> partner_;
    std::map<std::uint64_t, std::vector<std::uint64_t>> backtick_runs_;
    std::map<std::pair<char16_t, std::uint64_t>,
             std::vector<std::pair<std::uint64_t, std::uint64_t>>>
        emphasis_openers_;
};

} // namespace

int kind_priority(SpanKind kind) {
    static constexpr std::array<int, 12> priorities{0, 4, 1, 1, 1, 1, 2, 3, 2, 5, 5, 0};
    const int index = static_cast<int>(kind);
    return index >= 1 && index <= 12 ? priorities[index - 1] : 5;
}

bool is_punctuation_kind(SpanKind kind) {
    switch (kind) {
    case SpanKind::Marker:
    case SpanKind::ListMarker:
    case SpanKind::QuoteMarker:
    case SpanKind::ThematicBreak:
    case SpanKind::TablePipe:
    case SpanKind::Escape:
    case SpanKind::FenceMarker:
        return true;
    default:
        return false;
    }
}

std::vector<ColourSpan> scan_colour_spans(std::u16string_view text, FenceState fence,
                                          const CodeCarry& carry) {
    return SpanScan(text, fence, carry).run();
}

void order_spans(std::vector<ColourSpan>& spans) {
    std::stable_sort(spans.begin(), spans.end(), [](const ColourSpan& a, const ColourSpan& b) {
        return kind_priority(a.kind) < kind_priority(b.kind);
    });
}

} // namespace pellix
