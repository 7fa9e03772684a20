#pragma once

// A message-only window of a class of its own, for tests that need a window of this thread to
// answer messages another thread sends.

#include <windows.h>

namespace pellix::test {

// Registers the class on first use; null when the window cannot be made.
inline HWND message_window(const wchar_t* class_name, WNDPROC procedure) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = class_name;
    RegisterClassW(&window_class);
    return CreateWindowExW(0, class_name, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           window_class.hInstance, nullptr);
}

} // namespace pellix::test
