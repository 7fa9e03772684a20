#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <richedit.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/accelerators.h"
#include "app/commands.h"
#include "app/document_commands.h"
#include "app/document_tabs.h"
#include "app/file_dialogs.h"
#include "app/hosted_units.h"
#include "app/main_window_create.h"
#include "app/main_window_state.h"
#include "app/menu_bar.h"
#include "app/palette.h"
#include "app/prompts.h"
#include "app/settings.h"
#include "app/views.h"
#include "core/file_io.h"
#include "editor/source_interface.h"
#include "markdown/export.h"
#include "preview/preview_window.h"
#include "preview/printing.h"
#include "tests/app/in_process_main_window.h"
#include "tests/app/message_pump.h"
#include "tests/app/settings_key_guard.h"
#include "tests/message_of.h"
#include "tests/scratch_folder.h"

namespace pellix {
namespace {

const std::wstring test_key = L"Software\\Orvelworks\\Pellix Native Commands Test";

// Every command id of a menu and its submenus, with its grey and check state.
using MenuStates = std::map<UINT, UINT>;

void collect_states(HMENU menu, MenuStates& states) {
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        MENUITEMINFOW item{};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_ID | MIIM_STATE | MIIM_SUBMENU;
        GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &item);
        if (item.wID != 0) {
            states[item.wID] = item.fState & (MFS_GRAYED | MFS_CHECKED);
        }
        if (item.hSubMenu != nullptr) {
            collect_states(item.hSubMenu, states);
        }
    }
}

bool grey(UINT id) {
    return (GetMenuState(menus.bar, id, MF_BYCOMMAND) & MF_GRAYED) != 0;
}

bool checked(HMENU menu, UINT id) {
    return (GetMenuState(menu, id, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

std::wstring clipboard_text() {
    std::wstring text;
    if (!OpenClipboard(nullptr)) {
        return L"(clipboard unavailable)";
    }
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

void put_on_clipboard(const std::wstring& text) {
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    std::memcpy(GlobalLock(block), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(block);
    SetClipboardData(CF_UNICODETEXT, block);
    CloseClipboard();
}

MSG key_down(WPARAM key) {
    MSG message{};
    message.hwnd = chrome.editor;
    message.message = WM_KEYDOWN;
    message.wParam = key;
    message.lParam = 1;
    return message;
}

// Holds the given modifier keys down in this thread's key state while it lives.
class HeldKeys {
public:
    explicit HeldKeys(std::initializer_list<int> keys) {
        GetKeyboardState(saved_);
        BYTE state[256];
        std::memcpy(state, saved_, sizeof(state));
        for (int key : {VK_CONTROL, VK_SHIFT, VK_MENU}) {
            state[key] = 0;
        }
        for (int key : keys) {
            state[key] = 0x80;
        }
        SetKeyboardState(state);
    }
    ~HeldKeys() { SetKeyboardState(saved_); }

private:
    BYTE saved_[256]{};
};

// The real main window in this process, hidden, with its boxes answered by the test.
class Commands : public ::testing::Test {
protected:
    void SetUp() override {
        instance = GetModuleHandleW(nullptr);
        saved_key_ = test::use_settings_key(test_key);
        install_message_box([this](const MessageBoxRequest& request) {
            boxes_.push_back(request.text);
            return IDOK;
        });
        install_refusal_sound([this] { ++beeps_; });
        window_ = test::make_main_window();
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        if (IsWindow(window_)) {
            DestroyWindow(window_);
        }
        test::pump(50);
        install_message_box({});
        install_refusal_sound({});
        set_outline_mode(false, false);
        test::restore_settings_key(saved_key_);
    }

    std::filesystem::path file(const std::string& name, const std::string& bytes) {
        const std::filesystem::path path = folder_ / name;
        test::write_bytes(path, bytes);
        return path;
    }
    // Opens a file in a tab; the command state follows as the status strip's refresh makes it.
    void open(const std::string& name, const std::string& bytes = "# Title\n\ntext\n") {
        open_path(file(name, bytes));
        ASSERT_TRUE(boxes_.empty()) << boxes_.back();
        update_command_state();
    }
    void command(unsigned id) { SendMessageW(window_, WM_COMMAND, id, 0); }
    static void type(const wchar_t* text) {
        SendMessageW(chrome.editor, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text));
    }
    static CHARRANGE selection() {
        CHARRANGE range{};
        SendMessageW(chrome.editor, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
        return range;
    }
    static MenuStates all_states() {
        MenuStates states;
        collect_states(menus.bar, states);
        return states;
    }

    test::SettingsKeyGuard key_{test_key};
    test::ScratchFolder folder_{"commands"};
    std::wstring saved_key_;
    HWND window_ = nullptr;
    std::vector<std::wstring> boxes_;
    int beeps_ = 0;
};

constexpr UINT recent_first_command = 600;
constexpr UINT recent_clear_command = 650;

TEST_F(Commands, MenuItemsFollowTheKindAndWatchStateOfTheTab) {
    // The submenus sit where the bar's tables place them.
    HMENU view = GetSubMenu(menus.bar, 2);
    EXPECT_EQ(GetSubMenu(GetSubMenu(menus.bar, 0), 2), menus.recent);
    EXPECT_EQ(GetSubMenu(view, 10), menus.colouring);
    EXPECT_EQ(GetSubMenu(view, 12), menus.theme);
    EXPECT_EQ(GetSubMenu(view, GetMenuItemCount(view) - 1), menus.compare);

    // An untitled tab, as start-up shows it: no reopening, no watching, nothing to clear.
    select_view(view_source);
    for (UINT id : {113u, 324u, 325u}) {
        EXPECT_TRUE(grey(id)) << id;
    }
    for (UINT id : {200u, 102u, 400u, 205u, 302u}) {
        EXPECT_FALSE(grey(id)) << id;
    }

    // Next and Previous tab follow the number of tabs and the Recent submenu the files opened;
    // the tab strip's and the recent files' tests cover those.
    auto tab_independent_states = [] {
        MenuStates states = all_states();
        states.erase(314);
        states.erase(315);
        std::erase_if(states, [](const auto& entry) {
            return entry.first >= recent_first_command && entry.first <= recent_clear_command;
        });
        return states;
    };
    open("notes.md");
    const MenuStates markdown = tab_independent_states();
    for (UINT id : {113u, 324u, 301u, 302u, 304u, 400u, 410u}) {
        EXPECT_EQ(markdown.at(id), 0u) << id;
    }
    EXPECT_EQ(markdown.at(325), static_cast<UINT>(MF_GRAYED));

    open("plain.txt", "text\n");
    for (UINT id : {301u, 302u, 304u}) {
        EXPECT_TRUE(grey(id)) << id;
    }
    EXPECT_FALSE(grey(113));
    EXPECT_FALSE(grey(324));

    // Watching greys the editing commands and leaves reading ones alone.
    select_tab(0, false);
    current_tab().watch_state = 1;
    update_command_state();
    for (UINT id : watch_greyed_commands) {
        EXPECT_TRUE(grey(id)) << id;
    }
    for (UINT id : {203u, 205u, 206u, 207u, 209u}) {
        EXPECT_FALSE(grey(id)) << id;
    }
    EXPECT_TRUE(checked(menus.bar, 324));
    EXPECT_FALSE(grey(324));
    EXPECT_TRUE(grey(325));
    current_tab().watch_line_marks.push_back({});
    update_command_state();
    EXPECT_FALSE(grey(325));

    // Back to not watched: the states are those of the Markdown tab again, whatever the number
    // of tabs.
    current_tab().watch_state = 0;
    current_tab().watch_line_marks.clear();
    update_command_state();
    EXPECT_EQ(tab_independent_states(), markdown);
    command(100);
    command(100);
    ASSERT_EQ(tabs.size(), 4u);
    select_tab(0, false);
    EXPECT_EQ(tab_independent_states(), markdown);
}

TEST_F(Commands, TheEncodingSubmenuMarksAndEnablesForTheTab) {
    open("latin.md");
    current_tab().encoding = 5;
    SendMessageW(window_, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menus.encoding), 0);
    EXPECT_TRUE(checked(menus.encoding, 905));
    EXPECT_FALSE(checked(menus.encoding, 900));
    EXPECT_EQ(GetMenuState(menus.encoding, 0, MF_BYPOSITION) & MF_GRAYED, 0u);
    current_tab().encoding = 2;
    current_tab().watch_state = 2;
    SendMessageW(window_, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menus.encoding), 0);
    EXPECT_TRUE(checked(menus.encoding, 900));
    for (int i = 0; i < GetMenuItemCount(menus.encoding); ++i) {
        EXPECT_NE(GetMenuState(menus.encoding, i, MF_BYPOSITION) & MF_GRAYED, 0u) << i;
    }
}

TEST_F(Commands, ZoomStaysWithinItsRangeAndIsSaved) {
    settings.font_size = 32;
    command(306);
    EXPECT_EQ(settings.font_size, 32);
    settings.font_size = 8;
    command(307);
    EXPECT_EQ(settings.font_size, 8);
    command(306);
    EXPECT_EQ(settings.font_size, 9);
    command(362);
    EXPECT_EQ(settings.font_size, 12);
    EXPECT_EQ(key_.dword(L"FontSize"), 12u);
}

TEST_F(Commands, TheStatusStripShowsTheNewZoomAtOnce) {
    auto zoom_item = [] {
        HWND item = GetDlgItem(chrome.status_strip, 362);
        wchar_t text[32] = {};
        GetWindowTextW(item, text, 32);
        return item != nullptr ? std::wstring(text) : L"(none)";
    };
    open("zoom.md");
    command(306);
    EXPECT_EQ(zoom_item(), L"108%");
    command(362);
    EXPECT_EQ(zoom_item(), L"(none)");
}

TEST_F(Commands, SplitRepairsAHiddenPaneShare) {
    open("split.md");
    settings.split = 0.95;
    settings.split_restore = 0.3;
    command(302);
    EXPECT_EQ(settings.view, 302);
    EXPECT_DOUBLE_EQ(settings.split, 0.3);
    settings.split = 0.0;
    settings.split_restore = 0.05;
    command(302);
    EXPECT_DOUBLE_EQ(settings.split, 0.5);
    // An open share stays as it is.
    settings.split = 0.2;
    command(302);
    EXPECT_DOUBLE_EQ(settings.split, 0.2);
}

TEST_F(Commands, EditingFromPreviewOpensSplitAndSelectAllFollowsTheView) {
    open("edit.md", "");
    type(L"hello world");
    command(301);
    ASSERT_EQ(settings.view, 301);
    command(200);
    EXPECT_EQ(settings.view, 302);
    EXPECT_EQ(source_text(chrome.editor), u"");
    command(201);
    EXPECT_EQ(source_text(chrome.editor), u"hello world");

    command(205);
    EXPECT_EQ(selection().cpMin, 0);
    EXPECT_EQ(selection().cpMax, 11);

    // In Preview view the preview's own text is selected, the editor's selection stays.
    SendMessageW(chrome.editor, EM_SETSEL, 3, 3);
    command(301);
    refresh_current_tab();
    Preview::Impl& p = preview();
    ASSERT_FALSE(p.document.text.empty());
    command(205);
    EXPECT_EQ(p.view.anchor, 0u);
    EXPECT_EQ(p.view.caret, p.document.text.size());
    EXPECT_EQ(selection().cpMin, 3);
}

TEST_F(Commands, SettingCommandsCheckTheirItemsAndSave) {
    const bool wrap = settings.wrap;
    command(303);
    EXPECT_EQ(settings.wrap, !wrap);
    EXPECT_EQ(checked(menus.bar, 303), !wrap);
    EXPECT_EQ(key_.dword(L"Wrap"), wrap ? 0u : 1u);

    command(309);
    EXPECT_FALSE(settings.line_numbers);
    EXPECT_FALSE(checked(menus.bar, 309));
    command(310);
    EXPECT_FALSE(settings.autocomplete);
    EXPECT_EQ(key_.dword(L"Autocomplete"), 0u);

    command(322);
    EXPECT_EQ(settings.syntax_colouring, 1u);
    EXPECT_TRUE(checked(menus.colouring, 322));
    EXPECT_FALSE(checked(menus.colouring, 321));
    EXPECT_EQ(key_.dword(L"SyntaxColouring"), 1u);
    command(313);
    EXPECT_TRUE(checked(menus.theme, 313));
    EXPECT_EQ(key_.dword(L"Theme"), 2u);
}

TEST_F(Commands, OutlineModeNamesTheModeButtons) {
    auto text = [](HWND button) {
        wchar_t buffer[64] = {};
        GetWindowTextW(button, buffer, 64);
        return std::wstring(buffer);
    };
    command(327);
    EXPECT_TRUE(outline_shows_tasks());
    EXPECT_EQ(text(chrome.headings_button), L"Show headings");
    EXPECT_EQ(text(chrome.tasks_button), L"Tasks, selected");
    command(326);
    EXPECT_FALSE(outline_shows_tasks());
    EXPECT_EQ(text(chrome.headings_button), L"Headings, selected");
    EXPECT_EQ(text(chrome.tasks_button), L"Show tasks");
}

TEST_F(Commands, NextAndPreviousTabWrapAround) {
    command(314);
    EXPECT_EQ(active, 0u);
    command(100);
    command(100);
    ASSERT_EQ(active, 2u);
    command(314);
    EXPECT_EQ(active, 0u);
    command(315);
    EXPECT_EQ(active, 2u);
}

// Records the commands the window receives instead of running them.
LRESULT CALLBACK record_commands(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                 DWORD_PTR data) {
    if (message == WM_COMMAND) {
        reinterpret_cast<std::vector<WPARAM>*>(data)->push_back(wparam);
        return 0;
    }
    return DefSubclassProc(window, message, wparam, lparam);
}

TEST_F(Commands, TheAcceleratorTableTranslatesKeysToCommands) {
    open("keys.md");
    HACCEL table = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(accelerator_table_id));
    ASSERT_NE(table, nullptr);
    std::vector<WPARAM> received;
    SetWindowSubclass(window_, record_commands, 1, reinterpret_cast<DWORD_PTR>(&received));
    auto press = [&](WPARAM key, std::initializer_list<int> held) {
        HeldKeys keys(held);
        MSG message = key_down(key);
        return translate_accelerator(window_, table, message);
    };
    EXPECT_TRUE(press('3', {VK_CONTROL, VK_SHIFT}));
    EXPECT_TRUE(press('3', {VK_CONTROL}));
    EXPECT_TRUE(press(VK_TAB, {VK_CONTROL, VK_SHIFT}));
    EXPECT_TRUE(press(VK_ADD, {VK_CONTROL}));
    EXPECT_TRUE(press(VK_F8, {VK_SHIFT}));
    EXPECT_TRUE(press(VK_SPACE, {VK_CONTROL}));
    EXPECT_FALSE(press('3', {}));
    RemoveWindowSubclass(window_, record_commands, 1);
    DestroyAcceleratorTable(table);
    EXPECT_EQ(received,
              (std::vector<WPARAM>{MAKEWPARAM(410, 1), MAKEWPARAM(302, 1), MAKEWPARAM(315, 1),
                                   MAKEWPARAM(306, 1), MAKEWPARAM(334, 1), MAKEWPARAM(210, 1)}));
}

TEST_F(Commands, AWatchedTabBeepsAtEditingKeysAndStillCopies) {
    open("watched.md", "watched text");
    current_tab().watch_state = 1;
    update_command_state();
    HACCEL table = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(accelerator_table_id));
    {
        HeldKeys keys({VK_CONTROL});
        MSG message = key_down('B');
        EXPECT_TRUE(translate_accelerator(window_, table, message));
    }
    DestroyAcceleratorTable(table);
    EXPECT_EQ(beeps_, 1);
    command(200);
    command(905);
    EXPECT_EQ(beeps_, 3);
    EXPECT_EQ(source_text(chrome.editor), u"watched text");

    SendMessageW(chrome.editor, EM_SETSEL, 0, 7);
    command(203);
    EXPECT_EQ(clipboard_text(), L"watched");
    EXPECT_EQ(beeps_, 3);
}

TEST_F(Commands, CopyFullPathPutsThePathOnTheClipboard) {
    put_on_clipboard(L"before");
    command(111);
    EXPECT_EQ(clipboard_text(), L"before");
    open("path.md");
    command(111);
    EXPECT_EQ(clipboard_text(), (folder_ / "path.md").wstring());
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(Commands, ExportWritesTheBuildersBytesAndRefusesAnOpenDocument) {
    const std::string source = "# Title\n\n- [ ] task \"one\"\n";
    open("other.md");
    open("doc.md", source);
    for (bool json : {false, true}) {
        const auto destination = folder_ / (json ? "out.json" : "out.html");
        export_document(json, [&] { return destination; });
        ExportRequest expected{.open_paths = {},
                               .destination = folder_ / "expected",
                               .document = source_document(chrome.editor),
                               .encoding = Encoding::utf8,
                               .line_ending = LineEnding::lf,
                               .as_json = json,
                               .name = u"doc.md",
                               .markdown = true,
                               .dark = dark_theme};
        build_export_text(expected);
        EXPECT_EQ(read_file_bytes(destination, export_output_limit),
                  read_file_bytes(expected.destination, export_output_limit))
            << json;
    }

    // Another open tab's file, spelled in other letters and with a detour, stays as it was.
    const auto other = folder_ / "other.md";
    const auto respelled = folder_ / "sub" / ".." / "OTHER.MD";
    EXPECT_EQ(test::message_of([&] { export_document(false, [&] { return respelled; }); }),
              "Choose another export destination. An open document will not be replaced.");
    EXPECT_EQ(read_file_bytes(other, export_output_limit), "# Title\n\ntext\n");
    // A cancelled choice writes nothing and says nothing.
    export_document(true, [] { return std::filesystem::path(); });

    command(100);
    const auto untitled = folder_ / "untitled.json";
    export_document(true, [&] { return untitled; });
    EXPECT_NE(read_file_bytes(untitled, export_output_limit).find("\"name\": \"Untitled.md\""),
              std::string::npos);
}

// What a file dialog was asked to show.
struct DialogSeen {
    std::wstring title;
    std::wstring file;
    std::wstring extension;
    std::wstring first_filter;
    std::wstring start_folder;
};

DialogSeen seen_in(const OPENFILENAMEW& dialog) {
    auto text = [](const wchar_t* value) { return std::wstring(value != nullptr ? value : L""); };
    return {text(dialog.lpstrTitle), text(dialog.lpstrFile), text(dialog.lpstrDefExt),
            text(dialog.lpstrFilter), text(dialog.lpstrInitialDir)};
}

TEST_F(Commands, ExportAsJsonAsksInItsOwnDialogForAJsonName) {
    std::vector<DialogSeen> dialogs;
    install_file_dialog([&](OPENFILENAMEW& dialog, bool save) {
        EXPECT_TRUE(save);
        dialogs.push_back(seen_in(dialog));
        return FALSE;
    });
    open("sample.md");
    command(117);
    install_file_dialog({});
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].title, L"Export as JSON");
    EXPECT_EQ(dialogs[0].file, L"sample.json");
    EXPECT_EQ(dialogs[0].extension, L"json");
    EXPECT_EQ(dialogs[0].first_filter, L"JSON files");
}

TEST_F(Commands, FileDialogsStartInTheDocumentsFolderOrTheLastOneChosen) {
    const auto elsewhere = folder_ / "elsewhere";
    std::filesystem::create_directories(elsewhere);
    const auto chosen = file("elsewhere/chosen.md", "# Chosen\n");
    std::vector<DialogSeen> dialogs;
    std::wstring answer;
    install_file_dialog([&](OPENFILENAMEW& dialog, bool) {
        dialogs.push_back(seen_in(dialog));
        if (answer.empty()) {
            return FALSE;
        }
        answer.copy(dialog.lpstrFile, answer.size());
        dialog.lpstrFile[answer.size()] = L'\0';
        dialog.lpstrFile[answer.size() + 1] = L'\0';
        return TRUE;
    });
    open("here.md");
    answer = chosen.wstring();
    command(101);
    EXPECT_EQ(current_tab().path, chosen);
    answer.clear();
    command(100);
    command(101);
    command(103);
    install_file_dialog({});
    ASSERT_EQ(dialogs.size(), 3u);
    EXPECT_EQ(std::filesystem::path(dialogs[0].start_folder), folder_.path());
    // An untitled tab starts where the last file was chosen.
    EXPECT_EQ(std::filesystem::path(dialogs[1].start_folder), elsewhere);
    EXPECT_EQ(std::filesystem::path(dialogs[2].start_folder), elsewhere);
    EXPECT_EQ(dialogs[2].title, L"");
}

TEST_F(Commands, PrintingFirstMakesThePreviewTheViewsUse) {
    ASSERT_EQ(preview().window, nullptr);
    preview().colours = nullptr;
    preview().on_scroll = nullptr;
    bool asked = false;
    PrintCalls calls;
    calls.print_dialog = [&](PRINTDLGW*) {
        asked = true;
        return FALSE;
    };
    calls.dialog_error = [] { return DWORD{0}; };
    ScopedPrintCalls cancelled(std::move(calls));
    command(107);
    EXPECT_TRUE(asked);
    EXPECT_TRUE(boxes_.empty());
    ASSERT_NE(preview().window, nullptr);
    EXPECT_EQ(chrome.preview, preview().window);
    EXPECT_TRUE(preview().colours);
    EXPECT_TRUE(preview().on_scroll);
}

} // namespace
} // namespace pellix
