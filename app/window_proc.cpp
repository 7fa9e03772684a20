#include "app/window_proc.h"

#include <shellapi.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/compare_controller.h"
#include "app/directory_watching.h"
#include "app/document_tabs.h"
#include "app/editor_hosting.h"
#include "app/hosted_units.h"
#include "app/main_layout.h"
#include "app/main_paint.h"
#include "app/main_window_create.h"
#include "app/main_window_state.h"
#include "app/menu_bar.h"
#include "app/outline_pane.h"
#include "app/prompts.h"
#include "app/settings.h"
#include "app/single_instance.h"
#include "app/splitters.h"
#include "app/tab_tooltip.h"
#include "app/theme.h"
#include "app/timers.h"
#include "app/ui_fonts.h"
#include "app/views.h"
#include "app/watch_controller.h"
#include "editor/source_interface.h"
#include "platform/frames_undrawn.h"
#include "platform/size_settling.h"
#include "preview/preview_window.h"

namespace pellix {

namespace {

// A drawing of the window's last size is posted and not yet done.
bool size_drawing_posted = false;

constexpr int min_track_width = 640;
constexpr int min_track_height = 400;
// Timers of the main window, killed in this order when it is destroyed.
constexpr UINT_PTR destroy_timer_order[] = {11, 1, 6, 10, 2, 3, 8, 5, 7, timer_id::status_refresh};

HMONITOR last_monitor = nullptr;
// The batch of the paths handed over since the queue was last opened; 0 until one arrives.
std::uint64_t handoff_batch = 0;

// Set while the close's own prompts are being answered.
bool close_being_asked = false;

// Whether the user lets the window close; a second close request meanwhile asks nothing more.
bool close_is_confirmed() {
    close_being_asked = true;
    struct Clear {
        ~Clear() { close_being_asked = false; }
    } clear;
    return may_close_window();
}

LRESULT on_close(HWND window) {
    if (close_being_asked) {
        return 0;
    }
    // A close that arrives while a prompt is open (a tab's own "Save changes?") waits for its
    // answer: a second prompt about the same text could discard what the first one saves.
    if (file_work_busy || start_up_pending || prompt_shown()) {
        close_deferred = true;
        return 0;
    }
    cancel_replace_all();
    if (!close_is_confirmed()) {
        return 0;
    }
    if (!pending_paths.empty()) {
        discarded_at_close.clear();
        PostMessageW(window, WM_APP_OPEN_QUEUED, 0, 0);
        return 0;
    }
    try {
        store_final_session();
        save_window_placement(window);
    } catch (const std::exception& error) {
        // The default handling would destroy the window; a failed final step keeps it open.
        show_error_message(error);
        return 0;
    }
    // Set only now: a failure above keeps the window open, and it must then go on taking paths
    // from a second start.
    closing = true;
    DestroyWindow(window);
    return 0;
}

void on_destroy() {
    set_prompts_closed_handler({});
    stop_compare_worker();
    KillTimer(main_window, timer_id::compare);
    stop_watch_worker();
    for (UINT_PTR timer : destroy_timer_order) {
        KillTimer(main_window, timer);
    }
    split_sync_request.pending = false;
    hide_completion();
    set_completion_owner(nullptr);
    input_busy_until = 0;
    autosave_deadline = 0;
    recovery_store_deadline = 0;
    word_count_cache = {};
    stop_directory_watcher();
    persist_settings(true);
    destroy_preview_window();
    PostQuitMessage(0);
}

// What waited for the prompts runs when the last one closes, unless unfinished work releases it.
void release_work_after_prompts() {
    if (!file_work_busy && !start_up_pending) {
        release_queued_work();
    }
}

LRESULT on_copy_data(HWND window, LPARAM lparam) {
    if (closing) {
        return FALSE;
    }
    auto path = path_from_copy_data(reinterpret_cast<const COPYDATASTRUCT*>(lparam));
    if (!path) {
        return FALSE;
    }
    if (handoff_batch == 0) {
        handoff_batch = new_open_batch();
    }
    queue_pending_path(std::move(*path), handoff_batch);
    if (!PostMessageW(window, WM_APP_OPEN_QUEUED, 0, 0)) {
        unqueue_last_pending_path();
        return FALSE;
    }
    return TRUE;
}

void on_drop_files(HDROP drop) {
    std::vector<std::filesystem::path> paths;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        std::wstring path(length + 1, L'\0');
        DragQueryFileW(drop, i, path.data(), length + 1);
        path.resize(length);
        paths.emplace_back(std::move(path));
    }
    DragFinish(drop);
    open_paths(paths);
}

void on_open_queued(HWND window) {
    if (file_work_busy || start_up_pending || restoring_session() || !IsWindowEnabled(window)) {
        return;
    }
    open_pending_paths();
}

void on_startup_tail(HWND window) {
    struct ClearPending {
        ~ClearPending() { start_up_pending = false; }
    } clear_pending;
    const bool drafts_refused = restore_and_welcome();
    start_up_pending = false;
    // Drafts refused are let go: a crash before a deferred store would offer them again.
    store_session(false, drafts_refused);
    PostMessageW(window, WM_APP_OPEN_QUEUED, 0, 0);
    if (close_deferred) {
        close_deferred = false;
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
}

void on_appearance_changed(HWND window) {
    layout_window();
    release_chrome_buffers();
    clear_glyph_cache();
    for (HWND unit : {chrome.status_strip, chrome.find_bar, chrome.view_switcher}) {
        if (unit != nullptr) {
            RedrawWindow(unit, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
        }
    }
    if (chrome.view_switcher != nullptr) {
        for (HWND button = GetWindow(chrome.view_switcher, GW_CHILD); button != nullptr;
             button = GetWindow(button, GW_HWNDNEXT)) {
            RedrawWindow(button, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        }
    }
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_FRAME);
}

void on_min_max_info(HWND window, MINMAXINFO* info) {
    UINT dpi = GetDpiForWindow(window);
    if (dpi == 0) {
        dpi = GetDpiForSystem();
    }
    info->ptMinTrackSize = {scale_metric(min_track_width, dpi),
                            scale_metric(min_track_height, dpi)};
}

void on_dpi_changed(HWND window, const RECT* suggested) {
    SetWindowPos(window, nullptr, suggested->left, suggested->top,
                 suggested->right - suggested->left, suggested->bottom - suggested->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    update_window_icons();
    update_ui_fonts();
    for (const auto& tab : tabs) {
        set_editor_margin(tab->editor);
    }
    apply_editor_font();
    layout_window();
    PostMessageW(window, WM_APP_APPEARANCE_CHANGED, 0, 0);
}

// Under Wine a paint this long reaches the screen in parts, so the parts go in the order that
// shows no old pixels in a new place for long: the moved preview, then the main window's own
// background over what the moves uncovered, then the editor, whose picture stays in place in a
// surface of its own, then the strips and headers. The page is laid out at the size first, once
// for all the sizes that came since the last drawing.
void draw_size(HWND window) {
    {
        const FramesUndrawn undrawn;
        lay_out_preview_at_size();
    }
    if (chrome.preview != nullptr) {
        RedrawWindow(chrome.preview, nullptr, nullptr, RDW_UPDATENOW);
    }
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_NOCHILDREN);
    if (chrome.editor != nullptr) {
        RedrawWindow(chrome.editor, nullptr, nullptr, RDW_UPDATENOW);
    }
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

// A drag of the window's edge passes through dozens of sizes: the shown panes' targets keep
// theirs from the first of them until the size settles, a short while after the last size or at
// once when a drag in the system's size loop ends. The panes take their new sizes first, which
// would have them follow at once.
// One size, one picture: drawn as the children moved, their frames (the scroll bars) showed at
// each new place over the old panes' pixels until the panes painted, after the drag had ended;
// painted at once, each size cost a whole paint and the window fell behind the hand. So the
// moves draw nothing, the screen keeping the last picture, and the posted drawing comes after the
// sizes already waiting and draws the last of them whole.
void on_size(HWND window, WPARAM kind) {
    {
        const FramesUndrawn undrawn;
        layout_window();
    }
    if (kind == SIZE_MINIMIZED) {
        return;
    }
    if (chrome.editor != nullptr) {
        hold_target_size(chrome.editor);
    }
    hold_preview_target_size(preview());
    if (targets_wait_for_settled_size()) {
        SetTimer(window, timer_id::size_settle, size_settle_delay(), nullptr);
    }
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    if (!size_drawing_posted) {
        size_drawing_posted = PostMessageW(window, WM_APP_DRAW_SIZE, 0, 0) != FALSE;
        if (!size_drawing_posted) {
            draw_size(window);
        }
    }
}

void on_draw_size(HWND window) {
    size_drawing_posted = false;
    draw_size(window);
}

// The panes take the settled size and draw it whole, the editor first: its frame is the
// cheaper, and each pane shows its stretched last picture until its own new one is drawn.
void settle_window_size(HWND window) {
    KillTimer(window, timer_id::size_settle);
    if (size_drawing_posted) {
        on_draw_size(window);
    }
    if (chrome.editor != nullptr) {
        settle_target_size(chrome.editor);
        UpdateWindow(chrome.editor);
    }
    settle_preview_target_size(preview());
    if (chrome.preview != nullptr) {
        UpdateWindow(chrome.preview);
    }
}

void on_window_pos_changed(HWND window) {
    HMONITOR monitor = MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
    if (monitor != last_monitor) {
        last_monitor = monitor;
        PostMessageW(window, WM_APP_APPEARANCE_CHANGED, 0, 0);
    }
}

bool names_area(LPARAM lparam, const wchar_t* area) {
    const auto* name = reinterpret_cast<const wchar_t*>(lparam);
    return name != nullptr && _wcsicmp(name, area) == 0;
}

void on_setting_change(WPARAM wparam, LPARAM lparam) {
    if (wparam == SPI_SETNONCLIENTMETRICS || names_area(lparam, L"WindowMetrics") ||
        names_area(lparam, L"Accessibility")) {
        update_ui_fonts();
        layout_window();
    }
    if (names_area(lparam, L"ImmersiveColorSet") || wparam == SPI_SETHIGHCONTRAST) {
        apply_appearance();
        refresh_current_tab();
    }
}

void on_set_focus() {
    if (settings.view != view_preview && chrome.editor != nullptr) {
        SetFocus(chrome.editor);
    }
}

LRESULT on_notify(const NMHDR* header) {
    if (header == nullptr) {
        return 0;
    }
    if (auto answer = outline_notification(*header)) {
        return *answer;
    }
    if (auto answer = tab_tooltip_notification(*header)) {
        return *answer;
    }
    if (header->hwndFrom == chrome.tab_control && header->code == TCN_SELCHANGE) {
        const LRESULT index = SendMessageW(chrome.tab_control, TCM_GETCURSEL, 0, 0);
        if (index >= 0) {
            select_tab(static_cast<std::uint64_t>(index), true);
            store_session(false, false);
        }
    } else if (header->hwndFrom == chrome.editor && header->code == EN_SELCHANGE) {
        update_status_soon();
        sync_outline_selection();
    }
    return 0;
}

LRESULT on_command(WPARAM wparam, LPARAM lparam) {
    if (file_work_busy) {
        return 0;
    }
    if (chrome.editor != nullptr && LOWORD(wparam) == child_id::editor &&
        reinterpret_cast<HWND>(lparam) == chrome.editor) {
        editor_notification(HIWORD(wparam));
        return 0;
    }
    // A switcher button that had the focus keeps it, so that the arrow keys go on moving
    // through the views.
    const auto sender = reinterpret_cast<HWND>(lparam);
    const bool from_switcher =
        sender != nullptr && chrome.view_switcher != nullptr && GetFocus() == sender &&
        (sender == chrome.view_switcher || IsChild(chrome.view_switcher, sender));
    run_command(LOWORD(wparam));
    if (from_switcher && IsWindow(sender) && IsWindowEnabled(sender)) {
        SetFocus(sender);
    }
    return 0;
}

// The message's answer, or nothing when it goes on to DefWindowProcW.
std::optional<LRESULT> handle(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (auto answer = paint_message(window, message, wparam, lparam)) {
        return answer;
    }
    if (auto answer = splitter_message(window, message, wparam, lparam)) {
        return answer;
    }
    switch (message) {
    case WM_CREATE:
        build_main_window(window);
        set_prompts_closed_handler(release_work_after_prompts);
        return 0;
    case WM_CLOSE:
        return on_close(window);
    case WM_DESTROY:
        on_destroy();
        return 0;
    case WM_NCDESTROY:
        main_window = nullptr;
        chrome = {};
        menus = {};
        tabs.clear();
        return std::nullopt;
    case WM_COMMAND:
        return on_command(wparam, lparam);
    case WM_INITMENUPOPUP:
        prepare_menu_popup(reinterpret_cast<HMENU>(wparam));
        return std::nullopt;
    case WM_NOTIFY:
        return on_notify(reinterpret_cast<const NMHDR*>(lparam));
    case WM_TIMER:
        if (wparam == timer_id::size_settle) {
            settle_window_size(window);
        } else {
            on_timer(wparam);
        }
        return 0;
    case WM_DROPFILES:
        on_drop_files(reinterpret_cast<HDROP>(wparam));
        return 0;
    case WM_COPYDATA:
        return on_copy_data(window, lparam);
    case WM_APP_OPEN_QUEUED:
        on_open_queued(window);
        return 0;
    case WM_APP_STARTUP_TAIL:
        on_startup_tail(window);
        return 0;
    case WM_APP_APPEARANCE_CHANGED:
        on_appearance_changed(window);
        return 0;
    case WM_APP_WATCH_RESULTS:
        apply_watch_reads();
        return 0;
    case WM_APP_COMPARE_RESULTS:
        compare_tick();
        return 0;
    case WM_SIZE:
        on_size(window, wparam);
        return 0;
    case WM_APP_DRAW_SIZE:
        on_draw_size(window);
        return 0;
    case WM_EXITSIZEMOVE:
        settle_window_size(window);
        return 0;
    case WM_GETMINMAXINFO:
        on_min_max_info(window, reinterpret_cast<MINMAXINFO*>(lparam));
        return 0;
    case WM_DPICHANGED:
        on_dpi_changed(window, reinterpret_cast<const RECT*>(lparam));
        return 0;
    case WM_DISPLAYCHANGE:
        PostMessageW(window, WM_APP_APPEARANCE_CHANGED, 0, 0);
        return 0;
    case WM_WINDOWPOSCHANGED:
        on_window_pos_changed(window);
        return std::nullopt;
    case WM_SETTINGCHANGE:
        on_setting_change(wparam, lparam);
        return 0;
    case WM_SYSCOLORCHANGE:
    case WM_THEMECHANGED:
        apply_appearance();
        refresh_current_tab();
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wparam) == WA_INACTIVE) {
            hide_completion();
        }
        return 0;
    case WM_SETFOCUS:
        on_set_focus();
        return 0;
    default:
        return std::nullopt;
    }
}

} // namespace

void open_pending_paths() {
    open_queued_paths(take_queued_paths());
}

std::vector<PendingPath> take_queued_paths() {
    // Nothing tells one start's hand-over from another's: the paths handed over while these open
    // are a batch of their own, so that a refusal here never drops another start's paths without
    // a word. A long hand-over that meets the limit may show the box twice instead.
    handoff_batch = 0;
    return take_pending_paths();
}

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    try {
        if (auto answer = handle(window, message, wparam, lparam)) {
            return *answer;
        }
    } catch (const std::exception& error) {
        show_error_message(error);
        if (message == WM_CREATE) {
            return -1;
        }
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

} // namespace pellix
