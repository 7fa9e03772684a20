#pragma once

// Wine picks the Direct3D renderer by the name of the program's file (the prefix gives the
// program's renderer to Pellix.exe only), so figures of drawing in this process are measured in
// a copy of the bench program under that name, started for one part of one benchmark.

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace pellix::bench {

inline constexpr wchar_t renderer_host_name[] = L"Pellix.exe";

// The part of `benchmark` this program runs as a renderer host, or null when it is the bench
// program itself.
inline const char* renderer_host_part(const char* benchmark) {
    wchar_t own[MAX_PATH];
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    if (std::filesystem::path(own).filename() != renderer_host_name || __argc < 3 ||
        std::string(__argv[1]) != benchmark) {
        return nullptr;
    }
    return __argv[2];
}

// A copy of this program named as the renderer host, in a folder of its own that goes with it.
class RendererHost {
public:
    explicit RendererHost(const char* benchmark)
        : benchmark_(benchmark),
          folder_(std::filesystem::temp_directory_path() /
                  (std::string("pellix-bench-") + benchmark + "-host")) {
        wchar_t own[MAX_PATH];
        GetModuleFileNameW(nullptr, own, MAX_PATH);
        std::filesystem::create_directories(folder_);
        std::filesystem::copy_file(own, folder_ / renderer_host_name,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    ~RendererHost() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    RendererHost(const RendererHost&) = delete;
    RendererHost& operator=(const RendererHost&) = delete;

    // Runs `part` in the host on this program's output and waits until it ends. Each part runs
    // in a process of its own: memory freed when one part's Direct3D device goes would be taken
    // up again by the next and hide its growth.
    void run(const char* part) const {
        const std::string arguments = benchmark_ + " " + part;
        const std::filesystem::path host = folder_ / renderer_host_name;
        std::wstring command = L"\"" + host.wstring() + L"\" " +
                               std::wstring(arguments.begin(), arguments.end());
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION started{};
        std::fflush(stdout);
        if (!CreateProcessW(host.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                            nullptr, &startup, &started)) {
            std::printf("the renderer host did not start\n");
            return;
        }
        WaitForSingleObject(started.hProcess, INFINITE);
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
    }

private:
    std::string benchmark_;
    std::filesystem::path folder_;
};

} // namespace pellix::bench
