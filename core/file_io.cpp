#include "core/file_io.h"

#include "core/encoding.h"
#include "core/file_io_calls.h"
#include "core/file_paths.h"
#include "core/markdown_extensions.h"
#include "platform/unique_handle.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <random>
#include <stdexcept>

namespace pellix {
namespace {

constexpr const char* cannot_open = "Could not open the file for reading.";
constexpr const char* unknown_size = "Could not determine the file size.";
constexpr const char* over_reading_limit = "File exceeds the reading limit.";
constexpr const char* read_failed = "The file could not be read completely.";
constexpr const char* over_document_limit =
    "Saving would exceed the 8 MiB file limit. Split the document before saving.";
constexpr const char* cannot_create_temporary =
    "Cannot create a temporary file beside the destination. Check folder permissions.";
constexpr const char* incomplete_write =
    "The complete file could not be written. The destination was not replaced.";
constexpr const char* cannot_replace = "Could not replace the destination. Check permissions, "
                                       "read-only status or another program holding the file "
                                       "open.";

constexpr DWORD io_block = 65536;

[[noreturn]] void fail(const std::string& message) {
    throw std::runtime_error(message);
}

AtomicSaveCalls& save_calls() {
    static AtomicSaveCalls calls;
    return calls;
}

bool call_write_file(HANDLE file, const char* data, DWORD size, DWORD& written) {
    if (const auto& substitute = save_calls().write_file) {
        std::uint32_t done = 0;
        const bool ok = substitute(file, data, size, done);
        written = done;
        return ok;
    }
    return WriteFile(file, data, size, &written, nullptr) != FALSE;
}

bool call_replace_file(const std::filesystem::path& replaced,
                       const std::filesystem::path& replacement) {
    if (const auto& substitute = save_calls().replace_file) {
        return substitute(replaced.c_str(), replacement.c_str());
    }
    return ReplaceFileW(win32_file_path(replaced).c_str(), win32_file_path(replacement).c_str(),
                        nullptr, 0, nullptr, nullptr) != FALSE;
}

HANDLE call_open_for_reading(const std::filesystem::path& path) {
    if (const auto& substitute = save_calls().open_for_reading) {
        return substitute(path.c_str());
    }
    // Sharing everything lets a file that another program is writing still be read.
    return CreateFileW(win32_file_path(path).c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

bool call_move_file(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (const auto& substitute = save_calls().move_file) {
        return substitute(from.c_str(), to.c_str());
    }
    return MoveFileExW(win32_file_path(from).c_str(), win32_file_path(to).c_str(),
                       MOVEFILE_WRITE_THROUGH) != FALSE;
}

// ---- Saving -------------------------------------------------------------------------------

std::string save_limit_message(std::uint64_t limit) {
    if (limit == document_limit) {
        return over_document_limit;
    }
    constexpr std::uint64_t mebibyte = 0x100000;
    if (limit >= mebibyte && limit % mebibyte == 0) {
        return "Saving would exceed the " + std::to_string(limit / mebibyte) + " MiB file limit.";
    }
    return "Saving would exceed the " + std::to_string(limit) + "-byte file limit.";
}

std::filesystem::path temporary_path_beside(const std::filesystem::path& destination) {
    std::random_device device("default");
    const std::uint32_t first = device();
    const std::uint32_t second = device();
    auto temporary = destination;
    temporary.replace_filename(std::wstring(temporary_file_prefix) + std::to_wstring(first) + L"-" +
                               std::to_wstring(second) + std::wstring(temporary_file_suffix));
    return temporary;
}

// DeleteFileW, not std::filesystem: the library's own status query may refuse the literal
// spelling.
void remove_quietly(const std::filesystem::path& path) {
    DeleteFileW(win32_file_path(path).c_str());
}

bool exists_on_disk(const std::filesystem::path& path) {
    return GetFileAttributesW(win32_file_path(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool is_folder(const std::filesystem::path& path) {
    const DWORD attributes = GetFileAttributesW(win32_file_path(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Only a definite "not there" counts: a path whose attributes cannot be read may still exist.
bool known_missing(const std::filesystem::path& path) {
    if (exists_on_disk(path)) {
        return false;
    }
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// WriteFile may report success for fewer bytes than asked; the rest is written in further calls
// until everything is out, and a call that makes no progress ends the attempt.
bool write_all(HANDLE file, const std::string& bytes) {
    const char* data = bytes.data();
    std::size_t remaining = bytes.size();
    while (remaining > 0) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(remaining, io_block));
        DWORD written = 0;
        if (!call_write_file(file, data, piece, written) || written == 0 || written > piece) {
            return false;
        }
        data += written;
        remaining -= written;
    }
    return true;
}

// The close is checked too: for a file being written it can be the first report of a failure.
bool write_flush_and_close(UniqueHandle& file, const std::string& bytes) {
    const bool written = write_all(file.get(), bytes);
    const bool flushed = written && FlushFileBuffers(file.get()) != FALSE;
    const bool closed = CloseHandle(file.release()) != FALSE;
    return written && flushed && closed;
}

// Puts the finished temporary file in place of the destination, or throws.
void put_in_place(const std::filesystem::path& destination,
                  const std::filesystem::path& temporary) {
    if (!exists_on_disk(destination)) {
        if (!call_move_file(temporary, destination)) {
            remove_quietly(temporary);
            fail(cannot_replace);
        }
        return;
    }
    if (call_replace_file(destination, temporary)) {
        return;
    }
    // ReplaceFileW can fail after it has already moved the destination away
    // (ERROR_UNABLE_TO_MOVE_REPLACEMENT); the temporary file is then the only copy left, so it
    // is moved into place, or kept. Once moved, the destination holds the new bytes: the save
    // landed, and a failure reported now would leave the caller believing the old bytes are
    // still there. Another program may take the name in that moment: the old file is gone all
    // the same, so the temporary file stays.
    const DWORD replace_error = GetLastError();
    const bool destination_lost = replace_error == ERROR_UNABLE_TO_MOVE_REPLACEMENT ||
                                  replace_error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2;
    if (known_missing(destination) && call_move_file(temporary, destination)) {
        return;
    }
    if (!destination_lost && !known_missing(destination)) {
        remove_quietly(temporary);
    }
    fail(cannot_replace);
}

// ---- Welcome document ---------------------------------------------------------------------

constexpr std::string_view welcome_text =
    "# Hello from Pellix\n"
    "\n"
    "## Make Pellix your Markdown editor\n"
    "\n"
    "1. Open **Help > Use Pellix for Markdown files...**.\n"
    "2. Choose **Register and open Default apps**.\n"
    "3. In Windows Settings, choose Pellix for `.md` and the other Markdown extensions you use.\n"
    "\n"
    "**Register only** adds Pellix to **Open with** without changing your current defaults. No "
    "administrator rights are needed.\n"
    "\n"
    "## Other text files\n"
    "\n"
    "The same Help window explains how to associate `.txt`, `.ini`, `.nfo` and other text files:\n"
    "\n"
    "1. Right-click a file in Windows and choose **Open with > Choose another app**.\n"
    "2. Select Pellix. If it is not listed, browse to the program's executable, Pellix.exe.\n"
    "3. Choose **Always** for that file type.\n"
    "\n"
    "Other text files open in Source mode. Markdown files also support Preview and Split.\n"
    "\n"
    "Close this tab when you're ready. Your files and existing defaults stay unchanged until you "
    "choose otherwise.\n";

} // namespace

bool is_markdown_path(const std::filesystem::path& path) {
    if (path.empty()) {
        return true;
    }
    std::wstring extension = path.extension().wstring();
    std::transform(extension.begin(), extension.end(), extension.begin(), [](wchar_t c) {
        return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    });
    return std::find(markdown_extensions.begin(), markdown_extensions.end(), extension) !=
           markdown_extensions.end();
}

FileRead read_whole_file(const std::filesystem::path& path, std::uint64_t limit) {
    UniqueHandle file(call_open_for_reading(path));
    // A device (an explicit "\\.\" spelling) is no document: it may read as empty or never end.
    if (!file.valid() || GetFileType(file.get()) != FILE_TYPE_DISK) {
        return {.bytes = {}, .end = FileReadEnd::cannot_open};
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) {
        return {.bytes = {}, .end = FileReadEnd::unknown_size};
    }
    if (static_cast<std::uint64_t>(size.QuadPart) > limit) {
        return {.bytes = {}, .end = FileReadEnd::over_limit};
    }
    FileRead read;
    read.bytes.reserve(static_cast<std::size_t>(size.QuadPart));
    auto buffer = std::make_unique<char[]>(io_block);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer.get(), io_block, &got, nullptr)) {
            return {.bytes = {}, .end = FileReadEnd::incomplete};
        }
        if (got == 0) {
            // A file said to hold bytes that yields none was not read: shown as empty, it would
            // be saved over with nothing.
            if (read.bytes.empty() && size.QuadPart > 0) {
                return {.bytes = {}, .end = FileReadEnd::incomplete};
            }
            return read;
        }
        // The file may grow while it is read; the limit holds for what is actually read.
        if (read.bytes.size() + got > limit) {
            return {.bytes = {}, .end = FileReadEnd::over_limit};
        }
        read.bytes.append(buffer.get(), got);
    }
}

std::string read_file_bytes(const std::filesystem::path& path, std::uint64_t limit) {
    FileRead read = read_whole_file(path, limit);
    switch (read.end) {
    case FileReadEnd::read:
        return std::move(read.bytes);
    case FileReadEnd::cannot_open:
        fail(cannot_open);
    case FileReadEnd::unknown_size:
        fail(unknown_size);
    case FileReadEnd::over_limit:
        fail(over_reading_limit);
    case FileReadEnd::incomplete:
        break;
    }
    fail(read_failed);
}

void write_file_atomically(const std::filesystem::path& destination, const std::string& bytes,
                           std::uint64_t limit) {
    if (bytes.size() > limit) {
        fail(save_limit_message(limit));
    }
    // Wine's ReplaceFileW fails on relative paths, so every path of a save is absolute.
    const std::filesystem::path target = absolute_file_path(destination);
    // Wine's ReplaceFileW moves a folder aside and puts the file in its place, reporting success;
    // a file never replaces a folder.
    if (is_folder(target)) {
        fail(cannot_replace);
    }
    const std::filesystem::path temporary = temporary_path_beside(target);
    UniqueHandle file(CreateFileW(win32_file_path(temporary).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        fail(cannot_create_temporary);
    }
    if (!write_flush_and_close(file, bytes)) {
        remove_quietly(temporary);
        fail(incomplete_write);
    }
    put_in_place(target, temporary);
}

std::string_view welcome_document_text() {
    return welcome_text;
}

void write_welcome_document(const std::filesystem::path& path) {
    // Once written, the file is the user's: it is never written again, edited or not.
    if (std::filesystem::exists(std::filesystem::status(path))) {
        return;
    }
    if (path.has_parent_path()) {
        std::filesystem::create_directories(path.parent_path());
    }
    write_file_atomically(path, std::string(welcome_text), document_limit);
}

ScopedAtomicSaveCalls::ScopedAtomicSaveCalls(AtomicSaveCalls calls)
    : previous_(std::move(save_calls())) {
    save_calls() = std::move(calls);
}

ScopedAtomicSaveCalls::~ScopedAtomicSaveCalls() {
    save_calls() = std::move(previous_);
}

} // namespace pellix
