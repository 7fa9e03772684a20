#include "markdown/plain_text_page.h"

#include "markdown/inline_render.h"

#include <stdexcept>
#include <string_view>

#include "core/limits.h"

namespace pellix {
namespace {

// Black on white whatever the editor's theme, long lines wrapped, tabs four columns wide.
constexpr std::string_view plain_page_head =
    "<!doctype html><html><head><meta charset=\"utf-8\"><meta "
    "http-equiv=\"Content-Security-Policy\" "
    "content=\"default-src 'none'; style-src 'unsafe-inline'; base-uri 'none'; form-action "
    "'none'\"><style>html,body{background:#fff;color:#000}body{margin:24px}pre{font:11pt/1.5 "
    "Consolas,monospace;white-space:pre-wrap;overflow-wrap:anywhere;tab-size:4}@media "
    "print{body{margin:0}}</style></head><body><pre><span>";

constexpr std::string_view plain_page_tail = "</span></pre></body></html>";

} // namespace

std::string render_plain_text_html(const std::string& text) {
    if (text.size() > document_limit) {
        throw std::runtime_error("Text output exceeds the 8 MiB source limit.");
    }
    std::string page;
    page.reserve(plain_page_head.size() + text.size() + text.size() / 8 + plain_page_tail.size());
    page.append(plain_page_head);
    append_escaped_html(page, text);
    page.append(plain_page_tail);
    return page;
}

} // namespace pellix
