#include "app/recovery_store.h"

#include <windows.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

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
// Written in place of "tabs.bin" while that is held, and read after it at the next start.
constexpr wchar_t beside_file_name[] = L"tabs.bin.beside";
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

// A store file that nothing may be stored over: out of reach since the start (no `keep`: left as
// it is for the whole run), or waiting to be moved aside as a kept copy.
struct HeldFile {
    std::filesystem::path path;
    std::optional<KeptCopy> keep;
    bool noted = true; // its kept copy is named in the status strip
};
std::vector<HeldFile> held_files;
// The copies moved aside this run; each is named beside every recovery status of the run.
std::vector<std::pair<KeptCopy, std::filesystem::path>> kept_files;
// Where this run stores while "tabs.bin" is held; once used it stays in use for the run, so that
// the next start never finds two stores of one run. Empty while the run stores in "tabs.bin".
std::filesystem::path beside_store;

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

void append_note(std::wstring& text, const std::wstring& note) {
    text += text.empty() ? L"" : L". ";
    text += note;
}

void set_status(const wchar_t* text) {
    status_text = text;
    for (const auto& [kind, copy] : kept_files) {
        append_note(status_text, (kind == KeptCopy::damaged ? kept_store_note : kept_intact_note) +
                                     copy.wstring());
    }
    for (const HeldFile& held : held_files) {
        append_note(status_text, held_file_note + held.path.wstring());
    }
    if (!beside_store.empty()) {
        append_note(status_text, stored_beside_note + beside_store.wstring());
    }
    update_status();
}

bool is_held(const std::filesystem::path& path) {
    return std::any_of(held_files.begin(), held_files.end(),
                       [&](const HeldFile& held) { return held.path == path; });
}

void hold(const std::filesystem::path& path, std::optional<KeptCopy> keep, bool noted = true) {
    if (!is_held(path)) {
        held_files.push_back({.path = path, .keep = keep, .noted = noted});
    }
}

// Only a definite "not there" counts: a file that cannot be looked at may still be there.
bool known_gone(const std::filesystem::path& path) {
    std::error_code error;
    return !std::filesystem::exists(path, error) && !error;
}

// What became of a held file: gone, moved aside (to `copy`), or still in place.
struct Settled {
    bool released = false;
    std::filesystem::path copy;
};

Settled settle(const HeldFile& held, const SYSTEMTIME& now) {
    if (known_gone(held.path)) {
        return {.released = true, .copy = {}};
    }
    if (!held.keep) {
        return {};
    }
    try {
        return {.released = true, .copy = keep_store_copy(held.path, *held.keep, now)};
    } catch (const std::system_error&) {
        return {}; // still locked: tried again before the next store
    }
}

// Moves aside what waits to be kept and lets go of files that are gone: a file the user deleted
// has nothing left to keep. What cannot be moved stays held, and the stores go beside it.
void settle_held_files() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    for (std::size_t i = 0; i < held_files.size();) {
        const HeldFile held = held_files[i];
        const Settled settled = window_work([&] { return settle(held, now); });
        if (!settled.copy.empty() && held.noted) {
            kept_files.emplace_back(*held.keep, settled.copy);
        }
        if (settled.released) {
            std::erase_if(held_files,
                          [&](const HeldFile& entry) { return entry.path == held.path; });
        } else {
            ++i;
        }
    }
}

// Where the next store goes, and which older file it replaces (none: leave it): "tabs.bin"
// unless that is held, else the file beside it, which the next start reads too.
std::pair<std::filesystem::path, std::filesystem::path>
store_files(const std::filesystem::path& session_path) {
    const std::filesystem::path tabs_path = recovery_tabs_path(session_path);
    if (beside_store.empty() && !is_held(tabs_path)) {
        return {tabs_path, is_held(session_path) ? std::filesystem::path() : session_path};
    }
    const std::filesystem::path beside = tabs_path.parent_path() / beside_file_name;
    if (is_held(beside)) {
        throw std::runtime_error("Both recovery files are in use.");
    }
    beside_store = beside;
    return {beside, {}};
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

// One store file's share of what is restored, holding the file as its read found it: one out of
// reach is left alone for the run, a damaged one is moved aside before anything can overwrite it.
SalvagedWorkspace take_store_file(const std::filesystem::path& file,
                                  std::optional<SalvagedWorkspace> read) {
    if (!read) {
        hold(file, std::nullopt);
        return {.workspace = {}, .whole = false};
    }
    if (!read->whole) {
        hold(file, KeptCopy::damaged);
    }
    return std::move(*read);
}

// What a restore read, and from which files.
struct StoreRead {
    SalvagedWorkspace store;
    std::vector<std::filesystem::path> files;
};

// What the previous runs left, as far as it can be trusted: "tabs.bin" (else the older
// "session.bin"), then the store a run wrote beside "tabs.bin" while that was held. Nothing when
// none of them is there. "session.bin" beside a damaged "tabs.bin" goes aside with it, since the
// next store would delete it unread; the store beside, once read, goes aside before the next store
// writes "tabs.bin", so that no later start offers it again.
std::optional<StoreRead> read_store() {
    const std::filesystem::path session_path = recovery_session_path();
    const std::filesystem::path tabs_path = recovery_tabs_path(session_path);
    const std::filesystem::path beside = tabs_path.parent_path() / beside_file_name;
    StoreRead read;
    std::vector<SalvagedWorkspace> parts;
    if (std::filesystem::exists(tabs_path)) {
        read.files.push_back(tabs_path);
        parts.push_back(take_store_file(tabs_path, read_tab_recovery_file(tabs_path)));
        if (is_held(tabs_path) && std::filesystem::exists(session_path)) {
            hold(session_path, KeptCopy::intact);
        }
    } else if (std::filesystem::exists(session_path)) {
        read.files.push_back(session_path);
        parts.push_back(take_store_file(session_path, read_recovery_record_file(session_path)));
    }
    if (std::filesystem::exists(beside)) {
        read.files.push_back(beside);
        parts.push_back(take_store_file(beside, read_tab_recovery_file(beside)));
        hold(beside, KeptCopy::intact, false);
    }
    if (parts.empty()) {
        return std::nullopt;
    }
    // A run that stored beside a damaged store restored the same drafts from it: a session that
    // an earlier file holds exactly as it is comes back once.
    Workspace& workspace = read.store.workspace;
    for (SalvagedWorkspace& part : parts) {
        const auto earlier = static_cast<std::ptrdiff_t>(workspace.sessions.size());
        for (std::size_t i = 0; i < part.workspace.sessions.size(); ++i) {
            Session& session = part.workspace.sessions[i];
            const auto end = workspace.sessions.begin() + earlier;
            const auto same = std::find(workspace.sessions.begin(), end, session);
            if (i == part.workspace.active) {
                workspace.active =
                    same != end ? static_cast<std::uint64_t>(same - workspace.sessions.begin())
                                : workspace.sessions.size();
            }
            if (same == end) {
                workspace.sessions.push_back(std::move(session));
            }
        }
        read.store.whole = read.store.whole && part.whole;
    }
    return read;
}

// After a restore that left a draft out, every store file it read goes aside before the first
// store replaces it with less than it held; the status names each copy.
void keep_read_files(const std::vector<std::filesystem::path>& files) {
    for (const std::filesystem::path& file : files) {
        const auto held = std::find_if(held_files.begin(), held_files.end(),
                                       [&](const HeldFile& entry) { return entry.path == file; });
        if (held == held_files.end()) {
            hold(file, KeptCopy::intact);
        } else {
            held->noted = true;
        }
    }
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
// that the disk check compares the file with the bytes it held when stored. False when the tab
// already held a different draft of this restore, which is then no longer shown anywhere.
bool restore_into_tab(const Session& session, const std::filesystem::path& path, bool differs) {
    std::string disk_bytes;
    if (differs) {
        disk_bytes =
            encode_document_text(Document{session.text, session.encoding, session.line_ending});
    }
    const std::uint64_t previous_id = current_tab().id;
    const std::size_t tab_count = tabs.size();
    choose_tab_for(path);
    DocumentTab& tab = current_tab();
    const bool replaces_draft = tab.recovered_draft && tab_text(tab) != session.text;
    // The tab takes the file's identity only once its editor holds the text, so a refused text
    // never leaves a tab that a later store would keep as that file with another text.
    const std::filesystem::path previous_path = std::exchange(tab.path, path);
    try {
        set_editor(session.text);
    } catch (...) {
        tab.path = previous_path;
        if (tabs.size() > tab_count) {
            remove_failed_tab(tab.id, previous_id);
        }
        throw;
    }
    tab.text = session.text;
    tab.text_source = {};
    tab.encoding = static_cast<std::uint32_t>(session.encoding);
    tab.line_ending = static_cast<std::uint32_t>(session.line_ending);
    tab.disk_bytes = std::move(disk_bytes);
    tab.disk_check_pending = differs;
    SendMessageW(tab.editor, EM_SETMODIFY, TRUE, 0);
    tab.recovered_draft = true;
    refresh_disk_stamp();
    update_title();
    return !replaces_draft;
}

// False when the session's text did not come back (see `restore_into_tab`).
bool restore_one(const Session& session, bool drafts) {
    const std::filesystem::path path = path_of(session.path);
    if (session.draft && drafts) {
        return restore_into_tab(session, path, false);
    }
    if (path.empty() || !file_present(path)) {
        return true;
    }
    if (session.draft) {
        open_path(path);
        return true;
    }
    const Document disk = window_work([&] { return decode_kept_file(path, session.encoding); });
    if (disk.text == session.text && disk.encoding == session.encoding &&
        disk.line_ending == session.line_ending) {
        open_path(path, session.encoding);
        return true;
    }
    return restore_into_tab(session, path, true);
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
            whole = restore_one(workspace.sessions[i], drafts) && whole;
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
        settle_held_files();
        auto [store_path, replaced_path] = store_files(recovery_session_path());
        WorkspaceSnapshot snapshot = snapshot_of_tabs(final);
        if (!writer) {
            writer = std::make_unique<SessionWriter>();
        }
        last_requested_sequence =
            writer->submit(std::move(store_path), std::move(replaced_path), std::move(snapshot));
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
    held_files.clear();
    kept_files.clear();
    beside_store.clear();
    set_status(L"");
    try {
        const std::optional<StoreRead> read = read_store();
        if (!read) {
            return;
        }
        const Workspace& workspace = read->store.workspace;
        const bool drafts = restore_drafts(workspace);
        const bool rebuilt = rebuild_tabs(workspace, drafts);
        if (!rebuilt) {
            keep_read_files(read->files);
        }
        settle_held_files();
        set_status(rebuilt && read->store.whole ? L"" : recovery_unreadable_text);
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
