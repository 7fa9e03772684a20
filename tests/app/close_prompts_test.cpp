#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/close_prompts.h"
#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "core/file_io.h"
#include "core/limits.h"
#include "tests/app/open_tabs_window.h"

namespace pellix {
namespace {

class ClosePrompts : public test::OpenTabsWindow {
protected:
    ClosePrompts() : OpenTabsWindow("close-prompts") {}

    // Opens `name` and types into it, so that it is modified.
    std::filesystem::path open_modified(const std::string& name) {
        const auto path = file(name, "saved\n");
        open_path(path);
        type(L"edit ");
        return path;
    }
};

TEST_F(ClosePrompts, ClosingTheWindowAsksEachModifiedTabInOrderAndCancelKeepsEverything) {
    open_modified("a.md");
    const auto b = file("b.md", "b\n");
    open_path(b);
    new_tab();
    type(L"draft");
    const std::uint64_t untitled_id = current_tab().id;
    select_tab(1, false);

    // A task dialog that cannot be shown counts as cancel, with a word to the user.
    task_answers_ = {0};
    SendMessageW(window_, WM_CLOSE, 0, 0);
    ASSERT_TRUE(IsWindow(window_));
    EXPECT_EQ(last_box(), L"Could not open the unsaved-changes prompt. The tabs remain open.");
    boxes_.clear();
    task_dialogs_.clear();

    task_answers_ = {IDNO};
    box_answers_ = {IDCANCEL};
    SendMessageW(window_, WM_CLOSE, 0, 0);
    ASSERT_TRUE(IsWindow(window_));
    ASSERT_EQ(task_dialogs_.size(), 1u);
    const test::TaskDialogSeen& first = task_dialogs_[0];
    EXPECT_EQ(first.title, L"Unsaved changes");
    EXPECT_EQ(first.instruction, L"Save changes to a.md?");
    EXPECT_EQ(first.content,
              L"No for all discards changes in this tab and every remaining tab being closed.");
    EXPECT_EQ(first.buttons, (std::vector<std::wstring>{L"&Yes", L"&No", L"No for &all"}));
    EXPECT_EQ(first.default_button, IDYES);
    EXPECT_EQ(first.flags, 0x1008u);
    // The last one asked gets the three-way box.
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, L"Save changes to Untitled " + std::to_wstring(untitled_id) + L"?");
    EXPECT_EQ(boxes_[0].caption, L"Unsaved changes");
    EXPECT_EQ(boxes_[0].style, static_cast<UINT>(MB_YESNOCANCEL | MB_ICONQUESTION));
    EXPECT_EQ(tabs.size(), 3u);
    EXPECT_TRUE(modified(*tabs[0]));
    EXPECT_TRUE(modified(*tabs[2]));
    EXPECT_TRUE(discarded_at_close.empty());
    // The tab asked last stays in front.
    EXPECT_EQ(active, 2u);

    task_answers_ = {IDNO};
    box_answers_ = {IDNO};
    SendMessageW(window_, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window_));
    EXPECT_EQ(discarded_at_close, (std::vector<bool>{true, false, true}));
}

TEST_F(ClosePrompts, ASaveThatFailsFromThePromptClosesNoTab) {
    const auto kept = file("kept.md", "kept\n");
    open_path(kept);
    const auto a = open_modified("sub/a.md");
    const auto c = file("c.md", "c\n");
    open_path(c);
    select_tab(0, false);
    // The file's folder goes away: the file can be neither compared nor written.
    std::filesystem::rename(a.parent_path(), folder_ / "moved");

    box_answers_ = {IDYES, IDYES, IDOK};
    close_tabs_where([](std::uint64_t index) { return index != active; }, ask_save_changes);
    ASSERT_GE(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[0].text, L"Save changes to a.md?");
    EXPECT_EQ(boxes_[1].caption, L"File changed");
    EXPECT_EQ(boxes_.back().caption, L"Pellix");
    ASSERT_EQ(tabs.size(), 3u);
    EXPECT_EQ(active, 0u);
    EXPECT_TRUE(modified(*tabs[1]));
    EXPECT_TRUE(task_dialogs_.empty());
}

TEST_F(ClosePrompts, NoForAllDiscardsTheRestAndClosesOnlyTheSelectedTabs) {
    open_modified("a.md");
    open_modified("b.md");
    const auto kept = file("kept.md", "kept\n");
    open_path(kept);
    open_modified("c.md");
    open_modified("d.md");
    select_tab(2, false);

    // To the right of the kept tab: two modified tabs, one prompt.
    task_answers_ = {discard_all_button};
    close_tabs_where([](std::uint64_t index) { return index > active; }, ask_save_changes);
    EXPECT_EQ(task_dialogs_.size(), 1u);
    EXPECT_EQ(task_dialogs_[0].instruction, L"Save changes to c.md?");
    EXPECT_TRUE(boxes_.empty());
    ASSERT_EQ(tabs.size(), 3u);
    EXPECT_EQ(active, 2u);
    EXPECT_EQ(tab_name(current_tab()), L"kept.md");

    // All others: Yes saves the first, cancel at the second keeps both.
    task_answers_ = {IDYES};
    box_answers_ = {IDCANCEL};
    close_tabs_where([](std::uint64_t index) { return index != active; }, ask_save_changes);
    ASSERT_EQ(tabs.size(), 3u);
    EXPECT_EQ(active, 2u);
    EXPECT_FALSE(modified(*tabs[0]));
    EXPECT_EQ(read_file_bytes(tabs[0]->path, document_limit), "edit saved\n");
    EXPECT_TRUE(modified(*tabs[1]));

    box_answers_ = {IDNO};
    close_tabs_where([](std::uint64_t index) { return index != active; }, ask_save_changes);
    ASSERT_EQ(tabs.size(), 1u);
    EXPECT_EQ(active, 0u);
    EXPECT_EQ(tab_name(current_tab()), L"kept.md");
    EXPECT_EQ(chrome.editor, current_tab().editor);
}

TEST_F(ClosePrompts, ACloseRequestWhileAPromptIsOpenWaitsForItsAnswer) {
    open_modified("a.md");
    open_modified("b.md");
    // Another program asks the window to close while each prompt is up; the prompt is answered
    // only after that request has been handled.
    install_message_box([&](const MessageBoxRequest& request) {
        boxes_.push_back(request);
        const std::size_t seen = boxes_.size();
        SendMessageW(window_, WM_CLOSE, 0, 0);
        EXPECT_EQ(boxes_.size(), seen) << "a second prompt opened over an unanswered one";
        EXPECT_TRUE(IsWindow(window_));
        return next(box_answers_, IDCANCEL);
    });

    // Ctrl+W's prompt: No closes the tab, then the waiting close asks about the other one, and
    // Cancel keeps it and the window.
    box_answers_ = {IDNO, IDCANCEL};
    SendMessageW(window_, WM_COMMAND, 108, 0);
    ASSERT_TRUE(test::pump_until([&] { return boxes_.size() == 2; }));
    EXPECT_EQ(boxes_[0].text, L"Save changes to b.md?");
    EXPECT_EQ(boxes_[1].text, L"Save changes to a.md?");
    EXPECT_FALSE(close_deferred);
    ASSERT_TRUE(IsWindow(window_));
    ASSERT_EQ(tabs.size(), 1u);
    EXPECT_TRUE(modified(*tabs[0]));

    // The close's own prompt: the request that comes meanwhile is the same question.
    box_answers_ = {IDCANCEL};
    SendMessageW(window_, WM_CLOSE, 0, 0);
    EXPECT_EQ(boxes_.size(), 3u);
    EXPECT_FALSE(close_deferred);
    EXPECT_TRUE(IsWindow(window_));
}

} // namespace
} // namespace pellix
