#include "markdown/inline_render.h"

#include "markdown/line_scanners.h"

#include <array>

namespace pellix {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// Replacement text of each byte that escaping changes; empty for bytes copied as they are.
constexpr std::array<std::string_view, 256> make_escape_table() {
    std::array<std::string_view, 256> table{};
    table['&'] = "&amp;";
    table['<'] = "&lt;";
    table['>'] = "&gt;";
    table['"'] = "&quot;";
    table['\''] = "&#39;";
    return table;
}
constexpr std::array<std::string_view, 256> escape_table = make_escape_table();
constexpr std::array<bool, 256> make_needs_escape() {
    std::array<bool, 256> needs{};
    for (std::size_t c = 0; c < 256; ++c) {
        needs[c] = !escape_table[c].empty();
    }
    return needs;
}
constexpr std::array<bool, 256> needs_escape = make_needs_escape();

// Bytes at which a step of the inline walk may start. Runs of other bytes are only escaped,
// so they are copied whole, which keeps ordinary prose fast.
constexpr std::array<bool, 256> make_walk_stops() {
    std::array<bool, 256> stops{};
    for (unsigned char c : std::string_view("\\\n<hH`[*_~")) {
        stops[c] = true;
    }
    return stops;
}
constexpr std::array<bool, 256> walk_stops = make_walk_stops();

constexpr unsigned char byte_at(std::string_view text, std::size_t i) {
    return static_cast<unsigned char>(text[i]);
}

// ASCII letters and digits, '_' and every byte from 0x80 up.
constexpr bool is_word_byte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c >= 0x80;
}

// isspace() of the "C" locale, without depending on the process locale.
constexpr bool is_c_space(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

struct EmphasisMarker {
    std::string_view marker;
    std::string_view element;
    bool underscore; // '_' markers must not touch word bytes on their outer side
};

constexpr std::array<EmphasisMarker, 5> emphasis_markers{{
    {"**", "strong", false},
    {"__", "strong", true},
    {"~~", "del", false},
    {"*", "em", false},
    {"_", "em", true},
}};

// First occurrence of a pattern at or after a position, remembered between calls. The walk
// asks with rising positions, so a text full of '[' without "](" (or without a later ')')
// searches each stretch once instead of once per '['.
class ForwardFinder {
public:
    ForwardFinder(std::string_view text, std::string_view pattern)
        : text_(text), pattern_(pattern) {}

    std::size_t find_from(std::size_t pos) {
        if (!known_ || pos < from_ || (found_ != npos && found_ < pos)) {
            from_ = pos;
            found_ = text_.find(pattern_, pos);
            known_ = true;
        }
        return found_;
    }

private:
    std::string_view text_;
    std::string_view pattern_;
    bool known_ = false;
    std::size_t from_ = 0;
    std::size_t found_ = npos;
};

// One call of the inline renderer over one text at one depth.
class InlineWalk {
public:
    InlineWalk(std::string& out, std::string_view text, std::uint32_t depth)
        : out_(out), text_(text), depth_(depth), start_(out.size()), link_middle_(text, "]("),
          link_close_(text, ")") {}

    void run() {
        while (i_ < text_.size()) {
            if (!walk_stops[byte_at(text_, i_)]) {
                copy_plain_run();
            } else if (!try_backslash() && !try_line_feed() && !try_angle_autolink() &&
                       !try_bare_autolink() && !try_code_span() &&
                       !(depth_ < max_inline_depth && (try_link() || try_emphasis()))) {
                append_escaped_html(out_, text_.substr(i_, 1));
                ++i_;
            }
        }
    }

private:
    // Copies bytes up to the next walk stop, escaping on the way, in a single pass.
    void copy_plain_run() {
        std::size_t run = i_;
        std::size_t end = i_;
        for (; end < text_.size() && !walk_stops[byte_at(text_, end)]; ++end) {
            if (needs_escape[byte_at(text_, end)]) {
                out_.append(text_, run, end - run);
                out_.append(escape_table[byte_at(text_, end)]);
                run = end + 1;
            }
        }
        out_.append(text_, run, end - run);
        i_ = end;
    }

    bool try_backslash() {
        if (text_[i_] != '\\' || i_ + 1 >= text_.size()) {
            return false;
        }
        if (text_[i_ + 1] == '\n') {
            out_.append("<br>");
        } else {
            append_escaped_html(out_, text_.substr(i_ + 1, 1));
        }
        i_ += 2;
        return true;
    }

    bool try_line_feed() {
        if (text_[i_] != '\n') {
            return false;
        }
        std::size_t spaces = 0;
        while (spaces < i_ && text_[i_ - 1 - spaces] == ' ') {
            ++spaces;
        }
        if (spaces >= 2) {
            // Drop the trailing spaces just written; they were written one byte each.
            if (out_.size() - start_ >= spaces) {
                out_.resize(out_.size() - spaces);
            }
            out_.append("<br>");
            i_ += 1;
        } else if (i_ + 1 < text_.size() && text_[i_ + 1] == '\n') {
            out_.append("<br><br>");
            i_ += 2;
        } else {
            out_.push_back(' ');
            i_ += 1;
        }
        return true;
    }

    void append_link(std::string_view target, std::string_view label) {
        out_.append("<a href=\"");
        append_escaped_html(out_, target);
        out_.append("\">");
        append_escaped_html(out_, label);
        out_.append("</a>");
    }

    bool try_angle_autolink() {
        if (text_[i_] != '<') {
            return false;
        }
        const std::uint64_t prefix = autolink_prefix_length(text_, i_ + 1);
        if (prefix == 0) {
            return false;
        }
        const std::size_t end = text_.find_first_of(std::string_view("<> \t\r\n", 6), i_ + 1);
        if (end == npos || text_[end] != '>') {
            return false;
        }
        const std::string_view inner = text_.substr(i_ + 1, end - i_ - 1);
        if (inner.size() <= prefix || !is_allowed_link(inner)) {
            return false;
        }
        // Of the link schemes only "mailto:" begins with 'm'; its address is shown without it.
        const bool mailto = inner.front() == 'm' || inner.front() == 'M';
        const std::string_view shown = mailto ? inner.substr(prefix) : inner;
        append_link(inner, shown);
        i_ = end + 1;
        return true;
    }

    bool try_bare_autolink() {
        const char c = text_[i_];
        if (c != 'h' && c != 'H') {
            return false;
        }
        if (i_ > 0) {
            const unsigned char before = byte_at(text_, i_ - 1);
            if (is_word_byte(before) || before == '/' || before == '@') {
                return false;
            }
        }
        const std::uint64_t prefix = autolink_prefix_length(text_, i_);
        if (prefix == 0) {
            return false;
        }
        const std::size_t end = bare_autolink_end();
        if (end <= i_ + prefix) {
            return false;
        }
        const std::string_view url = text_.substr(i_, end - i_);
        if (!is_allowed_link(url)) {
            return false;
        }
        append_link(url, url);
        i_ = end;
        return true;
    }

    std::size_t bare_autolink_end() const {
        std::size_t end = i_;
        int parens = 0;
        int brackets = 0;
        for (; end < text_.size(); ++end) {
            const unsigned char c = byte_at(text_, end);
            if (c < 0x21 || c > 0x7E || c == '<' || c == '"' || c == '\'' || c == '>' ||
                c == '\\' || c == '`') {
                break;
            }
            if (c == '(') {
                ++parens;
            } else if (c == ')') {
                if (parens == 0) {
                    break;
                }
                --parens;
            } else if (c == '[') {
                ++brackets;
            } else if (c == ']') {
                if (brackets == 0) {
                    break;
                }
                --brackets;
            }
        }
        while (end > i_ && std::string_view("!,.:;?").find(text_[end - 1]) != npos) {
            --end;
        }
        return end;
    }

    // Whether a backtick at `pos` has a later backtick; the last one is looked up once, so
    // repeated tests never scan to the end of the text again.
    bool has_later_backtick(std::size_t pos) {
        if (!last_backtick_known_) {
            last_backtick_ = text_.rfind('`');
            last_backtick_known_ = true;
        }
        return last_backtick_ != npos && pos < last_backtick_;
    }

    bool try_code_span() {
        if (text_[i_] != '`' || !has_later_backtick(i_)) {
            return false;
        }
        const std::size_t close = text_.find('`', i_ + 1);
        out_.append("<code>");
        std::string_view content = text_.substr(i_ + 1, close - i_ - 1);
        for (std::size_t lf = content.find('\n'); lf != npos; lf = content.find('\n')) {
            append_escaped_html(out_, content.substr(0, lf));
            out_.push_back(' ');
            content.remove_prefix(lf + 1);
        }
        append_escaped_html(out_, content);
        out_.append("</code>");
        i_ = close + 1;
        return true;
    }

    bool try_link() {
        if (text_[i_] != '[') {
            return false;
        }
        const std::size_t middle = link_middle_.find_from(i_ + 1);
        if (middle == npos) {
            return false;
        }
        const std::size_t close = link_close_.find_from(middle + 2);
        if (close == npos) {
            return false;
        }
        const std::string_view label = text_.substr(i_ + 1, middle - i_ - 1);
        const std::string_view target = text_.substr(middle + 2, close - middle - 2);
        if (is_allowed_link(target)) {
            append_link(target, label);
        } else {
            append_escaped_html(out_, label);
        }
        i_ = close + 1;
        return true;
    }

    // Whether the marker's bytes stand at `pos`; markers are one or two bytes, and a direct
    // test is much cheaper than a library compare at every byte of a closer search.
    bool marker_at(const EmphasisMarker& m, std::size_t pos) const {
        if (text_[pos] != m.marker[0]) {
            return false;
        }
        return m.marker.size() == 1 || (pos + 1 < text_.size() && text_[pos + 1] == m.marker[1]);
    }

    bool opens_at(const EmphasisMarker& m) const {
        const std::size_t after = i_ + m.marker.size();
        if (!marker_at(m, i_) || after >= text_.size() || is_c_space(byte_at(text_, after))) {
            return false;
        }
        return !(m.underscore && i_ > 0 && is_word_byte(byte_at(text_, i_ - 1)));
    }

    std::size_t find_closer(const EmphasisMarker& m, std::size_t content_start) {
        std::size_t j = content_start;
        while (j < text_.size()) {
            const char c = text_[j];
            if (c == '\\') {
                j += 2;
                continue;
            }
            if (c == '`' && has_later_backtick(j)) {
                j = text_.find('`', j + 1) + 1;
                continue;
            }
            if (j > content_start && marker_at(m, j) && !is_c_space(byte_at(text_, j - 1))) {
                const std::size_t after = j + m.marker.size();
                if (!m.underscore || after >= text_.size() ||
                    !is_word_byte(byte_at(text_, after))) {
                    return j;
                }
            }
            ++j;
        }
        return npos;
    }

    bool try_emphasis() {
        for (std::size_t k = 0; k < emphasis_markers.size(); ++k) {
            const EmphasisMarker& m = emphasis_markers[k];
            if (exhausted_[k] || !opens_at(m)) {
                continue;
            }
            const std::size_t content_start = i_ + m.marker.size();
            const std::size_t closer = find_closer(m, content_start);
            if (closer == npos) {
                // A marker without any closer up to the end never finds one later either.
                exhausted_[k] = true;
                continue;
            }
            out_.push_back('<');
            out_.append(m.element);
            out_.push_back('>');
            append_inline_html(out_, text_.substr(content_start, closer - content_start),
                               depth_ + 1);
            out_.append("</");
            out_.append(m.element);
            out_.push_back('>');
            i_ = closer + m.marker.size();
            return true;
        }
        return false;
    }

    std::string& out_;
    std::string_view text_;
    std::uint32_t depth_;
    std::size_t start_;
    std::size_t i_ = 0;
    ForwardFinder link_middle_;
    ForwardFinder link_close_;
    bool last_backtick_known_ = false;
    std::size_t last_backtick_ = npos;
    std::array<bool, emphasis_markers.size()> exhausted_{};
};

} // namespace

void append_escaped_html(std::string& out, std::string_view text) {
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (needs_escape[byte_at(text, i)]) {
            out.append(text, run, i - run);
            out.append(escape_table[byte_at(text, i)]);
            run = i + 1;
        }
    }
    out.append(text, run, text.size() - run);
}

std::string escape_html(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    append_escaped_html(out, text);
    return out;
}

bool is_allowed_link(const char* data, std::size_t size) {
    const std::string_view target(data, size);
    if (target.empty()) {
        return false;
    }
    for (char c : target) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b == 0x7F) {
            return false;
        }
    }
    return autolink_prefix_length(target, 0) != 0 || target.front() == '#';
}

void append_inline_html(std::string& out, std::string_view text, std::uint32_t depth) {
    InlineWalk(out, text, depth).run();
}

std::string render_inline_html(const std::string& text, std::uint32_t depth) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    append_inline_html(out, text, depth);
    return out;
}

} // namespace pellix
