#include "app/hosted_units.h"

#include <commctrl.h>
#include <memory>

#include "app/about_box.h"
#include "app/document_tabs.h"
#include "app/editor_hosting.h"
#include "app/main_layout.h"
#include "app/main_window_state.h"
#include "app/open_files.h"
#include "app/owner_drawn_buttons.h"
#include "app/palette.h"
#include "app/prompts.h"
#include "app/save_files.h"
#include "app/settings.h"
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
void start_match_count() {}

// Tabs and files.
std::filesystem::path active_tab_path() {
    return tabs.empty() ? std::filesystem::path() : current_tab().path;
}

// Compare and closing several tabs join here.
void open_compare(const std::filesystem::path&, const std::filesystem::path&) {}
bool may_close_window() {
    return true;
}
void stop_compare(DocumentTab& tab) {
    tab.baseline.reset();
}

// Until the closing prompts land, the unsaved-changes question is a plain three-way box.
CloseChoice ask_save_changes(bool) {
    const std::wstring text = L"Save changes to " + tab_name(current_tab()) + L"?";
    switch (message_box(main_window, text, L"Unsaved changes", MB_YESNOCANCEL | MB_ICONWARNING)) {
    case IDYES:
        return CloseChoice::save;
    case IDNO:
        return CloseChoice::discard;
    default:
        return CloseChoice::cancel;
    }
}
void close_tabs_where(const std::function<bool(std::uint64_t)>&,
                      const std::function<CloseChoice(bool)>&) {}
void reload_file(bool, std::optional<Encoding>) {}
void rearm_directory_watcher() {}

// Watch and compare join here.
void toggle_watch(std::uint64_t, const std::function<bool()>&) {}
void schedule_watch_read(std::uint64_t, bool) {}
void clear_watch_changes(std::uint64_t) {}
void run_compare_command(unsigned) {}
void show_watch_menu() {}
void rebuild_compare_menu() {}
void forget_tab_work(DocumentTab&) {}
void compare_timer() {
    KillTimer(main_window, timer_id::compare);
}

// Find, formatting, completion and the outline's expansion join here.
void find_command(unsigned) {}
void find_timer(UINT_PTR id) {
    KillTimer(main_window, id);
}
void format_command(unsigned) {}
void show_completion() {}
void set_outline_expansion(bool) {}
void enable_status_format_items(bool) {}

// Disk state, directory changes and watch join here; the queued opens already run.
void check_disk_changes(bool check) {
    if (check || pending_paths.empty()) {
        return;
    }
    if (file_work_busy || start_up_pending || restoring_session() || replace_all_running() ||
        main_window == nullptr || !IsWindowEnabled(main_window)) {
        return;
    }
    open_pending_paths();
}
void apply_directory_changes(bool) {}
void apply_watch_reads() {}

// The view switcher joins here.
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

// The status strip, the outline and the completion popup join here.
void update_status() {}
bool status_item_rect(unsigned, RECT&) {
    return false;
}
bool outline_is_current(std::uint64_t, std::uint64_t) {
    return true;
}
void rebuild_outline(const std::u16string&, const std::string&) {}
void sync_outline_selection() {}
void clear_outline() {}
bool completion_visible() {
    return false;
}
void accept_completion() {}
void hide_completion() {}
void move_completion_selection(int) {}
void set_completion_owner(HWND) {}

// Split-view scroll synchronisation joins here.
void run_split_sync() {
    split_sync_request.pending = false;
}
void sync_preview_to_editor() {}
void preview_scrolled(double) {}

// Until the tab strip lands, its items are plain names.
void refresh_tab_strip() {
    if (chrome.tab_control == nullptr) {
        return;
    }
    const int count = static_cast<int>(tabs.size());
    while (TabCtrl_GetItemCount(chrome.tab_control) > count) {
        TabCtrl_DeleteItem(chrome.tab_control, TabCtrl_GetItemCount(chrome.tab_control) - 1);
    }
    for (int i = 0; i < count; ++i) {
        DocumentTab& tab = *tabs[static_cast<size_t>(i)];
        tab.label = tab_name(tab);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = tab.label.data();
        if (i < TabCtrl_GetItemCount(chrome.tab_control)) {
            TabCtrl_SetItem(chrome.tab_control, i, &item);
        } else {
            TabCtrl_InsertItem(chrome.tab_control, i, &item);
        }
        tab.shown_index = i;
    }
    TabCtrl_SetCurSel(chrome.tab_control, static_cast<int>(active));
}

// Menus, accelerators and command dispatch join here; until they do, the file, tab and view
// commands, the outline toggle and the About box run directly.
void attach_menu_bar(HWND) {}
void update_command_state() {}

void run_command(unsigned id) {
    switch (id) {
    case 100:
        new_tab();
        break;
    case 101:
        open_files_dialog();
        break;
    case 102:
        save_file(false, nullptr, {});
        break;
    case 103:
        save_file(true, nullptr, {});
        break;
    case 108:
        close_current_tab({});
        break;
    case view_source:
    case view_preview:
    case view_split:
        select_view(static_cast<int>(id));
        break;
    case 360:
    case 361:
        show_save_format_menu(id == 360);
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
