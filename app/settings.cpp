#include "app/settings.h"

#include <algorithm>
#include <optional>

#include "app/main_window_state.h"
#include "app/theme.h"

namespace pellix {

Settings settings;
std::wstring settings_key = settings_key_path;

namespace {

constexpr DWORD string_buffer_bytes = 65536;
constexpr double share_scale = 1000.0;

std::optional<DWORD> read_dword(const std::wstring& key, const wchar_t* name) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return value;
}

std::wstring read_string(const std::wstring& key, const wchar_t* name) {
    std::wstring buffer(string_buffer_bytes / sizeof(wchar_t), L'\0');
    DWORD size = string_buffer_bytes;
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer.data(),
                     &size) != ERROR_SUCCESS) {
        return {};
    }
    buffer.resize(wcsnlen(buffer.c_str(), buffer.size()));
    return buffer;
}

void write_dword(const std::wstring& key, const wchar_t* name, DWORD value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), name, REG_DWORD, &value, sizeof(value));
}

int checked_view(std::optional<DWORD> value) {
    if (!value || *value < view_source || *value > view_split) {
        return view_source;
    }
    return static_cast<int>(*value);
}

bool flag(std::optional<DWORD> value, bool fallback) {
    return value ? *value != 0 : fallback;
}

DWORD thousandths(double share) {
    return static_cast<DWORD>(share * share_scale);
}

std::wstring recent_name(const wchar_t* prefix, size_t index) {
    return prefix + std::to_wstring(index);
}

void read_placement(const std::wstring& key, Settings& values) {
    WINDOWPLACEMENT placement{};
    DWORD size = sizeof(placement);
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"Placement", RRF_RT_REG_BINARY, nullptr,
                     &placement, &size) != ERROR_SUCCESS) {
        return;
    }
    const RECT& normal = placement.rcNormalPosition;
    if (size != sizeof(placement) || placement.length != sizeof(placement) ||
        normal.left >= normal.right || normal.top >= normal.bottom) {
        return;
    }
    values.placement = placement;
    values.placement_valid = true;
}

} // namespace

Settings load_settings(const std::wstring& key) {
    Settings values;
    auto dword = [&](const wchar_t* name) { return read_dword(key, name); };
    values.view = checked_view(dword(L"View"));
    values.wrap = flag(dword(L"Wrap"), true);
    values.outline = flag(dword(L"Outline"), false);
    values.outline_width = std::clamp<DWORD>(dword(L"OutlineWidth").value_or(220), 96, 4000);
    values.theme = std::min<DWORD>(dword(L"Theme").value_or(0), 2);
    values.font_size = static_cast<int>(std::clamp<DWORD>(dword(L"FontSize").value_or(12), 8, 32));
    values.split = std::min<DWORD>(dword(L"Split").value_or(500), 1000) / share_scale;
    values.split_restore =
        std::clamp<DWORD>(dword(L"SplitRestore").value_or(500), 100, 900) / share_scale;
    values.line_numbers = flag(dword(L"Lines"), true);
    values.autocomplete = flag(dword(L"Autocomplete"), true);
    const DWORD colouring = dword(L"SyntaxColouring").value_or(0);
    values.syntax_colouring = colouring > 2 ? 0 : colouring;
    for (size_t i = 0; i < recent_file_limit; ++i) {
        std::wstring path = read_string(key, recent_name(L"Recent", i).c_str());
        if (path.empty()) {
            continue;
        }
        const int view = checked_view(read_dword(key, recent_name(L"RecentView", i).c_str()));
        values.recent.push_back({std::move(path), view});
    }
    read_placement(key, values);
    return values;
}

void save_settings(const std::wstring& key, const Settings& values) {
    auto dword = [&](const wchar_t* name, DWORD value) { write_dword(key, name, value); };
    dword(L"View", static_cast<DWORD>(values.view));
    dword(L"Wrap", values.wrap);
    dword(L"Outline", values.outline);
    dword(L"Theme", values.theme);
    dword(L"FontSize", static_cast<DWORD>(values.font_size));
    dword(L"Split", thousandths(values.split));
    dword(L"SplitRestore", thousandths(values.split_restore));
    dword(L"Lines", values.line_numbers);
    dword(L"Autocomplete", values.autocomplete);
    dword(L"OutlineWidth", values.outline_width);
    dword(L"SyntaxColouring", values.syntax_colouring);
    for (size_t i = 0; i < recent_file_limit; ++i) {
        const std::wstring path_name = recent_name(L"Recent", i);
        const std::wstring view_name = recent_name(L"RecentView", i);
        if (i < values.recent.size()) {
            const std::wstring& path = values.recent[i].path;
            RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), path_name.c_str(), REG_SZ, path.c_str(),
                            static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
            dword(view_name.c_str(), static_cast<DWORD>(values.recent[i].view));
            continue;
        }
        HKEY opened = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_SET_VALUE, &opened) ==
            ERROR_SUCCESS) {
            RegDeleteValueW(opened, path_name.c_str());
            RegDeleteValueW(opened, view_name.c_str());
            RegCloseKey(opened);
        }
    }
}

void persist_settings(bool save) {
    if (!save) {
        settings = load_settings(settings_key);
        refresh_system_theme();
        return;
    }
    if (!compare_mode) {
        save_settings(settings_key, settings);
    }
}

DWORD read_setting_dword(const wchar_t* name, DWORD fallback) {
    return read_dword(settings_key, name).value_or(fallback);
}

void write_setting_dword(const wchar_t* name, DWORD value) {
    if (!compare_mode) {
        write_dword(settings_key, name, value);
    }
}

void save_window_placement(HWND window) {
    if (compare_mode) {
        return;
    }
    WINDOWPLACEMENT placement{};
    placement.length = sizeof(placement);
    if (GetWindowPlacement(window, &placement)) {
        RegSetKeyValueW(HKEY_CURRENT_USER, settings_key.c_str(), L"Placement", REG_BINARY,
                        &placement, sizeof(placement));
    }
}

} // namespace pellix
