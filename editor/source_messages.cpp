#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "core/encoding.h"
#include "core/limits.h"
#include "editor/source_find.h"
#include "editor/source_record.h"

namespace pellix {
namespace {

constexpr LONG stream_chunk_bytes = 0x2000;
constexpr DWORD stream_error = 13;
constexpr LRESULT undo_limit = 1000;
constexpr UINT utf16_code_page = 1200;
// A search of at most this many units after an edit reads its range from the rope instead of
// copying the whole text; a match count searches windows of 32768 units and its find text.
constexpr std::uint64_t windowed_find_limit = 0x20000;

std::u16string_view wide_view(const wchar_t* text) {
    return text ? std::u16string_view(reinterpret_cast<const char16_t*>(text))
                : std::u16string_view();
}

std::uint64_t caret(const Source& source) {
    return source.document.selection[1];
}
std::uint64_t selection_start(const Source& source) {
    return std::min(source.document.selection[0], source.document.selection[1]);
}
std::uint64_t selection_end(const Source& source) {
    return std::max(source.document.selection[0], source.document.selection[1]);
}

// An offset argument: negative means the caret.
std::uint64_t offset_or_caret(const Source& source, std::int64_t value) {
    return value < 0 ? caret(source) : static_cast<std::uint64_t>(value);
}

std::u16string selected_text(const Source& source) {
    return source.document.text(selection_start(source),
                                selection_end(source) - selection_start(source));
}

// Copies `text` and a NUL to `buffer`; the units copied.
LRESULT copy_out(const std::u16string& text, std::uint64_t units, LPARAM buffer) {
    units = std::min<std::uint64_t>(units, text.size());
    auto* out = reinterpret_cast<char16_t*>(buffer);
    std::memcpy(out, text.data(), units * sizeof(char16_t));
    out[units] = u'\0';
    return static_cast<LRESULT>(units);
}

void install_text(Source& source, const std::u16string& text) {
    source.document.assign(text);
    forget_text_layouts(source);
    scroll_source_to(source, 0.0, 0.0, true);
    notify_parent(source, true);
}

LRESULT get_selection(const Source& source, WPARAM wparam, LPARAM lparam) {
    const auto start = static_cast<DWORD>(selection_start(source));
    const auto end = static_cast<DWORD>(selection_end(source));
    if (wparam) {
        *reinterpret_cast<DWORD*>(wparam) = start;
    }
    if (lparam) {
        *reinterpret_cast<DWORD*>(lparam) = end;
    }
    return static_cast<LRESULT>(static_cast<DWORD>((end << 16) | (start & 0xFFFF)));
}

void set_selection_range(Source& source, std::int64_t start, std::int64_t end) {
    const auto length = static_cast<std::int64_t>(source.document.length());
    if (start < 0) {
        start = end = length;
    } else if (end < 0) {
        end = length;
    }
    set_selection(source, static_cast<std::uint64_t>(start), static_cast<std::uint64_t>(end),
                  false);
}

LRESULT line_scroll(Source& source, WPARAM wparam, LPARAM lparam) {
    ensure_line_metrics(source);
    const std::uint64_t lines = source.document.line_count();
    const std::uint64_t limit = std::min<std::uint64_t>(lines - 1, source.heights.size());
    const std::int64_t target =
        static_cast<std::int64_t>(line_at_height(source.heights, source.scroll_y)) +
        static_cast<int>(lparam);
    const auto line = static_cast<std::uint64_t>(
        std::clamp<std::int64_t>(target, 0, static_cast<std::int64_t>(limit)));
    scroll_source_to(source, source.scroll_x + static_cast<int>(wparam) * source.char_advance,
                     source.heights.prefix(line), true);
    return TRUE;
}

LRESULT line_length_at(const Source& source, std::int64_t value) {
    const SourceDocument& document = source.document;
    const std::uint64_t line = document.line_of(offset_or_caret(source, value));
    return static_cast<LRESULT>(line_length(document, line));
}

LRESULT first_visible_line(Source& source) {
    ensure_line_metrics(source);
    if (source.heights.size() == 0) {
        return 0;
    }
    return static_cast<LRESULT>(std::min(line_at_height(source.heights, source.scroll_y),
                                         source.document.line_count() - 1));
}

void set_read_only(Source& source, bool read_only) {
    source.read_only = read_only;
    if (read_only) {
        source.pending_high_surrogate = 0;
    }
    const LONG_PTR style = GetWindowLongPtrW(source.window, GWL_STYLE);
    SetWindowLongPtrW(source.window, GWL_STYLE,
                      read_only ? (style | ES_READONLY) : (style & ~LONG_PTR(ES_READONLY)));
    raise_accessibility_events(source.accessibility, false, false, false);
}

void position_from_char(Source& source, WPARAM wparam, LPARAM lparam) {
    if (!wparam) {
        return;
    }
    const D2D1_POINT_2F point = caret_point(source, static_cast<std::uint64_t>(lparam));
    const double scale = scale_of(source);
    auto* out = reinterpret_cast<POINTL*>(wparam);
    out->x = static_cast<LONG>(point.x * scale);
    out->y = static_cast<LONG>(point.y * scale);
}

LRESULT char_from_position(Source& source, LPARAM lparam) {
    if (!lparam) {
        return 0;
    }
    const auto* point = reinterpret_cast<const POINTL*>(lparam);
    const double scale = scale_of(source);
    return static_cast<LRESULT>(hit_test(source, point->x / scale, point->y / scale));
}

LRESULT get_extended_selection(const Source& source, WPARAM wparam, LPARAM lparam) {
    const LRESULT packed = get_selection(source, 0, 0);
    if (lparam) {
        auto* range = reinterpret_cast<CHARRANGE*>(lparam);
        range->cpMin = static_cast<LONG>(selection_start(source));
        range->cpMax = static_cast<LONG>(selection_end(source));
    } else if (wparam) {
        *reinterpret_cast<DWORD*>(wparam) = static_cast<DWORD>(selection_start(source));
    }
    return packed;
}

void set_extended_selection(Source& source, WPARAM wparam, LPARAM lparam) {
    if (!lparam) {
        set_selection_range(source, static_cast<std::int64_t>(wparam), 0);
        return;
    }
    const auto* range = reinterpret_cast<const CHARRANGE*>(lparam);
    set_selection_range(source, range->cpMin, range->cpMax);
}

void set_wrap(Source& source, bool wrap) {
    if (wrap == source.wrap) {
        return;
    }
    const std::optional<double> top = top_to_keep(source);
    source.wrap = wrap;
    create_text_format(source);
    scroll_source_to(source, source.scroll_x, kept_top(source, top), true);
}

std::u16string read_stream(EDITSTREAM& stream) {
    std::u16string buffer;
    BYTE chunk[stream_chunk_bytes];
    for (;;) {
        LONG count = 0;
        if (stream.pfnCallback(stream.dwCookie, chunk, stream_chunk_bytes, &count) != 0 ||
            count < 0 || count > stream_chunk_bytes || count % 2 != 0) {
            throw std::runtime_error("Source input failed.");
        }
        if (count == 0) {
            return buffer;
        }
        // The limit holds for the text once its line breaks are folded, which the document
        // checks after folding them; this only stops reading a stream that no folding could
        // bring under it.
        if (buffer.size() + count / 2 > unfolded_text_limit) {
            throw std::length_error("Source too large.");
        }
        const std::size_t old_size = buffer.size();
        buffer.resize(old_size + count / 2);
        std::memcpy(buffer.data() + old_size, chunk, static_cast<std::size_t>(count));
    }
}

LRESULT stream_in(Source& source, LPARAM lparam) {
    if (!lparam) {
        return 0;
    }
    auto& stream = *reinterpret_cast<EDITSTREAM*>(lparam);
    stream.dwError = 0;
    const std::uint64_t entry_edit_count = source.document.edit_count;
    try {
        install_text(source, normalize_line_endings(read_stream(stream)));
    } catch (const std::exception&) {
        if (source.document.edit_count == entry_edit_count) {
            stream.dwError = stream_error;
            return 0;
        }
        forget_text_layouts(source);
        notify_parent(source, true);
    }
    return static_cast<LRESULT>(source.document.length());
}

LRESULT get_text_ex(const Source& source, WPARAM wparam, LPARAM lparam) {
    if (!wparam) {
        return 0;
    }
    const auto& request = *reinterpret_cast<const GETTEXTEX*>(wparam);
    if (request.codepage != utf16_code_page) {
        return 0;
    }
    const std::uint64_t count = request.cb / 2;
    const std::u16string text = (request.flags & GT_SELECTION) != 0
                                    ? selected_text(source)
                                    : source_wide_text(source.document);
    if (!lparam || count == 0) {
        return 0;
    }
    if ((request.flags & GT_USECRLF) == 0) {
        return copy_out(text, count - 1, lparam);
    }
    std::u16string with_crlf;
    with_crlf.reserve(text.size());
    for (char16_t unit : text) {
        if (unit == u'\n') {
            with_crlf.push_back(u'\r');
        }
        with_crlf.push_back(unit);
    }
    return copy_out(with_crlf, count - 1, lparam);
}

LRESULT text_length_ex(const Source& source, WPARAM wparam) {
    std::uint64_t n = source.document.length();
    if (wparam) {
        const auto& request = *reinterpret_cast<const GETTEXTLENGTHEX*>(wparam);
        if ((request.flags & GTL_USECRLF) != 0) {
            n += source.document.line_count() - 1;
        }
        if ((request.flags & GTL_NUMBYTES) != 0) {
            n *= 2;
        }
    }
    return static_cast<LRESULT>(n);
}

// The search over the whole-text copy, taken once per edit: repeated searches over an
// unchanged text pay only for the comparison.
std::int64_t find_in_copy(Source& source, std::u16string_view needle, const FindRequest& search) {
    if (source.find_text_edit_count != source.document.edit_count) {
        // Refilled in place: the buffer's pages stay mapped from one search to the next.
        source.find_text.clear();
        source.find_text.reserve(source.document.length());
        SourceDocument::append_range(source.document.root, 0, source.document.length(),
                                     source.find_text);
        source.find_text_edit_count = source.document.edit_count;
    }
    return find_in_text(source.find_text, needle, search);
}

LRESULT find(Source& source, WPARAM flags, LPARAM lparam) {
    auto* request = reinterpret_cast<FINDTEXTEXW*>(lparam);
    if (!request || !request->lpstrText || request->lpstrText[0] == L'\0') {
        return -1;
    }
    const std::u16string_view needle = wide_view(request->lpstrText);
    const FindRequest search{.from = request->chrg.cpMin,
                             .to = request->chrg.cpMax,
                             .down = (flags & find_down) != 0,
                             .match_case = (flags & find_match_case) != 0,
                             .whole_word = (flags & find_whole_word) != 0};
    const bool stale = source.find_text_edit_count != source.document.edit_count;
    // A short range after an edit is read from the rope alone: a match count's first windowed
    // search would otherwise wait for a copy of all 8 MiB.
    const std::int64_t hit =
        stale && find_span(source.document.length(), search) <= windowed_find_limit
            ? find_in_document(source.document, needle, search)
            : find_in_copy(source, needle, search);
    if (hit >= 0) {
        request->chrgText = {static_cast<LONG>(hit),
                             static_cast<LONG>(hit + static_cast<std::int64_t>(needle.size()))};
    }
    return static_cast<LRESULT>(hit);
}

LRESULT scroll_position(const Source& source, LPARAM lparam) {
    if (lparam) {
        const double scale = scale_of(source);
        auto* point = reinterpret_cast<POINT*>(lparam);
        point->x = static_cast<LONG>(source.scroll_x * scale);
        point->y = static_cast<LONG>(source.scroll_y * scale);
    }
    return TRUE;
}

LRESULT set_scroll_position(Source& source, LPARAM lparam) {
    if (lparam) {
        const double scale = scale_of(source);
        const auto* point = reinterpret_cast<const POINT*>(lparam);
        stop_wheel_animation(source);
        scroll_source_to(source, point->x / scale, point->y / scale, true);
    }
    return TRUE;
}

void undo_if_allowed(Source& source, bool redo) {
    const SourceDocument& document = source.document;
    const bool available = redo ? !document.redo_entries.empty() : !document.undo_entries.empty();
    if (!source.read_only && available) {
        undo_redo(source, redo);
    }
}

void empty_undo_buffer(SourceDocument& document) {
    document.undo_entries.clear();
    document.redo_entries.clear();
    document.history_bytes = 0;
    document.typing_open = false;
}

} // namespace

bool answer_text_message(Source& source, UINT message, WPARAM wparam, LPARAM lparam,
                         LRESULT& result) {
    SourceDocument& document = source.document;
    const auto signed_wparam = static_cast<std::int64_t>(wparam);
    result = 0;
    switch (message) {
    case WM_SETTEXT: {
        const std::u16string_view text = wide_view(reinterpret_cast<const wchar_t*>(lparam));
        install_text(source, std::u16string(text));
        result = TRUE;
        return true;
    }
    case WM_GETTEXT:
        if (lparam && wparam != 0) {
            const std::uint64_t units = std::min<std::uint64_t>(wparam - 1, document.length());
            result = copy_out(document.text(0, units), units, lparam);
        }
        return true;
    case WM_GETTEXTLENGTH:
        result = static_cast<LRESULT>(document.length());
        return true;
    case WM_UNDO:
    case EM_UNDO:
        undo_if_allowed(source, false);
        result = TRUE;
        return true;
    case EM_REDO:
        undo_if_allowed(source, true);
        result = TRUE;
        return true;
    case EM_GETSEL:
        result = get_selection(source, wparam, lparam);
        return true;
    case EM_SETSEL:
        set_selection_range(source, signed_wparam, static_cast<std::int64_t>(lparam));
        return true;
    case EM_LINESCROLL:
        result = line_scroll(source, wparam, lparam);
        return true;
    case EM_SCROLLCARET:
        scroll_caret_into_view(source);
        return true;
    case EM_GETMODIFY:
        result = document.modified() ? TRUE : FALSE;
        return true;
    case EM_SETMODIFY:
        if (wparam == 0) {
            document.saved_state_id = document.state_id;
        }
        document.forced_modified = wparam != 0;
        document.typing_open = false;
        return true;
    case EM_GETLINECOUNT:
        result = static_cast<LRESULT>(document.line_count());
        return true;
    case EM_LINEINDEX: {
        const std::uint64_t line = signed_wparam < 0 ? document.line_of(caret(source))
                                                     : static_cast<std::uint64_t>(wparam);
        result = static_cast<LRESULT>(document.line_start(line));
        return true;
    }
    case EM_LINELENGTH:
        result = line_length_at(source, signed_wparam);
        return true;
    case EM_REPLACESEL:
        if (lparam && !source.read_only) {
            replace_selection(
                source, std::u16string(wide_view(reinterpret_cast<const wchar_t*>(lparam))), false);
        }
        return true;
    case EM_CANUNDO:
        result = document.undo_entries.empty() ? FALSE : TRUE;
        return true;
    case EM_CANREDO:
        result = document.redo_entries.empty() ? FALSE : TRUE;
        return true;
    case EM_LINEFROMCHAR:
        result = static_cast<LRESULT>(document.line_of(offset_or_caret(source, signed_wparam)));
        return true;
    case EM_EXLINEFROMCHAR:
        // RichEdit passes the character index in lParam.
        result = static_cast<LRESULT>(
            document.line_of(offset_or_caret(source, static_cast<std::int64_t>(lparam))));
        return true;
    case EM_EMPTYUNDOBUFFER:
        empty_undo_buffer(document);
        return true;
    case EM_GETFIRSTVISIBLELINE:
        result = first_visible_line(source);
        return true;
    case EM_SETREADONLY:
        set_read_only(source, wparam != 0);
        result = TRUE;
        return true;
    case EM_SETMARGINS:
    case EM_EXLIMITTEXT:
    case EM_SETBKGNDCOLOR:
        return true;
    case EM_POSFROMCHAR:
        position_from_char(source, wparam, lparam);
        return true;
    case EM_CHARFROMPOS:
        result = char_from_position(source, lparam);
        return true;
    case EM_EXGETSEL:
        result = get_extended_selection(source, wparam, lparam);
        return true;
    case EM_EXSETSEL:
        set_extended_selection(source, wparam, lparam);
        return true;
    case EM_GETEVENTMASK:
        result = static_cast<LRESULT>(source.event_mask);
        return true;
    case EM_SETEVENTMASK:
        result = static_cast<LRESULT>(source.event_mask);
        source.event_mask = static_cast<DWORD>(lparam);
        return true;
    case EM_GETSELTEXT:
        if (lparam) {
            const std::u16string text = selected_text(source);
            result = copy_out(text, text.size(), lparam);
        }
        return true;
    case EM_SETTARGETDEVICE:
        set_wrap(source, lparam == 0);
        result = TRUE;
        return true;
    case EM_STREAMIN:
        result = stream_in(source, lparam);
        return true;
    case EM_SETUNDOLIMIT:
        result = undo_limit;
        return true;
    case EM_STOPGROUPTYPING:
        document.typing_open = false;
        return true;
    case EM_GETTEXTEX:
        result = get_text_ex(source, wparam, lparam);
        return true;
    case EM_GETTEXTLENGTHEX:
        result = text_length_ex(source, wparam);
        return true;
    case EM_FINDTEXTEXW:
        result = find(source, wparam, lparam);
        return true;
    case EM_GETSCROLLPOS:
        result = scroll_position(source, lparam);
        return true;
    case EM_SETSCROLLPOS:
        result = set_scroll_position(source, lparam);
        return true;
    default:
        return false;
    }
}

} // namespace pellix
