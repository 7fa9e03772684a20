#include <gtest/gtest.h>
#include <windows.h>
#include <imm.h>
#include <richedit.h>

#include <cstring>
#include <initializer_list>
#include <map>
#include <string>

#include "core/limits.h"
#include "editor/input_method_calls.h"
#include "tests/editor/editor_window.h"

using namespace pellix;
using pellix::test::EditorWindow;
using pellix::test::HeldKeys;
using pellix::test::received;

namespace {

const std::wstring pair = L"\xD83D\xDE00"; // U+1F600

void type(const EditorWindow& window, const std::wstring& text) {
    for (wchar_t unit : text) {
        window.send(WM_CHAR, unit);
    }
}

void key(const EditorWindow& window, int code, std::initializer_list<int> held = {}) {
    HeldKeys keys(held);
    window.send(WM_KEYDOWN, static_cast<WPARAM>(code));
}

std::pair<LONG, LONG> selection_of(const EditorWindow& window) {
    const CHARRANGE range = window.selection();
    return {range.cpMin, range.cpMax};
}

int count_of(UINT message, UINT code) {
    int n = 0;
    for (const auto& note : received()) {
        n += note.message == message && note.code == code ? 1 : 0;
    }
    return n;
}

void put_on_clipboard(HWND owner, const std::wstring& units) {
    ASSERT_TRUE(OpenClipboard(owner));
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (units.size() + 1) * sizeof(wchar_t));
    std::memcpy(GlobalLock(memory), units.c_str(), (units.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(memory);
    SetClipboardData(CF_UNICODETEXT, memory);
    CloseClipboard();
}

std::wstring clipboard_text(HWND owner) {
    if (!OpenClipboard(owner)) {
        return L"<closed>";
    }
    std::wstring text = L"<none>";
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        text = static_cast<const wchar_t*>(GlobalLock(data));
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

TEST(EditorTyping, CharactersJoinIntoOneUndoStepUntilEnter) {
    EditorWindow window;
    type(window, L"ab\rcd");
    EXPECT_EQ(window.text(), L"ab\ncd");
    EXPECT_EQ(count_of(WM_COMMAND, EN_CHANGE), 5);
    window.send(EM_UNDO);
    EXPECT_EQ(window.text(), L"ab\n");
    EXPECT_EQ(selection_of(window), std::make_pair(3L, 3L));
    window.send(EM_UNDO);
    EXPECT_EQ(window.text(), L"ab");
    window.send(EM_UNDO);
    EXPECT_EQ(window.text(), L"");
    window.send(EM_REDO);
    window.send(EM_REDO);
    EXPECT_EQ(window.text(), L"ab\n");
    EXPECT_EQ(selection_of(window), std::make_pair(3L, 3L));

    // A caret move between two typed characters splits them.
    window.set_text(L"");
    type(window, L"xy");
    key(window, VK_LEFT);
    key(window, VK_RIGHT);
    type(window, L"z");
    key(window, 'Z', {VK_CONTROL});
    EXPECT_EQ(window.text(), L"xy");
    key(window, 'Z', {VK_CONTROL, VK_SHIFT});
    EXPECT_EQ(window.text(), L"xyz");
    key(window, 'Z', {VK_CONTROL});
    key(window, 'Y', {VK_CONTROL});
    EXPECT_EQ(window.text(), L"xyz");
}

TEST(EditorTyping, ControlCharactersAndSurrogates) {
    EditorWindow window;
    type(window, L"a\tb\nc\x01\x1B\x08\x7F");
    EXPECT_EQ(window.text(), L"a\tb\nc");
    window.set_text(L"");
    // A pair, a high surrogate dropped by an ordinary character, a lone low surrogate.
    type(window, pair + L"\xD83Dx\xDE00");
    EXPECT_EQ(window.text(), pair + L"x");

    window.set_text(L"");
    EXPECT_EQ(window.send(WM_UNICHAR, UNICODE_NOCHAR), TRUE);
    window.send(WM_UNICHAR, 0x01);
    window.send(WM_UNICHAR, 0x1F600);
    window.send(WM_UNICHAR, 0x110000);
    EXPECT_EQ(window.text(), L"\x01" + pair);
    // A lone surrogate code point is refused by the document.
    window.send(WM_UNICHAR, 0xD800);
    EXPECT_EQ(window.text(), L"\x01" + pair);
}

// Ctrl+Backspace, Ctrl+Delete and Ctrl+arrows stop where words start; "_" joins a word.
TEST(EditorTyping, WordBoundariesAndDeletion) {
    EditorWindow window;
    window.set_text(L"one two");
    window.select(7, 7);
    key(window, VK_BACK, {VK_CONTROL});
    EXPECT_EQ(window.text(), L"one ");
    window.set_text(L"one two");
    window.select(4, 4);
    key(window, VK_BACK, {VK_CONTROL});
    EXPECT_EQ(window.text(), L"two");
    window.set_text(L"one two");
    window.select(0, 0);
    key(window, VK_DELETE, {VK_CONTROL});
    EXPECT_EQ(window.text(), L"two");

    window.set_text(L"foo_bar, " + pair + L"baz");
    window.select(0, 0);
    key(window, VK_RIGHT, {VK_CONTROL});
    EXPECT_EQ(selection_of(window), std::make_pair(11L, 11L)); // past the pair, never inside
    key(window, VK_LEFT, {VK_CONTROL, VK_SHIFT});
    EXPECT_EQ(selection_of(window), std::make_pair(0L, 11L));

    // Backspace and Delete take a whole pair; a selection goes whole.
    window.set_text(L"a" + pair + L"b");
    window.select(3, 3);
    key(window, VK_BACK);
    EXPECT_EQ(window.text(), L"ab");
    window.set_text(L"a" + pair + L"b");
    window.select(1, 1);
    key(window, VK_DELETE);
    EXPECT_EQ(window.text(), L"ab");
    window.select(0, 2);
    key(window, VK_DELETE, {VK_CONTROL});
    EXPECT_EQ(window.text(), L"");
}

TEST(EditorTyping, CaretKeys) {
    EditorWindow window(600, 200);
    window.set_text(L"abc\nde\nfghij");
    window.select(1, 2);
    key(window, VK_LEFT);
    EXPECT_EQ(selection_of(window), std::make_pair(1L, 1L)); // collapsed, no further
    window.select(2, 1);
    key(window, VK_LEFT, {VK_SHIFT});
    EXPECT_EQ(window.record().document.selection, (std::array<std::uint64_t, 2>{2, 0}));
    window.select(1, 2);
    key(window, VK_RIGHT);
    EXPECT_EQ(selection_of(window), std::make_pair(2L, 2L));
    key(window, VK_END);
    EXPECT_EQ(selection_of(window), std::make_pair(3L, 3L));
    key(window, VK_HOME, {VK_SHIFT});
    EXPECT_EQ(selection_of(window), std::make_pair(0L, 3L));
    key(window, VK_END, {VK_CONTROL});
    EXPECT_EQ(selection_of(window), std::make_pair(12L, 12L));
    // The goal column survives the short middle line.
    key(window, VK_UP);
    EXPECT_EQ(selection_of(window), std::make_pair(6L, 6L));
    key(window, VK_UP);
    EXPECT_EQ(selection_of(window), std::make_pair(3L, 3L));
    key(window, VK_UP);
    EXPECT_EQ(selection_of(window), std::make_pair(3L, 3L));
    key(window, VK_NEXT);
    key(window, VK_NEXT);
    EXPECT_EQ(window.send(EM_LINEFROMCHAR, static_cast<WPARAM>(window.selection().cpMin)), 2);
    key(window, VK_HOME, {VK_CONTROL});
    EXPECT_EQ(selection_of(window), std::make_pair(0L, 0L));
}

TEST(EditorMouse, ClickShiftClickDragAndDoubleClick) {
    EditorWindow window;
    window.set_text(L"alpha_beta gamma\nsecond line");
    const POINTL g = window.position_of(11);
    const POINTL m = window.position_of(14);
    window.send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(g.x + 1, g.y + 4));
    window.send(WM_LBUTTONUP, 0, MAKELPARAM(g.x + 1, g.y + 4));
    EXPECT_EQ(selection_of(window), std::make_pair(11L, 11L));
    EXPECT_EQ(GetFocus(), window.editor);
    {
        HeldKeys shift{VK_SHIFT};
        window.send(WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, MAKELPARAM(m.x + 1, m.y + 4));
        window.send(WM_LBUTTONUP, 0, MAKELPARAM(m.x + 1, m.y + 4));
    }
    EXPECT_EQ(selection_of(window), std::make_pair(11L, 14L));

    const POINTL second = window.position_of(17);
    const POINTL second_end = window.position_of(23);
    window.send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(second_end.x + 1, second_end.y + 4));
    EXPECT_EQ(GetCapture(), window.editor);
    window.send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(second.x + 1, second.y + 4));
    EXPECT_EQ(window.record().document.selection, (std::array<std::uint64_t, 2>{23, 17}));
    window.send(WM_LBUTTONUP, 0, MAKELPARAM(second.x + 1, second.y + 4));
    EXPECT_NE(GetCapture(), window.editor);
    window.send(WM_MOUSEMOVE, 0, MAKELPARAM(g.x + 1, g.y + 4));
    EXPECT_EQ(selection_of(window), std::make_pair(17L, 23L));

    // Double-click selects the alphanumeric run: "_" ends it.
    const POINTL b = window.position_of(7);
    window.send(WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(b.x + 1, b.y + 4));
    EXPECT_EQ(selection_of(window), std::make_pair(6L, 10L));
}

TEST(EditorClipboard, CopyCutAndPasteThroughTheRealClipboard) {
    EditorWindow window;
    window.set_text(L"one\ntwo\nthree");
    window.select(2, 9);
    window.send(WM_COPY);
    EXPECT_EQ(clipboard_text(window.editor), L"e\r\ntwo\r\nt");
    window.select(4, 4);
    window.send(WM_COPY);
    EXPECT_EQ(clipboard_text(window.editor), L"");

    window.select(0, 4);
    key(window, 'X', {VK_CONTROL});
    EXPECT_EQ(window.text(), L"two\nthree");
    EXPECT_EQ(clipboard_text(window.editor), L"one\r\n");
    put_on_clipboard(window.editor, L"a\r\nb\rc");
    window.select(0, 0);
    window.send(WM_PASTE);
    EXPECT_EQ(window.text(), L"a\nb\nctwo\nthree");
    // One undo step takes the whole paste back.
    window.send(EM_UNDO);
    EXPECT_EQ(window.text(), L"two\nthree");

    // Only what stands before a NUL is pasted.
    put_on_clipboard(window.editor, std::wstring(L"xy\0z", 4));
    key(window, 'V', {VK_CONTROL});
    EXPECT_EQ(window.text(), L"xytwo\nthree");

    window.select(0, 2);
    window.send(WM_CUT);
    EXPECT_EQ(window.text(), L"two\nthree");
    EXPECT_EQ(clipboard_text(window.editor), L"xy");
}

// A view that showed the whole text keeps its top after a paste, so a paste into an empty tab
// shows the pasted lines with the caret below them.
TEST(EditorClipboard, APasteIntoAnEmptyEditorShowsThePastedLines) {
    EditorWindow window;
    put_on_clipboard(window.editor, L"1\r\n2\r\n3\r\n4\r\n5\r\n");
    key(window, 'V', {VK_CONTROL});
    EXPECT_EQ(window.text(), L"1\n2\n3\n4\n5\n");
    EXPECT_EQ(window.send(EM_GETFIRSTVISIBLELINE), 0);
    EXPECT_EQ(window.scroll_position().y, 0);
    const POINTL caret = window.position_of(10);
    RECT client{};
    GetClientRect(window.editor, &client);
    EXPECT_GT(caret.y, 0);
    EXPECT_LT(caret.y, client.bottom);
}

// The limit applies to the normalised text: a clipboard text whose CR LF pairs fold it under the
// limit is pasted whole however long it was, and one that stays over it is refused whole.
TEST(EditorClipboard, PasteAtAndPastTheLimitIsWholeOrNothing) {
    EditorWindow window;
    std::wstring folding;
    folding.reserve(document_limit + 0x100002);
    for (std::uint64_t i = 0; i < document_limit / 2 + 0x80000; ++i) {
        folding += L"\r\n";
    }
    folding += L"end";
    put_on_clipboard(window.editor, folding);
    window.send(WM_PASTE);
    ASSERT_EQ(window.send(WM_GETTEXTLENGTH), static_cast<LRESULT>(document_limit / 2 + 0x80003));
    EXPECT_EQ(window.text().substr(window.text().size() - 4), L"\nend");

    window.set_text(std::wstring(document_limit - 3, L'a'));
    window.select(0, 0);
    put_on_clipboard(window.editor, L"1234");
    received().clear();
    window.send(WM_PASTE);
    EXPECT_EQ(window.send(WM_GETTEXTLENGTH), static_cast<LRESULT>(document_limit - 3));
    EXPECT_EQ(count_of(WM_COMMAND, EN_CHANGE), 0);
    EXPECT_EQ(window.send(EM_CANUNDO), FALSE);
    put_on_clipboard(window.editor, L"1\r\n2");
    window.send(WM_PASTE);
    EXPECT_EQ(window.send(WM_GETTEXTLENGTH), static_cast<LRESULT>(document_limit));
}

// A replacement of a range by the same text changes nothing but the selection, which is still
// repainted and reported.
TEST(EditorTyping, UnchangedReplacementStillReportsTheSelection) {
    EditorWindow window;
    window.set_text(L"same text");
    window.select(0, 4);
    received().clear();
    ValidateRect(window.editor, nullptr);
    window.send(EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"same"));
    EXPECT_EQ(selection_of(window), std::make_pair(4L, 4L));
    EXPECT_EQ(count_of(WM_COMMAND, EN_CHANGE), 0);
    ASSERT_EQ(count_of(WM_NOTIFY, EN_SELCHANGE), 1);
    EXPECT_EQ(received().back().range.cpMin, 4);
    EXPECT_TRUE(GetUpdateRect(window.editor, nullptr, FALSE));
    EXPECT_EQ(window.send(EM_CANUNDO), FALSE);
}

// Wrapped text never scrolls sideways, so its horizontal bar has no range, however wide a line
// grows; without wrapping the range follows the widest line.
TEST(EditorTyping, WrappedLinesGiveTheHorizontalBarNoRange) {
    EditorWindow window(300, 200);
    type(window, std::wstring(120, L'w'));
    SCROLLINFO info{};
    info.cbSize = sizeof(SCROLLINFO);
    info.fMask = SIF_RANGE;
    GetScrollInfo(window.editor, SB_HORZ, &info);
    EXPECT_EQ(info.nMax, 0);
    window.send(EM_SETTARGETDEVICE, 0, 1);
    GetScrollInfo(window.editor, SB_HORZ, &info);
    EXPECT_GT(info.nMax, 300);
}

class EditorComposition : public ::testing::Test {
protected:
    EditorComposition()
        : calls_(
              {.get_context = [this](HWND) { return ++contexts_ > 0 ? fake_context : nullptr; },
               .get_composition_string = [this](HIMC, DWORD index, void* buffer,
                                                DWORD bytes) { return read(index, buffer, bytes); },
               .release_context = [this](HWND, HIMC) { --contexts_; }}) {}

    // As the input method answers: the string's byte count, or a count set in `counts_` for
    // the first call (the size query) and the second (the copy).
    LONG read(DWORD index, void* buffer, DWORD bytes) {
        const std::wstring& text = strings_[index];
        const auto size = static_cast<LONG>(text.size() * sizeof(wchar_t));
        if (buffer == nullptr) {
            return counts_.contains(index) ? counts_[index].first : size;
        }
        ++copies_;
        std::memcpy(buffer, text.data(), std::min<std::size_t>(bytes, text.size() * 2));
        return counts_.contains(index) ? counts_[index].second : size;
    }

    static inline HIMC fake_context = reinterpret_cast<HIMC>(0x1234);
    std::map<DWORD, std::wstring> strings_;
    std::map<DWORD, std::pair<LONG, LONG>> counts_;
    int copies_ = 0;
    int contexts_ = 0;
    ScopedInputMethodCalls calls_;
};

TEST_F(EditorComposition, ImpossibleByteCountsGiveNoText) {
    EditorWindow window;
    window.set_text(L"ab");
    window.select(2, 2);
    strings_[GCS_RESULTSTR] = L"xy";
    const LONG too_many = 0x1000002; // even, one unit past the largest composition
    for (const auto& [size, copied] : std::vector<std::pair<LONG, LONG>>{
             {0, 0}, {-1, -1}, {3, 3}, {too_many, too_many}, {4, 2}}) {
        counts_[GCS_RESULTSTR] = {size, copied};
        window.send(WM_IME_COMPOSITION, 0, GCS_RESULTSTR);
        EXPECT_EQ(window.text(), L"ab") << size << " then " << copied;
    }
    counts_.erase(GCS_RESULTSTR);
    window.send(WM_IME_COMPOSITION, 0, GCS_RESULTSTR);
    EXPECT_EQ(window.text(), L"abxy");
    // Only the count that changed between the calls and the good one were ever copied.
    EXPECT_EQ(copies_, 2);
}

TEST_F(EditorComposition, ResultStringIsOneUndoStep) {
    EditorWindow window;
    window.set_text(L"ab");
    window.select(1, 1);
    window.send(WM_IME_STARTCOMPOSITION);
    EXPECT_TRUE(window.record().composing);
    strings_[GCS_COMPSTR] = L"\x306B";
    window.send(WM_IME_COMPOSITION, 0, GCS_COMPSTR);
    EXPECT_EQ(window.record().composition, L"\x306B");
    EXPECT_EQ(window.text(), L"ab");
    window.paint_fully(); // the composition string is drawn at the caret

    strings_[GCS_RESULTSTR] = L"\x65E5\x672C";
    strings_[GCS_COMPSTR] = L"\x8A9E";
    window.send(WM_IME_COMPOSITION, 0, GCS_RESULTSTR | GCS_COMPSTR);
    EXPECT_EQ(window.text(), L"a\x65E5\x672C"
                             L"b");
    EXPECT_TRUE(window.record().composing);
    EXPECT_EQ(window.record().composition, L"\x8A9E");
    window.send(WM_IME_ENDCOMPOSITION);
    EXPECT_FALSE(window.record().composing);
    EXPECT_EQ(window.record().composition, L"");
    EXPECT_EQ(contexts_, 0);

    window.send(EM_UNDO);
    EXPECT_EQ(window.text(), L"ab");
    window.send(EM_REDO);
    EXPECT_EQ(window.text(), L"a\x65E5\x672C"
                             L"b");
}

TEST_F(EditorComposition, ReadOnlyRefusesEveryEdit) {
    EditorWindow window;
    window.set_text(L"keep this\ntext");
    window.select(0, 4);
    type(window, L"x");
    window.send(EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"y"));
    ASSERT_EQ(window.send(EM_CANUNDO), TRUE);
    window.send(EM_SETREADONLY, TRUE);
    const std::wstring before = window.text();

    window.select(0, 2);
    type(window, L"z\r");
    window.send(WM_UNICHAR, L'q');
    key(window, VK_DELETE);
    key(window, VK_BACK, {VK_CONTROL});
    window.send(EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"w"));
    key(window, 'X', {VK_CONTROL});
    EXPECT_EQ(clipboard_text(window.editor), L"xy");
    key(window, 'V', {VK_CONTROL});
    window.send(WM_PASTE);
    key(window, 'Z', {VK_CONTROL});
    window.send(EM_UNDO);
    strings_[GCS_RESULTSTR] = L"ime";
    window.send(WM_IME_STARTCOMPOSITION);
    window.send(WM_IME_COMPOSITION, 0, GCS_RESULTSTR);
    EXPECT_FALSE(window.record().composing);
    EXPECT_EQ(window.text(), before);

    // Caret movement and copying still work.
    key(window, VK_END, {VK_CONTROL});
    EXPECT_EQ(selection_of(window), std::make_pair(12L, 12L));
    key(window, 'A', {VK_CONTROL});
    key(window, 'C', {VK_CONTROL});
    EXPECT_EQ(clipboard_text(window.editor), L"xy this\r\ntext");
}

// Characters a reader sees as one, which Wine's DirectWrite shapes as a cluster per code point.
const std::wstring de = L"\xD83C\xDDE9\xD83C\xDDEA"; // the flag of Germany
const std::wstring fr = L"\xD83C\xDDEB\xD83C\xDDF7";
const std::wstring family = L"\xD83D\xDC69\x200D\xD83D\xDC69\x200D\xD83D\xDC67\x200D\xD83D\xDC66";

std::wstring flags(std::size_t count) {
    std::wstring text;
    for (std::size_t i = 0; i < count; ++i) {
        text += i % 2 ? fr : de;
    }
    return text;
}

TEST(EditorCharacters, KeysMoveSelectAndDeleteWholeCharacters) {
    EditorWindow window(900, 300);
    const std::wstring line = flags(300);
    window.set_text(line);
    window.select(0, 0);
    key(window, VK_RIGHT);
    key(window, VK_RIGHT, {VK_SHIFT});
    EXPECT_EQ(selection_of(window), std::make_pair(4L, 8L));
    // Far into the run, past what the rules look back over, flags still pair up.
    window.select(1000, 1000);
    key(window, VK_RIGHT);
    key(window, VK_RIGHT);
    key(window, VK_LEFT);
    EXPECT_EQ(selection_of(window), std::make_pair(1004L, 1004L));
    // The flags after a deleted one keep their pairs: no "EF RD EF" where "FR DE FR" stood.
    window.select(0, 0);
    key(window, VK_DELETE);
    window.select(1196, 1196);
    key(window, VK_BACK);
    EXPECT_EQ(window.text().substr(0, 12), fr + de + fr);
    EXPECT_TRUE(window.text() == line.substr(4, 1192));

    window.set_text(L"cafe\x0301s " + family + L"!");
    window.select(3, 3);
    key(window, VK_RIGHT);
    EXPECT_EQ(selection_of(window), std::make_pair(5L, 5L));
    window.select(3, 3);
    key(window, VK_DELETE);
    key(window, VK_RIGHT);
    key(window, VK_RIGHT);
    key(window, VK_RIGHT);
    EXPECT_EQ(selection_of(window), std::make_pair(16L, 16L));
    key(window, VK_BACK);
    EXPECT_EQ(window.text(), L"cafs !");

    // An Arabic number sign belongs to the digits after it: a word starts before it.
    window.set_text(std::wstring(L"x \x0600") + L"12");
    window.select(0, 0);
    key(window, VK_RIGHT, {VK_CONTROL});
    EXPECT_EQ(selection_of(window), std::make_pair(2L, 2L));
    window.select(5, 5);
    key(window, VK_LEFT, {VK_CONTROL});
    EXPECT_EQ(selection_of(window), std::make_pair(2L, 2L));
}

TEST(EditorCharacters, ClicksLandBetweenWholeCharacters) {
    EditorWindow window(900, 300);
    window.set_text(flags(4) + L"\ncafe\x0301 bar " + family);
    // Either half of the second flag's first indicator, then of its second.
    const LONG middle = window.position_of(6).x;
    const LONG y = window.position_of(6).y + 4;
    window.send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(middle - 1, y));
    window.send(WM_LBUTTONUP, 0, MAKELPARAM(middle - 1, y));
    EXPECT_EQ(selection_of(window), std::make_pair(4L, 4L));
    window.send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(middle + 1, y));
    window.send(WM_LBUTTONUP, 0, MAKELPARAM(middle + 1, y));
    EXPECT_EQ(selection_of(window), std::make_pair(8L, 8L));
    // The family is one character: a click on its left half (past its first woman and joiner)
    // puts the caret before it, one on its right half (just short of its end) after it.
    const POINTL joined = window.position_of(27 + 3);
    window.send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(joined.x + 1, joined.y + 4));
    window.send(WM_LBUTTONUP, 0, MAKELPARAM(joined.x + 1, joined.y + 4));
    EXPECT_EQ(selection_of(window), std::make_pair(27L, 27L));
    const POINTL end = window.position_of(38);
    window.send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(end.x - 2, end.y + 4));
    window.send(WM_LBUTTONUP, 0, MAKELPARAM(end.x - 2, end.y + 4));
    EXPECT_EQ(selection_of(window), std::make_pair(38L, 38L));
    // The word ends with the accent on its last letter.
    const POINTL f = window.position_of(19);
    window.send(WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(f.x + 1, f.y + 4));
    EXPECT_EQ(selection_of(window), std::make_pair(17L, 22L));
}

} // namespace
