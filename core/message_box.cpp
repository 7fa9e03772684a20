#include "core/message_box.h"

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

} // namespace pellix
