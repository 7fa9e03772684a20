#pragma once

#include <windows.h>

#include <string>
#include <utility>

#include "app/main_window_create.h"
#include "app/main_window_state.h"
#include "app/settings.h"

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

// Points the program's settings at a test key, starting from no settings; returns the key to
// give back to `restore_settings_key` when the test ends.
inline std::wstring use_settings_key(const std::wstring& key) {
    std::wstring previous = std::exchange(settings_key, key);
    settings = {};
    return previous;
}
inline void restore_settings_key(const std::wstring& previous) {
    settings_key = previous;
    settings = {};
}

} // namespace pellix::test
