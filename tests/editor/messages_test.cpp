#include <gtest/gtest.h>
#include <windows.h>
#include <richedit.h>

#include <cstring>
#include <string>

#include "core/limits.h"
#include "editor/source_find.h"
#include "tests/editor/editor_window.h"

using namespace pellix;
using pellix::test::EditorWindow;
using pellix::test::received;

namespace {

// "a", U+1F600 as a surrogate pair, "b".
const std::wstring with_pair = L"a\xD83D\xDE00"
                               L"b";

TEST(EditorText, SetAndGetTextNormaliseLineBreaks) {
    EditorWindow window;
    EXPECT_EQ(window.send(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"one\r\ntwo\rthree\n")), TRUE);
    EXPECT_EQ(window.text(), L"one\ntwo\nthree\n");
    EXPECT_EQ(window.send(WM_GETTEXTLENGTH), 14);

    wchar_t small[4] = {L'x', L'x', L'x', L'x'};
    EXPECT_EQ(window.send(WM_GETTEXT, 1, reinterpret_cast<LPARAM>(small)), 0);
    EXPECT_EQ(small[0], L'\0');
    EXPECT_EQ(window.send(WM_GETTEXT, 4, reinterpret_cast<LPARAM>(small)), 3);
    EXPECT_EQ(std::wstring(small), L"one");

    wchar_t crlf[32] = {};
    GETTEXTEX request{sizeof(crlf), GT_USECRLF, 1200, nullptr, nullptr};
    EXPECT_EQ(window.send(EM_GETTEXTEX, reinterpret_cast<WPARAM>(&request),
                          reinterpret_cast<LPARAM>(crlf)),
              17);
    EXPECT_EQ(std::wstring(crlf), L"one\r\ntwo\r\nthree\r\n");
    request.codepage = CP_ACP;
    EXPECT_EQ(window.send(EM_GETTEXTEX, reinterpret_cast<WPARAM>(&request),
                          reinterpret_cast<LPARAM>(crlf)),
              0);

    window.set_text(L"a\nb");
    GETTEXTLENGTHEX both{GTL_USECRLF | GTL_NUMBYTES, 1200};
    EXPECT_EQ(window.send(EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&both)), 8);
}

TEST(EditorText, NullTextEmptiesAndClearsHistory) {
    EditorWindow window;
    window.set_text(L"abc");
    window.select(3, 3);
    window.send(EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(L"d"));
    EXPECT_EQ(window.send(EM_CANUNDO), TRUE);
    EXPECT_EQ(window.send(WM_SETTEXT, 0, 0), TRUE);
    EXPECT_EQ(window.text(), L"");
    EXPECT_EQ(window.send(EM_CANUNDO), FALSE);
}

TEST(EditorText, ReplaceUndoRedoAndModify) {
    EditorWindow window;
    window.set_text(L"hello world");
    EXPECT_EQ(window.send(EM_GETMODIFY), FALSE);
    window.select(0, 5);
    window.send(EM_REPLACESEL, 1, reinterpret_cast<LPARAM>(L"goodbye"));
    EXPECT_EQ(window.text(), L"goodbye world");
    EXPECT_EQ(window.send(EM_GETMODIFY), TRUE);
    EXPECT_EQ(window.send(EM_UNDO), TRUE);
    EXPECT_EQ(window.text(), L"hello world");
    EXPECT_EQ(window.send(EM_CANREDO), TRUE);
    window.send(EM_REDO);
    EXPECT_EQ(window.text(), L"goodbye world");
    window.send(EM_SETMODIFY, FALSE);
    EXPECT_EQ(window.send(EM_GETMODIFY), FALSE);
    window.send(EM_EMPTYUNDOBUFFER);
    EXPECT_EQ(window.send(EM_CANUNDO), FALSE);

    window.send(EM_SETREADONLY, TRUE);
    EXPECT_NE(GetWindowLongPtrW(window.editor, GWL_STYLE) & ES_READONLY, 0);
    window.send(EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(L"x"));
    EXPECT_EQ(window.text(), L"goodbye world");
    EXPECT_EQ(window.send(EM_SETUNDOLIMIT, 5), 1000);
    EXPECT_EQ(window.send(WM_GETDLGCODE), DLGC_WANTCHARS | DLGC_WANTTAB | DLGC_WANTARROWS);
}

TEST(EditorText, RefusedTextBeepsAndKeepsTheOldText) {
    EditorWindow window;
    window.set_text(L"kept");
    received().clear();
    const std::wstring too_long(document_limit + 1, L'x');
    EXPECT_EQ(window.send(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(too_long.c_str())), 0);
    EXPECT_EQ(window.text(), L"kept");
    EXPECT_TRUE(received().empty());
}

struct Stream {
    std::wstring text;
    std::size_t sent = 0;
    LONG chunk = 0x2000;
    bool odd = false;
};

DWORD CALLBACK stream_callback(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* count) {
    auto& stream = *reinterpret_cast<Stream*>(cookie);
    const std::size_t bytes_left = (stream.text.size() - stream.sent) * 2;
    const auto bytes = static_cast<LONG>(
        std::min<std::size_t>(bytes_left, static_cast<std::size_t>(std::min(size, stream.chunk))));
    std::memcpy(buffer, stream.text.data() + stream.sent, static_cast<std::size_t>(bytes));
    stream.sent += static_cast<std::size_t>(bytes) / 2;
    *count = stream.odd && bytes > 0 ? bytes - 1 : bytes;
    return 0;
}

LRESULT stream_in(const EditorWindow& window, Stream& stream, DWORD& error) {
    EDITSTREAM edit{reinterpret_cast<DWORD_PTR>(&stream), 99, stream_callback};
    const LRESULT result = window.send(EM_STREAMIN, SF_TEXT, reinterpret_cast<LPARAM>(&edit));
    error = edit.dwError;
    return result;
}

TEST(EditorText, StreamInTakesUtf16AtTheLimitAndRefusesBeyondIt) {
    EditorWindow window;
    window.set_text(L"before");
    DWORD error = 0;
    Stream odd{L"abcd", 0, 0x2000, true};
    EXPECT_EQ(stream_in(window, odd, error), 0);
    EXPECT_EQ(error, 13u);
    EXPECT_EQ(window.text(), L"before");

    Stream over{std::wstring(document_limit + 1, L'y')};
    EXPECT_EQ(stream_in(window, over, error), 0);
    EXPECT_EQ(error, 13u);
    EXPECT_EQ(window.text(), L"before");

    // The limit holds for the text as the document keeps it, with its line breaks folded.
    const std::wstring crlf_tail = L"\r\n\r\n\r\n\r\n";
    Stream folded_over{std::wstring(document_limit - 3, L'x') + crlf_tail};
    EXPECT_EQ(stream_in(window, folded_over, error), 0);
    EXPECT_EQ(error, 13u);
    EXPECT_EQ(window.text(), L"before");
    Stream folded_exact{std::wstring(document_limit - 4, L'x') + crlf_tail};
    EXPECT_EQ(stream_in(window, folded_exact, error), static_cast<LRESULT>(document_limit));
    EXPECT_EQ(error, 0u);

    Stream exact{std::wstring(document_limit, L'z')};
    EXPECT_EQ(stream_in(window, exact, error), static_cast<LRESULT>(document_limit));
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(window.send(WM_GETTEXTLENGTH), static_cast<LRESULT>(document_limit));
}

TEST(EditorSelection, SetSelEndsAndSurrogatePairs) {
    EditorWindow window;
    window.set_text(with_pair);
    window.select(-1, 0);
    EXPECT_EQ(window.selection().cpMin, 4);
    EXPECT_EQ(window.selection().cpMax, 4);
    window.select(1, -1);
    EXPECT_EQ(window.selection().cpMin, 1);
    EXPECT_EQ(window.selection().cpMax, 4);

    // Both ends inside the pair move to its start.
    window.select(2, 2);
    EXPECT_EQ(window.selection().cpMin, 1);
    EXPECT_EQ(window.selection().cpMax, 1);
    CHARRANGE range{2, 4};
    window.send(EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(window.selection().cpMin, 1);
    EXPECT_EQ(window.selection().cpMax, 4);
    DWORD start = 0;
    DWORD end = 0;
    EXPECT_EQ(
        window.send(EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end)),
        MAKELONG(1, 4));
    EXPECT_EQ(start, 1u);
    EXPECT_EQ(end, 4u);
    window.send(EM_EXGETSEL, reinterpret_cast<WPARAM>(&start), 0);
    EXPECT_EQ(start, 1u);

    wchar_t selected[8] = {};
    EXPECT_EQ(window.send(EM_GETSELTEXT, 0, reinterpret_cast<LPARAM>(selected)), 3);
    EXPECT_EQ(std::wstring(selected), with_pair.substr(1));
}

TEST(EditorSelection, OffsetsBeyondSixteenBitsAreExactOnlyInTheOutParameters) {
    EditorWindow window;
    window.set_text(std::wstring(0x12345, L'q'));
    window.select(0x10001, 0x12345);
    DWORD start = 0;
    DWORD end = 0;
    const auto packed = static_cast<DWORD>(
        window.send(EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end)));
    EXPECT_EQ(start, 0x10001u);
    EXPECT_EQ(end, 0x12345u);
    EXPECT_EQ(packed, (0x12345u << 16) | 0x0001u);
}

TEST(EditorLines, LineMessagesAtTheEndsOfTheText) {
    EditorWindow window;
    window.set_text(L"ab\ncde\n");
    EXPECT_EQ(window.send(EM_GETLINECOUNT), 3);
    EXPECT_EQ(window.send(EM_LINEFROMCHAR, 0), 0);
    EXPECT_EQ(window.send(EM_LINEFROMCHAR, 7), 2);
    EXPECT_EQ(window.send(EM_LINEFROMCHAR, 100), 2);
    EXPECT_EQ(window.send(EM_LINEINDEX, 0), 0);
    EXPECT_EQ(window.send(EM_LINEINDEX, 2), 7);
    EXPECT_EQ(window.send(EM_LINELENGTH, 0), 2);
    EXPECT_EQ(window.send(EM_LINELENGTH, 5), 3);
    EXPECT_EQ(window.send(EM_LINELENGTH, 7), 0);

    // The RichEdit form takes the index from lParam; wParam is not looked at.
    EXPECT_EQ(window.send(EM_EXLINEFROMCHAR, 0, 3), 1);
    EXPECT_EQ(window.send(EM_EXLINEFROMCHAR, 99, 7), 2);
    EXPECT_EQ(window.send(EM_EXLINEFROMCHAR, 0, 0), 0);

    // Negative arguments mean the caret.
    window.select(4, 4);
    EXPECT_EQ(window.send(EM_LINEFROMCHAR, static_cast<WPARAM>(-1)), 1);
    EXPECT_EQ(window.send(EM_EXLINEFROMCHAR, 0, -1), 1);
    EXPECT_EQ(window.send(EM_LINEINDEX, static_cast<WPARAM>(-1)), 3);
    EXPECT_EQ(window.send(EM_LINELENGTH, static_cast<WPARAM>(-1)), 3);

    window.set_text(L"");
    EXPECT_EQ(window.send(EM_GETLINECOUNT), 1);
    EXPECT_EQ(window.send(EM_EXLINEFROMCHAR, 0, 0), 0);
    EXPECT_EQ(window.send(EM_LINELENGTH, 0), 0);
}

LRESULT find(const EditorWindow& window, const wchar_t* needle, LONG from, LONG to, WPARAM flags,
             CHARRANGE* found = nullptr) {
    FINDTEXTEXW request{{from, to}, needle, {-5, -5}};
    const LRESULT result = window.send(EM_FINDTEXTEXW, flags, reinterpret_cast<LPARAM>(&request));
    if (found) {
        *found = request.chrgText;
    }
    return result;
}

TEST(EditorFind, ForwardBackwardWholeWordAndCase) {
    EditorWindow window;
    window.set_text(L"Cat cat_x cat.\nconcat CAT");
    CHARRANGE found{};
    EXPECT_EQ(find(window, L"cat", 0, -1, find_down, &found), 0);
    EXPECT_EQ(found.cpMin, 0);
    EXPECT_EQ(found.cpMax, 3);
    EXPECT_EQ(find(window, L"cat", 1, -1, find_down), 4);
    EXPECT_EQ(find(window, L"cat", 1, -1, find_down | find_match_case), 4);
    EXPECT_EQ(find(window, L"CAT", 1, -1, find_down | find_match_case), 22);
    // Whole word rejects "cat_x" and "concat" but takes "cat." and the last word.
    EXPECT_EQ(find(window, L"cat", 1, -1, find_down | find_whole_word), 10);
    EXPECT_EQ(find(window, L"cat", 11, -1, find_down | find_whole_word), 22);
    // The range end bounds a downward search.
    EXPECT_EQ(find(window, L"cat", 5, 13, find_down), 10);
    EXPECT_EQ(find(window, L"cat", 5, 12, find_down), -1);
    EXPECT_EQ(find(window, L"cat", 11, 13, find_down), -1);

    // Upward: only matches that end at or before cpMin, nearest first, down to cpMax.
    EXPECT_EQ(find(window, L"cat", 12, 0, 0), 4);
    EXPECT_EQ(find(window, L"cat", 13, 0, 0), 10);
    EXPECT_EQ(find(window, L"cat", 13, 5, 0), 10);
    EXPECT_EQ(find(window, L"cat", 6, 1, 0), -1);
    EXPECT_EQ(find(window, L"cat", -1, 0, 0), -1);

    EXPECT_EQ(find(window, L"", 0, -1, find_down, &found), -1);
    EXPECT_EQ(found.cpMin, -5);
    EXPECT_EQ(window.send(EM_FINDTEXTEXW, find_down, 0), -1);

    // An edit is seen by the next search.
    window.select(0, 0);
    window.send(EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(L"xx"));
    EXPECT_EQ(find(window, L"cat", 0, -1, find_down), 2);
}

TEST(EditorFind, ShortRangeAfterAnEditSeesTheWordsAroundIt) {
    EditorWindow window;
    window.set_text(L"xcat cat catx");
    // Whole word looks one unit beyond each end of the range searched.
    EXPECT_EQ(find(window, L"cat", 1, 4, find_down | find_whole_word), -1);
    EXPECT_EQ(find(window, L"cat", 9, 12, find_down | find_whole_word), -1);
    EXPECT_EQ(find(window, L"cat", 1, 12, find_down | find_whole_word), 5);
    EXPECT_EQ(find(window, L"cat", 4, 1, find_whole_word), -1);
    EXPECT_EQ(find(window, L"cat", 12, 9, find_whole_word), -1);
    EXPECT_EQ(find(window, L"cat", 12, 1, find_whole_word), 5);
    EXPECT_EQ(find(window, L"cat", 1, 4, find_down), 1);
}

TEST(EditorNotifications, ChangeAndSelectionReachTheParent) {
    EditorWindow window;
    window.set_text(L"abc");
    ASSERT_EQ(received().size(), 2u);
    EXPECT_EQ(received()[0].message, static_cast<UINT>(WM_COMMAND));
    EXPECT_EQ(received()[0].code, static_cast<UINT>(EN_CHANGE));
    EXPECT_EQ(received()[0].id, test::editor_id);
    EXPECT_EQ(received()[0].from, window.editor);
    EXPECT_EQ(received()[1].message, static_cast<UINT>(WM_NOTIFY));
    EXPECT_EQ(received()[1].code, static_cast<UINT>(EN_SELCHANGE));

    received().clear();
    window.select(3, 1);
    ASSERT_EQ(received().size(), 1u);
    EXPECT_EQ(received()[0].code, static_cast<UINT>(EN_SELCHANGE));
    EXPECT_EQ(received()[0].range.cpMin, 1);
    EXPECT_EQ(received()[0].range.cpMax, 3);

    received().clear();
    window.send(EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(L"Z"));
    ASSERT_EQ(received().size(), 2u);
    EXPECT_EQ(received()[0].code, static_cast<UINT>(EN_CHANGE));
    EXPECT_EQ(received()[1].range.cpMin, 2);

    EXPECT_EQ(window.send(EM_SETEVENTMASK, 0, ENM_CHANGE), ENM_CHANGE | ENM_SELCHANGE);
    EXPECT_EQ(window.send(EM_GETEVENTMASK), ENM_CHANGE);
    received().clear();
    window.select(0, 0);
    window.set_text(L"x");
    ASSERT_EQ(received().size(), 1u);
    EXPECT_EQ(received()[0].code, static_cast<UINT>(EN_CHANGE));
}

} // namespace
