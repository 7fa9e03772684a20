#pragma once

#include <cstdio>
#include <cstdlib>

namespace pellix {

// A broken promise of the code under test: libFuzzer keeps the input that caused it.
inline void require(bool holds, const char* promise) {
    if (!holds) {
        std::fprintf(stderr, "Broken promise: %s\n", promise);
        std::abort();
    }
}

} // namespace pellix
