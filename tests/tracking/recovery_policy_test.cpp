#include "tracking/recovery_policy.h"

#include "tests/tracking/lone_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

namespace pellix {
namespace {

// The program stops dead in the middle of a file operation: what was done before stays.
struct Crash {};

// A recovery folder in memory. Each call is one operation: it may be made to fail, or to be the
// one at which the program crashes; a file may be held by another program with no sharing, or
// with sharing for reading only; a replace may fail after it moved the old file away, leaving the
// new bytes only in a temporary file; the folder may be one the program cannot look
// into at all.
class MemoryDisk final : public RecoveryDisk {
public:
    bool exists(const std::filesystem::path& path) override {
        refuse_unless(operation());
        return files.contains(path);
    }
    std::optional<std::string> read(const std::filesystem::path& path,
                                    std::uint64_t limit) override {
        if (!operation() || held.contains(path) || !files.contains(path)) {
            return std::nullopt;
        }
        const std::string& bytes = files.at(path);
        return bytes.size() > limit ? std::string() : bytes;
    }
    void write(const std::filesystem::path& path, const std::string& bytes) override {
        bool done = false;
        try {
            done = operation();
        } catch (const Crash&) {
            // Killed mid-write: the temporary file holds the first part of the bytes.
            files[path.parent_path() / (".pellix-" + std::to_string(operations) + ".tmp")] =
                bytes.substr(0, bytes.size() / 2);
            throw;
        }
        if (done && losing.contains(operations) && files.contains(path) && !locked_file(path)) {
            files.erase(path);
            files[path.parent_path() / (".pellix-" + std::to_string(operations) + ".tmp")] = bytes;
            ++stranded;
            throw std::runtime_error("The replaced file could not be put back.");
        }
        refuse_unless(done && !full && !locked_file(path));
        files[path] = bytes;
        written.push_back(path);
    }
    void move(const std::filesystem::path& from, const std::filesystem::path& to) override {
        refuse_unless(operation() && !locked_file(from) && !locked_file(to) &&
                      files.contains(from) && !files.contains(to));
        files[to] = files.at(from);
        files.erase(from);
    }
    void remove(const std::filesystem::path& path) override {
        refuse_unless(operation() && !locked_file(path));
        files.erase(path);
    }
    std::vector<std::filesystem::path> names(const std::filesystem::path& folder) override {
        refuse_unless(operation());
        std::vector<std::filesystem::path> names;
        for (const auto& [path, bytes] : files) {
            if (path.parent_path() == folder) {
                names.push_back(path.filename());
            }
        }
        return names;
    }

    bool locked_file(const std::filesystem::path& path) const {
        return held.contains(path) || read_only.contains(path);
    }

    std::map<std::filesystem::path, std::string> files;
    std::set<std::filesystem::path> held;      // no sharing at all
    std::set<std::filesystem::path> read_only; // shared for reading, never replaced or removed
    std::set<int> failing;                     // operations that fail as a full disk would
    std::set<int> losing;                      // writes whose replace loses the old file
    bool full = false;   // every write fails, as on a full disk; removes still work
    bool locked = false; // the folder cannot be looked into: every operation fails
    int crash_at = 0;    // the operation at which the program dies; 0 for none
    int operations = 0;
    std::vector<std::filesystem::path> written; // every file a write landed in, in order
    int stranded = 0; // writes whose bytes a lost replace left in a temporary file

private:
    // False when the operation fails; throws Crash when the program dies at it.
    bool operation() {
        ++operations;
        if (operations == crash_at) {
            throw Crash{};
        }
        return !locked && !failing.contains(operations);
    }
    static void refuse_unless(bool done) {
        if (!done) {
            throw std::runtime_error("The file is in use.");
        }
    }
};

const std::filesystem::path folder = "store";
const std::filesystem::path tabs_bin = folder / "tabs.bin";
const std::filesystem::path session_bin = folder / "session.bin";
const std::filesystem::path beside_bin = folder / "tabs.bin.beside";

// Which tab and version the harness typed each text as: texts are as alike as users' ("Note 1"
// and "Note 3" are one bit apart), and a text no tab had is no tab's.
std::map<std::u16string, std::pair<int, int>> typed;

std::u16string text_of(int tab, int version) {
    const std::string words = "Note " + std::to_string(tab) + "." + std::to_string(version);
    const std::u16string text(words.begin(), words.end());
    typed.emplace(text, std::pair{tab, version});
    return text;
}

int tab_of(const std::u16string& text) {
    return typed.at(text).first;
}
int version_of(const std::u16string& text) {
    return typed.at(text).second;
}

// The name a tab is saved as: by its `copy`-th Save As, when that is not 0.
std::string path_of_tab(int tab, int copy = 0) {
    return "t" + std::to_string(tab) + (copy != 0 ? "-" + std::to_string(copy) : "") + ".md";
}

// A document on disk: the tab that wrote it last (whatever its name) and the version it holds.
struct Document {
    int tab = 0;
    int version = 0;
    operator int() const { return version; }
    bool operator==(const Document&) const = default;
};
using Documents = std::map<std::string, Document>;

// The bytes of a document: the text of its tab's version.
std::string document_bytes(const Document& document) {
    const std::u16string text = text_of(document.tab, document.version);
    return std::string(text.begin(), text.end());
}

// How a start finds the documents: by the fingerprint of their bytes.
FileVersion versions_of(const Documents& documents) {
    return [&documents](const std::string& path) -> std::optional<std::uint64_t> {
        const auto file = documents.find(path);
        return file == documents.end()
                   ? std::nullopt
                   : std::optional(store_fingerprint(document_bytes(file->second)));
    };
}

// A draft of `text`, of the file at `path` (none when empty), that the program named `tab`.
Session draft(const std::u16string& text, const std::string& path = {}, std::uint64_t tab = 0) {
    return {.text = text, .line_ending = LineEnding::lf, .path = path, .draft = true, .tab = tab};
}

// What the user and other programs do, and what the program does on its own: start and answer
// Yes or No when drafts are offered (a No stores at once); a new tab, untitled with a draft or
// (odd argument) a file just opened; a tab's text changes; a tab is saved to its file (an
// untitled one gets one), or closed (stored at once); a snapshot is handed to the writer; the
// writer writes the one it holds; another program opens a file with no sharing (odd argument:
// sharing it for reading), and lets go; any bytes of a file in the folder go bad; the user
// deletes a kept copy; from the next start only two tabs can be opened; the next file operation,
// or the one after it, fails as on a full disk; the folder cannot be looked into, and can again;
// an older version left a draft in "session.bin"; the program is closed, each tab with a draft
// saved or its edits discarded (by the argument's bits), with its last store; the next write's
// replace loses the old file; a file in the folder is cut short; another tab is made the active
// one; another program changes a tab's file, or deletes or renames it; a file that is no store
// (a document's temporary file among them) is put in the folder; a tab is saved under a new name;
// the user opens a file that a tab of an earlier run had and no tab has now; the program dies
// and the previous release starts; the recovery folder's disk fills (the documents' stays free),
// and has room again. The argument chooses the tab.
// clang-format off
#define RECOVERY_STEPS(X) X(start_yes) X(start_no) X(type) X(edit) X(save) X(close) X(store)      \
    X(written) X(hold_tabs) X(release_tabs) X(hold_beside) X(release_beside) X(hold_session)     \
    X(release_session) X(damage) X(delete_copy) X(tab_limit) X(fail_next) X(fail_second)         \
    X(lock_folder) X(unlock_folder) X(old_session) X(quit) X(lose_next) X(cut) X(switch_tab)   \
    X(outside) X(odd_file) X(save_as) X(reopen) X(old_release) X(fill_folder) X(free_folder)
// clang-format on
#define STEP_ENUMERATOR(step) step,
#define STEP_NAME(step) #step,
#define STEP_COUNT(step) +1
enum class Step { RECOVERY_STEPS(STEP_ENUMERATOR) };
constexpr int step_kinds = 0 RECOVERY_STEPS(STEP_COUNT);

const char* name_of(Step step) {
    constexpr const char* names[] = {RECOVERY_STEPS(STEP_NAME)};
    return names[static_cast<int>(step)];
}

// One step with the number that chooses among its ways (which file, which byte, which holder).
struct Move {
    Move(Step kind, std::uint32_t number = 0) : step(kind), arg(number) {}
    Step step;
    std::uint32_t arg = 0;
};

std::string describe(const std::vector<Move>& moves) {
    std::string text;
    for (const Move& move : moves) {
        text.append(text.empty() ? "" : ", ").append(name_of(move.step));
        if (move.arg != 0) {
            text.append("(").append(std::to_string(move.arg)).append(")");
        }
    }
    return text;
}

// What a file held as written, which of its bytes went bad, and how many are left after a cut.
struct Damage {
    std::string written;
    std::vector<bool> spoilt; // one for each byte written
    std::size_t kept = 0;
};

// The bytes before a container's first record: its magic, count and active index.
constexpr std::size_t container_head = 16;

std::uint32_t u32_at(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    }
    return value;
}

// Whether the bytes [from, to) of a file are as written.
bool untouched(const Damage* damage, std::size_t from, std::size_t to) {
    if (!damage) {
        return true;
    }
    const auto first = damage->spoilt.begin();
    const auto end = first + static_cast<std::ptrdiff_t>(to);
    return to <= damage->kept &&
           std::find(first + static_cast<std::ptrdiff_t>(from), end, true) == end;
}

// Where the parts of a store file of this version lie, from its bytes as written (the first part
// of them, for a write a kill cut short): the stamp's copy at the head and, in a whole file, at
// the tail, each with its size, and the container between them.
struct StoreLayout {
    std::size_t stamp = 0;       // the size of one copy of the stamp
    std::size_t tail_copy = 0;   // where the tail's copy starts; 0: no tail
    std::size_t container = 0;   // where the container starts
    std::size_t records_end = 0; // where the container ends
};
constexpr std::string_view store_head_magic("PLXSTOR3", 8);
constexpr std::string_view store_tail_magic("PLXTAIL3", 8);
// At each end of a store file: its magic and the size of its stamp's copy.
constexpr std::size_t store_ends = 8 + 4;

std::optional<StoreLayout> layout_of(const std::string& written) {
    if (!written.starts_with(store_head_magic) || written.size() < store_ends) {
        return std::nullopt;
    }
    StoreLayout layout{.stamp = u32_at(written, 8),
                       .tail_copy = 0,
                       .container = store_ends + u32_at(written, 8),
                       .records_end = written.size()};
    if (written.ends_with(store_tail_magic) &&
        written.size() >= 2 * store_ends + 2 * layout.stamp &&
        u32_at(written, written.size() - store_ends) == layout.stamp) {
        layout.tail_copy = written.size() - store_ends - layout.stamp;
        layout.records_end = layout.tail_copy;
    }
    return layout;
}

// Whether a start can read the records of a store file still: one of its magics tells that this
// version wrote it, and one copy of its stamp, which vouches for each record, is as written.
bool vouched(const StoreLayout& layout, std::size_t size, const Damage* damage) {
    const bool tail = layout.tail_copy != 0;
    const bool known = untouched(damage, 0, store_head_magic.size()) ||
                       (tail && untouched(damage, size - store_tail_magic.size(), size));
    return known && ((layout.container <= size &&
                      untouched(damage, store_head_magic.size(), layout.container)) ||
                     (tail && untouched(damage, layout.tail_copy, size)));
}

// A copy of "tabs.bin" or of the file beside that the previous release set aside (not a copy
// kept of such a copy), which a start reads as a store when it reads whole.
bool set_aside_copy(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    const auto copy_of = [&](std::string_view prefix) {
        return name.starts_with(prefix) && name.find('.', prefix.size()) == std::string::npos;
    };
    return copy_of("tabs.bin.damaged-") || copy_of("tabs.bin.beside.damaged-");
}

// What a tab shows after a start: which tab and which version of it, and whether as a draft.
struct Shown {
    int tab = 0;
    int version = 0;
    bool draft = false;
    std::uint64_t identity = 0;                  // as the start gave it
    std::string path;                            // the tab's file; empty for none
    std::optional<std::string> other_version_of; // in a tab of its own: the file of the tab
    std::uint64_t file_version = 0;              // of a draft: the file's it grew from
};

// The tabs a start builds from `sessions`, as the program's restore does: a draft (when the
// drafts are taken) goes into the tab of its file, or a new one; another version of a tab comes
// in a tab of its own; a file's session that is not a draft opens the file as it is on disk;
// `limit` tabs at most, the sessions past it left out. `active` becomes the index of the tab
// the active session went into (none: the number of tabs).
struct Rebuilt {
    std::vector<Shown> tabs;
    std::set<int> left_out;
    std::set<std::uint64_t> identities_left_out;
    std::size_t active = std::numeric_limits<std::size_t>::max();
};
Rebuilt rebuild(const Workspace& workspace, bool drafts, const Documents& documents,
                std::size_t limit) {
    Rebuilt rebuilt;
    std::map<std::string, std::size_t> by_path;
    for (std::size_t i = 0; i < workspace.sessions.size(); ++i) {
        const Session& session = workspace.sessions[i];
        // A saved tab stored without its text opens its file, named for its tab.
        const auto file = documents.find(session.path);
        const bool left_out = session.text_left_out && file != documents.end();
        if (!typed.contains(session.text) && !left_out) {
            continue;
        }
        const int tab = left_out ? file->second.tab : tab_of(session.text);
        const bool taken = session.draft && drafts;
        // A saved text whose file went comes back in its tab, as the file was.
        const bool own_text = taken || (!session.draft && !left_out && file == documents.end());
        if (session.path.empty() ? !taken : !own_text && file == documents.end()) {
            continue;
        }
        const Shown shown{.tab = tab,
                          .version = own_text ? version_of(session.text) : file->second,
                          .draft = taken,
                          .identity = session.tab,
                          .path = session.path,
                          .other_version_of = session.other_version_of,
                          .file_version = session.file_version};
        const auto open = session.path.empty() ? by_path.end() : by_path.find(session.path);
        const bool into_open = open != by_path.end();
        if (into_open) {
            if (taken) {
                rebuilt.tabs[open->second] = shown;
            }
        } else if (rebuilt.tabs.size() == limit) {
            rebuilt.left_out.insert(tab);
            rebuilt.identities_left_out.insert(session.tab);
            continue;
        } else {
            if (!session.path.empty()) {
                by_path[session.path] = rebuilt.tabs.size();
            }
            rebuilt.tabs.push_back(shown);
        }
        if (i == workspace.active) {
            rebuilt.active = into_open ? open->second : rebuilt.tabs.size() - 1;
        }
    }
    rebuilt.active = std::min(rebuilt.active, rebuilt.tabs.size());
    return rebuilt;
}

// What a start reads from `files` where no file is held and no operation fails. It depends on
// the files alone, and the crash points of one step mostly leave the same files: each answer is
// kept for the next time the same files come.
SalvagedWorkspace read_by_a_clean_start(const std::map<std::filesystem::path, std::string>& files,
                                        const Documents& documents) {
    using Files = std::pair<std::map<std::filesystem::path, std::string>, Documents>;
    constexpr std::size_t most_kept = 4096;
    static std::unordered_multimap<std::size_t, std::pair<Files, SalvagedWorkspace>> known;
    std::size_t key = files.size();
    for (const auto& [path, bytes] : files) {
        key = key * 31 + std::filesystem::hash_value(path);
        key = key * 31 + std::hash<std::string>{}(bytes);
    }
    for (const auto& [path, version] : documents) {
        key = key * 31 + std::hash<std::string>{}(path) + static_cast<std::size_t>(version);
    }
    const auto [first, last] = known.equal_range(key);
    for (auto same = first; same != last; ++same) {
        if (same->second.first.first == files && same->second.first.second == documents) {
            return same->second.second;
        }
    }
    MemoryDisk clean;
    clean.files = files;
    RecoveryPolicy next(clean, folder, 0);
    const SalvagedWorkspace read = next.start(versions_of(documents)).value_or(SalvagedWorkspace{});
    if (known.size() >= most_kept) {
        known.clear();
    }
    return known.emplace(key, std::pair{Files{files, documents}, read})->second.second;
}

// The program as far as recovery goes, with what the promise owes the user: for each tab, the
// newest version of it that was on disk, in a store or in its saved file.
class Run {
public:
    explicit Run(MemoryDisk& disk) : disk_(disk) {}

    void apply(const Move& move) {
        switch (move.step) {
        case Step::start_yes:
        case Step::start_no:
            start(move.step == Step::start_yes);
            break;
        case Step::type:
            type(move.arg % 2 == 1);
            break;
        case Step::edit:
            if (Tab* tab = chosen(move.arg)) {
                const int from = tab->text_tab != 0 ? 0 : tab->version;
                go_on_as_own(*tab);
                tab->version = ++versions_[tab->tab];
                parents_[{tab->tab, tab->version}] = from;
                tab->draft = true;
            }
            break;
        case Step::save:
        case Step::save_as:
            if (Tab* tab = chosen(move.arg)) {
                move.step == Step::save ? save(*tab) : save_as(*tab);
            }
            break;
        case Step::close:
            if (Tab* tab = chosen(move.arg)) {
                // Closing one of two tabs a start brought the same tab back in lets nothing go.
                const bool twice = std::ranges::count(tabs_, tab->tab, &Tab::tab) > 1;
                // Another version of a tab discarded: as when it changes, what is owed of the tab
                // it was a version of is what that tab's file holds.
                go_on_as_own(*tab);
                forget(tab->tab, tab->version, tab->identity, !twice && tab->vouched);
                active_ = active_ == tab->tab ? 0 : active_;
                tabs_.erase(tabs_.begin() + (tab - tabs_.data()));
                store_at_once();
            }
            break;
        case Step::switch_tab:
            if (const Tab* tab = chosen(move.arg)) {
                active_ = tab->tab;
            }
            break;
        case Step::outside:
            outside(move.arg);
            break;
        case Step::odd_file:
            odd_file(move.arg);
            break;
        case Step::reopen:
            reopen(move.arg);
            break;
        case Step::old_release:
            old_release();
            break;
        case Step::store:
            store();
            break;
        case Step::written:
            write();
            break;
        case Step::hold_tabs:
        case Step::hold_beside:
        case Step::hold_session:
            hold(move.step == Step::hold_tabs     ? tabs_bin
                 : move.step == Step::hold_beside ? beside_bin
                                                  : session_bin,
                 move.arg % 2 == 1);
            break;
        case Step::release_tabs:
        case Step::release_beside:
        case Step::release_session:
            release(move.step == Step::release_tabs     ? tabs_bin
                    : move.step == Step::release_beside ? beside_bin
                                                        : session_bin);
            break;
        case Step::damage:
        case Step::cut:
            spoil(move.step == Step::cut, move.arg);
            break;
        case Step::delete_copy:
            delete_copy();
            break;
        case Step::tab_limit:
            tab_limit_ = 2;
            break;
        case Step::fail_next:
        case Step::fail_second:
            disk_.failing.insert(disk_.operations + (move.step == Step::fail_next ? 1 : 2));
            break;
        case Step::lose_next:
            disk_.losing.insert(disk_.operations + 1);
            break;
        case Step::lock_folder:
        case Step::unlock_folder:
            disk_.locked = move.step == Step::lock_folder;
            locked_this_run_ = locked_this_run_ || disk_.locked;
            break;
        case Step::fill_folder:
        case Step::free_folder:
            disk_.full = move.step == Step::fill_folder;
            locked_this_run_ = locked_this_run_ || disk_.full;
            break;
        case Step::old_session:
            old_session();
            break;
        case Step::quit:
            quit(move.arg);
            break;
        }
    }

    // Empty when a start now, once no file is held and the folder can be looked into, shows each
    // tab no older than the newest version of it that was on disk (a tab a restore left out: a
    // copy the status named holds it); else what is wrong.
    std::string broken_promise() const {
        std::string wrong = failed_store_ ? "a store failed though a file could take it" : "";
        auto add = [&](const std::string& fault) { wrong += (wrong.empty() ? "" : "; ") + fault; };
        if (!status_fault_.empty()) {
            add(status_fault_);
        }
        const SalvagedWorkspace read = read_by_a_clean_start(disk_.files, documents_);
        const Rebuilt shown = rebuild(read.workspace, true, documents_, 1000);
        check_sessions(read, add);
        check_shown(shown, add);
        for (const Shown& at : shown.tabs) {
            const auto gone = let_go_.find(at.tab);
            // A file opened again is a tab of its own: letting it go lets go no other tab that
            // holds the same text.
            const auto identities = let_go_identities_.find(at.tab);
            const bool reopened = reopened_tabs_.contains(at.tab);
            const bool another_tab = reopened && (identities == let_go_identities_.end() ||
                                                  !identities->second.contains(at.identity));
            if (!at.draft || other_version(at) || gone == let_go_.end() ||
                unsure_let_go_.contains(at.tab) || another_tab || unclaimed(at)) {
                continue;
            }
            // Nor does a version a tab of the same file opened again let go bind this one, which
            // is owed no more than what was let go under its own identity.
            const int own_let_go =
                reopened ? identities->second.at(at.identity) : std::numeric_limits<int>::max();
            // A version typed in a run that could not read this one does not come from it.
            for (const int version : gone->second) {
                if (at.version < version && version <= own_let_go &&
                    descends(at.tab, version, at.version)) {
                    add("tab " + std::to_string(at.tab) + " shows version " +
                        std::to_string(at.version) + " though version " + std::to_string(version) +
                        " was let go");
                }
            }
        }
        for (const auto& [tab, newest] : floor_) {
            // Of two stores side by side, either may hold the newer version: it is owed in one
            // of the tabs shown, or in its file when only another version of it is shown (or the
            // tab at a file it was saved as before a Save As the other store saw).
            bool any = false;
            bool own = false;
            int best = 0;
            const auto path = paths_.find(tab);
            for (const Shown& at : shown.tabs) {
                if (at.tab == tab) {
                    any = true;
                    // A file opened again is a tab of its own: an untitled draft of the tab that no
                    // store recorded at a file is not the tab its Saves made owed, so the file
                    // holds those.
                    const bool untitled = at.path.empty() && (!reopened_tabs_.contains(tab) ||
                                                              filed_.contains(at.identity));
                    own = own || (!other_version(at) && !unclaimed(at) &&
                                  (untitled || path == paths_.end() || at.path == path->second));
                    best = std::max(best, at.version);
                }
            }
            const bool in_file = saved_version(tab) >= newest; // false for no file
            const bool kept = left_out_.contains(tab) && in_named_copy(tab, newest);
            if (any && best < newest && (own || !in_file) && !kept) {
                add("tab " + std::to_string(tab) + " shows version " + std::to_string(best) +
                    " though version " + std::to_string(newest) + " was on disk");
            }
            if (!any && !in_file && !kept) {
                add("tab " + std::to_string(tab) + " version " + std::to_string(newest) +
                    " is lost" + (left_out_.contains(tab) ? " (left out at the tab limit)" : ""));
            }
        }
        return wrong;
    }

private:
    using Complaint = std::function<void(const std::string&)>;

    // Each session is one the writer was given (a record no stamp checks, of a file that went
    // bad, may be any other, but a start never says it read such a one whole); it names a file
    // its tab had, and says it is no draft only of a text its file held once; no file that no
    // store wrote is removed.
    void check_sessions(const SalvagedWorkspace& read, const Complaint& add) const {
        // A record of an earlier version checks nothing but its lengths.
        const auto lone = disk_.files.find(session_bin);
        const bool lone_record_spoilt =
            lone != disk_.files.end() && damaged_.contains(store_fingerprint(lone->second));
        for (const Session& session : read.workspace.sessions) {
            if (!typed.contains(session.text)) {
                continue;
            }
            const int tab = tab_of(session.text);
            const std::string version = std::to_string(version_of(session.text));
            if (!given(session)) {
                if (damaged_.empty() || (read.whole && !lone_record_spoilt)) {
                    add("tab " + std::to_string(tab) + " version " + version +
                        " comes back as no store wrote it" + (read.whole ? ", read whole" : ""));
                }
                continue;
            }
            if (!session.path.empty() && !tab_paths_.contains({tab, session.path})) {
                add("tab " + std::to_string(tab) + " comes back as " + session.path);
            }
            const auto saved = ever_saved_.find(tab);
            if (!session.draft &&
                (saved == ever_saved_.end() || !saved->second.contains(version_of(session.text)))) {
                add("tab " + std::to_string(tab) + " version " + version +
                    " comes back as saved, never saved");
            }
        }
        for (const auto& [path, bytes] : odd_files_) {
            if (!disk_.files.contains(path)) {
                add("a file no store wrote was removed: " + path.string());
            }
        }
    }

    // No tab is shown twice under one identity, nor under two but where a bad byte kept a newer
    // store from taking an older one over (or changed the settings of a record nothing checks)
    // or where a file was opened again while a store no start had read held its tab; another
    // version of a tab comes in a tab named for it. The tab shown when the one store on disk was
    // planned is the one shown again.
    void check_shown(const Rebuilt& shown, const Complaint& add) const {
        std::map<int, std::set<std::uint64_t>> seen;
        for (const Shown& at : shown.tabs) {
            if (other_version(at)) {
                // Nor as another version of the file a tab shows as it is.
                const auto document = documents_.find(at.other_version_of.value_or(""));
                const bool file_shown = damaged_.empty() && document != documents_.end() &&
                                        document->second == Document{at.tab, at.version} &&
                                        std::ranges::any_of(shown.tabs, [&](const Shown& file) {
                                            return !file.draft && file.path == document->first;
                                        });
                if (file_shown) {
                    add("tab " + std::to_string(at.tab) + " is shown again beside its file");
                }
                continue;
            }
            std::set<std::uint64_t>& identities = seen[at.tab];
            const bool own = (reopened_tabs_.contains(at.tab) || !damaged_.empty()) &&
                             !identities.contains(at.identity);
            if (!identities.empty() && !own) {
                add("tab " + std::to_string(at.tab) + " is shown twice");
            }
            identities.insert(at.identity);
        }
        int stores = 0;
        for (const auto& [path, bytes] : disk_.files) {
            const bool temporary = path.filename().string().starts_with(".pellix-");
            stores += path == tabs_bin || path == beside_bin || path == session_bin ||
                      read_as_store(path, bytes) || (temporary && !odd_files_.contains(path));
        }
        const auto only = disk_.files.find(landed_file_);
        // The tab at that file: one tab may be shown at two, one of them left before a Save As;
        // after a start its text may stand in its place as another version of a changed file.
        const auto landed = [&](const Shown& at, bool or_other_version = false) {
            return at.tab == landed_active_ &&
                   (at.path == landed_active_path_ ||
                    (or_other_version && at.other_version_of == landed_active_path_));
        };
        if (landed_active_ == 0 || stores != 1 || only == disk_.files.end() ||
            damaged_.contains(store_fingerprint(only->second)) ||
            std::ranges::none_of(shown.tabs, landed)) {
            return;
        }
        if (shown.active >= shown.tabs.size() || !landed(shown.tabs[shown.active], true)) {
            add("tab " + std::to_string(landed_active_) + " was shown, another is after a start");
        }
    }

    struct Tab {
        int tab = 0;
        int version = 0;
        bool draft = true;     // false once saved, until the next edit
        std::string path = {}; // its file; empty for an untitled tab
        std::uint64_t identity = 0;
        // Another version of this tab, shown in a tab of its own: its text until it changes,
        // and the file of the tab it is another version of.
        int text_tab = 0;
        std::optional<std::string> other_version_of = std::nullopt;
        std::uint64_t file_version = 0; // of its file when it last read or wrote it
        // False under an identity a start first gave the tab from a record no intact stamp tied
        // to it (from its text alone): no start can tell the tab's older versions under it.
        bool vouched = true;
    };

    // Whether the writer was given the session (another version of a tab as the tab it was).
    bool given(const Session& session) const {
        return given_.contains(session_fingerprint(session));
    }

    // Whether `version` of the tab was typed over `from`, or over one typed over it, and so on.
    bool descends(int tab, int version, int from) const {
        while (version > from) {
            const auto parent = parents_.find({tab, version});
            version = parent != parents_.end() ? parent->second : 0;
        }
        return version == from;
    }

    // The version the tab's own file holds; nothing when it has none.
    std::optional<int> saved_version(int tab) const {
        const auto path = paths_.find(tab);
        const auto file = path != paths_.end() ? documents_.find(path->second) : documents_.end();
        return file != documents_.end() ? std::optional<int>(file->second) : std::nullopt;
    }

    // The harness's own tab for a shown tab that is another version of the tab its text names
    // (0 for any other): a new one when it first comes.
    int other_version_tab(const Shown& shown) {
        const auto known = other_versions_.find(shown.identity);
        if (known != other_versions_.end()) {
            return known->second != shown.tab ? known->second : 0;
        }
        if (!shown.other_version_of) {
            return 0;
        }
        return other_versions_[shown.identity] = next_tab_++;
    }

    // Whether a shown tab is another version of the tab its text names.
    bool other_version(const Shown& shown) const {
        const auto known = other_versions_.find(shown.identity);
        return shown.other_version_of.has_value() ||
               (known != other_versions_.end() && known->second != shown.tab);
    }

    // The tab the argument chooses among those open; null when none is.
    Tab* chosen(std::uint32_t arg) { return tabs_.empty() ? nullptr : &tabs_[arg % tabs_.size()]; }

    // A let-go is handed to the writer at once, as a Save's store is.
    void store_at_once() {
        store();
        write();
    }

    // Another program writes a new text into a tab's file (argument's low bits 0 or 1), or
    // deletes or renames it (2, 3): a draft of the tab is still the user's; what the file held
    // is owed no more.
    void outside(std::uint32_t arg) {
        std::vector<int> filed;
        for (const auto& [tab, path] : paths_) {
            if (documents_.contains(path)) {
                filed.push_back(tab);
            }
        }
        if (filed.empty()) {
            return;
        }
        const int tab = filed[(arg / 4) % filed.size()];
        const std::string& path = paths_.at(tab);
        const int held = documents_.at(path);
        if (arg % 4 < 2) {
            documents_[path] = {tab, ++versions_[tab]};
            ever_saved_[tab].insert(documents_[path]);
        } else {
            documents_.erase(path);
        }
        // What was owed of the tab through its file is owed no more; a newer draft still is.
        if (floor_.contains(tab) && floor_[tab] <= held) {
            floor_.erase(tab);
        }
        counted_saves_.erase(tab);
        unstored_saves_.erase(tab);
    }

    // A file no store of this program wrote: never read as a store, never removed.
    void odd_file(std::uint32_t arg) {
        const std::filesystem::path name =
            arg % 2 == 0 ? folder / "notes.txt"
                         : folder / (".pellix-doc" + std::to_string(arg % 1000) + ".tmp");
        odd_files_[name] = disk_.files[name] = "a document's only copy " + std::to_string(arg);
    }

    Session session_of(const Tab& tab) const {
        return {.text = text_of(tab.text_tab != 0 ? tab.text_tab : tab.tab, tab.version),
                .encoding = Encoding::utf8,
                .line_ending = LineEnding::lf,
                .path = tab.path,
                .draft = tab.draft,
                .tab = tab.identity,
                .file_version = tab.file_version,
                .other_version_of = tab.path.empty() ? tab.other_version_of : std::nullopt};
    }

    // The version of the file as it is now; 0 for none.
    std::uint64_t file_version(const std::string& path) const {
        return versions_of(documents_)(path).value_or(0);
    }

    void type(bool file) {
        const int tab = next_tab_++;
        versions_[tab] = 1;
        tabs_.push_back({.tab = tab, .version = 1, .identity = static_cast<std::uint64_t>(tab)});
        active_ = tab;
        if (file) {
            // A file just opened is on disk already: owed at once, with no store to wait for.
            save(tabs_.back());
            unstored_saves_.erase(tab);
            count_save(tab, 1);
        }
    }

    // The user opens a file that a tab of an earlier run had, and no tab of this run has: that
    // tab again, under an identity of its own, as the program gives a file just opened.
    void reopen(std::uint32_t arg) {
        std::vector<int> closed;
        for (const auto& [tab, path] : paths_) {
            if (documents_.contains(path) &&
                std::ranges::find(tabs_, tab, &Tab::tab) == tabs_.end()) {
                closed.push_back(tab);
            }
        }
        if (closed.empty()) {
            return;
        }
        const int tab = closed[arg % closed.size()];
        const std::string& path = paths_.at(tab);
        tabs_.push_back({.tab = tab,
                         .version = documents_.at(path),
                         .draft = false,
                         .path = path,
                         .identity = (std::uint64_t{1} << 32) + ++reopened_,
                         .file_version = file_version(path)});
        active_ = tab;
        reopened_tabs_.insert(tab);
    }

    // A Save is owed once a store made after it has landed (the program stores at once after
    // each Save; a death before that store lands is the one moment the promise cannot close), and
    // once a clean close has ended, whether its last store could be written or not.
    void save(Tab& tab) {
        if (tab.text_tab != 0) {
            // Another version of a tab is saved as a file of its own: as if changed first.
            go_on_as_own(tab);
            tab.version = ++versions_[tab.tab];
        }
        if (tab.path.empty()) {
            tab.path = paths_.contains(tab.tab) ? paths_.at(tab.tab) : path_of_tab(tab.tab);
        }
        tab.draft = false;
        documents_[tab.path] = {tab.tab, tab.version};
        tab.file_version = file_version(tab.path);
        paths_[tab.tab] = tab.path;
        tab_paths_.insert({tab.tab, tab.path});
        ever_saved_[tab.tab].insert(tab.version);
        unstored_saves_[tab.tab] = tab.version;
        // Saved over a newer text in the file (a start that could not read every file brought
        // the older one back): the file holds what the user chose last.
        if (floor_.contains(tab.tab) && floor_[tab.tab] > tab.version) {
            floor_[tab.tab] = counted_saves_[tab.tab] = tab.version;
        }
    }

    // Another version of a tab changes, or is saved as a file of its own: its text goes on in
    // a tab of its own, and what is owed of the tab it was a version of is what that tab's file
    // holds (and its own tab, once stored).
    void go_on_as_own(Tab& tab) {
        const int of = std::exchange(tab.text_tab, 0);
        if (of == 0 || !floor_.contains(of) || floor_.at(of) > tab.version) {
            return;
        }
        if (const auto file = counted_saves_.find(of); file != counted_saves_.end()) {
            floor_[of] = file->second;
        } else {
            floor_.erase(of);
        }
    }

    // Save As: the tab's text goes to a new file, which is the tab's from now on; its old file
    // stays as it was, no tab's.
    void save_as(Tab& tab) {
        tab.path = path_of_tab(tab.tab, ++copies_);
        save(tab);
    }

    void count_save(int tab, int version) {
        counted_saves_[tab] = std::max(counted_saves_[tab], version);
        on_disk(tab, version);
    }

    // A version of the tab is on disk: once it is the newest owed, a copy no longer needs to
    // hold one that a restore left out.
    void on_disk(int tab, int version) {
        int& owed = floor_[tab];
        if (version >= owed) {
            left_out_.erase(tab);
        }
        owed = std::max(owed, version);
    }

    // The user let the tab's unsaved text go: what is owed is its file, if it has one; once a
    // store made after that has landed, no older version of it may come back (unless `let_go` is
    // false: another tab still shows the tab).
    void forget(int tab, int version, std::uint64_t identity, bool let_go = true) {
        int& under_identity = let_go_identities_[tab][identity];
        under_identity = std::max(under_identity, version);
        if (let_go) {
            unstored_let_go_[tab] = std::max(unstored_let_go_[tab], version);
        }
        ever_let_go_[tab] = std::max(ever_let_go_[tab], version);
        // An older version let go (a stale store a start read once the newer ones were gone)
        // lets go only itself: the newer one the named copy holds was never offered, and until
        // that let-go is stored the same start may offer the older one again.
        if (const auto owed = floor_.find(tab); left_out_.contains(tab) && owed != floor_.end() &&
                                                version < owed->second &&
                                                in_named_copy(tab, owed->second)) {
            return;
        }
        left_out_.erase(tab);
        if (const auto file = counted_saves_.find(tab); file != counted_saves_.end()) {
            floor_[tab] = file->second;
        } else {
            floor_.erase(tab);
        }
    }

    void start(bool yes) {
        die();
        policy_.emplace(disk_, folder, ++runs_);
        unread_.clear();
        for (const std::filesystem::path& file : {tabs_bin, session_bin, beside_bin}) {
            if (disk_.held.contains(file) && disk_.files.contains(file)) {
                unread_.insert(file);
            }
        }
        tabs_at_start_ = disk_.files.contains(tabs_bin);
        run_began_ = disk_.operations;
        locked_this_run_ = disk_.locked || disk_.full;
        // Only a start that may fail to read a file can offer less than a clean one: the others
        // need no second start to compare with.
        const bool may_fail = disk_.locked || !disk_.held.empty() ||
                              disk_.failing.upper_bound(disk_.operations) != disk_.failing.end();
        std::vector<Session> readable =
            may_fail ? read_by_a_clean_start(disk_.files, documents_).workspace.sessions
                     : std::vector<Session>{};
        // As the program does: a start that fails says so and keeps the run's decisions.
        std::optional<SalvagedWorkspace> read;
        bool said_unreadable = false;
        try {
            if (!policy_->anything_to_read()) {
                return;
            }
            read = policy_->start(versions_of(documents_));
        } catch (const std::runtime_error&) {
            said_unreadable = true;
        }
        said_unreadable = said_unreadable || (read && !read->whole);
        for (const Session& session : read ? read->workspace.sessions : std::vector<Session>{}) {
            std::erase(readable, session);
        }
        if (!readable.empty() && !said_unreadable) {
            status_fault_ = "a start did not say that it could not read everything";
        }
        if (!read) {
            return;
        }
        const std::vector<Session>& sessions = read->workspace.sessions;
        for (const Session& session : sessions) {
            const int tab = typed.contains(session.text) ? tab_of(session.text) : 0;
            if (tab != 0 && !session.path.empty() && !given(session)) {
                tab_paths_.insert({tab, session.path});
            }
            if (tab != 0 && !identities_given_.contains({tab, session.tab})) {
                untied_.insert({tab, session.tab});
            }
        }
        const bool drafts = std::ranges::any_of(sessions, &Session::draft);
        if (!yes && drafts) {
            // The drafts offered are let go: each tab is owed only its file from now on.
            for (const Session& session : sessions) {
                if (session.draft && typed.contains(session.text)) {
                    forget(tab_of(session.text), version_of(session.text), session.tab,
                           !untied_.contains({tab_of(session.text), session.tab}));
                }
            }
        }
        const Rebuilt rebuilt = rebuild(read->workspace, yes || !drafts, documents_, tab_limit_);
        active_ = 0;
        for (const Shown& shown : rebuilt.tabs) {
            Tab tab{.tab = shown.tab,
                    .version = shown.version,
                    .draft = shown.draft,
                    .path = shown.path,
                    .identity = shown.identity,
                    .other_version_of = shown.other_version_of,
                    .file_version = shown.draft ? shown.file_version : file_version(shown.path),
                    .vouched = !untied_.contains({shown.tab, shown.identity})};
            if (const int own = other_version_tab(shown)) {
                tab.text_tab = std::exchange(tab.tab, own);
            }
            if (tabs_.size() == rebuilt.active) {
                active_ = tab.tab;
            }
            tabs_.push_back(tab);
        }
        // Damage that cut the tie between two records of one tab shows it twice: each goes on as
        // a tab of its own, as a file opened again does.
        std::map<int, int> shown_times;
        for (const Tab& tab : tabs_) {
            if (++shown_times[tab.tab] > 1 && !damaged_.empty()) {
                reopened_tabs_.insert(tab.tab);
            }
        }
        std::ranges::copy_if(rebuilt.left_out, std::inserter(left_out_, left_out_.end()),
                             [&](int tab) { return floor_.contains(tab); });
        policy_->restored(rebuilt.identities_left_out, clock_of_run());
        remember_named_copies();
        if (!yes && drafts) {
            store_at_once();
        }
    }

    // Each run's clock is its own, a day or more behind or ahead of the others' now and then.
    UtcTime clock_of_run() {
        const unsigned drawn = static_cast<unsigned>(store_fingerprint(std::to_string(++starts_)));
        return {.year = 2026,
                .month = 12,
                .day = 1 + drawn % 28,
                .hour = (drawn >> 8) % 24,
                .minute = (drawn >> 16) % 60,
                .second = (drawn >> 24) % 60};
    }

    // Another program can only open a file that is there.
    void hold(const std::filesystem::path& file, bool shared_for_reading) {
        if (disk_.files.contains(file)) {
            (shared_for_reading ? disk_.read_only : disk_.held).insert(file);
        }
    }

    void release(const std::filesystem::path& file) {
        disk_.held.erase(file);
        disk_.read_only.erase(file);
    }

    // A store may fail only while neither "tabs.bin" nor the file beside can take it: held by
    // another program now, or left alone since a start that could not read it. A store with no
    // tab worth keeping removes the files instead, and fails while one of them is held or unread.
    bool somewhere_to_store(bool empty) const {
        if (locked_this_run_ || disk_.failing.upper_bound(run_began_) != disk_.failing.end() ||
            disk_.losing.upper_bound(run_began_) != disk_.losing.end()) {
            return false; // the disk failed this run: a file may be left alone for it
        }
        if (empty) {
            return unread_.empty() && std::ranges::none_of(disk_.files, [&](const auto& file) {
                       return disk_.locked_file(file.first);
                   });
        }
        const bool tabs_free = !disk_.locked_file(tabs_bin) && !unread_.contains(tabs_bin) &&
                               !(unread_.contains(session_bin) && !tabs_at_start_);
        const bool beside_free = !disk_.locked_file(beside_bin) && !unread_.contains(beside_bin);
        return tabs_free || beside_free;
    }

    Workspace workspace_of_tabs() const {
        Workspace workspace;
        for (const Tab& tab : tabs_) {
            if (tab.tab == active_) {
                workspace.active = workspace.sessions.size();
            }
            workspace.sessions.push_back(session_of(tab));
        }
        return workspace;
    }

    void store() {
        if (!policy_) {
            return;
        }
        try {
            pending_ = {policy_->plan_store(), workspace_of_tabs(), unstored_saves_,
                        unstored_let_go_};
            unstored_saves_.clear();
            unstored_let_go_.clear();
        } catch (const std::runtime_error&) {
            failed_store_ = somewhere_to_store(tabs_.empty());
        }
    }

    void write() {
        if (pending_) {
            carry_out(*std::exchange(pending_, std::nullopt), true);
        }
    }

    // `checked`: a failed store is a fault where a file could have taken it.
    struct Job {
        StorePlan plan;
        Workspace workspace;
        std::map<int, int> saves;  // made before it was planned
        std::map<int, int> let_go; // tabs closed or refused before it was planned
    };
    bool carry_out(const Job& job, bool checked) {
        const Workspace& workspace = job.workspace;
        for (const Session& session : workspace.sessions) {
            given_.insert(session_fingerprint(session));
            identities_given_.insert({tab_of(session.text), session.tab});
            // Another version's record holds the path of the tab it is another version of.
            if (session.other_version_of && !session.other_version_of->empty()) {
                tab_paths_.insert({tab_of(session.text), *session.other_version_of});
            }
        }
        const std::size_t writes = disk_.written.size();
        const int stranded = disk_.stranded;
        // The store is on disk once its file is written, whatever happens after.
        auto landed = [&] {
            if (disk_.written.size() > writes) {
                owe(job);
            } else if (disk_.stranded > stranded) {
                // A store a lost replace left whole in a temporary file failed and owes nothing,
                // but a start reads its records, and a copy kept of it must be known to hold them.
                remember_written(workspace);
            }
        };
        try {
            policy_->store_written(job.plan, carry_out_store(disk_, job.plan, workspace));
        } catch (const Crash&) {
            landed();
            throw;
        } catch (const std::runtime_error&) {
            for (const auto& [tab, version] : job.let_go) {
                unstored_let_go_[tab] = std::max(unstored_let_go_[tab], version);
            }
            landed();
            failed_store_ =
                failed_store_ || (checked && somewhere_to_store(workspace.sessions.empty()));
            return false;
        }
        owe(job);
        remember_named_copies();
        return true;
    }

    void remember_written(const Workspace& workspace) {
        for (Session session : workspace.sessions) {
            session.tab = 0;
            if (std::find(written_.begin(), written_.end(), session) == written_.end()) {
                written_.push_back(session);
            }
        }
    }

    void owe(const Job& job) {
        remember_written(job.workspace);
        const std::vector<Session>& stored = job.workspace.sessions;
        const bool active = job.workspace.active < stored.size();
        landed_active_ = active ? tab_of(stored[job.workspace.active].text) : 0;
        landed_active_path_ = active ? stored[job.workspace.active].path : std::string();
        landed_file_ = disk_.written.empty() ? std::filesystem::path() : disk_.written.back();
        for (const Session& session : job.workspace.sessions) {
            if (!session.path.empty()) {
                filed_.insert(session.tab);
            }
            // A tab let go that a start which could not read that came back with: owed again
            // once it is changed.
            // A text stored as saved comes back from its file only, which the Save made owed.
            const auto gone = ever_let_go_.find(tab_of(session.text));
            if (!session.draft ||
                (gone != ever_let_go_.end() && version_of(session.text) <= gone->second)) {
                continue;
            }
            on_disk(tab_of(session.text), version_of(session.text));
        }
        for (const auto& [tab, version] : job.saves) {
            count_save(tab, version);
        }
        for (const auto& [tab, version] : job.let_go) {
            let_go_[tab].insert(version);
        }
    }

    // The user closes the program: each tab with a draft is saved, or its edits discarded, and
    // the last store is made at once; the run ends whatever it did.
    void quit(std::uint32_t choices) {
        for (std::size_t i = 0; i < tabs_.size(); ++i) {
            Tab& tab = tabs_[i];
            if (!tab.draft) {
                continue;
            }
            if ((choices >> (i % 32)) & 1 || tab.path.empty()) {
                save(tab);
            } else {
                forget(tab.tab, tab.version, tab.identity, tab.vouched);
                tab = {.tab = tab.tab,
                       .version = documents_.contains(tab.path) ? documents_.at(tab.path) : 0,
                       .draft = false,
                       .path = tab.path,
                       .identity = tab.identity,
                       .file_version = file_version(tab.path)};
            }
        }
        // A tab whose edits were discarded and whose file is gone is not kept.
        std::erase_if(tabs_, [](const Tab& tab) { return tab.version == 0; });
        // A close whose last store could be neither written nor replaced by removing the files
        // (every operation refused) is excused.
        bool done = false;
        if (policy_) {
            try {
                done = carry_out(
                    {policy_->plan_store(), workspace_of_tabs(), unstored_saves_, unstored_let_go_},
                    false);
            } catch (const std::runtime_error&) {
            }
        }
        for (const auto& [tab, version] : done ? unstored_saves_ : std::map<int, int>{}) {
            count_save(tab, version);
        }
        die();
    }

    // The sessions this run wrote whose records a start can still read from `bytes` of a store
    // file (or of "session.bin", a lone record), judged by what was written and where it went bad
    // rather than by the reader under test: a record whose bytes are as written, in a file whose
    // stamp a start can still read (or, alone, a lone record as written).
    std::vector<Session> intact_in(const std::string& bytes, bool lone_record) const {
        const auto spoilt = damaged_.find(store_fingerprint(bytes));
        const Damage* damage = spoilt != damaged_.end() ? &spoilt->second : nullptr;
        const std::string& written = damage ? damage->written : bytes;
        const std::optional<StoreLayout> layout = layout_of(written);
        if (!lone_record && (!layout || !vouched(*layout, written.size(), damage))) {
            return {};
        }
        std::vector<Session> intact;
        for (const Session& session : written_) {
            const std::string container = encode_tab_recovery({.sessions = {session}, .active = 0});
            // The record without its length, which a start does without.
            const std::string_view record = std::string_view(container).substr(container_head + 4);
            if (lone_record) {
                if (written == record && untouched(damage, 0, written.size())) {
                    intact.push_back(session);
                }
                continue;
            }
            for (std::size_t at = written.find(record, layout->container);
                 at != std::string::npos && at + record.size() <= layout->records_end;
                 at = written.find(record, at + 1)) {
                if (untouched(damage, at, at + record.size())) {
                    intact.push_back(session);
                    break;
                }
            }
        }
        return intact;
    }

    // A store the previous release set aside is read again only while it reads whole.
    bool read_as_store(const std::filesystem::path& path, const std::string& bytes) const {
        return set_aside_copy(path) && !damaged_.contains(store_fingerprint(bytes));
    }

    // The drafts of each tab a start could still read from the store files (a text stored as
    // saved comes back from its file only).
    std::map<int, std::set<int>> versions_on_disk() const {
        std::map<int, std::set<int>> versions;
        for (const auto& [path, bytes] : disk_.files) {
            std::vector<Session> sessions;
            if (path == tabs_bin || path == beside_bin || read_as_store(path, bytes) ||
                (path.filename().string().starts_with(".pellix-") && path.extension() == ".tmp")) {
                sessions = intact_in(bytes, false);
            } else if (path == session_bin && !disk_.files.contains(tabs_bin)) {
                sessions = intact_in(bytes, true);
            }
            for (const Session& session : sessions) {
                if (session.draft) {
                    versions[tab_of(session.text)].insert(version_of(session.text));
                }
            }
        }
        return versions;
    }

    // The user's disk spoils bytes of a file in the folder: a few single bytes, runs of them, or
    // the same byte of both copies of a store's stamp; or it cuts the file short.
    void spoil(bool cut, std::uint32_t choice) {
        if (disk_.files.empty()) {
            return;
        }
        const auto file = std::next(disk_.files.begin(), choice % disk_.files.size());
        std::string& bytes = file->second;
        if (bytes.empty()) {
            return;
        }
        const auto before = damaged_.find(store_fingerprint(bytes));
        Damage damage = before != damaged_.end() ? before->second
                                                 : Damage{.written = bytes,
                                                          .spoilt = std::vector<bool>(bytes.size()),
                                                          .kept = bytes.size()};
        std::mt19937_64 draw(choice);
        auto spoil_byte = [&](std::size_t at, char with) {
            if (at < bytes.size()) {
                bytes[at] = static_cast<char>(damage.written[at] ^ with);
                damage.spoilt[at] = true;
            }
        };
        auto some_bits = [&] { return static_cast<char>(1 + draw() % 255); };
        if (cut) {
            damage.kept = (choice / disk_.files.size()) % bytes.size();
            bytes.resize(damage.kept);
        }
        const std::optional<StoreLayout> layout = layout_of(damage.written);
        for (std::uint64_t left = cut ? 0 : 1 + draw() % 4; left > 0; --left) {
            const std::size_t at = draw() % bytes.size();
            switch (draw() % 3) {
            case 0:
                spoil_byte(at, some_bits());
                break;
            case 1:
                for (std::size_t run = 2 + draw() % 63, i = at; i < at + run; ++i) {
                    spoil_byte(i, some_bits());
                }
                break;
            default:
                if (layout && layout->tail_copy != 0 && layout->stamp != 0) {
                    const std::size_t in_stamp = draw() % layout->stamp;
                    const char with = some_bits();
                    spoil_byte(store_ends + in_stamp, with);
                    spoil_byte(layout->tail_copy + in_stamp, with);
                } else {
                    spoil_byte(at, some_bits());
                }
            }
        }
        if (bytes == damage.written) {
            return;
        }
        if (const std::optional<StoreStamp> stamp = split_store_file(damage.written).stamp;
            stamp && layout && !vouched(*layout, damage.written.size(), &damage)) {
            unclaimed_.insert(stamp->replaces.begin(), stamp->replaces.end());
            // Nor the stores before it of its run, or of the runs it took over.
            for (const auto& [path, other] : disk_.files) {
                const std::optional<StoreStamp> older = split_store_file(other).stamp;
                if (older && (older->run == stamp->run
                                  ? older->store < stamp->store
                                  : std::ranges::any_of(stamp->taken_over, [&](StoreId id) {
                                        return id.run == older->run && id.store >= older->store;
                                    }))) {
                    unclaimed_.insert(store_fingerprint(other));
                }
            }
        }
        damaged_[store_fingerprint(bytes)] = std::move(damage);
        owe_what_is_left();
    }

    // Files went bad or away: each tab is owed the newest version of it still intact in a store
    // file (a Save counts only while a store that saw it is there to say so).
    void owe_what_is_left() {
        const std::map<int, std::set<int>> on_disk = versions_on_disk();
        for (auto owed = floor_.begin(); owed != floor_.end();) {
            const auto [tab, newest] = *owed;
            const auto found = on_disk.find(tab);
            int still = found != on_disk.end() ? std::min(*found->second.rbegin(), newest) : 0;
            if (left_out_.contains(tab)) {
                // What only a named copy held goes with it, as when the user deletes the copy.
                still = in_named_copy(tab, newest) ? newest : 0;
            }
            owed = still == 0 ? floor_.erase(owed) : std::next(owed);
            if (still != 0) {
                floor_[tab] = still;
            }
            if (counted_saves_.contains(tab) && counted_saves_[tab] > still) {
                counted_saves_[tab] = still;
            }
        }
        // What said that a tab was let go may be what was spoiled: an older version of it may come
        // back, and it is still not owed until it changes.
        for (const auto& [tab, version] : let_go_) {
            unsure_let_go_.insert(tab);
        }
        // So may the store that recorded a tab at its file and took over an untitled draft of it
        // that a file it could not let go still holds: that draft then comes back untitled, a
        // tab other than the one a file opened again saved.
        filed_.clear();
    }

    // The program dies where it is, or its run has ended.
    void die() {
        policy_.reset();
        pending_.reset();
        unstored_saves_.clear();
        unstored_let_go_.clear();
        tabs_.clear();
    }

    // The program dies and an older version runs, leaving a "session.bin" that holds one draft;
    // that version wrote no other store file.
    void old_session() {
        if (disk_.files.contains(tabs_bin) || disk_.files.contains(beside_bin) ||
            disk_.files.contains(session_bin)) {
            return;
        }
        die();
        const int tab = next_tab_++;
        versions_[tab] = 1;
        const Session old = draft(text_of(tab, 1));
        disk_.files[session_bin] =
            encode_tab_recovery({.sessions = {old}, .active = 0}).substr(container_head + 4);
        written_.push_back(old);
        given_.insert(session_fingerprint(old));
        on_disk(tab, 1);
    }

    // The program dies and the previous release starts: it reads no stamped store, so it sets
    // "tabs.bin" aside byte for byte as a damaged copy, keeps the newest few such copies, and
    // offers nothing. What only the copies it pruned held is lost to this release too.
    void old_release() {
        die();
        try {
            const std::vector<std::filesystem::path> names = disk_.names(folder);
            if (std::ranges::find(names, tabs_bin.filename()) == names.end()) {
                return;
            }
            const std::filesystem::path copy =
                kept_copy_name(tabs_bin, KeptCopy::damaged, clock_of_run(), names);
            const bool spoilt = damaged_.contains(store_fingerprint(disk_.files.at(tabs_bin)));
            disk_.move(tabs_bin, copy);
            if (spoilt) {
                owe_what_is_left();
            }
            std::vector<std::filesystem::path> now = names;
            now.push_back(copy.filename());
            for (const std::filesystem::path& old :
                 copies_beyond(tabs_bin, KeptCopy::damaged, now, kept_store_copies)) {
                disk_.remove(old);
                owe_what_is_left();
            }
        } catch (const std::runtime_error&) {
            // That release goes on without them.
        }
    }

    void delete_copy() {
        for (auto it = disk_.files.begin(); it != disk_.files.end(); ++it) {
            const std::wstring name = it->first.filename().wstring();
            if (name.find(L".kept-") != std::wstring::npos ||
                name.find(L".damaged-") != std::wstring::npos) {
                const bool set_aside = read_as_store(it->first, it->second);
                disk_.files.erase(it);
                if (set_aside) {
                    owe_what_is_left();
                }
                // What only that copy held is the user's to lose.
                std::erase_if(left_out_, [&](int tab) {
                    const bool lost = !in_named_copy(tab, floor_[tab]);
                    if (lost) {
                        floor_.erase(tab);
                    }
                    return lost;
                });
                return;
            }
        }
    }

    // The copies the status named as holding drafts a restore left out.
    void remember_named_copies() {
        for (const RecoveryStatusNote& note : policy_->notes()) {
            if (note.kind == RecoveryNote::intact_copy || note.kind == RecoveryNote::damaged_kept) {
                named_.insert(note.path);
            }
        }
    }

    bool in_named_copy(int tab, int version) const {
        for (const std::filesystem::path& copy : named_) {
            if (!disk_.files.contains(copy)) {
                continue;
            }
            const bool lone_record = copy.filename().string().starts_with("session.bin");
            for (const Session& session : intact_in(disk_.files.at(copy), lone_record)) {
                if (typed.contains(session.text) && tab_of(session.text) == tab &&
                    version_of(session.text) >= version) {
                    return true;
                }
            }
        }
        return false;
    }

    // Whether a shown draft is the record of a file that only a stamp since spoiled took over (a
    // "session.bin" a "tabs.bin" hid, whose replace was then lost): no start can tell that it
    // was, so it comes back as a tab of its own, bound by no version of its tab made since.
    bool unclaimed(const Shown& at) const {
        for (const auto& [path, bytes] : disk_.files) {
            if (!at.draft || !unclaimed_.contains(store_fingerprint(bytes))) {
                continue;
            }
            for (const Session& session : intact_in(bytes, path == session_bin)) {
                if (typed.contains(session.text) && session.draft &&
                    tab_of(session.text) == at.tab && version_of(session.text) == at.version &&
                    session.path == at.path) {
                    return true;
                }
            }
        }
        return false;
    }

    MemoryDisk& disk_;
    std::optional<RecoveryPolicy> policy_; // copied whole with the run
    std::vector<Tab> tabs_;
    std::optional<Job> pending_;
    std::map<int, int> versions_;      // the newest version of each tab typed so far
    Documents documents_;              // each document on disk
    std::map<int, std::string> paths_; // each tab's file, the one it was saved as last
    // Every file each tab was saved as, or came back with from a record nothing checks.
    std::set<std::pair<int, std::string>> tab_paths_;
    std::map<int, int> unstored_saves_;   // saves no store planned since has seen
    std::map<int, int> counted_saves_;    // saves a store made after them has seen
    std::map<int, int> unstored_let_go_;  // tabs let go that no store planned since has seen
    std::map<int, std::set<int>> let_go_; // tabs let go that a store made after has seen
    // The identities they had, each with the newest version let go under it.
    std::map<int, std::map<std::uint64_t, int>> let_go_identities_;
    std::map<std::pair<int, int>, int> parents_; // of a tab's version, the one it was typed over
    std::set<int> unsure_let_go_;             // let go, and a file since spoiled may have said so
    std::map<int, int> ever_let_go_;          // the newest version of each tab the user let go
    std::map<int, int> floor_;                // the newest version of each tab owed
    std::map<int, std::set<int>> ever_saved_; // every version each tab's file held
    std::map<std::filesystem::path, std::string> odd_files_; // no stores: never removed
    std::map<std::uint64_t, int> other_versions_; // by identity: the harness's tab for each
    int active_ = 0;                              // the tab shown
    int landed_active_ = 0;             // the tab shown when the last store that landed was planned
    std::string landed_active_path_;    // and its file
    std::filesystem::path landed_file_; // where that store went
    std::set<int> left_out_;            // owed from a copy named as holding drafts left out
    std::set<std::filesystem::path> named_;
    std::set<std::filesystem::path> unread_; // left alone: held, or stuck, when this run started
    bool tabs_at_start_ = false;
    int run_began_ = 0;
    bool failed_store_ = false;
    bool locked_this_run_ = false;
    std::string status_fault_;
    std::size_t tab_limit_ = 128;
    int next_tab_ = 1;
    int copies_ = 0;                // Save As so far
    std::uint64_t reopened_ = 0;    // files opened again so far
    std::set<int> reopened_tabs_;   // tabs whose file was opened again, under another identity
    std::set<std::uint64_t> filed_; // identities a store that landed recorded at a file
    unsigned starts_ = 0;
    std::uint64_t runs_ = 0;
    std::map<std::uint64_t, Damage> damaged_; // by the bytes spoiled: what was written there
    std::set<std::uint64_t> unclaimed_;       // files taken over by a stamp spoiled since
    std::vector<Session> written_;            // every session a store wrote, without tab and order
    // Every session the writer was given, landed or not, by fingerprint.
    std::set<std::uint64_t> given_;
    std::set<std::pair<int, std::uint64_t>> identities_given_; // each tab's, as the writer had them
    std::set<std::pair<int, std::uint64_t>> untied_; // first given by a start, from a text alone
};

// Runs the steps once whole and once crashing at each file operation in turn; returns the first
// moment the promise did not hold, or nothing. A crash replays only the step it falls in, from
// the run and the disk as they were before it.
std::optional<std::string> counterexample(const std::vector<Move>& steps) {
    // Only what this sequence typed is a tab's text: damage may turn a text into one an earlier
    // sequence typed.
    typed.clear();
    MemoryDisk disk;
    Run run(disk);
    struct Before {
        Run run;
        MemoryDisk disk;
    };
    std::vector<Before> before;
    before.reserve(steps.size());
    for (std::size_t done = 0; done < steps.size(); ++done) {
        before.push_back({run, disk});
        run.apply(steps[done]);
        const std::string missing = run.broken_promise();
        if (!missing.empty()) {
            return "after " + std::string(name_of(steps[done].step)) + " (step " +
                   std::to_string(done + 1) + "): " + missing;
        }
    }
    const int operations = disk.operations;
    std::size_t done = 0;
    for (int crash_at = 1; crash_at <= operations; ++crash_at) {
        while (done + 1 < steps.size() && before[done + 1].disk.operations < crash_at) {
            ++done;
        }
        disk = before[done].disk;
        disk.crash_at = crash_at;
        Run crashed(before[done].run);
        std::size_t at = done;
        try {
            for (; at < steps.size(); ++at) {
                crashed.apply(steps[at]);
            }
        } catch (const Crash&) {
        }
        const std::string missing = crashed.broken_promise();
        if (!missing.empty()) {
            return "crash at operation " + std::to_string(crash_at) + " during " +
                   (at < steps.size() ? name_of(steps[at].step) : "the end") + " (step " +
                   std::to_string(at + 1) + "): " + missing;
        }
    }
    return std::nullopt;
}

// The failing sequence with every step left out that it still fails without, and each number
// made as small as it still fails with.
std::vector<Move> shrunk(std::vector<Move> steps) {
    for (bool smaller = true; smaller;) {
        smaller = false;
        for (std::size_t i = steps.size(); i-- > 0;) {
            std::vector<Move> without = steps;
            without.erase(without.begin() + static_cast<std::ptrdiff_t>(i));
            if (counterexample(without)) {
                steps = std::move(without);
                smaller = true;
            }
        }
        for (Move& move : steps) {
            for (const std::uint32_t less : {0u, 1u, move.arg / 2}) {
                const std::uint32_t was = move.arg;
                if (less >= was) {
                    continue;
                }
                move.arg = less;
                if (counterexample(steps)) {
                    smaller = true;
                    break;
                }
                move.arg = was;
            }
        }
    }
    return steps;
}

#define EXPECT_PROMISE_KEPT(...)                                                                   \
    do {                                                                                           \
        const std::vector<Move> steps{__VA_ARGS__};                                                \
        const std::optional<std::string> broken = counterexample(steps);                           \
        EXPECT_FALSE(broken) << describe(steps) << "\n  " << broken.value_or("");                  \
    } while (false)

using enum Step;

TEST(RecoveryPolicy, AStoreHeldMidRunGoesBesideAndBothDraftsComeBack) {
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, hold_tabs, type, store, written,
                        release_tabs, start_yes, store, written, start_yes);
    // A store with no tab that dies between removing two files read side by side leaves no
    // older draft of a tab the other let go.
    EXPECT_PROMISE_KEPT(start_yes, type, fail_second, store, written, store, written, hold_beside,
                        start_yes, edit, release_beside, close, start_yes, close);
    // Released mid-run: the stores go back to "tabs.bin" and the file beside goes.
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, hold_tabs, type, store, written,
                        release_tabs, edit, store, written, type, store, written, start_yes);
}

TEST(RecoveryPolicy, AStartThatReadTheFileBesideLetsItGoOnlyOnceAStoreHoldsItsDrafts) {
    EXPECT_PROMISE_KEPT(hold_tabs, start_yes, type, store, written, release_tabs, start_yes,
                        start_yes);
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, hold_tabs, type, store, written,
                        release_tabs, start_yes, type, store, written, start_yes);
    // A restore at the tab limit: the files it read stay until a store replaces them.
    EXPECT_PROMISE_KEPT(start_yes, type, type, type, store, written, tab_limit, start_yes,
                        start_yes, store, written, start_yes);
}

TEST(RecoveryPolicy, AHeldSessionBinIsNeverHiddenBehindANewTabsBin) {
    EXPECT_PROMISE_KEPT(old_session, start_yes, store, written, start_yes);
    EXPECT_PROMISE_KEPT(old_session, hold_session, start_yes, type, store, written, release_session,
                        start_yes, store, written, start_yes);
}

TEST(RecoveryPolicy, AHeldSessionBinBehindADamagedTabsBinSetAsideLetsAStoreTakeItsPlace) {
    // "session.bin" held under a "tabs.bin" cut to nothing, which the start moves aside: that
    // "tabs.bin" hid it already, so the store goes there while the file beside is read-only.
    EXPECT_PROMISE_KEPT(old_session, start_yes, fail_next, hold_session, store, written,
                        {hold_beside, 1}, store, written, {cut, 1}, start_yes, store, written);
}

TEST(RecoveryPolicy, ACopyNamedForDraftsARestoreLeftOutIsNeverPruned) {
    // "tabs.bin" held through every start: the drafts live beside it, and a start at the tab
    // limit keeps them in a named copy that later starts must leave.
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, hold_tabs, start_yes, type, type, type,
                        store, written, tab_limit, start_yes, store, written, start_yes, store,
                        written, start_yes, store, written, start_yes, store, written, start_yes,
                        release_tabs, start_yes);
    // A named copy of the store a lost replace left in a temporary file holds its drafts.
    EXPECT_PROMISE_KEPT(start_yes, type, type, type, type, store, written, {edit, 3}, fail_second,
                        lose_next, close, tab_limit, start_yes, store, written);
    // A stale temporary store, all that is left once a set-aside copy is deleted, offers no
    // older draft than the one refused.
    EXPECT_PROMISE_KEPT(start_yes, tab_limit, type, type, store, written, type, lose_next, store,
                        written, {edit, 2}, quit, start_no, old_release, delete_copy, start_no);
    // No copy can be made on a full disk: the drafts left out stay in their files, and no store
    // of the run lets them go, not even one a death cut short.
    EXPECT_PROMISE_KEPT(old_session, tab_limit, start_yes, store, written, old_release, old_session,
                        start_yes, store, written, fill_folder, old_release, old_session, start_yes,
                        store, written);
    // Its tabs that came back are let go as others are, and no empty store leaves it behind to
    // bring them back.
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, {damage, 1}, fill_folder, start_yes, edit,
                        free_folder, close);
    EXPECT_PROMISE_KEPT(start_yes, type, type, tab_limit, type, store, written, old_release,
                        fill_folder, start_yes, close, edit, close);
}

TEST(RecoveryPolicy, DamageHeldFilesAndDeletedCopiesKeepThePromise) {
    // Spoiled bytes cost only the records they fall in: each other record that a copy of the
    // stamp still vouches for is owed, as the harness knows from where it wrote it.
    EXPECT_PROMISE_KEPT(start_yes, type, type, store, written, {damage, 155}, start_yes);
    EXPECT_PROMISE_KEPT(start_yes, type, type, store, written, damage, start_yes, store, written,
                        start_yes);
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, hold_tabs, hold_beside, type, store,
                        written, release_beside, store, written, start_yes, store, written,
                        release_tabs, start_no, type, store, written, start_yes);
    EXPECT_PROMISE_KEPT(start_yes, type, type, type, store, written, tab_limit, start_yes,
                        delete_copy, store, written, start_yes, close, store, written, start_yes);
    // A "session.bin" only a spoiled stamp took over, its "tabs.bin" then lost: its draft comes
    // back as a tab of its own, and nothing newer is lost.
    EXPECT_PROMISE_KEPT(old_session, start_yes, hold_session, quit, {damage, 162080695}, start_no,
                        edit, lose_next, {quit, 1}, start_yes, close);
    // A draft a start took from a record no stamp checks, saved and closed: the same draft in the
    // file beside that start could not read comes back as an earlier version, not as the tab.
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, hold_tabs, store, written, damage,
                        hold_beside, release_tabs, start_yes, edit, quit, start_yes, close);
    // A tab let go beside a held "tabs.bin" whose stamps then went bad: the older draft a start
    // took from it and stored never comes back once the let-go is read again.
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, edit, hold_tabs, close, damage, type,
                        store, written, release_tabs, hold_beside, start_yes, store, written);
    // Let go beside a held "tabs.bin" whose stamps went bad: the let-go names the older draft too.
    EXPECT_PROMISE_KEPT(start_no, type, store, written, damage, hold_tabs, edit, store, written,
                        start_yes, close);
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, type, close, edit, {damage, 1337026329},
                        hold_tabs, store, written, start_no);
    // The same for a tab kept saved: its older draft a dying close left behind stays let go.
    EXPECT_PROMISE_KEPT(start_yes, type, fail_next, store, written, save_as, outside, edit, damage,
                        quit);
    // Another version closed while a tab of the same text stays: the let-go is not the kept tab's.
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, hold_tabs, store, written,
                        {damage, 449217457}, start_yes, store, written, release_tabs, old_release,
                        start_yes, {close, 1});
    // A saved record whose path went bad, saved at that path: the file holds what its tab wrote.
    EXPECT_PROMISE_KEPT(start_yes, type, quit, {damage, 176760999}, start_yes, save, start_yes,
                        store, written);
    // Let go from a record whose stamps both went bad, its older file held: no start ties the two.
    EXPECT_PROMISE_KEPT(old_session, start_yes, fail_second, edit, store, written, hold_session,
                        {damage, 1805237101}, start_yes, release_session, lose_next, close,
                        start_yes, store, written);
    EXPECT_PROMISE_KEPT(odd_file, old_session, start_yes, store, written, hold_tabs, quit,
                        {damage, 3534563534u}, start_no, edit, close);
    // The same where the older file holds the store before it of its run.
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, edit, hold_tabs, quit,
                        {damage, 2810286083u}, start_yes, save, quit, start_yes, close);
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, start_yes, store, written, save, type,
                        hold_tabs, {close, 1}, start_yes, store, written, {damage, 477488753},
                        start_yes, edit, store, written, start_no);
}

TEST(RecoveryPolicy, AStartThatCannotLookIntoTheFolderReplacesNothingItCouldNotSee) {
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, lock_folder, start_yes, unlock_folder,
                        type, store, written, start_yes);
    // Only the first look fails: the file it could not tell about is left alone all the same.
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, fail_next, start_yes, type, store, written,
                        start_yes);
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, hold_tabs, type, store, written,
                        release_tabs, fail_second, start_yes, type, store, written, start_yes);
}

TEST(RecoveryPolicy, DraftsLeftOutOfADamagedStoreOutliveTheDamagedCopiesPruned) {
    EXPECT_PROMISE_KEPT(start_yes, type, type, type, type, store, written, damage, tab_limit,
                        start_yes, store, written, damage, start_yes, store, written, damage,
                        start_yes, store, written, damage, start_yes, start_yes);
}

TEST(RecoveryPolicy, AFileThatCouldNotBeLetGoNeverBringsAnOlderDraftBack) {
    // The file beside is held when the store that replaces it lands; the tab is saved after.
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, hold_tabs, edit, store, written,
                        hold_beside, release_tabs, store, written, release_beside, edit, save,
                        store, written, start_yes);
    // The program dies between the store and the removal of the file beside.
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, hold_tabs, edit, store, written,
                        release_tabs, edit, store, written, start_yes);
}

TEST(RecoveryPolicy, AVersionOnDiskIsOwedFromTheMomentItsWriteLands) {
    // A crash while a store lets its older files go, after a failed write and a store made while
    // the file beside was held.
    EXPECT_PROMISE_KEPT(start_yes, fail_next, type, store, written, edit, hold_beside, store,
                        written, release_beside, start_yes, edit, store, written, start_yes);
}

// Each of these brought back an older version of a tab, or lost one, before a start picked the
// newest intact version of each tab across every file.
TEST(RecoveryPolicy, AStartShowsEachTabNoOlderThanItsNewestVersionOnDisk) {
    // A text stored again unchanged keeps its number though the store names earlier texts of its
    // tab: a number of its own would outrank a newer Save that a run which could not read that
    // store stored beside.
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, edit, fail_next, type, store, written,
                        hold_beside, store, {close, 1}, hold_tabs, release_beside, start_yes, edit,
                        quit);
    // The last store of a clean close fails: the older draft of the saved file is not offered.
    EXPECT_PROMISE_KEPT(start_yes, {type, 1}, edit, store, written, edit, fail_next, fail_second,
                        {quit, 1}, start_yes);
    // A damaged newer store beside takes nothing over: the intact older draft still comes.
    EXPECT_PROMISE_KEPT(start_yes, {type, 1}, edit, store, written, start_yes, hold_tabs, edit,
                        store, written, release_tabs, {damage, 2130706433}, start_yes);
    // Two files that neither takes over hold one file's drafts: the newer comes, whichever file
    // is read last.
    EXPECT_PROMISE_KEPT(start_yes, {type, 1}, edit, store, written, hold_tabs, edit, store, written,
                        hold_beside, release_tabs, edit, store, written, hold_tabs, release_beside,
                        start_yes, store, written, release_tabs, start_yes);
    // A "tabs.bin" cut short is damaged, not a store of an earlier version.
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, hold_tabs, edit, store, written,
                        release_tabs, hold_beside, edit, store, written, release_beside, {cut, 108},
                        start_yes);
    // An unstamped "session.bin" that a store took over and that could not be let go.
    EXPECT_PROMISE_KEPT(old_session, start_yes, edit, fail_next, store, written, hold_session,
                        start_yes, store, written, release_session, start_yes);
    // A replace that lost the old file, and the program dies before the store goes beside.
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, lose_next, store, written);
    // An empty "tabs.bin" that a reader held at the start stays where it is for the run.
    EXPECT_PROMISE_KEPT(start_yes, fail_next, store, written, {hold_tabs, 1}, cut, type, quit,
                        {hold_beside, 1}, start_yes, release_tabs, store, written);
    // Every tab closed after a lost replace: the temporary file never brings a closed tab back.
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, type, close, lose_next, store, written,
                        edit, close, store, written);
    // The same when the store beside failed too, so that only the temporary file held it.
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, type, close, lose_next, fail_second, store,
                        written, edit, close, store, written);
    // A temporary file whose stamp fails but whose older record reads goes before the store that
    // let its tab go, and no start brings that record back.
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, lose_next, store, written, damage, edit,
                        close, start_yes, store, written);
    // A Save stored beside, and a store of the older draft side by side at the same number.
    EXPECT_PROMISE_KEPT(old_session, start_yes, edit, fail_next, quit, hold_beside, start_yes,
                        store, written);
    // A saved tab whose file another program deleted comes back with its stored text, also once
    // the store beside that holds it as a draft is cut short.
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, type, lose_next, odd_file, store, written,
                        quit, {outside, 1721307}, hold_tabs, start_yes, store, written,
                        {cut, 3940043503u});
}

TEST(RecoveryPolicy, AFileOpenedAgainAndAStoreThePreviousReleaseSetAsideKeepThePromise) {
    // The run that opened the file again could not read the store that had its tab.
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, hold_tabs, {type, 1}, {edit, 1}, store,
                        written, release_tabs, hold_beside, start_yes, reopen, {edit, 1}, store,
                        written, release_beside, start_yes);
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, old_release, start_yes, type, type, close);
    // An untitled draft no start could read while its file, saved but never stored, was opened
    // again, saved and let go: the draft is owed as it was, the file holds the newer text.
    EXPECT_PROMISE_KEPT(old_session, start_yes, lock_folder, edit, save_as, start_yes, reopen,
                        unlock_folder, save, close);
    EXPECT_PROMISE_KEPT(old_session, start_yes, lock_folder, quit, start_yes, unlock_folder, reopen,
                        edit, {quit, 1}, start_yes, {close, 1});
    // A file opened again and let go binds only its own tab, not the untitled draft it was saved
    // from, whose refusal never landed.
    EXPECT_PROMISE_KEPT(type, type, type, old_session, start_yes, {hold_session, 1}, edit, save_as,
                        start_no, start_yes, store, written, {cut, 3385217987u}, start_yes, reopen,
                        close, old_release);
    // With the set-aside copy that tied a draft to its file deleted, the held "session.bin"
    // brings the draft back untitled, and nothing is lost.
    EXPECT_PROMISE_KEPT(old_session, {hold_session, 1}, start_yes, save, store, written, outside,
                        old_release, hold_session, delete_copy, start_yes, reopen, save, close);
}

// Of two stores side by side, one holds a draft of a file and the other that file saved since:
// whichever is read first or numbered higher, the draft must not hide the file in its tab.
TEST(RecoveryPolicy, ADraftSideBySideWithItsFileSavedComesAsAnotherVersion) {
    // The draft in "tabs.bin", the Save beside.
    EXPECT_PROMISE_KEPT(start_yes, {type, 1}, edit, outside, store, written, hold_tabs, start_no,
                        reopen, save, store, written);
    EXPECT_PROMISE_KEPT(start_yes, {type, 1}, edit, fail_next, store, written, edit, fail_next,
                        store, written, outside, hold_beside, start_no, reopen, save, store,
                        written);
    // The draft, come as another version, is closed: its tab is owed what its file holds.
    EXPECT_PROMISE_KEPT(start_yes, {type, 1}, edit, store, written, lock_folder, start_yes,
                        unlock_folder, reopen, store, written, start_yes, close);
}

TEST(RecoveryPolicy, AFileBesideHeldThroughMoreStartsThanAStampListsStaysOlder) {
    std::vector<Move> steps{start_yes, type,         store,       written, hold_tabs, edit,   store,
                            written,   release_tabs, hold_beside, edit,    store,     written};
    for (std::size_t start = 0; start <= store_stamp_list_limit; ++start) {
        steps.insert(steps.end(), {start_yes, store, written});
    }
    steps.insert(steps.end(), {release_beside, start_yes});
    EXPECT_EQ(counterexample(steps), std::nullopt);
}

// The run's next store of `workspace`, as the writer carries it out.
StoreOutcome store_now(MemoryDisk& disk, RecoveryPolicy& run, const Workspace& workspace) {
    const StorePlan plan = run.plan_store();
    StoreOutcome outcome = carry_out_store(disk, plan, workspace);
    run.store_written(plan, outcome);
    return outcome;
}

// Writes `workspace` as the first store of a run that found nothing.
void store_once(MemoryDisk& disk, const Workspace& workspace) {
    RecoveryPolicy first(disk, folder, 1);
    first.start();
    store_now(disk, first, workspace);
}

using test::lone_store;
using Texts = std::vector<std::u16string>;

Texts texts_of(const Workspace& workspace) {
    Texts texts(workspace.sessions.size());
    std::ranges::transform(workspace.sessions, texts.begin(), &Session::text);
    return texts;
}

// The texts a start offers, in order, and whether it says it read everything whole.
struct Offer {
    Texts texts;
    bool whole = true;
};
Offer offer_of(MemoryDisk& disk, std::uint64_t run) {
    const std::optional<SalvagedWorkspace> read = RecoveryPolicy(disk, folder, run).start();
    return {.texts = read ? texts_of(read->workspace) : Texts{}, .whole = !read || read->whole};
}

TEST(RecoveryPolicy, TwoStoresNeitherOfWhichTookTheOtherOverBothComeBack) {
    // The run that stored beside could not read "tabs.bin": whatever number each store carries
    // (a clock a day ahead in the first run wrote a high one), neither draft is older.
    const Session first = draft(text_of(1, 1), path_of_tab(1));
    const Session second = draft(text_of(1, 2), path_of_tab(1));
    MemoryDisk disk;
    disk.files[tabs_bin] = lone_store(1, 1'800'000'000'000, first);
    disk.files[beside_bin] = lone_store(2, 1'700'000'000'000, second);
    RecoveryPolicy next(disk, folder, 3);
    const std::optional<SalvagedWorkspace> read = next.start();
    ASSERT_TRUE(read);
    const Texts texts = texts_of(read->workspace);
    EXPECT_EQ(texts, (Texts{text_of(1, 1), text_of(1, 2)}));
    ASSERT_EQ(read->workspace.sessions.size(), 2u);
    // The second comes untitled, named for the file it is another version of.
    const Session& other = read->workspace.sessions[1];
    EXPECT_EQ(read->workspace.sessions[0].path, path_of_tab(1));
    EXPECT_EQ(other.path, "");
    EXPECT_EQ(other.other_version_of, path_of_tab(1));
    EXPECT_NE(other.tab, read->workspace.sessions[0].tab);
    // The store that holds both takes both files over: the next start offers each once.
    next.restored({}, {2026, 12, 9, 10, 0, 0});
    Session shown_other = other;
    shown_other.other_version_of.reset();
    store_now(disk, next, {.sessions = {read->workspace.sessions[0], shown_other}, .active = 0});
    EXPECT_FALSE(disk.files.contains(beside_bin));
    RecoveryPolicy after(disk, folder, 4);
    const std::optional<SalvagedWorkspace> again = after.start();
    ASSERT_TRUE(again);
    EXPECT_EQ(texts_of(again->workspace), texts);
}

TEST(RecoveryPolicy, TwoStoresThatGaveOneTabTheSameNumberOfferTheSecondTextAsAnotherVersion) {
    MemoryDisk disk;
    disk.files[tabs_bin] = lone_store(1, 1, draft(text_of(1, 1)));
    disk.files[beside_bin] = lone_store(2, 1, draft(text_of(1, 2)));
    const std::optional<SalvagedWorkspace> read = RecoveryPolicy(disk, folder, 3).start();
    ASSERT_TRUE(read);
    ASSERT_EQ(read->workspace.sessions.size(), 2u);
    EXPECT_FALSE(read->workspace.sessions[0].other_version_of);
    EXPECT_EQ(read->workspace.sessions[1].other_version_of, "");
    EXPECT_NE(read->workspace.sessions[0].tab, read->workspace.sessions[1].tab);
    // Unless the file holds the second text and the first opens the file as it is: a close that
    // discarded a draft stored the saved text, and a run that read only the draft beside saved
    // it, with no store between its start and its close.
    EXPECT_PROMISE_KEPT(start_yes, {type, 1}, edit, store, written, hold_tabs, edit, store, written,
                        hold_beside, release_tabs, quit, release_beside, hold_tabs, start_yes, save,
                        quit, release_tabs, start_yes);
}

TEST(RecoveryPolicy, ALetGoAtTheNumberADraftSideBySideSharesKeepsThatDraftOutOfItsTab) {
    // A let-go and a draft side by side at one number: the draft comes only as another version.
    EXPECT_PROMISE_KEPT(old_session, start_yes, fail_next, store, written, hold_beside, start_yes,
                        edit, close);
}

TEST(RecoveryPolicy, TwoTabsOfTwoRunsWithOneFileGiveTheSecondTextATabOfItsOwn) {
    // A run that could not read "tabs.bin" opened the file a tab there has: two tabs, one path,
    // one number. A restore opens a path in one tab, where the second text would take the
    // first one's place.
    const Session first = draft(text_of(1, 3), path_of_tab(1));
    const Session second = draft(text_of(1, 2), path_of_tab(1));
    MemoryDisk disk;
    disk.files[tabs_bin] = lone_store(2, 2, first, 11);
    disk.files[beside_bin] = lone_store(1, 2, second, 12);
    const std::optional<SalvagedWorkspace> read = RecoveryPolicy(disk, folder, 3).start();
    ASSERT_TRUE(read);
    ASSERT_EQ(texts_of(read->workspace), (Texts{text_of(1, 3), text_of(1, 2)}));
    EXPECT_EQ(read->workspace.sessions[0].path, path_of_tab(1));
    EXPECT_EQ(read->workspace.sessions[1].path, "");
    EXPECT_EQ(read->workspace.sessions[1].other_version_of, path_of_tab(1));
}

TEST(RecoveryPolicy, AnotherVersionAStoreCutShortLostComesBackFromTheFileThatHoldsItsText) {
    // The tab's file is deleted and the draft of "tabs.bin" comes as another version, untitled:
    // the store killed mid-write names it under a tab of its own and lets the tab go.
    EXPECT_PROMISE_KEPT(start_yes, {type, 1}, edit, fail_second, store, written, save, store,
                        written, hold_beside, {outside, 3}, start_yes, store, written,
                        release_beside, start_yes, store, written);
}

TEST(RecoveryPolicy, OfTwoStoresOneTookOverTheNewerNumberWinsAlone) {
    Session first = draft(text_of(1, 1));
    Session second = draft(text_of(1, 2));
    MemoryDisk disk;
    disk.files[tabs_bin] = lone_store(1, 5, first);
    StoreStamp stamp{
        .run = 2,
        .store = 1,
        .replaces = {store_fingerprint(disk.files[tabs_bin])},
        .taken_over = {{.run = 1, .store = 1}},
        .version = 6,
        .entries = {
            {.tab = 7, .version = 6, .fingerprint = session_fingerprint(second), .draft = true}}};
    disk.files[beside_bin] = encode_store_file({.sessions = {second}, .active = 0}, stamp);
    EXPECT_EQ(offer_of(disk, 3).texts, Texts{text_of(1, 2)});
}

// A store of this run left in a temporary file by a replace that lost its file, with every other
// file that could take it refused.
std::filesystem::path strand_a_store(MemoryDisk& disk, RecoveryPolicy& run,
                                     const Workspace& workspace) {
    disk.losing.insert(disk.operations + 1);
    disk.failing.insert(disk.operations + 2);
    const StorePlan plan = run.plan_store();
    EXPECT_THROW(carry_out_store(disk, plan, workspace), std::runtime_error);
    for (const auto& [path, bytes] : disk.files) {
        if (path.filename().string().starts_with(".pellix-")) {
            return path;
        }
    }
    ADD_FAILURE() << "no temporary file";
    return {};
}

// The first version of tab 1 stored by a run that starts on an empty folder, and the second
// left in a temporary file by a lost replace: the tab as it stands, and that file.
std::pair<Session, std::filesystem::path> strand_the_second_version(MemoryDisk& disk,
                                                                    RecoveryPolicy& run) {
    run.start();
    Session tab = draft(text_of(1, 1), {}, 1);
    store_now(disk, run, {.sessions = {tab}, .active = 0});
    tab.text = text_of(1, 2);
    return {tab, strand_a_store(disk, run, {.sessions = {tab}, .active = 0})};
}

TEST(RecoveryPolicy, ATemporaryFileThatCannotBeReadIsTakenOverWhenEveryTabIsLetGo) {
    MemoryDisk disk;
    RecoveryPolicy run(disk, folder, 1);
    const std::filesystem::path stranded = strand_the_second_version(disk, run).second;
    // The tab is closed while another program holds the temporary file.
    disk.held.insert(stranded);
    store_now(disk, run, Workspace{});
    disk.held.clear();
    const std::optional<SalvagedWorkspace> read = RecoveryPolicy(disk, folder, 2).start();
    for (const Session& session : read ? read->workspace.sessions : std::vector<Session>{}) {
        EXPECT_FALSE(session.draft) << "the closed tab came back";
        EXPECT_EQ(session.text, u"");
    }
    // With no room for the store that takes it over, the close fails rather than leave it.
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, lose_next, store, written, edit, damage,
                        fill_folder, close);
}

TEST(RecoveryPolicy, AStoreALostReplaceLeftAsideGoesBeforeTheStoreThatTookItOver) {
    // The tab is closed once a later run's store holds a newer version; whichever removal the
    // program dies at, the version the lost replace left never comes back.
    for (int death = 1; death <= 3; ++death) {
        MemoryDisk disk;
        RecoveryPolicy first(disk, folder, 1);
        auto [tab, stranded] = strand_the_second_version(disk, first);
        RecoveryPolicy second(disk, folder, 2);
        ASSERT_TRUE(second.start());
        second.restored({}, {2026, 12, 9, 10, 0, 0});
        disk.held.insert(stranded);
        tab.text = text_of(1, 3);
        store_now(disk, second, {.sessions = {tab}, .active = 0});
        disk.held.clear();
        disk.crash_at = disk.operations + death;
        EXPECT_THROW(store_now(disk, second, Workspace{}), Crash);
        disk.crash_at = 0;
        const std::optional<SalvagedWorkspace> read = RecoveryPolicy(disk, folder, 3).start();
        for (const Session& session : read ? read->workspace.sessions : std::vector<Session>{}) {
            EXPECT_NE(session.text, text_of(1, 2)) << "death at removal " << death;
        }
    }
    // Removed in place of a store that found no room, it goes before the newer store too.
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, lose_next, store, written, edit, save_as,
                        store, written, fill_folder, close);
}

TEST(RecoveryPolicy, ATemporaryFileThatHoldsNoStoreIsNeverRemoved) {
    MemoryDisk disk;
    store_once(disk, {.sessions = {draft(text_of(1, 1))}, .active = 0});
    const std::filesystem::path document = folder / ".pellix-42.tmp";
    disk.files[document] = "# Hello\n";
    RecoveryPolicy next(disk, folder, 2);
    ASSERT_TRUE(next.start());
    next.restored({}, {2026, 12, 9, 10, 0, 0});
    store_now(disk, next, {.sessions = {draft(text_of(1, 2))}, .active = 0});
    store_now(disk, next, Workspace{});
    ASSERT_TRUE(disk.files.contains(document));
    EXPECT_EQ(disk.files.at(document), "# Hello\n");
}

TEST(RecoveryPolicy, ARecordWhoseDraftFlagAloneWentBadComesBackAsTheDraftItWas) {
    MemoryDisk disk;
    store_once(disk, {.sessions = {draft(text_of(1, 1))}, .active = 0});
    std::string& bytes = disk.files.at(tabs_bin);
    const std::size_t record = bytes.find("PELLIX2\n");
    ASSERT_NE(record, std::string::npos);
    constexpr std::size_t draft_flag = 10;
    bytes[record + draft_flag] = 0;
    const std::optional<SalvagedWorkspace> read = RecoveryPolicy(disk, folder, 2).start();
    ASSERT_TRUE(read);
    EXPECT_FALSE(read->whole);
    ASSERT_EQ(read->workspace.sessions.size(), 1u);
    EXPECT_TRUE(read->workspace.sessions[0].draft);
    EXPECT_EQ(read->workspace.sessions[0].text, text_of(1, 1));
    // In a store of an earlier version nothing checks the flag: a record that differs from its
    // file comes beside the file, which opens as it is.
    const Session filed = draft(text_of(1, 2), path_of_tab(1));
    std::string earlier = encode_tab_recovery({.sessions = {filed}, .active = 0});
    earlier[earlier.find("PELLIX2\n") + draft_flag] = 0;
    MemoryDisk old_store;
    old_store.files[tabs_bin] = earlier;
    const Documents documents{{filed.path, {1, 1}}};
    RecoveryPolicy after(old_store, folder, 3);
    const std::vector<Session> sessions = after.start(versions_of(documents))->workspace.sessions;
    ASSERT_EQ(sessions.size(), 2u);
    EXPECT_EQ(sessions[0].path, filed.path);
    EXPECT_FALSE(sessions[0].draft);
    EXPECT_EQ(sessions[1].text, filed.text);
    EXPECT_EQ(sessions[1].other_version_of, filed.path);
    EXPECT_TRUE(sessions[1].draft);
}

// A draft names the version of its file it grew from: saved since (the store after the Save
// never landed), the file opens as it is and the draft comes beside it; saved as it is, there is
// nothing to recover.
TEST(RecoveryPolicy, ADraftTakesItsFilesTabOnlyWhileTheFileIsTheVersionItGrewFrom) {
    Session grown = draft(text_of(1, 2), path_of_tab(1));
    grown.file_version = store_fingerprint(document_bytes({1, 1}));
    MemoryDisk disk;
    store_once(disk, {.sessions = {grown}, .active = 0});
    // What each session is (in the file's tab, a draft, in a tab of its own) as the file is: the
    // version the draft grew from, one saved since, the draft saved as it is.
    using Shape = std::vector<std::tuple<bool, bool, bool>>;
    for (const auto& [on_disk, shape] :
         std::vector<std::pair<int, Shape>>{{1, {{true, true, false}}},
                                            {3, {{true, false, false}, {false, true, true}}},
                                            {2, {{true, false, false}}}}) {
        const std::optional<SalvagedWorkspace> read =
            RecoveryPolicy(disk, folder, 2).start(versions_of({{grown.path, {1, on_disk}}}));
        Shape sessions;
        for (const Session& session : read->workspace.sessions) {
            sessions.emplace_back(session.path == grown.path, session.draft,
                                  session.other_version_of == grown.path);
        }
        EXPECT_EQ(sessions, shape) << on_disk;
    }
}

Workspace three_drafts() {
    return {.sessions = {draft(text_of(1, 1)), draft(text_of(2, 1)), draft(text_of(3, 1))},
            .active = 0};
}

TEST(RecoveryPolicy, ABitFlippedInTheContainersMagicOrFirstLengthCostsNoDraft) {
    MemoryDisk stored;
    store_once(stored, three_drafts());
    const std::string bytes = stored.files.at(tabs_bin);
    const std::size_t container = bytes.find("PLXTABS1");
    constexpr std::size_t first_length = 16;
    const Texts all{text_of(1, 1), text_of(2, 1), text_of(3, 1)};
    for (std::size_t at = container; at < container + first_length + 4; ++at) {
        for (int bit = 0; bit < 8; ++bit) {
            MemoryDisk disk;
            disk.files[tabs_bin] = bytes;
            disk.files.at(tabs_bin)[at] ^= static_cast<char>(1 << bit);
            EXPECT_EQ(offer_of(disk, 2).texts, all) << "byte " << at - container << " bit " << bit;
        }
    }
}

// `file`'s stamp spoiled at a byte of each copy, so that neither checks out.
void spoil_both_stamps(std::string& file, std::size_t head_byte, std::size_t tail_byte) {
    constexpr std::size_t head_copy = 12;
    constexpr std::size_t tail_end = 12;
    const std::size_t copy_size = file.find("PLXTABS1") - head_copy;
    file[head_copy + head_byte] ^= 0x01;
    file[file.size() - tail_end - copy_size + tail_byte] ^= 0x01;
}

// Tab 1 stored in "tabs.bin", then, while another program holds that, the run's next workspace
// beside it.
void store_then_beside(MemoryDisk& disk, const Session& first, const Workspace& then) {
    RecoveryPolicy run(disk, folder, 1);
    run.start();
    store_now(disk, run, {.sessions = {first}, .active = 0});
    disk.held.insert(tabs_bin);
    store_now(disk, run, then);
    disk.held.clear();
}

// Drafts past the container's limit, of a store read whole and of one both of whose stamp copies
// went bad: each comes back whole.
TEST(RecoveryPolicy, DraftsPastTheContainersLimitEachComeBack) {
    Workspace drafts;
    Texts texts;
    for (char16_t i = 0; i < 11; ++i) {
        texts.push_back(std::u16string(0x800000 - 1, u'\x4E00') + static_cast<char16_t>(u'a' + i));
        drafts.sessions.push_back(draft(texts.back()));
    }
    MemoryDisk disk;
    store_once(disk, drafts);
    std::string& file = disk.files.at(tabs_bin);
    ASSERT_GT(file.size(), recovery_container_limit);
    const Offer offer = offer_of(disk, 2);
    EXPECT_TRUE(offer.whole && offer.texts == texts);
    spoil_both_stamps(file, 0, 0);
    EXPECT_TRUE(offer_of(disk, 3).texts == texts);
}

TEST(RecoveryPolicy, ANewerStoreSpoiledInBothStampCopiesStillHidesTheOlderUntitledDraft) {
    MemoryDisk disk;
    store_then_beside(disk, draft(text_of(1, 1), {}, 1),
                      {.sessions = {draft(text_of(1, 2), {}, 1)}, .active = 0});
    spoil_both_stamps(disk.files.at(beside_bin), 1, 9);
    const Offer offer = offer_of(disk, 2);
    EXPECT_FALSE(offer.whole);
    EXPECT_EQ(offer.texts, Texts{text_of(1, 2)});
}

TEST(RecoveryPolicy, ADraftFromARecordNoStampNamedIsStoredAtANumberOfItsOwn) {
    // A draft from a record no stamp checks, stored again, is not dropped for the same text saved
    // beside once that file is deleted.
    EXPECT_PROMISE_KEPT(start_yes, {type, 1}, type, edit, {close, 1}, damage, hold_tabs, {quit, 1},
                        release_tabs, hold_beside, start_yes, {outside, 2}, store, written);
}

TEST(RecoveryPolicy, ARecordNoStampChecksComesUnlessACheckedOneHoldsItOrAStoreLetItGo) {
    const Session one = draft(text_of(1, 1), {}, 1);
    const Session two = draft(text_of(2, 1), {}, 2);
    constexpr std::size_t run_byte = 1;
    // Tab 1 let go in the newer store: it does not come back.
    MemoryDisk let_go;
    store_then_beside(let_go, one, {.sessions = {two}, .active = 0});
    spoil_both_stamps(let_go.files.at(tabs_bin), run_byte, run_byte);
    EXPECT_EQ(offer_of(let_go, 2).texts, Texts{text_of(2, 1)});
    // Held at a start that stored another tab beside, then spoiled: nothing held or let it go.
    MemoryDisk beside;
    store_once(beside, {.sessions = {one}, .active = 0});
    beside.held.insert(tabs_bin);
    RecoveryPolicy held(beside, folder, 2);
    held.start();
    store_now(beside, held, {.sessions = {two}, .active = 0});
    beside.held.clear();
    spoil_both_stamps(beside.files.at(tabs_bin), run_byte, run_byte);
    EXPECT_EQ(offer_of(beside, 3).texts, (Texts{text_of(1, 1), text_of(2, 1)}));
    // Held by a checked record, it comes once; alone, not as intact.
    MemoryDisk alone;
    store_once(alone, {.sessions = {one, two}, .active = 0});
    spoil_both_stamps(alone.files.at(tabs_bin), run_byte, run_byte);
    const Offer offer = offer_of(alone, 2);
    EXPECT_FALSE(offer.whole);
    EXPECT_EQ(offer.texts, (Texts{text_of(1, 1), text_of(2, 1)}));
    alone.files[beside_bin] = lone_store(5, 1, one, 1);
    EXPECT_EQ(offer_of(alone, 2).texts, (Texts{text_of(2, 1), text_of(1, 1)}));
}

TEST(RecoveryPolicy, ADamagedStoreWhoseDraftDidNotComeBackIsKeptUnderANameNeverPruned) {
    MemoryDisk disk;
    store_once(disk, three_drafts());
    std::string& bytes = disk.files.at(tabs_bin);
    bytes[bytes.find("Note", bytes.find("PLXTABS1"))] ^= 0x20;
    const std::string damaged = bytes;
    RecoveryPolicy next(disk, folder, 2);
    const std::optional<SalvagedWorkspace> read = next.start();
    ASSERT_TRUE(read);
    EXPECT_EQ(read->workspace.sessions.size(), 2u);
    next.restored({}, {2026, 12, 7, 9, 5, 0});
    EXPECT_EQ(disk.files.at(folder / "tabs.bin.kept-20261207-090500"), damaged);
}

TEST(RecoveryPolicy, AStoreAnEarlierVersionSetAsideAsDamagedComesBackOnce) {
    MemoryDisk stored;
    store_once(stored, three_drafts());
    const std::string bytes = stored.files.at(tabs_bin);
    const std::filesystem::path copy = folder / "tabs.bin.damaged-20261201-101010";
    const Texts all{text_of(1, 1), text_of(2, 1), text_of(3, 1)};
    // That version left nothing else, or this version's store of another tab beside it.
    MemoryDisk alone;
    alone.files[copy] = bytes;
    EXPECT_EQ(offer_of(alone, 2).texts, all);
    MemoryDisk with_own;
    with_own.files[copy] = bytes;
    with_own.files[tabs_bin] = lone_store(7, 1, draft(text_of(4, 1)), 4);
    RecoveryPolicy next(with_own, folder, 2);
    const std::optional<SalvagedWorkspace> read = next.start();
    ASSERT_TRUE(read);
    const Texts texts = texts_of(read->workspace);
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(std::vector(texts.begin() + 1, texts.end()), all);
    // Once a store holds them the copy goes, and they come back once.
    next.restored({}, {2026, 12, 7, 9, 5, 0});
    store_now(with_own, next, read->workspace);
    EXPECT_FALSE(with_own.files.contains(copy));
    EXPECT_EQ(offer_of(with_own, 3).texts.size(), 4u);
}

TEST(RecoveryPolicy, AStoreThePreviousReleaseSetAsideIsReasonEnoughToStart) {
    MemoryDisk disk;
    store_once(disk, three_drafts());
    disk.move(tabs_bin, folder / "tabs.bin.damaged-20261201-101010");
    RecoveryPolicy next(disk, folder, 2);
    EXPECT_TRUE(next.anything_to_read());
}

TEST(RecoveryPolicy, ACopyKeptOfASetAsideStoreForADraftLeftOutIsNeverLetGo) {
    MemoryDisk disk;
    store_once(disk, three_drafts());
    const std::filesystem::path set_aside = folder / "tabs.bin.damaged-20261201-101010";
    disk.move(tabs_bin, set_aside);
    // A start at the tab limit brings back two of the three drafts.
    RecoveryPolicy limited(disk, folder, 2);
    const std::optional<SalvagedWorkspace> read = limited.start();
    ASSERT_TRUE(read && read->workspace.sessions.size() == 3);
    limited.restored({read->workspace.sessions[2].tab}, {2026, 12, 7, 9, 5, 0});
    const std::filesystem::path kept =
        folder / "tabs.bin.damaged-20261201-101010.kept-20261207-090500";
    ASSERT_TRUE(disk.files.contains(kept));
    Workspace two = three_drafts();
    two.sessions.pop_back();
    store_now(disk, limited, two);
    RecoveryPolicy next(disk, folder, 3);
    ASSERT_TRUE(next.start());
    next.restored({}, {2026, 12, 7, 9, 6, 0});
    store_now(disk, next, two);
    EXPECT_TRUE(disk.files.contains(kept));
}

TEST(RecoveryPolicy, ASessionBinOnceTakenOverStaysSoThroughEveryLaterRun) {
    MemoryDisk disk;
    disk.files[session_bin] = encode_tab_recovery({.sessions = {draft(text_of(1, 1))}, .active = 0})
                                  .substr(container_head + 4);
    disk.read_only.insert(session_bin);
    for (std::uint64_t run = 1; run <= 2; ++run) {
        RecoveryPolicy policy(disk, folder, run);
        const std::optional<SalvagedWorkspace> read = policy.start();
        ASSERT_TRUE(read && read->workspace.sessions.size() == 1);
        policy.restored({}, {2026, 12, 7, 9, 5, 0});
        Session tab = read->workspace.sessions[0];
        tab.text = text_of(1, 1 + static_cast<int>(run));
        store_now(disk, policy, {.sessions = {tab}, .active = 0});
    }
    // The previous release sets aside the "tabs.bin" that hid the "session.bin" it outlived.
    disk.move(tabs_bin, folder / "tabs.bin.damaged-20261201-101010");
    EXPECT_EQ(offer_of(disk, 3).texts, Texts{text_of(1, 3)});
}

TEST(RecoveryPolicy, AStoreThatCannotBeWrittenAfterASaveFailsAndTheOlderDraftComesBesideTheFile) {
    MemoryDisk disk;
    RecoveryPolicy run(disk, folder, 1);
    run.start();
    Session tab = draft(text_of(1, 1), path_of_tab(1), 1);
    tab.file_version = store_fingerprint(document_bytes({1, 0}));
    store_now(disk, run, {.sessions = {tab}, .active = 0});
    tab.text = text_of(1, 2);
    tab.draft = false;
    tab.file_version = store_fingerprint(document_bytes({1, 2}));
    disk.full = true;
    const StorePlan plan = run.plan_store();
    EXPECT_THROW(carry_out_store(disk, plan, {.sessions = {tab}, .active = 0}), std::runtime_error);
    disk.full = false;
    const std::optional<SalvagedWorkspace> read =
        RecoveryPolicy(disk, folder, 2).start(versions_of({{tab.path, {1, 2}}}));
    ASSERT_TRUE(read);
    // The file's tab opens the file as it is; the draft comes beside it.
    ASSERT_EQ(read->workspace.sessions.size(), 2u);
    const Session& file = read->workspace.sessions[0];
    const Session& other = read->workspace.sessions[1];
    EXPECT_EQ(file.path, tab.path);
    EXPECT_FALSE(file.draft || file.other_version_of);
    EXPECT_EQ(other.other_version_of, tab.path);
    EXPECT_TRUE(other.draft);
    EXPECT_EQ(other.text, text_of(1, 1));
}

// A Save changes no unit of the draft it writes: the saved text must still stand after the
// draft, or any store made between the two (one beside a held file) would win over it.
TEST(RecoveryPolicy, ASavedTextStandsAfterTheDraftOfTheSameText) {
    MemoryDisk disk;
    RecoveryPolicy run(disk, folder, 1);
    run.start();
    Session tab = draft(text_of(1, 1), path_of_tab(1), 1);
    std::vector<std::uint64_t> versions;
    for (const bool is_draft : {true, true, false, false}) {
        tab.draft = is_draft;
        const StoreOutcome outcome = store_now(disk, run, {.sessions = {tab}, .active = 0});
        ASSERT_FALSE(outcome.entries.empty());
        versions.push_back(outcome.entries[0].version);
    }
    EXPECT_EQ(versions[1], versions[0]) << "an unchanged draft keeps its place";
    EXPECT_GT(versions[2], versions[1]) << "the saved text kept the draft's place";
    EXPECT_EQ(versions[3], versions[2]) << "an unchanged saved text keeps its place";
}

TEST(RecoveryPolicy, AFileLeftAloneIsNamedForWhyInUseOrInAFolderThatCannotBeSearched) {
    MemoryDisk disk;
    disk.files[tabs_bin] = encode_tab_recovery({.sessions = {draft(text_of(1, 1))}, .active = 0});
    disk.held.insert(tabs_bin);
    RecoveryPolicy held(disk, folder, 1);
    held.start();
    ASSERT_EQ(held.notes().size(), 1u);
    EXPECT_EQ(held.notes()[0].kind, RecoveryNote::left_alone);
    disk.held.clear();
    disk.locked = true;
    RecoveryPolicy locked(disk, folder, 2);
    locked.start();
    disk.locked = false;
    const std::vector<RecoveryStatusNote> notes = locked.notes();
    ASSERT_FALSE(notes.empty());
    for (const RecoveryStatusNote& note : notes) {
        EXPECT_EQ(note.kind, RecoveryNote::unsearched) << note.path;
    }
}

TEST(RecoveryPolicy, CopiesAreNamedAndPrunedByStampAndCounterAsNumbersEachKindApart) {
    const UtcTime when{2026, 12, 7, 9, 5, 0};
    std::vector<std::filesystem::path> names{"tabs.bin.damaged-mine", "tabs.bin"};
    for (int round = 1; round <= 12; ++round) {
        names.push_back(kept_copy_name(tabs_bin, KeptCopy::damaged, when, names).filename());
    }
    names.push_back(kept_copy_name(tabs_bin, KeptCopy::intact, when, names).filename());
    EXPECT_EQ(names[2], "tabs.bin.damaged-20261207-090500");
    EXPECT_EQ(names[3], "tabs.bin.damaged-20261207-090500-2");
    EXPECT_EQ(names.back(), "tabs.bin.kept-20261207-090500");
    EXPECT_EQ(kept_copy_name(session_bin, KeptCopy::intact, when, names).filename(),
              "session.bin.kept-20261207-090500");
    // Pruned oldest first by number ("-10" after "-9"); the user's own name and the other kind
    // are never among them, nor is a name freed by pruning taken again.
    const auto beyond = copies_beyond(tabs_bin, KeptCopy::damaged, names, kept_store_copies);
    ASSERT_EQ(beyond.size(), 9u);
    EXPECT_EQ(beyond.front(), folder / "tabs.bin.damaged-20261207-090500");
    EXPECT_EQ(beyond.back(), folder / "tabs.bin.damaged-20261207-090500-9");
    const std::vector<std::filesystem::path> left{"tabs.bin.damaged-20261207-090500-12"};
    EXPECT_EQ(kept_copy_name(tabs_bin, KeptCopy::damaged, when, left).filename(),
              "tabs.bin.damaged-20261207-090500-13");
    EXPECT_TRUE(copies_beyond(session_bin, KeptCopy::damaged, names, 0).empty());
}

// A random sequence: every kind of step alike, typing and storing more often; one in eight is
// long, with a start in every few steps, so that more starts than a stamp lists come in a row.
std::vector<Move> random_sequence(std::mt19937_64& random) {
    const bool long_one = random() % 8 == 0;
    std::vector<Move> steps{Step::start_yes};
    const int length =
        long_one ? 40 + static_cast<int>(random() % 60) : 4 + static_cast<int>(random() % 20);
    for (int j = 0; j < length; ++j) {
        const int roll = static_cast<int>(random() % (step_kinds + 6));
        const auto number = static_cast<std::uint32_t>(random());
        if (long_one && number % 4 == 0) {
            steps.emplace_back(Step::start_yes);
            continue;
        }
        if (roll >= step_kinds) {
            if (roll % 2 == 1) {
                steps.emplace_back(Step::type, number);
            } else {
                steps.insert(steps.end(), {Step::store, Step::written});
            }
            continue;
        }
        steps.emplace_back(static_cast<Step>(roll), number);
        if (steps.back().step == Step::written) {
            steps.insert(steps.end() - 1, Step::store);
        }
    }
    steps.emplace_back(Step::start_yes);
    return steps;
}

// The seed PELLIX_RECOVERY_SEED names; a value that is not a number is an error, not a seed.
std::optional<std::uint64_t> chosen_seed(std::string& error) {
    const char* chosen = std::getenv("PELLIX_RECOVERY_SEED");
    if (!chosen) {
        return std::nullopt;
    }
    const std::string text(chosen);
    if (text.empty() || text.size() > 19 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        error = "PELLIX_RECOVERY_SEED must be a decimal number, not \"" + text + "\"";
        return std::nullopt;
    }
    return std::stoull(text);
}

// Sequences drawn from a seed: PELLIX_RECOVERY_SEED=<n> runs that one seed instead.
TEST(RecoveryPolicy, SeededRandomSequencesKeepThePromise) {
    std::string error;
    const std::optional<std::uint64_t> chosen = chosen_seed(error);
    ASSERT_TRUE(error.empty()) << error;
    const std::uint64_t seed = chosen.value_or(20261208);
    std::mt19937_64 random(seed);
    for (int i = 0; i < 2000; ++i) {
        const std::vector<Move> steps = random_sequence(random);
        if (counterexample(steps)) {
            const std::vector<Move> smallest = shrunk(steps);
            FAIL() << "seed " << seed << ", sequence " << i << ", shrunk: " << describe(smallest)
                   << "\n  " << counterexample(smallest).value_or("");
        }
    }
}

} // namespace
} // namespace pellix
