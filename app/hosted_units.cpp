#include "app/hosted_units.h"

#include "app/main_layout.h"
#include "app/prompts.h"
#include "app/settings.h"

namespace pellix {

// The editor window joins here (editor hosting).
HWND create_tab_editor(HWND) {
    return nullptr;
}
void style_active_editor() {}
void editor_notification(unsigned) {}

// The preview window joins here.
void zoom_preview(double) {}
void fit_preview(bool) {}
void destroy_preview_window() {}

// The glyph renderer joins here.
void clear_glyph_cache() {}
void release_glyph_renderer() {}

// The find bar and Replace All join here.
bool find_bar_shows_replace() {
    return false;
}
bool replace_all_running() {
    return false;
}
void cancel_replace_all() {}
void hide_find_bar() {}
void request_find(unsigned long) {}
unsigned long find_bar_options() {
    return 0;
}

// Tabs, opening and closing files, compare and recovery join here.
std::filesystem::path active_tab_path() {
    return {};
}
void open_path(const std::filesystem::path&) {}
void open_compare(const std::filesystem::path&, const std::filesystem::path&) {}
bool may_close_window() {
    return true;
}
void store_final_session() {}
void restore_and_welcome() {}
void stop_recovery_writer() {}

// Views join here.
void select_view(int view) {
    settings.view = view;
    layout_window();
}

// The scroll profile joins here.
void write_scroll_profile() {}

// The view switcher, the status strip and the find bar join here.
void create_chrome_units(HWND) {}
void restyle_chrome_units() {}

// Menus, accelerators and command dispatch join here.
void attach_menu_bar(HWND) {}
void run_command(unsigned) {}

} // namespace pellix
