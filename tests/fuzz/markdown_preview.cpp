// A file opened as the preview shows it: decoded, rendered to the page, and the page read back
// into the preview's model; and the outline pane's entries of the same text. The reader must
// accept every page the renderers make; refusals of the decoder and the renderer's limits are
// std::runtime_error; anything else is a fault.

#include "core/encoding.h"
#include "markdown/html_render.h"
#include "markdown/outline.h"
#include "markdown/plain_text_page.h"
#include "markdown/preview_markup.h"
#include "tests/fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace pellix {
namespace {

constexpr std::uint8_t dark_flag = 1;
constexpr std::uint8_t plain_text_flag = 2;
constexpr std::uint8_t hide_completed_flag = 4;

// Blocks follow one another, each with its one separator; runs are non-empty, in order and
// inside the text; every heading entry names a heading block.
void check_model(const PreviewDocument& document) {
    std::uint64_t next = 0;
    for (const PreviewBlock& block : document.blocks) {
        require(block.start == next, "each block starts right after the previous separator");
        require(block.marker_length <= block.length, "a list marker lies inside its block");
        next = block.start + block.length + 1;
    }
    require(next == document.text.size(), "the last separator ends the text");
    std::uint64_t run_end = 0;
    for (const PreviewRun& run : document.runs) {
        require(run.length > 0 && run.start >= run_end, "runs are non-empty and in order");
        run_end = run.start + run.length;
    }
    require(run_end <= document.text.size(), "runs lie inside the text");
    for (std::uint64_t index : document.headings) {
        require(index < document.blocks.size() &&
                    document.blocks[index].kind == PreviewBlockKind::heading,
                "heading entries name heading blocks");
    }
}

// Each entry's parent comes before it, and its line starts inside the text.
void check_outline(const std::vector<OutlineEntry>& entries, const std::u16string& text) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        require(entries[i].parent < static_cast<std::int64_t>(i), "a parent precedes its entry");
        require(entries[i].offset <= text.size(), "an entry's line lies inside the text");
    }
}

} // namespace
} // namespace pellix

// The first byte holds the flags (dark colours, plain-text page, completed tasks hidden); the
// rest is the file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pellix;
    if (size == 0) {
        return 0;
    }
    const std::uint8_t flags = data[0];
    std::u16string text;
    std::string source;
    std::string page;
    try {
        const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
        text = decode_document_bytes(bytes, 0).text;
        source = utf16_to_utf8(text);
        page = flags & plain_text_flag
                   ? render_plain_text_html(source)
                   : render_markdown_html(source, flags & dark_flag, preview_source_limit);
    } catch (const std::runtime_error&) {
        return 0;
    }
    check_model(read_preview_markup(page));
    if (!(flags & plain_text_flag)) {
        check_outline(heading_outline_entries(text, source), text);
        check_outline(task_outline_entries(text, source, flags & hide_completed_flag), text);
    }
    return 0;
}
