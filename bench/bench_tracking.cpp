#include "bench/bench.h"

#include "core/file_io.h"
#include "tracking/line_diff.h"
#include "tracking/recovery_files.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace pellix {
namespace {

std::u16string widened(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

// A letter then a decimal number, built by appending (GCC 12 misreports prefix concatenation).
std::u16string numbered(char16_t letter, int number) {
    std::u16string text(1, letter);
    const std::string digits = std::to_string(number);
    text.append(digits.begin(), digits.end());
    return text;
}

// 10,000 short lines (the unit limit allows about 13 units per line at that count).
std::vector<std::u16string> base_lines(std::size_t count) {
    std::vector<std::u16string> lines;
    for (std::size_t i = 0; i < count; ++i) {
        char line[16];
        std::snprintf(line, sizeof line, "it %05zu ab", i);
        lines.push_back(widened(line));
    }
    return lines;
}

std::u16string joined(const std::vector<std::u16string>& lines) {
    std::u16string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        text += lines[i];
        if (i + 1 < lines.size()) {
            text += u'\n';
        }
    }
    return text;
}

double median_ms(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        times.push_back(bench::seconds_of(work) * 1000.0);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void report_diff(const char* name, const std::u16string& old_text, const std::u16string& new_text,
                 int runs) {
    LineDiff diff;
    const double ms = median_ms(runs, [&] { diff = diff_lines(old_text, new_text); });
    std::printf("%-44s %8.3f ms  (%zu/%zu units, line_by_line %d, %zu ranges)\n", name, ms,
                old_text.size(), new_text.size(), int(diff.line_by_line), diff.ranges.size());
}

void bench_diffs() {
    std::mt19937 random(7);
    const auto lines = base_lines(10000);
    auto changed = lines;
    // 1% of the lines, at scattered places: edits, insertions and deletions.
    for (int k = 0; k < 100; ++k) {
        const std::size_t at = random() % changed.size();
        switch (k % 3) {
        case 0:
            changed[at] = u"edited " + changed[at].substr(3);
            break;
        case 1:
            changed.insert(changed.begin() + at, u"new line");
            break;
        default:
            changed.erase(changed.begin() + at);
            break;
        }
    }
    report_diff("10,000 lines, 1% scattered changes", joined(lines), joined(changed), 51);

    std::vector<std::u16string> old_gap;
    std::vector<std::u16string> new_gap;
    for (int i = 0; i < 1413; ++i) {
        old_gap.push_back(numbered(u'o', i));
        new_gap.push_back(numbered(u'n', i));
    }
    report_diff("one 1413 x 1413 gap, all lines distinct", joined(old_gap), joined(new_gap), 11);

    for (int i = 0; i < 1413; ++i) {
        old_gap[i] = random() % 2 ? u"repeated line a" : u"repeated line b";
        new_gap[i] = random() % 2 ? u"repeated line a" : u"repeated line b";
    }
    report_diff("one 1413 x 1413 gap, two repeated lines", joined(old_gap), joined(new_gap), 11);

    const auto long_lines = base_lines(10000);
    auto reversed = long_lines;
    std::reverse(reversed.begin(), reversed.end());
    report_diff("10,000 lines reversed (one anchor, no table)", joined(long_lines),
                joined(reversed), 11);

    std::u16string big(0x800000, u'a');
    for (std::size_t i = 79; i < big.size(); i += 80) {
        big[i] = u'\n';
    }
    std::u16string big_changed = big;
    big_changed[big.size() / 2] = u'b';
    report_diff("8 Mi units, one change (coarse by units)", big, big_changed, 5);
    report_diff("8 Mi units, equal", big, big, 5);
}

double working_set_mib() {
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.WorkingSetSize / 1048576.0;
}

// The highest working set seen while `work` runs, sampled every millisecond (Wine keeps no peak
// of committed memory, and the process-wide peak would mix separate steps).
double peak_mib_during(const std::function<void()>& work) {
    std::atomic<bool> done{false};
    std::atomic<double> peak{working_set_mib()};
    std::thread sampler([&] {
        while (!done) {
            peak = std::max(peak.load(), working_set_mib());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    work();
    done = true;
    sampler.join();
    return std::max(peak.load(), working_set_mib());
}

void bench_recovery() {
    // 128 tabs whose container comes to just under the 256 MiB limit.
    const std::size_t per_tab = (0x10000000 - 16) / 128 - 4 - 19 - 32;
    Workspace workspace;
    for (int i = 0; i < 128; ++i) {
        Session session;
        session.text.assign(per_tab, u'x');
        for (std::size_t at = 60; at < per_tab; at += 61) {
            session.text[at] = u'\n';
        }
        session.path = "C:\\docs\\tab";
        session.path += std::to_string(i);
        session.path += ".md";
        session.draft = true;
        workspace.sessions.push_back(std::move(session));
    }
    const double text_mib = 128.0 * per_tab / 1048576.0;
    const auto folder =
        std::filesystem::absolute(std::filesystem::temp_directory_path() / "pellix-bench-recovery");
    const auto tabs = folder / "tabs.bin";
    const auto session = folder / "session.bin";

    const double before = working_set_mib();
    double write_s = 0;
    const double write_peak = peak_mib_during([&] {
        write_s = bench::seconds_of([&] { write_tab_recovery(tabs, session, workspace); });
    });
    std::printf("write_tab_recovery, 128 tabs, %.1f MiB text: %8.3f s  %7.1f MiB/s; working set "
                "%.1f MiB before, peak %.1f MiB during the write\n",
                text_mib, write_s, text_mib / write_s, before, write_peak);

    std::string bytes;
    const double encode_s = bench::seconds_of([&] { bytes = encode_tab_recovery(workspace); });
    const double disk_s =
        bench::seconds_of([&] { write_file_atomically(folder / "plain.bin", bytes, 0x10000000); });
    std::printf("  of which encoding %.3f s; writing the same bytes alone %.3f s (%.1f MiB/s)\n",
                encode_s, disk_s, bytes.size() / 1048576.0 / disk_s);
    bytes.clear();
    bytes.shrink_to_fit();
    workspace = Workspace{};

    Workspace back;
    const double before_read = working_set_mib();
    double read_s = 0;
    double decode_s = 0;
    const double read_peak = peak_mib_during([&] {
        read_s = bench::seconds_of([&] { bytes = read_file_bytes(tabs, 0x10000000); });
        decode_s = bench::seconds_of([&] { back = read_tab_recovery(bytes); });
    });
    std::printf("read back: file %.3f s (%.1f MiB/s), decode %.3f s (%.1f MiB/s), %zu tabs\n",
                read_s, bytes.size() / 1048576.0 / read_s, decode_s,
                bytes.size() / 1048576.0 / decode_s, back.sessions.size());
    std::printf("  working set %.1f MiB before, peak %.1f MiB (file bytes %.1f MiB + workspace "
                "%.1f MiB)\n",
                before_read, read_peak, bytes.size() / 1048576.0, 2.0 * text_mib);
    std::filesystem::remove_all(folder);
}

void bench_tracking() {
    bench_diffs();
    bench_recovery();
}

static bench::Registration reg("tracking", bench_tracking);

} // namespace
} // namespace pellix
