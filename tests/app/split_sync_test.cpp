#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

#include "app/editor_hosting.h"
#include "app/split_sync.h"
#include "app/views.h"
#include "editor/source_interface.h"
#include "tests/app/message_pump.h"
#include "tests/app/panes_window.h"

namespace pellix {
namespace {

std::string long_document() {
    std::string text;
    for (int i = 0; i < 150; ++i) {
        text += "## Section " + std::to_string(i) + "\n\nSome words of section " +
                std::to_string(i) + ".\n\n";
    }
    return text;
}

// Paragraphs that wrap into more rows the narrower the preview.
std::string long_paragraphs() {
    std::string text;
    for (int i = 0; i < 80; ++i) {
        text += "Paragraph " + std::to_string(i) + ":";
        for (int word = 0; word < 60; ++word) {
            text += " words";
        }
        text += "\n\n";
    }
    return text;
}

bool close_to(double a, double b, double tolerance) {
    return std::fabs(a - b) < tolerance;
}

class SplitSync : public test::PanesWindow {
protected:
    void SetUp() override {
        test::PanesWindow::SetUp();
        open_path(file("long.md", long_document()));
        select_view(view_split);
        ASSERT_EQ(rendered_preview().tab_id, current_tab().id);
        ASSERT_NE(chrome.preview, nullptr);
    }
    void TearDown() override {
        split_sync_moves() = default_split_sync_moves();
        test::PanesWindow::TearDown();
    }
    static void page_down(HWND window) { SendMessageW(window, WM_VSCROLL, SB_PAGEDOWN, 0); }
    void command(WORD id) const { SendMessageW(window_, WM_COMMAND, MAKEWPARAM(id, 0), 0); }
    // The preview paged down `pages` times; the source line it then shows at its top.
    static double page_preview_down(int pages) {
        for (int i = 0; i < pages; ++i) {
            page_down(chrome.preview);
        }
        return preview_top_line();
    }
    static double editor_top() { return source_top_line(chrome.editor); }
};

TEST_F(SplitSync, TheEditorAndThePreviewFollowEachOther) {
    for (int i = 0; i < 3; ++i) {
        page_down(chrome.editor);
    }
    const double scrolled = editor_top();
    EXPECT_GT(scrolled, 20.0);
    EXPECT_TRUE(current_tab().source_leads);
    EXPECT_TRUE(test::pump_until([&] { return close_to(preview_top_line(), scrolled, 1.0); }))
        << preview_top_line() << " " << scrolled;
    EXPECT_EQ(editor_top(), scrolled);

    for (int i = 0; i < 3; ++i) {
        page_down(chrome.preview);
    }
    const double followed = preview_top_line();
    EXPECT_GT(followed, scrolled + 10.0);
    EXPECT_FALSE(current_tab().source_leads);
    EXPECT_TRUE(test::pump_until([&] { return close_to(editor_top(), followed, 0.01); }))
        << editor_top() << " " << followed;
    // The editor's move was not reported back to the preview.
    test::pump(50);
    EXPECT_EQ(preview_top_line(), followed);
    EXPECT_FALSE(split_sync_request.pending);
}

TEST_F(SplitSync, AKeyScrollWhileARefreshIsPendingIsFollowedByTheRefreshedPreview) {
    test::control_key(chrome.editor, VK_END);
    ASSERT_TRUE(test::pump_until([] { return preview_top_line() > 100.0; })) << preview_top_line();
    // An accepted completion changes the text; Ctrl+Home comes before any refresh.
    type(L"done");
    test::control_key(chrome.editor, VK_HOME);
    ASSERT_EQ(editor_top(), 0.0);
    const std::uint64_t renders = preview_render_count();
    ASSERT_TRUE(test::pump_until([&] { return preview_render_count() > renders; }));
    EXPECT_LT(preview_top_line(), 1.0);
}

TEST_F(SplitSync, AFailedStepDoesNotStopLaterOnes) {
    int failures = 0;
    split_sync_moves().editor_to_line = [&failures](HWND, double) {
        ++failures;
        throw std::runtime_error("Scrolling failed.");
    };
    page_down(chrome.preview);
    ASSERT_TRUE(test::pump_until([&] { return failures == 1 && !boxes_.empty(); }));
    EXPECT_EQ(boxes_.back(), L"Scrolling failed.");
    EXPECT_FALSE(split_syncing);

    split_sync_moves() = default_split_sync_moves();
    page_down(chrome.preview);
    const double followed = preview_top_line();
    EXPECT_TRUE(test::pump_until([&] { return close_to(editor_top(), followed, 0.01); }))
        << editor_top() << " " << followed;
}

// The reader scrolled the preview alone; back in Source, the editor shows where they were.
TEST_F(SplitSync, SourceViewOpensAtTheLineTheReaderScrolledThePreviewTo) {
    command(view_preview);
    const double read = page_preview_down(4);
    ASSERT_GT(read, 30.0);

    command(view_source);
    ASSERT_EQ(settings.view, view_source);
    EXPECT_NEAR(editor_top(), read, 0.01);
}

// Hiding the Source pane doubles the preview's width and halves its paragraphs' heights: the
// paragraph the reader was at stays at the top instead of one far below it.
TEST_F(SplitSync, HidingTheSourcePaneKeepsThePreviewsTopParagraph) {
    constexpr WORD hide_source = 319;
    open_path(file("paragraphs.md", long_paragraphs()));
    command(view_split);
    const double read = page_preview_down(6);
    ASSERT_GT(read, 20.0);

    command(hide_source);
    ASSERT_EQ(settings.view, view_preview);
    // Each paragraph is two source lines, its text and the blank line after it.
    EXPECT_NEAR(preview_top_line(), read, 2.0);
}

TEST_F(SplitSync, OutsideSplitViewAPreviewScrollOnlyMarksInputBusy) {
    select_view(view_preview);
    input_busy_until = 0;
    page_down(chrome.preview);
    EXPECT_TRUE(input_busy());
    EXPECT_FALSE(split_sync_request.pending);
}

} // namespace
} // namespace pellix
