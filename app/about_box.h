#pragma once

// The About box (Help, "About Pellix"): the logo, a credit text, the version in a semibold font
// and a Close button, shown modally over the main window.

#include <windows.h>

namespace pellix {

namespace about_box_id {
inline constexpr int dialog = 700;
inline constexpr int logo = 702;
inline constexpr int credit = 703;
inline constexpr int version = 707;
} // namespace about_box_id

inline constexpr wchar_t about_font_property[] = L"Pellix.AboutFont";
inline constexpr wchar_t about_version_text[] = L"Version 1.2.9";

// Shows the box modally over `owner` until it is closed.
void show_about_box(HWND owner);

} // namespace pellix
