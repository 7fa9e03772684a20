#pragma once

// Commands on the active tab's document as a whole: export to HTML or JSON through the
// file-work runner, printing, and its path on the clipboard or in a folder window.

#include <filesystem>
#include <functional>

namespace pellix {

// Exports the active tab; `pick` replaces the export dialog when set (an empty path cancels).
// The destination is refused when it is an open tab's file.
void export_document(bool json, const std::function<std::filesystem::path()>& pick);

// The active tab's path as Unicode text on the clipboard; nothing for an untitled tab. Throws
// std::runtime_error "Could not copy the source path." when the clipboard refuses it.
void copy_full_path();

// The folder of the active tab's file with the file selected; nothing for an untitled tab.
void open_containing_folder();

// Prints the active tab through the print dialog.
void print_document();

} // namespace pellix
