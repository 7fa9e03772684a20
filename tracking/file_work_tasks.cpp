#include "tracking/file_work_tasks.h"

#include "core/file_io.h"
#include "core/source_document.h"
#include "core/window_work.h"

#include <stdexcept>
#include <string>
#include <utility>

namespace pellix {

std::shared_ptr<const CompareBaseline> compare_baseline(const std::u16string& text) {
    return window_work(
        [&] { return std::make_shared<const CompareBaseline>(make_compare_baseline(text)); });
}

std::shared_ptr<const CompareBaseline> compare_snapshot_baseline(SourceDocument snapshot) {
    return window_work([&] {
        return std::make_shared<const CompareBaseline>(make_compare_baseline(snapshot.text()));
    });
}

SalvagedWorkspace read_tab_recovery_file(const std::filesystem::path& path) {
    return window_work([&] {
        std::string bytes;
        try {
            bytes = read_file_bytes(path, recovery_container_limit);
        } catch (const std::runtime_error&) {
            return SalvagedWorkspace{.workspace = {}, .whole = false};
        }
        return salvage_tab_recovery(bytes);
    });
}

SalvagedWorkspace read_recovery_record_file(const std::filesystem::path& path) {
    return window_work([&] {
        try {
            Session session = read_recovery_record(read_file_bytes(path, recovery_record_limit));
            return SalvagedWorkspace{.workspace = {.sessions = {std::move(session)}, .active = 0},
                                     .whole = true};
        } catch (const std::runtime_error&) {
            return SalvagedWorkspace{.workspace = {}, .whole = false};
        }
    });
}

} // namespace pellix
