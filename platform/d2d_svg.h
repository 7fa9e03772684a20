#pragma once

// The Direct2D SVG interfaces that the mingw-w64 headers lack (d2d1_3.h): the device context
// that can parse and draw SVG documents, and the document itself, declared only as far as the
// program calls them. The methods ID2D1DeviceContext1 to ID2D1DeviceContext4 add between the
// device context and ID2D1DeviceContext5 are never called here and stand as placeholder slots,
// so that the two SVG methods sit at their documented places in the method table.

#include <d2d1_1.h>
#include <objidl.h>

namespace pellix {

// An SVG document; only released by the program.
struct ID2D1SvgDocument : public ID2D1Resource {};

struct ID2D1DeviceContext5 : public ID2D1DeviceContext {
    // ID2D1DeviceContext1 (3 methods), ID2D1DeviceContext2 (11), ID2D1DeviceContext3 (2) and
    // ID2D1DeviceContext4 (7).
    virtual void STDMETHODCALLTYPE unused_slot_01() = 0;
    virtual void STDMETHODCALLTYPE unused_slot_02() = 0;
    virtual void STDMETHODCALLTYPE unused_slot_03() = 0;
    virtual void STDMETHODCALLTYPE unused_slot_04() = 0;
    virtual void STDMETHODCALLTYPE unused_slot_05() = 0;
    virtual void STDMETHODCALLTYPE unused_slot_06() = 0;
    virtual void STDMETHODCALLTYPE unused_slot_07() = 0;
    virtual void STDMETHODCALLTYPE unused_slot_08() = 0;
    virtual void STDMETHODCALLTYPE unused_slot_09() = 0;
    virtual void STDMETHODCALLTYPE unused_slot_10() = 0;
    virtual void STDMETHODCALLTYPE unused_slot_11() = 0;
    virtual void STDMETHODCALLTYPE unused_slot_12() = 0;
    virtual void STDMETHODCALLTYPE unused_slot_13() = 0;
    virtual void STDMETHODCALLTYPE unused_slot_14() = 0;
    virtual void STDMETHODCALLTYPE unused_slot_15() = 0;
    virtual void STDMETHODCALLTYPE unused_slot_16() = 0;
    virtual void STDMETHODCALLTYPE unused_slot_17() = 0;
    virtual void STDMETHODCALLTYPE unused_slot_18() = 0;
    virtual void STDMETHODCALLTYPE unused_slot_19() = 0;
    virtual void STDMETHODCALLTYPE unused_slot_20() = 0;
    virtual void STDMETHODCALLTYPE unused_slot_21() = 0;
    virtual void STDMETHODCALLTYPE unused_slot_22() = 0;
    virtual void STDMETHODCALLTYPE unused_slot_23() = 0;
    // ID2D1DeviceContext5.
    virtual HRESULT STDMETHODCALLTYPE CreateSvgDocument(IStream* input_xml_stream,
                                                        D2D1_SIZE_F viewport_size,
                                                        ID2D1SvgDocument** svg_document) = 0;
    virtual void STDMETHODCALLTYPE DrawSvgDocument(ID2D1SvgDocument* svg_document) = 0;
};

// {7836d248-68cc-4df6-b9e8-de991bf62eb7}
inline constexpr GUID iid_device_context5{
    0x7836d248, 0x68cc, 0x4df6, {0xb9, 0xe8, 0xde, 0x99, 0x1b, 0xf6, 0x2e, 0xb7}};

} // namespace pellix
