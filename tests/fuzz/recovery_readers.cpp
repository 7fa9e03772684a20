// Recovery files as the program finds them after a crash: a whole "tabs.bin" container or one
// "session.bin" record. Refusals are std::runtime_error; whatever is accepted must be written
// back byte for byte, since the format has one way to write each value. What is salvaged from a
// damaged container must be records of the file, in its order and as they stand in it, whatever
// its header's count and active index say.

#include "tracking/recovery_format.h"
#include "tests/fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace pellix {
namespace {

void check_container(std::string_view bytes) {
    Workspace workspace;
    try {
        workspace = read_tab_recovery(bytes);
    } catch (const std::runtime_error&) {
        return;
    }
    require(encode_tab_recovery(workspace) == bytes, "an accepted container is written back");
}

void check_salvage(std::string_view bytes) {
    const SalvagedWorkspace salvaged = salvage_tab_recovery(bytes);
    bool reads_whole = true;
    try {
        require(read_tab_recovery(bytes) == salvaged.workspace,
                "a whole container is salvaged whole");
    } catch (const std::runtime_error&) {
        reads_whole = false;
    }
    require(reads_whole == salvaged.whole, "salvage says whether the container read whole");
    const Workspace& workspace = salvaged.workspace;
    if (workspace.sessions.empty()) {
        require(workspace.active == 0, "nothing salvaged has no active tab");
        return;
    }
    require(workspace.active < workspace.sessions.size(), "the active tab is a salvaged one");
    // Written again, each salvaged record is one the file frames after the one before it.
    std::size_t offset = 16;
    for (const Session& session : workspace.sessions) {
        const std::string written = encode_tab_recovery(Workspace{{session}, 0}).substr(16);
        bool found = false;
        while (!found && bytes.size() >= offset + 4) {
            std::uint32_t length = 0;
            for (std::size_t i = 0; i < 4; ++i) {
                length |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + i]))
                          << (8 * i);
            }
            if (length > bytes.size() - offset - 4) {
                break;
            }
            found = bytes.substr(offset, 4 + length) == written;
            offset += 4 + length;
        }
        require(found, "salvaged records are the file's records in order, byte for byte");
    }
}

// The input's first eight bytes written over the count and active index of the container that
// follows them: a damaged header costs no record, since every record checks itself, and the
// active tab stays where the damaged index still names one.
void check_damaged_header(std::string_view bytes) {
    constexpr std::size_t fields = 8;
    constexpr std::size_t fields_at = 8;
    if (bytes.size() < fields) {
        return;
    }
    std::string container(bytes.substr(fields));
    Workspace stored;
    try {
        stored = read_tab_recovery(container);
    } catch (const std::runtime_error&) {
        return;
    }
    container.replace(fields_at, fields, bytes.substr(0, fields));
    const SalvagedWorkspace salvaged = salvage_tab_recovery(container);
    require(salvaged.workspace.sessions == stored.sessions, "a damaged header costs no record");
    std::uint32_t active = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        active |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[4 + i])) << (8 * i);
    }
    const std::uint64_t expected =
        active < stored.sessions.size() ? active : stored.sessions.size() - 1;
    require(salvaged.workspace.active == expected, "the damaged index names a salvaged tab");
}

// A record is written only inside a container, where a lone tab's record ends the file.
void check_record(std::string_view bytes) {
    Session session;
    try {
        session = read_recovery_record(bytes);
    } catch (const std::runtime_error&) {
        return;
    }
    const std::string container = encode_tab_recovery(Workspace{{session}, 0});
    require(container.size() > bytes.size() &&
                std::string_view(container).substr(container.size() - bytes.size()) == bytes,
            "an accepted record is written back");
}

} // namespace
} // namespace pellix

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    pellix::check_container(bytes);
    pellix::check_salvage(bytes);
    pellix::check_damaged_header(bytes);
    pellix::check_record(bytes);
    return 0;
}
