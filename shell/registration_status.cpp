#include "shell/registration_status.h"

#include "shell/registration_plan.h"
#include "shell/registration_transaction.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <memory>
#include <set>
#include <string_view>
#include <vector>

namespace pellix {
namespace {

constexpr std::wstring_view exe_suffix = L".exe";

// Keys shared with other programs or holding the settings: unregistering never removes them.
constexpr std::array<std::wstring_view, 5> kept_keys = {
    L"Software", L"Software\\Classes", L"Software\\Classes\\Applications",
    L"Software\\RegisteredApplications", L"Software\\Orvelworks\\Pellix Native"};

wchar_t ascii_lower(wchar_t unit) {
    return unit >= L'A' && unit <= L'Z' ? static_cast<wchar_t>(unit - L'A' + L'a') : unit;
}

wchar_t path_unit(wchar_t unit) {
    return unit == L'/' ? L'\\' : ascii_lower(unit);
}

template <class Fold> bool same_when_folded(std::wstring_view a, std::wstring_view b, Fold fold) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [fold](wchar_t x, wchar_t y) { return fold(x) == fold(y); });
}

// Only letter case and the two separators are forgiven; relative parts, short names and links
// are not resolved.
bool same_executable(std::wstring_view a, std::wstring_view b) {
    return same_when_folded(a, b, path_unit);
}

bool is_blank(wchar_t unit) {
    return unit == L' ' || unit == L'\t';
}

bool is_space(wchar_t unit) {
    return is_blank(unit) || unit == L'\r' || unit == L'\n';
}

std::wstring_view quoted_path(std::wstring_view command) {
    const std::size_t close = command.find(L'"', 1);
    return close == std::wstring_view::npos ? std::wstring_view() : command.substr(1, close - 1);
}

std::wstring_view unquoted_path(std::wstring_view command) {
    for (std::size_t end = exe_suffix.size(); end <= command.size(); ++end) {
        if (same_text_ignoring_ascii_case(
                command.substr(end - exe_suffix.size(), exe_suffix.size()), exe_suffix) &&
            (end == command.size() || is_blank(command[end]))) {
            return command.substr(0, end);
        }
    }
    std::size_t end = 0;
    while (end < command.size() && !is_space(command[end])) {
        ++end;
    }
    return command.substr(0, end);
}

bool file_is_gone(const std::wstring& path) {
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

void collect_keys_to_prune(std::wstring key, std::set<std::wstring>& keys) {
    while (!key.empty() && std::find(kept_keys.begin(), kept_keys.end(), key) == kept_keys.end()) {
        keys.insert(key);
        const std::size_t cut = key.rfind(L'\\');
        if (cut == std::wstring::npos) {
            return;
        }
        key.resize(cut);
    }
}

void remove_claimed_defaults(AssociationRegistry& registry) {
    const std::vector<std::wstring> claimed = parse_claimed_extensions(
        registry.read_value(association_state_key, claimed_extensions_name, false));
    for (const std::wstring& extension : claimed) {
        const std::wstring key = classes_key(extension);
        if (same_text_ignoring_ascii_case(registry_value_text(registry.read_value(key, L"", false)),
                                          markdown_prog_id)) {
            registry.delete_value(key, L"");
        }
    }
}

} // namespace

bool same_text_ignoring_ascii_case(std::wstring_view a, std::wstring_view b) {
    return same_when_folded(a, b, ascii_lower);
}

std::wstring registered_command_path(AssociationRegistry& registry) {
    const std::wstring command =
        registry_value_text(registry.read_value(prog_id_command_key, L"", false));
    std::wstring_view rest = command;
    while (!rest.empty() && is_space(rest.front())) {
        rest.remove_prefix(1);
    }
    if (rest.empty()) {
        return {};
    }
    return std::wstring(rest.front() == L'"' ? quoted_path(rest) : unquoted_path(rest));
}

RegistrationStatus registration_status(AssociationRegistry& registry,
                                       const std::wstring& running_exe) {
    const std::wstring listed = registry_value_text(
        registry.read_value(registered_applications_key, registered_application_name, false));
    if (listed != capabilities_key) {
        return RegistrationStatus::not_registered;
    }
    const std::wstring registered = registered_command_path(registry);
    if (registered.empty()) {
        return RegistrationStatus::not_registered;
    }
    if (same_executable(registered, running_exe)) {
        return RegistrationStatus::this_copy;
    }
    return file_is_gone(registered) ? RegistrationStatus::missing_copy
                                    : RegistrationStatus::other_copy;
}

RegistrationStatus registration_status() {
    const std::unique_ptr<AssociationRegistry> registry = make_user_registry();
    return registration_status(*registry, executable_path().wstring());
}

bool repair_stale_registration(AssociationRegistry& registry, const std::wstring& running_exe) {
    try {
        if (registration_status(registry, running_exe) != RegistrationStatus::missing_copy) {
            return false;
        }
        apply_registration(registry, running_exe);
        notify_associations_changed();
        return true;
    } catch (...) {
        return false;
    }
}

void repair_stale_registration() {
    try {
        const std::unique_ptr<AssociationRegistry> registry = make_user_registry();
        repair_stale_registration(*registry, executable_path().wstring());
    } catch (...) {
    }
}

void remove_markdown_registration(AssociationRegistry& registry, const std::wstring& running_exe) {
    std::wstring program = registered_command_path(registry);
    if (program.empty()) {
        program = running_exe;
    }
    const std::vector<RegistryWrite> plan = registration_plan(program);
    remove_claimed_defaults(registry);
    std::set<std::wstring> keys_to_prune;
    for (auto entry = plan.rbegin(); entry != plan.rend(); ++entry) {
        const std::optional<RegistryValue> current =
            registry.read_value(entry->key, entry->name, false);
        if (current && *current == entry->value) {
            registry.delete_value(entry->key, entry->name);
        }
        collect_keys_to_prune(entry->key, keys_to_prune);
    }
    registry.delete_value(association_state_key, claimed_extensions_name);
    keys_to_prune.insert(association_state_key);
    // Descending text order visits every key before its parent, which is a prefix of it.
    for (auto key = keys_to_prune.rbegin(); key != keys_to_prune.rend(); ++key) {
        registry.delete_key_if_empty(*key);
    }
}

void unregister_markdown_handler() {
    const std::unique_ptr<AssociationRegistry> registry = make_user_registry();
    remove_markdown_registration(*registry, executable_path().wstring());
    notify_associations_changed();
}

} // namespace pellix
