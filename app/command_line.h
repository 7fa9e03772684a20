#pragma once

// What kind of run the command line asks for, decided before any window exists.

#include <filesystem>
#include <string>
#include <vector>

namespace pellix {

enum class RunKind {
    editor,           // an ordinary, single-instance run
    version,          // "--version" alone
    register_types,   // "--register" alone
    unregister_types, // "--unregister" alone
    compare,          // "--compare old new"
    compare_usage,    // "--compare" with another number of paths
};

struct CommandLine {
    RunKind kind = RunKind::editor;
    // Files to open in command-line order, as written; in compare mode the compared file.
    std::vector<std::filesystem::path> paths;
    std::filesystem::path compare_baseline_path;
    bool scroll_profile = false;
};

// The process's arguments, program name first; empty when the system cannot split them.
std::vector<std::wstring> split_command_line(const wchar_t* command_line);

// Options are recognised whole, case-sensitively and only in their place; anywhere else they
// are paths.
CommandLine parse_command_line(const std::vector<std::wstring>& arguments);

} // namespace pellix
