#pragma once

#include <exception>
#include <string>

namespace pellix::test {

// The sentence of the exception `call` throws, or "(no exception)".
template <typename Call> std::string message_of(Call&& call) {
    try {
        call();
    } catch (const std::exception& failure) {
        return failure.what();
    }
    return "(no exception)";
}

} // namespace pellix::test
