#include <utility>

#include "editor/input_method_calls.h"
#include "editor/source_record.h"

namespace pellix {
namespace {

constexpr DWORD composition_byte_limit = 0x1000000;

InputMethodCalls& installed_calls() {
    static InputMethodCalls calls;
    return calls;
}

HIMC get_context(HWND window) {
    const InputMethodCalls& calls = installed_calls();
    return calls.get_context ? calls.get_context(window) : ImmGetContext(window);
}

LONG read_composition(HIMC context, DWORD index, void* buffer, DWORD bytes) {
    const InputMethodCalls& calls = installed_calls();
    return calls.get_composition_string
               ? calls.get_composition_string(context, index, buffer, bytes)
               : ImmGetCompositionStringW(context, index, buffer, bytes);
}

// A count the input method cannot mean (an error code, zero, an odd count, more than any
// composition holds) or one that changes between the two calls gives no text rather than a huge
// allocation or a cut-short string.
std::wstring composition_string(HIMC context, DWORD index) {
    const LONG bytes = read_composition(context, index, nullptr, 0);
    const auto count = static_cast<DWORD>(bytes);
    if (count - 1 > composition_byte_limit || count % sizeof(wchar_t) != 0) {
        return {};
    }
    std::wstring text(count / sizeof(wchar_t), L'\0');
    if (read_composition(context, index, text.data(), count) != bytes) {
        return {};
    }
    return text;
}

// Holds the window's input context and releases it on every way out, a failure included.
class InputContext {
public:
    explicit InputContext(HWND window) : window_(window), context_(get_context(window)) {}
    ~InputContext() { release(); }
    InputContext(const InputContext&) = delete;
    InputContext& operator=(const InputContext&) = delete;

    HIMC get() const { return context_; }
    void release() {
        if (!context_) {
            return;
        }
        const InputMethodCalls& calls = installed_calls();
        if (calls.release_context) {
            calls.release_context(window_, context_);
        } else {
            ImmReleaseContext(window_, context_);
        }
        context_ = nullptr;
    }

private:
    HWND window_;
    HIMC context_;
};

void set_composition(Source& source, std::wstring text) {
    source.composing = !text.empty();
    source.composition = std::move(text);
}

} // namespace

ScopedInputMethodCalls::ScopedInputMethodCalls(InputMethodCalls calls)
    : previous_(std::exchange(installed_calls(), std::move(calls))) {}

ScopedInputMethodCalls::~ScopedInputMethodCalls() {
    installed_calls() = std::move(previous_);
}

void start_composition(Source& source) {
    if (source.read_only) {
        return;
    }
    source.composing = true;
    source.composition.clear();
    place_caret(source);
}

void update_composition(Source& source, LPARAM flags) {
    if (source.read_only) {
        return;
    }
    InputContext context(source.window);
    if (!context.get()) {
        return;
    }
    if ((flags & GCS_RESULTSTR) != 0) {
        const std::wstring result = composition_string(context.get(), GCS_RESULTSTR);
        std::wstring composing;
        if ((flags & GCS_COMPSTR) != 0) {
            composing = composition_string(context.get(), GCS_COMPSTR);
        }
        context.release();
        set_composition(source, {});
        if (!result.empty() && !source.read_only) {
            replace_selection(source, std::u16string(result.begin(), result.end()), false);
        }
        if ((flags & GCS_COMPSTR) != 0) {
            set_composition(source, std::move(composing));
        }
    } else if ((flags & GCS_COMPSTR) != 0) {
        std::wstring composing = composition_string(context.get(), GCS_COMPSTR);
        context.release();
        set_composition(source, std::move(composing));
    } else {
        context.release();
        if (flags == 0) {
            set_composition(source, {});
        }
    }
    place_caret(source);
    if (source.redraw) {
        invalidate_editor(source.window);
    }
}

void end_composition(Source& source) {
    set_composition(source, {});
    if (source.redraw) {
        invalidate_editor(source.window);
    }
}

} // namespace pellix
