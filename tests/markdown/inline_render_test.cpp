#include "markdown/inline_render.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pellix {
namespace {

struct Case {
    std::string source;
    std::string html;
};

void expect_renders(const std::vector<Case>& cases, std::uint32_t depth = 0) {
    for (const Case& c : cases) {
        EXPECT_EQ(render_inline_html(c.source, depth), c.html) << "source: " << c.source;
    }
}

TEST(EscapeHtml, FiveBytesOnly) {
    EXPECT_EQ(escape_html("a&b<c>d\"e'f"), "a&amp;b&lt;c&gt;d&quot;e&#39;f");
    EXPECT_EQ(escape_html("x\n\t\r\\y\xC3\xA9"), "x\n\t\r\\y\xC3\xA9");
    EXPECT_EQ(escape_html(""), "");
    EXPECT_EQ(escape_html(std::string("a\0b", 3)), std::string("a\0b", 3));
    EXPECT_EQ(escape_html("&amp;"), "&amp;amp;");
    std::string out = "keep";
    append_escaped_html(out, "<");
    EXPECT_EQ(out, "keep&lt;");
}

TEST(IsAllowedLink, OneRule) {
    for (const std::string target :
         {"https://", "http://x", "HTTPS://EXAMPLE.COM/a?b=c&d", "mailto:a@b", "MAILTO:x", "#h-3",
          "#", "https://\xC3\xA9", "hTTp://x"}) {
        EXPECT_TRUE(is_allowed_link(target)) << target;
    }
    for (const std::string target :
         {"", "javascript:alert(1)", "file:///c:/x", "ftp://x", "page.html", "/abs", "//host/x",
          "https://a b", "https://a\tb", "https://a\x7f", "http:/x", " https://x", "data:text/html",
          "mailto", "x#y"}) {
        EXPECT_FALSE(is_allowed_link(target)) << target;
    }
    EXPECT_FALSE(is_allowed_link(std::string("https://a\0b", 11)));
    EXPECT_TRUE(is_allowed_link("https://x", 8)); // only the given length counts
}

TEST(RenderInline, EscapesAndBreaks) {
    expect_renders({
        {"a\\*b\\*", "a*b*"},
        {"\\<", "&lt;"},
        {"x\\", "x\\"},
        {"\\a\\\\", "a\\"},
        {"a  \nb", "a<br>b"},
        {"a   \nb", "a<br>b"},
        {"a \nb", "a  b"},
        {"a\nb", "a b"},
        {"\\\nb", "<br>b"},
        {"\n\n", "<br><br>"},
        {"a \n\nb", "a <br><br>b"},
        {"a\n\n\nb", "a<br><br> b"},
        {"  \nb", "<br>b"},
        {"<b>&amp;</b>", "&lt;b&gt;&amp;amp;&lt;/b&gt;"},
        {"it's \"q\"", "it&#39;s &quot;q&quot;"},
        {"", ""},
    });
}

TEST(RenderInline, Emphasis) {
    expect_renders({
        {"**bold**", "<strong>bold</strong>"},
        {"__x__", "<strong>x</strong>"},
        {"~~x~~", "<del>x</del>"},
        {"*x*", "<em>x</em>"},
        {"_x_", "<em>x</em>"},
        {"* x*", "* x*"},
        {"** x**", "<em>* x</em>*"},
        {"*x *", "*x *"},
        {"snake_case_name", "snake_case_name"},
        {"**a *b* c**", "<strong>a <em>b</em> c</strong>"},
        {"*a `b*` c*", "<em>a <code>b*</code> c</em>"},
        {"*a `b*`", "*a <code>b*</code>"},
        {"*a \\* b*", "<em>a * b</em>"},
        {"**", "**"},
        {"*", "*"},
        {"a*", "a*"},
        {"_a_b", "_a_b"},
        {"x_a_", "x_a_"},
        {"(_a_)", "(<em>a</em>)"},
        {"~x~", "~x~"},
        {"*a* *b*", "<em>a</em> <em>b</em>"},
        {"***x***", "<strong>*x</strong>*"},
        {"*a *b*", "<em>a *b</em>"},
        {"**a *b*", "<em>*a *b</em>"},
        {"*a\nb*", "<em>a b</em>"},
        {"\xC3\xA9_a_", "\xC3\xA9_a_"},
    });
}

TEST(RenderInline, DepthLimit) {
    const std::string nested = "**__~~_a *b* c_~~__**";
    EXPECT_EQ(render_inline_html(nested, 0),
              "<strong><strong><del><em>a <em>b</em> c</em></del></strong></strong>");
    // From depth 4 the fifth level lies at depth 8, where emphasis is no longer recognised.
    EXPECT_EQ(render_inline_html(nested, 4),
              "<strong><strong><del><em>a *b* c</em></del></strong></strong>");
    EXPECT_EQ(render_inline_html("*a*", 7), "<em>a</em>");
    EXPECT_EQ(render_inline_html("*a* [l](#x)", 8), "*a* [l](#x)");
    // Escapes, breaks, code spans and autolinks are still recognised at the limit.
    EXPECT_EQ(render_inline_html("`c` <http://x> http://y \\*  \nz", 8),
              "<code>c</code> <a href=\"http://x\">http://x</a> <a href=\"http://y\">http://y</a> "
              "*<br>z");
}

TEST(RenderInline, CodeSpans) {
    expect_renders({
        {"`a<b`", "<code>a&lt;b</code>"},
        {"``", "<code></code>"},
        {"``x``", "<code></code>x<code></code>"},
        {"` a\\b `", "<code> a\\b </code>"},
        {"`a\nb\nc`", "<code>a b c</code>"},
        {"`a", "`a"},
        {"`a` `b", "<code>a</code> `b"},
        {"`*x*`", "<code>*x*</code>"},
    });
}

TEST(RenderInline, Links) {
    expect_renders({
        {"[text](https://example.com/a?b=1&c=2)",
         "<a href=\"https://example.com/a?b=1&amp;c=2\">text</a>"},
        {"[x](javascript:alert(1))", "x)"},
        {"[x](file.md)", "x"},
        {"[x](#h-3)", "<a href=\"#h-3\">x</a>"},
        {"[*a*](#b)", "<a href=\"#b\">*a*</a>"},
        {"[a\"b](#c)", "<a href=\"#c\">a&quot;b</a>"},
        {"[x](https://a \"title\")", "x"},
        {"[x]( https://a)", "x"},
        {"![img](https://a/b.png)", "!<a href=\"https://a/b.png\">img</a>"},
        {"[a] b](#c)", "<a href=\"#c\">a] b</a>"},
        {"[a](b", "[a](b"},
        {"[a]", "[a]"},
        {"[a](#x) [b](#y)", "<a href=\"#x\">a</a> <a href=\"#y\">b</a>"},
        {"[a [b](#y)", "<a href=\"#y\">a [b</a>"},
        {"[a](http://x)y)", "<a href=\"http://x\">a</a>y)"},
        {"[](https://x)", "<a href=\"https://x\"></a>"},
        {"[x](https://a'b)", "<a href=\"https://a&#39;b\">x</a>"},
    });
}

TEST(RenderInline, AngleAutolinks) {
    expect_renders({
        {"<https://a.b/c>", "<a href=\"https://a.b/c\">https://a.b/c</a>"},
        {"<mailto:me@x.org>", "<a href=\"mailto:me@x.org\">me@x.org</a>"},
        {"<MAILTO:me@x.org>", "<a href=\"MAILTO:me@x.org\">me@x.org</a>"},
        {"<https://>", "&lt;https://&gt;"},
        {"<mailto:>", "&lt;mailto:&gt;"},
        {"<div>", "&lt;div&gt;"},
        {"<https://a b>", "&lt;<a href=\"https://a\">https://a</a> b&gt;"},
        {"<http://a&b>", "<a href=\"http://a&amp;b\">http://a&amp;b</a>"},
        {"<https://a", "&lt;<a href=\"https://a\">https://a</a>"},
    });
}

TEST(RenderInline, BareAutolinks) {
    expect_renders({
        {"see http://x.org.", "see <a href=\"http://x.org\">http://x.org</a>."},
        {"(http://x.org/a_(b))", "(<a href=\"http://x.org/a_(b)\">http://x.org/a_(b)</a>)"},
        {"(http://x.org/a)", "(<a href=\"http://x.org/a\">http://x.org/a</a>)"},
        {"ahttp://x", "ahttp://x"},
        {"/http://x", "/http://x"},
        {"@http://x", "@http://x"},
        {"_http://x", "_http://x"},
        {"mailto:a@b", "mailto:a@b"},
        {"HTTPS://X.ORG/?a=1&b",
         "<a href=\"HTTPS://X.ORG/?a=1&amp;b\">HTTPS://X.ORG/?a=1&amp;b</a>"},
        {"http://...", "http://..."},
        {"http://x\"y", "<a href=\"http://x\">http://x</a>&quot;y"},
        {"http://x`y`", "<a href=\"http://x\">http://x</a><code>y</code>"},
        {"[http://x]", "[<a href=\"http://x\">http://x</a>]"},
        {"http://a[b]c]d", "<a href=\"http://a[b]c\">http://a[b]c</a>]d"},
        {"http://x?!", "<a href=\"http://x\">http://x</a>?!"},
        {"http://x\xC3\xA9", "<a href=\"http://x\">http://x</a>\xC3\xA9"},
        {"http://x<y", "<a href=\"http://x\">http://x</a>&lt;y"},
        {"\xC3\xA9http://x", "\xC3\xA9http://x"},
    });
}

TEST(RenderInline, AppendKeepsEarlierOutput) {
    std::string out = "  ";
    append_inline_html(out, "\nx", 0);
    EXPECT_EQ(out, "   x"); // no spaces in this call's own text before the line feed
    out = "ab";
    append_inline_html(out, "  \nx", 0);
    EXPECT_EQ(out, "ab<br>x");
}

} // namespace
} // namespace pellix
