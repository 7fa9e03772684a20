#include "core/message_box.h"

#include <optional>

namespace pellix {

namespace {

MessageBoxAnswer& installed_answer() {
    static MessageBoxAnswer answer;
    return answer;
}

int open_prompts = 0;

std::function<void()>& prompts_closed_handler() {
    static std::function<void()> handler;
    return handler;
}

} // namespace

PromptShown::PromptShown() {
    ++open_prompts;
}

PromptShown::~PromptShown() {
    if (--open_prompts == 0 && prompts_closed_handler()) {
        prompts_closed_handler()();
    }
}

bool prompt_shown() {
    return open_prompts > 0;
}

void set_prompts_closed_handler(std::function<void()> handler) {
    prompts_closed_handler() = std::move(handler);
}

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
    // A box that only tells something asks nothing a close could wait for.
    std::optional<PromptShown> question;
    if ((style & MB_TYPEMASK) != MB_OK) {
        question.emplace();
    }
    if (installed_answer()) {
        return installed_answer()(request);
    }
    return MessageBoxW(owner, request.text.c_str(), request.caption.c_str(), style);
}

} // namespace pellix
