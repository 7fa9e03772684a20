#include "app/message_loop.h"

#include <algorithm>

#include "app/accelerators.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/settings.h"

namespace pellix {

namespace {

constexpr unsigned long find_forward = 1;  // FR_DOWN
constexpr unsigned long find_next = 8;     // FR_FINDNEXT
constexpr unsigned long find_replace = 16; // FR_REPLACE
constexpr unsigned command_find = 206;
constexpr unsigned command_replace = 208;
constexpr int outline_button = 304;
constexpr int watch_button = 324;
constexpr int status_item_id = 360;
constexpr wchar_t preview_class[] = L"Pellix.DirectWrite.Preview";

bool key_held(int key) {
    return (GetKeyState(key) & 0x8000) != 0;
}

HWND preview_window() {
    if (chrome.preview != nullptr) {
        return chrome.preview;
    }
    return chrome.preview_host != nullptr
               ? FindWindowExW(chrome.preview_host, nullptr, preview_class, nullptr)
               : nullptr;
}

HWND child_with_id(HWND parent, int id) {
    return parent != nullptr ? GetDlgItem(parent, id) : nullptr;
}

bool is_or_inside(HWND window, HWND container) {
    return container != nullptr && window != nullptr &&
           (window == container || IsChild(container, window));
}

void move_focus_on_f6() {
    const std::vector<HWND> ring = usable_windows(focus_ring());
    if (HWND next = next_focus(ring, GetFocus(), key_held(VK_SHIFT))) {
        SetFocus(next);
    }
}

bool find_bar_shown() {
    return chrome.find_bar != nullptr &&
           (GetWindowLongPtrW(chrome.find_bar, GWL_STYLE) & WS_VISIBLE) != 0;
}

// The find bar's own keys while a key goes to it; false sends the key on.
bool find_bar_key(const MSG& message) {
    if (message.message != WM_KEYDOWN || !find_bar_shown() ||
        !is_or_inside(message.hwnd, chrome.find_bar)) {
        return false;
    }
    const bool in_box = message.hwnd == chrome.find_box || message.hwnd == chrome.replace_box;
    switch (message.wParam) {
    case 'A':
        if (key_held(VK_CONTROL) && in_box) {
            SendMessageW(message.hwnd, EM_SETSEL, 0, -1);
            return true;
        }
        return false;
    case VK_ESCAPE:
        hide_find_bar();
        return true;
    case VK_RETURN: {
        unsigned long flags = key_held(VK_SHIFT) ? 0 : find_forward;
        flags |= message.hwnd == chrome.replace_box ? find_replace : find_next;
        request_find(flags | find_bar_options());
        return true;
    }
    default:
        return false;
    }
}

// Esc in the active editor closes the find bar it was searched with, as in the bar itself: the
// focus comes back to the editor after Replace All, so that Ctrl+Z undoes it. The completion
// popup, when open, takes Esc first.
bool editor_closes_find_bar(const MSG& message) {
    if (message.message != WM_KEYDOWN || message.wParam != VK_ESCAPE || !find_bar_shown() ||
        message.hwnd != chrome.editor || chrome.editor == nullptr || completion_visible()) {
        return false;
    }
    hide_find_bar();
    return true;
}

void translate_and_dispatch(const MSG& message) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

// Keys while the focus is inside the visible find bar; false when the focus is elsewhere.
bool find_bar_focus_key(MSG& message, HACCEL accelerators) {
    if (!find_bar_shown() || !is_or_inside(GetFocus(), chrome.find_bar)) {
        return false;
    }
    if (message.message == WM_KEYDOWN && key_held(VK_CONTROL)) {
        switch (message.wParam) {
        case 'A':
        case 'C':
        case 'V':
        case 'X':
        case 'Y':
        case 'Z':
            if (!IsDialogMessageW(chrome.find_bar, &message)) {
                translate_and_dispatch(message);
            }
            return true;
        case 'F':
            run_command(command_find);
            return true;
        case 'H':
            run_command(command_replace);
            return true;
        default:
            break;
        }
    }
    if (!translate_accelerator(main_window, accelerators, message) &&
        !IsDialogMessageW(chrome.find_bar, &message)) {
        translate_and_dispatch(message);
    }
    return true;
}

bool more_keys_queued(const MSG& message) {
    if (message.message < WM_KEYFIRST || message.message > WM_KEYLAST) {
        return false;
    }
    MSG next{};
    return PeekMessageW(&next, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_NOREMOVE | PM_NOYIELD) != FALSE;
}

void route(MSG& message, HACCEL accelerators) {
    const bool key_down = message.message == WM_KEYDOWN;
    if (key_down && message.wParam == VK_ESCAPE && replace_all_running()) {
        cancel_replace_all();
        return;
    }
    if (key_down && message.wParam == VK_F6) {
        move_focus_on_f6();
        return;
    }
    HWND preview = preview_window();
    if (key_down && preview != nullptr && message.hwnd == preview && key_held(VK_CONTROL) &&
        (message.wParam == 'A' || message.wParam == 'C')) {
        SendMessageW(preview, WM_KEYDOWN, message.wParam, message.lParam);
        return;
    }
    if (find_bar_key(message) || find_bar_focus_key(message, accelerators) ||
        editor_closes_find_bar(message)) {
        return;
    }
    if (main_window != nullptr && translate_accelerator(main_window, accelerators, message)) {
        return;
    }
    HWND focus = GetFocus();
    const bool in_pane = focus != nullptr && (focus == chrome.editor || focus == preview);
    if (in_pane || main_window == nullptr || !IsDialogMessageW(main_window, &message)) {
        translate_and_dispatch(message);
    }
}

} // namespace

std::vector<HWND> focus_ring() {
    return {
        chrome.tab_control,
        child_with_id(chrome.view_switcher, settings.view),
        child_with_id(chrome.view_switcher, outline_button),
        child_with_id(chrome.view_switcher, watch_button),
        chrome.hide_source,
        chrome.editor,
        chrome.hide_preview,
        preview_window(),
        chrome.headings_button,
        chrome.tasks_button,
        chrome.outline_options,
        chrome.outline_tree,
        chrome.find_box,
        child_with_id(chrome.status_strip, status_item_id),
    };
}

std::vector<HWND> usable_windows(const std::vector<HWND>& ring) {
    std::vector<HWND> usable;
    for (HWND window : ring) {
        if (window != nullptr && IsWindowVisible(window) && IsWindowEnabled(window)) {
            usable.push_back(window);
        }
    }
    return usable;
}

HWND next_focus(const std::vector<HWND>& ring, HWND focus, bool backward) {
    if (ring.empty()) {
        return nullptr;
    }
    const auto found = std::find(ring.begin(), ring.end(), focus);
    const size_t count = ring.size();
    if (found == ring.end()) {
        return backward ? ring.back() : ring.front();
    }
    const size_t index = static_cast<size_t>(found - ring.begin());
    return ring[backward ? (index + count - 1) % count : (index + 1) % count];
}

int run_message_loop(HACCEL accelerators) {
    MSG message{};
    for (;;) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            return 0;
        }
        if (got == -1) {
            return 1;
        }
        keys_queued = more_keys_queued(message);
        route(message, accelerators);
        keys_queued = false;
    }
}

} // namespace pellix
