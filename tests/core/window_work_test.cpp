#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "core/file_io.h"
#include "core/source_document.h"
#include "core/window_work.h"
#include "tests/bounded_wait.h"
#include "tests/scratch_folder.h"

namespace pellix {
namespace {

constexpr UINT WM_TEST_ANSWER = WM_APP + 1;     // answers 42, noting the thread
constexpr UINT WM_TEST_NESTED = WM_APP + 2;     // runs a nested window_work
constexpr UINT WM_TEST_DROP_FOCUS = WM_APP + 4; // takes the focus away, answering who had it

struct NestedObservation {
    bool ran = false;
    int result = 0;
    bool busy_after = false;
    bool enabled_after = true;
    int releases_after = 0;
};

// The host the tests install in place of the main window.
HWND host_window = nullptr;
bool file_work_busy = false;
int releases = 0;

std::atomic<int> paint_count{0};
std::atomic<int> key_count{0};
std::atomic<DWORD> answer_thread{0};
NestedObservation nested;

bool queued(HWND hwnd, UINT message, UINT flags = PM_NOREMOVE) {
    MSG msg;
    return PeekMessageW(&msg, hwnd, message, message, flags) != FALSE;
}

int take_all(HWND hwnd, UINT message) {
    int count = 0;
    while (queued(hwnd, message, PM_REMOVE)) {
        ++count;
    }
    return count;
}

LRESULT CALLBACK test_window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(hwnd, &paint);
        EndPaint(hwnd, &paint);
        ++paint_count;
        return 0;
    }
    case WM_KEYDOWN:
        ++key_count;
        return 0;
    case WM_TEST_ANSWER:
        answer_thread = GetCurrentThreadId();
        return 42;
    case WM_TEST_DROP_FOCUS:
        return reinterpret_cast<LRESULT>(SetFocus(nullptr));
    case WM_TEST_NESTED:
        nested.ran = true;
        nested.result = window_work([] { return 5; });
        nested.busy_after = file_work_busy;
        nested.enabled_after = IsWindowEnabled(hwnd) != FALSE;
        nested.releases_after = releases;
        return 0;
    }
    return DefWindowProcW(hwnd, message, wparam, lparam);
}

// A real, shown top-level window standing in for the main window, with a focused child. One
// window serves the whole suite: under Wine without a window manager, hiding or destroying a
// shown window waits two seconds for the X server.
class FileWorkWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = &test_window_proc;
        window_class.hInstance = GetModuleHandleW(nullptr);
        window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        window_class.lpszClassName = L"Pellix.Test.FileWork";
        RegisterClassW(&window_class);
        window =
            CreateWindowExW(0, L"Pellix.Test.FileWork", L"File work", WS_OVERLAPPEDWINDOW, 20, 20,
                            400, 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        child = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10, 10, 200,
                                24, window, nullptr, GetModuleHandleW(nullptr), nullptr);
        ShowWindow(window, SW_SHOW);
        SetForegroundWindow(window);
    }

    static void TearDownTestSuite() {
        DestroyWindow(window);
        pump_pending();
    }

    void SetUp() override {
        ASSERT_NE(window, nullptr);
        ASSERT_NE(child, nullptr);
        EnableWindow(window, TRUE);
        SetFocus(child);
        pump_pending();
        host_window = window;
        releases = 0;
        install_file_work_host({
            .window = [] { return host_window; },
            .set_busy = [](bool busy) { file_work_busy = busy; },
            .released = [] { ++releases; },
        });
        paint_count = 0;
        key_count = 0;
        answer_thread = 0;
        nested = {};
    }

    void TearDown() override {
        install_file_work_host({});
        host_window = nullptr;
        file_work_busy = false;
        pump_pending();
    }

    static void pump_pending() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message != WM_CLOSE) { // a posted close must not destroy the shared window
                DispatchMessageW(&msg);
            }
        }
    }

    static inline HWND window = nullptr;
    static inline HWND child = nullptr;
};

TEST_F(FileWorkWindow, DisablesTheWindowWhileWorkingAndRestoresFocus) {
    ASSERT_EQ(GetFocus(), child);
    bool enabled_during = true, busy_during = false;
    HWND focus_during = nullptr;
    int result = window_work([&] {
        enabled_during = IsWindowEnabled(window) != FALSE;
        busy_during = file_work_busy; // written before the worker started
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        // Whatever became of the focus meanwhile, the runner puts it back.
        focus_during = reinterpret_cast<HWND>(SendMessageW(window, WM_TEST_DROP_FOCUS, 0, 0));
        return 7;
    });
    EXPECT_EQ(result, 7);
    EXPECT_FALSE(enabled_during);
    EXPECT_TRUE(busy_during);
    EXPECT_FALSE(file_work_busy);
    EXPECT_TRUE(IsWindowEnabled(window));
    EXPECT_NE(focus_during, nullptr);
    EXPECT_EQ(GetFocus(), child);
    EXPECT_EQ(releases, 1);
}

TEST_F(FileWorkWindow, WindowDisabledAtEntryIsLeftAlone) {
    EnableWindow(window, FALSE); // as under a modal dialog
    window_work([&] { SendMessageW(window, WM_TEST_DROP_FOCUS, 0, 0); });
    EXPECT_FALSE(IsWindowEnabled(window));
    EXPECT_EQ(GetFocus(), nullptr); // not this runner's focus to restore
    EXPECT_FALSE(file_work_busy);
}

TEST_F(FileWorkWindow, ServesPaintAndSentMessagesButLeavesInputQueued) {
    pump_pending();
    PostMessageW(window, WM_KEYDOWN, 'A', 0);
    LRESULT answer = 0;
    bool painted = false;
    window_work([&] {
        int before = paint_count;
        InvalidateRect(window, nullptr, FALSE);
        painted = test::wait_until([&] { return paint_count > before; });
        answer = SendMessageW(window, WM_TEST_ANSWER, 0, 0);
        PostMessageW(window, WM_KEYDOWN, 'B', 0);
        PostMessageW(window, WM_TIMER, 99, 0);
    });
    EXPECT_TRUE(painted);
    EXPECT_EQ(answer, 42);
    EXPECT_EQ(answer_thread, GetCurrentThreadId());
    EXPECT_EQ(key_count, 0);
    EXPECT_EQ(take_all(window, WM_KEYDOWN), 2);
    EXPECT_EQ(take_all(window, WM_TIMER), 1);
}

TEST_F(FileWorkWindow, ServingBetweenStepsPaintsAndAnswersAtOnceButLeavesInputQueued) {
    pump_pending();
    PostMessageW(window, WM_KEYDOWN, 'A', 0);
    InvalidateRect(window, nullptr, FALSE);
    std::atomic<DWORD_PTR> answer{0};
    std::thread sender([&] {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(window, WM_TEST_ANSWER, 0, 0, SMTO_NORMAL, test::settle_limit_ms,
                            &result);
        answer = result;
    });
    ASSERT_TRUE(test::sent_message_pending());
    file_work::serve_paint();
    sender.join();
    EXPECT_EQ(answer, 42u);
    EXPECT_EQ(answer_thread, GetCurrentThreadId());
    EXPECT_GT(paint_count, 0);
    EXPECT_EQ(key_count, 0);
    EXPECT_EQ(take_all(window, WM_KEYDOWN), 1);
}

TEST_F(FileWorkWindow, TaskExceptionIsRethrownAfterTheCleanUp) {
    try {
        window_work([]() -> int { throw std::length_error("Source exceeds the limit."); });
        ADD_FAILURE() << "no exception";
    } catch (const std::length_error& error) {
        EXPECT_STREQ(error.what(), "Source exceeds the limit.");
    }
    EXPECT_FALSE(file_work_busy);
    EXPECT_TRUE(IsWindowEnabled(window));
    EXPECT_EQ(GetFocus(), child);
}

TEST_F(FileWorkWindow, WithoutAWindowOnlyTheBusyFlagChangesAndTheHostIsReleased) {
    host_window = nullptr;
    bool busy_during = false;
    window_work([&] { busy_during = file_work_busy; });
    EXPECT_TRUE(busy_during);
    EXPECT_FALSE(file_work_busy);
    EXPECT_EQ(releases, 1);
}

TEST_F(FileWorkWindow, OutermostRunnerClearsTheBusyFlagEvenIfItWasSetBefore) {
    file_work_busy = true; // left over by the main window, not by a runner
    window_work([] {});
    EXPECT_FALSE(file_work_busy);
}

TEST_F(FileWorkWindow, NestedRunnerLeavesTheOuterOneInCharge) {
    bool busy_after_nested = false;
    window_work([&] {
        SendMessageW(window, WM_TEST_NESTED, 0, 0);
        busy_after_nested = file_work_busy;
    });
    ASSERT_TRUE(nested.ran);
    EXPECT_EQ(nested.result, 5);
    EXPECT_TRUE(nested.busy_after);
    EXPECT_TRUE(busy_after_nested);
    EXPECT_FALSE(nested.enabled_after);
    EXPECT_EQ(nested.releases_after, 0);
    EXPECT_FALSE(file_work_busy);
    EXPECT_TRUE(IsWindowEnabled(window));
    EXPECT_EQ(releases, 1);
}

// The task bodies, run without a main window.
class FileWorkTasks : public ::testing::Test {
protected:
    test::ScratchFolder folder{"window-work"};
};

TEST_F(FileWorkTasks, ReadDecodeAndSave) {
    const auto path = folder / "note.md";
    test::write_bytes(path, "\xEF\xBB\xBFone\r\ntwo");
    std::string bytes = read_disk(path, 0x800000);
    EXPECT_EQ(bytes, "\xEF\xBB\xBFone\r\ntwo");
    EXPECT_THROW(read_disk(path, 4), std::runtime_error);

    Document document = decode_document(bytes, 0);
    EXPECT_EQ(document.text, u"one\ntwo");
    EXPECT_EQ(document.encoding, Encoding::utf8_bom);
    EXPECT_EQ(document.line_ending, LineEnding::crlf);
    EXPECT_EQ(read_document_file(path).text, u"one\ntwo");

    Document legacy = decode_reloaded_document("caf\xE9", Encoding::windows_1252);
    EXPECT_EQ(legacy.text, u"caf\u00E9");
    EXPECT_EQ(legacy.encoding, Encoding::windows_1252);

    document.text = u"three\nfour";
    document.line_ending = LineEnding::lf;
    const auto saved = folder / "saved.md";
    EXPECT_EQ(save_document(saved, document), "\xEF\xBB\xBFthree\nfour");
    EXPECT_EQ(read_disk(saved, 0x800000), "\xEF\xBB\xBFthree\nfour");

    document.text = std::u16string(1, u'\0');
    EXPECT_THROW(save_document(saved, document), std::runtime_error);
    EXPECT_EQ(read_disk(saved, 0x800000), "\xEF\xBB\xBFthree\nfour"); // left as it was
}

TEST_F(FileWorkTasks, WelcomeDocumentIsWrittenOnce) {
    const auto path = folder / "Pellix" / "Native" / "hello.md";
    show_first_welcome(path);
    EXPECT_EQ(read_disk(path, 0x800000), std::string(welcome_document_text()));
    test::write_bytes(path, "mine");
    show_first_welcome(path);
    EXPECT_EQ(read_disk(path, 0x800000), "mine");
}

TEST_F(FileWorkTasks, EditorText) {
    SourceDocument document = build_source_document(u"a\r\nb\rc");
    EXPECT_EQ(document.text(), u"a\nb\nc");
    EXPECT_EQ(document.line_count(), 3u);
    EXPECT_THROW(build_source_document(std::u16string(1, u'\0')), std::invalid_argument);
}

} // namespace
} // namespace pellix
