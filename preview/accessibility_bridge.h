#pragma once

// The bridge between a window that exposes text to UI Automation (the source editor, the
// preview) and its text provider. UI Automation calls providers on its own threads, but window
// data may only be touched on the UI thread: provider code therefore never reads the window
// directly. It packages its work as a small body, sends it to the window with
// WM_APP_ACCESSIBILITY_CALL, the window runs it while handling that message, and the result
// travels back. The shared State outlives the window while clients still hold providers; once
// the window detaches every further question is answered with UIA_E_ELEMENTNOTAVAILABLE.

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/uia_text.h"

namespace pellix {

// The text part of a snapshot, never changed once handed out. A window whose text did not
// change may hand out the same value again, so that provider calls on a large unchanged text
// neither copy it nor derive its unit boundaries again: the provider keeps those it derives here.
struct AccessibleText {
    std::u16string text;
    std::vector<std::uint64_t> cluster_starts;
    std::vector<std::uint64_t> line_starts;
    std::vector<std::uint64_t> paragraph_starts;

    // The provider's sorted boundaries per text unit, built on first use; guarded by `mutex`.
    mutable std::mutex mutex;
    mutable std::array<std::shared_ptr<const std::vector<std::uint64_t>>, 7> unit_boundaries;
};

// A consistent copy of what a provider call needs, taken on the UI thread. Offsets are UTF-16
// offsets into `text`. The boundary lists need not be sorted or complete: the provider sorts
// them and adds 0 and the text length.
struct AccessibleSnapshot {
    std::u16string text;
    std::uint64_t anchor = 0;
    std::uint64_t caret = 0; // the active end of the selection
    std::uint64_t first_visible = 0;
    std::uint64_t visible_end = 0; // exclusive
    std::vector<std::uint64_t> cluster_starts;
    std::vector<std::uint64_t> line_starts;
    std::vector<std::uint64_t> paragraph_starts;
    // When set, the text and the three lists come from here and the four fields above are
    // ignored.
    std::shared_ptr<const AccessibleText> shared;
};

// How a window describes itself to UI Automation. Every callable runs on the UI thread.
struct AccessibilityCallbacks {
    std::wstring name = L"Markdown preview";
    // true: control type Document and read-only; false: control type Edit, read-only state
    // from `is_read_only`.
    bool document = true;
    std::function<bool()> is_read_only;
    std::function<AccessibleSnapshot()> snapshot;
    // Screen rectangles of [start, end), four values each: x, y, width, height.
    std::function<std::vector<double>(unsigned long long start, unsigned long long end)> bounds;
    // The text offset at a point in client pixels.
    std::function<unsigned long long(POINT client)> offset_at;
    std::function<void(unsigned long long anchor, unsigned long long caret)> select;
    std::function<void(unsigned long long offset)> scroll_into_view;
};

// Sent by UI Automation threads to the window: wParam 0, lParam the PendingCall.
inline constexpr UINT WM_APP_ACCESSIBILITY_CALL = WM_APP + 0x51;

struct PendingCall;

// The binding a window embeds: its State and its provider.
struct PreviewAccessibility {
    // Shared by the binding, the provider and every range.
    struct State {
        HWND hwnd = nullptr;
        // 1 from creation until detach; read without the lock.
        std::atomic<std::uint8_t> live{1};
        std::wstring name = L"Markdown preview";
        bool document = true;
        std::function<bool()> is_read_only;
        std::function<AccessibleSnapshot()> snapshot;
        std::function<std::vector<double>(unsigned long long, unsigned long long)> bounds;
        std::function<unsigned long long(POINT)> offset_at;
        std::function<void(unsigned long long, unsigned long long)> select;
        std::function<void(unsigned long long)> scroll_into_view;
        // The binding's provider, not owned here; cleared by detach. UI thread only.
        IRawElementProviderSimple* provider = nullptr;
        // Guards `pending` only; never held while a body runs or a message is sent.
        std::mutex mutex;
        // Calls sent to the window and not yet taken.
        std::set<PendingCall*> pending;
    };

    PreviewAccessibility() = default;
    PreviewAccessibility(const PreviewAccessibility&) = delete;
    PreviewAccessibility& operator=(const PreviewAccessibility&) = delete;
    ~PreviewAccessibility();

    std::shared_ptr<State> state;
    IRawElementProviderSimple* provider = nullptr; // holds one reference
};

// One question of a client thread, living on that thread's stack while it waits.
struct PendingCall {
    PreviewAccessibility::State* state = nullptr;
    std::function<void()> body;
    HRESULT result = uia::e_element_not_available;
};

// Replaces any earlier State of the binding with a new live one for `hwnd`, moving the
// description in, and creates the window's provider. UI thread.
void attach_accessibility_state(PreviewAccessibility& binding, HWND hwnd,
                                AccessibilityCallbacks&& description);

// Disconnects the binding's provider from UI Automation, marks the State dead and drops the
// binding's provider and State; providers and ranges still held by clients keep the dead State
// alive and answer UIA_E_ELEMENTNOTAVAILABLE. Does nothing for an unattached binding. UI thread,
// outside a sent message (a window calls it while it is being destroyed).
void detach_accessibility_state(PreviewAccessibility& binding);

// Runs `body` on the State's window thread and waits for it (client threads). Answers S_OK,
// E_FAIL when the body is empty or throws, or UIA_E_ELEMENTNOTAVAILABLE when the State is
// missing or dead or the window did not take the call.
HRESULT invoke_on_ui_thread(const std::shared_ptr<PreviewAccessibility::State>& state,
                            const std::function<void()>& body);

// The window's handler of WM_APP_ACCESSIBILITY_CALL; always answers 0. A pointer that is not a
// pending call of this binding's State (stale or forged) is never dereferenced.
LRESULT run_accessibility_call(PreviewAccessibility& binding, PendingCall* call);

// Raises, in this order, the text-changed, selection-changed and focus-changed events for the
// flags set, while the State is live, a provider exists and a client listens. UI thread.
void raise_accessibility_events(PreviewAccessibility& binding, bool text_changed,
                                bool selection_changed, bool focus);

// The window's answer to WM_GETOBJECT: true with `result` set when UI Automation asks for the
// root object and the binding has a provider; false when the message is not for us.
bool answer_accessibility_object(PreviewAccessibility& binding, HWND hwnd, WPARAM wparam,
                                 LPARAM lparam, LRESULT& result);

} // namespace pellix
