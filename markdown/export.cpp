#include "markdown/export.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "core/file_io.h"
#include "core/file_paths.h"
#include "core/limits.h"
#include "markdown/html_render.h"
#include "markdown/inline_render.h"
#include "markdown/outline.h"
#include "markdown/plain_text_page.h"

namespace pellix {
namespace {

constexpr std::uint64_t json_reserve_slack = 4096;
constexpr std::uint32_t last_encoding = 7;
constexpr std::uint32_t last_line_ending = 2;

// File names compare without case the way the file system does, not only for ASCII.
bool same_name_ignoring_case(const std::filesystem::path& a, const std::filesystem::path& b) {
    const std::wstring& x = a.native();
    const std::wstring& y = b.native();
    return CompareStringOrdinal(x.c_str(), static_cast<int>(x.size()), y.c_str(),
                                static_cast<int>(y.size()), TRUE) == CSTR_EQUAL;
}

bool names_same_file(const std::filesystem::path& a, const std::filesystem::path& b) {
    const std::optional<FileIdentity> identity = file_identity(a);
    return identity && file_identity(b) == identity;
}

// An export must never overwrite a document that is open in a tab: its unsaved edits would
// silently lose their file.
void refuse_open_document(const ExportRequest& request) {
    if (request.destination.empty())
        return;
    std::filesystem::path destination = request.destination.lexically_normal();
    for (const std::filesystem::path& open : request.open_paths) {
        if (open.empty())
            continue;
        if (same_name_ignoring_case(destination, open.lexically_normal()) ||
            names_same_file(request.destination, open))
            throw std::runtime_error(
                "Choose another export destination. An open document will not be replaced.");
    }
}

void append_line(JsonOutput& out, std::string_view indent, std::string_view bytes) {
    json_append(out, indent);
    json_append(out, bytes);
    json_append(out, "\n");
}

void append_key(JsonOutput& out, std::string_view key) {
    json_append(out, "\"");
    json_append(out, key);
    json_append(out, "\": ");
}

void append_member(JsonOutput& out, std::string_view key, const std::string& value) {
    append_key(out, key);
    json_append_string(out, value);
}

void append_number(JsonOutput& out, std::string_view key, std::uint64_t value) {
    append_key(out, key);
    json_append(out, std::to_string(value));
}

// A bare word: true, false or null.
void append_word(JsonOutput& out, std::string_view key, std::string_view word) {
    append_key(out, key);
    json_append(out, word);
}

void append_document_object(JsonOutput& out, const ExportRequest& request, const std::string& name,
                            const std::string& source) {
    append_line(out, "  ", "\"document\": {");
    json_append(out, "    ");
    append_member(out, "name", name);
    json_append(out, ",\n    ");
    append_member(out, "format", request.markdown ? "markdown" : "plain_text");
    json_append(out, ",\n    ");
    append_member(out, "encoding", std::string(encoding_name(request.encoding)));
    json_append(out, ",\n    ");
    append_member(out, "lineEndings", std::string(line_ending_name(request.line_ending)));
    json_append(out, ",\n    ");
    append_member(out, "source", source);
    json_append(out, "\n");
    append_line(out, "  ", "},");
}

void append_heading(JsonOutput& out, const HeadingEntry& heading) {
    json_append(out, "    {");
    append_number(out, "level", heading.level);
    json_append(out, ", ");
    append_number(out, "line", heading.line + 1);
    json_append(out, ", ");
    append_member(out, "text", heading.text);
    json_append(out, "}");
}

void append_task(JsonOutput& out, const TaskEntry& task) {
    json_append(out, "    {");
    append_number(out, "line", task.line + 1);
    json_append(out, ", ");
    append_number(out, "indent", task.indent);
    json_append(out, ", ");
    if (task.heading < 0)
        append_word(out, "heading", "null");
    else
        append_number(out, "heading", static_cast<std::uint64_t>(task.heading));
    json_append(out, ", ");
    append_word(out, "done", task.done ? "true" : "false");
    json_append(out, ", ");
    append_word(out, "hardBreak", task.hardBreak ? "true" : "false");
    json_append(out, ", ");
    append_member(out, "text", task.text);
    json_append(out, "}");
}

// An array member: "[" and its closing on one line when empty, else one element per line.
template <typename Item, typename Write>
void append_array(JsonOutput& out, std::string_view key, const std::vector<Item>& items,
                  std::string_view after, Write write) {
    json_append(out, "  ");
    append_key(out, key);
    json_append(out, "[");
    if (items.empty()) {
        json_append(out, "]");
        json_append(out, after);
        json_append(out, "\n");
        return;
    }
    json_append(out, "\n");
    for (std::size_t i = 0; i < items.size(); ++i) {
        write(out, items[i]);
        json_append(out, i + 1 < items.size() ? ",\n" : "\n");
    }
    json_append(out, "  ]");
    json_append(out, after);
    json_append(out, "\n");
}

std::string build_json(const ExportRequest& request, const std::u16string& text) {
    if (static_cast<std::uint32_t>(request.encoding) > last_encoding ||
        static_cast<std::uint32_t>(request.line_ending) > last_line_ending)
        throw std::runtime_error("Invalid document format for JSON export.");
    if (text.size() > document_limit)
        throw std::runtime_error("JSON export exceeds the editor's source limit.");
    std::string source = utf16_to_utf8(text);
    std::string name = utf16_to_utf8(request.name);
    std::vector<HeadingEntry> headings;
    std::vector<TaskEntry> tasks;
    if (request.markdown) {
        headings = collect_headings(source, export_item_limit);
        tasks = extract_tasks(source, export_item_limit);
    }
    JsonOutput out;
    out.text.reserve(std::min<std::uint64_t>(source.size() + json_reserve_slack, out.limit));
    append_line(out, "", "{");
    append_line(out, "  ", "\"schemaVersion\": 1,");
    append_line(out, "  ", "\"generator\": {");
    json_append(out, "    ");
    append_member(out, "product", "Pellix");
    json_append(out, ",\n    ");
    append_member(out, "version", std::string(export_generator_version));
    json_append(out, "\n");
    append_line(out, "  ", "},");
    append_document_object(out, request, name, source);
    append_array(out, "headings", headings, ",", append_heading);
    append_array(out, "tasks", tasks, "", append_task);
    append_line(out, "", "}");
    return std::move(out.text);
}

std::string build_html(const ExportRequest& request, const std::u16string& text) {
    std::string source = utf16_to_utf8(text);
    std::string page = request.markdown ? render_markdown_html(source, request.dark, document_limit)
                                        : render_plain_text_html(source);
    std::size_t head_end = page.find("</head>");
    if (head_end == std::string::npos)
        throw std::invalid_argument("HTML export is missing its document head.");
    std::string meta = "<meta name=\"generator\" content=\"Pellix " +
                       escape_html(export_generator_version) + "\">\n";
    page.insert(head_end, meta);
    return page;
}

} // namespace

void json_append(JsonOutput& out, std::string_view bytes) {
    if (out.text.size() > out.limit || bytes.size() > out.limit - out.text.size())
        throw std::runtime_error("JSON export exceeds the output limit.");
    out.text.append(bytes);
}

void json_append_string(JsonOutput& out, const std::string& utf8) {
    static constexpr char hex[] = "0123456789abcdef";
    json_append(out, "\"");
    std::string_view bytes = utf8;
    std::size_t plain_start = 0;
    // Runs of bytes that need no escape are appended whole; each escape is measured alone.
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        json_append(out, bytes.substr(plain_start, i - plain_start));
        plain_start = i + 1;
        switch (c) {
        case '"':
            json_append(out, "\\\"");
            break;
        case '\\':
            json_append(out, "\\\\");
            break;
        case 0x08:
            json_append(out, "\\b");
            break;
        case 0x0C:
            json_append(out, "\\f");
            break;
        case '\n':
            json_append(out, "\\n");
            break;
        case '\r':
            json_append(out, "\\r");
            break;
        case '\t':
            json_append(out, "\\t");
            break;
        default: {
            const char escape[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 0xF]};
            json_append(out, std::string_view(escape, sizeof escape));
        }
        }
    }
    json_append(out, bytes.substr(plain_start));
    json_append(out, "\"");
}

void build_export_text(const ExportRequest& request) {
    refuse_open_document(request);
    std::u16string text = request.document.text();
    std::string bytes = request.as_json ? build_json(request, text) : build_html(request, text);
    write_file_atomically(request.destination, bytes, export_output_limit);
}

} // namespace pellix
