#include "shell/registry_access.h"

#include "platform/unique_registry_key.h"

#include <stdexcept>
#include <system_error>
#include <utility>

namespace pellix {
namespace {

constexpr DWORD value_size_limit = 0x100000;
constexpr wchar_t classes_prefix[] = L"Software\\Classes\\";

std::function<void()>& read_hook() {
    static std::function<void()> hook;
    return hook;
}

bool is_not_found(LSTATUS status) {
    return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND;
}

// The key opened with `access`, or an empty key when it does not exist.
UniqueRegistryKey open_key(HKEY root, const std::wstring& path, REGSAM access) {
    UniqueRegistryKey key;
    const LSTATUS status = RegOpenKeyExW(root, path.c_str(), 0, access, key.put());
    if (is_not_found(status)) {
        return {};
    }
    throw_registration_error(status);
    return key;
}

class UserRegistry final : public AssociationRegistry {
public:
    UserRegistry(HKEY user_root, HKEY machine_root)
        : user_root_(user_root), machine_root_(machine_root) {}

    std::optional<RegistryValue> read_value(const std::wstring& key, const std::wstring& name,
                                            bool machine) override {
        const UniqueRegistryKey opened =
            open_key(machine ? machine_root_ : user_root_, key, KEY_QUERY_VALUE);
        if (!opened) {
            return std::nullopt;
        }
        RegistryValue value;
        DWORD type = REG_NONE;
        DWORD size = 0;
        LSTATUS status =
            RegQueryValueExW(opened.get(), name.c_str(), nullptr, &type, nullptr, &size);
        if (is_not_found(status)) {
            return std::nullopt;
        }
        throw_registration_error(status);
        if (size > value_size_limit) {
            throw std::runtime_error("Markdown registration value exceeds 1 MiB");
        }
        if (read_hook()) {
            read_hook()();
        }
        value.data.assign(size, 0);
        status = RegQueryValueExW(opened.get(), name.c_str(), nullptr, &type,
                                  value.data.empty() ? nullptr : value.data.data(), &size);
        if (is_not_found(status)) {
            return std::nullopt;
        }
        throw_registration_error(status);
        value.type = type;
        value.data.resize(size, 0);
        return value;
    }

    bool key_exists(const std::wstring& key) override {
        return static_cast<bool>(open_key(user_root_, key, KEY_QUERY_VALUE));
    }

    void write_value(const RegistryWrite& write) override {
        UniqueRegistryKey key;
        throw_registration_error(RegCreateKeyExW(user_root_, write.key.c_str(), 0, nullptr,
                                                 REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                                                 key.put(), nullptr));
        const std::vector<std::uint8_t>& data = write.value.data;
        throw_registration_error(RegSetValueExW(key.get(), write.name.c_str(), 0, write.value.type,
                                                data.empty() ? nullptr : data.data(),
                                                static_cast<DWORD>(data.size())));
    }

    void delete_value(const std::wstring& key, const std::wstring& name) override {
        const UniqueRegistryKey opened = open_key(user_root_, key, KEY_SET_VALUE);
        if (!opened) {
            return;
        }
        const LSTATUS status = RegDeleteValueW(opened.get(), name.c_str());
        if (!is_not_found(status)) {
            throw_registration_error(status);
        }
    }

    void delete_key_if_empty(const std::wstring& key) override {
        UniqueRegistryKey opened =
            open_key(user_root_, key, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS);
        if (!opened) {
            return;
        }
        DWORD subkeys = 0;
        DWORD values = 0;
        throw_registration_error(RegQueryInfoKeyW(opened.get(), nullptr, nullptr, nullptr, &subkeys,
                                                  nullptr, nullptr, &values, nullptr, nullptr,
                                                  nullptr, nullptr));
        if (subkeys != 0 || values != 0) {
            return;
        }
        opened.reset();
        const LSTATUS status = RegDeleteKeyW(user_root_, key.c_str());
        if (!is_not_found(status)) {
            throw_registration_error(status);
        }
    }

private:
    HKEY user_root_;
    HKEY machine_root_;
};

} // namespace

std::unique_ptr<AssociationRegistry> make_user_registry(HKEY user_root, HKEY machine_root) {
    return std::make_unique<UserRegistry>(user_root, machine_root);
}

void throw_registration_error(LSTATUS status) {
    if (status != ERROR_SUCCESS) {
        throw std::system_error(static_cast<int>(status), std::system_category(),
                                "Markdown registration");
    }
}

RegistryValue string_value(const std::wstring& text) {
    RegistryValue value{.type = REG_SZ, .data = {}};
    value.data.reserve((text.size() + 1) * 2);
    for (const wchar_t unit : text) {
        value.data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        value.data.push_back(static_cast<std::uint8_t>((unit >> 8) & 0xFF));
    }
    value.data.push_back(0);
    value.data.push_back(0);
    return value;
}

std::wstring registry_value_text(const std::optional<RegistryValue>& value) {
    if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ) ||
        value->data.size() % 2 != 0) {
        return {};
    }
    std::wstring text;
    for (std::size_t at = 0; at < value->data.size(); at += 2) {
        const auto unit = static_cast<wchar_t>(value->data[at] | (value->data[at + 1] << 8));
        if (unit == L'\0') {
            break;
        }
        text.push_back(unit);
    }
    return text;
}

std::wstring classes_key(const std::wstring& name) {
    return classes_prefix + name;
}

void add_string_write(std::vector<RegistryWrite>& plan, const std::wstring& key,
                      const std::wstring& name, const std::wstring& text) {
    plan.push_back(RegistryWrite{.key = key, .name = name, .value = string_value(text)});
}

ScopedRegistryReadHook::ScopedRegistryReadHook(std::function<void()> between)
    : previous_(std::exchange(read_hook(), std::move(between))) {}

ScopedRegistryReadHook::~ScopedRegistryReadHook() {
    read_hook() = std::move(previous_);
}

} // namespace pellix
