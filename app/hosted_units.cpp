#include "app/hosted_units.h"

#include <commctrl.h>
#include <memory>

#include "app/about_box.h"
#include "app/document_tabs.h"
#include "app/editor_hosting.h"
#include "app/find_bar.h"
#include "app/find_replace.h"
#include "app/main_layout.h"
#include "app/main_window_state.h"
#include "app/open_files.h"
#include "app/owner_drawn_buttons.h"
#include "app/palette.h"
#include "app/prompts.h"
#include "app/save_files.h"
#include "app/settings.h"
#include "app/status_strip.h"
#include "app/theme.h"
#include "app/timers.h"
#include "app/ui_fonts.h"
#include "app/view_switcher.h"
#include "app/views.h"
#include "app/window_proc.h"
#include "core/file_io.h"
#include "editor/source_interface.h"
#include "preview/preview_window.h"
#include "preview/svg_icons.h"

namespace pellix {

namespace {

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

} // namespace

// The editor window of each tab.
HWND create_tab_editor(HWND) {
    HWND editor = create_editor();
    start_tab_list(editor);
    return editor;
}

void style_active_editor() {
    if (chrome.editor != nullptr) {
        set_source_style(chrome.editor, static_cast<std::uint32_t>(settings.font_size), dark_theme,
                         settings.line_numbers);
    }
}

void editor_notification(unsigned code) {
    if (code == EN_CHANGE) {
        on_editor_change();
    }
}

// The preview window.
void zoom_preview(double zoom) {
    preview().text_scale = zoom;
    if (preview().window == nullptr) {
        return;
    }
    try {
        relayout_preview();
    } catch (const std::exception& error) {
        set_preview_failure(error);
    }
}

void fit_preview(bool shown) {
    if (shown) {
        resize_preview();
    }
}

void destroy_preview_window() {
    destroy_preview();
    chrome.preview = nullptr;
}

// The glyph renderer joins here.
void clear_glyph_cache() {
    clear_icon_cache();
}
void release_glyph_renderer() {
    release_icon_renderer();
}

// Tabs and files.
std::filesystem::path active_tab_path() {
    return tabs.empty() ? std::filesystem::path() : current_tab().path;
}

// The view switcher joins here.
void create_chrome_units(HWND main) {
    create_status_strip(main);
    switcher = std::make_unique<ViewSwitcher>();
    switcher->command = post_switcher_command;
    chrome.view_switcher = create_view_switcher(main, *switcher);
    make_find_bar(main);
}
void restyle_chrome_units() {
    if (switcher && switcher->window != nullptr) {
        set_switcher_theme(*switcher, dark_theme, ui_fonts.message);
    }
    apply_find_bar_appearance(dark_theme, ui_fonts.message, ui_fonts.icon);
    restyle_status_strip(dark_theme, ui_fonts.message);
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
    const DocumentTab* tab = tabs.empty() ? nullptr : &current_tab();
    update_switcher(*switcher, layout.effective_view, layout.show_outline,
                    is_markdown_path(active_tab_path()),
                    tab != nullptr ? tab->watch_state : switcher_watch::off, watch_available,
                    tab != nullptr ? display_text(tab->watch_status) : std::wstring());
}
void release_chrome_buffers() {
    release_owner_drawn_buffer();
    release_find_bar_buffer();
    status_strip().buffer.release();
}

} // namespace pellix
