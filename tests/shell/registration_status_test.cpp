#include "shell/registration_status.h"

#include "shell/registration_plan.h"
#include "shell/registration_transaction.h"
#include "scratch_registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace pellix {
namespace {

namespace fs = std::filesystem;
using test::dump_difference;
using test::dump_registry;
using test::FaultyRegistry;
using test::RegistryDump;
using test::ScratchRegistry;

// A folder of its own holding files that stand for copies of the program.
class CopiesFolder {
public:
    CopiesFolder()
        : root_(fs::temp_directory_path() /
                (L"pellix-copies-" + std::to_wstring(GetCurrentProcessId()))) {
        fs::create_directories(root_);
    }
    ~CopiesFolder() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    std::wstring add(const std::wstring& name) {
        const fs::path path = root_ / name;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "MZ";
        return path.wstring();
    }
    std::wstring missing() const { return (root_ / L"gone" / L"Pellix.exe").wstring(); }

private:
    fs::path root_;
};

std::wstring command_path_of(const std::wstring& command) {
    ScratchRegistry scratch;
    if (!command.empty()) {
        scratch.put_text(prog_id_command_key, L"", command);
    }
    return registered_command_path(scratch.registry());
}

TEST(RegistrationStatus, CommandPathFromQuotedAndUnquotedCommands) {
    EXPECT_EQ(command_path_of(L" \t\"C:\\A B\\P.exe\" \"%1\""), L"C:\\A B\\P.exe");
    EXPECT_EQ(command_path_of(L"\"C:\\A B\\P.exe"), L"");
    EXPECT_EQ(command_path_of(L"\""), L"");
    EXPECT_EQ(command_path_of(L"C:\\My Tools\\P.EXE \"%1\""), L"C:\\My Tools\\P.EXE");
    EXPECT_EQ(command_path_of(L"C:\\a.exe.bak\\p.exe"), L"C:\\a.exe.bak\\p.exe");
    EXPECT_EQ(command_path_of(L"C:\\My Tools\\run %1"), L"C:\\My");
    EXPECT_EQ(command_path_of(L"C:\\tool\r\n%1"), L"C:\\tool");
    EXPECT_EQ(command_path_of(L" \r\n"), L"");
    EXPECT_EQ(command_path_of(L""), L"");
}

TEST(RegistrationStatus, TellsWhichCopyIsRegistered) {
    CopiesFolder copies;
    const std::wstring running = copies.add(L"Run Dir\\Pellix.exe");
    const std::wstring other = copies.add(L"Other\\Pellix.exe");
    ScratchRegistry scratch;
    AssociationRegistry& registry = scratch.registry();
    auto registered_as = [&](const std::wstring& command) {
        scratch.put_text(prog_id_command_key, L"", command);
        return registration_status(registry, running);
    };
    EXPECT_EQ(registered_as(L"\"" + running + L"\""), RegistrationStatus::not_registered);

    scratch.put_text(registered_applications_key, registered_application_name,
                     L"Software\\Orvelworks\\Pellix Native\\capabilities");
    EXPECT_EQ(registered_as(L"\"" + running + L"\""), RegistrationStatus::not_registered);
    scratch.put_text(registered_applications_key, registered_application_name, capabilities_key);

    std::wstring variant = running;
    for (wchar_t& unit : variant) {
        unit = unit == L'\\' ? L'/' : static_cast<wchar_t>(towupper(unit));
    }
    EXPECT_EQ(registered_as(L"\"" + variant + L"\" \"%1\""), RegistrationStatus::this_copy);
    // Win32 drops a trailing blank when it looks the file up, so the copy is found.
    EXPECT_EQ(registered_as(L"\"" + running + L" \""), RegistrationStatus::other_copy);
    EXPECT_EQ(registered_as(L"\"" + other + L"\""), RegistrationStatus::other_copy);
    EXPECT_EQ(registered_as(L"\"" + copies.missing() + L"\""), RegistrationStatus::missing_copy);
    EXPECT_EQ(registered_as(L"\"\""), RegistrationStatus::not_registered);
}

TEST(RegistrationStatus, StartUpRepairRegistersOnlyOverAMissingCopy) {
    CopiesFolder copies;
    const std::wstring running = copies.add(L"Pellix.exe");
    const std::wstring other = copies.add(L"Other\\Pellix.exe");
    ScratchRegistry scratch;
    AssociationRegistry& registry = scratch.registry();
    EXPECT_FALSE(repair_stale_registration(registry, running));
    EXPECT_EQ(registration_status(registry, running), RegistrationStatus::not_registered);

    apply_registration(registry, other);
    EXPECT_FALSE(repair_stale_registration(registry, running));
    EXPECT_EQ(registered_command_path(registry), other);

    apply_registration(registry, copies.missing());
    EXPECT_TRUE(repair_stale_registration(registry, running));
    EXPECT_EQ(registration_status(registry, running), RegistrationStatus::this_copy);

    apply_registration(registry, copies.missing());
    FaultyRegistry failing(registry);
    failing.fail_write = 1;
    EXPECT_FALSE(repair_stale_registration(failing, running));
    EXPECT_EQ(registered_command_path(registry), copies.missing());
}

TEST(RegistrationStatus, UnregisteringRestoresTheHiveAndKeepsForeignValues) {
    const std::wstring exe = L"C:\\Tools\\Pellix.exe";
    ScratchRegistry scratch;
    AssociationRegistry& registry = scratch.registry();
    scratch.put_text(L"Software\\Classes\\.md", L"", L"Other.Markdown");
    scratch.put_text(L"Software\\Orvelworks\\Pellix Native", L"Theme", L"dark");
    scratch.put_text(L"Software\\RegisteredApplications", L"Other", L"Software\\Other");
    scratch.put_text(L"Software\\Classes\\Applications", L"", L"");
    const RegistryDump before = scratch.dump();

    apply_registration(registry, exe);
    apply_registration(registry, exe);
    remove_markdown_registration(registry, L"C:\\Elsewhere\\Pellix.exe");
    EXPECT_EQ(dump_difference(before, scratch.dump()), "");
    remove_markdown_registration(registry, exe);
    EXPECT_EQ(dump_difference(before, scratch.dump()), "");
}

TEST(RegistrationStatus, UnregisteringAfterAnotherCopyKeepsItsLeftovers) {
    const std::wstring first = L"C:\\First\\Pellix.exe";
    const std::wstring second = L"D:\\Second\\Pellix.exe";
    ScratchRegistry scratch;
    AssociationRegistry& registry = scratch.registry();
    apply_registration(registry, first);
    // The second copy rewrote only the ProgID's open command; the first copy's icon stays.
    scratch.put_text(prog_id_command_key, L"", L"\"" + second + L"\" \"%1\"");
    scratch.put_text(L"Software\\Classes\\.mkd", L"", L"Other.Markdown");
    remove_markdown_registration(registry, first);

    // What still names the first copy stays, with the keys holding it; all else is gone.
    const RegistryDump after = scratch.dump();
    std::set<std::pair<std::wstring, std::wstring>> left;
    for (const auto& [where, value] : after.values) {
        left.insert(where);
    }
    EXPECT_EQ(left, (std::set<std::pair<std::wstring, std::wstring>>{
                        {L"Software\\Classes\\.mkd", L""},
                        {L"Software\\Classes\\Applications\\Pellix.exe\\shell\\open\\command", L""},
                        {L"Software\\Classes\\Pellix.Markdown\\DefaultIcon", L""},
                        {capabilities_key, L"ApplicationIcon"}}));
    EXPECT_EQ(registry_value_text(registry.read_value(capabilities_key, L"ApplicationIcon", false)),
              L"\"" + first + L"\",-101");
    EXPECT_FALSE(registry.key_exists(prog_id_command_key));
    EXPECT_FALSE(registry.key_exists(L"Software\\Classes\\.md"));
    EXPECT_FALSE(registry.key_exists(association_state_key));
    EXPECT_TRUE(registry.key_exists(registered_applications_key));
}

// The program's own entry points on the test prefix's real user hive: the values they touch are
// dumped before and must be exactly the same after registering and unregistering.
TEST(RegistrationStatus, RealUserHiveRegisterAndUnregister) {
    const std::vector<std::wstring> touched = {L"Software\\Classes\\Pellix.Markdown",
                                               application_key,
                                               L"Software\\Classes\\.md",
                                               L"Software\\Classes\\.markdown",
                                               L"Software\\Classes\\.mdown",
                                               L"Software\\Classes\\.mkd",
                                               L"Software\\Classes\\.mkdn",
                                               L"Software\\Orvelworks",
                                               L"Software\\RegisteredApplications"};
    // Keys that do not exist dump as nothing, so a key left behind shows as extra.
    auto dump_touched = [&] {
        RegistryDump dump;
        for (const std::wstring& key : touched) {
            UniqueRegistryKey opened;
            if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, opened.put()) ==
                ERROR_SUCCESS) {
                RegistryDump part = dump_registry(opened.get());
                for (const std::wstring& sub : part.keys) {
                    dump.keys.insert(key + L"\\" + sub);
                }
                for (const auto& [where, value] : part.values) {
                    dump.values[{key + L"\\" + where.first, where.second}] = value;
                }
            }
        }
        return dump;
    };
    // Unregistering keeps these two (the settings' key and a shared list), as any real hive
    // holds them anyway.
    for (const wchar_t* kept :
         {L"Software\\Orvelworks\\Pellix Native", registered_applications_key}) {
        UniqueRegistryKey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kept, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_READ, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
    }
    ASSERT_EQ(registration_status(), RegistrationStatus::not_registered)
        << "the test prefix's user already holds a registration";
    const auto before = dump_touched();

    register_markdown_handler();
    EXPECT_EQ(registration_status(), RegistrationStatus::this_copy);
    const auto registry = make_user_registry();
    EXPECT_EQ(registered_command_path(*registry), executable_path().wstring());
    repair_stale_registration();
    EXPECT_EQ(registration_status(), RegistrationStatus::this_copy);

    unregister_markdown_handler();
    EXPECT_EQ(registration_status(), RegistrationStatus::not_registered);
    EXPECT_EQ(dump_difference(before, dump_touched()), "");
}

} // namespace
} // namespace pellix
