#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace pellix::test {

// `over` drawn with opacity `alpha` on `under`, per 0x00RRGGBB channel, rounded.
inline std::uint32_t blend(std::uint32_t under, std::uint32_t over, double alpha) {
    std::uint32_t result = 0;
    for (int shift : {16, 8, 0}) {
        const double a = (under >> shift) & 0xFF;
        const double b = (over >> shift) & 0xFF;
        result |= static_cast<std::uint32_t>(std::lround(a * (1 - alpha) + b * alpha)) << shift;
    }
    return result;
}

// Colours are compared per channel: blending and antialiasing may round either way.
inline ::testing::AssertionResult near_colour(std::uint32_t actual, std::uint32_t expected,
                                              int slack = 3) {
    for (int shift : {16, 8, 0}) {
        const int a = static_cast<int>((actual >> shift) & 0xFF);
        const int e = static_cast<int>((expected >> shift) & 0xFF);
        if (std::abs(a - e) > slack) {
            char text[64];
            std::snprintf(text, sizeof(text), "colour %06X is not near %06X", actual, expected);
            return ::testing::AssertionFailure() << text;
        }
    }
    return ::testing::AssertionSuccess();
}

} // namespace pellix::test
