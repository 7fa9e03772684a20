#include "tracking/recovery_policy.h"

#include "core/file_io.h"

#include <algorithm>
#include <array>
#include <compare>
#include <cstddef>
#include <cwchar>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace pellix {
namespace {

const std::vector<StoreEntry> no_entries;
const std::vector<Session> no_sessions;

// Written in place of "tabs.bin" while that cannot take a store, and read after it at a start.
constexpr wchar_t beside_file_name[] = L"tabs.bin.beside";

// Where a file comes in the order in which a store lets files go, by how recent what it holds
// is: one from before the start first, then one taken over at the start (or one whose stamp
// failed its checks, which cannot say what was let go since), one read at it, and one this run
// stored in, by its store.
constexpr std::uint64_t superseded_rank = 1;
constexpr std::uint64_t read_rank = 2;
constexpr std::uint64_t store_rank(std::uint64_t store) {
    return read_rank + store;
}

bool temporary_name(const std::filesystem::path& name) {
    const std::wstring text = name.filename().wstring();
    return text.starts_with(temporary_file_prefix) && text.ends_with(temporary_file_suffix);
}

std::wstring copy_prefix(const std::filesystem::path& file, KeptCopy kind) {
    return file.filename().wstring() + (kind == KeptCopy::damaged ? L".damaged-" : L".kept-");
}

// Whether `bytes` are a store of this version as it was written: its stamp checks out, and so
// does the container's fingerprint it gives.
bool reads_whole(std::string_view bytes) {
    const StoreFile split = split_store_file(bytes);
    return split.stamp && split.intact;
}

// A tab's identity for a record no stamp names, or for a session the writer was given without
// one: the same each time the same bytes are read, in this file or another, so that a store
// holding the tab it came back in stands for it at the next start, and a copy of the record in
// another file is not taken for another tab.
std::uint64_t derived_tab(std::uint64_t seed, std::size_t index) {
    return recovery_identity(seed, index + 1);
}

std::wstring stamp_of(const UtcTime& when) {
    wchar_t stamp[32] = {};
    std::swprintf(stamp, std::size(stamp), L"%04u%02u%02u-%02u%02u%02u", when.year % 10000,
                  when.month % 100, when.day % 100, when.hour % 100, when.minute % 100,
                  when.second % 100);
    return stamp;
}

// The digits of `text` as a number; nothing when it is empty or holds anything else.
std::optional<std::uint64_t> number_of(std::wstring_view text) {
    const auto digit = [](wchar_t unit) { return unit >= L'0' && unit <= L'9'; };
    if (text.empty() || text.size() > 18 || !std::ranges::all_of(text, digit)) {
        return std::nullopt;
    }
    return std::stoull(std::wstring(text));
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

// Where `name` stands among the copies of `file` of that kind; nothing when it is none of them.
std::optional<CopyOrder> copy_order(const std::filesystem::path& name,
                                    const std::filesystem::path& file, KeptCopy kind) {
    const std::wstring text = name.filename().wstring();
    const std::wstring prefix = copy_prefix(file, kind);
    return text.starts_with(prefix) ? order_of(std::wstring_view(text).substr(prefix.size()))
                                    : std::nullopt;
}

// A copy a start made of a damaged "tabs.bin" or file beside; not a copy kept of such a copy.
bool set_aside_name(const std::filesystem::path& name) {
    return copy_order(name, recovery_tabs_name, KeptCopy::damaged) ||
           copy_order(name, beside_file_name, KeptCopy::damaged);
}

// The copies of `file` of one kind among `names`, oldest first.
std::vector<OrderedCopy> ordered_copies(const std::filesystem::path& file, KeptCopy kind,
                                        const std::vector<std::filesystem::path>& names) {
    std::vector<OrderedCopy> copies;
    for (const std::filesystem::path& name : names) {
        if (const auto order = copy_order(name, file, kind)) {
            copies.emplace_back(*order, file.parent_path() / name.filename());
        }
    }
    std::ranges::sort(copies);
    return copies;
}

// A fingerprint of a session's text alone, whatever file holds it.
std::uint64_t text_fingerprint(const Session& session) {
    return session_fingerprint({.text = session.text,
                                .encoding = session.encoding,
                                .line_ending = session.line_ending,
                                .path = {}});
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

// Where the entry of `tab` is, or would go, in a list kept in the order of tabs.
template <typename List> auto place_of(List& known, std::uint64_t tab) {
    return std::lower_bound(
        known.begin(), known.end(), tab,
        [](const KnownVersion& k, std::uint64_t t) { return k.newest.tab < t; });
}

void forget_version(KnownVersions& known, std::uint64_t tab) {
    const auto at = place_of(known, tab);
    if (at != known.end() && at->newest.tab == tab) {
        known.erase(at);
    }
}

// Whether the store of `newer` had read and taken over the store of `older`, directly or through
// others: written later in the same run, or read by its run at its start (or by a run whose
// stores that one read), as its stamp says.
bool took_over(const StoreStamp& newer, const std::optional<StoreId>& older,
               std::uint64_t older_fingerprint) {
    if (std::ranges::find(newer.replaces, older_fingerprint) != newer.replaces.end()) {
        return true;
    }
    if (!older) {
        return false;
    }
    if (older->run == newer.run) {
        return older->store < newer.store;
    }
    return std::ranges::any_of(newer.taken_over, [&](const StoreId& r) {
        return r.run == older->run && r.store >= older->store;
    });
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

std::uint64_t recovery_identity(std::uint64_t seed, std::uint64_t index) {
    std::uint64_t mixed = seed + index * 0x9E3779B97F4A7C15;
    mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9;
    mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EB;
    return (mixed ^ (mixed >> 31)) | 1;
}

const StoreEntry* known_version(const KnownVersions& known, std::uint64_t tab) {
    const auto at = place_of(known, tab);
    return at != known.end() && at->newest.tab == tab ? &at->newest : nullptr;
}

void remember_version(KnownVersions& known, const StoreEntry& entry) {
    const auto at = place_of(known, entry.tab);
    if (at == known.end() || at->newest.tab != entry.tab) {
        known.insert(at, {.newest = entry, .earlier_texts = {}});
        return;
    }
    std::vector<std::uint64_t>& earlier = at->earlier_texts;
    if (at->newest.fingerprint != entry.fingerprint) {
        std::erase(earlier, at->newest.fingerprint);
        earlier.push_back(at->newest.fingerprint);
        if (earlier.size() > earlier_texts_kept) {
            earlier.erase(earlier.begin());
        }
    }
    at->newest = entry;
}

namespace {

// The stamp's entries for the workspace: a tab whose text and draft flag are the ones this run
// knows keeps that version, any other takes the store's own. The fingerprint leaves the flag out,
// yet a Save turns a draft into the saved text without changing a unit: kept at the draft's
// version, the saved text would lose to any version stored after that draft. A text that came
// from a record no stamp named has no version to keep: stored at none, a start would take it for
// such a record still and drop it for the same text another store holds saved.
StoreStamp stamp_with_entries(const StorePlan& plan, const Workspace& workspace) {
    StoreStamp stamp = plan.stamp;
    const KnownVersions none;
    const KnownVersions& known_versions = plan.known ? *plan.known : none;
    for (std::size_t i = 0; i < workspace.sessions.size(); ++i) {
        const Session& session = workspace.sessions[i];
        const bool given =
            plan.fingerprints.size() == workspace.sessions.size() && plan.fingerprints[i] != 0;
        const std::uint64_t fingerprint =
            given ? plan.fingerprints[i] : session_fingerprint(session);
        const std::uint64_t tab = session.tab != 0 ? session.tab : derived_tab(plan.stamp.run, i);
        const StoreEntry* known = known_version(known_versions, tab);
        const bool same = known && known->version != 0 && !known->let_go &&
                          known->fingerprint == fingerprint && known->draft == session.draft;
        stamp.entries.push_back(
            {.tab = tab,
             .version = same ? known->version : plan.stamp.version,
             .fingerprint = fingerprint,
             .file_version = session.file_version,
             .draft = session.draft,
             .other_version = session.path.empty() && session.other_version_of.has_value()});
    }
    // Each tab this run knew that the store no longer holds is let go now (or was already), with
    // each text of it known; of each it holds, each other text known is an earlier one.
    std::vector<StoreEntry> gone;
    for (const auto& [entry, earlier_texts] : known_versions) {
        const std::uint64_t tab = entry.tab;
        const auto held = std::ranges::find(stamp.entries, tab, &StoreEntry::tab);
        const bool let_go = held == stamp.entries.end();
        const std::uint64_t version = entry.let_go ? entry.version : plan.stamp.version;
        for (std::size_t i = 0; i <= earlier_texts.size(); ++i) {
            const std::uint64_t text = i == 0 ? entry.fingerprint : earlier_texts[i - 1];
            if (let_go || text != held->fingerprint) {
                gone.push_back({.tab = tab,
                                .version = let_go ? version : 0,
                                .fingerprint = text,
                                .let_go = let_go,
                                .earlier = !let_go});
            }
        }
    }
    std::ranges::sort(
        gone, [](const StoreEntry& a, const StoreEntry& b) { return a.version > b.version; });
    gone.resize(std::min(gone.size(), store_gone_limit));
    stamp.entries.insert(stamp.entries.end(), gone.begin(), gone.end());
    return stamp;
}

// The temporary files in which a replace of this run lost its file left a store, which the next
// start reads: only a store of this run that removes the files comes to look for them. One that
// cannot be read, or a store whose stamp fails its checks, may be one of them too (`unchecked`):
// it is taken over, but left where it is, since it may as well be a document's only copy or
// another run's.
struct LostReplaces {
    std::vector<RankedFile> stores;
    bool unchecked = false;
};

LostReplaces lost_replaces(RecoveryDisk& disk, const StorePlan& plan) {
    const std::filesystem::path folder = plan.target.parent_path();
    LostReplaces stranded;
    for (const std::filesystem::path& name : disk.names(folder)) {
        const std::filesystem::path file = folder / name.filename();
        if (!temporary_name(name) ||
            std::ranges::find(plan.let_go, file, &RankedFile::path) != plan.let_go.end()) {
            continue;
        }
        const std::optional<std::string> bytes = disk.read(file, recovery_store_file_limit);
        const StoreFile split = split_store_file(bytes ? *bytes : std::string_view());
        if (split.stamp && split.stamp->run == plan.stamp.run) {
            stranded.stores.push_back({.path = file, .rank = store_rank(split.stamp->store)});
        }
        stranded.unchecked = stranded.unchecked || !bytes || (!split.stamp && split.this_version);
    }
    return stranded;
}

// Nothing worth keeping removes the store instead, each file after every older one (what this
// run's lost replaces left among them, by their stores), so that what a death in between leaves
// is never older than what went.
StoreOutcome remove_store(RecoveryDisk& disk, const StorePlan& plan,
                          std::vector<RankedFile> files) {
    if (plan.target != plan.only_if_absent) {
        files.push_back({.path = plan.target, .rank = plan.target_rank});
    }
    files.insert(files.end(), plan.let_go.begin(), plan.let_go.end());
    std::ranges::stable_sort(files, {}, &RankedFile::rank);
    std::ranges::for_each(files, [&](const auto& file) { disk.remove(file.path); });
    return {};
}

// Whether a tab `is_one` names came back from a record no stamp named that held the text of
// `fingerprint`: a start gave it the identity it derives from that text.
bool derived_from_text(std::uint64_t fingerprint,
                       const std::function<bool(std::uint64_t)>& is_one) {
    for (std::size_t i = 0; i < recovery_max_tabs; ++i) {
        if (is_one(derived_tab(fingerprint, i))) {
            return true;
        }
    }
    return false;
}

// The fingerprint of the bytes a saved session's text makes in its file; 0 when it makes none.
std::uint64_t saved_bytes_fingerprint(const Session& session) {
    try {
        return store_fingerprint(encode_document_text({.text = session.text,
                                                       .encoding = session.encoding,
                                                       .line_ending = session.line_ending}));
    } catch (const std::runtime_error&) {
        return 0;
    }
}

// The session as another version of the tab it was, in a tab of its own.
void make_other_version(Session& session) {
    session.other_version_of = std::move(session.path);
    session.path.clear();
    session.tab = recovery_identity(session.tab, session_fingerprint(session));
}

// A text of a file as the file stands now: a draft the same as its file is no draft; a draft
// grown from another version of its file than the one on disk (or from one a damaged stamp no
// longer names), and a record nothing checks that says it is saved but differs from its file
// (its flag may be what went bad), come beside the file, which opens as it is, as another
// version. Gives that other version.
std::optional<Session> place_at_file(Session& session, const std::optional<std::uint64_t>& now,
                                     bool unchecked) {
    const bool as_on_disk = now && saved_bytes_fingerprint(session) == *now;
    const bool unchecked_saved = !session.draft && session.version == 0;
    session.draft = session.draft && !as_on_disk;
    const bool other_base =
        unchecked || (session.file_version != 0 && now && session.file_version != *now);
    if (!now || as_on_disk || !(unchecked_saved || (session.draft && other_base))) {
        return std::nullopt;
    }
    Session other = session;
    other.draft = true;
    make_other_version(other);
    session.draft = false;
    session.text.clear();
    session.text_left_out = true;
    return other;
}

// Each text of one file's part placed at its file (`place_at_file`); of two drafts of one path
// from two stores, the first takes the file's tab (two of one store are two tabs of one run, of
// which the restore keeps the later there).
template <typename File>
void place_at_files(Workspace& part, const File* file, const FileVersion& file_version,
                    std::map<std::string, const File*>& path_taken_by) {
    std::vector<Session> others;
    for (Session& session : part.sessions) {
        // Nothing checks that an untitled record was saved: it has no file to come from.
        session.draft = session.draft || (session.version == 0 && session.path.empty());
        if (session.path.empty() || session.text_left_out ||
            (!session.draft && session.version != 0)) {
            continue;
        }
        const std::optional<std::uint64_t> now =
            file_version ? file_version(session.path) : std::nullopt;
        if (std::optional<Session> other =
                place_at_file(session, now, file->this_version && !file->stamp)) {
            others.push_back(std::move(*other));
        }
        if (session.draft && !path_taken_by.emplace(session.path, file).second &&
            path_taken_by.at(session.path) != file) {
            make_other_version(session);
        }
    }
    std::move(others.begin(), others.end(), std::back_inserter(part.sessions));
}

// Another version that its file holds now, where a tab opens that file as it is: that tab
// shows it.
void drop_versions_files_show(Workspace& workspace, const FileVersion& file_version) {
    std::set<std::string> opened;
    for (const Session& session : workspace.sessions) {
        if (!session.draft && !session.path.empty()) {
            opened.insert(session.path);
        }
    }
    const auto shown = [&](const Session& session) {
        const std::string path = session.other_version_of.value_or("");
        return opened.contains(path) && file_version(path) == saved_bytes_fingerprint(session);
    };
    const auto active = workspace.sessions.begin() +
                        static_cast<std::ptrdiff_t>(
                            std::min<std::uint64_t>(workspace.active, workspace.sessions.size()));
    workspace.active = std::count_if(workspace.sessions.begin(), active, std::not_fn(shown));
    std::erase_if(workspace.sessions, shown);
}

} // namespace

// A store that cannot be written stays a failure even when every tab is saved: removing the
// files instead would lose the list of open tabs and say that a store landed.
StoreOutcome carry_out_store(RecoveryDisk& disk, const StorePlan& plan,
                             const Workspace& workspace) {
    if (workspace.sessions.empty() && plan.stamp_when_empty) {
        // A session that restores nothing: the stamp goes on taking over what this run read.
        return carry_out_store(disk, plan, Workspace{.sessions = {Session{}}, .active = 0});
    }
    if (workspace.sessions.empty()) {
        // Nothing when the folder could not be listed: whatever it holds is taken over.
        std::optional<LostReplaces> stranded;
        try {
            stranded = lost_replaces(disk, plan);
        } catch (const std::runtime_error&) {
        }
        if (stranded && stranded->stores.empty() && !stranded->unchecked) {
            return remove_store(disk, plan, {});
        }
        std::vector<RankedFile> stores = stranded ? stranded->stores : std::vector<RankedFile>{};
        // A store that restores nothing takes them over before they go, so that no death
        // in between leaves one to bring back a tab let go since.
        try {
            StoreOutcome outcome =
                carry_out_store(disk, plan, Workspace{.sessions = {Session{}}, .active = 0});
            for (const RankedFile& file : stores) {
                try {
                    disk.remove(file.path);
                } catch (const std::runtime_error&) {
                    // Taken over all the same; a later start lets it go.
                }
            }
            return outcome;
        } catch (const std::runtime_error&) {
            // No room for even that: removing needs none, unless a file that may be one of them
            // would stay to bring back what was let go since.
            if (!stranded || stranded->unchecked) {
                throw;
            }
            return remove_store(disk, plan, std::move(stores));
        }
    }
    const StoreStamp stamp = stamp_with_entries(plan, workspace);
    const std::string bytes = encode_store_file(workspace, stamp);
    auto put = [&](const std::filesystem::path& file) {
        if (file == plan.only_if_absent && disk.exists(file)) {
            throw std::runtime_error("A recovery file that could not be read is in the way.");
        }
        disk.write(file, bytes);
    };
    StoreOutcome outcome(plan.target);
    outcome.entries = stamp.entries;
    try {
        put(plan.target);
    } catch (const std::runtime_error&) {
        if (plan.fallback.empty()) {
            throw;
        }
        // Another program holds the target: the drafts go where the next start reads them too.
        put(plan.fallback);
        outcome.written = plan.fallback;
        return outcome;
    }
    for (const RankedFile& file : plan.let_go) {
        try {
            disk.remove(file.path);
        } catch (const std::runtime_error&) {
            // The newer store's stamp tells the next start to pass it over; the next store
            // tries again.
            outcome.still_there.push_back(file.path);
        }
    }
    return outcome;
}

RecoveryPolicy::RecoveryPolicy(RecoveryDisk& disk, std::filesystem::path folder, std::uint64_t run)
    : disk_(disk), run_(run) {
    tabs_.path = folder / recovery_tabs_name;
    session_.path = folder / recovery_session_name;
    beside_.path = folder / beside_file_name;
    // Until a start has looked, the stores go to "tabs.bin" and remove "session.bin", as every
    // store did before the file beside existed.
    session_.present = true;
}

std::uint64_t RecoveryPolicy::removal_rank(const StartFile& file) {
    if (file.last_store != 0) {
        return store_rank(file.last_store);
    }
    const bool unchecked = file.read && file.this_version && !file.stamp;
    return file.superseded || unchecked ? superseded_rank : file.read ? read_rank : 0;
}

void RecoveryPolicy::look(StartFile& file) {
    try {
        file.present = disk_.exists(file.path);
        file.unknown = false;
    } catch (const std::runtime_error&) {
        file.present = true;
        file.unknown = true;
    }
}

void RecoveryPolicy::read_file(StartFile& file, bool container) {
    std::optional<std::string> bytes =
        disk_.read(file.path, container ? recovery_store_file_limit : recovery_record_limit);
    if (!bytes) {
        // Held by another program, or there may be nothing: either way it is not touched.
        file.left_alone = !file.unknown;
        return;
    }
    file.present = true;
    file.unknown = false;
    file.read = true;
    file.fingerprint = store_fingerprint(*bytes);
    file.bytes = std::move(*bytes);
}

std::vector<RecoveryPolicy::StartFile*> RecoveryPolicy::all_files() {
    std::vector<StartFile*> files{&tabs_, &session_, &beside_};
    std::transform(leftovers_.begin(), leftovers_.end(), std::back_inserter(files),
                   [](StartFile& leftover) { return &leftover; });
    return files;
}

// A write whose replace lost the old file leaves its store only in its temporary file: such a
// file is read as a store. One that holds no store may be a document's only copy (a Save whose
// replace lost its file, of a document kept in this folder), and an empty read may be a file
// over the limit: it stays. A damaged file's copy that reads whole is a store an earlier version
// could not read and set aside: it is read as a store too.
void RecoveryPolicy::read_leftovers() {
    const std::filesystem::path folder = tabs_.path.parent_path();
    std::vector<std::filesystem::path> names;
    try {
        names = disk_.names(folder);
    } catch (const std::runtime_error&) {
        return;
    }
    for (const std::filesystem::path& name : names) {
        const bool temporary = temporary_name(name);
        if (!temporary && !set_aside_name(name)) {
            continue;
        }
        StartFile leftover;
        leftover.path = folder / name.filename();
        leftover.present = true;
        read_file(leftover, true);
        const std::string_view bytes(leftover.bytes);
        if (leftover.read &&
            (temporary ? split_store_file(bytes).this_version : reads_whole(bytes))) {
            leftovers_.push_back(std::move(leftover));
        }
    }
}

// What the file holds, each session with its tab and how new it is: a stamped file's entries
// name them; any other record stands for a tab of its own, older than every stamped version.
void RecoveryPolicy::parse(StartFile& file) {
    SalvagedWorkspace part{.workspace = {}, .whole = false};
    if (&file == &session_) {
        try {
            part = {.workspace = {.sessions = {read_recovery_record(file.bytes)}, .active = 0},
                    .whole = true};
        } catch (const std::runtime_error&) {
            // A lone record that fails its checks holds nothing that can be trusted.
        }
    } else {
        const StoreFile split = split_store_file(file.bytes);
        file.stamp = split.stamp;
        file.this_version = split.this_version;
        file.id = split.stamp ? StoreId{.run = split.stamp->run, .store = split.stamp->store}
                              : split.unchecked_id;
        part = split.stamp ? read_stamped_records(split.container, split.stamp->entries)
                           : salvage_tab_recovery(split.container);
        part.whole = part.whole && split.intact;
    }
    file.whole = part.whole;
    file.let_go.clear();
    file.lost_drafts.clear();
    std::vector<Session>& sessions = part.workspace.sessions;
    if (file.stamp) {
        for (const StoreEntry& entry : file.stamp->entries) {
            const bool held =
                std::ranges::find(sessions, entry.tab, &Session::tab) != sessions.end();
            if (entry.let_go) {
                file.let_go.push_back(entry);
            } else if (!held && entry.draft) {
                file.lost_drafts.push_back(entry);
            }
        }
        newest_version_ = std::max(newest_version_, file.stamp->version);
    } else {
        std::map<std::uint64_t, std::size_t> unnamed;
        for (Session& session : sessions) {
            const std::uint64_t fingerprint = session_fingerprint(session);
            session.tab = derived_tab(fingerprint, unnamed[fingerprint]++);
            session.version = 0;
        }
    }
    file.active = part.workspace.active;
    file.sessions = std::move(sessions);
}

// A file whose store a newer intact one read here has taken over gives nothing. A damaged newer
// file takes nothing over whole: the older one may hold the newest intact version of a tab.
void RecoveryPolicy::take_over_older() {
    const std::vector<StartFile*> files = all_files();
    for (StartFile* older : files) {
        for (const StartFile* newer : files) {
            if (older != newer && older->read && newer->read && newer->stamp && newer->whole &&
                took_over(*newer->stamp, older->id, older->fingerprint)) {
                older->superseded = true;
            }
        }
    }
}

// Whether a file read here whose store took `file` over says anything of the tab or the path
// of `session`: a version it holds, or that the tab was let go. When none does, the two stores
// stood side by side, and neither version is older than the other.
bool RecoveryPolicy::named_by_superseding_store(const StartFile& file, const Session& session) {
    for (const StartFile* newer : all_files()) {
        if (newer == &file || !newer->read || !newer->stamp ||
            !took_over(*newer->stamp, file.id, file.fingerprint)) {
            continue;
        }
        const auto same = [&](const Session& other) {
            return other.tab == session.tab ||
                   (!session.path.empty() && other.path == session.path);
        };
        if (std::ranges::any_of(newer->sessions, same) ||
            std::ranges::find(newer->let_go, session.tab, &StoreEntry::tab) !=
                newer->let_go.end()) {
            return true;
        }
    }
    return false;
}

RecoveryPolicy::NewestVersions RecoveryPolicy::newest_versions() {
    NewestVersions newest;
    for (const StartFile* file : all_files()) {
        const bool live = file->read && !file->superseded;
        for (const StoreEntry& gone : file->let_go) {
            // A store that holds the same text in a tab it kept let go another tab.
            const auto kept = [&](const Session& s) {
                return session_fingerprint(s) == gone.fingerprint;
            };
            if (std::ranges::none_of(file->sessions, kept)) {
                newest.texts_let_go.insert(gone.fingerprint);
            }
            newest.tabs_named.insert(gone.tab);
            if (live) {
                newest.of_tab[gone.tab] = std::max(newest.of_tab[gone.tab], gone.version);
                newest.let_go_live.insert(gone.tab);
            }
        }
        if (!live) {
            continue;
        }
        for (const StoreEntry& lost : file->lost_drafts) {
            newest.texts_lost.insert(lost.fingerprint);
        }
        for (const StoreEntry& entry : file->stamp ? file->stamp->entries : no_entries) {
            // Only where the newer text came back: a write cut short holds the stamp alone.
            const auto holds = [&](const Session& held) { return held.tab == entry.tab; };
            if (entry.earlier && std::ranges::any_of(file->sessions, holds)) {
                newest.texts_earlier.insert(entry.fingerprint);
            }
        }
        for (const Session& session : file->sessions) {
            newest.of_tab[session.tab] = std::max(newest.of_tab[session.tab], session.version);
            if (session.version != 0) {
                newest.texts_named.insert(text_fingerprint(session));
                newest.tabs_named.insert(session.tab);
            }
        }
    }
    return newest;
}

// What one file offers: each text that stands for its tab, and each other draft a newer store
// read here does not answer for, as another version in a tab of its own. A text no stamp names
// that a stamp names in another file is that version, and one another store let go (no stamp
// tying it to its tab) was let go: neither comes.
SalvagedWorkspace RecoveryPolicy::offer_of_file(const StartFile& file, const NewestVersions& newest,
                                                Offered& offered) {
    SalvagedWorkspace part{.workspace = {}, .whole = file.whole};
    part.workspace.active = file.sessions.size();
    for (std::size_t i = 0; i < file.sessions.size(); ++i) {
        Session session = file.sessions[i];
        const std::uint64_t fingerprint = session_fingerprint(session);
        // A text stands for its tab at its tab's highest version, of a tab no store side by side
        // let go (whatever the numbers: the run that let it go may have had that very text, or a
        // newer one), as the first text at that number (two stores neither of which read the
        // other may give their texts one number; a saved one second may be the newer), unless
        // another tab grew from it (stored or let go since): it is an earlier version of that.
        const bool newest_number = session.version == newest.of_tab.at(session.tab) &&
                                   !newest.let_go_live.contains(session.tab);
        const auto first = offered.tab_text.find(session.tab);
        const bool stands = newest_number &&
                            (first == offered.tab_text.end() || first->second == fingerprint) &&
                            !derived_from_text(fingerprint, [&](std::uint64_t tab) {
                                return tab != session.tab && newest.tabs_named.contains(tab);
                            });
        if (stands) {
            offered.tab_text.emplace(session.tab, fingerprint);
        }
        const bool let_go_elsewhere =
            newest.texts_let_go.contains(fingerprint) &&
            derived_from_text(fingerprint, [&](std::uint64_t tab) { return tab == session.tab; });
        // A draft a newer store names but lost (cut short) comes from here, as another version.
        const bool answered =
            named_by_superseding_store(file, session) && !newest.texts_lost.contains(fingerprint);
        const bool second_saved = newest_number && !session.text_left_out;
        if ((!stands && ((!session.draft && !second_saved) || answered)) ||
            (session.version == 0 && (newest.texts_named.contains(text_fingerprint(session)) ||
                                      newest.texts_earlier.contains(fingerprint))) ||
            let_go_elsewhere) {
            continue;
        }
        if (!stands && !session.other_version_of) {
            make_other_version(session);
            session.draft = true;
        }
        if (i == file.active) {
            part.workspace.active = part.workspace.sessions.size();
        }
        // The earlier texts its store names first, so that a store that lets it go names them.
        for (const StoreEntry& earlier : file.stamp ? file.stamp->entries : no_entries) {
            if (earlier.earlier && earlier.tab == file.sessions[i].tab) {
                remember_version(own_known(), earlier);
            }
        }
        remember_version(own_known(), {.tab = session.tab,
                                       .version = session.version,
                                       .fingerprint = fingerprint,
                                       .file_version = session.file_version,
                                       .draft = session.draft});
        part.workspace.sessions.push_back(std::move(session));
    }
    return part;
}

// Of each tab the newest version read comes; a draft of a store that stood side by side with the
// newest one (neither took the other over) comes too, as a tab of its own named for the tab it
// is another version of; then each is placed at its file as the file stands. The sessions keep
// their files' order.
SalvagedWorkspace RecoveryPolicy::newest_of_each_tab(const FileVersion& file_version) {
    const NewestVersions newest = newest_versions();
    Offered offered;
    SalvagedWorkspace merged{.workspace = {}, .whole = true};
    for (const StartFile* file : all_files()) {
        if (!file->read || file->superseded) {
            continue;
        }
        for (const StoreEntry& gone : file->let_go) {
            if (gone.version == newest.of_tab.at(gone.tab)) {
                remember_version(own_known(), gone);
            }
        }
        SalvagedWorkspace part = offer_of_file(*file, newest, offered);
        place_at_files(part.workspace, file, file_version, offered.path_taken_by);
        merge_into(merged, std::move(part));
    }
    if (file_version) {
        drop_versions_files_show(merged.workspace, file_version);
    }
    return merged;
}

bool RecoveryPolicy::anything_to_read() {
    for (StartFile* file : {&tabs_, &session_, &beside_}) {
        look(*file);
    }
    bool nothing = !tabs_.present && !session_.present && !beside_.present;
    // A replace that lost the old file may have left the only store in its temporary file, and
    // the previous release, which read no stamped store, in a copy it set aside.
    if (nothing) {
        try {
            const std::vector<std::filesystem::path> names = disk_.names(tabs_.path.parent_path());
            nothing = std::ranges::none_of(names, [](const auto& name) {
                return temporary_name(name) || set_aside_name(name);
            });
        } catch (const std::runtime_error&) {
        }
    }
    // A start that never comes to read leaves alone what could be there.
    for (StartFile* file : {&tabs_, &session_, &beside_}) {
        file->unknown = file->unknown || file->present;
        file->present = file->present || file->unknown;
    }
    return !nothing;
}

std::optional<SalvagedWorkspace> RecoveryPolicy::start(const FileVersion& file_version) {
    for (StartFile* file : {&tabs_, &session_, &beside_}) {
        look(*file);
    }
    // A file that cannot be told about may still be read.
    if (tabs_.present) {
        read_file(tabs_, true);
    }
    if (!tabs_.present && session_.present) {
        read_file(session_, false);
    }
    if (beside_.present) {
        read_file(beside_, true);
    }
    read_leftovers();
    const bool nothing =
        !tabs_.present && !session_.present && !beside_.present && leftovers_.empty();
    if (nothing) {
        return std::nullopt;
    }
    for (StartFile* file : all_files()) {
        if (file->read) {
            parse(*file);
        }
    }
    take_over_older();
    SalvagedWorkspace merged = newest_of_each_tab(file_version);
    for (StartFile* file : {&tabs_, &session_, &beside_}) {
        const bool shadowed = file == &session_ && tabs_.present && !tabs_.unknown;
        if (!file->read) {
            merged.whole = merged.whole && !(file->present && !shadowed);
        }
    }
    if (merged.workspace.active >= merged.workspace.sessions.size()) {
        merged.workspace.active = 0;
    }
    return merged;
}

void RecoveryPolicy::keep(StartFile& file, KeptCopy kind, RecoveryNote note, const UtcTime& now) {
    try {
        // A copy, not a move: the file stays where the next start reads it until a store holding
        // what came back of it is on disk. A file read with no bytes (empty, or over the limit,
        // which no store of ours is) has an empty copy.
        const std::filesystem::path copy =
            kept_copy_name(file.path, kind, now, disk_.names(file.path.parent_path()));
        disk_.write(copy, file.bytes);
        kept_.push_back({.kind = note, .path = copy});
    } catch (const std::runtime_error&) {
        file.left_alone = true;
        return;
    }
    if (kind == KeptCopy::damaged) {
        prune(file);
    }
}

// A draft the file's stamp names that did not come back from it, nor a version as new of its tab
// from another file.
bool RecoveryPolicy::holds_lost_draft(const StartFile& file) const {
    return std::ranges::any_of(file.lost_drafts, [&](const StoreEntry& lost) {
        const StoreEntry* known = known_version(*known_, lost.tab);
        return !known || known->version < lost.version;
    });
}

// "session.bin" beside a "tabs.bin" that was not read whole: the next start does not read it
// while "tabs.bin" is there, and a store writing "tabs.bin" would remove it unread.
void RecoveryPolicy::set_aside(StartFile& file, const UtcTime& now) {
    try {
        const std::filesystem::path copy =
            kept_copy_name(file.path, KeptCopy::intact, now, disk_.names(file.path.parent_path()));
        disk_.move(file.path, copy);
        kept_.push_back({.kind = RecoveryNote::intact_copy, .path = copy});
        file.present = false;
    } catch (const std::runtime_error&) {
        file.left_alone = true;
    }
}

void RecoveryPolicy::prune(const StartFile& file) {
    try {
        const std::filesystem::path just_made = kept_.back().path;
        std::vector<std::filesystem::path> names = disk_.names(file.path.parent_path());
        // A copy this start read is let go by the store that holds what came back of it.
        std::erase_if(names, [&](const std::filesystem::path& name) {
            return name.filename() == just_made.filename() ||
                   std::ranges::any_of(leftovers_, [&](const StartFile& read) {
                       return read.present && read.path.filename() == name.filename();
                   });
        });
        for (const std::filesystem::path& old :
             copies_beyond(file.path, KeptCopy::damaged, names, kept_store_copies - 1)) {
            disk_.remove(old);
        }
    } catch (const std::runtime_error&) {
        // Tried again when the next damaged copy is made.
    }
}

void RecoveryPolicy::restored(const std::set<std::uint64_t>& left_out, const UtcTime& now) {
    const bool every_session_back = left_out.empty();
    for (StartFile* file : all_files()) {
        if (file->read && !file->superseded) {
            if (!file->whole && (!every_session_back || holds_lost_draft(*file))) {
                // It holds drafts that are nowhere else: kept under a name never pruned.
                keep(*file, KeptCopy::intact, RecoveryNote::damaged_kept, now);
            } else if (!file->whole) {
                keep(*file, KeptCopy::damaged, RecoveryNote::damaged_copy, now);
            } else if (!every_session_back) {
                keep(*file, KeptCopy::intact, RecoveryNote::intact_copy, now);
            }
            // A file no copy could be made of stays where the next start reads it: no store of
            // this run lets go a tab of it that did not come back.
            for (const Session& session : file->left_alone ? file->sessions : no_sessions) {
                if (left_out.contains(session.tab)) {
                    forget_version(own_known(), session.tab);
                }
            }
        }
        file->bytes = {};
        file->sessions = {};
    }
    const bool session_hidden = !tabs_.whole || tabs_.left_alone || tabs_.unknown;
    if (session_.present && !session_.read && !session_.left_alone && !session_.unknown &&
        session_hidden) {
        set_aside(session_, now);
    }
}

// A file this run may replace or remove: one it could look at and, when it was there, read.
bool RecoveryPolicy::touchable(const StartFile& file) const {
    return !file.left_alone && !file.unknown;
}

// What this run's stores take over: the files its start read and let go, and the runs whose
// stores those held or had taken over, each with the last store of it.
StoreStamp RecoveryPolicy::stamp_of_store() {
    StoreStamp stamp{.run = run_, .store = ++stores_};
    auto reach = [&](const StoreId& reached) {
        const auto same = std::ranges::find(stamp.taken_over, reached.run, &StoreId::run);
        if (same != stamp.taken_over.end()) {
            same->store = std::max(same->store, reached.store);
        } else if (stamp.taken_over.size() < store_stamp_list_limit) {
            stamp.taken_over.push_back(reached);
        }
    };
    for (const StartFile* file : all_files()) {
        if (!file->read || file->left_alone) {
            continue;
        }
        if (stamp.replaces.size() < store_stamp_list_limit) {
            stamp.replaces.push_back(file->fingerprint);
        }
        // A damaged file's stamp may name stores whose tabs it no longer holds.
        if (file->stamp && file->whole) {
            reach({.run = file->stamp->run, .store = file->stamp->store});
            std::ranges::for_each(file->stamp->taken_over, reach);
        }
    }
    // A file of an earlier version has no run to reach: what a store read here had taken over
    // by its bytes, this one takes over too, or a "session.bin" that outlived the "tabs.bin" that
    // hid it (another program held it; the previous release set that one aside) would come back.
    for (const StartFile* file : all_files()) {
        if (!file->read || file->left_alone || !file->stamp || !file->whole) {
            continue;
        }
        for (const std::uint64_t fingerprint : file->stamp->replaces) {
            if (stamp.replaces.size() < store_stamp_list_limit &&
                std::ranges::find(stamp.replaces, fingerprint) == stamp.replaces.end()) {
                stamp.replaces.push_back(fingerprint);
            }
        }
    }
    return stamp;
}

StorePlan RecoveryPolicy::plan_store() {
    StorePlan plan;
    plan.stamp = stamp_of_store();
    plan.stamp.version = ++newest_version_;
    plan.known = known_;
    const std::array<const StartFile*, 3> files{&tabs_, &session_, &beside_};
    // So may two files read that stood side by side, neither taking the other over: either may
    // hold the only word that a tab the other holds was let go, so neither may go first.
    const auto side_by_side = std::ranges::count_if(files, [](const StartFile* file) {
        return file->present && file->read && !file->superseded && file->last_store == 0;
    });
    // So may a file left where it is (one no copy could be made of among them): removing the
    // others would leave it to bring back what was let go since.
    plan.stamp_when_empty =
        side_by_side > 1 || std::ranges::any_of(all_files(), [](const StartFile* file) {
            return file->present && (file->left_alone || file->unknown);
        });
    // A "tabs.bin" written while an unread "session.bin" may be there would hide it from the
    // next start, which reads "session.bin" only when there is no "tabs.bin"; one this start
    // read hid it already: a store in its place after its damaged bytes went aside hides nothing
    // more.
    const bool hides_session = !tabs_.present && !tabs_.read && !touchable(session_);
    const StartFile* target = nullptr;
    if (touchable(tabs_) && !hides_session) {
        target = &tabs_;
        if (!beside_.left_alone) {
            plan.fallback = beside_.path;
        }
    } else if (!beside_.left_alone) {
        target = &beside_;
    } else {
        throw std::runtime_error("Both recovery files are in use.");
    }
    plan.target = target->path;
    if (beside_.unknown) {
        plan.only_if_absent = beside_.path;
    }
    if (target == &beside_) {
        // "tabs.bin" is left alone, and it hides "session.bin" from the next start.
        return plan;
    }
    // A store a lost replace left aside is let go by its rank like the others: before the
    // target when the target's store took it over, after it when it may be newer.
    for (const StartFile* file : all_files()) {
        if (file != &tabs_ && file->present && touchable(*file)) {
            plan.let_go.push_back({.path = file->path, .rank = removal_rank(*file)});
        }
    }
    std::ranges::stable_sort(plan.let_go, {}, &RankedFile::rank);
    plan.target_rank = removal_rank(*target);
    return plan;
}

KnownVersions& RecoveryPolicy::own_known() {
    if (known_.use_count() > 1) {
        known_ = std::make_shared<KnownVersions>(*known_);
    }
    return *known_;
}

void RecoveryPolicy::store_written(const StorePlan& plan, const StoreOutcome& outcome) {
    for (const StoreEntry& entry : outcome.entries) {
        // An earlier text the store names is no newer than the text it holds of that tab.
        const StoreEntry* known = known_version(*known_, entry.tab);
        if (!entry.earlier && (!known || *known != entry)) {
            remember_version(own_known(), entry);
        }
    }
    StartFile& file =
        (outcome.written.empty() ? plan.target : outcome.written) == beside_.path ? beside_ : tabs_;
    if (outcome.written.empty() && plan.target == plan.only_if_absent) {
        return; // an empty store leaves a file it could not look at as it is
    }
    // An empty store removed its file; every other one is there now, newer than any before.
    file.present = !outcome.written.empty();
    file.unknown = false;
    file.last_store = std::max(file.last_store, plan.stamp.store);
    storing_beside_ = outcome.written == beside_.path;
    if (!outcome.written.empty() && outcome.written != plan.target) {
        return;
    }
    for (StartFile* start_file : all_files()) {
        const std::filesystem::path& path = start_file->path;
        if (start_file != &tabs_ &&
            std::ranges::find(plan.let_go, path, &RankedFile::path) != plan.let_go.end() &&
            std::ranges::find(outcome.still_there, path) == outcome.still_there.end()) {
            start_file->present = false;
        }
    }
}

std::vector<RecoveryStatusNote> RecoveryPolicy::notes() {
    std::erase_if(kept_, [&](const auto& copy) {
        try {
            return !disk_.exists(copy.path);
        } catch (const std::runtime_error&) {
            return false;
        }
    });
    std::vector<RecoveryStatusNote> notes = kept_;
    for (const StartFile* file : all_files()) {
        if ((file->left_alone || file->unknown) && file->present) {
            // A file whose folder could not be looked into may not be in use at all.
            notes.push_back(
                {.kind = file->unknown ? RecoveryNote::unsearched : RecoveryNote::left_alone,
                 .path = file->path});
        }
    }
    if (storing_beside_) {
        notes.push_back({.kind = RecoveryNote::beside, .path = beside_.path});
    }
    return notes;
}

} // namespace pellix
