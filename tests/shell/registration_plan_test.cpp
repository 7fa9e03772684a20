#include "shell/registration_plan.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace pellix {
namespace {

TEST(RegistrationPlan, RefusesPathsThatCannotBeQuoted) {
    for (const std::wstring& bad :
         {std::wstring(), std::wstring(L"C:\\a\"b.exe"), std::wstring(L"C:\\a\0b.exe", 11)}) {
        try {
            registration_plan(bad);
            ADD_FAILURE() << "accepted a bad path";
        } catch (const std::invalid_argument& error) {
            EXPECT_STREQ(error.what(), "Invalid executable path for Markdown registration");
        }
    }
}

TEST(RegistrationPlan, QuotesThePathIntoCommandsAndIcons) {
    const std::wstring exe = L"C:\\Program Files\\Pellix 2\\Pellix.exe";
    const std::vector<RegistryWrite> plan = registration_plan(exe);
    ASSERT_EQ(plan.size(), 25u);
    auto text = [&](std::size_t number) { return registry_value_text(plan[number - 1].value); };
    EXPECT_EQ(text(3), L"\"" + exe + L"\",-103");
    EXPECT_EQ(text(4), L"\"" + exe + L"\" \"%1\"");
    EXPECT_EQ(text(6), text(4));
    EXPECT_EQ(text(9), L"\"" + exe + L"\",-101");
    EXPECT_EQ(plan[9].name, L".md");
    EXPECT_EQ(plan[9].value, string_value(L""));
    EXPECT_EQ(plan[10].value, RegistryValue{});
    EXPECT_EQ(plan[23].name, L".mkdn");
    EXPECT_EQ(plan[24].key, L"Software\\RegisteredApplications");
}

TEST(RegistrationPlan, ParsesOnlyExactTableEntriesInTableOrder) {
    auto parse = [](const std::wstring& text) {
        return parse_claimed_extensions(string_value(text));
    };
    EXPECT_EQ(parse(L".mkd;.md;.md;.MD;.txt;"), (std::vector<std::wstring>{L".md", L".mkd"}));
    EXPECT_TRUE(parse(L" .md").empty());
    EXPECT_TRUE(parse_claimed_extensions(std::nullopt).empty());
    EXPECT_TRUE(
        parse_claimed_extensions(RegistryValue{.type = REG_DWORD, .data = {'.', 0}}).empty());
    EXPECT_EQ(executable_path().filename(), L"shell_tests.exe");
}

} // namespace
} // namespace pellix
