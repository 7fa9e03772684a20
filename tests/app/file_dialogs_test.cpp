#include <gtest/gtest.h>

#include <string>

#include "app/file_dialogs.h"

namespace pellix {
namespace {

TEST(FileDialogs, FilterStringAndPreselectedFilter) {
    EXPECT_EQ(filter_string({{L"A", L"*.a"}, {L"All", L"*.*"}}),
              std::wstring(L"A\0*.a\0All\0*.*\0\0", 15));

    const auto filters = file_dialog_filters(false);
    EXPECT_EQ(filter_index_for(filters, L"notes.MD"), 1u);
    EXPECT_EQ(filter_index_for(filters, L"Read.Me.TXT"), 2u);
    EXPECT_EQ(filter_index_for(filters, L"README"), 2u);
    EXPECT_EQ(filter_index_for(filters, L".env.local"), 3u);
    EXPECT_EQ(filter_index_for(filters, L"makefile"), 5u);
    // Neither a known pattern nor "*.*": the last filter.
    EXPECT_EQ(filter_index_for(filters, L"noextension"), 6u);
    EXPECT_EQ(filter_index_for(filters, L"notes.md.bak"), 6u);
}

} // namespace
} // namespace pellix
