// A window that shows a Markdown file's source beside its preview, for screenshots of the
// preview on its own (the shipped program has no main window yet). It closes itself after the
// given number of seconds.
//
//   preview_show.exe <file.md> [seconds] [dark]

#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "app/palette.h"
#include "markdown/html_render.h"
#include "preview/preview_window.h"

namespace {

constexpr int window_width = 1200;
constexpr int window_height = 800;
constexpr UINT_PTR close_timer = 1;
constexpr int source_font_points = 10;

HWND source_edit = nullptr;
HWND preview_host = nullptr;

void place_children(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    const int half = client.right / 2;
    MoveWindow(source_edit, 0, 0, half, client.bottom, TRUE);
    MoveWindow(preview_host, half, 0, client.right - half, client.bottom, TRUE);
    pellix::resize_preview();
}

LRESULT CALLBACK host_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT CALLBACK frame_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_SIZE:
        if (source_edit) {
            place_children(window);
        }
        return 0;
    case WM_TIMER:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        pellix::destroy_preview();
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
}

void register_class(const wchar_t* name, WNDPROC procedure) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    window_class.lpszClassName = name;
    RegisterClassW(&window_class);
}

std::string read_all(const wchar_t* path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

std::wstring crlf_wide(const std::string& utf8) {
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        length);
    std::wstring result;
    for (wchar_t c : wide) {
        if (c == L'\n') {
            result += L'\r';
        }
        result += c;
    }
    return result;
}

} // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc < 2) {
        return 2;
    }
    const int seconds = argc > 2 ? _wtoi(argv[2]) : 10;
    const bool dark = argc > 3 && std::wstring(argv[3]) == L"dark";
    const std::string source = read_all(argv[1]);

    register_class(L"Pellix.Show.Frame", frame_proc);
    register_class(L"Pellix.Show.Host", host_proc);
    HWND frame = CreateWindowExW(
        0, L"Pellix.Show.Frame", L"Pellix preview", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0,
        window_width, window_height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    HWND edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", crlf_wide(source).c_str(),
                                WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY, 0,
                                0, 1, 1, frame, nullptr, GetModuleHandleW(nullptr), nullptr);
    HDC screen = GetDC(nullptr);
    const int font_height = -MulDiv(source_font_points, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    HFONT font = CreateFontW(font_height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                             FIXED_PITCH, L"Consolas");
    SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    preview_host =
        CreateWindowExW(0, L"Pellix.Show.Host", L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                        1, 1, frame, nullptr, GetModuleHandleW(nullptr), nullptr);
    source_edit = edit;

    pellix::refresh_system_palette();
    pellix::Preview::Impl& preview = pellix::preview();
    preview.colours = [](bool page_dark) { return pellix::paint_colours(page_dark); };
    pellix::create_preview(preview_host, nullptr);
    place_children(frame);
    std::uint64_t lines = 1;
    for (char c : source) {
        lines += c == '\n' ? 1 : 0;
    }
    pellix::set_preview_content(
        pellix::render_markdown_html(source, dark, pellix::preview_source_limit), 1, lines);
    ShowWindow(frame, SW_SHOW);
    SetTimer(frame, close_timer, static_cast<UINT>(seconds) * 1000, nullptr);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    DeleteObject(font);
    LocalFree(argv);
    return 0;
}
