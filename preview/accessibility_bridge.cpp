#include "preview/accessibility_bridge.h"

#include <exception>
#include <utility>

#include "platform/uia_core.h"
#include "preview/text_provider.h"

namespace pellix {

namespace {

using State = PreviewAccessibility::State;

void move_description_into(State& state, AccessibilityCallbacks&& description) {
    state.name = std::move(description.name);
    state.document = description.document;
    state.is_read_only = std::move(description.is_read_only);
    state.snapshot = std::move(description.snapshot);
    state.bounds = std::move(description.bounds);
    state.offset_at = std::move(description.offset_at);
    state.select = std::move(description.select);
    state.scroll_into_view = std::move(description.scroll_into_view);
}

// Takes the call out of the pending set; false when it is not a call waiting on this State.
bool take_pending(State& state, PendingCall* call) {
    std::lock_guard lock(state.mutex);
    return state.pending.erase(call) != 0;
}

} // namespace

PreviewAccessibility::~PreviewAccessibility() {
    detach_accessibility_state(*this);
}

void attach_accessibility_state(PreviewAccessibility& binding, HWND hwnd,
                                AccessibilityCallbacks&& description) {
    detach_accessibility_state(binding);
    auto state = std::make_shared<State>();
    state->hwnd = hwnd;
    move_description_into(*state, std::move(description));
    binding.state = state;
    binding.provider = create_text_provider(std::move(state));
    binding.state->provider = binding.provider;
}

void detach_accessibility_state(PreviewAccessibility& binding) {
    // Out of the binding first: a WM_GETOBJECT that arrives while UI Automation disconnects
    // must not hand the provider out again.
    IRawElementProviderSimple* provider = std::exchange(binding.provider, nullptr);
    if (provider && binding.state && binding.state->live.load() != 0) {
        // Disconnected while still live: UI Automation finds its references by the runtime id
        // it derives from the host window, which a dead provider no longer reports. Clients
        // then get UIA_E_ELEMENTNOTAVAILABLE from UI Automation itself. The call fails harmlessly
        // inside a sent message and where the function is missing.
        uia::disconnect_provider(provider);
    }
    if (binding.state) {
        binding.state->live.exchange(0);
        binding.state->provider = nullptr;
    }
    if (provider) {
        provider->Release();
    }
    binding.state.reset();
}

HRESULT invoke_on_ui_thread(const std::shared_ptr<State>& state,
                            const std::function<void()>& body) {
    if (!state || state->live.load() == 0) {
        return uia::e_element_not_available;
    }
    // UI Automation methods answer with HRESULTs: a failure to copy the body or to take the
    // lock must not leave this function as an exception.
    try {
        PendingCall call{state.get(), body, uia::e_element_not_available};
        {
            std::lock_guard lock(state->mutex);
            state->pending.insert(&call);
        }
        SendMessageW(state->hwnd, WM_APP_ACCESSIBILITY_CALL, 0, reinterpret_cast<LPARAM>(&call));
        {
            std::lock_guard lock(state->mutex);
            state->pending.erase(&call);
        }
        return call.result;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

LRESULT run_accessibility_call(PreviewAccessibility& binding, PendingCall* call) {
    State* state = binding.state.get();
    if (call == nullptr || state == nullptr || state->live.load() == 0) {
        return 0;
    }
    try {
        if (!take_pending(*state, call)) {
            return 0;
        }
    } catch (...) {
        return 0;
    }
    try {
        if (!call->body) {
            call->result = E_FAIL;
            return 0;
        }
        call->body();
        call->result = S_OK;
    } catch (...) {
        call->result = E_FAIL;
    }
    return 0;
}

void raise_accessibility_events(PreviewAccessibility& binding, bool text_changed,
                                bool selection_changed, bool focus) {
    if (!binding.state || !binding.provider || binding.state->live.load() == 0 ||
        !uia::clients_are_listening()) {
        return;
    }
    if (text_changed) {
        uia::raise_automation_event(binding.provider, uia::text_changed_event_id);
    }
    if (selection_changed) {
        uia::raise_automation_event(binding.provider, uia::text_selection_changed_event_id);
    }
    if (focus) {
        uia::raise_automation_event(binding.provider, uia::automation_focus_changed_event_id);
    }
}

bool answer_accessibility_object(PreviewAccessibility& binding, HWND hwnd, WPARAM wparam,
                                 LPARAM lparam, LRESULT& result) {
    // The object id arrives as a 32-bit value; on 64-bit Windows the upper half of lParam is
    // not reliably sign-extended.
    if (static_cast<LONG>(static_cast<DWORD>(lparam)) != uia::root_object_id || !binding.provider) {
        return false;
    }
    result = uia::return_raw_element_provider(hwnd, wparam, lparam, binding.provider);
    return true;
}

} // namespace pellix
