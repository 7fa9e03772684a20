#pragma once

// The uiautomationcore functions the program uses, resolved at run time. A static import would
// keep the program from loading where one of them is missing (Wine 8 has no
// UiaRaiseNotificationEvent), and mingw-w64 ships no import library for the module anyway.

#include "platform/uia_text.h"

namespace pellix::uia {

// The resolved entry points; any of them is null when the module or the export is missing.
// Tests may replace entries to observe the calls.
struct CoreFunctions {
    BOOL(WINAPI* clients_are_listening)() = nullptr;
    HRESULT(WINAPI* raise_automation_event)(IRawElementProviderSimple*, EVENTID) = nullptr;
    HRESULT(WINAPI* raise_notification_event)
    (IRawElementProviderSimple*, NotificationKind, NotificationProcessing, BSTR, BSTR) = nullptr;
    LRESULT(WINAPI* return_raw_element_provider)
    (HWND, WPARAM, LPARAM, IRawElementProviderSimple*) = nullptr;
    HRESULT(WINAPI* host_provider_from_hwnd)(HWND, IRawElementProviderSimple**) = nullptr;
    HRESULT(WINAPI* get_reserved_not_supported_value)(IUnknown**) = nullptr;
    HRESULT(WINAPI* disconnect_provider)(IRawElementProviderSimple*) = nullptr;
};

// Loads "UIAutomationCore.dll" and looks the functions up on first use (thread-safe, once per
// process; the module stays loaded).
CoreFunctions& core_functions();

// Thin callers that treat a missing function as its harmless answer.
bool clients_are_listening(); // false when missing
HRESULT raise_automation_event(IRawElementProviderSimple* provider, EVENTID id);
HRESULT raise_notification_event(IRawElementProviderSimple* provider, NotificationKind kind,
                                 NotificationProcessing processing, BSTR text, BSTR activity_id);
LRESULT return_raw_element_provider(HWND hwnd, WPARAM wparam, LPARAM lparam,
                                    IRawElementProviderSimple* provider); // 0 when missing
HRESULT host_provider_from_hwnd(HWND hwnd, IRawElementProviderSimple** provider);
HRESULT get_reserved_not_supported_value(IUnknown** value);
// Fails with RPC_E_CANTCALLOUT_ININPUTSYNCCALL inside a sent message; Windows 7 lacks it.
HRESULT disconnect_provider(IRawElementProviderSimple* provider);

// What the callers above answer when their function is missing.
inline constexpr HRESULT e_function_missing = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);

} // namespace pellix::uia
