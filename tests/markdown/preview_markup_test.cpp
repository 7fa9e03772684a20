#include "markdown/preview_markup.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "markdown/html_render.h"
#include "markdown/line_scanners.h"
#include "markdown/plain_text_page.h"

namespace pellix {
namespace {

std::string page(const std::string& body) {
    return "<!doctype html><html><head><style>p{}</style></head><body>" + body + "</body></html>";
}

PreviewDocument read_body(const std::string& body) {
    return read_preview_markup(page(body));
}

std::string message_of(const std::string& markup) {
    try {
        read_preview_markup(markup);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(no error)";
}

std::string body_message(const std::string& body) {
    return message_of(page(body));
}

std::string repeat(const std::string& text, int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += text;
    return out;
}

PreviewRun run(std::uint64_t start, std::uint64_t length, std::uint32_t style,
               std::string link = {}) {
    return PreviewRun{start, length, style, std::move(link)};
}

TEST(PreviewMarkupTest, EmptyBodyAndTextOutsideTheBody) {
    PreviewDocument document = read_preview_markup("junk <p> before<body></body>after </p>");
    EXPECT_EQ(document, PreviewDocument{});
    // The last "</body>" ends the body, so an earlier one is ordinary markup inside it.
    EXPECT_EQ(message_of("<body><p>a</p></body><p>b</p></body>"),
              "Unsupported generated preview tag.");
}

TEST(PreviewMarkupTest, WhiteSpaceBetweenBlocksIsIgnoredButTextIsRefused) {
    PreviewDocument document = read_body(" \r\n\t<p>a</p> \n <hr>\n");
    EXPECT_EQ(document.text, u"a\n\n");
    ASSERT_EQ(document.blocks.size(), 2u);
    EXPECT_EQ(document.blocks[1].kind, PreviewBlockKind::rule);
    EXPECT_EQ(document.blocks[1].start, 2u);
    EXPECT_EQ(document.blocks[1].length, 0u);
    EXPECT_EQ(body_message("<p>a</p>x<p>b</p>"), "Text outside generated preview blocks.");
    // A line break between blocks has no block to go to and is dropped.
    EXPECT_EQ(read_body("<br><p>a</p>").text, u"a\n");
}

TEST(PreviewMarkupTest, ParagraphWhiteSpaceCollapses) {
    PreviewDocument document = read_body("<p data-source-line=\"7\">  one \n\t two  </p>");
    EXPECT_EQ(document.text, u"one two\n");
    ASSERT_EQ(document.blocks.size(), 1u);
    EXPECT_EQ(document.blocks[0].source_line, 7u);
    EXPECT_EQ(document.blocks[0].length, 7u);
    EXPECT_EQ(document.runs, std::vector<PreviewRun>{run(0, 7, 0)});

    document = read_body("<p>x<br>y</p>");
    EXPECT_EQ(document.text, u"x\ny\n");
    EXPECT_EQ(document.runs, std::vector<PreviewRun>{run(0, 3, 0)});
}

TEST(PreviewMarkupTest, TrailingSpacesInsideStyledTextAreTrimmedFromRuns) {
    PreviewDocument document = read_body("<p>a <em>b </em> </p>");
    EXPECT_EQ(document.text, u"a b\n");
    EXPECT_EQ(document.runs,
              (std::vector<PreviewRun>{run(0, 2, 0), run(2, 1, PreviewStyle::italic)}));
    document = read_body("<p>a<strong> </strong></p>");
    EXPECT_EQ(document.text, u"a\n");
    EXPECT_EQ(document.runs, std::vector<PreviewRun>{run(0, 1, 0)});
}

TEST(PreviewMarkupTest, CodeBlocksKeepEveryCharacter) {
    PreviewDocument document =
        read_body("<pre data-source-line=\"2\"><code>  a  b\n\n\tc\n</code></pre>");
    EXPECT_EQ(document.text, u"  a  b\n\n\tc\n");
    ASSERT_EQ(document.blocks.size(), 1u);
    EXPECT_EQ(document.blocks[0].kind, PreviewBlockKind::code_block);
    EXPECT_EQ(document.blocks[0].has_code, 1);
    EXPECT_EQ(document.blocks[0].length, 10u);
    EXPECT_EQ(document.blocks[0].source_line, 2u);
    EXPECT_EQ(document.runs, std::vector<PreviewRun>{run(0, 10, PreviewStyle::code)});
    // An empty fenced block has no line to drop.
    document = read_body("<pre><code></code></pre>");
    EXPECT_EQ(document.text, u"\n");
    EXPECT_TRUE(document.runs.empty());
}

TEST(PreviewMarkupTest, PlainTextPageIsOneCodeBlock) {
    std::string text = "a  <b>\n\n  & \"c\" 'd'\t\n";
    PreviewDocument document = read_preview_markup(render_plain_text_html(text));
    EXPECT_EQ(document.text, u"a  <b>\n\n  & \"c\" 'd'\t\n\n");
    ASSERT_EQ(document.blocks.size(), 1u);
    EXPECT_EQ(document.blocks[0].kind, PreviewBlockKind::code_block);
    EXPECT_EQ(document.blocks[0].source_line, 0u);
    EXPECT_EQ(document.blocks[0].has_code, 0);
    EXPECT_EQ(document.blocks[0].length, text.size());
    EXPECT_EQ(document.runs, std::vector<PreviewRun>{run(0, text.size(), 0)});
}

TEST(PreviewMarkupTest, HeadingsAreIndexed) {
    PreviewDocument document = read_body("<h1 id=\"h-0\" data-source-line=\"0\">A</h1><p>x</p>"
                                         "<h6 id=\"h-1\" data-source-line=\"4\">B</h6>");
    EXPECT_EQ(document.text, u"A\nx\nB\n");
    EXPECT_EQ(document.headings, (std::vector<std::uint64_t>{0, 2}));
    EXPECT_EQ(document.blocks[0].level, 1);
    EXPECT_EQ(document.blocks[2].level, 6);
    EXPECT_EQ(document.blocks[2].source_line, 4u);
    EXPECT_EQ(body_message("<h7>x</h7>"), "Unsupported generated preview tag.");
    EXPECT_EQ(body_message("<h0>x</h0>"), "Unsupported generated preview tag.");
    EXPECT_EQ(body_message("<div>x</div>"), "Unsupported generated preview tag.");
    EXPECT_EQ(body_message("<p>x</br></p>"), "Unsupported generated preview tag.");
    EXPECT_EQ(body_message("<hr></hr>"), "Unsupported generated preview tag.");
    EXPECT_EQ(body_message("<P>x</P>"), "Unsupported generated preview tag.");
}

TEST(PreviewMarkupTest, ListMarkers) {
    PreviewDocument document = read_body("<ol start=\"3\"><li>a</li><li>b</li></ol>");
    EXPECT_EQ(document.text, u"3.\ta\n4.\tb\n");
    EXPECT_EQ(document.blocks[0].marker_length, 3u);
    EXPECT_EQ(document.blocks[1].start, 5u);
    EXPECT_EQ(document.blocks[1].marker_length, 3u);
    EXPECT_EQ(document.blocks[0].task, -1);
    // The marker and the text share a style, so they form one run.
    EXPECT_EQ(document.runs, (std::vector<PreviewRun>{run(0, 4, 0), run(5, 4, 0)}));

    document = read_body("<ol><li data-task=\"0\">t</li></ol>");
    EXPECT_EQ(document.text, u"1. \u2610\tt\n");
    EXPECT_EQ(document.blocks[0].marker_length, 5u);
    EXPECT_EQ(document.blocks[0].task, 0);

    document = read_body("<ul><li data-task=\"1\">done</li><li>plain</li></ul>");
    EXPECT_EQ(document.text, u"\u2611\tdone\n\u2022\tplain\n");
    EXPECT_EQ(document.blocks[0].marker_length, 2u);
    EXPECT_EQ(document.blocks[0].task, 1);
    EXPECT_EQ(document.blocks[1].marker_length, 2u);

    // Ninth item of an ordered list.
    document = read_body("<ol start=\"9\"><li>x</li></ol>");
    EXPECT_EQ(document.blocks[0].marker_length, 3u);

    // Blanks after the marker never become leading spaces; an empty item keeps its marker.
    document = read_body("<ul><li>  </li></ul>");
    EXPECT_EQ(document.text, u"\u2022\t\n");
    EXPECT_EQ(document.blocks[0].length, 2u);

    EXPECT_EQ(body_message("<ul><li data-task=\"2\">x</li></ul>"), "Invalid task state.");
    EXPECT_EQ(body_message("<ul><li data-task=1>x</li></ul>"), "Invalid task state.");
    EXPECT_EQ(body_message("<ul><li data-task=\"\">x</li></ul>"),
              "Invalid generated numeric attribute.");
}

TEST(PreviewMarkupTest, NestedListsSplitTheItemText) {
    PreviewDocument document =
        read_body("<ul><li data-source-line=\"0\">a<ul><li data-source-line=\"1\">b</li></ul>"
                  "</li><li data-source-line=\"2\">c</li></ul>");
    EXPECT_EQ(document.text, u"\u2022\ta\n\u2022\tb\n\u2022\tc\n");
    ASSERT_EQ(document.blocks.size(), 3u);
    EXPECT_EQ(document.blocks[0].level, 0);
    EXPECT_EQ(document.blocks[1].level, 1);
    EXPECT_EQ(document.blocks[2].level, 0);
    EXPECT_EQ(document.blocks[1].source_line, 1u);

    std::string deep = repeat("<ul><li>x", 64) + repeat("</li></ul>", 64);
    document = read_body(deep);
    EXPECT_EQ(document.blocks.size(), 64u);
    EXPECT_EQ(document.blocks.back().level, 63);
    std::string too_deep = repeat("<ul><li>x", 65) + repeat("</li></ul>", 65);
    EXPECT_EQ(body_message(too_deep), "List nesting limit exceeded.");
}

TEST(PreviewMarkupTest, TableCells) {
    std::string table = "<table><thead><tr data-source-line=\"3\"><th align=\"left\">a</th>"
                        "<th align=\"center\">b</th><th align=\"right\">c</th></tr></thead><tbody>"
                        "<tr data-source-line=\"5\"><td align=\"left\">1</td><td align=\"center\">"
                        "2</td><td align=\"right\">3</td></tr></tbody></table>";
    PreviewDocument document = read_body(table + table);
    EXPECT_EQ(document.text.substr(0, 12), u"a\tb\tc\n1\t2\t3\n");
    ASSERT_EQ(document.blocks.size(), 12u);
    const PreviewBlock& header = document.blocks[1];
    EXPECT_EQ(header.kind, PreviewBlockKind::table_cell);
    EXPECT_EQ(header.table, 1u);
    EXPECT_EQ(header.row, 0u);
    EXPECT_EQ(header.column, 1u);
    EXPECT_EQ(header.columns, 3u);
    EXPECT_EQ(header.align, 1u);
    EXPECT_EQ(header.header, 1);
    EXPECT_EQ(header.source_line, 3u);
    const PreviewBlock& body = document.blocks[5];
    EXPECT_EQ(body.row, 1u);
    EXPECT_EQ(body.align, 2u);
    EXPECT_EQ(body.header, 0);
    EXPECT_EQ(body.source_line, 5u);
    EXPECT_EQ(document.blocks[6].table, 2u);
    EXPECT_EQ(document.blocks[6].row, 0u);
    EXPECT_EQ(document.runs[0], run(0, 1, PreviewStyle::bold));
    EXPECT_EQ(document.runs[3], run(6, 1, 0));

    std::string head = "<table><tr><th>a</th><th>b</th><th>c</th></tr>";
    EXPECT_EQ(body_message(head + "<tr><td>1</td><td>2</td></tr></table>"), "Invalid table row.");
    EXPECT_EQ(body_message(head + "<tr><td>1</td><td>2</td><td>3</td><td>4</td></tr></table>"),
              "Extra table cell.");

    std::string wide = "<table><tr>" + repeat("<th>h</th>", 64) + "</tr><tr>" +
                       repeat("<td>d</td>", 64) + "</tr></table>";
    document = read_body(wide);
    EXPECT_EQ(document.blocks.size(), 128u);
    EXPECT_EQ(document.blocks[63].columns, 64u);
    EXPECT_EQ(document.text[document.blocks[63].start + 1], u'\n');
    EXPECT_EQ(body_message("<table><tr>" + repeat("<th>h</th>", 65) + "</tr></table>"),
              "Invalid table columns.");
}

TEST(PreviewMarkupTest, InlineStylesAndLinks) {
    PreviewDocument document = read_body("<p><strong>b<code>c</code></strong><em>i</em>"
                                         "<del>s</del></p>");
    EXPECT_EQ(document.runs,
              (std::vector<PreviewRun>{run(0, 1, 1), run(1, 1, 9), run(2, 1, 2), run(3, 1, 4)}));

    document = read_body("<p><a href=\"https://x.test/?a=1&amp;b=2\">go</a> "
                         "<a href=\"file:///c\">no</a> <a href=\"#h-1\">in</a></p>");
    EXPECT_EQ(document.text, u"go no in\n");
    EXPECT_EQ(document.runs, (std::vector<PreviewRun>{run(0, 2, 0, "https://x.test/?a=1&b=2"),
                                                      run(2, 4, 0), run(6, 2, 0, "#h-1")}));
    EXPECT_EQ(body_message("<p><a href=\"https://x\xff\">x</a></p>"),
              "Invalid UTF-8. Use UTF-8 or BOM-marked UTF-16.");
    // Inline elements between blocks are accepted and only style later text.
    document = read_body("<em><p>x</p></em>");
    EXPECT_EQ(document.runs, std::vector<PreviewRun>{run(0, 1, PreviewStyle::italic)});
}

TEST(PreviewMarkupTest, CharacterReferences) {
    PreviewDocument document =
        read_body("<p>&lt;&gt;&amp;&quot;&#39; &nbsp; &amp;lt; & &;x &amplong;</p>");
    EXPECT_EQ(document.text, u"<>&\"' &nbsp; &lt; & &;x &amplong;\n");
}

TEST(PreviewMarkupTest, NumericAttributes) {
    EXPECT_EQ(read_body("<p data-source-line=\"4294967296\">x</p>").blocks[0].source_line,
              4294967296u);
    EXPECT_EQ(read_body("<p data-source-line=\"0000000001\">x</p>").blocks[0].source_line, 1u);
    EXPECT_EQ(read_body("<p>x</p>").blocks[0].source_line, 0u);
    for (const char* bad : {"12345678901", "", "1a", "-1"}) {
        EXPECT_EQ(body_message("<p data-source-line=\"" + std::string(bad) + "\">x</p>"),
                  "Invalid generated numeric attribute.")
            << bad;
    }
    EXPECT_EQ(body_message("<p data-source-line=\"12>x</p>"),
              "Invalid generated numeric attribute.");
}

struct Refusal {
    std::string body;
    std::string message;
};

TEST(PreviewMarkupTest, EveryRefusalHasItsMessage) {
    const std::vector<Refusal> refusals = {
        {"<p>x<em", "Truncated preview tag."},
        {"<p>x", "Incomplete generated preview document."},
        {"<span>", "Incomplete generated preview document."},
        {"<em>", "Incomplete generated preview document."},
        {"<ul>", "Incomplete generated preview document."},
        {"<table>", "Incomplete generated preview document."},
        {"<a href=\"#x\">", "Incomplete generated preview document."},
        {"<table><tr><th>a</th></tr></table></th>", "Cell outside table row."},
        {"<!-- c -->", "Unsupported generated preview tag."},
        {"<>", "Unsupported generated preview tag."},
        {"x", "Text outside generated preview blocks."},
        {std::string("<p>a\0b</p>", 10), "Preview text exceeds its limit."},
        {"<p data-source-line=\"x\">", "Invalid generated numeric attribute."},
        {"<p><p>", "Nested generated preview blocks."},
        {"<p><hr>", "Nested generated preview blocks."},
        {"<p></h1>", "Mismatched generated preview block."},
        {"</p>", "Mismatched generated preview block."},
        {"<ul><li>a</li></li></ul>", "Mismatched generated preview block."},
        {"<li>", "List item outside its list."},
        {"<ul><li>a<ul></ul><li>", "List item outside its list."},
        {"<ul><li>a<ul></ul></ul>", "Unmatched generated list."},
        {"<ul><li>a<li>", "Nested generated preview blocks."},
        {"<ul><li>a<ul><li>b</li></ul><li>", "List item outside its list."},
        {"<ul><li data-task=\"3\">", "Invalid task state."},
        {"<p><ul>", "List inside non-list block."},
        {repeat("<ul>", 65), "List nesting limit exceeded."},
        {"</ul>", "Unmatched generated list."},
        {"<ul></ol>", "Unmatched generated list."},
        {"<ul><li></ul>", "Unmatched generated list."},
        {"<table><table>", "Nested table."},
        {"<ul><table>", "Nested table."},
        {"</table>", "Unclosed table."},
        {"<table><tr><th>a</th></table></tr>", "Unclosed table."},
        {"<thead>", "Invalid table section."},
        {"<table><tr><th>a</th></thead></tr>", "Invalid table section."},
        {"<tr>", "Row outside table."},
        {"</tr>", "Row outside table."},
        {"<table><tr><th>a</th><tr></tr>", "Nested table row."},
        {"<table><tr><th>a</th>", "Unclosed table row."},
        {"<table><tr><td>a</td></tr>", "Invalid table columns."},
        {"<table></tr>", "Invalid table row."},
        {"<table><tr><th>a</tr>", "Invalid table row."},
        {"<th>", "Cell outside table row."},
        {"<table><tr><th>a</th></tr><tr><td>1</td><td>2</td>", "Extra table cell."},
        {"<table><tr><th>a</td></tr>", "Mismatched table cell."},
        {"</em>", "Unmatched inline preview style."},
        {"<p><code>a</code></code></p>", "Unmatched inline preview style."},
        {"<a name=\"x\">", "Invalid preview link."},
        {"<a href=\"x>", "Invalid preview link."},
        {"</a>", "Unmatched preview link."},
        {"</span>", "Unmatched generated span."},
    };
    for (const Refusal& refusal : refusals)
        EXPECT_EQ(body_message(refusal.body), refusal.message) << refusal.body;

    EXPECT_EQ(message_of("<p>x</p>"), "Invalid generated preview document.");
    EXPECT_EQ(message_of("<body><p>x</p>"), "Invalid generated preview document.");
    EXPECT_EQ(message_of("</body><body>"), "Invalid generated preview document.");
}

TEST(PreviewMarkupTest, SizeLimits) {
    std::string markup = "<body></body>";
    markup.resize(0x4000000, ' ');
    EXPECT_NO_THROW(read_preview_markup(markup));
    markup.push_back(' ');
    EXPECT_EQ(message_of(markup), "Preview markup exceeds its limit.");

    // 16,777,215 units and a separator fit; one unit more leaves no room for the separator.
    std::string fits = "<pre>" + std::string(0xFFFFFF, 'a') + "</pre>";
    PreviewDocument document = read_body(fits);
    EXPECT_EQ(document.text.size(), 0x1000000u);
    std::string full = "<pre>" + std::string(0x1000000, 'a') + "</pre>";
    EXPECT_EQ(body_message(full), "Preview text exceeds its limit.");
    std::string over = "<pre>" + std::string(0x1000001, 'a') + "</pre>";
    EXPECT_EQ(body_message(over), "Preview text exceeds its limit.");
}

// Random Markdown from the constructs the renderer knows, small enough for thousands of runs.
class MarkdownGenerator {
public:
    explicit MarkdownGenerator(std::uint32_t seed) : random_(seed) {}

    std::string document() {
        std::string out;
        int lines = pick(40);
        for (int i = 0; i < lines; ++i)
            out += line() + (pick(20) == 0 ? "\r\n" : "\n");
        if (pick(3) == 0 && !out.empty())
            out.pop_back();
        return out;
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

    std::string inline_text() {
        static const std::vector<std::string> pieces = {
            "word",
            " ",
            "  ",
            "\t",
            "*em*",
            "**strong**",
            "__u__",
            "_x_",
            "~~del~~",
            "`code`",
            "`a|b`",
            "[link](https://example.test/a?b&c)",
            "[bad](javascript:x)",
            "[in](#h-0)",
            "<https://a.test>",
            "<mailto:a@b.test>",
            "http://bare.test/x.",
            "<div>",
            "&amp;",
            "&nbsp;",
            "\"q\"",
            "'s'",
            "\\*",
            "\\",
            "*",
            "**",
            "_",
            "[",
            "]",
            "|",
            "\\|",
            "\xc3\xa9",
            "\xf0\x9f\x98\x80",
            "#",
            ">",
            "1.",
            "-",
            "***a***",
            "**a *b* c**",
            "`",
            "``",
            "x  ",
        };
        std::string out;
        int count = pick(6);
        for (int i = 0; i < count; ++i)
            out += pieces[pick(static_cast<int>(pieces.size()))];
        return out;
    }

    std::string line() {
        std::string indent(pick(4) == 0 ? pick(6) : 0, pick(5) == 0 ? '\t' : ' ');
        switch (pick(16)) {
        case 0:
            return std::string(1 + pick(7), '#') + (pick(4) ? " " : "") + inline_text();
        case 1:
            return indent + "- " + inline_text();
        case 2:
            return indent + std::to_string(pick(12)) + (pick(2) ? ". " : ") ") + inline_text();
        case 3: {
            const char* boxes[] = {"[ ]", "[x]", "[X]", "[y]", "[]"};
            return indent + (pick(2) ? "* " : "1. ") + boxes[pick(5)] + (pick(3) ? " " : "") +
                   inline_text();
        }
        case 4:
            return "> " + inline_text();
        case 5:
            return ">";
        case 6:
            return pick(2) ? "```" : "~~~~";
        case 7:
            return "| a | " + inline_text() + " |";
        case 8: {
            const char* delimiters[] = {"|---|:---:|", "---|---", "| --- |", ":-:|---:"};
            return delimiters[pick(4)];
        }
        case 9:
            return pick(2) ? "---" : "* * *";
        case 10:
        case 11:
            return "";
        default:
            return indent + inline_text();
        }
    }

    std::mt19937 random_;
};

std::uint64_t count_of(const std::string& text, const std::string& needle) {
    std::uint64_t count = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + 1))
        ++count;
    return count;
}

void expect_consistent(const PreviewDocument& document, const std::string& page) {
    std::uint64_t expected_start = 0;
    std::vector<std::uint64_t> heading_blocks;
    for (std::size_t i = 0; i < document.blocks.size(); ++i) {
        const PreviewBlock& block = document.blocks[i];
        ASSERT_EQ(block.start, expected_start) << "block " << i;
        ASSERT_LE(block.marker_length, block.length);
        ASSERT_LT(block.start + block.length, document.text.size() + 1);
        char16_t separator = document.text[block.start + block.length];
        ASSERT_TRUE(separator == u'\n' || separator == u'\t');
        ASSERT_EQ(separator == u'\t',
                  block.kind == PreviewBlockKind::table_cell && block.column + 1 < block.columns);
        if (block.kind == PreviewBlockKind::heading) {
            heading_blocks.push_back(i);
            ASSERT_GE(block.level, 1);
            ASSERT_LE(block.level, 6);
        }
        expected_start = block.start + block.length + 1;
    }
    ASSERT_EQ(expected_start, document.text.size());
    ASSERT_EQ(document.headings, heading_blocks);
    ASSERT_EQ(document.headings.size(), count_of(page, " id=\"h-"));

    std::size_t block = 0;
    std::uint64_t previous_end = 0;
    for (const PreviewRun& run : document.runs) {
        ASSERT_GE(run.length, 1u);
        ASSERT_GE(run.start, previous_end);
        while (block < document.blocks.size() &&
               document.blocks[block].start + document.blocks[block].length <= run.start)
            ++block;
        ASSERT_LT(block, document.blocks.size());
        ASSERT_GE(run.start, document.blocks[block].start);
        ASSERT_LE(run.start + run.length,
                  document.blocks[block].start + document.blocks[block].length);
        ASSERT_LT(run.style, 16u);
        previous_end = run.start + run.length;
    }
}

// Every heading block names a source line that is a heading of its level.
void expect_heading_lines(const PreviewDocument& document, const std::string& source) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < source.size()) {
        std::size_t lf = source.find('\n', pos);
        std::string line =
            source.substr(pos, lf == std::string::npos ? std::string::npos : lf - pos);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        pos = lf == std::string::npos ? source.size() : lf + 1;
    }
    for (std::uint64_t index : document.headings) {
        const PreviewBlock& block = document.blocks[index];
        ASSERT_LT(block.source_line, lines.size());
        EXPECT_EQ(parse_atx_heading(lines[block.source_line]).level,
                  static_cast<std::uint32_t>(block.level));
    }
}

TEST(PreviewMarkupTest, RenderedPagesReadBackConsistently) {
    std::vector<std::uint64_t> kinds(7, 0);
    std::uint64_t tasks = 0;
    std::uint64_t links = 0;
    for (std::uint32_t seed = 1; seed <= 4000; ++seed) {
        MarkdownGenerator generator(seed);
        std::string source = generator.document();
        std::string rendered;
        try {
            rendered = render_markdown_html(source, seed % 2 == 0, preview_source_limit);
        } catch (const std::runtime_error& error) {
            FAIL() << "seed " << seed << ": renderer refused: " << error.what();
        }
        PreviewDocument document;
        try {
            document = read_preview_markup(rendered);
        } catch (const std::runtime_error& error) {
            FAIL() << "seed " << seed << ": " << error.what() << "\n" << source;
        }
        SCOPED_TRACE("seed " + std::to_string(seed));
        expect_consistent(document, rendered);
        expect_heading_lines(document, source);
        if (HasFatalFailure() || HasNonfatalFailure())
            return;
        for (const PreviewBlock& block : document.blocks) {
            ++kinds[static_cast<std::size_t>(block.kind)];
            tasks += block.task >= 0 ? 1 : 0;
        }
        for (const PreviewRun& run : document.runs)
            links += run.link.empty() ? 0 : 1;
    }
    // The generated documents reach every kind of block, task items and links.
    for (std::size_t kind = 0; kind < kinds.size(); ++kind)
        EXPECT_GT(kinds[kind], 0u) << "kind " << kind;
    EXPECT_GT(tasks, 0u);
    EXPECT_GT(links, 0u);
}

TEST(PreviewMarkupTest, HeadingBlocksCarryTheirSourceLines) {
    std::string source = "# A\ntext\n## *B*\n```\n# not\n```\n| a |\n|---|\n| # row |\n### C\n";
    PreviewDocument document = read_preview_markup(render_markdown_html(source, false, 0x40000));
    ASSERT_EQ(document.headings.size(), 3u);
    EXPECT_EQ(document.blocks[document.headings[0]].source_line, 0u);
    EXPECT_EQ(document.blocks[document.headings[1]].source_line, 2u);
    EXPECT_EQ(document.blocks[document.headings[2]].source_line, 9u);
    EXPECT_EQ(document.text, u"A\ntext\nB\n# not\na\n# row\nC\n");
}

} // namespace
} // namespace pellix
