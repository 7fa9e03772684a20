#include "app/recent_files.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <filesystem>

#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/settings.h"

namespace pellix {

namespace {

constexpr wchar_t no_recent_files[] = L"No recent files";
constexpr wchar_t clear_recent_text[] = L"Clear recent files";
constexpr wchar_t ellipsis[] = L"...";
// The share of a long path kept before the ellipsis; the rest is kept from its end, where the
// file name is.
constexpr std::size_t long_path_head = 20;

bool is_low_surrogate(wchar_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// PathCompactPathExW takes only paths shorter than MAX_PATH; a longer one keeps its start and
// its end around an ellipsis, never splitting a surrogate pair.
std::wstring shorten_long_path(const std::wstring& path) {
    const std::size_t tail_length =
        recent_label_length - long_path_head - (std::size(ellipsis) - 1);
    std::size_t head = long_path_head;
    if (is_low_surrogate(path[head])) {
        --head;
    }
    std::size_t tail = path.size() - tail_length;
    if (is_low_surrogate(path[tail])) {
        ++tail;
    }
    return path.substr(0, head) + ellipsis + path.substr(tail);
}

std::wstring doubled_ampersands(const std::wstring& text) {
    std::wstring doubled;
    doubled.reserve(text.size());
    for (wchar_t unit : text) {
        doubled += unit;
        if (unit == L'&') {
            doubled += L'&';
        }
    }
    return doubled;
}

void empty_menu(HMENU menu) {
    while (GetMenuItemCount(menu) > 0) {
        DeleteMenu(menu, 0, MF_BYPOSITION);
    }
}

} // namespace

std::wstring compact_recent_path(const std::wstring& path) {
    if (path.size() <= recent_label_length) {
        return path;
    }
    if (path.size() >= MAX_PATH) {
        return shorten_long_path(path);
    }
    wchar_t compacted[MAX_PATH] = {};
    if (!PathCompactPathExW(compacted, path.c_str(), recent_label_length + 1, 0) ||
        compacted[0] == L'\0') {
        return path;
    }
    return compacted;
}

std::wstring recent_menu_label(std::size_t index, const std::wstring& path) {
    return L"&" + std::to_wstring(index + 1) + L" " + doubled_ampersands(compact_recent_path(path));
}

void remember_recent_file() {
    if (restoring_session() || tabs.empty() || current_tab().path.empty()) {
        return;
    }
    remember_recent_files({RecentFile{current_tab().path.wstring(), settings.view}});
}

void remember_recent_files(const std::vector<RecentFile>& oldest_first) {
    if (oldest_first.empty()) {
        return;
    }
    for (const RecentFile& file : oldest_first) {
        std::erase_if(settings.recent, [&](const RecentFile& entry) {
            return _wcsicmp(entry.path.c_str(), file.path.c_str()) == 0;
        });
        settings.recent.insert(settings.recent.begin(), file);
    }
    if (settings.recent.size() > recent_file_limit) {
        settings.recent.resize(recent_file_limit);
    }
    rebuild_recent_menu();
    persist_settings(true);
}

void rebuild_recent_menu() {
    HMENU menu = menus.recent;
    if (menu == nullptr) {
        return;
    }
    empty_menu(menu);
    const std::vector<RecentFile>& recent = settings.recent;
    if (recent.empty()) {
        AppendMenuW(menu, MF_STRING | MF_GRAYED, 0, no_recent_files);
    }
    const std::size_t shown = std::min(recent.size(), recent_menu_entries);
    for (std::size_t i = 0; i < shown; ++i) {
        AppendMenuW(menu, MF_STRING, first_recent_command + i,
                    recent_menu_label(i, recent[i].path).c_str());
    }
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING | (recent.empty() ? MF_GRAYED : 0), clear_recent_command,
                clear_recent_text);
}

void open_recent_file(std::size_t index) {
    if (index >= settings.recent.size()) {
        return;
    }
    const std::filesystem::path path = settings.recent[index].path;
    open_path(path);
}

void clear_recent_files() {
    settings.recent.clear();
    rebuild_recent_menu();
    persist_settings(true);
}

} // namespace pellix
