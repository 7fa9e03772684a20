#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/settings.h"
#include "core/encoding.h"
#include "editor/source_record.h"
#include "preview/preview_window.h"
#include "tests/app/open_tabs_window.h"
#include "tests/editor_frame.h"

namespace pellix {
namespace {

constexpr WORD zoom_in_command = 306;

std::string lines_of(const std::string& word, int count) {
    std::string text = "# " + word + "\n\n";
    for (int i = 0; i < count; ++i) {
        text += word + " line " + std::to_string(i) + " with **bold** and `code`\n";
    }
    return text;
}

// Each change drives the real main window by its messages and looks at the screen the moment
// the message returns, before anything else is served: what the change left waiting to be
// drawn is what the user sees meanwhile.
class FramesDrawnTogether : public test::OpenTabsWindow {
protected:
    FramesDrawnTogether() : OpenTabsWindow("frames-drawn-together") {}

    void SetUp() override {
        OpenTabsWindow::SetUp();
        show_on_screen();
    }

    static void draw_now() {
        RedrawWindow(main_window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    }

    // The frame the active editor shows is the whole of its present state: drawing everything
    // again gives the same pixels.
    static ::testing::AssertionResult editor_frame_is_current() {
        HWND editor = chrome.editor;
        const test::FramePixels shown(editor);
        if (!shown.copied()) {
            return ::testing::AssertionFailure() << "the editor shows no frame of its own yet";
        }
        InvalidateRect(editor, nullptr, FALSE);
        UpdateWindow(editor);
        const test::FramePixels redrawn(editor);
        const int differing = test::differing_pixels(editor, shown, redrawn);
        if (differing != 0) {
            return ::testing::AssertionFailure()
                   << differing << " pixels of the editor's frame differ from its redraw";
        }
        return ::testing::AssertionSuccess();
    }
};

TEST_F(FramesDrawnTogether, RefreshFromDiskShowsTheNewTextInTheEditorWithTheRest) {
    const auto notes = file("notes.md", lines_of("old", 40));
    open_path(notes);
    open_path(file("other.md", lines_of("other", 3)));
    select_view(view_split);
    draw_now();
    test::write_bytes(notes, lines_of("fresh", 12));
    // The real box serves the paints of the windows behind it while it stands: the tab shows
    // its old text when the user answers.
    install_message_box([](const MessageBoxRequest&) {
        test::pump_until([] { return test::FramePixels(chrome.editor).copied(); });
        return IDYES;
    });
    choose_in_strip(0);
    ASSERT_EQ(tab_text(current_tab()), utf8_to_utf16(lines_of("fresh", 12)));
    EXPECT_TRUE(editor_frame_is_current());
    RECT waiting{};
    EXPECT_FALSE(GetUpdateRect(preview().window, &waiting, FALSE));
}

TEST_F(FramesDrawnTogether, ALongLineTabIsDrawnWholeAndThePreviewShowsNoOtherPage) {
    open_path(file("small.md", lines_of("small", 30)));
    std::string line;
    for (int i = 0; line.size() < 10000; ++i) {
        line += "word" + std::to_string(i % 97) + " ";
    }
    open_path(file("long.md", "# Long\n" + line + "\n"));
    select_view(view_split);
    choose_in_strip(0);
    draw_now();

    choose_in_strip(1);
    const test::EditorFrame frame = test::read_editor_frame(chrome.editor);
    EXPECT_TRUE(frame.copied);
    EXPECT_GT(frame.rows_read, 20);
    EXPECT_TRUE(frame.blank_rows.empty()) << frame.blank_rows.size() << " blank rows";
    EXPECT_TRUE(frame.lines_without_number.empty());
    EXPECT_TRUE(editor_frame_is_current());
    EXPECT_EQ(preview().view_key, current_tab().id);
    EXPECT_FALSE(preview().page_hidden);
    RECT waiting{};
    EXPECT_FALSE(GetUpdateRect(preview().window, &waiting, FALSE));
}

// A user going round the tabs used last (Ctrl+Tab) reads each for a while before the next,
// longer than a hidden editor used to wait before it let go of its drawing; meanwhile the
// program serves whatever the switch left for later.
constexpr DWORD reading_ms = release_timer_ms + 200;

// Right after each switch in a round of the three tabs used last, the editor shown shows the
// frame it kept, the text as a full redraw draws it: a target made anew shows nothing until its
// first frame reaches the screen, which under Wine can take a tenth of a second and more.
TEST_F(FramesDrawnTogether, TheFirstFrameAfterEachSwitchRoundThreeTabsIsTheKeptText) {
    for (const char* name : {"first", "second", "third"}) {
        std::string text = lines_of(name, 40);
        // Every row of the view holds text.
        text.erase(text.find("\n\n"), 1);
        open_path(file(std::string(name) + ".md", text));
    }
    for (const int view : {view_source, view_split}) {
        select_view(view);
        draw_now();
        for (const int index : {0, 1, 2}) {
            SCOPED_TRACE(testing::Message() << "view " << view << ", to tab " << index);
            // Held, so that a target made later cannot take its address.
            const ComPtr<ID2D1HwndRenderTarget> kept = source_record(tabs[index]->editor)->target;
            test::pump(reading_ms);
            choose_in_strip(index);
            EXPECT_EQ(source_record(chrome.editor)->target.get(), kept.get());
            const test::EditorFrame frame = test::read_editor_frame(chrome.editor);
            EXPECT_TRUE(frame.copied);
            EXPECT_GT(frame.rows_read, 20);
            EXPECT_TRUE(frame.blank_rows.empty()) << frame.blank_rows.size() << " blank rows";
            EXPECT_TRUE(editor_frame_is_current());
        }
    }
}

TEST_F(FramesDrawnTogether, ZoomDrawsTheEditorAtTheNewSizeWithTheStatusFigure) {
    open_path(file("notes.md", lines_of("zoom", 40)));
    SetFocus(chrome.editor);
    draw_now();
    const int points = settings.font_size;
    SendMessageW(window_, WM_COMMAND, MAKEWPARAM(zoom_in_command, 0), 0);
    const Source& source = *source_record(chrome.editor);
    ASSERT_EQ(source.font_points, points + 1);
    EXPECT_FALSE(source.caret_waits_for_frame);
    EXPECT_TRUE(editor_frame_is_current());
    RECT waiting{};
    EXPECT_FALSE(GetUpdateRect(chrome.status_strip, &waiting, FALSE));
}

} // namespace
} // namespace pellix
