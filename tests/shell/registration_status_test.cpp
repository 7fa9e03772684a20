#include "shell/registration_status.h"

#include "scratch_registry.h"
#include "shell/registration_plan.h"
#include "shell/registration_transaction.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace pellix {
namespace {

namespace fs = std::filesystem;
using test::dump_difference;
using test::FaultyRegistry;
using test::ScratchRegistry;

// Files standing for copies of the program, in a folder of their own.
class Copies {
public:
    Copies() { fs::create_directories(root_); }
    ~Copies() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    std::wstring add(const std::wstring& name) {
        fs::create_directories((root_ / name).parent_path());
        std::ofstream(root_ / name) << "MZ";
        return (root_ / name).wstring();
    }
    std::wstring missing() const { return (root_ / L"gone" / L"Pellix.exe").wstring(); }

private:
    fs::path root_ = fs::temp_directory_path() / L"pellix-copies";
};

TEST(RegistrationStatus, CommandPathFromQuotedAndUnquotedCommands) {
    auto path_of = [](const std::wstring& command) {
        ScratchRegistry scratch;
        scratch.put_text(prog_id_command_key, L"", command);
        return registered_command_path(scratch.registry());
    };
    EXPECT_EQ(path_of(L" \t\"C:\\A B\\P.exe\" \"%1\""), L"C:\\A B\\P.exe");
    EXPECT_EQ(path_of(L"\"C:\\A B\\P.exe"), L"");
    EXPECT_EQ(path_of(L"\""), L"");
    EXPECT_EQ(path_of(L"C:\\My Tools\\P.EXE \"%1\""), L"C:\\My Tools\\P.EXE");
    EXPECT_EQ(path_of(L"C:\\a.exe.bak\\p.exe"), L"C:\\a.exe.bak\\p.exe");
    EXPECT_EQ(path_of(L"C:\\My Tools\\run %1"), L"C:\\My");
    EXPECT_EQ(path_of(L"C:\\tool\r\n%1"), L"C:\\tool");
    EXPECT_EQ(path_of(L" \r\n"), L"");
}

TEST(RegistrationStatus, TellsWhichCopyIsRegistered) {
    Copies copies;
    const std::wstring running = copies.add(L"Run Dir\\Pellix.exe");
    const std::wstring other = copies.add(L"Other\\Pellix.exe");
    ScratchRegistry scratch;
    auto status_for = [&](const std::wstring& command) {
        scratch.put_text(prog_id_command_key, L"", command);
        return registration_status(scratch.registry(), running);
    };
    EXPECT_EQ(status_for(L"\"" + running + L"\""), RegistrationStatus::not_registered);
    scratch.put_text(registered_applications_key, registered_application_name,
                     L"Software\\Orvelworks\\Pellix Native\\capabilities");
    EXPECT_EQ(status_for(L"\"" + running + L"\""), RegistrationStatus::not_registered);
    scratch.put_text(registered_applications_key, registered_application_name, capabilities_key);

    std::wstring variant = running;
    for (wchar_t& unit : variant) {
        unit = unit == L'\\' ? L'/' : static_cast<wchar_t>(towupper(unit));
    }
    EXPECT_EQ(status_for(L"\"" + variant + L"\" \"%1\""), RegistrationStatus::this_copy);
    // Win32 drops a trailing blank when it looks the file up, so that copy exists.
    EXPECT_EQ(status_for(L"\"" + running + L" \""), RegistrationStatus::other_copy);
    EXPECT_EQ(status_for(L"\"" + other + L"\""), RegistrationStatus::other_copy);
    EXPECT_EQ(status_for(L"\"" + copies.missing() + L"\""), RegistrationStatus::missing_copy);
    EXPECT_EQ(status_for(L"\"\""), RegistrationStatus::not_registered);
}

TEST(RegistrationStatus, StartUpRepairRegistersOnlyOverAMissingCopy) {
    Copies copies;
    const std::wstring running = copies.add(L"Pellix.exe");
    const std::wstring other = copies.add(L"Other\\Pellix.exe");
    ScratchRegistry scratch;
    AssociationRegistry& registry = scratch.registry();
    EXPECT_FALSE(repair_stale_registration(registry, running));
    apply_registration(registry, other);
    EXPECT_FALSE(repair_stale_registration(registry, running));
    EXPECT_EQ(registered_command_path(registry), other);

    apply_registration(registry, copies.missing());
    FaultyRegistry failing(registry);
    failing.fail_write = 1;
    EXPECT_FALSE(repair_stale_registration(failing, running));
    EXPECT_EQ(registered_command_path(registry), copies.missing());
    EXPECT_TRUE(repair_stale_registration(registry, running));
    EXPECT_EQ(registration_status(registry, running), RegistrationStatus::this_copy);
}

TEST(RegistrationStatus, UnregisteringTwiceRestoresTheHiveAndKeepsForeignValues) {
    const std::wstring exe = L"C:\\Tools\\Pellix.exe";
    ScratchRegistry scratch;
    scratch.put_text(L"Software\\Classes\\.md", L"", L"Other.Markdown");
    scratch.put_text(L"Software\\Orvelworks\\Pellix Native", L"Theme", L"dark");
    scratch.put_text(registered_applications_key, L"Other", L"Software\\Other");
    scratch.put_text(L"Software\\Classes\\Applications", L"", L"");
    const test::RegistryDump before = scratch.dump();
    apply_registration(scratch.registry(), exe);
    remove_markdown_registration(scratch.registry(), L"C:\\Elsewhere\\Pellix.exe");
    EXPECT_EQ(dump_difference(before, scratch.dump()), "");
    remove_markdown_registration(scratch.registry(), exe);
    EXPECT_EQ(dump_difference(before, scratch.dump()), "");
}

TEST(RegistrationStatus, UnregisteringAfterAnotherCopyKeepsWhatNamesTheFirst) {
    const std::wstring first = L"C:\\First\\Pellix.exe";
    ScratchRegistry scratch;
    apply_registration(scratch.registry(), first);
    scratch.put_text(prog_id_command_key, L"", L"\"D:\\Second\\Pellix.exe\" \"%1\"");
    scratch.put_text(L"Software\\Classes\\.mkd", L"", L"Other.Markdown");
    remove_markdown_registration(scratch.registry(), first);

    std::size_t values = 0;
    for (const std::string& line : scratch.dump()) {
        values += line.starts_with("value ");
    }
    EXPECT_EQ(values, 4u);
    for (const auto& [key, name] : {std::pair(L"Software\\Classes\\.mkd", L""),
                                    {L"Software\\Classes\\Pellix.Markdown\\DefaultIcon", L""},
                                    {capabilities_key, L"ApplicationIcon"}}) {
        EXPECT_TRUE(scratch.registry().read_value(key, name, false)) << key;
    }
    EXPECT_TRUE(scratch.registry().read_value(
        application_key + std::wstring(L"\\shell\\open\\command"), L"", false));
    EXPECT_FALSE(scratch.registry().key_exists(prog_id_command_key));
    EXPECT_FALSE(scratch.registry().key_exists(association_state_key));
}

} // namespace
} // namespace pellix
