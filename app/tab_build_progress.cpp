#include "app/tab_build_progress.h"

#include <utility>

#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/recovery_store.h"
#include "app/views.h"
#include "core/window_work.h"

namespace pellix {

namespace {

// Each showing costs a strip layout and a paint, small beside the tabs it reports.
constexpr std::size_t items_between_showings = 16;
constexpr ULONGLONG showing_period_ms = 100;

} // namespace

TabBuildProgress::TabBuildProgress(std::size_t total,
                                   std::function<std::wstring(std::size_t, std::size_t)> text)
    : total_(total), text_(std::move(text)) {}

TabBuildProgress::~TabBuildProgress() {
    if (!ended_) {
        withdraw_progress_notice();
    }
}

void TabBuildProgress::add_items(std::size_t count) {
    total_ += count;
}

void TabBuildProgress::before(std::size_t index) {
    const ULONGLONG now = GetTickCount64();
    // A batch begun with the first file of a hand-over is soon joined by the rest of it, which
    // the count takes in at once: a total of one would stand while all of them open.
    if (index % items_between_showings == 0 || total_ != shown_total_ ||
        now - shown_at_ >= showing_period_ms) {
        // The shown tab may have taken a file or a draft: its count and page come with the
        // progress, and the status strip's update brings the title and the tab strip.
        refresh_word_count(current_tab());
        update_preview();
        show_progress_notice(text_(index, total_));
        draw_waiting_windows();
        shown_at_ = GetTickCount64();
        shown_total_ = total_;
    }
    file_work::serve_paint();
}

void TabBuildProgress::end() {
    if (!ended_) {
        show_progress_notice({});
        ended_ = true;
    }
}

std::wstring opening_progress_text(std::size_t opened, std::size_t total) {
    return L"Opening files: " + std::to_wstring(opened) + L" of " + std::to_wstring(total);
}

} // namespace pellix
