#include "app/close_prompts.h"

#include <windows.h>
#include <commctrl.h>

#include <iterator>
#include <string>
#include <unordered_set>

#include "app/document_tabs.h"
#include "app/main_window_state.h"
#include "app/prompts.h"
#include "app/save_files.h"
#include "app/views.h"

namespace pellix {

std::vector<bool> discarded_at_close;

namespace {

constexpr wchar_t prompt_title[] = L"Unsaved changes";
constexpr wchar_t several_content[] =
    L"No for all discards changes in this tab and every remaining tab being closed.";
const TASKDIALOG_BUTTON several_buttons[] = {
    {IDYES, L"&Yes"},
    {IDNO, L"&No"},
    {discard_all_button, L"No for &all"},
};

bool editor_modified(HWND editor) {
    return SendMessageW(editor, EM_GETMODIFY, 0, 0) != 0;
}

// The pressed button of the task dialog; 0 when it could not be shown.
int ask_with_task_dialog(const std::wstring& question) {
    // Two anonymous unions in the structure rule out designated initialisers.
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof(TASKDIALOGCONFIG);
    config.hwndParent = main_window;
    config.hInstance = instance;
    config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
    config.dwCommonButtons = TDCBF_CANCEL_BUTTON;
    config.pszWindowTitle = prompt_title;
    config.pszMainInstruction = question.c_str();
    config.pszContent = several_content;
    config.cButtons = static_cast<UINT>(std::size(several_buttons));
    config.pButtons = several_buttons;
    config.nDefaultButton = IDYES;
    return task_dialog(config);
}

CloseChoice choice_of(int button) {
    switch (button) {
    case IDYES:
        return CloseChoice::save;
    case IDNO:
        return CloseChoice::discard;
    case discard_all_button:
        return CloseChoice::discard_all;
    default:
        return CloseChoice::cancel;
    }
}

// The asked tab is made active first, so that the user sees whose text is in question.
CloseChoice ask_about(std::uint64_t index, bool more,
                      const std::function<CloseChoice(bool several)>& ask) {
    select_tab(index, false);
    return ask(more);
}

bool save_active_tab() {
    return save_file(false, nullptr, {});
}

// Erases the tabs named in `closing` (never the active one), last first.
void erase_tabs(const std::unordered_set<std::uint64_t>& closing) {
    for (std::uint64_t i = tabs.size(); i-- > 0;) {
        if (!closing.contains(tabs[i]->id)) {
            continue;
        }
        forget_tab_work(*tabs[i]);
        const HWND editor = tabs[i]->editor;
        tabs.erase(tabs.begin() + static_cast<std::ptrdiff_t>(i));
        if (i < active) {
            --active;
        }
        DestroyWindow(editor);
    }
}

} // namespace

CloseChoice ask_save_changes(bool several) {
    const std::wstring question = L"Save changes to " + tab_name(current_tab()) + L"?";
    if (!several) {
        return choice_of(
            message_box(main_window, question, prompt_title, MB_YESNOCANCEL | MB_ICONQUESTION));
    }
    const int button = ask_with_task_dialog(question);
    if (button == 0) {
        message_box(main_window,
                    L"Could not open the unsaved-changes prompt. The tabs remain open.",
                    prompt_title, MB_ICONERROR);
        return CloseChoice::cancel;
    }
    return choice_of(button);
}

CloseResolution
resolve_close_choices(const std::vector<std::uint64_t>& indexes,
                      const std::function<CloseChoice(std::uint64_t index, bool more)>& ask,
                      const std::function<bool(std::uint64_t index)>& save) {
    CloseResolution result;
    bool discard_rest = false;
    for (std::size_t k = 0; k < indexes.size(); ++k) {
        const std::uint64_t index = indexes[k];
        if (discard_rest) {
            result.discarded.push_back(index);
            continue;
        }
        switch (ask(index, k + 1 < indexes.size())) {
        case CloseChoice::discard_all:
            discard_rest = true;
            result.discarded.push_back(index);
            break;
        case CloseChoice::discard:
            result.discarded.push_back(index);
            break;
        case CloseChoice::save:
            if (!save(index)) {
                return {};
            }
            break;
        case CloseChoice::cancel:
            return {};
        default:
            break;
        }
    }
    result.ok = true;
    return result;
}

void close_tabs_where(const std::function<bool(std::uint64_t index)>& select,
                      const std::function<CloseChoice(bool several)>& ask) {
    if (tabs.size() < 2) {
        return;
    }
    const std::uint64_t kept_index = active;
    std::unordered_set<std::uint64_t> closing;
    std::vector<std::uint64_t> asked;
    for (std::uint64_t i = 0; i < tabs.size(); ++i) {
        if (i == kept_index || !select(i)) {
            continue;
        }
        closing.insert(tabs[i]->id);
        if (editor_modified(tabs[i]->editor)) {
            asked.push_back(i);
        }
    }
    const CloseResolution resolution = resolve_close_choices(
        asked, [&](std::uint64_t index, bool more) { return ask_about(index, more, ask); },
        [](std::uint64_t) { return save_active_tab(); });
    select_tab(kept_index, false);
    if (!resolution.ok) {
        store_session(false, false);
        return;
    }
    erase_tabs(closing);
    // The closed tabs are let go: handed over at once, as a Save's store is.
    refresh_tab_strip();
    refresh_current_tab();
    store_session(false, true);
    update_status();
}

bool may_close_window() {
    std::vector<std::uint64_t> asked;
    for (std::uint64_t i = 0; i < tabs.size(); ++i) {
        if (editor_modified(tabs[i]->editor)) {
            asked.push_back(i);
        }
    }
    const std::uint64_t was_active = active;
    const CloseResolution resolution = resolve_close_choices(
        asked,
        [](std::uint64_t index, bool more) { return ask_about(index, more, ask_save_changes); },
        [](std::uint64_t) { return save_active_tab(); });
    discarded_at_close.clear();
    if (!resolution.ok) {
        return false;
    }
    discarded_at_close.assign(tabs.size(), false);
    for (const std::uint64_t index : resolution.discarded) {
        discarded_at_close[index] = true;
    }
    select_tab(was_active, false);
    return true;
}

} // namespace pellix
