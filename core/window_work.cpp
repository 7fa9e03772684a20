#include "core/window_work.h"

#include <stdexcept>

#include "app/main_window_state.h"
#include "core/file_io.h"
#include "core/source_document.h"
#include "tracking/compare_baseline.h"
#include "tracking/recovery_format.h"

namespace pellix {

namespace file_work {
namespace {

// Runners active on the UI thread; a runner that starts while another waits is nested.
int active_runners = 0;

// Paint messages taken per wake-up, so that a flood of invalidations cannot starve the wait.
constexpr int paint_batch = 32;

bool main_window_exists() {
    return main_window != nullptr && IsWindow(main_window);
}

} // namespace

Guard::Guard() : focus_(GetFocus()), outermost_(active_runners == 0) {
    ++active_runners;
    file_work_busy = true;
    if (main_window != nullptr && IsWindowEnabled(main_window)) {
        EnableWindow(main_window, FALSE);
        disabled_window_ = true;
    }
}

Guard::~Guard() {
    --active_runners;
    file_work_busy = !outermost_;
    if (disabled_window_ && main_window_exists()) {
        EnableWindow(main_window, TRUE);
        if (focus_ != nullptr && IsWindow(focus_)) {
            SetFocus(focus_);
        }
    }
    if (!outermost_ || !main_window_exists()) {
        return;
    }
    if (!pending_paths.empty()) {
        PostMessageW(main_window, WM_APP_OPEN_QUEUED, 0, 0);
    }
    if (close_pending) {
        close_pending = false;
        PostMessageW(main_window, WM_CLOSE, 0, 0);
    }
}

UniqueHandle create_done_event() {
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) {
        throw std::runtime_error("Could not create a file worker event.");
    }
    return event;
}

void wait_serving_paint(HANDLE done) {
    for (;;) {
        DWORD result = MsgWaitForMultipleObjectsEx(1, &done, INFINITE, QS_PAINT | QS_SENDMESSAGE,
                                                   MWMO_INPUTAVAILABLE);
        if (result == WAIT_OBJECT_0) {
            return;
        }
        if (result == WAIT_FAILED) {
            throw std::runtime_error("Could not wait for file work.");
        }
        // Messages sent from other threads are delivered inside PeekMessageW, even though the
        // filter only lets WM_PAINT out of the posted queue.
        MSG message;
        for (int served = 0;
             served < paint_batch && PeekMessageW(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE);
             ++served) {
            DispatchMessageW(&message);
        }
    }
}

} // namespace file_work

std::string read_disk(const std::filesystem::path& path, std::uint64_t limit) {
    return window_work([&] { return read_file_bytes(path, limit); });
}

Document decode_document(const std::string& bytes, std::int32_t request) {
    return window_work([&] { return decode_document_bytes(bytes, request); });
}

Document decode_reloaded_document(const std::string& bytes, Encoding encoding) {
    return window_work([&bytes, encoding] {
        return decode_document_bytes(bytes, static_cast<std::int32_t>(encoding));
    });
}

std::string save_document(const std::filesystem::path& path, const Document& document) {
    return window_work([&] {
        std::string bytes = encode_document_text(document);
        write_file_atomically(path, bytes, document_limit);
        return bytes;
    });
}

void show_first_welcome(const std::filesystem::path& path) {
    window_work([&] { write_welcome_document(path); });
}

Document read_document_file(const std::filesystem::path& path) {
    return window_work(
        [&] { return decode_document_bytes(read_file_bytes(path, document_limit), 0); });
}

SourceDocument build_source_document(const std::u16string& text) {
    return window_work([&] {
        SourceDocument document;
        document.assign(text);
        return document;
    });
}

std::shared_ptr<const CompareBaseline> compare_baseline(const std::u16string& text) {
    return window_work(
        [&] { return std::make_shared<const CompareBaseline>(make_compare_baseline(text)); });
}

std::shared_ptr<const CompareBaseline> compare_snapshot_baseline(SourceDocument snapshot) {
    return window_work([&] {
        return std::make_shared<const CompareBaseline>(make_compare_baseline(snapshot.text()));
    });
}

Workspace read_tab_recovery_file(const std::filesystem::path& path) {
    return window_work(
        [&] { return read_tab_recovery(read_file_bytes(path, recovery_container_limit)); });
}

Session read_recovery_record_file(const std::filesystem::path& path) {
    return window_work(
        [&] { return read_recovery_record(read_file_bytes(path, recovery_record_limit)); });
}

} // namespace pellix
