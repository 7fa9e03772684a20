#pragma once

// A throw-away pair of registry roots under HKCU\Software\PellixTests for the registration
// tests, "user" standing for the user's hive and "machine" for the machine hive. The real
// registry implementation works on them; the whole tree is deleted afterwards.

#include "platform/unique_registry_key.h"
#include "shell/registry_access.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace pellix::test {

// Every key and every value (type and bytes) below a root, one line each.
using RegistryDump = std::set<std::string>;

inline void dump_key(HKEY key, const std::wstring& path, RegistryDump& dump) {
    const std::string where(path.begin(), path.end());
    dump.insert("key " + where);
    wchar_t name[16384];
    DWORD type = 0;
    for (DWORD index = 0, name_size = 16384, size = 0;
         RegEnumValueW(key, index, name, &name_size, nullptr, &type, nullptr, &size) ==
         ERROR_SUCCESS;
         ++index, name_size = 16384) {
        std::vector<std::uint8_t> data(size);
        name_size = 16384;
        RegEnumValueW(key, index, name, &name_size, nullptr, &type, data.data(), &size);
        std::ostringstream line;
        line << "value " << where << " : " << std::string(name, name + name_size) << " = " << type
             << " [";
        for (DWORD at = 0; at < size; ++at) {
            line << ' ' << static_cast<int>(data[at]);
        }
        dump.insert(line.str() + " ]");
    }
    for (DWORD index = 0, name_size = 256;
         RegEnumKeyExW(key, index, name, &name_size, nullptr, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
         ++index, name_size = 256) {
        UniqueRegistryKey child;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, child.put()) == ERROR_SUCCESS) {
            dump_key(child.get(), path.empty() ? name : path + L"\\" + name, dump);
        }
    }
}

// The lines only one dump holds, marked "-" (expected only) or "+" (actual only).
inline std::string dump_difference(const RegistryDump& expected, const RegistryDump& actual) {
    std::string difference;
    for (const std::string& line : expected) {
        difference += actual.contains(line) ? "" : "- " + line + "\n";
    }
    for (const std::string& line : actual) {
        difference += expected.contains(line) ? "" : "+ " + line + "\n";
    }
    return difference;
}

class ScratchRegistry {
public:
    ScratchRegistry()
        : base_(L"Software\\PellixTests\\" + std::to_wstring(std::random_device()())),
          user_(create(HKEY_CURRENT_USER, base_ + L"\\user")),
          machine_(create(HKEY_CURRENT_USER, base_ + L"\\machine")),
          registry_(make_user_registry(user_.get(), machine_.get())) {
        // Every real user hive has it; the registration never creates or removes it.
        create(user_.get(), L"Software");
    }
    ~ScratchRegistry() {
        user_.reset();
        machine_.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, base_.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\PellixTests");
    }
    ScratchRegistry(const ScratchRegistry&) = delete;
    ScratchRegistry& operator=(const ScratchRegistry&) = delete;

    AssociationRegistry& registry() { return *registry_; }
    HKEY user() const { return user_.get(); }
    RegistryDump dump() const {
        RegistryDump dump;
        dump_key(user_.get(), L"", dump);
        return dump;
    }

    // Raw writes past the code under test.
    void put(const std::wstring& key, const std::wstring& name, const RegistryValue& value,
             bool machine = false) {
        ASSERT_EQ(RegSetKeyValueW(machine ? machine_.get() : user_.get(), key.c_str(), name.c_str(),
                                  value.type, value.data.empty() ? nullptr : value.data.data(),
                                  static_cast<DWORD>(value.data.size())),
                  ERROR_SUCCESS);
    }
    void put_text(const std::wstring& key, const std::wstring& name, const std::wstring& text,
                  bool machine = false) {
        put(key, name, string_value(text), machine);
    }

private:
    static UniqueRegistryKey create(HKEY root, const std::wstring& path) {
        UniqueRegistryKey key;
        EXPECT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  key.put(), nullptr),
                  ERROR_SUCCESS);
        return key;
    }

    std::wstring base_;
    UniqueRegistryKey user_;
    UniqueRegistryKey machine_;
    std::unique_ptr<AssociationRegistry> registry_;
};

// Passes every call to the real registry and lists the writes. The write numbered
// `fail_write` (from 1) fails with access denied, before or after it reaches the registry;
// with `fail_undo` every later change fails too. Writes after the failure are not listed.
class FaultyRegistry final : public AssociationRegistry {
public:
    explicit FaultyRegistry(AssociationRegistry& inner) : inner_(inner) {}

    std::vector<RegistryWrite> writes;
    int fail_write = 0;
    bool fail_after_write = false;
    bool fail_undo = false;

    std::optional<RegistryValue> read_value(const std::wstring& key, const std::wstring& name,
                                            bool machine) override {
        return inner_.read_value(key, name, machine);
    }
    bool key_exists(const std::wstring& key) override { return inner_.key_exists(key); }
    void write_value(const RegistryWrite& write) override {
        if (failed()) {
            check_undo();
            inner_.write_value(write);
            return;
        }
        writes.push_back(write);
        const bool fails = failed();
        if (fails && !fail_after_write) {
            throw_registration_error(ERROR_ACCESS_DENIED);
        }
        inner_.write_value(write);
        if (fails) {
            throw_registration_error(ERROR_ACCESS_DENIED);
        }
    }
    void delete_value(const std::wstring& key, const std::wstring& name) override {
        check_undo();
        inner_.delete_value(key, name);
    }
    void delete_key_if_empty(const std::wstring& key) override {
        check_undo();
        inner_.delete_key_if_empty(key);
    }

private:
    bool failed() const { return fail_write != 0 && static_cast<int>(writes.size()) >= fail_write; }
    void check_undo() const {
        if (fail_undo && failed()) {
            throw_registration_error(ERROR_ACCESS_DENIED);
        }
    }
    AssociationRegistry& inner_;
};

// The status of the std::system_error "Markdown registration" that `call` throws, or -1.
template <class Call> int registration_error_of(Call&& call) {
    try {
        call();
    } catch (const std::system_error& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Markdown registration", 0), 0u);
        return error.code().category() == std::system_category() ? error.code().value() : -2;
    }
    return -1;
}

} // namespace pellix::test
