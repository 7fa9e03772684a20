#pragma once

#include <windows.h>
#include <d2d1.h>

#include "platform/com_ptr.h"

namespace pellix::bench {

// A shown pop-up window of `width` x `height` pixels with a Direct2D render target at 96 DPI,
// so that a drawing bench pays for presenting as a window does. `result` says why `target` is
// empty when it could not be made.
struct PopupTarget {
    PopupTarget(UINT32 width, UINT32 height)
        : window(CreateWindowExW(0, L"STATIC", L"bench", WS_POPUP | WS_VISIBLE, 0, 0,
                                 static_cast<int>(width), static_cast<int>(height), nullptr,
                                 nullptr, nullptr, nullptr)) {
        result = D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory),
                                   nullptr, reinterpret_cast<void**>(factory.put()));
        if (SUCCEEDED(result)) {
            result = factory->CreateHwndRenderTarget(
                D2D1::RenderTargetProperties(),
                D2D1::HwndRenderTargetProperties(window, D2D1::SizeU(width, height)),
                target.put());
        }
        if (target) {
            target->SetDpi(96.0f, 96.0f);
        }
    }
    ~PopupTarget() {
        target.reset();
        DestroyWindow(window);
    }
    PopupTarget(const PopupTarget&) = delete;
    PopupTarget& operator=(const PopupTarget&) = delete;

    HWND window;
    ComPtr<ID2D1Factory> factory;
    ComPtr<ID2D1HwndRenderTarget> target;
    HRESULT result = S_OK;
};

} // namespace pellix::bench
