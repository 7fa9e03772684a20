#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace pellix {

// True for ".md", ".markdown", ".mdown", ".mkd" and ".mkdn" in any ASCII case, and for an empty
// path (an untitled document is Markdown).
bool is_markdown_path(const std::filesystem::path& path);

// How a whole-file read ended. A caller that must tell a file it cannot get at from one that
// holds the wrong bytes reads through `read_whole_file`; the others take `read_file_bytes`.
enum class FileReadEnd { read, cannot_open, unknown_size, over_limit, incomplete };
struct FileRead {
    std::string bytes; // the whole file when `end` is `read`
    FileReadEnd end = FileReadEnd::read;
};
FileRead read_whole_file(const std::filesystem::path& path, std::uint64_t limit);

// The whole file, refusing one larger than `limit` bytes. Throws std::runtime_error.
std::string read_file_bytes(const std::filesystem::path& path, std::uint64_t limit);

// A write's temporary file beside its destination is named ".pellix-<n>-<n>.tmp": a crash can
// leave one behind, and a reader that looks for what it holds knows it by these.
inline constexpr std::wstring_view temporary_file_prefix = L".pellix-";
inline constexpr std::wstring_view temporary_file_suffix = L".tmp";

// Writes `bytes` to a fresh temporary file beside `destination`, then puts it in place in one
// step, so a failed save leaves the destination as it was. Throws std::runtime_error.
void write_file_atomically(const std::filesystem::path& destination, const std::string& bytes,
                           std::uint64_t limit);

// The first-run welcome document (UTF-8 Markdown, LF breaks).
std::string_view welcome_document_text();

// Writes the welcome document at `path` unless something already exists there.
void write_welcome_document(const std::filesystem::path& path);

} // namespace pellix
