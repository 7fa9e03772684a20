#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <richedit.h>
#include <tlhelp32.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/compare_commands.h"
#include "app/compare_controller.h"
#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_window_create.h"
#include "app/main_window_state.h"
#include "app/palette.h"
#include "app/settings.h"
#include "app/status_strip.h"
#include "app/views.h"
#include "app/watch_controller.h"
#include "core/limits.h"
#include "core/message_box.h"
#include "editor/source_interface.h"
#include "editor/source_record.h"
#include "platform/uia_core.h"
#include "platform/unique_handle.h"
#include "tests/app/chrome_capture.h"
#include "tests/app/in_process_main_window.h"
#include "tests/app/message_pump.h"
#include "tests/app/panes_window.h"
#include "tests/app/settings_key_guard.h"
#include "tests/scratch_folder.h"
#include "tracking/line_diff.h"

namespace pellix {
namespace {

const std::wstring test_key = L"Software\\Orvelworks\\Pellix Native Compare Test";

std::u16string utf16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// Numbered lines "line 0" .. "line n-1", each ended by `newline`.
std::string numbered_lines(int count, const char* newline = "\n") {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "line " + std::to_string(i) + newline;
    }
    return text;
}

ChangeMarks editor_marks(HWND editor) {
    const Source* source = source_record(editor);
    return source != nullptr ? ChangeMarks{source->line_marks, source->deletion_marks}
                             : ChangeMarks{};
}

std::uint64_t caret_of(HWND editor) {
    CHARRANGE selection{};
    SendMessageW(editor, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    return static_cast<std::uint64_t>(selection.cpMax);
}

std::uint64_t line_start_of(HWND editor, std::uint64_t line) {
    return static_cast<std::uint64_t>(SendMessageW(editor, EM_LINEINDEX, line, 0));
}

// The threads of this process, by Toolhelp.
int thread_count() {
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more;
         more = Thread32Next(snapshot.get(), &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    }
    return count;
}

DWORD handle_count() {
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

// Appends `text` to `path` from another process, as an editor or a log writer would.
bool append_from_another_process(const std::filesystem::path& path, const std::wstring& line) {
    std::wstring command = L"cmd.exe /c echo " + line + L">>\"" + path.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
        return false;
    }
    UniqueHandle process_handle(process.hProcess);
    UniqueHandle thread_handle(process.hThread);
    return WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0;
}

// What a screen reader would be told while this lives: UI Automation is made to have a listening
// client, and each notification's text is kept.
class HeardAnnouncements {
public:
    HeardAnnouncements() : saved_(uia::core_functions()) {
        heard().clear();
        uia::CoreFunctions& core = uia::core_functions();
        core.clients_are_listening = []() -> BOOL { return TRUE; };
        core.raise_notification_event = [](IRawElementProviderSimple*, NotificationKind,
                                           NotificationProcessing, BSTR text, BSTR) -> HRESULT {
            heard().emplace_back(text);
            return S_OK;
        };
    }
    ~HeardAnnouncements() { uia::core_functions() = saved_; }
    HeardAnnouncements(const HeardAnnouncements&) = delete;
    HeardAnnouncements& operator=(const HeardAnnouncements&) = delete;

    static std::vector<std::wstring>& heard() {
        static std::vector<std::wstring> texts;
        return texts;
    }

private:
    uia::CoreFunctions saved_;
};

// Waits, serving nothing else, until a worker posts `message` to `window`; the test then runs
// the handler itself, so that no timer interleaves.
bool take_posted(HWND window, UINT message) {
    const ULONGLONG deadline = GetTickCount64() + 10000;
    MSG posted{};
    while (!PeekMessageW(&posted, window, message, message, PM_REMOVE)) {
        if (GetTickCount64() > deadline) {
            return false;
        }
        Sleep(5);
    }
    return true;
}

// What a test sees of one compare pass, served message by message.
struct PassSeen {
    bool applied = false;
    // Read right after the message that handed the pass to the worker: the hand-over came no
    // later than this.
    std::uint64_t handed_over_by = 0;
    // Until the pass was applied the editor kept the marks it had.
    bool old_marks_kept = true;
};

// Serves this thread's messages one at a time until the pass for the tab's latest revision is
// applied, watching the tab after each.
PassSeen follow_pass(const DocumentTab& tab) {
    PassSeen seen;
    const ChangeMarks old_marks = editor_marks(tab.editor);
    const ULONGLONG deadline = GetTickCount64() + test::settle_limit_ms;
    while (!seen.applied && GetTickCount64() < deadline) {
        MSG message{};
        if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            continue;
        }
        const bool was_pending = tab.compare_pending;
        DispatchMessageW(&message);
        if (was_pending && !tab.compare_pending && seen.handed_over_by == 0) {
            seen.handed_over_by = GetTickCount64();
        }
        seen.applied = tab.baseline && tab.compare_applied_revision == tab.revision;
        seen.old_marks_kept =
            seen.old_marks_kept && (seen.applied || editor_marks(tab.editor) == old_marks);
    }
    return seen;
}

// The real main window in this process, hidden, with its boxes answered by the test.
class CompareWatch : public ::testing::Test {
protected:
    void SetUp() override {
        instance = GetModuleHandleW(nullptr);
        saved_key_ = test::use_settings_key(test_key);
        install_message_box([this](const MessageBoxRequest& request) {
            boxes_.push_back(request.text);
            return box_answer_;
        });
        window_ = test::make_main_window();
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        if (IsWindow(window_)) {
            DestroyWindow(window_);
        }
        pump();
        test::restore_settings_key(saved_key_);
        install_message_box({});
    }

    static void pump(DWORD milliseconds = 50) { test::pump(milliseconds); }

    // Opens `path` and watches it until its first read is in.
    static DocumentTab& watched(const std::filesystem::path& path) {
        open_path(path);
        DocumentTab& tab = current_tab();
        toggle_watch(tab.id, {});
        EXPECT_EQ(tab.watch_state, 1u);
        take_first_read(tab);
        return tab;
    }

    // Hands the first read of a tab just put in Watch mode to the worker and applies its
    // result, with no timer between: the worker is then idle and the tab as its file was opened.
    static void take_first_read(const DocumentTab& tab) {
        apply_watch_reads();
        EXPECT_FALSE(tab.watch_pending);
        EXPECT_TRUE(take_posted(main_window, WM_APP_WATCH_RESULTS));
        apply_watch_reads();
    }

    std::filesystem::path write(const char* name, const std::string& bytes) {
        const std::filesystem::path path = folder_ / name;
        test::write_bytes(path, bytes);
        return path;
    }

    static bool pass_applied(const DocumentTab& tab) {
        return test::pump_until(
            [&] { return tab.baseline && tab.compare_applied_revision == tab.revision; });
    }

    void command(unsigned id) const { SendMessageW(window_, WM_COMMAND, id, 0); }

    // Types `text` over the editor's selection, as one undo step of its own.
    static void type(HWND editor, const std::u16string& text) {
        SendMessageW(editor, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
        SendMessageW(editor, EM_STOPGROUPTYPING, 0, 0);
    }

    // Replaces the editor's text with `text` as the user would, one undoable replacement.
    static void type_over(HWND editor, const std::u16string& text) {
        SendMessageW(editor, EM_SETSEL, 0, -1);
        SendMessageW(editor, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
    }

    test::SettingsKeyGuard key_{test_key};
    test::ScratchFolder folder_{"compare-watch"};
    std::wstring saved_key_;
    HWND window_ = nullptr;
    std::vector<std::wstring> boxes_;
    int box_answer_ = IDOK;
};

TEST_F(CompareWatch, CompareModeMarksTheLineDiffAndFollowsEdits) {
    const std::string old_text = "# Notes\nkeep\nold one\nold two\nkeep too\ngone\nend\n";
    const std::string new_text = "# Notes\nkeep\nnew one\nkeep too\nend\nadded\n";
    const auto old_path = write("old.md", old_text);
    const auto new_path = write("new.md", new_text);
    open_compare(old_path, new_path);

    DocumentTab& tab = current_tab();
    EXPECT_EQ(tab.path.filename(), L"new.md");
    EXPECT_EQ(tab.compare_label, L"old.md");
    ASSERT_TRUE(pass_applied(tab));
    const LineDiff expected = diff_lines(utf16(old_text), utf16(new_text));
    EXPECT_EQ(editor_marks(tab.editor), expected.marks);
    EXPECT_EQ(tab.compare_diff.ranges, expected.ranges);
    EXPECT_TRUE(source_record(tab.editor)->marker_lane);

    // An edit keeps the old marks through the quiet spell, then shows the new comparison.
    const std::string edited = "# Notes\nkeep\nold one\nold two\nkeep too\nend\n";
    type_over(tab.editor, utf16(edited));
    EXPECT_NE(tab.compare_applied_revision, tab.revision);
    EXPECT_EQ(editor_marks(tab.editor), expected.marks);
    // A timer never runs early: however late this thread runs, the pass goes to the worker
    // only once the quiet spell has passed, and the old marks stay until it comes back.
    const std::uint64_t quiet_until = tab.compare_due;
    const PassSeen pass = follow_pass(tab);
    ASSERT_TRUE(pass.applied);
    EXPECT_GE(pass.handed_over_by, quiet_until);
    EXPECT_TRUE(pass.old_marks_kept);
    EXPECT_EQ(editor_marks(tab.editor), diff_lines(utf16(old_text), utf16(edited)).marks);

    stop_compare(tab);
    EXPECT_EQ(editor_marks(tab.editor), ChangeMarks{});
    EXPECT_FALSE(source_record(tab.editor)->marker_lane);
    // The next tick finds no compared tab and ends the worker.
    EXPECT_TRUE(test::pump_until([] { return !compare_worker_exists(); }));
}

TEST_F(CompareWatch, NextAndPreviousChangeWalkTheChangesAndStopAtTheEnds) {
    std::string old_text = numbered_lines(30);
    std::string new_text = old_text;
    for (const char* line : {"line 4\n", "line 12\n", "line 25\n"}) {
        new_text.replace(new_text.find(line), std::string(line).size() - 1, "changed");
    }
    open_compare(write("before.md", old_text), write("after.md", new_text));
    DocumentTab& tab = current_tab();
    ASSERT_TRUE(pass_applied(tab));
    ASSERT_EQ(tab.compare_diff.ranges.size(), 3u);
    const HWND editor = tab.editor;
    const std::uint64_t change_lines[] = {4, 12, 25};

    constexpr unsigned next = 333;
    constexpr unsigned previous = 334;
    for (std::uint64_t line : change_lines) {
        run_compare_command(next);
        EXPECT_EQ(caret_of(editor), line_start_of(editor, line));
        EXPECT_EQ(tab.compare_summary, L"");
    }
    run_compare_command(next);
    EXPECT_EQ(tab.compare_summary, L"At last change");
    EXPECT_EQ(caret_of(editor), line_start_of(editor, 25));
    run_compare_command(previous);
    EXPECT_EQ(caret_of(editor), line_start_of(editor, 12));
    run_compare_command(previous);
    run_compare_command(previous);
    EXPECT_EQ(tab.compare_summary, L"At first change");
    EXPECT_EQ(caret_of(editor), line_start_of(editor, 4));

    // From a caret the user moved: the change starting on its line, else the next one.
    SendMessageW(editor, EM_SETSEL, line_start_of(editor, 12), line_start_of(editor, 12));
    run_compare_command(next);
    EXPECT_EQ(caret_of(editor), line_start_of(editor, 12));
    SendMessageW(editor, EM_SETSEL, line_start_of(editor, 20), line_start_of(editor, 20));
    run_compare_command(previous);
    EXPECT_EQ(caret_of(editor), line_start_of(editor, 12));

    // While a pass is due the changes are not walked.
    type_over(editor, utf16(new_text + "more\n"));
    run_compare_command(next);
    EXPECT_EQ(tab.compare_summary, L"Comparison updating");
}

TEST_F(CompareWatch, TheChangeTargetRule) {
    const std::vector<ChangeRange> changes{{1, 2, 1, 2}, {5, 5, 5, 7}, {9, 10, 11, 11}};
    EXPECT_EQ(change_target(changes, 5, std::nullopt, true), 1u);
    EXPECT_EQ(change_target(changes, 6, std::nullopt, true), 2u);
    EXPECT_EQ(change_target(changes, 12, std::nullopt, true), std::nullopt);
    EXPECT_EQ(change_target(changes, 5, std::nullopt, false), 0u);
    EXPECT_EQ(change_target(changes, 1, std::nullopt, false), std::nullopt);
    EXPECT_EQ(change_target(changes, 0, 2, true), std::nullopt);
    EXPECT_EQ(change_target(changes, 0, 0, false), std::nullopt);
    EXPECT_EQ(change_target({}, 0, std::nullopt, true), std::nullopt);
}

TEST_F(CompareWatch, TheCompareTargetsListTheOtherTabs) {
    menus.compare = CreatePopupMenu();
    menus.compare_tabs = CreatePopupMenu();
    AppendMenuW(menus.compare, MF_POPUP, reinterpret_cast<UINT_PTR>(menus.compare_tabs), L"tab");
    rebuild_compare_menu();
    wchar_t text[64] = {};
    GetMenuStringW(menus.compare_tabs, 0, text, 64, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(text), L"No other open tabs");
    EXPECT_EQ(GetMenuState(menus.compare_tabs, 0, MF_BYPOSITION) & MF_GRAYED, MF_GRAYED);

    const auto other = write("R&D.md", "one\ntwo\n");
    open_path(other);
    const std::uint64_t other_id = current_tab().id;
    open_path(write("mine.md", "one\nthree\n"));
    rebuild_compare_menu();
    ASSERT_EQ(GetMenuItemCount(menus.compare_tabs), 1);
    GetMenuStringW(menus.compare_tabs, 0, text, 64, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(text), L"R&&D.md");
    EXPECT_EQ(GetMenuItemID(menus.compare_tabs, 0), 1000u);
    EXPECT_EQ(compare_targets(), std::vector<std::uint64_t>{other_id});

    run_compare_command(1001); // past the list
    EXPECT_FALSE(current_tab().baseline);
    run_compare_command(1000);
    DocumentTab& tab = current_tab();
    EXPECT_EQ(tab.compare_label, L"R&D.md");
    ASSERT_TRUE(pass_applied(tab));
    EXPECT_EQ(editor_marks(tab.editor), diff_lines(u"one\ntwo\n", u"one\nthree\n").marks);
    compare_other_tab(tab.id); // itself
    EXPECT_EQ(tab.compare_label, L"R&D.md");
    DestroyMenu(menus.compare);
    menus = {};
}

// Puts `units` UTF-16 units of text (and its NUL) on the clipboard; an empty clipboard for -1.
void set_clipboard_text(HWND owner, std::int64_t units) {
    ASSERT_TRUE(OpenClipboard(owner));
    EmptyClipboard();
    if (units >= 0) {
        const auto size = static_cast<std::size_t>(units + 1);
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size * sizeof(char16_t));
        auto* text = static_cast<char16_t*>(GlobalLock(block));
        std::fill(text, text + size - 1, u'c');
        text[size - 1] = u'\0';
        GlobalUnlock(block);
        SetClipboardData(CF_UNICODETEXT, block);
    }
    CloseClipboard();
}

// The sentence a compare command fails with; empty when it did not fail.
std::string failure_of(unsigned command) {
    try {
        run_compare_command(command);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return {};
}

TEST_F(CompareWatch, TheClipboardBaselineAtTheDocumentLimit) {
    constexpr unsigned compare_clipboard = 331;
    set_clipboard_text(window_, -1);
    EXPECT_EQ(failure_of(compare_clipboard), "Clipboard does not contain text.");
    set_clipboard_text(window_, static_cast<std::int64_t>(document_limit) + 1);
    EXPECT_EQ(failure_of(compare_clipboard),
              "Clipboard text exceeds the editor limit or is incomplete.");
    EXPECT_FALSE(current_tab().baseline);

    set_clipboard_text(window_, static_cast<std::int64_t>(document_limit));
    run_compare_command(compare_clipboard);
    ASSERT_TRUE(current_tab().baseline);
    EXPECT_EQ(current_tab().baseline->text.size(), document_limit);
    EXPECT_EQ(current_tab().compare_label, L"Clipboard");
    set_clipboard_text(window_, -1);
}

TEST_F(CompareWatch, ABurstOfChangeReportsIsReadWithinASecondOfItsFirst) {
    DocumentTab& tab = current_tab();
    schedule_watch_read(tab.id, false);
    EXPECT_FALSE(tab.watch_pending); // not watched
    // Stands for a tab another unit put in Watch mode, paused after three failures.
    tab.watch_state = 2;
    tab.watch_retries = 3;
    schedule_watch_read(tab.id, false);
    EXPECT_TRUE(tab.watch_pending);
    EXPECT_EQ(tab.watch_retries, 0u);
    EXPECT_EQ(tab.watch_due, tab.watch_first_change + 200);
    // The burst began 900 ms ago: its read is not put off past the second.
    tab.watch_first_change -= 900;
    tab.watch_retries = 2;
    schedule_watch_read(tab.id, false);
    EXPECT_EQ(tab.watch_due, tab.watch_first_change + 1000);
    EXPECT_EQ(tab.watch_retries, 2u);
    schedule_watch_read(tab.id, true);
    EXPECT_LE(tab.watch_due, GetTickCount64());
    EXPECT_EQ(tab.watch_retries, 0u);
    tab.watch_state = 0;
}

TEST_F(CompareWatch, AnAppendedFileShowsItsNewLinesMarkedWithoutMovingTheView) {
    const std::string original = numbered_lines(300, "\r\n");
    const auto path = write("log.md", original);
    open_path(path);
    DocumentTab& tab = current_tab();
    toggle_watch(tab.id, {});
    ASSERT_EQ(tab.watch_state, 1u);
    EXPECT_NE(GetWindowLongPtrW(tab.editor, GWL_STYLE) & ES_READONLY, 0);
    // The first read finds the file as it was opened.
    take_first_read(tab);
    EXPECT_EQ(tab.watch_updates, 0u);

    set_source_top_line(tab.editor, 120.0, 0);
    const double top = source_top_line(tab.editor);
    ASSERT_GT(top, 100.0);
    const std::u16string before = source_text(tab.editor);
    ASSERT_TRUE(append_from_another_process(path, L"appended one"));
    ASSERT_TRUE(append_from_another_process(path, L"appended two"));
    // The directory watcher's change report.
    schedule_watch_read(tab.id, false);
    ASSERT_TRUE(test::pump_until([&] { return tab.watch_updates == 1; }));

    const std::u16string after = source_text(tab.editor);
    EXPECT_EQ(after, before + u"appended one\nappended two\n");
    EXPECT_EQ(editor_marks(tab.editor), diff_lines(before, after).marks);
    EXPECT_EQ(tab.watch_line_marks, (std::vector<LineMark>{{300, 302, line_mark_added}}));
    EXPECT_NEAR(source_top_line(tab.editor), top, 0.01);
    EXPECT_EQ(tab.disk_size, original.size() + 2 * 14);
    EXPECT_EQ(SendMessageW(tab.editor, EM_GETMODIFY, 0, 0), 0);

    // Lines written above the view push its text down, and the view goes with it.
    std::string intro;
    for (int i = 0; i < 10; ++i) {
        intro += "intro " + std::to_string(i) + "\r\n";
    }
    test::write_bytes(path, intro + original + "appended one\r\n");
    schedule_watch_read(tab.id, false);
    ASSERT_TRUE(test::pump_until([&] { return tab.watch_updates == 2; }));
    EXPECT_NEAR(source_top_line(tab.editor), top + 10, 0.01);
    EXPECT_EQ(tab.watch_line_marks,
              (std::vector<LineMark>{{0, 10, line_mark_added}, {310, 311, line_mark_added}}));
    EXPECT_EQ(tab.watch_deletion_marks, (std::vector<DeletionMark>{{311, 1}}));

    // Stopping gives the editor back as it was.
    toggle_watch(tab.id, {});
    EXPECT_EQ(GetWindowLongPtrW(tab.editor, GWL_STYLE) & ES_READONLY, 0);
    EXPECT_EQ(editor_marks(tab.editor), ChangeMarks{});
}

TEST_F(CompareWatch, FourFailedReadsInARowPauseWatchUntilRetried) {
    const auto path = write("vanishing.md", "text\n");
    open_path(path);
    DocumentTab& tab = current_tab();
    toggle_watch(tab.id, {});
    take_first_read(tab);
    std::filesystem::remove(path);
    schedule_watch_read(tab.id, false);
    // The first failure and three retries after 150, 300 and 450 ms.
    ASSERT_TRUE(test::pump_until([&] { return tab.watch_state == 2; }, 10000));
    EXPECT_EQ(tab.watch_status, "File unavailable");
    EXPECT_EQ(tab.watch_retries, 4u);
    EXPECT_FALSE(tab.watch_pending);
    pump(400);
    EXPECT_EQ(tab.watch_state, 2u);

    // "Retry now" once the file is back reads at once and watches again.
    write("vanishing.md", "text\nback\n");
    schedule_watch_read(tab.id, true);
    apply_watch_reads();
    ASSERT_TRUE(test::pump_until([&] { return tab.watch_state == 1; }));
    EXPECT_EQ(tab.watch_status, "");
    EXPECT_EQ(source_text(tab.editor), u"text\nback\n");
}

TEST_F(CompareWatch, WorkerThreadsEndWithTheirLastTab) {
    const auto watched = write("watched.md", "watched\n");
    const auto compared = write("compared.md", "compared\n");
    auto cycle = [&] {
        open_path(watched);
        const std::uint64_t watched_id = current_tab().id;
        open_path(compared);
        DocumentTab& tab = current_tab();
        const int idle = thread_count();
        toggle_watch(watched_id, {});
        EXPECT_EQ(thread_count(), idle + 1);
        begin_compare(tab, std::make_shared<const CompareBaseline>(CompareBaseline{u"x\n"}), L"x",
                      false, {});
        EXPECT_TRUE(pass_applied(tab));
        EXPECT_EQ(thread_count(), idle + 2);

        for (std::uint64_t i = 0; i < tabs.size(); ++i) {
            if (tabs[i]->id == watched_id) {
                select_tab(i, false);
            }
        }
        close_current_tab([] { return true; });
        EXPECT_TRUE(test::pump_until([] { return !watch_worker_exists(); }));
        close_current_tab([] { return true; });
        EXPECT_TRUE(test::pump_until([] { return !compare_worker_exists(); }));
    };
    // A first round lets the system make what it keeps for later.
    cycle();
    const int threads = thread_count();
    const DWORD handles = handle_count();
    cycle();
    EXPECT_EQ(thread_count(), threads);
    EXPECT_EQ(handle_count(), handles);
}

// ---- Watch texts and announcements --------------------------------------------------------------

TEST_F(CompareWatch, AnEmptiedFileIsReadOnceMoreBeforeItsTextGoes) {
    const auto path = write("emptied.md", "one\ntwo\n");
    DocumentTab& tab = watched(path);
    HeardAnnouncements announcements;
    test::write_bytes(path, "");
    schedule_watch_read(tab.id, false);
    ASSERT_TRUE(test::pump_until([&] { return tab.watch_status == "Confirming empty file"; }));
    EXPECT_EQ(tab.watch_state, 1u);
    EXPECT_EQ(source_text(tab.editor), u"one\ntwo\n");

    ASSERT_TRUE(test::pump_until([&] { return tab.watch_updates == 1; }));
    EXPECT_EQ(source_text(tab.editor), u"");
    EXPECT_EQ(tab.watch_status, "");
    EXPECT_EQ(tab.watch_deletion_marks, (std::vector<DeletionMark>{{0, 2}}));
    EXPECT_EQ(announcements.heard(),
              std::vector<std::wstring>{L"emptied.md updated. 0 lines marked, 2 deleted."});
}

TEST_F(CompareWatch, ALocalChangePausesWatchWithoutTouchingTheLocalText) {
    const auto path = write("local.md", "disk\n");
    DocumentTab& tab = watched(path);
    HeardAnnouncements announcements;
    // Stands for an edit that reached the read-only editor.
    SendMessageW(tab.editor, EM_SETMODIFY, TRUE, 0);
    test::write_bytes(path, "disk\nchanged\n");
    schedule_watch_read(tab.id, true);
    ASSERT_TRUE(test::pump_until([&] { return tab.watch_state == 2; }));
    EXPECT_EQ(tab.watch_status, "Local content changed");
    EXPECT_EQ(source_text(tab.editor), u"disk\n");
    EXPECT_EQ(tab.watch_updates, 0u);
    EXPECT_EQ(announcements.heard(),
              std::vector<std::wstring>{L"Watch paused. Local content changed"});
}

TEST_F(CompareWatch, ClearingChangesDuringAReadKeepsOnlyThatReadsOwnChanges) {
    const auto path = write("growing.md", "a\nb\n");
    DocumentTab& tab = watched(path);
    test::write_bytes(path, "a\nb\nc\n");
    schedule_watch_read(tab.id, false);
    ASSERT_TRUE(test::pump_until([&] { return tab.watch_updates == 1; }));
    ASSERT_EQ(tab.watch_line_marks, (std::vector<LineMark>{{2, 3, line_mark_added}}));

    HeardAnnouncements announcements;
    test::write_bytes(path, "a\nb\nc\nd\ne\n");
    schedule_watch_read(tab.id, true);
    apply_watch_reads();
    ASSERT_FALSE(tab.watch_pending); // the read runs
    clear_watch_changes(tab.id);
    EXPECT_TRUE(tab.watch_line_marks.empty());
    ASSERT_TRUE(test::pump_until([&] { return tab.watch_updates == 2; }));
    const std::vector<LineMark> own{{3, 5, line_mark_added}};
    EXPECT_EQ(tab.watch_line_marks, own);
    EXPECT_EQ(editor_marks(tab.editor).line_marks, own);
    EXPECT_EQ(announcements.heard(),
              std::vector<std::wstring>{L"growing.md updated. 2 lines marked, 0 deleted."});
}

// ---- Taking turns
// ---------------------------------------------------------------------------------

TEST_F(CompareWatch, TwoWatchedTabsWithReadsDueAreServedInTurn) {
    DocumentTab& first = watched(write("first.md", "first\n"));
    DocumentTab& second = watched(write("second.md", "second\n"));
    schedule_watch_read(first.id, true);
    schedule_watch_read(second.id, true);
    apply_watch_reads();
    ASSERT_NE(first.watch_pending, second.watch_pending); // one job at a time
    DocumentTab& served = first.watch_pending ? second : first;
    DocumentTab& waiting = first.watch_pending ? first : second;

    // The served tab is due again at once, yet the waiting one goes next.
    schedule_watch_read(served.id, true);
    ASSERT_TRUE(take_posted(window_, WM_APP_WATCH_RESULTS));
    apply_watch_reads();
    EXPECT_FALSE(waiting.watch_pending);
    EXPECT_TRUE(served.watch_pending);
}

TEST_F(CompareWatch, TwoComparedTabsWithPassesDueAreServedInTurn) {
    open_path(write("left.md", "left\n"));
    DocumentTab& first = current_tab();
    open_path(write("right.md", "right\n"));
    DocumentTab& second = current_tab();
    for (DocumentTab* tab : {&first, &second}) {
        begin_compare(*tab, std::make_shared<const CompareBaseline>(CompareBaseline{u"base\n"}),
                      L"base", false, {});
        ASSERT_TRUE(pass_applied(*tab));
    }
    schedule_compare(first, true);
    schedule_compare(second, true);
    compare_tick();
    ASSERT_NE(first.compare_pending, second.compare_pending);
    DocumentTab& served = first.compare_pending ? second : first;
    DocumentTab& waiting = first.compare_pending ? first : second;

    schedule_compare(served, true);
    ASSERT_TRUE(take_posted(window_, WM_APP_COMPARE_RESULTS));
    compare_tick();
    EXPECT_FALSE(waiting.compare_pending);
    EXPECT_TRUE(served.compare_pending);
}

TEST_F(CompareWatch, AResultOvertakenByAnEditIsDroppedAndTheNewRevisionFollows) {
    open_path(write("edited.md", "one\n"));
    DocumentTab& tab = current_tab();
    begin_compare(tab, std::make_shared<const CompareBaseline>(CompareBaseline{u"one\n"}), L"one",
                  false, {});
    ASSERT_TRUE(pass_applied(tab));
    const std::uint64_t overtaken = tab.revision;
    schedule_compare(tab, true);
    compare_tick(); // the pass for this revision runs
    ASSERT_FALSE(tab.compare_pending);

    type_over(tab.editor, u"one\ntwo\n");
    ASSERT_EQ(tab.revision, overtaken + 1);
    ASSERT_TRUE(take_posted(window_, WM_APP_COMPARE_RESULTS));
    compare_tick();
    EXPECT_EQ(tab.compare_applied_revision, ~std::uint64_t{0});
    EXPECT_EQ(editor_marks(tab.editor), ChangeMarks{});

    ASSERT_TRUE(pass_applied(tab));
    EXPECT_EQ(tab.compare_applied_revision, overtaken + 1);
    EXPECT_EQ(editor_marks(tab.editor), diff_lines(u"one\n", u"one\ntwo\n").marks);
}

// ---- The compare note
// ----------------------------------------------------------------------------

// The compare item of the status strip, as the strip shows it.
std::wstring compare_status() {
    return test::text_of(
        GetDlgItem(chrome.status_strip, static_cast<int>(status_command::compare)));
}

TEST_F(CompareWatch, TheNavigationNoteGoesWithThePassItWasMadeFor) {
    constexpr unsigned undo = 200, redo = 201, next_tab = 314, compare_saved = 329, next = 333,
                       previous = 334;
    open_path(write("other.md", "other\n"));
    const std::string saved = "# Title\nalpha beta\ngamma delta\nend\n";
    open_path(write("notes.md", saved));
    DocumentTab& tab = current_tab();
    const HWND editor = tab.editor;
    command(compare_saved);
    ASSERT_TRUE(pass_applied(tab));

    // A line inserted at the top, a word changed on line 3, and a walk back to the first change.
    SendMessageW(editor, EM_SETSEL, 0, 0);
    type(editor, u"New line\n");
    const auto word = static_cast<WPARAM>(line_start_of(editor, 2) + 6);
    SendMessageW(editor, EM_SETSEL, word, word + 4);
    type(editor, u"BETA");
    ASSERT_TRUE(pass_applied(tab));
    const std::wstring changes = L"Compared with Saved version \u00B7 1 changed \u00B7 1 added";
    const std::wstring at_first = changes + L" \u00B7 At first change";
    EXPECT_EQ(compare_status(), changes);
    for (unsigned key : {next, next, previous, previous}) {
        command(key);
    }
    EXPECT_EQ(compare_status(), at_first);

    // Undone back to the saved text: the pass after the undo speaks for itself.
    command(undo);
    command(undo);
    ASSERT_EQ(source_text(editor), utf16(saved));
    ASSERT_TRUE(pass_applied(tab));
    EXPECT_EQ(compare_status(), L"No differences from Saved version");
    command(redo);
    command(redo);
    ASSERT_TRUE(pass_applied(tab));

    // Each other way a pass starts or lands; none changes which lines differ.
    const std::pair<const char*, std::function<void()>> ways[] = {
        {"an edit",
         [&] {
             SendMessageW(editor, EM_SETSEL, 8, 8);
             type(editor, u"x");
         }},
        {"F8 before the pass is in",
         [&] {
             type(editor, u"y");
             command(next);
             EXPECT_EQ(compare_status(),
                       L"Comparing with Saved version \u00B7 Comparison updating");
         }},
        {"undo", [&] { command(undo); }},
        {"redo", [&] { command(redo); }},
        {"comparing again", [&] { command(compare_saved); }},
        {"a pass landing behind another tab",
         [&] {
             command(undo);
             command(next_tab);
             ASSERT_TRUE(pass_applied(tab));
             command(next_tab);
             ASSERT_EQ(&current_tab(), &tab);
         }},
    };
    for (const auto& [way, act] : ways) {
        SCOPED_TRACE(way);
        SendMessageW(editor, EM_SETSEL, 0, 0);
        command(previous);
        ASSERT_EQ(compare_status(), at_first);
        act();
        ASSERT_TRUE(pass_applied(tab));
        EXPECT_EQ(compare_status(), changes);
    }
}

// A reload, by F5 or by the answer to the outside-change question, takes the file as it now is
// as the saved version, as a save does.
TEST_F(CompareWatch, AReloadTakesTheFileOnDiskAsTheSavedVersion) {
    constexpr unsigned reload = 105, compare_saved = 329;
    const auto path = write("notes.md", "# Title\nalpha\n");
    open_path(path);
    DocumentTab& tab = current_tab();
    command(compare_saved);
    box_answer_ = IDYES;
    for (const std::string bytes : {"# Title\nALPHA\ngamma\n", "# Title\n"}) {
        test::write_bytes(path, bytes);
        bytes.size() > 10 ? command(reload) : check_disk_changes(true);
        ASSERT_EQ(source_text(tab.editor), utf16(bytes));
        ASSERT_TRUE(pass_applied(tab));
        EXPECT_EQ(tab.baseline->text, utf16(bytes));
        EXPECT_EQ(compare_status(), L"No differences from Saved version");
    }
}

// Pixels of the Source header's frame colour where the "Read-only" badge stands, as the
// header shows on screen (its bottom line, in the same colour, left out).
int badge_pixels() {
    RECT header{};
    GetClientRect(chrome.source_label, &header);
    test::Surface surface(header.right, header.bottom);
    HDC dc = GetDC(chrome.source_label);
    BitBlt(surface.dc(), 0, 0, header.right, header.bottom, dc, 0, 0, SRCCOPY);
    ReleaseDC(chrome.source_label, dc);
    return surface.count(chrome_palette()[5],
                         RECT{header.right / 10, 0, header.right, header.bottom - 1});
}

TEST_F(CompareWatch, TheReadOnlyBadgeFollowsTheCurrentTabsWatch) {
    // Under Wine without a window manager, hiding a shown window waits two seconds for the X
    // server; only this case shows the window.
    ShowWindow(window_, SW_SHOWNOACTIVATE);
    open_path(write("growing.log", "first\n"));
    open_path(write("notes.md", "# Notes\n"));
    select_view(view_split);
    select_tab(0, false);
    toggle_watch(current_tab().id, {});
    auto shown = [] {
        RedrawWindow(main_window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        return badge_pixels();
    };
    ASSERT_TRUE(test::pump_until([&] { return shown() > 0; }));
    // Every repaint the first showing asked for is over before the switch.
    ASSERT_TRUE(test::pump_until([] { return GetQueueStatus(QS_PAINT) == 0; }));
    EXPECT_GT(shown(), 0);

    // Ctrl+Tab to the other tab.
    PostMessageW(main_window, WM_COMMAND, 314, 0);
    EXPECT_TRUE(test::pump_until([&] { return shown() == 0; }));
    EXPECT_EQ(SendMessageW(chrome.editor, EM_GETOPTIONS, 0, 0) & ECO_READONLY, 0);
}

} // namespace
} // namespace pellix
