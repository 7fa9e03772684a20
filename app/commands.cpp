#include "app/commands.h"

#include <windows.h>
#include <richedit.h>

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "app/about_box.h"
#include "app/document_commands.h"
#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/menu_bar.h"
#include "app/open_files.h"
#include "app/save_files.h"
#include "app/setting_commands.h"
#include "app/settings.h"
#include "core/file_io.h"
#include "core/limits.h"
#include "preview/preview_window.h"
#include "shell/markdown_files_dialog.h"

namespace pellix {

namespace {

constexpr UINT edit_messages[] = {EM_UNDO, EM_REDO, WM_CUT, WM_COPY, WM_PASTE};
constexpr unsigned first_edit_command = 200;
constexpr unsigned unicode_reopen = 900;
constexpr unsigned first_recent = 600;
constexpr unsigned last_recent = 605;
constexpr unsigned first_compare_target = 1000;
constexpr unsigned last_compare_target = 1127;

std::function<void()>& refusal_sound() {
    static std::function<void()> sound;
    return sound;
}

void refuse() {
    if (refusal_sound()) {
        refusal_sound()();
    } else {
        MessageBeep(0);
    }
}

bool in_range(unsigned id, unsigned first, unsigned last) {
    return id >= first && id <= last;
}

bool is_reopen(unsigned id) {
    return id == unicode_reopen || in_range(id, 904, 907);
}

bool preview_has_focus() {
    HWND preview_window = preview().window;
    return preview_window != nullptr && GetFocus() == preview_window;
}

void route_to_editor(unsigned id) {
    if (settings.view == view_preview) {
        select_view(view_split);
    }
    SetFocus(chrome.editor);
    SendMessageW(chrome.editor, edit_messages[id - first_edit_command], 0, 0);
}

void copy_selection() {
    if (settings.view == view_preview || preview_has_focus()) {
        copy_preview_selection(preview());
        return;
    }
    SetFocus(chrome.editor);
    SendMessageW(chrome.editor, WM_COPY, 0, 0);
}

void select_all() {
    Preview::Impl& p = preview();
    if ((settings.view == view_preview && p.window != nullptr) || preview_has_focus()) {
        p.view.anchor = 0;
        p.view.caret = p.document.text.size();
        write_view_record(p);
        InvalidateRect(p.window, nullptr, FALSE);
        return;
    }
    SetFocus(chrome.editor);
    GETTEXTLENGTHEX query{.flags = GTL_PRECISE | GTL_NUMCHARS, .codepage = 1200};
    const LRESULT length =
        SendMessageW(chrome.editor, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&query), 0);
    if (length < 0 || static_cast<std::uint64_t>(length) > document_limit) {
        throw std::runtime_error("Could not determine the complete selection range.");
    }
    CHARRANGE all{0, static_cast<LONG>(length)};
    SendMessageW(chrome.editor, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&all));
}

void step_tab(bool forward) {
    const std::uint64_t count = tabs.size();
    if (count < 2) {
        return;
    }
    select_tab(forward ? (active + 1) % count : (active + count - 1) % count, true);
    store_session(false, false);
}

bool split_shows_both() {
    return settings.view == view_split && settings.split > 0.0 && settings.split < 1.0;
}

void hide_pane(unsigned id) {
    if (!split_shows_both()) {
        return;
    }
    if (id == 319 && is_markdown_path(current_tab().path)) {
        select_view(view_preview);
    } else if (id == 320) {
        select_view(view_source);
    }
}

void complete() {
    if (settings.view == view_preview) {
        select_view(view_split);
    }
    show_completion();
}

void exit_program() {
    if (replace_all_running()) {
        cancel_replace_all();
    }
    SendMessageW(main_window, WM_CLOSE, 0, 0);
}

void reopen_with_encoding(unsigned id) {
    if (current_tab().path.empty()) {
        return;
    }
    reload_file(true, static_cast<Encoding>(id == unicode_reopen ? 0 : id - unicode_reopen));
}

void close_tabs_beside(bool right_only) {
    const std::uint64_t kept = active;
    close_tabs_where([kept, right_only](
                         std::uint64_t index) { return right_only ? index > kept : index != kept; },
                     ask_save_changes);
}

bool refused_while_watched(unsigned id) {
    return std::find(watch_greyed_commands.begin(), watch_greyed_commands.end(), id) !=
               watch_greyed_commands.end() ||
           id == 360 || id == 361 || is_reopen(id);
}

// The compare commands come first: a watched tab does not refuse them.
bool compare_gate(unsigned id) {
    if (in_range(id, first_compare_target, last_compare_target) || in_range(id, 332, 334) ||
        id == 364) {
        run_compare_command(id);
        return true;
    }
    if (in_range(id, 329, 331)) {
        if (!replace_all_running()) {
            run_compare_command(id);
        }
        return true;
    }
    return false;
}

// The rules of a watched tab, and the watch commands; true when the command was decided.
bool watch_gate(unsigned id) {
    const DocumentTab& tab = current_tab();
    const bool watched = tab.watch_state != 0;
    if (watched && refused_while_watched(id)) {
        refuse();
        return true;
    }
    switch (id) {
    case 324:
        toggle_watch(tab.id, {});
        return true;
    case 325:
        clear_watch_changes(tab.id);
        return true;
    case 105:
        if (watched) {
            schedule_watch_read(tab.id, true);
            apply_watch_reads();
        } else if (!replace_all_running()) {
            reload_file(true, std::nullopt);
        }
        return true;
    case 363:
        show_watch_menu();
        return true;
    default:
        return false;
    }
}

void file_command(unsigned id) {
    switch (id) {
    case 100:
        new_tab();
        break;
    case 101:
        open_files_dialog();
        break;
    case 102:
    case 103:
        save_file(id == 103, nullptr, {});
        break;
    case 104:
        exit_program();
        break;
    case 106:
    case 117:
        export_document(id == 117, {});
        break;
    case 107:
        print_document();
        break;
    case 108:
        close_current_tab({});
        break;
    case 109:
    case 110:
        close_tabs_beside(id == 110);
        break;
    case 111:
        copy_full_path();
        break;
    case 112:
        open_containing_folder();
        break;
    default:
        break;
    }
}

void edit_command(unsigned id) {
    switch (id) {
    case 203:
        copy_selection();
        break;
    case 205:
        select_all();
        break;
    case 210:
        complete();
        break;
    default:
        if (in_range(id, 200, 204)) {
            route_to_editor(id);
        } else {
            find_command(id);
        }
        break;
    }
}

void view_command(unsigned id) {
    switch (id) {
    case 300:
    case 301:
        select_view(static_cast<int>(id));
        break;
    case 302:
        open_split_view();
        break;
    case 303:
        toggle_word_wrap();
        break;
    case 304:
        toggle_outline_pane();
        break;
    case 306:
    case 307:
    case 308:
        zoom_command(id);
        break;
    case 309:
        toggle_line_numbers();
        break;
    case 310:
        toggle_autocomplete();
        break;
    case 311:
    case 312:
    case 313:
        select_theme(id - 311);
        break;
    case 314:
    case 315:
        step_tab(id == 314);
        break;
    case 316:
    case 317:
        set_outline_expansion(id == 316);
        break;
    case 318:
        show_outline_options();
        break;
    case 319:
    case 320:
        hide_pane(id);
        break;
    case 321:
    case 322:
    case 323:
        select_syntax_colouring(id - 321);
        break;
    case 326:
    case 327:
    case 328:
        outline_mode_command(id);
        break;
    default:
        break;
    }
}

void other_command(unsigned id) {
    switch (id) {
    case 360:
    case 361:
        show_save_format_menu(id == 360);
        break;
    case 362:
        run_command(308);
        break;
    case 500:
        show_about_box(main_window);
        break;
    case 501:
        show_markdown_files_dialog(main_window);
        break;
    case 650:
        clear_recent_files();
        persist_settings(true);
        break;
    default:
        if (in_range(id, 400, 410)) {
            format_command(id);
        }
        break;
    }
}

} // namespace

void install_refusal_sound(std::function<void()> sound) {
    refusal_sound() = std::move(sound);
}

void run_command(unsigned id) {
    if (tabs.empty() || compare_gate(id) || watch_gate(id)) {
        return;
    }
    if (replace_all_running()) {
        if (id == 104) {
            exit_program();
        }
        return;
    }
    if (is_reopen(id)) {
        reopen_with_encoding(id);
    } else if (in_range(id, first_recent, last_recent)) {
        open_recent_file(id - first_recent);
    } else if (in_range(id, 100, 117)) {
        file_command(id);
    } else if (in_range(id, 200, 210)) {
        edit_command(id);
    } else if (in_range(id, 300, 335)) {
        view_command(id);
    } else {
        other_command(id);
    }
}

} // namespace pellix
