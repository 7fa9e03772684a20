#include "tracking/compare_baseline.h"

#include "core/encoding.h"
#include "core/source_document.h"

#include <stdexcept>

namespace pellix {

CompareBaseline make_compare_baseline(const std::u16string& text) {
    if (text.size() > document_limit) {
        throw std::runtime_error("Compare baseline exceeds the editor limit.");
    }
    // Only the validation is wanted: an unpaired surrogate fails with the converter's sentence.
    utf16_to_utf8(text);
    return CompareBaseline{normalize_line_endings(text)};
}

} // namespace pellix
