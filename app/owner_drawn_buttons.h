#pragma once

// The chrome's push buttons: plain "BUTTON" windows drawn by their owner with a glyph or a
// caption, and the hover tracking that every chrome button shares through the window property
// "Pellix.Hot".

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string_view>

namespace pellix {

inline constexpr wchar_t hot_property[] = L"Pellix.Hot";
inline constexpr UINT_PTR hot_tracking_subclass_id = 2;

// Installs the hover tracking (and the hand cursor over an enabled button) on `button`.
void install_hot_tracking(HWND button);

// Whether the mouse is over the button.
bool is_hot(HWND button);

// A visible owner-drawn push button with the hover tracking; null when it cannot be made.
HWND create_owner_drawn_button(HWND parent, unsigned id, const wchar_t* caption);

// The glyph resource drawn for a caption, or 0 when the caption is drawn as text.
std::uint32_t caption_glyph(std::wstring_view caption);

// Draws an owner-drawn push button on WM_DRAWITEM: its surface, a frame while hot, pressed or
// `active`, the caption's glyph (or the caption itself when there is none or it fails), a line
// along the bottom with `bottom_rule`, and the focus rectangle.
void paint_owner_drawn_button(const DRAWITEMSTRUCT& item, bool dark, HFONT font,
                              const wchar_t* caption, bool active, bool bottom_rule);

// The answer to WM_CTLCOLORBTN from an owner-drawn button: the surface colour its face is drawn
// on, so that a button erased before its face is drawn shows no patch of the system's colour.
LRESULT owner_drawn_button_background(HDC dc, bool dark);

// What the button's WM_DRAWITEM would carry now, drawing into `dc` at `rect`: its owner can draw
// it together with its own surface.
DRAWITEMSTRUCT owner_drawn_button_item(HWND button, HDC dc, const RECT& rect);

// Makes `change` to a button (enabled, checked, focused) without the button drawing itself at
// once, as the system's button does: a shown one is drawn at its next paint, with its neighbours.
void change_drawn_later(HWND button, const std::function<void()>& change);

// Drops the buffer the buttons are painted through, so that the next paint makes it anew
// (after a DPI or display change).
void release_owner_drawn_buffer();

} // namespace pellix
