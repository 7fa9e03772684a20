#pragma once

// The compare and recovery work that blocks on files or whole texts, each run on the file-work
// runner so that the window keeps painting meanwhile.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "tracking/compare_baseline.h"
#include "tracking/recovery_format.h"

namespace pellix {

class SourceDocument;

// The compare baseline of a text.
std::shared_ptr<const CompareBaseline> compare_baseline(const std::u16string& text);

// The compare baseline of another tab: its text is taken from the snapshot on the worker.
std::shared_ptr<const CompareBaseline> compare_snapshot_baseline(SourceDocument snapshot);

// The recovery store's files, the tab container ("tabs.bin") and the single record
// ("session.bin"), each read under its own limit and decoded as far as it can be trusted: bytes
// that fail the format's checks (a file over the limit among them) give the records before the
// damage (none for a lone record) and `whole` false. Nothing when the file cannot be opened or
// read even after a few tries over about a second: a backup or virus scanner holding it, or a
// denied access, leaves the store out of reach, not damaged.
std::optional<SalvagedWorkspace> read_tab_recovery_file(const std::filesystem::path& path);
std::optional<SalvagedWorkspace> read_recovery_record_file(const std::filesystem::path& path);

} // namespace pellix
