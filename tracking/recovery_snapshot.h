#pragma once

// A recovery snapshot as the UI thread hands it over: each tab's text still shared with its
// editor, so that taking one costs no copy of any text. The writer thread turns it into a
// `Workspace` before encoding it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "core/source_document.h"
#include "tracking/recovery_format.h"

namespace pellix {

struct SessionSnapshot {
    SourceDocument text; // shares the editor's pieces; read only on the writer thread
    Encoding encoding = Encoding::utf8;
    LineEnding line_ending = LineEnding::crlf;
    std::string path; // UTF-8; empty for an untitled tab
    bool draft = false;
    std::uint64_t tab = 0; // which tab, the same in every store and every run that brings it back
    // The fingerprint of its file's bytes as it last read or wrote them.
    std::uint64_t file_version = 0;
    std::optional<std::string> other_version_of; // the path of the tab it is another version of
};

struct WorkspaceSnapshot {
    std::vector<SessionSnapshot> sessions;
    std::uint64_t active = 0;
};

// The sessions with their texts taken out of the shared pieces.
Workspace workspace_of(const WorkspaceSnapshot& snapshot);

} // namespace pellix
