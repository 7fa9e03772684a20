#include "app/compare_controller.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/open_files.h"
#include "app/settings.h"
#include "app/timers.h"
#include "core/file_io.h"
#include "core/file_paths.h"
#include "core/limits.h"
#include "core/message_box.h"
#include "core/window_work.h"
#include "editor/source_interface.h"
#include "tracking/change_marker_texts.h"
#include "tracking/compare_worker.h"
#include "tracking/file_work_tasks.h"

namespace pellix {

namespace {

constexpr std::uint64_t none_applied = UINT64_MAX;
constexpr UINT first_target_command = 1000;
constexpr std::size_t target_limit = 128;
constexpr UINT compare_saved = 329;
constexpr UINT compare_file = 330;
constexpr UINT compare_clipboard = 331;
constexpr UINT compare_stop = 332;
constexpr UINT next_change = 333;
constexpr UINT previous_change = 334;

std::unique_ptr<CompareWorker> worker;
std::uint64_t start_index = 0;
std::vector<std::uint64_t> targets;

bool is_current(const DocumentTab& tab) {
    return !tabs.empty() && &current_tab() == &tab;
}

void update_status_of(const DocumentTab& tab) {
    if (is_current(tab)) {
        update_status();
    }
}

void invalidate_tab_strip() {
    if (chrome.tab_control != nullptr) {
        InvalidateRect(chrome.tab_control, nullptr, FALSE);
    }
}

void arm_compare_timer() {
    SetTimer(main_window, timer_id::compare, timer_period::compare, nullptr);
}

std::wstring widen(const std::u16string& text) {
    return std::wstring(text.begin(), text.end());
}

// The tooltip of a marker of the tab `id`, read at hover time from the tab as it is then.
std::function<std::wstring(unsigned long long, bool)> marker_texts_of(std::uint64_t id) {
    return [id](unsigned long long line, bool deletion) -> std::wstring {
        const DocumentTab* tab = find_tab_by_id(id);
        if (tab == nullptr || !tab->baseline) {
            return {};
        }
        const bool updating = tab->compare_applied_revision != tab->revision;
        return widen(
            change_marker_text(tab->baseline.get(), updating, tab->compare_diff, line, deletion));
    };
}

// The coarse single range of a diff that was not made line by line, as marks.
ChangeMarks coarse_marks(const LineDiff& diff) {
    ChangeMarks marks;
    for (const ChangeRange& range : diff.ranges) {
        if (range.new_begin < range.new_end) {
            marks.line_marks.push_back({range.new_begin, range.new_end, line_mark_changed});
        } else if (range.old_begin < range.old_end) {
            marks.deletion_marks.push_back({range.new_begin, range.old_end - range.old_begin});
        }
    }
    return marks;
}

ChangeMarks marks_of(const DocumentTab& tab) {
    if (!tab.compare_error.empty()) {
        return {};
    }
    return tab.compare_diff.line_by_line ? tab.compare_diff.marks : coarse_marks(tab.compare_diff);
}

bool ui_is_owned_elsewhere() {
    return file_work_busy || replace_all_running() || start_up_pending || restoring_session() ||
           main_window == nullptr || !IsWindowEnabled(main_window);
}

void apply_result(CompareResult result) {
    DocumentTab* tab = find_tab_by_id(result.job.tab_id);
    if (tab == nullptr || tab->baseline != result.job.baseline ||
        tab->compare_generation != result.job.generation || tab->revision != result.job.revision) {
        return;
    }
    tab->compare_applied_revision = result.job.revision;
    tab->compare_diff = std::move(result.diff);
    tab->compare_error = std::move(result.error);
    tab->compare_summary.clear();
    invalidate_tab_strip();
    set_change_marks(tab->editor, marks_of(*tab));
    update_status_of(*tab);
}

std::optional<CompareResult> take_result() {
    return worker ? worker->take_result() : std::nullopt;
}

// One due pass goes to the worker; true when a tab was served (or found the worker busy).
bool hand_out_one_job() {
    const std::uint64_t count = tabs.size();
    const std::uint64_t now = GetTickCount64();
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t index = (start_index + i) % count;
        DocumentTab& tab = *tabs[index];
        if (!tab.baseline || !tab.compare_pending || tab.compare_due > now) {
            continue;
        }
        if (!worker) {
            worker = std::make_unique<CompareWorker>(
                [window = main_window] { PostMessageW(window, WM_APP_COMPARE_RESULTS, 0, 0); });
        }
        CompareJob job{tab.id, tab.compare_generation, tab.revision, tab.baseline,
                       source_document(tab.editor)};
        if (worker->hand_over(std::move(job))) {
            tab.compare_pending = false;
            start_index = (index + 1) % count;
        }
        return true;
    }
    return false;
}

bool any_tab(bool (*holds)(const DocumentTab&)) {
    return std::any_of(tabs.begin(), tabs.end(), [holds](const auto& tab) { return holds(*tab); });
}

void append_target(HMENU menu, const DocumentTab& tab, bool greyed) {
    std::wstring text;
    for (wchar_t unit : tab_name(tab)) {
        text += unit;
        if (unit == L'&') {
            text += L'&';
        }
    }
    const auto id = static_cast<UINT_PTR>(first_target_command + targets.size());
    AppendMenuW(menu, MF_STRING | (greyed ? MF_GRAYED : 0), id, text.c_str());
    targets.push_back(tab.id);
}

void grey(UINT id, bool greyed) {
    EnableMenuItem(menus.compare, id, MF_BYCOMMAND | (greyed ? MF_GRAYED : MF_ENABLED));
}

} // namespace

void begin_compare(DocumentTab& tab, std::shared_ptr<const CompareBaseline> baseline,
                   std::wstring label, bool baseline_is_saved_file,
                   const std::function<bool()>& confirm) {
    if (replace_all_running() || !baseline) {
        return;
    }
    if (tab.watch_state != 0) {
        const bool consent =
            confirm ? confirm()
                    : message_box(main_window, L"Stop Watch and compare this tab instead?",
                                  L"Compare", MB_OKCANCEL | MB_ICONQUESTION) == IDOK;
        if (!consent) {
            return;
        }
        toggle_watch(tab.id, {});
    }
    ++tab.compare_generation;
    tab.baseline = std::move(baseline);
    tab.compare_label = std::move(label);
    tab.baseline_is_saved_file = baseline_is_saved_file;
    tab.compare_applied_revision = none_applied;
    set_compare_gutter(tab.editor, true);
    set_change_marker_source(tab.editor, marker_texts_of(tab.id));
    schedule_compare(tab, true);
    refresh_tab_strip();
    if (is_current(tab)) {
        if (settings.view == view_preview || (settings.view == view_split && settings.split <= 0)) {
            select_view(view_source);
        }
        update_status();
    }
}

void stop_compare(DocumentTab& tab) {
    if (!tab.baseline) {
        return;
    }
    ++tab.compare_generation;
    tab.baseline.reset();
    tab.compare_pending = false;
    tab.nav_set = false;
    arm_compare_timer();
    tab.compare_diff = LineDiff{};
    tab.compare_summary.clear();
    tab.compare_error.clear();
    set_change_marker_source(tab.editor, {});
    set_change_marks(tab.editor, {});
    set_compare_gutter(tab.editor, false);
    refresh_tab_strip();
    update_status_of(tab);
}

void refresh_saved_baseline(DocumentTab& tab, const wchar_t* stopped) {
    if (!tab.baseline || !tab.baseline_is_saved_file) {
        return;
    }
    ++tab.compare_generation;
    try {
        tab.baseline = compare_baseline(tab.text);
        schedule_compare(tab, true);
    } catch (const std::exception&) {
        stop_compare(tab);
        message_box(main_window, stopped, L"Compare", MB_ICONWARNING);
    }
}

void forget_compare(DocumentTab& tab) {
    if (!tab.baseline) {
        return;
    }
    ++tab.compare_generation;
    tab.baseline.reset();
    tab.compare_pending = false;
    arm_compare_timer();
}

void schedule_compare(DocumentTab& tab, bool now) {
    if (!tab.baseline) {
        return;
    }
    const std::uint64_t time = GetTickCount64();
    if (tab.revision != tab.compare_scheduled_revision) {
        tab.compare_scheduled_revision = tab.revision;
        tab.compare_applied_revision = none_applied;
        tab.compare_pending = true;
        tab.nav_set = false;
        if (!now) {
            tab.compare_due = time + compare_delay_ms;
            tab.compare_summary.clear();
            tab.compare_error.clear();
            arm_compare_timer();
            return;
        }
    } else if (!now) {
        return;
    }
    tab.compare_applied_revision = none_applied;
    tab.compare_pending = true;
    tab.nav_set = false;
    tab.compare_due = time;
    tab.compare_summary.clear();
    tab.compare_error.clear();
    set_change_marks(tab.editor, {});
    arm_compare_timer();
}

void compare_tick() {
    if (ui_is_owned_elsewhere()) {
        if (main_window != nullptr) {
            arm_compare_timer();
        }
        return;
    }
    if (std::optional<CompareResult> result = take_result()) {
        apply_result(std::move(*result));
    }
    if (hand_out_one_job()) {
        return;
    }
    if (!any_tab([](const DocumentTab& tab) { return tab.compare_pending; })) {
        KillTimer(main_window, timer_id::compare);
    }
    if (!any_tab([](const DocumentTab& tab) { return tab.baseline != nullptr; })) {
        // A diff still running would hold the UI thread in the join; its result message comes
        // back here and finds the worker idle.
        if (worker && !worker->busy()) {
            worker.reset();
        }
        KillTimer(main_window, timer_id::compare);
    }
}

void compare_timer() {
    compare_tick();
}

std::shared_ptr<const CompareBaseline> load_baseline_file(const std::filesystem::path& path) {
    const std::string bytes = read_disk(path, document_limit);
    std::optional<Document> document = decode_open_file(path, bytes);
    if (!document) {
        return nullptr;
    }
    return compare_baseline(document->text);
}

void compare_other_tab(std::uint64_t tab_id) {
    DocumentTab* other = find_tab_by_id(tab_id);
    if (other == nullptr || tabs.empty() || other == &current_tab() || replace_all_running()) {
        return;
    }
    std::wstring label = tab_name(*other);
    std::shared_ptr<const CompareBaseline> baseline =
        compare_snapshot_baseline(source_document(other->editor));
    begin_compare(current_tab(), std::move(baseline), std::move(label), false, {});
}

void rebuild_compare_menu() {
    if (menus.compare == nullptr || menus.compare_tabs == nullptr || tabs.empty()) {
        return;
    }
    while (GetMenuItemCount(menus.compare_tabs) > 0) {
        DeleteMenu(menus.compare_tabs, 0, MF_BYPOSITION);
    }
    targets.clear();
    const bool replacing = replace_all_running();
    for (std::uint64_t i = 0; i < tabs.size() && targets.size() < target_limit; ++i) {
        if (i != active) {
            append_target(menus.compare_tabs, *tabs[i], replacing);
        }
    }
    if (targets.empty()) {
        AppendMenuW(menus.compare_tabs, MF_STRING | MF_GRAYED, 0, L"No other open tabs");
    }
    const DocumentTab& tab = current_tab();
    grey(compare_file, replacing);
    grey(compare_saved, tab.path.empty() || replacing);
    grey(compare_clipboard, !IsClipboardFormatAvailable(CF_UNICODETEXT) || replacing);
    for (UINT id : {compare_stop, next_change, previous_change}) {
        grey(id, !tab.baseline || replacing);
    }
}

const std::vector<std::uint64_t>& compare_targets() {
    return targets;
}

void stop_compare_worker() {
    worker.reset();
    targets.clear();
    start_index = 0;
}

bool compare_worker_exists() {
    return worker != nullptr;
}

void open_compare(const std::filesystem::path& baseline_path,
                  const std::filesystem::path& compared) {
    std::shared_ptr<const CompareBaseline> baseline = load_baseline_file(baseline_path);
    if (!baseline) {
        return;
    }
    open_path(compared);
    const std::uint64_t index = find_tab_by_path(absolute_file_path(compared), no_tab);
    if (index == no_tab) {
        return;
    }
    select_tab(index, false);
    begin_compare(current_tab(), std::move(baseline), baseline_path.filename().wstring(), false,
                  {});
}

} // namespace pellix
