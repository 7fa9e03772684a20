#pragma once

// Writing the current document as a JSON file for other programs, or as a standalone HTML
// page. Runs on a file-work thread; nothing is written unless the whole text stands.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/encoding.h"
#include "core/source_document.h"

namespace pellix {

// The program version written into every export.
inline constexpr std::string_view export_generator_version = "1.2.9";

// Largest JSON text and largest file the export writes.
inline constexpr std::uint64_t export_output_limit = 0x4000000;

// What the export task hands to build_export_text, filled from the current tab.
struct ExportRequest {
    std::vector<std::filesystem::path> open_paths; // every tab's path (empty when unsaved)
    std::filesystem::path destination;
    SourceDocument document; // a snapshot of the tab's text; the whole text is exported
    Encoding encoding = Encoding::utf8;
    LineEnding line_ending = LineEnding::lf;
    bool as_json = false;
    std::u16string name; // display name written into the JSON
    bool markdown = true;
    bool dark = false; // dark page colours for a Markdown HTML export
};

// Writes the destination, or throws: std::runtime_error for a destination that is an open
// document and for the JSON limits, std::invalid_argument for a page without a head; errors of
// the renderers, the converters and the atomic write pass through unchanged.
void build_export_text(const ExportRequest& request);

// A JSON text that never grows past its limit.
struct JsonOutput {
    std::string text;
    std::uint64_t limit = export_output_limit;
};

// Appends raw bytes; throws std::runtime_error "JSON export exceeds the output limit." when
// they do not fit below the limit (and then appends nothing).
void json_append(JsonOutput& out, std::string_view bytes);

// Appends `utf8` as a JSON string literal: quotes, backslashes and control bytes escaped,
// every other byte (multi-byte characters included) unchanged.
void json_append_string(JsonOutput& out, const std::string& utf8);

} // namespace pellix
