#pragma once

// The recovery store of the open tabs: snapshots handed to the recovery writer after edits and
// at close, and the restore at start-up. The joining points (`store_session`,
// `restoring_session`, ...) are declared in app/hosted_units.h.

#include <cstdint>
#include <filesystem>
#include <string>

#include "core/encoding.h"

namespace pellix {

inline constexpr wchar_t recovery_unavailable_text[] = L"Tab recovery unavailable; save to disk";
inline constexpr wchar_t recovery_unreadable_text[] =
    L"Tab recovery could not be read; save to disk";
// Each followed by a path, beside the recovery status while it holds: the copy kept of a store
// file that failed the format's checks; the copy kept of an intact one that held what a restore
// could not bring back (or of an unread "session.bin"); the copy kept of a damaged one that held
// drafts the restore left out, never pruned; a store file that could not be read, kept or told
// to be there and is left as it is (as in use, or in a folder that cannot be searched); where the
// stores go while "tabs.bin" cannot take them.
inline constexpr wchar_t kept_store_note[] = L"Damaged recovery file kept as ";
inline constexpr wchar_t kept_intact_note[] = L"Recovery file kept as ";
inline constexpr wchar_t kept_left_out_note[] =
    L"Damaged recovery file with drafts left out kept as ";
inline constexpr wchar_t held_file_note[] = L"Recovery file in use, left as it is: ";
inline constexpr wchar_t unsearched_file_note[] =
    L"Recovery folder cannot be searched, left as it is: ";
inline constexpr wchar_t stored_beside_note[] = L"New drafts kept in ";

// The folder that holds "tabs.bin" and "session.bin" in place of the user's local application
// data folder; empty (the default) for that folder. Tests point it at a scratch folder.
extern std::filesystem::path recovery_folder_override;

// "session.bin" in the recovery folder (local application data, "Pellix", "Native"). Throws
// std::runtime_error "Could not locate the recovery folder." when the shell cannot say.
std::filesystem::path recovery_session_path();
// "tabs.bin" beside it.
std::filesystem::path recovery_tabs_path(const std::filesystem::path& session_path);

// The start-up restore: reads the store, asks about drafts and rebuilds the tabs. Failures
// become the recovery status; a session that cannot be restored is skipped. True when drafts
// were offered and refused: what was let go is owed to the store at once.
bool restore_session();

// The status text while a restore runs: "Restoring tabs: 12 of 127" once 12 of 127 sessions
// have been gone through.
std::wstring restore_progress_text(std::size_t restored, std::size_t total);

// Shows `text` in the status strip in place of the store's state, as how far a batch of tabs has
// got; an empty text gives the state back.
void show_progress_notice(const std::wstring& text);
// Gives the state back as an empty notice does, but without allocating, for a batch cut short by
// a failure: the status strip shows it at the next frame.
void withdraw_progress_notice() noexcept;

// How a tab's own file is decoded again for the store: by its byte-order mark when it has one,
// else in the encoding the tab was kept in (0-3 mean UTF-8 without a mark).
std::int32_t kept_file_decoding(const std::string& bytes, Encoding kept);

} // namespace pellix
