#pragma once

#include <windows.h>

#include "app/main_window_create.h"
#include "app/main_window_state.h"

namespace pellix::test {

// The real main window made in this process, hidden. Several suites of one test program make
// it, so its class may already be registered by another.
inline HWND make_main_window() {
    instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof(WNDCLASSEXW);
    if (!register_main_window_class() &&
        !GetClassInfoExW(instance, main_window_class(), &existing)) {
        return nullptr;
    }
    return create_main_window();
}

} // namespace pellix::test
