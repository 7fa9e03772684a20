#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "editor/fence_state.h"
#include "editor/height_tree.h"
#include "editor/replacement_lines.h"
#include "editor/source_interface.h"
#include "tests/editor/editor_window.h"

using namespace pellix;
using pellix::test::EditorWindow;

namespace {

FenceState after(FenceState before, const std::u16string& line) {
    SourceDocument document;
    document.assign(line);
    LineCursor cursor(document, 0, document.length());
    return fence_state_after(before, cursor);
}

TEST(FenceStates, OpeningAndClosingRules) {
    const FenceState outside{};
    const FenceState three{u'`', 3};
    EXPECT_EQ(after(outside, u""), outside);
    EXPECT_EQ(after(outside, u"    ```"), outside);
    EXPECT_EQ(after(outside, u"   ```"), three);
    EXPECT_EQ(after(outside, u"``` a ` b"), outside);
    EXPECT_EQ(after(outside, u"~~~ a ~ b"), (FenceState{u'~', 3}));
    EXPECT_EQ(after(outside, u"``"), outside);
    EXPECT_EQ(after(three, u"``"), three);
    EXPECT_EQ(after(three, u"```x"), three);
    EXPECT_EQ(after(three, u"~~~"), three);
    EXPECT_EQ(after(three, u"```` \t\r"), outside);
    EXPECT_EQ(after(FenceState{u'`', 4}, u"```"), (FenceState{u'`', 4}));
}

TEST(FenceStates, CursorReadsPastItsWindow) {
    // The fence run starts inside the first window and the stray backtick lies far beyond it.
    std::u16string line = u"```" + std::u16string(300, u'a') + u"`";
    EXPECT_EQ(after(FenceState{}, line), FenceState{});
    line.back() = u'b';
    EXPECT_EQ(after(FenceState{}, line), (FenceState{u'`', 3}));
}

TEST(HeightTreeTest, PrefixSumsLookupsAndUpdates) {
    HeightTree tree;
    EXPECT_EQ(tree.line_at(5.0), 0u);
    tree.assign({10.0, 20.0, 30.0, 40.0, 50.0});
    EXPECT_DOUBLE_EQ(tree.prefix(0), 0.0);
    EXPECT_DOUBLE_EQ(tree.prefix(3), 60.0);
    EXPECT_DOUBLE_EQ(tree.prefix(99), 150.0);
    EXPECT_EQ(tree.line_at(-1.0), 0u);
    EXPECT_EQ(tree.line_at(9.99), 0u);
    EXPECT_EQ(tree.line_at(10.0), 1u); // a border belongs to the lower line
    EXPECT_EQ(tree.line_at(1e9), 4u);
    tree.set_height(1, 5.0);
    EXPECT_DOUBLE_EQ(tree.prefix(5), 135.0);
    EXPECT_EQ(tree.line_at(15.0), 2u);
}

// One state per line, the first one {0, 0}; the state after the last line is not stored.
TEST(FenceStates, OneStatePerLineAlsoWhenTheLastLineOpensAFence) {
    EditorWindow window;
    window.set_text(L"a\n```\ncode\n```\nb\n```");
    window.send(EM_GETFIRSTVISIBLELINE);
    const std::vector<FenceState>& states = window.record().fence_states;
    ASSERT_EQ(states.size(), 6u);
    EXPECT_EQ(states[0], FenceState{});
    EXPECT_EQ(states[2], (FenceState{u'`', 3}));
    EXPECT_EQ(states[3], (FenceState{u'`', 3}));
    EXPECT_EQ(states[4], FenceState{});
    EXPECT_EQ(states[5], FenceState{});

    // Opening a fence above recolours every line below; the count stays one per line.
    window.select(0, 0);
    window.send(EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(L"~~~\n"));
    ASSERT_EQ(window.record().fence_states.size(), 7u);
    for (std::size_t line = 1; line < 7; ++line) {
        EXPECT_EQ(window.record().fence_states[line], (FenceState{u'~', 3})) << line;
    }
    window.send(EM_UNDO);
    EXPECT_EQ(window.record().fence_states, states);
}

// The fence state before each line, and the estimated height of each line of first..last not
// laid out since (the caret's line is, to bring it into view).
void expect_line_data_of_each_line(const EditorWindow& window, std::uint64_t first,
                                   std::uint64_t last) {
    const Source& source = window.record();
    const SourceDocument& document = source.document;
    FenceState state{};
    for (std::uint64_t line = 0; line < document.line_count(); ++line) {
        ASSERT_EQ(source.fence_states[line], state) << line;
        LineCursor cursor(document, document.line_start(line), line_length(document, line));
        state = fence_state_after(state, cursor);
        if (line >= first && line <= last && !source.line_cache.contains(line)) {
            EXPECT_EQ(source.heights.height(line),
                      estimated_line_height(source, line_length(document, line)))
                << line;
        }
    }
}

// 400 lines of 0 to 96 units, set into a wrapping editor of 300 by 200 pixels.
std::wstring set_many_lines(const EditorWindow& window) {
    window.send(EM_SETTARGETDEVICE, 0, 0);
    std::wstring text;
    for (int i = 0; i < 400; ++i) {
        text += std::wstring(static_cast<std::size_t>(i % 97), L'x') + L"\n";
    }
    window.set_text(text);
    return text;
}

// A replacement of hundreds of lines reads them in blocks; what it stores must be what the
// lines give one by one, whether the line count stays or changes.
TEST(FenceStates, AnEditOfManyLinesGivesEachLineItsStateAndEstimate) {
    EditorWindow window(300, 200);
    const std::wstring text = set_many_lines(window);
    std::wstring same_count;
    for (int i = 0; i < 300; ++i) {
        same_count +=
            i % 50 == 0 ? L"```\n" : std::wstring(static_cast<std::size_t>(i % 89), L'y') + L"\n";
    }
    window.select(10 * 97, static_cast<std::int64_t>(text.size()) - 10);
    const std::uint64_t first = window.record().document.line_of(10 * 97);
    window.send(EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(same_count.c_str()));
    expect_line_data_of_each_line(window, first, first + 300);

    window.select(5, 200 * 60);
    window.send(EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(same_count.substr(0, 2000).c_str()));
    expect_line_data_of_each_line(window, 0, window.record().document.line_of(5 + 2000));
}

// A text gathered in pieces that cut its lines anywhere gives each whole line's length and the
// state after it, from the text before the replacement on; lines past the kept ones are dropped.
TEST(ReplacementLines, PiecesCuttingLinesGiveWhatWholeLinesGive) {
    const std::u16string before = u"  ``";
    const std::u16string text = u"` js\ncode ``` x\n" + std::u16string(300, u'a') +
                                u"\n~~~\n```` \t\r\n\n``x`\n```" + std::u16string(200, u'b') +
                                u"`\nlast";
    std::vector<std::uint64_t> lengths;
    std::vector<FenceState> states;
    FenceState state{};
    std::size_t line_start = 0;
    const std::u16string whole = before + text;
    for (std::size_t end = whole.find(u'\n'); end != std::u16string::npos;
         end = whole.find(u'\n', line_start)) {
        state = after(state, whole.substr(line_start, end - line_start));
        lengths.push_back(end - line_start);
        states.push_back(state);
        line_start = end + 1;
    }
    // Opened with the text before, closed after the tilde line, not opened by the backtick line.
    ASSERT_EQ(states[3], (FenceState{u'`', 3}));
    ASSERT_EQ(states[7], FenceState{});
    for (const std::size_t cut : {1u, 5u, 129u, 1000u}) {
        ReplacementLines lines(FenceState{}, before);
        for (std::size_t at = 0; at < text.size(); at += cut) {
            lines.append(std::u16string_view(text).substr(at, cut));
        }
        EXPECT_EQ(lines.lengths(), lengths) << cut;
        EXPECT_EQ(lines.states_after(), states) << cut;
        lines.append(u"\nmore\n");
        lines.keep(states.size());
        EXPECT_EQ(lines.lengths(), lengths) << cut;
    }
}

// Lines handed over with a replacement built in pieces give each line of the new text, and the
// lines below whose fence state it changes, what reading them from the text gives.
TEST(ReplacementLines, HandedOverLinesGiveEachLineItsStateAndEstimate) {
    EditorWindow window(300, 200);
    const std::wstring text = set_many_lines(window);
    std::u16string inserted;
    for (int i = 0; i < 300; ++i) {
        inserted +=
            i % 70 == 0 ? u"~~~~\n" : std::u16string(static_cast<std::size_t>(i * 7), u'y') + u"\n";
    }
    inserted += u"```";
    const std::uint64_t from = 10 * 97 + 3;
    const std::uint64_t to = text.size() - 10;
    const std::uint64_t first = window.record().document.line_of(from);
    ReplacementLines lines = replacement_lines(window.editor, from);
    RopeBuilder builder(window.record().document.revision + 1);
    for (std::size_t at = 0; at < inserted.size(); at += 97) {
        const std::u16string_view piece = std::u16string_view(inserted).substr(at, 97);
        builder.append(piece);
        lines.append(piece);
    }
    replace_source_range(window.editor, from, to, builder.take(inserted.size()), std::move(lines));
    EXPECT_EQ(window.text(), text.substr(0, from) + std::wstring(inserted.begin(), inserted.end()) +
                                 text.substr(to));
    expect_line_data_of_each_line(window, first, first + 300);
}

std::wstring numbered_lines(int count) {
    std::wstring text;
    for (int i = 0; i < count; ++i) {
        text += L"line " + std::to_wstring(i) + L"\n";
    }
    return text;
}

TEST(Geometry, PositionAndCharacterAgreeWrappedAndUnwrapped) {
    EditorWindow window(300, 200);
    std::wstring text = L"short\n";
    for (int i = 0; i < 12; ++i) {
        text += L"word" + std::to_wstring(i) + L" ";
    }
    text += L"\nlast";
    window.set_text(text);
    const LONG line_height = window.position_of(6).y - window.position_of(0).y;
    ASSERT_GT(line_height, 0);
    for (bool wrap : {true, false}) {
        window.send(EM_SETTARGETDEVICE, 0, wrap ? 0 : 1);
        for (std::uint64_t offset : {0ull, 3ull, 6ull, 20ull, 40ull, 70ull}) {
            const POINTL point = window.position_of(offset);
            if (point.x >= 300 - 16 || point.x < 0) {
                continue; // scrolled out of view sideways
            }
            EXPECT_EQ(window.offset_at(point.x + 1, point.y + line_height / 2), offset)
                << offset << (wrap ? " wrapped" : " unwrapped");
        }
    }
    // Wrapped, the long line takes several rows; unwrapped, one.
    window.send(EM_SETTARGETDEVICE, 0, 0);
    const LONG wrapped_last = window.position_of(text.size() - 1).y;
    window.send(EM_SETTARGETDEVICE, 0, 1);
    EXPECT_EQ(window.position_of(text.size() - 1).y, 2 * line_height);
    EXPECT_GT(wrapped_last, 2 * line_height);
    // A point right of a line's end gives the line's end.
    EXPECT_EQ(window.offset_at(280, 2), 5u);
}

TEST(Geometry, FontSizeIsClampedAndSetsTheLineHeight) {
    EditorWindow window(400, 300);
    window.set_text(L"a\nb");
    HDC dc = GetDC(window.editor);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(window.editor, dc);
    ASSERT_EQ(dpi, 96);
    HFONT huge = CreateFontW(-MulDiv(200, dpi, 72), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0,
                             0, 0, 0, L"Consolas");
    window.send(WM_SETFONT, reinterpret_cast<WPARAM>(huge));
    EXPECT_EQ(window.send(WM_GETFONT), reinterpret_cast<LRESULT>(huge));
    EXPECT_EQ(window.position_of(2).y, 134); // 72 points x 96 / 72 x 1.4
    HFONT tiny = CreateFontW(-MulDiv(3, dpi, 72), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0,
                             0, 0, 0, L"Consolas");
    window.send(WM_SETFONT, reinterpret_cast<WPARAM>(tiny));
    EXPECT_EQ(window.position_of(2).y, 11); // 6 points
    DeleteObject(huge);
    DeleteObject(tiny);
}

// Lines of words wrap at word ends, so their rows differ from the estimate: once painting
// measures the lines above the view, the text at the top of the view must stay there.
TEST(Geometry, ScrollStaysAnchoredWhenHeightsAboveChange) {
    EditorWindow window(300, 200);
    std::wstring line;
    for (int i = 0; i < 30; ++i) {
        line += L"word ";
    }
    std::wstring text;
    for (int i = 0; i < 100; ++i) {
        text += line + L"\n";
    }
    window.set_text(text);
    window.send(EM_LINESCROLL, 0, 50);
    ASSERT_EQ(window.send(EM_GETFIRSTVISIBLELINE), 50);
    const auto top_line_start = static_cast<std::uint64_t>(window.send(EM_LINEINDEX, 50));
    const LONG estimated_y = window.scroll_position().y;
    ASSERT_EQ(window.position_of(top_line_start).y, 0);

    ASSERT_TRUE(window.paint_fully());
    EXPECT_NE(window.scroll_position().y, estimated_y);
    EXPECT_EQ(window.send(EM_GETFIRSTVISIBLELINE), 50);
    EXPECT_EQ(window.position_of(top_line_start).y, 0);
}

// A narrower window wraps every line into more rows, a larger font or zoom makes every row
// taller and wrapping turned off makes each line one row: each time the line at the top of the
// view stays there.
TEST(Geometry, ANewWidthFontSizeOrWrappingKeepsTheTopLine) {
    EditorWindow window(400, 300);
    window.send(EM_SETTARGETDEVICE, 0, 0);
    std::wstring text;
    for (int i = 0; i < 200; ++i) {
        text += std::wstring(static_cast<std::size_t>(20 + i % 60), L'x') + L"\n";
    }
    window.set_text(text);
    window.send(EM_LINESCROLL, 0, 120);
    ASSERT_EQ(window.send(EM_GETFIRSTVISIBLELINE), 120);
    const auto top_line_start = static_cast<std::uint64_t>(window.send(EM_LINEINDEX, 120));

    SetWindowPos(window.editor, nullptr, 0, 0, 150, 300, SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(window.send(EM_GETFIRSTVISIBLELINE), 120);
    EXPECT_EQ(window.position_of(top_line_start).y, 0);

    HFONT larger =
        CreateFontW(-32, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Consolas");
    window.send(WM_SETFONT, reinterpret_cast<WPARAM>(larger));
    EXPECT_EQ(window.send(EM_GETFIRSTVISIBLELINE), 120);
    EXPECT_EQ(window.position_of(top_line_start).y, 0);
    DeleteObject(larger);

    set_source_style(window.editor, 30, false, true); // the zoom
    EXPECT_EQ(window.send(EM_GETFIRSTVISIBLELINE), 120);
    EXPECT_EQ(window.position_of(top_line_start).y, 0);

    window.send(EM_SETTARGETDEVICE, 0, 1);
    EXPECT_EQ(window.send(EM_GETFIRSTVISIBLELINE), 120);
    EXPECT_EQ(window.position_of(top_line_start).y, 0);
}

// Only the width shapes the lines: a window that changes its height alone draws with the
// layouts it had.
TEST(Geometry, AChangeOfHeightAloneKeepsTheLayouts) {
    EditorWindow window(400, 300);
    window.set_text(numbered_lines(50));
    ASSERT_TRUE(window.paint_fully());
    const auto layout = [&] { return window.record().line_cache.at(3).pieces.front().layout; };
    // Held, so that a layout made again cannot take the old one's address.
    const ComPtr<IDWriteTextLayout> before = layout();
    ASSERT_TRUE(before);
    SetWindowPos(window.editor, nullptr, 0, 0, 400, 240, SWP_NOZORDER | SWP_NOACTIVATE);
    ASSERT_TRUE(window.paint_fully());
    EXPECT_EQ(layout().get(), before.get());
    SetWindowPos(window.editor, nullptr, 0, 0, 360, 240, SWP_NOZORDER | SWP_NOACTIVATE);
    ASSERT_TRUE(window.paint_fully());
    EXPECT_NE(layout().get(), before.get());
    EXPECT_FLOAT_EQ(layout()->GetMaxWidth(), static_cast<FLOAT>(text_width(window.record())));
}

TEST(Geometry, TextInsertedJustAboveTheViewKeepsTheViewOnItsText) {
    EditorWindow window(400, 300);
    window.set_text(numbered_lines(200));
    window.send(EM_LINESCROLL, 0, 100);
    const auto top = static_cast<std::int64_t>(window.send(EM_LINEINDEX, 100));
    window.select(top, top);
    window.send(EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(L"a\nb\nc\n"));
    EXPECT_EQ(window.send(EM_GETFIRSTVISIBLELINE), 103);
    const auto moved = static_cast<std::uint64_t>(window.send(EM_LINEINDEX, 103));
    EXPECT_EQ(window.position_of(moved).y, 0);
    EXPECT_EQ(window.text().substr(moved, 9), L"line 100\n");
}

TEST(Geometry, LineScrollAndTheLastLineAtTheTop) {
    EditorWindow window(400, 300);
    window.set_text(numbered_lines(200));
    window.send(EM_LINESCROLL, 0, 100);
    EXPECT_EQ(window.send(EM_GETFIRSTVISIBLELINE), 100);
    window.send(EM_LINESCROLL, 0, -500);
    EXPECT_EQ(window.send(EM_GETFIRSTVISIBLELINE), 0);
    window.send(EM_LINESCROLL, 0, 5000);
    EXPECT_EQ(window.send(EM_GETFIRSTVISIBLELINE), 200);
    POINT beyond{0, 1000000};
    window.send(EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&beyond));
    EXPECT_EQ(window.send(EM_GETFIRSTVISIBLELINE), 200);
    EXPECT_EQ(window.position_of(window.send(EM_LINEINDEX, 200)).y, 0);
    // With wrapping, horizontal offsets are ignored.
    POINT sideways{50, 0};
    window.send(EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&sideways));
    EXPECT_EQ(window.scroll_position().x, 0);
}

// A caret placed by estimated rows above it stands where its line is drawn, in view, once they
// are measured: below a run of 100,000 '[' (cut into rows of the line's width), after Ctrl+End in
// the first frame and after the look-ahead, and after a selection that does not scroll.
TEST(Geometry, TheCaretStandsWhereItsLineIsDrawnOnceTheRowsAboveAreMeasured) {
    constexpr int height = 400;
    EditorWindow window(600, height);
    SetFocus(window.editor);
    const double row = base_line_height(window.record());
    RECT view{};
    GetClientRect(window.editor, &view);
    const auto expect_caret_at = [&](std::uint64_t offset) {
        const POINTL end = window.position_of(offset);
        EXPECT_GE(end.y, 0);
        EXPECT_LE(end.y + row, view.bottom);
        POINT caret{};
        GetCaretPos(&caret);
        // The caret is placed in rounded pixels, the position cut to them.
        EXPECT_NEAR(caret.x, end.x, 1);
        EXPECT_NEAR(caret.y, end.y, 1);
    };

    const std::wstring brackets = std::wstring(100000, L'[') + L"\n";
    window.set_text(brackets);
    {
        const test::HeldKeys control({VK_CONTROL});
        window.send(WM_KEYDOWN, VK_END);
    }
    UpdateWindow(window.editor);
    {
        SCOPED_TRACE("first frame after Ctrl+End");
        expect_caret_at(brackets.size());
    }
    ASSERT_TRUE(window.paint_fully());
    {
        SCOPED_TRACE("measured after Ctrl+End");
        expect_caret_at(brackets.size());
    }

    // Put there by a selection, in a view scrolled by the estimate: the first frame measures
    // the line, and the line below it moves.
    window.set_text(brackets);
    POINT middle{0, window.position_of(brackets.size()).y - height / 2};
    window.send(EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&middle));
    window.select(brackets.size(), brackets.size());
    const LONG estimated = window.position_of(brackets.size()).y;
    UpdateWindow(window.editor);
    ASSERT_NE(window.position_of(brackets.size()).y, estimated);
    SCOPED_TRACE("selected in a view scrolled by the estimate");
    expect_caret_at(brackets.size());
}

} // namespace

namespace {

// Measured lines keep their heights when their idle layouts are released, so measuring them
// again asks for no layout: a look-ahead that outlasts the idle time then still ends.
TEST(Geometry, MeasuringAgainBuildsNoReleasedLayout) {
    EditorWindow window(300, 200);
    window.set_text(numbered_lines(40));
    ASSERT_TRUE(window.paint_fully());
    Source& source = window.record();
    for (auto& [line, cached] : source.line_cache) {
        for (LinePiece& piece : cached.pieces) {
            piece.layout.reset();
        }
    }
    source.budget.active = true;
    source.budget.built = 8;
    source.budget.pending = false;
    measure_band(source, 0.0, 400.0);
    EXPECT_FALSE(source.budget.pending);
    source.budget.active = false;
}

} // namespace

namespace {

std::vector<std::uint64_t> piece_lengths(Source& source) {
    std::vector<std::uint64_t> lengths;
    for (const LinePiece& piece : line_pieces(source, 0)) {
        lengths.push_back(piece.length);
    }
    return lengths;
}

TEST(LinePieces, LongLinesAreCutBetweenWholeCharacters) {
    EditorWindow window(400, 300);
    window.set_text(std::wstring(5000, L'a'));
    Source& source = window.record();
    EXPECT_EQ(piece_lengths(source), (std::vector<std::uint64_t>{4096, 904}));
    window.send(EM_SETTARGETDEVICE, 0, 1);
    EXPECT_EQ(piece_lengths(source), (std::vector<std::uint64_t>{1024, 1024, 1024, 1024, 904}));
    window.send(EM_SETTARGETDEVICE, 0, 0);
    window.set_text(std::wstring(4095, L'a') + L"\xD83D\xDE00" + std::wstring(903, L'b'));
    EXPECT_EQ(piece_lengths(source), (std::vector<std::uint64_t>{4095, 905}));
    // Nor a letter and its combining marks, nor an emoji sequence joined by U+200D.
    window.set_text(std::wstring(4094, L'a') + L"e\x0301\x0302" + std::wstring(903, L'b'));
    EXPECT_EQ(piece_lengths(source), (std::vector<std::uint64_t>{4094, 906}));
    const std::wstring family = L"\xD83D\xDC68\x200D\xD83D\xDC69";
    window.set_text(std::wstring(4093, L'a') + family + std::wstring(902, L'b'));
    EXPECT_EQ(piece_lengths(source), (std::vector<std::uint64_t>{4093, 907}));
    // However far back the character's run starts: the cut would fall inside the 21st flag of a
    // run, and inside an emoji joined after 40 marks.
    std::wstring flags;
    for (int k = 0; k < 40; ++k) {
        flags += L"\xD83C\xDDE9\xD83C\xDDEA";
    }
    window.set_text(std::wstring(4096 - 82, L'a') + flags + std::wstring(100, L'b'));
    EXPECT_EQ(piece_lengths(source), (std::vector<std::uint64_t>{4094, 180}));
    const std::wstring marked = L"\xD83D\xDC69" + std::wstring(40, L'\x0301') + L"\x200D";
    window.set_text(std::wstring(4096 - 43, L'a') + marked +
                    L"\xD83D\xDC69"
                    L"b");
    EXPECT_EQ(piece_lengths(source), (std::vector<std::uint64_t>{4053, 46}));
    window.set_text(L"");
    EXPECT_EQ(piece_lengths(source), (std::vector<std::uint64_t>{0}));
    EXPECT_EQ(window.position_of(0).y, 0);
}

// Where each row of `layout` starts, counted from `offset`.
void add_row_starts(IDWriteTextLayout* layout, std::uint64_t offset,
                    std::vector<std::uint64_t>& starts) {
    UINT32 count = 0;
    layout->GetLineMetrics(nullptr, 0, &count);
    std::vector<DWRITE_LINE_METRICS> rows(count);
    ASSERT_EQ(layout->GetLineMetrics(rows.data(), count, &count), S_OK);
    for (const DWRITE_LINE_METRICS& row : rows) {
        starts.push_back(offset);
        offset += row.length;
    }
}

TEST(LinePieces, WrappedRowsBreakAsInOneLayoutOfTheLine) {
    EditorWindow window(400, 300);
    std::mt19937 random(3);
    std::wstring line;
    while (line.size() < 10000) {
        line += std::wstring(1 + random() % 11, static_cast<wchar_t>(L'a' + random() % 26));
        line += random() % 4 == 0 ? L"  " : L" ";
    }
    window.set_text(line);
    Source& source = window.record();
    // From the last piece to the first, each as if it were the first one shown.
    std::vector<LinePiece>& pieces = line_pieces(source, 0);
    for (std::size_t k = pieces.size(); k-- > 0;) {
        ASSERT_TRUE(build_piece_layout(source, 0, pieces[k]));
    }
    std::vector<std::uint64_t> in_pieces;
    for (const LinePiece& piece : line_pieces(source, 0)) {
        ASSERT_TRUE(piece.layout);
        add_row_starts(piece.layout.get(), piece.start, in_pieces);
    }
    ComPtr<IDWriteTextLayout> whole;
    ASSERT_EQ(source.dwrite->CreateTextLayout(
                  line.c_str(), static_cast<UINT32>(line.size()), source.text_format.get(),
                  static_cast<FLOAT>(text_width(source)), 1e7f, whole.put()),
              S_OK);
    std::vector<std::uint64_t> in_one;
    add_row_starts(whole.get(), 0, in_one);
    ASSERT_GT(line_pieces(source, 0).size(), 2u);
    EXPECT_EQ(in_pieces, in_one);
}

TEST(LinePieces, ClusterStepsKeepPairsWhole) {
    EditorWindow window(400, 300);
    window.set_text(L"a\xD83D\xDE00"
                    L"b\nc");
    Source& source = window.record();
    EXPECT_EQ(step_cluster(source, 0, true), 1u);
    EXPECT_EQ(step_cluster(source, 1, true), 3u);
    EXPECT_EQ(step_cluster(source, 3, false), 1u);
    EXPECT_EQ(step_cluster(source, 4, true), 5u);  // over the line feed
    EXPECT_EQ(step_cluster(source, 5, false), 4u); // back over it
    EXPECT_EQ(step_cluster(source, 6, true), 6u);
    EXPECT_EQ(step_cluster(source, 0, false), 0u);
}

} // namespace
