#include "shell/registration_plan.h"

#include "core/markdown_extensions.h"

#include <windows.h>

#include <algorithm>
#include <stdexcept>
#include <system_error>

namespace pellix {
namespace {

constexpr DWORD first_path_buffer = 512;
constexpr DWORD windows_path_limit = 32767;
constexpr wchar_t document_type_name[] = L"Markdown Document";
constexpr wchar_t application_name[] = L"Pellix";
constexpr wchar_t application_description[] = L"Native Markdown editor and viewer";
constexpr wchar_t document_icon[] = L",-103";
constexpr wchar_t application_icon[] = L",-101";

std::wstring quoted(const std::wstring& path) {
    return L"\"" + path + L"\"";
}

std::vector<std::wstring> split_items(const std::wstring& text) {
    std::vector<std::wstring> items;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(L';', start);
        items.push_back(text.substr(start, end - start));
        if (end == std::wstring::npos) {
            return items;
        }
        start = end + 1;
    }
}

} // namespace

std::filesystem::path executable_path() {
    std::wstring buffer(first_path_buffer, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
        if (length == 0) {
            const DWORD error = GetLastError();
            if (error != ERROR_SUCCESS) {
                throw std::system_error(static_cast<int>(error), std::system_category(),
                                        "Markdown registration");
            }
            return {};
        }
        if (length < size) {
            buffer.resize(length);
            return std::filesystem::path(buffer);
        }
        if (size > windows_path_limit) {
            throw std::runtime_error("Executable path exceeds Windows path limit");
        }
        buffer.assign(static_cast<std::size_t>(size) * 2, L'\0');
    }
}

std::vector<RegistryWrite> registration_plan(const std::wstring& exe) {
    if (exe.empty() || exe.find_first_of(std::wstring(L"\"\0", 2)) != std::wstring::npos) {
        throw std::invalid_argument("Invalid executable path for Markdown registration");
    }
    const std::wstring program = quoted(exe);
    const std::wstring open_command = program + L" \"%1\"";
    const std::wstring prog_id = prog_id_key;
    const std::wstring application = application_key;
    const std::wstring capabilities = capabilities_key;

    std::vector<RegistryWrite> plan;
    add_string_write(plan, prog_id, L"", document_type_name);
    add_string_write(plan, prog_id, L"FriendlyTypeName", document_type_name);
    add_string_write(plan, prog_id + L"\\DefaultIcon", L"", program + document_icon);
    add_string_write(plan, prog_id_command_key, L"", open_command);
    add_string_write(plan, application, L"FriendlyAppName", application_name);
    add_string_write(plan, application + L"\\shell\\open\\command", L"", open_command);
    add_string_write(plan, capabilities, L"ApplicationName", application_name);
    add_string_write(plan, capabilities, L"ApplicationDescription", application_description);
    add_string_write(plan, capabilities, L"ApplicationIcon", program + application_icon);
    for (const std::wstring_view view : markdown_extensions) {
        const std::wstring extension(view);
        add_string_write(plan, application + L"\\SupportedTypes", extension, L"");
        plan.push_back(RegistryWrite{.key = classes_key(extension) + L"\\OpenWithProgids",
                                     .name = markdown_prog_id,
                                     .value = RegistryValue{.type = REG_NONE, .data = {}}});
        add_string_write(plan, capabilities + L"\\FileAssociations", extension, markdown_prog_id);
    }
    add_string_write(plan, registered_applications_key, registered_application_name, capabilities);
    return plan;
}

std::vector<std::wstring> parse_claimed_extensions(const std::optional<RegistryValue>& value) {
    const std::wstring text = registry_value_text(value);
    std::vector<std::wstring> claimed;
    if (text.empty()) {
        return claimed;
    }
    const std::vector<std::wstring> items = split_items(text);
    for (const std::wstring_view extension : markdown_extensions) {
        if (std::find(items.begin(), items.end(), extension) != items.end()) {
            claimed.emplace_back(extension);
        }
    }
    return claimed;
}

} // namespace pellix
