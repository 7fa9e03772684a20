// Inputs built to make a careless scanner quadratic or deeply recursive, rendered at the
// preview's 256 KiB and at 2 MiB under the document limit. Each must finish and give exactly
// the expected page or message; a quadratic regression shows up as a test that never ends.

#include "markdown/html_render.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pellix {
namespace {

constexpr std::size_t small_size = 0x40000;
constexpr std::size_t large_size = 0x200000;

struct Adversary {
    const char* name;
    // Builds a source of at most `size` bytes and the blocks it must render to.
    std::function<void(std::size_t size, std::string& source, std::string& body)> build;
};

std::string repeat(const std::string& piece, std::size_t times) {
    std::string text;
    text.reserve(piece.size() * times);
    for (std::size_t k = 0; k < times; ++k) {
        text += piece;
    }
    return text;
}

std::string paragraph(const std::string& html) {
    return "<p data-source-line=\"0\">" + html + "</p>";
}

// A literal line: rendered unchanged inside one paragraph.
Adversary literal_line(const char* name, const std::string& piece) {
    return {name, [piece](std::size_t size, std::string& source, std::string& body) {
                source = repeat(piece, size / piece.size());
                body = paragraph(source);
            }};
}

std::string line_attribute(std::size_t line) {
    return " data-source-line=\"" + std::to_string(line) + "\"";
}

// Items whose indents climb 0, 1, ..., 63 and start over: the deepest legal nesting, closed
// and reopened again and again.
void deep_lists(std::size_t size, std::string& source, std::string& body) {
    source.clear();
    body.clear();
    std::size_t line = 0;
    for (;; ++line) {
        const std::size_t level = line % 64;
        const std::string item = std::string(level, ' ') + "- x\n";
        if (source.size() + item.size() > size) {
            break;
        }
        source += item;
        if (level == 0 && line > 0) {
            body += "x</li></ul>" + repeat("</li></ul>", 62) + "</li>";
        } else {
            body += line == 0 ? "<ul>" : "x<ul>";
        }
        body += "<li" + line_attribute(line) + ">";
    }
    const std::size_t open = (line - 1) % 64 + 1;
    body += "x</li></ul>" + repeat("</li></ul>", open - 1);
}

// A 64-column table whose rows carry far more cells than columns; the extra cells are dropped.
void wide_table(std::size_t size, std::string& source, std::string& body) {
    source = repeat("|h", 64) + "|\n" + repeat("|---", 64) + "|\n";
    body = "<table><thead><tr" + line_attribute(0) + ">" + repeat("<th align=\"left\">h</th>", 64) +
           "</tr></thead><tbody>";
    const std::string row = repeat("|c", 1000) + "|\n";
    for (std::size_t line = 2; source.size() + row.size() <= size; ++line) {
        source += row;
        body +=
            "<tr" + line_attribute(line) + ">" + repeat("<td align=\"left\">c</td>", 64) + "</tr>";
    }
    body += "</tbody></table>";
}

const std::vector<Adversary>& adversaries() {
    static const std::vector<Adversary> list = {
        literal_line("open brackets", "["),
        literal_line("brackets and parentheses without a close", "[]("),
        literal_line("stars without closers", "*a "),
        literal_line("underscores without closers", "_a "),
        literal_line("tildes without closers", "~~a "),
        literal_line("long line of words", "word "),
        {"empty code spans",
         [](std::size_t size, std::string& source, std::string& body) {
             source = repeat("`` word ", size / 8);
             body = paragraph(repeat("<code></code> word ", size / 8));
         }},
        {"unclosed angle autolinks",
         [](std::size_t size, std::string& source, std::string& body) {
             // Each '<' starts an autolink that never closes; the bare link behind it does.
             const std::string url = "http://" + std::string(24, 'a');
             source = repeat("<" + url, size / (url.size() + 1));
             body = paragraph(
                 repeat("&lt;<a href=\"" + url + "\">" + url + "</a>", size / (url.size() + 1)));
         }},
        {"one long bare link",
         [](std::size_t size, std::string& source, std::string& body) {
             source = "http://" + std::string(size - 7, 'a');
             body = paragraph("<a href=\"" + source + "\">" + source + "</a>");
         }},
        {"hard breaks",
         [](std::size_t size, std::string& source, std::string& body) {
             const std::size_t lines = size / 4;
             source = repeat("a  \n", lines);
             body = paragraph(repeat("a<br>", lines - 1) + "a  ");
         }},
        {"one long blockquote",
         [](std::size_t size, std::string& source, std::string& body) {
             const std::size_t lines = size / 3;
             source = repeat(">a\n", lines);
             body = "<blockquote" + line_attribute(0) + ">" + repeat("a ", lines - 1) + "a" +
                    "</blockquote>";
         }},
        {"deep list nesting", deep_lists},
        {"wide table rows", wide_table},
    };
    return list;
}

void expect_adversaries_render(std::size_t size, std::uint64_t limit) {
    const std::string empty = render_markdown_html("", false, limit);
    const std::string head = empty.substr(0, empty.size() - 14);
    for (const Adversary& adversary : adversaries()) {
        std::string source;
        std::string body;
        adversary.build(size, source, body);
        ASSERT_LE(source.size(), size) << adversary.name;
        ASSERT_GE(source.size(), size - 4096) << adversary.name;
        try {
            const std::string page = render_markdown_html(source, false, limit);
            EXPECT_TRUE(page == head + body + "</body></html>") << adversary.name;
        } catch (const std::exception& e) {
            ADD_FAILURE() << adversary.name << ": " << e.what();
        }
    }
}

TEST(RenderAdversarial, PreviewSizedInputs) {
    expect_adversaries_render(small_size, preview_source_limit);
}

TEST(RenderAdversarial, LargeInputs) {
    expect_adversaries_render(large_size, document_limit);
}

std::string message_of(const std::string& source, std::uint64_t limit) {
    try {
        render_markdown_html(source, false, limit);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(no failure)";
}

TEST(RenderAdversarial, LimitsHoldOnLargeInputs) {
    for (std::size_t size : {small_size, large_size}) {
        const std::uint64_t limit =
            size == small_size ? preview_source_limit : document_limit;
        const std::size_t columns = size / 8;
        const std::string table = repeat("|h", columns) + "|\n" + repeat("|---", columns) + "|\n";
        EXPECT_EQ(message_of(table, limit), "Tables are limited to 64 columns.");

        std::string deep;
        for (std::size_t level = 0; deep.size() < size - 1024; ++level) {
            deep += std::string(level % 100, ' ') + "- x\n";
        }
        EXPECT_EQ(message_of(deep, limit), "List nesting exceeds 64 levels.");

        // Quotes and ampersands: six and five bytes out per byte in.
        const std::string escapes = repeat("\"&", size / 2);
        EXPECT_EQ(message_of(escapes, limit),
                  size == small_size ? "Rendered preview exceeds the size limit. The full "
                                       "document remains editable and saveable."
                                     : "(no failure)");
    }
}

} // namespace
} // namespace pellix
