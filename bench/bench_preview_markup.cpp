#include "bench/bench.h"
#include "core/encoding.h"
#include "markdown/export.h"
#include "markdown/html_render.h"
#include "markdown/outline.h"
#include "markdown/preview_markup.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace pellix {
namespace {

constexpr int rounds = 9;
// The page read is short, so more samples give a steadier best time on a busy machine.
constexpr int read_rounds = 41;

// A Markdown document of exactly `bytes` bytes mixing the block kinds the renderer writes:
// headings, paragraphs with inline styles and links, lists with tasks, code, quotes, tables.
std::string make_markdown(std::size_t bytes) {
    const char* blocks[] = {
        "# Heading with *emphasis*\n",
        "Some paragraph text with **bold**, `code` and a [link](https://example.test/x).\n"
        "It continues on a second line with _italic_ words and ~~struck~~ text.\n\n",
        "- first item\n- [ ] open task\n  - [x] nested done task\n- third item\n\n",
        "1. one\n2. two\n3. three\n\n",
        "```\nint main() {\n    return 0;\n}\n```\n",
        "> a quoted line\n> and another\n\n",
        "| name | value | note |\n|---|:---:|--:|\n| a | 1 | x |\n| b | 2 | y |\n\n",
        "---\n",
        "Plain prose \xC3\xA9t\xC3\xA9 na\xC3\xAFve & <angle> \"quoted\" text.\n\n",
    };
    std::mt19937 random(7);
    std::string text;
    while (text.size() < bytes)
        text += blocks[random() % std::size(blocks)];
    text.resize(bytes);
    // End on a complete line so no multi-byte character is cut.
    text.resize(text.rfind('\n') + 1);
    return text;
}

double best_seconds(const std::function<void()>& work, int count = rounds) {
    std::vector<double> samples;
    for (int i = 0; i < count; ++i)
        samples.push_back(bench::seconds_of(work));
    return *std::min_element(samples.begin(), samples.end());
}

void bench_read_preview_markup() {
    std::string source = make_markdown(0x40000);
    std::string page = render_markdown_html(source, false, preview_source_limit);
    PreviewDocument document;
    double seconds = best_seconds([&] { document = read_preview_markup(page); }, read_rounds);
    std::printf("read_preview_markup: source %zu bytes, page %zu bytes, %zu blocks, %zu runs\n",
                source.size(), page.size(), document.blocks.size(), document.runs.size());
    std::printf("  best of %d: %.3f ms, %.1f MB/s of markup (goal: under 3 ms)\n", read_rounds,
                seconds * 1e3, page.size() / seconds / 1e6);
}

void bench_json_export() {
    std::string source = make_markdown(0x800000);
    std::u16string text = utf8_to_utf16(source);
    text.resize(std::min<std::size_t>(text.size(), 0x800000));
    ExportRequest request;
    request.document.assign(text);
    request.as_json = true;
    request.name = u"bench.md";
    request.destination = std::filesystem::temp_directory_path() / "pellix-bench-export.json";
    double seconds = best_seconds([&] { build_export_text(request); });
    auto size = std::filesystem::file_size(request.destination);
    std::printf("JSON export: %zu UTF-16 units, %llu bytes written\n", text.size(),
                static_cast<unsigned long long>(size));
    std::printf("  best of %d: %.1f ms, %.1f MB/s of source (file write included)\n", rounds,
                seconds * 1e3, source.size() / seconds / 1e6);
    std::filesystem::remove(request.destination);
    std::string utf8 = utf16_to_utf8(text);
    double extraction = best_seconds([&] {
        collect_headings(utf8, export_item_limit);
        extract_tasks(utf8, export_item_limit);
    });
    std::printf("  of which heading and task extraction: %.1f ms\n", extraction * 1e3);
}

void bench_preview_markup() {
    bench_read_preview_markup();
    bench_json_export();
}

static bench::Registration reg("preview_markup", bench_preview_markup);

} // namespace
} // namespace pellix
