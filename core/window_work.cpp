#include "core/window_work.h"

#include <stdexcept>

#include "core/file_io.h"
#include "core/source_document.h"

namespace pellix {
namespace {

FileWorkHost installed_host;

} // namespace

void install_file_work_host(FileWorkHost host) {
    installed_host = std::move(host);
}

namespace file_work {
namespace {

// Runners active on the UI thread; a runner that starts while another waits is nested.
int active_runners = 0;

// Paint messages taken per wake-up, so that a flood of invalidations cannot starve the wait.
constexpr int paint_batch = 32;

HWND host_window() {
    HWND window = installed_host.window ? installed_host.window() : nullptr;
    return window != nullptr && IsWindow(window) ? window : nullptr;
}

void set_host_busy(bool busy) {
    if (installed_host.set_busy) {
        installed_host.set_busy(busy);
    }
}

} // namespace

Guard::Guard() : focus_(GetFocus()), outermost_(active_runners == 0) {
    ++active_runners;
    set_host_busy(true);
    HWND window = host_window();
    if (window != nullptr && IsWindowEnabled(window)) {
        EnableWindow(window, FALSE);
        disabled_window_ = window;
    }
}

Guard::~Guard() {
    --active_runners;
    set_host_busy(!outermost_);
    if (disabled_window_ != nullptr && IsWindow(disabled_window_)) {
        EnableWindow(disabled_window_, TRUE);
        if (focus_ != nullptr && IsWindow(focus_)) {
            SetFocus(focus_);
        }
    }
    if (outermost_ && installed_host.released) {
        installed_host.released();
    }
}

UniqueHandle create_done_event() {
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) {
        throw std::runtime_error("Could not create a file worker event.");
    }
    return event;
}

void serve_paint() {
    // Messages sent from other threads are delivered inside PeekMessageW, even though the
    // filter only lets WM_PAINT out of the posted queue.
    MSG message;
    for (int served = 0;
         served < paint_batch && PeekMessageW(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE);
         ++served) {
        DispatchMessageW(&message);
    }
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
        serve_paint();
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

} // namespace pellix
