#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "editor/source_find.h"
#include "editor/source_interface.h"
#include "tests/editor/editor_window.h"

using namespace pellix;
using pellix::test::EditorWindow;
using pellix::test::received;

namespace {

std::wstring numbered_lines(int count) {
    std::wstring text;
    for (int i = 0; i < count; ++i) {
        text += L"line " + std::to_wstring(i) + L"\n";
    }
    return text;
}

int count_of(UINT message, UINT code) {
    int n = 0;
    for (const auto& note : received()) {
        n += note.message == message && note.code == code ? 1 : 0;
    }
    return n;
}

bool scrolled_message_posted(HWND editor) {
    MSG message;
    return PeekMessageW(&message, editor, WM_APP_SOURCE_SCROLLED, WM_APP_SOURCE_SCROLLED,
                        PM_REMOVE) != FALSE;
}

LONG find(const EditorWindow& window, const wchar_t* needle) {
    FINDTEXTEXW request{{0, -1}, needle, {}};
    return static_cast<LONG>(
        window.send(EM_FINDTEXTEXW, find_down, reinterpret_cast<LPARAM>(&request)));
}

TEST(EditorInterface, ReadingFunctionsNeedAnEditor) {
    HWND other = test::shared_parent();
    EXPECT_THROW(
        {
            try {
                source_text(other);
            } catch (const std::runtime_error& failure) {
                EXPECT_STREQ(failure.what(), "Source control is unavailable.");
                throw;
            }
        },
        std::runtime_error);
    EXPECT_THROW(
        {
            try {
                source_document(nullptr);
            } catch (const std::runtime_error& failure) {
                EXPECT_STREQ(failure.what(), "Source unavailable");
                throw;
            }
        },
        std::runtime_error);
    // Installing a document fails too: a caller must never go on as if the text were shown.
    EXPECT_THROW(
        {
            try {
                replace_editor_document(other, SourceDocument{});
            } catch (const std::runtime_error& failure) {
                EXPECT_STREQ(failure.what(), "Source control is unavailable.");
                throw;
            }
        },
        std::runtime_error);
    EXPECT_EQ(source_top_line(other), 0.0);
    set_change_marks(other, {{{0, 1, 0}}, {}});
    set_source_top_line(other, 3.0, 0);

    EditorWindow window;
    window.set_text(L"one\r\ntwo");
    window.select(1, 3);
    window.send(EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"X"));
    EXPECT_EQ(source_text(window.editor), u"oX\ntwo");
    const SourceDocument snapshot = source_document(window.editor);
    EXPECT_EQ(snapshot.text(), u"oX\ntwo");
    EXPECT_EQ(snapshot.selection, (std::array<std::uint64_t, 2>{2, 2}));
    EXPECT_EQ(snapshot.edit_count, window.record().document.edit_count);
    EXPECT_TRUE(snapshot.undo_entries.empty());
    EXPECT_EQ(snapshot.root, window.record().document.root); // shared, not copied
}

// An installed document whose edit count happens to equal the old one must not be answered from
// the find cache of the old text.
TEST(EditorInterface, NewDocumentReplacesTextAndEveryCache) {
    EditorWindow window;
    window.set_text(L"alpha beta");
    window.select(2, 2);
    window.send(EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"!"));
    ASSERT_EQ(find(window, L"alpha"), -1);
    ASSERT_EQ(find(window, L"beta"), 7);
    const std::uint64_t old_count = window.record().document.edit_count;

    SourceDocument prepared;
    prepared.assign(u"gamma\nbeta");
    prepared.edit_count = old_count;
    prepared.revision = 0;
    received().clear();
    replace_editor_document(window.editor, std::move(prepared));

    const SourceDocument& installed = window.record().document;
    EXPECT_EQ(window.text(), L"gamma\nbeta");
    EXPECT_EQ(installed.edit_count, old_count + 1);
    EXPECT_EQ(find(window, L"beta"), 6);
    EXPECT_EQ(find(window, L"gamma"), 0);
    EXPECT_EQ(window.send(EM_CANUNDO), FALSE);
    EXPECT_EQ(window.send(EM_GETMODIFY), FALSE);
    EXPECT_EQ(window.selection().cpMin, 0);
    EXPECT_EQ(window.selection().cpMax, 0);
    EXPECT_EQ(count_of(WM_COMMAND, EN_CHANGE), 1);
    EXPECT_EQ(count_of(WM_NOTIFY, EN_SELCHANGE), 1);
}

TEST(EditorInterface, ReloadKeepsTheViewAndSetsTheSelection) {
    EditorWindow window(600, 300);
    window.set_text(numbered_lines(300));
    set_source_top_line(window.editor, 120.0, 0);
    const double top = source_top_line(window.editor);
    const std::uint64_t old_revision = window.record().document.revision;
    const SourceDocument before = source_document(window.editor);

    SourceDocument reread;
    reread.assign(before.text() + u"appended\n");
    replace_editor_document(window.editor, std::move(reread),
                            {.keep_view = true,
                             .anchor = 20,
                             .caret = 4000000,
                             .carry_offset = {},
                             .changed_lines_known = false,
                             .changed_first = 0,
                             .changed_old_end = 0,
                             .changed_new_end = 0});
    EXPECT_NEAR(source_top_line(window.editor), top, 1e-6);
    EXPECT_EQ(window.text().substr(window.text().size() - 9), L"appended\n");
    EXPECT_GT(window.record().document.revision, old_revision);
    const CHARRANGE selection = window.selection();
    EXPECT_EQ(selection.cpMin, 20);
    EXPECT_EQ(selection.cpMax, static_cast<LONG>(window.record().document.length()));
}

TEST(EditorInterface, TopLineIsClampedAndNeverReportsTheScroll) {
    EditorWindow window(600, 300);
    window.set_text(numbered_lines(100));
    scrolled_message_posted(window.editor);

    set_source_top_line(window.editor, 10.5, 0);
    EXPECT_NEAR(source_top_line(window.editor), 10.5, 1e-9);
    EXPECT_FALSE(scrolled_message_posted(window.editor));
    EXPECT_TRUE(window.record().scroll_notify);

    // Three lines of context above the target.
    set_source_top_line(window.editor, 40.0, 3);
    EXPECT_NEAR(source_top_line(window.editor), 37.0, 1e-9);

    set_source_top_line(window.editor, 1e9, 0);
    EXPECT_NEAR(source_top_line(window.editor), 100.0, 1e-6); // the empty last line
    set_source_top_line(window.editor, -5.0, 0);
    EXPECT_EQ(source_top_line(window.editor), 0.0);
    EXPECT_FALSE(scrolled_message_posted(window.editor));
}

TEST(EditorInterface, StyleAndHighlightTakeEffectOnlyOnChange) {
    EditorWindow window;
    window.set_text(L"find me and find me\nsecond");
    const LONG line = window.position_of(20).y;
    set_source_style(window.editor, 24, false, true);
    EXPECT_EQ(window.position_of(20).y, line * 2);
    const LONG with_numbers = window.position_of(0).x;
    set_source_style(window.editor, 24, false, false);
    EXPECT_LT(window.position_of(0).x, with_numbers);
    set_source_style(window.editor, 24, true, false);
    EXPECT_TRUE(window.record().dark);

    std::wstring term = L"find";
    SourceHost host = source_host();
    host.search_term = [&term] { return term; };
    install_source_host(host);
    const std::uint64_t generation = window.record().highlight_generation;
    set_source_highlight(window.editor, find_match_case);
    EXPECT_EQ(window.record().highlight_term, L"find");
    EXPECT_EQ(window.record().highlight_generation, generation + 1);
    ValidateRect(window.editor, nullptr);
    set_source_highlight(window.editor, find_match_case);
    EXPECT_EQ(window.record().highlight_generation, generation + 1);
    EXPECT_FALSE(GetUpdateRect(window.editor, nullptr, FALSE));
    term.clear();
    set_source_highlight(window.editor, find_match_case);
    EXPECT_EQ(window.record().highlight_generation, generation + 2);
    EXPECT_TRUE(GetUpdateRect(window.editor, nullptr, FALSE));
}

class MarkerTooltip : public ::testing::Test {
protected:
    void SetUp() override {
        const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
        InitCommonControlsEx(&classes);
        window.set_text(numbered_lines(20));
        line = window.position_of(static_cast<std::uint64_t>(window.send(EM_LINEINDEX, 1))).y;
        set_compare_gutter(window.editor, true);
    }
    // The top of a line in client pixels.
    int top(int line_number) const {
        return window
            .position_of(static_cast<std::uint64_t>(window.send(EM_LINEINDEX, line_number)))
            .y;
    }
    std::wstring hover(int x, int y) const {
        window.send(WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
        return window.record().tooltip_text;
    }
    std::wstring shown_text() const {
        wchar_t buffer[256] = {};
        TOOLINFOW tool{};
        tool.cbSize = sizeof(TOOLINFOW);
        tool.hwnd = window.editor;
        tool.uId = 1;
        tool.lpszText = buffer;
        SendMessageW(window.record().tooltip, TTM_GETTEXTW, std::size(buffer),
                     reinterpret_cast<LPARAM>(&tool));
        return buffer;
    }

    EditorWindow window;
    LONG line = 0;
};

TEST_F(MarkerTooltip, ExplainsTheMarkUnderThePointer) {
    set_change_marks(window.editor, {{{2, 4, line_mark_added}, {6, 7, line_mark_changed}},
                                     {{10, 1}, {12, 2}, {15, 0}}});
    EXPECT_EQ(hover(2, top(3) + line / 2), L"Added");
    EXPECT_EQ(shown_text(), L"Added");
    EXPECT_EQ(hover(2, top(6) + 2), L"Changed");
    EXPECT_EQ(hover(2, top(10) + 1), L"1 line deleted here");
    EXPECT_EQ(shown_text(), L"1 line deleted here");
    EXPECT_EQ(hover(2, top(12) - 1), L"2 lines deleted here");
    EXPECT_EQ(hover(2, top(15)), L"0 lines deleted here");
    // An unmarked line in the lane, and a marked line outside it, clear the tooltip.
    EXPECT_EQ(hover(2, top(8) + line / 2), L"");
    EXPECT_EQ(hover(2, top(3) + line / 2), L"Added");
    EXPECT_EQ(hover(6, top(3) + line / 2), L"");
    EXPECT_EQ(hover(2, top(3) + line / 2), L"Added");
    window.send(WM_MOUSELEAVE);
    EXPECT_EQ(window.record().tooltip_text, L"");
}

TEST_F(MarkerTooltip, TextSourceAndLaterDeletionMarkWin) {
    set_change_marks(window.editor, {{{2, 6, line_mark_changed}}, {{9, 1}, {9, 3}}});
    EXPECT_EQ(hover(2, top(9)), L"3 lines deleted here");
    std::vector<std::pair<unsigned long long, bool>> asked;
    set_change_marker_source(window.editor, [&asked](unsigned long long line_number, bool deleted) {
        asked.emplace_back(line_number, deleted);
        return std::wstring(deleted ? L"removed at " : L"line ") + std::to_wstring(line_number);
    });
    EXPECT_EQ(hover(2, top(4) + 3), L"line 4");
    EXPECT_EQ(hover(2, top(9)), L"removed at 9");
    ASSERT_EQ(asked.size(), 3u); // the hovered line, then each deletion mark in reach
    EXPECT_EQ(asked[0], std::make_pair(4ull, false));
    EXPECT_EQ(asked[2], std::make_pair(9ull, true));

    // Equal marks neither repaint nor touch the tooltip.
    asked.clear();
    ValidateRect(window.editor, nullptr);
    set_change_marks(window.editor, {{{2, 6, line_mark_changed}}, {{9, 1}, {9, 3}}});
    EXPECT_FALSE(GetUpdateRect(window.editor, nullptr, FALSE));
    EXPECT_TRUE(asked.empty());
    set_change_marks(window.editor, {});
    EXPECT_EQ(window.record().tooltip_text, L"");
    EXPECT_TRUE(GetUpdateRect(window.editor, nullptr, FALSE));
}

TEST(EditorInterface, CompareGutterKeepsTheTextInPlace) {
    EditorWindow window(600, 300);
    window.set_text(numbered_lines(200));
    set_source_top_line(window.editor, 50.25, 0);
    const LONG x = window.position_of(0).x;
    const std::uint64_t top_offset = window.offset_at(x + 2, 2);
    set_compare_gutter(window.editor, true);
    EXPECT_EQ(window.offset_at(x + 8, 2), top_offset);
    EXPECT_EQ(window.position_of(window.send(EM_LINEINDEX, 60)).x, x + 6);
    set_compare_gutter(window.editor, false);
    EXPECT_EQ(window.position_of(window.send(EM_LINEINDEX, 60)).x, x);
}

TEST(EditorInterface, ColouringSettingsDropLayouts) {
    EditorWindow window;
    window.set_text(L"# title\n```\ncode\n");
    window.position_of(10);
    ASSERT_FALSE(window.record().line_cache.empty());
    set_colouring_mode(window.editor, 7);
    EXPECT_FALSE(window.record().line_cache.empty()); // 7 counts as 0, the current mode
    set_colouring_mode(window.editor, 2);
    EXPECT_EQ(window.record().colouring_mode, 2);
    EXPECT_TRUE(window.record().line_cache.empty());
    window.position_of(10);
    set_markdown_colouring(window.editor, false);
    EXPECT_FALSE(window.record().markdown_colouring);
    EXPECT_TRUE(window.record().line_cache.empty());
    EXPECT_FALSE(source_composing(window.editor));
}

} // namespace
