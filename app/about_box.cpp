#include "app/about_box.h"
#include "app/dialog_placement.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "app/main_window_state.h"
#include "platform/com_ptr.h"
#include "preview/svg_icons.h"

namespace pellix {

namespace {

constexpr COLORREF about_text_colour = RGB(0x1E, 0x1E, 0x1E);
constexpr LONG version_weight = 600;
constexpr std::wstring_view maker_name = L"Orvelworks";

HRESULT logo_stream(ComPtr<IStream>& stream) {
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(about_box_id::logo), RT_RCDATA);
    if (found == nullptr) {
        const HRESULT hr = HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
        log_svg_stage("finding SVG resource", hr);
        return hr;
    }
    HGLOBAL loaded = LoadResource(instance, found);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    const DWORD length = SizeofResource(instance, found);
    if (bytes == nullptr || length == 0) {
        log_svg_stage("loading SVG bytes", E_FAIL);
        return E_FAIL;
    }
    stream = ComPtr<IStream>::adopt(SHCreateMemStream(static_cast<const BYTE*>(bytes), length));
    if (!stream) {
        log_svg_stage("creating SVG stream", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

// The logo shares the icons' renderer: every repaint of the box would otherwise build a
// factory and two devices.
HRESULT draw_logo_svg(HDC dc, const RECT& rect) {
    ComPtr<IStream> stream;
    HRESULT hr = logo_stream(stream);
    if (FAILED(hr)) {
        return hr;
    }
    SvgRenderer* renderer = nullptr;
    hr = shared_svg_renderer(renderer);
    if (SUCCEEDED(hr)) {
        hr = render_svg(*renderer, stream.get(), dc, &rect, false, 0, nullptr);
    }
    return hr;
}

void draw_logo(HWND dialog, const DRAWITEMSTRUCT& item) {
    FillRect(item.hDC, &item.rcItem, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    const HRESULT hr = draw_logo_svg(item.hDC, item.rcItem);
    if (SUCCEEDED(hr)) {
        return;
    }
    // The renderer's failure is remembered for the process, so every repaint would tell the same.
    static bool told = false;
    if (!told) {
        told = true;
        std::fprintf(stderr, "Could not render About SVG, HRESULT=%ld\n", static_cast<long>(hr));
    }
    auto font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    HGDIOBJ previous = font != nullptr ? SelectObject(item.hDC, font) : nullptr;
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, about_text_colour);
    RECT rect = item.rcItem;
    DrawTextW(item.hDC, maker_name.data(), static_cast<int>(maker_name.size()), &rect,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    if (previous != nullptr) {
        SelectObject(item.hDC, previous);
    }
}

void set_version_font(HWND dialog) {
    auto dialog_font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    LOGFONTW description{};
    if (dialog_font == nullptr || GetObjectW(dialog_font, sizeof(description), &description) == 0) {
        return;
    }
    description.lfWeight = version_weight;
    HFONT semibold = CreateFontIndirectW(&description);
    if (semibold == nullptr) {
        return;
    }
    SetPropW(dialog, about_font_property, semibold);
    SendDlgItemMessageW(dialog, about_box_id::version, WM_SETFONT,
                        reinterpret_cast<WPARAM>(semibold), TRUE);
}

INT_PTR CALLBACK about_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextW(dialog, about_box_id::version, about_version_text);
        set_version_font(dialog);
        centre_on_owner(dialog);
        return TRUE;
    case WM_CTLCOLORDLG:
        return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wparam);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, about_text_colour);
        return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
    }
    case WM_DRAWITEM: {
        const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
        if (item.CtlID != about_box_id::logo) {
            return FALSE;
        }
        draw_logo(dialog, item);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        if (auto font = static_cast<HFONT>(RemovePropW(dialog, about_font_property))) {
            DeleteObject(font);
        }
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

void show_about_box(HWND owner) {
    DialogBoxParamW(instance, MAKEINTRESOURCEW(about_box_id::dialog), owner, about_proc, 0);
}

} // namespace pellix
