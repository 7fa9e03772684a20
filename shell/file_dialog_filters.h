#pragma once

// The catalogue of file types that the open and save dialogs offer; the Markdown patterns come
// from the one extension table, so the dialogs and the registration agree.

#include <string>
#include <vector>

namespace pellix {

struct FileDialogFilter {
    std::wstring label;
    std::wstring patterns; // separated by ';'
};

// "Text and Markdown files" first when `with_text` (the multi-selection Open dialog), then
// "Markdown files", the four text groups and "All files".
std::vector<FileDialogFilter> file_dialog_filters(bool with_text);

} // namespace pellix
