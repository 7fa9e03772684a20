#include "markdown/html_render.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace pellix {
namespace {

const std::string page_head =
    "<!doctype html><html><head><meta charset=\"utf-8\"><meta "
    "http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src "
    "'unsafe-inline'; base-uri 'none'; form-action 'none'\"><style>";
const std::string light_rules = "body{background:#fafafa;color:#222}";
const std::string dark_rules = ":root{color-scheme:dark}body{background:#202020;color:#eee}";
const std::string common_rules =
    "body{font:16px/1.6 Segoe UI,sans-serif;max-width:960px;margin:24px auto;padding:0 "
    "24px;overflow-wrap:anywhere}pre{padding:14px;background:#8882;overflow:auto;white-space:"
    "pre}code{font-family:Consolas,monospace;background:#8882}pre code{background:none}"
    "blockquote{border-left:3px solid #1599cf;margin-left:0;padding-left:18px;color:#888}a{"
    "color:#1599cf}h1,h2{border-bottom:1px solid #8884}li{margin:4px 0}hr{border:0;border-top:"
    "1px solid #8884}table{border-collapse:collapse;width:100%;margin:12px 0}th,td{border:1px "
    "solid #8886;padding:8px;overflow-wrap:anywhere}th{background:#8882}";
const std::string print_rules =
    "@media print{html,body{background:#fff!important;color:#000!important}body{max-width:none;"
    "margin:0;padding:0;font-size:11pt}blockquote{color:#333}a{color:#000}pre{white-space:"
    "pre-wrap;overflow-wrap:anywhere;background:#f4f4f4;break-inside:avoid}code{background:"
    "#f4f4f4}mark[data-search]{background:transparent;color:inherit;outline:0}h1,h2,h3{"
    "break-after:avoid}}ul>li[data-task]{list-style:none;position:relative}li[data-task]::"
    "before{content:'\\2610';padding-right:.4em}li[data-task=\"1\"]::before{content:'\\2611'}"
    "ul>li[data-task]::before{position:absolute;right:100%;padding-right:.5em}</style></head>"
    "<body>";
const std::string page_tail = "</body></html>";

const std::string preview_limit_message =
    "Preview is limited to 256 KiB of source. The full document remains editable and saveable.";
const std::string page_cap_message =
    "Rendered preview exceeds the size limit. The full document remains editable and saveable.";

std::string light_prefix() {
    return page_head + light_rules + common_rules + print_rules;
}

// The blocks of a light preview page, after checking the fixed head and tail around them.
std::string body_of(const std::string& source, std::uint64_t limit = preview_source_limit) {
    const std::string page = render_markdown_html(source, false, limit);
    const std::string prefix = light_prefix();
    EXPECT_EQ(page.compare(0, prefix.size(), prefix), 0);
    EXPECT_GE(page.size(), prefix.size() + page_tail.size());
    EXPECT_EQ(page.substr(page.size() - page_tail.size()), page_tail);
    return page.substr(prefix.size(), page.size() - prefix.size() - page_tail.size());
}

std::string message_of(const std::string& source, std::uint64_t limit = preview_source_limit) {
    try {
        render_markdown_html(source, false, limit);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(no failure)";
}

struct Case {
    std::string source;
    std::string body;
};

void expect_bodies(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        EXPECT_EQ(body_of(c.source), c.body) << "source: " << c.source;
    }
}

TEST(RenderMarkdownPage, EmptySourceIsHeadAndTail) {
    EXPECT_EQ(render_markdown_html("", false, preview_source_limit),
              page_head + light_rules + common_rules + print_rules + page_tail);
    EXPECT_EQ(render_markdown_html("", true, document_limit),
              page_head + dark_rules + common_rules + print_rules + page_tail);
}

TEST(RenderMarkdownPage, DarkChangesOnlyTheColourRules) {
    const std::string source = "# T\n\n- a\n\n`x`";
    std::string light = render_markdown_html(source, false, preview_source_limit);
    std::string dark = render_markdown_html(source, true, preview_source_limit);
    light.replace(page_head.size(), light_rules.size(), dark_rules);
    EXPECT_EQ(light, dark);
}

TEST(RenderMarkdownPage, OutputParameterForm) {
    std::string page = "old content";
    render_markdown_html(page, "a", true, preview_source_limit);
    EXPECT_EQ(page, render_markdown_html("a", true, preview_source_limit));
    page = "old content";
    EXPECT_THROW(render_markdown_html(page, std::string(0x40001, 'a'), false, preview_source_limit),
                 std::runtime_error);
    EXPECT_TRUE(page.empty());
    std::string same = "# a";
    render_markdown_html(same, same, false, preview_source_limit);
    EXPECT_EQ(same, render_markdown_html("# a", false, preview_source_limit));
}

TEST(RenderMarkdownBlocks, HeadingsAndParagraphs) {
    expect_bodies({
        {"# A\n## B", "<h1 id=\"h-0\" data-source-line=\"0\">A</h1><h2 id=\"h-1\" "
                      "data-source-line=\"1\">B</h2>"},
        {"#A", "<p data-source-line=\"0\">#A</p>"},
        {"a\nb", "<p data-source-line=\"0\">a b</p>"},
        {"a\n\nb", "<p data-source-line=\"0\">a</p><p data-source-line=\"2\">b</p>"},
        {"a\n  \t\nb", "<p data-source-line=\"0\">a</p><p data-source-line=\"2\">b</p>"},
        {"###### x ##  ", "<h6 id=\"h-0\" data-source-line=\"0\">x ##  </h6>"},
        {"#", "<p data-source-line=\"0\">#</p>"},
        {"# a\ntext\n# *b*",
         "<h1 id=\"h-0\" data-source-line=\"0\">a</h1><p data-source-line=\"1\">text</p><h1 "
         "id=\"h-1\" data-source-line=\"2\"><em>b</em></h1>"},
        {"p\n# h", "<p data-source-line=\"0\">p</p><h1 id=\"h-0\" data-source-line=\"1\">h</h1>"},
        {"  indented\n\tline", "<p data-source-line=\"0\">  indented \tline</p>"},
        {"a  \nb", "<p data-source-line=\"0\">a<br>b</p>"},
        {"a\\\nb", "<p data-source-line=\"0\">a<br>b</p>"},
        {"a\r\nb\r\n", "<p data-source-line=\"0\">a b</p>"},
        {"a\r\r\nb", "<p data-source-line=\"0\">a\r b</p>"},
        {"\n\n", ""},
        {"<script>x</script> & [l](javascript:x)",
         "<p data-source-line=\"0\">&lt;script&gt;x&lt;/script&gt; &amp; l</p>"},
        {"see <https://x.org> or http://y.org.",
         "<p data-source-line=\"0\">see <a href=\"https://x.org\">https://x.org</a> or <a "
         "href=\"http://y.org\">http://y.org</a>.</p>"},
    });
}

TEST(RenderMarkdownBlocks, ThematicBreaks) {
    expect_bodies({
        {"***", "<hr data-source-line=\"0\">"},
        {"  ___\t", "<hr data-source-line=\"0\">"},
        {"a\n---", "<p data-source-line=\"0\">a</p><hr data-source-line=\"1\">"},
        {"**", "<p data-source-line=\"0\">**</p>"},
        {"- - -", "<ul><li data-source-line=\"0\">- -</li></ul>"},
        {"* * *", "<ul><li data-source-line=\"0\">* *</li></ul>"},
        {"-*-", "<p data-source-line=\"0\">-*-</p>"},
        {"- a\n---", "<ul><li data-source-line=\"0\">a</li></ul><hr data-source-line=\"1\">"},
    });
}

TEST(RenderMarkdownBlocks, FencedCode) {
    expect_bodies({
        {"```\na<b\n```", "<pre data-source-line=\"0\"><code>a&lt;b\n</code></pre>"},
        {"```cpp\nx\n```\nafter",
         "<pre data-source-line=\"0\"><code>x\n</code></pre><p data-source-line=\"3\">after</p>"},
        {"```\nx", "<pre data-source-line=\"0\"><code>x\n</code></pre>"},
        {"```\n\n```", "<pre data-source-line=\"0\"><code>\n</code></pre>"},
        {"```\n```", "<pre data-source-line=\"0\"><code></code></pre>"},
        {"p\n~~~~\n# h\n- i\n~~~\n```\n~~~~~",
         "<p data-source-line=\"0\">p</p><pre data-source-line=\"1\"><code># h\n- i\n~~~\n```\n</"
         "code></pre>"},
        {"- a\n```\nb\n```",
         "<ul><li data-source-line=\"0\">a</li></ul><pre data-source-line=\"1\"><code>b\n</code></"
         "pre>"},
        {"```\r\n\tx  \r\n```\r\n", "<pre data-source-line=\"0\"><code>\tx  \n</code></pre>"},
        {"    ```\nx", "<p data-source-line=\"0\">    <code></code>` x</p>"},
    });
}

TEST(RenderMarkdownBlocks, Lists) {
    expect_bodies({
        {"- a\n  - b\n- c",
         "<ul><li data-source-line=\"0\">a<ul><li data-source-line=\"1\">b</li></ul></li><li "
         "data-source-line=\"2\">c</li></ul>"},
        {"1. a\n- b",
         "<ol><li data-source-line=\"0\">a</li></ol><ul><li data-source-line=\"1\">b</li></ul>"},
        {"3. x", "<ol start=\"3\"><li data-source-line=\"0\">x</li></ol>"},
        {"0. x", "<ol start=\"0\"><li data-source-line=\"0\">x</li></ol>"},
        {"1. a\n2) b\n7. c",
         "<ol><li data-source-line=\"0\">a</li><li data-source-line=\"1\">b</li><li "
         "data-source-line=\"2\">c</li></ol>"},
        {"- a\n* b\n+ c",
         "<ul><li data-source-line=\"0\">a</li><li data-source-line=\"1\">b</li><li "
         "data-source-line=\"2\">c</li></ul>"},
        {"- [x] done", "<ul><li data-source-line=\"0\" data-task=\"1\">done</li></ul>"},
        {"- [X]\t\tz", "<ul><li data-source-line=\"0\" data-task=\"1\">z</li></ul>"},
        {"- [ ]", "<ul><li data-source-line=\"0\" data-task=\"0\"></li></ul>"},
        {"1. [ ] *t*", "<ol><li data-source-line=\"0\" data-task=\"0\"><em>t</em></li></ol>"},
        {"- [y] no", "<ul><li data-source-line=\"0\">[y] no</li></ul>"},
        {"- [x]y", "<ul><li data-source-line=\"0\">[x]y</li></ul>"},
        {"- [x", "<ul><li data-source-line=\"0\">[x</li></ul>"},
        {"- a\n b\nc",
         "<ul><li data-source-line=\"0\">a b</li></ul><p data-source-line=\"2\">c</p>"},
        {"- a  \n   b", "<ul><li data-source-line=\"0\">a<br>b</li></ul>"},
        {"- a\n\n- b",
         "<ul><li data-source-line=\"0\">a</li></ul><ul><li data-source-line=\"2\">b</li></ul>"},
        {"para\n- item",
         "<p data-source-line=\"0\">para</p><ul><li data-source-line=\"1\">item</li></ul>"},
        {"- a\n  2. b\n  3. c",
         "<ul><li data-source-line=\"0\">a<ol start=\"2\"><li data-source-line=\"1\">b</li><li "
         "data-source-line=\"2\">c</li></ol></li></ul>"},
        {"- a\n  - b\n    - c\n- d",
         "<ul><li data-source-line=\"0\">a<ul><li data-source-line=\"1\">b<ul><li "
         "data-source-line=\"2\">c</li></ul></li></ul></li><li data-source-line=\"3\">d</li></ul>"},
        {"- a\n  - b\n  1. c",
         "<ul><li data-source-line=\"0\">a<ul><li data-source-line=\"1\">b</li></ul><ol><li "
         "data-source-line=\"2\">c</li></ol></li></ul>"},
        {"  - a\n- b",
         "<ul><li data-source-line=\"0\">a</li></ul><ul><li data-source-line=\"1\">b</li></ul>"},
        {"\t- a\n    - b",
         "<ul><li data-source-line=\"0\">a</li><li data-source-line=\"1\">b</li></ul>"},
        {"- a\n  - b\n   text",
         "<ul><li data-source-line=\"0\">a<ul><li data-source-line=\"1\">b text</li></ul></li></"
         "ul>"},
        {"- a\n  - b\n  text",
         "<ul><li data-source-line=\"0\">a<ul><li data-source-line=\"1\">b</li></ul></li></ul><p "
         "data-source-line=\"2\">  text</p>"},
        {"- ", "<ul><li data-source-line=\"0\"></li></ul>"},
        {"- a\n# h",
         "<ul><li data-source-line=\"0\">a</li></ul><h1 id=\"h-0\" data-source-line=\"1\">h</h1>"},
        {"- a\n> q", "<ul><li data-source-line=\"0\">a</li></ul><blockquote "
                     "data-source-line=\"1\">q</blockquote>"},
    });
}

std::string nested_list_source(int levels) {
    std::string source;
    for (int level = 0; level < levels; ++level) {
        source += std::string(static_cast<std::size_t>(level), ' ') + "- x\n";
    }
    return source;
}

TEST(RenderMarkdownBlocks, ListNestingLimit) {
    std::string expected;
    for (int level = 0; level < 64; ++level) {
        expected += (level == 0 ? "<ul><li" : "x<ul><li") + std::string(" data-source-line=\"") +
                    std::to_string(level) + "\">";
    }
    expected += "x</li></ul>";
    for (int level = 1; level < 64; ++level) {
        expected += "</li></ul>";
    }
    EXPECT_EQ(body_of(nested_list_source(64)), expected);
    EXPECT_EQ(message_of(nested_list_source(65)), "List nesting exceeds 64 levels.");
}

TEST(RenderMarkdownBlocks, Blockquotes) {
    expect_bodies({
        {">a\n>\n> b", "<blockquote data-source-line=\"0\">a<br><br>b</blockquote>"},
        {">a\n> b", "<blockquote data-source-line=\"0\">a b</blockquote>"},
        {"> > x", "<blockquote data-source-line=\"0\">&gt; x</blockquote>"},
        {">\ta", "<blockquote data-source-line=\"0\">\ta</blockquote>"},
        {"  >  a", "<blockquote data-source-line=\"0\"> a</blockquote>"},
        {">a\nb",
         "<blockquote data-source-line=\"0\">a</blockquote><p data-source-line=\"1\">b</p>"},
        {"p\n> q",
         "<p data-source-line=\"0\">p</p><blockquote data-source-line=\"1\">q</blockquote>"},
        {"> a\n\n> b", "<blockquote data-source-line=\"0\">a</blockquote><blockquote "
                       "data-source-line=\"2\">b</blockquote>"},
        {"> a\n> ```\n> # b",
         "<blockquote data-source-line=\"0\">a <code></code>` # b</blockquote>"},
        {"> a | b\n--- | ---",
         "<blockquote data-source-line=\"0\">a | b</blockquote><p data-source-line=\"1\">--- | "
         "---</p>"},
    });
}

TEST(RenderMarkdownBlocks, Tables) {
    expect_bodies({
        {"a | b\n--- | :---:\n1 | 2 | 3",
         "<table><thead><tr data-source-line=\"0\"><th align=\"left\">a</th><th "
         "align=\"center\">b</th></tr></thead><tbody><tr data-source-line=\"2\"><td "
         "align=\"left\">1</td><td align=\"center\">2</td></tr></tbody></table>"},
        {"|a|b|\n|---:|:---|\n| 1 |",
         "<table><thead><tr data-source-line=\"0\"><th align=\"right\">a</th><th "
         "align=\"left\">b</th></tr></thead><tbody><tr data-source-line=\"2\"><td "
         "align=\"right\">1</td><td align=\"left\"></td></tr></tbody></table>"},
        {"a|b\n---|---\nx", "<table><thead><tr data-source-line=\"0\"><th align=\"left\">a</th><th "
                            "align=\"left\">b</th></tr></thead><tbody></tbody></table><p "
                            "data-source-line=\"2\">x</p>"},
        {"a|b\n---|---|---", "<p data-source-line=\"0\">a|b ---|---|---</p>"},
        {"a \\| b | c\n--- | ---",
         "<table><thead><tr data-source-line=\"0\"><th align=\"left\">a | b</th><th "
         "align=\"left\">c</th></tr></thead><tbody></tbody></table>"},
        {"`x|y` | c\n--- | ---",
         "<table><thead><tr data-source-line=\"0\"><th align=\"left\"><code>x|y</code></th><th "
         "align=\"left\">c</th></tr></thead><tbody></tbody></table>"},
        {"a|b\n---|---\n# x|> y\n\n3|4",
         "<table><thead><tr data-source-line=\"0\"><th align=\"left\">a</th><th "
         "align=\"left\">b</th></tr></thead><tbody><tr data-source-line=\"2\"><td "
         "align=\"left\"># x</td><td align=\"left\">&gt; y</td></tr></tbody></table><p "
         "data-source-line=\"4\">3|4</p>"},
        {"- a | b\n--- | ---",
         "<table><thead><tr data-source-line=\"0\"><th align=\"left\">- a</th><th "
         "align=\"left\">b</th></tr></thead><tbody></tbody></table>"},
        {"p\na|b\n---|---",
         "<p data-source-line=\"0\">p</p><table><thead><tr data-source-line=\"1\"><th "
         "align=\"left\">a</th><th align=\"left\">b</th></tr></thead><tbody></tbody></table>"},
        {"a|b", "<p data-source-line=\"0\">a|b</p>"},
        {"a|b\n--|--", "<p data-source-line=\"0\">a|b --|--</p>"},
        {"a|b\r\n---|---\r\n1|2\r\n",
         "<table><thead><tr data-source-line=\"0\"><th align=\"left\">a</th><th "
         "align=\"left\">b</th></tr></thead><tbody><tr data-source-line=\"2\"><td "
         "align=\"left\">1</td><td align=\"left\">2</td></tr></tbody></table>"},
    });
}

std::string table_source(int columns, int rows) {
    std::string header;
    std::string delimiter;
    std::string row;
    for (int k = 0; k < columns; ++k) {
        header += "|h";
        delimiter += "|---";
        row += "|c";
    }
    std::string source = header + "|\n" + delimiter + "|\n";
    for (int r = 0; r < rows; ++r) {
        source += row + "|\n";
    }
    return source;
}

TEST(RenderMarkdownBlocks, TableColumnLimit) {
    const std::string body = body_of(table_source(64, 1));
    std::string expected = "<table><thead><tr data-source-line=\"0\">";
    for (int k = 0; k < 64; ++k) {
        expected += "<th align=\"left\">h</th>";
    }
    expected += "</tr></thead><tbody><tr data-source-line=\"2\">";
    for (int k = 0; k < 64; ++k) {
        expected += "<td align=\"left\">c</td>";
    }
    expected += "</tr></tbody></table>";
    EXPECT_EQ(body, expected);
    EXPECT_EQ(message_of(table_source(65, 1)), "Tables are limited to 64 columns.");
    EXPECT_EQ(message_of(table_source(65, 0), document_limit),
              "Tables are limited to 64 columns.");
}

TEST(RenderMarkdownLimits, SourceLimitAtItsEdge) {
    EXPECT_NO_THROW(render_markdown_html(std::string(0x40000, 'a'), false, preview_source_limit));
    EXPECT_EQ(message_of(std::string(0x40001, 'a')), preview_limit_message);
    EXPECT_EQ(message_of("abc", 2), "Markdown source exceeds the rendering limit.");
    EXPECT_EQ(message_of("ab", 2), "(no failure)");
    EXPECT_EQ(message_of(std::string(0x800001, 'a'), document_limit),
              "Markdown source exceeds the 8 MiB limit.");
    EXPECT_EQ(message_of(std::string(0x800000, 'a'), document_limit), "(no failure)");
}

// A one-paragraph source whose page is exactly `page_size` bytes: '&' becomes five bytes.
std::string source_for_page_size(std::size_t page_size) {
    const std::size_t fixed = render_markdown_html("a", false, document_limit).size() - 1;
    const std::size_t ampersands = 190000;
    const std::size_t letters = page_size - fixed - 5 * ampersands;
    return std::string(ampersands, '&') + std::string(letters, 'a');
}

TEST(RenderMarkdownLimits, PageCapAtItsEdge) {
    const std::string at_cap = source_for_page_size(1000000);
    ASSERT_LE(at_cap.size(), 0x40000u);
    EXPECT_EQ(render_markdown_html(at_cap, false, preview_source_limit).size(), 1000000u);
    const std::string past_cap = source_for_page_size(1000001);
    EXPECT_EQ(message_of(past_cap), page_cap_message);
    EXPECT_EQ(render_markdown_html(past_cap, false, document_limit).size(), 1000001u);
    EXPECT_EQ(render_markdown_html(past_cap, false, 0x40001).size(), 1000001u);
}

// A whole-document source whose page is exactly `page_size` bytes: wide empty table rows make
// up most of the page, and a closing paragraph of letters adds one byte per letter.
std::string document_for_page_size(std::size_t page_size) {
    std::string rows = table_source(64, 44000) + "\n";
    const std::size_t fixed =
        render_markdown_html(rows + "a", false, document_limit).size() - 1;
    return rows + std::string(page_size - fixed, 'a');
}

TEST(RenderMarkdownLimits, DocumentPageCapAtItsEdge) {
    const std::string at_cap = document_for_page_size(0x4000000);
    ASSERT_LE(at_cap.size(), document_limit);
    EXPECT_EQ(render_markdown_html(at_cap, false, document_limit).size(), 0x4000000u);
    EXPECT_EQ(message_of(document_for_page_size(0x4000001), document_limit),
              page_cap_message);
}

TEST(RenderMarkdownLimits, WideTableFailsBeforeBuildingTheWholePage) {
    // A 64-column header over rows of a single pipe: each two-byte row writes over a kilobyte,
    // so the full page would be several gigabytes.
    std::string source = table_source(64, 0);
    source.reserve(document_limit);
    while (source.size() + 2 <= document_limit) {
        source += "|\n";
    }
    EXPECT_EQ(message_of(source, document_limit), page_cap_message);
    source.resize(preview_source_limit);
    EXPECT_EQ(message_of(source), page_cap_message);
}

} // namespace
} // namespace pellix
