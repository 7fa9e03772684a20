#include "tracking/file_work_tasks.h"

#include "core/source_document.h"
#include "core/window_work.h"

#include <memory>
#include <string>

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

} // namespace pellix
