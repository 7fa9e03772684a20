#pragma once

#include "tracking/recovery_format.h"

#include <cstdint>
#include <string>

namespace pellix::test {

// A store file holding one draft, as the only store of a run that read no other file wrote it:
// `order` is its number, and the draft's tab is the same one unless told.
inline std::string lone_store(std::uint64_t run, std::uint64_t order, const Session& draft,
                              std::uint64_t tab = 7) {
    const StoreStamp stamp{.run = run,
                           .store = 1,
                           .replaces = {},
                           .taken_over = {},
                           .order = order,
                           .entries = {{.tab = tab,
                                        .order = order,
                                        .fingerprint = session_fingerprint(draft),
                                        .draft = true}}};
    return encode_store_file({.sessions = {draft}, .active = 0}, stamp);
}

} // namespace pellix::test
