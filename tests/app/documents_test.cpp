#include <gtest/gtest.h>

#include <windows.h>
#include <commdlg.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/document_tabs.h"
#include "app/editor_hosting.h"
#include "app/file_dialogs.h"
#include "app/hosted_units.h"
#include "app/main_window_create.h"
#include "app/main_window_state.h"
#include "app/prompts.h"
#include "app/save_files.h"
#include "app/settings.h"
#include "app/views.h"
#include "core/file_io.h"
#include "editor/source_interface.h"
#include "preview/preview_window.h"
#include "tests/app/in_process_main_window.h"
#include "tests/app/message_pump.h"
#include "tests/app/modal_driver.h"
#include "tests/app/panes_window.h"
#include "tests/app/settings_key_guard.h"
#include "tests/scratch_folder.h"

namespace pellix {
namespace {

const std::wstring test_key = L"Software\\Orvelworks\\Pellix Native Documents Test";

// The real main window in this process, hidden, with every box and dialog answered by the test.
class Documents : public ::testing::Test {
protected:
    void SetUp() override {
        instance = GetModuleHandleW(nullptr);
        saved_key_ = test::use_settings_key(test_key);
        install_message_box([this](const MessageBoxRequest& request) {
            boxes_.push_back(request);
            if (during_box_) {
                std::exchange(during_box_, {})();
            }
            return box_answer_;
        });
        install_task_dialog([this](const TASKDIALOGCONFIG& config) {
            task_titles_.emplace_back(config.pszWindowTitle);
            task_contents_.emplace_back(config.pszContent);
            return task_answer_;
        });
        install_file_dialog([this](OPENFILENAMEW& dialog, bool save) {
            dialogs_.push_back(dialog);
            first_filters_.emplace_back(dialog.lpstrFilter != nullptr ? dialog.lpstrFilter : L"");
            dialog_saves_.push_back(save);
            if (dialog_answer_.empty()) {
                return FALSE;
            }
            if (dialog_format_ && dialog.lCustData != 0) {
                auto* request = reinterpret_cast<Document*>(dialog.lCustData);
                request->encoding = dialog_format_->encoding;
                request->line_ending = dialog_format_->line_ending;
            }
            dialog_answer_.copy(dialog.lpstrFile, dialog_answer_.size());
            dialog.lpstrFile[dialog_answer_.size()] = L'\0';
            return TRUE;
        });
        window_ = test::make_main_window();
        ASSERT_NE(window_, nullptr);
        ASSERT_EQ(tabs.size(), 1u);
    }
    void TearDown() override {
        if (IsWindow(window_)) {
            DestroyWindow(window_);
        }
        pump(50);
        install_message_box({});
        install_task_dialog({});
        install_file_dialog({});
        pending_paths.clear();
        file_work_busy = false;
        test::restore_settings_key(saved_key_);
    }

    static void pump(DWORD milliseconds) { test::pump(milliseconds); }
    template <typename Done> static bool pump_until(Done done) { return test::pump_until(done); }

    std::filesystem::path file(const std::string& name, const std::string& bytes) {
        const std::filesystem::path path = folder_ / name;
        test::write_bytes(path, bytes);
        return path;
    }

    static std::string bytes_of(const std::filesystem::path& path) {
        return read_file_bytes(path, document_limit);
    }

    static std::wstring title() {
        wchar_t text[256] = {};
        GetWindowTextW(main_window, text, 256);
        return text;
    }

    static void type(const wchar_t* text) {
        SendMessageW(chrome.editor, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text));
    }

    static bool modified() { return SendMessageW(chrome.editor, EM_GETMODIFY, 0, 0) != 0; }

    // A second start hands `path` over, as it does, one message a path.
    static LRESULT hand_over(const std::filesystem::path& path) {
        const std::wstring text = path.wstring();
        COPYDATASTRUCT record{1, static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)),
                              const_cast<wchar_t*>(text.c_str())};
        return SendMessageW(main_window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&record));
    }

    std::wstring last_box() const { return boxes_.empty() ? L"" : boxes_.back().text; }

    test::SettingsKeyGuard key_{test_key};
    test::ScratchFolder folder_{"documents"};
    std::wstring saved_key_;
    HWND window_ = nullptr;
    std::vector<MessageBoxRequest> boxes_;
    int box_answer_ = IDOK;
    // Runs once, while the next box is on screen.
    std::function<void()> during_box_;
    std::vector<std::wstring> task_titles_;
    std::vector<std::wstring> task_contents_;
    int task_answer_ = IDCANCEL;
    std::vector<OPENFILENAMEW> dialogs_;
    std::vector<std::wstring> first_filters_; // up to the first NUL
    std::vector<bool> dialog_saves_;
    std::wstring dialog_answer_;
    const Document* dialog_format_ = nullptr;
};

TEST_F(Documents, EachEncodingOpensAndSavesBackByteForByte) {
    const std::string utf8 = "# Caf\xC3\xA9\r\n\r\nline\r\n";
    const std::string utf16 = std::string("\xFF\xFE#\0 \0\xE9\0\n\0", 10);
    const std::string latin = "caf\xE9 cr\xE8me\n";
    const auto utf8_path = file("utf8.md", utf8);
    const auto utf16_path = file("utf16.txt", utf16);
    const auto latin_path = file("latin.txt", latin);
    const std::uint64_t first_id = tabs.front()->id;

    open_path(utf8_path);
    // The single empty untitled tab is filled, keeping its identifier.
    ASSERT_EQ(tabs.size(), 1u);
    EXPECT_EQ(current_tab().id, first_id);
    EXPECT_EQ(title(), L"utf8.md - Pellix");
    EXPECT_EQ(current_tab().line_ending, 1u);
    EXPECT_EQ(tab_text(current_tab()), u"# Caf\u00E9\n\nline\n");
    EXPECT_FALSE(modified());

    open_path(utf16_path);
    ASSERT_EQ(tabs.size(), 2u);
    EXPECT_EQ(current_tab().encoding, 2u);

    // Not valid UTF-8 and no NUL: the encoding is asked for; Cancel changes nothing, silently.
    open_path(latin_path);
    EXPECT_EQ(task_titles_, std::vector<std::wstring>{L"Open with encoding"});
    // Named, so that the choices for several such files opened together tell them apart.
    EXPECT_EQ(task_contents_.back(),
              L"latin.txt\nThe file is not valid Unicode. No file content will be changed.");
    EXPECT_EQ(tabs.size(), 2u);
    EXPECT_TRUE(boxes_.empty());
    task_answer_ = 100;
    open_path(latin_path);
    ASSERT_EQ(tabs.size(), 3u);
    EXPECT_EQ(current_tab().encoding, 4u);
    EXPECT_EQ(tab_text(current_tab()), u"caf\u00E9 cr\u00E8me\n");

    // A NUL in otherwise valid text is refused with its own message and offers nothing.
    open_path(file("zero.txt", std::string("a\0b", 3)));
    EXPECT_EQ(task_titles_.size(), 2u);
    EXPECT_EQ(last_box(), L"Embedded NUL characters are not supported; the file was not opened.");
    EXPECT_EQ(tabs.size(), 3u);

    // Saving each in its own format writes the bytes it was read from.
    for (std::uint64_t i = 0; i < 3; ++i) {
        select_tab(i, false);
        const Document format{{},
                              static_cast<Encoding>(current_tab().encoding),
                              static_cast<LineEnding>(current_tab().line_ending)};
        ASSERT_TRUE(save_file(false, &format, {}));
    }
    EXPECT_EQ(bytes_of(utf8_path), utf8);
    EXPECT_EQ(bytes_of(utf16_path), utf16);
    EXPECT_EQ(bytes_of(latin_path), latin);
    EXPECT_EQ(boxes_.size(), 1u) << last_box();
}

TEST_F(Documents, TheRealEncodingChoiceStandsCentredOnTheWindowAtEveryOpening) {
    install_task_dialog({});
    SetWindowPos(window_, nullptr, 120, 90, 900, 640, SWP_NOZORDER | SWP_NOACTIVATE);
    RECT owner{};
    GetWindowRect(window_, &owner);
    const auto latin_path = file("latin.txt", "caf\xE9\n");
    for (int opening = 1; opening <= 2; ++opening) {
        RECT shown{};
        const bool closed = test::drive_modal(
            L"Open with encoding", [&] { open_path(latin_path); },
            [&](HWND dialog) {
                GetWindowRect(dialog, &shown);
                PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            });
        EXPECT_TRUE(closed) << "opening " << opening;
        EXPECT_NEAR((shown.left + shown.right) / 2, (owner.left + owner.right) / 2, 1)
            << "opening " << opening << " at " << shown.left << "," << shown.top;
        EXPECT_NEAR((shown.top + shown.bottom) / 2, (owner.top + owner.bottom) / 2, 1)
            << "opening " << opening << " at " << shown.left << "," << shown.top;
    }
    EXPECT_EQ(tabs.size(), 1u);
}

TEST_F(Documents, SaveAsWritesTheChosenEncodingAndLineEndingThroughTheDialog) {
    type(L"a\nb");
    EXPECT_TRUE(modified());
    const auto destination = folder_ / "out.md";
    dialog_answer_ = destination.wstring();
    const Document big_endian_crlf{{}, Encoding::utf16_be, LineEnding::crlf};
    dialog_format_ = &big_endian_crlf;
    SendMessageW(window_, WM_COMMAND, 103, 0);

    ASSERT_EQ(dialogs_.size(), 1u);
    const OPENFILENAMEW& dialog = dialogs_.front();
    EXPECT_TRUE(dialog_saves_.front());
    EXPECT_EQ(dialog.Flags, 0x88086Au);
    EXPECT_EQ(dialog.nFilterIndex, 1u); // "notes.md" is a Markdown file
    EXPECT_EQ(std::wstring(dialog.lpstrDefExt), L"md");
    EXPECT_EQ(first_filters_.front(), L"Markdown files");

    EXPECT_EQ(bytes_of(destination), std::string("\xFE\xFF\0a\0\r\0\n\0b", 10));
    EXPECT_EQ(title(), L"out.md - Pellix");
    EXPECT_FALSE(modified());
    EXPECT_EQ(current_tab().encoding, 3u);
    EXPECT_EQ(current_tab().line_ending, 1u);

    // Save on an unmodified tab writes nothing.
    std::filesystem::remove(destination);
    SendMessageW(window_, WM_COMMAND, 102, 0);
    EXPECT_FALSE(std::filesystem::exists(destination));
    EXPECT_TRUE(boxes_.empty()) << last_box();
}

TEST_F(Documents, RefusedSavesLeaveFileAndTabAsTheyWere) {
    const auto first = file("first.md", "one\n");
    const auto second = file("second.md", "two\n");
    open_path(first);
    open_path(second);
    type(L"edited ");

    // Another tab holds the name.
    ASSERT_FALSE(save_file(true, nullptr, [&](Document&) { return first; }));
    EXPECT_EQ(boxes_.back().caption, L"Save As");
    EXPECT_EQ(current_tab().path.filename(), L"second.md");

    // A folder that does not exist cannot take the file.
    const auto unreachable = folder_ / "missing" / "x.md";
    ASSERT_FALSE(save_file(true, nullptr, [&](Document&) { return unreachable; }));
    EXPECT_EQ(boxes_.back().caption, L"Pellix");
    EXPECT_FALSE(std::filesystem::exists(unreachable));
    EXPECT_EQ(current_tab().path.filename(), L"second.md");
    EXPECT_TRUE(modified());

    // The file changed on disk: No keeps both; Yes replaces it.
    test::write_bytes(second, "changed elsewhere\n");
    box_answer_ = IDNO;
    EXPECT_FALSE(save_file(false, nullptr, {}));
    EXPECT_EQ(boxes_.back().caption, L"File changed");
    EXPECT_EQ(bytes_of(second), "changed elsewhere\n");
    EXPECT_TRUE(modified());
    box_answer_ = IDYES;
    EXPECT_TRUE(save_file(false, nullptr, {}));
    EXPECT_EQ(bytes_of(second), "edited two\n");
    EXPECT_FALSE(modified());
}

TEST_F(Documents, OversizedFilesAndTheTabLimitLeaveTheTabsAsTheyWere) {
    open_path(file("big.md", std::string(document_limit + 1, 'x')));
    EXPECT_EQ(last_box(), L"File exceeds the reading limit.");
    ASSERT_EQ(tabs.size(), 1u);
    EXPECT_TRUE(current_tab().path.empty());

    while (tabs.size() < tab_limit) {
        SendMessageW(window_, WM_COMMAND, 100, 0);
    }
    EXPECT_EQ(tabs.size(), tab_limit);
    const std::uint64_t last_id = tabs.back()->id;
    EXPECT_EQ(tab_name(*tabs.back()), L"Untitled " + std::to_wstring(last_id));
    boxes_.clear();
    SendMessageW(window_, WM_COMMAND, 100, 0);
    open_path(file("one.md", "x"));
    ASSERT_EQ(boxes_.size(), 2u);
    for (const auto& box : boxes_) {
        EXPECT_EQ(box.text, L"Close a tab before opening more than 128 documents.");
    }
    EXPECT_EQ(tabs.size(), tab_limit);
    EXPECT_EQ(current_tab().id, last_id);

    // Closing the active last tab makes its left neighbour active; a new tab gets a new id.
    SendMessageW(window_, WM_COMMAND, 108, 0);
    EXPECT_EQ(tabs.size(), tab_limit - 1);
    EXPECT_EQ(active, tab_limit - 2);
    SendMessageW(window_, WM_COMMAND, 100, 0);
    EXPECT_EQ(current_tab().id, last_id + 1);
}

TEST_F(Documents, ABatchThatReachesTheTabLimitShowsOneBoxAndDropsItsRest) {
    while (tabs.size() < tab_limit - 2) {
        SendMessageW(window_, WM_COMMAND, 100, 0);
    }
    std::vector<std::filesystem::path> batch;
    for (int i = 0; i < 6; ++i) {
        batch.push_back(file("batch" + std::to_string(i) + ".md", "x\n"));
    }
    // The first of the batch is open already: it only selects its tab.
    open_path(batch[0]);
    boxes_.clear();
    pending_paths = batch;
    SendMessageW(window_, WM_APP_OPEN_QUEUED, 0, 0);
    EXPECT_EQ(tabs.size(), tab_limit);
    EXPECT_TRUE(same_path(tabs.back()->path, batch[1]));
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, L"Close a tab before opening more than 128 documents.");
    EXPECT_TRUE(pending_paths.empty());

    // The next batch is a new one, with a box of its own.
    pending_paths = {batch[4], batch[5]};
    SendMessageW(window_, WM_APP_OPEN_QUEUED, 0, 0);
    EXPECT_EQ(boxes_.size(), 2u);
    EXPECT_TRUE(pending_paths.empty());
}

TEST_F(Documents, PathsHandedOverWhileARefusedBatchOpensAreABatchOfTheirOwn) {
    const auto kept = file("kept.md", "x\n");
    open_path(kept);
    while (tabs.size() < tab_limit - 1) {
        SendMessageW(window_, WM_COMMAND, 100, 0);
    }
    const std::vector<std::filesystem::path> first{file("a.md", "a\n"), file("b.md", "b\n"),
                                                   file("c.md", "c\n")};
    file_work_busy = true;
    for (const auto& path : first) {
        ASSERT_EQ(hand_over(path), TRUE);
    }
    file_work_busy = false;
    // Another start hands over an open file and a new one while the refusal's box is shown.
    const auto later = file("d.md", "d\n");
    during_box_ = [&] {
        hand_over(kept);
        hand_over(later);
    };
    boxes_.clear();
    ASSERT_TRUE(pump_until([&] { return boxes_.size() == 2 && pending_paths.empty(); }));
    for (const auto& box : boxes_) {
        EXPECT_EQ(box.text, L"Close a tab before opening more than 128 documents.");
    }
    EXPECT_EQ(tabs.size(), tab_limit);
    EXPECT_TRUE(same_path(tabs.back()->path, first[0]));
    EXPECT_EQ(active, 0u);
    for (const auto& refused : {first[1], first[2], later}) {
        EXPECT_EQ(find_tab_by_path(refused, no_tab), no_tab);
    }
}

TEST_F(Documents, AnotherSpellingOfAnOpenFileSelectsItsTab) {
    const auto notes = file("notes.md", "# Notes\n");
    open_path(notes);
    open_path(file("other.md", "x\n"));
    ASSERT_EQ(active, 1u);
    std::wstring spelling = (folder_ / "sub" / ".." / "NOTES.MD").wstring();
    for (auto& c : spelling) {
        c = c == L'\\' ? L'/' : c;
    }
    open_path(spelling);
    EXPECT_EQ(tabs.size(), 2u);
    EXPECT_EQ(active, 0u);
    EXPECT_TRUE(same_path(notes, spelling));
    EXPECT_FALSE(same_path(notes, {}));
    EXPECT_EQ(find_tab_by_path(spelling, 0), no_tab);
    // A hard link is the same file under another name; a missing file is no tab's.
    const auto link = folder_ / "link.md";
    std::filesystem::create_hard_link(notes, link);
    EXPECT_EQ(find_tab_by_path(link, no_tab), 0u);
    EXPECT_TRUE(same_path(link, notes));
    EXPECT_EQ(find_tab_by_path(folder_ / "missing.md", no_tab), no_tab);
}

TEST_F(Documents, OneBatchOpensAFileAndItsHardLinkInOneTab) {
    const auto notes = file("notes.md", "# Notes\n");
    const auto link = folder_ / "link.md";
    std::filesystem::create_hard_link(notes, link);
    ASSERT_TRUE(open_paths({notes, file("other.md", "x\n"), link}));
    EXPECT_EQ(tabs.size(), 2u);
    EXPECT_EQ(active, 0u);
}

TEST_F(Documents, PathsQueuedDuringFileWorkOpenAfterwardsInOrder) {
    const auto a = file("a.md", "a\n");
    const auto b = file("b.txt", "b\n");
    file_work_busy = true;
    for (const auto& path : {a, b}) {
        ASSERT_EQ(hand_over(path), TRUE);
    }
    pump(50);
    EXPECT_EQ(pending_paths.size(), 2u);
    EXPECT_TRUE(current_tab().path.empty());
    file_work_busy = false;
    PostMessageW(window_, WM_APP_OPEN_QUEUED, 0, 0);
    EXPECT_TRUE(pump_until([] { return pending_paths.empty(); }));
    ASSERT_EQ(tabs.size(), 2u);
    EXPECT_TRUE(same_path(tabs[0]->path, a));
    EXPECT_TRUE(same_path(tabs[1]->path, b));
}

TEST_F(Documents, ViewsFollowTheFileTypeAndEachTabKeepsItsPlace) {
    std::string long_text;
    for (int i = 0; i < 400; ++i) {
        long_text += "Line " + std::to_string(i) + "\n";
    }
    open_path(file("long.md", long_text));
    select_view(view_split);
    EXPECT_EQ(settings.view, view_split);
    ASSERT_NE(preview().window, nullptr);
    EXPECT_EQ(rendered_preview().tab_id, current_tab().id);
    const std::uint64_t renders = preview_render_count();
    update_preview();
    EXPECT_EQ(preview_render_count(), renders);

    POINT scrolled{0, 900};
    SendMessageW(chrome.editor, EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scrolled));
    POINT before{};
    SendMessageW(chrome.editor, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&before));
    ASSERT_GT(before.y, 0);

    // A plain-text file shows Source, whatever is asked.
    open_path(file("plain.txt", "text\n"));
    select_view(view_preview);
    EXPECT_EQ(settings.view, view_source);

    select_tab(0, false);
    EXPECT_EQ(settings.view, view_split);
    POINT after{};
    SendMessageW(chrome.editor, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&after));
    EXPECT_EQ(after.y, before.y);
    select_view(view_preview);
    EXPECT_EQ(settings.view, view_preview);
}

TEST_F(Documents, ClosingTheOnlyTabKeepsTheView) {
    open_path(file("only.md", "# Only\n"));
    select_view(view_split);
    const std::uint64_t closed_id = current_tab().id;
    SendMessageW(window_, WM_COMMAND, 108, 0);
    ASSERT_EQ(tabs.size(), 1u);
    EXPECT_NE(current_tab().id, closed_id);
    EXPECT_TRUE(current_tab().path.empty());
    EXPECT_EQ(settings.view, view_split);
}

TEST_F(Documents, AnEditRefreshesTextAtOnceAndThePreviewOnlyAfterItsDelay) {
    open_path(file("edit.md", "# Title\n"));
    select_view(view_split);
    const std::uint64_t revision = current_tab().revision;
    const std::uint64_t renders = preview_render_count();
    // Taken before the edit: a timer never runs early, however late this thread runs.
    const ULONGLONG typed_at = GetTickCount64();
    type(L"new words ");
    EXPECT_EQ(current_tab().revision, revision + 1);
    EXPECT_TRUE(current_tab().text_stale);

    EXPECT_TRUE(pump_until([] { return !current_tab().text_stale; })); // the 400 ms refresh
    EXPECT_GE(GetTickCount64() - typed_at, 250u);
    EXPECT_EQ(word_count_cache.total, 4u);
    EXPECT_EQ(preview_render_count(), renders);

    EXPECT_TRUE(pump_until([&] { return preview_render_count() > renders; })); // after 1.5 s
    EXPECT_EQ(preview_render_count(), renders + 1);
    EXPECT_EQ(rendered_preview().revision, current_tab().revision);
}

TEST_F(Documents, TabTypesFourSpacesAsOneStepAndBusyInputPostponesTheTextRefresh) {
    SendMessageW(chrome.editor, WM_CHAR, L'\t', 0);
    EXPECT_EQ(tab_text(current_tab()), u"    ");
    SendMessageW(chrome.editor, EM_UNDO, 0, 0);
    EXPECT_EQ(tab_text(current_tab()), u"");

    type(L"word");
    ASSERT_TRUE(current_tab().text_stale);
    // Scrolling the editor for 700 ms keeps the 400 ms refresh waiting until the burst ends. A
    // thread that runs late may break the burst off early, so the refresh is watched as it runs
    // (never while input is busy) rather than looked for once the burst is over.
    bool refreshed_during_input = false;
    auto serve_watching_the_refresh = [&](DWORD milliseconds) {
        const ULONGLONG end = GetTickCount64() + milliseconds;
        MSG message{};
        while (GetTickCount64() < end) {
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                const bool stale = current_tab().text_stale;
                DispatchMessageW(&message);
                refreshed_during_input |= stale && !current_tab().text_stale && input_busy();
            }
            Sleep(5);
        }
    };
    for (int step = 0; step < 14; ++step) {
        SendMessageW(chrome.editor, WM_VSCROLL, SB_LINEDOWN, 0);
        serve_watching_the_refresh(50);
    }
    EXPECT_FALSE(refreshed_during_input);
    EXPECT_TRUE(pump_until([] { return !current_tab().text_stale; }));
    EXPECT_EQ(word_count_cache.total, 1u);
}

// The refresh copies only what changed since the text it last took, and the word count compares
// editor states; both must still end on exactly the editor's text, whatever the edits were.
TEST_F(Documents, TheTabTextAndWordCountFollowEditsThatAreHardToSeeAsChanges) {
    std::string lines;
    for (int i = 0; i < 3000; ++i) {
        lines += "alpha beta gamma\n"; // many of the editor's pieces
    }
    open_path(file("long.md", lines));
    const auto settled = [&](const char* step) {
        ASSERT_TRUE(pump_until([] { return !current_tab().text_stale; })) << step;
        const std::u16string text = source_text(chrome.editor);
        EXPECT_TRUE(current_tab().text == text) << step;
        std::uint64_t words = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            words += text[i] != u' ' && text[i] != u'\n' &&
                     (i == 0 || text[i - 1] == u' ' || text[i - 1] == u'\n');
        }
        EXPECT_EQ(word_count_cache.total, words) << step;
        EXPECT_NE(test::text_of(chrome.status_strip).find(std::to_wstring(words) + L" words"),
                  std::wstring::npos)
            << step;
    };
    const auto select = [](LONG from, LONG to) {
        CHARRANGE range{from, to};
        SendMessageW(chrome.editor, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    };
    settled("opened");
    select(30000, 30001); // one letter becomes a space: same length, one word more
    type(L" ");
    settled("same length");
    select(100, 100);
    type(L"one two\nthree ");
    settled("typed");
    SendMessageW(chrome.editor, EM_UNDO, 0, 0);
    settled("undone after its refresh");
    select(40000, 40000);
    type(L"x y ");
    SendMessageW(chrome.editor, EM_UNDO, 0, 0); // back to the counted text before a refresh
    settled("undone before its refresh");

    const std::uint64_t first = current_tab().id;
    open_path(file("other.md", "just three words\n"));
    settled("other tab");
    select(0, 0);
    type(L"more ");
    settled("other tab typed");
    select_tab(0, false);
    ASSERT_EQ(current_tab().id, first);
    settled("back");
    select(50, 55);
    type(L"");
    settled("back and cut");
}

// A large text is copied in one tick and counted in the next; the count must still come.
TEST_F(Documents, ALargeTextsWordCountFollowsItsCopy) {
    std::string lines;
    for (int i = 0; i < 70000; ++i) {
        lines += "alpha beta gamma\n"; // over a mebiunit
    }
    open_path(file("large.md", lines));
    SendMessageW(chrome.editor, EM_SETSEL, 0, 0);
    type(L"one two ");
    ASSERT_TRUE(pump_until([] { return !current_tab().text_stale; }));
    EXPECT_TRUE(pump_until([] {
        return word_count_cache.total == 210002 &&
               test::text_of(chrome.status_strip).find(L"210002 words") != std::wstring::npos;
    }));
}

} // namespace
} // namespace pellix
