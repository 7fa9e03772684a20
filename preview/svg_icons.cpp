#include "preview/svg_icons.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "platform/com_ptr.h"
#include "platform/dib_surface.h"
#include "platform/glyph_figures.h"

namespace pellix {
namespace {

constexpr int max_icon_pixels = 512;
constexpr std::size_t icon_cache_capacity = 128;
constexpr long long max_render_pixels = 16777216;
constexpr float glyph_viewport = 16.0f;
constexpr D2D1_SIZE_F picture_viewport{250.0f, 50.0f};
constexpr int bytes_per_pixel = 4;
// A glyph's SVG text is a few hundred bytes; anything far larger is not one.
constexpr ULONGLONG max_glyph_text = 65536;

std::vector<IconCacheEntry> cache;

// The process's renderer, created by the first icon that misses the cache. Making one builds a
// factory, a software Direct3D device and a Direct2D device, so a failed attempt is remembered:
// without SVG support (Wine) every miss would otherwise build and drop all three again.
struct GlobalRenderer {
    SvgRenderer* renderer = nullptr;
    HRESULT failure = S_OK;
    ~GlobalRenderer() { release_svg_renderer(renderer); }
} global;

template <class T> void release(T*& pointer) {
    if (pointer) {
        pointer->Release();
        pointer = nullptr;
    }
}

// Logs a failed stage and hands its result on.
HRESULT check(HRESULT hr, const char* stage) {
    if (FAILED(hr)) {
        log_svg_stage(stage, hr);
    }
    return hr;
}

D2D1_BITMAP_PROPERTIES1 bitmap_properties(D2D1_BITMAP_OPTIONS options) {
    return D2D1_BITMAP_PROPERTIES1{
        .pixelFormat = D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED),
        .dpiX = 96.0f,
        .dpiY = 96.0f,
        .bitmapOptions = options,
        .colorContext = nullptr};
}

// The context a render draws with: the SVG-capable one, else the one that draws glyph figures.
ID2D1DeviceContext* drawing_context(const SvgRenderer& renderer) {
    return renderer.context ? renderer.context : renderer.figures_context;
}

// The stream's whole text, for reading a glyph's figures where no SVG document can be made.
HRESULT stream_text(IStream* svg, std::string& text) {
    STATSTG status{};
    HRESULT hr = svg->Stat(&status, STATFLAG_NONAME);
    if (FAILED(hr) || status.cbSize.QuadPart > max_glyph_text) {
        return FAILED(hr) ? hr : E_INVALIDARG;
    }
    text.resize(static_cast<std::size_t>(status.cbSize.QuadPart));
    ULONG read = 0;
    hr = svg->Seek({}, STREAM_SEEK_SET, nullptr);
    if (SUCCEEDED(hr)) {
        hr = svg->Read(text.data(), static_cast<ULONG>(text.size()), &read);
    }
    return SUCCEEDED(hr) && read != text.size() ? E_FAIL : hr;
}

// What a render draws, read before any target is made, so that text that cannot be read fails
// as "parsing embedded SVG" on both paths.
struct Picture {
    ComPtr<ID2D1SvgDocument> document;
    std::vector<GlyphShape> shapes;
};

HRESULT read_picture(const SvgRenderer& renderer, IStream* svg, D2D1_SIZE_F viewport,
                     Picture& picture) {
    if (renderer.context) {
        return check(renderer.context->CreateSvgDocument(svg, viewport, picture.document.put()),
                     "parsing embedded SVG");
    }
    std::string text;
    HRESULT hr = stream_text(svg, text);
    if (SUCCEEDED(hr) && !read_glyph_shapes(text, picture.shapes)) {
        hr = E_INVALIDARG;
    }
    return check(hr, "parsing embedded SVG");
}

// Steps 3-6 of a render: the picture drawn into a new target bitmap.
HRESULT draw_document_bitmap(const SvgRenderer& renderer, IStream* svg, UINT32 width, UINT32 height,
                             bool glyph, ComPtr<ID2D1Bitmap1>& target) {
    const D2D1_SIZE_F viewport =
        glyph ? D2D1_SIZE_F{glyph_viewport, glyph_viewport} : picture_viewport;
    Picture picture;
    HRESULT hr = read_picture(renderer, svg, viewport, picture);
    if (FAILED(hr)) {
        return hr;
    }
    ID2D1DeviceContext* context = drawing_context(renderer);
    const D2D1_BITMAP_PROPERTIES1 properties = bitmap_properties(D2D1_BITMAP_OPTIONS_TARGET);
    hr = check(
        context->CreateBitmap(D2D1::SizeU(width, height), nullptr, 0, &properties, target.put()),
        "creating render target");
    if (FAILED(hr)) {
        return hr;
    }
    context->SetDpi(96.0f, 96.0f);
    context->SetTarget(target.get());
    const float k = std::min(static_cast<float>(width) / viewport.width,
                             static_cast<float>(height) / viewport.height);
    context->SetTransform(
        D2D1::Matrix3x2F::Scale(k, k) *
        D2D1::Matrix3x2F::Translation((static_cast<float>(width) - viewport.width * k) / 2,
                                      (static_cast<float>(height) - viewport.height * k) / 2));
    context->BeginDraw();
    context->Clear(glyph ? D2D1::ColorF(0, 0, 0, 0) : D2D1::ColorF(1, 1, 1, 1));
    HRESULT drawn = S_OK;
    if (picture.document) {
        renderer.context->DrawSvgDocument(picture.document.get());
    } else {
        drawn = draw_glyph_shapes(renderer.factory, context, picture.shapes);
    }
    hr = context->EndDraw();
    context->SetTarget(nullptr);
    context->SetTransform(D2D1::Matrix3x2F::Identity());
    return check(FAILED(drawn) ? drawn : hr, "drawing SVG");
}

// Step 7: the target's pixels copied to memory, row by row.
HRESULT read_back(ID2D1DeviceContext* context, ID2D1Bitmap1* target, UINT32 width, UINT32 height,
                  std::vector<std::uint8_t>& pixels) {
    const D2D1_BITMAP_PROPERTIES1 properties =
        bitmap_properties(D2D1_BITMAP_OPTIONS_CPU_READ | D2D1_BITMAP_OPTIONS_CANNOT_DRAW);
    ComPtr<ID2D1Bitmap1> readback;
    HRESULT hr = check(
        context->CreateBitmap(D2D1::SizeU(width, height), nullptr, 0, &properties, readback.put()),
        "creating readback bitmap");
    if (FAILED(hr)) {
        return hr;
    }
    hr = check(readback->CopyFromBitmap(nullptr, target, nullptr), "copying rendered pixels");
    if (FAILED(hr)) {
        return hr;
    }
    D2D1_MAPPED_RECT mapped{};
    hr = check(readback->Map(D2D1_MAP_OPTIONS_READ, &mapped), "mapping rendered pixels");
    if (FAILED(hr)) {
        return hr;
    }
    const std::size_t row = static_cast<std::size_t>(width) * bytes_per_pixel;
    for (UINT32 y = 0; y < height; ++y) {
        std::memcpy(pixels.data() + y * row,
                    mapped.bits + static_cast<std::size_t>(y) * mapped.pitch, row);
    }
    return check(readback->Unmap(), "unmapping rendered pixels");
}

HRESULT make_glyph_bitmap(HDC dc, int width, int height, const std::vector<std::uint8_t>& pixels,
                          HBITMAP* out) {
    if (!out) {
        return E_POINTER;
    }
    const BITMAPINFO info = top_down_bitmap_info(width, height);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap || !bits) {
        if (bitmap) {
            DeleteObject(bitmap);
        }
        return E_OUTOFMEMORY;
    }
    std::memcpy(bits, pixels.data(), pixels.size());
    *out = bitmap;
    return S_OK;
}

HRESULT paint_picture(HDC dc, const RECT& rect, int width, int height,
                      const std::vector<std::uint8_t>& pixels) {
    const BITMAPINFO info = top_down_bitmap_info(width, height);
    if (SetDIBitsToDevice(dc, rect.left, rect.top, static_cast<DWORD>(width),
                          static_cast<DWORD>(height), 0, 0, 0, static_cast<UINT>(height),
                          pixels.data(), &info, DIB_RGB_COLORS) == 0) {
        log_svg_stage("painting dialog pixels", E_FAIL);
        return E_FAIL;
    }
    return S_OK;
}

// Steps 4-5 of draw_icon: the resource rendered into a cache entry's bitmap.
HRESULT render_resource(HMODULE module, std::uint32_t resource_id, HDC dc, int size,
                        COLORREF colour, HBITMAP* bitmap) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(resource_id), RT_RCDATA);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    const DWORD length = found ? SizeofResource(module, found) : 0;
    if (!bytes || length == 0) {
        return E_FAIL;
    }
    ComPtr<IStream> stream =
        ComPtr<IStream>::adopt(SHCreateMemStream(static_cast<const BYTE*>(bytes), length));
    if (!stream) {
        return E_FAIL;
    }
    SvgRenderer* renderer = nullptr;
    if (const HRESULT hr = shared_svg_renderer(renderer); FAILED(hr)) {
        return hr;
    }
    const RECT area{0, 0, size, size};
    return render_svg(*renderer, stream.get(), dc, &area, true, colour, bitmap);
}

} // namespace

HRESULT create_svg_renderer(SvgRenderer& renderer) {
    HRESULT hr = check(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory1),
                                         nullptr, reinterpret_cast<void**>(&renderer.factory)),
                       "creating Direct2D factory");
    if (FAILED(hr)) {
        return hr;
    }
    hr = check(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_WARP, nullptr,
                                 D3D11_CREATE_DEVICE_BGRA_SUPPORT, nullptr, 0, D3D11_SDK_VERSION,
                                 &renderer.d3d_device, nullptr, nullptr),
               "creating WARP device");
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<IDXGIDevice> dxgi;
    hr = check(renderer.d3d_device->QueryInterface(__uuidof(IDXGIDevice),
                                                   reinterpret_cast<void**>(dxgi.put())),
               "obtaining DXGI device");
    if (FAILED(hr)) {
        return hr;
    }
    hr = check(renderer.factory->CreateDevice(dxgi.get(), &renderer.device),
               "creating Direct2D device");
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<ID2D1DeviceContext> context;
    hr =
        check(renderer.device->CreateDeviceContext(D2D1_DEVICE_CONTEXT_OPTIONS_NONE, context.put()),
              "creating drawing context");
    if (FAILED(hr)) {
        return hr;
    }
    hr = context->QueryInterface(iid_device_context5, reinterpret_cast<void**>(&renderer.context));
    // A system without SVG support is no fault: its glyphs are drawn as figures instead.
    if (hr == E_NOINTERFACE) {
        renderer.figures_context = context.detach();
        return S_OK;
    }
    return check(hr, "obtaining SVG drawing context");
}

HRESULT shared_svg_renderer(SvgRenderer*& renderer) {
    if (!global.renderer && SUCCEEDED(global.failure)) {
        auto* created = new SvgRenderer{};
        global.failure = create_svg_renderer(*created);
        if (FAILED(global.failure)) {
            release_svg_renderer(created);
        } else {
            global.renderer = created;
        }
    }
    renderer = global.renderer;
    return global.renderer ? S_OK : global.failure;
}

void release_svg_renderer(SvgRenderer* renderer) {
    if (!renderer) {
        return;
    }
    release(renderer->context);
    release(renderer->figures_context);
    release(renderer->device);
    release(renderer->d3d_device);
    release(renderer->factory);
    delete renderer;
}

HRESULT render_svg(SvgRenderer& renderer, IStream* svg, HDC dc, const RECT* rect, bool glyph,
                   COLORREF colour, HBITMAP* out) {
    const long long width = rect ? static_cast<long long>(rect->right) - rect->left : 0;
    const long long height = rect ? static_cast<long long>(rect->bottom) - rect->top : 0;
    if (width < 1 || height < 1) {
        return S_FALSE;
    }
    if (width * height > max_render_pixels) {
        return E_INVALIDARG;
    }
    if (!drawing_context(renderer)) {
        return E_POINTER;
    }
    // Only glyphs can be drawn as figures; a picture needs the SVG document.
    if (!renderer.context && !glyph) {
        return E_NOINTERFACE;
    }
    const auto w = static_cast<UINT32>(width);
    const auto h = static_cast<UINT32>(height);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width * height) * bytes_per_pixel);
    ComPtr<ID2D1Bitmap1> target;
    HRESULT hr = draw_document_bitmap(renderer, svg, w, h, glyph, target);
    if (SUCCEEDED(hr)) {
        hr = read_back(drawing_context(renderer), target.get(), w, h, pixels);
    }
    if (FAILED(hr)) {
        return hr;
    }
    if (glyph) {
        tint_glyph_pixels(pixels, colour);
        return make_glyph_bitmap(dc, static_cast<int>(w), static_cast<int>(h), pixels, out);
    }
    return paint_picture(dc, *rect, static_cast<int>(w), static_cast<int>(h), pixels);
}

void tint_glyph_pixels(std::span<std::uint8_t> pixels, COLORREF colour) {
    const unsigned red = GetRValue(colour);
    const unsigned green = GetGValue(colour);
    const unsigned blue = GetBValue(colour);
    for (std::size_t i = 0; i + 3 < pixels.size(); i += bytes_per_pixel) {
        const unsigned alpha = pixels[i + 3];
        pixels[i] = static_cast<std::uint8_t>((blue * alpha + 127) / 255);
        pixels[i + 1] = static_cast<std::uint8_t>((green * alpha + 127) / 255);
        pixels[i + 2] = static_cast<std::uint8_t>((red * alpha + 127) / 255);
    }
}

HRESULT blend_icon(HDC dc, const RECT& rect, HBITMAP bitmap) {
    const int size = rect.right - rect.left;
    HDC memory = CreateCompatibleDC(dc);
    if (!memory) {
        return E_FAIL;
    }
    HGDIOBJ previous = SelectObject(memory, bitmap);
    SetLastError(0);
    const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    HRESULT hr = S_OK;
    if (!GdiAlphaBlend(dc, rect.left, rect.top, size, size, memory, 0, 0, size, size, blend)) {
        const DWORD error = GetLastError();
        hr = error == 0 ? E_FAIL : HRESULT_FROM_WIN32(error);
        log_svg_stage("alpha blending icon", hr);
    }
    SelectObject(memory, previous);
    DeleteDC(memory);
    return hr;
}

HRESULT draw_icon(HMODULE module, std::uint32_t resource_id, HDC dc, const RECT* rect,
                  COLORREF colour) {
    try {
        if (!dc || !rect) {
            return E_INVALIDARG;
        }
        const int size = rect->right - rect->left;
        if (size <= 0 || rect->bottom - rect->top != size || size > max_icon_pixels) {
            return E_INVALIDARG;
        }
        auto entry = std::find_if(cache.begin(), cache.end(), [&](const IconCacheEntry& e) {
            return e.module == module && e.resource_id == resource_id && e.size == size &&
                   e.colour == colour;
        });
        if (entry == cache.end()) {
            if (cache.size() >= icon_cache_capacity) {
                clear_icon_cache();
            }
            HBITMAP bitmap = nullptr;
            const HRESULT result = render_resource(module, resource_id, dc, size, colour, &bitmap);
            cache.push_back({module, resource_id, size, colour, bitmap, result});
            entry = cache.end() - 1;
        }
        if (FAILED(entry->result)) {
            return entry->result;
        }
        if (!entry->bitmap) {
            return E_FAIL;
        }
        return blend_icon(dc, *rect, entry->bitmap);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

void clear_icon_cache() {
    for (const IconCacheEntry& entry : cache) {
        if (entry.bitmap) {
            DeleteObject(entry.bitmap);
        }
    }
    cache.clear();
}

const std::vector<IconCacheEntry>& icon_cache() {
    return cache;
}

void release_icon_renderer() {
    release_svg_renderer(global.renderer);
    global.renderer = nullptr;
}

std::string svg_stage_line(const char* stage, HRESULT hr) {
    char code[16];
    std::snprintf(code, sizeof(code), "%lx", static_cast<unsigned long>(hr));
    return std::string("SVG stage: ") + stage + ", HRESULT=0x" + code + "\n";
}

void log_svg_stage(const char* stage, HRESULT hr) {
    const std::string line = svg_stage_line(stage, hr);
    std::fwrite(line.data(), 1, line.size(), stderr);
}

} // namespace pellix
