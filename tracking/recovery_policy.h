#pragma once

// Which recovery files a start reads and merges, which it leaves alone, keeps aside or lets go,
// where each store goes and what is pruned: the recovery store's decisions, made over a small
// file-system interface so that they can be driven through every file operation of a run.
//
// The promise, per tab as the user sees it: after any start, a tab's text is never older than the
// newest version of that tab that was on disk (in a store, or in its saved file once a store made
// after the Save has landed, or at once at a clean close), and a tab let go (closed, or its draft
// refused) does not come back older than it was let go; a draft a restore cannot bring back (the
// tab limit) is in a kept copy that the status names and that is not pruned while it holds the
// only copy. A start that could not read every file may offer an older version meanwhile; it says
// so, and the next start that reads them all does not.
//
// How it is kept:
// - A file a start read is never moved or removed by that run; it is replaced or removed only by
//   a store written after the restore, which holds every draft it brought back. What the restore
//   could not bring back, and a file that fails the format's checks, is first written to a kept
//   copy beside it, and the file stays where the next start reads it until that store is on disk.
// - A file a start could not read (another program holds it), or could not tell is there (the
//   folder cannot be looked into), is never replaced or removed by that run; nor is "session.bin"
//   when no "tabs.bin" was there, since a "tabs.bin" written over its head would hide it from the
//   next start. The stores then go beside, to "tabs.bin.beside", which every start reads after
//   "tabs.bin" (or "session.bin"); where the start could not tell whether that one is there, only
//   while there is none.
// - A store that cannot replace "tabs.bin" goes beside it at once; the next store tries
//   "tabs.bin" again, and once one is there the file beside is removed, by every store until one
//   succeeds.
// - Every store is stamped with its run, its place in the run and the files the run read at its
//   start, so a start offers nothing from a file that a newer intact store it reads has taken
//   over. The stamp also places and checks each record, names its tab and numbers its text (a
//   text unchanged since it was read or stored keeps its number; a changed one takes the store's,
//   one past every number the run has read), and lists the tabs let go with their texts known,
//   and the earlier texts known of the tabs it holds, which a let-go of them names in turn: of
//   each tab a start offers the text of the highest number among the files it reads. A number
//   orders two versions only where one store took the other over; no clock decides it. A draft
//   of a store side by side with the one holding that text (or at its number, as a saved text at
//   it, or of a tab the other let go) comes too, as a tab of its own, and the store that holds
//   both takes both files over.
// - A draft takes its file's tab only while the file is still the version it grew from; else the
//   file opens as it is and the draft comes beside it. A draft the same as its file is no draft,
//   and another version the same as a file a tab opens as it is does not come.
// - A record nothing checks comes unless a checked record holds its text or a store let it go,
//   and one that says it is saved but differs from its file comes as a draft.
// - Copies that hold drafts a restore left out are never pruned, damaged or not; copies of
//   damaged files are pruned to the newest few of their name.

#include "tracking/recovery_format.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace pellix {

// The store files in the recovery folder.
inline constexpr wchar_t recovery_tabs_name[] = L"tabs.bin";
inline constexpr wchar_t recovery_session_name[] = L"session.bin";

// The file system as the recovery store uses it. Each call is one operation that either happens
// whole and durably or not at all.
class RecoveryDisk {
public:
    virtual ~RecoveryDisk() = default;
    // Throws std::runtime_error when it cannot tell.
    virtual bool exists(const std::filesystem::path& path) = 0;
    // The whole file; nothing when it cannot be opened or read (another program holds it, access
    // is denied); no bytes for a file over `limit`, which no store of this program wrote.
    virtual std::optional<std::string> read(const std::filesystem::path& path,
                                            std::uint64_t limit) = 0;
    // Puts `bytes` in place of the file in one step, creating its folder. Throws
    // std::runtime_error and leaves the file as it was.
    virtual void write(const std::filesystem::path& path, const std::string& bytes) = 0;
    // Renames without replacing anything. Throws std::runtime_error.
    virtual void move(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
    // A missing file is no error. Throws std::runtime_error.
    virtual void remove(const std::filesystem::path& path) = 0;
    // The names of the files in the folder. Throws std::runtime_error when it cannot list them.
    virtual std::vector<std::filesystem::path> names(const std::filesystem::path& folder) = 0;
};

// A UTC time to the second, as kept copies are stamped.
struct UtcTime {
    unsigned year = 0;
    unsigned month = 0;
    unsigned day = 0;
    unsigned hour = 0;
    unsigned minute = 0;
    unsigned second = 0;
};

// Why a store file is kept aside: its bytes fail the format's checks, or it is intact but holds
// what a restore could not bring back.
enum class KeptCopy { damaged, intact };

// How many copies of a damaged store file are kept, per name; the oldest go first.
inline constexpr std::size_t kept_store_copies = 3;

// "<name>.damaged-YYYYMMDD-HHMMSS" (".kept-" for an intact one) beside `file`, with "-2", "-3", ...
// after the newest copy of the same second among `taken`, so that a name freed by pruning is never
// taken again by a newer copy.
std::filesystem::path kept_copy_name(const std::filesystem::path& file, KeptCopy kind,
                                     const UtcTime& when,
                                     const std::vector<std::filesystem::path>& taken);

// The copies of `file` of that kind among `names` beyond the newest `keep`, oldest first, by
// stamp and counter read as numbers; names this code did not make are never among them.
std::vector<std::filesystem::path> copies_beyond(const std::filesystem::path& file, KeptCopy kind,
                                                 const std::vector<std::filesystem::path>& names,
                                                 std::size_t keep);

// A well-mixed odd number drawn from `seed` and `index`: a tab's identity where nothing gave it
// one, the same each time from the same two numbers.
std::uint64_t recovery_identity(std::uint64_t seed, std::uint64_t index);

// The fingerprint of the bytes of the file at a UTF-8 path as it is now; nothing when it is gone
// or cannot be read.
using FileVersion = std::function<std::optional<std::uint64_t>(const std::string& path)>;

// The newest version known of each tab, with the fingerprints of a few texts of it known before
// (the newest last), which a file that nothing checks may still hold: one a tab, in the order of
// their tabs. Every plan shares the run's list rather than copying it on the UI thread; a list a
// plan holds is never changed, a change goes to a copy.
struct KnownVersion {
    StoreEntry newest;
    std::vector<std::uint64_t> earlier_texts;
};
using KnownVersions = std::vector<KnownVersion>;
inline constexpr std::size_t earlier_texts_kept = 8;
// The entry of `tab`; null when none is known.
const StoreEntry* known_version(const KnownVersions& known, std::uint64_t tab);
// Puts `entry` in place of the one known for its tab, whose text joins the earlier ones.
void remember_version(KnownVersions& known, const StoreEntry& entry);

// A file a store lets go, with its place in the order of how recent what it holds is.
struct RankedFile {
    std::filesystem::path path;
    std::uint64_t rank = 0;
};

// Where one store goes: `target`, else `fallback` (none when empty) when the target cannot be
// replaced; once the target holds it, the files `let_go` are removed. Each is ranked, as the
// target's own file is, so that an empty store removes each file after every older one.
// `only_if_absent` is a file this run could not look at: it is written only while there is none.
struct StorePlan {
    std::filesystem::path target;
    std::filesystem::path fallback;
    std::vector<RankedFile> let_go;
    std::uint64_t target_rank = 0;
    std::filesystem::path only_if_absent;
    StoreStamp stamp;
    // A file this run could not read, or left where it is, may be one the stamp takes over, and
    // of two files read side by side either may be the one that says a tab was let go: an empty
    // store then writes a file that restores nothing in place of removing the files.
    bool stamp_when_empty = false;
    // The newest version this run knows of each tab (none when null): a text the same as it
    // keeps its version.
    std::shared_ptr<const KnownVersions> known;
    // The fingerprint of each session of the workspace written, in order, as the writer worked
    // them out before the store (reading through only the texts that changed since its last);
    // empty, or 0 for one, to work it out while stamping.
    std::vector<std::uint64_t> fingerprints;
};

// What a store left on disk: the file that holds it, and the files it was to let go that are
// still there (another program held them), which the next store removes.
struct StoreOutcome {
    StoreOutcome() = default;
    // Implicit, so that a writer function may give back just the file it wrote.
    StoreOutcome(std::filesystem::path file) : written(std::move(file)) {}
    std::filesystem::path written;
    std::vector<std::filesystem::path> still_there;
    std::vector<StoreEntry> entries; // the tabs it holds, as its stamp lists them
};

// Writes the workspace as the plan says (an empty workspace removes the files instead, oldest
// first, goes nowhere else and leaves no file: `written` empty; where a lost replace of this run
// left a store in a temporary file, or the folder cannot be listed, a store that restores nothing
// takes over first) and says what it left. Throws std::runtime_error when the store could not be
// put anywhere.
StoreOutcome carry_out_store(RecoveryDisk& disk, const StorePlan& plan, const Workspace& workspace);

// What the status says besides the store's own state, each with its path.
enum class RecoveryNote {
    damaged_copy, // "Damaged recovery file kept as "
    intact_copy,  // "Recovery file kept as "
    left_alone,   // "Recovery file in use, left as it is: "
    unsearched,   // "Recovery folder cannot be searched, left as it is: "
    beside,       // "New drafts kept in "
    damaged_kept, // "Damaged recovery file with drafts left out kept as "
};
struct RecoveryStatusNote {
    RecoveryNote kind = RecoveryNote::left_alone;
    std::filesystem::path path;
};

// The decisions of one run, from its start to its last store.
class RecoveryPolicy {
public:
    // `folder` holds "tabs.bin", "session.bin" and "tabs.bin.beside"; `run` tells this run's
    // stores from every other run's, so it is drawn afresh for each run.
    RecoveryPolicy(RecoveryDisk& disk, std::filesystem::path folder, std::uint64_t run);

    // Whether an earlier run left any file for `start` to read, or a file could be there that
    // this cannot tell: a cheap look, so that a start with nothing to read needs no file work.
    // Until `start` has looked, no file this could not rule out is replaced or removed.
    bool anything_to_read();

    // Reads what earlier runs left: "tabs.bin" (else "session.bin"), then "tabs.bin.beside", then
    // stores a write left in a temporary file when its replace lost the old file; of each tab
    // only its newest intact version comes, a session several files hold alike comes once, and a
    // file that a newer intact store read here has taken over gives nothing; `file_version` tells
    // which drafts still belong in their files' tabs. Nothing when none is there; `whole` false
    // when a file failed the format's checks, could not be read, or could not be told to be there
    // or not.
    std::optional<SalvagedWorkspace> start(const FileVersion& file_version = {});

    // After the tabs were rebuilt: `left_out` names the tabs of the sessions that could not come
    // back. Keeps aside what must be kept before any store may replace the files read; a copy
    // that cannot be written leaves its file alone for the run, and its tabs left out are not let
    // go.
    void restored(const std::set<std::uint64_t>& left_out, const UtcTime& now);

    // Where the next store goes. Throws std::runtime_error when every file it could go to is
    // left alone.
    StorePlan plan_store();

    // The store of `plan` is on disk as `outcome` says. Called for every store that succeeded,
    // in the order they were planned.
    void store_written(const StorePlan& plan, const StoreOutcome& outcome);

    // The kept copies made this run that are still there, the files left alone and where the
    // stores go while "tabs.bin" cannot take them.
    std::vector<RecoveryStatusNote> notes();

private:
    struct StartFile {
        std::filesystem::path path;
        bool present = false;
        bool unknown = false;    // whether it is there could not be told: never touched this run
        bool read = false;       // its bytes were read
        bool superseded = false; // a newer store read at the same start holds what it held
        bool left_alone = false; // never replaced, moved or removed this run
        std::string bytes;       // until restored() has kept what must be kept
        std::optional<StoreStamp> stamp;
        // Its store, as its stamp names it, or as both copies of a stamp that failed its checks
        // still do.
        std::optional<StoreId> id;
        std::uint64_t fingerprint = 0;
        std::uint64_t last_store = 0;   // this run's last store it holds, by number; 0 for none
        bool whole = true;              // its bytes and its stamp passed every check
        bool this_version = false;      // written by this version, stamped or not
        std::vector<Session> sessions;  // what it holds, each with its tab and version
        std::vector<StoreEntry> let_go; // the tabs its stamp says were let go
        std::vector<StoreEntry> lost_drafts; // drafts it names that did not come back from it
        std::uint64_t active = 0;
    };
    // Of each tab, the highest version among the files read and whether one let it go; and the
    // texts let go.
    struct NewestVersions {
        std::map<std::uint64_t, std::uint64_t> of_tab;
        std::set<std::uint64_t> let_go_live; // let go in a file not taken over
        std::set<std::uint64_t> texts_let_go;
        std::set<std::uint64_t> texts_named; // of stamped records of files not taken over, by text
        std::set<std::uint64_t> tabs_named;  // the tabs of those records, and of those let go
        std::set<std::uint64_t> texts_lost;  // of drafts whose records went bad
        std::set<std::uint64_t> texts_earlier; // of tabs records of those files hold
    };
    // The first text offered of each tab, and the file whose drafts took each file's tab.
    struct Offered {
        std::map<std::uint64_t, std::uint64_t> tab_text;
        std::map<std::string, const StartFile*> path_taken_by;
    };

    static std::uint64_t removal_rank(const StartFile& file);
    void look(StartFile& file);
    void read_file(StartFile& file, bool container);
    void read_leftovers();
    void parse(StartFile& file);
    void take_over_older();
    bool named_by_superseding_store(const StartFile& file, const Session& session);
    NewestVersions newest_versions();
    SalvagedWorkspace offer_of_file(const StartFile& file, const NewestVersions& newest,
                                    Offered& offered);
    SalvagedWorkspace newest_of_each_tab(const FileVersion& file_version);
    std::vector<StartFile*> all_files();
    void keep(StartFile& file, KeptCopy kind, RecoveryNote note, const UtcTime& now);
    void set_aside(StartFile& file, const UtcTime& now);
    void prune(const StartFile& file);
    bool touchable(const StartFile& file) const;
    bool holds_lost_draft(const StartFile& file) const;
    StoreStamp stamp_of_store();
    // The run's list of known versions, copied first while a plan holds it.
    KnownVersions& own_known();

    RecoveryDisk& disk_;
    std::uint64_t run_ = 0;
    std::uint64_t newest_version_ = 0; // of every store read or made
    std::shared_ptr<KnownVersions> known_ = std::make_shared<KnownVersions>();
    std::vector<StartFile> leftovers_;
    std::uint64_t stores_ = 0;
    StartFile tabs_;
    StartFile session_;
    StartFile beside_;
    std::vector<RecoveryStatusNote> kept_;
    bool storing_beside_ = false;
};

} // namespace pellix
