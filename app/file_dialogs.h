#pragma once

// The common file dialogs of the main window: the Save As dialog with its encoding and
// line-ending lists (dialog template 704), the export dialogs and the one-file Open dialog.
// Every dialog goes through `run_file_dialog`, which tests replace so that none ever waits.

#include <windows.h>
#include <commdlg.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "shell/file_dialog_filters.h"

namespace pellix {

inline constexpr int save_options_template = 704;
inline constexpr int encoding_combo = 705;
inline constexpr int line_ending_combo = 706;

// Shows the dialog (an open dialog, or a save dialog when `save`) and answers like
// GetOpenFileNameW and GetSaveFileNameW.
using FileDialogCall = std::function<BOOL(OPENFILENAMEW& dialog, bool save)>;
// Replaces how file dialogs are shown; an empty function restores the system's dialogs.
void install_file_dialog(FileDialogCall call);
BOOL run_file_dialog(OPENFILENAMEW& dialog, bool save);

// Each filter's label and patterns, NUL after each, and a final NUL.
std::wstring filter_string(const std::vector<FileDialogFilter>& filters);

// The 1-based index of the first filter one of whose patterns matches `name` ('*' wildcards,
// A-Z in either case), else the last filter's.
DWORD filter_index_for(const std::vector<FileDialogFilter>& filters, const std::wstring& name);

// Where a file dialog starts: the active document's folder, or for an untitled tab the folder
// last chosen in a dialog (empty before any: the system's own choice).
std::wstring dialog_start_folder();
// Notes the folder of a path the user chose in a dialog.
void remember_dialog_folder(const std::filesystem::path& chosen);

// The dialog for saving (with `format`, the encoding and line-ending lists that may change it),
// exporting HTML or JSON, or choosing one file to open. Empty when cancelled or failed.
std::filesystem::path choose_file(bool save, bool export_mode, Document* format, bool json);

// The hook of template 704: fills and reads the two lists.
UINT_PTR CALLBACK file_dialog_hook(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

} // namespace pellix
