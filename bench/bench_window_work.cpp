// Figures for the file-work runner and the UI Automation text provider: the fixed cost of one
// runner round trip, and the cost of text-dependent range calls, each of which takes a whole
// snapshot on the UI thread.

#include "bench/bench.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>

#include "core/window_work.h"
#include "platform/com_ptr.h"
#include "preview/accessibility_bridge.h"

namespace {

using namespace pellix;

PreviewAccessibility* bench_binding = nullptr;

LRESULT CALLBACK bench_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_APP_ACCESSIBILITY_CALL && bench_binding) {
        return run_accessibility_call(*bench_binding, reinterpret_cast<PendingCall*>(lparam));
    }
    return DefWindowProcW(hwnd, message, wparam, lparam);
}

// Runs `client` on another thread while this one serves the window's sent messages.
void serve_while(const std::function<void()>& client) {
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread thread([&] {
        client();
        SetEvent(done);
    });
    while (MsgWaitForMultipleObjectsEx(1, &done, INFINITE, QS_ALLINPUT, 0) != WAIT_OBJECT_0) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
    }
    thread.join();
    CloseHandle(done);
}

void bench_runner_round_trip() {
    const int rounds = 2000;
    double seconds = bench::seconds_of([&] {
        for (int i = 0; i < rounds; ++i) {
            window_work([] { return 1; });
        }
    });
    std::printf("window_work, empty task: %.1f us per call\n", seconds / rounds * 1e6);
}

void bench_provider_calls() {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = &bench_proc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"Pellix.Bench.Accessible";
    RegisterClassW(&window_class);
    HWND hwnd = CreateWindowExW(0, L"Pellix.Bench.Accessible", L"", 0, 0, 0, 10, 10, HWND_MESSAGE,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
    PreviewAccessibility binding;
    bench_binding = &binding;

    // 1 MiB and 8 MiB of prose-like text with a line break every 80 units.
    for (std::size_t size : {std::size_t{0x100000}, std::size_t{0x800000}}) {
        AccessibleSnapshot snap;
        const std::u16string words = u"lorem ipsum, dolor sit amet_42 ";
        snap.text.reserve(size);
        while (snap.text.size() < size) {
            snap.text += words;
            if (snap.text.size() % 80 < words.size()) {
                snap.text += u'\n';
                snap.line_starts.push_back(snap.text.size());
            }
        }
        AccessibilityCallbacks callbacks;
        callbacks.snapshot = [&snap] { return snap; };
        attach_accessibility_state(binding, hwnd, std::move(callbacks));
        ComPtr<ITextProvider> text;
        binding.provider->QueryInterface(__uuidof(ITextProvider),
                                         reinterpret_cast<void**>(text.put()));
        double snapshot_seconds = 0, word_seconds = 0, line_seconds = 0;
        const int rounds = 5;
        serve_while([&] {
            ComPtr<ITextRangeProvider> range;
            snapshot_seconds = bench::seconds_of([&] {
                for (int i = 0; i < rounds; ++i) {
                    text->get_DocumentRange(range.put());
                }
            });
            int moved = 0;
            word_seconds = bench::seconds_of([&] {
                for (int i = 0; i < rounds; ++i) {
                    range->Move(TextUnit_Word, 1, &moved);
                }
            });
            line_seconds = bench::seconds_of([&] {
                for (int i = 0; i < rounds; ++i) {
                    range->Move(TextUnit_Line, 1, &moved);
                }
            });
        });
        std::printf("%zu units: document range %.1f ms, move by word %.1f ms, by line %.1f ms\n",
                    snap.text.size(), snapshot_seconds / rounds * 1e3, word_seconds / rounds * 1e3,
                    line_seconds / rounds * 1e3);
    }
    detach_accessibility_state(binding);
    bench_binding = nullptr;
    DestroyWindow(hwnd);
}

void bench_window_work() {
    bench_runner_round_trip();
    bench_provider_calls();
}

pellix::bench::Registration reg("window_work", bench_window_work);

} // namespace
