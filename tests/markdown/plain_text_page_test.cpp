#include "markdown/plain_text_page.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace pellix {
namespace {

const std::string plain_head =
    "<!doctype html><html><head><meta charset=\"utf-8\"><meta "
    "http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src "
    "'unsafe-inline'; base-uri 'none'; form-action 'none'\"><style>html,body{background:#fff;"
    "color:#000}body{margin:24px}pre{font:11pt/1.5 Consolas,monospace;white-space:pre-wrap;"
    "overflow-wrap:anywhere;tab-size:4}@media print{body{margin:0}}</style></head><body><pre>"
    "<span>";
const std::string plain_tail = "</span></pre></body></html>";

TEST(RenderPlainTextPage, WholeTextEscapedInOneBlock) {
    EXPECT_EQ(render_plain_text_html(""), plain_head + plain_tail);
    EXPECT_EQ(render_plain_text_html("a<b & c"), plain_head + "a&lt;b &amp; c" + plain_tail);
    EXPECT_EQ(render_plain_text_html("\"it's\""), plain_head + "&quot;it&#39;s&quot;" + plain_tail);
    // No Markdown, no links, blanks and line breaks unchanged.
    const std::string text = "# h\n\n  *a*\t[l](https://x) https://y\r\n```\n";
    EXPECT_EQ(render_plain_text_html(text), plain_head + text + plain_tail);
}

TEST(RenderPlainTextPage, EightMebibyteLimit) {
    std::string text(0x800000, 'x');
    EXPECT_EQ(render_plain_text_html(text).size(),
              plain_head.size() + text.size() + plain_tail.size());
    text.push_back('x');
    try {
        render_plain_text_html(text);
        ADD_FAILURE() << "an over-long text was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Text output exceeds the 8 MiB source limit.");
    }
}

} // namespace
} // namespace pellix
