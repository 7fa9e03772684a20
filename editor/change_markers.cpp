#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cmath>

#include "editor/source_interface.h"
#include "editor/source_record.h"

namespace pellix {
namespace {

// A deletion mark answers the pointer this close to the top edge of its line, in DIPs.
constexpr double deletion_hit_distance = 4.0;
constexpr int tooltip_max_width = 420;
constexpr int tooltip_offset = 12;
constexpr UINT_PTR tooltip_tool_id = 1;

std::wstring deletion_text(const Source& source, const DeletionMark& mark) {
    if (source.marker_text_source) {
        return source.marker_text_source(mark.line, true);
    }
    return std::to_wstring(mark.count) +
           (mark.count == 1 ? L" line deleted here" : L" lines deleted here");
}

std::wstring line_mark_text(const Source& source, std::uint64_t line) {
    const auto after = std::upper_bound(
        source.line_marks.begin(), source.line_marks.end(), line,
        [](std::uint64_t value, const LineMark& mark) { return value < mark.first; });
    if (after == source.line_marks.begin()) {
        return {};
    }
    const LineMark& mark = *std::prev(after);
    if (line >= mark.end) {
        return {};
    }
    if (source.marker_text_source) {
        return source.marker_text_source(line, false);
    }
    return mark.kind != line_mark_added ? L"Changed" : L"Added";
}

// The text the mark under the client point (x, y) explains; empty outside the lane.
std::wstring marker_text_at(Source& source, int x, int y) {
    const double scale = scale_of(source);
    if (x < 0 || !source.marker_lane || x / scale >= marker_lane_width) {
        return {};
    }
    ensure_line_metrics(source);
    const double document_y = y / scale + source.scroll_y;
    std::wstring text;
    const std::uint64_t lines = source.heights.size();
    for (const DeletionMark& mark : source.deletion_marks) {
        const double top = source.heights.prefix(std::min(mark.line, lines));
        if (std::abs(top - document_y) <= deletion_hit_distance) {
            text = deletion_text(source, mark);
        }
    }
    if (text.empty()) {
        text = line_mark_text(source, line_at_height(source.heights, document_y));
    }
    return text;
}

TOOLINFOW tool_info(const Source& source, const std::wstring& text) {
    return TOOLINFOW{
        .cbSize = sizeof(TOOLINFOW),
        .uFlags = TTF_TRACK | TTF_ABSOLUTE,
        .hwnd = source.window,
        .uId = tooltip_tool_id,
        .rect = {},
        .hinst = nullptr,
        .lpszText = const_cast<wchar_t*>(text.c_str()),
        .lParam = 0,
        .lpReserved = nullptr,
    };
}

bool create_tooltip(Source& source) {
    HWND tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                   source.window, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!tooltip) {
        return false;
    }
    source.tooltip = tooltip;
    SendMessageW(tooltip, TTM_SETMAXTIPWIDTH, 0,
                 static_cast<LPARAM>(tooltip_max_width * scale_of(source)));
    const std::wstring empty;
    TOOLINFOW tool = tool_info(source, empty);
    SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    return true;
}

void show_tooltip(Source& source, int x, int y) {
    TOOLINFOW tool = tool_info(source, source.tooltip_text);
    SendMessageW(source.tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    POINT at{x + tooltip_offset, y + tooltip_offset};
    ClientToScreen(source.window, &at);
    SendMessageW(source.tooltip, TTM_TRACKPOSITION, 0, MAKELPARAM(at.x, at.y));
    SendMessageW(source.tooltip, TTM_TRACKACTIVATE, source.tooltip_text.empty() ? FALSE : TRUE,
                 reinterpret_cast<LPARAM>(&tool));
}

void track_mouse_leave(const Source& source) {
    TRACKMOUSEEVENT track{
        .cbSize = sizeof(TRACKMOUSEEVENT),
        .dwFlags = TME_LEAVE,
        .hwndTrack = source.window,
        .dwHoverTime = 0,
    };
    TrackMouseEvent(&track);
}

} // namespace

void update_marker_tooltip(Source& source, int x, int y) {
    std::wstring text = marker_text_at(source, x, y);
    if (text == source.tooltip_text) {
        return;
    }
    source.tooltip_text = std::move(text);
    if (source.tooltip || (!source.tooltip_text.empty() && create_tooltip(source))) {
        show_tooltip(source, x, y);
    }
    track_mouse_leave(source);
}

void set_change_marker_source(HWND editor,
                              std::function<std::wstring(unsigned long long, bool)> text_source) {
    Source* source = source_record(editor);
    if (!source) {
        return;
    }
    change_from_outside(*source, [&] {
        source->marker_text_source = std::move(text_source);
        update_marker_tooltip(*source, no_marker_point, no_marker_point);
    });
}

void set_change_marks(HWND editor, const ChangeMarks& marks) {
    Source* source = source_record(editor);
    if (!source || (marks.line_marks == source->line_marks &&
                    marks.deletion_marks == source->deletion_marks)) {
        return;
    }
    change_from_outside(*source, [&] {
        source->line_marks = marks.line_marks;
        source->deletion_marks = marks.deletion_marks;
        ++source->marks_generation;
        update_marker_tooltip(*source, no_marker_point, no_marker_point);
        if (!source->redraw) {
            return;
        }
        if (source->marker_lane) {
            // Only the lane shows marks: a paint of the lane alone costs a fraction of the view's.
            RECT client{};
            GetClientRect(editor, &client);
            client.right = std::min<LONG>(client.right, marker_lane_right(*source));
            InvalidateRect(editor, &client, FALSE);
        } else {
            invalidate_editor(editor);
        }
    });
}

void set_compare_gutter(HWND editor, bool show) {
    Source* source = source_record(editor);
    if (!source || source->marker_lane == show) {
        return;
    }
    change_from_outside(*source, [&] {
        const ScrollAnchor anchor = capture_scroll_anchor(*source);
        source->marker_lane = show;
        create_text_format(*source);
        ensure_line_metrics(*source);
        if (anchor.valid) {
            restore_scroll_anchor(*source, anchor);
        }
        if (source->redraw) {
            invalidate_editor(editor);
        }
    });
}

} // namespace pellix
