#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>

#include "app/directory_watching.h"
#include "app/disk_state.h"
#include "app/document_tabs.h"
#include "app/editor_hosting.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/timers.h"
#include "core/file_io.h"
#include "core/limits.h"
#include "platform/unique_handle.h"
#include "tests/app/open_tabs_window.h"

namespace pellix {
namespace {

constexpr wchar_t refresh_question[] =
    L"The file changed on disk. Refresh this tab? Choose No to keep the editor copy.";
constexpr wchar_t refresh_question_modified[] =
    L"The file changed on disk. Refresh this tab and discard its local changes? Choose No to keep "
    L"the editor copy.";
// The first button of the encoding choice: Windows-1252.
constexpr int windows_1252_button = 100;

class DiskState : public test::OpenTabsWindow {
protected:
    DiskState() : OpenTabsWindow("disk-state") {}

    // Another program writes `bytes` to `path`: the shell copies them from a file outside the
    // watched folders.
    void write_from_another_process(const std::filesystem::path& path, const std::string& bytes) {
        const std::filesystem::path source = outside_ / "source.bin";
        test::write_bytes(source, bytes);
        std::wstring command =
            L"cmd.exe /c copy /y /b \"" + source.wstring() + L"\" \"" + path.wstring() + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                                   CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process));
        UniqueHandle owned(process.hProcess);
        CloseHandle(process.hThread);
        ASSERT_EQ(WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0);
        ASSERT_EQ(read_file_bytes(path, document_limit), bytes);
    }

    // The two-second poll of every tab, once any input that would put it off has ended (opening
    // counts as input for a moment, and nothing is served meanwhile, so the moment ends).
    static void poll_all_tabs() {
        const ULONGLONG input_end = GetTickCount64() + test::settle_limit_ms;
        while (input_busy() && GetTickCount64() < input_end) {
            Sleep(10);
        }
        ASSERT_FALSE(input_busy());
        on_timer(timer_id::housekeeping);
    }

    static void place_caret(LONG offset) {
        CHARRANGE range{offset, offset};
        SendMessageW(chrome.editor, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    }
    static CHARRANGE selection() {
        CHARRANGE range{};
        SendMessageW(chrome.editor, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
        return range;
    }

    test::ScratchFolder outside_{"disk-state-outside"};
};

TEST_F(DiskState, AnOutsideWriteIsMarkedAndSelectingTheTabReloadsItInItsEncoding) {
    const auto notes = file("notes.md", "caf\xE9 one\ncaf\xE9 two\ncaf\xE9 three\n");
    const auto other = file("other.md", "other\n");
    task_answers_ = {windows_1252_button};
    open_path(notes);
    ASSERT_EQ(current_tab().encoding, 4u);
    place_caret(20);
    open_path(other);
    ASSERT_EQ(tabs.size(), 2u);

    const std::string written = "cr\xE8me\n";
    write_from_another_process(notes, written);
    DocumentTab& tab = *tabs[0];
    ASSERT_TRUE(pump_until([&] { return tab.changed_on_disk; }));
    // The mark widens the item: the label is padded beyond the name.
    EXPECT_GT(tab.label.size(), tab.shown_name.size());
    EXPECT_TRUE(boxes_.empty());

    box_answers_ = {IDYES};
    choose_in_strip(0);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, refresh_question);
    EXPECT_EQ(boxes_[0].caption, L"File changed");
    EXPECT_EQ(boxes_[0].style, static_cast<UINT>(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2));
    EXPECT_EQ(active, 0u);
    EXPECT_EQ(tab_text(tab), u"cr\u00E8me\n");
    EXPECT_EQ(tab.encoding, 4u);
    EXPECT_EQ(tab.disk_bytes, written);
    EXPECT_FALSE(tab.changed_on_disk);
    EXPECT_FALSE(modified(tab));
    // The caret was past the new end: it stands at the end now.
    EXPECT_EQ(selection().cpMin, 6);
    EXPECT_EQ(selection().cpMax, 6);
    EXPECT_EQ(tab.label, tab.shown_name);

    // Once taken in, selecting the tab again asks nothing.
    choose_in_strip(1);
    choose_in_strip(0);
    EXPECT_EQ(boxes_.size(), 1u);
}

TEST_F(DiskState, TheSameBytesWrittenAgainClearTheMarkWhenTheActiveTabIsClicked) {
    const auto notes = file("notes.md", "same\n");
    open_path(notes);
    DocumentTab& tab = current_tab();
    // A later write time with the same bytes, as a program that saves without changes leaves it.
    write_from_another_process(notes, "same\n");
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER minute_later{.LowPart = now.dwLowDateTime, .HighPart = now.dwHighDateTime};
    minute_later.QuadPart += 10'000'000ULL * 60;
    const FILETIME later{minute_later.LowPart, minute_later.HighPart};
    {
        UniqueHandle handle(CreateFileW(notes.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(SetFileTime(handle.get(), nullptr, nullptr, &later));
    }
    apply_directory_changes(true);
    ASSERT_TRUE(tab.changed_on_disk);

    RECT item{};
    ASSERT_TRUE(
        SendMessageW(chrome.tab_control, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item)));
    const LPARAM middle = MAKELPARAM(item.left + 8, (item.top + item.bottom) / 2);
    SendMessageW(chrome.tab_control, WM_LBUTTONDOWN, MK_LBUTTON, middle);
    SendMessageW(chrome.tab_control, WM_LBUTTONUP, 0, middle);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_FALSE(tab.changed_on_disk);
    EXPECT_EQ(tab.disk_write_time.dwLowDateTime, later.dwLowDateTime);
    // The poll agrees now.
    apply_directory_changes(true);
    EXPECT_FALSE(tab.changed_on_disk);
}

TEST_F(DiskState, LocalEditsAreAskedAboutAndNoKeepsTheEditorCopyAsUnsaved) {
    const auto notes = file("notes.md", "first\n");
    open_path(notes);
    type(L"local ");
    write_from_another_process(notes, "outside\n");
    box_answers_ = {IDNO};
    check_disk_changes(true);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, refresh_question_modified);
    EXPECT_EQ(tab_text(current_tab()), u"local first\n");
    EXPECT_TRUE(modified(current_tab()));
    EXPECT_FALSE(current_tab().changed_on_disk);
    EXPECT_FALSE(disk_prompt_open);

    // Reload (F5) asks before it discards the edits; No changes nothing.
    box_answers_ = {IDNO};
    reload_file(true, std::nullopt);
    EXPECT_EQ(last_box(), L"Reload from disk and discard the editor's unsaved changes?");
    EXPECT_EQ(tab_text(current_tab()), u"local first\n");
    box_answers_ = {IDYES};
    reload_file(true, Encoding::windows_1251);
    EXPECT_EQ(tab_text(current_tab()), u"outside\n");
    EXPECT_EQ(current_tab().encoding, 5u);

    new_tab();
    reload_file(true, std::nullopt);
    EXPECT_EQ(last_box(), L"Open a file from disk before reloading.");
}

TEST_F(DiskState, ADeletedFileIsMarkedButNeverAsked) {
    const auto notes = file("notes.md", "text\n");
    open_path(notes);
    const auto other = file("other.md", "other\n");
    open_path(other);
    std::filesystem::remove(notes);
    DocumentTab& tab = *tabs[0];
    ASSERT_TRUE(pump_until([&] { return tab.changed_on_disk; }));
    choose_in_strip(0);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_TRUE(tab.changed_on_disk);
    EXPECT_FALSE(tab.disk_exists);
    EXPECT_EQ(tab_text(tab), u"text\n");
}

TEST_F(DiskState, ADeletedFileKeepsItsMarkAfterAVisitUntilItIsBack) {
    const auto notes = file("notes.md", "text\n");
    open_path(notes);
    open_path(file("other.md", "other\n"));
    DocumentTab& tab = *tabs[0];
    std::filesystem::remove(notes);
    ASSERT_TRUE(pump_until([&] { return tab.changed_on_disk; }));
    choose_in_strip(0);
    ASSERT_FALSE(tab.disk_exists);
    poll_all_tabs();
    EXPECT_TRUE(tab.changed_on_disk);
    // The strip still leaves room for the mark.
    EXPECT_GT(tab.label.size(), tab.shown_name.size());

    // Back with the bytes the tab holds: the next visit reads them and the mark goes unasked.
    test::write_bytes(notes, "text\n");
    poll_all_tabs();
    EXPECT_TRUE(tab.changed_on_disk);
    choose_in_strip(1);
    choose_in_strip(0);
    EXPECT_FALSE(tab.changed_on_disk);
    EXPECT_EQ(tab.label, tab.shown_name);
    EXPECT_TRUE(boxes_.empty());
}

// Wine does not report a watched folder that goes away; the two-second poll notices.
TEST_F(DiskState, AFolderThatGoesAwayIsNoticedByThePoll) {
    const auto notes = file("inner/notes.md", "text\n");
    open_path(notes);
    const auto kept = file("kept.md", "kept\n");
    open_path(kept);
    DocumentTab& tab = *tabs[0];
    std::filesystem::rename(notes.parent_path(), folder_ / "gone");
    std::error_code ignored;
    std::filesystem::remove_all(folder_ / "gone", ignored);
    // Whatever the watcher has seen so far is dropped, and Wine reports nothing of a watched
    // folder's going: only the poll is left to notice.
    take_changed_files();
    ASSERT_FALSE(tab.changed_on_disk);
    poll_all_tabs();
    EXPECT_TRUE(tab.changed_on_disk);
    EXPECT_FALSE(tabs[1]->changed_on_disk);
    choose_in_strip(0);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_FALSE(tab.disk_exists);
}

} // namespace
} // namespace pellix
