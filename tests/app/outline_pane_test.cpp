#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "app/main_layout.h"
#include "app/outline_pane.h"
#include "app/views.h"
#include "tests/app/panes_window.h"

namespace pellix {
namespace {

constexpr char document[] = "- [ ] a0\n"
                            "- [x] a1\n"
                            "- [ ] a2\n"
                            "# One\n"
                            "- [x] t1\n"
                            "- [ ] t2\n"
                            "## Sub\n"
                            "- [ ] s1\n"
                            "# Two\n"
                            "text\n";
constexpr LONG sub_offset = 51;
constexpr LONG s1_offset = 58;

// One tree item as "text" with its children in brackets, "+" marking a bold item and "-" a
// collapsed one that has children.
std::wstring describe(HWND tree, HTREEITEM item) {
    std::wstring out;
    for (; item != nullptr; item = TreeView_GetNextSibling(tree, item)) {
        wchar_t text[128] = {};
        TVITEMW query{};
        query.mask = TVIF_TEXT | TVIF_STATE | TVIF_HANDLE;
        query.hItem = item;
        query.stateMask = TVIS_BOLD | TVIS_EXPANDED;
        query.pszText = text;
        query.cchTextMax = 128;
        TreeView_GetItem(tree, &query);
        if (!out.empty()) {
            out += L" ";
        }
        out += text;
        if (query.state & TVIS_BOLD) {
            out += L"+";
        }
        HTREEITEM child = TreeView_GetChild(tree, item);
        if (child != nullptr) {
            out += (query.state & TVIS_EXPANDED) ? L"" : L"-";
            out += L"[" + describe(tree, child) + L"]";
        }
    }
    return out;
}

std::wstring tree_text() {
    return describe(chrome.outline_tree, TreeView_GetRoot(chrome.outline_tree));
}

std::wstring selected_text() {
    wchar_t text[128] = {};
    TVITEMW query{};
    query.mask = TVIF_TEXT | TVIF_HANDLE;
    query.hItem = TreeView_GetSelection(chrome.outline_tree);
    query.pszText = text;
    query.cchTextMax = 128;
    if (query.hItem != nullptr) {
        TreeView_GetItem(chrome.outline_tree, &query);
    }
    return text;
}

class OutlineWindow : public test::PanesWindow {
protected:
    void SetUp() override {
        test::PanesWindow::SetUp();
        settings.outline = true;
        open_path(file("tasks.md", document));
        ASSERT_TRUE(current_layout.show_outline);
    }
    void TearDown() override {
        if (outline_shows_tasks() || outline_hides_completed()) {
            set_outline_mode(false, false);
        }
        test::PanesWindow::TearDown();
    }
    static void key(WPARAM key) {
        SendMessageW(chrome.outline_tree, WM_KEYDOWN, key, 0);
        SendMessageW(chrome.outline_tree, WM_KEYUP, key, 0);
    }
};

TEST_F(OutlineWindow, ListsHeadingsOrTasksWithTheirCounts) {
    EXPECT_EQ(tree_text(), L"One  1 / 3+[Sub  0 / 1] Two+");
    EXPECT_EQ(test::text_of(chrome.headings_button), L"Headings, selected");
    EXPECT_EQ(test::text_of(chrome.tasks_button), L"Show tasks");

    set_outline_mode(true, false);
    EXPECT_EQ(test::text_of(chrome.headings_button), L"Show headings");
    EXPECT_EQ(test::text_of(chrome.tasks_button), L"Tasks, selected");
    EXPECT_EQ(tree_text(), L"Tasks  1 / 3+[\u2610 a0 \u2611 a1 \u2610 a2] "
                           L"One  1 / 3+[\u2611 t1 \u2610 t2 Sub  0 / 1[\u2610 s1]]");

    // Hidden done tasks still count.
    set_outline_mode(true, true);
    EXPECT_EQ(tree_text(),
              L"Tasks  1 / 3+[\u2610 a0 \u2610 a2] One  1 / 3+[\u2610 t2 Sub  0 / 1[\u2610 s1]]");

    // Without headings or tasks the placeholder stands alone and cannot be chosen.
    select(0, static_cast<LONG>(GetWindowTextLengthW(chrome.editor)));
    type(L"plain words\n");
    update_preview();
    EXPECT_EQ(tree_text(), L"No unfinished tasks");
    set_outline_mode(false, false);
    EXPECT_EQ(tree_text(), L"No headings yet");
    TreeView_SelectItem(chrome.outline_tree, TreeView_GetRoot(chrome.outline_tree));
    EXPECT_EQ(TreeView_GetSelection(chrome.outline_tree), nullptr);
}

TEST_F(OutlineWindow, ChoosingAnEntryPutsTheEditorOnItsLineAndTheCaretSelectsItsEntry) {
    select(s1_offset, s1_offset);
    EXPECT_EQ(selected_text(), L"Sub  0 / 1");
    select(0, 0);
    EXPECT_EQ(selected_text(), L"");

    // Keyboard movement in the tree goes to the entry it lands on.
    TreeView_SelectItem(chrome.outline_tree, TreeView_GetRoot(chrome.outline_tree));
    key(VK_DOWN);
    EXPECT_EQ(selected_text(), L"Sub  0 / 1");
    EXPECT_EQ(caret(), sub_offset);
}

TEST_F(OutlineWindow, CollapsedEntriesStayCollapsedPerTabAndHoldTheCaretsEntry) {
    HTREEITEM one = TreeView_GetRoot(chrome.outline_tree);
    TreeView_SelectItem(chrome.outline_tree, one);
    key(VK_LEFT);
    EXPECT_EQ(tree_text(), L"One  1 / 3+-[Sub  0 / 1] Two+");
    EXPECT_EQ(current_tab().collapsed_keys.size(), 1u);

    // A caret inside the collapsed branch selects its collapsed ancestor.
    select(s1_offset, s1_offset);
    EXPECT_EQ(selected_text(), L"One  1 / 3");

    // An edit that changes the headings rebuilds the tree with the branch still collapsed.
    select(0, 0);
    type(L"# Zero\n");
    update_preview();
    EXPECT_EQ(tree_text(), L"Zero  1 / 3+ One  1 / 3+-[Sub  0 / 1] Two+");

    // Another tab has its own collapsed set; coming back restores this one.
    open_path(file("other.md", "# A\n## B\n"));
    EXPECT_EQ(tree_text(), L"A+[B]");
    select_tab(0, false);
    EXPECT_EQ(tree_text(), L"Zero  1 / 3+ One  1 / 3+-[Sub  0 / 1] Two+");

    set_outline_expansion(true);
    EXPECT_EQ(tree_text(), L"Zero  1 / 3+ One  1 / 3+[Sub  0 / 1] Two+");
    EXPECT_TRUE(current_tab().collapsed_keys.empty());
    set_outline_expansion(false);
    EXPECT_EQ(tree_text(), L"Zero  1 / 3+ One  1 / 3+-[Sub  0 / 1] Two+");
    EXPECT_EQ(current_tab().collapsed_keys.size(), 1u);
}

TEST_F(OutlineWindow, TypingInsideASectionKeepsTheTree) {
    HTREEITEM first = TreeView_GetRoot(chrome.outline_tree);
    select(static_cast<LONG>(GetWindowTextLengthW(chrome.editor)),
           static_cast<LONG>(GetWindowTextLengthW(chrome.editor)));
    type(L"more text\n");
    update_preview();
    EXPECT_EQ(TreeView_GetRoot(chrome.outline_tree), first);
    EXPECT_TRUE(outline_is_current(current_tab().id, current_tab().revision));
}

} // namespace
} // namespace pellix
