#pragma once

// The COM plumbing of a text renderer that lives on the stack for one IDWriteTextLayout::Draw
// call, which keeps no reference, so its counts are fixed. Pixel snapping stays on, as Direct2D's
// own renderer answers.

#include <dwrite.h>

namespace pellix {

class StackTextRenderer : public IDWriteTextRenderer {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (id == __uuidof(IUnknown) || id == __uuidof(IDWritePixelSnapping) ||
            id == __uuidof(IDWriteTextRenderer)) {
            *object = static_cast<IDWriteTextRenderer*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE IsPixelSnappingDisabled(void*, BOOL* disabled) override {
        *disabled = FALSE;
        return S_OK;
    }

protected:
    StackTextRenderer() = default;
    ~StackTextRenderer() = default;
};

} // namespace pellix
