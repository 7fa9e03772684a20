#include "shell/registration_plan.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace pellix {
namespace {

const std::wstring spaced_exe = L"C:\\Program Files\\Pellix 2\\Pellix.exe";

std::wstring text_at(const std::vector<RegistryWrite>& plan, std::size_t number) {
    return registry_value_text(plan.at(number - 1).value);
}

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
    const std::vector<RegistryWrite> plan = registration_plan(spaced_exe);
    ASSERT_EQ(plan.size(), 25u);
    const std::wstring command = L"\"" + spaced_exe + L"\" \"%1\"";
    EXPECT_EQ(text_at(plan, 3), L"\"" + spaced_exe + L"\",-103");
    EXPECT_EQ(text_at(plan, 4), command);
    EXPECT_EQ(text_at(plan, 6), command);
    EXPECT_EQ(text_at(plan, 9), L"\"" + spaced_exe + L"\",-101");
    EXPECT_EQ(plan[3].key, L"Software\\Classes\\Pellix.Markdown\\shell\\open\\command");

    EXPECT_EQ(plan[9].key, L"Software\\Classes\\Applications\\Pellix.exe\\SupportedTypes");
    EXPECT_EQ(plan[9].name, L".md");
    EXPECT_EQ(plan[9].value, (RegistryValue{.type = REG_SZ, .data = {0, 0}}));
    EXPECT_EQ(plan[10].key, L"Software\\Classes\\.md\\OpenWithProgids");
    EXPECT_EQ(plan[10].value, RegistryValue{});
    EXPECT_EQ(plan[23].key, L"Software\\Orvelworks\\Pellix Native\\Capabilities\\FileAssociations");
    EXPECT_EQ(plan[23].name, L".mkdn");
    EXPECT_EQ(text_at(plan, 24), L"Pellix.Markdown");
    EXPECT_EQ(plan[24].key, L"Software\\RegisteredApplications");
    EXPECT_EQ(text_at(plan, 25), L"Software\\Orvelworks\\Pellix Native\\Capabilities");
}

TEST(RegistrationPlan, ParsesOnlyExactTableEntriesInTableOrder) {
    auto parse = [](const std::wstring& text) {
        return parse_claimed_extensions(string_value(text));
    };
    EXPECT_EQ(parse(L".mkd;.md;.md;.MD;.txt;"), (std::vector<std::wstring>{L".md", L".mkd"}));
    EXPECT_EQ(parse(L".mkdn;.markdown;.mdown"),
              (std::vector<std::wstring>{L".markdown", L".mdown", L".mkdn"}));
    EXPECT_TRUE(parse(L" .md").empty());
    EXPECT_TRUE(parse(L"").empty());
    EXPECT_TRUE(parse_claimed_extensions(std::nullopt).empty());
    EXPECT_TRUE(parse_claimed_extensions(RegistryValue{.type = REG_DWORD, .data = {'.', 0, 'm', 0}})
                    .empty());
}

TEST(RegistrationPlan, ExecutablePathIsTheRunningModule) {
    const std::filesystem::path path = executable_path();
    EXPECT_TRUE(path.is_absolute());
    EXPECT_EQ(path.filename(), L"shell_tests.exe");
    EXPECT_TRUE(std::filesystem::exists(path));
}

} // namespace
} // namespace pellix
