#include "app/scroll_profile.h"

#include <cstdio>
#include <memory>

namespace pellix {

const std::array<const char*, scroll_stage_count> scroll_stage_names = {
    "source_input", "source_paint", "split_sync", "preview_input", "preview_paint"};

ScrollProfile scroll_profile;

namespace {

constexpr double ns_per_us = 1000.0;
constexpr double us_per_ms = 1000.0;
constexpr std::size_t line_limit = 160;

std::int64_t steady_ns(std::chrono::steady_clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

ScrollSample begin_scroll_sample(std::uint64_t stage) {
    if (!scroll_profile.enabled) {
        return {};
    }
    return {&scroll_profile, stage, steady_ns(std::chrono::steady_clock::now())};
}

void add_scroll_duration(ScrollStage& stage, double duration_us) {
    ++stage.count;
    stage.total_us += duration_us;
    if (duration_us > stage.max_us) {
        stage.max_us = duration_us;
    }
    if (duration_us > frame_budget_us) {
        ++stage.over_16ms;
    }
}

void record_scroll_sample(const ScrollSample& sample) {
    if (sample.profile == nullptr || sample.stage >= scroll_stage_count) {
        return;
    }
    const std::int64_t now = steady_ns(std::chrono::steady_clock::now());
    add_scroll_duration(sample.profile->stages[sample.stage],
                        static_cast<double>(now - sample.start_ns) / ns_per_us);
}

void record_stage_sample(int stage, std::chrono::steady_clock::time_point start) {
    if (!scroll_profile.enabled || stage < 0) {
        return;
    }
    record_scroll_sample({&scroll_profile, static_cast<std::uint64_t>(stage), steady_ns(start)});
}

std::string scroll_profile_table(const ScrollProfile& profile) {
    std::string table = "stage,count,mean_ms,max_ms,over_16ms\n";
    for (std::size_t i = 0; i < scroll_stage_count; ++i) {
        const ScrollStage& stage = profile.stages[i];
        const double mean_ms =
            stage.count == 0 ? 0.0 : stage.total_us / static_cast<double>(stage.count) / us_per_ms;
        char line[line_limit];
        std::snprintf(line, sizeof(line), "%s,%llu,%g,%g,%llu\n", scroll_stage_names[i],
                      static_cast<unsigned long long>(stage.count), mean_ms,
                      stage.max_us / us_per_ms, static_cast<unsigned long long>(stage.over_16ms));
        table += line;
    }
    return table;
}

void write_scroll_profile_file(const ScrollProfile& profile, const std::filesystem::path& path) {
    std::unique_ptr<std::FILE, FileCloser> file(_wfopen(path.c_str(), L"w"));
    if (!file) {
        return;
    }
    const std::string table = scroll_profile_table(profile);
    std::fwrite(table.data(), 1, table.size(), file.get());
}

} // namespace pellix
