#pragma once

// The Markdown files dialog of the Help menu, which shows whether and for which copy the program
// is registered for Markdown files and offers to register, open the system's Default apps
// settings or remove the registration, and the one error box for registration failures.

#include <windows.h>

#include <exception>
#include <string>

#include "shell/registration_status.h"

namespace pellix {

// Runs until the user closes the dialog or picks an action that ends it. Registration failures
// are shown in the error box; the registry is then left as registering or unregistering leaves
// it after a failure.
void show_markdown_files_dialog(HWND owner);

// The dialog's text for a registration status and the effective ".md" default (a ProgID or
// application identifier, "" when the system cannot name it).
std::wstring dialog_content(RegistrationStatus status, const std::wstring& current);

// The display name of the program behind a ProgID or application identifier, or "another
// program" when it has none.
std::wstring current_handler_name(const std::wstring& association);

// The error box text: the Windows error number and the system's text for a std::system_error,
// the exception's own sentence otherwise.
std::wstring registration_error_text(const std::exception& error);

// Modal error box with the caption "Markdown files"; `owner` may be null.
void show_registration_error(HWND owner, const std::exception& error);

} // namespace pellix
