#pragma once

// The main window's error reporting; its boxes go through the one seam of core/message_box.h.

#include <windows.h>
#include <commctrl.h>

#include "core/message_box.h"

#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace pellix {

// UTF-8 to UTF-16 for display: an invalid sequence becomes U+FFFD instead of failing, so that
// reporting an error can never fail in turn.
std::wstring display_text(std::string_view utf8);

// The error box of the program: the exception's sentence, caption "Pellix", owned by the main
// window while it exists. Never throws.
void show_error_message(const std::exception& error) noexcept;

// How a box names a file: its name, or the whole path where the path ends in a separator.
std::wstring file_display_name(const std::filesystem::path& path);

// The error box of one of several files opened together: the file's name on a line of its own,
// then the exception's sentence as it stands, so that the boxes of one batch tell their files
// apart. Never throws.
void show_file_error_message(const std::filesystem::path& path,
                             const std::exception& error) noexcept;

// Every task dialog of the main window goes through here, so that tests can answer it. The
// answer is the pressed button's identifier, 0 when the dialog failed.
using TaskDialogAnswer = std::function<int(const TASKDIALOGCONFIG&)>;
// Replaces how task dialogs are shown; an empty function restores TaskDialogIndirect.
void install_task_dialog(TaskDialogAnswer answer);
int task_dialog(const TASKDIALOGCONFIG& config);

} // namespace pellix
