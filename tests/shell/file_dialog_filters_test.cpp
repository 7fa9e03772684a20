#include <gtest/gtest.h>

#include "shell/file_dialog_filters.h"

namespace pellix {
namespace {

TEST(FileDialogFilters, TheOpenListLeadsWithEveryPatternJoinedOnce) {
    const auto with_text = file_dialog_filters(true);
    const auto without = file_dialog_filters(false);
    ASSERT_EQ(with_text.size(), 7u);
    ASSERT_EQ(without.size(), 6u);
    EXPECT_EQ(without.front().label, L"Markdown files");
    EXPECT_EQ(without.front().patterns, L"*.md;*.markdown;*.mdown;*.mkd;*.mkdn");
    EXPECT_EQ(without.back().label, L"All files");
    EXPECT_EQ(without.back().patterns, L"*.*");

    const FileDialogFilter& all = with_text.front();
    EXPECT_EQ(all.label, L"Text and Markdown files");
    // The Markdown patterns, then each group's list, with one separator at each join.
    std::wstring joined = without.front().patterns;
    for (size_t i = 1; i + 1 < without.size(); ++i) {
        joined += L";" + without[i].patterns;
    }
    EXPECT_EQ(all.patterns, joined);
    EXPECT_EQ(all.patterns.find(L";;"), std::wstring::npos);
    EXPECT_TRUE(all.patterns.starts_with(L"*.md;*.markdown;*.mdown;*.mkd;*.mkdn;*.txt;"));
    EXPECT_TRUE(all.patterns.ends_with(L";Makefile"));
    for (size_t i = 0; i < without.size(); ++i) {
        EXPECT_EQ(with_text[i + 1].label, without[i].label);
    }
}

} // namespace
} // namespace pellix
