#include "bench/bench.h"

#include "core/source_document.h"
#include "tracking/compare_worker.h"
#include "tracking/directory_watcher.h"
#include "tracking/watch_worker.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace pellix {
namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void write_file(const std::filesystem::path& path, const std::string& bytes,
                std::ios::openmode mode = std::ios::trunc) {
    std::ofstream(path, std::ios::binary | mode) << bytes;
}

// A message-only window that the workers post their notifications to, as the main window.
class ResultWindow {
public:
    static constexpr UINT message = WM_APP + 1;
    ResultWindow()
        : window_(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                  nullptr)) {}
    ~ResultWindow() { DestroyWindow(window_); }
    std::function<void()> notifier() const {
        return [window = window_] { PostMessageW(window, message, 0, 0); };
    }
    void wait() {
        MSG posted;
        GetMessageW(&posted, window_, message, message);
    }

private:
    HWND window_;
};

// Polls the record as often as the thread can, so the figure is the watcher's delay and not a
// timer's: the main window takes the record on its own timers.
double notice_ms(DirectoryWatcher& watcher, const std::filesystem::path& file,
                 const std::string& bytes) {
    write_file(file, bytes);
    const auto written = Clock::now();
    for (;;) {
        const auto changed = watcher.take_changed_files();
        if (std::find(changed.begin(), changed.end(), file) != changed.end()) {
            return ms_since(written);
        }
        if (ms_since(written) > 5000) {
            return -1;
        }
        Sleep(0);
    }
}

void bench_directory_watcher(std::size_t folders) {
    const auto root =
        std::filesystem::absolute(std::filesystem::temp_directory_path() / "pellix-bench-watch");
    std::filesystem::remove_all(root);
    std::vector<std::filesystem::path> files;
    for (std::size_t i = 0; i < folders; ++i) {
        const auto folder = root / std::to_string(i);
        std::filesystem::create_directories(folder);
        files.push_back((folder / "notes.md").lexically_normal());
        write_file(files.back(), "start");
    }
    auto watcher_owner = std::make_unique<DirectoryWatcher>();
    DirectoryWatcher& watcher = *watcher_owner;
    watcher.watch_files(files);
    // Until every read is armed, a write may go unseen.
    Sleep(500 + 20 * static_cast<DWORD>(folders));
    watcher.take_changed_files();

    std::mt19937 random(3);
    std::vector<double> delays;
    int missed = 0;
    for (int i = 0; i < 40; ++i) {
        const double ms = notice_ms(watcher, files[random() % files.size()], std::to_string(i));
        if (ms < 0) {
            ++missed;
        } else {
            delays.push_back(ms);
        }
        Sleep(30);
        watcher.take_changed_files();
    }
    std::vector<double> ticks;
    for (int i = 0; i < 200; ++i) {
        const auto start = Clock::now();
        watcher.watch_files(files);
        watcher.take_changed_files();
        ticks.push_back(ms_since(start) * 1000.0);
    }
    std::printf("directory watcher, %3zu files in %3zu folders: write to record median %.2f ms, "
                "max %.2f ms (%d missed); one tick (set files, take record) median %.1f us\n",
                folders, folders, delays.empty() ? -1.0 : median(delays),
                delays.empty() ? -1.0 : *std::max_element(delays.begin(), delays.end()), missed,
                median(ticks));
    // Wine refuses to delete a folder while the watcher holds it open.
    watcher_owner.reset();
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

std::u16string numbered_lines(std::size_t count, std::mt19937& random, int changed_percent) {
    std::u16string text;
    for (std::size_t i = 0; i < count; ++i) {
        const bool changed = static_cast<int>(random() % 100) < changed_percent;
        const std::string line = (changed ? "edited line " : "line ") + std::to_string(i);
        if (i > 0) {
            text += u'\n';
        }
        text.append(line.begin(), line.end());
    }
    return text;
}

void bench_compare_pass() {
    std::mt19937 random(11);
    const std::u16string base = numbered_lines(10000, random, 0);
    const std::u16string edited = numbered_lines(10000, random, 1);
    const auto baseline = std::make_shared<const CompareBaseline>(make_compare_baseline(base));
    SourceDocument document;
    document.assign(edited);

    std::vector<double> diff_only;
    for (int i = 0; i < 21; ++i) {
        const auto start = Clock::now();
        const LineDiff diff = diff_lines(base, document.text());
        diff_only.push_back(ms_since(start));
    }

    ResultWindow window;
    CompareWorker worker(window.notifier());
    std::vector<double> passes;
    std::vector<double> ui_hand_over;
    std::size_t marks = 0;
    std::size_t ranges = 0;
    for (int i = 0; i < 21; ++i) {
        const auto start = Clock::now();
        CompareJob job{.tab_id = 1,
                       .generation = 1,
                       .revision = 1,
                       .baseline = baseline,
                       .document = document.snapshot()};
        worker.hand_over(std::move(job));
        ui_hand_over.push_back(ms_since(start) * 1000.0);
        window.wait();
        const std::optional<CompareResult> result = worker.take_result();
        marks = result->diff.marks.line_marks.size() + result->diff.marks.deletion_marks.size();
        ranges = result->diff.ranges.size();
        passes.push_back(ms_since(start));
    }
    std::printf(
        "compare pass, 10,000 lines, 1%% changed: end to end median %.2f ms, diff alone "
        "%.2f ms, beyond the diff %.2f ms; UI thread per hand-over %.1f us (%zu ranges, %zu "
        "marks)\n",
        median(passes), median(diff_only), median(passes) - median(diff_only), median(ui_hand_over),
        ranges, marks);
}

void bench_watch_cycle() {
    const auto folder =
        std::filesystem::absolute(std::filesystem::temp_directory_path() / "pellix-bench-cycle");
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const auto file = (folder / "log.md").lexically_normal();
    std::string bytes;
    for (int i = 0; bytes.size() < document_limit - 4096; ++i) {
        bytes += "log entry " + std::to_string(i) + " ................................\n";
    }
    write_file(file, bytes);

    auto watcher_owner = std::make_unique<DirectoryWatcher>();
    DirectoryWatcher& watcher = *watcher_owner;
    watcher.watch_files({file});
    Sleep(500);
    ResultWindow window;
    WatchWorker worker(window.notifier(), read_watched_file);
    SourceDocument document;
    document.assign(std::u16string(bytes.begin(), bytes.end()));

    std::vector<double> notice;
    std::vector<double> work;
    std::vector<double> ui;
    bool line_by_line = true;
    for (int i = 0; i < 8; ++i) {
        watcher.take_changed_files();
        write_file(file, "appended line " + std::to_string(i) + "\n", std::ios::app);
        const auto written = Clock::now();
        while (watcher.take_changed_files().empty() && ms_since(written) < 5000) {
            Sleep(0);
        }
        notice.push_back(ms_since(written));

        const auto handed = Clock::now();
        WatchJob job;
        job.tab_id = 1;
        job.path = file;
        job.document = document.snapshot();
        job.line_ending = LineEnding::lf;
        worker.hand_over(std::move(job));
        double ui_us = ms_since(handed) * 1000.0;
        window.wait();
        work.push_back(ms_since(handed));
        const auto taking = Clock::now();
        std::optional<WatchResult> result = worker.take_result();
        ui_us += ms_since(taking) * 1000.0;
        ui.push_back(ui_us);
        line_by_line = result->diff.line_by_line;
        document = std::move(result->new_document);
        // Freed off the clock: the main window frees what it takes after applying it.
        result.reset();
    }
    std::printf("watch cycle, 8 MiB file appended to: write to record median %.2f ms, read + "
                "decode + diff + new document median %.1f ms, total %.1f ms (line_by_line %d); "
                "UI thread per hand-over and take %.1f us\n",
                median(notice), median(work), median(notice) + median(work), int(line_by_line),
                median(ui));
    watcher_owner.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

void bench_tracking_workers() {
    bench_directory_watcher(1);
    bench_directory_watcher(128);
    bench_compare_pass();
    bench_watch_cycle();
}

static bench::Registration reg("tracking_workers", bench_tracking_workers);

} // namespace
} // namespace pellix
