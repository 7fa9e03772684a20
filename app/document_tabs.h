#pragma once

// The list of open documents: creating a tab (at most 128), making one active, closing one,
// finding a tab by its file, and the window title.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "app/main_window_state.h"

namespace pellix {

inline constexpr std::size_t tab_limit = 128;
inline constexpr char tab_limit_message[] = "Close a tab before opening more than 128 documents.";

// The tab's text as last taken from its editor, taken again first when it is stale.
const std::u16string& tab_text(DocumentTab& tab);
// Brings the tab's text and the word count of the current tab up to what its editor holds.
void refresh_word_count(DocumentTab& tab);
// Gives the tab `text`, which its editor holds at this moment, as its current text.
void take_editor_text(DocumentTab& tab, std::u16string text);

// Creates a tab for `path` (empty for untitled) with its own editor, appends it and makes it
// active. Throws std::runtime_error at the limit or when the editor cannot be made.
void add_tab(const std::filesystem::path& path);

// Creates a tab for `path` as `add_tab` does and appends it without making it active: its editor
// stays hidden until the tab is selected. For building many tabs at once, each without the
// cost of being shown; the caller selects a tab once they are built.
DocumentTab& add_background_tab(const std::filesystem::path& path);

// Command New: an untitled tab.
void new_tab();

// Makes the tab at `index` active (an index past the end does nothing); with `check_disk` the
// tab is then checked against its file.
void select_tab(std::uint64_t index, bool check_disk);

// While a tab switch waits to show the editor it enters, the place that editor takes (in the
// main window's client area), which the main window's erase must leave alone: what shows there
// is the old tab's picture until the entered editor presents its own. Empty otherwise.
RECT place_kept_through_switch();

// Closes the active tab; without `confirm` a modified tab asks first. The last tab is replaced
// by a fresh untitled one.
void close_current_tab(const std::function<bool()>& confirm);
// Closes the tab at `index` and returns to the tab that was active before, when it remains.
void close_tab_at(std::uint64_t index, const std::function<bool()>& confirm);

// The tab with identifier `id`; null when it is gone.
DocumentTab* find_tab_by_id(std::uint64_t id);

// The index of a tab other than `except` that holds the file `path`, or `no_tab`.
std::uint64_t find_tab_by_path(const std::filesystem::path& path, std::uint64_t except);

// The same file: equal normalised spellings ignoring case, or the same file on disk.
bool same_path(const std::filesystem::path& a, const std::filesystem::path& b);

// `same_path` against `path` for many paths in turn: the file `path` names is opened once, when
// the first path spelt otherwise comes.
std::function<bool(const std::filesystem::path&)> same_path_test(const std::filesystem::path& path);

// While one lives, a file's identity on disk is looked up once and then remembered, so that
// opening many files does not open every tab's file again for each of them.
class IdentityBatch {
public:
    IdentityBatch();
    ~IdentityBatch();
    IdentityBatch(const IdentityBatch&) = delete;
    IdentityBatch& operator=(const IdentityBatch&) = delete;

private:
    bool outermost;
};

// The tab's name: its file name, or "Untitled " and its identifier.
std::wstring tab_name(const DocumentTab& tab);

// The main window's title ("notes.md * - Pellix") and the tab strip.
void update_title();

// UTF-8 to UTF-16 through the strict decoder.
std::wstring to_wide(const std::string& utf8);

// Stamps the active tab with its file's write time and size, as they are now, and clears its
// changed-on-disk mark.
void refresh_disk_stamp();
// The same for any tab.
void refresh_disk_stamp_of(DocumentTab& tab);

// Makes the first tab of a new main window around its first editor (replacing any list a
// previous window left behind).
void start_tab_list(HWND editor);

} // namespace pellix
