#include "app/recovery_store.h"

#include <windows.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/open_files.h"
#include "app/prompts.h"
#include "app/settings.h"
#include "app/tab_build_progress.h"
#include "app/timers.h"
#include "app/views.h"
#include "core/file_io.h"
#include "core/file_paths.h"
#include "core/limits.h"
#include "core/message_box.h"
#include "core/source_document.h"
#include "core/window_work.h"
#include "editor/source_interface.h"
#include "tracking/recovery_files.h"
#include "tracking/recovery_policy.h"
#include "tracking/recovery_snapshot.h"
#include "tracking/session_writer.h"

namespace pellix {

std::filesystem::path recovery_folder_override;

namespace {

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

// The recovery files' decisions of this run, made again at each start; `decided_folder` is the
// folder they were made for (tests move it between runs).
RecoveryFolderDisk recovery_disk;
std::unique_ptr<RecoveryPolicy> decisions;
std::filesystem::path decided_folder;
// The store's own state, before the notes on the recovery files are added to it.
std::wstring status_base;
// The store's state and the text it showed while a progress notice stands in for them.
struct StateUnderNotice {
    std::wstring base;
    std::wstring text;
};
std::optional<StateUnderNotice> state_under_notice;

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

// Only a file that is there and whose status could be read; anything else counts as gone.
bool file_present(const std::filesystem::path& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    return !error && std::filesystem::exists(status);
}

std::string utf8_path(const std::filesystem::path& path) {
    if (path.empty()) {
        return {};
    }
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

// A tab's own file read again: its bytes and their text.
struct KeptFile {
    std::string bytes;
    Document document;
};

KeptFile read_kept_file(const std::filesystem::path& path, Encoding kept) {
    std::string bytes = read_file_bytes(path, document_limit);
    Document document = decode_document_bytes(bytes, kept_file_decoding(bytes, kept));
    return {std::move(bytes), std::move(document)};
}

const wchar_t* note_text(RecoveryNote kind) {
    // In the order of the kinds.
    const wchar_t* const texts[] = {kept_store_note,      kept_intact_note,   held_file_note,
                                    unsearched_file_note, stored_beside_note, kept_left_out_note};
    return texts[static_cast<std::size_t>(kind)];
}

// Tells this run's stores from any other run's, also from one started in the same second.
std::uint64_t new_run_number() {
    std::random_device source;
    const auto now =
        static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    return (static_cast<std::uint64_t>(source()) << 32 ^ source()) ^ now ^ GetCurrentProcessId();
}

// The recovery store's name for the tab, made at its first store unless a restore gave it its
// session's, so that every store and every later run tell its versions from other tabs'.
std::uint64_t recovery_tab_of(DocumentTab& tab) {
    static const std::uint64_t process_seed = new_run_number();
    if (tab.recovery_tab == 0) {
        tab.recovery_tab = recovery_identity(process_seed, tab.id);
    }
    return tab.recovery_tab;
}

// The decisions for the recovery folder as it is now: a fresh run's when it moved.
RecoveryPolicy& recovery_decisions() {
    const std::filesystem::path folder = recovery_session_path().parent_path();
    if (!decisions || folder != decided_folder) {
        decisions = std::make_unique<RecoveryPolicy>(recovery_disk, folder, new_run_number());
        decided_folder = folder;
    }
    return *decisions;
}

// The store's state followed by the notes on the recovery files: the kept copies still there,
// the files left alone and where the drafts go while "tabs.bin" cannot take them.
std::wstring status_with_notes() {
    std::wstring text = status_base;
    if (decisions) {
        for (const RecoveryStatusNote& note : decisions->notes()) {
            text += text.empty() ? L"" : L". ";
            text += note_text(note.kind) + note.path.wstring();
        }
    }
    return text;
}

void set_status(const wchar_t* text) {
    status_base = text;
    status_text = status_with_notes();
    update_status();
}

UtcTime utc_now() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return {.year = now.wYear,
            .month = now.wMonth,
            .day = now.wDay,
            .hour = now.wHour,
            .minute = now.wMinute,
            .second = now.wSecond};
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
            const Document document = read_kept_file(path, kept).document;
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
        .other_version_of = {},
    };
}

WorkspaceSnapshot snapshot_of_tabs(bool final) {
    WorkspaceSnapshot snapshot;
    snapshot.sessions.reserve(tabs.size());
    for (std::size_t i = 0; i < tabs.size(); ++i) {
        DocumentTab& tab = *tabs[i];
        const bool discarded = final && i < discarded_at_close.size() && discarded_at_close[i];
        std::optional<SessionSnapshot> session =
            discarded ? saved_file_session(tab) : editor_session(tab);
        if (!session) {
            continue;
        }
        session->path = utf8_path(tab.path);
        session->tab = recovery_tab_of(tab);
        session->file_version = tab.disk_version;
        if (tab.path.empty() && tab.other_version_of) {
            session->other_version_of = utf8_path(*tab.other_version_of);
        }
        if (i == active) {
            snapshot.active = snapshot.sessions.size();
        }
        snapshot.sessions.push_back(std::move(*session));
    }
    return snapshot;
}

// ---- Restoring --------------------------------------------------------------------------------

// The fingerprint of a tab's file as it is now; nothing when it is gone or cannot be read.
std::optional<std::uint64_t> file_version_now(const std::string& path) {
    try {
        return store_fingerprint(read_file_bytes(path_of(path), document_limit));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool holds_drafts(const Workspace& workspace) {
    return std::ranges::any_of(workspace.sessions, &Session::draft);
}

bool restore_drafts(const Workspace& workspace) {
    return holds_drafts(workspace) && message_box(main_window, drafts_question, drafts_caption,
                                                  MB_YESNO | MB_ICONQUESTION) == IDYES;
}

bool only_tab_is_blank() {
    if (tabs.size() != 1) {
        return false;
    }
    const DocumentTab& tab = *tabs.front();
    const SourceDocument text = source_document(tab.editor);
    return tab.path.empty() && !text.modified() && text.length() == 0;
}

std::uint64_t index_of_tab(std::uint64_t id) {
    const auto at = std::ranges::find(tabs, id, [](const auto& tab) { return tab->id; });
    return at == tabs.end() ? no_tab : static_cast<std::uint64_t>(at - tabs.begin());
}

// The tabs of a restore are built behind the shown one and only the tab selected at the end is
// shown: showing each in turn costs the UI thread the view, layout and settings of every switch
// and a render target for each editor's first frame, and the window showed nothing of the
// drafts meanwhile.
struct TabForSession {
    DocumentTab* tab = nullptr;
    bool created = false;
};

// The blank only tab, else the open tab of the session's file, else a new tab behind the others.
TabForSession tab_for_session(const std::filesystem::path& path) {
    if (only_tab_is_blank()) {
        return {tabs.front().get(), false};
    }
    if (!path.empty()) {
        if (const std::uint64_t index = find_tab_by_path(path, no_tab); index != no_tab) {
            return {tabs[index].get(), false};
        }
    }
    return {&add_background_tab(path), true};
}

// The shown tab that took a session shows it whole at once, its title, strips and page with its
// text: the editor may paint before the progress is next shown.
void show_if_current(const DocumentTab& tab) {
    if (&tab == &current_tab()) {
        refresh_current_tab();
    }
}

// The draft's own text in a tab, modified. False when the tab already held a different draft of
// this restore, which is then no longer shown anywhere. `last_tab` becomes the tab's identifier.
bool restore_into_tab(const Session& session, const std::filesystem::path& path,
                      std::uint64_t& last_tab) {
    const auto [tab, created] = tab_for_session(path);
    const bool replaces_draft = tab->recovered_draft && tab_text(*tab) != session.text;
    // The tab takes the file's identity only once its editor holds the text, so a refused text
    // never leaves a tab that a later store would keep as that file with another text.
    const std::filesystem::path previous_path = std::exchange(tab->path, path);
    try {
        install_editor_document(*tab, build_source_document(session.text), is_markdown_path(path));
    } catch (...) {
        tab->path = previous_path;
        if (created) {
            remove_failed_tab(tab->id, current_tab().id);
        }
        throw;
    }
    tab->text = session.text;
    tab->text_source = {};
    tab->encoding = static_cast<std::uint32_t>(session.encoding);
    tab->line_ending = static_cast<std::uint32_t>(session.line_ending);
    tab->disk_bytes.clear();
    tab->disk_version = session.file_version;
    tab->disk_check_pending = false;
    SendMessageW(tab->editor, EM_SETMODIFY, TRUE, 0);
    tab->recovered_draft = true;
    tab->other_version_of =
        session.other_version_of ? std::optional(path_of(*session.other_version_of)) : std::nullopt;
    refresh_disk_stamp_of(*tab);
    show_if_current(*tab);
    tab->recovery_tab = session.tab;
    last_tab = tab->id;
    return !replaces_draft;
}

// A tab's file, as it is on disk now, opens as `open_path` opens it, but in a tab behind the
// shown one; a tab that holds the file already stays as it is. Failures are shown as an open's.
void open_kept_file(const std::filesystem::path& path, KeptFile file, std::uint64_t recovery_tab,
                    std::uint64_t& last_tab) {
    const std::filesystem::path normal = absolute_file_path(path).lexically_normal();
    if (const std::uint64_t index = find_tab_by_path(normal, no_tab); index != no_tab) {
        last_tab = tabs[index]->id;
        return;
    }
    try {
        const int view = view_for(normal);
        const auto [tab, created] = tab_for_session(normal);
        try {
            fill_tab_with_file(*tab, normal, std::move(file.bytes), std::move(file.document), view);
        } catch (...) {
            if (created) {
                remove_failed_tab(tab->id, current_tab().id);
            }
            throw;
        }
        // The shown tab takes the file's view now; a tab behind it takes it when entered.
        if (tab == &current_tab()) {
            select_view(view);
        }
        show_if_current(*tab);
        tab->recovery_tab = recovery_tab;
        last_tab = tab->id;
    } catch (const std::exception& error) {
        show_file_error_message(normal, error);
    }
}

// False when the session's text did not come back (see `restore_into_tab`). `last_tab` becomes
// the identifier of the tab the session went into; it stays when the session was skipped.
bool restore_one(const Session& session, bool drafts, std::uint64_t& last_tab) {
    const std::filesystem::path path = path_of(session.path);
    if (session.draft && drafts) {
        return restore_into_tab(session, path, last_tab);
    }
    if (path.empty() || !file_present(path)) {
        // A saved tab whose file went is owed the text it was saved with: nowhere else holds it.
        return session.draft || path.empty() || session.text_left_out ||
               restore_into_tab(session, path, last_tab);
    }
    if (session.draft) {
        const OpenedBehind opened = open_behind(path);
        if (opened.refused) {
            show_error_message(std::runtime_error(tab_limit_message));
        }
        if (opened.tab != no_tab) {
            last_tab = opened.tab;
        }
        return true;
    }
    // A tab stored while it held its saved text owes nothing but its file. Were the stored text
    // brought back as a draft where the file has changed since, a Save would put that older
    // text over what was saved later, by this run or by another program.
    KeptFile disk = window_work([&] { return read_kept_file(path, session.encoding); });
    open_kept_file(path, std::move(disk), session.tab, last_tab);
    return true;
}

struct RestoreGuard {
    RestoreGuard() { restoring = true; }
    ~RestoreGuard() { restoring = false; }
    RestoreGuard(const RestoreGuard&) = delete;
    RestoreGuard& operator=(const RestoreGuard&) = delete;
};

// The tabs (as their sessions name them) of the sessions that did not come back; one that cannot
// be restored is skipped so that the sessions after it, drafts among them, still do. Until the
// tabs are built the window is disabled as during file work: it paints and answers, and input
// waits.
std::set<std::uint64_t> rebuild_tabs(const Workspace& workspace, bool drafts) {
    std::set<std::uint64_t> left_out;
    if (workspace.sessions.empty()) {
        return left_out;
    }
    RestoreGuard guard;
    std::uint64_t last_tab = current_tab().id;
    std::uint64_t target = last_tab;
    {
        const file_work::Guard disabled;
        const IdentityBatch identities;
        TabBuildProgress progress(workspace.sessions.size(), restore_progress_text);
        for (std::size_t i = 0; i < workspace.sessions.size(); ++i) {
            progress.before(i);
            bool back = false;
            try {
                back = restore_one(workspace.sessions[i], drafts, last_tab);
            } catch (const std::exception&) {
            }
            if (!back) {
                left_out.insert(workspace.sessions[i].tab);
            }
            if (i == workspace.active) {
                target = last_tab;
            }
        }
        progress.end();
    }
    const std::uint64_t index = index_of_tab(target);
    select_tab(index == no_tab ? tabs.size() - 1 : index, false);
    refresh_current_tab();
    return left_out;
}

// ---- Welcome ----------------------------------------------------------------------------------

bool blank_first_run() {
    return read_setting_dword(welcome_shown_value, 0) == 0 && !command_line_named_files &&
           only_tab_is_blank();
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

} // namespace

std::filesystem::path recovery_session_path() {
    return recovery_folder() / recovery_session_name;
}

std::filesystem::path recovery_tabs_path(const std::filesystem::path& session_path) {
    return session_path.parent_path() / recovery_tabs_name;
}

std::wstring restore_progress_text(std::size_t restored, std::size_t total) {
    return L"Restoring tabs: " + std::to_wstring(restored) + L" of " + std::to_wstring(total);
}

void show_progress_notice(const std::wstring& text) {
    if (text.empty()) {
        if (state_under_notice) {
            set_status(state_under_notice->base.c_str());
            state_under_notice.reset();
        }
        return;
    }
    if (!state_under_notice) {
        state_under_notice = StateUnderNotice{.base = status_base, .text = status_text};
    }
    set_status(text.c_str());
}

void withdraw_progress_notice() noexcept {
    if (!state_under_notice) {
        return;
    }
    status_base.swap(state_under_notice->base);
    status_text.swap(state_under_notice->text);
    state_under_notice.reset();
    // Drawn from the timer: drawing allocates, which a caller unwinding from a failure must not.
    if (main_window != nullptr) {
        SetTimer(main_window, timer_id::status_refresh, timer_period::status_refresh, nullptr);
    }
}

std::int32_t kept_file_decoding(const std::string& bytes, Encoding kept) {
    const bool byte_order_mark = bytes.starts_with("\xEF\xBB\xBF") ||
                                 bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF");
    return byte_order_mark ? 0 : static_cast<std::int32_t>(kept);
}

void store_session(bool final, bool now) {
    if (compare_mode || restoring || start_up_pending) {
        return;
    }
    if (!final && (!now || replace_all_running())) {
        arm_recovery_store();
        return;
    }
    // Every change made so far goes with this store; the next one starts a deadline of its own.
    autosave_deadline = 0;
    recovery_store_deadline = 0;
    try {
        KillTimer(main_window, timer_id::recovery_snapshot);
        StorePlan plan = recovery_decisions().plan_store();
        WorkspaceSnapshot snapshot = snapshot_of_tabs(final);
        if (!writer) {
            writer = std::make_unique<SessionWriter>();
        }
        last_requested_sequence = writer->submit(std::move(plan), std::move(snapshot));
    } catch (const std::exception&) {
        set_status(recovery_unavailable_text);
        if (!final) {
            arm_recovery_store();
        }
    }
}

void store_final_session() {
    store_session(true, false);
}

void take_recovery_writer_result() {
    if (!writer) {
        return;
    }
    std::optional<SessionWriter::Result> result = writer->take_result();
    if (!result) {
        // A kept copy the user deleted is no longer named.
        if (decisions && status_text != status_base && status_with_notes() != status_text) {
            set_status(status_base.c_str());
        }
        return;
    }
    // Every write that finished since the last poll tells the decisions what it left on disk.
    for (std::optional<SessionWriter::Result> next = result; next; next = writer->take_result()) {
        if (next->error.empty() && decisions) {
            decisions->store_written(next->plan, next->outcome);
        }
        result = std::move(next);
    }
    if (result->sequence != last_requested_sequence) {
        return;
    }
    set_status(result->error.empty() ? L"" : recovery_unavailable_text);
    // A store that failed, or that went beside "tabs.bin" because another program held it, is
    // tried again, so that the stores go back to their place once it is free.
    const bool went_beside =
        !result->plan.fallback.empty() && result->outcome.written == result->plan.fallback;
    if (!result->error.empty() || went_beside) {
        arm_recovery_store();
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

bool restore_session() {
    if (compare_mode) {
        return false;
    }
    decisions.reset();
    set_status(L"");
    try {
        RecoveryPolicy& decided = recovery_decisions();
        if (!decided.anything_to_read()) {
            return false;
        }
        const std::optional<SalvagedWorkspace> read =
            window_work([&] { return decided.start(file_version_now); });
        if (!read) {
            return false;
        }
        // What the restore could not bring back, and a damaged file, are kept before any store
        // may replace the files read, also when the question or the rebuild fails.
        bool drafts = false;
        std::set<std::uint64_t> left_out;
        try {
            drafts = restore_drafts(read->workspace);
            left_out = rebuild_tabs(read->workspace, drafts);
        } catch (const std::exception&) {
            for (const Session& session : read->workspace.sessions) {
                left_out.insert(session.tab);
            }
            window_work([&] { decided.restored(left_out, utc_now()); });
            throw;
        }
        window_work([&] { decided.restored(left_out, utc_now()); });
        set_status(left_out.empty() && read->whole ? L"" : recovery_unreadable_text);
        const bool refused = !drafts && holds_drafts(read->workspace);
        store_session(false, refused);
        return refused;
    } catch (const std::exception&) {
        set_status(recovery_unreadable_text);
    }
    return false;
}

bool restore_and_welcome() {
    const std::uint64_t first_id = tabs.empty() ? no_tab : current_tab().id;
    const bool refused = restore_session();
    offer_welcome();
    if (command_line_named_files) {
        if (const std::uint64_t index = index_of_tab(first_id); index != no_tab) {
            select_tab(index, false);
        }
    }
    return refused;
}

} // namespace pellix
