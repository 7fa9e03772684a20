#include "tracking/file_work_tasks.h"

#include "core/file_io.h"
#include "core/source_document.h"
#include "core/window_work.h"

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

Workspace read_tab_recovery_file(const std::filesystem::path& path) {
    return window_work(
        [&] { return read_tab_recovery(read_file_bytes(path, recovery_container_limit)); });
}

Session read_recovery_record_file(const std::filesystem::path& path) {
    return window_work(
        [&] { return read_recovery_record(read_file_bytes(path, recovery_record_limit)); });
}

} // namespace pellix
