#pragma once

// The input-method calls of the editor's composition handling. Under Wine a window without a real
// input method reads no composition strings, so tests replace these to feed the strings an input
// method would deliver. Production code never sets them; an empty function means the real call.

#include <windows.h>
#include <imm.h>

#include <functional>
#include <string>

namespace pellix {

struct InputMethodCalls {
    // As ImmGetContext.
    std::function<HIMC(HWND window)> get_context;
    // As ImmGetCompositionStringW: the byte count of GCS_RESULTSTR or GCS_COMPSTR when `buffer` is
    // null, else the bytes copied into it.
    std::function<LONG(HIMC context, DWORD index, void* buffer, DWORD bytes)>
        get_composition_string;
    // As ImmReleaseContext.
    std::function<void(HWND window, HIMC context)> release_context;
};

// Installs substitute calls for the lifetime of the object (tests only; not thread-safe).
class ScopedInputMethodCalls {
public:
    explicit ScopedInputMethodCalls(InputMethodCalls calls);
    ~ScopedInputMethodCalls();
    ScopedInputMethodCalls(const ScopedInputMethodCalls&) = delete;
    ScopedInputMethodCalls& operator=(const ScopedInputMethodCalls&) = delete;

private:
    InputMethodCalls previous_;
};

} // namespace pellix
