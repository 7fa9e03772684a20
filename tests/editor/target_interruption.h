#pragma once

// Makes an editor's next render target the moment when messages that other threads sent are
// served, as under Wine, where making a window target waits on the display driver's process.

#include <windows.h>
#include <d2d1.h>

#include <functional>
#include <thread>
#include <utility>

#include "editor/source_record.h"
#include "platform/com_ptr.h"
#include "tests/bounded_wait.h"

namespace pellix::test {

// The real factory, except that making a window target first serves what other threads have
// sent, as Wine's display driver does when it waits on another process.
class ServingFactory final : public ID2D1Factory {
public:
    explicit ServingFactory(ComPtr<ID2D1Factory> real) : real_(std::move(real)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
        *out = id == __uuidof(IUnknown) || id == __uuidof(ID2D1Factory) ? this : nullptr;
        return *out != nullptr ? S_OK : E_NOINTERFACE;
    }
    // Lives on the test's stack, longer than every reference the editor takes.
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateHwndRenderTarget(const D2D1_RENDER_TARGET_PROPERTIES* target,
                                                     const D2D1_HWND_RENDER_TARGET_PROPERTIES* hwnd,
                                                     ID2D1HwndRenderTarget** made) override {
        if (meanwhile) {
            std::exchange(meanwhile, {})();
        }
        MSG message{};
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
        return real_->CreateHwndRenderTarget(target, hwnd, made);
    }
    // Runs once, when the next target is made, before what is pending is served.
    std::function<void()> meanwhile;

    // The editor asks its factory for window targets only.
    HRESULT STDMETHODCALLTYPE ReloadSystemMetrics() override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE GetDesktopDpi(FLOAT* x, FLOAT* y) override { *x = *y = 96.0f; }
    HRESULT STDMETHODCALLTYPE CreateRectangleGeometry(const D2D1_RECT_F*,
                                                      ID2D1RectangleGeometry**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateRoundedRectangleGeometry(
        const D2D1_ROUNDED_RECT*, ID2D1RoundedRectangleGeometry**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateEllipseGeometry(const D2D1_ELLIPSE*,
                                                    ID2D1EllipseGeometry**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateGeometryGroup(D2D1_FILL_MODE, ID2D1Geometry**, UINT,
                                                  ID2D1GeometryGroup**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateTransformedGeometry(ID2D1Geometry*, const D2D1_MATRIX_3X2_F*,
                                                        ID2D1TransformedGeometry**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreatePathGeometry(ID2D1PathGeometry**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateStrokeStyle(const D2D1_STROKE_STYLE_PROPERTIES*, const FLOAT*,
                                                UINT, ID2D1StrokeStyle**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateDrawingStateBlock(const D2D1_DRAWING_STATE_DESCRIPTION*,
                                                      IDWriteRenderingParams*,
                                                      ID2D1DrawingStateBlock**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateWicBitmapRenderTarget(IWICBitmap*,
                                                          const D2D1_RENDER_TARGET_PROPERTIES*,
                                                          ID2D1RenderTarget**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateDxgiSurfaceRenderTarget(IDXGISurface*,
                                                            const D2D1_RENDER_TARGET_PROPERTIES*,
                                                            ID2D1RenderTarget**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateDCRenderTarget(const D2D1_RENDER_TARGET_PROPERTIES*,
                                                   ID2D1DCRenderTarget**) override {
        return E_NOTIMPL;
    }

private:
    ComPtr<ID2D1Factory> real_;
};

// Has another thread send the editor a message when it next makes its render target, so that
// the message is served while the target is made.
class MessageWhileTheTargetIsMade {
public:
    MessageWhileTheTargetIsMade(Source& source, std::function<void()> send)
        : source_(source), real_(source.d2d), serving_(real_) {
        serving_.meanwhile = [this, send = std::move(send)] {
            sender_ = std::thread(send);
            pending_ = test::sent_message_pending();
        };
        source.d2d = ComPtr<ID2D1Factory>::share(&serving_);
    }
    ~MessageWhileTheTargetIsMade() {
        if (sender_.joinable()) {
            sender_.join();
        }
        source_.d2d = real_;
    }
    MessageWhileTheTargetIsMade(const MessageWhileTheTargetIsMade&) = delete;
    MessageWhileTheTargetIsMade& operator=(const MessageWhileTheTargetIsMade&) = delete;
    // Whether the message was sent and waited to be served.
    bool served() const { return pending_; }

private:
    Source& source_;
    ComPtr<ID2D1Factory> real_;
    ServingFactory serving_;
    std::thread sender_;
    bool pending_ = false;
};

} // namespace pellix::test
