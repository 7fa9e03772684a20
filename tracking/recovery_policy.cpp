#include "tracking/recovery_policy.h"

#include <algorithm>
#include <compare>
#include <cstddef>
#include <cstdio>
#include <iterator>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace pellix {
namespace {

// Written in place of "tabs.bin" while that cannot take a store, and read after it at a start.
constexpr wchar_t beside_file_name[] = L"tabs.bin.beside";

std::wstring copy_prefix(const std::filesystem::path& file, KeptCopy kind) {
    return file.filename().wstring() + (kind == KeptCopy::damaged ? L".damaged-" : L".kept-");
}

std::wstring stamp_of(const UtcTime& when) {
    char stamp[32] = {};
    std::snprintf(stamp, std::size(stamp), "%04u%02u%02u-%02u%02u%02u", when.year % 10000,
                  when.month % 100, when.day % 100, when.hour % 100, when.minute % 100,
                  when.second % 100);
    return std::wstring(stamp, stamp + std::char_traits<char>::length(stamp));
}

// The digits of `text` as a number; nothing when it is empty or holds anything else.
std::optional<std::uint64_t> number_of(std::wstring_view text) {
    if (text.empty() || text.size() > 18) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const wchar_t digit : text) {
        if (digit < L'0' || digit > L'9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(digit - L'0');
    }
    return value;
}

// Where a kept copy stands among its kind: its stamp and counter read as numbers ("-10" comes
// after "-2"; the first copy of a second has no counter and comes first). Nothing for a name
// this code did not make, which is then never removed.
struct CopyOrder {
    std::uint64_t date = 0;
    std::uint64_t time = 0;
    std::uint64_t counter = 1;
    auto operator<=>(const CopyOrder&) const = default;
};

std::optional<CopyOrder> order_of(std::wstring_view stamp) {
    constexpr std::size_t date_digits = 8;
    constexpr std::size_t time_digits = 6;
    constexpr std::size_t stamp_size = date_digits + 1 + time_digits;
    if (stamp.size() < stamp_size || stamp[date_digits] != L'-') {
        return std::nullopt;
    }
    const auto date = number_of(stamp.substr(0, date_digits));
    const auto time = number_of(stamp.substr(date_digits + 1, time_digits));
    std::optional<std::uint64_t> counter = 1;
    if (stamp.size() > stamp_size) {
        counter =
            stamp[stamp_size] == L'-' ? number_of(stamp.substr(stamp_size + 1)) : std::nullopt;
    }
    if (!date || !time || !counter) {
        return std::nullopt;
    }
    return CopyOrder{.date = *date, .time = *time, .counter = *counter};
}

using OrderedCopy = std::pair<CopyOrder, std::filesystem::path>;

// The copies of `file` of one kind among `names`, oldest first.
std::vector<OrderedCopy> ordered_copies(const std::filesystem::path& file, KeptCopy kind,
                                        const std::vector<std::filesystem::path>& names) {
    const std::wstring prefix = copy_prefix(file, kind);
    std::vector<OrderedCopy> copies;
    for (const std::filesystem::path& name : names) {
        const std::wstring text = name.filename().wstring();
        if (!text.starts_with(prefix)) {
            continue;
        }
        if (const auto order = order_of(std::wstring_view(text).substr(prefix.size()))) {
            copies.emplace_back(*order, file.parent_path() / name.filename());
        }
    }
    std::sort(copies.begin(), copies.end());
    return copies;
}

// Appends `part` to `merged`; a session that an earlier file holds exactly as it is comes once
// (a run that stored beside a damaged store restored the same drafts from it).
void merge_into(SalvagedWorkspace& merged, SalvagedWorkspace part) {
    Workspace& workspace = merged.workspace;
    const auto earlier = static_cast<std::ptrdiff_t>(workspace.sessions.size());
    for (std::size_t i = 0; i < part.workspace.sessions.size(); ++i) {
        Session& session = part.workspace.sessions[i];
        const auto end = workspace.sessions.begin() + earlier;
        const auto same = std::find(workspace.sessions.begin(), end, session);
        if (i == part.workspace.active) {
            workspace.active = same != end
                                   ? static_cast<std::uint64_t>(same - workspace.sessions.begin())
                                   : workspace.sessions.size();
        }
        if (same == end) {
            workspace.sessions.push_back(std::move(session));
        }
    }
    merged.whole = merged.whole && part.whole;
}

} // namespace

std::filesystem::path kept_copy_name(const std::filesystem::path& file, KeptCopy kind,
                                     const UtcTime& when,
                                     const std::vector<std::filesystem::path>& taken) {
    const std::wstring stamp = stamp_of(when);
    const CopyOrder order = *order_of(stamp);
    std::uint64_t counter = 1;
    for (const auto& [copy, path] : ordered_copies(file, kind, taken)) {
        if (copy.date == order.date && copy.time == order.time) {
            counter = std::max(counter, copy.counter + 1);
        }
    }
    std::wstring name = copy_prefix(file, kind) + stamp;
    if (counter > 1) {
        name += L"-" + std::to_wstring(counter);
    }
    return file.parent_path() / name;
}

std::vector<std::filesystem::path> copies_beyond(const std::filesystem::path& file, KeptCopy kind,
                                                 const std::vector<std::filesystem::path>& names,
                                                 std::size_t keep) {
    const std::vector<OrderedCopy> copies = ordered_copies(file, kind, names);
    std::vector<std::filesystem::path> beyond;
    for (std::size_t i = 0; i + keep < copies.size(); ++i) {
        beyond.push_back(copies[i].second);
    }
    return beyond;
}

std::filesystem::path carry_out_store(RecoveryDisk& disk, const StorePlan& plan,
                                      const Workspace& workspace) {
    // Nothing worth keeping removes the store instead.
    const std::string bytes =
        workspace.sessions.empty() ? std::string() : encode_tab_recovery(workspace);
    auto put = [&](const std::filesystem::path& file) {
        if (workspace.sessions.empty()) {
            disk.remove(file);
        } else {
            disk.write(file, bytes);
        }
    };
    try {
        put(plan.target);
    } catch (const std::runtime_error&) {
        if (plan.fallback.empty()) {
            throw;
        }
        // Another program holds the target: the drafts go where the next start reads them too.
        put(plan.fallback);
        return plan.fallback;
    }
    for (const std::filesystem::path& file : plan.let_go) {
        try {
            disk.remove(file);
        } catch (const std::runtime_error&) {
            // Read again by the next start beside the newer store; the next store tries again.
        }
    }
    return plan.target;
}

RecoveryPolicy::RecoveryPolicy(RecoveryDisk& disk, std::filesystem::path folder) : disk_(disk) {
    tabs_.path = folder / recovery_tabs_name;
    session_.path = folder / recovery_session_name;
    beside_.path = folder / beside_file_name;
    // Until a start has looked, the stores go to "tabs.bin" and remove "session.bin", as every
    // store did before the file beside existed.
    session_.present = true;
}

RecoveryPolicy::StartFile RecoveryPolicy::read_file(const std::filesystem::path& path,
                                                    bool container,
                                                    std::optional<SalvagedWorkspace>& into) {
    StartFile file;
    file.path = path;
    file.present = true;
    std::optional<std::string> bytes =
        disk_.read(path, container ? recovery_container_limit : recovery_record_limit);
    SalvagedWorkspace part{.workspace = {}, .whole = false};
    if (!bytes) {
        file.left_alone = true;
    } else if (container) {
        part = salvage_tab_recovery(*bytes);
    } else {
        try {
            part = {.workspace = {.sessions = {read_recovery_record(*bytes)}, .active = 0},
                    .whole = true};
        } catch (const std::runtime_error&) {
            // A lone record that fails its checks holds nothing that can be trusted.
        }
    }
    if (bytes) {
        file.read = true;
        file.damaged = !part.whole;
        file.bytes = std::move(*bytes);
    }
    if (!into) {
        into = SalvagedWorkspace{.workspace = {}, .whole = true};
    }
    merge_into(*into, std::move(part));
    return file;
}

bool RecoveryPolicy::anything_to_read() {
    return disk_.exists(tabs_.path) || disk_.exists(session_.path) || disk_.exists(beside_.path);
}

std::optional<SalvagedWorkspace> RecoveryPolicy::start() {
    std::optional<SalvagedWorkspace> merged;
    const bool tabs_there = disk_.exists(tabs_.path);
    const bool session_there = disk_.exists(session_.path);
    session_.present = session_there;
    if (tabs_there) {
        tabs_ = read_file(tabs_.path, true, merged);
    } else if (session_there) {
        session_ = read_file(session_.path, false, merged);
    }
    if (disk_.exists(beside_.path)) {
        beside_ = read_file(beside_.path, true, merged);
    }
    if (merged && merged->workspace.active >= merged->workspace.sessions.size()) {
        merged->workspace.active = 0;
    }
    return merged;
}

void RecoveryPolicy::keep(StartFile& file, KeptCopy kind, const UtcTime& now) {
    try {
        const std::filesystem::path folder = file.path.parent_path();
        const std::filesystem::path copy =
            kept_copy_name(file.path, kind, now, disk_.names(folder));
        if (file.bytes.empty()) {
            // Nothing in it to copy (empty, or over the limit, which no store of ours is): it
            // goes aside as it is.
            disk_.move(file.path, copy);
            file.present = false;
        } else {
            // A copy, not a move: the file stays where the next start reads it until a store
            // holding what came back of it is on disk.
            disk_.write(copy, file.bytes);
        }
        kept_.emplace_back(kind, copy);
        if (kind == KeptCopy::damaged) {
            prune(file);
        }
    } catch (const std::runtime_error&) {
        file.left_alone = true;
    }
}

// "session.bin" beside a "tabs.bin" that was not read whole: the next start does not read it
// while "tabs.bin" is there, and a store writing "tabs.bin" would remove it unread.
void RecoveryPolicy::set_aside(StartFile& file, const UtcTime& now) {
    try {
        const std::filesystem::path copy =
            kept_copy_name(file.path, KeptCopy::intact, now, disk_.names(file.path.parent_path()));
        disk_.move(file.path, copy);
        kept_.emplace_back(KeptCopy::intact, copy);
        file.present = false;
    } catch (const std::runtime_error&) {
        file.left_alone = true;
    }
}

void RecoveryPolicy::prune(const StartFile& file) {
    const std::filesystem::path just_made = kept_.back().second;
    std::vector<std::filesystem::path> names = disk_.names(file.path.parent_path());
    std::erase_if(names, [&](const std::filesystem::path& name) {
        return name.filename() == just_made.filename();
    });
    for (const std::filesystem::path& old :
         copies_beyond(file.path, KeptCopy::damaged, names, kept_store_copies - 1)) {
        try {
            disk_.remove(old);
        } catch (const std::runtime_error&) {
            // Tried again when the next damaged copy is made.
        }
    }
}

void RecoveryPolicy::restored(bool every_session_back, const UtcTime& now) {
    for (StartFile* file : {&tabs_, &session_, &beside_}) {
        if (file->read && file->damaged) {
            keep(*file, KeptCopy::damaged, now);
        } else if (file->read && !every_session_back) {
            keep(*file, KeptCopy::intact, now);
        }
        file->bytes = {};
    }
    if (session_.present && !session_.read && !session_.left_alone &&
        (tabs_.damaged || tabs_.left_alone)) {
        set_aside(session_, now);
    }
}

StorePlan RecoveryPolicy::plan_store() const {
    // A "tabs.bin" written while an unread "session.bin" is there would hide it from the next
    // start, which reads "session.bin" only when there is no "tabs.bin".
    const bool hides_session = !tabs_.present && session_.left_alone;
    StorePlan plan;
    if (!tabs_.left_alone && !hides_session) {
        plan.target = tabs_.path;
        if (!beside_.left_alone) {
            plan.fallback = beside_.path;
        }
    } else if (!beside_.left_alone) {
        plan.target = beside_.path;
        return plan;
    } else {
        throw std::runtime_error("Both recovery files are in use.");
    }
    for (const StartFile* file : {&session_, &beside_}) {
        if (file->present && !file->left_alone) {
            plan.let_go.push_back(file->path);
        }
    }
    return plan;
}

void RecoveryPolicy::store_written(const StorePlan& plan, const std::filesystem::path& written) {
    storing_beside_ = written == beside_.path;
    if (storing_beside_) {
        beside_.present = true;
        return;
    }
    tabs_.present = true;
    for (const std::filesystem::path& file : plan.let_go) {
        for (StartFile* start_file : {&session_, &beside_}) {
            if (start_file->path == file) {
                start_file->present = false;
            }
        }
    }
}

std::vector<RecoveryStatusNote> RecoveryPolicy::notes() {
    std::erase_if(kept_, [&](const auto& copy) {
        try {
            return !disk_.exists(copy.second);
        } catch (const std::runtime_error&) {
            return false;
        }
    });
    std::vector<RecoveryStatusNote> notes;
    for (const auto& [kind, copy] : kept_) {
        notes.push_back({.kind = kind == KeptCopy::damaged ? RecoveryNote::damaged_copy
                                                           : RecoveryNote::intact_copy,
                         .path = copy});
    }
    for (const StartFile* file : {&tabs_, &session_, &beside_}) {
        if (file->left_alone && file->present) {
            notes.push_back({.kind = RecoveryNote::left_alone, .path = file->path});
        }
    }
    if (storing_beside_) {
        notes.push_back({.kind = RecoveryNote::beside, .path = beside_.path});
    }
    return notes;
}

} // namespace pellix
