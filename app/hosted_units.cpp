#include "app/hosted_units.h"

#include <memory>

#include "app/about_box.h"
#include "app/main_layout.h"
#include "app/main_window_state.h"
#include "app/owner_drawn_buttons.h"
#include "app/palette.h"
#include "app/prompts.h"
#include "app/scroll_profile.h"
#include "app/settings.h"
#include "app/ui_fonts.h"
#include "app/view_switcher.h"
#include "core/file_io.h"
#include "preview/preview_window.h"
#include "preview/svg_icons.h"

namespace pellix {

namespace {

inline constexpr unsigned about_command = 500;
inline constexpr unsigned outline_command = 304;

// The main window's view switcher; made anew with each main window.
std::unique_ptr<ViewSwitcher> switcher;

HWND switcher_button_for(unsigned id) {
    if (!switcher) {
        return nullptr;
    }
    for (size_t i = 0; i < switcher_buttons; ++i) {
        if (switcher_commands[i] == id) {
            return switcher->buttons[i];
        }
    }
    return nullptr;
}

void post_switcher_command(unsigned id) {
    if (main_window != nullptr) {
        PostMessageW(main_window, WM_COMMAND, LOWORD(id),
                     reinterpret_cast<LPARAM>(switcher_button_for(id)));
    }
}

void toggle_outline() {
    if (is_markdown_path(active_tab_path())) {
        settings.outline = !settings.outline;
        layout_window();
    }
    persist_settings(true);
}

} // namespace

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
void clear_glyph_cache() {
    clear_icon_cache();
}
void release_glyph_renderer() {
    release_about_renderer();
}

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
void write_scroll_profile() {
    write_scroll_profile_file(scroll_profile, scroll_profile_file_name);
}
// The preview numbers its two stages itself; they index the profile's table.
static_assert(scroll_stage::preview_input == 3 && scroll_stage::preview_paint == 4 &&
              scroll_stage_count == 5);
void attach_scroll_profile() {
    if (scroll_profile.enabled) {
        preview().profile = record_preview_sample;
    }
}

// The view switcher, the status strip and the find bar join here.
void create_chrome_units(HWND main) {
    switcher = std::make_unique<ViewSwitcher>();
    switcher->command = post_switcher_command;
    chrome.view_switcher = create_view_switcher(main, *switcher);
}
void restyle_chrome_units() {
    if (switcher && switcher->window != nullptr) {
        set_switcher_theme(*switcher, dark_theme, ui_fonts.message);
    }
}
void update_view_switcher(const MainLayout& layout) {
    if (!switcher || switcher->window == nullptr) {
        return;
    }
    const unsigned dpi = main_window_dpi();
    set_switcher_sizes(*switcher, layout.switcher_layout.widths,
                       scale_metric(switcher_group_gap, dpi),
                       scale_metric(switcher_group_margin, dpi), layout.switcher_layout.labels);
    const bool watch_available = !active_tab_path().empty() && !replace_all_running();
    update_switcher(*switcher, layout.effective_view, layout.show_outline,
                    is_markdown_path(active_tab_path()), switcher_watch::off, watch_available, {});
}
void release_chrome_buffers() {
    release_owner_drawn_buffer();
}

// Menus, accelerators and command dispatch join here; until the dispatcher lands, the view
// switcher's commands and the About box are carried out here.
void attach_menu_bar(HWND) {}
void run_command(unsigned id) {
    switch (id) {
    case view_source:
    case view_preview:
    case view_split:
        select_view(static_cast<int>(id));
        break;
    case outline_command:
        toggle_outline();
        break;
    case about_command:
        show_about_box(main_window);
        break;
    default:
        break;
    }
}

} // namespace pellix
