#include <windowsx.h>

#include <algorithm>
#include <cwctype>

#include "editor/source_find.h"
#include "editor/source_record.h"

namespace pellix {
namespace {

constexpr char16_t high_surrogate_first = 0xD800;
constexpr char16_t high_surrogate_last = 0xDBFF;
constexpr char16_t low_surrogate_first = 0xDC00;
constexpr std::uint32_t supplementary_first = 0x10000;
constexpr std::uint32_t code_point_end = 0x110000;
constexpr char16_t backspace_unit = 0x08;
constexpr char16_t delete_unit = 0x7F;
constexpr double half_line = 0.5;
// Word scans read the text in blocks of this many units rather than one unit at a time.
constexpr std::uint64_t reader_block = 1024;

bool is_high_surrogate(char16_t unit) {
    return unit >= high_surrogate_first && unit <= high_surrogate_last;
}

bool key_down(int key) {
    return GetKeyState(key) < 0;
}

// Units of the document by position, read a block at a time.
class UnitReader {
public:
    explicit UnitReader(const SourceDocument& document) : document_(document) {}

    char16_t at(std::uint64_t position) {
        if (position < start_ || position >= start_ + block_.size()) {
            start_ = position >= reader_block / 2 ? position - reader_block / 2 : 0;
            block_ = document_.text(start_, reader_block);
        }
        return block_[position - start_];
    }

private:
    const SourceDocument& document_;
    std::uint64_t start_ = 0;
    std::u16string block_;
};

std::uint64_t code_point_after(const SourceDocument& document, UnitReader& reader,
                               std::uint64_t position) {
    position = document.boundary_before(position);
    return position + (is_high_surrogate(reader.at(position)) ? 2 : 1);
}

std::uint64_t selection_min(const Source& source) {
    return std::min(source.document.selection[0], source.document.selection[1]);
}
std::uint64_t selection_max(const Source& source) {
    return std::max(source.document.selection[0], source.document.selection[1]);
}
bool has_selection(const Source& source) {
    return source.document.selection[0] != source.document.selection[1];
}

void insert_typed(Source& source, std::u16string text) {
    source.pending_high_surrogate = 0;
    replace_selection(source, text, true);
}

void delete_selection(Source& source) {
    if (!source.read_only) {
        replace_selection(source, {}, false);
    }
}

// --- keyboard

void control_letter(Source& source, WPARAM key, bool shift, bool& handled) {
    SourceDocument& document = source.document;
    handled = true;
    switch (key) {
    case 'A':
        set_selection(source, 0, document.length(), true);
        return;
    case 'C':
        copy_selection(source);
        return;
    case 'V':
        paste_clipboard(source);
        return;
    case 'X':
        copy_selection(source);
        delete_selection(source);
        return;
    case 'Y':
        if (!source.read_only && !document.redo_entries.empty()) {
            undo_redo(source, true);
        }
        return;
    case 'Z':
        if (source.read_only) {
            return;
        }
        if (shift ? !document.redo_entries.empty() : !document.undo_entries.empty()) {
            undo_redo(source, shift);
        }
        return;
    default:
        handled = false;
        return;
    }
}

void delete_key(Source& source, bool forward, bool control) {
    if (has_selection(source)) {
        delete_selection(source);
        return;
    }
    const std::uint64_t caret = source.document.selection[1];
    if (forward) {
        delete_range(source, caret,
                     control ? next_word_start(source, caret) : step_cluster(source, caret, true));
    } else {
        delete_range(source,
                     control ? previous_word_start(source, caret)
                             : step_cluster(source, caret, false),
                     caret);
    }
}

// The caret's target for a vertical key; keeps the goal column in `goal`.
std::uint64_t vertical_target(Source& source, WPARAM key, double& goal) {
    const D2D1_POINT_2F caret = caret_point(source, source.document.selection[1]);
    goal = source.goal_x >= 0.0 ? source.goal_x : caret.x + source.scroll_x;
    const double line = base_line_height(source);
    double step = line;
    if (key == VK_PRIOR || key == VK_NEXT) {
        step = std::max(view_height(source) - line, line);
    }
    if (key == VK_UP || key == VK_PRIOR) {
        step = -step;
    }
    return hit_test(source, goal - source.scroll_x, caret.y + step + line * half_line);
}

std::uint64_t line_end(const SourceDocument& document, std::uint64_t offset) {
    const std::uint64_t line = document.line_of(offset);
    return line + 1 < document.line_count() ? document.line_start(line + 1) - 1 : document.length();
}

void move_caret(Source& source, std::uint64_t anchor, std::uint64_t caret, double goal) {
    SourceDocument& document = source.document;
    document.selection = {document.boundary_before(anchor), document.boundary_before(caret)};
    document.typing_open = false;
    source.pending_high_surrogate = 0;
    scroll_caret_into_view(source);
    if (source.redraw) {
        invalidate_editor(source.window);
    }
    notify_parent(source, false);
    source.goal_x = goal;
}

void caret_key(Source& source, WPARAM key, bool shift, bool control) {
    const SourceDocument& document = source.document;
    const std::uint64_t caret = document.selection[1];
    std::uint64_t anchor = document.selection[0];
    std::uint64_t target = caret;
    double goal = -1.0;
    switch (key) {
    case VK_UP:
    case VK_DOWN:
    case VK_PRIOR:
    case VK_NEXT:
        target = vertical_target(source, key, goal);
        break;
    case VK_LEFT:
    case VK_RIGHT: {
        const bool forward = key == VK_RIGHT;
        if (control) {
            target = forward ? next_word_start(source, caret) : previous_word_start(source, caret);
        } else if (shift || !has_selection(source)) {
            target = step_cluster(source, caret, forward);
        } else {
            target = forward ? selection_max(source) : selection_min(source);
            anchor = target;
        }
        break;
    }
    case VK_HOME:
        target = control ? 0 : document.line_start(document.line_of(caret));
        break;
    case VK_END:
        target = control ? document.length() : line_end(document, caret);
        break;
    default:
        return;
    }
    move_caret(source, shift ? anchor : target, target, goal);
}

void key_down_message(Source& source, WPARAM key) {
    const bool shift = key_down(VK_SHIFT);
    const bool control = key_down(VK_CONTROL);
    stop_wheel_animation(source);
    if (control && key >= 'A' && key <= 'Z') {
        bool handled = false;
        control_letter(source, key, shift, handled);
        if (handled) {
            return;
        }
    }
    if (key == VK_DELETE || key == VK_BACK) {
        delete_key(source, key == VK_DELETE, control);
        return;
    }
    caret_key(source, key, shift, control);
}

// --- characters

void character(Source& source, char16_t unit) {
    if (source.read_only || unit == backspace_unit || unit == delete_unit) {
        return;
    }
    if (unit < u' ' && unit != u'\r' && unit != u'\t' && unit != u'\n') {
        return;
    }
    if (is_high_surrogate(unit)) {
        source.pending_high_surrogate = unit;
        return;
    }
    if (is_low_surrogate(unit)) {
        const char16_t high = source.pending_high_surrogate;
        source.pending_high_surrogate = 0;
        if (high != 0) {
            insert_typed(source, {high, unit});
        }
        return;
    }
    insert_typed(source, {unit == u'\r' ? u'\n' : unit});
}

void unicode_character(Source& source, WPARAM code_point) {
    if (code_point >= code_point_end || source.read_only) {
        return;
    }
    const auto value = static_cast<std::uint32_t>(code_point);
    if (value < supplementary_first) {
        replace_selection(source, {static_cast<char16_t>(value)}, true);
        return;
    }
    const std::uint32_t above = value - supplementary_first;
    replace_selection(source,
                      {static_cast<char16_t>(high_surrogate_first + (above >> 10)),
                       static_cast<char16_t>(low_surrogate_first + (above & 0x3FF))},
                      true);
}

// --- mouse

std::uint64_t hit_at(Source& source, LPARAM lparam) {
    const double scale = scale_of(source);
    return hit_test(source, GET_X_LPARAM(lparam) / scale, GET_Y_LPARAM(lparam) / scale);
}

void button_down(Source& source, LPARAM lparam) {
    SetFocus(source.window);
    stop_wheel_animation(source);
    const std::uint64_t hit = hit_at(source, lparam);
    const std::uint64_t anchor = key_down(VK_SHIFT) ? source.document.selection[0] : hit;
    source.drag_anchor = anchor;
    set_selection(source, anchor, hit, false);
    source.dragging = true;
    SetCapture(source.window);
    SetTimer(source.window, drag_timer, drag_timer_ms, nullptr);
}

void mouse_move(Source& source, LPARAM lparam) {
    update_marker_tooltip(source, GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
    if (source.dragging) {
        set_selection(source, source.drag_anchor, hit_at(source, lparam), false);
    }
}

void end_drag(Source& source) {
    source.dragging = false;
    KillTimer(source.window, drag_timer);
}

bool is_alphanumeric(char16_t unit) {
    return std::iswalnum(static_cast<wint_t>(unit)) != 0;
}

void double_click(Source& source, LPARAM lparam) {
    const SourceDocument& document = source.document;
    UnitReader reader(document);
    const std::uint64_t hit = hit_at(source, lparam);
    std::uint64_t start = hit;
    while (start > 0) {
        const std::uint64_t before = document.boundary_before(start - 1);
        if (!is_alphanumeric(reader.at(before))) {
            break;
        }
        start = before;
    }
    std::uint64_t end = hit;
    const std::uint64_t length = document.length();
    while (end < length && is_alphanumeric(reader.at(end))) {
        end = document.boundary_after(end);
    }
    set_selection(source, whole_character_edge(source, start, false),
                  whole_character_edge(source, end, true), true);
}

} // namespace

std::uint64_t next_word_start(Source& source, std::uint64_t offset) {
    const SourceDocument& document = source.document;
    UnitReader reader(document);
    const std::uint64_t length = document.length();
    std::uint64_t position = std::min(offset, length);
    while (position < length && is_find_word_unit(reader.at(position))) {
        position = code_point_after(document, reader, position);
    }
    while (position < length && !is_find_word_unit(reader.at(position))) {
        position = code_point_after(document, reader, position);
    }
    // A word that starts inside a character starts with that character, unless the caret
    // stands there already.
    const std::uint64_t start = whole_character_edge(source, position, false);
    return start > offset ? start : whole_character_edge(source, position, true);
}

std::uint64_t previous_word_start(Source& source, std::uint64_t offset) {
    const SourceDocument& document = source.document;
    UnitReader reader(document);
    std::uint64_t position = std::min(offset, document.length());
    auto previous = [&] { return document.boundary_before(position - 1); };
    while (position > 0 && !is_find_word_unit(reader.at(previous()))) {
        position = previous();
    }
    while (position > 0 && is_find_word_unit(reader.at(previous()))) {
        position = previous();
    }
    return whole_character_edge(source, position, false);
}

bool answer_input_message(Source& source, UINT message, WPARAM wparam, LPARAM lparam,
                          LRESULT& result) {
    result = 0;
    switch (message) {
    case WM_KEYDOWN:
        key_down_message(source, wparam);
        return true;
    case WM_CHAR:
        character(source, static_cast<char16_t>(wparam));
        return true;
    case WM_UNICHAR:
        if (wparam == UNICODE_NOCHAR) {
            result = TRUE;
        } else {
            unicode_character(source, wparam);
        }
        return true;
    case WM_IME_STARTCOMPOSITION:
        start_composition(source);
        return true;
    case WM_IME_COMPOSITION:
        update_composition(source, lparam);
        return true;
    case WM_IME_ENDCOMPOSITION:
        end_composition(source);
        return true;
    case WM_LBUTTONDOWN:
        button_down(source, lparam);
        return true;
    case WM_MOUSEMOVE:
        mouse_move(source, lparam);
        return true;
    case WM_LBUTTONUP:
        if (source.dragging) {
            end_drag(source);
            ReleaseCapture();
        }
        return true;
    case WM_CAPTURECHANGED:
        end_drag(source);
        return true;
    case WM_LBUTTONDBLCLK:
        double_click(source, lparam);
        return true;
    case WM_MOUSELEAVE:
        update_marker_tooltip(source, no_marker_point, no_marker_point);
        return true;
    case WM_CUT:
        copy_selection(source);
        delete_selection(source);
        return true;
    case WM_COPY:
        copy_selection(source);
        return true;
    case WM_PASTE:
    case EM_PASTESPECIAL:
        paste_clipboard(source);
        return true;
    default:
        return false;
    }
}

} // namespace pellix
