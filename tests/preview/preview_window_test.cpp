#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "markdown/html_render.h"
#include "markdown/preview_markup.h"
#include "platform/com_ptr.h"
#include "preview/preview_window.h"
#include "tests/preview/accessible_window.h"

namespace pellix {
namespace {

// Colour tables of our own, far apart so that a pixel tells which one painted.
const PaletteTable light_table{0xF0F0F0, 0, 0x101010, 0x606060, 0x0050A0, 0, 0, 0xE0E0E0, 0x3070D0};
const PaletteTable dark_table{0x202830, 0, 0xE0E0E0, 0x909090, 0x80C0F0, 0, 0, 0x303030, 0x4080E0};

constexpr int host_width = 640;
constexpr int host_height = 480;

std::string page_of(const std::string& markdown, bool dark = false) {
    return render_markdown_html(markdown, dark, preview_source_limit);
}

// A page taller than the window: a heading, a paragraph with a link, then numbered paragraphs
// on source lines 4, 6, 8, ...
std::string tall_markdown() {
    std::string text =
        "# Title\n\nFirst paragraph with a [link](https://example.test/a) in it.\n\n";
    for (int i = 0; i < 60; ++i) {
        text += "Paragraph number " + std::to_string(i) + " of the tall page.\n\n";
    }
    return text;
}

void pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
    }
}

LPARAM point_lparam(POINT point) {
    return MAKELPARAM(point.x, point.y);
}

void hold_keys(std::initializer_list<int> keys) {
    BYTE state[256]{};
    for (int key : keys) {
        state[key] = 0x80;
    }
    SetKeyboardState(state);
}

std::wstring clipboard_text() {
    std::wstring text;
    if (!OpenClipboard(nullptr)) {
        return L"<busy>";
    }
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        text = static_cast<const wchar_t*>(GlobalLock(data));
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

class PreviewWindow : public ::testing::Test {
protected:
    // One host for the suite: destroying a focused top-level window costs Wine two seconds
    // without a window manager.
    static void SetUpTestSuite() {
        WNDCLASSW host_class{};
        host_class.lpfnWndProc = DefWindowProcW;
        host_class.hInstance = GetModuleHandleW(nullptr);
        host_class.lpszClassName = L"Pellix.Test.PreviewHost";
        RegisterClassW(&host_class);
        host = CreateWindowExW(0, L"Pellix.Test.PreviewHost", L"host",
                               WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, host_width,
                               host_height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    static void TearDownTestSuite() { DestroyWindow(host); }

    void SetUp() override {
        ASSERT_NE(host, nullptr);
        p.colours = [](bool dark) { return PaintColours{dark ? dark_table : light_table, false}; };
        p.open_external = [this](HWND, const std::wstring& target) { opened.push_back(target); };
        p.show_error = [this](HWND, const std::wstring& message) { errors.push_back(message); };
        p.on_scroll = [this](double line) { top_lines.push_back(line); };
        create_preview(host, [this](unsigned id) { commands.push_back(id); });
        ASSERT_NE(p.window, nullptr);
        hold_keys({});
    }

    void TearDown() override {
        destroy_preview();
        set_preview_find(u"", false, false);
        p.views.clear();
        p.view = {};
        p.view_key = 0;
        p.content_html.clear();
        p.on_scroll = nullptr;
        hold_keys({});
        pump();
    }

    Preview::Impl& p = preview();

    LRESULT send(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
        return SendMessageW(p.window, message, wparam, lparam);
    }

    void key(WPARAM code) { send(WM_KEYDOWN, code, 0); }

    void click(POINT point) {
        send(WM_LBUTTONDOWN, MK_LBUTTON, point_lparam(point));
        send(WM_LBUTTONUP, 0, point_lparam(point));
    }

    // The client pixel at the middle of [offset, offset + 1) of the text, or `across` that
    // unit's box from its left edge.
    POINT point_at(std::uint64_t offset, float across = 0.5f) {
        for (const LayoutBlock& block : p.layout.blocks) {
            if (!block.pieces.empty() && offset >= block.text_start &&
                offset < block.text_start + block.text_length) {
                D2D1_RECT_F box{};
                for_each_range_rect(block, static_cast<std::uint32_t>(offset - block.text_start), 1,
                                    block.x, block.y, [&](const D2D1_RECT_F& r) { box = r; });
                const float scale = p.dpi / 96.0f;
                const float x = box.left + (box.right - box.left) * across;
                return {static_cast<LONG>((x - p.view.scroll_x) * scale),
                        static_cast<LONG>(((box.top + box.bottom) / 2 - p.view.scroll_y) * scale)};
            }
        }
        ADD_FAILURE() << "no block holds offset " << offset;
        return {};
    }

    std::uint64_t offset_of(const std::u16string& text) { return p.document.text.find(text); }

    std::uint32_t pixel(int x, int y) {
        InvalidateRect(p.window, nullptr, FALSE);
        UpdateWindow(p.window);
        HDC dc = GetDC(p.window);
        const COLORREF value = GetPixel(dc, x, y);
        ReleaseDC(p.window, dc);
        return colour_from_colorref(value);
    }

    static inline HWND host = nullptr;
    std::vector<std::wstring> opened;
    std::vector<std::wstring> errors;
    std::vector<double> top_lines;
    std::vector<unsigned> commands;
};

TEST_F(PreviewWindow, ScrollPositionIsKeptPerTabAndSelectionStartsEmpty) {
    const std::string tall = page_of(tall_markdown());
    set_preview_content(tall, 1, 130);
    ASSERT_EQ(p.error_code, S_OK) << std::string(p.error_text.begin(), p.error_text.end());
    EXPECT_EQ(p.document.blocks.size(), 62u);
    // The vertical bar appeared with the tall page, and the layout followed the narrower view.
    RECT client{};
    GetClientRect(p.window, &client);
    EXPECT_LT(client.right, host_width);
    EXPECT_EQ(p.layout_width, view_width(p.window, p.dpi));
    const float page = view_height(p.window, p.dpi);
    key(VK_NEXT);
    EXPECT_FLOAT_EQ(p.view.scroll_y, page * 0.9f);
    send(WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-240)), 0);
    const float kept = page * 0.9f + 96.0f;
    EXPECT_FLOAT_EQ(p.view.scroll_y, kept);
    SCROLLINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = SIF_POS;
    GetScrollInfo(p.window, SB_VERT, &info);
    EXPECT_EQ(info.nPos, static_cast<int>(kept));
    p.view.anchor = 3;
    p.view.caret = 9;

    // The same page and key change nothing; another tab starts at its own (empty) memory.
    set_preview_content(tall, 1, 130);
    EXPECT_EQ(p.view.caret, 9u);
    set_preview_content(page_of("Short second tab.\n"), 2, 1);
    EXPECT_EQ(p.view.scroll_y, 0.0f);
    EXPECT_EQ(p.document.blocks.size(), 1u);
    set_preview_content(tall, 1, 130);
    EXPECT_FLOAT_EQ(p.view.scroll_y, kept);
    EXPECT_EQ(p.view.anchor, 0u);
    EXPECT_EQ(p.view.caret, 0u);

    // Ctrl+wheel asks the main window to zoom instead of scrolling.
    send(WM_MOUSEWHEEL, MAKEWPARAM(MK_CONTROL, 120), 0);
    send(WM_MOUSEWHEEL, MAKEWPARAM(MK_CONTROL, static_cast<WORD>(-120)), 0);
    EXPECT_EQ(commands,
              (std::vector<unsigned>{preview_command::zoom_in, preview_command::zoom_out}));
    EXPECT_FLOAT_EQ(p.view.scroll_y, kept);

    // A shorter page under the same key keeps the offset clamped to the new content.
    set_preview_content(page_of("# One\n\nTwo\n"), 1, 3);
    EXPECT_FLOAT_EQ(p.view.scroll_y, p.layout.blocks.back().y);
}

// The layout of a tab's first paragraph, held so that no later layout can take its address.
ComPtr<IDWriteTextLayout> first_text_layout(const Preview::Impl& p) {
    return p.layout.blocks.at(1).pieces.at(0).layout;
}

TEST_F(PreviewWindow, ATabsPageStaysLaidOutForItsReturnWhileFewOtherTabsCameBetween) {
    const std::string tall = page_of(tall_markdown());
    set_preview_content(tall, 1, 130);
    key(VK_NEXT);
    const float kept = p.view.scroll_y;
    const ComPtr<IDWriteTextLayout> first = first_text_layout(p);
    auto scroll_bar_position = [&] {
        SCROLLINFO info{};
        info.cbSize = sizeof(info);
        info.fMask = SIF_POS;
        GetScrollInfo(p.window, SB_VERT, &info);
        return info.nPos;
    };

    // Back from another tab: the same shaped text, where the user left it, bars and all.
    set_preview_content(page_of("Short second tab.\n"), 2, 1);
    EXPECT_EQ(scroll_bar_position(), 0);
    set_preview_content(tall, 1, 130);
    EXPECT_EQ(first_text_layout(p).get(), first.get());
    EXPECT_FLOAT_EQ(p.view.scroll_y, kept);
    EXPECT_EQ(scroll_bar_position(), static_cast<int>(kept));

    // Changed while away, at another zoom: laid out again, at the new scale.
    set_preview_content(page_of("Short second tab.\n"), 2, 1);
    p.text_scale = 1.25;
    set_preview_content(page_of(tall_markdown() + "One more.\n"), 1, 131);
    EXPECT_EQ(p.layout_scale, 1.25f);
    EXPECT_NE(first_text_layout(p).get(), first.get());
    p.text_scale = 1.0;
    relayout_preview();

    // More tabs than the preview keeps pages for, or a tab closed, and the page is read again.
    const ComPtr<IDWriteTextLayout> second = first_text_layout(p);
    for (std::uint64_t key = 2; key <= kept_preview_pages + 1; ++key) {
        set_preview_content(page_of("Tab " + std::to_string(key) + ".\n"), key, 1);
    }
    set_preview_content(page_of(tall_markdown() + "One more.\n"), 1, 131);
    EXPECT_EQ(first_text_layout(p).get(), second.get());
    set_preview_content(page_of("Another.\n"), 2, 1);
    forget_preview_tab(1);
    set_preview_content(page_of(tall_markdown() + "One more.\n"), 1, 131);
    EXPECT_NE(first_text_layout(p).get(), second.get());
    EXPECT_EQ(p.view.scroll_y, 0.0f);
    EXPECT_TRUE(errors.empty());
}

TEST_F(PreviewWindow, ClickShiftClickAndCopyToTheClipboard) {
    set_preview_content(page_of("Alpha beta gamma.\n\nDelta epsilon.\n"), 7, 3);
    const std::uint64_t beta = offset_of(u"beta");
    const std::uint64_t epsilon = offset_of(u"epsilon");
    click(point_at(beta));
    EXPECT_EQ(GetFocus(), p.window);
    // A click lands on the nearer edge of the character under it.
    const std::uint64_t anchor = p.view.caret;
    EXPECT_TRUE(anchor == beta || anchor == beta + 1) << anchor;
    EXPECT_EQ(p.view.anchor, anchor);
    hold_keys({VK_SHIFT});
    click(point_at(epsilon + 3));
    hold_keys({});
    EXPECT_EQ(p.view.anchor, anchor);
    EXPECT_TRUE(p.view.caret == epsilon + 3 || p.view.caret == epsilon + 4) << p.view.caret;
    EXPECT_EQ(p.views[7].caret, p.view.caret);

    p.view.anchor = beta;
    p.view.caret = epsilon + 3;
    hold_keys({VK_CONTROL});
    key('C');
    hold_keys({});
    EXPECT_EQ(clipboard_text(), L"beta gamma.\r\nDelta eps");
    EXPECT_TRUE(errors.empty());

    hold_keys({VK_CONTROL});
    key('A');
    hold_keys({});
    EXPECT_EQ(p.view.anchor, 0u);
    EXPECT_EQ(p.view.caret, p.document.text.size());

    // Double-click selects the word; Right collapses to the selection's end.
    send(WM_LBUTTONDBLCLK, MK_LBUTTON, point_lparam(point_at(beta + 1)));
    send(WM_LBUTTONUP, 0, point_lparam(point_at(beta + 1)));
    EXPECT_EQ(p.view.anchor, beta);
    EXPECT_EQ(p.view.caret, beta + 4);
    key(VK_RIGHT);
    EXPECT_EQ(p.view.anchor, beta + 4);
    EXPECT_EQ(p.view.caret, beta + 4);
    key(VK_RIGHT);
    EXPECT_EQ(p.view.caret, beta + 5);
    key(VK_DOWN);
    EXPECT_GE(p.view.caret, offset_of(u"Delta"));
    hold_keys({VK_CONTROL});
    key(VK_END);
    hold_keys({});
    EXPECT_EQ(p.view.caret, p.document.text.size());
}

// Wine's DirectWrite gives each code point of these a cluster of its own.
TEST_F(PreviewWindow, CaretStopsAndSelectionsHoldWholeCharacters) {
    std::string flags;
    for (int i = 0; i < 70; ++i) {
        flags += i % 2 ? "\U0001F1EB\U0001F1F7" : "\U0001F1E9\U0001F1EA";
    }
    const std::string family = "\U0001F469\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466";
    set_preview_content(page_of("x" + flags + " " + family + " y\n"), 1, 1);
    const std::uint64_t first = offset_of(u"x") + 1;
    // Far into the run, past what the rules look back over, flags still pair up.
    set_preview_caret(p, first + 4 * 66, false);
    hold_keys({VK_SHIFT});
    key(VK_RIGHT);
    key(VK_RIGHT);
    key(VK_LEFT);
    hold_keys({});
    EXPECT_EQ(p.view.anchor, first + 4 * 66);
    EXPECT_EQ(p.view.caret, first + 4 * 67);
    const std::uint64_t joined = offset_of(u"\U0001F469");
    set_preview_caret(p, joined, false);
    key(VK_RIGHT);
    EXPECT_EQ(p.view.caret, joined + 11);

    // Three quarters into a flag's first indicator is nearer the flag's start than its end.
    click(point_at(first + 8, 0.75f));
    EXPECT_EQ(p.view.caret, first + 8);
    send(WM_LBUTTONDBLCLK, MK_LBUTTON, point_lparam(point_at(joined + 3)));
    send(WM_LBUTTONUP, 0, point_lparam(point_at(joined + 3)));
    EXPECT_EQ(p.view.anchor, joined);
    EXPECT_EQ(p.view.caret, joined + 11);
}

TEST_F(PreviewWindow, DragAboveTheWindowScrollsAndExtendsTheSelection) {
    set_preview_content(page_of(tall_markdown()), 3, 130);
    set_preview_scroll(p, 0, 1200);
    const POINT start = point_at(offset_of(u"number 40"));
    send(WM_LBUTTONDOWN, MK_LBUTTON, point_lparam(start));
    const std::uint64_t anchor = p.view.anchor;
    send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(start.x, -10));
    EXPECT_TRUE(p.dragged);
    // Each tick scrolls up by at least 32 DIPs and carries the caret with the pointer.
    for (int tick = 0; tick < 3; ++tick) {
        const float before = p.view.scroll_y;
        const std::uint64_t caret = p.view.caret;
        send(WM_TIMER, 1, 0);
        EXPECT_LE(p.view.scroll_y, before - 32.0f);
        EXPECT_LT(p.view.caret, caret);
    }
    EXPECT_EQ(p.view.anchor, anchor);
    send(WM_LBUTTONUP, 0, MAKELPARAM(start.x, -10));
    EXPECT_FALSE(p.mouse_down);
    EXPECT_TRUE(opened.empty());
}

TEST_F(PreviewWindow, DarkPagePaintsOnTheDarkPalette) {
    set_preview_content(page_of("Some text.\n"), 1, 1);
    EXPECT_FALSE(p.dark);
    EXPECT_EQ(pixel(2, 2), light_table[palette_slot::background]);
    set_preview_content(page_of("Some text.\n", true), 1, 1);
    EXPECT_TRUE(p.dark);
    EXPECT_EQ(pixel(2, 2), dark_table[palette_slot::background]);
    // The caret, a line at the text's left edge, shows only while the window has the focus.
    const int caret_x = static_cast<int>(p.layout.blocks[0].x);
    const int middle = point_at(0).y;
    auto caret_seen = [&] {
        return pixel(caret_x - 1, middle) != dark_table[palette_slot::background] ||
               pixel(caret_x, middle) != dark_table[palette_slot::background];
    };
    SetFocus(host);
    EXPECT_FALSE(caret_seen());
    SetFocus(p.window);
    EXPECT_TRUE(caret_seen());
}

TEST_F(PreviewWindow, AHiddenPageLeavesTheBackgroundUntilItsPageComesAgain) {
    const std::string page = page_of("IIII\n");
    set_preview_content(page, 1, 1);
    const POINT stem = point_at(1);
    const std::uint32_t background = light_table[palette_slot::background];
    EXPECT_NE(pixel(stem.x, stem.y), background);
    hide_preview_page();
    EXPECT_EQ(pixel(stem.x, stem.y), background);
    // The same page for the same tab changes nothing else, but shows it again.
    set_preview_content(page, 1, 1);
    EXPECT_NE(pixel(stem.x, stem.y), background);
    hide_preview_page();
    show_preview_page();
    EXPECT_NE(pixel(stem.x, stem.y), background);
}

TEST_F(PreviewWindow, OnlyTheHeadDecidesTheColourScheme) {
    EXPECT_TRUE(page_is_dark(page_of("x\n", true)));
    const std::string mention = page_of("The rule `:root{color-scheme:dark}` is CSS.\n");
    ASSERT_NE(mention.find(":root{color-scheme:dark}"), std::string::npos);
    EXPECT_FALSE(page_is_dark(mention));
    set_preview_content(mention, 1, 1);
    EXPECT_FALSE(p.dark);
}

TEST_F(PreviewWindow, UnreadablePagePaintsTheFailureTextAndTheNextPageRecovers) {
    set_preview_content(page_of("Good page.\n"), 1, 1);
    const PreviewDocument good = p.document;
    set_preview_content("<html>not ours</html>", 1, 1);
    EXPECT_EQ(p.error_code, E_FAIL);
    EXPECT_FALSE(p.error_text.empty());
    EXPECT_EQ(p.document, good);
    EXPECT_EQ(pixel(2, 2), light_table[palette_slot::background]);
    // Some pixel of the text rectangle, 16 pixels in, carries the text colour.
    bool text_seen = false;
    for (int x = 16; x < 200 && !text_seen; ++x) {
        for (int y = 16; y < 34 && !text_seen; ++y) {
            text_seen = pixel(x, y) == light_table[palette_slot::text];
        }
    }
    EXPECT_TRUE(text_seen);
    // The page still shown, sent again under its key, is a success too.
    set_preview_content(page_of("Good page.\n"), 1, 1);
    EXPECT_EQ(p.error_code, S_OK);
    set_preview_content("<html>not ours</html>", 1, 1);
    set_preview_content(page_of("Better page.\n"), 1, 1);
    EXPECT_EQ(p.error_code, S_OK);
    EXPECT_TRUE(p.error_text.empty());
}

TEST_F(PreviewWindow, AFailedLayoutOrPaintEndsWithTheNextOneThatSucceeds) {
    set_preview_content(page_of(tall_markdown()), 1, 130);
    PreviewDocument broken = read_preview_markup(page_of("One.\n\nTwo.\n"));
    broken.blocks[1].start = broken.text.size() + 10;
    std::swap(p.document, broken);
    auto resize_host = [](int width) {
        SetWindowPos(host, nullptr, 0, 0, width, host_height, SWP_NOZORDER | SWP_NOACTIVATE);
        resize_preview();
    };
    resize_host(host_width - 40);
    EXPECT_EQ(p.error_code, E_FAIL);
    std::swap(p.document, broken);
    resize_host(host_width);
    EXPECT_EQ(p.error_code, S_OK);
    EXPECT_FALSE(p.layout.blocks.empty());

    int failing_paints = 1;
    p.colours = [&failing_paints](bool) {
        if (failing_paints-- > 0) {
            throw std::runtime_error("Drawing failed.");
        }
        return PaintColours{light_table, false};
    };
    pixel(2, 2);
    EXPECT_EQ(p.error_text, u"Drawing failed.");
    EXPECT_EQ(pixel(2, 2), light_table[palette_slot::background]);
    EXPECT_EQ(p.error_code, S_OK);
}

TEST_F(PreviewWindow, SourceLineOfTheTopAndScrollToSourceLineAgree) {
    set_preview_content(page_of(tall_markdown()), 1, 130);
    const auto& blocks = p.layout.blocks;
    // Half-way between the blocks of source lines 10 and 12.
    const std::size_t b = 5;
    ASSERT_EQ(p.document.blocks[b].source_line, 10u);
    set_preview_scroll(p, 0, (blocks[b].y + blocks[b + 1].y) / 2);
    report_preview_top_line(p);
    ASSERT_FALSE(top_lines.empty());
    EXPECT_DOUBLE_EQ(top_lines.back(), 11.0);
    for (double line : {2.0, 7.5, 40.0, 100.25}) {
        scroll_preview_to_source_line(line);
        report_preview_top_line(p);
        EXPECT_NEAR(top_lines.back(), line, 0.01) << line;
    }
    set_preview_scroll(p, 0, 0);
    report_preview_top_line(p);
    EXPECT_EQ(top_lines.back(), 0.0);
    // A vertical scroll-bar step reports the new top line.
    top_lines.clear();
    send(WM_VSCROLL, SB_LINEDOWN, 0);
    EXPECT_FLOAT_EQ(p.view.scroll_y, 24.0f);
    EXPECT_EQ(top_lines.size(), 1u);
}

TEST_F(PreviewWindow, FindHighlightsCountAndOrder) {
    set_preview_content(page_of("aaaa and a foo. foo_bar x1foo\n"), 1, 1);
    set_preview_find(u"aa", true, false);
    EXPECT_EQ(p.find_matches, (TextRanges{{0, 2}, {2, 4}}));
    set_preview_find(u"FOO", false, false);
    EXPECT_EQ(p.find_matches.size(), 3u);
    set_preview_find(u"FOO", true, false);
    EXPECT_TRUE(p.find_matches.empty());
    set_preview_find(u"foo", true, true);
    const std::uint64_t foo = offset_of(u"foo.");
    EXPECT_EQ(p.find_matches, (TextRanges{{foo, foo + 3}}));
    EXPECT_TRUE(find_text_matches(u"a foo\u0301 b", u"foo", true, true).empty());
    // New content keeps the query and finds it again.
    set_preview_content(page_of("foo and foo\n"), 1, 1);
    EXPECT_EQ(p.find_matches, (TextRanges{{0, 3}, {8, 11}}));
}

TEST_F(PreviewWindow, LinksGiveTheHandAndOpenThroughTheShellOnAPlainClick) {
    set_preview_content(page_of(tall_markdown()), 1, 130);
    const std::uint64_t link = offset_of(u"link");
    const POINT on_link = point_at(link + 1);
    EXPECT_EQ(preview_link_at(p, on_link), "https://example.test/a");
    EXPECT_EQ(preview_link_at(p, point_at(link - 3)), "");
    POINT screen = on_link;
    ClientToScreen(p.window, &screen);
    SetCursorPos(screen.x, screen.y);
    send(WM_SETCURSOR, reinterpret_cast<WPARAM>(p.window), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND));

    // A press that moves 4 pixels is a drag and opens nothing.
    send(WM_LBUTTONDOWN, MK_LBUTTON, point_lparam(on_link));
    send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(on_link.x + 4, on_link.y));
    send(WM_LBUTTONUP, 0, MAKELPARAM(on_link.x + 4, on_link.y));
    EXPECT_TRUE(opened.empty());
    click(on_link);
    EXPECT_EQ(opened, (std::vector<std::wstring>{L"https://example.test/a"}));

    // Tab selects the link (wrapping after the last), Enter opens it.
    p.view.anchor = p.view.caret = p.document.text.size();
    key(VK_TAB);
    EXPECT_EQ(p.view.anchor, link);
    EXPECT_EQ(p.view.caret, link + 4);
    key(VK_RETURN);
    EXPECT_EQ(opened.size(), 2u);
}

TEST_F(PreviewWindow, KeyboardMovesTheCaretByLinesAndCyclesLinksBothWays) {
    set_preview_content(page_of("No links here.\n"), 1, 1);
    key(VK_TAB);
    EXPECT_EQ(p.view.caret, 0u);
    set_preview_content(page_of("See [one](https://a.test/) and [two](#h-0).\n\nSecond line.\n"), 1,
                        3);
    const std::uint64_t one = offset_of(u"one");
    const std::uint64_t two = offset_of(u"two");
    hold_keys({VK_SHIFT});
    key(VK_TAB); // from the start: no link before it, so the last one
    hold_keys({});
    EXPECT_EQ(p.view.anchor, two);
    hold_keys({VK_SHIFT});
    key(VK_TAB);
    hold_keys({});
    EXPECT_EQ(p.view.anchor, one);
    EXPECT_EQ(p.view.caret, one + 3);
    key(VK_ESCAPE);
    EXPECT_EQ(p.view.anchor, one + 3);
    key(VK_END);
    EXPECT_EQ(p.view.caret, offset_of(u"\n"));
    key(VK_DOWN);
    const std::uint64_t second = offset_of(u"Second");
    EXPECT_EQ(p.view.caret, p.document.text.size() - 1);
    key(VK_HOME);
    EXPECT_EQ(p.view.caret, second);
    hold_keys({VK_SHIFT});
    key(VK_UP);
    hold_keys({});
    EXPECT_EQ(p.view.anchor, second);
    EXPECT_EQ(p.view.caret, 0u);
    key(VK_LEFT);
    EXPECT_EQ(p.view.caret, 0u);
    EXPECT_EQ(p.view.anchor, 0u);
}

TEST_F(PreviewWindow, InPageLinksScrollToTheirHeading) {
    set_preview_content(page_of(tall_markdown() + "## End\n"), 1, 140);
    ASSERT_EQ(p.document.headings.size(), 2u);
    open_preview_link(p, "#h-1");
    EXPECT_FLOAT_EQ(p.view.scroll_y, p.layout.blocks.back().y);
    open_preview_link(p, "#h-3");
    open_preview_link(p, "#h-x");
    EXPECT_FLOAT_EQ(p.view.scroll_y, p.layout.blocks.back().y);
    open_preview_link(p, "#");
    EXPECT_EQ(p.view.scroll_y, 0.0f);
    // Only a whole decimal number names a heading.
    for (const char* malformed : {"#h-1-intro", "#h-1abc", "#h-+1", "#h- 1", "#h-", "#h-1 "}) {
        open_preview_link(p, malformed);
        EXPECT_EQ(p.view.scroll_y, 0.0f) << malformed;
    }
    open_preview_link(p, "javascript:alert(1)");
    EXPECT_TRUE(opened.empty());
}

// Makes the hit tests of one real layout fail by giving the object a copy of its method table
// with those entries replaced; every other method stays the real one.
class FailingHitTests {
public:
    explicit FailingHitTests(IDWriteTextLayout* layout) : layout_(layout) {
        void** table = *reinterpret_cast<void***>(layout);
        std::memcpy(copy_, table, sizeof(copy_));
        original_ = table;
        copy_[slot(&IDWriteTextLayout::HitTestPoint)] = reinterpret_cast<void*>(&fail_point);
        copy_[slot(&IDWriteTextLayout::HitTestTextPosition)] =
            reinterpret_cast<void*>(&fail_position);
        *reinterpret_cast<void***>(layout) = copy_;
    }
    ~FailingHitTests() { *reinterpret_cast<void***>(layout_) = original_; }

private:
    // The method's index in the table: g++ represents a pointer to a virtual member function
    // as 1 + its byte offset in the table.
    template <typename Method> static std::size_t slot(Method method) {
        std::ptrdiff_t raw = 0;
        std::memcpy(&raw, &method, sizeof(raw));
        return static_cast<std::size_t>(raw - 1) / sizeof(void*);
    }
    static HRESULT STDMETHODCALLTYPE fail_point(IDWriteTextLayout*, FLOAT, FLOAT, BOOL*, BOOL*,
                                                DWRITE_HIT_TEST_METRICS*) {
        return E_FAIL;
    }
    static HRESULT STDMETHODCALLTYPE fail_position(IDWriteTextLayout*, UINT32, BOOL, FLOAT*, FLOAT*,
                                                   DWRITE_HIT_TEST_METRICS*) {
        return E_FAIL;
    }

    IDWriteTextLayout* layout_;
    void** original_ = nullptr;
    void* copy_[96]{};
};

TEST_F(PreviewWindow, FailingHitTestsDuringADragAreReportedOnceAndEndTheDrag) {
    set_preview_content(page_of("Only one paragraph here.\n"), 1, 1);
    const POINT inside = point_at(3);
    send(WM_LBUTTONDOWN, MK_LBUTTON, point_lparam(inside));
    ASSERT_TRUE(p.mouse_down);
    {
        FailingHitTests failing(p.layout.blocks[0].pieces[0].layout.get());
        send(WM_SETCURSOR, reinterpret_cast<WPARAM>(p.window), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        EXPECT_TRUE(errors.empty());
        send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(inside.x + 10, inside.y));
        send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(inside.x + 20, inside.y));
        send(WM_TIMER, 1, 0);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0], L"Hit test preview text (HRESULT 0x80004005)");
        EXPECT_FALSE(p.mouse_down);
        EXPECT_NE(GetCapture(), p.window);
        // A press that fails starts no drag either.
        send(WM_LBUTTONDOWN, MK_LBUTTON, point_lparam(inside));
        EXPECT_EQ(errors.size(), 2u);
        EXPECT_FALSE(p.mouse_down);
        send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(inside.x + 30, inside.y));
        EXPECT_EQ(errors.size(), 2u);
        // Key handlers still report each failure.
        key(VK_ESCAPE);
        EXPECT_EQ(errors.size(), 3u);
    }
}

TEST_F(PreviewWindow, ClientReadsTextAndSelectionThroughUIAutomation) {
    set_preview_content(page_of("# Head\n\n- item one\n- item two\n"), 1, 4);
    ASSERT_NE(p.accessibility.provider, nullptr);
    p.view.anchor = offset_of(u"item one");
    p.view.caret = p.view.anchor + 4;
    ComPtr<ITextProvider> text;
    p.accessibility.provider->QueryInterface(__uuidof(ITextProvider),
                                             reinterpret_cast<void**>(text.put()));
    ASSERT_TRUE(text);
    std::wstring all;
    std::wstring selected;
    std::vector<double> bounds;
    test::on_client_thread([&] {
        ComPtr<ITextRangeProvider> document;
        text->get_DocumentRange(document.put());
        BSTR value = nullptr;
        document->GetText(-1, &value);
        all.assign(value, SysStringLen(value));
        SysFreeString(value);
        SAFEARRAY* array = nullptr;
        ASSERT_EQ(text->GetSelection(&array), S_OK);
        LONG index = 0;
        ComPtr<IUnknown> element;
        SafeArrayGetElement(array, &index, element.put());
        ComPtr<ITextRangeProvider> range;
        element->QueryInterface(__uuidof(ITextRangeProvider),
                                reinterpret_cast<void**>(range.put()));
        range->GetText(-1, &value);
        selected.assign(value, SysStringLen(value));
        SysFreeString(value);
        SafeArrayDestroy(array);
        SAFEARRAY* rects = nullptr;
        range->GetBoundingRectangles(&rects);
        LONG upper = -1;
        SafeArrayGetUBound(rects, 1, &upper);
        for (LONG i = 0; i <= upper; ++i) {
            double v = 0;
            SafeArrayGetElement(rects, &i, &v);
            bounds.push_back(v);
        }
        SafeArrayDestroy(rects);
        range->Select();
    });
    EXPECT_EQ(all, std::wstring(p.document.text.begin(), p.document.text.end()));
    EXPECT_EQ(selected, L"item");
    ASSERT_EQ(bounds.size(), 4u);
    POINT origin{0, 0};
    ClientToScreen(p.window, &origin);
    EXPECT_GE(bounds[0], origin.x);
    EXPECT_GT(bounds[2], 0.0);
    EXPECT_EQ(p.views[1].caret, p.view.caret);
}

TEST_F(PreviewWindow, SnapshotListsMarkersAfterTheBoundariesAndTheVisibleRange) {
    set_preview_content(page_of("- one\n- two\n"), 1, 2);
    AccessibleSnapshot snap;
    test::on_client_thread([&] {
        EXPECT_EQ(invoke_on_ui_thread(p.accessibility.state,
                                      [&] { snap = p.accessibility.state->snapshot(); }),
                  S_OK);
    });
    const std::size_t stops = p.layout.boundaries.size();
    ASSERT_GT(snap.cluster_starts.size(), stops);
    const PreviewBlock& second = p.document.blocks[1];
    EXPECT_EQ(snap.cluster_starts.back(), second.start + second.marker_length - 1);
    EXPECT_EQ(snap.paragraph_starts, (std::vector<std::uint64_t>{0, second.start}));
    EXPECT_EQ(snap.first_visible, 0u);
    EXPECT_EQ(snap.visible_end, second.start + second.length);

    set_preview_content(page_of(""), 1, 0);
    test::on_client_thread([&] {
        invoke_on_ui_thread(p.accessibility.state,
                            [&] { snap = p.accessibility.state->snapshot(); });
    });
    EXPECT_TRUE(snap.text.empty());
    EXPECT_EQ(snap.first_visible, 0u);
    EXPECT_EQ(snap.visible_end, 0u);
}

TEST_F(PreviewWindow, ScrollIntoViewPutsTheOffsetAThirdDownAndReportsTheTopLine) {
    set_preview_content(page_of(tall_markdown()), 1, 130);
    const std::uint64_t target = offset_of(u"number 40");
    test::on_client_thread([&] {
        invoke_on_ui_thread(p.accessibility.state,
                            [&] { p.accessibility.state->scroll_into_view(target); });
    });
    const float height = view_height(p.window, p.dpi);
    const POINT at = point_at(target);
    EXPECT_NEAR(at.y * 96.0f / p.dpi, height / 3, 16.0f);
    EXPECT_FALSE(top_lines.empty());
    EXPECT_EQ(p.view.anchor, 0u);
}

TEST_F(PreviewWindow, AFailedLayoutOfNewContentLeavesNoLayoutOfTheOldOne) {
    set_preview_content(page_of(tall_markdown()), 1, 130);
    PreviewDocument broken = read_preview_markup(page_of("One.\n\nTwo.\n"));
    broken.blocks[1].start = broken.text.size() + 10;
    std::swap(p.document, broken);
    p.dirty = true;
    EXPECT_THROW(relayout_preview(), std::out_of_range);
    EXPECT_TRUE(p.layout.blocks.empty());
    // Input and accessibility then work on no layout at all rather than on a stale one.
    click({40, 300});
    send(WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(40, 300));
    key(VK_DOWN);
    AccessibleSnapshot snap;
    test::on_client_thread([&] {
        invoke_on_ui_thread(p.accessibility.state,
                            [&] { snap = p.accessibility.state->snapshot(); });
    });
    EXPECT_TRUE(snap.line_starts.empty());
    EXPECT_TRUE(errors.empty());
}

TEST_F(PreviewWindow, BoundsAreClippedToTheViewAndSelectClampsToTheText) {
    set_preview_content(page_of(tall_markdown()), 1, 130);
    const LayoutBlock& cut = p.layout.blocks[20];
    const float top = cut.y + 5;
    set_preview_scroll(p, 0, top);
    auto bounds = [&](std::uint64_t start, std::uint64_t end) {
        std::vector<double> result;
        test::on_client_thread([&] {
            invoke_on_ui_thread(p.accessibility.state,
                                [&] { result = p.accessibility.state->bounds(start, end); });
        });
        return result;
    };
    EXPECT_TRUE(bounds(0, 20).empty());
    // The block cut by the top edge gives only its visible part, from the client's top.
    POINT origin{0, 0};
    ClientToScreen(p.window, &origin);
    const std::vector<double> r = bounds(cut.text_start, cut.text_start + cut.text_length);
    ASSERT_EQ(r.size(), 4u);
    EXPECT_DOUBLE_EQ(r[1], origin.y);
    EXPECT_NEAR(r[3], (cut.height - 5) * p.dpi / 96, 0.01);
    test::on_client_thread([&] {
        invoke_on_ui_thread(p.accessibility.state,
                            [&] { p.accessibility.state->select(1u << 30, 1u << 31); });
    });
    EXPECT_EQ(p.view.anchor, p.document.text.size());
    EXPECT_EQ(p.view.caret, p.document.text.size());
    EXPECT_FLOAT_EQ(p.view.scroll_y, top);
}

TEST_F(PreviewWindow, SecondCreateKeepsTheFirstCommandSink) {
    create_preview(host, [](unsigned) { FAIL() << "second sink called"; });
    set_preview_content(page_of("x\n"), 1, 1);
    send(WM_MOUSEWHEEL, MAKEWPARAM(MK_CONTROL, 120), 0);
    EXPECT_EQ(commands.size(), 1u);
}

TEST_F(PreviewWindow, ContentBeforeCreationIsAFailure) {
    destroy_preview();
    set_preview_content(page_of("x\n"), 5, 9);
    EXPECT_EQ(p.error_text, u"Native preview has not been initialized.");
    EXPECT_EQ(p.source_line_count, 9u);
    create_preview(host, nullptr);
    EXPECT_EQ(p.error_code, S_OK);
}

// One layout of either paragraph faults in Wine's DirectWrite; the preview shows it in pieces
// and clicks, keys and paints reach every piece.
TEST_F(PreviewWindow, AParagraphWithoutSpacesShowsAndAnswersInput) {
    for (const std::string& paragraph : {std::string(100000, '['), std::string(1000000, 'A')}) {
        SCOPED_TRACE(paragraph.size());
        // Printing renders up to the 8 MiB source limit; the window takes what it is given.
        set_preview_content(render_markdown_html(paragraph + "\n", false, 0x800000), 1, 1);
        ASSERT_EQ(p.error_code, S_OK) << std::string(p.error_text.begin(), p.error_text.end());
        const LayoutBlock& block = p.layout.blocks.at(0);
        ASSERT_GT(block.pieces.size(), 1u);
        const TextPiece& second = block.pieces[1];
        set_preview_scroll(p, 0, block.y + second.top);
        pixel(1, 1);
        const std::uint64_t offset = block.text_start + second.start;
        click(point_at(offset));
        EXPECT_GE(p.view.caret, offset);
        EXPECT_LE(p.view.caret, offset + 1);
        key(VK_UP);
        EXPECT_LT(p.view.caret, offset);
        hold_keys({VK_CONTROL});
        key(VK_END);
        hold_keys({});
        EXPECT_EQ(p.view.caret, p.document.text.size());
        pixel(1, 1);
        EXPECT_EQ(p.error_code, S_OK) << std::string(p.error_text.begin(), p.error_text.end());
    }
}

} // namespace
} // namespace pellix
