#pragma once

// The file-work runner: blocking file work runs on a short-lived worker thread while the UI
// thread waits in a pump that only paints and answers sent messages, with the main window
// disabled. The window keeps painting and UI Automation clients keep getting answers, but no
// user input is taken until the work is over.

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#include "core/encoding.h"
#include "platform/unique_handle.h"

namespace pellix {

class SourceDocument;

// What the runner needs of the program's main window, installed once by the main window when
// it starts; the runner stays below it and never names it. An empty member is skipped.
struct FileWorkHost {
    // The window disabled while work runs; null while there is none.
    std::function<HWND()> window;
    // Raised when a run starts; lowered when the outermost run ends, whatever it was before.
    std::function<void(bool busy)> set_busy;
    // Called when the outermost run has ended and the window is enabled again: what arrived
    // meanwhile (queued opens, a deferred close) is handed back to the window.
    std::function<void()> released;
};

// Replaces the host; UI thread only, never while a runner waits.
void install_file_work_host(FileWorkHost host);

namespace file_work {

// Entry and exit bookkeeping of one runner. Entry remembers the focus window, raises the host's
// busy flag and disables the host's window when it is enabled. Exit lowers the flag, re-enables
// the window and gives the focus back when this runner disabled it, and lets the host release
// what was queued meanwhile. A runner started from a sent message while another one waits is
// nested: the outer runner is still working, so the nested one leaves the busy flag raised and
// leaves the release to the outer one.
class Guard {
public:
    Guard();
    ~Guard();
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    HWND focus_ = nullptr;
    HWND disabled_window_ = nullptr;
    bool outermost_ = false;
};

// A manual-reset, unsignalled, unnamed event. Throws std::runtime_error
// "Could not create a file worker event.".
UniqueHandle create_done_event();

// Dispatches the WM_PAINT messages due now (at most 32) and delivers messages sent from other
// threads, without waiting; posted input stays queued. Long work on the UI thread calls it
// between its steps so that the window keeps painting and answering.
void serve_paint();

// Waits for `done` while serving paint and sent messages as `serve_paint` does at each wake-up.
// Throws std::runtime_error "Could not wait for file work." when the wait fails.
void wait_serving_paint(HANDLE done);

// Joins the worker on every way out, so that tasks may refer to the caller's locals.
class Joiner {
public:
    explicit Joiner(std::thread& thread) : thread_(thread) {}
    ~Joiner() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    Joiner(const Joiner&) = delete;
    Joiner& operator=(const Joiner&) = delete;

private:
    std::thread& thread_;
};

} // namespace file_work

// Runs `task` (a callable without arguments) on a worker thread and returns its result; an
// exception of the task is rethrown here, after the clean-up. Call on the UI thread only.
template <class Task> std::invoke_result_t<Task&> window_work(Task task) {
    using Result = std::invoke_result_t<Task&>;
    file_work::Guard guard;
    UniqueHandle done = file_work::create_done_event();
    auto packaged = std::make_shared<std::packaged_task<Result()>>(std::move(task));
    std::future<Result> future = packaged->get_future();
    std::thread worker([packaged, event = done.get()] {
        (*packaged)();
        SetEvent(event);
    });
    // Declared after the event and the task, so the worker is joined before either goes away.
    file_work::Joiner joiner(worker);
    file_work::wait_serving_paint(done.get());
    if constexpr (std::is_void_v<Result>) {
        future.get();
    } else {
        return future.get();
    }
}

// The file-work tasks of the program, each run through window_work.

// The whole file, read by read_file_bytes under `limit` bytes (callers pass document_limit).
std::string read_disk(const std::filesystem::path& path, std::uint64_t limit);

// Decodes file bytes: request 0 detects the encoding, 4-7 force a single-byte code page (the
// user's choice after detection failed).
Document decode_document(const std::string& bytes, std::int32_t request);

// Decodes bytes read again for a tab with `encoding`, the forced one or else the tab's own.
// The caller resolves it on the UI thread: the worker must never look at the tabs, which the
// UI thread owns.
Document decode_reloaded_document(const std::string& bytes, Encoding encoding);

// Encodes the document and writes it atomically under the 8 MiB limit; returns the bytes
// written.
std::string save_document(const std::filesystem::path& path, const Document& document);

// Writes the welcome document at `path` unless something is already there.
void show_first_welcome(const std::filesystem::path& path);

// A fresh document holding `text` (line breaks normalised), built off the UI thread for an
// editor to take over.
SourceDocument build_source_document(const std::u16string& text);

// A tab's own file read again for the recovery store (restoring, or keeping a discarded tab's
// file at the final store): read under 8 MiB and decoded with detection.
Document read_document_file(const std::filesystem::path& path);

} // namespace pellix
