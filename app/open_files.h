#pragma once

// Every road that opens a file ends here: the file is read whole and decoded on file-work
// threads (offering a single-byte encoding for bytes that are not valid Unicode) and put into
// the single empty untitled tab or a new one. `open_path` itself is declared in
// app/hosted_units.h, where the other units reach it.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "app/main_window_state.h"
#include "core/encoding.h"
#include "core/source_document.h"
#include "editor/source_interface.h"

namespace pellix {

// Detected decoding, then the user's choice of single-byte encoding when the bytes are not
// valid Unicode and hold no NUL; the choice names the file at `path`. Empty when the user
// declined; throws on other failures.
std::optional<Document> decode_open_file(const std::filesystem::path& path,
                                         const std::string& bytes);

// Replaces the active editor's whole document with `text` as an unmodified document, placed as
// `placement` says (a new document at the top, or the same file read again in the view kept).
void set_editor(const std::u16string& text, const DocumentPlacement& placement = {});

// Replaces the whole document of `tab`'s editor, shown or not, with `document` (built off the
// UI thread) as an unmodified document without undo history, coloured as Markdown or not, placed
// as `placement` says.
void install_editor_document(DocumentTab& tab, SourceDocument document, bool markdown,
                             const DocumentPlacement& placement = {});

// The view a file opens in: the current one, unless the recent files remember its own.
int view_for(const std::filesystem::path& path);

// Puts a file read and decoded by the caller into `tab`, shown or not, as `open_path` does: its
// text as an unmodified document and its identity and disk state; `view` is the tab's view from
// when it is next entered.
void fill_tab_with_file(DocumentTab& tab, const std::filesystem::path& path, std::string bytes,
                        Document document, int view);

// A tab made for an open or a restore that failed goes again. A tab built behind the shown one
// goes without a switch; when it was the active tab, the tab `previous_id` comes back.
void remove_failed_tab(std::uint64_t id, std::uint64_t previous_id);

// What `open_behind` came to: the identifier of the tab that holds the file (`no_tab` when it
// was not opened: its failure shown, or the encoding choice declined), whether that tab was
// open already, the view it opens in, and whether the tab limit refused it before anything was
// read (nothing shown).
struct OpenedBehind {
    std::uint64_t tab = no_tab;
    bool already_open = false;
    int view = 0;
    bool refused = false;
};

// Opens a file as `open_path` does, but into a new tab built behind the shown one, which stays
// as it is; only the single empty untitled tab, shown, takes the file in place and shows it
// whole at once. A tab that holds the file already is named, not selected. For many files at
// once; the caller selects a tab when they are built. `known` as for `open_path`.
OpenedBehind open_behind(const std::filesystem::path& path,
                         std::optional<Encoding> known = std::nullopt);

// Command Open: the multi-selection Open dialog.
void open_files_dialog();

} // namespace pellix
