#pragma once

// A throw-away pair of registry roots under HKCU\Software\PellixTests for the registration
// tests: "user" stands for the user's hive and "machine" for the machine hive. The real
// registry implementation works on them, and the whole tree is deleted afterwards.

#include "platform/unique_registry_key.h"
#include "shell/registry_access.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <map>
#include <ostream>
#include <sstream>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace pellix::test {

// Every key (by path) and every value (by key path and name) below a root.
struct RegistryDump {
    std::set<std::wstring> keys;
    std::map<std::pair<std::wstring, std::wstring>, RegistryValue> values;

    friend bool operator==(const RegistryDump&, const RegistryDump&) = default;
};

inline std::string narrow(const std::wstring& text) {
    std::string out;
    for (const wchar_t unit : text) {
        out.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return out;
}

inline void PrintTo(const RegistryValue& value, std::ostream* out) {
    *out << "type " << value.type << " [";
    for (const std::uint8_t byte : value.data) {
        *out << ' ' << static_cast<int>(byte);
    }
    *out << " ]";
}

inline void PrintTo(const RegistryDump& dump, std::ostream* out) {
    for (const std::wstring& key : dump.keys) {
        *out << "\n  key " << narrow(key);
    }
    for (const auto& [where, value] : dump.values) {
        *out << "\n  value " << narrow(where.first) << " : " << narrow(where.second) << " = ";
        PrintTo(value, out);
    }
}

// What one dump holds that the other does not, one line each, for readable failures.
inline std::string dump_difference(const RegistryDump& expected, const RegistryDump& actual) {
    std::ostringstream out;
    for (const std::wstring& key : expected.keys) {
        if (!actual.keys.contains(key)) {
            out << "missing key " << narrow(key) << "\n";
        }
    }
    for (const std::wstring& key : actual.keys) {
        if (!expected.keys.contains(key)) {
            out << "extra key " << narrow(key) << "\n";
        }
    }
    for (const auto& [where, value] : expected.values) {
        const auto found = actual.values.find(where);
        if (found == actual.values.end() || !(found->second == value)) {
            out << (found == actual.values.end() ? "missing" : "changed") << " value "
                << narrow(where.first) << " : " << narrow(where.second) << "\n";
        }
    }
    for (const auto& [where, value] : actual.values) {
        if (!expected.values.contains(where)) {
            out << "extra value " << narrow(where.first) << " : " << narrow(where.second) << "\n";
        }
    }
    return out.str();
}

inline void dump_key(HKEY key, const std::wstring& path, RegistryDump& dump) {
    dump.keys.insert(path);
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD name_size = 16384;
        DWORD type = 0;
        DWORD size = 0;
        if (RegEnumValueW(key, index, name, &name_size, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS) {
            break;
        }
        RegistryValue value{.type = type, .data = std::vector<std::uint8_t>(size)};
        name_size = 16384;
        RegEnumValueW(key, index, name, &name_size, nullptr, &type, value.data.data(), &size);
        value.data.resize(size);
        dump.values[{path, std::wstring(name, name_size)}] = value;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD name_size = 256;
        if (RegEnumKeyExW(key, index, name, &name_size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        const std::wstring child = path.empty() ? name : path + L"\\" + name;
        UniqueRegistryKey opened;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, opened.put()) == ERROR_SUCCESS) {
            dump_key(opened.get(), child, dump);
        }
    }
}

inline RegistryDump dump_registry(HKEY root) {
    RegistryDump dump;
    dump_key(root, L"", dump);
    return dump;
}

class ScratchRegistry {
public:
    ScratchRegistry() {
        std::random_device seed;
        base_ = L"Software\\PellixTests\\" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(seed());
        user_ = create(base_ + L"\\user");
        machine_ = create(base_ + L"\\machine");
        registry_ = make_user_registry(user_.get(), machine_.get());
        // Every real user hive has it, and the registration never creates or removes it.
        UniqueRegistryKey software;
        EXPECT_EQ(RegCreateKeyExW(user_.get(), L"Software", 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_READ, nullptr, software.put(), nullptr),
                  ERROR_SUCCESS);
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
    RegistryDump dump() const { return dump_registry(user_.get()); }

    // Raw writes that bypass the code under test.
    void put(const std::wstring& key, const std::wstring& name, RegistryValue value,
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
    static UniqueRegistryKey create(const std::wstring& path) {
        UniqueRegistryKey key;
        EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.put(),
                                  nullptr),
                  ERROR_SUCCESS);
        return key;
    }

    std::wstring base_;
    UniqueRegistryKey user_;
    UniqueRegistryKey machine_;
    std::unique_ptr<AssociationRegistry> registry_;
};

// Passes every call to the real registry, counts the writes, and fails chosen calls with
// access denied, before or after doing them.
class FaultyRegistry final : public AssociationRegistry {
public:
    explicit FaultyRegistry(AssociationRegistry& inner) : inner_(inner) {}

    std::vector<RegistryWrite> writes;
    int fail_write = 0; // 1-based number of the write that fails; 0: none
    bool fail_after_write = false;
    bool fail_every_undo = false; // every delete once a write has failed

    std::optional<RegistryValue> read_value(const std::wstring& key, const std::wstring& name,
                                            bool machine) override {
        return inner_.read_value(key, name, machine);
    }
    bool key_exists(const std::wstring& key) override { return inner_.key_exists(key); }
    void write_value(const RegistryWrite& write) override {
        if (failed()) {
            fail_undo();
            inner_.write_value(write);
            return;
        }
        writes.push_back(write);
        const bool fails = static_cast<int>(writes.size()) == fail_write;
        if (fails && !fail_after_write) {
            throw_registration_error(ERROR_ACCESS_DENIED);
        }
        inner_.write_value(write);
        if (fails) {
            throw_registration_error(ERROR_ACCESS_DENIED);
        }
    }
    void delete_value(const std::wstring& key, const std::wstring& name) override {
        fail_undo();
        inner_.delete_value(key, name);
    }
    void delete_key_if_empty(const std::wstring& key) override {
        fail_undo();
        inner_.delete_key_if_empty(key);
    }

private:
    bool failed() const { return fail_write != 0 && static_cast<int>(writes.size()) >= fail_write; }
    void fail_undo() const {
        if (fail_every_undo && failed()) {
            throw_registration_error(ERROR_ACCESS_DENIED);
        }
    }
    AssociationRegistry& inner_;
};

// The Win32 status of a std::system_error thrown by `call`, or -1.
template <class Call> int registration_error_of(Call&& call) {
    try {
        call();
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().category(), std::system_category());
        EXPECT_EQ(std::string(error.what()).rfind("Markdown registration", 0), 0u);
        return error.code().value();
    }
    return -1;
}

} // namespace pellix::test
