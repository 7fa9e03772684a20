#pragma once

// The registration described once, as data: the ordered writes that make an executable the
// per-user handler candidate for Markdown files. Registering writes them, unregistering removes
// the ones that still match, and the status test looks at the last one first.

#include "shell/registry_access.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pellix {

inline constexpr wchar_t markdown_prog_id[] = L"Pellix.Markdown";
inline constexpr wchar_t prog_id_key[] = L"Software\\Classes\\Pellix.Markdown";
inline constexpr wchar_t prog_id_command_key[] =
    L"Software\\Classes\\Pellix.Markdown\\shell\\open\\command";
inline constexpr wchar_t application_key[] = L"Software\\Classes\\Applications\\Pellix.exe";
inline constexpr wchar_t capabilities_key[] = L"Software\\Orvelworks\\Pellix Native\\Capabilities";
inline constexpr wchar_t association_state_key[] =
    L"Software\\Orvelworks\\Pellix Native\\Association";
inline constexpr wchar_t claimed_extensions_name[] = L"ClaimedExtensions";
inline constexpr wchar_t registered_applications_key[] = L"Software\\RegisteredApplications";
inline constexpr wchar_t registered_application_name[] = L"Pellix";

// The running executable's full path. Throws std::runtime_error for a path beyond 32767 units
// and std::system_error when the module name cannot be had.
std::filesystem::path executable_path();

// The writes for `exe`, always 25, the RegisteredApplications value last. Throws
// std::invalid_argument for an empty path or one holding a double quote or a NUL.
std::vector<RegistryWrite> registration_plan(const std::wstring& exe);

// The extensions of the table that the stored ';'-separated list names exactly, in table order.
std::vector<std::wstring> parse_claimed_extensions(const std::optional<RegistryValue>& value);

} // namespace pellix
