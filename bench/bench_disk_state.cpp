// Figures for outside changes in the main window: from a write to another program's file to its
// tab marked changed on disk (the watcher's report taken on the 200 ms timer, or the 2-second
// poll), with one and with 128 open files each in its own folder; and the UI thread's cost of
// one tick of each of the two timers that look at the disk, with 128 tabs and nothing changed.

#include "bench/bench.h"
#include "bench/bench_main_window.h"

#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/directory_watching.h"
#include "app/disk_state.h"
#include "app/hosted_units.h"
#include "app/main_window_create.h"
#include "app/main_window_state.h"
#include "app/timers.h"

namespace {

using namespace pellix;

constexpr int samples = 30;
constexpr ULONGLONG mark_limit_ms = 5000;

// Serves the window's messages for `ms`, so that the next write falls anywhere in the timer's
// period.
void serve_for(DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    while (GetTickCount64() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
        bench::serve_messages();
    }
}

void write_file(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

double ms_between(LARGE_INTEGER start, LARGE_INTEGER end) {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER now() {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    return counter;
}

std::vector<std::filesystem::path> open_files_in_folders(const std::filesystem::path& root,
                                                         std::size_t count) {
    std::vector<std::filesystem::path> files;
    for (std::size_t i = 0; i < count; ++i) {
        const auto folder = root / std::to_string(i);
        std::filesystem::create_directories(folder);
        files.push_back((folder / "notes.md").lexically_normal());
        write_file(files.back(), "start\n");
        open_path(files.back());
    }
    return files;
}

// Milliseconds from the write until the tab shows the mark, serving the window's messages; -1
// when it never came.
double write_to_mark(DocumentTab& tab, int round) {
    serve_for(static_cast<DWORD>(round * 37 % 200));
    write_file(tab.path, "written by another program, round " + std::to_string(round) + "\n");
    const LARGE_INTEGER written = now();
    const ULONGLONG limit = GetTickCount64() + mark_limit_ms;
    while (!tab.changed_on_disk && GetTickCount64() < limit) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
        bench::serve_messages();
    }
    return tab.changed_on_disk ? ms_between(written, now()) : -1.0;
}

void measure_tick(UINT_PTR id, const char* what) {
    std::vector<double> costs;
    for (int i = 0; i < 200; ++i) {
        const LARGE_INTEGER start = now();
        on_timer(id);
        costs.push_back(ms_between(start, now()) * 1000.0);
    }
    std::printf("UI thread per tick of %s with %zu tabs: median %.0f us, max %.0f us\n", what,
                tabs.size(), bench::median(costs), *std::max_element(costs.begin(), costs.end()));
}

// The watcher's own share: from the write until the record names the file, taken as fast as
// the thread can (the main window takes it every 200 ms).
void measure_watcher_record(std::size_t count) {
    std::vector<double> delays;
    for (int round = 0; round < samples; ++round) {
        const DocumentTab& tab = *tabs[static_cast<std::size_t>(round * 53) % tabs.size()];
        take_changed_files();
        write_file(tab.path, "record round " + std::to_string(round) + "\n");
        const LARGE_INTEGER written = now();
        const ULONGLONG limit = GetTickCount64() + mark_limit_ms;
        bool named = false;
        while (!named && GetTickCount64() < limit) {
            for (const auto& path : take_changed_files()) {
                named = named || path == tab.path;
            }
        }
        if (named) {
            delays.push_back(ms_between(written, now()));
        }
    }
    std::printf("outside write to the watcher's record, %3zu folders: median %.2f ms, max %.2f "
                "ms (%zu of %d seen)\n",
                count, delays.empty() ? -1.0 : bench::median(delays),
                delays.empty() ? -1.0 : *std::max_element(delays.begin(), delays.end()),
                delays.size(), samples);
    for (const auto& tab : tabs) {
        store_stamp(*tab, stamp_file(tab->path));
    }
    take_changed_files();
}

// The strip asks every tab's editor whether it is modified; nothing else changes here.
void measure_strip_refresh() {
    std::vector<double> costs;
    for (int i = 0; i < 50; ++i) {
        const LARGE_INTEGER start = now();
        refresh_tab_strip();
        costs.push_back(ms_between(start, now()) * 1000.0);
    }
    std::vector<double> queries;
    for (int i = 0; i < 50; ++i) {
        const LARGE_INTEGER start = now();
        SendMessageW(tabs[static_cast<std::size_t>(i) % tabs.size()]->editor, EM_GETMODIFY, 0, 0);
        queries.push_back(ms_between(start, now()) * 1000.0);
    }
    std::printf("tab strip refresh with %zu unchanged tabs: median %.0f us (one EM_GETMODIFY to an "
                "editor: median %.1f us)\n",
                tabs.size(), bench::median(costs), bench::median(queries));
}

void measure(std::size_t count) {
    HWND window = create_main_window();
    const auto root = std::filesystem::absolute(std::filesystem::temp_directory_path() /
                                                "pellix-bench-disk-state");
    std::filesystem::remove_all(root);
    open_files_in_folders(root, count);
    // Until every folder read is armed a write may go unseen by the watcher.
    serve_for(static_cast<DWORD>(500 + 10 * count));
    measure_watcher_record(count);
    std::mt19937 random(7);
    std::vector<double> delays;
    int missed = 0;
    for (int round = 0; round < samples; ++round) {
        DocumentTab& tab = *tabs[random() % tabs.size()];
        const double ms = write_to_mark(tab, round);
        if (ms < 0) {
            ++missed;
        } else {
            delays.push_back(ms);
        }
        // Taken in, as selecting the tab would: the next round starts unmarked.
        store_stamp(tab, stamp_file(tab.path));
        tab.changed_on_disk = false;
        refresh_tab_strip();
    }
    std::printf("outside write to tab marked, %3zu files in %3zu folders: median %.1f ms, max "
                "%.1f ms (%d missed of %d)\n",
                count, count, delays.empty() ? -1.0 : bench::median(delays),
                delays.empty() ? -1.0 : *std::max_element(delays.begin(), delays.end()), missed,
                samples);
    if (count > 1) {
        measure_tick(timer_id::directory_changes, "timer 8 (watcher record)");
        measure_tick(timer_id::housekeeping, "timer 3 (poll of every file)");
        measure_strip_refresh();
    }
    DestroyWindow(window);
    bench::serve_messages();
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

void run() {
    instance = GetModuleHandleW(nullptr);
    compare_mode = true; // nothing is saved to the settings
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    register_main_window_class();
    measure(1);
    measure(128);
    CoUninitialize();
    compare_mode = false;
}

bench::Registration registration("disk_state", run);

} // namespace
