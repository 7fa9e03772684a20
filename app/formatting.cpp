#include "app/formatting.h"

#include <richedit.h>

#include <algorithm>
#include <cwchar>
#include <stdexcept>

#include "app/clean_source.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/settings.h"
#include "app/views.h"
#include "core/limits.h"
#include "editor/source_interface.h"

namespace pellix {

namespace {

struct WrapMarkers {
    unsigned id;
    const wchar_t* before;
    const wchar_t* after;
};

struct LinePrefix {
    unsigned id;
    const wchar_t* prefix;
};

constexpr WrapMarkers wrap_commands[] = {
    {format_id::bold, L"**", L"**"},
    {format_id::italic, L"*", L"*"},
    {format_id::inline_code, L"`", L"`"},
    {format_id::link, L"[", L"](https://)"},
};

constexpr LinePrefix prefix_commands[] = {
    {format_id::heading_1, L"# "},   {format_id::heading_2, L"## "},
    {format_id::heading_3, L"### "}, {format_id::quote, L"> "},
    {format_id::bullet_list, L"- "}, {format_id::numbered_list, L"1. "},
};

bool is_low_surrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

std::u16string_view u16(const wchar_t* text) {
    return {reinterpret_cast<const char16_t*>(text), std::wcslen(text)};
}

TextSelection editor_selection(HWND editor) {
    CHARRANGE range{};
    SendMessageW(editor, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
    return {static_cast<std::uint64_t>(std::max<LONG>(range.cpMin, 0)),
            static_cast<std::uint64_t>(std::max<LONG>(range.cpMax, 0))};
}

void select(HWND editor, std::uint64_t start, std::uint64_t end) {
    CHARRANGE range{static_cast<LONG>(start), static_cast<LONG>(end)};
    SendMessageW(editor, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
}

// Every command edits what the user sees: from Preview the view first becomes Split.
HWND editor_for_formatting() {
    if (settings.view == view_preview) {
        select_view(view_split);
    }
    return chrome.editor;
}

void apply(HWND editor, const std::u16string& old_text, const FormattedText& formatted) {
    apply_text_edit(editor, formatted.text, old_text, formatted.selection);
}

} // namespace

void apply_text_edit(HWND editor, const std::u16string& new_text, const std::u16string& old_text,
                     TextSelection selection) {
    const std::size_t shorter = std::min(new_text.size(), old_text.size());
    std::size_t prefix = 0;
    while (prefix < shorter && new_text[prefix] == old_text[prefix]) {
        ++prefix;
    }
    std::size_t suffix = 0;
    while (suffix < shorter - prefix &&
           new_text[new_text.size() - 1 - suffix] == old_text[old_text.size() - 1 - suffix]) {
        ++suffix;
    }
    if (prefix > 0 && ((prefix < old_text.size() && is_low_surrogate(old_text[prefix])) ||
                       (prefix < new_text.size() && is_low_surrogate(new_text[prefix])))) {
        --prefix;
    }
    const std::size_t new_end = new_text.size() - suffix;
    if (suffix > 0 && is_low_surrogate(new_text[new_end])) {
        --suffix;
    }
    const std::u16string changed = new_text.substr(prefix, new_text.size() - suffix - prefix);
    select(editor, prefix, old_text.size() - suffix);
    SendMessageW(editor, EM_STOPGROUPTYPING, 0, 0);
    SendMessageW(editor, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(changed.c_str()));
    SendMessageW(editor, EM_STOPGROUPTYPING, 0, 0);
    select(editor, selection.start, selection.end);
}

void wrap_selection(const wchar_t* before, const wchar_t* after) {
    HWND editor = editor_for_formatting();
    const std::u16string text = source_text(editor);
    apply(editor, text, wrap_text(text, editor_selection(editor), u16(before), u16(after)));
}

void prefix_lines(const wchar_t* prefix) {
    HWND editor = editor_for_formatting();
    const std::u16string text = source_text(editor);
    apply(editor, text, prefix_text_lines(text, editor_selection(editor), u16(prefix)));
}

void clean_source() {
    HWND editor = editor_for_formatting();
    const std::u16string text = source_text(editor);
    const std::u16string cleaned = clean_markdown_source(text);
    if (cleaned == text) {
        return;
    }
    if (cleaned.size() > document_limit) {
        throw std::runtime_error("Cleaned source exceeds the editor size limit.");
    }
    const TextSelection old = editor_selection(editor);
    apply_text_edit(editor, cleaned, text,
                    {std::min<std::uint64_t>(old.start, cleaned.size()),
                     std::min<std::uint64_t>(old.end, cleaned.size())});
}

void format_command(unsigned id) {
    if (tabs.empty() || chrome.editor == nullptr) {
        return;
    }
    if (current_tab().watch_state != 0) {
        MessageBeep(0);
        return;
    }
    for (const WrapMarkers& wrap : wrap_commands) {
        if (wrap.id == id) {
            wrap_selection(wrap.before, wrap.after);
            return;
        }
    }
    for (const LinePrefix& line : prefix_commands) {
        if (line.id == id) {
            prefix_lines(line.prefix);
            return;
        }
    }
    if (id == format_id::clean_source) {
        clean_source();
    }
}

} // namespace pellix
