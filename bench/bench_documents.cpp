// Figures for an 8 MiB Markdown document in the main window: opening it to an editable, painted
// tab, saving it, and the private bytes it adds to an empty tab.

#include "bench/bench.h"
#include "bench/bench_main_window.h"

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/hosted_units.h"
#include "app/main_window_create.h"
#include "app/main_window_state.h"
#include "app/save_files.h"
#include "app/settings.h"
#include "core/limits.h"
#include "editor/source_record.h"

namespace {

using namespace pellix;

std::string markdown_of_size(std::size_t size) {
    const std::string block = "## Section\n\nSome *emphasis*, `code` and a [link](x.md).\n\n";
    std::string text;
    text.reserve(size);
    while (text.size() + block.size() <= size) {
        text += block;
    }
    text.append(size - text.size(), 'x');
    return text;
}

double mib(std::size_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// The units a snapshot of the editor's document keeps alive beyond the editor's own text: none
// while it shares the editor's root.
std::size_t units_beyond(const SourceDocument& snapshot, const Source& source) {
    return snapshot.root == source.document.root ? 0 : snapshot.length();
}

// What each holder of the open document keeps, by the capacity it holds.
void print_copies() {
    const DocumentTab& tab = current_tab();
    const Source& source = *source_record(tab.editor);
    const std::size_t lines = source.heights.size();
    using LineEntry = decltype(word_count_cache.line_starts)::value_type;
    std::printf(
        "  copies: disk bytes %.1f MiB, the tab's text %.1f MiB, the word count's text "
        "%.1f MiB and its two line vectors %.1f MiB, the editor's find copy %.1f MiB, the text the "
        "tab's text was taken from %.1f MiB\n",
        mib(tab.disk_bytes.capacity()), mib(tab.text.capacity() * sizeof(char16_t)),
        mib(units_beyond(word_count_cache.previous_text, source) * sizeof(char16_t)),
        mib((word_count_cache.line_starts.capacity() + word_count_cache.line_words.capacity()) *
            sizeof(LineEntry)),
        mib(source.find_text.capacity() * sizeof(char16_t)),
        mib(units_beyond(tab.text_source, source) * sizeof(char16_t)));
    // The rope's leaves index every LF with a u64 of their own.
    std::printf("  the editor's document: %.1f MiB of text in its rope and %.1f MiB of line-break "
                "index; per line (%zu lines): heights and their tree %.1f MiB, fence states "
                "%.1f MiB\n",
                mib(source.document.length() * sizeof(char16_t)),
                mib((lines - 1) * sizeof(std::uint64_t)), lines, mib(2 * lines * sizeof(double)),
                mib(source.fence_states.capacity() * sizeof(FenceState)));
}

// The bytes of every heap block in use, so that the holders above can be told apart from what
// lives outside the heaps (drawing surfaces, thread stacks).
double heap_in_use_mib() {
    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr));
    heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
    std::size_t in_use = 0;
    for (HANDLE heap : heaps) {
        PROCESS_HEAP_ENTRY entry{};
        HeapLock(heap);
        while (HeapWalk(heap, &entry)) {
            if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) {
                in_use += entry.cbData;
            }
        }
        HeapUnlock(heap);
    }
    return mib(in_use);
}

void run() {
    HWND window = bench::open_main_window();
    bench::serve_messages();
    const auto path = std::filesystem::temp_directory_path() / "pellix-bench-8mib.md";
    std::ofstream(path, std::ios::binary) << markdown_of_size(document_limit);
    const double empty = bench::private_mib();
    const double empty_heap = heap_in_use_mib();

    const double open = bench::seconds_of([&] {
        open_path(path);
        UpdateWindow(window);
    });
    const double opened = bench::private_mib();
    const double opened_heap = heap_in_use_mib();
    SendMessageW(chrome.editor, EM_SETMODIFY, TRUE, 0);
    const double save = bench::seconds_of([] { save_file(false, nullptr, {}); });
    std::printf("8 MiB Markdown: open to a painted tab %.0f ms, save %.0f ms\n", open * 1000,
                save * 1000);
    std::printf("private bytes: empty tab %.1f MiB, with the document %.1f MiB (+%.1f MiB), of "
                "which +%.1f MiB in heap blocks in use\n",
                empty, opened, opened - empty, opened_heap - empty_heap);
    print_copies();
    DestroyWindow(window);
    bench::serve_messages();
    std::filesystem::remove(path);
    CoUninitialize();
    compare_mode = false;
}

bench::Registration registration("documents", run);

} // namespace
