#pragma once

// The one way every modal box of the program is shown, whichever window asks. Tests install
// their own answers here, so that no test ever waits on a box nobody can see.

#include <windows.h>

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

// Marks a box or dialog that asks the user something as open for as long as it lives. A request
// that would ask a second question over an open one (a close of the window while a "Save
// changes?" prompt is up) waits for its answer. Boxes that only tell something are not counted.
class PromptShown {
public:
    PromptShown();
    ~PromptShown();
    PromptShown(const PromptShown&) = delete;
    PromptShown& operator=(const PromptShown&) = delete;
};

// Whether a box or dialog that asks something is open now.
bool prompt_shown();

// Called on the UI thread each time the last open question has closed.
void set_prompts_closed_handler(std::function<void()> handler);

} // namespace pellix
