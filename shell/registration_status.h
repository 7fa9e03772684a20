#pragma once

// What reads or undoes a registration: the status of the registration for this copy of the
// program, the start-up repair of a registration whose executable is gone, and unregistering,
// which removes only values that still hold what the program wrote.

#include "shell/registry_access.h"

#include <string>
#include <string_view>

namespace pellix {

enum class RegistrationStatus : int {
    not_registered = 0,
    this_copy = 1,
    other_copy = 2,
    missing_copy = 3,
};

// Equal length and equal units, with only the ASCII letters compared without regard to case.
bool same_text_ignoring_ascii_case(std::wstring_view a, std::wstring_view b);

// The executable named by the registered open command, or "" when there is none.
std::wstring registered_command_path(AssociationRegistry& registry);

// The status for the running executable `running_exe`.
RegistrationStatus registration_status(AssociationRegistry& registry,
                                       const std::wstring& running_exe);
RegistrationStatus registration_status();

// Registers `running_exe` again when the registered copy no longer exists; every failure is
// swallowed, since a start-up must not be stopped by it. True when it registered.
bool repair_stale_registration(AssociationRegistry& registry, const std::wstring& running_exe);
void repair_stale_registration();

// Removes the values written for the registered copy (or for `running_exe` when none is
// registered) that still hold the planned data, the program's default of each extension it
// claimed, the claimed list, and every key this leaves empty. Not journaled: a failure part-way
// leaves what was removed removed.
void remove_markdown_registration(AssociationRegistry& registry, const std::wstring& running_exe);

// remove_markdown_registration for the running executable in the user's hive, then the shell is
// told that associations changed.
void unregister_markdown_handler();

} // namespace pellix
