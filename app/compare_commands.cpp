#include "app/compare_commands.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/compare_controller.h"
#include "app/document_tabs.h"
#include "app/file_dialogs.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/settings.h"
#include "core/limits.h"
#include "editor/source_interface.h"
#include "tracking/file_work_tasks.h"

namespace pellix {

namespace {

namespace command_id {
constexpr unsigned reload = 105;
constexpr unsigned watch = 324;
constexpr unsigned clear_changes = 325;
constexpr unsigned compare_saved = 329;
constexpr unsigned compare_file = 330;
constexpr unsigned compare_clipboard = 331;
constexpr unsigned compare_stop = 332;
constexpr unsigned next_change = 333;
constexpr unsigned previous_change = 334;
constexpr unsigned compare_menu = 364;
constexpr unsigned first_target = 1000;
constexpr unsigned last_target = 1127;
} // namespace command_id

// Lines of context kept above a change the navigation shows.
constexpr int change_context_lines = 3;
// The clipboard text is searched for its NUL within the document limit and one unit more.
constexpr std::size_t clipboard_search_limit = document_limit + 1;

// The note speaks of the pass on screen, so it is kept as the compare summary, which goes
// whenever a pass is scheduled or applied.
void set_note(DocumentTab& tab, std::wstring note) {
    tab.compare_summary = std::move(note);
    update_status();
}

void show_change(DocumentTab& tab, std::uint64_t index) {
    const std::uint64_t line = tab.compare_diff.ranges[index].new_begin;
    if (settings.view == view_preview || (settings.view == view_split && settings.split <= 0)) {
        select_view(view_source);
    }
    std::uint64_t position = 0;
    if (line != 0) {
        const SourceDocument snapshot = source_document(tab.editor);
        position = snapshot.line_start(std::min(line, snapshot.line_count()));
    }
    SendMessageW(tab.editor, EM_SETSEL, static_cast<WPARAM>(position),
                 static_cast<LPARAM>(position));
    set_source_top_line(tab.editor, static_cast<double>(line), change_context_lines);
    tab.nav_index = index;
    tab.nav_caret = static_cast<std::int32_t>(position);
    tab.nav_set = true;
    tab.compare_summary.clear();
    SetFocus(tab.editor);
    update_status();
    announce(tab.editor, L"Change " + std::to_wstring(index + 1) + L" of " +
                             std::to_wstring(tab.compare_diff.ranges.size()));
}

void navigate_changes(bool forward) {
    DocumentTab& tab = current_tab();
    if (!tab.baseline || replace_all_running() || !tab.compare_error.empty()) {
        return;
    }
    if (tab.compare_applied_revision != tab.revision) {
        set_note(tab, L"Comparison updating");
        return;
    }
    CHARRANGE selection{};
    SendMessageW(tab.editor, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    const auto caret_line =
        static_cast<std::uint64_t>(SendMessageW(tab.editor, EM_EXLINEFROMCHAR, 0, selection.cpMin));
    std::optional<std::uint64_t> remembered;
    if (tab.nav_set && tab.nav_caret == selection.cpMin) {
        remembered = tab.nav_index;
    }
    const std::vector<ChangeRange>& changes = tab.compare_diff.ranges;
    if (std::optional<std::uint64_t> target =
            change_target(changes, caret_line, remembered, forward)) {
        show_change(tab, *target);
    } else if (changes.empty()) {
        set_note(tab, L"");
    } else {
        set_note(tab, forward ? L"At last change" : L"At first change");
    }
}

void compare_with_saved_version(DocumentTab& tab) {
    if (tab.path.empty()) {
        return;
    }
    if (auto baseline = load_baseline_file(tab.path)) {
        begin_compare(tab, std::move(baseline), L"Saved version", true, {});
    }
}

void compare_with_chosen_file(DocumentTab& tab) {
    const std::filesystem::path path = choose_file(false, false, nullptr, false);
    if (path.empty()) {
        return;
    }
    if (auto baseline = load_baseline_file(path)) {
        begin_compare(tab, std::move(baseline), path.filename().wstring(), false, {});
    }
}

// Opened on the main window; closed with its block unlocked on every way out.
class OpenClipboardText {
public:
    OpenClipboardText() {
        if (!OpenClipboard(main_window)) {
            throw std::runtime_error("Clipboard is unavailable.");
        }
    }
    ~OpenClipboardText() {
        if (locked_ != nullptr) {
            GlobalUnlock(block_);
        }
        CloseClipboard();
    }
    OpenClipboardText(const OpenClipboardText&) = delete;
    OpenClipboardText& operator=(const OpenClipboardText&) = delete;

    std::u16string text() {
        block_ = GetClipboardData(CF_UNICODETEXT);
        if (block_ == nullptr) {
            throw std::runtime_error("Clipboard does not contain text.");
        }
        locked_ = static_cast<const char16_t*>(GlobalLock(block_));
        if (locked_ == nullptr) {
            throw std::runtime_error("Clipboard text is unavailable.");
        }
        const std::size_t units =
            std::min(GlobalSize(block_) / sizeof(char16_t), clipboard_search_limit);
        const char16_t* end = std::find(locked_, locked_ + units, u'\0');
        if (end == locked_ + units) {
            throw std::runtime_error("Clipboard text exceeds the editor limit or is incomplete.");
        }
        return std::u16string(locked_, end);
    }

private:
    HANDLE block_ = nullptr;
    const char16_t* locked_ = nullptr;
};

void compare_with_clipboard(DocumentTab& tab) {
    std::u16string text;
    {
        OpenClipboardText clipboard;
        text = clipboard.text();
    }
    begin_compare(tab, compare_baseline(text), L"Clipboard", false, {});
}

void compare_source(unsigned id) {
    if (replace_all_running()) {
        return;
    }
    DocumentTab& tab = current_tab();
    switch (id) {
    case command_id::compare_saved:
        compare_with_saved_version(tab);
        break;
    case command_id::compare_file:
        compare_with_chosen_file(tab);
        break;
    default:
        compare_with_clipboard(tab);
        break;
    }
}

// A pop-up menu at the cursor; the chosen identifier, 0 for none.
unsigned track_at_cursor(HMENU menu) {
    POINT cursor{};
    GetCursorPos(&cursor);
    const BOOL chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0,
                                       main_window, nullptr);
    DestroyMenu(menu);
    return static_cast<unsigned>(chosen);
}

void show_compare_menu() {
    const DocumentTab& tab = current_tab();
    const bool navigable =
        tab.compare_applied_revision == tab.revision && !tab.compare_diff.ranges.empty();
    const UINT state = MF_STRING | (navigable ? 0 : MF_GRAYED);
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, state, command_id::next_change, L"Next change\tF8");
    AppendMenuW(menu, state, command_id::previous_change, L"Previous change\tShift+F8");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, command_id::compare_stop, L"Stop comparing");
    if (const unsigned chosen = track_at_cursor(menu)) {
        run_compare_command(chosen);
    }
}

} // namespace

std::optional<std::uint64_t> change_target(const std::vector<ChangeRange>& changes,
                                           std::uint64_t caret_line,
                                           std::optional<std::uint64_t> remembered, bool forward) {
    if (remembered) {
        if (forward) {
            return *remembered + 1 < changes.size() ? std::optional(*remembered + 1) : std::nullopt;
        }
        return *remembered > 0 && *remembered <= changes.size() ? std::optional(*remembered - 1)
                                                                : std::nullopt;
    }
    const auto first_at_or_after = std::lower_bound(
        changes.begin(), changes.end(), caret_line,
        [](const ChangeRange& change, std::uint64_t line) { return change.new_begin < line; });
    if (forward) {
        if (first_at_or_after == changes.end()) {
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(first_at_or_after - changes.begin());
    }
    if (first_at_or_after == changes.begin()) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(first_at_or_after - changes.begin() - 1);
}

void run_compare_command(unsigned id) {
    if (tabs.empty()) {
        return;
    }
    if (id >= command_id::first_target && id <= command_id::last_target) {
        const std::vector<std::uint64_t>& targets = compare_targets();
        const std::size_t index = id - command_id::first_target;
        if (index < targets.size()) {
            compare_other_tab(targets[index]);
        }
        return;
    }
    switch (id) {
    case command_id::compare_stop:
        stop_compare(current_tab());
        break;
    case command_id::next_change:
    case command_id::previous_change:
        navigate_changes(id == command_id::next_change);
        break;
    case command_id::compare_menu:
        show_compare_menu();
        break;
    case command_id::compare_saved:
    case command_id::compare_file:
    case command_id::compare_clipboard:
        compare_source(id);
        break;
    default:
        break;
    }
}

void show_watch_menu() {
    if (tabs.empty()) {
        return;
    }
    const DocumentTab& tab = current_tab();
    const std::uint64_t id = tab.id;
    const bool has_marks = !tab.watch_line_marks.empty() || !tab.watch_deletion_marks.empty();
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, command_id::watch, L"Stop watching\tCtrl+Shift+W");
    AppendMenuW(menu, MF_STRING | (has_marks ? 0 : MF_GRAYED), command_id::clear_changes,
                L"Clear changes");
    if (tab.watch_state == 2) {
        AppendMenuW(menu, MF_STRING, command_id::reload, L"Retry now\tF5");
    }
    const unsigned chosen = track_at_cursor(menu);
    if (chosen == 0 || find_tab_by_id(id) == nullptr) {
        return;
    }
    switch (chosen) {
    case command_id::watch:
        toggle_watch(id, {});
        break;
    case command_id::clear_changes:
        clear_watch_changes(id);
        break;
    case command_id::reload:
        schedule_watch_read(id, true);
        break;
    default:
        break;
    }
}

} // namespace pellix
