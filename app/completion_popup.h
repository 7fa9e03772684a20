#pragma once

// The completion popup: on request, a short list at the caret of a Markdown editor offering
// snippets and words already used in the document that continue the token before the caret.
// It never takes the activation or the focus from the editor; the editor's subclass hands it
// Tab, Enter, Esc, Up and Down while it is shown. A chosen item replaces the token as one
// undoable change.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pellix {

inline constexpr wchar_t completion_class[] = L"Pellix.Completion";
inline constexpr std::size_t completion_item_limit = 8;

struct CompletionItem {
    std::u16string label;
    std::u16string insertion;

    bool operator==(const CompletionItem&) const = default;
};

struct Completion {
    HWND owner = nullptr; // the active tab's editor
    HWND popup = nullptr;
    HWND list = nullptr;
    std::uint64_t token_start = 0; // the range an accepted item replaces
    std::uint64_t caret = 0;
    std::vector<CompletionItem> items;
    std::function<std::u16string()> text; // the owner's whole text
    bool markdown = true;                 // the active tab's kind, as the layout last saw it
};

// Where the token before `caret` starts: back over everything but white space.
std::uint64_t completion_token_start(const std::u16string& text, std::uint64_t caret);

// The snippets whose label or insertion begins with `token`, in their order, then the words of
// `text` that continue it (ASCII case ignored) in order of first occurrence; at most 8, none
// for an empty token.
std::vector<CompletionItem> completion_candidates(const std::u16string& text,
                                                  const std::u16string& token);

// The main window's completion state.
Completion& completion();

// Registers "Pellix.Completion" and makes the hidden popup with its list, owned by `main`.
void create_completion_popup(HWND main);

// The layout's view of the active tab's kind; a change hides the popup.
void set_completion_markdown(bool markdown);

} // namespace pellix
