#include "bench/bench.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace pellix::bench {
namespace {

std::vector<std::pair<std::string, std::function<void()>>>& registry() {
    static std::vector<std::pair<std::string, std::function<void()>>> entries;
    return entries;
}

} // namespace

Registration::Registration(const char* name, std::function<void()> run) {
    registry().emplace_back(name, std::move(run));
}

} // namespace pellix::bench

int main(int argc, char** argv) {
    for (auto& [name, run] : pellix::bench::registry()) {
        bool wanted = argc < 2;
        for (int i = 1; i < argc; ++i) {
            wanted = wanted || name == argv[i];
        }
        if (wanted) {
            std::printf("== %s\n", name.c_str());
            std::fflush(stdout);
            run();
            std::fflush(stdout);
        }
    }
    return 0;
}
