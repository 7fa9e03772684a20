#include "markdown/html_render.h"

#include "markdown/inline_render.h"
#include "markdown/line_scanners.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <tuple>
#include <utility>
#include <string_view>
#include <vector>

namespace pellix {
namespace {

constexpr std::string_view page_head =
    "<!doctype html><html><head><meta charset=\"utf-8\"><meta "
    "http-equiv=\"Content-Security-Policy\" "
    "content=\"default-src 'none'; style-src 'unsafe-inline'; base-uri 'none'; form-action "
    "'none'\"><style>";

constexpr std::string_view dark_colour_rules =
    ":root{color-scheme:dark}body{background:#202020;color:#eee}";
constexpr std::string_view light_colour_rules = "body{background:#fafafa;color:#222}";

constexpr std::string_view common_style_rules =
    "body{font:16px/1.6 Segoe UI,sans-serif;max-width:960px;margin:24px auto;padding:0 "
    "24px;overflow-wrap:anywhere}pre{padding:14px;background:#8882;overflow:auto;white-space:pre}"
    "code{font-family:Consolas,monospace;background:#8882}pre code{background:none}blockquote{"
    "border-left:3px solid #1599cf;margin-left:0;padding-left:18px;color:#888}a{color:#1599cf}h1,"
    "h2{border-bottom:1px solid #8884}li{margin:4px 0}hr{border:0;border-top:1px solid "
    "#8884}table{border-collapse:collapse;width:100%;margin:12px 0}th,td{border:1px solid "
    "#8886;padding:8px;overflow-wrap:anywhere}th{background:#8882}";

constexpr std::string_view print_and_task_rules =
    "@media print{html,body{background:#fff!important;color:#000!important}body{max-width:none;"
    "margin:0;padding:0;font-size:11pt}blockquote{color:#333}a{color:#000}pre{white-space:pre-"
    "wrap;overflow-wrap:anywhere;background:#f4f4f4;break-inside:avoid}code{background:#f4f4f4}"
    "mark[data-search]{background:transparent;color:inherit;outline:0}h1,h2,h3{break-after:avoid}"
    "}ul>li[data-task]{list-style:none;position:relative}li[data-task]::before{content:'\\2610';"
    "padding-right:.4em}li[data-task=\"1\"]::before{content:'\\2611'}ul>li[data-task]::before{"
    "position:absolute;right:100%;padding-right:.5em}</style></head><body>";

constexpr std::string_view page_tail = "</body></html>";

constexpr std::size_t max_list_depth = 64;
constexpr std::size_t max_table_columns = 64;

const char* const preview_source_message =
    "Preview is limited to 256 KiB of source. The full document remains editable and saveable.";
const char* const document_source_message = "Markdown source exceeds the 8 MiB limit.";
const char* const other_source_message = "Markdown source exceeds the rendering limit.";
const char* const page_cap_message =
    "Rendered preview exceeds the size limit. The full document remains editable and saveable.";

void append_decimal(std::string& out, std::uint64_t value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

std::string_view without_leading_blanks(std::string_view line) {
    std::size_t p = 0;
    while (p < line.size() && is_blank(line[p])) {
        ++p;
    }
    return line.substr(p);
}

bool is_thematic_break(std::string_view trimmed) {
    if (trimmed.size() < 3) {
        return false;
    }
    const char c = trimmed.front();
    return (c == '*' || c == '-' || c == '_') &&
           trimmed.find_first_not_of(c) == std::string_view::npos;
}

bool is_blockquote_line(std::string_view line) {
    const std::string_view t = trim_blanks_view(line);
    return !t.empty() && t.front() == '>';
}

bool is_table_body_line(std::string_view line) {
    return line.find('|') != std::string_view::npos && !trim_blanks_view(line).empty();
}

std::string_view alignment_word(std::uint32_t code) {
    switch (code) {
    case table_align_center:
        return "center";
    case table_align_right:
        return "right";
    default:
        return "left";
    }
}

// The source's lines read forward: split at LF, a final LF starts no further line, and one
// trailing CR is dropped. Blocks that take several lines only ever look ahead.
class LineReader {
public:
    explicit LineReader(std::string_view source) : source_(source) { load(0); }

    bool done() const { return start_ >= source_.size(); }
    std::string_view line() const { return line_; }
    std::uint64_t number() const { return number_; }

    bool has_next() const { return next_start_ < source_.size(); }
    std::string_view next_line() const { return line_at(next_start_).first; }

    void advance() {
        load(next_start_);
        ++number_;
    }

private:
    std::pair<std::string_view, std::size_t> line_at(std::size_t start) const {
        if (start >= source_.size()) {
            return {{}, source_.size()};
        }
        std::size_t end = source_.find('\n', start);
        const std::size_t next = end == std::string_view::npos ? source_.size() : end + 1;
        if (end == std::string_view::npos) {
            end = source_.size();
        }
        std::string_view text = source_.substr(start, end - start);
        if (!text.empty() && text.back() == '\r') {
            text.remove_suffix(1);
        }
        return {text, next};
    }

    void load(std::size_t start) {
        start_ = start;
        std::tie(line_, next_start_) = line_at(start);
    }

    std::string_view source_;
    std::size_t start_ = 0;
    std::size_t next_start_ = 0;
    std::string_view line_;
    std::uint64_t number_ = 0;
};

struct ListLevel {
    std::uint64_t indent = 0;
    std::string_view tag; // "ul" or "ol"
    std::string pending;
};

// The open lists, innermost last. Closed levels keep their text buffers for the next list to
// open at that depth, so a document of many short lists allocates only a few times.
class ListStack {
public:
    bool empty() const { return open_ == 0; }
    std::size_t size() const { return open_; }
    ListLevel& back() { return levels_[open_ - 1]; }

    void push(std::uint64_t indent, std::string_view tag) {
        if (open_ == levels_.size()) {
            levels_.emplace_back();
        }
        ListLevel& level = levels_[open_++];
        level.indent = indent;
        level.tag = tag;
        level.pending.clear();
    }
    void pop() { --open_; }

private:
    std::vector<ListLevel> levels_;
    std::size_t open_ = 0;
};

// One render call: the page under construction and the block state of the dialect.
class BlockRenderer {
public:
    BlockRenderer(std::string& page, std::string_view source, std::uint64_t page_cap)
        : page_(page), lines_(source), page_cap_(page_cap) {}

    void render_blocks() {
        while (!lines_.done()) {
            render_line();
            check_page_cap();
            lines_.advance();
        }
        flush_paragraph();
        close_every_list();
        if (fence_.inside()) {
            page_.append("</code></pre>");
        }
    }

    // The page only grows once a block is written, so a page past its cap at any block
    // boundary is past it at the end: failing early gives the same answer without building
    // gigabytes first.
    void check_page_cap() const {
        if (page_.size() > page_cap_) {
            throw std::runtime_error(page_cap_message);
        }
    }

private:
    void render_line() {
        const std::string_view line = lines_.line();
        if (take_fence_line(line)) {
            return;
        }
        if (fence_.inside()) {
            append_escaped_html(page_, line);
            page_.push_back('\n');
            return;
        }
        const std::string_view trimmed = trim_blanks_view(line);
        if (trimmed.empty()) {
            flush_paragraph();
            close_every_list();
        } else if (AtxHeading heading = parse_atx_heading(line); heading.level != 0) {
            write_heading(heading);
        } else if (is_thematic_break(trimmed)) {
            flush_paragraph();
            close_every_list();
            page_.append("<hr");
            append_source_line_attribute(page_, lines_.number());
            page_.push_back('>');
        } else if (trimmed.front() == '>') {
            write_blockquote();
        } else if (try_table(line)) {
            // The table consumed its lines; the reader stands on its last row.
        } else if (ListMarker marker = scan_list_marker(line); marker.is_item()) {
            write_list_item(line, marker);
        } else {
            take_plain_line(line);
        }
    }

    bool take_fence_line(std::string_view line) {
        const FenceState next = next_fence_state(line, fence_);
        if (next == fence_) {
            return false;
        }
        flush_paragraph();
        close_every_list();
        if (fence_.inside()) {
            page_.append("</code></pre>");
            fence_ = FenceState{};
        } else {
            page_.append("<pre");
            append_source_line_attribute(page_, lines_.number());
            page_.append("><code>");
            fence_ = next;
        }
        return true;
    }

    void write_heading(const AtxHeading& heading) {
        flush_paragraph();
        close_every_list();
        page_.append("<h");
        append_decimal(page_, heading.level);
        page_.append(" id=\"h-");
        append_decimal(page_, heading_counter_++);
        page_.push_back('"');
        append_source_line_attribute(page_, lines_.number());
        page_.push_back('>');
        append_inline_html(page_, heading.text, 0);
        page_.append("</h");
        append_decimal(page_, heading.level);
        page_.push_back('>');
    }

    static std::string_view quoted_content(std::string_view line) {
        std::string_view content = without_leading_blanks(line);
        content.remove_prefix(1);
        if (!content.empty() && content.front() == ' ') {
            content.remove_prefix(1);
        }
        return content;
    }

    void write_blockquote() {
        flush_paragraph();
        close_every_list();
        page_.append("<blockquote");
        append_source_line_attribute(page_, lines_.number());
        page_.push_back('>');
        quote_.assign(quoted_content(lines_.line()));
        while (lines_.has_next() && is_blockquote_line(lines_.next_line())) {
            lines_.advance();
            quote_.push_back('\n');
            quote_.append(quoted_content(lines_.line()));
        }
        append_inline_html(page_, quote_, 0);
        page_.append("</blockquote>");
    }

    bool try_table(std::string_view header) {
        if (!lines_.has_next() || header.find('|') == std::string_view::npos) {
            return false;
        }
        std::vector<std::uint32_t>& alignments = alignments_;
        std::vector<std::string_view>& cells = cells_;
        parse_table_alignments(lines_.next_line(), alignments, cells);
        if (alignments.empty()) {
            return false;
        }
        split_table_row_views(header, cells);
        if (cells.size() != alignments.size()) {
            return false;
        }
        if (alignments.size() > max_table_columns) {
            throw std::runtime_error("Tables are limited to 64 columns.");
        }
        flush_paragraph();
        close_every_list();
        page_.append("<table><thead><tr");
        append_source_line_attribute(page_, lines_.number());
        page_.push_back('>');
        write_table_row(alignments, cells, true);
        page_.append("</tr></thead><tbody>");
        lines_.advance(); // the delimiter row
        while (lines_.has_next() && is_table_body_line(lines_.next_line())) {
            lines_.advance();
            page_.append("<tr");
            append_source_line_attribute(page_, lines_.number());
            page_.push_back('>');
            split_table_row_views(lines_.line(), cells);
            write_table_row(alignments, cells, false);
            page_.append("</tr>");
            check_page_cap();
        }
        page_.append("</tbody></table>");
        return true;
    }

    void write_table_row(const std::vector<std::uint32_t>& alignments,
                         const std::vector<std::string_view>& cells, bool header) {
        const std::string_view open = header ? "<th align=\"" : "<td align=\"";
        const std::string_view close = header ? "</th>" : "</td>";
        for (std::size_t k = 0; k < alignments.size(); ++k) {
            page_.append(open);
            page_.append(alignment_word(alignments[k]));
            page_.append("\">");
            if (k < cells.size()) {
                append_inline_html(page_, cells[k], 0);
            }
            page_.append(close);
        }
    }

    // A task box "[ ]", "[x]" or "[X]" right at the content: 0 or 1, or -1 for no task.
    static int task_value(std::string_view line, std::size_t content) {
        if (line.size() < content + 3 || line[content] != '[' || line[content + 2] != ']') {
            return -1;
        }
        if (line.size() > content + 3 && !is_blank(line[content + 3])) {
            return -1;
        }
        const char box = line[content + 1];
        if (box == ' ') {
            return 0;
        }
        return box == 'x' || box == 'X' ? 1 : -1;
    }

    void write_list_item(std::string_view line, const ListMarker& marker) {
        const std::string_view tag = marker.ordered ? "ol" : "ul";
        flush_paragraph();
        if (!continue_as_sibling(marker, tag)) {
            open_list(marker, tag);
        }
        std::size_t content = marker.content_offset;
        const int task = task_value(line, content);
        page_.append("<li");
        append_source_line_attribute(page_, lines_.number());
        if (task >= 0) {
            page_.append(" data-task=\"");
            page_.push_back(task == 1 ? '1' : '0');
            page_.push_back('"');
            content += 3;
            while (content < line.size() && is_blank(line[content])) {
                ++content;
            }
        }
        page_.push_back('>');
        lists_.back().pending.assign(line.substr(content));
    }

    // Closes deeper lists; true when the item continues the innermost list as a sibling.
    bool continue_as_sibling(const ListMarker& marker, std::string_view tag) {
        while (!lists_.empty()) {
            const ListLevel& inner = lists_.back();
            if (inner.indent > marker.indent) {
                close_innermost_list();
            } else if (inner.indent == marker.indent && inner.tag == tag) {
                flush_inline_text();
                page_.append("</li>");
                return true;
            } else if (inner.indent == marker.indent) {
                close_innermost_list();
                return false;
            } else {
                return false;
            }
        }
        return false;
    }

    void open_list(const ListMarker& marker, std::string_view tag) {
        if (lists_.size() >= max_list_depth) {
            throw std::runtime_error("List nesting exceeds 64 levels.");
        }
        flush_inline_text();
        page_.push_back('<');
        page_.append(tag);
        if (marker.ordered && marker.number != 1) {
            page_.append(" start=\"");
            append_decimal(page_, static_cast<std::uint64_t>(marker.number));
            page_.push_back('"');
        }
        page_.push_back('>');
        lists_.push(marker.indent, tag);
    }

    void take_plain_line(std::string_view line) {
        if (!lists_.empty() && leading_columns(line) > lists_.back().indent) {
            std::string& pending = lists_.back().pending;
            pending.push_back('\n');
            pending.append(without_leading_blanks(line));
            return;
        }
        close_every_list();
        if (paragraph_.empty()) {
            paragraph_line_ = lines_.number();
        } else {
            paragraph_.push_back('\n');
        }
        paragraph_.append(line);
    }

    void flush_paragraph() {
        if (paragraph_.empty()) {
            return;
        }
        page_.append("<p");
        append_source_line_attribute(page_, paragraph_line_);
        page_.push_back('>');
        append_inline_html(page_, paragraph_, 0);
        page_.append("</p>");
        paragraph_.clear();
    }

    void flush_inline_text() {
        if (lists_.empty()) {
            return;
        }
        append_inline_html(page_, lists_.back().pending, 0);
        lists_.back().pending.clear();
    }

    void close_innermost_list() {
        flush_inline_text();
        page_.append("</li></");
        page_.append(lists_.back().tag);
        page_.push_back('>');
        lists_.pop();
    }

    void close_every_list() {
        while (!lists_.empty()) {
            close_innermost_list();
        }
    }

    std::string& page_;
    LineReader lines_;
    std::uint64_t page_cap_;
    FenceState fence_;
    std::string paragraph_;
    std::string quote_;
    std::uint64_t paragraph_line_ = 0;
    ListStack lists_;
    std::uint64_t heading_counter_ = 0;
    // Buffers reused by every table, so rows cost no allocation.
    std::vector<std::uint32_t> alignments_;
    std::vector<std::string_view> cells_;
};

void check_source_size(const std::string& source, std::uint64_t source_limit) {
    if (source.size() <= source_limit) {
        return;
    }
    if (source_limit == preview_source_limit) {
        throw std::runtime_error(preview_source_message);
    }
    throw std::runtime_error(source_limit == document_limit ? document_source_message
                                                            : other_source_message);
}

void write_page_head(std::string& page, bool dark) {
    page.append(page_head);
    page.append(dark ? dark_colour_rules : light_colour_rules);
    page.append(common_style_rules);
    page.append(print_and_task_rules);
}

} // namespace

void render_markdown_html(std::string& page, const std::string& source, bool dark,
                          std::uint64_t source_limit) {
    if (&page == &source) {
        // Clearing the page would erase the source it is built from.
        std::string rendered;
        render_markdown_html(rendered, source, dark, source_limit);
        page = std::move(rendered);
        return;
    }
    page.clear();
    check_source_size(source, source_limit);
    const std::uint64_t cap =
        source_limit == preview_source_limit ? preview_page_cap : document_page_cap;
    try {
        // Markup roughly doubles a typical document; reserving that much up front saves
        // regrowing and copying a large page; reserved pages take no physical memory until
        // they are written.
        page.reserve(
            static_cast<std::size_t>(std::min<std::uint64_t>(cap, source.size() / 2 * 5 + 4096)));
        write_page_head(page, dark);
        BlockRenderer renderer(page, source, cap);
        renderer.render_blocks();
        page.append(page_tail);
        renderer.check_page_cap();
    } catch (...) {
        page.clear();
        throw;
    }
}

std::string render_markdown_html(const std::string& source, bool dark, std::uint64_t source_limit) {
    std::string page;
    render_markdown_html(page, source, dark, source_limit);
    return page;
}

} // namespace pellix
