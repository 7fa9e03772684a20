#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace pellix::bench {

// Each benchmark file registers one named function; the bench program runs them all, or those
// named on its command line.
struct Registration {
    Registration(const char* name, std::function<void()> run);
};

// Seconds spent in one call of `work`.
inline double seconds_of(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace pellix::bench
