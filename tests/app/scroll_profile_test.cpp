#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/scroll_profile.h"

namespace pellix {
namespace {

std::string file_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ScrollProfileFile : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() / L"pellix-scroll-profile-test";
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        std::filesystem::remove_all(folder_);
        scroll_profile = {};
    }
    std::filesystem::path folder_;
};

TEST_F(ScrollProfileFile, AnEmptyProfileWritesTheHeaderAndFiveZeroLinesAsText) {
    const auto path = folder_ / scroll_profile_file_name;
    std::ofstream(path, std::ios::binary) << "an older, longer profile that must not survive\n";
    write_scroll_profile_file(ScrollProfile{}, path);
    EXPECT_EQ(file_bytes(path), "stage,count,mean_ms,max_ms,over_16ms\r\n"
                                "source_input,0,0,0,0\r\n"
                                "source_paint,0,0,0,0\r\n"
                                "split_sync,0,0,0,0\r\n"
                                "preview_input,0,0,0,0\r\n"
                                "preview_paint,0,0,0,0\r\n");

    // A folder that does not exist: nothing is written and nothing is thrown.
    const auto missing = folder_ / L"missing" / scroll_profile_file_name;
    write_scroll_profile_file(ScrollProfile{}, missing);
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST(ScrollProfile, SamplesAtTheFrameBudgetAndTheTableFormat) {
    ScrollProfile profile;
    ScrollStage& sync = profile.stages[2];
    add_scroll_duration(sync, 16000.0);
    EXPECT_EQ(sync.over_16ms, 0u);
    add_scroll_duration(sync, 16000.001);
    EXPECT_EQ(sync.over_16ms, 1u);
    add_scroll_duration(profile.stages[4], 1500.0);
    add_scroll_duration(profile.stages[0], 1234567890.0);
    add_scroll_duration(profile.stages[0], 0.5);
    EXPECT_EQ(scroll_profile_table(profile), "stage,count,mean_ms,max_ms,over_16ms\n"
                                             "source_input,2,617284,1.23457e+06,1\n"
                                             "source_paint,0,0,0,0\n"
                                             "split_sync,2,16,16,1\n"
                                             "preview_input,0,0,0,0\n"
                                             "preview_paint,1,1.5,1.5,0\n");
}

TEST(ScrollProfile, SamplesAreTakenOnlyWhileProfiling) {
    scroll_profile = {};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(begin_scroll_sample(1).profile, nullptr);
    record_scroll_sample(begin_scroll_sample(1));
    record_stage_sample(3, start);
    EXPECT_EQ(scroll_profile.stages[1].count, 0u);
    EXPECT_EQ(scroll_profile.stages[3].count, 0u);

    scroll_profile.enabled = true;
    const ScrollSample sample = begin_scroll_sample(1);
    EXPECT_EQ(sample.profile, &scroll_profile);
    Sleep(20);
    record_scroll_sample(sample);
    record_stage_sample(4, start - std::chrono::milliseconds(30));
    record_scroll_sample({&scroll_profile, scroll_stage_count, 0}); // no such stage
    EXPECT_EQ(scroll_profile.stages[1].count, 1u);
    EXPECT_GE(scroll_profile.stages[1].max_us, 15000.0);
    EXPECT_EQ(scroll_profile.stages[4].count, 1u);
    EXPECT_EQ(scroll_profile.stages[4].over_16ms, 1u);
    scroll_profile = {};
}

} // namespace
} // namespace pellix
