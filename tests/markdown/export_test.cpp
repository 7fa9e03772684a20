#include "markdown/export.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>

#include "core/source_document.h"
#include "markdown/html_render.h"
#include "markdown/plain_text_page.h"

namespace pellix {
namespace {

namespace fs = std::filesystem;

// A fresh folder per test, removed afterwards.
class ExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  (std::string("pellix-export-") +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    ExportRequest request(const std::u16string& text, bool as_json) {
        ExportRequest filled;
        filled.document.assign(text);
        filled.destination = folder_ / (as_json ? "out.json" : "out.html");
        filled.as_json = as_json;
        filled.name = u"Notes.md";
        return filled;
    }

    static std::string read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    static std::string message_of(const ExportRequest& request) {
        try {
            build_export_text(request);
        } catch (const std::exception& error) {
            return error.what();
        }
        return "(no error)";
    }

    fs::path folder_;
};

TEST_F(ExportTest, MarkdownJsonByteForByte) {
    ExportRequest markdown =
        request(u"- [ ] a\t\x01\n# H \"q\" \u00e9\n- [x] b\\\n  c\n\n* [ ] `d`", true);
    markdown.encoding = Encoding::utf8_bom;
    markdown.line_ending = LineEnding::crlf;
    build_export_text(markdown);
    EXPECT_EQ(read(markdown.destination),
              "{\n"
              "  \"schemaVersion\": 1,\n"
              "  \"generator\": {\n"
              "    \"product\": \"Pellix\",\n"
              "    \"version\": \"1.2.9\"\n"
              "  },\n"
              "  \"document\": {\n"
              "    \"name\": \"Notes.md\",\n"
              "    \"format\": \"markdown\",\n"
              "    \"encoding\": \"UTF-8 BOM\",\n"
              "    \"lineEndings\": \"CRLF\",\n"
              "    \"source\": \"- [ ] a\\t\\u0001\\n# H \\\"q\\\" \xC3\xA9\\n- [x] b\\\\\\n  "
              "c\\n\\n* [ ] `d`\"\n"
              "  },\n"
              "  \"headings\": [\n"
              "    {\"level\": 1, \"line\": 2, \"text\": \"H \\\"q\\\" \xC3\xA9\"}\n"
              "  ],\n"
              "  \"tasks\": [\n"
              "    {\"line\": 1, \"indent\": 0, \"heading\": null, \"done\": false, "
              "\"hardBreak\": false, \"text\": \"a\\t\\u0001\"},\n"
              "    {\"line\": 3, \"indent\": 0, \"heading\": 0, \"done\": true, "
              "\"hardBreak\": true, \"text\": \"b\\\\\"},\n"
              "    {\"line\": 6, \"indent\": 0, \"heading\": 0, \"done\": false, "
              "\"hardBreak\": false, \"text\": \"`d`\"}\n"
              "  ]\n"
              "}\n");
}

TEST_F(ExportTest, EmptyArraysStayOnTheMemberLine) {
    ExportRequest plain = request(u"# not a heading\n- [ ] not a task\n", true);
    plain.markdown = false;
    plain.encoding = Encoding::oem_437;
    plain.line_ending = LineEnding::cr;
    plain.name = u"\u00e9.txt";
    build_export_text(plain);
    EXPECT_EQ(read(plain.destination), "{\n"
                                       "  \"schemaVersion\": 1,\n"
                                       "  \"generator\": {\n"
                                       "    \"product\": \"Pellix\",\n"
                                       "    \"version\": \"1.2.9\"\n"
                                       "  },\n"
                                       "  \"document\": {\n"
                                       "    \"name\": \"\xC3\xA9.txt\",\n"
                                       "    \"format\": \"plain_text\",\n"
                                       "    \"encoding\": \"OEM 437\",\n"
                                       "    \"lineEndings\": \"CR\",\n"
                                       "    \"source\": \"# not a heading\\n- [ ] not a task\\n\"\n"
                                       "  },\n"
                                       "  \"headings\": [],\n"
                                       "  \"tasks\": []\n"
                                       "}\n");

    ExportRequest tasks_only = request(u"text\n- [x] t", true);
    build_export_text(tasks_only);
    std::string json = read(tasks_only.destination);
    EXPECT_NE(json.find("  \"headings\": [],\n  \"tasks\": [\n    {\"line\": 2, \"indent\": 0, "
                        "\"heading\": null, \"done\": true, \"hardBreak\": false, \"text\": "
                        "\"t\"}\n  ]\n}\n"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"encoding\": \"UTF-8\",\n    \"lineEndings\": \"LF\","),
              std::string::npos);
}

TEST_F(ExportTest, JsonStringEscapes) {
    JsonOutput out;
    json_append_string(out, std::string("\"\\\b\f\n\r\t\x01\x1f \x7f/\xE2\x98\x90", 15));
    EXPECT_EQ(out.text, "\"\\\"\\\\\\b\\f\\n\\r\\t\\u0001\\u001f \x7f/\xE2\x98\x90\"");
    JsonOutput empty;
    json_append_string(empty, "");
    EXPECT_EQ(empty.text, "\"\"");
}

TEST_F(ExportTest, JsonOutputNeverPassesItsLimit) {
    JsonOutput out{"", 6};
    json_append(out, "abcdef");
    EXPECT_EQ(out.text, "abcdef");
    EXPECT_THROW(json_append(out, "g"), std::runtime_error);
    EXPECT_EQ(out.text, "abcdef");

    JsonOutput escaped{"", 5};
    try {
        json_append_string(escaped, "ab\n");
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "JSON export exceeds the output limit.");
    }
    EXPECT_LE(escaped.text.size(), 5u);
    JsonOutput exact{"", 5};
    json_append_string(exact, "a\n");
    EXPECT_EQ(exact.text, "\"a\\n\"");
}

TEST_F(ExportTest, JsonRefusals) {
    ExportRequest bad = request(u"x", true);
    bad.encoding = static_cast<Encoding>(8);
    EXPECT_EQ(message_of(bad), "Invalid document format for JSON export.");
    bad.encoding = Encoding::utf8;
    bad.line_ending = static_cast<LineEnding>(3);
    EXPECT_EQ(message_of(bad), "Invalid document format for JSON export.");
    EXPECT_FALSE(fs::exists(bad.destination));

    // A document at the editor's limit passes; one unit more (only reachable by building the
    // text directly) is refused.
    ExportRequest empty = request(u"", true);
    empty.destination = folder_ / "empty.json";
    build_export_text(empty);
    ExportRequest full = request(std::u16string(0x800000, u'a'), true);
    build_export_text(full);
    EXPECT_EQ(fs::file_size(full.destination), fs::file_size(empty.destination) + 0x800000u);
    ExportRequest over = request(u"", true);
    over.document.root = build_rope(std::u16string(0x800001, u'a'), 1);
    over.destination = folder_ / "over.json";
    EXPECT_EQ(message_of(over), "JSON export exceeds the editor's source limit.");
    EXPECT_FALSE(fs::exists(over.destination));

    std::u16string headings;
    for (int i = 0; i < 100001; ++i)
        headings += u"# h\n";
    ExportRequest many = request(headings, true);
    many.destination = folder_ / "many.json";
    EXPECT_EQ(message_of(many), "Too many headings for export.");
    EXPECT_FALSE(fs::exists(many.destination));
}

TEST_F(ExportTest, HtmlExportIsTheRenderedPageWithAGeneratorLine) {
    std::string source =
        "# Title\n\nSome *text* & <b>\n\n- [x] done\n\n| a | b |\n|---|--:|\n| 1 | 2 |\n";
    ExportRequest markdown = request(std::u16string(source.begin(), source.end()), false);
    markdown.dark = true;
    build_export_text(markdown);
    std::string page = render_markdown_html(source, true, 0x800000);
    std::size_t head_end = page.find("</head>");
    ASSERT_NE(head_end, std::string::npos);
    page.insert(head_end, "<meta name=\"generator\" content=\"Pellix 1.2.9\">\n");
    EXPECT_EQ(read(markdown.destination), page);

    ExportRequest plain = request(u"a < b\n", false);
    plain.markdown = false;
    build_export_text(plain);
    std::string text_page = render_plain_text_html("a < b\n");
    text_page.insert(text_page.find("</head>"),
                     "<meta name=\"generator\" content=\"Pellix 1.2.9\">\n");
    EXPECT_EQ(read(plain.destination), text_page);
}

TEST_F(ExportTest, OpenDocumentIsNeverTheDestination) {
    const std::string refusal =
        "Choose another export destination. An open document will not be replaced.";
    fs::path open = folder_ / "Doc.md";
    { std::ofstream(open, std::ios::binary) << "original"; }
    std::string spelled = folder_.generic_string();
    for (char& c : spelled)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    // Spellings of the open document's name; "gone.md" is open but not on disk, so only the
    // name comparison can refuse its spellings.
    const std::pair<fs::path, fs::path> cases[] = {
        {open, folder_ / "doc.MD"},
        {open, fs::path(spelled + "/DOC.md")},
        {open, folder_ / "sub" / ".." / "." / "Doc.md"},
        {folder_ / "gone.md", folder_ / "GONE.md"},
        {folder_ / "gone.md", fs::path(spelled + "/x/../gone.md")},
        {folder_ / "gone.md", fs::path(folder_.generic_string() + "/./gone.md")},
    };
    for (bool as_json : {true, false}) {
        for (const auto& [open_path, destination] : cases) {
            ExportRequest export_request = request(u"# new", as_json);
            export_request.open_paths = {fs::path(), folder_ / "other.md", open_path};
            export_request.destination = destination;
            EXPECT_EQ(message_of(export_request), refusal) << destination.string();
        }
    }
    EXPECT_EQ(read(open), "original");
    EXPECT_FALSE(fs::exists(folder_ / "gone.md"));

    // A spelling only the file system can match: a relative path from the current folder.
    fs::path previous = fs::current_path();
    fs::current_path(folder_);
    ExportRequest relative = request(u"# new", true);
    relative.open_paths = {open};
    relative.destination = "Doc.md";
    std::string message = message_of(relative);
    fs::current_path(previous);
    EXPECT_EQ(message, refusal);
    EXPECT_EQ(read(open), "original");

    ExportRequest elsewhere = request(u"# new", true);
    elsewhere.open_paths = {open, fs::path()};
    build_export_text(elsewhere);
    EXPECT_TRUE(fs::exists(elsewhere.destination));
    // Two different existing files are not the same file: an existing file that no tab holds
    // is replaced.
    fs::path existing = folder_ / "existing.html";
    { std::ofstream(existing, std::ios::binary) << "old"; }
    ExportRequest replace = request(u"# new", false);
    replace.open_paths = {open};
    replace.destination = existing;
    build_export_text(replace);
    EXPECT_NE(read(existing), "old");
    EXPECT_EQ(read(open), "original");
}

} // namespace
} // namespace pellix
