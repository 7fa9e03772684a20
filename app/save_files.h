#pragma once

// Saving the active tab: Save, Save As, saving in another encoding or line ending, with the
// duplicate-name and changed-on-disk checks; the file is encoded and replaced atomically on a
// file-work thread, and only then does the tab take its new identity.

#include <filesystem>
#include <functional>

#include "core/encoding.h"

namespace pellix {

// The destination picker that replaces the Save As dialog: it gets the request (and may change
// its encoding and line ending) and returns the destination, empty for cancel.
using PathPicker = std::function<std::filesystem::path(Document& request)>;

// Writes the active tab. True when written (or there was nothing to write); false when the user
// declined or a failure was shown. `format` supplies the encoding and line ending and forces a
// write.
bool save_file(bool save_as, const Document* format, const PathPicker& pick);

// The status strip's pop-up of encodings (or line endings): a choice saves at once in it.
void show_save_format_menu(bool encoding);

} // namespace pellix
