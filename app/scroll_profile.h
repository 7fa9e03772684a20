#pragma once

// The program's only diagnostic output: with "--scroll-profile" the editor, the split-view
// synchronisation and the preview time their scrolling and painting work into one record,
// written as a small CSV table when the program ends.

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

namespace pellix {

// The stages in index order: "source_input", "source_paint", "split_sync", "preview_input",
// "preview_paint". The preview's own stage numbers (3 and 4) index the same table.
inline constexpr std::size_t scroll_stage_count = 5;
extern const std::array<const char*, scroll_stage_count> scroll_stage_names;
// The stage the main window times itself: one split-view scroll synchronisation.
inline constexpr std::uint64_t scroll_stage_split_sync = 2;

// A sample above this many microseconds counts as a missed frame.
inline constexpr double frame_budget_us = 16000.0;

struct ScrollStage {
    std::uint64_t count = 0;
    std::uint64_t over_16ms = 0;
    double total_us = 0.0;
    double max_us = 0.0;
};

struct ScrollProfile {
    // Set by "--scroll-profile", never cleared.
    bool enabled = false;
    std::array<ScrollStage, scroll_stage_count> stages{};
};

// The process's record; UI thread only, so it has no lock.
extern ScrollProfile scroll_profile;

// A timed piece of work under way; a null profile records nothing.
struct ScrollSample {
    ScrollProfile* profile = nullptr;
    std::uint64_t stage = 0;
    std::int64_t start_ns = 0;
};

// A sample of `stage` starting now; its profile is null while profiling is off.
ScrollSample begin_scroll_sample(std::uint64_t stage);

// Adds the time from the sample's start until now to its stage.
void record_scroll_sample(const ScrollSample& sample);

// Adds one sample of `duration_us` microseconds to `stage`.
void add_scroll_duration(ScrollStage& stage, double duration_us);

// What the editor (stages 0 and 1) and the preview (3 and 4) call for a piece of work that
// began at `start`; nothing while profiling is off.
void record_stage_sample(int stage, std::chrono::steady_clock::time_point start);

// The CSV table, lines ending in a single line feed.
std::string scroll_profile_table(const ScrollProfile& profile);

// Writes the table as text (CR LF line ends on Windows) to `path`, truncating it; a file that
// cannot be opened is silently skipped, since the shut-down must go on.
void write_scroll_profile_file(const ScrollProfile& profile, const std::filesystem::path& path);

// "Pellix-scroll-profile.csv" in the current directory.
inline constexpr wchar_t scroll_profile_file_name[] = L"Pellix-scroll-profile.csv";

} // namespace pellix
