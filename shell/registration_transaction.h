#pragma once

// Registering the program for the current user as one transaction: every write goes through a
// journal, and a failure part-way restores every value changed and removes every key created,
// so the user's registry is left as it was found.

#include "shell/registry_access.h"

#include <set>
#include <string>
#include <vector>

namespace pellix {

// The old state of everything one registration changed. Local to one registration.
struct RegistrationJournal {
    AssociationRegistry& registry;
    // One record per performed write: key, name and the value before it (type 0 and no data
    // when there was none).
    std::vector<RegistryWrite> old_values;
    std::vector<bool> existed;
    // Keys that did not exist before some write and may have been created by it.
    std::set<std::wstring> created_keys;
};

// One journaled write. A value already holding the planned data is left alone and not
// journaled.
void apply_write(RegistrationJournal& journal, const RegistryWrite& write);

// Writes the plan for `exe`, claims the extensions that have no default and no user choice, and
// rolls everything back when a step fails: the first failure is rethrown, or std::runtime_error
// when the rollback itself could not restore everything.
void apply_registration(AssociationRegistry& registry, const std::wstring& exe);

// Registers the running executable in the user's hive and tells the shell that associations
// changed.
void register_markdown_handler();

// Tells the shell that file associations changed.
void notify_associations_changed();

} // namespace pellix
