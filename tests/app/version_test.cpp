#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

// Runs Pellix.exe (beside this test program) with one argument and returns what it wrote to
// standard output and its exit code.
std::pair<std::string, DWORD> run_program(const std::wstring& argument) {
    wchar_t own[MAX_PATH];
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    std::wstring exe(own);
    exe = exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"Pellix.exe";
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    EXPECT_TRUE(CreatePipe(&read_end, &write_end, &inherit, 0));
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end;
    startup.hStdError = write_end;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    std::wstring command = L"\"" + exe + L"\" " + argument;
    EXPECT_TRUE(CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                               nullptr, &startup, &process));
    CloseHandle(write_end);
    std::string output;
    char buffer[256];
    DWORD got = 0;
    while (ReadFile(read_end, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        output.append(buffer, got);
    }
    WaitForSingleObject(process.hProcess, 30000);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(read_end);
    return {output, code};
}

} // namespace

TEST(ProgramEntry, VersionPrintsExactBytesAndExitsZero) {
    auto [output, code] = run_program(L"--version");
    EXPECT_EQ(output, "1.2.9\n");
    EXPECT_EQ(code, 0u);
}
