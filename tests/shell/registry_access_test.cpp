#include "shell/registry_access.h"

#include "scratch_registry.h"

#include <gtest/gtest.h>

#include <stdexcept>

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
    scratch.put_text(L"Machine", L"", L"m", true);
    EXPECT_EQ(registry_value_text(registry.read_value(L"Machine", L"", true)), L"m");
    EXPECT_FALSE(registry.read_value(L"Machine", L"", false));
    EXPECT_FALSE(registry.read_value(L"Big", L"missing", false));
}

TEST(RegistryAccess, ValueChangedBetweenSizeQueryAndReadIsAbsentOrAnError) {
    ScratchRegistry scratch;
    scratch.put_text(L"Race", L"v", L"short");
    {
        ScopedRegistryReadHook hook([&] { RegDeleteKeyValueW(scratch.user(), L"Race", L"v"); });
        EXPECT_FALSE(scratch.registry().read_value(L"Race", L"v", false));
    }
    scratch.put_text(L"Race", L"v", L"short");
    ScopedRegistryReadHook hook([&] { scratch.put_text(L"Race", L"v", L"much longer"); });
    EXPECT_EQ(registration_error_of([&] { scratch.registry().read_value(L"Race", L"v", false); }),
              ERROR_MORE_DATA);
}

TEST(RegistryAccess, TextOfStringValues) {
    EXPECT_EQ(registry_value_text(raw(REG_SZ, {'a', 0, 'b', 0})), L"ab");
    EXPECT_EQ(registry_value_text(raw(REG_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0})), L"a");
    EXPECT_EQ(registry_value_text(raw(REG_EXPAND_SZ, {'%', 0, 'X', 0, '%', 0, 0, 0})), L"%X%");
    for (const RegistryValue& no_text :
         {raw(REG_SZ, {'a', 0, 'b'}), raw(REG_MULTI_SZ, {'a', 0, 0, 0, 0, 0}),
          raw(REG_DWORD, {'a', 0, 0, 0}), raw(REG_NONE, {'a', 0})}) {
        EXPECT_EQ(registry_value_text(no_text), L"");
    }
    EXPECT_EQ(string_value(L"\x00E9Z"), raw(REG_SZ, {0xE9, 0, 'Z', 0, 0, 0}));
}

TEST(RegistryAccess, WritesCreatePathsAndDeletesTouchOnlyWhatIsThere) {
    ScratchRegistry scratch;
    AssociationRegistry& registry = scratch.registry();
    registry.write_value({.key = L"A\\B\\C", .name = L"", .value = string_value(L"")});
    registry.write_value({.key = L"A\\B\\C", .name = L"none", .value = {}});
    EXPECT_EQ(registry.read_value(L"A\\B\\C", L"", false), raw(REG_SZ, {0, 0}));
    EXPECT_EQ(registry.read_value(L"A\\B\\C", L"none", false), raw(REG_NONE, {}));

    registry.delete_value(L"No\\Parent", L"v");
    registry.delete_key_if_empty(L"No\\Parent\\Key");
    registry.delete_key_if_empty(L"A\\B");
    registry.delete_key_if_empty(L"A\\B\\C");
    EXPECT_TRUE(registry.key_exists(L"A\\B\\C"));
    registry.delete_value(L"A\\B\\C", L"");
    registry.delete_value(L"A\\B\\C", L"none");
    registry.delete_value(L"A\\B\\C", L"none");
    registry.delete_key_if_empty(L"A\\B\\C");
    EXPECT_FALSE(registry.key_exists(L"A\\B\\C"));
    EXPECT_TRUE(registry.key_exists(L"A\\B"));
}

} // namespace
} // namespace pellix
