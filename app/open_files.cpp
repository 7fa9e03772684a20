#include "app/open_files.h"

#include <windows.h>
#include <commdlg.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "app/document_tabs.h"
#include "editor/source_interface.h"
#include "app/file_dialogs.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/prompts.h"
#include "app/recovery_store.h"
#include "app/settings.h"
#include "app/views.h"
#include "core/file_io.h"
#include "core/file_paths.h"
#include "core/limits.h"
#include "core/source_document.h"
#include "core/window_work.h"
#include "shell/file_dialog_filters.h"

namespace pellix {

namespace {

constexpr DWORD open_buffer_units = 0x10000;
constexpr DWORD open_dialog_flags =
    OFN_ALLOWMULTISELECT | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_EXPLORER;

// The command links of the encoding choice; a button's identifier minus 96 is its encoding.
constexpr int first_encoding_button = 100;
constexpr int last_encoding_button = 103;
constexpr int encoding_button_offset = 96;
const TASKDIALOG_BUTTON encoding_buttons[] = {
    {100, L"Windows-1252 (Western European)"},
    {101, L"Windows-1251 (Cyrillic)"},
    {102, L"ISO-8859-1 (Latin-1)"},
    {103, L"OEM 437 (DOS)"},
};

int ask_for_encoding() {
    // Two anonymous unions in the structure rule out designated initialisers.
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof(TASKDIALOGCONFIG);
    config.hwndParent = main_window;
    config.hInstance = instance;
    config.dwFlags =
        TDF_ALLOW_DIALOG_CANCELLATION | TDF_USE_COMMAND_LINKS | TDF_POSITION_RELATIVE_TO_WINDOW;
    config.dwCommonButtons = TDCBF_CANCEL_BUTTON;
    config.pszWindowTitle = L"Open with encoding";
    config.pszMainInstruction = L"Choose the file's text encoding";
    config.pszContent = L"The file is not valid Unicode. No file content will be changed.";
    config.cButtons = static_cast<UINT>(std::size(encoding_buttons));
    config.pButtons = encoding_buttons;
    config.nDefaultButton = IDCANCEL;
    return task_dialog(config);
}

bool single_empty_untitled_tab() {
    if (tabs.size() != 1) {
        return false;
    }
    const DocumentTab& tab = *tabs.front();
    return tab.path.empty() && SendMessageW(tab.editor, EM_GETMODIFY, 0, 0) == 0 &&
           source_text(tab.editor).empty();
}

// Installs `text` in the active editor as an unmodified document without undo history.
void install_text(const std::u16string& text, bool markdown,
                  const DocumentPlacement& placement = {}) {
    install_editor_document(current_tab(), build_source_document(text), markdown, placement);
}

// Puts the decoded file into a tab: the text first, the file's identity only once the editor
// holds it, so that a failed install never leaves a tab claiming a file it does not show.
void fill_tab(const std::filesystem::path& path, std::string bytes, Document document, int view) {
    const std::uint64_t previous_id = current_tab().id;
    bool created = false;
    if (!single_empty_untitled_tab()) {
        add_tab(path);
        created = true;
    }
    const std::uint64_t id = current_tab().id;
    try {
        fill_tab_with_file(current_tab(), path, std::move(bytes), std::move(document), view);
    } catch (...) {
        if (created) {
            remove_failed_tab(id, previous_id);
        }
        throw;
    }
    update_title();
    select_view(view);
    store_session(false, false);
    refresh_current_tab();
}

// False, before anything is read, when the file would need a new tab and the tab limit is
// reached.
bool open_one(const std::filesystem::path& path, std::optional<Encoding> known) {
    const std::filesystem::path normal = absolute_file_path(path).lexically_normal();
    if (const std::uint64_t index = find_tab_by_path(normal, no_tab); index != no_tab) {
        select_tab(index, true);
        store_session(false, false);
        return true;
    }
    if (tabs.size() >= tab_limit && !single_empty_untitled_tab()) {
        return false;
    }
    std::string bytes = read_disk(normal, document_limit);
    std::optional<Document> document =
        known ? decode_document(bytes, kept_file_decoding(bytes, *known)) : decode_open_file(bytes);
    if (document) {
        fill_tab(normal, std::move(bytes), std::move(*document), view_for(normal));
    }
    return true;
}

// False only when the tab limit refused the path; every failure has been shown. A path that
// must wait is queued with its batch.
bool open_within_limit(const std::filesystem::path& path, std::uint64_t batch,
                       std::optional<Encoding> known = std::nullopt) {
    if (path.empty()) {
        return true;
    }
    if (replace_all_running()) {
        queue_pending_path(path, batch);
        return true;
    }
    try {
        if (open_one(path, known)) {
            return true;
        }
        show_error_message(std::runtime_error(tab_limit_message));
        return false;
    } catch (const std::exception& error) {
        show_error_message(error);
        return true;
    }
}

} // namespace

std::optional<Document> decode_open_file(const std::string& bytes) {
    try {
        return decode_document(bytes, 0);
    } catch (const std::exception&) {
        if (bytes.find('\0') != std::string::npos) {
            throw;
        }
    }
    const int button = ask_for_encoding();
    if (button < first_encoding_button || button > last_encoding_button) {
        return std::nullopt;
    }
    return decode_document(bytes, button - encoding_button_offset);
}

void set_editor(const std::u16string& text, const DocumentPlacement& placement) {
    install_text(text, is_markdown_path(current_tab().path), placement);
    update_title();
}

void install_editor_document(DocumentTab& tab, SourceDocument document, bool markdown,
                             const DocumentPlacement& placement) {
    set_markdown_colouring(tab.editor, markdown);
    suppress_change = true;
    try {
        replace_editor_document(tab.editor, std::move(document), placement);
    } catch (...) {
        suppress_change = false;
        throw;
    }
    suppress_change = false;
    SendMessageW(tab.editor, EM_EMPTYUNDOBUFFER, 0, 0);
    SendMessageW(tab.editor, EM_SETMODIFY, FALSE, 0);
    tab.text_stale = true;
    ++tab.revision;
    schedule_compare_pass(tab);
}

int view_for(const std::filesystem::path& path) {
    int view = settings.view;
    const auto same = same_path_test(path);
    for (const RecentFile& recent : settings.recent) {
        if (same(recent.path)) {
            view = recent.view;
        }
    }
    return view;
}

void fill_tab_with_file(DocumentTab& tab, const std::filesystem::path& path, std::string bytes,
                        Document document, int view) {
    install_editor_document(tab, build_source_document(document.text), is_markdown_path(path));
    take_editor_text(tab, std::move(document.text));
    tab.encoding = static_cast<std::uint32_t>(document.encoding);
    tab.line_ending = static_cast<std::uint32_t>(document.line_ending);
    tab.path = path;
    tab.disk_bytes = std::move(bytes);
    tab.recovered_draft = false;
    tab.disk_check_pending = false;
    tab.view = static_cast<std::uint32_t>(view);
    refresh_disk_stamp_of(tab);
}

void remove_failed_tab(std::uint64_t id, std::uint64_t previous_id) {
    for (std::uint64_t i = 0; i < tabs.size(); ++i) {
        if (tabs[i]->id != id) {
            continue;
        }
        const HWND editor = tabs[i]->editor;
        tabs.erase(tabs.begin() + static_cast<std::ptrdiff_t>(i));
        std::uint64_t back = 0;
        for (std::uint64_t j = 0; j < tabs.size(); ++j) {
            if (tabs[j]->id == previous_id) {
                back = j;
            }
        }
        // The list no longer holds the active record, so selecting enters `back` afresh.
        active = no_tab;
        select_tab(back, false);
        DestroyWindow(editor);
        refresh_tab_strip();
        return;
    }
}

void open_path(const std::filesystem::path& path, std::optional<Encoding> known) {
    open_within_limit(path, new_open_batch(), known);
}

bool open_paths(const std::vector<std::filesystem::path>& paths) {
    const IdentityBatch identities;
    const std::uint64_t batch = new_open_batch();
    for (const auto& path : paths) {
        if (!open_within_limit(path, batch)) {
            return false;
        }
    }
    return true;
}

void open_queued_paths(const std::vector<PendingPath>& queued) {
    const IdentityBatch identities;
    std::vector<std::uint64_t> refused;
    for (const PendingPath& entry : queued) {
        if (std::find(refused.begin(), refused.end(), entry.batch) == refused.end() &&
            !open_within_limit(entry.path, entry.batch)) {
            refused.push_back(entry.batch);
        }
    }
}

void open_files_dialog() {
    std::vector<wchar_t> buffer(open_buffer_units, L'\0');
    const std::wstring filters = filter_string(file_dialog_filters(true));
    const std::wstring start_folder = dialog_start_folder();
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(OPENFILENAMEW);
    dialog.hwndOwner = main_window;
    dialog.lpstrFilter = filters.c_str();
    dialog.lpstrFile = buffer.data();
    dialog.nMaxFile = open_buffer_units;
    dialog.lpstrInitialDir = start_folder.empty() ? nullptr : start_folder.c_str();
    dialog.Flags = open_dialog_flags;
    if (!run_file_dialog(dialog, false)) {
        if (CommDlgExtendedError() != 0) {
            message_box(main_window,
                        L"The file dialog failed, or too many filenames were selected.", L"Open",
                        MB_ICONERROR);
        }
        return;
    }
    const std::wstring first(buffer.data());
    const wchar_t* name = buffer.data() + first.size() + 1;
    if (*name == L'\0') {
        remember_dialog_folder(first);
        open_path(first);
        return;
    }
    // Several names follow the folder they were chosen in.
    remember_dialog_folder(std::filesystem::path(first) / name);
    std::vector<std::filesystem::path> paths;
    for (; *name != L'\0'; name += wcslen(name) + 1) {
        paths.push_back(std::filesystem::path(first) / name);
    }
    open_paths(paths);
}

} // namespace pellix
