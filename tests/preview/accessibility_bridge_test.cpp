#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>
#include <vector>

#include "platform/uia_core.h"
#include "tests/preview/accessible_window.h"

namespace pellix {
namespace {

using test::AccessibleWindow;
using test::on_client_thread;

TEST(AccessibilityBridge, BodyRunsOnTheWindowThreadAndFailuresBecomeEFail) {
    AccessibleWindow window;
    window.attach(window.fake_callbacks());
    auto state = window.binding.state;
    DWORD body_thread = 0;
    HRESULT ok = E_UNEXPECTED, thrown = S_OK, empty = S_OK;
    on_client_thread([&] {
        ok = invoke_on_ui_thread(state, [&] { body_thread = GetCurrentThreadId(); });
        thrown = invoke_on_ui_thread(state, [] { throw std::runtime_error("no"); });
        empty = invoke_on_ui_thread(state, std::function<void()>());
    });
    EXPECT_EQ(ok, S_OK);
    EXPECT_EQ(body_thread, window.ui_thread);
    EXPECT_EQ(thrown, E_FAIL);
    EXPECT_EQ(empty, E_FAIL);
    EXPECT_EQ(window.calls_received, 3);
}

TEST(AccessibilityBridge, DetachedStateAnswersNotAvailableWithoutSending) {
    AccessibleWindow window;
    window.attach(window.fake_callbacks());
    auto state = window.binding.state;
    IRawElementProviderSimple* provider = window.binding.provider;
    provider->AddRef(); // a client's reference outlives the window's binding
    detach_accessibility_state(window.binding);
    EXPECT_EQ(state->live.load(), 0);
    EXPECT_EQ(state->provider, nullptr);
    EXPECT_FALSE(window.binding.state);
    EXPECT_EQ(window.binding.provider, nullptr);

    bool ran = false;
    HRESULT invoked = S_OK, property = S_OK, host = S_OK;
    VARIANT value;
    on_client_thread([&] {
        invoked = invoke_on_ui_thread(state, [&] { ran = true; });
        property = provider->GetPropertyValue(uia::name_property_id, &value);
        IRawElementProviderSimple* host_provider = nullptr;
        host = provider->get_HostRawElementProvider(&host_provider);
    });
    EXPECT_EQ(invoked, uia::e_element_not_available);
    EXPECT_EQ(property, uia::e_element_not_available);
    EXPECT_EQ(value.vt, VT_EMPTY);
    EXPECT_EQ(host, uia::e_element_not_available);
    EXPECT_FALSE(ran);
    EXPECT_EQ(window.calls_received, 0);
    EXPECT_EQ(invoke_on_ui_thread(nullptr, [] {}), uia::e_element_not_available);
    provider->Release();
}

TEST(AccessibilityBridge, CallsNotPendingOnThisStateAreIgnored) {
    AccessibleWindow window;
    window.attach(window.fake_callbacks());
    bool ran = false;
    PendingCall forged{window.binding.state.get(), [&] { ran = true; },
                       uia::e_element_not_available};
    EXPECT_EQ(
        SendMessageW(window.hwnd, WM_APP_ACCESSIBILITY_CALL, 0, reinterpret_cast<LPARAM>(&forged)),
        0);
    EXPECT_EQ(SendMessageW(window.hwnd, WM_APP_ACCESSIBILITY_CALL, 0, 0), 0);
    EXPECT_FALSE(ran);
    EXPECT_EQ(forged.result, uia::e_element_not_available);

    // A call pending on another window's State is not this window's to run.
    AccessibleWindow other;
    other.attach(other.fake_callbacks());
    {
        std::lock_guard lock(other.binding.state->mutex);
        other.binding.state->pending.insert(&forged);
    }
    run_accessibility_call(window.binding, &forged);
    EXPECT_FALSE(ran);
    run_accessibility_call(other.binding, &forged);
    EXPECT_TRUE(ran);
    EXPECT_EQ(forged.result, S_OK);
    ran = false;
    run_accessibility_call(other.binding, &forged); // taken once only
    EXPECT_FALSE(ran);
}

TEST(AccessibilityBridge, AttachingAgainLeavesOneLiveState) {
    AccessibleWindow window;
    AccessibilityCallbacks first = window.fake_callbacks();
    first.name = L"Source editor";
    first.document = false;
    window.attach(std::move(first));
    auto old_state = window.binding.state;
    EXPECT_EQ(old_state->name, L"Source editor");
    EXPECT_FALSE(old_state->document);
    EXPECT_EQ(old_state->hwnd, window.hwnd);
    EXPECT_EQ(old_state->provider, window.binding.provider);

    window.attach(window.fake_callbacks());
    EXPECT_EQ(old_state->live.load(), 0);
    EXPECT_NE(window.binding.state, old_state);
    EXPECT_EQ(window.binding.state->live.load(), 1);
    EXPECT_EQ(window.binding.state->name, L"Markdown preview");
    EXPECT_TRUE(window.binding.state->document);
    EXPECT_EQ(old_state.use_count(), 1); // the old provider was released with the binding
}

// Fakes of the uiautomationcore entry points, to see which events are raised.
std::vector<std::pair<IRawElementProviderSimple*, EVENTID>> raised;
BOOL listening = FALSE;
std::vector<LPARAM> object_requests;

BOOL WINAPI fake_listening() {
    return listening;
}
HRESULT WINAPI fake_raise(IRawElementProviderSimple* provider, EVENTID id) {
    raised.emplace_back(provider, id);
    return S_OK;
}
LRESULT WINAPI fake_return_provider(HWND, WPARAM, LPARAM lparam, IRawElementProviderSimple*) {
    object_requests.push_back(lparam);
    return 1234;
}
// The provider disconnected, and whether its window still offered it and it was still live then.
std::vector<std::tuple<IRawElementProviderSimple*, bool, bool>> disconnections;
PreviewAccessibility* disconnecting = nullptr;
HRESULT WINAPI fake_disconnect(IRawElementProviderSimple* provider) {
    LRESULT result = 0;
    if (disconnecting) {
        disconnections.emplace_back(
            provider, answer_accessibility_object(*disconnecting, nullptr, 0, -25, result),
            disconnecting->state->live.load() != 0);
    }
    return S_OK;
}

class FakeUiaCore : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = uia::core_functions();
        uia::core_functions().clients_are_listening = &fake_listening;
        uia::core_functions().raise_automation_event = &fake_raise;
        uia::core_functions().return_raw_element_provider = &fake_return_provider;
        uia::core_functions().disconnect_provider = &fake_disconnect;
        disconnections.clear();
        disconnecting = nullptr;
        raised.clear();
        object_requests.clear();
        listening = FALSE;
    }
    void TearDown() override { uia::core_functions() = saved_; }

private:
    uia::CoreFunctions saved_;
};

TEST_F(FakeUiaCore, EventsAreRaisedInOrderOnlyWhileLiveAndListened) {
    AccessibleWindow window;
    raise_accessibility_events(window.binding, true, true, true); // never attached
    window.attach(window.fake_callbacks());
    raise_accessibility_events(window.binding, true, true, true); // nobody listens
    EXPECT_TRUE(raised.empty());

    listening = TRUE;
    raise_accessibility_events(window.binding, true, true, true);
    raise_accessibility_events(window.binding, false, true, false);
    using Event = std::pair<IRawElementProviderSimple*, EVENTID>;
    IRawElementProviderSimple* provider = window.binding.provider;
    EXPECT_EQ(raised,
              (std::vector<Event>{
                  {provider, 20015}, {provider, 20014}, {provider, 20005}, {provider, 20014}}));

    raised.clear();
    detach_accessibility_state(window.binding);
    raise_accessibility_events(window.binding, true, true, true);
    EXPECT_TRUE(raised.empty());
}

TEST_F(FakeUiaCore, OnlyTheRootObjectRequestIsAnswered) {
    AccessibleWindow window;
    LRESULT result = 0;
    EXPECT_FALSE(answer_accessibility_object(window.binding, window.hwnd, 0, -25, result));
    window.attach(window.fake_callbacks());
    EXPECT_FALSE(answer_accessibility_object(window.binding, window.hwnd, 0, OBJID_CLIENT, result));
    EXPECT_TRUE(answer_accessibility_object(window.binding, window.hwnd, 0,
                                            static_cast<LPARAM>(0xFFFFFFE7u), result));
    EXPECT_EQ(result, 1234);
    EXPECT_EQ(object_requests.size(), 1u);
}

// Still live, so that UI Automation can find the runtime id it derives from the host window;
// no longer offered, so that a re-entrant WM_GETOBJECT does not hand it out again.
TEST_F(FakeUiaCore, DetachingDisconnectsTheProviderWhileItCanStillAnswer) {
    AccessibleWindow window;
    disconnecting = &window.binding;
    window.attach(window.fake_callbacks());
    IRawElementProviderSimple* provider = window.binding.provider;
    detach_accessibility_state(window.binding);
    detach_accessibility_state(window.binding); // nothing left to disconnect
    EXPECT_EQ(disconnections, (decltype(disconnections){{provider, false, true}}));
}

TEST(AccessibilityCore, RealModuleResolvesWithoutAStaticImport) {
    // Wine lacks UiaRaiseNotificationEvent; the rest exists on Windows and Wine alike.
    EXPECT_NE(uia::core_functions().raise_automation_event, nullptr);
    EXPECT_NE(uia::core_functions().host_provider_from_hwnd, nullptr);
    EXPECT_NE(uia::core_functions().return_raw_element_provider, nullptr);
    IRawElementProviderSimple* nothing = reinterpret_cast<IRawElementProviderSimple*>(1);
    if (!uia::core_functions().raise_notification_event) {
        EXPECT_EQ(uia::raise_notification_event(nothing, NotificationKind_Other,
                                                NotificationProcessing_MostRecent, nullptr,
                                                nullptr),
                  uia::e_function_missing);
    }
}

} // namespace
} // namespace pellix
