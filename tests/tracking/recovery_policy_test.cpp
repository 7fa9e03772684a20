#include "tracking/recovery_policy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace pellix {
namespace {

// The program stops dead in the middle of a file operation: what was done before stays.
struct Crash {};

// A recovery folder in memory. Each call is one operation: it may be made to fail, or to be the
// one at which the program crashes; a file may be held by another program with no sharing; the
// folder may be one the program cannot look into at all.
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
        refuse_unless(operation() && !held.contains(path));
        files[path] = bytes;
        written.push_back(path);
    }
    void move(const std::filesystem::path& from, const std::filesystem::path& to) override {
        refuse_unless(operation() && !held.contains(from) && !held.contains(to) &&
                      files.contains(from) && !files.contains(to));
        files[to] = files.at(from);
        files.erase(from);
    }
    void remove(const std::filesystem::path& path) override {
        refuse_unless(operation() && !held.contains(path));
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

    std::map<std::filesystem::path, std::string> files;
    std::set<std::filesystem::path> held;
    std::set<int> failing; // operations that fail as a full disk would
    bool locked = false;   // the folder cannot be looked into: every operation fails
    int crash_at = 0;      // the operation at which the program dies; 0 for none
    int operations = 0;
    int failures = 0; // operations that failed so far, for a full disk or a locked folder
    std::vector<std::filesystem::path> written; // every file a write landed in, in order

private:
    // False when the operation fails; throws Crash when the program dies at it.
    bool operation() {
        ++operations;
        if (operations == crash_at) {
            throw Crash{};
        }
        const bool failed = locked || failing.contains(operations);
        failures += failed ? 1 : 0;
        return !failed;
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

std::u16string text_of(int tab, int version) {
    const std::string text = "tab " + std::to_string(tab) + " version " + std::to_string(version);
    return std::u16string(text.begin(), text.end());
}

int tab_of(const std::u16string& text) {
    return std::stoi(std::string(text.begin() + 4, text.begin() + text.find(u' ', 4)));
}

Session draft(const std::u16string& text) {
    return {.text = text,
            .encoding = Encoding::utf8,
            .line_ending = LineEnding::lf,
            .path = {},
            .draft = true};
}

// What the user and other programs do, and what the program does on its own: start and answer
// Yes or No when drafts are offered; a new tab with a draft; the first tab's draft changes; the
// first tab is saved, or closed; a snapshot is handed to the writer; the writer writes the one it
// holds; another program opens a file with no sharing, and lets go; one byte of the first record's
// text in "tabs.bin" goes bad; the user deletes a kept copy; from the next start only two tabs can
// be opened; the next file operation, or the one after it, fails as on a full disk; the folder
// cannot be looked into, and can again; an older version left a draft in "session.bin" (last, as
// it is never drawn at random).
// clang-format off
#define RECOVERY_STEPS(X) X(start_yes) X(start_no) X(type) X(edit) X(save) X(close) X(store)      \
    X(written) X(hold_tabs) X(release_tabs) X(hold_beside) X(release_beside) X(hold_session)     \
    X(release_session) X(damage) X(delete_copy) X(tab_limit) X(fail_next) X(fail_second)         \
    X(lock_folder) X(unlock_folder) X(old_session)
// clang-format on
#define STEP_ENUMERATOR(step) step,
#define STEP_NAME(step) #step,
enum class Step { RECOVERY_STEPS(STEP_ENUMERATOR) };

const char* name_of(Step step) {
    constexpr const char* names[] = {RECOVERY_STEPS(STEP_NAME)};
    return names[static_cast<int>(step)];
}

std::string describe(const std::vector<Step>& steps) {
    std::string text;
    for (const Step step : steps) {
        text += text.empty() ? "" : ", ";
        text += name_of(step);
    }
    return text;
}

int version_of(const std::u16string& text) {
    return std::stoi(std::string(text.begin() + text.rfind(u' ') + 1, text.end()));
}

std::string narrow(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

// The sessions a start would read from `files`, as the policy reads them.
std::vector<Session> sessions_in(const std::string& bytes) {
    return salvage_tab_recovery(split_store_file(bytes).container).workspace.sessions;
}

// The texts a start reads from `files` where no file is held and no operation fails (only the
// drafts', for `drafts`).
std::set<std::u16string>
texts_read_by_a_clean_start(const std::map<std::filesystem::path, std::string>& files,
                            bool drafts = false) {
    MemoryDisk clean;
    clean.files = files;
    RecoveryPolicy next(clean, folder, 0);
    const std::optional<SalvagedWorkspace> read = next.start();
    std::set<std::u16string> texts;
    for (const Session& session : read ? read->workspace.sessions : std::vector<Session>{}) {
        if ((session.draft || !drafts) && !session.text.empty()) {
            texts.insert(session.text);
        }
    }
    return texts;
}

// The program as far as recovery goes, with what the promise owes the user.
class Run {
public:
    explicit Run(MemoryDisk& disk) : disk_(disk) {}

    void apply(Step step) {
        switch (step) {
        case Step::start_yes:
        case Step::start_no:
            start(step == Step::start_yes);
            break;
        case Step::type:
            tabs_.push_back({.text = text_of(next_tab_++, 1), .draft = true});
            break;
        case Step::edit:
            if (!tabs_.empty()) {
                const int tab = tab_of(tabs_.front().text);
                tabs_.front() = {.text = text_of(tab, ++versions_[tab] + 1), .draft = true};
            }
            break;
        case Step::save:
            if (!tabs_.empty()) {
                tabs_.front().draft = false;
                owed_.erase(tab_of(tabs_.front().text));
            }
            break;
        case Step::close:
            if (!tabs_.empty()) {
                owed_.erase(tab_of(tabs_.front().text));
                tabs_.erase(tabs_.begin());
            }
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
            hold(step == Step::hold_tabs     ? tabs_bin
                 : step == Step::hold_beside ? beside_bin
                                             : session_bin);
            break;
        case Step::release_tabs:
        case Step::release_beside:
        case Step::release_session:
            disk_.held.erase(step == Step::release_tabs     ? tabs_bin
                             : step == Step::release_beside ? beside_bin
                                                            : session_bin);
            break;
        case Step::damage:
            damage();
            break;
        case Step::delete_copy:
            delete_copy();
            break;
        case Step::tab_limit:
            tab_limit_ = 2;
            break;
        case Step::fail_next:
        case Step::fail_second:
            disk_.failing.insert(disk_.operations + (step == Step::fail_next ? 1 : 2));
            break;
        case Step::lock_folder:
        case Step::unlock_folder:
            disk_.locked = step == Step::lock_folder;
            locked_this_run_ = locked_this_run_ || disk_.locked;
            break;
        case Step::old_session:
            old_session();
            break;
        }
    }

    // Empty when the next start, once no file is held and the folder can be looked into, offers
    // every draft owed (or a copy named as holding drafts left out holds it, for one a restore left
    // out) and no draft older than a version of its tab that a store held; else what is wrong.
    std::string broken_promise() const {
        const std::set<std::u16string> offered = texts_read_by_a_clean_start(disk_.files, true);
        std::string wrong = failed_store_ ? "a store failed though a file could take it" : "";
        auto add = [&](const std::string& fault) { wrong += (wrong.empty() ? "" : "; ") + fault; };
        if (!status_fault_.empty()) {
            add(status_fault_);
        }
        for (const auto& [tab, owed] : owed_) {
            if (!offered.contains(owed.text) && !(owed.left_out && in_named_copy(owed.text))) {
                add(narrow(owed.text) + (owed.left_out ? " (left out at the tab limit)" : ""));
            }
        }
        for (const std::u16string& text : offered) {
            const auto newest = stored_.find(tab_of(text));
            if (newest != stored_.end() && newest->second > version_of(text) &&
                !forked_.contains(tab_of(text))) {
                add(narrow(text) + " offered though a store held version " +
                    std::to_string(newest->second));
            }
        }
        return wrong;
    }

private:
    struct Tab {
        std::u16string text;
        bool draft = true; // false once saved, until the next edit
    };
    struct Owed {
        std::u16string text;
        bool left_out = false; // only in the kept copy a restore made
    };

    void start(bool yes) {
        policy_ = std::make_unique<RecoveryPolicy>(disk_, folder, ++runs_);
        pending_.reset();
        tabs_.clear();
        unread_.clear();
        for (const std::filesystem::path& file : {tabs_bin, session_bin, beside_bin}) {
            if (disk_.held.contains(file) && disk_.files.contains(file)) {
                unread_.insert(file);
            }
        }
        tabs_at_start_ = disk_.files.contains(tabs_bin);
        run_began_ = disk_.operations;
        locked_this_run_ = disk_.locked;
        std::set<std::u16string> readable = texts_read_by_a_clean_start(disk_.files);
        // As the program does: a start that fails says so and keeps the run's decisions.
        std::optional<SalvagedWorkspace> read;
        bool said_unreadable = false;
        try {
            if (!policy_->anything_to_read()) {
                return;
            }
            read = policy_->start();
        } catch (const std::runtime_error&) {
            said_unreadable = true;
        }
        said_unreadable = said_unreadable || (read && !read->whole);
        for (const Session& session : read ? read->workspace.sessions : std::vector<Session>{}) {
            readable.erase(session.text);
        }
        if (!readable.empty() && !said_unreadable) {
            status_fault_ = "a start did not say that it could not read everything";
        }
        if (!read) {
            return;
        }
        const bool drafts =
            std::any_of(read->workspace.sessions.begin(), read->workspace.sessions.end(),
                        [](const Session& session) { return session.draft; });
        if (!yes && drafts) {
            owed_.clear();
        }
        bool every_back = true;
        for (const Session& session : read->workspace.sessions) {
            if (!yes || !session.draft) {
                continue;
            }
            if (tabs_.size() == tab_limit_) {
                every_back = false;
                if (owed_.contains(tab_of(session.text))) {
                    owed_[tab_of(session.text)].left_out = true;
                }
                continue;
            }
            tabs_.push_back({.text = session.text, .draft = true});
            if (said_unreadable) {
                // A start that could not read every file cannot know that one it read is older.
                forked_.insert(tab_of(session.text));
            }
        }
        policy_->restored(every_back, {2026, 12, 8, 17, 0, static_cast<unsigned>(starts_++)});
        remember_named_copies();
    }

    // Another program can only open a file that is there.
    void hold(const std::filesystem::path& file) {
        if (disk_.files.contains(file)) {
            disk_.held.insert(file);
        }
    }

    // A store may fail only while neither "tabs.bin" nor the file beside can take it: held by
    // another program now, or left alone since a start that could not read it. A store with no
    // tab worth keeping removes the files instead, and fails while one of them is held or unread.
    bool somewhere_to_store(bool empty) const {
        if (locked_this_run_ || std::any_of(disk_.failing.begin(), disk_.failing.end(),
                                            [&](int failed) { return failed > run_began_; })) {
            return false; // the disk failed this run: a file may be left alone for it
        }
        if (empty) {
            return unread_.empty() &&
                   std::none_of(disk_.held.begin(), disk_.held.end(),
                                [&](const auto& file) { return disk_.files.contains(file); });
        }
        const bool tabs_free = !disk_.held.contains(tabs_bin) && !unread_.contains(tabs_bin) &&
                               !(unread_.contains(session_bin) && !tabs_at_start_);
        const bool beside_free = !disk_.held.contains(beside_bin) && !unread_.contains(beside_bin);
        return tabs_free || beside_free;
    }

    void store() {
        if (!policy_) {
            return;
        }
        try {
            StorePlan plan = policy_->plan_store();
            Workspace workspace;
            for (const Tab& tab : tabs_) {
                Session session = draft(tab.text);
                session.draft = tab.draft;
                workspace.sessions.push_back(std::move(session));
            }
            pending_ = {std::move(plan), std::move(workspace)};
        } catch (const std::runtime_error&) {
            failed_store_ = somewhere_to_store(tabs_.empty());
        }
    }

    void write() {
        if (!pending_) {
            return;
        }
        const std::pair<StorePlan, Workspace> job = *std::exchange(pending_, std::nullopt);
        const StorePlan& plan = job.first;
        const Workspace& workspace = job.second;
        const std::size_t writes = disk_.written.size();
        // The store is on disk once its file is written, whatever happens after.
        auto landed = [&] {
            if (disk_.written.size() > writes) {
                owe(workspace);
            }
        };
        try {
            policy_->store_written(plan, carry_out_store(disk_, plan, workspace));
        } catch (const Crash&) {
            landed();
            throw;
        } catch (const std::runtime_error&) {
            landed();
            failed_store_ = somewhere_to_store(workspace.sessions.empty());
            return;
        }
        owe(workspace);
        remember_named_copies();
    }

    void owe(const Workspace& workspace) {
        for (const Session& session : workspace.sessions) {
            const int tab = tab_of(session.text);
            stored_[tab] = std::max(stored_[tab], version_of(session.text));
            if (session.draft) {
                owed_[tab] = {.text = session.text, .left_out = false};
            }
        }
    }

    // The user's disk spoils a byte of the first record's text: the drafts it makes unreadable
    // are no longer owed.
    void damage() {
        if (!disk_.files.contains(tabs_bin)) {
            return;
        }
        std::string& bytes = disk_.files[tabs_bin];
        const std::size_t at = bytes.find("tab ");
        if (at == std::string::npos) {
            return;
        }
        const std::vector<Session> before = sessions_in(bytes);
        bytes[at] = '\xC3';
        const std::vector<Session> after = sessions_in(bytes);
        for (const Session& session : before) {
            if (std::find(after.begin(), after.end(), session) == after.end()) {
                std::erase_if(owed_,
                              [&](const auto& entry) { return entry.second.text == session.text; });
            }
        }
    }

    // A "session.bin" an older version left, holding one draft.
    void old_session() {
        const std::u16string text = text_of(next_tab_++, 1);
        const std::string container = encode_tab_recovery({.sessions = {draft(text)}, .active = 0});
        disk_.files[session_bin] = container.substr(20);
        owed_[tab_of(text)] = {.text = text, .left_out = false};
    }

    void delete_copy() {
        for (auto it = disk_.files.begin(); it != disk_.files.end(); ++it) {
            const std::wstring name = it->first.filename().wstring();
            if (name.find(L".kept-") != std::wstring::npos ||
                name.find(L".damaged-") != std::wstring::npos) {
                disk_.files.erase(it);
                // What only that copy held is the user's to lose.
                std::erase_if(owed_, [&](const auto& entry) {
                    return entry.second.left_out && !in_named_copy(entry.second.text);
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

    bool in_named_copy(const std::u16string& text) const {
        for (const std::filesystem::path& copy : named_) {
            if (!disk_.files.contains(copy)) {
                continue;
            }
            for (const Session& session : sessions_in(disk_.files.at(copy))) {
                if (session.text == text) {
                    return true;
                }
            }
        }
        return false;
    }

    MemoryDisk& disk_;
    std::unique_ptr<RecoveryPolicy> policy_;
    std::vector<Tab> tabs_;
    std::optional<std::pair<StorePlan, Workspace>> pending_;
    std::map<int, Owed> owed_;
    std::map<int, int> versions_;
    std::map<int, int> stored_; // the newest version of each tab that a store held
    std::set<int> forked_;      // tabs restored by a start that said it could not read a file
    std::set<std::filesystem::path> named_;
    std::set<std::filesystem::path> unread_; // held when this run started
    bool tabs_at_start_ = false;
    int run_began_ = 0;
    bool failed_store_ = false;
    bool locked_this_run_ = false;
    std::string status_fault_;
    std::size_t tab_limit_ = 128;
    int next_tab_ = 1;
    unsigned starts_ = 0;
    std::uint64_t runs_ = 0;
};

// Runs the steps once whole and once crashing at each file operation in turn; returns the first
// moment the promise did not hold, or nothing.
std::optional<std::string> counterexample(const std::vector<Step>& steps) {
    int operations = 0;
    for (int crash_at = 0;; ++crash_at) {
        MemoryDisk disk;
        disk.crash_at = crash_at;
        Run run(disk);
        std::size_t done = 0;
        try {
            for (; done < steps.size(); ++done) {
                run.apply(steps[done]);
                const std::string missing = run.broken_promise();
                if (!missing.empty() && crash_at == 0) {
                    return "after " + std::string(name_of(steps[done])) + " (step " +
                           std::to_string(done + 1) + "): " + missing;
                }
            }
        } catch (const Crash&) {
        }
        const std::string missing = run.broken_promise();
        if (!missing.empty()) {
            return "crash at operation " + std::to_string(crash_at) + " during " +
                   (done < steps.size() ? name_of(steps[done]) : "the end") + " (step " +
                   std::to_string(done + 1) + "): " + missing;
        }
        if (crash_at == 0) {
            operations = disk.operations;
        } else if (crash_at >= operations) {
            return std::nullopt;
        }
    }
}

#define EXPECT_PROMISE_KEPT(...)                                                                   \
    do {                                                                                           \
        const std::vector<Step> steps{__VA_ARGS__};                                                \
        const std::optional<std::string> broken = counterexample(steps);                           \
        EXPECT_FALSE(broken) << describe(steps) << "\n  " << broken.value_or("");                  \
    } while (false)

using enum Step;

TEST(RecoveryPolicy, AStoreHeldMidRunGoesBesideAndBothDraftsComeBack) {
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, hold_tabs, type, store, written,
                        release_tabs, start_yes, store, written, start_yes);
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

TEST(RecoveryPolicy, ACopyNamedForDraftsARestoreLeftOutIsNeverPruned) {
    // "tabs.bin" held through every start: the drafts live beside it, and a start at the tab
    // limit keeps them in a named copy that later starts must leave.
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, hold_tabs, start_yes, type, type, type,
                        store, written, tab_limit, start_yes, store, written, start_yes, store,
                        written, start_yes, store, written, start_yes, store, written, start_yes,
                        release_tabs, start_yes);
}

TEST(RecoveryPolicy, DamageHeldFilesAndDeletedCopiesKeepThePromise) {
    EXPECT_PROMISE_KEPT(start_yes, type, type, store, written, damage, start_yes, store, written,
                        start_yes);
    EXPECT_PROMISE_KEPT(start_yes, type, store, written, hold_tabs, hold_beside, type, store,
                        written, release_beside, store, written, start_yes, store, written,
                        release_tabs, start_no, type, store, written, start_yes);
    EXPECT_PROMISE_KEPT(start_yes, type, type, type, store, written, tab_limit, start_yes,
                        delete_copy, store, written, start_yes, close, store, written, start_yes);
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
    // Found by seed 307: a crash while a store lets its older files go, after a failed write and
    // a store made while the file beside was held.
    EXPECT_PROMISE_KEPT(start_yes, fail_next, type, store, written, edit, hold_beside, store,
                        written, release_beside, start_yes, edit, store, written, start_yes);
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

// Sequences drawn from a seed: PELLIX_RECOVERY_SEED=<n> runs that one seed with more sequences.
TEST(RecoveryPolicy, SeededRandomSequencesKeepThePromise) {
    const char* chosen = std::getenv("PELLIX_RECOVERY_SEED");
    const std::uint64_t seed = chosen ? std::strtoull(chosen, nullptr, 10) : 20261208;
    const int sequences = chosen ? 2000 : 300;
    std::mt19937_64 random(seed);
    constexpr int step_kinds = static_cast<int>(Step::unlock_folder) + 1;
    for (int i = 0; i < sequences; ++i) {
        std::vector<Step> steps{Step::start_yes};
        const int length = 4 + static_cast<int>(random() % 20);
        for (int j = 0; j < length; ++j) {
            const int roll = static_cast<int>(random() % (step_kinds + 6));
            // Typing and storing come more often than the rest.
            steps.push_back(roll >= step_kinds ? (roll % 2 ? Step::type : Step::written)
                                               : static_cast<Step>(roll));
            if (steps.back() == Step::written) {
                steps.insert(steps.end() - 1, Step::store);
            }
        }
        steps.push_back(Step::start_yes);
        const std::optional<std::string> broken = counterexample(steps);
        ASSERT_FALSE(broken) << "seed " << seed << ", sequence " << i << ": " << describe(steps)
                             << "\n  " << broken.value_or("");
    }
}

} // namespace
} // namespace pellix
