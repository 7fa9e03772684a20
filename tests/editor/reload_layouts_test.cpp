#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "editor/source_interface.h"
#include "editor/source_record.h"
#include "tests/editor/editor_window.h"

namespace pellix {
namespace {

std::u16string lines_of(int first, int count) {
    std::u16string text;
    for (int i = first; i < first + count; ++i) {
        const std::string digits = std::to_string(i);
        text += u"line " + std::u16string(digits.begin(), digits.end()) + u"\n";
    }
    return text;
}

IDWriteTextLayout* layout_of(const Source& source, std::uint64_t line) {
    const auto cached = source.line_cache.find(line);
    return cached == source.line_cache.end() || cached->second.pieces.empty()
               ? nullptr
               : cached->second.pieces.front().layout.get();
}

DocumentPlacement reload_placement(std::uint64_t first, std::uint64_t old_end,
                                   std::uint64_t new_end) {
    DocumentPlacement placement;
    placement.keep_view = true;
    placement.changed_lines_known = true;
    placement.changed_first = first;
    placement.changed_old_end = old_end;
    placement.changed_new_end = new_end;
    return placement;
}

// A file read again keeps the layouts of the lines around the stretch that changed, moved to
// their new line numbers; a stretch that does not fit the two texts lays everything out again.
TEST(ReloadLayouts, LinesOutsideTheChangedStretchKeepTheirLayouts) {
    test::EditorWindow window(600, 300);
    const std::u16string before = lines_of(0, 40);
    window.set_text(std::wstring(before.begin(), before.end()));
    ASSERT_TRUE(window.paint_fully());
    Source& source = window.record();
    // A layout left idle is let go after a while, and a loaded machine may have let that while
    // pass since the paint: the line is laid out anew (outside a paint, at once) and then read.
    auto laid_out = [&](WPARAM line) {
        window.position_of(static_cast<std::uint64_t>(window.send(EM_LINEINDEX, line)) + 2);
        return layout_of(source, line);
    };
    IDWriteTextLayout* const first_line = laid_out(0);
    IDWriteTextLayout* const fifth_line = laid_out(5);
    ASSERT_NE(first_line, nullptr);
    ASSERT_NE(fifth_line, nullptr);

    // Two lines inserted before line 2.
    SourceDocument reread;
    reread.assign(lines_of(0, 2) + u"new a\nnew b\n" + lines_of(2, 38));
    replace_editor_document(window.editor, std::move(reread), reload_placement(2, 2, 4));
    EXPECT_EQ(layout_of(source, 0), first_line);
    EXPECT_EQ(layout_of(source, 7), fifth_line);
    EXPECT_EQ(layout_of(source, 2), nullptr);
    EXPECT_EQ(source.heights.size(), 43u);
    EXPECT_TRUE(source.metrics_valid);
    ASSERT_TRUE(window.paint_fully());
    auto top_of_line = [&](WPARAM line) {
        return window.position_of(static_cast<std::uint64_t>(window.send(EM_LINEINDEX, line))).y;
    };
    const int seventh = top_of_line(7);

    // The same text laid out from scratch stands in the same place.
    SourceDocument again;
    again.assign(source.document.text());
    replace_editor_document(window.editor, std::move(again), reload_placement(0, 0, 0));
    ASSERT_TRUE(window.paint_fully());
    EXPECT_EQ(top_of_line(7), seventh);

    // Line counts that do not add up: nothing is kept. The reference keeps the old layout's
    // address from being handed out again.
    IDWriteTextLayout* const kept = laid_out(9);
    ASSERT_NE(kept, nullptr);
    kept->AddRef();
    SourceDocument other;
    other.assign(lines_of(0, 10));
    replace_editor_document(window.editor, std::move(other), reload_placement(2, 3, 3));
    EXPECT_NE(layout_of(source, 9), kept);
    kept->Release();

    // Lines removed at the very end of a text without a last line feed: the line data holds
    // one entry per line left.
    SourceDocument four;
    four.assign(u"a\nb\nc\nd");
    replace_editor_document(window.editor, std::move(four), reload_placement(0, 0, 0));
    SourceDocument two;
    two.assign(u"a\nb");
    replace_editor_document(window.editor, std::move(two), reload_placement(2, 4, 2));
    EXPECT_EQ(source.heights.size(), 2u);
    EXPECT_EQ(source.fence_states.size(), 2u);
}

} // namespace
} // namespace pellix
