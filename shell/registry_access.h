#pragma once

// Registry access of the file-type registration. Every read and change it makes goes through
// AssociationRegistry, whose one implementation writes only under the user's hive and may read
// the machine hive. Failures are std::system_error values carrying the Win32 status and the
// text "Markdown registration".

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pellix {

// One registry value as raw data: the type code as stored and the bytes exactly as stored
// (UTF-16LE text for the string types).
struct RegistryValue {
    std::uint32_t type = REG_NONE;
    std::vector<std::uint8_t> data;

    friend bool operator==(const RegistryValue&, const RegistryValue&) = default;
};

// One planned write, also a journal record of an old value. The key is relative to the user
// root, with backslashes and no leading or trailing one; an empty name is the default value.
struct RegistryWrite {
    std::wstring key;
    std::wstring name;
    RegistryValue value;
};

class AssociationRegistry {
public:
    virtual ~AssociationRegistry() = default;

    // The value, or nothing when the key or the value does not exist. Reads the machine root
    // when `machine` is true. Refuses a value above 1 MiB with std::runtime_error.
    virtual std::optional<RegistryValue> read_value(const std::wstring& key,
                                                    const std::wstring& name, bool machine) = 0;
    virtual bool key_exists(const std::wstring& key) = 0;
    // Creates every missing key on the path.
    virtual void write_value(const RegistryWrite& write) = 0;
    // A missing key or value is not an error.
    virtual void delete_value(const std::wstring& key, const std::wstring& name) = 0;
    // Deletes the key only when it holds no value and no subkey; a missing key is not an error.
    virtual void delete_key_if_empty(const std::wstring& key) = 0;
};

// The registry of the program: HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE. Tests pass keys of
// their own as the two roots; the roots must stay open while the object lives.
std::unique_ptr<AssociationRegistry> make_user_registry(HKEY user_root = HKEY_CURRENT_USER,
                                                        HKEY machine_root = HKEY_LOCAL_MACHINE);

// Throws std::system_error (system category, "Markdown registration") for a non-zero status.
void throw_registration_error(LSTATUS status);

// A REG_SZ value holding the text and its terminating NUL.
RegistryValue string_value(const std::wstring& text);

// The text of a REG_SZ or REG_EXPAND_SZ value (unexpanded) up to its first NUL; empty for an
// absent value, another type or an odd byte count.
std::wstring registry_value_text(const std::optional<RegistryValue>& value);

// "Software\Classes\" followed by a ProgID or an extension.
std::wstring classes_key(const std::wstring& name);

void add_string_write(std::vector<RegistryWrite>& plan, const std::wstring& key,
                      const std::wstring& name, const std::wstring& text);

// Tests only (not thread-safe): runs `between` inside read_value after the size query and
// before the read, so that a test can change the value in that window.
class ScopedRegistryReadHook {
public:
    explicit ScopedRegistryReadHook(std::function<void()> between);
    ~ScopedRegistryReadHook();
    ScopedRegistryReadHook(const ScopedRegistryReadHook&) = delete;
    ScopedRegistryReadHook& operator=(const ScopedRegistryReadHook&) = delete;

private:
    std::function<void()> previous_;
};

} // namespace pellix
