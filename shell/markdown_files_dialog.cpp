#include "shell/markdown_files_dialog.h"

#include "core/encoding.h"
#include "core/message_box.h"
#include "platform/com_ptr.h"
#include "shell/registration_plan.h"
#include "shell/registration_status.h"
#include "shell/registration_transaction.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <shobjidl.h>

#include <algorithm>
#include <array>
#include <memory>
#include <system_error>

namespace pellix {
namespace {

enum DialogButton : int {
    register_and_open_settings = 100,
    register_only = 101,
    open_settings = 102,
    remove_registration = 103,
};

constexpr int document_icon_resource = 103;
constexpr DWORD longest_handler_name = 4095;
// ShellExecuteW answers a value above this on success.
constexpr INT_PTR shell_execute_failure_limit = 32;

constexpr wchar_t dialog_title[] = L"Pellix Markdown files";
constexpr wchar_t registered_instruction[] = L"Pellix is registered for Markdown files";
constexpr wchar_t unregistered_instruction[] = L"Use Pellix for Markdown files?";
constexpr wchar_t unknown_handler[] = L"another program";
constexpr wchar_t settings_page[] = L"ms-settings:defaultapps?registeredAppUser=Pellix";
constexpr wchar_t general_settings_page[] = L"ms-settings:defaultapps";

constexpr std::array<TASKDIALOG_BUTTON, 2> unregistered_buttons = {{
    {register_and_open_settings,
     L"Register and open Default apps\nChoose Pellix as the default in Windows Settings."},
    {register_only,
     L"Register only\nAdd Pellix to Open with and leave existing defaults as they are."},
}};
constexpr std::array<TASKDIALOG_BUTTON, 2> registered_buttons = {{
    {open_settings,
     L"Open Default apps settings\nChange which program opens each Markdown file type."},
    {remove_registration,
     L"Remove Pellix from Markdown files\nUndo the registration. Your files are not changed."},
}};

// The dialog itself could not be shown: no registration was tried, so the box says so.
class DialogFailure : public std::system_error {
public:
    using std::system_error::system_error;
};

struct CoTaskText {
    void operator()(wchar_t* text) const { CoTaskMemFree(text); }
};

// The program Windows uses for ".md", or "" when the system cannot say (Wine's association
// object answers 0x80070483 here).
std::wstring effective_md_default() {
    ComPtr<IApplicationAssociationRegistration> associations;
    if (FAILED(CoCreateInstance(CLSID_ApplicationAssociationRegistration, nullptr,
                                CLSCTX_INPROC_SERVER, __uuidof(IApplicationAssociationRegistration),
                                reinterpret_cast<void**>(associations.put())))) {
        return {};
    }
    wchar_t* raw = nullptr;
    const HRESULT result =
        associations->QueryCurrentDefault(L".md", AT_FILEEXTENSION, AL_EFFECTIVE, &raw);
    const std::unique_ptr<wchar_t, CoTaskText> current(raw);
    return SUCCEEDED(result) && current ? std::wstring(current.get()) : std::wstring();
}

bool is_ours(const std::wstring& current) {
    return same_text_ignoring_ascii_case(current, markdown_prog_id);
}

} // namespace

std::wstring dialog_content(RegistrationStatus status, const std::wstring& current) {
    const bool ours = is_ours(current);
    std::wstring content;
    if (status == RegistrationStatus::this_copy) {
        // A registered copy whose default the system cannot name says nothing about it: "another
        // program" could be this one.
        if (ours) {
            content = L"Pellix opens your .md files. Use Default apps to choose the program for "
                      L"each Markdown file type.";
        } else if (!current.empty()) {
            content = L"Windows opens .md files with " + current_handler_name(current) +
                      L". Choose Pellix in Settings to make it the default.";
        }
    } else {
        content = L"Pellix will add itself to Open with and to Settings > Default apps for .md, "
                  L".markdown, .mdown, .mkd and .mkdn files. Markdown files get the Pellix "
                  L"document icon when Pellix is their handler. Only your Windows account is "
                  L"changed, and no administrator rights are needed.";
        if (!current.empty() && !ours) {
            content += L"\n\nCurrent .md handler: " + current_handler_name(current) +
                       L". Its default is preserved.";
        }
        if (status == RegistrationStatus::other_copy) {
            content += L"\n\nAnother copy of Pellix is registered. Registering this copy will "
                       L"replace that registration.";
        }
    }
    return (content.empty() ? content : content + L"\n\n") +
           L"For .txt, .ini, .nfo or other text files: right-click a file in Windows, choose Open "
           L"with > Choose another app, select Pellix (or browse to Pellix.exe), and choose "
           L"Always.";
}

namespace {

// Where the last showing stood, so that the next one comes back there: Wine places a task dialog
// shown again from the same command at its owner's top-left corner.
struct DialogPlace {
    bool known = false;
    POINT top_left{};
};

// Wine's task dialog lays its text and buttons up to its right edge. Widening it by what the
// right margin lacks of the left one gives the text room on both sides; a layout that already
// has its margins is left alone.
void keep_within_margins(HWND dialog) {
    RECT client{};
    GetClientRect(dialog, &client);
    RECT used{client.right, client.bottom, client.left, client.top};
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        // The dialog itself is not shown yet, so only the child's own style tells.
        if ((GetWindowLongPtrW(child, GWL_STYLE) & WS_VISIBLE) == 0) {
            continue;
        }
        RECT rect{};
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        used.left = std::min(used.left, rect.left);
        used.right = std::max(used.right, rect.right);
    }
    const LONG lacking = used.left - (client.right - used.right);
    if (used.right <= used.left || lacking <= 0) {
        return;
    }
    RECT frame{};
    GetWindowRect(dialog, &frame);
    // Half the width goes to the left, so that the dialog stays centred where it was placed.
    SetWindowPos(dialog, nullptr, frame.left - lacking / 2, frame.top,
                 frame.right - frame.left + lacking, frame.bottom - frame.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

HRESULT CALLBACK on_dialog_event(HWND dialog, UINT notification, WPARAM, LPARAM, LONG_PTR data) {
    auto* place = reinterpret_cast<DialogPlace*>(data);
    if (notification == TDN_CREATED) {
        keep_within_margins(dialog);
        if (place->known) {
            SetWindowPos(dialog, nullptr, place->top_left.x, place->top_left.y, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
    } else if (notification == TDN_BUTTON_CLICKED) {
        RECT frame{};
        GetWindowRect(dialog, &frame);
        *place = {true, {frame.left, frame.top}};
    }
    return S_OK;
}

// The pressed button's identifier.
int ask(HWND owner, RegistrationStatus status, const std::wstring& content, DialogPlace& place) {
    const bool registered = status == RegistrationStatus::this_copy;
    const auto& buttons = registered ? registered_buttons : unregistered_buttons;
    // Two anonymous unions in the structure rule out designated initialisers.
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof(TASKDIALOGCONFIG);
    config.hwndParent = owner;
    config.hInstance = GetModuleHandleW(nullptr);
    config.dwFlags =
        TDF_ALLOW_DIALOG_CANCELLATION | TDF_USE_COMMAND_LINKS | TDF_POSITION_RELATIVE_TO_WINDOW;
    config.dwCommonButtons = TDCBF_CLOSE_BUTTON;
    config.pszWindowTitle = dialog_title;
    config.pszMainIcon = MAKEINTRESOURCEW(document_icon_resource);
    config.pszMainInstruction = registered ? registered_instruction : unregistered_instruction;
    config.pszContent = content.c_str();
    config.cButtons = static_cast<UINT>(buttons.size());
    config.pButtons = buttons.data();
    config.nDefaultButton = registered ? open_settings : register_and_open_settings;
    config.pfCallback = on_dialog_event;
    config.lpCallbackData = reinterpret_cast<LONG_PTR>(&place);
    int pressed = 0;
    const HRESULT result = TaskDialogIndirect(&config, &pressed, nullptr, nullptr);
    if (FAILED(result)) {
        throw DialogFailure(static_cast<int>(result), std::system_category());
    }
    return pressed;
}

bool open_page(HWND owner, const wchar_t* page) {
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(owner, L"open", page, nullptr, nullptr, SW_SHOWNORMAL));
    return result > shell_execute_failure_limit;
}

void open_default_apps(HWND owner) {
    if (!open_page(owner, settings_page) && !open_page(owner, general_settings_page)) {
        message_box(owner,
                    L"Open Windows Settings > Apps > Default apps, then choose Pellix for each "
                    L"Markdown file type.",
                    L"Default apps", MB_ICONINFORMATION);
    }
}

// One showing and its action; false when the dialog is over.
bool show_and_act(HWND owner, DialogPlace& place) {
    const RegistrationStatus status = registration_status();
    switch (ask(owner, status, dialog_content(status, effective_md_default()), place)) {
    case register_and_open_settings:
        register_markdown_handler();
        open_default_apps(owner);
        return false;
    case register_only:
        register_markdown_handler();
        return true;
    case open_settings:
        open_default_apps(owner);
        return false;
    case remove_registration:
        unregister_markdown_handler();
        return true;
    default:
        return false;
    }
}

} // namespace

void show_markdown_files_dialog(HWND owner) {
    try {
        DialogPlace place;
        while (show_and_act(owner, place)) {
        }
    } catch (const std::exception& error) {
        show_registration_error(owner, error);
    }
}

std::wstring current_handler_name(const std::wstring& association) {
    if (association.empty()) {
        return unknown_handler;
    }
    DWORD length = 0;
    const HRESULT sized = AssocQueryStringW(ASSOCF_NONE, ASSOCSTR_FRIENDLYAPPNAME,
                                            association.c_str(), L"open", nullptr, &length);
    if ((FAILED(sized) && sized != HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)) || length < 1 ||
        length > longest_handler_name) {
        return unknown_handler;
    }
    std::wstring name(length, L'\0');
    if (FAILED(AssocQueryStringW(ASSOCF_NONE, ASSOCSTR_FRIENDLYAPPNAME, association.c_str(),
                                 L"open", name.data(), &length))) {
        return unknown_handler;
    }
    name.resize(name.find(L'\0') == std::wstring::npos ? name.size() : name.find(L'\0'));
    return name.empty() ? unknown_handler : name;
}

std::wstring registration_error_text(const std::exception& error) {
    if (const auto* system = dynamic_cast<const std::system_error*>(&error)) {
        const int value = system->code().value();
        const wchar_t* lead = dynamic_cast<const DialogFailure*>(&error) != nullptr
                                  ? L"Could not open Markdown files dialog"
                                  : L"Markdown registration failed";
        std::wstring text = lead + (L" (Windows error " + std::to_wstring(value) + L").");
        wchar_t* message = nullptr;
        if (FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(value), 0,
                           reinterpret_cast<wchar_t*>(&message), 0, nullptr) != 0 &&
            message != nullptr) {
            text += L"\n";
            text += message;
        }
        LocalFree(message);
        return text;
    }
    try {
        const std::u16string text = utf8_to_utf16(error.what());
        return std::wstring(text.begin(), text.end());
    } catch (const std::exception&) {
        return L"Markdown registration failed.";
    }
}

void show_registration_error(HWND owner, const std::exception& error) {
    message_box(owner, registration_error_text(error), L"Markdown files", MB_ICONERROR);
}

} // namespace pellix
