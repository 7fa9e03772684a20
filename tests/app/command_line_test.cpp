#include <gtest/gtest.h>

#include "app/command_line.h"

namespace pellix {
namespace {

CommandLine parse(const wchar_t* line) {
    return parse_command_line(split_command_line(line));
}

std::vector<std::filesystem::path> paths(std::initializer_list<const wchar_t*> names) {
    return {names.begin(), names.end()};
}

TEST(CommandLine, SplitsQuotesBackslashesAndEmptyArguments) {
    EXPECT_EQ(split_command_line(L"Pellix.exe \"my notes.md\" a\\\\\"b c\" \"\""),
              (std::vector<std::wstring>{L"Pellix.exe", L"my notes.md", L"a\\b c", L""}));
    EXPECT_EQ(split_command_line(L"\"C:\\Program Files\\Pellix.exe\"   x.md  "),
              (std::vector<std::wstring>{L"C:\\Program Files\\Pellix.exe", L"x.md"}));
}

TEST(CommandLine, OneShotOptionsOnlyStandAlone) {
    EXPECT_EQ(parse(L"Pellix.exe --version").kind, RunKind::version);
    EXPECT_EQ(parse(L"Pellix.exe --register").kind, RunKind::register_types);
    EXPECT_EQ(parse(L"Pellix.exe --unregister").kind, RunKind::unregister_types);

    const CommandLine with_path = parse(L"Pellix.exe --version a.md");
    EXPECT_EQ(with_path.kind, RunKind::editor);
    EXPECT_EQ(with_path.paths, paths({L"--version", L"a.md"}));
    // Names are compared whole and case-sensitively.
    EXPECT_EQ(parse(L"Pellix.exe --Version").paths, paths({L"--Version"}));
    EXPECT_EQ(parse(L"Pellix.exe").kind, RunKind::editor);
    EXPECT_TRUE(parse(L"Pellix.exe").paths.empty());
}

TEST(CommandLine, CompareNeedsExactlyTwoPathsAndOnlyFirst) {
    const CommandLine compare = parse(L"Pellix.exe --compare old.md new.md");
    EXPECT_EQ(compare.kind, RunKind::compare);
    EXPECT_EQ(compare.compare_baseline_path, std::filesystem::path(L"old.md"));
    EXPECT_EQ(compare.paths, paths({L"new.md"}));
    EXPECT_EQ(parse(L"Pellix.exe --compare one.md").kind, RunKind::compare_usage);
    EXPECT_EQ(parse(L"Pellix.exe --compare a.md b.md c.md").kind, RunKind::compare_usage);
    EXPECT_EQ(parse(L"Pellix.exe --compare").kind, RunKind::compare_usage);

    const CommandLine later = parse(L"Pellix.exe first.md --compare a.md b.md");
    EXPECT_EQ(later.kind, RunKind::editor);
    EXPECT_EQ(later.paths, paths({L"first.md", L"--compare", L"a.md", L"b.md"}));

    const CommandLine profiled = parse(L"Pellix.exe --compare --scroll-profile b.md");
    EXPECT_FALSE(profiled.scroll_profile);
    EXPECT_EQ(profiled.compare_baseline_path, std::filesystem::path(L"--scroll-profile"));
}

TEST(CommandLine, ScrollProfileStandsAnywhereAndIsNoPath) {
    const CommandLine line = parse(L"Pellix.exe a.md --scroll-profile b.md --scroll-profile");
    EXPECT_EQ(line.kind, RunKind::editor);
    EXPECT_TRUE(line.scroll_profile);
    EXPECT_EQ(line.paths, paths({L"a.md", L"b.md"}));
    EXPECT_EQ(parse(L"Pellix.exe --scroll-profile").paths.size(), 0u);
}

} // namespace
} // namespace pellix
