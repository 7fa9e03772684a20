#include "app/accelerators.h"

#include <vector>

namespace pellix {

namespace {

bool key_held(int key) {
    return (GetKeyState(key) & 0x8000) != 0;
}

bool modifiers_match(BYTE flags) {
    return ((flags & FCONTROL) != 0) == key_held(VK_CONTROL) &&
           ((flags & FSHIFT) != 0) == key_held(VK_SHIFT) &&
           ((flags & FALT) != 0) == key_held(VK_MENU);
}

// The entries of the table last asked about, copied once rather than at every key press.
const std::vector<ACCEL>& entries_of(HACCEL table) {
    static HACCEL copied = nullptr;
    static std::vector<ACCEL> entries;
    if (table != copied) {
        const int count = CopyAcceleratorTableW(table, nullptr, 0);
        entries.assign(static_cast<size_t>(count > 0 ? count : 0), ACCEL{});
        if (count > 0) {
            CopyAcceleratorTableW(table, entries.data(), count);
        }
        copied = table;
    }
    return entries;
}

// The command of the table's entry for this key press; 0 for none.
WORD shortcut_command(HACCEL table, const MSG& message) {
    if (message.message != WM_KEYDOWN && message.message != WM_SYSKEYDOWN) {
        return 0;
    }
    for (const ACCEL& entry : entries_of(table)) {
        if ((entry.fVirt & FVIRTKEY) != 0 && entry.key == message.wParam &&
            modifiers_match(entry.fVirt)) {
            return entry.cmd;
        }
    }
    return 0;
}

} // namespace

bool translate_accelerator(HWND window, HACCEL table, MSG& message) {
    if (window == nullptr || table == nullptr) {
        return false;
    }
    const WORD command = shortcut_command(table, message);
    if (command == 0) {
        return false;
    }
    if (IsWindowEnabled(window)) {
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(command, 1), 0);
    }
    return true;
}

} // namespace pellix
