#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "app/main_layout.h"
#include "app/message_loop.h"
#include "app/status_strip.h"
#include "app/views.h"
#include "app/document_tabs.h"
#include "app/settings.h"
#include "tests/app/chrome_capture.h"
#include "tests/app/panes_window.h"

namespace pellix {
namespace {

using StatusStripWindow = test::PanesWindow;

std::wstring strip_text() {
    return test::text_of(chrome.status_strip);
}

HWND item_button(unsigned id) {
    return GetDlgItem(chrome.status_strip, static_cast<int>(id));
}

// UTF-16 LE with its byte-order mark and CR LF line ends.
std::string utf16_crlf(const std::u16string& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

TEST_F(StatusStripWindow, ShowsAFreshDocumentAFileAndTypingInExactWords) {
    select_view(view_source);
    EXPECT_EQ(strip_text(), L"Ln 1, Col 1, 0 words, UTF-8, CRLF, Markdown");
    EXPECT_EQ(preview_header_note(), L"");
    // The encoding and line-ending items are buttons named by their text, at the right end.
    EXPECT_EQ(test::text_of(item_button(status_command::encoding)), L"UTF-8");
    RECT strip{};
    GetWindowRect(chrome.status_strip, &strip);
    RECT line_ending{};
    ASSERT_TRUE(status_item_rect(status_command::line_ending, line_ending));
    EXPECT_EQ(line_ending.bottom, strip.bottom);
    EXPECT_LT(line_ending.right, strip.right);
    EXPECT_FALSE(status_item_rect(status_command::zoom, line_ending));

    open_path(file("wide.md", utf16_crlf(u"# Title\r\none two three\r\n")));
    EXPECT_EQ(strip_text(), L"Ln 1, Col 1, 5 words, UTF-16 LE, CRLF, Markdown");
    EXPECT_EQ(preview_header_note(), L"1 min read");

    // The caret moves at once; the word count follows with the deferred text refresh.
    select(21, 21);
    type(L" four");
    EXPECT_EQ(strip_text(), L"Ln 2, Col 19, 5 words, UTF-16 LE, CRLF, Markdown");
    EXPECT_TRUE(test::pump_until([] {
        return strip_text() == L"Ln 2, Col 19, 6 words, UTF-16 LE, CRLF, Markdown";
    })) << strip_text();
}

// Every text the strip is given, in order.
std::vector<std::wstring> strip_texts;
LRESULT CALLBACK note_strip_text(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                 DWORD_PTR) {
    if (message == WM_SETTEXT) {
        strip_texts.emplace_back(reinterpret_cast<const wchar_t*>(lparam));
    }
    return DefSubclassProc(window, message, wparam, lparam);
}

// Ends the message loop once the strip shows `awaited_strip_text`, or at the deadline.
std::wstring awaited_strip_text;
ULONGLONG loop_deadline = 0;
void CALLBACK end_loop_once_shown(HWND, UINT, UINT_PTR timer, DWORD) {
    if (strip_text() == awaited_strip_text || GetTickCount64() >= loop_deadline) {
        KillTimer(nullptr, timer);
        PostQuitMessage(0);
    }
}

TEST_F(StatusStripWindow, AQueuedBurstOfKeysLandsWholeAndTheStatusFollowsItsEnd) {
    select_view(view_source);
    open_path(file("burst.md", "first\nsecond\n"));
    select(6, 6);
    SetFocus(chrome.editor);
    // Each key as the message loop meets it once its key-down is translated: its character, then
    // its release. The last character too has a key message behind it.
    const std::wstring burst = L"abcdefghijklmnopqrstuvwxyz0123456789 ";
    for (wchar_t key : burst) {
        PostMessageW(chrome.editor, WM_CHAR, key, 1);
        PostMessageW(chrome.editor, WM_KEYUP, VkKeyScanW(key) & 0xFF, 0xC0000001);
    }
    strip_texts.clear();
    SetWindowSubclass(chrome.status_strip, note_strip_text, 1, 0);
    const std::wstring end = L"Ln 2, Col 38, 2 words, UTF-8, LF, Markdown";
    const std::wstring recounted = L"Ln 2, Col 38, 3 words, UTF-8, LF, Markdown";
    awaited_strip_text = recounted;
    loop_deadline = GetTickCount64() + test::settle_limit_ms;
    SetTimer(nullptr, 0, 10, end_loop_once_shown);
    run_message_loop(nullptr);
    RemoveWindowSubclass(chrome.status_strip, note_strip_text, 1);

    EXPECT_EQ(test::text_of(chrome.editor), L"first\n" + burst + L"second\n");
    // Once, after the burst, then with the word count that the text refresh brings.
    EXPECT_EQ(strip_texts, (std::vector<std::wstring>{end, recounted}));
}

TEST_F(StatusStripWindow, WatchCompareAndZoomItemsAndTheirButtons) {
    select_view(view_source);
    HWND encoding = item_button(status_command::encoding);
    settings.font_size = 8;
    update_status();
    EXPECT_EQ(strip_text(), L"Ln 1, Col 1, 0 words, 67%, UTF-8, CRLF, Markdown");
    // A new item rebuilds the buttons; the same items with other texts keep them.
    HWND zoom = item_button(status_command::zoom);
    ASSERT_NE(zoom, nullptr);
    EXPECT_NE(item_button(status_command::encoding), encoding);
    settings.font_size = 14;
    current_tab().encoding = 2;
    update_status();
    EXPECT_EQ(item_button(status_command::zoom), zoom);
    EXPECT_EQ(test::text_of(zoom), L"117%");
    EXPECT_EQ(test::text_of(item_button(status_command::encoding)), L"UTF-16 LE");
    settings.font_size = 12;
    current_tab().encoding = 0;

    DocumentTab& tab = current_tab();
    tab.watch_state = 1;
    update_status();
    EXPECT_EQ(test::text_of(item_button(status_command::watch)), L"Watching \u00B7 Read-only");
    tab.watch_line_marks = {{0, 2, line_mark_added}, {5, 6, line_mark_changed}};
    tab.watch_deletion_marks = {{4, 1}};
    update_status();
    EXPECT_EQ(test::text_of(item_button(status_command::watch)),
              L"Watching \u00B7 3 lines marked \u00B7 1 line deleted");
    tab.watch_state = 2;
    tab.watch_status = "The file is locked.";
    update_status();
    EXPECT_EQ(strip_text(), L"Ln 1, Col 1, 0 words, Watch paused \u00B7 The file is locked. "
                            L"\u00B7 F5 to retry, UTF-8, CRLF, Markdown");
    // The view switcher's Watch button carries the paused state in its window text.
    layout_window();
    EXPECT_EQ(test::text_of(GetDlgItem(chrome.view_switcher, 324)), L"Watch file, paused");

    // On a strip narrower than 800 pixels the Watch item takes its short form.
    SetWindowPos(chrome.status_strip, nullptr, 0, 0, 700, 24, SWP_NOZORDER | SWP_NOMOVE);
    update_status();
    EXPECT_EQ(test::text_of(item_button(status_command::watch)), L"Watch paused \u00B7 F5");
    tab.watch_state = 0;

    tab.baseline = std::make_shared<const CompareBaseline>();
    tab.compare_label = L"Saved version";
    update_status();
    EXPECT_EQ(test::text_of(item_button(status_command::compare)), L"Comparing with Saved version");
    tab.compare_applied_revision = tab.revision;
    tab.compare_diff.ranges = {{0, 0, 0, 2}};
    tab.compare_diff.marks.line_marks = {{0, 2, line_mark_added}};
    tab.compare_summary = L"At last change";
    update_status();
    EXPECT_EQ(test::text_of(item_button(status_command::compare)),
              L"Compared with Saved version \u00B7 2 added \u00B7 At last change");
    // A text that is not UTF-8 is shown as far as it reads, never refused.
    tab.compare_error = "Acc\xE8s refus\xE9.";
    EXPECT_NO_THROW(update_status());
    const std::wstring error = test::text_of(item_button(status_command::compare));
    EXPECT_EQ(error.substr(0, 26), L"Compare unavailable \u00B7 Acc\xFFFD");
    EXPECT_TRUE(error.ends_with(L" \u00B7 At last change"));
}

TEST_F(StatusStripWindow, ItemsPostTheirCommandsAndTheFormatItemsCanBeDisabled) {
    select_view(view_source);
    MSG stale{};
    while (PeekMessageW(&stale, window_, WM_COMMAND, WM_COMMAND, PM_REMOVE)) {
    }
    SendMessageW(item_button(status_command::line_ending), BM_CLICK, 0, 0);
    MSG posted{};
    ASSERT_TRUE(PeekMessageW(&posted, window_, WM_COMMAND, WM_COMMAND, PM_REMOVE));
    EXPECT_EQ(posted.wParam, status_command::line_ending);
    EXPECT_EQ(posted.lParam, 0);

    enable_status_format_items(false);
    EXPECT_FALSE(IsWindowEnabled(item_button(status_command::encoding)));
    EXPECT_FALSE(IsWindowEnabled(item_button(status_command::line_ending)));
    enable_status_format_items(true);
    EXPECT_TRUE(IsWindowEnabled(item_button(status_command::encoding)));
}

TEST(StatusItems, ReadingTimeAndWordCountsAtTheirEdges) {
    EXPECT_EQ(reading_time_text(0), L"");
    EXPECT_EQ(reading_time_text(1), L"1 min read");
    EXPECT_EQ(reading_time_text(200), L"1 min read");
    EXPECT_EQ(reading_time_text(201), L"2 min read");
    DocumentTab tab;
    tab.line_ending = 2;
    tab.encoding = 9;
    tab.path = L"notes.txt";
    const auto items = compose_status_items(
        tab,
        {.line = 2, .column = 1, .words = 1, .font_points = 12, .notice = {}, .narrow = false});
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[0].text, L"Ln 2, Col 1");
    EXPECT_EQ(items[1].text, L"1 word");
    EXPECT_EQ(items[2].text, L"UTF-8");
    EXPECT_EQ(items[3].text, L"CR");
    EXPECT_EQ(items[4].text, L"Plain text");
}

// What the strip shows on screen where a button stands, beside what that button draws alone:
// the pixels that differ (another window or a stale picture over the item).
int pixels_not_its_own(HWND button, const test::Surface& strip) {
    RECT client{};
    GetClientRect(button, &client);
    RECT place = client;
    MapWindowPoints(button, chrome.status_strip, reinterpret_cast<POINT*>(&place), 2);
    test::Surface own(client.right, client.bottom);
    SendMessageW(button, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(own.dc()), PRF_CLIENT);
    int differing = 0;
    for (int y = 0; y < client.bottom; ++y) {
        for (int x = 0; x < client.right; ++x) {
            differing += own.at(x, y) != strip.at(place.left + x, place.top + y) ? 1 : 0;
        }
    }
    return differing;
}

TEST_F(StatusStripWindow, EachButtonShowsItsOwnPictureAtEveryZoomStepInEveryTab) {
    constexpr WORD zoom_in = 306;
    constexpr WORD zoom_out = 307;
    SetWindowPos(window_, nullptr, 0, 0, 1000, 700, SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(window_, SW_SHOWNOACTIVATE);
    open_path(file("lf.md", "one\ntwo\n"));
    open_path(file("crlf.txt", "one\r\ntwo\r\n"));
    open_path(file("wide.md", utf16_crlf(u"# Title\r\n")));
    // From this tab to the first only the line ending changes: the buttons move right without
    // changing size, the zoom button first, over part of the encoding button's old place.
    open_path(file("crlf.md", "one\r\ntwo\r\n"));
    tabs[1]->watch_state = 1;
    // From 67 % to 200 %, through 100 % where the zoom item goes.
    for (int step = 0; step < 4; ++step) {
        SendMessageW(window_, WM_COMMAND, zoom_out, 0);
    }
    for (int step = 0; step <= 16; ++step) {
        for (std::uint64_t tab = 0; tab < tabs.size(); ++tab) {
            select_tab(tab, false);
            RedrawWindow(window_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
            RECT client{};
            GetClientRect(chrome.status_strip, &client);
            test::Surface strip(client.right, client.bottom);
            HDC dc = GetDC(chrome.status_strip);
            BitBlt(strip.dc(), 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
            ReleaseDC(chrome.status_strip, dc);
            for (unsigned id : {status_command::zoom, status_command::encoding,
                                status_command::line_ending, status_command::watch}) {
                HWND button = item_button(id);
                if (button != nullptr && IsWindowVisible(button)) {
                    EXPECT_EQ(pixels_not_its_own(button, strip), 0)
                        << test::text_of(button) << " at " << settings.font_size << " points, tab "
                        << tab;
                }
            }
        }
        SendMessageW(window_, WM_COMMAND, zoom_in, 0);
    }
}

} // namespace
} // namespace pellix
