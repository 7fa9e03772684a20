#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/document_tabs.h"
#include "app/find_replace.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/views.h"
#include "editor/source_interface.h"
#include "editor/source_record.h"
#include "tests/app/panes_window.h"
#include "tests/editor_frame.h"

namespace pellix {
namespace {

using EditorFrames = test::PanesWindow;

std::string numbered_lines(const std::string& word, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += word + " line " + std::to_string(i) + " with **bold** and `code`\n";
    }
    return text;
}

// One line of words longer than many of the editor's layout pieces.
std::string long_line(std::size_t bytes) {
    std::string text;
    for (int i = 0; text.size() < bytes; ++i) {
        text += "word" + std::to_string(i % 97) + (i % 7 == 0 ? ", " : " ");
    }
    return text;
}

// The last frame of the editor, once everything waiting has been drawn.
test::EditorFrame presented_frame() {
    RedrawWindow(main_window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    return test::read_editor_frame(chrome.editor);
}

// The first paint after each way the hosted editor appears, changes size or changes document
// draws its whole client area: every row and every line number, with nothing left for later.
TEST_F(EditorFrames, TheHostedEditorIsDrawnWholeWheneverItAppears) {
    SetWindowPos(window_, nullptr, 0, 0, 1000, 700, SWP_NOZORDER | SWP_NOACTIVATE);
    // Under Wine without a window manager, hiding a shown window waits two seconds for the X
    // server; only this case shows the main window.
    ShowWindow(window_, SW_SHOWNOACTIVATE);
    // The editor's view holds at least this many rows in either view.
    constexpr int minimum_rows = 20;
    bool single_line = false;
    auto first_paint = [&](const char* step) {
        SCOPED_TRACE(step);
        const test::EditorFrame frame = presented_frame();
        EXPECT_TRUE(frame.copied);
        EXPECT_GE(frame.rows_read, minimum_rows);
        EXPECT_GE(frame.numbers_read, single_line ? 1 : minimum_rows);
        EXPECT_TRUE(frame.blank_rows.empty())
            << frame.blank_rows.size() << " blank rows, the first " << frame.blank_rows[0];
        EXPECT_TRUE(frame.lines_without_number.empty())
            << frame.lines_without_number.size() << " lines without their number";
    };
    open_path(file("first.md", numbered_lines("first", 300)));
    first_paint("opened");
    open_path(file("second.md", numbered_lines("second", 300)));
    first_paint("a second tab");
    select_tab(0, false);
    first_paint("back to the first tab");
    select_view(view_split);
    first_paint("split view");
    select_view(view_source);
    first_paint("source view");

    set_compare_gutter(chrome.editor, true);
    set_change_marks(chrome.editor, {{{2, 5, line_mark_added}}, {{9, 1}}});
    first_paint("compared");

    // A box over the editor closes, as Replace All's does.
    RECT editor{};
    GetWindowRect(chrome.editor, &editor);
    HWND box = CreateWindowExW(0, L"STATIC", L"3 replacements.", WS_POPUP | WS_VISIBLE | WS_BORDER,
                               editor.left + 100, editor.top + 100, 300, 120, window_, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    UpdateWindow(box);
    DestroyWindow(box);
    first_paint("a box closed over the editor");

    open_path(file("long.md", long_line(300000)));
    single_line = true;
    select_view(view_source);
    first_paint("one long line");
    select_view(view_split);
    first_paint("one long line in split view");
}

// Where the caret stands in the editor's client area, after everything waiting has been drawn.
bool caret_in_view() {
    RedrawWindow(main_window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    const auto offset = static_cast<LPARAM>(source_document(chrome.editor).selection[1]);
    POINTL caret{};
    SendMessageW(chrome.editor, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&caret), offset);
    RECT client{};
    GetClientRect(chrome.editor, &client);
    return caret.y >= 0 && caret.y < client.bottom && caret.x >= 0 && caret.x < client.right;
}

// A view switch gives the editor another width, which wraps a long line into other rows: the
// caret the user was looking at stays in view, also at the end of a selection of the whole line.
TEST_F(EditorFrames, SwitchingViewsKeepsTheCaretAtTheEndOfALongLineInView) {
    SetWindowPos(window_, nullptr, 0, 0, 1000, 700, SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(window_, SW_SHOWNOACTIVATE);
    open_path(file("brackets.md", std::string(100000, '[')));
    for (const LONG anchor : {100000, 0}) {
        SCOPED_TRACE(anchor);
        select_view(view_source);
        select(anchor, 100000);
        SendMessageW(chrome.editor, EM_SCROLLCARET, 0, 0);
        ASSERT_TRUE(caret_in_view());
        select_view(view_split);
        EXPECT_TRUE(caret_in_view()) << "in split view";
        select_view(view_source);
        EXPECT_TRUE(caret_in_view()) << "back in source view";
        EXPECT_EQ(source_document(chrome.editor).selection,
                  (std::array<std::uint64_t, 2>{static_cast<std::uint64_t>(anchor), 100000}));
    }
}

// `count` lines that each wrap into several rows, 21 "alpha" in each, and no empty line at the
// end: every row of a view holds text.
std::string wrapping_lines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += i > 0 ? "\nLine:" : "Line:";
        for (int k = 0; k < 21; ++k) {
            text += " alpha beta gamma";
        }
    }
    return text;
}

// Every change of the whole text leaves a view that shows text down to its bottom, its caret
// in it: an undone Replace All once brought the last row of the text to the top of an
// otherwise empty view.
TEST_F(EditorFrames, WholeTextChangesLeaveTheViewFilledWithText) {
    SetWindowPos(window_, nullptr, 0, 0, 1000, 700, SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(window_, SW_SHOWNOACTIVATE);
    const auto path = file("alpha.md", wrapping_lines(62));
    open_path(path);
    select_view(view_source);
    DocumentTab& tab = current_tab();
    auto filled = [&](const char* step) {
        SCOPED_TRACE(step);
        // A row wholly selected shows no background, which would count it as blank.
        const auto caret = static_cast<LONG>(source_document(chrome.editor).selection[1]);
        select(caret, caret);
        const test::EditorFrame frame = presented_frame();
        const Source& source = *source_record(chrome.editor);
        EXPECT_EQ(frame.rows_read,
                  static_cast<int>(view_height(source) / base_line_height(source)));
        EXPECT_TRUE(frame.blank_rows.empty()) << "the first blank row: " << frame.blank_rows[0];
        EXPECT_TRUE(caret_in_view());
    };
    auto show_end = [&] {
        const auto end = static_cast<LONG>(source_text(chrome.editor).size());
        select(end, end);
        SendMessageW(chrome.editor, EM_SCROLLCARET, 0, 0);
    };

    find_command(208);
    SetWindowTextW(chrome.find_box, L"alpha");
    SetWindowTextW(chrome.replace_box, L"OMEGA");
    request_find(find_flag::replace_all | find_flag::down);
    ASSERT_TRUE(test::pump_until([] { return !replace_all_running(); }));
    ASSERT_EQ(boxes_, std::vector<std::wstring>{L"1302 replacements."});
    // The bar's rows go to the editor, below the end of the text.
    hide_find_bar();
    SendMessageW(chrome.editor, EM_UNDO, 0, 0);
    filled("undo");
    SendMessageW(chrome.editor, EM_REDO, 0, 0);
    filled("redo");

    // The file shrinks on disk while the view shows its end.
    show_end();
    test::write_bytes(path, wrapping_lines(20));
    reload_file(false, std::nullopt);
    filled("reload");

    test::write_bytes(path, wrapping_lines(62));
    reload_file(false, std::nullopt);
    toggle_watch(tab.id, {});
    ASSERT_TRUE(test::pump_until([&] { return !tab.watch_pending && tab.watch_state == 1; }));
    show_end();
    test::write_bytes(path, wrapping_lines(30));
    schedule_watch_read(tab.id, false);
    ASSERT_TRUE(test::pump_until([&] { return tab.watch_updates == 1; }));
    filled("watch");
}

} // namespace
} // namespace pellix
