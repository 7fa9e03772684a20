#pragma once

// The real Pellix.exe beside the bench program, started on files and driven from outside as a
// user's other programs would, and the memory figures of a process.

#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/recovery_store.h"
#include "app/single_instance.h"
#include "editor/source_window.h"
#include "platform/unique_handle.h"

namespace pellix::bench {

inline constexpr DWORD program_limit_ms = 120000;
inline constexpr DWORD idle_limit_ms = 2000;

struct Memory {
    double private_mib = 0;
    double working_set_mib = 0;
};

inline Memory memory_of(HANDLE process) {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof(counters));
    // Wine leaves PrivateUsage at 0; the pagefile figure is the same count on Windows.
    const SIZE_T private_bytes =
        counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
    return {private_bytes / (1024.0 * 1024.0), counters.WorkingSetSize / (1024.0 * 1024.0)};
}

inline HWND visible_editor_of(HWND main) {
    HWND child = nullptr;
    while ((child = FindWindowExW(main, child, source_window_class, nullptr)) != nullptr) {
        if (IsWindowVisible(child)) {
            return child;
        }
    }
    return nullptr;
}

// Answers to messages sent to the program that say its UI thread waits for messages.
inline constexpr int prompt_answers = 3;
inline constexpr std::chrono::milliseconds prompt_answer{2};

// True while a shown window of `main`'s tree still waits for a paint.
inline bool paint_owed(HWND main) {
    bool owed = GetUpdateRect(main, nullptr, FALSE) != FALSE;
    EnumChildWindows(
        main,
        [](HWND child, LPARAM found) {
            if (IsWindowVisible(child) && GetUpdateRect(child, nullptr, FALSE)) {
                *reinterpret_cast<bool*>(found) = true;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&owed));
    return owed;
}

// Waits until the program has served its queue: its window enabled, nothing left to paint, and
// its UI thread idle; answers the moment it was first seen idle, so that the checks that confirm
// it are not counted as its work. Wine's WaitForInputIdle returns as soon as the program asks
// for a message, before the paints it owes, and an update region is empty from the start of a
// paint, not its end. A message sent to the window is answered between two messages, but also
// inside a paint while Wine makes its render target: only answers that come at once, several in
// a row, say the thread waits for messages. Painting from here (RedrawWindow) would send each
// paint across processes and time those sends instead. File work runs with the window disabled
// while the UI thread waits in a pump that answers sent messages, and a command sent meanwhile
// is refused: the work must end too.
inline std::chrono::steady_clock::time_point settle(HWND main) {
    using clock = std::chrono::steady_clock;
    const clock::time_point end = clock::now() + std::chrono::milliseconds(idle_limit_ms);
    clock::time_point idle_since = clock::now();
    int prompt = 0;
    while (clock::now() < end) {
        const clock::time_point sent = clock::now();
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, idle_limit_ms, &ignored);
        if (clock::now() - sent >= prompt_answer) {
            prompt = 0;
            continue;
        }
        if (prompt++ == 0) {
            idle_since = sent;
        }
        if (prompt < prompt_answers) {
            continue;
        }
        if (IsWindowEnabled(main) && !paint_owed(main)) {
            return idle_since;
        }
        prompt = 0;
        Sleep(1);
    }
    return clock::now();
}

// Pellix.exe started on `files`; ended (WM_CLOSE, then killed) when this goes.
class RealProgram {
public:
    // Unless `keep_store`, the recovery store is emptied first: a program that found an earlier
    // run's tabs there would restore them, file work and a switch to each, while it is timed.
    explicit RealProgram(const std::vector<std::wstring>& files, bool keep_store = false) {
        if (!keep_store) {
            std::error_code ignored;
            std::filesystem::remove_all(recovery_session_path().parent_path(), ignored);
        }
        wchar_t own[MAX_PATH];
        GetModuleFileNameW(nullptr, own, MAX_PATH);
        std::wstring exe(own);
        exe = exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"Pellix.exe";
        std::wstring command = L"\"" + exe + L"\"";
        for (const std::wstring& file : files) {
            command += L" \"" + file + L"\"";
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION started{};
        if (CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           nullptr, &startup, &started)) {
            process_.reset(started.hProcess);
            CloseHandle(started.hThread);
            id_ = started.dwProcessId;
        }
    }
    ~RealProgram() {
        if (!process_) {
            return;
        }
        if (main_ != nullptr) {
            PostMessageW(main_, WM_CLOSE, 0, 0);
        }
        if (WaitForSingleObject(process_.get(), program_limit_ms) != WAIT_OBJECT_0) {
            TerminateProcess(process_.get(), 1);
        }
    }
    RealProgram(const RealProgram&) = delete;
    RealProgram& operator=(const RealProgram&) = delete;

    HANDLE process() const { return process_.get(); }
    DWORD id() const { return id_; }

    // The main window once `tabs` tabs are open and the shown editor holds `units` of text
    // (any text when negative); null after the limit.
    HWND wait_for_document(LRESULT units, LRESULT tabs = 1) {
        const ULONGLONG end = GetTickCount64() + program_limit_ms;
        while (process_ && GetTickCount64() < end) {
            HWND main = nullptr;
            while ((main = FindWindowExW(nullptr, main, editor_window_class, nullptr)) != nullptr) {
                DWORD owner = 0;
                GetWindowThreadProcessId(main, &owner);
                HWND editor = owner == id_ ? visible_editor_of(main) : nullptr;
                DWORD_PTR length = 0;
                if (editor != nullptr && editors_of(main) == tabs &&
                    SendMessageTimeoutW(editor, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000,
                                        &length) &&
                    (units < 0 || static_cast<LRESULT>(length) == units)) {
                    main_ = main;
                    WaitForInputIdle(process_.get(), idle_limit_ms);
                    return main;
                }
            }
            Sleep(20);
        }
        return nullptr;
    }

    // True once `main` has stayed enabled, with no box of the program standing over it and no
    // tab coming or going, across two of its idle moments: the start-up work (restoring the last
    // session) is done and a command goes straight to the window. False after the limit.
    bool wait_for_commands(HWND main) {
        const ULONGLONG end = GetTickCount64() + program_limit_ms;
        LRESULT last_count = -1;
        while (GetTickCount64() < end) {
            WaitForInputIdle(process_.get(), idle_limit_ms);
            const LRESULT count = editors_of(main);
            if (!IsWindowEnabled(main) || box_shown()) {
                last_count = -1;
            } else if (count == last_count) {
                return true;
            } else {
                last_count = count;
            }
            Sleep(100);
        }
        return false;
    }

    static LRESULT editors_of(HWND main) {
        LRESULT count = 0;
        HWND child = nullptr;
        while ((child = FindWindowExW(main, child, source_window_class, nullptr)) != nullptr) {
            ++count;
        }
        return count;
    }

    // The shown editor once it holds the document of `units`; null, said on the output, when
    // the document did not appear.
    HWND editor_of_document(LRESULT units) {
        HWND main = wait_for_document(units);
        if (main == nullptr) {
            std::printf("the real program did not show the document\n");
            return nullptr;
        }
        return visible_editor_of(main);
    }

private:
    bool box_shown() const {
        HWND window = nullptr;
        while ((window = FindWindowExW(nullptr, window, box_class, nullptr)) != nullptr) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == id_ && IsWindowVisible(window)) {
                return true;
            }
        }
        return false;
    }

    static constexpr wchar_t box_class[] = L"#32770";
    UniqueHandle process_;
    DWORD id_ = 0;
    HWND main_ = nullptr;
};

} // namespace pellix::bench
