#pragma once

// A real editor window under a plain parent that records the notifications it receives, with
// the colours a host would hand down. Tests drive the editor through messages only, apart from
// the few record fields that a host sets directly.

#include <windows.h>
#include <richedit.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/palette_table.h"
#include "editor/source_host.h"
#include "editor/source_record.h"
#include "editor/source_window.h"
#include "tests/bounded_wait.h"

namespace pellix::test {

inline const PaletteTable light_table{0xFAFAFA, 0xF2F4F5, 0x1E1E1E, 0x696969, 0x0078AA, 0xE1E4E6,
                                      0xE6E9EB, 0xECEEF0, 0x0078D4, 0xDCECF4, 0xA9CDE0};
inline const PaletteTable dark_table{0x1F1F1F, 0x181818, 0xEBEBEB, 0x9B9B9B, 0x7ECFF0, 0x2B2B2B,
                                     0x2A2A2A, 0x2B2D30, 0x458FEA, 0x2F3A40, 0x3D4C54};

// Holds keys down in this thread's keyboard state, which GetKeyState reads.
class HeldKeys {
public:
    HeldKeys(std::initializer_list<int> keys) {
        GetKeyboardState(saved_);
        BYTE state[256];
        std::memcpy(state, saved_, sizeof(state));
        for (int key : keys) {
            state[key] = 0x80;
        }
        SetKeyboardState(state);
    }
    ~HeldKeys() { SetKeyboardState(saved_); }
    HeldKeys(const HeldKeys&) = delete;
    HeldKeys& operator=(const HeldKeys&) = delete;

private:
    BYTE saved_[256] = {};
};

inline void install_test_host() {
    SourceHost host;
    host.paint_colours = [](bool dark) { return PaintColours{dark ? dark_table : light_table}; };
    host.search_term = [] { return std::wstring(); };
    install_source_host(std::move(host));
}

struct Notification {
    UINT message = 0; // WM_COMMAND or WM_NOTIFY
    UINT code = 0;
    int id = 0;
    HWND from = nullptr;
    CHARRANGE range{};
};

inline std::vector<Notification>& received() {
    static std::vector<Notification> list;
    return list;
}

inline LRESULT CALLBACK recording_parent_proc(HWND window, UINT message, WPARAM wparam,
                                              LPARAM lparam) {
    if (message == WM_COMMAND) {
        received().push_back(
            {WM_COMMAND, HIWORD(wparam), LOWORD(wparam), reinterpret_cast<HWND>(lparam), {}});
        return 0;
    }
    if (message == WM_NOTIFY) {
        const auto* header = reinterpret_cast<const NMHDR*>(lparam);
        Notification note{WM_NOTIFY, header->code, static_cast<int>(wparam), header->hwndFrom, {}};
        if (header->code == EN_SELCHANGE) {
            note.range = reinterpret_cast<const SELCHANGE*>(lparam)->chrg;
        }
        received().push_back(note);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

// Serves this thread's messages until `done` holds or the time runs out; false on time-out.
inline bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    return wait_until(done, limit);
}

inline constexpr int editor_id = 42;

// One parent for the whole program: without a window manager, Wine waits two seconds for every
// top-level window that is hidden or destroyed, so the parent stays and only editors come and go.
inline HWND shared_parent() {
    static HWND parent = [] {
        HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSW parent_class{};
        parent_class.lpfnWndProc = recording_parent_proc;
        parent_class.hInstance = instance;
        parent_class.lpszClassName = L"Pellix.Test.EditorParent";
        RegisterClassW(&parent_class);
        return CreateWindowExW(0, L"Pellix.Test.EditorParent", L"Editor test",
                               WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 100, 100, nullptr,
                               nullptr, instance, nullptr);
    }();
    return parent;
}

// Wine 8 shows nothing that Direct2D draws into a child window's HWND render target, so tests
// that look at pixels use an editor that is a top-level window owned by the parent (notifications
// then go to the owner). Closing such a window costs the two-second wait above.
enum class Placement { child, top_level };

class EditorWindow {
public:
    explicit EditorWindow(int width = 600, int height = 400,
                          Placement placement = Placement::child) {
        install_test_host();
        HINSTANCE instance = GetModuleHandleW(nullptr);
        register_source_window_class(instance);
        parent = shared_parent();
        SetWindowPos(parent, HWND_BOTTOM, 0, 0, width, height, SWP_NOACTIVATE);
        const bool child = placement == Placement::child;
        const DWORD style = (child ? WS_CHILD : WS_POPUP) | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL;
        editor = CreateWindowExW(0, source_window_class, L"", style, 0, 0, width, height, parent,
                                 child ? reinterpret_cast<HMENU>(editor_id) : nullptr, instance,
                                 nullptr);
        received().clear();
    }
    ~EditorWindow() {
        DestroyWindow(editor);
        pump_until([] { return true; }, std::chrono::milliseconds(0));
    }
    EditorWindow(const EditorWindow&) = delete;
    EditorWindow& operator=(const EditorWindow&) = delete;

    LRESULT send(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) const {
        return SendMessageW(editor, message, wparam, lparam);
    }
    void set_text(const std::wstring& text) const {
        send(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    std::wstring text() const {
        const auto length = static_cast<std::size_t>(send(WM_GETTEXTLENGTH));
        std::wstring out(length + 1, L'\0');
        out.resize(static_cast<std::size_t>(
            send(WM_GETTEXT, out.size(), reinterpret_cast<LPARAM>(out.data()))));
        return out;
    }
    void select(std::int64_t start, std::int64_t end) const {
        send(EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
    }
    CHARRANGE selection() const {
        CHARRANGE range{};
        send(EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
        return range;
    }
    POINT scroll_position() const {
        POINT point{};
        send(EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&point));
        return point;
    }
    POINTL position_of(std::uint64_t offset) const {
        POINTL point{};
        send(EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&point), static_cast<LPARAM>(offset));
        return point;
    }
    std::uint64_t offset_at(LONG x, LONG y) const {
        POINTL point{x, y};
        return static_cast<std::uint64_t>(
            send(EM_CHARFROMPOS, 0, reinterpret_cast<LPARAM>(&point)));
    }
    Source& record() const { return *source_record(editor); }
    // Paints until no layout is left for a later paint.
    bool paint_fully() const {
        RedrawWindow(editor, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        return pump_until([this] { return !record().budget.last_paint_pending; },
                          std::chrono::seconds(10));
    }

    HWND parent = nullptr;
    HWND editor = nullptr;
};

} // namespace pellix::test
