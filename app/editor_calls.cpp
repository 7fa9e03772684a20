#include "app/editor_calls.h"

#include <stdexcept>
#include <utility>

#include "editor/source_record.h"

namespace pellix {

namespace {

Source& record_of(HWND editor) {
    Source* source = editor != nullptr ? source_record(editor) : nullptr;
    if (source == nullptr) {
        throw std::runtime_error("Source control is unavailable.");
    }
    return *source;
}

void relayout(Source& source) {
    clear_line_layouts(source);
    if (IsWindowVisible(source.window)) {
        invalidate_editor(source.window);
    }
}

} // namespace

std::u16string editor_text(HWND editor) {
    return source_wide_text(record_of(editor).document);
}

void install_editor_document(HWND editor, SourceDocument document) {
    Source& source = record_of(editor);
    document.selection = {0, 0};
    source.document = std::move(document);
    forget_text_layouts(source);
    scroll_source_to(source, 0.0, 0.0, true);
    notify_parent(source, true);
}

void set_editor_markdown(HWND editor, bool markdown) {
    Source* source = editor != nullptr ? source_record(editor) : nullptr;
    if (source == nullptr || source->markdown_colouring == markdown) {
        return;
    }
    source->markdown_colouring = markdown;
    relayout(*source);
}

void set_editor_colouring(HWND editor, unsigned mode) {
    Source* source = editor != nullptr ? source_record(editor) : nullptr;
    const int wanted = mode >= 3 ? 0 : static_cast<int>(mode);
    if (source == nullptr || source->colouring_mode == wanted) {
        return;
    }
    source->colouring_mode = wanted;
    relayout(*source);
}

void style_editor(HWND, int, bool, bool) {}

void highlight_editor(HWND, unsigned long) {}

} // namespace pellix
