#include "shell/registration_transaction.h"

#include "core/markdown_extensions.h"
#include "shell/registration_plan.h"
#include "scratch_registry.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace pellix {
namespace {

using test::dump_difference;
using test::FaultyRegistry;
using test::registration_error_of;
using test::RegistryDump;
using test::ScratchRegistry;

const std::wstring exe = L"C:\\Tools\\Pellix\\Pellix.exe";
const std::wstring user_choice_md =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.md\\UserChoice";

std::wstring default_of(AssociationRegistry& registry, const std::wstring& extension) {
    return registry_value_text(registry.read_value(classes_key(extension), L"", false));
}

std::wstring claimed_list(AssociationRegistry& registry) {
    return registry_value_text(
        registry.read_value(association_state_key, claimed_extensions_name, false));
}

// A hive that already holds things the registration changes or must keep: an earlier copy's
// values of other types, another program's ".md" default, and neighbours in shared keys.
void populate(ScratchRegistry& scratch) {
    scratch.put(prog_id_command_key, L"", {.type = REG_EXPAND_SZ, .data = {'%', 0, 'X', 0, 0, 0}});
    scratch.put(L"Software\\Classes\\Pellix.Markdown\\DefaultIcon", L"",
                {.type = REG_BINARY, .data = {1, 2, 3}});
    scratch.put_text(L"Software\\Classes\\.md", L"", L"Other.Markdown");
    scratch.put_text(L"Software\\Classes\\.md\\OpenWithProgids", L"Other.Markdown", L"");
    scratch.put_text(L"Software\\RegisteredApplications", L"Other", L"Software\\Other");
    scratch.put_text(L"Software\\Orvelworks\\Pellix Native", L"Theme", L"dark");
    scratch.put_text(association_state_key, claimed_extensions_name, L".mkd");
}

TEST(RegistrationTransaction, CleanHiveGetsPlanClaimsAndDefaultsInOrder) {
    ScratchRegistry scratch;
    FaultyRegistry registry(scratch.registry());
    apply_registration(registry, exe);

    const std::vector<RegistryWrite> plan = registration_plan(exe);
    ASSERT_EQ(registry.writes.size(), 31u);
    for (std::size_t at = 0; at < 24; ++at) {
        EXPECT_EQ(registry.writes[at].key, plan[at].key);
        EXPECT_EQ(registry.writes[at].name, plan[at].name);
    }
    EXPECT_EQ(registry.writes[24].name, claimed_extensions_name);
    EXPECT_EQ(registry_value_text(registry.writes[24].value), L".md;.markdown;.mdown;.mkd;.mkdn");
    for (std::size_t at = 0; at < markdown_extensions.size(); ++at) {
        EXPECT_EQ(registry.writes[25 + at].key, classes_key(std::wstring(markdown_extensions[at])));
        EXPECT_EQ(registry_value_text(registry.writes[25 + at].value), L"Pellix.Markdown");
    }
    EXPECT_EQ(registry.writes[30].key, L"Software\\RegisteredApplications");
    for (const RegistryWrite& write : plan) {
        EXPECT_EQ(scratch.registry().read_value(write.key, write.name, false), write.value);
    }
}

TEST(RegistrationTransaction, RegisteringAgainWritesNothing) {
    ScratchRegistry scratch;
    populate(scratch);
    apply_registration(scratch.registry(), exe);
    const RegistryDump once = scratch.dump();
    FaultyRegistry registry(scratch.registry());
    apply_registration(registry, exe);
    EXPECT_TRUE(registry.writes.empty());
    EXPECT_EQ(dump_difference(once, scratch.dump()), "");
}

TEST(RegistrationTransaction, ClaimsOnlyExtensionsWithoutDefaultOrUserChoice) {
    struct Blocker {
        const char* what;
        std::function<void(ScratchRegistry&)> put;
        bool blocks;
    };
    const std::wstring md = L"Software\\Classes\\.md";
    const std::vector<Blocker> blockers = {
        {"user default", [&](ScratchRegistry& s) { s.put_text(md, L"", L"Other.Doc"); }, true},
        {"machine default", [&](ScratchRegistry& s) { s.put_text(md, L"", L"Other.Doc", true); },
         true},
        {"user choice",
         [&](ScratchRegistry& s) {
             s.put(user_choice_md, L"ProgId", {REG_DWORD, {0, 0, 0, 0}});
         },
         true},
        {"empty expandable default",
         [&](ScratchRegistry& s) {
             s.put(md, L"", {REG_EXPAND_SZ, {0, 0}});
         },
         true},
        {"empty untyped default",
         [&](ScratchRegistry& s) {
             s.put(md, L"", {REG_NONE, {}});
         },
         true},
        {"empty string default", [&](ScratchRegistry& s) { s.put_text(md, L"", L""); }, false},
        {"empty machine default", [&](ScratchRegistry& s) { s.put_text(md, L"", L"", true); },
         false},
    };
    for (const Blocker& blocker : blockers) {
        SCOPED_TRACE(blocker.what);
        ScratchRegistry scratch;
        blocker.put(scratch);
        const auto before = scratch.registry().read_value(md, L"", false);
        apply_registration(scratch.registry(), exe);
        if (blocker.blocks) {
            EXPECT_EQ(claimed_list(scratch.registry()), L".markdown;.mdown;.mkd;.mkdn");
            EXPECT_EQ(scratch.registry().read_value(md, L"", false), before);
        } else {
            EXPECT_EQ(claimed_list(scratch.registry()), L".md;.markdown;.mdown;.mkd;.mkdn");
            EXPECT_EQ(default_of(scratch.registry(), L".md"), L"Pellix.Markdown");
        }
        EXPECT_EQ(default_of(scratch.registry(), L".mkdn"), L"Pellix.Markdown");
    }
}

TEST(RegistrationTransaction, EarlierClaimsStayListedButOnlyFreeOnesGetTheDefault) {
    ScratchRegistry scratch;
    populate(scratch);
    scratch.put_text(association_state_key, claimed_extensions_name, L".md;.mkd");
    apply_registration(scratch.registry(), exe);
    EXPECT_EQ(claimed_list(scratch.registry()), L".md;.markdown;.mdown;.mkd;.mkdn");
    EXPECT_EQ(default_of(scratch.registry(), L".md"), L"Other.Markdown");
    EXPECT_EQ(default_of(scratch.registry(), L".mkd"), L"Pellix.Markdown");
}

// Every write of a registration fails in turn, once before and once after reaching the
// registry: the hive must come back byte for byte, keys included.
void expect_rollback_at_every_write(void (*prepare)(ScratchRegistry&)) {
    ScratchRegistry counting;
    prepare(counting);
    FaultyRegistry counter(counting.registry());
    apply_registration(counter, exe);
    const int total = static_cast<int>(counter.writes.size());
    ASSERT_GT(total, 20);
    for (const bool after : {false, true}) {
        for (int failing = 1; failing <= total; ++failing) {
            SCOPED_TRACE(testing::Message() << "write " << failing << (after ? " after" : ""));
            ScratchRegistry scratch;
            prepare(scratch);
            const RegistryDump before = scratch.dump();
            FaultyRegistry registry(scratch.registry());
            registry.fail_write = failing;
            registry.fail_after_write = after;
            EXPECT_EQ(registration_error_of([&] { apply_registration(registry, exe); }),
                      ERROR_ACCESS_DENIED);
            EXPECT_EQ(static_cast<int>(registry.writes.size()), failing);
            EXPECT_EQ(dump_difference(before, scratch.dump()), "");
        }
    }
}

TEST(RegistrationTransaction, FailureAtAnyWriteRestoresACleanHive) {
    expect_rollback_at_every_write([](ScratchRegistry&) {});
}

TEST(RegistrationTransaction, FailureAtAnyWriteRestoresAPopulatedHive) {
    expect_rollback_at_every_write(populate);
}

TEST(RegistrationTransaction, FailedUndoIsReportedAsIncompleteRollback) {
    ScratchRegistry scratch;
    FaultyRegistry registry(scratch.registry());
    registry.fail_write = 5;
    registry.fail_after_write = true;
    registry.fail_every_undo = true;
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

TEST(RegistrationTransaction, BadPathChangesNothing) {
    ScratchRegistry scratch;
    const RegistryDump before = scratch.dump();
    EXPECT_THROW(apply_registration(scratch.registry(), L"C:\\a\"b.exe"), std::invalid_argument);
    EXPECT_EQ(dump_difference(before, scratch.dump()), "");
}

} // namespace
} // namespace pellix
