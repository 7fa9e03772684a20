#include "markdown/preview_markup.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "core/encoding.h"
#include "markdown/byte_search.h"
#include "markdown/inline_render.h"

namespace pellix {
namespace {

constexpr std::uint64_t max_markup_bytes = 0x4000000;
constexpr std::size_t max_open_lists = 64;
constexpr std::uint64_t max_table_columns = 64;
constexpr std::uint64_t default_source_line = 0;
constexpr std::uint64_t default_list_start = 1;
constexpr std::uint64_t absent_task = 2;

[[noreturn]] void fail(const char* message) {
    throw std::runtime_error(message);
}

struct OpenList {
    std::string_view tag; // "ul" or "ol"
    std::uint64_t next_number = 0;
    bool item_open = false;
};

// Everything one call of the reader needs; the views point into the caller's markup, which
// outlives the call.
struct ReaderState {
    PreviewDocument document;
    bool block_open = false;
    std::string_view block_tag; // empty for "hr" and when no block is open
    std::vector<OpenList> lists;
    std::int32_t strong = 0;
    std::int32_t em = 0;
    std::int32_t del = 0;
    std::int32_t code = 0;
    std::vector<std::string> links;
    std::uint64_t span_depth = 0;
    bool in_table = false;
    bool in_row = false;
    std::uint64_t table_number = 0;
    std::uint64_t row = 0;
    std::uint64_t column = 0;
    std::uint64_t column_count = 0;
    std::uint64_t row_source_line = 0;
    std::string decoded; // scratch for text holding character references

    PreviewBlock& open_block() { return document.blocks.back(); }
};

bool is_markup_space(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

bool contains(std::string_view haystack, std::string_view needle) {
    return haystack.find(needle) != std::string_view::npos;
}

// The five references the renderer's escaping writes; every other '&' stays as written. One
// pass, so the '&' that "&amp;" yields never starts another reference.
void decode_html_entities_into(std::string_view text, std::string& out) {
    static constexpr struct {
        std::string_view name; // name and ';'
        char value;
    } references[] = {{"amp;", '&'}, {"lt;", '<'}, {"gt;", '>'}, {"quot;", '"'}, {"#39;", '\''}};
    out.clear();
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t amp = text.find('&', i);
        if (amp == std::string_view::npos) {
            out.append(text.substr(i));
            break;
        }
        out.append(text.substr(i, amp - i));
        i = amp + 1;
        char value = '&';
        for (const auto& reference : references) {
            if (text.substr(i, reference.name.size()) == reference.name) {
                value = reference.value;
                i += reference.name.size();
                break;
            }
        }
        out.push_back(value);
    }
}

std::string decode_html_entities(const std::string& text) {
    std::string out;
    decode_html_entities_into(text, out);
    return out;
}

// A numeric attribute written by the renderer: 1 to 10 decimal digits in double quotes.
std::uint64_t parse_generated_number(std::string_view tag, std::string_view name,
                                     std::uint64_t fallback) {
    std::size_t at = 0;
    for (;;) {
        at = tag.find(name, at);
        if (at == std::string_view::npos)
            return fallback;
        if (tag.substr(at + name.size(), 2) == "=\"")
            break;
        ++at;
    }
    std::size_t first = at + name.size() + 2;
    std::size_t close = tag.find('"', first);
    if (close == std::string_view::npos)
        fail("Invalid generated numeric attribute.");
    std::string_view digits = tag.substr(first, close - first);
    if (digits.empty() || digits.size() > 10)
        fail("Invalid generated numeric attribute.");
    std::uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            fail("Invalid generated numeric attribute.");
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

std::uint32_t current_style(const ReaderState& state) {
    std::uint32_t style = 0;
    if (state.strong > 0)
        style |= PreviewStyle::bold;
    if (state.em > 0)
        style |= PreviewStyle::italic;
    if (state.del > 0)
        style |= PreviewStyle::strike;
    if (state.code > 0)
        style |= PreviewStyle::code;
    return style;
}

void extend_runs(ReaderState& state, std::uint64_t start) {
    PreviewDocument& document = state.document;
    std::uint64_t end = document.text.size();
    if (end == start)
        return;
    std::uint32_t style = current_style(state);
    static const std::string no_link;
    const std::string& link = state.links.empty() ? no_link : state.links.back();
    if (!document.runs.empty()) {
        PreviewRun& last = document.runs.back();
        if (last.start + last.length == start && last.style == style && last.link == link) {
            last.length = end - last.start;
            return;
        }
    }
    document.runs.push_back(PreviewRun{start, end - start, style, link});
}

// Appends `units` to the text, folding white space like a browser does outside preformatted
// text: one space between words, none at the start of the block's content. Writes in place
// rather than unit by unit through push_back, which dominated the reader's time. Returns true
// when a U+0000 was met.
template <typename Unit>
bool append_units(ReaderState& state, const Unit* units, std::size_t count, bool keep_spaces) {
    std::u16string& text = state.document.text;
    std::size_t pos = text.size();
    text.resize(pos + count);
    char16_t* out = text.data();
    bool nul = false;
    if (keep_spaces) {
        for (std::size_t i = 0; i < count; ++i) {
            char16_t c = static_cast<char16_t>(units[i]);
            nul |= c == 0;
            out[pos++] = c;
        }
    } else {
        const PreviewBlock& block = state.open_block();
        std::uint64_t content_start = block.start + block.marker_length;
        for (std::size_t i = 0; i < count; ++i) {
            char16_t c = static_cast<char16_t>(units[i]);
            if (is_markup_space(c)) {
                if (pos > content_start && out[pos - 1] != u' ')
                    out[pos++] = u' ';
                continue;
            }
            nul |= c == 0;
            out[pos++] = c;
        }
    }
    text.resize(pos);
    return nul;
}

void add_preview_text(ReaderState& state, std::string_view text, bool raw) {
    if (!state.block_open) {
        for (char c : text)
            if (!is_markup_space(static_cast<unsigned char>(c)))
                fail("Text outside generated preview blocks.");
        return;
    }
    if (text.empty())
        return;
    bool keep_spaces = raw || state.open_block().kind == PreviewBlockKind::code_block;
    std::u16string& out = state.document.text;
    std::uint64_t start = out.size();
    bool nul;
    // ASCII without references converts byte for byte, so the common case skips decoding, the
    // general converter and their temporary strings; anything else takes the strict path.
    if (is_ascii_without(text, '&')) {
        nul = append_units(state, text.data(), text.size(), keep_spaces);
    } else {
        decode_html_entities_into(text, state.decoded);
        std::u16string units = utf8_to_utf16(state.decoded);
        nul = append_units(state, units.data(), units.size(), keep_spaces);
    }
    if (nul || out.size() > max_preview_text_units)
        fail("Preview text exceeds its limit.");
    extend_runs(state, start);
}

void open_preview_block(ReaderState& state, PreviewBlockKind kind, std::int32_t level) {
    if (state.block_open)
        fail("Nested generated preview blocks.");
    PreviewDocument& document = state.document;
    PreviewBlock block;
    block.start = document.text.size();
    block.kind = kind;
    block.level = level;
    document.blocks.push_back(block);
    if (kind == PreviewBlockKind::heading)
        document.headings.push_back(document.blocks.size() - 1);
    state.block_open = true;
}

void close_preview_block(ReaderState& state) {
    PreviewDocument& document = state.document;
    std::u16string& text = document.text;
    PreviewBlock& block = state.open_block();
    if (block.kind != PreviewBlockKind::code_block) {
        std::uint64_t content_start = block.start + block.marker_length;
        while (text.size() > content_start && text.back() == u' ')
            text.pop_back();
    } else if (block.has_code && text.size() > block.start && text.back() == u'\n') {
        // The renderer ends every code line with LF; the last one is not part of the code.
        text.pop_back();
    }
    std::uint64_t end = text.size();
    while (!document.runs.empty() && document.runs.back().start >= end)
        document.runs.pop_back();
    if (!document.runs.empty()) {
        PreviewRun& last = document.runs.back();
        if (last.start + last.length > end)
            last.length = end - last.start;
    }
    block.length = end - block.start;
    if (end == max_preview_text_units)
        fail("Preview text exceeds its limit.");
    bool inner_cell =
        block.kind == PreviewBlockKind::table_cell && block.column + 1 < block.columns;
    text.push_back(inner_cell ? u'\t' : u'\n');
    state.block_open = false;
    state.block_tag = {};
}

// Opens a block for one of the simple block elements and reads its source line.
void open_tagged_block(ReaderState& state, std::string_view tag, std::string_view name,
                       PreviewBlockKind kind, std::int32_t level) {
    open_preview_block(state, kind, level);
    state.block_tag = name;
    state.open_block().source_line =
        parse_generated_number(tag, "data-source-line", default_source_line);
}

void close_tagged_block(ReaderState& state, std::string_view name) {
    if (!state.block_open || state.block_tag != name)
        fail("Mismatched generated preview block.");
    close_preview_block(state);
}

void open_list(ReaderState& state, std::string_view tag, std::string_view name) {
    if (state.block_open) {
        if (state.block_tag != "li")
            fail("List inside non-list block.");
        // An item's block holds only its text before the nested list.
        close_preview_block(state);
    }
    if (state.lists.size() >= max_open_lists)
        fail("List nesting limit exceeded.");
    std::uint64_t first =
        name == "ol" ? parse_generated_number(tag, "start", default_list_start) : 0;
    state.lists.push_back(OpenList{name, first, false});
}

void close_list(ReaderState& state, std::string_view name) {
    if (state.lists.empty() || state.lists.back().tag != name || state.lists.back().item_open ||
        state.block_open)
        fail("Unmatched generated list.");
    state.lists.pop_back();
}

std::string list_marker(OpenList& list, std::int32_t task) {
    constexpr std::string_view bullet = "\xE2\x80\xA2";   // U+2022
    constexpr std::string_view open_box = "\xE2\x98\x90"; // U+2610
    constexpr std::string_view done_box = "\xE2\x98\x91"; // U+2611
    std::string_view box = task == 1 ? done_box : open_box;
    std::string marker;
    if (list.tag == "ol") {
        marker = std::to_string(list.next_number) + ".";
        ++list.next_number;
        if (task >= 0) {
            marker += ' ';
            marker += box;
        }
    } else {
        marker = task >= 0 ? box : bullet;
    }
    marker.push_back('\t');
    return marker;
}

void open_list_item(ReaderState& state, std::string_view tag) {
    open_tagged_block(state, tag, "li", PreviewBlockKind::list_item, 0);
    if (state.lists.empty() || state.lists.back().item_open)
        fail("List item outside its list.");
    OpenList& list = state.lists.back();
    list.item_open = true;
    PreviewBlock& block = state.open_block();
    block.level = static_cast<std::int32_t>(state.lists.size() - 1);
    std::uint64_t task = parse_generated_number(tag, "data-task", absent_task);
    if (contains(tag, "data-task=")) {
        if (task > 1)
            fail("Invalid task state.");
        block.task = static_cast<std::int32_t>(task);
    }
    std::uint64_t before = state.document.text.size();
    add_preview_text(state, list_marker(list, state.open_block().task), true);
    state.open_block().marker_length = state.document.text.size() - before;
}

void close_list_item(ReaderState& state) {
    bool own_block = state.block_open && state.block_tag == "li";
    if (state.lists.empty() || !state.lists.back().item_open || (state.block_open && !own_block))
        fail("Mismatched generated preview block.");
    if (own_block)
        close_preview_block(state);
    state.lists.back().item_open = false;
}

void open_table(ReaderState& state) {
    if (state.in_table || state.block_open || !state.lists.empty())
        fail("Nested table.");
    ++state.table_number;
    state.in_table = true;
    state.row = 0;
    state.column_count = 0;
}

void close_table(ReaderState& state) {
    if (!state.in_table || state.in_row || state.block_open)
        fail("Unclosed table.");
    state.in_table = false;
}

void check_table_section(const ReaderState& state) {
    if (!state.in_table || state.in_row)
        fail("Invalid table section.");
}

// The column count comes from the header cells of a table's first row, counted ahead up to
// that row's end.
std::uint64_t count_header_cells(std::string_view rest) {
    std::size_t row_end = rest.find("</tr>");
    if (row_end == std::string_view::npos)
        fail("Unclosed table row.");
    std::string_view row = rest.substr(0, row_end);
    std::uint64_t count = 0;
    for (std::size_t at = row.find("<th"); at != std::string_view::npos;
         at = row.find("<th", at + 3)) {
        if (++count > max_table_columns)
            break;
    }
    if (count < 1 || count > max_table_columns)
        fail("Invalid table columns.");
    return count;
}

void open_row(ReaderState& state, std::string_view tag, std::string_view rest) {
    if (!state.in_table)
        fail("Row outside table.");
    if (state.in_row)
        fail("Nested table row.");
    state.row_source_line = parse_generated_number(tag, "data-source-line", default_source_line);
    state.column = 0;
    state.in_row = true;
    if (state.column_count == 0)
        state.column_count = count_header_cells(rest);
}

void close_row(ReaderState& state) {
    if (!state.in_table)
        fail("Row outside table.");
    if (!state.in_row || state.block_open || state.column != state.column_count)
        fail("Invalid table row.");
    ++state.row;
    state.in_row = false;
}

void open_cell(ReaderState& state, std::string_view tag, std::string_view name) {
    if (!state.in_row)
        fail("Cell outside table row.");
    if (state.column == state.column_count)
        fail("Extra table cell.");
    open_preview_block(state, PreviewBlockKind::table_cell, 0);
    state.block_tag = name;
    PreviewBlock& block = state.open_block();
    block.source_line = state.row_source_line;
    block.table = state.table_number;
    block.row = state.row;
    block.column = state.column;
    block.columns = state.column_count;
    block.header = name == "th" ? 1 : 0;
    block.align = contains(tag, "align=\"right\"") ? 2 : contains(tag, "align=\"center\"") ? 1 : 0;
    if (block.header)
        ++state.strong;
}

void close_cell(ReaderState& state, std::string_view name) {
    if (!state.in_row)
        fail("Cell outside table row.");
    if (!state.block_open || state.block_tag != name)
        fail("Mismatched table cell.");
    if (name == "th")
        --state.strong;
    close_preview_block(state);
    ++state.column;
}

std::int32_t* style_counter(ReaderState& state, std::string_view name) {
    if (name == "strong")
        return &state.strong;
    if (name == "em")
        return &state.em;
    if (name == "del")
        return &state.del;
    if (name == "code")
        return &state.code;
    return nullptr;
}

void open_style(ReaderState& state, std::int32_t& counter, std::string_view name) {
    ++counter;
    if (name == "code" && state.block_open &&
        state.open_block().kind == PreviewBlockKind::code_block)
        state.open_block().has_code = 1;
}

void close_style(std::int32_t& counter) {
    if (counter <= 0)
        fail("Unmatched inline preview style.");
    --counter;
}

void open_link(ReaderState& state, std::string_view tag) {
    std::size_t href = tag.find("href=\"");
    if (href == std::string_view::npos)
        fail("Invalid preview link.");
    std::size_t first = href + 6;
    std::size_t close = tag.find('"', first);
    if (close == std::string_view::npos)
        fail("Invalid preview link.");
    std::string target = decode_html_entities(std::string(tag.substr(first, close - first)));
    utf8_to_utf16(target); // a target that is no valid UTF-8 is refused with the converter's error
    if (!is_allowed_link(target))
        target.clear();
    state.links.push_back(std::move(target));
}

void close_link(ReaderState& state) {
    if (state.links.empty())
        fail("Unmatched preview link.");
    state.links.pop_back();
}

bool is_heading_name(std::string_view name) {
    return name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6';
}

void handle_opening_tag(ReaderState& state, std::string_view tag, std::string_view name,
                        std::string_view rest) {
    if (name == "p")
        return open_tagged_block(state, tag, name, PreviewBlockKind::paragraph, 0);
    if (is_heading_name(name))
        return open_tagged_block(state, tag, name, PreviewBlockKind::heading, name[1] - '0');
    if (name == "pre")
        return open_tagged_block(state, tag, name, PreviewBlockKind::code_block, 0);
    if (name == "blockquote")
        return open_tagged_block(state, tag, name, PreviewBlockKind::quote, 0);
    if (name == "li")
        return open_list_item(state, tag);
    if (name == "hr") {
        open_tagged_block(state, tag, {}, PreviewBlockKind::rule, 0);
        return close_preview_block(state);
    }
    if (name == "br")
        return add_preview_text(state, "\n", true);
    if (name == "ul" || name == "ol")
        return open_list(state, tag, name);
    if (name == "table")
        return open_table(state);
    if (name == "thead" || name == "tbody")
        return check_table_section(state);
    if (name == "tr")
        return open_row(state, tag, rest);
    if (name == "th" || name == "td")
        return open_cell(state, tag, name);
    if (std::int32_t* counter = style_counter(state, name))
        return open_style(state, *counter, name);
    if (name == "a")
        return open_link(state, tag);
    if (name == "span") {
        ++state.span_depth;
        return;
    }
    fail("Unsupported generated preview tag.");
}

void handle_closing_tag(ReaderState& state, std::string_view name) {
    if (name == "p" || is_heading_name(name) || name == "pre" || name == "blockquote")
        return close_tagged_block(state, name);
    if (name == "li") {
        close_list_item(state);
        return;
    }
    if (name == "ul" || name == "ol")
        return close_list(state, name);
    if (name == "table")
        return close_table(state);
    if (name == "thead" || name == "tbody")
        return check_table_section(state);
    if (name == "tr")
        return close_row(state);
    if (name == "th" || name == "td")
        return close_cell(state, name);
    if (std::int32_t* counter = style_counter(state, name))
        return close_style(*counter);
    if (name == "a")
        return close_link(state);
    if (name == "span") {
        if (state.span_depth == 0)
            fail("Unmatched generated span.");
        --state.span_depth;
        return;
    }
    fail("Unsupported generated preview tag.");
}

void check_complete(const ReaderState& state) {
    if (state.block_open || state.span_depth != 0 || !state.lists.empty() || state.in_table ||
        state.in_row || !state.links.empty() || state.strong != 0 || state.em != 0 ||
        state.del != 0 || state.code != 0)
        fail("Incomplete generated preview document.");
}

// The part of the page between the first "<body>" and the last "</body>".
std::string_view page_body(const std::string& markup) {
    std::size_t open = markup.find("<body>");
    std::size_t close = markup.rfind("</body>");
    if (open == std::string::npos || close == std::string::npos || close < open + 6)
        fail("Invalid generated preview document.");
    return std::string_view(markup).substr(open + 6, close - open - 6);
}

} // namespace

PreviewDocument read_preview_markup(const std::string& markup) {
    if (markup.size() > max_markup_bytes)
        fail("Preview markup exceeds its limit.");
    std::string_view body = page_body(markup);
    ReaderState state;
    // Apart from list numbers, every unit of text comes from at least one byte of markup, so
    // this reservation is rarely outgrown.
    state.document.text.reserve(std::min<std::uint64_t>(body.size(), max_preview_text_units));
    std::size_t pos = 0;
    while (pos < body.size()) {
        std::size_t open = find_byte(body, pos, '<');
        std::size_t text_end = open == std::string_view::npos ? body.size() : open;
        add_preview_text(state, body.substr(pos, text_end - pos), false);
        if (open == std::string_view::npos)
            break;
        std::size_t close = find_byte(body, open + 1, '>');
        if (close == std::string_view::npos)
            fail("Truncated preview tag.");
        std::string_view tag = body.substr(open + 1, close - open - 1);
        bool closing = !tag.empty() && tag.front() == '/';
        if (closing)
            tag.remove_prefix(1);
        std::string_view name = tag.substr(0, tag.find(' '));
        if (closing)
            handle_closing_tag(state, name);
        else
            handle_opening_tag(state, tag, name, body.substr(close + 1));
        pos = close + 1;
    }
    check_complete(state);
    state.document.text.shrink_to_fit();
    return std::move(state.document);
}

} // namespace pellix
