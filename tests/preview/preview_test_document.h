#pragma once

#include <windows.h>
#include <dwrite.h>

#include <string>

#include "markdown/preview_document.h"
#include "platform/com_ptr.h"

namespace pellix::test {

// Builds preview documents block by block the way the markup reader does: each block's text,
// then its separator (TAB between cells of a row, LF otherwise).
class DocumentBuilder {
public:
    PreviewBlock& block(PreviewBlockKind kind, const std::u16string& text, int level = 0,
                        std::uint64_t marker_length = 0) {
        PreviewBlock b;
        b.start = document.text.size();
        b.length = text.size();
        b.marker_length = marker_length;
        b.kind = kind;
        b.level = level;
        document.text += text;
        document.text += u'\n';
        if (kind == PreviewBlockKind::heading) {
            document.headings.push_back(document.blocks.size());
        }
        document.blocks.push_back(b);
        return document.blocks.back();
    }

    // One table row of `cells`, all with the same table number and header flag.
    void row(std::uint64_t table, std::uint64_t row, std::initializer_list<std::u16string> cells,
             bool header, std::uint32_t align = 0) {
        std::uint64_t column = 0;
        for (const std::u16string& text : cells) {
            PreviewBlock b;
            b.start = document.text.size();
            b.length = text.size();
            b.kind = PreviewBlockKind::table_cell;
            b.table = table;
            b.row = row;
            b.column = column;
            b.columns = cells.size();
            b.align = align;
            b.header = header ? 1 : 0;
            document.text += text;
            document.text += column + 1 < cells.size() ? u'\t' : u'\n';
            if (header && !text.empty()) {
                run(b.start, text.size(), PreviewStyle::bold);
            }
            document.blocks.push_back(b);
            ++column;
        }
    }

    void run(std::uint64_t start, std::uint64_t length, std::uint32_t style,
             const std::string& link = {}) {
        document.runs.push_back({start, length, style, link});
    }

    PreviewDocument document;
};

inline ComPtr<IDWriteFactory> make_dwrite_factory() {
    ComPtr<IDWriteFactory> factory;
    DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                        reinterpret_cast<IUnknown**>(factory.put()));
    return factory;
}

} // namespace pellix::test
