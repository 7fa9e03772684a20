#include "app/command_line.h"

#include <windows.h>
#include <shellapi.h>

namespace pellix {

std::vector<std::wstring> split_command_line(const wchar_t* command_line) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(command_line, &count);
    if (arguments == nullptr) {
        return {};
    }
    std::vector<std::wstring> result(arguments, arguments + count);
    LocalFree(arguments);
    return result;
}

CommandLine parse_command_line(const std::vector<std::wstring>& arguments) {
    CommandLine result;
    if (arguments.size() == 2) {
        if (arguments[1] == L"--version") {
            result.kind = RunKind::version;
            return result;
        }
        if (arguments[1] == L"--register") {
            result.kind = RunKind::register_types;
            return result;
        }
        if (arguments[1] == L"--unregister") {
            result.kind = RunKind::unregister_types;
            return result;
        }
    }
    if (arguments.size() >= 2 && arguments[1] == L"--compare") {
        if (arguments.size() != 4) {
            result.kind = RunKind::compare_usage;
            return result;
        }
        result.kind = RunKind::compare;
        result.compare_baseline_path = arguments[2];
        result.paths.emplace_back(arguments[3]);
        return result;
    }
    for (size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == L"--scroll-profile") {
            result.scroll_profile = true;
        } else {
            result.paths.emplace_back(arguments[i]);
        }
    }
    return result;
}

} // namespace pellix
