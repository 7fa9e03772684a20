#include "app/disk_state.h"
#include "app/open_files.h"

#include <windows.h>
#include <commdlg.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
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
#include "app/recent_files.h"
#include "app/recovery_store.h"
#include "app/settings.h"
#include "app/tab_build_progress.h"
#include "app/views.h"
#include "app/window_proc.h"
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

// The file's name leads the content, as in the error boxes of files opened together, so that
// the boxes of several such files tell them apart.
int ask_for_encoding(const std::filesystem::path& path) {
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
    const std::wstring content =
        file_display_name(path) +
        L"\nThe file is not valid Unicode. No file content will be changed.";
    config.pszContent = content.c_str();
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
        known ? decode_document(bytes, kept_file_decoding(bytes, *known))
              : decode_open_file(normal, bytes);
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

// The file read and decoded into a tab: the shown tab when it is the single empty untitled one,
// shown whole at once, else a new tab behind it. Returns the tab's identifier.
std::uint64_t build_file_tab(const std::filesystem::path& path, std::string bytes,
                             Document document, int view) {
    if (single_empty_untitled_tab()) {
        DocumentTab& shown = current_tab();
        fill_tab_with_file(shown, path, std::move(bytes), std::move(document), view);
        select_view(view);
        refresh_current_tab();
        return shown.id;
    }
    DocumentTab& tab = add_background_tab(path);
    const std::uint64_t id = tab.id;
    try {
        fill_tab_with_file(tab, path, std::move(bytes), std::move(document), view);
    } catch (...) {
        remove_failed_tab(id, current_tab().id);
        throw;
    }
    return id;
}

// Where a batch ends: the tab its last opened (or already open) file is in, shown once, and the
// other tabs that held one of its files already, checked against the disk as the shown one is.
struct BatchEnd {
    std::uint64_t tab = no_tab;
    bool check_disk = false;
    std::vector<RecentFile> opened;
    std::vector<std::uint64_t> already_open;
};

void show_batch_end(const BatchEnd& end) {
    const DocumentTab* target = find_tab_by_id(end.tab);
    if (target == nullptr) {
        refresh_current_tab();
        return;
    }
    std::uint64_t index = 0;
    while (tabs[index].get() != target) {
        ++index;
    }
    select_tab(index, end.check_disk);
    for (const std::uint64_t id : end.already_open) {
        if (id != end.tab) {
            check_disk_behind(id);
        }
    }
    remember_recent_files(end.opened);
    store_session(false, false);
    refresh_current_tab();
}

// Paths handed over while a batch is built join it: a second start hands its paths over one by
// one, and opened as batches of their own they were counted a piece at a time, each piece's last
// tab shown in turn. Queued paths wait for the end of start-up and of a restore.
void join_arrived_paths(std::vector<PendingPath>& entries, TabBuildProgress& progress) {
    if (pending_paths.empty() || start_up_pending || restoring_session()) {
        return;
    }
    std::vector<PendingPath> arrived = take_queued_paths();
    progress.add_items(arrived.size());
    entries.insert(entries.end(), std::make_move_iterator(arrived.begin()),
                   std::make_move_iterator(arrived.end()));
}

// Paths that came together are opened in order into tabs built behind the shown one, with the
// window disabled as during file work but drawn with how far it has got; the tab that the last
// of them went into is shown once at the end. Shown in turn, each cost a tab switch, a layout and
// a paint of every pane (dear under Wine, even for a small file), and the panes between two
// switches showed one tab's name over another's text. False when the tab limit refused a path:
// its box is its batch's last, and the rest of that batch is dropped.
bool open_together(std::vector<PendingPath> entries) {
    if (replace_all_running()) {
        for (const PendingPath& entry : entries) {
            open_within_limit(entry.path, entry.batch);
        }
        return true;
    }
    std::vector<std::uint64_t> refused;
    BatchEnd end;
    {
        const file_work::Guard disabled;
        const IdentityBatch identities;
        TabBuildProgress progress(entries.size(), opening_progress_text);
        for (std::size_t i = 0;; ++i) {
            join_arrived_paths(entries, progress);
            if (i == entries.size()) {
                break;
            }
            const PendingPath& entry = entries[i];
            progress.before(i);
            if (entry.path.empty() ||
                std::find(refused.begin(), refused.end(), entry.batch) != refused.end()) {
                continue;
            }
            const OpenedBehind opened = open_behind(entry.path);
            if (opened.refused) {
                show_error_message(std::runtime_error(tab_limit_message));
                refused.push_back(entry.batch);
            } else if (const DocumentTab* tab = find_tab_by_id(opened.tab); tab != nullptr) {
                end.tab = opened.tab;
                end.check_disk = opened.already_open;
                end.opened.push_back({tab->path.wstring(), opened.view});
                if (opened.already_open) {
                    end.already_open.push_back(opened.tab);
                }
            }
        }
        progress.end();
    }
    show_batch_end(end);
    return refused.empty();
}

} // namespace

std::optional<Document> decode_open_file(const std::filesystem::path& path,
                                         const std::string& bytes) {
    try {
        return decode_document(bytes, 0);
    } catch (const std::exception&) {
        if (bytes.find('\0') != std::string::npos) {
            throw;
        }
    }
    const int button = ask_for_encoding(path);
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
    take_disk_bytes(tab, std::move(bytes));
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
        if (i != active && active < tabs.size()) {
            // A tab built behind the shown one goes without a switch: the shown tab keeps the
            // selection, scroll and view it has on screen, which a switch would take back to
            // those it had when last left.
            tabs.erase(tabs.begin() + static_cast<std::ptrdiff_t>(i));
            active -= i < active ? 1 : 0;
            DestroyWindow(editor);
            refresh_tab_strip();
            return;
        }
        tabs.erase(tabs.begin() + static_cast<std::ptrdiff_t>(i));
        std::uint64_t back = 0;
        for (std::uint64_t j = 0; j < tabs.size(); ++j) {
            if (tabs[j]->id == previous_id) {
                back = j;
            }
        }
        // The list no longer holds the active record, so selecting enters `back` afresh. A switch
        // cut short settles only the editors of the tabs listed: this one goes all the same.
        active = no_tab;
        try {
            select_tab(back, false);
        } catch (...) {
            DestroyWindow(editor);
            throw;
        }
        DestroyWindow(editor);
        refresh_tab_strip();
        return;
    }
}

void open_path(const std::filesystem::path& path, std::optional<Encoding> known) {
    open_within_limit(path, new_open_batch(), known);
}

OpenedBehind open_behind(const std::filesystem::path& path, std::optional<Encoding> known) {
    try {
        const std::filesystem::path normal = absolute_file_path(path).lexically_normal();
        if (const std::uint64_t index = find_tab_by_path(normal, no_tab); index != no_tab) {
            const DocumentTab& tab = *tabs[index];
            const int view = index == active ? settings.view : static_cast<int>(tab.view);
            return {.tab = tab.id, .already_open = true, .view = view, .refused = false};
        }
        if (tabs.size() >= tab_limit && !single_empty_untitled_tab()) {
            return {.tab = no_tab, .already_open = false, .view = 0, .refused = true};
        }
        std::string bytes = read_disk(normal, document_limit);
        std::optional<Document> document =
            known ? decode_document(bytes, kept_file_decoding(bytes, *known))
                  : decode_open_file(normal, bytes);
        if (!document) {
            return {};
        }
        const int view = view_for(normal);
        const std::uint64_t id =
            build_file_tab(normal, std::move(bytes), std::move(*document), view);
        return {.tab = id, .already_open = false, .view = view, .refused = false};
    } catch (const std::exception& error) {
        show_file_error_message(path, error);
        return {};
    }
}

bool open_paths(const std::vector<std::filesystem::path>& paths) {
    const std::uint64_t batch = new_open_batch();
    if (paths.size() == 1) {
        return open_within_limit(paths.front(), batch);
    }
    std::vector<PendingPath> entries;
    for (const auto& path : paths) {
        entries.push_back({path, batch});
    }
    return paths.empty() || open_together(std::move(entries));
}

void open_queued_paths(const std::vector<PendingPath>& queued) {
    // Even one path opens as a batch: the rest of a hand-over may still be on its way.
    if (!queued.empty()) {
        open_together(queued);
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
