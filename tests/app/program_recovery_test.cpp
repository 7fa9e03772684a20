#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/recovery_store.h"
#include "app/single_instance.h"
#include "app/timers.h"
#include "core/encoding.h"
#include "core/file_io.h"
#include "core/limits.h"
#include "tests/app/program_process.h"
#include "tests/app/recovery_support.h"
#include "tests/app/settings_key_guard.h"
#include "platform/unique_handle.h"
#include "tests/bounded_wait.h"

namespace pellix {
namespace {

using test::Program;

constexpr int tab_control_id = 12;
constexpr UINT new_tab_command = 100;
constexpr UINT save_command = 102;
constexpr DWORD answer_limit_ms = 10000;
// The snapshot follows the last edit by 1.5 s; a loaded machine may run the timer late.
constexpr DWORD store_limit_ms = 15000;

DWORD_PTR send(HWND window, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, answer_limit_ms,
                        &answer);
    return answer;
}

// The program's main window once it is shown and its single-instance claim is complete.
HWND started_window(const Program& program, const wchar_t* caption = nullptr) {
    HWND window = program.wait_for_window(editor_window_class, caption);
    if (window == nullptr) {
        return nullptr;
    }
    UniqueHandle ready(OpenEventW(SYNCHRONIZE, FALSE, ready_event_name));
    if (!ready || WaitForSingleObject(ready.get(), 30000) != WAIT_OBJECT_0) {
        return nullptr;
    }
    const ULONGLONG end = GetTickCount64() + 30000;
    while (!IsWindowVisible(window) && GetTickCount64() < end) {
        Sleep(20);
    }
    return window;
}

// The editor the window shows: every tab has one, only the active one is visible.
HWND active_editor(HWND window) {
    HWND editor = nullptr;
    while ((editor = FindWindowExW(window, editor, L"Pellix.DirectWrite.Source", nullptr)) !=
           nullptr) {
        if (IsWindowVisible(editor)) {
            return editor;
        }
    }
    return nullptr;
}

std::vector<HWND> editors(HWND window) {
    std::vector<HWND> found;
    HWND editor = nullptr;
    while ((editor = FindWindowExW(window, editor, L"Pellix.DirectWrite.Source", nullptr)) !=
           nullptr) {
        found.push_back(editor);
    }
    return found;
}

std::wstring editor_text(HWND editor) {
    const auto length = send(editor, WM_GETTEXTLENGTH);
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(editor, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, answer_limit_ms, &copied);
    text.resize(copied);
    return text;
}

// Types as the keyboard would, one WM_CHAR per unit; false once the program stops answering.
bool type(HWND editor, const std::wstring& text) {
    for (wchar_t unit : text) {
        DWORD_PTR answer = 0;
        if (!SendMessageTimeoutW(editor, WM_CHAR, unit, 1, SMTO_ABORTIFHUNG, answer_limit_ms,
                                 &answer)) {
            return false;
        }
    }
    return true;
}

// Waits until the window is enabled again and its active editor holds `length` units: the title
// names a newly opened file before the file work that fills its editor has ended, and what is
// typed meanwhile would be replaced by the file's text.
bool opened_with_length(HWND window, LRESULT length) {
    const ULONGLONG end = GetTickCount64() + answer_limit_ms;
    do {
        const HWND editor = active_editor(window);
        if (IsWindowEnabled(window) && editor != nullptr &&
            send(editor, WM_GETTEXTLENGTH) == static_cast<DWORD_PTR>(length)) {
            return true;
        }
        Sleep(20);
    } while (GetTickCount64() < end);
    return false;
}

// Waits until the main window's title reads `title` (the restore runs after the box closes).
bool title_becomes(HWND window, const std::wstring& title, DWORD limit_ms = answer_limit_ms) {
    const ULONGLONG end = GetTickCount64() + limit_ms;
    do {
        wchar_t text[256] = {};
        GetWindowTextW(window, text, 256);
        if (title == text) {
            return true;
        }
        Sleep(20);
    } while (GetTickCount64() < end);
    return false;
}

std::size_t tab_count(HWND window) {
    return send(GetDlgItem(window, tab_control_id), TCM_GETITEMCOUNT);
}

// Presses `button` in the program's box with `caption`, after checking its text.
void answer_box(const Program& program, const wchar_t* caption, const std::wstring& text,
                int button) {
    HWND box = program.wait_for_window(L"#32770", caption);
    ASSERT_NE(box, nullptr) << caption;
    constexpr int message_text_id = 0xFFFF;
    wchar_t shown[512] = {};
    GetDlgItemTextW(box, message_text_id, shown, 512);
    EXPECT_EQ(std::wstring(shown), text);
    PostMessageW(box, WM_COMMAND, button, 0);
}

void answer_drafts(const Program& program, int button) {
    answer_box(program, L"Recover tabs",
               L"Unsaved tabs from the previous session are available. Restore those drafts?",
               button);
}

// The encoding choice for a file that is not valid Unicode: Windows-1252.
void choose_windows_1252(const Program& program) {
    constexpr UINT click_button = WM_USER + 102;
    constexpr WPARAM windows_1252_button = 100;
    HWND dialog = program.wait_for_window(nullptr, L"Open with encoding");
    ASSERT_NE(dialog, nullptr);
    PostMessageW(dialog, click_button, windows_1252_button, 0);
}

// No box of the program shows within `milliseconds`.
bool no_box_within(const Program& program, DWORD milliseconds) {
    return program.wait_for_window(L"#32770", nullptr, milliseconds) == nullptr;
}

// The store once it holds what `done` asks; nothing when it never does within the limit.
std::optional<Workspace> wait_for_store(const test::ScratchLocalAppData& local,
                                        const std::function<bool(const Workspace&)>& done,
                                        DWORD limit_ms = store_limit_ms) {
    const ULONGLONG end = GetTickCount64() + limit_ms;
    do {
        std::optional<Workspace> workspace = test::stored_workspace(local.tabs_file());
        if (workspace && done(*workspace)) {
            return workspace;
        }
        Sleep(50);
    } while (GetTickCount64() < end);
    return std::nullopt;
}

// A later store than the one on disk now, read once the program has replaced the file.
std::optional<Workspace> wait_for_newer_store(const test::ScratchLocalAppData& local,
                                              std::filesystem::file_time_type after) {
    const ULONGLONG end = GetTickCount64() + store_limit_ms;
    while (GetTickCount64() < end) {
        std::error_code error;
        const auto written = std::filesystem::last_write_time(local.tabs_file(), error);
        if (!error && written != after) {
            if (auto workspace = test::stored_workspace(local.tabs_file())) {
                return workspace;
            }
        }
        Sleep(50);
    }
    return std::nullopt;
}

std::wstring quoted(const std::filesystem::path& path) {
    return L"\"" + path.wstring() + L"\"";
}

class ProgramRecovery : public ::testing::Test {
protected:
    void SetUp() override { settings_.set_dword(L"WelcomeShown", 1); }

    std::filesystem::path file(const std::string& name, const std::string& bytes) const {
        const std::filesystem::path path = local_.files() / name;
        test::write_bytes(path, bytes);
        return path;
    }

    void write_store(const Workspace& workspace) const {
        std::filesystem::create_directories(local_.store_folder());
        test::write_bytes(local_.tabs_file(), test::store_bytes(workspace));
    }

    test::SettingsKeyGuard settings_;
    test::ScratchLocalAppData local_{"program-recovery"};
};

std::string utf16_bytes(const std::u16string& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

TEST_F(ProgramRecovery, ThreeEditedTabsComeBackByteForByteAfterTheProcessIsKilled) {
    const auto wide = file("wide.txt", "\xFF\xFE" + utf16_bytes(u"one\r\ntwo\r\n"));
    const auto latin = file("latin.txt", "caf\xE9\n");
    const std::vector<Session> expected = {
        {u"\u00FCX one\ntwo\n", Encoding::utf16_le, LineEnding::crlf, test::utf8(wide), true},
        {u"\u00E9! caf\u00E9\n", Encoding::windows_1252, LineEnding::lf, test::utf8(latin), true},
        {u"first\nsecond", Encoding::utf8, LineEnding::crlf, "", true},
    };
    {
        Program first(quoted(wide));
        HWND window = started_window(first, L"wide.txt - Pellix");
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(type(active_editor(window), L"\u00FCX "));

        const std::wstring path = latin.wstring();
        COPYDATASTRUCT record{1, static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)),
                              const_cast<wchar_t*>(path.c_str())};
        send(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&record));
        choose_windows_1252(first);
        ASSERT_NE(first.wait_for_window(editor_window_class, L"latin.txt - Pellix"), nullptr);
        ASSERT_TRUE(opened_with_length(window, 5));
        ASSERT_TRUE(type(active_editor(window), L"\u00E9! "));

        send(window, WM_COMMAND, new_tab_command);
        ASSERT_TRUE(type(active_editor(window), L"first\rsecond"));
        const auto stored = wait_for_store(
            local_, [&](const Workspace& workspace) { return workspace.sessions == expected; });
        ASSERT_TRUE(stored && stored->sessions == expected);
    } // killed with TerminateProcess, no clean exit
    const auto killed_store = std::filesystem::last_write_time(local_.tabs_file());

    Program second(L"");
    answer_drafts(second, IDYES);
    HWND window = started_window(second);
    ASSERT_NE(window, nullptr);
    const auto restored = wait_for_newer_store(local_, killed_store);
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->sessions, expected);
    EXPECT_EQ(restored->active, 2u);
    EXPECT_EQ(tab_count(window), 3u);
    EXPECT_TRUE(title_becomes(window, L"Untitled.md * - Pellix"));
    std::vector<std::wstring> texts;
    for (HWND editor : editors(window)) {
        texts.push_back(editor_text(editor));
    }
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"first\nsecond", L"\u00E9! caf\u00E9\n",
                                                L"\u00FCX one\ntwo\n"}));
    // Saved as they are now, each tab writes its file's own encoding and line ending.
    EXPECT_EQ(
        encode_document_text({expected[0].text, expected[0].encoding, expected[0].line_ending}),
        "\xFF\xFE" + utf16_bytes(u"\u00FCX one\r\ntwo\r\n"));
    EXPECT_EQ(encode_document_text({restored->sessions[1].text, restored->sessions[1].encoding,
                                    restored->sessions[1].line_ending}),
              "\xE9! caf\xE9\n");
}

TEST_F(ProgramRecovery, ACorruptStoreStartsCleanlyAndTheNextStoreComesBack) {
    const std::string valid = test::store_bytes(
        {.sessions = {{u"old", Encoding::utf8, LineEnding::lf, "", true}}, .active = 0});
    std::string bad_magic = valid;
    bad_magic[3] = 'x';
    const std::vector<std::string> corrupt = {valid.substr(0, valid.size() - 1), bad_magic};
    for (std::size_t i = 0; i < corrupt.size(); ++i) {
        std::filesystem::create_directories(local_.store_folder());
        test::write_bytes(local_.tabs_file(), corrupt[i]);
        const std::wstring typed = L"newer " + std::to_wstring(i);
        {
            Program program(L"");
            HWND window = started_window(program);
            ASSERT_NE(window, nullptr);
            // The start-up has ended once its first store has replaced the corrupt one (a lone
            // empty tab stores nothing); a box about the store would have come before that.
            EXPECT_TRUE(test::wait_until([&] {
                return !std::filesystem::exists(local_.tabs_file()) ||
                       test::stored_workspace(local_.tabs_file()).has_value();
            })) << i;
            EXPECT_TRUE(no_box_within(program, 1500)) << i;
            EXPECT_TRUE(IsWindowEnabled(window));
            EXPECT_EQ(editors(window).size(), 1u);
            ASSERT_TRUE(type(active_editor(window), typed));
            const std::u16string expected(typed.begin(), typed.end());
            const auto stored = wait_for_store(local_, [&](const Workspace& workspace) {
                return workspace.sessions.size() == 1 && workspace.sessions[0].text == expected;
            });
            ASSERT_TRUE(stored && stored->sessions[0].text == expected) << i;
        }
        if (i + 1 < corrupt.size()) {
            continue;
        }
        // The newer store made after the corrupt one is what the next start offers.
        Program again(L"");
        answer_drafts(again, IDYES);
        HWND window = started_window(again);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(title_becomes(window, L"Untitled.md * - Pellix"));
        EXPECT_EQ(editor_text(active_editor(window)), typed);
    }
}

// The copies of the store's container that the program moved aside; `.kept-` ones hold a draft
// that did not come back.
std::vector<std::filesystem::path> kept_copies(const test::ScratchLocalAppData& local,
                                               const wchar_t* prefix = L"tabs.bin.damaged-") {
    std::vector<std::filesystem::path> copies;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(local.store_folder(), error)) {
        if (entry.path().filename().wstring().starts_with(prefix)) {
            copies.push_back(entry.path());
        }
    }
    return copies;
}

// The kept copies once there are any: the program moves a damaged store aside at its first store
// after the restore, which may come after the restored tabs show.
std::vector<std::filesystem::path>
kept_copies_once_moved(const test::ScratchLocalAppData& local,
                       const wchar_t* prefix = L"tabs.bin.damaged-") {
    test::wait_until([&] { return !kept_copies(local, prefix).empty(); },
                     std::chrono::milliseconds(store_limit_ms));
    return kept_copies(local, prefix);
}

TEST_F(ProgramRecovery, AStoreCutInHalfAfterAKillIsKeptAndItsIntactDraftIsOffered) {
    const std::wstring first_draft = L"first draft";
    const std::wstring second_draft(400, L'x');
    {
        Program program(L"");
        HWND window = started_window(program);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(type(active_editor(window), first_draft));
        send(window, WM_COMMAND, new_tab_command);
        ASSERT_TRUE(type(active_editor(window), second_draft));
        const auto stored = wait_for_store(local_, [&](const Workspace& workspace) {
            return workspace.sessions.size() == 2 &&
                   workspace.sessions[1].text.size() == second_draft.size();
        });
        ASSERT_TRUE(stored && stored->sessions.size() == 2);
    } // killed with TerminateProcess, no clean exit
    const std::string whole = read_file_bytes(local_.tabs_file(), recovery_container_limit);
    const std::string half = whole.substr(0, whole.size() / 2);
    test::write_bytes(local_.tabs_file(), half);

    Program program(L"");
    answer_drafts(program, IDYES);
    HWND window = started_window(program);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(title_becomes(window, L"Untitled.md * - Pellix"));
    EXPECT_EQ(tab_count(window), 1u);
    EXPECT_EQ(editor_text(active_editor(window)), first_draft);
    // The second draft is only in the copy, which is never pruned.
    const std::vector<std::filesystem::path> kept =
        kept_copies_once_moved(local_, L"tabs.bin.kept-");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(read_file_bytes(kept[0], recovery_container_limit), half);
    // The store of the restored tab is written beside the kept copy.
    const std::u16string expected(first_draft.begin(), first_draft.end());
    const auto restored = wait_for_store(local_, [&](const Workspace& workspace) {
        return workspace.sessions.size() == 1 && workspace.sessions[0].text == expected;
    });
    EXPECT_TRUE(restored && restored->sessions.size() == 1);
    EXPECT_EQ(read_file_bytes(kept[0], recovery_container_limit), half);
    // The status strip names the kept copy.
    HWND strip = FindWindowExW(window, nullptr, L"Pellix.StatusStrip", nullptr);
    wchar_t shown[1024] = {};
    SendMessageTimeoutW(strip, WM_GETTEXT, std::size(shown), reinterpret_cast<LPARAM>(shown),
                        SMTO_ABORTIFHUNG, answer_limit_ms, nullptr);
    EXPECT_NE(std::wstring(shown).find(kept[0].filename().wstring()), std::wstring::npos) << shown;
}

// The status strip's text once it holds `part`, or what it last held.
std::wstring strip_showing(HWND window, const std::wstring& part) {
    HWND strip = FindWindowExW(window, nullptr, L"Pellix.StatusStrip", nullptr);
    wchar_t shown[2048] = {};
    test::wait_until([&] {
        SendMessageTimeoutW(strip, WM_GETTEXT, std::size(shown), reinterpret_cast<LPARAM>(shown),
                            SMTO_ABORTIFHUNG, answer_limit_ms, nullptr);
        return std::wstring(shown).find(part) != std::wstring::npos;
    });
    return shown;
}

// The store as another program holding it open would leave it: `share` 0 refuses every open,
// FILE_SHARE_READ lets it be read but never moved or replaced.
UniqueHandle held_by_another_program(const std::filesystem::path& path, DWORD share) {
    return UniqueHandle(
        CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
}

std::vector<std::wstring> sorted_texts(HWND window) {
    std::vector<std::wstring> texts;
    for (HWND editor : editors(window)) {
        texts.push_back(editor_text(editor));
    }
    std::sort(texts.begin(), texts.end());
    return texts;
}

// Whether the store at `path` comes to hold `count` sessions, the last holding `text`.
bool stored_last(const std::filesystem::path& path, std::size_t count, const std::u16string& text) {
    return test::wait_until([&] {
        const auto stored = test::stored_workspace(path);
        return stored && stored->sessions.size() == count && stored->sessions.back().text == text;
    });
}

// The editor of the window's one file, "saved v0", with `text` typed after what it holds; null
// when the window, the file or the typing failed.
HWND typed_after_saved_text(HWND window, const std::wstring& text) {
    constexpr std::size_t saved_length = 8;
    if (window == nullptr || !opened_with_length(window, saved_length)) {
        return nullptr;
    }
    HWND editor = active_editor(window);
    send(editor, EM_SETSEL, saved_length, saved_length);
    return type(editor, text) ? editor : nullptr;
}

// Starts the program with one untitled tab, types `text` and kills the program once `tabs_file`
// holds it.
void store_draft_and_die(const std::filesystem::path& tabs_file, const std::wstring& text) {
    Program program(L"");
    HWND window = started_window(program);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(type(active_editor(window), text));
    ASSERT_TRUE(stored_last(tabs_file, 1, std::u16string(text.begin(), text.end())));
}

// Answers Yes to the drafts question of a starting program and checks the tabs' texts (sorted).
::testing::AssertionResult restores_drafts(const Program& program,
                                           const std::vector<std::wstring>& texts) {
    answer_drafts(program, IDYES);
    HWND window = started_window(program);
    if (window == nullptr) {
        return ::testing::AssertionFailure() << "no main window";
    }
    return test::eventually([&]() -> ::testing::AssertionResult {
        const std::vector<std::wstring> shown = sorted_texts(window);
        if (shown == texts) {
            return ::testing::AssertionSuccess();
        }
        auto failure = ::testing::AssertionFailure() << shown.size() << " tabs:";
        for (const std::wstring& text : shown) {
            failure << " \"" << std::string(text.begin(), text.end()) << "\"";
        }
        return failure;
    });
}

// Three drafts stored, then one bit of the container's magic, of its first record's length, or
// of the first draft's text so that it reads as the third's, goes bad: every other draft comes
// back.
TEST_F(ProgramRecovery, ABitFlippedInTheContainerCostsNoOtherDraft) {
    const std::wstring shopping = L"Shopping list: milk, eggs, an intact draft";
    {
        Program program(L"");
        HWND window = started_window(program);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(type(active_editor(window), L"Note 1"));
        for (const std::wstring& text : {shopping, std::wstring(L"Note 3")}) {
            send(window, WM_COMMAND, new_tab_command);
            ASSERT_TRUE(type(active_editor(window), text));
        }
        ASSERT_TRUE(stored_last(local_.tabs_file(), 3, u"Note 3"));
    } // killed with TerminateProcess
    const std::string stored = read_file_bytes(local_.tabs_file(), recovery_container_limit);
    const std::size_t container = stored.find("PLXTABS1");
    constexpr std::size_t first_length = 16;
    const std::vector<std::wstring> all{L"Note 1", L"Note 3", shopping};
    struct Flip {
        std::size_t at;
        char bits;
        std::vector<std::wstring> offered;
    };
    for (const Flip& flip :
         {Flip{container + 2, 0x04, all}, Flip{container + first_length, 0x04, all},
          Flip{stored.find("Note 1") + 5, 0x02, {L"Note 3", shopping}}}) {
        std::string bytes = stored;
        bytes[flip.at] ^= flip.bits;
        // The previous start's stores (one a kill left in a temporary file) hold every draft.
        std::filesystem::remove_all(local_.store_folder());
        std::filesystem::create_directories(local_.store_folder());
        test::write_bytes(local_.tabs_file(), bytes);
        Program program(L"");
        EXPECT_TRUE(restores_drafts(program, flip.offered)) << flip.at;
    }
}

// The previous release read no stamped store: it set "tabs.bin" aside byte for byte under the
// name of a damaged copy and offered nothing. The next start of this one offers the draft.
TEST_F(ProgramRecovery, AStoreThePreviousReleaseSetAsideIsOfferedAtTheNextStart) {
    ASSERT_NO_FATAL_FAILURE(store_draft_and_die(local_.tabs_file(), L"set aside"));
    std::filesystem::rename(local_.tabs_file(),
                            local_.tabs_file().parent_path() / "tabs.bin.damaged-20261210-090000");
    Program program(L"");
    EXPECT_TRUE(restores_drafts(program, {L"set aside"}));
}

TEST_F(ProgramRecovery, AStoreAnotherProgramHoldsIsLeftAsItIsAndTheDraftsTypedMeanwhileComeBack) {
    write_store(
        {.sessions = {{u"old draft", Encoding::utf8, LineEnding::lf, "", true}}, .active = 0});
    const std::string old_bytes = read_file_bytes(local_.tabs_file(), recovery_container_limit);
    const std::filesystem::path beside = local_.store_folder() / L"tabs.bin.beside";
    {
        UniqueHandle holder = held_by_another_program(local_.tabs_file(), 0);
        ASSERT_TRUE(holder.valid());
        Program program(L"");
        HWND window = started_window(program);
        ASSERT_NE(window, nullptr);
        const std::wstring note = held_file_note + local_.tabs_file().wstring();
        const std::wstring shown = strip_showing(window, note);
        EXPECT_NE(shown.find(note), std::wstring::npos) << shown;
        EXPECT_TRUE(no_box_within(program, 500));
        EXPECT_EQ(sorted_texts(window), std::vector<std::wstring>{L""});
        ASSERT_TRUE(type(active_editor(window), L"new draft"));
        EXPECT_TRUE(stored_last(beside, 1, u"new draft"));
    } // killed with TerminateProcess; then the other program lets go of the store
    EXPECT_EQ(read_file_bytes(local_.tabs_file(), recovery_container_limit), old_bytes);

    Program again(L"");
    EXPECT_TRUE(restores_drafts(again, {L"new draft", L"old draft"}));
}

// A draft stored in "tabs.bin", then a newer one of the same tab beside it while another program
// held "tabs.bin"; one byte of the newer draft's text goes bad: the intact older draft is offered.
TEST_F(ProgramRecovery, ADamagedNewerStoreLeavesTheIntactOlderDraftOffered) {
    ASSERT_NO_FATAL_FAILURE(store_draft_and_die(local_.tabs_file(), L"A1"));
    const std::filesystem::path beside = local_.store_folder() / L"tabs.bin.beside";
    {
        Program program(L"");
        EXPECT_TRUE(restores_drafts(program, {L"A1"}));
        HWND window = started_window(program);
        UniqueHandle holder = held_by_another_program(local_.tabs_file(), 0);
        ASSERT_TRUE(holder.valid());
        ASSERT_TRUE(type(active_editor(window), L"B2"));
        EXPECT_TRUE(test::wait_until([&] {
            const auto stored = test::stored_workspace(beside);
            return stored && stored->sessions.size() == 1 &&
                   stored->sessions[0].text.find(u"B2") != std::u16string::npos;
        }));
    }
    std::string bytes = read_file_bytes(beside, recovery_container_limit);
    const std::size_t at = bytes.find("B2");
    ASSERT_NE(at, std::string::npos);
    bytes[at] = static_cast<char>(bytes[at] ^ 0x80);
    std::ofstream(beside, std::ios::binary | std::ios::trunc) << bytes;

    Program again(L"");
    EXPECT_TRUE(restores_drafts(again, {L"A1"}));
}

// A replace that lost the old file leaves the store only in its temporary file (under Wine when
// another program takes the name in that moment); with no other store there, the next start still
// offers its draft.
TEST_F(ProgramRecovery, AStoreLeftOnlyInATemporaryFileIsOffered) {
    ASSERT_NO_FATAL_FAILURE(store_draft_and_die(local_.tabs_file(), L"A1"));
    std::filesystem::rename(local_.tabs_file(), local_.store_folder() / L".pellix-1-2.tmp");

    Program again(L"");
    EXPECT_TRUE(restores_drafts(again, {L"A1"}));
}

// A draft stored in "tabs.bin"; a start that could not read that file (another program held it)
// stored another draft beside it; then both copies of the stamp of "tabs.bin" went bad at one
// byte. Nothing holds the first draft or let it go: it is offered with the other.
TEST_F(ProgramRecovery, ADraftNoStampChecksIsOfferedBesideAStoreThatNeverReadIt) {
    ASSERT_NO_FATAL_FAILURE(store_draft_and_die(local_.tabs_file(), L"X1"));
    const std::filesystem::path beside = local_.store_folder() / L"tabs.bin.beside";
    {
        UniqueHandle holder = held_by_another_program(local_.tabs_file(), 0);
        ASSERT_TRUE(holder.valid());
        Program program(L"");
        HWND window = started_window(program);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(type(active_editor(window), L"Y"));
        ASSERT_TRUE(stored_last(beside, 1, u"Y"));
    } // killed with TerminateProcess; then the other program lets go of the store
    std::string bytes = read_file_bytes(local_.tabs_file(), recovery_container_limit);
    constexpr std::size_t stamp_at = 8 + 4;
    constexpr std::size_t in_run = 1;
    const std::size_t stamp_size = bytes.find("PLXTABS1") - stamp_at;
    bytes[stamp_at + in_run] ^= 0x10;
    bytes[bytes.size() - stamp_at - stamp_size + in_run] ^= 0x10;
    test::write_bytes(local_.tabs_file(), bytes);
    for (int start = 0; start < 2; ++start) {
        Program again(L"");
        EXPECT_TRUE(restores_drafts(again, {L"X1", L"Y"})) << start;
    }
}

// A draft of a file stored; then, while no store can land (another program holds "tabs.bin" and
// the place beside it is taken), more is typed and the file saved, and the program is killed. The
// next start opens the file as saved, and the older draft comes beside it, not in its tab.
TEST_F(ProgramRecovery, ADraftOfAFileSavedSinceComesBesideTheFileAsSaved) {
    const auto path = file("full.md", "saved v0");
    const std::filesystem::path beside = local_.store_folder() / L"tabs.bin.beside";
    {
        Program program(quoted(path));
        HWND window = started_window(program, L"full.md - Pellix");
        HWND editor = typed_after_saved_text(window, L" OLD");
        ASSERT_NE(editor, nullptr);
        ASSERT_TRUE(stored_last(local_.tabs_file(), 1, u"saved v0 OLD"));
        UniqueHandle holder = held_by_another_program(local_.tabs_file(), 0);
        ASSERT_TRUE(holder.valid());
        std::filesystem::create_directory(beside);
        ASSERT_TRUE(type(editor, L" NEWER"));
        PostMessageW(window, WM_COMMAND, save_command, 0);
        ASSERT_TRUE(title_becomes(window, L"full.md - Pellix"));
        EXPECT_EQ(read_file_bytes(path, document_limit), "saved v0 OLD NEWER");
        const std::wstring shown = strip_showing(window, recovery_unavailable_text);
        EXPECT_NE(shown.find(recovery_unavailable_text), std::wstring::npos) << shown;
    } // killed with TerminateProcess
    std::filesystem::remove(beside);
    Program again(L"");
    EXPECT_TRUE(restores_drafts(again, {L"saved v0 OLD", L"saved v0 OLD NEWER"}));
    EXPECT_TRUE(title_becomes(started_window(again), L"full.md - Pellix"));
}

// Whether the store file at `path` comes to hold a whole store other than `bytes`.
bool replaced_store(const std::filesystem::path& path, const std::string& bytes) {
    return test::wait_until([&] {
        const FileRead now = read_whole_file(path, recovery_container_limit);
        return now.end == FileReadEnd::read && now.bytes != bytes &&
               test::stored_workspace(path).has_value();
    });
}

// In the window of a file holding "saved v0": " v1" typed and stored in "tabs.bin", then " v2"
// typed while another program holds "tabs.bin", stored beside it; then the file beside is held
// (by `beside_holder`) and "tabs.bin" let go. `editor` becomes the tab's editor.
void drafts_in_both_files(const test::ScratchLocalAppData& local, HWND window, HWND& editor,
                          UniqueHandle& beside_holder) {
    const std::filesystem::path beside = local.store_folder() / L"tabs.bin.beside";
    editor = typed_after_saved_text(window, L" v1");
    ASSERT_NE(editor, nullptr);
    ASSERT_TRUE(stored_last(local.tabs_file(), 1, u"saved v0 v1"));
    UniqueHandle tabs_holder = held_by_another_program(local.tabs_file(), 0);
    ASSERT_TRUE(tabs_holder.valid());
    ASSERT_TRUE(type(editor, L" v2"));
    ASSERT_TRUE(stored_last(beside, 1, u"saved v0 v1 v2"));
    beside_holder = held_by_another_program(beside, 0);
    ASSERT_TRUE(beside_holder.valid());
}

// Other programs hold one store file and then the other, so that a tab's drafts end in two files
// whose stamps never name each other: "tabs.bin" with the newest, and beside it an older one that
// a start which could not read "tabs.bin" brought back and stored again. The newest is offered.
TEST_F(ProgramRecovery, OfTwoStoresNeitherTakesOverBothDraftsAreOffered) {
    const auto path = file("x.md", "saved v0");
    const std::filesystem::path beside = local_.store_folder() / L"tabs.bin.beside";
    {
        Program program(quoted(path));
        HWND window = started_window(program, L"x.md - Pellix");
        HWND editor = nullptr;
        UniqueHandle beside_holder;
        ASSERT_NO_FATAL_FAILURE(drafts_in_both_files(local_, window, editor, beside_holder));
        ASSERT_TRUE(type(editor, L" v3"));
        ASSERT_TRUE(stored_last(local_.tabs_file(), 1, u"saved v0 v1 v2 v3"));
    } // killed with TerminateProcess
    {
        UniqueHandle tabs_holder = held_by_another_program(local_.tabs_file(), 0);
        ASSERT_TRUE(tabs_holder.valid());
        const std::string left = read_file_bytes(beside, recovery_container_limit);
        Program program(L"");
        answer_drafts(program, IDYES);
        ASSERT_NE(started_window(program), nullptr);
        // This start could only read the older draft; it is killed once its store replaced it.
        EXPECT_TRUE(replaced_store(beside, left));
    }

    const std::string left = read_file_bytes(local_.tabs_file(), recovery_container_limit);
    Program again(L"");
    answer_drafts(again, IDYES);
    HWND window = started_window(again);
    ASSERT_NE(window, nullptr);
    // The restore puts each file's draft in a tab; its first store comes after the last. Neither
    // store took the other over, so the draft of the store beside comes too, in a tab of its own.
    ASSERT_TRUE(replaced_store(local_.tabs_file(), left));
    EXPECT_EQ(sorted_texts(window),
              (std::vector<std::wstring>{L"saved v0 v1 v2", L"saved v0 v1 v2 v3"}));
}

// A draft lives beside "tabs.bin", which a close that discarded it filled with the saved text; a
// start that could read only the file beside restores the draft and saves it over the file. The
// next start reads both files: the file as saved comes back, never the older text of the close.
TEST_F(ProgramRecovery, ADraftSavedByAStartThatReadOnlyTheFileBesideStaysSaved) {
    const auto path = file("t.md", "saved v0");
    {
        Program program(quoted(path));
        HWND window = started_window(program, L"t.md - Pellix");
        HWND editor = nullptr;
        UniqueHandle beside_holder;
        ASSERT_NO_FATAL_FAILURE(drafts_in_both_files(local_, window, editor, beside_holder));
        PostMessageW(window, WM_CLOSE, 0, 0);
        answer_box(program, L"Unsaved changes", L"Save changes to t.md?", IDNO);
        EXPECT_EQ(program.wait_for_exit(), 0u);
        const auto closed = test::stored_workspace(local_.tabs_file());
        ASSERT_TRUE(closed && closed->sessions.size() == 1);
        EXPECT_FALSE(closed->sessions[0].draft);
        EXPECT_EQ(closed->sessions[0].text, u"saved v0");
    }
    {
        UniqueHandle tabs_holder = held_by_another_program(local_.tabs_file(), 0);
        ASSERT_TRUE(tabs_holder.valid());
        Program program(L"");
        answer_drafts(program, IDYES);
        HWND window = started_window(program);
        ASSERT_TRUE(title_becomes(window, L"t.md * - Pellix"));
        PostMessageW(window, WM_COMMAND, save_command, 0);
        answer_box(program, L"File changed",
                   L"This file changed on disk, is unreadable, or has a recovered draft. Replace "
                   L"it with the editor's current contents?",
                   IDYES);
        ASSERT_TRUE(title_becomes(window, L"t.md - Pellix"));
        ASSERT_EQ(read_file_bytes(path, document_limit), "saved v0 v1 v2");
        PostMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(program.wait_for_exit(), 0u);
    }
    Program again(L"");
    HWND window = started_window(again);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(title_becomes(window, L"t.md - Pellix"));
    EXPECT_TRUE(no_box_within(again, 500));
    EXPECT_EQ(sorted_texts(window), std::vector<std::wstring>{L"saved v0 v1 v2"});
    EXPECT_EQ(read_file_bytes(path, document_limit), "saved v0 v1 v2");
}

TEST_F(ProgramRecovery, ADamagedStoreAnotherProgramHoldsKeepsItsBytesAndTheNewDraftsToo) {
    const std::string whole =
        test::store_bytes({.sessions = {{u"intact", Encoding::utf8, LineEnding::lf, "", true},
                                        {u"cut", Encoding::utf8, LineEnding::lf, "", true}},
                           .active = 0});
    const std::string damaged = whole.substr(0, whole.size() - 2);
    std::filesystem::create_directories(local_.store_folder());
    test::write_bytes(local_.tabs_file(), damaged);
    const std::filesystem::path beside = local_.store_folder() / L"tabs.bin.beside";
    {
        UniqueHandle holder = held_by_another_program(local_.tabs_file(), FILE_SHARE_READ);
        ASSERT_TRUE(holder.valid());
        Program program(L"");
        answer_drafts(program, IDYES);
        HWND window = started_window(program);
        ASSERT_NE(window, nullptr);
        // The restore has ended once the status names the damaged store's copy.
        ASSERT_NE(strip_showing(window, kept_store_note).find(kept_store_note), std::wstring::npos);
        send(window, WM_COMMAND, new_tab_command);
        ASSERT_TRUE(type(active_editor(window), L"typed meanwhile"));
        EXPECT_TRUE(stored_last(beside, 2, u"typed meanwhile"));
        const std::wstring note = stored_beside_note + beside.wstring();
        const std::wstring shown = strip_showing(window, note);
        EXPECT_NE(shown.find(note), std::wstring::npos) << shown;
    } // killed with TerminateProcess; then the other program lets go of the store
    EXPECT_EQ(read_file_bytes(local_.tabs_file(), recovery_container_limit), damaged);

    // The damaged store's intact draft is in the store beside too, and comes back once.
    Program again(L"");
    EXPECT_TRUE(restores_drafts(again, {L"intact", L"typed meanwhile"}));
    // Each start that read it kept a copy before its stores could replace it.
    const std::vector<std::filesystem::path> kept = kept_copies_once_moved(local_);
    ASSERT_FALSE(kept.empty());
    for (const std::filesystem::path& copy : kept) {
        EXPECT_EQ(read_file_bytes(copy, recovery_container_limit), damaged);
    }
}

TEST_F(ProgramRecovery, OneSessionThatCannotBeReadAmongFiveLeavesTheOtherFour) {
    const auto grown = file("grown.txt", std::string(document_limit + 1, 'g'));
    const auto kept = file("kept.md", "# kept\n");
    const auto edited = file("edited.md", "on disk\n");
    write_store(
        {.sessions = {{u"draft one", Encoding::utf8, LineEnding::crlf, "", true},
                      {u"small\n", Encoding::utf8, LineEnding::lf, test::utf8(grown), false},
                      {u"# kept\n", Encoding::utf8, LineEnding::lf, test::utf8(kept), false},
                      {u"edited draft", Encoding::utf8, LineEnding::lf, test::utf8(edited), true},
                      {u"draft five", Encoding::utf8, LineEnding::crlf, "", true}},
         .active = 4});
    const auto before = std::filesystem::last_write_time(local_.tabs_file());
    Program program(L"");
    answer_drafts(program, IDYES);
    HWND window = started_window(program);
    ASSERT_NE(window, nullptr);
    const auto restored = wait_for_newer_store(local_, before);
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->sessions,
              (std::vector<Session>{
                  {u"draft one", Encoding::utf8, LineEnding::crlf, "", true},
                  {u"# kept\n", Encoding::utf8, LineEnding::lf, test::utf8(kept), false},
                  {u"edited draft", Encoding::utf8, LineEnding::lf, test::utf8(edited), true},
                  {u"draft five", Encoding::utf8, LineEnding::crlf, "", true}}));
    EXPECT_EQ(restored->active, 3u);
    EXPECT_EQ(tab_count(window), 4u);
}

TEST_F(ProgramRecovery, RecentFilesSurviveARestartAndReopenInTheirView) {
    const auto notes = file("notes.md", "# Notes\n");
    const std::wstring missing = (local_.files() / "missing.md").wstring();
    {
        Program program(quoted(notes));
        HWND window = started_window(program, L"notes.md - Pellix");
        ASSERT_NE(window, nullptr);
        send(window, WM_COMMAND, 301); // Preview
        PostMessageW(window, WM_CLOSE, 0, 0);
        ASSERT_EQ(program.wait_for_exit(), 0u);
    }
    EXPECT_EQ(settings_.dword(L"RecentView0"), 301u);
    // A file that has gone since is listed after it; starting never looks at it.
    RegSetKeyValueW(HKEY_CURRENT_USER, settings_.key().c_str(), L"Recent1", REG_SZ, missing.c_str(),
                    static_cast<DWORD>((missing.size() + 1) * sizeof(wchar_t)));
    std::filesystem::remove(local_.tabs_file());

    Program program(L"");
    HWND window = started_window(program);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(no_box_within(program, 1000));
    const std::wstring path = notes.wstring();
    COPYDATASTRUCT record{1, static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)),
                          const_cast<wchar_t*>(path.c_str())};
    send(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&record));
    ASSERT_NE(program.wait_for_window(editor_window_class, L"notes.md - Pellix"), nullptr);
    EXPECT_EQ(active_editor(window), nullptr); // Preview view hides the editor
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.wait_for_exit(), 0u);
    wchar_t second[1024] = {};
    DWORD size = sizeof(second);
    RegGetValueW(HKEY_CURRENT_USER, settings_.key().c_str(), L"Recent1", RRF_RT_REG_SZ, nullptr,
                 second, &size);
    EXPECT_EQ(std::wstring(second), missing);
}

TEST_F(ProgramRecovery, KilledSoonAfterASaveItNeverOffersTheDraftFromBeforeTheSave) {
    const auto path = file("h.md", "saved v0");
    {
        Program program(quoted(path));
        HWND window = started_window(program, L"h.md - Pellix");
        HWND editor = typed_after_saved_text(window, L" A1");
        ASSERT_NE(editor, nullptr);
        ASSERT_TRUE(wait_for_store(local_, [](const Workspace& workspace) {
            return workspace.sessions.size() == 1 && workspace.sessions[0].draft &&
                   workspace.sessions[0].text == u"saved v0 A1";
        }));
        ASSERT_TRUE(type(editor, L" B2"));
        send(window, WM_COMMAND, save_command);
        ASSERT_EQ(read_file_bytes(path, document_limit), "saved v0 A1 B2");
        // Typing goes on in another tab, a letter every 0.3 s, until the save's store is there;
        // then the program dies.
        send(window, WM_COMMAND, new_tab_command);
        HWND other = active_editor(window);
        const auto saved_stored = [](const Workspace& workspace) {
            return !workspace.sessions.empty() && !workspace.sessions[0].draft &&
                   workspace.sessions[0].text == u"saved v0 A1 B2";
        };
        bool landed = false;
        const ULONGLONG end = GetTickCount64() + store_limit_ms;
        while (!landed && GetTickCount64() < end) {
            ASSERT_TRUE(type(other, L"x"));
            const auto seen = wait_for_store(local_, saved_stored, 300);
            landed = seen && saved_stored(*seen);
        }
        ASSERT_TRUE(landed);
    } // killed with TerminateProcess, no clean exit
    const auto left = test::stored_workspace(local_.tabs_file());
    ASSERT_TRUE(left);
    const bool drafts = std::any_of(left->sessions.begin(), left->sessions.end(),
                                    [](const Session& session) { return session.draft; });

    Program again(L"");
    if (drafts) {
        answer_drafts(again, IDYES);
    }
    HWND window = started_window(again);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(test::eventually([&]() -> ::testing::AssertionResult {
        const std::vector<std::wstring> texts = sorted_texts(window);
        if (std::find(texts.begin(), texts.end(), L"saved v0 A1 B2") != texts.end() &&
            std::find(texts.begin(), texts.end(), L"saved v0 A1") == texts.end()) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << texts.size() << " tabs, h.md not as saved";
    }));
    EXPECT_TRUE(no_box_within(again, 500));
}

// ---- Killed while typing ----------------------------------------------------------------------

// How many kill-and-restart rounds run; PELLIX_CRASH_ROUNDS raises it for a long run.
int crash_rounds() {
    const char* rounds = std::getenv("PELLIX_CRASH_ROUNDS");
    return rounds != nullptr && std::atoi(rounds) > 0 ? std::atoi(rounds) : 5;
}

// What the test typed: the whole text sent, and each state the program had taken with the tick
// it was taken at.
struct TypingRecord {
    std::wstring text;
    std::vector<std::pair<ULONGLONG, std::size_t>> held; // (tick, length)
};

// The newest state that must have reached the store by the kill: one that then stood still for
// a whole snapshot delay and its margin before the next unit or the kill, or one held for the
// store's limit and that margin before the kill, however the typing went on after it (the limit
// counts from the first change not yet stored, which came no later than the state).
std::size_t newest_owed_length(const TypingRecord& record, ULONGLONG killed_at,
                               ULONGLONG settle_ms) {
    const ULONGLONG overdue_ms =
        recovery_store_limit_ms + settle_ms - timer_period::recovery_snapshot;
    std::size_t owed = record.held.front().second;
    for (std::size_t i = 0; i < record.held.size(); ++i) {
        const ULONGLONG reached = record.held[i].first;
        const ULONGLONG next = i + 1 < record.held.size() ? record.held[i + 1].first : killed_at;
        const bool settled = next >= reached + settle_ms && killed_at >= reached + settle_ms;
        if (settled || killed_at >= reached + overdue_ms) {
            owed = record.held[i].second;
        }
    }
    return owed;
}

// Removes what a round's kills left in the recovery folder for the next start to read: the store,
// and a write's temporary file that a kill cut short or left before its replace (a start offers
// what such a file holds, and its box would stand before the round's first store). The names
// of what was left besides the store.
std::vector<std::wstring> clear_recovery_folder(const test::ScratchLocalAppData& local) {
    std::vector<std::wstring> left;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(local.store_folder(), error)) {
        const std::wstring name = entry.path().filename().wstring();
        if (name != L"hello.md") {
            std::filesystem::remove_all(entry.path(), error);
            if (name != L"tabs.bin") {
                left.push_back(name);
            }
        }
    }
    return left;
}

TEST_F(ProgramRecovery, KilledAtARandomMomentWhileTypingItRestoresAStateItHeldLately) {
    // The 1.5 s snapshot delay, plus room for a loaded machine's late timer and the write.
    constexpr ULONGLONG settle_ms = 2500;
    constexpr wchar_t seed[] = L"seed ";
    std::mt19937 random(static_cast<unsigned>(GetTickCount64()));
    const int rounds = crash_rounds();
    int checked = 0;
    for (int round = 0; round < rounds; ++round) {
        for (const std::wstring& name : clear_recovery_folder(local_)) {
            std::printf("[ crash rounds ] round %d found %ls left by a kill\n", round,
                        name.c_str());
        }
        TypingRecord record;
        ULONGLONG killed_at = 0;
        {
            Program program(L"");
            HWND window = started_window(program);
            ASSERT_NE(window, nullptr);
            HWND editor = active_editor(window);
            ASSERT_TRUE(type(editor, seed));
            // Text is in the store before the loop starts, so the restore is never empty.
            ASSERT_TRUE(wait_for_store(local_, [](const Workspace& workspace) {
                return !workspace.sessions.empty() && workspace.sessions[0].text == u"seed ";
            }));
            record.text = seed;
            record.held.emplace_back(GetTickCount64(), record.text.size());
            const DWORD kill_after = std::uniform_int_distribution<DWORD>(0, 6000)(random);
            std::atomic<ULONGLONG> kill_time{0};
            std::thread killer([&] {
                Sleep(kill_after);
                UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, program.id()));
                kill_time = GetTickCount64();
                TerminateProcess(process.get(), 99);
            });
            std::uniform_int_distribution<int> burst(1, 6);
            std::uniform_int_distribution<DWORD> pause(50, 3000);
            while (kill_time == 0) {
                for (int i = burst(random); i > 0 && kill_time == 0; --i) {
                    const wchar_t unit = static_cast<wchar_t>(L'a' + random() % 26);
                    record.text += unit;
                    if (!type(editor, std::wstring(1, unit))) {
                        break;
                    }
                    record.held.emplace_back(GetTickCount64(), record.text.size());
                }
                for (DWORD waited = pause(random); waited > 0 && kill_time == 0;) {
                    const DWORD step = std::min<DWORD>(waited, 20);
                    Sleep(step);
                    waited -= step;
                }
            }
            killer.join();
            killed_at = kill_time;
            program.wait_for_exit(10000);
        }
        Program restarted(L"");
        answer_drafts(restarted, IDYES);
        HWND window = started_window(restarted);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(title_becomes(window, L"Untitled.md * - Pellix")) << round;
        const std::wstring restored = editor_text(active_editor(window));
        // Never a mix and never empty: the typed text up to some unit, the seed at least.
        ASSERT_GE(restored.size(), std::size(seed) - 1) << round;
        ASSERT_EQ(record.text.substr(0, restored.size()), restored) << round;
        EXPECT_GE(restored.size(), newest_owed_length(record, killed_at, settle_ms))
            << round << ": " << record.text.size() << " units typed";
        ++checked;
    }
    EXPECT_EQ(checked, rounds);
    std::printf("[ crash rounds ] %d of %d restarts restored a state the editor held\n", checked,
                rounds);
}

} // namespace
} // namespace pellix
