#include "shell/registration_transaction.h"

#include "core/markdown_extensions.h"
#include "shell/registration_plan.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <stdexcept>

namespace pellix {
namespace {

constexpr std::size_t plan_size_before_registered_application = 24;
constexpr wchar_t user_choice_prefix[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\";
constexpr wchar_t user_choice_suffix[] = L"\\UserChoice";

bool is_empty_default(const std::optional<RegistryValue>& value) {
    return !value || (value->type == REG_SZ && registry_value_text(value).empty());
}

std::wstring join_claimed(const std::vector<std::wstring>& claimed) {
    std::wstring joined;
    for (const std::wstring& extension : claimed) {
        if (!joined.empty()) {
            joined += L';';
        }
        joined += extension;
    }
    return joined;
}

// The key and each ancestor up to, not including, "Software".
std::vector<std::wstring> key_and_ancestors(std::wstring key) {
    std::vector<std::wstring> keys;
    while (!key.empty() && key != L"Software") {
        keys.push_back(key);
        const std::size_t cut = key.rfind(L'\\');
        if (cut == std::wstring::npos) {
            break;
        }
        key.resize(cut);
    }
    return keys;
}

// Another program's default (any non-empty or non-REG_SZ value, in either hive) or a choice the
// user made in Windows keeps the program from taking over the extension.
bool extension_is_claimable(AssociationRegistry& registry, const std::wstring& extension) {
    const std::wstring key = classes_key(extension);
    return is_empty_default(registry.read_value(key, L"", false)) &&
           is_empty_default(registry.read_value(key, L"", true)) &&
           !registry.read_value(user_choice_prefix + extension + user_choice_suffix, L"ProgId",
                                false);
}

// Extends the claimed list with the extensions free now, stores it, and makes the program the
// default of every listed extension that is still free. The list is kept in table order, the
// order in which it is read back, so that registering again over an unchanged registration
// rewrites nothing.
void write_claims(RegistrationJournal& journal, const std::vector<std::wstring>& earlier) {
    std::vector<std::wstring> claimed;
    for (const std::wstring_view view : markdown_extensions) {
        const std::wstring extension(view);
        if (std::find(earlier.begin(), earlier.end(), extension) != earlier.end() ||
            extension_is_claimable(journal.registry, extension)) {
            claimed.push_back(extension);
        }
    }
    RegistryWrite list;
    list.key = association_state_key;
    list.name = claimed_extensions_name;
    list.value = string_value(join_claimed(claimed));
    apply_write(journal, list);
    for (const std::wstring& extension : claimed) {
        if (extension_is_claimable(journal.registry, extension)) {
            apply_write(journal, RegistryWrite{.key = classes_key(extension),
                                               .name = L"",
                                               .value = string_value(markdown_prog_id)});
        }
    }
}

// Runs every undo step even when some fail; true when all succeeded.
bool roll_back(RegistrationJournal& journal) {
    bool complete = true;
    auto attempt = [&complete](auto&& step) {
        try {
            step();
        } catch (...) {
            complete = false;
        }
    };
    for (std::size_t at = journal.old_values.size(); at-- > 0;) {
        const RegistryWrite& old = journal.old_values[at];
        if (journal.existed[at]) {
            attempt([&] { journal.registry.write_value(old); });
        } else {
            attempt([&] { journal.registry.delete_value(old.key, old.name); });
        }
    }
    // Descending text order visits every key before its parent, which is a prefix of it.
    for (auto key = journal.created_keys.rbegin(); key != journal.created_keys.rend(); ++key) {
        attempt([&] { journal.registry.delete_key_if_empty(*key); });
    }
    return complete;
}

} // namespace

void apply_write(RegistrationJournal& journal, const RegistryWrite& write) {
    const std::optional<RegistryValue> current =
        journal.registry.read_value(write.key, write.name, false);
    if (current && *current == write.value) {
        return;
    }
    for (const std::wstring& key : key_and_ancestors(write.key)) {
        if (!journal.registry.key_exists(key)) {
            journal.created_keys.insert(key);
        }
    }
    journal.existed.push_back(current.has_value());
    journal.old_values.push_back(RegistryWrite{
        .key = write.key, .name = write.name, .value = current.value_or(RegistryValue{})});
    journal.registry.write_value(write);
}

void apply_registration(AssociationRegistry& registry, const std::wstring& exe) {
    const std::vector<RegistryWrite> plan = registration_plan(exe);
    const std::vector<std::wstring> claimed = parse_claimed_extensions(
        registry.read_value(association_state_key, claimed_extensions_name, false));
    RegistrationJournal journal{
        .registry = registry, .old_values = {}, .existed = {}, .created_keys = {}};
    try {
        for (std::size_t at = 0; at < plan_size_before_registered_application; ++at) {
            apply_write(journal, plan[at]);
        }
        write_claims(journal, claimed);
        apply_write(journal, plan.back());
    } catch (...) {
        if (!roll_back(journal)) {
            throw std::runtime_error(
                "Markdown registration failed and some registry values could not be restored. "
                "Try the action again after checking permissions.");
        }
        throw;
    }
}

void register_markdown_handler() {
    const std::unique_ptr<AssociationRegistry> registry = make_user_registry();
    apply_registration(*registry, executable_path().wstring());
    notify_associations_changed();
}

void notify_associations_changed() {
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

} // namespace pellix
