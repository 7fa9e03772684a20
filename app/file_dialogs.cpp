#include "app/file_dialogs.h"

#include <array>
#include <cwctype>

#include "app/main_window_state.h"
#include "core/message_box.h"

namespace pellix {

namespace {

constexpr DWORD name_buffer_units = 32768;
constexpr DWORD save_flags =
    OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_EXPLORER;
constexpr DWORD save_format_flags = OFN_ENABLEHOOK | OFN_ENABLETEMPLATE | OFN_ENABLESIZING;
constexpr DWORD open_one_flags =
    OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_EXPLORER;

constexpr std::array<const wchar_t*, 8> encoding_names = {
    L"UTF-8",        L"UTF-8 with BOM", L"UTF-16 little endian", L"UTF-16 big endian",
    L"Windows-1252", L"Windows-1251",   L"ISO-8859-1",           L"OEM 437"};
constexpr std::array<const wchar_t*, 3> line_ending_names = {
    L"Linux / Unix (LF)", L"Windows (CRLF)", L"Classic Mac (CR)"};

FileDialogCall& installed_call() {
    static FileDialogCall call;
    return call;
}

std::filesystem::path last_chosen_folder;

wchar_t fold(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool wildcard_match(std::wstring_view pattern, std::wstring_view name) {
    if (pattern.empty()) {
        return name.empty();
    }
    if (pattern.front() == L'*') {
        for (size_t skip = 0; skip <= name.size(); ++skip) {
            if (wildcard_match(pattern.substr(1), name.substr(skip))) {
                return true;
            }
        }
        return false;
    }
    return !name.empty() && fold(pattern.front()) == fold(name.front()) &&
           wildcard_match(pattern.substr(1), name.substr(1));
}

bool any_pattern_matches(std::wstring_view patterns, std::wstring_view name) {
    while (true) {
        const size_t end = patterns.find(L';');
        if (wildcard_match(patterns.substr(0, end), name)) {
            return true;
        }
        if (end == std::wstring_view::npos) {
            return false;
        }
        patterns.remove_prefix(end + 1);
    }
}

struct DialogSetup {
    std::wstring filters;
    std::wstring initial_name;
    const wchar_t* title = nullptr;
    const wchar_t* default_extension = L"md";
    DWORD filter_index = 1;
    DWORD flags = 0;
};

std::filesystem::path active_path() {
    return tabs.empty() ? std::filesystem::path() : current_tab().path;
}

DialogSetup export_setup(bool json) {
    const std::filesystem::path path = active_path();
    const std::wstring stem = path.empty() ? L"notes" : path.stem().wstring();
    const std::vector<FileDialogFilter> filters = {json
                                                       ? FileDialogFilter{L"JSON files", L"*.json"}
                                                       : FileDialogFilter{L"HTML files", L"*.html"},
                                                   {L"All files", L"*.*"}};
    return {
        .filters = filter_string(filters),
        .initial_name = stem + (json ? L".json" : L".html"),
        .title = json ? L"Export as JSON" : L"Export as HTML",
        .default_extension = json ? L"json" : L"html",
        .filter_index = 1,
        .flags = save_flags,
    };
}

DialogSetup save_setup(bool with_format) {
    const std::filesystem::path path = active_path();
    std::wstring name = path.wstring();
    if (name.empty() || name.size() >= name_buffer_units) {
        name = L"notes.md";
    }
    const std::vector<FileDialogFilter> filters = file_dialog_filters(false);
    return {
        .filters = filter_string(filters),
        .initial_name = name,
        .filter_index = filter_index_for(filters, std::filesystem::path(name).filename()),
        .flags = save_flags | (with_format ? save_format_flags : 0),
    };
}

DialogSetup open_one_setup() {
    DialogSetup setup;
    setup.filters = filter_string(file_dialog_filters(false));
    setup.flags = open_one_flags;
    return setup;
}

void fill_list(HWND dialog, int id, const auto& names, std::uint32_t selected) {
    for (const wchar_t* name : names) {
        SendDlgItemMessageW(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    }
    SendDlgItemMessageW(dialog, id, CB_SETCURSEL, selected, 0);
}

UINT_PTR answer(HWND dialog, LONG_PTR result) {
    SetWindowLongPtrW(dialog, DWLP_MSGRESULT, result);
    return static_cast<UINT_PTR>(result);
}

UINT_PTR accept_choice(HWND dialog) {
    auto* request = reinterpret_cast<Document*>(GetWindowLongPtrW(dialog, DWLP_USER));
    const LRESULT encoding = SendDlgItemMessageW(dialog, encoding_combo, CB_GETCURSEL, 0, 0);
    const LRESULT line_ending = SendDlgItemMessageW(dialog, line_ending_combo, CB_GETCURSEL, 0, 0);
    if (request == nullptr || encoding < 0 || encoding >= 8 || line_ending < 0 ||
        line_ending >= 3) {
        return answer(dialog, 1);
    }
    request->encoding = static_cast<Encoding>(encoding);
    request->line_ending = static_cast<LineEnding>(line_ending);
    return answer(dialog, 0);
}

} // namespace

std::wstring dialog_start_folder() {
    const std::filesystem::path path = active_path();
    return path.empty() ? last_chosen_folder.wstring() : path.parent_path().wstring();
}

void remember_dialog_folder(const std::filesystem::path& chosen) {
    last_chosen_folder = chosen.parent_path();
}

void install_file_dialog(FileDialogCall call) {
    installed_call() = std::move(call);
}

BOOL run_file_dialog(OPENFILENAMEW& dialog, bool save) {
    const PromptShown prompt;
    if (installed_call()) {
        return installed_call()(dialog, save);
    }
    return save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
}

std::wstring filter_string(const std::vector<FileDialogFilter>& filters) {
    std::wstring text;
    for (const FileDialogFilter& filter : filters) {
        text += filter.label;
        text += L'\0';
        text += filter.patterns;
        text += L'\0';
    }
    text += L'\0';
    return text;
}

DWORD filter_index_for(const std::vector<FileDialogFilter>& filters, const std::wstring& name) {
    for (size_t i = 0; i < filters.size(); ++i) {
        if (any_pattern_matches(filters[i].patterns, name)) {
            return static_cast<DWORD>(i + 1);
        }
    }
    return static_cast<DWORD>(filters.size());
}

std::filesystem::path choose_file(bool save, bool export_mode, Document* format, bool json) {
    const DialogSetup setup = export_mode ? export_setup(json)
                              : save      ? save_setup(format != nullptr)
                                          : open_one_setup();
    std::vector<wchar_t> buffer(name_buffer_units, L'\0');
    setup.initial_name.copy(buffer.data(), setup.initial_name.size());
    const std::wstring start_folder = dialog_start_folder();
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(OPENFILENAMEW);
    dialog.hwndOwner = main_window;
    dialog.hInstance = instance;
    dialog.lpstrFilter = setup.filters.c_str();
    dialog.nFilterIndex = setup.filter_index;
    dialog.lpstrFile = buffer.data();
    dialog.nMaxFile = name_buffer_units;
    dialog.lpstrInitialDir = start_folder.empty() ? nullptr : start_folder.c_str();
    dialog.lpstrTitle = setup.title;
    dialog.Flags = setup.flags;
    dialog.lpstrDefExt = setup.default_extension;
    if ((setup.flags & OFN_ENABLEHOOK) != 0) {
        dialog.lCustData = reinterpret_cast<LPARAM>(format);
        dialog.lpfnHook = file_dialog_hook;
        dialog.lpTemplateName = MAKEINTRESOURCEW(save_options_template);
    }
    if (!run_file_dialog(dialog, save || export_mode)) {
        if (CommDlgExtendedError() != 0) {
            message_box(main_window, L"The file dialog could not open.", L"Pellix", MB_ICONERROR);
        }
        return {};
    }
    std::filesystem::path chosen(buffer.data());
    remember_dialog_folder(chosen);
    return chosen;
}

UINT_PTR CALLBACK file_dialog_hook(HWND dialog, UINT message, WPARAM, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        const auto* setup = reinterpret_cast<const OPENFILENAMEW*>(lparam);
        auto* request = reinterpret_cast<Document*>(setup->lCustData);
        SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(request));
        fill_list(dialog, encoding_combo, encoding_names,
                  request != nullptr ? static_cast<std::uint32_t>(request->encoding) : 0);
        fill_list(dialog, line_ending_combo, line_ending_names,
                  request != nullptr ? static_cast<std::uint32_t>(request->line_ending) : 0);
        return 0;
    }
    if (message == WM_NOTIFY &&
        reinterpret_cast<const NMHDR*>(lparam)->code == static_cast<UINT>(CDN_FILEOK)) {
        return accept_choice(dialog);
    }
    return 0;
}

} // namespace pellix
