// Holds a file open without sharing, as a backup program or a virus scanner may, until a second
// path exists: file_holder FILE RELEASE. Prints "held" once it holds the file. Built and run by
// scripts/recovery_real_steps.sh.
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fputs("usage: file_holder FILE RELEASE\n", stderr);
        return 2;
    }
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("could not hold the file (error %lu)\n", GetLastError());
        return 1;
    }
    std::puts("held");
    std::fflush(stdout);
    constexpr DWORD poll_ms = 100;
    while (GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES) {
        Sleep(poll_ms);
    }
    CloseHandle(file);
    return 0;
}
