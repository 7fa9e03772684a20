#pragma once

// Moves the program's settings key aside for a test and puts it back afterwards, so that tests
// start from no settings and leave the prefix's own settings as they were.

#include <windows.h>

#include <string>

#include "app/settings.h"

namespace pellix::test {

inline bool key_exists(const std::wstring& key) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(opened);
    return true;
}

inline void copy_key(const std::wstring& from, const std::wstring& to) {
    HKEY source = nullptr;
    HKEY target = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, from.c_str(), 0, KEY_READ, &source) == ERROR_SUCCESS &&
        RegCreateKeyExW(HKEY_CURRENT_USER, to.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &target, nullptr) == ERROR_SUCCESS) {
        RegCopyTreeW(source, nullptr, target);
    }
    if (source != nullptr) {
        RegCloseKey(source);
    }
    if (target != nullptr) {
        RegCloseKey(target);
    }
}

class SettingsKeyGuard {
public:
    explicit SettingsKeyGuard(std::wstring key = settings_key_path)
        : key_(std::move(key)), backup_(key_ + L" (test backup)") {
        RegDeleteTreeW(HKEY_CURRENT_USER, backup_.c_str());
        saved_ = key_exists(key_);
        if (saved_) {
            copy_key(key_, backup_);
        }
        RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
    }
    ~SettingsKeyGuard() {
        RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
        if (saved_) {
            copy_key(backup_, key_);
            RegDeleteTreeW(HKEY_CURRENT_USER, backup_.c_str());
        }
    }
    SettingsKeyGuard(const SettingsKeyGuard&) = delete;
    SettingsKeyGuard& operator=(const SettingsKeyGuard&) = delete;

    const std::wstring& key() const { return key_; }

    void set_dword(const wchar_t* name, DWORD value) const {
        RegSetKeyValueW(HKEY_CURRENT_USER, key_.c_str(), name, REG_DWORD, &value, sizeof(value));
    }
    // The value, or ~0u when it is missing.
    DWORD dword(const wchar_t* name) const {
        DWORD value = 0;
        DWORD size = sizeof(value);
        if (RegGetValueW(HKEY_CURRENT_USER, key_.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value,
                         &size) != ERROR_SUCCESS) {
            return ~0u;
        }
        return value;
    }

private:
    std::wstring key_;
    std::wstring backup_;
    bool saved_ = false;
};

} // namespace pellix::test
