#include "shell/registration_transaction.h"

#include "scratch_registry.h"
#include "shell/registration_plan.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

namespace pellix {
namespace {

using test::dump_difference;
using test::FaultyRegistry;
using test::registration_error_of;
using test::ScratchRegistry;

const std::wstring exe = L"C:\\Tools\\Pellix\\Pellix.exe";
const std::wstring md_key = L"Software\\Classes\\.md";

std::wstring default_of(ScratchRegistry& scratch, const std::wstring& extension) {
    return registry_value_text(scratch.registry().read_value(classes_key(extension), L"", false));
}

std::wstring claimed_list(ScratchRegistry& scratch) {
    return registry_value_text(
        scratch.registry().read_value(association_state_key, claimed_extensions_name, false));
}

// A hive holding what registering must change back or keep: an earlier copy's values of other
// types, another program's ".md" default, an earlier claim and neighbours in shared keys.
void populate(ScratchRegistry& scratch) {
    scratch.put(prog_id_command_key, L"", {.type = REG_EXPAND_SZ, .data = {'%', 0, 0, 0}});
    scratch.put(L"Software\\Classes\\Pellix.Markdown\\DefaultIcon", L"",
                {.type = REG_BINARY, .data = {1, 2, 3}});
    scratch.put_text(md_key, L"", L"Other.Markdown");
    scratch.put_text(md_key + L"\\OpenWithProgids", L"Other.Markdown", L"");
    scratch.put_text(registered_applications_key, L"Other", L"Software\\Other");
    scratch.put_text(L"Software\\Orvelworks\\Pellix Native", L"Theme", L"dark");
    scratch.put_text(association_state_key, claimed_extensions_name, L".mkd");
}

TEST(RegistrationTransaction, CleanHiveGetsPlanClaimsDefaultsAndListingInOrder) {
    ScratchRegistry scratch;
    FaultyRegistry registry(scratch.registry());
    apply_registration(registry, exe);
    const std::vector<RegistryWrite> plan = registration_plan(exe);
    ASSERT_EQ(registry.writes.size(), 31u);
    for (std::size_t at = 0; at < 31; ++at) {
        const RegistryWrite& write = registry.writes[at];
        if (at < 24 || at == 30) {
            const RegistryWrite& planned = plan[std::min<std::size_t>(at, 24)];
            EXPECT_EQ(write.key + write.name, planned.key + planned.name);
        } else if (at > 24) {
            EXPECT_EQ(registry_value_text(write.value), markdown_prog_id);
        }
    }
    EXPECT_EQ(claimed_list(scratch), L".md;.markdown;.mdown;.mkd;.mkdn");
    EXPECT_EQ(default_of(scratch, L".mkdn"), markdown_prog_id);
}

TEST(RegistrationTransaction, RegisteringAgainWritesNothing) {
    ScratchRegistry scratch;
    populate(scratch);
    apply_registration(scratch.registry(), exe);
    EXPECT_EQ(claimed_list(scratch), L".markdown;.mdown;.mkd;.mkdn");
    EXPECT_EQ(default_of(scratch, L".md"), L"Other.Markdown");
    FaultyRegistry registry(scratch.registry());
    apply_registration(registry, exe);
    EXPECT_TRUE(registry.writes.empty());
}

TEST(RegistrationTransaction, ClaimsOnlyExtensionsWithoutDefaultOrUserChoice) {
    const std::wstring user_choice =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.md\\UserChoice";
    const std::vector<std::pair<bool, std::function<void(ScratchRegistry&)>>> cases = {
        {true, [&](ScratchRegistry& s) { s.put_text(md_key, L"", L"Other.Doc"); }},
        {true, [&](ScratchRegistry& s) { s.put_text(md_key, L"", L"Other.Doc", true); }},
        {true,
         [&](ScratchRegistry& s) {
             s.put(user_choice, L"ProgId", {REG_DWORD, {0}});
         }},
        {true,
         [&](ScratchRegistry& s) {
             s.put(md_key, L"", {REG_EXPAND_SZ, {0, 0}});
         }},
        {true,
         [&](ScratchRegistry& s) {
             s.put(md_key, L"", {REG_NONE, {}});
         }},
        {false, [&](ScratchRegistry& s) { s.put_text(md_key, L"", L""); }},
        {false, [&](ScratchRegistry& s) { s.put_text(md_key, L"", L"", true); }},
    };
    for (std::size_t at = 0; at < cases.size(); ++at) {
        SCOPED_TRACE(at);
        ScratchRegistry scratch;
        cases[at].second(scratch);
        const auto before = scratch.registry().read_value(md_key, L"", false);
        apply_registration(scratch.registry(), exe);
        if (cases[at].first) {
            EXPECT_EQ(claimed_list(scratch), L".markdown;.mdown;.mkd;.mkdn");
            EXPECT_EQ(scratch.registry().read_value(md_key, L"", false), before);
        } else {
            EXPECT_EQ(claimed_list(scratch), L".md;.markdown;.mdown;.mkd;.mkdn");
            EXPECT_EQ(default_of(scratch, L".md"), markdown_prog_id);
        }
    }
}

// Every write of a registration fails in turn, before and after reaching the registry: the
// hive must come back byte for byte, keys included.
void expect_rollback_at_every_write(void (*prepare)(ScratchRegistry&)) {
    int total = 0;
    {
        ScratchRegistry counting;
        prepare(counting);
        FaultyRegistry counter(counting.registry());
        apply_registration(counter, exe);
        total = static_cast<int>(counter.writes.size());
    }
    ASSERT_GT(total, 24);
    for (int failing = 1; failing <= total; ++failing) {
        for (const bool after : {false, true}) {
            SCOPED_TRACE(testing::Message() << "write " << failing << (after ? " after" : ""));
            ScratchRegistry scratch;
            prepare(scratch);
            const test::RegistryDump before = scratch.dump();
            FaultyRegistry registry(scratch.registry());
            registry.fail_write = failing;
            registry.fail_after_write = after;
            EXPECT_EQ(registration_error_of([&] { apply_registration(registry, exe); }),
                      ERROR_ACCESS_DENIED);
            EXPECT_EQ(dump_difference(before, scratch.dump()), "");
        }
    }
}

TEST(RegistrationTransaction, FailureAtAnyWriteRestoresTheHive) {
    expect_rollback_at_every_write([](ScratchRegistry&) {});
    expect_rollback_at_every_write(populate);
}

TEST(RegistrationTransaction, FailedUndoIsReportedAsIncompleteRollback) {
    ScratchRegistry scratch;
    FaultyRegistry registry(scratch.registry());
    registry.fail_write = 5;
    registry.fail_undo = true;
    try {
        apply_registration(registry, exe);
        ADD_FAILURE() << "the registration succeeded";
    } catch (const std::system_error&) {
        ADD_FAILURE() << "the registry error hid the incomplete rollback";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(),
                     "Markdown registration failed and some registry values could not be "
                     "restored. Try the action again after checking permissions.");
    }
}

} // namespace
} // namespace pellix
