#include <windows.h>
#include <shellapi.h>

#include <string_view>

namespace {

// A GUI-subsystem process has no console of its own; the version goes to whatever standard
// output the starting process gave it.
void write_standard_output(std::string_view text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    const bool version =
        arguments != nullptr && count == 2 && std::wstring_view(arguments[1]) == L"--version";
    if (arguments != nullptr) {
        LocalFree(arguments);
    }
    if (version) {
        write_standard_output("1.2.9\n");
        return 0;
    }
    return 0;
}
