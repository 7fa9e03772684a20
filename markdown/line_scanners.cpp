#include "markdown/line_scanners.h"

#include <algorithm>
#include <charconv>

namespace pellix {
namespace {

constexpr bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

constexpr char fold_ascii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}
constexpr char16_t fold_ascii(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
}

// Compares `prefix` (lower case ASCII) with the units at `pos`, folding letters only.
template <typename View>
bool folded_prefix_at(View text, std::uint64_t pos, std::string_view prefix) {
    if (pos > text.size() || text.size() - pos < prefix.size()) {
        return false;
    }
    for (std::size_t k = 0; k < prefix.size(); ++k) {
        if (fold_ascii(text[pos + k]) != static_cast<typename View::value_type>(prefix[k])) {
            return false;
        }
    }
    return true;
}

template <typename View> std::uint64_t scheme_length(View text, std::uint64_t pos) {
    if (pos >= text.size()) {
        return 0;
    }
    if (folded_prefix_at(text, pos, "https://")) {
        return 8;
    }
    if (folded_prefix_at(text, pos, "http://") || folded_prefix_at(text, pos, "mailto:")) {
        return 7;
    }
    return 0;
}

// Reads a delimiter cell: 0, 1 or 2, or -1 when the cell is not a delimiter.
int delimiter_cell_alignment(std::string_view cell) {
    if (cell.empty()) {
        return -1;
    }
    const bool leading = cell.front() == ':';
    const bool trailing = cell.back() == ':';
    if (leading) {
        cell.remove_prefix(1);
        if (trailing && cell.empty()) {
            return -1;
        }
    }
    if (trailing) {
        cell.remove_suffix(1);
    }
    if (cell.size() < 3 || cell.find_first_not_of('-') != std::string_view::npos) {
        return -1;
    }
    if (leading && trailing) {
        return static_cast<int>(table_align_center);
    }
    return static_cast<int>(trailing ? table_align_right : table_align_default);
}

} // namespace

std::string_view trim_blanks_view(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && is_blank(text[begin])) {
        ++begin;
    }
    while (end > begin && is_blank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

std::uint64_t leading_columns(std::string_view line) {
    std::uint64_t columns = 0;
    for (char c : line) {
        if (!is_blank(c)) {
            break;
        }
        columns += c == '\t' ? 4 : 1;
    }
    return columns;
}

std::string trim_blanks(std::string_view text) {
    return std::string(trim_blanks_view(text));
}

ListMarker scan_list_marker(std::string_view line) {
    const ListMarker none{};
    std::size_t p = 0;
    std::uint64_t columns = 0;
    while (p < line.size() && is_blank(line[p])) {
        columns += line[p] == '\t' ? 4 : 1;
        ++p;
    }
    if (p == line.size()) {
        return none;
    }
    ListMarker marker;
    const char c = line[p];
    if (c == '*' || c == '+' || c == '-') {
        ++p;
    } else if (is_digit(c)) {
        std::int64_t value = 0;
        std::size_t digits = 0;
        while (p < line.size() && is_digit(line[p]) && digits < 9) {
            value = value * 10 + (line[p] - '0');
            ++p;
            ++digits;
        }
        if (p == line.size() || (line[p] != '.' && line[p] != ')')) {
            return none;
        }
        ++p;
        marker.number = value;
        marker.ordered = true;
    } else {
        return none;
    }
    if (p == line.size() || !is_blank(line[p])) {
        return none;
    }
    while (p < line.size() && is_blank(line[p])) {
        ++p;
    }
    marker.content_offset = p;
    marker.indent = columns;
    return marker;
}

void split_table_row_views(std::string_view line, std::vector<std::string_view>& cells) {
    // Escapes and backticks stay in the cell text, so every cell is one stretch of the line
    // between two splitting pipes.
    const std::string_view t = trim_blanks_view(line);
    cells.clear();
    std::size_t cell_start = 0;
    bool in_code = false;
    for (std::size_t i = 0; i < t.size(); ++i) {
        const char c = t[i];
        if (c == '\\') {
            ++i;
        } else if (c == '`') {
            in_code = !in_code;
        } else if (c == '|' && !in_code) {
            cells.push_back(trim_blanks_view(t.substr(cell_start, i - cell_start)));
            cell_start = i + 1;
        }
    }
    cells.push_back(trim_blanks_view(t.substr(std::min(cell_start, t.size()))));
    if (!t.empty() && t.front() == '|') {
        cells.erase(cells.begin());
    }
    if (!t.empty() && t.back() == '|' && !cells.empty() && cells.back().empty()) {
        cells.pop_back();
    }
}

std::vector<std::string> split_table_row(std::string_view line) {
    std::vector<std::string_view> views;
    split_table_row_views(line, views);
    return std::vector<std::string>(views.begin(), views.end());
}

void parse_table_alignments(std::string_view line, std::vector<std::uint32_t>& codes,
                            std::vector<std::string_view>& cells) {
    split_table_row_views(line, cells);
    codes.clear();
    for (std::string_view cell : cells) {
        const int code = delimiter_cell_alignment(cell);
        if (code < 0) {
            codes.clear();
            return;
        }
        codes.push_back(static_cast<std::uint32_t>(code));
    }
}

std::vector<std::uint32_t> parse_table_alignments(std::string_view line) {
    std::vector<std::uint32_t> codes;
    std::vector<std::string_view> cells;
    parse_table_alignments(line, codes, cells);
    return codes;
}

FenceState next_fence_state(std::string_view line, FenceState current) {
    std::size_t spaces = 0;
    while (spaces < line.size() && line[spaces] == ' ') {
        ++spaces;
    }
    if (line.empty() || spaces >= 4 || spaces == line.size()) {
        return current;
    }
    const char c = line[spaces];
    if (c != '`' && c != '~') {
        return current;
    }
    std::size_t end = spaces;
    while (end < line.size() && line[end] == c) {
        ++end;
    }
    const std::uint64_t run = end - spaces;
    if (run < 3) {
        return current;
    }
    const std::string_view rest = line.substr(end);
    if (current.inside()) {
        if (static_cast<std::uint16_t>(static_cast<unsigned char>(c)) != current.marker ||
            run < current.length) {
            return current;
        }
        if (rest.find_first_not_of(" \t\r\n") != std::string_view::npos) {
            return current;
        }
        return FenceState{};
    }
    if (c == '`' && rest.find('`') != std::string_view::npos) {
        return current;
    }
    return FenceState{static_cast<std::uint16_t>(static_cast<unsigned char>(c)), run};
}

AtxHeading parse_atx_heading(std::string_view line) {
    std::size_t hashes = 0;
    while (hashes < line.size() && line[hashes] == '#') {
        ++hashes;
    }
    if (hashes == 0 || hashes > 6 || hashes == line.size() || !is_blank(line[hashes])) {
        return {};
    }
    std::size_t p = hashes;
    while (p < line.size() && is_blank(line[p])) {
        ++p;
    }
    return AtxHeading{static_cast<std::uint32_t>(hashes), std::string(line.substr(p))};
}

void append_source_line_attribute(std::string& out, std::uint64_t line) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, line);
    out.append(" data-source-line=\"");
    out.append(digits, result.ptr);
    out.push_back('"');
}

std::string source_line_attribute(std::uint64_t line) {
    std::string text;
    append_source_line_attribute(text, line);
    return text;
}

std::uint64_t autolink_prefix_length(std::string_view text, std::uint64_t pos) {
    return scheme_length(text, pos);
}

std::uint64_t url_scheme_length(std::u16string_view text, std::uint64_t pos) {
    return scheme_length(text, pos);
}

} // namespace pellix
