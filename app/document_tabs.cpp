#include "app/document_tabs.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <map>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "editor/source_interface.h"
#include "app/disk_state.h"
#include "app/editor_hosting.h"
#include "app/hosted_units.h"
#include "app/main_layout.h"
#include "app/main_window_state.h"
#include "app/palette.h"
#include "app/save_files.h"
#include "app/settings.h"
#include "app/tab_switch_faults.h"
#include "app/timers.h"
#include "app/views.h"
#include "core/encoding.h"
#include "core/file_io.h"
#include "core/file_paths.h"
#include "platform/child_surfaces.h"
#include "preview/preview_window.h"

namespace pellix {

namespace {

constexpr wchar_t untitled_title[] = L"Untitled.md";
constexpr wchar_t title_suffix[] = L" - Pellix";

std::unique_ptr<DocumentTab> make_tab(const std::filesystem::path& path) {
    if (tabs.size() >= tab_limit) {
        throw std::runtime_error(tab_limit_message);
    }
    auto tab = std::make_unique<DocumentTab>();
    tab->id = next_tab_id++;
    tab->path = path;
    tab->editor = create_editor();
    set_markdown_colouring(tab->editor, is_markdown_path(path));
    return tab;
}

bool editor_modified(HWND editor) {
    return SendMessageW(editor, EM_GETMODIFY, 0, 0) != 0;
}

bool same_normal_spelling(const std::filesystem::path& a, const std::filesystem::path& b) {
    return _wcsicmp(a.lexically_normal().c_str(), b.lexically_normal().c_str()) == 0;
}

// Set while a batch opens: each file's identity is asked of the disk once for the whole batch,
// not once for every file opened after it, which with a hundred tabs made each file slow to
// open. A batch is over long before a file is likely to be replaced under the same name.
std::optional<std::map<std::wstring, std::optional<FileIdentity>>> batch_identities;

std::optional<FileIdentity> known_identity(const std::filesystem::path& path) {
    if (!batch_identities) {
        return file_identity(path);
    }
    const auto [place, added] = batch_identities->try_emplace(path.wstring());
    if (added) {
        place->second = file_identity(path);
    }
    return place->second;
}

std::function<void(SwitchPoint)> switch_fault;

// Set while a switch draws the tab entered, under Wine. A new title repaints the window's whole
// frame, the menu bar with it, and there the screen then showed the bar without its items until
// the window was next put on screen, after the slowest pane: the title follows the panes. On
// Windows it comes with them.
bool title_held = false;

std::wstring window_title() {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(main_window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(main_window, text.data(), static_cast<int>(text.size()))));
    return text;
}

void reach(SwitchPoint point) {
    if (switch_fault) {
        switch_fault(point);
    }
}

void restyle_editor(HWND editor) {
    SetWindowTheme(editor, dark_theme && !high_contrast ? L"DarkMode_Explorer" : L"Explorer",
                   nullptr);
    style_active_editor();
}

void leave_active_tab() {
    DocumentTab& old = current_tab();
    old.preview_line = preview_top_line();
    SendMessageW(old.editor, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&old.selection));
    SendMessageW(old.editor, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&old.scroll_pos));
    old.view = static_cast<std::uint32_t>(settings.view);
    old.split_ratio = settings.split;
    old.split_restore = settings.split_restore;
    remember_recent_file();
}

void focus_editor_unless_preview() {
    if (settings.view != view_preview) {
        SetFocus(chrome.editor);
    }
}

// The editor left stays shown until the rest of the window shows the tab entered: hidden first,
// it left the pane empty (or, under Wine's renderer, showing what lay under it) for as long as
// the switch took.
void enter_tab(std::uint64_t index, HWND left_editor) {
    active = index;
    DocumentTab& tab = current_tab();
    chrome.editor = tab.editor;
    if (left_editor != nullptr && left_editor != tab.editor) {
        editor_shown_later = tab.editor;
    }
    settings.view = static_cast<int>(tab.view);
    settings.split = tab.split_ratio;
    settings.split_restore = tab.split_restore;
    hide_completion();
    set_completion_owner(tab.editor);
    empty_completion_list();
    input_busy_until = 0;
    set_source_highlight(tab.editor, static_cast<int>(highlight_mode));
    SendMessageW(tab.editor, EM_SETTARGETDEVICE, 0, settings.wrap ? 0 : 1);
    restyle_editor(tab.editor);
    refresh_tab_strip();
    reach(SwitchPoint::before_view);
    select_view(static_cast<int>(tab.view));
    focus_editor_unless_preview();
    SendMessageW(tab.editor, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&tab.selection));
    SendMessageW(tab.editor, EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&tab.scroll_pos));
}

// Hiding a child erases its parent under it at once; the erase is put off to the main window's
// next paint, by when the entered editor or the page covers the place, so that the pane keeps the
// old tab's picture until the entered editor presents its own (which for an editor that let go of
// its drawing waits for a new render target).
void hide_left_editor(HWND left_editor) {
    if (!shown_itself(left_editor) || hide_without_erase(left_editor)) {
        return;
    }
    ShowWindow(left_editor, SW_HIDE);
    if (shown_itself(left_editor)) {
        // ShowWindow told the editor it is hidden before the hide failed.
        SendMessageW(left_editor, WM_SHOWWINDOW, TRUE, 0);
    }
}

bool is_pane_header(HWND window) {
    return window == chrome.source_label || window == chrome.hide_source ||
           window == chrome.preview_label || window == chrome.hide_preview;
}

// The page first, then the strips, the outline, those that take the left editor's place too
// (drawn under it, they are whole once it is hidden), and the headers unless an editor is
// entered: they then wait for it, since drawn first a header of the new layout stood over the old
// tab's panes for as long as that editor took to draw.
void draw_panes_but_editors(HWND left_editor, HWND entered, bool headers_wait) {
    if (preview().window != nullptr && IsWindowVisible(preview().window)) {
        UpdateWindow(preview().window);
    }
    for (HWND pane = GetWindow(main_window, GW_CHILD); pane != nullptr;
         pane = GetWindow(pane, GW_HWNDNEXT)) {
        if (pane != left_editor && pane != entered && !(headers_wait && is_pane_header(pane)) &&
            IsWindowVisible(pane)) {
            UpdateWindow(pane);
        }
    }
}

// The switch reaches the screen pane by pane, each going at once from the old tab's picture to
// the new one's, the dearest first: the page and the strips are drawn while the left editor still
// shows, and its picture stays until the entered editor presents its frame. The two editors are
// never shown together while one draws: under Wine, shown overlapping (whichever lay on top),
// they kept memory for every editor, apparently drawn offscreen.
void present_entered_tab(HWND left_editor) {
    const HWND entered = std::exchange(editor_shown_later, nullptr);
    reach(SwitchPoint::presenting);
    const bool shows_entered = entered != nullptr && current_layout.source_shown;
    draw_panes_but_editors(left_editor, entered, shows_entered);
    const bool left_goes = left_editor != nullptr && left_editor != chrome.editor;
    // On Windows the editor's drawing is part of the main window's surface, and the left
    // editor's pixels stay there once it is hidden. Under Wine each editor's drawing is a window
    // of its own above that surface: hidden first, the left one uncovered what the surface held
    // there. Shown first, the entered editor keeps the screen's pixels where it lies until it
    // presents, so the left one is hidden only then, before the entered one paints: an editor
    // presenting while another overlapped it kept hundreds of MiB.
    const bool entered_first = shows_entered && child_drawing_apart();
    if (left_goes && !entered_first) {
        hide_left_editor(left_editor);
    }
    if (shows_entered) {
        ShowWindow(entered, SW_SHOWNA);
    }
    if (left_goes && entered_first) {
        hide_left_editor(left_editor);
    }
    if (shows_entered) {
        UpdateWindow(entered);
    }
    draw_waiting_windows();
    title_held = false;
    update_title();
}

// A switch cut short by a failure ends as a whole one would, short of what failed: the active
// tab's editor the only one shown (two shown together kept memory under Wine, and the stale
// one could lie on top of the other), and the strips, the view and the layout those of that tab.
// The failure that cut the switch short goes on to the caller, so nothing here may throw.
void settle_cut_short_switch() noexcept {
    editor_shown_later = nullptr;
    title_held = false;
    for (const auto& tab : tabs) {
        if (tab->editor != chrome.editor && shown_itself(tab->editor)) {
            ShowWindow(tab->editor, SW_HIDE);
        }
    }
    try {
        refresh_tab_strip();
        select_view(settings.view);
        update_title();
    } catch (...) {
        // The same failure may come again: the editor is then at least placed and shown as the
        // view wants it.
        try {
            layout_window();
        } catch (...) {
        }
    }
}

// The guard keeps the scroll from being echoed back to the editor, and is lifted whatever
// happens: left set, the panes of Split view would stop following each other.
void scroll_preview_to_pending_line(DocumentTab& tab) {
    split_syncing = true;
    try {
        scroll_preview_to_source_line(tab.preview_line);
    } catch (...) {
        split_syncing = false;
        throw;
    }
    split_syncing = false;
    tab.preview_line_pending = false;
}

// Leaves the active tab for the tab at `index` (or applies the active one again) and shows it.
void switch_to_tab(std::uint64_t index) {
    title_held = child_drawing_apart();
    HWND left_editor = nullptr;
    if (index == active && current_tab().editor == chrome.editor) {
        refresh_tab_strip();
        select_view(settings.view);
        focus_editor_unless_preview();
    } else {
        if (active < tabs.size() && current_tab().editor == chrome.editor) {
            leave_active_tab();
            left_editor = chrome.editor;
        }
        enter_tab(index, left_editor);
    }
    reach(SwitchPoint::entered);
    DocumentTab& tab = current_tab();
    if (tab.preview_line_pending && settings.view != view_source) {
        scroll_preview_to_pending_line(tab);
    }
    update_command_state();
    present_entered_tab(left_editor);
}

// The only tab is replaced by a fresh untitled one with a new identifier and editor.
void replace_only_tab() {
    std::unique_ptr<DocumentTab> fresh = make_tab({});
    forget_tab_work(*tabs.front());
    std::unique_ptr<DocumentTab> old = std::exchange(tabs.front(), std::move(fresh));
    active = 0;
    chrome.editor = tabs.front()->editor;
    set_completion_owner(chrome.editor);
    set_source_highlight(chrome.editor, static_cast<int>(highlight_mode));
    const HWND old_editor = old->editor;
    old.reset();
    DestroyWindow(old_editor);
    restyle_editor(chrome.editor);
    refresh_tab_strip();
    refresh_current_tab();
    store_session(false, true);
}

void remove_active_tab() {
    const std::uint64_t closing_index = active;
    forget_tab_work(current_tab());
    select_tab(closing_index == 0 ? 1 : closing_index - 1, false);
    const HWND editor = tabs[closing_index]->editor;
    tabs.erase(tabs.begin() + static_cast<std::ptrdiff_t>(closing_index));
    if (closing_index < active) {
        --active;
    }
    DestroyWindow(editor);
    refresh_tab_strip();
    refresh_current_tab();
    store_session(false, true);
}

// False when the user kept the tab (cancelled, or the save failed).
bool resolve_unsaved_changes() {
    if (!editor_modified(chrome.editor)) {
        return true;
    }
    switch (ask_save_changes(false)) {
    case CloseChoice::save:
        return save_file(false, nullptr, {});
    case CloseChoice::discard:
        return true;
    default:
        return false;
    }
}

std::uint64_t index_of_id(std::uint64_t id) {
    for (std::uint64_t i = 0; i < tabs.size(); ++i) {
        if (tabs[i]->id == id) {
            return i;
        }
    }
    return no_tab;
}

} // namespace

RECT place_kept_through_switch() {
    if (editor_shown_later == nullptr || editor_shown_later != chrome.editor ||
        !current_layout.source_shown) {
        return {};
    }
    // Its scroll bars too, which it draws once shown.
    RECT place{};
    GetWindowRect(editor_shown_later, &place);
    MapWindowPoints(nullptr, main_window, reinterpret_cast<POINT*>(&place), 2);
    return place;
}

DocumentTab* find_tab_by_id(std::uint64_t id) {
    const std::uint64_t index = index_of_id(id);
    return index == no_tab ? nullptr : tabs[index].get();
}

const std::u16string& tab_text(DocumentTab& tab) {
    if (!tab.text_stale) {
        return tab.text;
    }
    SourceDocument now = source_document(tab.editor);
    // The length check keeps a text set without its source from being patched.
    const TextDifference change = tab.text_source.length() == tab.text.size()
                                      ? text_difference(tab.text_source, now)
                                      : TextDifference{0, tab.text.size(), now.length()};
    if (change.new_end - change.prefix < tab.text.size() / 2) {
        tab.text.replace(change.prefix, change.old_end - change.prefix,
                         now.text(change.prefix, change.new_end - change.prefix));
    } else {
        // A large change is copied straight into the string's own buffer: under Wine a fresh
        // allocation of a whole text costs more than the copy itself.
        tab.text.resize(change.prefix);
        SourceDocument::append_range(now.root, change.prefix, now.length() - change.prefix,
                                     tab.text);
    }
    tab.text_source = std::move(now);
    tab.text_stale = false;
    return tab.text;
}

void refresh_word_count(DocumentTab& tab) {
    tab_text(tab);
    // Counted from the editor's own state rather than the string, so that the count compares
    // states that share their pieces instead of two whole texts.
    update_word_count(word_count_cache, source_document(tab.editor));
}

void take_editor_text(DocumentTab& tab, std::u16string text) {
    tab.text = std::move(text);
    tab.text_source = source_document(tab.editor);
    tab.text_stale = false;
}

void start_tab_list(HWND editor) {
    tabs.clear();
    auto tab = std::make_unique<DocumentTab>();
    tab->id = next_tab_id++;
    tab->editor = editor;
    set_markdown_colouring(editor, is_markdown_path({}));
    tabs.push_back(std::move(tab));
    active = 0;
    chrome.editor = editor;
}

void add_tab(const std::filesystem::path& path) {
    add_background_tab(path);
    select_tab(tabs.size() - 1, false);
}

DocumentTab& add_background_tab(const std::filesystem::path& path) {
    tabs.push_back(make_tab(path));
    return *tabs.back();
}

void new_tab() {
    add_tab({});
    store_session(false, false);
    refresh_current_tab();
}

void select_tab(std::uint64_t index, bool check_disk) {
    if (index >= tabs.size()) {
        return;
    }
    if (replace_all_running() && index != active) {
        cancel_replace_all();
    }
    drop_pending_tab_timers();
    try {
        switch_to_tab(index);
    } catch (...) {
        settle_cut_short_switch();
        throw;
    }
    if (check_disk && !restoring_session()) {
        check_disk_changes(true);
    }
}

void close_current_tab(const std::function<bool()>& confirm) {
    if (confirm ? !confirm() : !resolve_unsaved_changes()) {
        return;
    }
    drop_pending_tab_timers();
    hide_completion();
    // Either way the closed tab is let go and its store handed over at once, as a Save's is: a
    // crash before a deferred store would bring the tab back.
    if (tabs.size() == 1) {
        replace_only_tab();
    } else {
        remove_active_tab();
    }
}

void close_tab_at(std::uint64_t index, const std::function<bool()>& confirm) {
    if (index >= tabs.size()) {
        return;
    }
    const std::uint64_t active_id = current_tab().id;
    const std::uint64_t closed_id = tabs[index]->id;
    auto return_to_active = [&] {
        const std::uint64_t back = index_of_id(active_id);
        if (active_id != closed_id && back != no_tab) {
            select_tab(back, false);
            store_session(false, false);
        }
    };
    try {
        select_tab(index, false);
        close_current_tab(confirm);
    } catch (...) {
        return_to_active();
        throw;
    }
    return_to_active();
}

ScopedSwitchFault::ScopedSwitchFault(std::function<void(SwitchPoint)> fault)
    : previous_(std::exchange(switch_fault, std::move(fault))) {}

ScopedSwitchFault::~ScopedSwitchFault() {
    switch_fault = std::move(previous_);
}

IdentityBatch::IdentityBatch() : outermost(!batch_identities) {
    if (outermost) {
        batch_identities.emplace();
    }
}

IdentityBatch::~IdentityBatch() {
    if (outermost) {
        batch_identities.reset();
    }
}

bool same_path(const std::filesystem::path& a, const std::filesystem::path& b) {
    return same_path_test(a)(b);
}

std::function<bool(const std::filesystem::path&)>
same_path_test(const std::filesystem::path& path) {
    std::optional<std::optional<FileIdentity>> sought;
    return [path, sought](const std::filesystem::path& other) mutable {
        if (path.empty() || other.empty()) {
            return false;
        }
        if (same_normal_spelling(path, other)) {
            return true;
        }
        if (!sought) {
            sought = known_identity(path);
        }
        return sought->has_value() && known_identity(other) == *sought;
    };
}

std::uint64_t find_tab_by_path(const std::filesystem::path& path, std::uint64_t except) {
    // Each spelling first, then the files themselves: the file sought is opened once, not once
    // for every tab, which with a hundred tabs made each open slow.
    auto candidate = [&](std::uint64_t i) { return i != except && !tabs[i]->path.empty(); };
    for (std::uint64_t i = 0; i < tabs.size(); ++i) {
        if (candidate(i) && same_normal_spelling(tabs[i]->path, path)) {
            return i;
        }
    }
    const auto same = same_path_test(path);
    for (std::uint64_t i = 0; i < tabs.size(); ++i) {
        if (candidate(i) && same(tabs[i]->path)) {
            return i;
        }
    }
    return no_tab;
}

namespace {

// An untitled tab that holds another version of a file's draft is named for that file, on its
// tab and in the title alike, so that the user can tell the two versions apart.
std::optional<std::wstring> other_version_label(const DocumentTab& tab) {
    if (!tab.path.empty() || !tab.other_version_of) {
        return std::nullopt;
    }
    const std::filesystem::path& of = *tab.other_version_of;
    return (of.empty() ? std::wstring(L"Untitled") : of.filename().wstring()) + L" (other version)";
}

} // namespace

std::wstring tab_name(const DocumentTab& tab) {
    if (const auto label = other_version_label(tab)) {
        return *label;
    }
    if (tab.path.empty()) {
        return L"Untitled " + std::to_wstring(tab.id);
    }
    return tab.path.filename().wstring();
}

void update_title() {
    if (tabs.empty() || main_window == nullptr) {
        return;
    }
    const DocumentTab& tab = current_tab();
    std::wstring title = tab.path.empty() ? other_version_label(tab).value_or(untitled_title)
                                          : tab.path.filename().wstring();
    if (editor_modified(tab.editor)) {
        title += L" *";
    }
    title += title_suffix;
    if (!title_held && title != window_title()) {
        SetWindowTextW(main_window, title.c_str());
    }
    refresh_tab_strip();
}

std::wstring to_wide(const std::string& utf8) {
    const std::u16string wide = utf8_to_utf16(utf8);
    return {wide.begin(), wide.end()};
}

void refresh_disk_stamp() {
    refresh_disk_stamp_of(current_tab());
}

void refresh_disk_stamp_of(DocumentTab& tab) {
    store_stamp(tab, stamp_file(tab.path));
    tab.changed_on_disk = false;
}

} // namespace pellix
