#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <utility>

#include "app/document_tabs.h"
#include "app/find_bar.h"
#include "app/hosted_units.h"
#include "app/main_layout.h"
#include "app/main_window_state.h"
#include "app/settings.h"
#include "editor/source_interface.h"
#include "tests/app/message_pump.h"
#include "tests/app/open_tabs_window.h"

namespace pellix {
namespace {

constexpr WORD find_command = 206;
constexpr WORD replace_command = 208;

std::string numbered_lines(int count) {
    std::string text = "# Numbered\n";
    for (int line = 2; line <= count; ++line) {
        text += "Line " + std::to_string(line) + " of a long file\n";
    }
    return text;
}

// What the user sees of the active editor: where its rows stand, in client pixels.
class KeptInView : public test::OpenTabsWindow {
protected:
    KeptInView() : OpenTabsWindow("kept-in-view") {}

    void SetUp() override {
        OpenTabsWindow::SetUp();
        show_on_screen();
    }

    void command(WORD id) const { SendMessageW(window_, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

    static int top_of(LRESULT offset) {
        POINTL at{};
        SendMessageW(chrome.editor, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&at), offset);
        return at.y;
    }
    static LRESULT start_of_line(int number) {
        return SendMessageW(chrome.editor, EM_LINEINDEX, static_cast<WPARAM>(number - 1), 0);
    }
    // Whether the whole row of line `number` (1-based, one row each, after another) is in the
    // editor's view; the row's height is read from where the line before it stands.
    static bool line_shown(int number) {
        const int top = top_of(start_of_line(number));
        const int row = top - top_of(start_of_line(number - 1));
        RECT client{};
        GetClientRect(chrome.editor, &client);
        return row > 0 && top >= 0 && top + row <= client.bottom;
    }
    // The height of one row, read from two one-row lines while they are in view: where a line
    // above the view stands is found by measuring it, which moves the rows the view shows.
    void note_row_height() { row_ = top_of(start_of_line(2)) - top_of(start_of_line(1)); }
    static RECT editor_client() {
        RECT client{};
        GetClientRect(chrome.editor, &client);
        return client;
    }
    static LRESULT caret_offset() {
        return static_cast<LRESULT>(source_document(chrome.editor).selection[1]);
    }
    // Whether the whole of the caret's row, a wrapped line's last row too, is in view.
    bool caret_row_shown() const {
        const int top = top_of(caret_offset());
        return top >= 0 && top + row_ <= editor_client().bottom;
    }
    int last_row_bottom() const {
        const auto length = static_cast<LPARAM>(source_document(chrome.editor).length());
        return top_of(length) + row_;
    }
    // The split bar dragged by the mouse to `x`, in the main window's client pixels.
    void drag_split_bar_to(int x) const {
        const RECT& bar = current_layout.split_divider;
        const int from = (bar.left + bar.right) / 2;
        const int y = (bar.top + bar.bottom) / 2;
        SendMessageW(window_, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(from, y));
        SendMessageW(window_, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y));
        SendMessageW(window_, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
        drawn();
    }
    // The paints a user sees after each step, which measure the rows they show.
    void drawn() const { RedrawWindow(window_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN); }
    int row_ = 0;

    static int caret_line() {
        const auto caret = static_cast<LPARAM>(source_document(chrome.editor).selection[1]);
        return static_cast<int>(SendMessageW(chrome.editor, EM_LINEFROMCHAR, caret, 0)) + 1;
    }
};

TEST_F(KeptInView, TheFindBarOpensAndClosesWithTheCaretsLineInView) {
    open_path(file("long.md", numbered_lines(3000)));
    select_view(view_source);
    test::control_key(chrome.editor, VK_END);
    const int last = caret_line();
    ASSERT_EQ(last, 3001);
    ASSERT_TRUE(line_shown(last));

    command(find_command);
    ASSERT_TRUE(is_find_bar_visible());
    EXPECT_TRUE(line_shown(last));
    hide_find_bar();
    EXPECT_TRUE(line_shown(last));
    command(replace_command);
    ASSERT_TRUE(find_bar_shows_replace());
    EXPECT_TRUE(line_shown(last));
    EXPECT_EQ(caret_line(), last);
}

// A selection made upwards down to the view's last row: the bar opening above pushes its lower
// rows out, and the view follows so that the whole of it stays in view, not only its caret.
TEST_F(KeptInView, TheFindBarKeepsASelectionMadeUpwardsWholeInView) {
    open_path(file("long.md", numbered_lines(3000)));
    select_view(view_source);
    const LRESULT end_of_60 = start_of_line(61) - 1;
    SendMessageW(chrome.editor, EM_SETSEL, end_of_60, end_of_60);
    SendMessageW(chrome.editor, EM_SCROLLCARET, 0, 0);
    SendMessageW(chrome.editor, EM_SETSEL, end_of_60, start_of_line(57));
    ASSERT_EQ(caret_line(), 57);
    ASSERT_FALSE(line_shown(61));
    for (int line = 57; line <= 60; ++line) {
        ASSERT_TRUE(line_shown(line)) << line;
    }

    command(find_command);
    ASSERT_TRUE(is_find_bar_visible());
    for (int line = 57; line <= 60; ++line) {
        EXPECT_TRUE(line_shown(line)) << line;
    }
}

// A selection the view showed whole is still shown whole, where it stood, after a round of the
// views that hides the editor on the way.
TEST_F(KeptInView, ASelectionComesBackWhereItStoodAfterARoundThroughPreview) {
    open_path(file("long.md", numbered_lines(1000)));
    select_view(view_split);
    SendMessageW(chrome.editor, EM_SETSEL, start_of_line(436), start_of_line(440) - 1);
    SendMessageW(chrome.editor, EM_SCROLLCARET, 0, 0);
    for (int line = 436; line <= 439; ++line) {
        ASSERT_TRUE(line_shown(line)) << line;
    }
    const double top = source_top_line(chrome.editor);

    for (const WORD view : {view_source, view_split, view_preview, view_source}) {
        command(view);
    }
    ASSERT_EQ(settings.view, view_source);
    for (int line = 436; line <= 439; ++line) {
        EXPECT_TRUE(line_shown(line)) << line;
    }
    EXPECT_EQ(source_top_line(chrome.editor), top);
}

// The view was left scrolled to the caret at the end of a long wrapped line; hidden by Preview, the
// editor comes back at half the width, where that line wraps into twice the rows.
TEST_F(KeptInView, TheCaretsRowAtTheEndOfALongLineStaysInViewFromPreviewIntoSplit) {
    std::string text;
    for (int line = 1; line <= 12; ++line) {
        text += "Short line " + std::to_string(line) + "\n";
    }
    text += std::string(20000, 'x');
    open_path(file("long-line.md", text));
    select_view(view_source);
    note_row_height();
    test::control_key(chrome.editor, VK_END);
    drawn();
    ASSERT_EQ(caret_offset(), static_cast<LRESULT>(text.size()));
    ASSERT_TRUE(caret_row_shown());

    command(view_preview);
    drawn();
    command(view_split);
    drawn();
    ASSERT_EQ(settings.view, view_split);
    EXPECT_TRUE(caret_row_shown()) << top_of(caret_offset()) << " in " << editor_client().bottom;
}

// Narrowed, the editor scrolls further down to keep its caret in view; widened again, the rows
// after its top take less room, and a view that was full is full again.
TEST_F(KeptInView, ASplitBarDraggedNarrowAndBackLeavesTheEditorFull) {
    open_path(file("long.md", numbered_lines(200)));
    select_view(view_split);
    note_row_height();
    test::control_key(chrome.editor, VK_END);
    drawn();
    ASSERT_TRUE(caret_row_shown());
    ASSERT_NEAR(last_row_bottom(), editor_client().bottom, 1);

    drag_split_bar_to(150);
    ASSERT_LT(editor_client().right, 200);
    ASSERT_TRUE(caret_row_shown());
    drag_split_bar_to(650);
    ASSERT_GT(editor_client().right, 550);
    EXPECT_TRUE(caret_row_shown());
    EXPECT_NEAR(last_row_bottom(), editor_client().bottom, 1);
}

// Scrolled to the end while narrow, with the caret far above: widened, the view keeps its top
// text only as far as the rows after it fill the pane.
TEST_F(KeptInView, AViewScrolledToTheEndWhileNarrowIsFullOnceWidened) {
    open_path(file("long.md", numbered_lines(200)));
    select_view(view_split);
    note_row_height();
    drag_split_bar_to(150);
    ASSERT_LT(editor_client().right, 200);
    test::control_key(chrome.editor, VK_END);
    SendMessageW(chrome.editor, EM_SETSEL, 0, 0);
    drawn();
    ASSERT_FALSE(caret_row_shown());
    ASSERT_NEAR(last_row_bottom(), editor_client().bottom, 1);

    drag_split_bar_to(650);
    EXPECT_NEAR(last_row_bottom(), editor_client().bottom, 1);
}

} // namespace
} // namespace pellix
