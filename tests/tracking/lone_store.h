#pragma once

#include "tracking/recovery_format.h"

#include <cstdint>
#include <string>

namespace pellix::test {

// A store file holding one session (a draft, or a saved text), as the only store of a run that
// read no other file wrote it: `version` is its number, and the tab is the same one unless told.
inline std::string lone_store(std::uint64_t run, std::uint64_t version, const Session& session,
                              std::uint64_t tab = 7) {
    const StoreStamp stamp{.run = run,
                           .store = 1,
                           .replaces = {},
                           .taken_over = {},
                           .version = version,
                           .entries = {{.tab = tab,
                                        .version = version,
                                        .fingerprint = session_fingerprint(session),
                                        .file_version = session.file_version,
                                        .draft = session.draft}}};
    return encode_store_file({.sessions = {session}, .active = 0}, stamp);
}

} // namespace pellix::test
