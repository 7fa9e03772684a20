#include "app/setting_commands.h"

#include <algorithm>

#include "app/hosted_units.h"
#include "app/main_layout.h"
#include "app/main_window_state.h"
#include "app/settings.h"
#include "app/theme.h"
#include "app/views.h"
#include "core/file_io.h"
#include "editor/source_interface.h"

namespace pellix {

namespace {

constexpr double lowest_open_share = 0.1;
constexpr double highest_open_share = 0.9;
constexpr double even_share = 0.5;

constexpr unsigned wrap_command = 303;
constexpr unsigned outline_command = 304;
constexpr unsigned line_numbers_command = 309;
constexpr unsigned autocomplete_command = 310;
constexpr unsigned first_theme_command = 311;
constexpr unsigned first_colouring_command = 321;
constexpr unsigned headings_command = 326;
constexpr unsigned tasks_command = 327;
constexpr unsigned hide_completed_command = 328;
constexpr unsigned expand_all_command = 316;
constexpr unsigned collapse_all_command = 317;

bool within_open_shares(double share) {
    return share >= lowest_open_share && share <= highest_open_share;
}

void check_view_item(unsigned id, bool on) {
    if (menus.bar != nullptr) {
        CheckMenuItem(menus.bar, id, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
    }
}

} // namespace

void open_split_view() {
    if (!within_open_shares(settings.split)) {
        settings.split =
            within_open_shares(settings.split_restore) ? settings.split_restore : even_share;
    }
    select_view(view_split);
}

void toggle_word_wrap() {
    settings.wrap = !settings.wrap;
    if (chrome.editor != nullptr) {
        SendMessageW(chrome.editor, EM_SETTARGETDEVICE, 0, settings.wrap ? 0 : 1);
    }
    check_view_item(wrap_command, settings.wrap);
    refresh_current_tab();
    persist_settings(true);
}

void toggle_outline_pane() {
    if (!tabs.empty() && is_markdown_path(current_tab().path)) {
        settings.outline = !settings.outline;
        check_view_item(outline_command, settings.outline);
        layout_window();
        refresh_current_tab();
    }
    persist_settings(true);
}

void toggle_line_numbers() {
    settings.line_numbers = !settings.line_numbers;
    style_active_editor();
    layout_window();
    check_view_item(line_numbers_command, settings.line_numbers);
    persist_settings(true);
}

void toggle_autocomplete() {
    settings.autocomplete = !settings.autocomplete;
    if (!settings.autocomplete) {
        hide_completion();
    }
    check_view_item(autocomplete_command, settings.autocomplete);
    persist_settings(true);
}

void zoom_command(unsigned id) {
    switch (id) {
    case 306:
        settings.font_size = std::clamp(settings.font_size + 1, min_font_points, max_font_points);
        break;
    case 307:
        settings.font_size = std::clamp(settings.font_size - 1, min_font_points, max_font_points);
        break;
    default:
        settings.font_size = default_font_points;
        break;
    }
    apply_editor_font();
    // The editor's text at the new size is drawn before the strip's figure: the strip's items
    // are buttons, which draw their new text at once.
    UpdateWindow(chrome.editor);
    // The strip's zoom item is the control the user clicks to reset the zoom, so it must show
    // the new size at once rather than at the next caret move.
    update_status();
    draw_waiting_windows();
    persist_settings(true);
}

void select_theme(unsigned theme) {
    settings.theme = theme;
    if (menus.theme != nullptr) {
        CheckMenuRadioItem(menus.theme, first_theme_command, first_theme_command + 2,
                           first_theme_command + theme, MF_BYCOMMAND);
    }
    apply_appearance();
    refresh_current_tab();
    persist_settings(true);
}

void select_syntax_colouring(unsigned mode) {
    settings.syntax_colouring = mode > 2 ? 0 : mode;
    for (const auto& tab : tabs) {
        set_colouring_mode(tab->editor, static_cast<int>(settings.syntax_colouring));
    }
    if (menus.colouring != nullptr) {
        CheckMenuRadioItem(menus.colouring, first_colouring_command, first_colouring_command + 2,
                           first_colouring_command + settings.syntax_colouring, MF_BYCOMMAND);
    }
    persist_settings(true);
}

void outline_mode_command(unsigned id) {
    if (id == headings_command) {
        set_outline_mode(false, outline_hides_completed());
    } else if (id == tasks_command) {
        set_outline_mode(true, outline_hides_completed());
    } else {
        set_outline_mode(outline_shows_tasks(), !outline_hides_completed());
    }
}

void show_outline_options() {
    HMENU popup = CreatePopupMenu();
    if (popup == nullptr || chrome.outline_options == nullptr) {
        if (popup != nullptr) {
            DestroyMenu(popup);
        }
        return;
    }
    auto checked = [](bool on) { return MF_STRING | (on ? MF_CHECKED : MF_UNCHECKED); };
    const bool tasks = outline_shows_tasks();
    AppendMenuW(popup, checked(!tasks), headings_command, L"Headings");
    AppendMenuW(popup, checked(tasks), tasks_command, L"Tasks");
    AppendMenuW(popup, checked(outline_hides_completed()) | (tasks ? MF_ENABLED : MF_GRAYED),
                hide_completed_command, L"Hide completed tasks");
    AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(popup, MF_STRING, expand_all_command, L"Expand all");
    AppendMenuW(popup, MF_STRING, collapse_all_command, L"Collapse all");
    AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(popup, MF_STRING, outline_command, L"Hide outline");
    RECT button{};
    GetWindowRect(chrome.outline_options, &button);
    const UINT chosen =
        static_cast<UINT>(TrackPopupMenu(popup, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_RIGHTALIGN,
                                         button.right, button.bottom, 0, main_window, nullptr));
    DestroyMenu(popup);
    if (chosen != 0) {
        run_command(chosen);
    }
}

} // namespace pellix
