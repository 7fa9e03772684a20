#pragma once

// The compare and recovery work that blocks on files or whole texts, each run on the file-work
// runner so that the window keeps painting meanwhile.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "tracking/compare_baseline.h"

namespace pellix {

class SourceDocument;

// The compare baseline of a text.
std::shared_ptr<const CompareBaseline> compare_baseline(const std::u16string& text);

// The compare baseline of another tab: its text is taken from the snapshot on the worker.
std::shared_ptr<const CompareBaseline> compare_snapshot_baseline(SourceDocument snapshot);

} // namespace pellix
