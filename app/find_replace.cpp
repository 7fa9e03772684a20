#include "app/find_replace.h"

#include <richedit.h>

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "app/find_bar.h"
#include "app/hosted_units.h"
#include "app/main_layout.h"
#include "app/main_window_state.h"
#include "app/match_count.h"
#include "app/prompts.h"
#include "app/replace_all.h"
#include "app/settings.h"
#include "app/timers.h"
#include "editor/source_interface.h"
#include "preview/preview_window.h"

namespace pellix {

FindTexts find_texts;

namespace {

namespace command_id {
constexpr unsigned find = 206;
constexpr unsigned find_next = 207;
constexpr unsigned replace = 208;
constexpr unsigned find_previous = 209;
constexpr unsigned split = 302;
} // namespace command_id

// A selection at least this long never seeds the find box.
constexpr LONG seed_limit = 512;

std::u16string u16(const std::wstring& text) {
    return {text.begin(), text.end()};
}

CHARRANGE editor_selection(HWND editor) {
    CHARRANGE range{};
    SendMessageW(editor, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
    return range;
}

// The selected text, read into a buffer sized from the selection, so that no selection is cut
// short or overruns it.
std::wstring selected_text(HWND editor) {
    const CHARRANGE range = editor_selection(editor);
    if (range.cpMax <= range.cpMin) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(range.cpMax - range.cpMin) + 1, L'\0');
    const LRESULT copied =
        SendMessageW(editor, EM_GETSELTEXT, 0, reinterpret_cast<LPARAM>(text.data()));
    text.resize(
        static_cast<std::size_t>(std::clamp<LRESULT>(copied, 0, range.cpMax - range.cpMin)));
    return text;
}

// One EM_FINDTEXTEXW over [from, to) (to < from searches backward); the match or nothing.
std::optional<CHARRANGE> search_editor(HWND editor, LONG from, LONG to, WPARAM flags) {
    FINDTEXTEXW request{
        .chrg = {from, to},
        .lpstrText = find_texts.find.c_str(),
        .chrgText = {},
    };
    if (SendMessageW(editor, EM_FINDTEXTEXW, flags, reinterpret_cast<LPARAM>(&request)) < 0) {
        return std::nullopt;
    }
    return request.chrgText;
}

void find_in_source(bool forward) {
    HWND editor = chrome.editor;
    const CHARRANGE selection = editor_selection(editor);
    const WPARAM flags = (find_texts.flags & find_flag::options) | (forward ? find_flag::down : 0);
    std::optional<CHARRANGE> match;
    if (forward) {
        match = search_editor(editor, selection.cpMax, -1, flags);
        if (!match) {
            match = search_editor(editor, 0, selection.cpMax, flags);
        }
    } else {
        match = search_editor(editor, selection.cpMin, 0, flags);
        if (!match) {
            match = search_editor(editor, GetWindowTextLengthW(editor), 0, flags);
        }
    }
    if (!match) {
        MessageBeep(MB_ICONASTERISK);
        return;
    }
    SendMessageW(editor, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&*match));
    SendMessageW(editor, EM_SCROLLCARET, 0, 0);
    SetFocus(editor);
}

void find_in_preview(bool forward) {
    Preview::Impl& p = preview();
    const TextRanges& matches = p.find_matches;
    if (matches.empty()) {
        return;
    }
    const std::uint64_t low = std::min(p.view.anchor, p.view.caret);
    const std::uint64_t high = std::max(p.view.anchor, p.view.caret);
    std::pair<std::uint64_t, std::uint64_t> match;
    if (forward) {
        const auto found = std::find_if(matches.begin(), matches.end(),
                                        [high](const auto& m) { return m.first >= high; });
        match = found != matches.end() ? *found : matches.front();
    } else {
        const auto found = std::find_if(matches.rbegin(), matches.rend(),
                                        [low](const auto& m) { return m.first < low; });
        match = found != matches.rend() ? *found : matches.back();
    }
    p.view.anchor = match.first;
    set_preview_caret(p, match.second, true);
}

bool same_as_find_text(const std::wstring& selected, unsigned long flags) {
    if (selected.empty()) {
        return false;
    }
    if ((flags & find_flag::match_case) != 0) {
        return selected == find_texts.find;
    }
    return _wcsicmp(selected.c_str(), find_texts.find.c_str()) == 0;
}

void replace_selection(unsigned long flags) {
    HWND editor = chrome.editor;
    if (same_as_find_text(selected_text(editor), flags)) {
        SendMessageW(editor, EM_STOPGROUPTYPING, 0, 0);
        SendMessageW(editor, EM_REPLACESEL, TRUE,
                     reinterpret_cast<LPARAM>(find_texts.replace.c_str()));
        SendMessageW(editor, EM_STOPGROUPTYPING, 0, 0);
    }
    find_next((flags & find_flag::down) != 0);
}

// A selection of the source that may seed the find box: shorter than 512 units, one line.
std::optional<std::wstring> find_seed() {
    if (!source_shown() || chrome.editor == nullptr) {
        return std::nullopt;
    }
    const CHARRANGE range = editor_selection(chrome.editor);
    const LONG length = range.cpMax - range.cpMin;
    if (length <= 0 || length >= seed_limit) {
        return std::nullopt;
    }
    std::wstring text = selected_text(chrome.editor);
    if (text.empty() || text.find_first_of(L"\r\n") != std::wstring::npos) {
        return std::nullopt;
    }
    return text;
}

bool focus_in_find_bar(HWND focus) {
    return chrome.find_bar != nullptr && focus != nullptr &&
           (focus == chrome.find_bar || IsChild(chrome.find_bar, focus));
}

bool preview_pane_shown() {
    return settings.view == view_preview || (settings.view == view_split && settings.split <= 0);
}

// The closed callback: the count stops, the highlights go and the focus returns to the pane.
void find_bar_closed() {
    stop_match_count();
    set_preview_find(u"", false, false);
    if (!search_term.empty() || highlight_mode != 0) {
        search_term.clear();
        highlight_mode = 0;
        set_source_highlight(chrome.editor, 0);
    }
    layout_window();
    HWND preview_window = preview().window;
    if (preview_pane_shown() && preview_window != nullptr) {
        SetFocus(preview_window);
    } else if (chrome.editor != nullptr) {
        SetFocus(chrome.editor);
    }
}

} // namespace

bool source_shown() {
    return !preview_pane_shown();
}

void tell_preview_find(unsigned long flags) {
    set_preview_find(u16(find_texts.find), (flags & find_flag::match_case) != 0,
                     (flags & find_flag::whole_word) != 0);
}

void find_next(bool forward) {
    tell_preview_find(find_texts.flags);
    if (find_texts.find.empty() || tabs.empty()) {
        return;
    }
    if (source_shown()) {
        find_in_source(forward);
    } else {
        find_in_preview(forward);
    }
}

void show_find_bar(bool replace) {
    const std::optional<std::wstring> seed = find_seed();
    set_find_bar_options(find_texts.flags & find_flag::options);
    open_find_bar(replace, seed ? &*seed : nullptr);
    start_match_count();
    layout_window();
}

void read_find_fields() {
    find_texts.find = find_bar_find_text().substr(0, find_text_limit);
    find_texts.replace = find_bar_replace_text().substr(0, find_text_limit);
    find_texts.flags = find_bar_options() | find_flag::down;
}

void handle_find_request(const FINDREPLACEW& request) {
    const unsigned long flags = request.Flags;
    if (tabs.empty()) {
        return;
    }
    if ((flags & (find_flag::replace | find_flag::replace_all)) != 0) {
        if (current_tab().watch_state != 0) {
            return;
        }
        if (!source_shown()) {
            run_command(command_id::split);
        }
    }
    if (replace_all_running() && (flags & find_flag::dialog_term) == 0) {
        return;
    }
    tell_preview_find(flags);
    if ((flags & find_flag::dialog_term) != 0) {
        return;
    }
    if ((flags & find_flag::replace_all) != 0) {
        start_replace_all(flags);
    } else if ((flags & find_flag::replace) != 0) {
        replace_selection(flags);
    } else if ((flags & find_flag::find_next) != 0) {
        find_next((flags & find_flag::down) != 0);
    }
}

void request_find(unsigned long flags) {
    try {
        HWND focus = GetFocus();
        const bool from_bar = focus_in_find_bar(focus);
        read_find_fields();
        FINDREPLACEW request{};
        request.lStructSize = sizeof(FINDREPLACEW);
        request.Flags = flags | find_bar_options();
        find_texts.flags = request.Flags;
        handle_find_request(request);
        if (from_bar && !replace_all_running() && IsWindow(focus) && IsWindowEnabled(focus)) {
            SetFocus(focus);
        }
        start_match_count();
    } catch (const std::exception& error) {
        show_error_message(error);
    }
}

void find_command(unsigned id) {
    switch (id) {
    case command_id::find:
        show_find_bar(false);
        break;
    case command_id::replace:
        show_find_bar(true);
        break;
    case command_id::find_next:
    case command_id::find_previous: {
        const bool forward = id == command_id::find_next;
        if (is_find_bar_visible()) {
            request_find(forward ? find_flag::find_next | find_flag::down : find_flag::find_next);
        } else if (find_texts.find.empty()) {
            show_find_bar(false);
        } else {
            find_next(forward);
        }
        break;
    }
    default:
        break;
    }
}

void find_timer(UINT_PTR id) {
    if (id == timer_id::replace_all_step) {
        replace_all_step();
    } else if (id == timer_id::match_count) {
        count_matches_step();
    }
}

void make_find_bar(HWND main) {
    // Work a previous main window left behind ends with it.
    cancel_replace_all();
    stop_match_count();
    chrome.find_bar = create_find_bar(main, {
                                                .request = request_find,
                                                .changed = start_match_count,
                                                .closed = find_bar_closed,
                                            });
    if (chrome.find_bar == nullptr) {
        throw std::runtime_error("Could not create inline Find controls.");
    }
    chrome.find_box = GetDlgItem(chrome.find_bar, find_control::find_box);
    chrome.replace_box = GetDlgItem(chrome.find_bar, find_control::replace_box);
}

} // namespace pellix
