#pragma once

// The one way every modal box of the program is shown. Tests install their own answers here, so
// that no test ever waits on a box nobody can see.

#include <windows.h>

#include <exception>
#include <functional>
#include <string>
#include <string_view>

namespace pellix {

struct MessageBoxRequest {
    HWND owner = nullptr;
    std::wstring text;
    std::wstring caption;
    UINT style = 0;
};

// Answers a box with the button id it was closed with (IDOK, IDYES, ...).
using MessageBoxAnswer = std::function<int(const MessageBoxRequest&)>;

// Replaces how boxes are shown; an empty function restores MessageBoxW.
void install_message_box(MessageBoxAnswer answer);

int message_box(HWND owner, std::wstring_view text, std::wstring_view caption, UINT style);

// UTF-8 to UTF-16 for display: an invalid sequence becomes U+FFFD instead of failing, so that
// reporting an error can never fail in turn.
std::wstring display_text(std::string_view utf8);

// The error box of the program: the exception's sentence, caption "Pellix", owned by the main
// window while it exists. Never throws.
void show_error_message(const std::exception& error) noexcept;

} // namespace pellix
