#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

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

// Milliseconds from `start` to `end`.
inline double milliseconds_between(std::chrono::steady_clock::time_point start,
                                   std::chrono::steady_clock::time_point end) {
    return std::chrono::duration<double, std::milli>(end - start).count();
}

// The middle sample (the upper middle of an even count).
inline double median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// About `bytes` (at most) of Markdown made of whole blocks of every kind the preview lays out,
// the same text for the same size in every run.
inline std::string mixed_markdown(std::size_t bytes) {
    const char* blocks[] = {
        "## Section heading with `code`\n\n",
        "A paragraph of ordinary prose with **bold**, *italic*, `inline code` and a "
        "[link](https://example.test/page) that runs long enough to wrap across two or three "
        "lines in a window of ordinary width, as real notes do.\n\n",
        "- first point\n- [ ] open task\n  - nested point with *emphasis*\n- [x] done task\n\n",
        "1. one\n2. two\n3. three\n\n",
        "```\nfor (int i = 0; i < count; ++i) {\n    total += values[i];\n}\n```\n\n",
        "> A quoted remark that is\n> spread over two source lines.\n\n",
        "| name | value | note |\n|---|:---:|--:|\n| alpha | 1 | first |\n| beta | 2 | second "
        "|\n\n",
        "---\n\n",
    };
    std::mt19937 random(11);
    std::string text;
    while (text.size() < bytes) {
        text += blocks[random() % std::size(blocks)];
    }
    text.resize(bytes);
    text.resize(text.rfind('\n') + 1);
    return text;
}

} // namespace pellix::bench
