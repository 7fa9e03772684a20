#pragma once

// Compare mode of the main window's tabs: a tab compared with a baseline gets a pass after each
// quiet spell of editing, diffed by the one compare worker and shown as change marks in its
// editor's gutter. UI thread only.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tracking/compare_baseline.h"

namespace pellix {

struct DocumentTab;

// Puts `tab` in compare mode against `baseline` (named `label` in the status strip). A watched
// tab asks first (`confirm`, else a box) and stops Watch. Nothing happens for a null baseline or
// while a Replace All runs.
void begin_compare(DocumentTab& tab, std::shared_ptr<const CompareBaseline> baseline,
                   std::wstring label, bool baseline_is_saved_file,
                   const std::function<bool()>& confirm);

// Asks for a pass of a compared tab: without `now` 200 ms after the last edit (old marks stay
// until the new ones come), with `now` at once (the marks are emptied meanwhile).
void schedule_compare(DocumentTab& tab, bool now);

// A tab compared with its own saved file takes the text it now shares with that file (saved or
// read again) as its baseline and gets a pass at once. When the baseline cannot be built,
// compare mode stops and a warning box says `stopped`.
void refresh_saved_baseline(DocumentTab& tab, const wchar_t* stopped);

// Takes a finished pass and applies it when it still belongs to its tab, then hands the next
// due pass to the worker, or ends the worker when no tab compares any more.
void compare_tick();

// The baseline of a file read from disk; null when the user declined the decoding choice.
std::shared_ptr<const CompareBaseline> load_baseline_file(const std::filesystem::path& path);

// A closing tab leaves compare mode without touching its editor; the next tick ends the worker
// when no other tab compares.
void forget_compare(DocumentTab& tab);

// Compares the current tab with the open tab `tab_id` (not itself).
void compare_other_tab(std::uint64_t tab_id);

// The tab identifiers behind the "Open tab" items 1000, 1001, ... as last filled.
const std::vector<std::uint64_t>& compare_targets();

// The worker stops and is joined (the main window goes away).
void stop_compare_worker();

// Whether the compare worker (and its thread) exists.
bool compare_worker_exists();

} // namespace pellix
