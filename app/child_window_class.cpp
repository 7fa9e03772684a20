#include "app/child_window_class.h"

#include "app/main_window_state.h"

namespace pellix {

bool register_child_window_class(const wchar_t* name, WNDPROC procedure, UINT style) {
    const WNDCLASSEXW window_class{
        .cbSize = sizeof(WNDCLASSEXW),
        .style = style,
        .lpfnWndProc = procedure,
        .cbClsExtra = 0,
        .cbWndExtra = 0,
        .hInstance = instance,
        .hIcon = nullptr,
        .hCursor = LoadCursorW(nullptr, IDC_ARROW),
        .hbrBackground = nullptr,
        .lpszMenuName = nullptr,
        .lpszClassName = name,
        .hIconSm = nullptr,
    };
    return RegisterClassExW(&window_class) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

} // namespace pellix
