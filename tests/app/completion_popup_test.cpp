#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/completion_popup.h"
#include "editor/source_interface.h"
#include "tests/app/panes_window.h"

namespace pellix {
namespace {

std::vector<std::wstring> listed() {
    std::vector<std::wstring> labels;
    const Completion& state = completion();
    const auto count = SendMessageW(state.list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[128] = {};
        SendMessageW(state.list, LB_GETTEXT, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(text));
        labels.emplace_back(text);
    }
    return labels;
}

class CompletionWindow : public test::PanesWindow {
protected:
    static void key(WPARAM key) {
        SendMessageW(chrome.editor, WM_KEYDOWN, key, 0);
        SendMessageW(chrome.editor, WM_KEYUP, key, 0);
    }
    static std::u16string text() { return source_text(chrome.editor); }
};

TEST_F(CompletionWindow, OffersDocumentWordsAfterATypedPrefixInFirstOccurrenceOrder) {
    open_path(file("words.md", "Parser parse and parse again\n"));
    select(29, 29);
    type(L"par");
    show_completion();
    ASSERT_TRUE(completion_visible());
    EXPECT_EQ(listed(), (std::vector<std::wstring>{L"Parser", L"parse"}));
    RECT popup{};
    GetWindowRect(completion().popup, &popup);
    EXPECT_EQ(popup.right - popup.left, 340);
    EXPECT_EQ(popup.bottom - popup.top, 2 * 24 + 4);

    // Down then Enter takes the second word; undo gives the typed token back.
    key(VK_DOWN);
    key(VK_DOWN);
    key(VK_RETURN);
    EXPECT_FALSE(completion_visible());
    EXPECT_EQ(text(), u"Parser parse and parse again\nparse");
    SendMessageW(chrome.editor, EM_UNDO, 0, 0);
    EXPECT_EQ(text(), u"Parser parse and parse again\npar");
}

TEST_F(CompletionWindow, SnippetsReplaceTheTokenAndOtherKeysHideThePopup) {
    open_path(file("snippets.md", ""));
    type(L"#");
    show_completion();
    EXPECT_EQ(listed(), (std::vector<std::wstring>{L"# heading", L"## heading"}));
    key(VK_DOWN);
    key(VK_TAB);
    EXPECT_EQ(text(), u"## ");

    type(L"[");
    show_completion();
    EXPECT_EQ(listed(), std::vector<std::wstring>{L"[ link"});
    key(VK_LEFT);
    EXPECT_FALSE(completion_visible());

    // After white space there is no token, and the popup stays hidden.
    select(3, 3);
    show_completion();
    EXPECT_FALSE(completion_visible());

    // A plain-text tab never completes.
    open_path(file("plain.txt", "alpha al"));
    select(8, 8);
    show_completion();
    EXPECT_FALSE(completion_visible());
}

TEST_F(CompletionWindow, EnteringATabLeavesNothingOfTheLastList) {
    open_path(file("first.md", "Parser parse\n"));
    select(13, 13);
    type(L"par");
    show_completion();
    ASSERT_FALSE(listed().empty());
    open_path(file("second.md", "other\n"));
    EXPECT_FALSE(completion_visible());
    EXPECT_TRUE(listed().empty());
    EXPECT_TRUE(completion().items.empty());
    EXPECT_EQ(completion().owner, chrome.editor);
}

TEST(CompletionCandidates, SnippetsFirstThenWordsUpToEight) {
    const std::u16string text = u"w1 w2 w3 w-4 w_5 W6 w7 w8 w9 w";
    std::vector<std::u16string> words;
    for (const auto& item : completion_candidates(text, u"w")) {
        words.push_back(item.label);
    }
    EXPECT_EQ(words, (std::vector<std::u16string>{u"w1", u"w2", u"w3", u"w-4", u"w_5", u"W6", u"w7",
                                                  u"w8"}));
    const auto fences = completion_candidates(u"", u"`");
    ASSERT_EQ(fences.size(), 1u);
    EXPECT_EQ(fences[0].insertion, u"```\n\n```");
    EXPECT_EQ(completion_token_start(u"a b\u00A0cd", 6), 4u);
    EXPECT_TRUE(completion_candidates(u"anything", u"").empty());
}

} // namespace
} // namespace pellix
