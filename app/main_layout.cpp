#include "app/main_layout.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <numeric>
#include <string_view>

#include "app/find_bar.h"
#include "app/completion_popup.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/owner_drawn_buttons.h"
#include "app/settings.h"
#include "app/tab_strip.h"
#include "core/file_io.h"
#include "editor/source_interface.h"

namespace pellix {

MainLayout current_layout;

namespace {

namespace m = layout_metric;

RECT rect_at(int x, int y, int width, int height) {
    return {x, y, x + width, y + height};
}

SwitcherLayout switcher_for(const LayoutInput& in) {
    const unsigned dpi = in.dpi;
    auto s = scale_metric;
    SwitcherLayout result;
    result.icon_size = s(m::switcher_icon, dpi);
    const int padding = s(m::switcher_label_padding, dpi);
    const int icon_button = s(m::switcher_icon_button, dpi);
    std::array<int, switcher_buttons> labelled{};
    for (size_t i = 0; i + 1 < switcher_buttons; ++i) {
        labelled[i] = std::max(in.texts.labels[i] + padding, icon_button);
    }
    labelled[4] = std::max({in.texts.labels[4] + padding, in.texts.paused + padding, icon_button});
    const int margin = s(m::switcher_margin, dpi);
    const int labelled_total = std::accumulate(labelled.begin(), labelled.end(), 0) + margin;
    const int tab_reserve = std::max(3 * (in.texts.untitled + s(m::reserved_tab_padding, dpi)),
                                     s(m::reserved_tab_row, dpi));
    const int room = std::max(in.width - s(m::switcher_right_gap, dpi), 0);
    result.labels = room >= labelled_total + tab_reserve;
    if (result.labels) {
        result.widths = labelled;
    } else {
        result.widths.fill(icon_button);
    }
    result.total = std::accumulate(result.widths.begin(), result.widths.end(), 0) + margin;
    return result;
}

int find_bar_height(const LayoutInput& in, int pane_width, int body_height) {
    if (!in.find_bar_visible) {
        return 0;
    }
    int rows = in.find_replace_row ? 2 : 1;
    const int width = pane_width > 0 ? pane_width : in.find_bar_client_width;
    if (width >= 1 && width < scale_metric(m::narrow_find_pane, in.dpi)) {
        ++rows;
    }
    return std::min(rows * scale_metric(m::find_row_height, in.dpi), body_height);
}

void place_header(int left, int width, int top, int height, RECT& label, RECT& button,
                  unsigned dpi) {
    const int button_width = std::min(scale_metric(m::hide_button_width, dpi), width);
    button = rect_at(left + width - button_width, top, button_width, height);
    label = rect_at(left, top, std::max(width - button_width, 0), height);
}

} // namespace

MainLayout compute_layout(const LayoutInput& in) {
    const unsigned dpi = in.dpi;
    auto s = [dpi](int value) { return scale_metric(value, dpi); };
    MainLayout out;
    out.show_outline = in.outline && in.markdown;
    out.view = in.markdown ? in.view : 300;
    const int width = in.width;
    const int height = in.height;

    const int status_height = s(m::status_height);
    out.status = rect_at(0, std::max(height - status_height, 0), width, status_height);

    const int tab_height = s(m::tab_row_height);
    out.switcher_layout = switcher_for(in);
    const int tab_width = std::max(width - out.switcher_layout.total - s(m::switcher_right_gap), 1);
    out.tabs = rect_at(0, 0, tab_width, tab_height);
    out.switcher = rect_at(tab_width, 0, out.switcher_layout.total, tab_height);
    out.separator = rect_at(0, tab_height, width, 1);

    const int top = tab_height + 1;
    const int document_height = std::max(height - status_height - top, 1);

    int outline_width = 0;
    int gap = 0;
    if (out.show_outline) {
        const int wanted =
            std::max(s(static_cast<int>(in.outline_width)), min_outline_width_pixels);
        const int room = std::max(
            std::min(width * outline_percent_of_width / 100, width - s(m::min_outline_main)),
            min_outline_width_pixels);
        outline_width = std::min(wanted, room);
        gap = s(m::splitter_width);
    }
    const int main_width = std::max(width - outline_width - gap, 1);
    out.outline_splitter = {main_width, top, main_width + gap, top + document_height};

    int split_x = main_width;
    if (out.view == 302) {
        split_x = std::min(main_width, std::max(static_cast<int>(main_width * in.split), 0));
    }
    const int divider = s(m::splitter_width);
    out.split_divider = {std::max(split_x - divider / 2, 0), top,
                         std::min(main_width, split_x - divider / 2 + divider),
                         top + document_height};

    const int header_height = std::min(s(m::header_height), document_height);
    const int body_top = top + header_height;
    const int body_height = std::max(document_height - header_height, 1);

    int source_width = 0;
    int preview_left = 0;
    int preview_width = 0;
    switch (out.view) {
    case 301:
        out.preview_shown = true;
        preview_width = main_width;
        break;
    case 302:
        out.source_shown = in.split > 0.0;
        source_width = out.split_divider.left;
        out.preview_shown = in.split < 1.0;
        preview_left = out.split_divider.right;
        preview_width = std::max(main_width - static_cast<int>(out.split_divider.right), 0);
        break;
    default:
        out.source_shown = true;
        source_width = main_width;
        break;
    }
    const bool preview_only = out.preview_shown && !out.source_shown;

    const int find_pane_width = preview_only ? preview_width : source_width;
    const int find_height = find_bar_height(in, find_pane_width, body_height);
    if (in.find_bar_visible) {
        const int find_left = preview_only ? preview_left : 0;
        out.find_bar = rect_at(find_left, body_top, find_pane_width, find_height);
    }
    const int source_find = preview_only ? 0 : find_height;
    const int preview_find = preview_only ? find_height : 0;
    out.editor =
        rect_at(0, body_top + source_find, source_width, std::max(body_height - source_find, 1));
    out.preview = rect_at(preview_left, body_top + preview_find, preview_width,
                          std::max(body_height - preview_find, 1));

    if (out.source_shown) {
        place_header(0, source_width, top, header_height, out.source_label, out.hide_source, dpi);
    }
    if (out.preview_shown) {
        place_header(preview_left, preview_width, top, header_height, out.preview_label,
                     out.hide_preview, dpi);
    }

    if (out.show_outline) {
        const int left = main_width + gap;
        const int right = left + outline_width;
        const int options_width = std::min(s(m::hide_button_width), outline_width);
        const int rest = outline_width - options_width;
        const int headings_width = std::min(s(m::headings_button_width), std::max(rest * 3 / 5, 1));
        const int tasks_width =
            std::min(s(m::tasks_button_width), std::max(rest - headings_width - 1, 1));
        const int label_width = std::max(rest - headings_width - tasks_width, 1);
        out.outline_options = rect_at(right - options_width, top, options_width, header_height);
        out.tasks = rect_at(right - options_width - tasks_width, top, tasks_width, header_height);
        out.outline_label = rect_at(left, top, label_width, header_height);
        out.headings = rect_at(left + label_width, top, headings_width, header_height);
        const int indent = s(m::tree_indent);
        out.tree =
            rect_at(left + indent, body_top, std::max(outline_width - indent, 1), body_height);
    }

    out.effective_view = out.source_shown && out.preview_shown ? 302
                         : out.preview_shown                   ? 301
                                                               : 300;
    return out;
}

namespace {

SwitcherTexts measure_switcher_texts() {
    SwitcherTexts texts;
    HDC dc = GetDC(main_window);
    if (dc == nullptr) {
        return texts;
    }
    HFONT font = chrome.view_switcher != nullptr
                     ? reinterpret_cast<HFONT>(SendMessageW(chrome.view_switcher, WM_GETFONT, 0, 0))
                     : nullptr;
    if (font == nullptr) {
        font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    }
    HGDIOBJ previous = SelectObject(dc, font);
    auto measure = [dc](std::wstring_view text) {
        SIZE size{};
        GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &size);
        return static_cast<int>(size.cx);
    };
    constexpr std::array<std::wstring_view, switcher_buttons> labels = {
        L"Source", L"Split", L"Preview", L"Outline", L"Watch"};
    for (size_t i = 0; i < switcher_buttons; ++i) {
        texts.labels[i] = measure(labels[i]);
    }
    texts.paused = measure(L"Paused");
    texts.untitled = measure(L"Untitled 999");
    SelectObject(dc, previous);
    ReleaseDC(main_window, dc);
    return texts;
}

LayoutInput current_input() {
    RECT client{};
    GetClientRect(main_window, &client);
    LayoutInput in{
        .width = client.right,
        .height = client.bottom,
        .dpi = main_window_dpi(),
        .view = settings.view,
        .markdown = is_markdown_path(active_tab_path()),
        .outline = settings.outline,
        .outline_width = settings.outline_width,
        .split = settings.split,
        .texts = measure_switcher_texts(),
    };
    if (is_find_bar_visible()) {
        RECT find_client{};
        GetClientRect(chrome.find_bar, &find_client);
        in.find_bar_visible = true;
        in.find_replace_row = find_bar_shows_replace();
        in.find_bar_client_width = find_client.right;
    }
    return in;
}

// Drawn at once, a moved hide button showed the new layout's glyph inside the old header.
void set_enabled(HWND window, bool enabled) {
    if (window != nullptr && (IsWindowEnabled(window) != FALSE) != enabled) {
        change_drawn_later(window, [&] { EnableWindow(window, enabled); });
    }
}

// Either message makes the tab control measure every item's text again.
void configure_tab_control(unsigned dpi) {
    static HWND configured_control = nullptr;
    static unsigned configured_dpi = 0;
    if (configured_control == chrome.tab_control && configured_dpi == dpi) {
        return;
    }
    configured_control = chrome.tab_control;
    configured_dpi = dpi;
    SendMessageW(chrome.tab_control, TCM_SETPADDING, 0,
                 MAKELPARAM(scale_metric(layout_metric::tab_padding_x, dpi),
                            scale_metric(layout_metric::tab_padding_y, dpi)));
    SendMessageW(chrome.tab_control, TCM_SETMINTABWIDTH, 0,
                 scale_metric(layout_metric::min_tab_width, dpi));
}

void check_view_menu(const MainLayout& layout) {
    HMENU menu = GetMenu(main_window);
    if (menu == nullptr) {
        return;
    }
    CheckMenuRadioItem(menu, 300, 302, static_cast<UINT>(layout.effective_view), MF_BYCOMMAND);
    CheckMenuItem(menu, 304, MF_BYCOMMAND | (layout.show_outline ? MF_CHECKED : MF_UNCHECKED));
}

// Whether the top of the row holding `offset` is in the editor's view.
bool offset_in_view(HWND editor, std::uint64_t offset) {
    POINTL at{};
    SendMessageW(editor, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&at),
                 static_cast<LPARAM>(offset));
    RECT client{};
    GetClientRect(editor, &client);
    return at.x >= 0 && at.x < client.right && at.y >= 0 && at.y < client.bottom;
}

// What of the selection the editor shows: both ends, the caret (the selection's moving end,
// which EM_EXGETSEL does not tell from its anchor) or neither.
enum class SelectionShown { neither, caret, both_ends };

SelectionShown selection_shown(HWND editor) {
    if (!IsWindowVisible(editor)) {
        return SelectionShown::neither;
    }
    const auto [anchor, caret] = source_document(editor).selection;
    if (!offset_in_view(editor, caret)) {
        return SelectionShown::neither;
    }
    return anchor == caret || offset_in_view(editor, anchor) ? SelectionShown::both_ends
                                                             : SelectionShown::caret;
}

// A selection in view stays in view when the editor changes size or place (the find bar opening
// above it, another view, a narrower pane wrapping its lines into more rows, a smaller window):
// the whole of it while it fits, else its caret. A hidden editor keeps its size, and with it
// where its lines stand: resized to the empty width of a view without it, it laid every line
// out again character by character, and came back elsewhere.
void place_editor(const MainLayout& layout) {
    HWND editor = chrome.editor;
    if (editor == nullptr) {
        return;
    }
    if (!layout.source_shown) {
        if (IsWindowVisible(editor)) {
            hide_without_erase(editor);
        }
        return;
    }
    // A minimised window has no room for any row, and its restore brings the view back as it was.
    const SelectionShown shown = IsIconic(main_window) || stands_at(editor, layout.editor)
                                     ? SelectionShown::neither
                                     : selection_shown(editor);
    place_child(editor, layout.editor, editor != editor_shown_later);
    if (shown == SelectionShown::both_ends) {
        const auto [anchor, caret] = source_document(editor).selection;
        show_source_range(editor, std::min(anchor, caret), std::max(anchor, caret));
    }
    if (shown != SelectionShown::neither) {
        SendMessageW(editor, EM_SCROLLCARET, 0, 0);
    }
}

} // namespace

void layout_window() {
    if (main_window == nullptr || chrome.tab_control == nullptr) {
        return;
    }
    const LayoutInput input = current_input();
    set_completion_markdown(input.markdown);
    const MainLayout layout = compute_layout(input);
    if (layout.switcher_layout.icon_size != current_layout.switcher_layout.icon_size) {
        clear_glyph_cache();
    }
    settings.view = layout.view;
    current_layout = layout;
    configure_tab_control(input.dpi);
    place_child(chrome.status_strip, layout.status, true);
    place_child(chrome.tab_control, layout.tabs, true);
    update_view_switcher(layout);
    place_child(chrome.view_switcher, layout.switcher, true);
    if (input.find_bar_visible) {
        place_child(chrome.find_bar, layout.find_bar, true);
    }
    place_editor(layout);
    place_child(chrome.preview_host, layout.preview, layout.preview_shown);
    place_child(chrome.source_label, layout.source_label, layout.source_shown);
    place_child(chrome.hide_source, layout.hide_source, layout.source_shown);
    place_child(chrome.preview_label, layout.preview_label, layout.preview_shown);
    place_child(chrome.hide_preview, layout.hide_preview, layout.preview_shown);
    const bool both = layout.source_shown && layout.preview_shown;
    set_enabled(chrome.hide_source, both);
    set_enabled(chrome.hide_preview, both);
    place_child(chrome.outline_tree, layout.tree, layout.show_outline);
    place_child(chrome.outline_label, layout.outline_label, layout.show_outline);
    place_child(chrome.headings_button, layout.headings, layout.show_outline);
    place_child(chrome.tasks_button, layout.tasks, layout.show_outline);
    place_child(chrome.outline_options, layout.outline_options, layout.show_outline);
    check_view_menu(layout);
    place_new_tab_button();
    fit_preview(layout.preview_shown);
    InvalidateRect(main_window, nullptr, TRUE);
}

namespace {

bool contains(const RECT& rect, LPARAM point) {
    const POINT p{GET_X_LPARAM(point), GET_Y_LPARAM(point)};
    return PtInRect(&rect, p) != FALSE;
}

} // namespace

bool hit_outline_splitter(LPARAM point) {
    return current_layout.show_outline && contains(current_layout.outline_splitter, point);
}

bool hit_split_divider(LPARAM point) {
    return current_layout.view == 302 && contains(current_layout.split_divider, point);
}

} // namespace pellix
