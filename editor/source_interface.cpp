#include "editor/source_interface.h"

#include <oleauto.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "editor/source_host.h"
#include "editor/source_record.h"
#include "platform/uia_core.h"

namespace pellix {
namespace {

constexpr int colouring_mode_count = 3;
// The top line is clamped this far short of the line count, so it stays inside the last line.
constexpr double last_line_margin = 1e-9;
constexpr double top_margin_view_share = 0.25;
constexpr wchar_t announce_activity[] = L"Pellix.Watch";

// Owns a BSTR for the length of one call.
class OwnedBstr {
public:
    explicit OwnedBstr(const std::wstring& text)
        : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~OwnedBstr() { SysFreeString(value_); }
    OwnedBstr(const OwnedBstr&) = delete;
    OwnedBstr& operator=(const OwnedBstr&) = delete;
    BSTR get() const { return value_; }

private:
    BSTR value_;
};

void refresh_after_colouring_change(Source& source) {
    clear_line_layouts(source);
    if (source.redraw && IsWindowVisible(source.window)) {
        invalidate_editor(source.window);
    }
}

// The new document's numbers continue the old ones, so nothing keyed on the old text (snapshots,
// the find cache, compare results) can take the new text for it.
void renumber(SourceDocument& installed, const SourceDocument& previous) {
    const bool unmodified = !installed.modified();
    installed.revision = std::max(installed.revision, previous.revision) + 1;
    installed.state_id = installed.revision;
    if (unmodified) {
        installed.saved_state_id = installed.revision;
    }
    installed.edit_count = previous.edit_count + 1;
    installed.typing_open = false;
    installed.undo_entries.clear();
    installed.redo_entries.clear();
    installed.history_bytes = 0;
}

void drop_text_state(Source& source) {
    source.find_text.clear();
    source.find_text.shrink_to_fit();
    source.find_text_edit_count = UINT64_MAX;
    source.pending_high_surrogate = 0;
    source.goal_x = -1.0;
}

void drop_text_caches(Source& source) {
    drop_text_state(source);
    forget_text_layouts(source);
}

// The installers take the document only once they install it: a call interrupted before that
// (`change_from_outside`) runs again with it.
void install_new_document(Source& source, SourceDocument&& document) {
    renumber(document, source.document);
    document.saved_state_id = document.state_id;
    document.forced_modified = false;
    document.selection = {0, 0};
    source.document = std::move(document);
    drop_text_caches(source);
    scroll_source_to(source, 0.0, 0.0, true);
}

void install_reloaded_document(Source& source, SourceDocument&& document,
                               const DocumentPlacement& placement) {
    ScrollAnchor anchor = capture_scroll_anchor(source);
    if (anchor.valid && placement.carry_offset) {
        anchor.offset = placement.carry_offset(anchor.offset);
    }
    const double old_x = source.scroll_x;
    const std::uint64_t old_line_count = source.document.line_count();
    renumber(document, source.document);
    source.document = std::move(document);
    SourceDocument& installed = source.document;
    const std::uint64_t length = installed.length();
    installed.selection = {installed.boundary_before(std::min(placement.anchor, length)),
                           installed.boundary_before(std::min(placement.caret, length))};
    const bool spliced =
        placement.changed_lines_known &&
        splice_reloaded_lines(source, placement.changed_first, placement.changed_old_end,
                              placement.changed_new_end, old_line_count);
    drop_text_state(source);
    if (!spliced) {
        forget_text_layouts(source);
    }
    ensure_line_metrics(source);
    if (anchor.valid) {
        restore_scroll_anchor(source, anchor);
    }
    fill_view(source);
    scroll_source_to(source, old_x, source.scroll_y, false);
    if (source.redraw && IsWindowVisible(source.window)) {
        invalidate_editor(source.window);
    }
}

} // namespace

std::u16string source_text(HWND editor) {
    Source* source = source_record(editor);
    if (!source) {
        throw std::runtime_error("Source control is unavailable.");
    }
    return source_wide_text(source->document);
}

bool source_modified(HWND editor) {
    const Source* source = source_record(editor);
    return source != nullptr && source->document.modified();
}

SourceDocument source_document(HWND editor) {
    Source* source = source_record(editor);
    if (!source) {
        throw std::runtime_error("Source unavailable");
    }
    return source->document.snapshot();
}

void set_source_style(HWND editor, std::uint32_t font_points, bool dark, bool line_numbers) {
    Source* source = source_record(editor);
    if (!source) {
        return;
    }
    const int points = static_cast<int>(std::clamp<std::uint32_t>(font_points, 1, 0x7FFF));
    // Taken once: a second attempt after an interruption would find the metrics remade.
    const std::optional<double> top = top_to_keep(*source);
    change_from_outside(*source, [&] {
        if (points != source->font_points || line_numbers != source->line_numbers) {
            source->font_points = points;
            source->line_numbers = line_numbers;
            create_text_format(*source);
        }
        const bool dark_changed = dark != source->dark;
        source->dark = dark;
        const PaintColours now = colours_now(*source);
        const bool same_palette = now.table == source->palette.table &&
                                  now.high_contrast == source->palette.high_contrast;
        if (dark_changed || !same_palette) {
            clear_line_layouts(*source);
        }
        scroll_source_to(*source, source->scroll_x, kept_top(*source, top), true);
    });
}

void set_source_highlight(HWND editor, int mode) {
    Source* source = source_record(editor);
    if (!source) {
        return;
    }
    const SourceHost& host = source_host();
    const std::wstring term = host.search_term ? host.search_term() : std::wstring();
    if (term == source->highlight_term && mode == source->highlight_mode) {
        return;
    }
    change_from_outside(*source, [&] {
        ++source->highlight_generation;
        source->highlight_term = term;
        source->highlight_mode = mode;
        if (source->redraw) {
            invalidate_editor(editor);
        }
    });
}

double source_top_line(HWND editor) {
    Source* source = source_record(editor);
    if (!source) {
        return 0.0;
    }
    return top_line(*source);
}

void set_source_top_line(HWND editor, double line, int context_lines) {
    Source* source = source_record(editor);
    if (!source) {
        return;
    }
    change_from_outside(*source, [&] {
        stop_wheel_animation(*source);
        ensure_line_metrics(*source);
        const double lines = static_cast<double>(source->heights.size());
        const double last = std::max(lines, 1.0) - last_line_margin;
        const double top = std::isnan(line) ? 0.0 : std::clamp(line, 0.0, last);
        const double y = top_of_line(*source, top);
        const double margin = std::min(view_height(*source) * top_margin_view_share,
                                       base_line_height(*source) * std::max(0, context_lines));
        source->scroll_notify = false;
        try {
            scroll_source_to(*source, source->scroll_x, y - margin, true);
        } catch (...) {
            source->scroll_notify = true;
            throw;
        }
        source->scroll_notify = true;
    });
}

void show_source_range(HWND editor, std::uint64_t first, std::uint64_t last) {
    Source* source = source_record(editor);
    if (!source) {
        return;
    }
    change_from_outside(*source, [&] {
        stop_wheel_animation(*source);
        ensure_line_metrics(*source);
        const CaretPosition top = caret_position(*source, first);
        const CaretPosition bottom = caret_position(*source, last);
        const double row = base_line_height(*source);
        const double view = view_height(*source);
        if (bottom.y + row - top.y > view) {
            scroll_caret_into_view(*source);
            return;
        }
        double y = source->scroll_y;
        if (top.y < 0.0) {
            y += top.y;
        } else if (bottom.y + row > view) {
            y += bottom.y + row - view;
        }
        scroll_source_to(*source, source->scroll_x, y, true);
    });
}

void announce(HWND editor, const std::wstring& text) {
    Source* source = source_record(editor);
    if (!source) {
        return;
    }
    const std::shared_ptr<PreviewAccessibility::State>& state = source->accessibility.state;
    IRawElementProviderSimple* provider = source->accessibility.provider;
    // Only a module that a client already brought in is used: announcing never loads it.
    if (!state || state->live.load() == 0 || !provider ||
        !GetModuleHandleW(L"UIAutomationCore.dll") || !uia::clients_are_listening()) {
        return;
    }
    const OwnedBstr message(text);
    const OwnedBstr activity(announce_activity);
    if (message.get() && activity.get()) {
        uia::raise_notification_event(provider, NotificationKind_Other,
                                      NotificationProcessing_MostRecent, message.get(),
                                      activity.get());
    }
}

void replace_editor_document(HWND editor, SourceDocument document,
                             const DocumentPlacement& placement) {
    Source* source = source_record(editor);
    if (!source) {
        throw std::runtime_error("Source control is unavailable.");
    }
    const std::uint64_t basis = source->document.edit_count;
    change_from_outside(*source, [&] {
        stop_wheel_animation(*source);
        if (placement.keep_view && source->document.edit_count != basis) {
            // A message that interrupted an attempt changed the text: what the placement says
            // of the old text's lines and offsets no longer holds, but the new text replaces
            // whatever is there.
            install_reloaded_document(*source, std::move(document),
                                      {.keep_view = true,
                                       .anchor = placement.anchor,
                                       .caret = placement.caret,
                                       .carry_offset = {},
                                       .changed_lines_known = false,
                                       .changed_first = 0,
                                       .changed_old_end = 0,
                                       .changed_new_end = 0});
        } else if (placement.keep_view) {
            install_reloaded_document(*source, std::move(document), placement);
        } else {
            install_new_document(*source, std::move(document));
        }
        update_marker_tooltip(*source, no_marker_point, no_marker_point);
        notify_parent(*source, true);
    });
}

void set_markdown_colouring(HWND editor, bool markdown) {
    Source* source = source_record(editor);
    if (!source || source->markdown_colouring == markdown) {
        return;
    }
    change_from_outside(*source, [&] {
        source->markdown_colouring = markdown;
        // Fence states are part of the colouring; they are rebuilt with the metrics.
        source->metrics_valid = false;
        refresh_after_colouring_change(*source);
    });
}

void set_colouring_mode(HWND editor, int mode) {
    Source* source = source_record(editor);
    if (mode < 0 || mode >= colouring_mode_count) {
        mode = 0;
    }
    if (!source || source->colouring_mode == mode) {
        return;
    }
    change_from_outside(*source, [&] {
        source->colouring_mode = mode;
        if (source->markdown_colouring) {
            refresh_after_colouring_change(*source);
        }
    });
}

bool source_composing(HWND editor) {
    const Source* source = source_record(editor);
    return source && source->composing;
}

void clear_line_layouts(HWND editor) {
    if (Source* source = source_record(editor)) {
        change_from_outside(*source, [&] { clear_line_layouts(*source); });
    }
}

void hold_target_size(HWND editor) {
    if (Source* source = source_record(editor)) {
        source->size_settling.hold();
    }
}

void settle_target_size(HWND editor) {
    if (Source* source = source_record(editor)) {
        settle_size(*source);
    }
}

ReplacementLines replacement_lines(HWND editor, std::uint64_t from) {
    Source* source = source_record(editor);
    if (!source) {
        return {};
    }
    ensure_line_metrics(*source);
    const SourceDocument& document = source->document;
    from = std::min(from, document.length());
    const std::uint64_t line = document.line_of(from);
    const std::uint64_t start = document.line_start(line);
    return ReplacementLines(source->fence_states[line], document.text(start, from - start));
}

bool replace_source_range(HWND editor, std::uint64_t from, std::uint64_t to,
                          SourceDocument::NodePtr text, ReplacementLines lines) {
    Source* source = source_record(editor);
    if (!source || source->read_only) {
        return false;
    }
    // The range and the new text were made for the text in place now; once a message that
    // interrupted an attempt changed it, they would land on other text.
    const std::uint64_t basis = source->document.edit_count;
    bool attempted = false;
    const bool ended = change_from_outside(*source, [&] {
        attempted = source->document.edit_count == basis;
        if (attempted) {
            replace_range(*source, from, to, text, lines);
        }
    });
    return ended && attempted;
}

void scroll_source_to(HWND editor, double x, double y, bool repaint) {
    if (Source* source = source_record(editor)) {
        change_from_outside(*source, [&] { scroll_source_to(*source, x, y, repaint); });
    }
}

void notify_parent(HWND editor, bool changed) {
    if (Source* source = source_record(editor)) {
        change_from_outside(*source, [&] { notify_parent(*source, changed); });
    }
}

} // namespace pellix
