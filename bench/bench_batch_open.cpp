// Figures for a batch of small files handed over at once, as a second start passes them: the
// whole batch from the first hand-off to the last tab filled, and the same batch split into the
// steps it is made of, each run alone over as many files, so that the share of each shows.

#include "bench/bench.h"
#include "bench/bench_main_window.h"

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/open_files.h"
#include "app/recovery_store.h"
#include "app/settings.h"
#include "app/views.h"
#include "core/encoding.h"
#include "core/limits.h"
#include "core/window_work.h"

namespace {

using namespace pellix;

constexpr std::size_t batch_files = 100;
constexpr std::size_t file_bytes = 10 * 1024;
constexpr wchar_t bench_settings_key[] = L"Software\\Orvelworks\\Pellix Native Batch Bench";

void hand_over(HWND window, const std::filesystem::path& path) {
    const std::wstring text = path.wstring();
    COPYDATASTRUCT record{1, static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)),
                          const_cast<wchar_t*>(text.c_str())};
    SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&record));
}

void close_all_tabs() {
    for (std::size_t n = tabs.size(); n > 0; --n) {
        close_current_tab([] { return true; });
    }
    bench::serve_messages();
}

// Seconds from the first hand-off until every file has its tab, as the message loop runs it.
double hand_off_seconds(HWND window, const std::vector<std::filesystem::path>& files) {
    close_all_tabs();
    return bench::seconds_of([&] {
        for (const auto& path : files) {
            hand_over(window, path);
        }
        while (tabs.size() < files.size() || !pending_paths.empty()) {
            MSG message{};
            if (GetMessageW(&message, nullptr, 0, 0) <= 0) {
                break;
            }
            DispatchMessageW(&message);
        }
        UpdateWindow(window);
    });
}

std::vector<std::filesystem::path> write_files(const std::filesystem::path& folder,
                                               const char* extension) {
    std::vector<std::filesystem::path> files;
    const std::string text = bench::mixed_markdown(file_bytes);
    for (std::size_t i = 0; i < batch_files; ++i) {
        files.push_back(folder / ("file" + std::to_string(i) + extension));
        std::ofstream(files.back(), std::ios::binary) << text;
    }
    return files;
}

void print(const char* step, double seconds) {
    std::printf("  %-46s %7.0f ms  %6.1f ms a file\n", step, seconds * 1000,
                seconds * 1000 / batch_files);
}

void run() {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "pellix-bench-batch";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder / "store");
    const std::wstring saved_key = settings_key;
    settings_key = bench_settings_key;
    recovery_folder_override = folder / "store";
    const std::vector<std::filesystem::path> markdown = write_files(folder, ".md");
    const std::vector<std::filesystem::path> plain = write_files(folder, ".txt");

    HWND window = bench::open_main_window();
    // Outside compare mode, as the program runs: the recent files and the recovery store too.
    compare_mode = false;
    select_view(view_split);
    bench::serve_messages();

    std::printf("%zu files of %zu KiB handed over at once (the window paints between files):\n",
                batch_files, file_bytes / 1024);
    const double empty = bench::private_mib();
    print("Markdown files in Split view, to the last tab", hand_off_seconds(window, markdown));
    print("looking a new path up among the open tabs", bench::seconds_of([&] {
              for (const auto& path : plain) {
                  find_tab_by_path(path, no_tab);
              }
          }));
    print("  the same within one batch, as a batch opens", bench::seconds_of([&] {
              const IdentityBatch batch;
              for (const auto& path : plain) {
                  find_tab_by_path(path, no_tab);
              }
          }));
    print("  its like: std::filesystem::equivalent per tab", bench::seconds_of([&] {
              for (const auto& path : plain) {
                  for (const auto& tab : tabs) {
                      std::error_code error;
                      static_cast<void>(std::filesystem::equivalent(tab->path, path, error));
                  }
              }
          }));
    const double added = bench::private_mib() - empty;
    std::printf("  private bytes: %.1f MiB more with the %zu tabs (%.2f MiB a tab)\n", added,
                batch_files, added / batch_files);
    print("plain-text files, to the last tab", hand_off_seconds(window, plain));

    std::printf("the steps of one file alone, over as many files:\n");
    print("read and decode (file work)", bench::seconds_of([&] {
              for (const auto& path : markdown) {
                  decode_document(read_disk(path, document_limit), 0);
              }
          }));
    close_all_tabs();
    print("new empty tab (editor, tab strip, view)", bench::seconds_of([] {
              for (std::size_t i = 0; i < batch_files; ++i) {
                  new_tab();
              }
          }));
    close_all_tabs();
    const Document document = decode_document(read_disk(markdown.front(), document_limit), 0);
    print("text into the editor (set_editor)", bench::seconds_of([&] {
              for (std::size_t i = 0; i < batch_files; ++i) {
                  set_editor(document.text);
              }
          }));
    print("paint of the whole window", bench::seconds_of([&] {
              for (std::size_t i = 0; i < batch_files; ++i) {
                  RedrawWindow(window, nullptr, nullptr,
                               RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
              }
          }));

    close_all_tabs();
    DestroyWindow(window);
    bench::serve_messages();
    stop_recovery_writer();
    RegDeleteTreeW(HKEY_CURRENT_USER, bench_settings_key);
    settings_key = saved_key;
    recovery_folder_override.clear();
    std::filesystem::remove_all(folder);
    CoUninitialize();
}

bench::Registration registration("batch_open", run);

} // namespace
