#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "markdown/html_render.h"
#include "markdown/preview_markup.h"
#include "preview/layout.h"
#include "tests/preview/layout_checks.h"
#include "tests/preview/preview_test_document.h"

namespace pellix {
namespace {

// The native fuzzers stop at the read-back document: DirectWrite exists only under Wine. These
// pages are the hostile ones a fuzzer would look for, each a little past the length one
// DirectWrite layout faults on.
constexpr std::size_t run_length = test::wine_fault_units + 500;

std::vector<std::string> punctuation_runs() {
    std::vector<std::string> sources;
    for (char c = '!'; c <= '~'; ++c) {
        const bool letter_or_digit =
            (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!letter_or_digit) {
            sources.push_back(std::string(run_length, c) + "\n");
        }
    }
    return sources;
}

// One word past the fault length in every place a word can stand, and nesting far deeper than
// any real page.
std::vector<std::string> long_words_and_deep_nesting() {
    const std::string word(run_length, 'w');
    std::string lists;
    for (int depth = 0; depth < 64; ++depth) {
        lists += std::string(2 * static_cast<std::size_t>(depth), ' ') + "- item\n";
    }
    std::string emphasis;
    while (emphasis.size() < run_length) {
        emphasis += "*a_";
    }
    // What reads as one character, longer than the fault length: a letter with its combining
    // marks, and emoji joined by U+200D.
    std::string marked = "a";
    std::string joined = "\xF0\x9F\x91\xA8";
    for (std::size_t units = 1; units <= run_length; ++units) {
        marked += "\xCC\x81";
        if (units % 3 == 0) {
            joined += "\xE2\x80\x8D\xF0\x9F\x91\xA8";
        }
    }
    return {"# " + word + "\n",
            "- " + word + "\n",
            "1. [ ] " + word + "\n",
            "> " + word + "\n",
            "| a | b |\n|---|:-:|\n| " + word + " | x |\n",
            "**" + word + "** and *" + word + "* and ~~" + word + "~~\n",
            "[" + word + "](https://example.test/)\n",
            "[a](https://example.test/" + word + ")\n",
            "https://example.test/" + word + "\n",
            "`" + word + "`\n",
            "```\n" + word + "\n```\n",
            std::string(10000, '>') + " deep\n",
            lists,
            std::string(30000, '[') + "x" + std::string(30000, ']') + "\n",
            emphasis + "\n",
            marked + "\n",
            joined + "\n",
            word + " " + word + "\n" + word + "\n"};
}

class PathologicalPages : public ::testing::Test {
protected:
    void SetUp() override {
        factory_ = test::make_dwrite_factory();
        ASSERT_TRUE(factory_);
    }

    void lay_out(const std::string& source, bool print = false) {
        const PreviewDocument document =
            read_preview_markup(render_markdown_html(source, false, preview_source_limit));
        const Layout layout =
            print ? build_layout(factory_.get(), document, 540.0f, 11.0f / 12.0f, true)
                  : build_layout(factory_.get(), document, 800.0f, 1.0f, false);
        test::expect_content_covered(document, layout);
    }

    ComPtr<IDWriteFactory> factory_;
};

TEST_F(PathologicalPages, RunsOfEachPunctuationCharacterLayOutWhole) {
    for (const std::string& source : punctuation_runs()) {
        SCOPED_TRACE(testing::Message() << "a run of '" << source[0] << "'");
        lay_out(source, false);
    }
}

TEST_F(PathologicalPages, LongWordsAndDeepNestingLayOutWhole) {
    for (const std::string& source : long_words_and_deep_nesting()) {
        SCOPED_TRACE(source.substr(0, 24));
        lay_out(source);
    }
}

// Paper narrows table cells and their font, and wraps code blocks.
TEST_F(PathologicalPages, LongWordsInCellsAndCodeLayOutWholeOnPaper) {
    const std::string word(run_length, 'w');
    for (const std::string& source :
         {"| a | b |\n|---|:-:|\n| " + word + " | x |\n", "```\n" + word + "\n```\n"}) {
        SCOPED_TRACE(source.substr(0, 24));
        lay_out(source, true);
    }
}

} // namespace
} // namespace pellix
