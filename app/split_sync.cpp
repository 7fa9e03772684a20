#include "app/split_sync.h"

#include "app/editor_hosting.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/scroll_profile.h"
#include "app/settings.h"
#include "app/timers.h"
#include "app/views.h"
#include "editor/source_interface.h"
#include "preview/preview_window.h"

namespace pellix {

namespace {

SplitSyncMoves moves = default_split_sync_moves();

// `split_syncing` for one move; cleared however the move ends, so that a failed move cannot
// leave the two panes unlinked for good.
class SyncingScope {
public:
    SyncingScope() { split_syncing = true; }
    SyncingScope(const SyncingScope&) = delete;
    SyncingScope& operator=(const SyncingScope&) = delete;
    ~SyncingScope() { split_syncing = false; }
};

bool both_panes_shown() {
    return settings.view == view_split && settings.split > 0.0 && settings.split < 1.0;
}

bool preview_shows(const DocumentTab& tab) {
    const RenderedPreview& shown = rendered_preview();
    return preview().window != nullptr && shown.tab_id == tab.id && shown.revision == tab.revision;
}

void follow_preview(const SplitSyncRequest& request) {
    if (split_syncing || !both_panes_shown() || !preview_shows(current_tab())) {
        return;
    }
    SyncingScope syncing;
    moves.editor_to_line(current_tab().editor, request.line);
}

} // namespace

SplitSyncMoves default_split_sync_moves() {
    return {
        .editor_to_line = [](HWND editor, double line) { set_source_top_line(editor, line, 0); },
        .preview_to_line = [](double line) { scroll_preview_to_source_line(line); },
    };
}

SplitSyncMoves& split_sync_moves() {
    return moves;
}

void preview_scrolled(double line) {
    if (split_syncing || tabs.empty()) {
        return;
    }
    note_input();
    DocumentTab& tab = current_tab();
    tab.source_leads = false;
    if (settings.view != view_split) {
        return;
    }
    const bool was_pending = split_sync_request.pending;
    split_sync_request = {true, false, tab.id, tab.revision, line};
    if (!was_pending) {
        SetTimer(main_window, timer_id::split_sync, timer_period::split_sync, nullptr);
    }
}

void run_split_sync() {
    const ScrollSample sample = begin_scroll_sample(scroll_stage_split_sync);
    KillTimer(main_window, timer_id::split_sync);
    const SplitSyncRequest request = split_sync_request;
    split_sync_request.pending = false;
    if (request.pending && !tabs.empty() && current_tab().id == request.tab_id &&
        current_tab().revision == request.revision) {
        if (request.from_source) {
            sync_preview_to_editor();
        } else {
            follow_preview(request);
        }
    }
    record_scroll_sample(sample);
}

std::optional<double> preview_place_to_keep() {
    if (tabs.empty()) {
        return std::nullopt;
    }
    // In Split the editor follows the preview within a tick; only a follow still to come is
    // owed it.
    const bool preview_led = settings.view == view_preview ||
                             (settings.view == view_split && split_sync_request.pending &&
                              !split_sync_request.from_source);
    const DocumentTab& tab = current_tab();
    if (!preview_led || tab.source_leads || tab.text_stale || !preview_shows(tab)) {
        return std::nullopt;
    }
    return preview_top_line();
}

void editor_to_preview_place(std::optional<double> line) {
    if (!line || tabs.empty() || settings.view == view_preview) {
        return;
    }
    SyncingScope syncing;
    moves.editor_to_line(current_tab().editor, *line);
}

void sync_preview_to_editor() {
    if (split_syncing || !both_panes_shown() || tabs.empty()) {
        return;
    }
    const DocumentTab& tab = current_tab();
    if (tab.text_stale || !preview_shows(tab)) {
        return;
    }
    SyncingScope syncing;
    moves.preview_to_line(source_top_line(tab.editor));
}

} // namespace pellix
