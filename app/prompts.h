#pragma once

// The main window's error reporting; its boxes go through the one seam of core/message_box.h.

#include <windows.h>

#include "core/message_box.h"

#include <exception>
#include <string>
#include <string_view>

namespace pellix {

// UTF-8 to UTF-16 for display: an invalid sequence becomes U+FFFD instead of failing, so that
// reporting an error can never fail in turn.
std::wstring display_text(std::string_view utf8);

// The error box of the program: the exception's sentence, caption "Pellix", owned by the main
// window while it exists. Never throws.
void show_error_message(const std::exception& error) noexcept;

} // namespace pellix
