#pragma once

// UI Automation declarations that the mingw-w64 headers lack: the text pattern interfaces with
// their structures and enumerations, and the identifiers and error codes the providers answer
// with. Vtable order and IIDs follow the public UI Automation documentation (UIAutomationCore
// IDL). uiautomationcoreapi.h is deliberately not included: its C++ form does not compile
// (a parameter named `new`), and its functions are resolved at run time anyway (uia_core.h).

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <uiautomationcore.h>

namespace pellix::uia {

// Error codes.
inline constexpr HRESULT e_element_not_available = static_cast<HRESULT>(0x80040201);
inline constexpr HRESULT e_invalid_operation = static_cast<HRESULT>(0x80131509);

// The object id that WM_GETOBJECT carries when UI Automation asks for a window's provider.
inline constexpr LONG root_object_id = -25;

// Pattern, property, control type, attribute and event identifiers.
inline constexpr PATTERNID text_pattern_id = 10014;
inline constexpr PROPERTYID control_type_property_id = 30003;
inline constexpr PROPERTYID name_property_id = 30005;
inline constexpr PROPERTYID has_keyboard_focus_property_id = 30008;
inline constexpr PROPERTYID is_keyboard_focusable_property_id = 30009;
inline constexpr PROPERTYID is_control_element_property_id = 30016;
inline constexpr PROPERTYID is_content_element_property_id = 30017;
inline constexpr PROPERTYID is_password_property_id = 30019;
inline constexpr PROPERTYID is_text_pattern_available_property_id = 30040;
inline constexpr int edit_control_type_id = 50004;
inline constexpr int document_control_type_id = 50030;
inline constexpr TEXTATTRIBUTEID is_read_only_attribute_id = 40015;
inline constexpr EVENTID automation_focus_changed_event_id = 20005;
inline constexpr EVENTID text_selection_changed_event_id = 20014;
inline constexpr EVENTID text_changed_event_id = 20015;

} // namespace pellix::uia

// The documented types keep their documented names, so that code reads like the platform's.
extern "C" {

struct UiaPoint {
    double x;
    double y;
};

enum TextUnit {
    TextUnit_Character = 0,
    TextUnit_Format = 1,
    TextUnit_Word = 2,
    TextUnit_Line = 3,
    TextUnit_Paragraph = 4,
    TextUnit_Page = 5,
    TextUnit_Document = 6,
};

enum TextPatternRangeEndpoint {
    TextPatternRangeEndpoint_Start = 0,
    TextPatternRangeEndpoint_End = 1,
};

enum SupportedTextSelection {
    SupportedTextSelection_None = 0,
    SupportedTextSelection_Single = 1,
    SupportedTextSelection_Multiple = 2,
};

enum NotificationKind {
    NotificationKind_ItemAdded = 0,
    NotificationKind_ItemRemoved = 1,
    NotificationKind_ActionCompleted = 2,
    NotificationKind_ActionAborted = 3,
    NotificationKind_Other = 4,
};

enum NotificationProcessing {
    NotificationProcessing_ImportantAll = 0,
    NotificationProcessing_ImportantMostRecent = 1,
    NotificationProcessing_All = 2,
    NotificationProcessing_MostRecent = 3,
    NotificationProcessing_CurrentThenMostRecent = 4,
};

} // extern "C"

struct ITextRangeProvider;

// {3589c92c-63f3-4367-99bb-ada653b77cf2}
MIDL_INTERFACE("3589c92c-63f3-4367-99bb-ada653b77cf2")
ITextProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetSelection(SAFEARRAY * *result) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVisibleRanges(SAFEARRAY * *result) = 0;
    virtual HRESULT STDMETHODCALLTYPE RangeFromChild(IRawElementProviderSimple * child,
                                                     ITextRangeProvider * *result) = 0;
    virtual HRESULT STDMETHODCALLTYPE RangeFromPoint(UiaPoint point,
                                                     ITextRangeProvider * *result) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DocumentRange(ITextRangeProvider * *result) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SupportedTextSelection(SupportedTextSelection *
                                                                 result) = 0;
};
__CRT_UUID_DECL(ITextProvider, 0x3589c92c, 0x63f3, 0x4367, 0x99, 0xbb, 0xad, 0xa6, 0x53, 0xb7, 0x7c,
                0xf2)

// {5347ad7b-c355-46f8-aff5-909033582f63}
MIDL_INTERFACE("5347ad7b-c355-46f8-aff5-909033582f63")
ITextRangeProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Clone(ITextRangeProvider * *result) = 0;
    virtual HRESULT STDMETHODCALLTYPE Compare(ITextRangeProvider * range, BOOL * result) = 0;
    virtual HRESULT STDMETHODCALLTYPE CompareEndpoints(
        TextPatternRangeEndpoint endpoint, ITextRangeProvider * target,
        TextPatternRangeEndpoint target_endpoint, int* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE ExpandToEnclosingUnit(TextUnit unit) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindAttribute(
        TEXTATTRIBUTEID attribute, VARIANT value, BOOL backward, ITextRangeProvider * *result) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindText(BSTR text, BOOL backward, BOOL ignore_case,
                                               ITextRangeProvider * *result) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAttributeValue(TEXTATTRIBUTEID attribute,
                                                        VARIANT * result) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBoundingRectangles(SAFEARRAY * *result) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetEnclosingElement(IRawElementProviderSimple * *result) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetText(int max_length, BSTR* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE Move(TextUnit unit, int count, int* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE MoveEndpointByUnit(TextPatternRangeEndpoint endpoint,
                                                         TextUnit unit, int count, int* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE MoveEndpointByRange(
        TextPatternRangeEndpoint endpoint, ITextRangeProvider * target,
        TextPatternRangeEndpoint target_endpoint) = 0;
    virtual HRESULT STDMETHODCALLTYPE Select() = 0;
    virtual HRESULT STDMETHODCALLTYPE AddToSelection() = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveFromSelection() = 0;
    virtual HRESULT STDMETHODCALLTYPE ScrollIntoView(BOOL align_to_top) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetChildren(SAFEARRAY * *result) = 0;
};
__CRT_UUID_DECL(ITextRangeProvider, 0x5347ad7b, 0xc355, 0x46f8, 0xaf, 0xf5, 0x90, 0x90, 0x33, 0x58,
                0x2f, 0x63)
