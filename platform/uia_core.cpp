#include "platform/uia_core.h"

namespace pellix::uia {
namespace {

template <class Function> void resolve(HMODULE module, const char* name, Function& slot) {
    // GetProcAddress answers a generic FARPROC; the cast goes through void* to keep
    // -Wcast-function-type quiet about the deliberate signature change.
    slot = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

CoreFunctions load_core_functions() {
    CoreFunctions functions;
    HMODULE module = LoadLibraryW(L"UIAutomationCore.dll");
    if (!module) {
        return functions;
    }
    resolve(module, "UiaClientsAreListening", functions.clients_are_listening);
    resolve(module, "UiaRaiseAutomationEvent", functions.raise_automation_event);
    resolve(module, "UiaRaiseNotificationEvent", functions.raise_notification_event);
    resolve(module, "UiaReturnRawElementProvider", functions.return_raw_element_provider);
    resolve(module, "UiaHostProviderFromHwnd", functions.host_provider_from_hwnd);
    resolve(module, "UiaGetReservedNotSupportedValue", functions.get_reserved_not_supported_value);
    resolve(module, "UiaDisconnectProvider", functions.disconnect_provider);
    return functions;
}

} // namespace

CoreFunctions& core_functions() {
    static CoreFunctions functions = load_core_functions();
    return functions;
}

bool clients_are_listening() {
    auto function = core_functions().clients_are_listening;
    return function && function() != FALSE;
}

HRESULT raise_automation_event(IRawElementProviderSimple* provider, EVENTID id) {
    auto function = core_functions().raise_automation_event;
    return function ? function(provider, id) : e_function_missing;
}

HRESULT raise_notification_event(IRawElementProviderSimple* provider, NotificationKind kind,
                                 NotificationProcessing processing, BSTR text, BSTR activity_id) {
    auto function = core_functions().raise_notification_event;
    return function ? function(provider, kind, processing, text, activity_id) : e_function_missing;
}

LRESULT return_raw_element_provider(HWND hwnd, WPARAM wparam, LPARAM lparam,
                                    IRawElementProviderSimple* provider) {
    auto function = core_functions().return_raw_element_provider;
    return function ? function(hwnd, wparam, lparam, provider) : 0;
}

HRESULT host_provider_from_hwnd(HWND hwnd, IRawElementProviderSimple** provider) {
    if (!provider) {
        return E_POINTER;
    }
    *provider = nullptr;
    auto function = core_functions().host_provider_from_hwnd;
    return function ? function(hwnd, provider) : e_function_missing;
}

HRESULT get_reserved_not_supported_value(IUnknown** value) {
    if (!value) {
        return E_POINTER;
    }
    *value = nullptr;
    auto function = core_functions().get_reserved_not_supported_value;
    return function ? function(value) : e_function_missing;
}

HRESULT disconnect_provider(IRawElementProviderSimple* provider) {
    auto function = core_functions().disconnect_provider;
    return function ? function(provider) : e_function_missing;
}

} // namespace pellix::uia
