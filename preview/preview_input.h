#pragma once

// The preview window procedure's handlers of user input; each runs on the UI thread and may
// throw, which the window procedure reports.

#include <windows.h>

#include "preview/preview_window.h"

namespace pellix {

void handle_preview_key(Preview::Impl& p, WPARAM key);
void handle_preview_button_down(Preview::Impl& p, POINT point);
void handle_preview_mouse_move(Preview::Impl& p, POINT point);
void handle_preview_button_up(Preview::Impl& p, POINT point);
void handle_preview_double_click(Preview::Impl& p, POINT point);
void handle_preview_drag_timer(Preview::Impl& p);
// Ends a drag: the button counts as released, the autoscroll timer stops.
void end_preview_drag(Preview::Impl& p);
void handle_preview_wheel(Preview::Impl& p, WPARAM wparam);
void handle_preview_horizontal_wheel(Preview::Impl& p, WPARAM wparam);
void handle_preview_scroll_bar(Preview::Impl& p, int bar, WPARAM wparam);
void handle_preview_context_menu(Preview::Impl& p, LPARAM lparam);
// Whether the point (client pixels) lies on a link; a failed link test counts as no link.
bool preview_point_on_link(Preview::Impl& p, POINT point);

inline constexpr UINT_PTR drag_timer_id = 1;

} // namespace pellix
