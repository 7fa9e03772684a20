#include "platform/child_surfaces.h"

#include <windows.h>

namespace pellix {

namespace {

std::optional<bool> overridden;

} // namespace

// Wine's ntdll exports its version; Windows' never has.
bool running_under_wine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool child_drawing_apart() {
    static const bool apart = running_under_wine();
    return overridden.value_or(apart);
}

void override_child_drawing_apart(std::optional<bool> apart) {
    overridden = apart;
}

} // namespace pellix
