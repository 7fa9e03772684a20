#include <algorithm>
#include <cstring>

#include "core/encoding.h"
#include "core/limits.h"
#include "editor/source_record.h"

namespace pellix {
namespace {

// Any clipboard text longer than this stays above the document limit however many CR LF pairs
// normalisation folds, so reading further could only confirm the refusal.
constexpr std::uint64_t paste_read_limit = 2 * document_limit + 2;

// Holds the clipboard open for one copy or paste.
class OpenClipboardScope {
public:
    explicit OpenClipboardScope(HWND owner) : open_(OpenClipboard(owner) != FALSE) {}
    ~OpenClipboardScope() {
        if (open_) {
            CloseClipboard();
        }
    }
    OpenClipboardScope(const OpenClipboardScope&) = delete;
    OpenClipboardScope& operator=(const OpenClipboardScope&) = delete;
    bool open() const { return open_; }

private:
    bool open_;
};

std::u16string with_crlf(const std::u16string& text) {
    std::u16string out;
    out.reserve(text.size() +
                static_cast<std::size_t>(std::count(text.begin(), text.end(), u'\n')));
    for (char16_t unit : text) {
        if (unit == u'\n') {
            out += u'\r';
        }
        out += unit;
    }
    return out;
}

// The clipboard's text up to its first NUL, or nothing.
std::u16string clipboard_text() {
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (!data) {
        return {};
    }
    const SIZE_T bytes = GlobalSize(data);
    const auto* units = static_cast<const char16_t*>(GlobalLock(data));
    if (!units || bytes == 0) {
        if (units) {
            GlobalUnlock(data);
        }
        return {};
    }
    const std::uint64_t available =
        std::min<std::uint64_t>(bytes / sizeof(char16_t), paste_read_limit);
    const char16_t* end = std::find(units, units + available, u'\0');
    std::u16string text(units, end);
    GlobalUnlock(data);
    return text;
}

} // namespace

void copy_selection(Source& source) {
    const SourceDocument& document = source.document;
    const std::uint64_t from = std::min(document.selection[0], document.selection[1]);
    const std::uint64_t to = std::max(document.selection[0], document.selection[1]);
    const std::u16string text = with_crlf(document.text(from, to - from));
    OpenClipboardScope clipboard(source.window);
    if (!clipboard.open()) {
        return;
    }
    const SIZE_T bytes = (text.size() + 1) * sizeof(char16_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!memory) {
        return;
    }
    void* locked = GlobalLock(memory);
    if (!locked) {
        GlobalFree(memory);
        return;
    }
    std::memcpy(locked, text.c_str(), bytes);
    GlobalUnlock(memory);
    if (!EmptyClipboard() || !SetClipboardData(CF_UNICODETEXT, memory)) {
        GlobalFree(memory);
    }
}

void paste_clipboard(Source& source) {
    if (source.read_only) {
        return;
    }
    std::u16string text;
    {
        OpenClipboardScope clipboard(source.window);
        if (!clipboard.open()) {
            return;
        }
        text = clipboard_text();
    }
    // The limit applies to the text as it will stand in the document, so line breaks are folded
    // first; a text still over the limit is refused whole by the document ("Source exceeds the
    // 8 MiB character limit."), never cut to what fits.
    if (!text.empty() && !source.read_only) {
        replace_selection(source, normalize_line_endings(text), false);
    }
}

} // namespace pellix
