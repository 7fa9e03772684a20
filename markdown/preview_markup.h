#pragma once

#include <string>

#include "markdown/preview_document.h"

namespace pellix {

// Reads back a page made by this program's Markdown or plain-text renderer into
// a preview document. Only the markup those renderers write is accepted; any
// other input throws std::runtime_error with a fixed sentence and no partial
// document is returned. Keeps no state, so any thread may call it.
PreviewDocument read_preview_markup(const std::string& markup);

} // namespace pellix
