#include "tests/app/editing_window.h"

#include <commctrl.h>

#include <filesystem>
#include <optional>

#include "app/document_tabs.h"
#include "app/find_bar_layout.h"
#include "app/find_bar.h"
#include "app/find_replace.h"
#include "app/message_loop.h"
#include "app/views.h"
#include "core/limits.h"
#include "editor/source_record.h"
#include "app/palette.h"
#include "preview/preview_window.h"
#include "tests/app/chrome_capture.h"
#include "tests/editor/target_interruption.h"
#include "tests/scratch_folder.h"

namespace pellix {
namespace {

using test::EditingWindow;
using FindReplace = EditingWindow;

constexpr unsigned long find_forward = find_flag::find_next | find_flag::down;
constexpr unsigned long find_backward = find_flag::find_next;
constexpr unsigned long replace_once = find_flag::replace | find_flag::down;
constexpr unsigned long replace_everything = find_flag::replace_all | find_flag::down;

void open_bar(bool replace, const std::wstring& find, const std::wstring& replacement = L"") {
    find_command(replace ? 208 : 206);
    SetWindowTextW(chrome.find_box, find.c_str());
    SetWindowTextW(chrome.replace_box, replacement.c_str());
}

// The loop's own handling of posted keys, ended once they are handled.
void run_loop_over(HWND target, WPARAM key) {
    PostMessageW(target, WM_KEYDOWN, key, 0);
    PostQuitMessage(0);
    run_message_loop(nullptr);
}

bool selected(LONG start, LONG end) {
    CHARRANGE range{};
    SendMessageW(chrome.editor, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
    return range.cpMin == start && range.cpMax == end;
}

std::u16string repeated(std::u16string_view piece, std::size_t times) {
    std::u16string text;
    text.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

TEST_F(FindReplace, FindWrapsAndHonoursMatchCaseAndWholeWordInTheSource) {
    // "alpha" at 0, "Alpha" at 6, "alpha" inside "alphabet" at 12, "ALPHA" at 21.
    set_text(u"alpha Alpha alphabet ALPHA.\n");
    open_bar(false, L"alpha");
    select(27, 27);
    request_find(find_forward);
    EXPECT_TRUE(selected(0, 5)); // wrapped
    request_find(find_forward);
    EXPECT_TRUE(selected(6, 11));

    click(find_control::match_case);
    request_find(find_forward);
    EXPECT_TRUE(selected(12, 17));
    click(find_control::whole_word);
    request_find(find_forward);
    EXPECT_TRUE(selected(0, 5)); // the only one of both kinds, found again after the wrap
    click(find_control::match_case);
    request_find(find_forward);
    EXPECT_TRUE(selected(6, 11));
    request_find(find_forward);
    EXPECT_TRUE(selected(21, 26)); // "alphabet" is not a whole word

    select(0, 0);
    request_find(find_backward);
    EXPECT_TRUE(selected(21, 26)); // wrapped backward
    request_find(find_backward);
    EXPECT_TRUE(selected(6, 11));

    // With the bar closed, Find next and Find previous search with the last find text.
    hide_find_bar();
    find_command(209);
    EXPECT_TRUE(selected(0, 5));
    find_command(207);
    EXPECT_TRUE(selected(6, 11));

    // Nothing to find leaves the selection where it was.
    open_bar(false, L"omega");
    select(3, 4);
    request_find(find_forward);
    EXPECT_TRUE(selected(3, 4));
}

TEST_F(FindReplace, FindInThePreviewMovesOverItsOwnMatchesAndWraps) {
    test::ScratchFolder folder("find-preview");
    const std::filesystem::path path = folder / "notes.md";
    test::write_bytes(path, "# Alpha\n\nalpha alphabet ALPHA\n");
    open_path(path);
    select_view(view_preview);
    ASSERT_EQ(settings.view, view_preview);
    ASSERT_NE(preview().window, nullptr);
    Preview::Impl& p = preview();
    auto preview_selection = [&p] {
        return std::pair<std::uint64_t, std::uint64_t>{std::min(p.view.anchor, p.view.caret),
                                                       std::max(p.view.anchor, p.view.caret)};
    };

    open_bar(false, L"alpha");
    request_find(find_forward);
    ASSERT_EQ(p.find_matches.size(), 4u);
    EXPECT_EQ(preview_selection(), p.find_matches[0]);
    request_find(find_backward);
    EXPECT_EQ(preview_selection(), p.find_matches[3]); // wrapped backward
    request_find(find_forward);
    EXPECT_EQ(preview_selection(), p.find_matches[0]); // and forward
    // The source keeps its own selection meanwhile.
    EXPECT_TRUE(selected(0, 0));

    click(find_control::match_case);
    request_find(find_forward);
    ASSERT_EQ(p.find_matches.size(), 2u);
    click(find_control::whole_word);
    request_find(find_forward);
    ASSERT_EQ(p.find_matches.size(), 1u);
    const auto [start, end] = preview_selection();
    EXPECT_EQ(p.document.text.substr(start, end - start), u"alpha");
    EXPECT_EQ(p.document.text.substr(end, 1), u" ");

    start_match_count();
    ASSERT_TRUE(pump_until([] { return find_status() != L"Searching..."; }));
    EXPECT_EQ(find_status(), L"1 of 1");

    // Closing the bar takes the highlights away.
    hide_find_bar();
    EXPECT_TRUE(p.find_matches.empty());
    EXPECT_TRUE(search_term.empty());
}

TEST_F(FindReplace, ReplaceTakesTheWholeSelectionAndComparesItByTheCaseOption) {
    set_text(u"Cat cat CAT");
    open_bar(true, L"cat", L"dog");
    select(0, 3);
    request_find(replace_once);
    EXPECT_EQ(text(), u"dog cat CAT");
    EXPECT_TRUE(selected(4, 7)); // and the next match is selected

    click(find_control::match_case);
    select(8, 11);
    request_find(replace_once);
    EXPECT_EQ(text(), u"dog cat CAT"); // "CAT" differs in case
    EXPECT_TRUE(selected(4, 7));
    request_find(replace_once);
    EXPECT_EQ(text(), u"dog dog CAT");

    // A selection far longer than the find text is read whole and simply does not match.
    set_text(std::u16string(20000, u'x') + u" cat");
    select(0, 20000);
    request_find(replace_once);
    EXPECT_EQ(text().size(), 20004u);
    EXPECT_TRUE(selected(20001, 20004));
}

TEST_F(FindReplace, ReplaceAllOfAHundredThousandMatchesIsOneUndoStepWhileTheEditorIsReadOnly) {
    const std::u16string original = repeated(u"ab ", 100000);
    set_text(original);
    open_bar(true, L"ab", L"x");
    request_find(replace_everything);
    ASSERT_TRUE(replace_all_running());
    EXPECT_TRUE(read_only());
    EXPECT_FALSE(IsWindowEnabled(chrome.tab_control));
    EXPECT_FALSE(IsWindowEnabled(chrome.find_bar));
    EXPECT_EQ(current_tab().status_note, L"Preparing Replace All. Esc cancels.");
    type(L"typed");
    request_find(find_forward); // dropped while the job runs
    EXPECT_EQ(text(), original);

    ASSERT_TRUE(pump_until([] { return !replace_all_running(); }, 20000));
    EXPECT_EQ(text(), repeated(u"x ", 100000));
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, L"100000 replacements.");
    EXPECT_EQ(boxes_[0].caption, L"Replace All");
    EXPECT_FALSE(read_only());
    EXPECT_TRUE(IsWindowEnabled(chrome.tab_control));
    EXPECT_TRUE(IsWindowEnabled(chrome.find_bar));
    EXPECT_TRUE(current_tab().status_note.empty());

    EXPECT_TRUE(undo());
    EXPECT_EQ(text(), original);
    EXPECT_FALSE(can_undo());
}

TEST_F(FindReplace, ReplaceAllChangesOnlyFromTheFirstMatchToTheLastAsOneUndoStep) {
    struct Case {
        std::u16string text;
        std::wstring find;
        std::wstring replacement;
        std::u16string expected;
        int replacements;
        // The stretch from the first match's start to the last match's end, in `text`.
        LONG first;
        LONG last_end;
    };
    const Case cases[] = {
        {u"ab then the rest", L"ab", L"longer", u"longer then the rest", 1, 0, 2},
        {u"the start, then ab", L"ab", L"", u"the start, then ", 1, 16, 18},
        {u"ab in the middle\nab", L"ab", L"x", u"x in the middle\nx", 2, 0, 19},
        {u"ab", L"ab", L"a\nb", u"a\nb", 1, 0, 2},
        {u"\xD83D\xDE00"
         u"ab\xD83D\xDE01 ab\xD83D\xDE02",
         L"ab", L"\xD83D\xDE03", u"\xD83D\xDE00\xD83D\xDE03\xD83D\xDE01 \xD83D\xDE03\xD83D\xDE02",
         2, 2, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.expected.begin(), c.expected.end()));
        boxes_.clear();
        set_text(c.text);
        open_bar(true, c.find, c.replacement);
        request_find(replace_everything);
        ASSERT_TRUE(pump_until([] { return !replace_all_running(); }));
        EXPECT_EQ(text(), c.expected);
        // Only the stretch was replaced: the caret ends after its new text, and Undo selects
        // the stretch as it was.
        const LONG new_end =
            c.last_end + static_cast<LONG>(c.expected.size()) - static_cast<LONG>(c.text.size());
        EXPECT_TRUE(selected(new_end, new_end));
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_EQ(boxes_[0].text, std::to_wstring(c.replacements) + L" replacements.");
        EXPECT_TRUE(undo());
        EXPECT_EQ(text(), c.text);
        EXPECT_TRUE(selected(c.first, c.last_end));
        EXPECT_FALSE(can_undo());
    }

    // Matches that already read as the replacement leave no undo step.
    set_text(u"ab ab");
    open_bar(true, L"ab", L"ab");
    request_find(replace_everything | find_flag::match_case);
    ASSERT_TRUE(pump_until([] { return !replace_all_running(); }));
    EXPECT_EQ(boxes_.back().text, L"2 replacements.");
    EXPECT_EQ(text(), u"ab ab");
    EXPECT_FALSE(can_undo());

    // A find text that is not whole characters would cut a pair in two.
    open_bar(true, L"\xD83D", L"x");
    set_text(u"\xD83D\xDE00");
    request_find(replace_everything);
    EXPECT_FALSE(replace_all_running());
    EXPECT_EQ(boxes_.back().text, L"Invalid UTF-16.");
    EXPECT_EQ(text(), u"\xD83D\xDE00");
}

TEST_F(FindReplace, EscCancelsReplaceAllWithTheTextUnchangedWhereverTheFocusIs) {
    const std::u16string original = repeated(u"ab ", 100000);
    set_text(original);
    open_bar(true, L"ab", L"x");
    for (HWND target : {chrome.editor, chrome.find_box}) {
        request_find(replace_everything);
        ASSERT_TRUE(replace_all_running());
        run_loop_over(target, VK_ESCAPE);
        EXPECT_FALSE(replace_all_running());
        EXPECT_FALSE(read_only());
        EXPECT_TRUE(is_find_bar_visible()); // Esc went to the job, not to the bar
    }
    pump(100);
    EXPECT_EQ(text(), original);
    EXPECT_FALSE(can_undo());
    EXPECT_TRUE(boxes_.empty());

    // Selecting another tab cancels too.
    request_find(replace_everything);
    new_tab();
    EXPECT_FALSE(replace_all_running());
    select_tab(0, false);
    EXPECT_EQ(text(), original);
}

// The last step of Replace All gives the editor its writing back and then hands it the result.
// Armed at that moment: the editor has let go of its render target but keeps the layout of the
// line at the top of its view, so it makes a new target only after the text changed, and
// another thread sends it a message meanwhile.
std::optional<test::MessageWhileTheTargetIsMade> interruption;

LRESULT CALLBACK interrupt_the_hand_over(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                         UINT_PTR, DWORD_PTR) {
    if (message == EM_SETREADONLY && wparam == FALSE && !interruption) {
        Source& source = *source_record(window);
        for (LinePiece& piece : line_pieces(source, 0)) {
            build_piece_layout(source, 0, piece);
        }
        release_device_objects(source);
        interruption.emplace(source, [] { SendMessageW(chrome.editor, EM_STOPGROUPTYPING, 0, 0); });
    }
    return DefSubclassProc(window, message, wparam, lparam);
}

// The editor's walk over its lines is interrupted after the text changed: the change still
// reaches the tab once (its revision and modified state), and the only box is the count.
TEST_F(FindReplace, ReplaceAllInterruptedWhileTheEditorMakesItsTargetStillReachesTheTab) {
    constexpr UINT_PTR subclass_id = 40;
    set_text(u"ab then ab\n");
    const std::uint64_t revision = current_tab().revision;
    open_bar(true, L"ab", L"x");
    SetWindowSubclass(chrome.editor, interrupt_the_hand_over, subclass_id, 0);
    request_find(replace_everything);
    const bool finished = pump_until([] { return !replace_all_running(); });
    RemoveWindowSubclass(chrome.editor, interrupt_the_hand_over, subclass_id);
    const bool served = interruption && interruption->served();
    interruption.reset();
    ASSERT_TRUE(finished);
    EXPECT_TRUE(served);
    EXPECT_EQ(text(), u"x then x\n");
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, L"2 replacements.");
    EXPECT_EQ(current_tab().revision, revision + 1);
    EXPECT_TRUE(current_tab().text_stale);
    EXPECT_EQ(SendMessageW(chrome.editor, EM_GETMODIFY, 0, 0), TRUE);
}

// Armed like `interrupt_the_hand_over`, but with no layouts: the editor makes its target to note
// its view, before the text changes, and the message served meanwhile types into the text.
LRESULT CALLBACK type_during_the_hand_over(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                           UINT_PTR, DWORD_PTR) {
    if (message == EM_SETREADONLY && wparam == FALSE && !interruption) {
        Source& source = *source_record(window);
        clear_line_layouts(source);
        interruption.emplace(source, [] {
            SendMessageW(chrome.editor, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"Z"));
        });
    }
    return DefSubclassProc(window, message, wparam, lparam);
}

// The replacements were made for the text before the typing: they are not made, and the box
// says so rather than count replacements that are not there.
TEST_F(FindReplace, ReplaceAllWhoseTextChangedAtTheHandOverSaysNothingWasReplaced) {
    constexpr UINT_PTR subclass_id = 41;
    set_text(u"ab then ab\n");
    select(0, 0);
    open_bar(true, L"ab", L"x");
    SetWindowSubclass(chrome.editor, type_during_the_hand_over, subclass_id, 0);
    request_find(replace_everything);
    const bool finished = pump_until([] { return !replace_all_running(); });
    RemoveWindowSubclass(chrome.editor, type_during_the_hand_over, subclass_id);
    const bool served = interruption && interruption->served();
    interruption.reset();
    ASSERT_TRUE(finished);
    EXPECT_TRUE(served);
    EXPECT_EQ(text(), u"Zab then ab\n");
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, L"The editor did not take the replacements. No text was changed.");
}

TEST_F(FindReplace, ReplaceAllRightAfterTypingWorksOnTheTypedText) {
    set_text(u"one two\n");
    select(8, 8);
    type(L"two two");
    // The tab's cached copy still holds the text from before the typing, as it does until the
    // deferred refresh.
    current_tab().text = u"one two\n";
    current_tab().text_stale = false;
    open_bar(true, L"two", L"2\r\n");
    request_find(replace_everything);
    ASSERT_TRUE(pump_until([] { return !replace_all_running(); }));
    // The replacement's line break is normalised.
    EXPECT_EQ(text(), u"one 2\n\n2\n 2\n");
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, L"3 replacements.");
}

TEST_F(FindReplace, ReplaceAllReportsNoMatchesAndRefusesToPassTheLimit) {
    set_text(u"abc");
    open_bar(true, L"zzz", L"y");
    request_find(replace_everything);
    ASSERT_TRUE(pump_until([] { return !replace_all_running(); }));
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, L"0 replacements.");
    EXPECT_EQ(text(), u"abc");
    EXPECT_FALSE(can_undo());

    const std::u16string large(document_limit / 2 + 1, u'a');
    set_text(large);
    open_bar(true, L"a", L"aa");
    request_find(replace_everything);
    ASSERT_TRUE(pump_until([] { return !replace_all_running(); }, 20000));
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[1].text,
              L"Replacement exceeds the editor's 8 MiB character limit. No text was changed.");
    EXPECT_EQ(text(), large);
    EXPECT_FALSE(read_only());
    EXPECT_FALSE(can_undo());
}

TEST_F(FindReplace, TheMatchCountShowsWhereTheSelectionStandsOnTheEditorsOwnText) {
    auto counted = [] {
        return pump_until([] { return find_status() != L"Searching..."; }, 10000);
    };
    set_text(u"zz ab");
    open_bar(false, L"ab");
    EXPECT_EQ(find_status(), L"Searching...");
    ASSERT_TRUE(counted());
    EXPECT_EQ(find_status(), L"1 result");
    EXPECT_EQ(search_term, L"ab"); // the editor highlights the term

    set_text(u"ab ab ab");
    select(3, 5);
    start_match_count();
    ASSERT_TRUE(counted());
    EXPECT_EQ(find_status(), L"2 of 3");

    // Typed text counts at once, though the tab's cached copy lags behind.
    select(8, 8);
    type(L" ab");
    current_tab().text = u"ab ab ab";
    current_tab().text_stale = false;
    ASSERT_TRUE(counted());
    EXPECT_EQ(find_status(), L"4 of 4");

    set_text(repeated(u"ab ", 12000));
    ASSERT_TRUE(counted());
    EXPECT_EQ(find_status(), L"10000+");

    SetWindowTextW(chrome.find_box, L"none");
    ASSERT_TRUE(counted());
    EXPECT_EQ(find_status(), L"No results");
    SetWindowTextW(chrome.find_box, L"");
    EXPECT_EQ(find_status(), L"");
    wchar_t title[64] = {};
    GetWindowTextW(chrome.find_bar, title, 64);
    EXPECT_STREQ(title, L"Find and replace: ");

    // An option restarts the count and names its button by its state.
    SetWindowTextW(chrome.find_box, L"AB");
    ASSERT_TRUE(counted());
    click(find_control::match_case);
    EXPECT_EQ(find_status(), L"Searching...");
    EXPECT_EQ(window_text(GetDlgItem(chrome.find_bar, find_control::match_case)),
              L"Match case (on)");
    ASSERT_TRUE(counted());
    EXPECT_EQ(find_status(), L"No results");
}

TEST_F(FindReplace, OnlyNoResultsIsPaintedInTheLinkColour) {
    find_command(206);
    SetFocus(nullptr);
    auto pixels_of = [](const std::wstring& status, int entry) {
        set_find_status(status);
        RECT client{};
        GetClientRect(chrome.find_bar, &client);
        test::Surface surface(client.right, client.bottom);
        SendMessageW(chrome.find_bar, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(surface.dc()),
                     PRF_CLIENT);
        return surface.count(chrome_palette()[entry], client);
    };
    // The same glyphs, once as the status that means nothing was found.
    EXPECT_GT(pixels_of(L"No results", 4), pixels_of(L"No results ", 4));
    EXPECT_GT(pixels_of(L"No results ", 3), pixels_of(L"No results", 3));
}

TEST_F(FindReplace, TheBarIsSeededByAOneLineSelectionOnly) {
    set_text(u"ab cd\nef");
    select(0, 2);
    find_command(206);
    EXPECT_TRUE(is_find_bar_visible());
    EXPECT_FALSE(find_bar_shows_replace());
    EXPECT_EQ(window_text(chrome.find_box), L"ab");
    DWORD from = 0;
    DWORD to = 0;
    SendMessageW(chrome.find_box, EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                 reinterpret_cast<LPARAM>(&to));
    EXPECT_EQ(from, 0u);
    EXPECT_EQ(to, 2u);

    hide_find_bar();
    select(3, 7); // "cd", a line break and "e"
    find_command(208);
    EXPECT_TRUE(find_bar_shows_replace());
    EXPECT_EQ(window_text(chrome.find_box), L"ab");
}

// The Replace all button holds the focus when it starts the job; the replaced text is the
// editor's, so once the job is done Ctrl+Z there takes it all back and Esc closes the bar.
TEST_F(FindReplace, AfterReplaceAllTheKeysGoToTheEditor) {
    ShowWindow(window_, SW_SHOW);
    set_text(u"ab ab ab");
    open_bar(true, L"ab", L"x");
    HWND button = GetDlgItem(chrome.find_bar, find_control::replace_all);
    SetFocus(button);
    SendMessageW(button, BM_CLICK, 0, 0);
    ASSERT_TRUE(pump_until([] { return !replace_all_running(); }));
    ASSERT_EQ(text(), u"x x x");
    EXPECT_EQ(GetFocus(), chrome.editor);

    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    run_loop_over(GetFocus(), 'Z');
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
    EXPECT_EQ(text(), u"ab ab ab");

    run_loop_over(GetFocus(), VK_ESCAPE);
    EXPECT_FALSE(is_find_bar_visible());
}

TEST_F(FindReplace, TheBarsKeysReplaceFromTheReplaceBoxAndEscClosesIt) {
    set_text(u"one one");
    open_bar(true, L"one", L"1");
    select(0, 3);
    run_loop_over(chrome.replace_box, VK_RETURN);
    EXPECT_EQ(text(), u"1 one");
    EXPECT_TRUE(selected(2, 5));

    run_loop_over(chrome.find_box, VK_ESCAPE);
    EXPECT_FALSE(is_find_bar_visible());
    EXPECT_TRUE(search_term.empty());
}

TEST(FindBarLayout, RowsFollowTheWidthAndTheMode) {
    const FindBarSizes sizes;
    namespace b = find_button;
    for (int width : {120, 200, 400, 900}) {
        const FindBarLayout find_only = layout_find_bar(width, false, sizes);
        EXPECT_FALSE(find_only.replace_shown) << width;
        EXPECT_FALSE(find_only.shown[b::replace] || find_only.shown[b::replace_all]) << width;
        EXPECT_TRUE(find_only.shown[b::close] && find_only.shown[b::next]) << width;
        // The find box ends before every button of its row.
        for (std::size_t i = 0; i < b::count; ++i) {
            if (find_only.shown[i] && find_only.buttons[i].top == find_only.find_edit.top) {
                EXPECT_LE(find_only.find_edit.right, find_only.buttons[i].left) << width;
            }
        }
        const FindBarLayout replacing = layout_find_bar(width, true, sizes);
        EXPECT_TRUE(replacing.replace_shown);
        EXPECT_EQ(replacing.buttons[b::replace_all].right, width - 6) << width;
        EXPECT_EQ(replacing.buttons[b::replace].right, replacing.buttons[b::replace_all].left);
    }
    // Narrow bars put the options and match buttons on a second row and drop Previous first.
    EXPECT_FALSE(layout_find_bar(140, false, sizes).shown[b::previous]);
    const FindBarLayout narrow = layout_find_bar(200, true, sizes);
    EXPECT_TRUE(narrow.shown[b::previous]);
    EXPECT_EQ(narrow.buttons[b::match_case].top, 36);
    EXPECT_EQ(narrow.buttons[b::replace].top, 72);
    // A wide bar holds everything in its first row.
    const FindBarLayout wide = layout_find_bar(900, true, sizes);
    for (std::size_t i : {b::match_case, b::whole_word, b::previous, b::next, b::close}) {
        EXPECT_EQ(wide.buttons[i].top, 0);
    }
    EXPECT_FALSE(IsRectEmpty(&wide.status));
    EXPECT_EQ(wide.buttons[b::replace].top, 36);
    EXPECT_EQ(wide.replace_edit.right, wide.find_edit.right);
}

} // namespace
} // namespace pellix
