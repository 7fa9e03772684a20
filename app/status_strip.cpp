#include "app/status_strip.h"

#include <richedit.h>

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "app/child_window_class.h"
#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_paint.h"
#include "app/main_window_state.h"
#include "app/owner_drawn_buttons.h"
#include "app/prompts.h"
#include "app/palette.h"
#include "app/settings.h"
#include "app/window_moves.h"
#include "core/file_io.h"
#include "preview/svg_icons.h"

namespace pellix {

namespace {

constexpr wchar_t separator[] = L" \u00B7 ";
constexpr int base_font_points = 12;
constexpr int words_per_minute = 200;

// Pixel metrics at 96 DPI.
constexpr int narrow_width = 800;
constexpr int item_padding = 20;
constexpr int icon_allowance = 19;
constexpr int edge_gap = 2;
constexpr int text_indent = 10;
constexpr int icon_size = 13;
constexpr int icon_indent = 9;
constexpr int icon_text_offset = 19;

constexpr COLORREF warning_dark = RGB(0xFF, 0xBE, 0x55);
constexpr COLORREF warning_light = RGB(0x9A, 0x60, 0x00);

StatusStrip strip_object;
std::wstring reading_note;

std::wstring number(std::uint64_t value) {
    return std::to_wstring(value);
}

// N followed by the singular or the plural noun.
std::wstring counted(std::uint64_t count, std::wstring_view one, std::wstring_view many) {
    return number(count) + std::wstring(count == 1 ? one : many);
}

std::wstring encoding_name(std::uint32_t encoding) {
    switch (encoding) {
    case 1:
        return L"UTF-8 BOM";
    case 2:
        return L"UTF-16 LE";
    case 3:
        return L"UTF-16 BE";
    case 4:
        return L"Windows-1252";
    case 5:
        return L"Windows-1251";
    case 6:
        return L"ISO-8859-1";
    case 7:
        return L"OEM 437";
    default:
        return L"UTF-8";
    }
}

std::wstring line_ending_name(std::uint32_t line_ending) {
    switch (line_ending) {
    case 1:
        return L"CRLF";
    case 2:
        return L"CR";
    default:
        return L"LF";
    }
}

StatusItem watch_item(const DocumentTab& tab, bool narrow) {
    StatusItem item{.text = {}, .command = status_command::watch, .icon = icon_id::watch};
    if (tab.watch_state == 2) {
        item.emphasis = true;
        item.text = narrow ? L"Watch paused \u00B7 F5"
                           : L"Watch paused \u00B7 " + display_text(tab.watch_status) +
                                 L" \u00B7 F5 to retry";
        return item;
    }
    item.text = L"Watching";
    if (narrow) {
        return item;
    }
    const std::uint64_t marked = marked_line_count(tab.watch_line_marks);
    const std::uint64_t deleted = deleted_line_count(tab.watch_deletion_marks);
    if (tab.watch_highlights_unavailable) {
        item.text += L" \u00B7 Highlights unavailable";
    } else if (tab.watch_line_marks.empty() && tab.watch_deletion_marks.empty()) {
        item.text += L" \u00B7 Read-only";
    } else {
        if (marked != 0) {
            item.text += separator + counted(marked, L" line marked", L" lines marked");
        }
        if (deleted != 0) {
            item.text += separator + counted(deleted, L" line deleted", L" lines deleted");
        }
    }
    return item;
}

std::wstring compare_result_text(const DocumentTab& tab) {
    const LineDiff& diff = tab.compare_diff;
    if (diff.ranges.empty()) {
        return L"No differences from " + tab.compare_label;
    }
    std::uint64_t changed = 0;
    std::uint64_t added = 0;
    for (const LineMark& mark : diff.marks.line_marks) {
        (mark.kind == line_mark_added ? added : changed) += mark.end - mark.first;
    }
    const std::uint64_t deleted = deleted_line_count(diff.marks.deletion_marks);
    std::wstring text = L"Compared with " + tab.compare_label;
    for (const auto& [count, noun] : {std::pair{changed, L" changed"}, std::pair{added, L" added"},
                                      std::pair{deleted, L" deleted"}}) {
        if (count != 0) {
            text += separator + number(count) + noun;
        }
    }
    return text;
}

StatusItem compare_item(const DocumentTab& tab) {
    StatusItem item{.text = {},
                    .command = status_command::compare,
                    .icon = icon_id::compare,
                    .link_icon = true};
    if (!tab.compare_error.empty()) {
        item.text = L"Compare unavailable \u00B7 " + display_text(tab.compare_error);
        item.emphasis = true;
    } else if (tab.compare_applied_revision != tab.revision) {
        item.text = L"Comparing with " + tab.compare_label;
    } else if (!tab.compare_diff.line_by_line) {
        item.text = L"Too large to compare line by line";
        item.emphasis = true;
    } else {
        item.text = compare_result_text(tab);
    }
    // The compare note ("At last change") and a Replace All's progress.
    for (const std::wstring* note : {&tab.compare_summary, &tab.status_note}) {
        if (!note->empty()) {
            item.text += separator + *note;
        }
    }
    return item;
}

HFONT strip_font(const StatusStrip& strip) {
    return strip.font != nullptr ? strip.font
                                 : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

const PaletteTable& strip_palette(const StatusStrip& strip) {
    return active_palette(strip.dark);
}

int text_width(HDC dc, const std::wstring& text) {
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return static_cast<int>(size.cx);
}

// Text widths measured in the strip's font at its DPI, so that a caret move (which changes one
// short text) measures at most that text.
struct MeasuredWidths {
    HFONT font = nullptr;
    int dpi = 0;
    std::unordered_map<std::wstring, int> widths;
};
MeasuredWidths measured;

std::vector<int> item_widths(StatusStrip& strip) {
    const HFONT font = strip_font(strip);
    const int dpi = scale_for_window(strip.window, USER_DEFAULT_SCREEN_DPI);
    if (measured.font != font || measured.dpi != dpi) {
        measured = {font, dpi, {}};
    }
    HDC dc = nullptr;
    HGDIOBJ previous = nullptr;
    std::vector<int> widths;
    for (const StatusItem& item : strip.items) {
        auto found = measured.widths.find(item.text);
        if (found == measured.widths.end()) {
            if (dc == nullptr && (dc = GetDC(strip.window)) != nullptr) {
                previous = SelectObject(dc, font);
            }
            const int width = dc != nullptr ? text_width(dc, item.text) : 0;
            found = measured.widths.emplace(item.text, width).first;
        }
        int width = found->second + scale_for_window(strip.window, item_padding);
        if (item.icon != 0) {
            width += scale_for_window(strip.window, icon_allowance);
        }
        widths.push_back(width);
    }
    if (dc != nullptr) {
        SelectObject(dc, previous);
        ReleaseDC(strip.window, dc);
    }
    // Caret texts come and go; the cache is kept small.
    if (measured.widths.size() > 256) {
        measured.widths.clear();
    }
    return widths;
}

// Where each button was last put, parallel to the buttons: a caret move usually leaves every
// button where it was, and moving a window costs a round trip to the window server. A button
// whose move failed is marked unplaced, so that the next layout moves it again.
constexpr RECT unplaced{-1, -1, -1, -1};
std::vector<RECT> placed;

struct ButtonMove {
    std::size_t index = 0; // of the item and its button
    HWND button = nullptr;
    RECT place{}; // negative sizes clamped to 0
    UINT flags = 0;
};

ButtonMove button_move(std::size_t index, HWND button, const RECT& rect) {
    const LONG width = std::max<LONG>(0, rect.right - rect.left);
    const LONG height = std::max<LONG>(0, rect.bottom - rect.top);
    return {.index = index,
            .button = button,
            .place = {rect.left, rect.top, rect.left + width, rect.top + height},
            .flags =
                static_cast<UINT>(SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS | SWP_NOREDRAW |
                                  (width > 0 ? SWP_SHOWWINDOW : SWP_HIDEWINDOW))};
}

// False when the batch failed: then some, none or all of the moves were made.
bool move_in_one_batch(const std::vector<ButtonMove>& moves) {
    HDWP batch = BeginDeferWindowPos(static_cast<int>(moves.size()));
    for (const ButtonMove& move : moves) {
        if (batch == nullptr) {
            return false;
        }
        batch = defer_window_move(batch, move.button, move.place, move.flags);
    }
    return batch != nullptr && end_window_moves(batch);
}

bool move_alone(const ButtonMove& move) {
    const RECT& place = move.place;
    return SetWindowPos(move.button, nullptr, place.left, place.top, place.right - place.left,
                        place.bottom - place.top, move.flags) != FALSE;
}

// The buttons move together and draw nothing themselves: moved one by one, each erased and drew
// its own face at once, so the strip showed the old items beside the new ones until the last had
// moved. The strip's next paint draws them all. A batch that fails part-way is gone with the
// moves already in it, so each button is then moved on its own: a button left behind would take
// the clicks meant for another item.
void place_item_buttons(StatusStrip& strip) {
    placed.resize(strip.buttons.size(), unplaced);
    std::vector<ButtonMove> moves;
    for (std::size_t i = 0; i < strip.items.size() && i < strip.buttons.size(); ++i) {
        HWND button = strip.buttons[i];
        const RECT& rect = strip.items[i].rect;
        if (button != nullptr && !EqualRect(&placed[i], &rect)) {
            moves.push_back(button_move(i, button, rect));
        }
    }
    if (moves.empty()) {
        return;
    }
    const bool batched = move_in_one_batch(moves);
    for (const ButtonMove& move : moves) {
        placed[move.index] = batched || move_alone(move) ? strip.items[move.index].rect : unplaced;
    }
}

void paint_strip(const StatusStrip& strip, HDC dc, const RECT& client) {
    const PaletteTable& colours = strip_palette(strip);
    fill_with_palette_colour(dc, client, colours[1]);
    fill_with_palette_colour(dc, RECT{client.left, client.top, client.right, client.top + 1},
                             colours[5]);
    HGDIOBJ previous = SelectObject(dc, strip_font(strip));
    SetBkMode(dc, TRANSPARENT);
    for (const StatusItem& item : strip.items) {
        if (item.command != 0 || item.rect.right <= item.rect.left) {
            continue;
        }
        RECT text = item.rect;
        text.left += scale_for_window(strip.window, text_indent);
        SetTextColor(dc, colorref_from_colour(colours[item.emphasis ? 4 : 3]));
        DrawTextW(dc, item.text.c_str(), static_cast<int>(item.text.size()), &text,
                  DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    }
    SelectObject(dc, previous);
}

COLORREF icon_colour(const StatusStrip& strip, const StatusItem& item) {
    if (!item.emphasis) {
        return colorref_from_colour(strip_palette(strip)[item.link_icon ? 4 : 3]);
    }
    if (high_contrast) {
        return colorref_from_colour(palette.high_contrast[4]);
    }
    return strip.dark ? warning_dark : warning_light;
}

void draw_icon_item(const StatusStrip& strip, const StatusItem& item, const DRAWITEMSTRUCT& draw) {
    HWND button = draw.hwndItem;
    const RECT& rect = draw.rcItem;
    const int size = scale_for_window(button, icon_size);
    const int left = rect.left + scale_for_window(button, icon_indent);
    const int top = rect.top + (rect.bottom - rect.top - size) / 2;
    const RECT glyph{left, top, left + size, top + size};
    const COLORREF colour = icon_colour(strip, item);
    draw_icon(instance, item.icon, draw.hDC, &glyph, colour);
    RECT text{left + scale_for_window(button, icon_text_offset), rect.top, rect.right, rect.bottom};
    HGDIOBJ previous = SelectObject(draw.hDC, strip_font(strip));
    SetBkMode(draw.hDC, TRANSPARENT);
    SetTextColor(draw.hDC, colour);
    DrawTextW(draw.hDC, item.text.c_str(), static_cast<int>(item.text.size()), &text,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(draw.hDC, previous);
}

void draw_button_item(const StatusStrip& strip, const StatusItem& item,
                      const DRAWITEMSTRUCT& draw) {
    paint_owner_drawn_button(draw, strip.dark, strip_font(strip),
                             item.icon != 0 ? L"" : item.text.c_str(), false, false);
    if (item.icon != 0) {
        draw_icon_item(strip, item, draw);
    }
}

bool draw_item_button(const StatusStrip& strip, const DRAWITEMSTRUCT& draw) {
    const auto found = std::find(strip.buttons.begin(), strip.buttons.end(), draw.hwndItem);
    if (found == strip.buttons.end()) {
        return false;
    }
    draw_button_item(strip, strip.items[static_cast<size_t>(found - strip.buttons.begin())], draw);
    return true;
}

// The whole strip, its buttons' faces too, goes to the window in one copy, over the buttons;
// their own paints would draw the same faces again.
void paint_whole_strip(StatusStrip& strip) {
    HDC dc = GetDCEx(strip.window, nullptr, DCX_CACHE | DCX_CLIPSIBLINGS);
    if (dc == nullptr) {
        return;
    }
    paint_buffered(strip.window, dc, strip.buffer, [&strip](HDC target, const RECT& client) {
        paint_strip(strip, target, client);
        for (size_t i = 0; i < strip.items.size() && i < strip.buttons.size(); ++i) {
            HWND button = strip.buttons[i];
            const RECT& rect = strip.items[i].rect;
            if (button != nullptr && rect.right > rect.left) {
                draw_button_item(strip, strip.items[i],
                                 owner_drawn_button_item(button, target, rect));
            }
        }
    });
    ReleaseDC(strip.window, dc);
    for (HWND button : strip.buttons) {
        if (button != nullptr) {
            ValidateRect(button, nullptr);
        }
    }
}

LRESULT CALLBACK strip_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* strip =
            static_cast<StatusStrip*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(strip));
        strip->window = window;
        return DefWindowProcW(window, message, wparam, lparam);
    }
    auto* strip = reinterpret_cast<StatusStrip*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (strip == nullptr) {
        return DefWindowProcW(window, message, wparam, lparam);
    }
    switch (message) {
    case WM_ERASEBKGND:
        return 1;
    case WM_CTLCOLORBTN:
        return owner_drawn_button_background(reinterpret_cast<HDC>(wparam), strip->dark);
    case WM_SIZE:
        layout_status_strip(*strip);
        InvalidateRect(window, nullptr, FALSE);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint{};
        BeginPaint(window, &paint);
        paint_whole_strip(*strip);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DRAWITEM:
        if (draw_item_button(*strip, *reinterpret_cast<const DRAWITEMSTRUCT*>(lparam))) {
            return TRUE;
        }
        break;
    case WM_COMMAND:
        if (HIWORD(wparam) == BN_CLICKED && strip->click) {
            strip->click(LOWORD(wparam));
        }
        return 0;
    case WM_NCDESTROY:
        placed.clear();
        strip->buffer.release();
        strip->window = nullptr;
        strip->buttons.clear();
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

bool same_commands(const std::vector<StatusItem>& a, const std::vector<StatusItem>& b) {
    return std::equal(
        a.begin(), a.end(), b.begin(), b.end(),
        [](const StatusItem& x, const StatusItem& y) { return x.command == y.command; });
}

std::wstring joined_texts(const std::vector<StatusItem>& items) {
    std::wstring text;
    for (const StatusItem& item : items) {
        if (!text.empty()) {
            text += L", ";
        }
        text += item.text;
    }
    return text;
}

std::wstring window_text(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

void set_text_if_changed(HWND window, const std::wstring& text) {
    if (window_text(window) != text) {
        SetWindowTextW(window, text.c_str());
    }
}

// A button's own WM_SETTEXT erases it and draws the new caption at once, in its old place: the
// strip draws it where the new items put it instead.
void set_caption_if_changed(HWND button, const std::wstring& text) {
    if (window_text(button) != text) {
        DefWindowProcW(button, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
}

// Puts the new items in place, keeping the buttons when the same commands stand in the same
// order.
void install_items(StatusStrip& strip, std::vector<StatusItem> items) {
    const bool reuse = strip.buttons.size() == items.size() && same_commands(strip.items, items);
    if (!reuse) {
        for (HWND button : strip.buttons) {
            if (button != nullptr) {
                DestroyWindow(button);
            }
        }
        strip.buttons.clear();
        placed.clear();
    }
    strip.items = std::move(items);
    set_text_if_changed(strip.window, joined_texts(strip.items));
    if (reuse) {
        for (size_t i = 0; i < strip.items.size(); ++i) {
            if (strip.buttons[i] != nullptr) {
                set_caption_if_changed(strip.buttons[i], strip.items[i].text);
            }
        }
    } else {
        for (const StatusItem& item : strip.items) {
            strip.buttons.push_back(
                item.command == 0
                    ? nullptr
                    : create_owner_drawn_button(strip.window, item.command, item.text.c_str()));
        }
    }
    layout_status_strip(strip);
    InvalidateRect(strip.window, nullptr, FALSE);
}

StatusInputs current_inputs(const DocumentTab& tab) {
    StatusInputs inputs{
        .words = word_count_cache.total,
        .font_points = settings.font_size,
        .notice = recovery_status(),
    };
    if (tab.editor != nullptr) {
        CHARRANGE selection{};
        SendMessageW(tab.editor, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
        const LRESULT line = SendMessageW(tab.editor, EM_LINEFROMCHAR, selection.cpMin, 0);
        const LRESULT start = SendMessageW(tab.editor, EM_LINEINDEX, line, 0);
        inputs.line = static_cast<std::uint64_t>(line) + 1;
        inputs.column = static_cast<std::uint64_t>(selection.cpMin - start) + 1;
    }
    if (strip_object.window != nullptr) {
        RECT client{};
        GetClientRect(strip_object.window, &client);
        inputs.narrow = client.right < scale_for_window(strip_object.window, narrow_width);
    }
    return inputs;
}

void refresh_reading_note() {
    std::wstring note = reading_time_text(word_count_cache.total);
    if (note != reading_note) {
        reading_note = std::move(note);
        if (chrome.preview_label != nullptr) {
            InvalidateRect(chrome.preview_label, nullptr, FALSE);
        }
    }
}

} // namespace

std::vector<StatusItem> compose_status_items(const DocumentTab& tab, const StatusInputs& in) {
    std::vector<StatusItem> items;
    items.push_back({.text = L"Ln " + number(in.line) + L", Col " + number(in.column)});
    items.push_back({.text = counted(in.words, L" word", L" words")});
    if (tab.watch_state != 0) {
        items.push_back(watch_item(tab, in.narrow));
    }
    if (tab.baseline) {
        items.push_back(compare_item(tab));
    }
    if (!in.notice.empty()) {
        items.push_back({.text = in.notice, .emphasis = true});
    }
    if (in.font_points != base_font_points) {
        items.push_back({.text = number(static_cast<std::uint64_t>(
                                     MulDiv(in.font_points, 100, base_font_points))) +
                                 L"%",
                         .command = status_command::zoom,
                         .right = true});
    }
    items.push_back(
        {.text = encoding_name(tab.encoding), .command = status_command::encoding, .right = true});
    items.push_back({.text = line_ending_name(tab.line_ending),
                     .command = status_command::line_ending,
                     .right = true});
    items.push_back(
        {.text = is_markdown_path(tab.path) ? L"Markdown" : L"Plain text", .right = true});
    return items;
}

std::wstring reading_time_text(std::uint64_t words) {
    if (words == 0) {
        return {};
    }
    const std::uint64_t minutes = std::max<std::uint64_t>((words + 199) / words_per_minute, 1);
    return number(minutes) + L" min read";
}

StatusStrip& status_strip() {
    return strip_object;
}

HWND create_status_strip(HWND main) {
    register_child_window_class(status_strip_class, strip_proc);
    strip_object.click = [main](unsigned int id) { PostMessageW(main, WM_COMMAND, id, 0); };
    chrome.status_strip =
        CreateWindowExW(WS_EX_CONTROLPARENT, status_strip_class, L"Document status",
                        WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, 0, 0, main,
                        nullptr, instance, &strip_object);
    return chrome.status_strip;
}

void layout_status_strip(StatusStrip& strip) {
    if (strip.window == nullptr) {
        return;
    }
    RECT client{};
    GetClientRect(strip.window, &client);
    const std::vector<int> widths = item_widths(strip);
    const int gap = scale_for_window(strip.window, edge_gap);
    const LONG top = std::min<LONG>(1, client.bottom);
    int x = client.right - gap;
    for (size_t i = strip.items.size(); i-- > 0;) {
        if (strip.items[i].right) {
            strip.items[i].rect = {std::max(x - widths[i], 0), top, x, client.bottom};
            x -= widths[i];
        }
    }
    const int right_group = std::max(x, 0);
    x = gap;
    for (size_t i = 0; i < strip.items.size(); ++i) {
        StatusItem& item = strip.items[i];
        if (item.right) {
            continue;
        }
        const int right = std::min(x + widths[i], right_group);
        item.rect = right > x ? RECT{x, top, right, client.bottom} : RECT{};
        x += widths[i];
    }
    place_item_buttons(strip);
}

void restyle_status_strip(bool dark, HFONT font) {
    StatusStrip& strip = strip_object;
    if (strip.dark == dark && strip.font == font) {
        return;
    }
    strip.dark = dark;
    strip.font = font;
    if (strip.window != nullptr) {
        layout_status_strip(strip);
        InvalidateRect(strip.window, nullptr, FALSE);
    }
}

const std::wstring& preview_header_note() {
    return reading_note;
}

void update_status() {
    if (!tabs.empty()) {
        const DocumentTab& tab = current_tab();
        std::vector<StatusItem> items = compose_status_items(tab, current_inputs(tab));
        if (strip_object.window != nullptr) {
            install_items(strip_object, std::move(items));
        }
    }
    update_command_state();
    refresh_reading_note();
    refresh_source_badge();
    update_title();
}

bool status_item_rect(unsigned id, RECT& rect) {
    const StatusStrip& strip = strip_object;
    if (strip.window == nullptr) {
        return false;
    }
    for (const StatusItem& item : strip.items) {
        if (item.command == id && item.rect.right > item.rect.left) {
            rect = item.rect;
            MapWindowPoints(strip.window, nullptr, reinterpret_cast<POINT*>(&rect), 2);
            return true;
        }
    }
    return false;
}

void enable_status_format_items(bool enabled) {
    if (strip_object.window == nullptr) {
        return;
    }
    for (unsigned id : {status_command::encoding, status_command::line_ending}) {
        HWND button = GetDlgItem(strip_object.window, static_cast<int>(id));
        if (button != nullptr && (IsWindowEnabled(button) != FALSE) != enabled) {
            EnableWindow(button, enabled);
        }
    }
}

} // namespace pellix
