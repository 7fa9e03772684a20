#pragma once

// A hidden window with an accessibility binding over fake callbacks, and a way to call its
// providers from a second thread the way a screen reader does, while this thread serves the
// window's messages.

#include <windows.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/unique_handle.h"
#include "preview/accessibility_bridge.h"

namespace pellix::test {

// What the fake callbacks saw, and what they answer with. Touched on the UI thread only.
struct FakeWindowData {
    AccessibleSnapshot snapshot;
    bool snapshot_throws = false;
    std::vector<DWORD> callback_threads;
    std::vector<std::pair<unsigned long long, unsigned long long>> selections;
    std::vector<unsigned long long> scrolls;
    std::vector<POINT> points;
};

class AccessibleWindow {
public:
    AccessibleWindow() {
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = &AccessibleWindow::window_proc;
        window_class.hInstance = GetModuleHandleW(nullptr);
        window_class.lpszClassName = L"Pellix.Test.Accessible";
        RegisterClassW(&window_class); // a second registration fails harmlessly
        hwnd = CreateWindowExW(0, L"Pellix.Test.Accessible", L"", WS_OVERLAPPEDWINDOW, 40, 50, 300,
                               200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~AccessibleWindow() {
        detach_accessibility_state(binding);
        DestroyWindow(hwnd);
    }

    // Callbacks over `data`, each noting the thread it ran on.
    AccessibilityCallbacks fake_callbacks() {
        AccessibilityCallbacks callbacks;
        callbacks.snapshot = [this] {
            note_thread();
            if (data.snapshot_throws) {
                throw std::runtime_error("snapshot failed");
            }
            return data.snapshot;
        };
        callbacks.bounds = [this](unsigned long long start, unsigned long long end) {
            note_thread();
            return std::vector<double>{double(start), double(end), 3.5, 4.0};
        };
        callbacks.offset_at = [this](POINT point) {
            note_thread();
            data.points.push_back(point);
            return 7ull;
        };
        callbacks.select = [this](unsigned long long anchor, unsigned long long caret) {
            note_thread();
            data.selections.emplace_back(anchor, caret);
        };
        callbacks.scroll_into_view = [this](unsigned long long offset) {
            note_thread();
            data.scrolls.push_back(offset);
        };
        return callbacks;
    }

    void attach(AccessibilityCallbacks callbacks) {
        attach_accessibility_state(binding, hwnd, std::move(callbacks));
    }

    HWND hwnd = nullptr;
    PreviewAccessibility binding;
    FakeWindowData data;
    std::atomic<int> calls_received{0};
    DWORD ui_thread = GetCurrentThreadId();

private:
    void note_thread() { data.callback_threads.push_back(GetCurrentThreadId()); }

    static LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
        auto* self = reinterpret_cast<AccessibleWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self && message == WM_APP_ACCESSIBILITY_CALL) {
            ++self->calls_received;
            return run_accessibility_call(self->binding, reinterpret_cast<PendingCall*>(lparam));
        }
        return DefWindowProcW(hwnd, message, wparam, lparam);
    }
};

// Runs `client` on a new thread and serves this thread's messages until it ends.
inline void on_client_thread(const std::function<void()>& client) {
    UniqueHandle finished(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread thread([&] {
        client();
        SetEvent(finished.get());
    });
    HANDLE handle = finished.get();
    while (MsgWaitForMultipleObjectsEx(1, &handle, INFINITE, QS_ALLINPUT, 0) != WAIT_OBJECT_0) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
    }
    thread.join();
}

} // namespace pellix::test
