#include "app/disk_state.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "app/compare_controller.h"
#include "app/directory_watching.h"
#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/open_files.h"
#include "app/prompts.h"
#include "app/views.h"
#include "app/window_proc.h"
#include "core/file_paths.h"
#include "core/limits.h"
#include "core/window_work.h"
#include "editor/source_interface.h"
#include "tracking/recovery_format.h"

namespace pellix {

bool disk_prompt_open = false;

namespace {

constexpr wchar_t changed_question[] =
    L"The file changed on disk. Refresh this tab? Choose No to keep the editor copy.";
constexpr wchar_t changed_question_modified[] =
    L"The file changed on disk. Refresh this tab and discard its local changes? Choose No to "
    L"keep the editor copy.";

bool editor_modified(HWND editor) {
    return SendMessageW(editor, EM_GETMODIFY, 0, 0) != 0;
}

// Whatever way the check leaves, the question is no longer on screen.
struct PromptClosed {
    ~PromptClosed() { disk_prompt_open = false; }
};

bool check_blocked() {
    return replace_all_running() || file_work_busy || start_up_pending || disk_prompt_open ||
           restoring_session() || main_window == nullptr || !IsWindowEnabled(main_window);
}

void mark_changed(DocumentTab& tab, bool changed) {
    tab.changed_on_disk = changed;
    refresh_tab_strip();
}

// Steps 4 to 6 of the check: true when the file's bytes must be read and compared.
bool stamp_says_read(DocumentTab& tab) {
    const DiskStamp now = stamp_file(tab.path);
    if (now.exists && !(tab.disk_exists && same_stamp(now, stored_stamp(tab)))) {
        store_stamp(tab, now);
        tab.disk_check_pending = false;
        mark_changed(tab, true);
        return true;
    }
    if (!now.exists && tab.disk_exists) {
        // A vanished file is only marked; saving asks before writing it anew.
        store_stamp(tab, now);
        tab.disk_check_pending = false;
        mark_changed(tab, true);
        return false;
    }
    if (!tab.disk_check_pending && !tab.changed_on_disk) {
        return false;
    }
    store_stamp(tab, now);
    tab.disk_check_pending = false;
    mark_changed(tab, true);
    return now.exists;
}

void keep_editor_copy(DocumentTab& tab) {
    mark_changed(tab, false);
    SendMessageW(tab.editor, EM_SETMODIFY, TRUE, 0);
    store_session(false, false);
    update_status();
}

bool names_tab_file(const std::vector<std::filesystem::path>& changed, const DocumentTab& tab) {
    if (changed.empty()) {
        return false;
    }
    const std::filesystem::path normal = tab.path.lexically_normal();
    return std::any_of(changed.begin(), changed.end(), [&](const std::filesystem::path& path) {
        return _wcsicmp(path.c_str(), normal.c_str()) == 0;
    });
}

// A watched tab's reads go to Watch mode, which applies them itself.
void watched_tab_change(DocumentTab& tab, bool poll_all, bool reported) {
    bool due = reported;
    if (!due && poll_all && tab.watch_state != 2) {
        const DiskStamp now = stamp_file(tab.path);
        due = now.exists != tab.disk_exists || (now.exists && !same_stamp(now, stored_stamp(tab)));
    }
    if (due) {
        schedule_watch_read(tab.id, false);
    }
}

// The mark an unwatched tab should show now; only the stamp is looked at, never the bytes.
bool outside_change_mark(const DocumentTab& tab) {
    const DiskStamp now = stamp_file(tab.path);
    if (!now.exists) {
        // Visiting the tab confirms the loss and forgets the stamp; the mark must outlive that,
        // or a file still gone would look saved on disk. It goes when the file is back and read,
        // or when the tab is saved or reloaded.
        return tab.disk_exists || tab.changed_on_disk;
    }
    return !tab.disk_exists || !same_stamp(now, stored_stamp(tab));
}

} // namespace

DiskStamp stamp_file(const std::filesystem::path& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (path.empty() ||
        !GetFileAttributesExW(win32_file_path(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return {};
    }
    return {
        .write_time = data.ftLastWriteTime,
        .size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
        .exists = true,
    };
}

bool same_stamp(const DiskStamp& a, const DiskStamp& b) {
    return a.exists == b.exists && a.write_time.dwLowDateTime == b.write_time.dwLowDateTime &&
           a.write_time.dwHighDateTime == b.write_time.dwHighDateTime && a.size == b.size;
}

DiskStamp stored_stamp(const DocumentTab& tab) {
    return {.write_time = tab.disk_write_time, .size = tab.disk_size, .exists = tab.disk_exists};
}

void store_stamp(DocumentTab& tab, const DiskStamp& stamp) {
    tab.disk_write_time = stamp.write_time;
    tab.disk_size = stamp.size;
    tab.disk_exists = stamp.exists;
}

void check_disk_changes(bool check) {
    if (check_blocked()) {
        return;
    }
    if (!pending_paths.empty()) {
        open_pending_paths();
        return;
    }
    if (!check || tabs.empty() || current_tab().watch_state != 0 || current_tab().path.empty()) {
        return;
    }
    PromptClosed prompt_closed;
    if (!stamp_says_read(current_tab())) {
        return;
    }
    const std::uint64_t id = current_tab().id;
    const std::string bytes = read_disk(current_tab().path, document_limit);
    DocumentTab* tab = find_tab_by_id(id);
    if (tab == nullptr || tab != &current_tab()) {
        return;
    }
    if (bytes == tab->disk_bytes) {
        mark_changed(*tab, false);
        return;
    }
    disk_prompt_open = true;
    const bool modified = editor_modified(tab->editor);
    const bool refresh =
        message_box(main_window, modified ? changed_question_modified : changed_question,
                    L"File changed", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
    if (find_tab_by_id(id) != &current_tab()) {
        return;
    }
    if (refresh) {
        reload_file(false, std::nullopt);
    } else {
        keep_editor_copy(*tab);
    }
}

void check_disk_behind(std::uint64_t tab_id) {
    DocumentTab* tab = find_tab_by_id(tab_id);
    if (check_blocked() || tab == nullptr || tab->watch_state != 0 || tab->path.empty() ||
        !stamp_says_read(*tab)) {
        return;
    }
    const std::filesystem::path path = tab->path;
    try {
        const std::string bytes = read_disk(path, document_limit);
        tab = find_tab_by_id(tab_id);
        if (tab != nullptr && bytes == tab->disk_bytes) {
            mark_changed(*tab, false);
        }
    } catch (const std::exception& error) {
        show_file_error_message(path, error);
    }
}

void apply_directory_changes(bool poll_all) {
    if (!directory_watcher_running()) {
        return;
    }
    const std::vector<std::filesystem::path> changed = take_changed_files();
    bool marks_changed = false;
    for (const auto& entry : tabs) {
        DocumentTab& tab = *entry;
        if (tab.path.empty()) {
            continue;
        }
        const bool reported = names_tab_file(changed, tab);
        if (tab.watch_state != 0) {
            watched_tab_change(tab, poll_all, reported);
            continue;
        }
        if (!poll_all && !reported) {
            continue;
        }
        const bool mark = outside_change_mark(tab);
        if (mark != tab.changed_on_disk) {
            tab.changed_on_disk = mark;
            marks_changed = true;
        }
    }
    if (marks_changed) {
        refresh_tab_strip();
    }
}

void take_disk_bytes(DocumentTab& tab, std::string bytes) {
    tab.disk_version = store_fingerprint(bytes);
    tab.disk_bytes = std::move(bytes);
}

namespace {

// Puts the re-read document into the active tab as the same file read again: the selection
// (cut to the new length) and the first visible text stay where they were.
void install_reloaded(DocumentTab& tab, const Document& document, std::string bytes) {
    const std::array<std::uint64_t, 2> selection = source_document(tab.editor).selection;
    set_editor(document.text, {.keep_view = true,
                               .anchor = selection[0],
                               .caret = selection[1],
                               .carry_offset = {},
                               .changed_lines_known = false,
                               .changed_first = 0,
                               .changed_old_end = 0,
                               .changed_new_end = 0});
    take_editor_text(tab, document.text);
    tab.encoding = static_cast<std::uint32_t>(document.encoding);
    tab.line_ending = static_cast<std::uint32_t>(document.line_ending);
    take_disk_bytes(tab, std::move(bytes));
    tab.recovered_draft = false;
    tab.disk_check_pending = false;
    refresh_disk_stamp();
    refresh_saved_baseline(tab, L"The file was reloaded, but Compare could not update its "
                                L"baseline and was stopped.");
    refresh_tab_strip();
}

} // namespace

void reload_file(bool confirm, std::optional<Encoding> forced) {
    try {
        if (tabs.empty()) {
            return;
        }
        DocumentTab& tab = current_tab();
        if (tab.path.empty()) {
            message_box(main_window, L"Open a file from disk before reloading.", L"Reload", MB_OK);
            return;
        }
        // A plain reload keeps a single-byte encoding; 0 detects.
        const Encoding encoding = forced.value_or(static_cast<Encoding>(tab.encoding));
        std::string bytes = read_disk(tab.path, document_limit);
        const Document document = decode_reloaded_document(bytes, encoding);
        if (confirm && editor_modified(tab.editor) &&
            message_box(main_window, L"Reload from disk and discard the editor's unsaved changes?",
                        L"Reload", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES) {
            return;
        }
        install_reloaded(tab, document, std::move(bytes));
        refresh_current_tab();
        draw_waiting_windows();
        store_session(false, false);
    } catch (const std::exception& error) {
        show_error_message(error);
    }
}

} // namespace pellix
