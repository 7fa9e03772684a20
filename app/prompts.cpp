#include "app/prompts.h"

#include "app/dialog_placement.h"
#include "app/main_window_state.h"

namespace pellix {

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

namespace {

TaskDialogAnswer& task_dialog_answer() {
    static TaskDialogAnswer answer;
    return answer;
}

// The callback a caller gave, called after the placement below.
struct CallerCallback {
    PFTASKDIALOGCALLBACK callback = nullptr;
    LONG_PTR data = 0;
};

// Wine's task dialog centres itself on its owner only the first time a process shows one;
// every later one would stand at the owner's top-left corner, over the menu bar. Placing it
// before it is shown gives the same place on every opening (and changes nothing on Windows).
HRESULT CALLBACK centre_then_forward(HWND dialog, UINT notification, WPARAM wparam, LPARAM lparam,
                                     LONG_PTR data) {
    const auto& caller = *reinterpret_cast<const CallerCallback*>(data);
    if (notification == TDN_CREATED) {
        centre_on_owner(dialog);
    }
    return caller.callback != nullptr
               ? caller.callback(dialog, notification, wparam, lparam, caller.data)
               : S_OK;
}

} // namespace

void install_task_dialog(TaskDialogAnswer answer) {
    task_dialog_answer() = std::move(answer);
}

int task_dialog(const TASKDIALOGCONFIG& config) {
    const PromptShown prompt;
    if (task_dialog_answer()) {
        return task_dialog_answer()(config);
    }
    TASKDIALOGCONFIG shown = config;
    CallerCallback caller{config.pfCallback, config.lpCallbackData};
    if ((config.dwFlags & TDF_POSITION_RELATIVE_TO_WINDOW) != 0 && config.hwndParent != nullptr) {
        shown.pfCallback = centre_then_forward;
        shown.lpCallbackData = reinterpret_cast<LONG_PTR>(&caller);
    }
    int pressed = 0;
    if (FAILED(TaskDialogIndirect(&shown, &pressed, nullptr, nullptr))) {
        return 0;
    }
    return pressed;
}

namespace {

void show_error_text(const std::wstring& text) {
    HWND owner = main_window != nullptr && IsWindow(main_window) ? main_window : nullptr;
    message_box(owner, text, L"Pellix", MB_ICONERROR);
}

} // namespace

void show_error_message(const std::exception& error) noexcept {
    try {
        show_error_text(display_text(error.what()));
    } catch (...) {
        // Out of memory while reporting: there is nothing left to tell the user with.
    }
}

std::wstring file_display_name(const std::filesystem::path& path) {
    return path.has_filename() ? path.filename().wstring() : path.wstring();
}

void show_file_error_message(const std::filesystem::path& path,
                             const std::exception& error) noexcept {
    try {
        show_error_text(file_display_name(path) + L"\n" + display_text(error.what()));
    } catch (...) {
        show_error_message(error);
    }
}

} // namespace pellix
