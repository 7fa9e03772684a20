// Prints what the running Pellix shows, read from its windows as another program would: the
// title, each tab's name, the status strip, each editor's text (the shown one marked) and any box
// of the program, one per line in UTF-8. Built and run by scripts/recovery_real_steps.sh.
#include <windows.h>
#include <commctrl.h>

#include <string>

namespace {

constexpr int tab_control_id = 12;
constexpr UINT answer_limit_ms = 10000;
constexpr std::size_t shown_text_limit = 200;

std::string utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    return bytes;
}

void print(const std::string& line) {
    DWORD written = 0;
    const std::string text = line + "\n";
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
              &written, nullptr);
}

std::string quoted(const std::wstring& text) {
    std::string out = "\"";
    for (const char c : utf8(text)) {
        out += c == '\n' ? std::string("\\n") : c == '"' ? std::string("\\\"") : std::string(1, c);
    }
    return out + "\"";
}

// A long text by its start and its length, so that a tab of 8 MB stays one line.
std::string shown(const std::wstring& text) {
    if (text.size() <= shown_text_limit) {
        return quoted(text);
    }
    return quoted(text.substr(0, 80)) + " ... (" + std::to_string(text.size()) + " units)";
}

std::wstring window_text(HWND window) {
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, answer_limit_ms, &length);
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, answer_limit_ms, &copied);
    text.resize(copied);
    return text;
}

// The tab control keeps its items in the program's memory: the item is asked for there.
void print_tabs(HWND window, DWORD process_id) {
    HWND tabs = GetDlgItem(window, tab_control_id);
    const int count = static_cast<int>(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0));
    const int selected = static_cast<int>(SendMessageW(tabs, TCM_GETCURSEL, 0, 0));
    print("tabs " + std::to_string(count) + " selected " + std::to_string(selected));
    HANDLE process =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, process_id);
    constexpr std::size_t name_limit = 512;
    constexpr std::size_t name_at = sizeof(TCITEMW);
    char* remote = static_cast<char*>(VirtualAllocEx(
        process, nullptr, name_at + name_limit * sizeof(wchar_t), MEM_COMMIT, PAGE_READWRITE));
    for (int i = 0; i < count && remote != nullptr; ++i) {
        const TCITEMW item{.mask = TCIF_TEXT,
                           .dwState = 0,
                           .dwStateMask = 0,
                           .pszText = reinterpret_cast<wchar_t*>(remote + name_at),
                           .cchTextMax = static_cast<int>(name_limit),
                           .iImage = 0,
                           .lParam = 0};
        SIZE_T moved = 0;
        WriteProcessMemory(process, remote, &item, sizeof(item), &moved);
        SendMessageW(tabs, TCM_GETITEMW, i, reinterpret_cast<LPARAM>(remote));
        wchar_t name[name_limit] = {};
        ReadProcessMemory(process, remote + name_at, name, (name_limit - 1) * sizeof(wchar_t),
                          &moved);
        print("tab " + std::to_string(i) + " " + quoted(name) +
              (i == selected ? " (selected)" : ""));
    }
    if (remote != nullptr) {
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
}

struct BoxSearch {
    DWORD process_id = 0;
};

BOOL CALLBACK print_box(HWND window, LPARAM search) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t window_class[64] = {};
    GetClassNameW(window, window_class, 64);
    if (owner == reinterpret_cast<const BoxSearch*>(search)->process_id &&
        IsWindowVisible(window) && std::wstring(window_class) == L"#32770") {
        constexpr int message_text_id = 0xFFFF;
        wchar_t caption[256] = {};
        wchar_t message[1024] = {};
        GetWindowTextW(window, caption, 256);
        GetDlgItemTextW(window, message_text_id, message, 1024);
        print("box " + quoted(caption) + ": " + quoted(message));
    }
    return TRUE;
}

} // namespace

int main() {
    HWND window = FindWindowW(L"Pellix.Native.Editor", nullptr);
    if (window == nullptr) {
        print("no window");
        return 1;
    }
    BoxSearch search;
    GetWindowThreadProcessId(window, &search.process_id);
    print("title " + quoted(window_text(window)));
    print_tabs(window, search.process_id);
    print("status " +
          quoted(window_text(FindWindowExW(window, nullptr, L"Pellix.StatusStrip", nullptr))));
    HWND editor = nullptr;
    while ((editor = FindWindowExW(window, editor, L"Pellix.DirectWrite.Source", nullptr)) !=
           nullptr) {
        DWORD_PTR modified = 0;
        SendMessageTimeoutW(editor, EM_GETMODIFY, 0, 0, SMTO_ABORTIFHUNG, answer_limit_ms,
                            &modified);
        print(std::string("editor") + (IsWindowVisible(editor) ? " (shown)" : "") +
              (modified ? " modified " : " ") + shown(window_text(editor)));
    }
    EnumWindows(print_box, reinterpret_cast<LPARAM>(&search));
    return 0;
}
