#include "bench/bench.h"
#include "markdown/html_render.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

// A document like the ones people write: headings, prose with emphasis, code spans and links,
// nested and task lists, fenced code, tables and quotes, repeated up to `size` bytes.
std::string realistic_document(std::size_t size) {
    const std::string section =
        "## Section heading with `code`\n"
        "\n"
        "Some **bold** prose with *emphasis*, a [link](https://example.com/path?q=1&r=2) and\n"
        "an autolink to https://example.org/docs/page.html. Ordinary sentences make up most\n"
        "of a document, with the odd snake_case_name, a ~~struck~~ word and <b>raw</b> tags.\n"
        "\n"
        "- first item with __strong__ text\n"
        "- second item\n"
        "  - nested item with a [local link](#h-3)\n"
        "  - [x] a finished task\n"
        "  - [ ] an open task\n"
        "1. ordered\n"
        "2. list\n"
        "\n"
        "```cpp\n"
        "int main() { return a < b && c > d; }\n"
        "for (auto& x : items) { use(x); }\n"
        "```\n"
        "\n"
        "| Name | Value | Note |\n"
        "| :--- | ---: | :---: |\n"
        "| alpha | 1 | *first* |\n"
        "| beta | 22 | `second` |\n"
        "| gamma | 333 | third |\n"
        "\n"
        "> A quoted remark that runs\n"
        "> over two lines.\n"
        "\n"
        "---\n"
        "\n";
    std::string text = "# Document title\n\n";
    while (text.size() + section.size() <= size) {
        text += section;
    }
    text.append(size - text.size(), 'x');
    return text;
}

std::string repeat_to(const std::string& piece, std::size_t size) {
    std::string text;
    text.reserve(size);
    while (text.size() + piece.size() <= size) {
        text += piece;
    }
    return text;
}

std::string deep_lists(std::size_t size) {
    std::string text;
    for (std::size_t line = 0;; ++line) {
        const std::string item = std::string(line % 64, ' ') + "- x\n";
        if (text.size() + item.size() > size) {
            return text;
        }
        text += item;
    }
}

std::string wide_table(std::size_t size) {
    std::string text;
    for (int k = 0; k < 64; ++k) {
        text += "|h";
    }
    text += "|\n";
    for (int k = 0; k < 64; ++k) {
        text += "|---";
    }
    text += "|\n";
    std::string row;
    for (int k = 0; k < 1000; ++k) {
        row += "|c";
    }
    row += "|\n";
    while (text.size() + row.size() <= size) {
        text += row;
    }
    return text;
}

// Seconds of the fastest of `runs` renders; the page size goes to `page_size`.
double best_render_seconds(const std::string& source, std::uint64_t limit, int runs,
                           std::size_t& page_size) {
    double best = 1e9;
    for (int run = 0; run < runs; ++run) {
        std::string page;
        best = std::min(best, pellix::bench::seconds_of([&] {
                            page = pellix::render_markdown_html(source, false, limit);
                        }));
        page_size = page.size();
    }
    return best;
}

// Fastest render into one page string kept between calls, as a caller that keeps its page
// buffer would do: the page's memory is then already mapped.
double best_reused_page_seconds(const std::string& source, std::uint64_t limit, int runs) {
    std::string page;
    double best = 1e9;
    for (int run = 0; run < runs; ++run) {
        best = std::min(best, pellix::bench::seconds_of([&] {
                            pellix::render_markdown_html(page, source, false, limit);
                        }));
    }
    return best;
}

void report_realistic(std::size_t size, std::uint64_t limit, int runs) {
    const std::string source = realistic_document(size);
    std::size_t page_size = 0;
    const double seconds = best_render_seconds(source, limit, runs, page_size);
    const double reused = best_reused_page_seconds(source, limit, runs);
    std::printf("realistic %8zu bytes -> page %9zu bytes: new page %8.3f ms, %7.1f MB/s; "
                "reused page %8.3f ms, %7.1f MB/s\n",
                source.size(), page_size, seconds * 1e3, source.size() / seconds / 1e6,
                reused * 1e3, source.size() / reused / 1e6);
}

void report_adversarial() {
    struct Input {
        const char* name;
        std::function<std::string(std::size_t)> make;
    };
    const std::vector<Input> inputs = {
        {"open brackets", [](std::size_t n) { return repeat_to("[", n); }},
        {"brackets without close", [](std::size_t n) { return repeat_to("[](", n); }},
        {"stars without closers", [](std::size_t n) { return repeat_to("*a ", n); }},
        {"underscores without closers", [](std::size_t n) { return repeat_to("_a ", n); }},
        {"unclosed angle autolinks",
         [](std::size_t n) { return repeat_to("<http://aaaaaaaaaaaaaaaaaaaaaaaa", n); }},
        {"escapes (quote, ampersand)", [](std::size_t n) { return repeat_to("\"&", n); }},
        {"long line of words", [](std::size_t n) { return repeat_to("word ", n); }},
        {"deep list nesting", deep_lists},
        {"wide table rows", wide_table},
    };
    const std::vector<std::size_t> sizes = {0x40000, 0x100000, 0x200000, 0x400000, 0x800000};
    std::printf("adversarial inputs, document limit, fastest of 3 (ms; MB/s):\n");
    std::printf("%-28s", "input");
    for (std::size_t size : sizes) {
        std::printf(" %16zuK", size / 1024);
    }
    std::printf("\n");
    for (const Input& input : inputs) {
        std::printf("%-28s", input.name);
        for (std::size_t size : sizes) {
            const std::string source = input.make(size);
            std::size_t page_size = 0;
            const double seconds =
                best_render_seconds(source, pellix::document_limit, 3, page_size);
            std::printf(" %8.2f;%7.1f", seconds * 1e3, source.size() / seconds / 1e6);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
}

void bench_markdown() {
    report_realistic(0x40000, pellix::preview_source_limit, 50);
    report_realistic(0x800000, pellix::document_limit, 5);
    report_adversarial();
}

static pellix::bench::Registration reg("markdown", bench_markdown);

} // namespace
