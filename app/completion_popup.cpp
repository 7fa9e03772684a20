#include "app/completion_popup.h"

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <array>

#include "app/child_window_class.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/palette.h"
#include "app/settings.h"
#include "core/file_io.h"
#include "core/line_index.h"
#include "editor/source_interface.h"

namespace pellix {

namespace {

// Plain pixels: the popup is not scaled by DPI.
constexpr int popup_width = 340;
constexpr int popup_height = 180;
constexpr int list_width = 338;
constexpr int row_height = 24;
constexpr int popup_border = 4;
constexpr int list_border = 2;
constexpr int below_caret = 28;

constexpr UINT_PTR list_subclass_id = 4;
constexpr UINT accept_message = WM_APP;

const std::array<CompletionItem, 6> snippets = {{
    {u"# heading", u"# "},
    {u"## heading", u"## "},
    {u"- list", u"- "},
    {u"1. list", u"1. "},
    {u"``` code fence", u"```\n\n```"},
    {u"[ link", u"[text](url)"},
}};

Completion state;

bool is_ascii_letter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool starts_word(char16_t c) {
    return is_ascii_letter(c) || c == u'_';
}

bool continues_word(char16_t c) {
    return starts_word(c) || (c >= u'0' && c <= u'9') || c == u'-';
}

char16_t ascii_lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool begins_ignoring_ascii_case(std::u16string_view word, std::u16string_view prefix) {
    return word.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), word.begin(),
                      [](char16_t a, char16_t b) { return ascii_lower(a) == ascii_lower(b); });
}

void add_document_words(std::vector<CompletionItem>& items, const std::u16string& text,
                        const std::u16string& token) {
    std::vector<std::u16string_view> taken;
    const std::u16string_view all(text);
    for (std::size_t i = 0; i < all.size() && items.size() < completion_item_limit;) {
        if (!starts_word(all[i])) {
            ++i;
            continue;
        }
        std::size_t end = i + 1;
        while (end < all.size() && continues_word(all[end])) {
            ++end;
        }
        const std::u16string_view word = all.substr(i, end - i);
        i = end;
        if (word == token || !begins_ignoring_ascii_case(word, token) ||
            std::find(taken.begin(), taken.end(), word) != taken.end()) {
            continue;
        }
        taken.push_back(word);
        items.push_back({std::u16string(word), std::u16string(word)});
    }
}

LRESULT list_colours(HDC dc) {
    const PaletteTable& colours = active_palette(dark_theme);
    SetTextColor(dc, colorref_from_colour(colours[2]));
    SetBkColor(dc, colorref_from_colour(colours[1]));
    SetDCBrushColor(dc, colorref_from_colour(colours[1]));
    return reinterpret_cast<LRESULT>(GetStockObject(DC_BRUSH));
}

LRESULT CALLBACK popup_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_NCCREATE:
        SetWindowLongPtrW(
            window, GWLP_USERDATA,
            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams));
        break;
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;
    case WM_CTLCOLORLISTBOX:
        return list_colours(reinterpret_cast<HDC>(wparam));
    case accept_message:
        if (GetWindowLongPtrW(window, GWLP_USERDATA) != 0) {
            accept_completion();
        }
        return 0;
    case WM_NCDESTROY:
        if (auto* owner = reinterpret_cast<Completion*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
            owner->popup = nullptr;
            owner->list = nullptr;
        }
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT CALLBACK list_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                           DWORD_PTR) {
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, list_proc, list_subclass_id);
    }
    const LRESULT result = DefSubclassProc(window, message, wparam, lparam);
    if (message == WM_LBUTTONUP) {
        PostMessageW(GetParent(window), accept_message, 0, 0);
    }
    return result;
}

std::uint64_t caret_of(HWND editor, std::uint64_t length) {
    CHARRANGE selection{};
    SendMessageW(editor, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    return std::min<std::uint64_t>(static_cast<std::uint64_t>(std::max<LONG>(selection.cpMax, 0)),
                                   length);
}

void fill_list() {
    SendMessageW(state.list, LB_RESETCONTENT, 0, 0);
    for (const CompletionItem& item : state.items) {
        SendMessageW(
            state.list, LB_ADDSTRING, 0,
            reinterpret_cast<LPARAM>(reinterpret_cast<const wchar_t*>(item.label.c_str())));
    }
    SendMessageW(state.list, LB_SETCURSEL, 0, 0);
}

void place_popup() {
    POINTL caret{};
    SendMessageW(state.owner, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&caret),
                 static_cast<LPARAM>(state.caret));
    POINT at{caret.x, caret.y + below_caret};
    ClientToScreen(state.owner, &at);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(state.owner, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    const int rows = static_cast<int>(state.items.size());
    const int height = rows * row_height + popup_border;
    const int x = std::max<int>(work.left, std::min<int>(at.x, work.right - popup_width));
    const int y = std::max<int>(work.top, std::min<int>(at.y, work.bottom - height));
    SetWindowPos(state.popup, HWND_TOPMOST, x, y, popup_width, height,
                 SWP_NOACTIVATE | SWP_SHOWWINDOW);
    MoveWindow(state.list, 0, 0, list_width, rows * row_height + list_border, TRUE);
    SendMessageW(state.list, LB_SETITEMHEIGHT, 0, row_height);
    SetFocus(state.owner);
}

bool active_markdown() {
    return !tabs.empty() && is_markdown_path(current_tab().path);
}

} // namespace

std::uint64_t completion_token_start(const std::u16string& text, std::uint64_t caret) {
    std::uint64_t start = std::min<std::uint64_t>(caret, text.size());
    while (start > 0 && !is_word_separator(text[start - 1])) {
        --start;
    }
    return start;
}

std::vector<CompletionItem> completion_candidates(const std::u16string& text,
                                                  const std::u16string& token) {
    std::vector<CompletionItem> items;
    if (token.empty()) {
        return items;
    }
    for (const CompletionItem& snippet : snippets) {
        if (snippet.label.starts_with(token) || snippet.insertion.starts_with(token)) {
            items.push_back(snippet);
        }
    }
    add_document_words(items, text, token);
    if (items.size() > completion_item_limit) {
        items.resize(completion_item_limit);
    }
    return items;
}

Completion& completion() {
    return state;
}

void create_completion_popup(HWND main) {
    register_child_window_class(completion_class, popup_proc, 0);
    state.text = [] { return source_text(state.owner); };
    state.popup = CreateWindowExW(WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW, completion_class,
                                  L"Suggestions", WS_POPUP | WS_BORDER, 0, 0, popup_width,
                                  popup_height, main, nullptr, instance, &state);
    if (state.popup == nullptr) {
        return;
    }
    state.list = CreateWindowExW(
        0, L"LISTBOX", L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOINTEGRALHEIGHT, 0, 0,
        popup_width, popup_height, state.popup, nullptr, instance, nullptr);
    if (state.list != nullptr) {
        SendMessageW(state.list, WM_SETFONT,
                     reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
        SetWindowSubclass(state.list, list_proc, list_subclass_id, 0);
    }
}

void set_completion_markdown(bool markdown) {
    if (state.markdown != markdown) {
        state.markdown = markdown;
        hide_completion();
    }
}

void show_completion() {
    if (!settings.autocomplete || !active_markdown() || state.owner == nullptr ||
        state.popup == nullptr || state.list == nullptr || !state.text) {
        return;
    }
    const std::u16string text = state.text();
    state.caret = caret_of(state.owner, text.size());
    state.token_start = completion_token_start(text, state.caret);
    const std::u16string token = text.substr(state.token_start, state.caret - state.token_start);
    state.items = completion_candidates(text, token);
    if (state.items.empty()) {
        hide_completion();
        return;
    }
    fill_list();
    place_popup();
}

void accept_completion() {
    if (state.list == nullptr || state.owner == nullptr) {
        return;
    }
    const LRESULT chosen = SendMessageW(state.list, LB_GETCURSEL, 0, 0);
    if (chosen < 0 || static_cast<std::size_t>(chosen) >= state.items.size()) {
        return;
    }
    CHARRANGE range{static_cast<LONG>(state.token_start), static_cast<LONG>(state.caret)};
    SendMessageW(state.owner, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    hide_completion();
    const std::u16string& insertion = state.items[static_cast<std::size_t>(chosen)].insertion;
    // Ends the typing group before and after, so that undo takes back the choice alone.
    SendMessageW(state.owner, EM_STOPGROUPTYPING, 0, 0);
    SendMessageW(state.owner, EM_REPLACESEL, TRUE,
                 reinterpret_cast<LPARAM>(reinterpret_cast<const wchar_t*>(insertion.c_str())));
    SendMessageW(state.owner, EM_STOPGROUPTYPING, 0, 0);
    SetFocus(state.owner);
}

bool completion_visible() {
    return state.popup != nullptr && IsWindowVisible(state.popup);
}

void hide_completion() {
    if (completion_visible()) {
        ShowWindow(state.popup, SW_HIDE);
    }
}

void move_completion_selection(int step) {
    if (state.list == nullptr || state.items.empty()) {
        return;
    }
    const LRESULT current = SendMessageW(state.list, LB_GETCURSEL, 0, 0);
    const auto last = static_cast<LRESULT>(state.items.size()) - 1;
    const LRESULT next = std::clamp<LRESULT>(current + step, 0, last);
    SendMessageW(state.list, LB_SETCURSEL, static_cast<WPARAM>(next), 0);
}

void set_completion_owner(HWND editor) {
    state.owner = editor;
}

void empty_completion_list() {
    state.items.clear();
    if (state.list != nullptr) {
        SendMessageW(state.list, LB_RESETCONTENT, 0, 0);
    }
}

} // namespace pellix
