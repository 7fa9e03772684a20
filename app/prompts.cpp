#include "app/prompts.h"

#include "app/main_window_state.h"

namespace pellix {

namespace {

MessageBoxAnswer& installed_answer() {
    static MessageBoxAnswer answer;
    return answer;
}

} // namespace

void install_message_box(MessageBoxAnswer answer) {
    installed_answer() = std::move(answer);
}

int message_box(HWND owner, std::wstring_view text, std::wstring_view caption, UINT style) {
    MessageBoxRequest request{
        .owner = owner,
        .text = std::wstring(text),
        .caption = std::wstring(caption),
        .style = style,
    };
    if (installed_answer()) {
        return installed_answer()(request);
    }
    return MessageBoxW(owner, request.text.c_str(), request.caption.c_str(), style);
}

std::wstring display_text(std::string_view utf8) {
    if (utf8.empty()) {
        return {};
    }
    // Without MB_ERR_INVALID_CHARS the system decoder substitutes U+FFFD for invalid bytes.
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, text.data(), length);
    return text;
}

void show_error_message(const std::exception& error) noexcept {
    try {
        HWND owner = main_window != nullptr && IsWindow(main_window) ? main_window : nullptr;
        message_box(owner, display_text(error.what()), L"Pellix", MB_ICONERROR);
    } catch (...) {
        // Out of memory while reporting: there is nothing left to tell the user with.
    }
}

} // namespace pellix
