#include "bench/bench.h"
#include "core/line_index.h"
#include "core/source_document.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace pellix {
namespace {

using u64 = std::uint64_t;
using Clock = std::chrono::steady_clock;

// Text that looks like prose: words of 1-10 letters, lines of about 60 units.
std::u16string prose(u64 units, std::mt19937_64& rng) {
    std::u16string text;
    text.reserve(units);
    std::uniform_int_distribution<int> word_length(1, 10), letter(0, 25), line_words(4, 14);
    while (text.size() < units) {
        for (int w = line_words(rng); w > 0 && text.size() < units; --w) {
            for (int n = word_length(rng); n > 0; --n) {
                text += static_cast<char16_t>(u'a' + letter(rng));
            }
            text += u' ';
        }
        text += u'\n';
    }
    text.resize(units);
    return text;
}

double micros_since(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

struct Spread {
    double median = 0;
    double worst = 0;
};

// Times `step` once per call, `count` times.
Spread spread_of(int count, const std::function<void(int)>& step) {
    std::vector<double> samples;
    samples.reserve(count);
    for (int i = 0; i < count; ++i) {
        auto start = Clock::now();
        step(i);
        samples.push_back(micros_since(start));
    }
    std::sort(samples.begin(), samples.end());
    return Spread{samples[samples.size() / 2], samples.back()};
}

// Mean per call over a batch, for steps shorter than the clock's resolution.
double mean_micros(int count, const std::function<void(int)>& step) {
    auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        step(i);
    }
    return micros_since(start) / count;
}

// Bytes in use in all heaps of the process (the C runtime's allocator draws from its own).
u64 heap_bytes_in_use() {
    HANDLE heaps[64];
    DWORD count = GetProcessHeaps(64, heaps);
    u64 total = 0;
    for (DWORD i = 0; i < count && i < 64; ++i) {
        HeapLock(heaps[i]);
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
                total += entry.cbData;
            }
        }
        HeapUnlock(heaps[i]);
    }
    return total;
}

void bench_assign_and_memory(const std::u16string& text) {
    std::vector<double> times;
    for (int i = 0; i < 3; ++i) {
        SourceDocument doc;
        times.push_back(bench::seconds_of([&] { doc.assign(text); }) * 1000);
    }
    std::sort(times.begin(), times.end());
    std::printf("assign (8 MiB less 32 Ki units): median %.1f ms (best %.1f, worst %.1f)\n",
                times[1], times[0], times[2]);

    u64 before = heap_bytes_in_use();
    SourceDocument doc;
    doc.assign(text);
    u64 after = heap_bytes_in_use();
    std::printf("memory held after assign: %.3f bytes per unit (goal < 2.5)\n",
                static_cast<double>(after - before) / static_cast<double>(text.size()));
}

void bench_typing(SourceDocument& doc, std::mt19937_64& rng) {
    std::uniform_int_distribution<u64> position(0, doc.length());
    std::vector<u64> positions(20000);
    for (auto& p : positions) {
        p = position(rng);
    }
    const u64 heap_before = heap_bytes_in_use();
    Spread typed = spread_of(static_cast<int>(positions.size()), [&](int i) {
        doc.typing_open = false; // a caret move before each keystroke
        doc.replace(positions[i], positions[i], u"x", true);
    });
    std::printf("typed one-unit insert at random positions: median %.2f us, worst %.1f us "
                "(goal median < 5 us); depth after them %llu\n",
                typed.median, typed.worst, static_cast<unsigned long long>(doc.depth()));
    // Each such insertion copies the piece before it into a new leaf, while the rest of that
    // piece keeps the old buffer alive.
    std::printf("heap grown by those %zu inserts: %.1f MB (%.0f bytes per insert)\n",
                positions.size(), static_cast<double>(heap_bytes_in_use() - heap_before) / 1e6,
                static_cast<double>(heap_bytes_in_use() - heap_before) /
                    static_cast<double>(positions.size()));

    u64 end = doc.length() / 2;
    doc.typing_open = false;
    Spread burst = spread_of(2000, [&](int i) { doc.replace(end + i, end + i, u"y", true); });
    std::printf("typed burst at one place (joined step): median %.2f us, worst %.1f us\n",
                burst.median, burst.worst);
}

// Many cuts inside every leaf, as Replace All with an empty replacement makes them; the depth
// bounds every walk, split, merge and release.
void bench_scattered_deletions(const std::u16string& text) {
    constexpr u64 stride = 16;
    SourceDocument doc;
    doc.assign(text);
    const u64 count = text.size() / stride;
    // From the back, so positions in the original text stay valid.
    const double seconds = bench::seconds_of([&] {
        for (u64 k = count; k > 0; --k) {
            doc.replace((k - 1) * stride, (k - 1) * stride + 1, u"", false);
        }
    });
    std::printf("scattered deletions (one unit in every %llu, %llu of them): %.0f ms, %.2f us "
                "each; depth %llu (goal < 64)\n",
                static_cast<unsigned long long>(stride), static_cast<unsigned long long>(count),
                seconds * 1000, seconds * 1e6 / static_cast<double>(count),
                static_cast<unsigned long long>(doc.depth()));
}

void bench_undo_redo(SourceDocument& doc, const char* label) {
    double undo = mean_micros(static_cast<int>(doc.undo_entries.size()), [&](int) { doc.undo(); });
    double redo = mean_micros(static_cast<int>(doc.redo_entries.size()), [&](int) { doc.redo(); });
    std::printf("%s: undo %.3f us, redo %.3f us per step\n", label, undo, redo);
}

void bench_snapshot(const SourceDocument& doc) {
    std::vector<SourceDocument> kept(100000);
    double take = mean_micros(100000, [&](int i) { kept[i] = doc.snapshot(); });
    Spread single = spread_of(1000, [&](int i) { kept[i] = doc.snapshot(); });
    std::printf("snapshot copy: %.3f us mean, median %.2f us single (goal < 1 us)\n", take,
                single.median);
}

void bench_lines(const SourceDocument& doc, std::mt19937_64& rng) {
    std::uniform_int_distribution<u64> position(0, doc.length());
    std::uniform_int_distribution<u64> line(0, doc.line_count());
    std::vector<u64> positions(100000), lines(100000);
    for (auto& p : positions) {
        p = position(rng);
    }
    for (auto& l : lines) {
        l = line(rng);
    }
    volatile u64 sink = 0;
    double of = mean_micros(100000, [&](int i) { sink = sink + doc.line_of(positions[i]); });
    double start = mean_micros(100000, [&](int i) { sink = sink + doc.line_start(lines[i]); });
    std::printf("line_of %.3f us, line_start %.3f us per call\n", of, start);
}

void bench_word_count(const std::u16string& base) {
    WordCountCache cache;
    double first = bench::seconds_of([&] { update_word_count(cache, base); }) * 1000;
    std::u16string edited = base;
    Spread edit = spread_of(20, [&](int i) {
        edited[edited.size() / 2 + i] = u'Z';
        update_word_count(cache, edited);
    });
    std::printf("update_word_count: first %.1f ms; after a one-unit edit median %.2f ms, "
                "worst %.2f ms\n",
                first, edit.median / 1000, edit.worst / 1000);
}

void bench_source_document() {
    std::mt19937_64 rng(7);
    // Just under the limit, so that the typed inserts still fit.
    const std::u16string text = prose(document_limit - 0x8000, rng);
    bench_assign_and_memory(text);

    SourceDocument doc;
    doc.assign(text);
    bench_typing(doc, rng);
    bench_scattered_deletions(text);
    bench_undo_redo(doc, "8 MiB document, 1000 entries");
    bench_snapshot(doc);
    bench_lines(doc, rng);

    SourceDocument small;
    small.assign(text.substr(0, 65536));
    for (int i = 0; i < 1000; ++i) {
        small.typing_open = false;
        small.replace(i * 7, i * 7, u"x", true);
    }
    bench_undo_redo(small, "64 Ki-unit document, 1000 entries");

    bench_word_count(text);
}

bench::Registration registration("source_document", bench_source_document);

} // namespace
} // namespace pellix
