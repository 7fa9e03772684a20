#include "app/recovery_store.h"

#include <windows.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>

#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/open_files.h"
#include "app/settings.h"
#include "app/timers.h"
#include "app/views.h"
#include "core/file_io.h"
#include "core/limits.h"
#include "core/message_box.h"
#include "core/source_document.h"
#include "core/window_work.h"
#include "editor/source_interface.h"
#include "tracking/file_work_tasks.h"
#include "tracking/recovery_files.h"
#include "tracking/recovery_snapshot.h"
#include "tracking/session_writer.h"

namespace pellix {

std::filesystem::path recovery_folder_override;

namespace {

constexpr wchar_t session_file_name[] = L"session.bin";
constexpr wchar_t tabs_file_name[] = L"tabs.bin";
constexpr wchar_t welcome_file_name[] = L"hello.md";
constexpr wchar_t welcome_shown_value[] = L"WelcomeShown";
constexpr wchar_t drafts_question[] =
    L"Unsaved tabs from the previous session are available. Restore those drafts?";
constexpr wchar_t drafts_caption[] = L"Recover tabs";

// Created by the first store; stopped after the message loop and kept until the process ends.
std::unique_ptr<SessionWriter> writer;
std::uint64_t last_requested_sequence = 0;
std::wstring status_text;
bool restoring = false;
// A store file that could not be read whole and is still in the store's place: nothing may be
// stored over it until it has been moved aside.
std::filesystem::path damaged_file;
// Where the damaged file was moved; said beside every recovery status of the run.
std::filesystem::path kept_file;

struct TaskMemory {
    void operator()(wchar_t* text) const { CoTaskMemFree(text); }
};

std::filesystem::path recovery_folder() {
    if (!recovery_folder_override.empty()) {
        return recovery_folder_override;
    }
    wchar_t* raw = nullptr;
    const HRESULT result = SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &raw);
    std::unique_ptr<wchar_t, TaskMemory> folder(raw);
    if (FAILED(result) || !folder) {
        throw std::runtime_error("Could not locate the recovery folder.");
    }
    return std::filesystem::path(folder.get()) / L"Pellix" / L"Native";
}

bool has_byte_order_mark(const std::string& bytes) {
    return bytes.starts_with("\xEF\xBB\xBF") || bytes.starts_with("\xFF\xFE") ||
           bytes.starts_with("\xFE\xFF");
}

// Only a file that is there and whose status could be read; anything else counts as gone.
bool file_present(const std::filesystem::path& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    return !error && std::filesystem::exists(status);
}

bool editor_modified(HWND editor) {
    return SendMessageW(editor, EM_GETMODIFY, 0, 0) != 0;
}

std::string utf8_path(const std::filesystem::path& path) {
    const std::wstring wide = path.wstring();
    if (wide.find(L'\0') != std::wstring::npos) {
        throw std::runtime_error("A file path cannot contain NUL characters.");
    }
    return utf16_to_utf8(std::u16string(wide.begin(), wide.end()));
}

std::filesystem::path path_of(const std::string& utf8) {
    const std::u16string wide = utf8_to_utf16(utf8);
    if (wide.find(u'\0') != std::u16string::npos) {
        throw std::runtime_error("A file path cannot contain NUL characters.");
    }
    return std::filesystem::path(std::wstring(wide.begin(), wide.end()));
}

Document decode_kept_file(const std::filesystem::path& path, Encoding kept) {
    const std::string bytes = read_file_bytes(path, document_limit);
    return decode_document_bytes(bytes, kept_file_decoding(bytes, kept));
}

void set_status(const wchar_t* text) {
    status_text = text;
    if (!kept_file.empty()) {
        status_text += status_text.empty() ? L"" : L". ";
        status_text += kept_store_note + kept_file.wstring();
    }
    update_status();
}

// Moves the damaged store file aside once; throws while it cannot be moved.
void keep_damaged_file() {
    if (damaged_file.empty()) {
        return;
    }
    SYSTEMTIME now{};
    GetLocalTime(&now);
    kept_file = window_work([&] { return keep_damaged_store(damaged_file, now); });
    damaged_file.clear();
}

// ---- Storing ----------------------------------------------------------------------------------

// A tab whose edits the user discarded at close is kept as its saved file, read again from disk.
// A file that is gone or cannot be read or decoded any more leaves only this tab out.
std::optional<SessionSnapshot> saved_file_session(const DocumentTab& tab) {
    if (tab.path.empty() || !file_present(tab.path)) {
        return std::nullopt;
    }
    const auto kept = static_cast<Encoding>(tab.encoding);
    try {
        return window_work([path = tab.path, kept] {
            const Document document = decode_kept_file(path, kept);
            SessionSnapshot session;
            session.text.assign(document.text);
            session.encoding = document.encoding;
            session.line_ending = document.line_ending;
            return session;
        });
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// The tab as its editor holds it now; the text stays shared with the editor. Its modified state
// is read off the same snapshot (what EM_GETMODIFY answers): a message per tab would cost more
// than the whole snapshot where window messages pass through the system's subclass table.
std::optional<SessionSnapshot> editor_session(const DocumentTab& tab) {
    SourceDocument text = source_document(tab.editor);
    const bool modified = text.modified();
    if (!modified && tab.path.empty() && text.length() == 0) {
        return std::nullopt;
    }
    return SessionSnapshot{
        .text = std::move(text),
        .encoding = static_cast<Encoding>(tab.encoding),
        .line_ending = static_cast<LineEnding>(tab.line_ending),
        .path = {},
        .draft = modified,
    };
}

WorkspaceSnapshot snapshot_of_tabs(bool final) {
    WorkspaceSnapshot snapshot;
    snapshot.sessions.reserve(tabs.size());
    for (std::size_t i = 0; i < tabs.size(); ++i) {
        const DocumentTab& tab = *tabs[i];
        const bool discarded = final && i < discarded_at_close.size() && discarded_at_close[i];
        std::optional<SessionSnapshot> session =
            discarded ? saved_file_session(tab) : editor_session(tab);
        if (!session) {
            continue;
        }
        session->path = utf8_path(tab.path);
        if (i == active) {
            snapshot.active = snapshot.sessions.size();
        }
        snapshot.sessions.push_back(std::move(*session));
    }
    return snapshot;
}

// ---- Restoring --------------------------------------------------------------------------------

// The store as the previous run left it, as far as it can be trusted; nothing when neither file
// is there. A file that cannot be read whole is moved aside before anything can overwrite it; when
// that fails, the next store tries again (and stores nothing until it succeeds).
std::optional<SalvagedWorkspace> read_store() {
    const std::filesystem::path session_path = recovery_session_path();
    const std::filesystem::path tabs_path = recovery_tabs_path(session_path);
    std::filesystem::path file;
    SalvagedWorkspace store;
    if (std::filesystem::exists(tabs_path)) {
        file = tabs_path;
        store = read_tab_recovery_file(tabs_path);
    } else if (std::filesystem::exists(session_path)) {
        file = session_path;
        store = read_recovery_record_file(session_path);
    } else {
        return std::nullopt;
    }
    if (!store.whole) {
        damaged_file = file;
        try {
            keep_damaged_file();
        } catch (const std::exception&) {
            // Left in place; the next store tries again before it writes anything.
        }
    }
    return store;
}

bool restore_drafts(const Workspace& workspace) {
    const bool any_draft = std::any_of(workspace.sessions.begin(), workspace.sessions.end(),
                                       [](const Session& session) { return session.draft; });
    return any_draft && message_box(main_window, drafts_question, drafts_caption,
                                    MB_YESNO | MB_ICONQUESTION) == IDYES;
}

bool only_tab_is_blank() {
    if (tabs.size() != 1) {
        return false;
    }
    const DocumentTab& tab = *tabs.front();
    return tab.path.empty() && !editor_modified(tab.editor) &&
           source_document(tab.editor).length() == 0;
}

void choose_tab_for(const std::filesystem::path& path) {
    if (only_tab_is_blank()) {
        select_tab(0, false);
    } else if (path.empty()) {
        add_tab({});
    } else if (const std::uint64_t index = find_tab_by_path(path, no_tab); index != no_tab) {
        select_tab(index, false);
    } else {
        add_tab(path);
    }
}

// The session's own text in a tab, modified; `differs` when the file no longer holds it, so
// that the disk check compares the file with the bytes it held when stored.
void restore_into_tab(const Session& session, const std::filesystem::path& path, bool differs) {
    std::string disk_bytes;
    if (differs) {
        disk_bytes =
            encode_document_text(Document{session.text, session.encoding, session.line_ending});
    }
    choose_tab_for(path);
    DocumentTab& tab = current_tab();
    tab.text = session.text;
    tab.text_source = {};
    tab.encoding = static_cast<std::uint32_t>(session.encoding);
    tab.line_ending = static_cast<std::uint32_t>(session.line_ending);
    tab.path = path;
    tab.disk_bytes = std::move(disk_bytes);
    tab.disk_check_pending = differs;
    set_editor(session.text);
    SendMessageW(tab.editor, EM_SETMODIFY, TRUE, 0);
    tab.recovered_draft = true;
    refresh_disk_stamp();
    update_title();
}

void restore_one(const Session& session, bool drafts) {
    const std::filesystem::path path = path_of(session.path);
    if (session.draft && drafts) {
        restore_into_tab(session, path, false);
        return;
    }
    if (path.empty() || !file_present(path)) {
        return;
    }
    if (session.draft) {
        open_path(path);
        return;
    }
    const Document disk = window_work([&] { return decode_kept_file(path, session.encoding); });
    if (disk.text == session.text && disk.encoding == session.encoding &&
        disk.line_ending == session.line_ending) {
        open_path(path, session.encoding);
        return;
    }
    restore_into_tab(session, path, true);
}

struct RestoreGuard {
    RestoreGuard() { restoring = true; }
    ~RestoreGuard() { restoring = false; }
    RestoreGuard(const RestoreGuard&) = delete;
    RestoreGuard& operator=(const RestoreGuard&) = delete;
};

// True when every session came back; one that cannot be restored is skipped so that the
// sessions after it, drafts among them, still do.
bool rebuild_tabs(const Workspace& workspace, bool drafts) {
    if (workspace.sessions.empty()) {
        return true;
    }
    RestoreGuard guard;
    std::uint64_t target = active;
    bool whole = true;
    for (std::size_t i = 0; i < workspace.sessions.size(); ++i) {
        try {
            restore_one(workspace.sessions[i], drafts);
        } catch (const std::exception&) {
            whole = false;
        }
        if (i == workspace.active) {
            target = active;
        }
    }
    select_tab(std::min<std::uint64_t>(target, tabs.size() - 1), false);
    refresh_current_tab();
    return whole;
}

// ---- Welcome ----------------------------------------------------------------------------------

bool blank_first_run() {
    if (read_setting_dword(welcome_shown_value, 0) != 0 || command_line_named_files ||
        tabs.size() != 1) {
        return false;
    }
    const DocumentTab& tab = *tabs.front();
    return tab.path.empty() && !editor_modified(tab.editor) &&
           GetWindowTextLengthW(tab.editor) == 0;
}

void offer_welcome() {
    if (compare_mode || !blank_first_run()) {
        return;
    }
    const std::filesystem::path path = recovery_session_path().parent_path() / welcome_file_name;
    show_first_welcome(path);
    open_path(path);
    if (same_path(current_tab().path, path)) {
        select_view(view_split);
        write_setting_dword(welcome_shown_value, 1);
    }
}

std::uint64_t index_of_tab(std::uint64_t id) {
    for (std::uint64_t i = 0; i < tabs.size(); ++i) {
        if (tabs[i]->id == id) {
            return i;
        }
    }
    return no_tab;
}

} // namespace

std::filesystem::path recovery_session_path() {
    return recovery_folder() / session_file_name;
}

std::filesystem::path recovery_tabs_path(const std::filesystem::path& session_path) {
    return session_path.parent_path() / tabs_file_name;
}

std::int32_t kept_file_decoding(const std::string& bytes, Encoding kept) {
    return has_byte_order_mark(bytes) ? 0 : static_cast<std::int32_t>(kept);
}

void store_session(bool final, bool from_timer) {
    if (compare_mode || restoring || start_up_pending) {
        return;
    }
    if (!final && (!from_timer || replace_all_running())) {
        SetTimer(main_window, timer_id::recovery_snapshot, timer_period::recovery_snapshot,
                 nullptr);
        return;
    }
    try {
        KillTimer(main_window, timer_id::recovery_snapshot);
        keep_damaged_file();
        std::filesystem::path session_path = recovery_session_path();
        std::filesystem::path tabs_path = recovery_tabs_path(session_path);
        WorkspaceSnapshot snapshot = snapshot_of_tabs(final);
        if (!writer) {
            writer = std::make_unique<SessionWriter>();
        }
        last_requested_sequence =
            writer->submit(std::move(tabs_path), std::move(session_path), std::move(snapshot));
    } catch (const std::exception&) {
        set_status(recovery_unavailable_text);
    }
}

void store_final_session() {
    store_session(true, false);
}

void take_recovery_writer_result() {
    if (!writer) {
        return;
    }
    const std::optional<SessionWriter::Result> result = writer->take_result();
    if (result && result->sequence == last_requested_sequence) {
        set_status(result->error.empty() ? L"" : recovery_unavailable_text);
    }
}

bool restoring_session() {
    return restoring;
}

const std::wstring& recovery_status() {
    return status_text;
}

void stop_recovery_writer() {
    if (writer) {
        writer->stop();
    }
}

void restore_session() {
    if (compare_mode) {
        return;
    }
    damaged_file.clear();
    kept_file.clear();
    set_status(L"");
    try {
        const std::optional<SalvagedWorkspace> store = read_store();
        if (!store) {
            return;
        }
        const bool drafts = restore_drafts(store->workspace);
        if (!rebuild_tabs(store->workspace, drafts) || !store->whole) {
            set_status(recovery_unreadable_text);
        }
        store_session(false, false);
    } catch (const std::exception&) {
        set_status(recovery_unreadable_text);
    }
}

void restore_and_welcome() {
    const std::uint64_t first_id = tabs.empty() ? no_tab : current_tab().id;
    restore_session();
    offer_welcome();
    if (command_line_named_files) {
        if (const std::uint64_t index = index_of_tab(first_id); index != no_tab) {
            select_tab(index, false);
        }
    }
}

} // namespace pellix
