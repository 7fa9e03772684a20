#include "app/views.h"

#include <optional>
#include <string>
#include <utility>

#include "app/compare_controller.h"
#include "app/document_tabs.h"
#include "app/editor_hosting.h"
#include "app/hosted_units.h"
#include "app/main_layout.h"
#include "app/main_window_state.h"
#include "app/palette.h"
#include "app/settings.h"
#include "app/theme.h"
#include "app/timers.h"
#include "core/encoding.h"
#include "core/file_io.h"
#include "markdown/html_render.h"
#include "preview/preview_window.h"

namespace pellix {

namespace {

constexpr int view_menu_position = 2;
constexpr UINT outline_command = 304;
constexpr char failure_heading[] = "# Preview unavailable\n\n";

RenderedPreview rendered;
std::uint64_t render_count = 0;

bool active_is_markdown() {
    return !tabs.empty() && is_markdown_path(current_tab().path);
}

void enable_view_menu(bool markdown) {
    HMENU menu = GetMenu(main_window);
    HMENU view_menu = menu != nullptr ? GetSubMenu(menu, view_menu_position) : nullptr;
    if (view_menu == nullptr) {
        return;
    }
    for (UINT id :
         {static_cast<UINT>(view_preview), static_cast<UINT>(view_split), outline_command}) {
        EnableMenuItem(view_menu, id, MF_BYCOMMAND | (markdown ? MF_ENABLED : MF_GRAYED));
    }
    CheckMenuRadioItem(view_menu, view_source, view_split, static_cast<UINT>(settings.view),
                       MF_BYCOMMAND);
}

void create_preview_once() {
    if (preview().window != nullptr) {
        return;
    }
    Preview::Impl& p = preview();
    p.colours = [](bool dark) { return paint_colours(dark); };
    p.on_scroll = [](double line) { preview_scrolled(line); };
    p.text_scale = preview_zoom_for(settings.font_size);
    create_preview(chrome.preview_host, [](unsigned int id) {
        PostMessageW(main_window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    });
    chrome.preview = p.window;
}

void focus_view() {
    if (settings.view == view_preview) {
        if (preview().window != nullptr) {
            SetFocus(preview().window);
        }
    } else if (chrome.editor != nullptr) {
        SetFocus(chrome.editor);
    }
}

bool preview_is_current() {
    return preview().window != nullptr && SUCCEEDED(preview().error_code);
}

std::uint64_t current_line_count() {
    return word_count_cache.line_starts.size();
}

void show_failure_page(const DocumentTab& tab, const std::exception& error) {
    rendered = {};
    std::string page;
    render_markdown_html(page, failure_heading + std::string(error.what()), dark_theme,
                         preview_source_limit);
    set_preview_content(page, tab.id, 0);
}

} // namespace

void ensure_preview_window() {
    create_preview_once();
}

void schedule_compare_pass(DocumentTab& tab) {
    schedule_compare(tab, false);
}

void select_view(int view) {
    if (tabs.empty()) {
        settings.view = view;
        layout_window();
        return;
    }
    const bool markdown = active_is_markdown();
    const int left = settings.view;
    const std::optional<double> reader_place =
        markdown && view != left ? preview_place_to_keep() : std::nullopt;
    settings.view = markdown ? view : view_source;
    enable_view_menu(markdown);
    if (settings.view != view_source) {
        create_preview_once();
    }
    layout_window();
    refresh_current_tab();
    editor_to_preview_place(reader_place);
    sync_preview_to_editor();
    remember_recent_file();
    if (current_tab().path.empty()) {
        persist_settings(true);
    }
    start_match_count();
    focus_view();
}

void refresh_current_tab() {
    if (tabs.empty()) {
        return;
    }
    drop_pending_tab_timers();
    DocumentTab& tab = current_tab();
    refresh_word_count(tab);
    schedule_compare_pass(tab);
    update_status();
    layout_window();
    update_preview();
}

void update_preview() {
    if (tabs.empty()) {
        return;
    }
    DocumentTab& tab = current_tab();
    if (!is_markdown_path(tab.path)) {
        clear_outline();
        return;
    }
    const RenderedPreview snapshot{tab.id, tab.revision, dark_theme, high_contrast};
    const bool outline_visible = current_layout.show_outline;
    const bool rebuild = outline_visible && !outline_is_current(tab.id, tab.revision);
    const bool render =
        settings.view != view_source && (!preview_is_current() || rendered != snapshot);
    if (outline_visible && !rebuild) {
        sync_outline_selection();
    }
    std::string utf8;
    bool converted = false;
    if (rebuild) {
        const std::u16string& text = tab_text(tab);
        utf8 = utf16_to_utf8(text);
        converted = true;
        rebuild_outline(text, utf8);
    }
    if (!render) {
        // The page shown is this tab's, set aside when another tab was entered in between.
        if (settings.view != view_source) {
            show_preview_page();
        }
        return;
    }
    try {
        if (!converted) {
            utf8 = utf16_to_utf8(tab_text(tab));
        }
        std::string page;
        render_markdown_html(page, utf8, dark_theme, preview_source_limit);
        set_preview_content(page, tab.id, current_line_count());
        ++render_count;
        rendered = preview_is_current() ? snapshot : RenderedPreview{};
    } catch (const std::exception& error) {
        show_failure_page(tab, error);
        return;
    }
    // An editor scroll that came while the text was stale could not move the preview, which
    // then showed the older page; the new page takes up the editor's place.
    if (tab.source_leads) {
        sync_preview_to_editor();
    }
}

void draw_waiting_windows() {
    if (main_window == nullptr) {
        return;
    }
    if (chrome.editor != nullptr) {
        UpdateWindow(chrome.editor);
    }
    RedrawWindow(main_window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

double preview_top_line() {
    Preview::Impl& p = preview();
    if (p.window == nullptr) {
        return 0.0;
    }
    double line = 0.0;
    auto installed = std::exchange(p.on_scroll, [&line](double top) { line = top; });
    report_preview_top_line(p);
    p.on_scroll = std::move(installed);
    return line;
}

const RenderedPreview& rendered_preview() {
    return rendered;
}

std::uint64_t preview_render_count() {
    return render_count;
}

} // namespace pellix
