#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "editor/source_interface.h"
#include "platform/com_ptr.h"
#include "platform/uia_core.h"
#include "tests/editor/editor_window.h"

using namespace pellix;
using pellix::test::EditorWindow;

namespace {

// Runs `client` on its own thread, as UI Automation would, serving this thread's messages
// meanwhile; false when it did not finish within the time.
bool on_client_thread(const std::function<void()>& client) {
    std::atomic<bool> finished{false};
    std::thread thread([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        client();
        CoUninitialize();
        finished = true;
    });
    const bool done = test::pump_until([&] { return finished.load(); }, std::chrono::seconds(20));
    if (done) {
        thread.join();
    } else {
        thread.detach();
    }
    return done;
}

std::wstring text_of(ITextRangeProvider* range) {
    BSTR text = nullptr;
    if (FAILED(range->GetText(-1, &text))) {
        return L"<failed>";
    }
    std::wstring result(text, SysStringLen(text));
    SysFreeString(text);
    return result;
}

ComPtr<ITextRangeProvider> first_range(SAFEARRAY* array) {
    ComPtr<ITextRangeProvider> range;
    LONG index = 0;
    ComPtr<IUnknown> element;
    if (array && SUCCEEDED(SafeArrayGetElement(array, &index, element.put()))) {
        element->QueryInterface(__uuidof(ITextRangeProvider),
                                reinterpret_cast<void**>(range.put()));
    }
    SafeArrayDestroy(array);
    return range;
}

ComPtr<ITextProvider> text_provider(const EditorWindow& window) {
    ComPtr<ITextProvider> text;
    window.record().accessibility.provider->QueryInterface(__uuidof(ITextProvider),
                                                           reinterpret_cast<void**>(text.put()));
    return text;
}

AccessibleSnapshot snapshot_of(const EditorWindow& window) {
    return window.record().accessibility.state->snapshot();
}

TEST(EditorAccessibility, ClientReadsTextSelectionAndTextAtAPoint) {
    EditorWindow window;
    window.set_text(L"first line\nsecond words here\n");
    window.select(18, 11);
    ComPtr<ITextProvider> text = text_provider(window);
    ASSERT_TRUE(text);
    const POINTL words = window.position_of(19);
    POINT screen{words.x + 2, words.y + 4};
    ClientToScreen(window.editor, &screen);

    std::wstring whole, selected, at_point, after_move;
    int moved = 0;
    ASSERT_TRUE(on_client_thread([&] {
        ComPtr<ITextRangeProvider> document;
        text->get_DocumentRange(document.put());
        whole = text_of(document.get());
        SAFEARRAY* array = nullptr;
        text->GetSelection(&array);
        ComPtr<ITextRangeProvider> selection = first_range(array);
        selected = selection ? text_of(selection.get()) : L"<none>";
        ComPtr<ITextRangeProvider> point;
        text->RangeFromPoint({static_cast<double>(screen.x), static_cast<double>(screen.y)},
                             point.put());
        point->ExpandToEnclosingUnit(TextUnit_Word);
        at_point = text_of(point.get());
        point->Move(TextUnit_Word, 2, &moved);
        after_move = text_of(point.get());
    }));
    EXPECT_EQ(whole, L"first line\nsecond words here\n");
    EXPECT_EQ(selected, L"second ");
    EXPECT_EQ(at_point, L"words");
    EXPECT_EQ(moved, 2);
    EXPECT_EQ(after_move, L"here");
}

TEST(EditorAccessibility, SnapshotBoundaries) {
    EditorWindow window(600, 200);
    window.set_text(L"\xD83D\xDE00z\nab\n");
    AccessibleSnapshot snap = snapshot_of(window);
    ASSERT_TRUE(snap.shared);
    EXPECT_EQ(snap.shared->text, u"\xD83D\xDE00z\nab\n");
    EXPECT_EQ(snap.shared->cluster_starts, (std::vector<std::uint64_t>{0, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(snap.shared->line_starts, (std::vector<std::uint64_t>{0, 4, 7}));
    EXPECT_EQ(snap.shared->paragraph_starts, snap.shared->line_starts);
    EXPECT_EQ(snap.first_visible, 0u);
    EXPECT_EQ(snap.visible_end, 7u);
    // An unchanged text is handed out again as the same value; an edit makes a new one.
    window.select(3, 3);
    EXPECT_EQ(snapshot_of(window).shared, snap.shared);
    EXPECT_EQ(snapshot_of(window).caret, 3u);
    window.send(EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(L"x"));
    EXPECT_NE(snapshot_of(window).shared, snap.shared);
    EXPECT_EQ(snapshot_of(window).shared->text, u"\xD83D\xDE00zx\nab\n");

    // A view of lines 50 on: the visible part starts at line 50's start.
    std::wstring lines;
    for (int i = 0; i < 200; ++i) {
        lines += L"line\n";
    }
    window.set_text(lines);
    set_source_top_line(window.editor, 50.0, 0);
    snap = snapshot_of(window);
    EXPECT_EQ(snap.first_visible, 250u);
    EXPECT_GT(snap.visible_end, 255u);
    EXPECT_LT(snap.visible_end, 400u);
    EXPECT_EQ(snap.visible_end % 5, 0u);
}

TEST(EditorAccessibility, SelectBoundsAndScroll) {
    EditorWindow window(600, 200);
    std::wstring lines;
    for (int i = 0; i < 100; ++i) {
        lines += L"line\n";
    }
    window.set_text(L"a\xD83D\xDE00" + lines);
    const auto& state = window.record().accessibility.state;
    test::received().clear();
    state->select(1000, 2000);
    EXPECT_EQ(window.selection().cpMin, static_cast<LONG>(window.text().size()));
    EXPECT_EQ(window.selection().cpMax, static_cast<LONG>(window.text().size()));
    ASSERT_FALSE(test::received().empty());
    EXPECT_EQ(test::received().back().code, static_cast<UINT>(EN_SELCHANGE));
    state->select(0, 0);
    state->select(2, 0);
    EXPECT_EQ(window.selection().cpMin, 0);
    EXPECT_EQ(window.selection().cpMax, 1);

    // "line" of the first text line is measured on screen; a range above the view is not.
    POINT origin{0, 0};
    ClientToScreen(window.editor, &origin);
    const std::vector<double> first = state->bounds(3, 7);
    ASSERT_EQ(first.size(), 4u);
    EXPECT_NEAR(first[0], origin.x + window.position_of(3).x, 1.0);
    EXPECT_NEAR(first[1], origin.y, 1.0);
    state->scroll_into_view(3 + 5 * 40);
    EXPECT_NEAR(source_top_line(window.editor), 40.0, 1e-6);
    EXPECT_TRUE(state->bounds(3, 7).empty());
    // A range that begins above the view reports only what is visible.
    const std::vector<double> across = state->bounds(3, 3 + 5 * 41);
    ASSERT_EQ(across.size(), 4u);
    EXPECT_NEAR(across[1], origin.y, 1.0);
    // In the gutter, the hit is the start of the row.
    EXPECT_EQ(state->offset_at({1, 1}), 3u + 5 * 40);
    EXPECT_FALSE(state->is_read_only());
    window.send(EM_SETREADONLY, TRUE);
    EXPECT_TRUE(state->is_read_only());
}

// Announcements go out only while a client listens, with the watch activity id.
TEST(EditorAccessibility, AnnounceNeedsAListeningClient) {
    EditorWindow window;
    static bool listening = false;
    static std::vector<std::wstring> raised;
    uia::CoreFunctions& core = uia::core_functions();
    const uia::CoreFunctions saved = core;
    core.clients_are_listening = []() -> BOOL { return listening ? TRUE : FALSE; };
    core.raise_notification_event = [](IRawElementProviderSimple*, NotificationKind kind,
                                       NotificationProcessing processing, BSTR text,
                                       BSTR activity) -> HRESULT {
        raised.push_back(std::to_wstring(kind) + L"/" + std::to_wstring(processing) + L" " + text +
                         L" " + activity);
        return S_OK;
    };
    announce(window.editor, L"File changed");
    EXPECT_TRUE(raised.empty());
    listening = true;
    announce(window.editor, L"File changed");
    core = saved;
    ASSERT_EQ(raised.size(), 1u);
    EXPECT_EQ(raised[0], L"4/3 File changed Pellix.Watch");
}

} // namespace
