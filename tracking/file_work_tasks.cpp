#include "tracking/file_work_tasks.h"

#include "core/file_io.h"
#include "core/source_document.h"
#include "core/window_work.h"

#include <chrono>
#include <stdexcept>
#include <thread>
#include <string>
#include <utility>

namespace pellix {
namespace {

// Another program may hold a store file for a moment; how often and how far apart it is tried.
constexpr int store_read_attempts = 5;
constexpr std::chrono::milliseconds store_read_pause{200};

// A store file's bytes; nothing while it cannot be opened or read by the last try. A file over
// the limit is no store this program wrote: it comes as no bytes, which the format refuses.
std::optional<std::string> store_bytes(const std::filesystem::path& path, std::uint64_t limit) {
    for (int attempt = 1;; ++attempt) {
        FileRead read = read_whole_file(path, limit);
        if (read.end == FileReadEnd::read) {
            return std::move(read.bytes);
        }
        if (read.end == FileReadEnd::over_limit) {
            return std::string();
        }
        if (attempt == store_read_attempts) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(store_read_pause);
    }
}

} // namespace

std::shared_ptr<const CompareBaseline> compare_baseline(const std::u16string& text) {
    return window_work(
        [&] { return std::make_shared<const CompareBaseline>(make_compare_baseline(text)); });
}

std::shared_ptr<const CompareBaseline> compare_snapshot_baseline(SourceDocument snapshot) {
    return window_work([&] {
        return std::make_shared<const CompareBaseline>(make_compare_baseline(snapshot.text()));
    });
}

std::optional<SalvagedWorkspace> read_tab_recovery_file(const std::filesystem::path& path) {
    return window_work([&]() -> std::optional<SalvagedWorkspace> {
        const std::optional<std::string> bytes = store_bytes(path, recovery_container_limit);
        if (!bytes) {
            return std::nullopt;
        }
        return salvage_tab_recovery(*bytes);
    });
}

std::optional<SalvagedWorkspace> read_recovery_record_file(const std::filesystem::path& path) {
    return window_work([&]() -> std::optional<SalvagedWorkspace> {
        const std::optional<std::string> bytes = store_bytes(path, recovery_record_limit);
        if (!bytes) {
            return std::nullopt;
        }
        try {
            return SalvagedWorkspace{
                .workspace = {.sessions = {read_recovery_record(*bytes)}, .active = 0},
                .whole = true};
        } catch (const std::runtime_error&) {
            return SalvagedWorkspace{.workspace = {}, .whole = false};
        }
    });
}

} // namespace pellix
