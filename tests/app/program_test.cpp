#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/main_window_create.h"
#include "app/single_instance.h"
#include "shell/registration_plan.h"
#include "tests/app/program_process.h"
#include "tests/app/recovery_support.h"
#include "tests/app/settings_key_guard.h"

namespace pellix {
namespace {

using test::Program;

constexpr DWORD still_running = STILL_ACTIVE;

// Waits until the running instance has signalled that its window exists.
bool wait_until_ready() {
    UniqueHandle ready(OpenEventW(SYNCHRONIZE, FALSE, ready_event_name));
    return ready && WaitForSingleObject(ready.get(), 30000) == WAIT_OBJECT_0;
}

// Waits until the main window is shown (it exists a moment before).
bool wait_until_shown(HWND window) {
    const ULONGLONG end = GetTickCount64() + 30000;
    while (!IsWindowVisible(window) && GetTickCount64() < end) {
        Sleep(20);
    }
    return IsWindowVisible(window) != FALSE;
}

LRESULT send_record(HWND window, ULONG_PTR kind, const void* data, DWORD bytes) {
    COPYDATASTRUCT record{kind, bytes, const_cast<void*>(data)};
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&record),
                             SMTO_ABORTIFHUNG, 10000, &answer)) {
        return -1;
    }
    return static_cast<LRESULT>(answer);
}

RECT child_rect(HWND window, int id) {
    RECT rect{};
    HWND child = GetDlgItem(window, id);
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// Checks the text of the program's next error box and closes it.
void close_error_box(const Program& program, const std::wstring& text) {
    HWND box = program.wait_for_window(L"#32770", L"Pellix");
    ASSERT_NE(box, nullptr);
    constexpr int message_text_id = 0xFFFF;
    wchar_t shown[512] = {};
    GetDlgItemTextW(box, message_text_id, shown, 512);
    EXPECT_EQ(std::wstring(shown), text);
    SendMessageW(box, WM_COMMAND, IDOK, 0);
    const ULONGLONG end = GetTickCount64() + 10000;
    while (IsWindow(box) && GetTickCount64() < end) {
        Sleep(20);
    }
}

DWORD close_and_wait(Program& program, HWND window) {
    PostMessageW(window, WM_CLOSE, 0, 0);
    return program.wait_for_exit();
}

// Closes the box with `caption` after checking its text; returns the program's exit code.
DWORD answer_box_and_wait(Program& program, const wchar_t* caption, const std::wstring& text) {
    HWND box = program.wait_for_window(L"#32770", caption);
    EXPECT_NE(box, nullptr);
    if (box != nullptr) {
        constexpr int message_text_id = 0xFFFF;
        wchar_t shown[512] = {};
        GetDlgItemTextW(box, message_text_id, shown, 512);
        EXPECT_EQ(std::wstring(shown), text);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    return program.wait_for_exit();
}

TEST(Program, VersionPrintsExactBytesAndExitsZero) {
    Program program(L"--version", true);
    ASSERT_TRUE(program.started());
    EXPECT_EQ(program.read_output(), "1.2.9\n");
    EXPECT_EQ(program.wait_for_exit(), 0u);
}

TEST(Program, CompareWithOnePathShowsTheUsageBoxAndExitsOne) {
    Program program(L"--compare only.md");
    ASSERT_TRUE(program.started());
    EXPECT_EQ(
        answer_box_and_wait(program, L"Compare", L"Usage: Pellix.exe --compare old.md new.md"), 1u);
}

TEST(Program, TakesHandOffsRefusesMalformedRecordsAndClosesWithZero) {
    test::SettingsKeyGuard settings;
    // An empty recovery store of its own, and no first-run welcome document in the way.
    test::ScratchLocalAppData local("program-store");
    settings.set_dword(L"WelcomeShown", 1);
    Program first(L"");
    HWND window = first.wait_for_window(editor_window_class);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(wait_until_ready());

    const std::wstring path = L"C:\\notes\\hand-off.md";
    const DWORD bytes = static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t));
    EXPECT_EQ(send_record(window, hand_off_path_kind, path.c_str(), bytes), TRUE);
    EXPECT_EQ(send_record(window, 2, path.c_str(), bytes), FALSE); // wrong kind
    EXPECT_EQ(send_record(window, hand_off_path_kind, path.c_str(), bytes - 1), FALSE); // odd
    EXPECT_EQ(send_record(window, hand_off_path_kind, path.c_str(), bytes - 2), FALSE); // no NUL
    const std::wstring inner(L"C:\\a\0b.md", 9);
    EXPECT_EQ(send_record(window, hand_off_path_kind, inner.c_str(),
                          static_cast<DWORD>((inner.size() + 1) * sizeof(wchar_t))),
              FALSE);
    EXPECT_EQ(send_record(window, hand_off_path_kind, L"", sizeof(wchar_t)), FALSE);
    std::vector<wchar_t> huge(hand_off_limit / sizeof(wchar_t) + 1, L'x');
    huge.back() = L'\0';
    EXPECT_EQ(send_record(window, hand_off_path_kind, huge.data(),
                          static_cast<DWORD>(huge.size() * sizeof(wchar_t))),
              FALSE);
    EXPECT_TRUE(IsWindow(window));

    Program second(L"\"second start.md\" other.md");
    EXPECT_EQ(second.wait_for_exit(), 0u);
    Program empty_second(L"");
    EXPECT_EQ(empty_second.wait_for_exit(), 0u);
    EXPECT_EQ(first.wait_for_exit(0), still_running);
    // None of the three handed-off files exists: each open reports it in turn, naming it.
    for (const wchar_t* name : {L"hand-off.md", L"second start.md", L"other.md"}) {
        close_error_box(first, std::wstring(name) + L"\nCould not open the file for reading.");
    }

    EXPECT_EQ(close_and_wait(first, window), 0u);
}

TEST(Program, DpiChangeLaysThePanesOutForTheSuggestedSize) {
    test::SettingsKeyGuard settings;
    // An empty recovery store of its own, and no first-run welcome document in the way.
    test::ScratchLocalAppData local("program-store");
    settings.set_dword(L"WelcomeShown", 1);
    Program program(L"");
    HWND window = program.wait_for_window(editor_window_class);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(wait_until_ready());
    ASSERT_TRUE(wait_until_shown(window));
    RECT before{};
    GetClientRect(window, &before);
    EXPECT_EQ(child_rect(window, child_id::hide_source).right, before.right);

    RECT suggested{40, 30, 40 + 900, 30 + 700};
    // The rectangle must live in the program's own memory: the message carries a pointer.
    UniqueHandle process(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, program.id()));
    ASSERT_TRUE(process);
    void* remote = VirtualAllocEx(process.get(), nullptr, sizeof(suggested),
                                  MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    ASSERT_NE(remote, nullptr);
    ASSERT_TRUE(WriteProcessMemory(process.get(), remote, &suggested, sizeof(suggested), nullptr));
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(remote));
    VirtualFreeEx(process.get(), remote, 0, MEM_RELEASE);
    RECT after{};
    GetClientRect(window, &after);
    EXPECT_LT(after.right, before.right);
    EXPECT_EQ(child_rect(window, child_id::hide_source).right, after.right);
    EXPECT_EQ(child_rect(window, child_id::source_label).left, 0);

    EXPECT_EQ(close_and_wait(program, window), 0u);
}

TEST(Program, SettingsSurviveARestartAndTheClosedWindowKeepsItsPlacement) {
    test::SettingsKeyGuard settings;
    // An empty recovery store of its own, and no first-run welcome document in the way.
    test::ScratchLocalAppData local("program-store");
    settings.set_dword(L"WelcomeShown", 1);
    settings.set_dword(L"View", 301);
    settings.set_dword(L"FontSize", 100);
    settings.set_dword(L"Split", 0);
    Program program(L"");
    HWND window = program.wait_for_window(editor_window_class);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(wait_until_ready());
    ASSERT_TRUE(wait_until_shown(window));
    // Preview view was loaded: the Source header is hidden, the Preview header shown.
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(window, child_id::source_label)));
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(window, child_id::preview_label)));
    EXPECT_EQ(close_and_wait(program, window), 0u);

    EXPECT_EQ(settings.dword(L"View"), 301u);
    EXPECT_EQ(settings.dword(L"FontSize"), 32u);
    EXPECT_EQ(settings.dword(L"Split"), 0u);
    EXPECT_EQ(settings.dword(L"SplitRestore"), 500u);
    WINDOWPLACEMENT placement{};
    DWORD size = sizeof(placement);
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, settings.key().c_str(), L"Placement",
                           RRF_RT_REG_BINARY, nullptr, &placement, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, sizeof(WINDOWPLACEMENT));
}

TEST(Program, WritesTheScrollProfileAtExitOnlyWhenAskedFor) {
    test::SettingsKeyGuard settings;
    // An empty recovery store of its own, and no first-run welcome document in the way.
    test::ScratchLocalAppData local("program-store");
    settings.set_dword(L"WelcomeShown", 1);
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / L"pellix-program-profile";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::filesystem::path previous = std::filesystem::current_path();
    // The program writes into its current folder, which it takes from this process.
    std::filesystem::current_path(folder);
    const std::filesystem::path profile = folder / L"Pellix-scroll-profile.csv";
    for (const wchar_t* arguments : {L"", L"--scroll-profile"}) {
        Program program(arguments);
        HWND window = program.wait_for_window(editor_window_class);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(wait_until_ready());
        EXPECT_EQ(close_and_wait(program, window), 0u);
        EXPECT_EQ(std::filesystem::exists(profile), *arguments != L'\0') << arguments;
    }
    std::filesystem::current_path(previous);
    std::ifstream in(profile, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // Without scrolling only the editor's paints are timed; the window paints at least once.
    const std::size_t paint = bytes.find("source_paint,");
    const std::size_t paint_end = bytes.find("\r\n", paint);
    ASSERT_NE(paint_end, std::string::npos);
    EXPECT_NE(bytes.substr(paint, paint_end - paint), "source_paint,0,0,0,0");
    EXPECT_EQ(bytes.substr(0, paint) + bytes.substr(paint_end),
              "stage,count,mean_ms,max_ms,over_16ms\r\n"
              "source_input,0,0,0,0\r\n"
              "\r\n"
              "split_sync,0,0,0,0\r\n"
              "preview_input,0,0,0,0\r\n"
              "preview_paint,0,0,0,0\r\n");
    in.close();
    std::filesystem::remove_all(folder);
}

TEST(Program, ACompareWindowWritesNoSettings) {
    test::SettingsKeyGuard settings;
    Program program(L"--compare old.md new.md");
    HWND window = program.wait_for_window(compare_window_class);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(FindWindowW(editor_window_class, nullptr), nullptr);
    EXPECT_EQ(close_and_wait(program, window), 0u);
    EXPECT_FALSE(test::key_exists(settings.key()));
}

} // namespace
} // namespace pellix

namespace pellix {
namespace {

// Stands in for a running instance that cannot take paths: the mutex and a signalled ready
// event, and (for the second case) an editor-class window whose thread never answers.
class FakeInstance {
public:
    FakeInstance() {
        mutex_.reset(CreateMutexW(nullptr, FALSE, instance_mutex_name));
        ready_.reset(CreateEventW(nullptr, TRUE, TRUE, ready_event_name));
        SetEvent(ready_.get());
    }
    ~FakeInstance() {
        if (window_ != nullptr) {
            DestroyWindow(window_);
            // A class of the editor's name left in this process would stand in for the real
            // one when later tests look for the program's windows by class.
            UnregisterClassW(editor_window_class, GetModuleHandleW(L"kernel32.dll"));
        }
    }
    // A window of the editor class, registered for another module so that it cannot clash with
    // the real class; this thread does not serve it while a test waits.
    void add_silent_window() {
        HMODULE module = GetModuleHandleW(L"kernel32.dll");
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = DefWindowProcW;
        window_class.hInstance = module;
        window_class.lpszClassName = editor_window_class;
        RegisterClassW(&window_class);
        window_ = CreateWindowExW(0, editor_window_class, L"", WS_POPUP, 0, 0, 10, 10, nullptr,
                                  nullptr, module, nullptr);
    }
    HWND window() const { return window_; }

private:
    UniqueHandle mutex_;
    UniqueHandle ready_;
    HWND window_ = nullptr;
};

TEST(SecondStart, WithoutTheRunningWindowItWarnsAndExitsOne) {
    FakeInstance running;
    Program second(L"a.md");
    EXPECT_EQ(answer_box_and_wait(second, L"Pellix",
                                  L"Pellix is still starting or closing. The requested files were "
                                  L"not opened. Please try again."),
              1u);
}

TEST(SecondStart, ARunningWindowThatDoesNotAnswerMakesItReportAndExitOne) {
    FakeInstance running;
    running.add_silent_window();
    ASSERT_NE(running.window(), nullptr);
    Program second(L"a.md");
    EXPECT_EQ(answer_box_and_wait(second, L"Pellix",
                                  L"Pellix did not accept a requested file. Please open it again."),
              1u);
}

std::wstring registered_open_command() {
    wchar_t value[1024] = {};
    DWORD bytes = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, prog_id_command_key, nullptr, RRF_RT_REG_SZ, nullptr, value,
                     &bytes) != ERROR_SUCCESS) {
        return {};
    }
    return value;
}

TEST(Program, RegistersAndUnregistersMarkdownFilesWithoutAWindow) {
    Program registering(L"--register");
    ASSERT_TRUE(registering.started());
    EXPECT_EQ(registering.wait_for_exit(), 0u);
    const std::wstring command = registered_open_command();
    EXPECT_NE(command.find(test::program_path()), std::wstring::npos) << command;

    Program unregistering(L"--unregister");
    ASSERT_TRUE(unregistering.started());
    EXPECT_EQ(unregistering.wait_for_exit(), 0u);
    EXPECT_EQ(registered_open_command(), L"");
}

} // namespace
} // namespace pellix
