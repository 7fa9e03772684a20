#pragma once

// The source editor window: a custom-drawn text editor that answers the EDIT and RichEdit
// message set and reports EN_CHANGE and EN_SELCHANGE to its parent. The host registers the
// class, creates one window per document (with WS_VSCROLL and WS_HSCROLL for its scroll bars)
// and drives it with messages.

#include <windows.h>

namespace pellix {

inline constexpr wchar_t source_window_class[] = L"Pellix.DirectWrite.Source";

// Posted by an editor to itself after its scroll offsets changed; the host's subclass of the
// window handles it (the editor itself does not).
inline constexpr UINT WM_APP_SOURCE_SCROLLED = WM_APP + 0x5C;

LRESULT CALLBACK source_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Registers the class with `source_window_proc`; a class already registered counts as success.
// Throws std::runtime_error "Source window class registration failed." otherwise.
void register_source_window_class(HINSTANCE instance);

} // namespace pellix
