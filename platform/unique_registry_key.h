#pragma once

#include <windows.h>

#include <utility>

namespace pellix {

// Owns one open registry key closed with RegCloseKey.
class UniqueRegistryKey {
public:
    UniqueRegistryKey() = default;
    explicit UniqueRegistryKey(HKEY key) : key_(key) {}
    UniqueRegistryKey(const UniqueRegistryKey&) = delete;
    UniqueRegistryKey& operator=(const UniqueRegistryKey&) = delete;
    UniqueRegistryKey(UniqueRegistryKey&& other) noexcept : key_(other.release()) {}
    UniqueRegistryKey& operator=(UniqueRegistryKey&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~UniqueRegistryKey() { reset(); }

    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }

    HKEY release() { return std::exchange(key_, nullptr); }

    void reset(HKEY key = nullptr) {
        if (HKEY old = std::exchange(key_, key)) {
            RegCloseKey(old);
        }
    }

    // For out-parameters: closes what is held and returns the slot to fill.
    HKEY* put() {
        reset();
        return &key_;
    }

private:
    HKEY key_ = nullptr;
};

} // namespace pellix
