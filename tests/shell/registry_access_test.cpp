#include "shell/registry_access.h"

#include "scratch_registry.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace pellix {
namespace {

using test::registration_error_of;
using test::ScratchRegistry;

RegistryValue raw(std::uint32_t type, std::vector<std::uint8_t> data) {
    return RegistryValue{.type = type, .data = std::move(data)};
}

TEST(RegistryAccess, ReadsRawValuesUpToTheOneMebibyteLimit) {
    ScratchRegistry scratch;
    AssociationRegistry& registry = scratch.registry();
    std::vector<std::uint8_t> big(0x100000);
    for (std::size_t at = 0; at < big.size(); ++at) {
        big[at] = static_cast<std::uint8_t>(at * 7 + 1);
    }
    scratch.put(L"Big", L"edge", raw(REG_BINARY, big));
    EXPECT_EQ(registry.read_value(L"Big", L"edge", false), raw(REG_BINARY, big));

    big.push_back(0);
    scratch.put(L"Big", L"over", raw(REG_BINARY, big));
    try {
        registry.read_value(L"Big", L"over", false);
        ADD_FAILURE() << "an oversized value was read";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Markdown registration value exceeds 1 MiB");
    }

    scratch.put(L"Machine\\Only", L"", string_value(L"m"), true);
    EXPECT_EQ(registry_value_text(registry.read_value(L"Machine\\Only", L"", true)), L"m");
    EXPECT_FALSE(registry.read_value(L"Machine\\Only", L"", false));
    EXPECT_FALSE(registry.read_value(L"Missing\\Key", L"", false));
    EXPECT_FALSE(registry.read_value(L"Big", L"missing", false));
}

TEST(RegistryAccess, ValueChangedBetweenSizeQueryAndReadIsAbsentOrAnError) {
    ScratchRegistry scratch;
    AssociationRegistry& registry = scratch.registry();
    scratch.put_text(L"Race", L"v", L"short");
    {
        ScopedRegistryReadHook hook([&] { RegDeleteKeyValueW(scratch.user(), L"Race", L"v"); });
        EXPECT_FALSE(registry.read_value(L"Race", L"v", false));
    }
    scratch.put_text(L"Race", L"v", L"short");
    {
        ScopedRegistryReadHook hook([&] { scratch.put_text(L"Race", L"v", L"much longer"); });
        EXPECT_EQ(registration_error_of([&] { registry.read_value(L"Race", L"v", false); }),
                  ERROR_MORE_DATA);
    }
}

TEST(RegistryAccess, TextOfStringValues) {
    EXPECT_EQ(registry_value_text(raw(REG_SZ, {'a', 0, 'b', 0})), L"ab");
    EXPECT_EQ(registry_value_text(raw(REG_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0})), L"a");
    EXPECT_EQ(registry_value_text(raw(REG_EXPAND_SZ, {'%', 0, 'X', 0, '%', 0, 0, 0})), L"%X%");
    EXPECT_EQ(registry_value_text(raw(REG_SZ, {'a', 0, 'b'})), L"");
    EXPECT_EQ(registry_value_text(raw(REG_MULTI_SZ, {'a', 0, 0, 0, 0, 0})), L"");
    EXPECT_EQ(registry_value_text(raw(REG_DWORD, {'a', 0, 0, 0})), L"");
    EXPECT_EQ(registry_value_text(raw(REG_NONE, {'a', 0})), L"");
    EXPECT_EQ(registry_value_text(std::nullopt), L"");
    EXPECT_EQ(string_value(L"\x00E9Z"), raw(REG_SZ, {0xE9, 0, 'Z', 0, 0, 0}));
    EXPECT_EQ(classes_key(L".md"), L"Software\\Classes\\.md");
}

TEST(RegistryAccess, WritesRoundTripAndCreateTheWholePath) {
    ScratchRegistry scratch;
    AssociationRegistry& registry = scratch.registry();
    std::vector<RegistryWrite> writes;
    add_string_write(writes, L"A\\B\\C", L"", L"");
    writes.push_back({.key = L"A\\B\\C", .name = L"none", .value = raw(REG_NONE, {})});
    for (const RegistryWrite& write : writes) {
        registry.write_value(write);
    }
    EXPECT_EQ(registry.read_value(L"A\\B\\C", L"", false), raw(REG_SZ, {0, 0}));
    EXPECT_EQ(registry.read_value(L"A\\B\\C", L"none", false), raw(REG_NONE, {}));
    EXPECT_TRUE(registry.key_exists(L"A\\B"));
    EXPECT_FALSE(registry.key_exists(L"A\\X"));
}

TEST(RegistryAccess, DeletesOnlyWhatIsThereAndOnlyEmptyKeys) {
    ScratchRegistry scratch;
    AssociationRegistry& registry = scratch.registry();
    registry.delete_value(L"No\\Parent", L"v");
    registry.delete_key_if_empty(L"No\\Parent\\Key");

    scratch.put_text(L"Holds\\Value", L"v", L"x");
    scratch.put_text(L"Holds\\Child\\Leaf", L"v", L"x");
    registry.delete_key_if_empty(L"Holds\\Value");
    registry.delete_key_if_empty(L"Holds\\Child");
    EXPECT_TRUE(registry.key_exists(L"Holds\\Value"));
    EXPECT_TRUE(registry.key_exists(L"Holds\\Child\\Leaf"));

    registry.delete_value(L"Holds\\Value", L"v");
    registry.delete_value(L"Holds\\Value", L"v");
    registry.delete_key_if_empty(L"Holds\\Value");
    EXPECT_FALSE(registry.key_exists(L"Holds\\Value"));
}

TEST(RegistryAccess, OtherStatusesBecomeRegistrationErrors) {
    EXPECT_NO_THROW(throw_registration_error(ERROR_SUCCESS));
    EXPECT_EQ(registration_error_of([] { throw_registration_error(ERROR_ACCESS_DENIED); }),
              ERROR_ACCESS_DENIED);
    // A root that is no key at all reaches the real calls' failure paths.
    const auto broken = make_user_registry(reinterpret_cast<HKEY>(0x1234), nullptr);
    EXPECT_EQ(registration_error_of([&] { broken->key_exists(L"Software"); }),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(registration_error_of([&] {
                  broken->write_value({.key = L"K", .name = L"", .value = string_value(L"")});
              }),
              ERROR_INVALID_HANDLE);
}

} // namespace
} // namespace pellix
