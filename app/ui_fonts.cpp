#include "app/ui_fonts.h"

#include <commctrl.h>

#include <utility>

#include "app/hosted_units.h"
#include "app/main_layout.h"
#include "app/main_window_state.h"
#include "app/tab_strip.h"

namespace pellix {

UiFonts ui_fonts;

namespace {

constexpr wchar_t fluent_icons[] = L"Segoe Fluent Icons";
constexpr wchar_t mdl2_icons[] = L"Segoe MDL2 Assets";
constexpr int face_name_limit = 80;

HFONT create_icon_font(unsigned dpi, const wchar_t* face) {
    LOGFONTW font{};
    font.lfHeight = icon_font_height(dpi);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    wcsncpy(font.lfFaceName, face, LF_FACESIZE - 1);
    return CreateFontIndirectW(&font);
}

bool font_has_face(HFONT font, const wchar_t* face) {
    HDC dc = GetDC(main_window);
    if (dc == nullptr) {
        return false;
    }
    HGDIOBJ previous = SelectObject(dc, font);
    wchar_t name[face_name_limit] = {};
    GetTextFaceW(dc, face_name_limit, name);
    SelectObject(dc, previous);
    ReleaseDC(main_window, dc);
    return _wcsicmp(name, face) == 0;
}

HFONT create_glyph_font(unsigned dpi) {
    HFONT font = create_icon_font(dpi, fluent_icons);
    if (font != nullptr && font_has_face(font, fluent_icons)) {
        return font;
    }
    if (font != nullptr) {
        DeleteObject(font);
    }
    return create_icon_font(dpi, mdl2_icons);
}

void set_tree_row_height(unsigned dpi) {
    if (chrome.outline_tree == nullptr || ui_fonts.message == nullptr) {
        return;
    }
    HDC dc = GetDC(chrome.outline_tree);
    if (dc == nullptr) {
        return;
    }
    HGDIOBJ previous = SelectObject(dc, ui_fonts.message);
    TEXTMETRICW metrics{};
    const bool measured = GetTextMetricsW(dc, &metrics) != FALSE;
    SelectObject(dc, previous);
    ReleaseDC(chrome.outline_tree, dc);
    if (measured) {
        SendMessageW(chrome.outline_tree, TVM_SETITEMHEIGHT,
                     metrics.tmHeight + scale_metric(tree_row_padding, dpi), 0);
    }
}

void delete_fonts(const UiFonts& fonts) {
    for (HFONT font : {fonts.message, fonts.semibold, fonts.icon}) {
        if (font != nullptr) {
            DeleteObject(font);
        }
    }
}

} // namespace

int icon_font_height(unsigned dpi) {
    return -MulDiv(icon_font_points, static_cast<int>(dpi), 72);
}

void update_ui_fonts() {
    const unsigned dpi = main_window_dpi();
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (!SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi)) {
        return;
    }
    HFONT message = CreateFontIndirectW(&metrics.lfMessageFont);
    if (message == nullptr) {
        return;
    }
    for (HWND window :
         {chrome.outline_tree, chrome.outline_label, chrome.outline_options, chrome.headings_button,
          chrome.tasks_button, chrome.tab_control, chrome.source_label, chrome.preview_label,
          chrome.hide_source, chrome.hide_preview}) {
        if (window != nullptr) {
            SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(message), TRUE);
        }
    }
    // Every window holds the new fonts before the old ones go, so none is left drawing with a
    // deleted handle.
    const UiFonts old = std::exchange(ui_fonts, {});
    ui_fonts.message = message;
    LOGFONTW semibold = metrics.lfMessageFont;
    semibold.lfWeight = semibold_weight;
    ui_fonts.semibold = CreateFontIndirectW(&semibold);
    ui_fonts.icon = create_glyph_font(dpi);
    restyle_chrome_units();
    delete_fonts(old);
    forget_tab_labels();
    refresh_tab_strip();
    set_tree_row_height(dpi);
}

void release_ui_fonts() {
    delete_fonts(std::exchange(ui_fonts, {}));
}

} // namespace pellix
