#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_window_create.h"
#include "app/main_window_state.h"
#include "app/prompts.h"
#include "app/recent_files.h"
#include "app/recovery_store.h"
#include "app/save_files.h"
#include "app/settings.h"
#include "core/file_io.h"
#include "core/file_io_calls.h"
#include "core/limits.h"
#include "platform/unique_handle.h"
#include "tests/app/in_process_main_window.h"
#include "tests/app/message_pump.h"
#include "tests/app/recovery_support.h"
#include "tests/app/settings_key_guard.h"
#include "tests/tracking/lone_store.h"
#include "tests/scratch_folder.h"

namespace pellix {
namespace {

// No main-window test of this program may reach the prefix's own recovery store: every store
// and restore goes to a scratch folder unless a case points it elsewhere.
class ScratchRecoveryStore : public ::testing::Environment {
public:
    void SetUp() override {
        folder_ = std::make_unique<test::ScratchFolder>("app-recovery-store");
        recovery_folder_override = folder_->path();
    }
    void TearDown() override {
        stop_recovery_writer();
        recovery_folder_override.clear();
        folder_.reset();
    }

private:
    std::unique_ptr<test::ScratchFolder> folder_;
};
[[maybe_unused]] ::testing::Environment* const scratch_store =
    ::testing::AddGlobalTestEnvironment(new ScratchRecoveryStore);

const std::wstring test_key = L"Software\\Orvelworks\\Pellix Native Recovery Test";

// The real main window in this process, hidden, its store in a folder of the test's own and
// every box answered by the test.
class RecoveryStore : public ::testing::Test {
protected:
    void SetUp() override {
        instance = GetModuleHandleW(nullptr);
        saved_key_ = test::use_settings_key(test_key);
        saved_folder_ = recovery_folder_override;
        recovery_folder_override = store_folder();
        install_message_box([this](const MessageBoxRequest& request) {
            boxes_.push_back(request);
            return box_answer_;
        });
        install_task_dialog([this](const TASKDIALOGCONFIG&) {
            ++tasks_asked_;
            return task_answer_;
        });
        WNDCLASSEXW existing{};
        existing.cbSize = sizeof(WNDCLASSEXW);
        registered_class_ = register_main_window_class();
        ASSERT_TRUE(registered_class_ || GetClassInfoExW(instance, main_window_class(), &existing));
        window_ = create_main_window();
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        if (IsWindow(window_)) {
            DestroyWindow(window_);
        }
        test::pump(50);
        // Other suites of this program register the class once for themselves.
        if (registered_class_) {
            UnregisterClassW(main_window_class(), instance);
        }
        install_message_box({});
        install_task_dialog({});
        discarded_at_close.clear();
        command_line_named_files = false;
        menus.recent = nullptr;
        recovery_folder_override = saved_folder_;
        test::restore_settings_key(saved_key_);
    }

    std::filesystem::path store_folder() const { return folder_ / "store"; }
    std::filesystem::path tabs_file() const { return store_folder() / "tabs.bin"; }
    std::filesystem::path session_file() const { return store_folder() / "session.bin"; }
    std::filesystem::path beside_file() const { return store_folder() / "tabs.bin.beside"; }

    std::filesystem::path file(const std::string& name, const std::string& bytes) const {
        const std::filesystem::path path = folder_ / name;
        test::write_bytes(path, bytes);
        return path;
    }

    void write_store(const Workspace& workspace) const {
        std::filesystem::create_directories(store_folder());
        test::write_bytes(tabs_file(), test::store_bytes(workspace));
    }

    static void type(const wchar_t* text) {
        SendMessageW(chrome.editor, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text));
    }
    // The run ends as a crash ends it: every tab goes with no store of its own (a closed tab is
    // otherwise let go in a store at once).
    static void end_run_as_a_crash() {
        const bool pending = std::exchange(start_up_pending, true);
        for (std::size_t n = tabs.size(); n > 0; --n) {
            close_current_tab([] { return true; });
        }
        start_up_pending = pending;
    }
    static bool modified(const DocumentTab& tab) {
        return SendMessageW(tab.editor, EM_GETMODIFY, 0, 0) != 0;
    }

    // Pumps until the store holds `expected` (or, for an empty one, until both files are gone).
    bool stored(const Workspace& expected) const {
        return test::pump_until([&] {
            if (expected.sessions.empty()) {
                return !std::filesystem::exists(tabs_file()) &&
                       !std::filesystem::exists(session_file());
            }
            return test::stored_workspace(tabs_file()) == expected;
        });
    }

    // Waits until the store holds `expected` (as `stored` does) without serving a single message,
    // so that no timer can bring it: a program that dies soon after never runs one.
    bool lands_without_messages(const Workspace& expected) const {
        const auto end = GetTickCount64() + test::settle_limit_ms;
        for (;;) {
            const bool there = expected.sessions.empty()
                                   ? !std::filesystem::exists(tabs_file()) &&
                                         !std::filesystem::exists(session_file())
                                   : test::stored_workspace(tabs_file()) == expected;
            if (there || GetTickCount64() >= end) {
                return there;
            }
            Sleep(10);
        }
    }

    static bool status_becomes(const std::wstring& text) {
        return test::pump_until([&] {
            take_recovery_writer_result();
            return recovery_status() == text;
        });
    }

    test::SettingsKeyGuard key_{test_key};
    test::ScratchFolder folder_{"recovery-store"};
    std::wstring saved_key_;
    std::filesystem::path saved_folder_;
    HWND window_ = nullptr;
    bool registered_class_ = false;
    std::vector<MessageBoxRequest> boxes_;
    int box_answer_ = IDYES;
    int task_answer_ = 100; // Windows-1252
    int tasks_asked_ = 0;
};

Session session(std::u16string text, Encoding encoding, LineEnding line_ending,
                const std::filesystem::path& path, bool draft) {
    return {std::move(text), encoding, line_ending, path.empty() ? "" : test::utf8(path), draft};
}

// An untitled draft, and a store of that one draft.
Session draft_of(std::u16string text, LineEnding line_ending = LineEnding::lf) {
    return session(std::move(text), Encoding::utf8, line_ending, {}, true);
}

Workspace one_draft(std::u16string text, LineEnding line_ending = LineEnding::lf) {
    return {.sessions = {draft_of(std::move(text), line_ending)}, .active = 0};
}

// ---- Storing ----------------------------------------------------------------------------------

TEST_F(RecoveryStore, KeepsDraftsAndSavedTabsAndDeletesTheStoreWhenNothingIsWorthKeeping) {
    write_store({.sessions = {Session{}}, .active = 0});
    test::write_bytes(session_file(), "old");
    store_session(false, true);
    EXPECT_TRUE(stored({})); // one blank untitled tab

    type(L"draft\nline");
    const auto utf16 = file("wide.txt", std::string("\xFF\xFEw\0\r\0\n\0", 8));
    open_path(utf16);
    ASSERT_EQ(tabs.size(), 2u);
    store_session(false, true);
    EXPECT_TRUE(
        stored({.sessions = {session(u"draft\nline", Encoding::utf8, LineEnding::crlf, {}, true),
                             session(u"w\n", Encoding::utf16_le, LineEnding::crlf, utf16, false)},
                .active = 1}));
    EXPECT_TRUE(status_becomes(L""));

    // An edit only arms the deferred snapshot; it is taken 1.5 s after the last request.
    select_tab(0, false);
    type(L"!");
    store_session(false, false);
    EXPECT_TRUE(test::stored_workspace(tabs_file())->sessions[0].text == u"draft\nline");
    EXPECT_TRUE(
        stored({.sessions = {session(u"draft\nline!", Encoding::utf8, LineEnding::crlf, {}, true),
                             session(u"w\n", Encoding::utf16_le, LineEnding::crlf, utf16, false)},
                .active = 0}));
}

// A Save replaces the tab's stored draft at once: a program that dies soon after the save would
// otherwise offer the draft from before the save over the saved text.
TEST_F(RecoveryStore, ASaveReplacesTheStoredDraftWithoutWaitingForATimer) {
    const auto path = file("h.md", "saved v0");
    open_path(path);
    SendMessageW(chrome.editor, EM_SETSEL, 8, 8);
    type(L" A1");
    store_session(false, true);
    ASSERT_TRUE(
        stored({.sessions = {session(u"saved v0 A1", Encoding::utf8, LineEnding::crlf, path, true)},
                .active = 0}));
    type(L" B2");
    ASSERT_TRUE(save_file(false, nullptr, {}));
    ASSERT_EQ(read_file_bytes(path, document_limit), "saved v0 A1 B2");
    EXPECT_TRUE(lands_without_messages(
        {.sessions = {session(u"saved v0 A1 B2", Encoding::utf8, LineEnding::crlf, path, false)},
         .active = 0}));
}

// A tab let go, closed with No at "Unsaved changes", is handed over at once too: a crash soon
// after must not bring it back.
TEST_F(RecoveryStore, ATabClosedWithItsChangesDiscardedLeavesTheStoreAtOnce) {
    type(L"kept");
    const auto path = file("dropped.md", "saved");
    open_path(path);
    type(L"discarded ");
    new_tab();
    type(L"untitled, discarded");
    store_session(false, true);
    ASSERT_TRUE(stored(
        {.sessions = {session(u"kept", Encoding::utf8, LineEnding::crlf, {}, true),
                      session(u"discarded saved", Encoding::utf8, LineEnding::crlf, path, true),
                      session(u"untitled, discarded", Encoding::utf8, LineEnding::crlf, {}, true)},
         .active = 2}));
    box_answer_ = IDNO;
    close_current_tab({});
    ASSERT_EQ(tabs.size(), 2u);
    EXPECT_TRUE(lands_without_messages(
        {.sessions = {session(u"kept", Encoding::utf8, LineEnding::crlf, {}, true),
                      session(u"discarded saved", Encoding::utf8, LineEnding::crlf, path, true)},
         .active = 1}));
    close_current_tab({});
    EXPECT_TRUE(lands_without_messages(
        {.sessions = {session(u"kept", Encoding::utf8, LineEnding::crlf, {}, true)}, .active = 0}));
    // The last tab closed leaves a blank one, and nothing worth keeping.
    close_current_tab({});
    EXPECT_TRUE(lands_without_messages({}));
}

TEST_F(RecoveryStore, TabsClosedTogetherWithTheirChangesDiscardedLeaveTheStoreAtOnce) {
    type(L"kept");
    new_tab();
    type(L"discarded");
    select_tab(0, false);
    store_session(false, true);
    ASSERT_TRUE(stored({.sessions = {draft_of(u"kept", LineEnding::crlf),
                                     draft_of(u"discarded", LineEnding::crlf)},
                        .active = 0}));
    close_tabs_where([](std::uint64_t index) { return index != 0; },
                     [](bool) { return CloseChoice::discard; });
    ASSERT_EQ(tabs.size(), 1u);
    EXPECT_TRUE(
        lands_without_messages({.sessions = {draft_of(u"kept", LineEnding::crlf)}, .active = 0}));
}

TEST_F(RecoveryStore, AFailedWriteShowsTheStatusUntilTheNextWriteSucceeds) {
    type(L"text");
    // A folder below a plain file cannot be created.
    recovery_folder_override = file("plain", "x") / "store";
    store_session(false, true);
    EXPECT_TRUE(status_becomes(recovery_unavailable_text));

    recovery_folder_override = store_folder();
    store_session(false, true);
    EXPECT_TRUE(status_becomes(L""));
    EXPECT_TRUE(std::filesystem::exists(tabs_file()));
}

TEST_F(RecoveryStore, TheFinalStoreLeavesOutOnlyADiscardedTabWhoseFileCannotBeRead) {
    type(L"keep me");
    const auto unreadable = file("grown.txt", "small\n");
    const auto latin = file("latin.txt", "caf\xE9\n");
    const auto gone = file("gone.md", "# gone\n");
    for (const auto& path : {unreadable, latin, gone}) {
        open_path(path);
        type(L"discarded edit");
    }
    ASSERT_EQ(tabs.size(), 4u);
    ASSERT_EQ(tabs[2]->encoding, 4u);
    test::write_bytes(unreadable, std::string(document_limit + 1, 'a'));
    std::filesystem::remove(gone);
    select_tab(2, false);
    discarded_at_close = {false, true, true, true};

    store_final_session();
    // The Windows-1252 file is read back in its own encoding, as saved, not as a draft.
    EXPECT_TRUE(
        stored({.sessions = {session(u"keep me", Encoding::utf8, LineEnding::crlf, {}, true),
                             session(u"caf\u00E9\n", Encoding::windows_1252, LineEnding::lf, latin,
                                     false)},
                .active = 1}));
    EXPECT_TRUE(status_becomes(L""));
}

// The path the recovery status names after `note`, empty when it has no such note.
std::filesystem::path noted_path(const wchar_t* note = kept_store_note) {
    const std::wstring& status = recovery_status();
    const std::size_t at = status.find(note);
    if (at == std::wstring::npos) {
        return {};
    }
    const std::size_t from = at + wcslen(note);
    return status.substr(from, status.find(L". ", from) - from);
}

// ---- Restoring --------------------------------------------------------------------------------

TEST_F(RecoveryStore, ASessionThatCannotComeBackIsSkippedAndTheOthersStillDo) {
    const auto latin = file("latin.txt", "caf\xE9\n");
    const auto grown = file("grown.txt", std::string(document_limit + 1, 'a'));
    const auto changed = file("changed.md", "new text\n");
    const auto draft = file("draft.md", "on disk\n");
    const Workspace workspace{
        .sessions = {session(u"untitled draft", Encoding::utf8, LineEnding::crlf, {}, true),
                     session(u"caf\u00E9\n", Encoding::windows_1252, LineEnding::lf, latin, false),
                     session(u"small\n", Encoding::utf8, LineEnding::lf, grown, false),
                     session(u"old text\n", Encoding::utf8, LineEnding::lf, changed, false),
                     session(u"draft text", Encoding::utf8, LineEnding::crlf, draft, true)},
        .active = 3};
    write_store(workspace);
    const std::string stored = test::store_bytes(workspace);

    restore_session();

    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text,
              L"Unsaved tabs from the previous session are available. Restore those drafts?");
    EXPECT_EQ(boxes_[0].caption, L"Recover tabs");
    EXPECT_EQ(boxes_[0].style, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    ASSERT_EQ(tabs.size(), 5u);
    // The blank tab took the untitled draft.
    EXPECT_TRUE(tabs[0]->path.empty());
    EXPECT_EQ(tab_text(*tabs[0]), u"untitled draft");
    EXPECT_TRUE(modified(*tabs[0]));
    EXPECT_TRUE(tabs[0]->recovered_draft);
    // A Windows-1252 file that still holds the stored text opens from disk, unmodified, in the
    // encoding it was kept in: the user is not asked for it again.
    EXPECT_EQ(tabs[1]->path, latin);
    EXPECT_EQ(tabs[1]->encoding, 4u);
    EXPECT_EQ(tab_text(*tabs[1]), u"caf\u00E9\n");
    EXPECT_EQ(tasks_asked_, 0);
    EXPECT_FALSE(modified(*tabs[1]));
    // A file changed since the tab was stored holding its saved text: the file as it is now
    // opens, unmodified. Nothing in this store checks that the text was saved: it comes beside.
    EXPECT_EQ(tabs[2]->path, changed);
    EXPECT_EQ(tab_text(*tabs[2]), u"new text\n");
    EXPECT_FALSE(modified(*tabs[2]));
    EXPECT_FALSE(tabs[2]->recovered_draft);
    EXPECT_EQ(tabs[2]->disk_bytes, "new text\n");
    EXPECT_EQ(tabs[3]->path, draft);
    EXPECT_EQ(tab_text(*tabs[3]), u"draft text");
    EXPECT_TRUE(modified(*tabs[3]));
    EXPECT_FALSE(tabs[3]->disk_check_pending);
    EXPECT_TRUE(tabs[3]->disk_bytes.empty());
    EXPECT_EQ(tab_name(*tabs[4]), L"changed.md (other version)");
    EXPECT_EQ(tab_text(*tabs[4]), u"old text\n");
    EXPECT_EQ(active, 2u);
    // The store that held the skipped session goes aside before anything is stored over it.
    const std::filesystem::path kept = noted_path(kept_intact_note);
    EXPECT_EQ(recovery_status(),
              std::wstring(recovery_unreadable_text) + L". " + kept_intact_note + kept.wstring());
    EXPECT_EQ(read_file_bytes(kept, recovery_container_limit), stored);
    // The status strip shows it.
    wchar_t strip[512] = {};
    GetWindowTextW(chrome.status_strip, strip, 512);
    EXPECT_NE(std::wstring(strip).find(recovery_unreadable_text), std::wstring::npos) << strip;
    EXPECT_FALSE(restoring_session());
    // Restored tabs do not enter the recent files.
    EXPECT_TRUE(settings.recent.empty());
}

TEST_F(RecoveryStore, TwoDraftsOfOneFileEndInOneTabHoldingTheLaterDraft) {
    const auto path = file("twice.md", "on disk\n");
    write_store({.sessions = {session(u"earlier", Encoding::utf8, LineEnding::lf, path, true),
                              session(u"later", Encoding::utf8, LineEnding::lf, path, true)},
                 .active = 1});
    restore_session();
    ASSERT_EQ(tabs.size(), 1u);
    EXPECT_EQ(current_tab().path, path);
    EXPECT_EQ(tab_text(current_tab()), u"later");
    EXPECT_TRUE(modified(current_tab()));
}

TEST_F(RecoveryStore, ADraftOfAStoreWrittenBesideTheOtherComesInATabNamedForItsFile) {
    // Neither store took the other over (the run that stored beside could not read "tabs.bin"):
    // both drafts come back, whichever the numbers favour.
    const auto path = file("both.md", "on disk\n");
    const Session first = session(u"first draft", Encoding::utf8, LineEnding::lf, path, true);
    const Session second = session(u"second draft", Encoding::utf8, LineEnding::lf, path, true);
    std::filesystem::create_directories(store_folder());
    test::write_bytes(tabs_file(), test::lone_store(1, 900, first));
    test::write_bytes(beside_file(), test::lone_store(2, 5, second));
    restore_session();
    ASSERT_EQ(tabs.size(), 2u);
    EXPECT_EQ(tabs[0]->path, path);
    EXPECT_EQ(tab_text(*tabs[0]), u"first draft");
    EXPECT_TRUE(tabs[1]->path.empty());
    EXPECT_EQ(tab_text(*tabs[1]), u"second draft");
    EXPECT_TRUE(modified(*tabs[1]));
    EXPECT_EQ(tab_name(*tabs[1]), L"both.md (other version)");
    select_tab(1, false);
    wchar_t title[64] = {};
    GetWindowTextW(main_window, title, 64);
    EXPECT_STREQ(title, L"both.md (other version) * - Pellix");
    EXPECT_NE(tabs[0]->recovery_tab, tabs[1]->recovery_tab);
    // The name outlives the next store and start.
    store_session(false, true);
    ASSERT_TRUE(test::pump_until([&] {
        const std::optional<Workspace> both = test::stored_workspace(tabs_file());
        return both && both->sessions.size() == 2 && !std::filesystem::exists(beside_file());
    }));
    end_run_as_a_crash();
    restore_session();
    ASSERT_EQ(tabs.size(), 2u);
    EXPECT_EQ(tab_name(*tabs[1]), L"both.md (other version)");
}

TEST_F(RecoveryStore, AtTheTabLimitTheRestoreStopsAndKeepsWhatItRestored) {
    type(L"kept");
    while (tabs.size() < tab_limit - 1) {
        SendMessageW(window_, WM_COMMAND, 100, 0);
    }
    const Workspace two{
        .sessions = {session(u"fits", Encoding::utf8, LineEnding::lf, {}, true),
                     session(u"one too many", Encoding::utf8, LineEnding::lf, {}, true)},
        .active = 0};
    write_store(two);
    boxes_.clear();
    restore_session();
    ASSERT_EQ(tabs.size(), tab_limit);
    EXPECT_EQ(tab_text(*tabs.back()), u"fits");
    EXPECT_FALSE(restoring_session());
    // Only the question about the drafts was shown; the refusal went to the status strip.
    EXPECT_EQ(boxes_.size(), 1u);

    // The draft that found no tab is in the copy the status names, and stays there when the
    // restored tabs are stored.
    const std::filesystem::path kept = noted_path(kept_intact_note);
    EXPECT_EQ(recovery_status(),
              std::wstring(recovery_unreadable_text) + L". " + kept_intact_note + kept.wstring());
    // Until the first store is on disk, a start after a crash finds every draft in "tabs.bin".
    EXPECT_EQ(test::stored_workspace(tabs_file()), two);
    store_session(false, true);
    EXPECT_TRUE(stored({.sessions = {session(u"kept", Encoding::utf8, LineEnding::crlf, {}, true),
                                     two.sessions[0]},
                        .active = 1}));
    EXPECT_TRUE(status_becomes(kept_intact_note + kept.wstring()));
    EXPECT_EQ(read_tab_recovery(read_file_bytes(kept, recovery_container_limit)), two);
}

// Another program opening "tabs.bin" with no sharing, as a backup or a virus scanner does.
UniqueHandle hold_with_no_sharing(const std::filesystem::path& path) {
    return UniqueHandle(
        CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
}

TEST_F(RecoveryStore, AStoreHeldMidRunGoesBesideAtOnceIsTriedAgainAndComesBackOnceFree) {
    const Session first = draft_of(u"first", LineEnding::crlf);
    const Session second = draft_of(u"second", LineEnding::crlf);
    const std::filesystem::path beside = beside_file();
    type(L"first");
    store_session(false, true);
    ASSERT_TRUE(stored({.sessions = {first}, .active = 0}));
    {
        UniqueHandle holder = hold_with_no_sharing(tabs_file());
        ASSERT_TRUE(holder.valid());
        SendMessageW(window_, WM_COMMAND, 100, 0);
        type(L"second");
        store_session(false, true);
        EXPECT_TRUE(test::pump_until([&] {
            return test::stored_workspace(beside) ==
                   Workspace{.sessions = {first, second}, .active = 1};
        }));
        EXPECT_TRUE(status_becomes(stored_beside_note + beside.wstring()));
        // Both held: the store fails, and is tried again on its own once one is free.
        UniqueHandle beside_holder = hold_with_no_sharing(beside);
        ASSERT_TRUE(beside_holder.valid());
        type(L"!");
        store_session(false, true);
        EXPECT_TRUE(status_becomes(std::wstring(recovery_unavailable_text) + L". " +
                                   stored_beside_note + beside.wstring()));
    }
    EXPECT_TRUE(test::pump_until([&] {
        take_recovery_writer_result();
        return test::stored_workspace(tabs_file()) ==
               Workspace{.sessions = {first, draft_of(u"second!", LineEnding::crlf)}, .active = 1};
    }));
    EXPECT_TRUE(test::pump_until([&] { return !std::filesystem::exists(beside); }));
    EXPECT_TRUE(status_becomes(L""));
}

TEST_F(RecoveryStore, AHeldSessionBinIsNeverHiddenBehindANewTabsBin) {
    std::filesystem::create_directories(store_folder());
    test::write_bytes(session_file(), test::store_bytes(one_draft(u"older draft")).substr(20));
    {
        UniqueHandle holder = hold_with_no_sharing(session_file());
        ASSERT_TRUE(holder.valid());
        restore_session();
        EXPECT_EQ(recovery_status(), std::wstring(recovery_unreadable_text) + L". " +
                                         held_file_note + session_file().wstring());
        type(L"new draft");
        store_session(false, true);
        EXPECT_TRUE(
            test::pump_until([&] { return test::stored_workspace(beside_file()).has_value(); }));
        EXPECT_FALSE(std::filesystem::exists(tabs_file()));
    }
    end_run_as_a_crash();
    restore_session();
    ASSERT_EQ(tabs.size(), 2u);
    EXPECT_EQ(tab_text(*tabs[0]), u"older draft");
    EXPECT_EQ(tab_text(*tabs[1]), u"new draft");
}

TEST_F(RecoveryStore, ACopyNamedForADraftLeftOutIsNotPrunedByLaterStarts) {
    while (tabs.size() < tab_limit) {
        SendMessageW(window_, WM_COMMAND, 100, 0);
        type(L"open");
    }
    // "tabs.bin" stays held: every start reads the drafts beside it and keeps a copy.
    write_store(one_draft(u"held"));
    test::write_bytes(beside_file(), test::store_bytes(one_draft(u"left out")));
    UniqueHandle holder = hold_with_no_sharing(tabs_file());
    ASSERT_TRUE(holder.valid());
    restore_session();
    const std::filesystem::path kept = noted_path(kept_intact_note);
    ASSERT_FALSE(kept.empty()) << recovery_status();
    for (int start = 0; start < 4; ++start) {
        store_session(false, true);
        EXPECT_TRUE(test::pump_until([&] {
            take_recovery_writer_result();
            return recovery_status().find(stored_beside_note) != std::wstring::npos;
        }));
        restore_session();
    }
    EXPECT_EQ(test::stored_workspace(kept), one_draft(u"left out"));
}

TEST_F(RecoveryStore, DeclinedDraftsReopenTheirFilesAndDropUntitledOnes) {
    const auto draft = file("draft.md", "on disk\n");
    write_store({.sessions = {session(u"untitled", Encoding::utf8, LineEnding::crlf, {}, true),
                              session(u"edited", Encoding::utf8, LineEnding::lf, draft, true)},
                 .active = 0});
    box_answer_ = IDNO;
    EXPECT_TRUE(restore_session());
    ASSERT_EQ(tabs.size(), 1u);
    EXPECT_EQ(current_tab().path, draft);
    EXPECT_EQ(tab_text(current_tab()), u"on disk\n");
    EXPECT_FALSE(modified(current_tab()));
    // The drafts refused are let go at once, as a Save's draft is.
    EXPECT_TRUE(lands_without_messages(
        {.sessions = {session(u"on disk\n", Encoding::utf8, LineEnding::lf, draft, false)},
         .active = 0}));
}

// A tab stored while it held its saved text is never offered as a draft: where its file has
// changed since, the file as it is on disk opens, and a Save cannot put the older text over it.
// Where nothing checks that the record was saved (an earlier version's store, whose draft flag
// may have gone bad), its text comes beside the file as another version; where the file is gone,
// in the file's tab.
TEST_F(RecoveryStore, ATabStoredWithItsSavedTextOpensItsFileAsItIsNow) {
    const auto path = file("t.md", "TTT s0 v1 v2\n");
    const Session saved = session(u"TTT s0\n", Encoding::utf8, LineEnding::lf, path, false);
    std::filesystem::create_directories(store_folder());
    test::write_bytes(tabs_file(), test::lone_store(1, 5, saved));
    EXPECT_FALSE(restore_session());
    EXPECT_TRUE(boxes_.empty());
    ASSERT_EQ(tabs.size(), 1u);
    EXPECT_EQ(current_tab().path, path);
    EXPECT_EQ(tab_text(current_tab()), u"TTT s0 v1 v2\n");
    EXPECT_FALSE(modified(current_tab()));
    EXPECT_FALSE(current_tab().recovered_draft);
    store_session(false, true);
    EXPECT_TRUE(stored(
        {.sessions = {session(u"TTT s0 v1 v2\n", Encoding::utf8, LineEnding::lf, path, false)},
         .active = 0}));

    end_run_as_a_crash();
    write_store({.sessions = {saved}, .active = 0});
    restore_session();
    ASSERT_EQ(tabs.size(), 2u);
    EXPECT_EQ(tab_text(*tabs[0]), u"TTT s0 v1 v2\n");
    EXPECT_EQ(tab_name(*tabs[1]), L"t.md (other version)");
    EXPECT_EQ(tab_text(*tabs[1]), u"TTT s0\n");

    end_run_as_a_crash();
    std::filesystem::remove(path);
    test::write_bytes(tabs_file(), test::lone_store(1, 5, saved));
    restore_session();
    ASSERT_EQ(tabs.size(), 1u);
    EXPECT_EQ(current_tab().path, path);
    EXPECT_EQ(tab_text(current_tab()), u"TTT s0\n");
    EXPECT_TRUE(modified(current_tab()));
}

TEST_F(RecoveryStore, ACorruptStoreRestoresNothingAndGoesAsideWithTheUnreadSessionBin) {
    const std::string valid = test::store_bytes(
        {.sessions = {session(u"lost", Encoding::utf8, LineEnding::lf, {}, true)}, .active = 0});
    std::string bad_magic = valid;
    bad_magic[0] = 'Q';
    // The older single record is not consulted while the container is there.
    const std::string record = valid.substr(20);
    std::filesystem::create_directories(store_folder());
    for (const std::string& corrupt : {valid.substr(0, valid.size() - 1), bad_magic}) {
        test::write_bytes(tabs_file(), corrupt);
        test::write_bytes(session_file(), record);
        restore_session();
        EXPECT_TRUE(boxes_.empty());
        EXPECT_EQ(tabs.size(), 1u);
        EXPECT_EQ(GetWindowTextLengthW(chrome.editor), 0);
        const std::filesystem::path kept = noted_path();
        // The single record beside it is not read, and the next store would delete it.
        const std::filesystem::path kept_record = noted_path(kept_intact_note);
        const std::wstring notes =
            kept_store_note + kept.wstring() + L". " + kept_intact_note + kept_record.wstring();
        EXPECT_EQ(recovery_status(), std::wstring(recovery_unreadable_text) + L". " + notes);
        EXPECT_EQ(kept.parent_path(), store_folder());
        EXPECT_EQ(read_file_bytes(kept, document_limit), corrupt);
        EXPECT_EQ(read_file_bytes(kept_record, document_limit), record);
        // The damaged store stays where the next start reads it until a store replaces it.
        EXPECT_EQ(read_file_bytes(tabs_file(), document_limit), corrupt);
        EXPECT_FALSE(std::filesystem::exists(session_file()));
        // A blank tab leaves nothing to keep; the notes of the kept copies stay.
        store_session(false, true);
        EXPECT_TRUE(status_becomes(notes));
        EXPECT_FALSE(std::filesystem::exists(tabs_file()));
        EXPECT_TRUE(std::filesystem::exists(kept));
        EXPECT_TRUE(std::filesystem::exists(kept_record));
    }

    // Only the single record: it comes back, and the next store replaces it by a container.
    test::write_bytes(session_file(), record);
    restore_session();
    EXPECT_EQ(recovery_status(), L"");
    EXPECT_EQ(tab_text(current_tab()), u"lost");
    store_session(false, true);
    EXPECT_TRUE(stored(
        {.sessions = {session(u"lost", Encoding::utf8, LineEnding::lf, {}, true)}, .active = 0}));
    // The writer removes the single record after it has put the container in place.
    EXPECT_TRUE(test::pump_until([&] { return !std::filesystem::exists(session_file()); }));
}

TEST_F(RecoveryStore, ADamagedStoreIsKeptAsItIsAndTheDraftsBeforeTheDamageComeBack) {
    const Workspace three{
        .sessions = {session(u"first draft", Encoding::utf8, LineEnding::lf, {}, true),
                     session(u"second draft", Encoding::utf8, LineEnding::lf, {}, true),
                     session(u"third draft", Encoding::utf8, LineEnding::lf, {}, true)},
        .active = 1};
    const std::string whole = test::store_bytes(three);
    // Every cut and flipped byte is the format's own test; here one store loses its third
    // record to a cut, another its first to a flipped byte inside it.
    const std::size_t third_starts = whole.rfind("PELLIX2\n") - 4;
    std::string flipped = whole;
    flipped[30] = static_cast<char>(flipped[30] ^ 0x80);
    struct Damage {
        std::string bytes;
        std::size_t first;
        std::size_t intact;
        std::uint64_t active;
    };
    const std::vector<Damage> damages = {{whole.substr(0, third_starts + 10), 0, 2, 1},
                                         {flipped, 1, 2, 0}};
    std::filesystem::create_directories(store_folder());
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.bytes.size());
        end_run_as_a_crash();
        boxes_.clear();
        test::write_bytes(tabs_file(), damage.bytes);

        restore_session();

        EXPECT_EQ(boxes_.size(), 1u);
        const auto first = three.sessions.begin() + static_cast<std::ptrdiff_t>(damage.first);
        const Workspace intact{.sessions = std::vector<Session>(
                                   first, first + static_cast<std::ptrdiff_t>(damage.intact)),
                               .active = damage.active};
        ASSERT_EQ(tabs.size(), std::max<std::size_t>(damage.intact, 1));
        for (std::size_t i = 0; i < damage.intact; ++i) {
            EXPECT_EQ(tab_text(*tabs[i]), intact.sessions[i].text);
            EXPECT_TRUE(tabs[i]->recovered_draft);
        }
        const std::filesystem::path kept = noted_path();
        EXPECT_EQ(recovery_status(), std::wstring(recovery_unreadable_text) + L". " +
                                         kept_store_note + kept.wstring());
        EXPECT_EQ(read_file_bytes(kept, recovery_container_limit), damage.bytes);

        // The next store writes a new store and leaves the kept copy as it was.
        store_session(false, true);
        EXPECT_TRUE(stored(intact));
        EXPECT_TRUE(status_becomes(kept_store_note + kept.wstring()));
        EXPECT_EQ(read_file_bytes(kept, recovery_container_limit), damage.bytes);
    }
    // The user deletes the copy: the status no longer names it, with no store needed.
    std::filesystem::remove(noted_path());
    EXPECT_TRUE(status_becomes(L""));
    // A start with nothing stored forgets the kept copy.
    std::filesystem::remove(tabs_file());
    restore_session();
    EXPECT_EQ(recovery_status(), L"");
    // The question failing (it allocates) still keeps the damaged store before any store.
    end_run_as_a_crash();
    test::write_bytes(tabs_file(), flipped);
    install_message_box([](const MessageBoxRequest&) -> int {
        throw std::runtime_error("The box could not be shown.");
    });
    restore_session();
    EXPECT_EQ(read_file_bytes(noted_path(kept_left_out_note), recovery_container_limit), flipped);
}

TEST_F(RecoveryStore, AStoreThatCannotBeOpenedIsLeftAsItIsAndTheNewDraftsGoBesideIt) {
    const Workspace old{
        .sessions = {session(u"old draft", Encoding::utf8, LineEnding::lf, {}, true)}, .active = 0};
    write_store(old);
    const std::string old_bytes = test::store_bytes(old);
    const std::filesystem::path beside = store_folder() / "tabs.bin.beside";
    {
        ScopedAtomicSaveCalls held({.write_file = {},
                                    .replace_file = {},
                                    .move_file = {},
                                    .open_for_reading = [&](const wchar_t* path) -> void* {
                                        if (tabs_file() == path) {
                                            SetLastError(ERROR_SHARING_VIOLATION);
                                            return INVALID_HANDLE_VALUE;
                                        }
                                        return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ,
                                                           nullptr, OPEN_EXISTING, 0, nullptr);
                                    }});
        restore_session();
        EXPECT_TRUE(boxes_.empty());
        EXPECT_EQ(GetWindowTextLengthW(chrome.editor), 0);
        EXPECT_EQ(recovery_status(), std::wstring(recovery_unreadable_text) + L". " +
                                         held_file_note + tabs_file().wstring());
        type(L"new draft");
        store_session(false, true);
        EXPECT_TRUE(test::pump_until([&] {
            return test::stored_workspace(beside) ==
                   Workspace{.sessions = {session(u"new draft", Encoding::utf8, LineEnding::crlf,
                                                  {}, true)},
                             .active = 0};
        }));
        EXPECT_TRUE(status_becomes(held_file_note + tabs_file().wstring() + L". " +
                                   stored_beside_note + beside.wstring()));
    }
    EXPECT_EQ(read_file_bytes(tabs_file(), recovery_container_limit), old_bytes);

    // The next start offers the drafts of both, and its first store holds them in "tabs.bin".
    end_run_as_a_crash();
    restore_session();
    EXPECT_EQ(boxes_.size(), 1u);
    ASSERT_EQ(tabs.size(), 2u);
    EXPECT_EQ(tab_text(*tabs[0]), u"old draft");
    EXPECT_EQ(tab_text(*tabs[1]), u"new draft");
    EXPECT_EQ(recovery_status(), L"");
    // A crash before the first store finds both files as they were.
    EXPECT_EQ(read_file_bytes(tabs_file(), recovery_container_limit), old_bytes);
    EXPECT_EQ(test::stored_workspace(beside), one_draft(u"new draft", LineEnding::crlf));
    store_session(false, true);
    EXPECT_TRUE(
        stored({.sessions = {session(u"old draft", Encoding::utf8, LineEnding::lf, {}, true),
                             session(u"new draft", Encoding::utf8, LineEnding::crlf, {}, true)},
                .active = 1}));
    // Once that store is on disk the store beside goes, so no later start offers it again.
    EXPECT_TRUE(test::pump_until([&] { return !std::filesystem::exists(beside); }));
}

TEST_F(RecoveryStore, ADamagedStoreThatCannotBeMovedKeepsItsBytesAndTheStoresGoBesideIt) {
    const std::string whole = test::store_bytes(
        {.sessions = {session(u"intact", Encoding::utf8, LineEnding::lf, {}, true),
                      session(u"cut", Encoding::utf8, LineEnding::lf, {}, true)},
         .active = 0});
    const std::string damaged = whole.substr(0, whole.size() - 1);
    const std::filesystem::path beside = store_folder() / "tabs.bin.beside";
    std::filesystem::create_directories(store_folder());
    const auto hold_store = [&] {
        // Readable, but neither movable nor replaceable while this handle is open.
        return UniqueHandle(CreateFileW(tabs_file().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    };

    // Locked for the whole run: every store goes beside it, also after more edits.
    test::write_bytes(tabs_file(), damaged);
    std::filesystem::path kept;
    {
        UniqueHandle holder = hold_store();
        ASSERT_TRUE(holder.valid());
        restore_session();
        ASSERT_EQ(tabs.size(), 1u);
        EXPECT_EQ(tab_text(current_tab()), u"intact");
        kept = noted_path();
        EXPECT_EQ(recovery_status(), std::wstring(recovery_unreadable_text) + L". " +
                                         kept_store_note + kept.wstring());
        EXPECT_EQ(read_file_bytes(kept, recovery_container_limit), damaged);
        for (const wchar_t* edit : {L"1", L"2"}) {
            type(edit);
            store_session(false, true);
            EXPECT_TRUE(status_becomes(kept_store_note + kept.wstring() + L". " +
                                       stored_beside_note + beside.wstring()));
        }
        EXPECT_TRUE(test::pump_until([&] {
            const auto stored = test::stored_workspace(beside);
            return stored && stored->sessions[0].text == u"12intact";
        }));
        EXPECT_EQ(read_file_bytes(tabs_file(), recovery_container_limit), damaged);
    }

    // Let go once free: the close's store goes back to its place, which then offers nothing, the
    // file beside goes, and the status names only the copy still there.
    close_current_tab([] { return true; });
    EXPECT_TRUE(status_becomes(kept_store_note + kept.wstring()));
    EXPECT_FALSE(std::filesystem::exists(beside));
    const std::optional<Workspace> left = test::stored_workspace(tabs_file());
    EXPECT_TRUE(!left || left->sessions == std::vector<Session>{Session{}});
    std::filesystem::remove(kept);
    type(L"!");
    store_session(false, true);
    EXPECT_TRUE(test::pump_until([&] {
        const std::optional<Workspace> now = test::stored_workspace(tabs_file());
        return now && now->sessions.size() == 1 && now->sessions[0].text == u"!";
    }));
    EXPECT_TRUE(status_becomes(L""));
}

TEST_F(RecoveryStore, PathsHandedOverDuringTheRestoreWaitUntilItHasEnded) {
    const auto latin = file("latin.txt", "caf\xE9\n");
    const auto handed = file("handed.md", "# handed\n");
    write_store(
        {.sessions = {session(u"edited", Encoding::windows_1252, LineEnding::lf, latin, true)},
         .active = 0});
    box_answer_ = IDNO; // the declined draft reopens its file, which asks for an encoding
    std::size_t queued_during_restore = 0;
    install_task_dialog([&](const TASKDIALOGCONFIG&) {
        pending_paths.push_back(handed);
        SendMessageW(window_, WM_APP_OPEN_QUEUED, 0, 0);
        queued_during_restore = pending_paths.size();
        return 100;
    });
    restore_session();
    EXPECT_EQ(queued_during_restore, 1u);
    ASSERT_EQ(tabs.size(), 1u);
    EXPECT_EQ(current_tab().path, latin);

    SendMessageW(window_, WM_APP_OPEN_QUEUED, 0, 0);
    EXPECT_EQ(current_tab().path, handed);
    EXPECT_TRUE(pending_paths.empty());
}

TEST_F(RecoveryStore, TheFirstRunOpensTheWelcomeDocumentInSplitViewOnce) {
    command_line_named_files = true;
    restore_and_welcome();
    EXPECT_TRUE(current_tab().path.empty());

    command_line_named_files = false;
    restore_and_welcome();
    const auto welcome = store_folder() / "hello.md";
    EXPECT_EQ(read_file_bytes(welcome, document_limit), std::string(welcome_document_text()));
    EXPECT_EQ(current_tab().path, welcome);
    EXPECT_EQ(settings.view, view_split);
    EXPECT_EQ(key_.dword(L"WelcomeShown"), 1u);

    close_current_tab([] { return true; });
    restore_and_welcome();
    EXPECT_TRUE(current_tab().path.empty());
}

// ---- Recent files -----------------------------------------------------------------------------

class RecentFiles : public RecoveryStore {
protected:
    static std::vector<std::wstring> menu_items(HMENU menu) {
        std::vector<std::wstring> items;
        for (int i = 0; i < GetMenuItemCount(menu); ++i) {
            wchar_t text[512] = {};
            GetMenuStringW(menu, static_cast<UINT>(i), text, 512, MF_BYPOSITION);
            const UINT state = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
            const bool separator = (state & MF_SEPARATOR) != 0;
            std::wstring item = separator ? L"-" : text;
            if (!separator && (state & MF_GRAYED) != 0) {
                item += L" (grey)";
            }
            items.push_back(item + L" #" + std::to_wstring(GetMenuItemID(menu, i)));
        }
        return items;
    }
};

TEST_F(RecentFiles, OneEntryPerFileNewestFirstAndAtMostTwelve) {
    std::vector<std::filesystem::path> paths;
    for (int i = 0; i < 13; ++i) {
        const std::string number = std::to_string(i);
        paths.push_back(file(std::string("f").append(number).append(".md"),
                             std::string("# ").append(number).append("\n")));
        open_path(paths.back());
    }
    ASSERT_EQ(settings.recent.size(), 12u);
    EXPECT_EQ(settings.recent.front().path, paths[12].wstring());
    EXPECT_EQ(settings.recent.back().path, paths[1].wstring());

    // The same file in another letter case selects its tab and moves its entry to the front.
    std::wstring upper = paths[5].wstring();
    upper.back() = L'D';
    open_path(upper);
    ASSERT_EQ(settings.recent.size(), 12u);
    EXPECT_EQ(settings.recent.front().path, paths[5].wstring());
    EXPECT_EQ(std::count_if(settings.recent.begin(), settings.recent.end(),
                            [&](const RecentFile& entry) {
                                return _wcsicmp(entry.path.c_str(), upper.c_str()) == 0;
                            }),
              1);
    // Each change is saved at once, with the view the file is shown in.
    SendMessageW(window_, WM_COMMAND, view_preview, 0);
    EXPECT_EQ(load_settings(test_key).recent.front().path, paths[5].wstring());
    EXPECT_EQ(load_settings(test_key).recent.front().view, view_preview);
    // Untitled tabs never enter the list.
    new_tab();
    EXPECT_EQ(settings.recent.front().path, paths[5].wstring());
}

TEST_F(RecentFiles, TheMenuNumbersTheNewestSixAndShortensWhatItShows) {
    menus.recent = CreatePopupMenu();
    rebuild_recent_menu();
    EXPECT_EQ(menu_items(menus.recent),
              (std::vector<std::wstring>{L"No recent files (grey) #0", L"- #0",
                                         L"Clear recent files (grey) #650"}));

    // Longer than the system's path limit: the shell's compaction does not take it.
    const std::wstring deep = L"C:\\" + std::wstring(300, L'd') + L"\\notes.md";
    const std::wstring middle = L"C:\\projects\\" + std::wstring(80, L'm') + L"\\plan.md";
    settings.recent = {{deep, view_source}, {L"C:\\R&D\\a&b.md", view_split}, {middle, 300}};
    for (int i = 0; i < 5; ++i) {
        settings.recent.push_back({L"C:\\f" + std::to_wstring(i) + L".md", view_source});
    }
    rebuild_recent_menu();
    const std::vector<std::wstring> items = menu_items(menus.recent);
    ASSERT_EQ(items.size(), 8u);
    EXPECT_EQ(items[1], L"&2 C:\\R&&D\\a&&b.md #601");
    EXPECT_EQ(items[5], L"&6 C:\\f2.md #605");
    EXPECT_EQ(items[6], L"- #0");
    EXPECT_EQ(items[7], L"Clear recent files #650");
    for (const std::wstring& label : {recent_menu_label(0, deep), recent_menu_label(2, middle)}) {
        EXPECT_LE(label.size(), 3u + 59u) << label;
        EXPECT_NE(label.find(L"..."), std::wstring::npos) << label;
    }
    EXPECT_EQ(recent_menu_label(0, deep).substr(0, 6), L"&1 C:\\");
    EXPECT_EQ(recent_menu_label(0, deep).substr(recent_menu_label(0, deep).size() - 9),
              L"\\notes.md");
    // A surrogate pair cut by the shortening would show as two broken halves.
    std::wstring paired;
    for (wchar_t unit : std::wstring(300, L'p')) {
        paired += unit == L'p' ? L"\xD83D\xDE00" : L"";
    }
    const std::wstring emoji_label = compact_recent_path(L"C:\\" + paired);
    EXPECT_LE(emoji_label.size(), 59u);
    EXPECT_FALSE(emoji_label[3] >= 0xDC00 && emoji_label[3] <= 0xDFFF);
    for (std::size_t i = 0; i + 1 < emoji_label.size(); ++i) {
        const bool high = emoji_label[i] >= 0xD800 && emoji_label[i] <= 0xDBFF;
        const bool low_next = emoji_label[i + 1] >= 0xDC00 && emoji_label[i + 1] <= 0xDFFF;
        EXPECT_EQ(high, low_next) << i;
    }

    clear_recent_files();
    EXPECT_EQ(menu_items(menus.recent).front(), L"No recent files (grey) #0");
    EXPECT_TRUE(load_settings(test_key).recent.empty());
    DestroyMenu(menus.recent);
}

TEST_F(RecentFiles, AnEntryReopensInItsViewAndAMissingFileOpensNothing) {
    const auto shown = file("shown.md", "# Shown\n");
    settings.recent = {{(folder_ / "missing.md").wstring(), view_source},
                       {shown.wstring(), view_preview}};
    open_recent_file(1);
    EXPECT_EQ(current_tab().path, shown);
    EXPECT_EQ(settings.view, view_preview);
    EXPECT_EQ(settings.recent.front().path, shown.wstring());

    open_recent_file(1);
    EXPECT_EQ(tabs.size(), 1u);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, L"Could not open the file for reading.");
    // Out of range: nothing.
    open_recent_file(6);
    EXPECT_EQ(tabs.size(), 1u);
    EXPECT_EQ(boxes_.size(), 1u);
}

} // namespace
} // namespace pellix
