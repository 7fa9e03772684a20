#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_window_create.h"
#include "app/main_window_state.h"
#include "app/open_files.h"
#include "app/recovery_store.h"
#include "app/settings.h"
#include "app/status_strip.h"
#include "app/tab_build_progress.h"
#include "app/tab_switch_faults.h"
#include "app/prompts.h"
#include "core/line_index.h"
#include "core/message_box.h"
#include "core/window_work.h"
#include "editor/source_interface.h"
#include "editor/source_window.h"
#include "platform/child_surfaces.h"
#include "tests/app/in_process_main_window.h"
#include "tests/app/message_pump.h"
#include "tests/app/recovery_support.h"
#include "tests/app/shown_main_window.h"
#include "tests/scratch_folder.h"

namespace pellix {
namespace {

const std::wstring test_key = L"Software\\Orvelworks\\Pellix Native Open Together Test";
constexpr std::size_t file_count = 40;
constexpr wchar_t title_suffix[] = L" - Pellix";

std::wstring file_name(std::size_t i) {
    wchar_t name[16];
    std::swprintf(name, std::size(name), L"f%03zu.md", i);
    return name;
}

// Each file's text and word count differ from every other's.
std::string file_text(std::size_t i) {
    std::string text = "# File " + std::to_string(i) + "\n\n";
    for (std::size_t word = 0; word < i; ++word) {
        text += "word ";
    }
    return text + "\n";
}

std::u16string wide(const std::string& text) {
    return {text.begin(), text.end()};
}

// What the window showed at one paint of the main window or one of its children.
struct PanePaint {
    std::wstring title;
    std::wstring selected_tab;
    std::vector<std::wstring> status;
    bool editor_painted = false;
    std::u16string editor_text;
};
std::vector<PanePaint> pane_paints;
bool recording = false;

std::wstring selected_tab_label() {
    const int index = TabCtrl_GetCurSel(chrome.tab_control);
    wchar_t text[128] = {};
    TCITEMW item{.mask = TCIF_TEXT,
                 .dwState = 0,
                 .dwStateMask = 0,
                 .pszText = text,
                 .cchTextMax = 128,
                 .iImage = -1,
                 .lParam = 0};
    if (index < 0 || !TabCtrl_GetItem(chrome.tab_control, index, &item)) {
        return {};
    }
    std::wstring label(text);
    std::erase(label, L' ');
    return label;
}

bool is_editor(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return std::wstring(name) == source_window_class;
}

void record_paint(HWND window) {
    if (!recording || main_window == nullptr ||
        (window != main_window && !IsChild(main_window, window))) {
        return;
    }
    wchar_t title[256] = {};
    GetWindowTextW(main_window, title, 256);
    PanePaint paint{.title = title,
                    .selected_tab = selected_tab_label(),
                    .status = {},
                    .editor_painted = is_editor(window),
                    .editor_text = {}};
    for (const StatusItem& item : status_strip().items) {
        paint.status.push_back(item.text);
    }
    if (paint.editor_painted) {
        paint.editor_text = source_text(window);
    }
    pane_paints.push_back(std::move(paint));
}

// Paints sent (UpdateWindow, RedrawWindow) and paints taken from the queue.
LRESULT CALLBACK sent_paint(int code, WPARAM wparam, LPARAM lparam) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lparam);
    if (code == HC_ACTION && sent->message == WM_PAINT) {
        record_paint(sent->hwnd);
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

LRESULT CALLBACK queued_paint(int code, WPARAM wparam, LPARAM lparam) {
    const auto* queued = reinterpret_cast<const MSG*>(lparam);
    if (code == HC_ACTION && wparam == PM_REMOVE && queued->message == WM_PAINT) {
        record_paint(queued->hwnd);
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

std::wstring words_item(const std::u16string& text) {
    WordCountCache cache;
    update_word_count(cache, text);
    return std::to_wstring(cache.total) + (cache.total == 1 ? L" word" : L" words");
}

// What a second start does with each of its paths.
void hand_over(const std::filesystem::path& path) {
    const std::wstring text = path.wstring();
    COPYDATASTRUCT record{1, static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)),
                          const_cast<wchar_t*>(text.c_str())};
    SendMessageW(main_window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&record));
}

bool holds(const std::vector<std::wstring>& items, const std::wstring& text) {
    return std::find(items.begin(), items.end(), text) != items.end();
}

// Whether a recorded paint showed the count "`opened` of `total`".
bool count_shown(std::size_t opened, std::size_t total) {
    return std::any_of(pane_paints.begin(), pane_paints.end(), [&](const PanePaint& paint) {
        return holds(paint.status, opening_progress_text(opened, total));
    });
}

// The real main window in this process, shown, with many small files to open at once.
class OpenTogether : public test::ShownMainWindow {
protected:
    OpenTogether() : ShownMainWindow(test_key, "open-together", IDNO) {}

    void SetUp() override {
        ShownMainWindow::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        for (std::size_t i = 0; i < file_count; ++i) {
            paths_.push_back(folder_ / file_name(i));
            test::write_bytes(paths_.back(), file_text(i));
        }
        pane_paints.clear();
    }
    void TearDown() override {
        recording = false;
        override_child_drawing_apart(std::nullopt);
        ShownMainWindow::TearDown();
    }

    // Runs `work`, recording what the window showed at each paint.
    static void recording_paints(const std::function<void()>& work) {
        HHOOK sent = SetWindowsHookExW(WH_CALLWNDPROC, sent_paint, nullptr, GetCurrentThreadId());
        HHOOK queued =
            SetWindowsHookExW(WH_GETMESSAGE, queued_paint, nullptr, GetCurrentThreadId());
        recording = true;
        work();
        recording = false;
        UnhookWindowsHookEx(queued);
        UnhookWindowsHookEx(sent);
    }

    // Opens the files as one hand-over, recording what the window showed at each paint.
    void open_recording_paints() {
        recording_paints([this] { EXPECT_TRUE(open_paths(paths_)); });
    }

    std::vector<std::filesystem::path> paths_;
};

TEST_F(OpenTogether, EveryPaintShowsOneTabAndTheLastFileEndsShown) {
    // Where child drawing lives apart (Wine) the title follows the panes of a switch, so that
    // only there may a paint see the title of the tab left.
    override_child_drawing_apart(false);
    open_recording_paints();

    ASSERT_EQ(tabs.size(), file_count);
    for (std::size_t i = 0; i < file_count; ++i) {
        EXPECT_EQ(source_text(tabs[i]->editor), wide(file_text(i))) << i;
    }
    EXPECT_EQ(active, file_count - 1);
    const auto shown = std::count_if(tabs.begin(), tabs.end(),
                                     [](const auto& tab) { return IsWindowVisible(tab->editor); });
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(IsWindowVisible(tabs.back()->editor));
    EXPECT_TRUE(IsWindowEnabled(window_));

    // At each paint the title, the selected tab and the status strip name one file and say what
    // it holds, and an editor that paints shows that file's text.
    std::size_t file_paints = 0;
    std::size_t progress_paints = 0;
    for (const PanePaint& paint : pane_paints) {
        for (std::size_t done = 1; done < file_count; ++done) {
            progress_paints += holds(paint.status, opening_progress_text(done, file_count));
        }
        std::size_t i = 0;
        while (i < file_count && paint.title != file_name(i) + title_suffix) {
            ++i;
        }
        if (i == file_count) {
            // Before any file came in: the untitled tab, empty.
            EXPECT_EQ(paint.title.rfind(L"Untitled", 0), 0u) << paint.title;
            EXPECT_EQ(paint.selected_tab.rfind(L"Untitled", 0), 0u) << paint.title;
            EXPECT_TRUE(paint.editor_text.empty()) << paint.title;
            continue;
        }
        ++file_paints;
        const std::u16string text = wide(file_text(i));
        EXPECT_EQ(paint.selected_tab, file_name(i)) << paint.title;
        EXPECT_TRUE(holds(paint.status, L"LF")) << paint.title;
        EXPECT_TRUE(holds(paint.status, words_item(text))) << paint.title;
        if (paint.editor_painted) {
            EXPECT_EQ(paint.editor_text, text) << paint.title;
        }
    }
    EXPECT_GT(file_paints, 0u) << pane_paints.size() << " paints";
    // Midway the window said how far the opening had got.
    EXPECT_GT(progress_paints, 0u) << pane_paints.size() << " paints";
}

TEST_F(OpenTogether, EachFileThatCannotBeReadIsNamedInItsBoxAndTheRestOpen) {
    std::vector<std::wstring> boxes;
    install_message_box([&](const MessageBoxRequest& box) {
        boxes.push_back(box.text);
        return IDOK;
    });
    // Held by another program, without sharing.
    HANDLE held = CreateFileW(paths_[5].c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const std::vector<std::filesystem::path> batch{paths_[0], folder_ / "missing.md", paths_[2],
                                                   folder_ / "gone.txt", paths_[5]};

    EXPECT_TRUE(open_paths(batch));
    CloseHandle(held);

    const std::wstring sentence = L"Could not open the file for reading.";
    EXPECT_EQ(boxes,
              (std::vector<std::wstring>{L"missing.md\n" + sentence, L"gone.txt\n" + sentence,
                                         file_name(5) + L"\n" + sentence}));
    ASSERT_EQ(tabs.size(), 2u);
    EXPECT_EQ(source_text(tabs[0]->editor), wide(file_text(0)));
    EXPECT_EQ(source_text(tabs[1]->editor), wide(file_text(2)));
    EXPECT_EQ(active, 1u);
    EXPECT_TRUE(IsWindowVisible(tabs[1]->editor));
    EXPECT_FALSE(IsWindowVisible(tabs[0]->editor));

    // One file alone is the one the user just named: its box is the sentence alone.
    boxes.clear();
    open_path(folder_ / "missing.md");
    EXPECT_EQ(boxes, std::vector<std::wstring>{sentence});
}

TEST_F(OpenTogether, AFailedTabBehindTheShownOneLeavesTheShownTabAsItIs) {
    open_path(paths_[3]);
    ASSERT_EQ(tabs.size(), 1u);
    // The selection on screen differs from the one the tab had when last left.
    current_tab().selection = {0, 0};
    CHARRANGE on_screen{5, 9};
    SendMessageW(current_tab().editor, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&on_screen));
    const std::uint64_t shown_id = current_tab().id;

    const std::uint64_t failed_id = add_background_tab(paths_[4]).id;
    remove_failed_tab(failed_id, shown_id);

    ASSERT_EQ(tabs.size(), 1u);
    EXPECT_EQ(current_tab().id, shown_id);
    CHARRANGE now{};
    SendMessageW(current_tab().editor, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&now));
    EXPECT_EQ(now.cpMin, on_screen.cpMin);
    EXPECT_EQ(now.cpMax, on_screen.cpMax);
    EXPECT_TRUE(IsWindowVisible(current_tab().editor));
}

TEST_F(OpenTogether, PathsHandedOverWhileABatchIsBuiltJoinItsCountAndItsEnd) {
    // A file that is not valid Unicode stops the batch at its second file on the encoding
    // question; meanwhile another start hands over three more files.
    const std::filesystem::path western = folder_ / "western.txt";
    test::write_bytes(western, "caf\xE9\n");
    std::vector<std::filesystem::path> batch(paths_.begin(), paths_.begin() + 20);
    batch[1] = western;
    install_task_dialog([&](const TASKDIALOGCONFIG&) {
        for (std::size_t i = 20; i < 23; ++i) {
            hand_over(paths_[i]);
        }
        return IDCANCEL;
    });
    bool opened = false;
    recording_paints([&] { opened = open_paths(batch); });
    install_task_dialog({});

    EXPECT_TRUE(opened);
    EXPECT_TRUE(pending_paths.empty());
    ASSERT_EQ(tabs.size(), 22u);
    EXPECT_TRUE(same_path(tabs.back()->path, paths_[22]));
    EXPECT_EQ(active, 21u);
    EXPECT_TRUE(IsWindowVisible(tabs.back()->editor));
    EXPECT_TRUE(count_shown(16, 23)) << pane_paints.size() << " paints";
    // Until the end the title named only the file shown from the start.
    for (const PanePaint& paint : pane_paints) {
        EXPECT_NE(paint.title, file_name(19) + title_suffix);
    }
}

// The first path of a hand-over opens as a batch of one; the other six arrive while it is
// read (here, while it asks for its encoding), and the count says seven at once.
TEST_F(OpenTogether, TheCountTakesInPathsThatJoinAtOnce) {
    const std::filesystem::path western = folder_ / "western.txt";
    test::write_bytes(western, "caf\xE9\n");
    install_task_dialog([&](const TASKDIALOGCONFIG&) {
        for (std::size_t i = 0; i < 6; ++i) {
            hand_over(paths_[i]);
        }
        return IDCANCEL;
    });
    bool all_open = false;
    recording_paints([&] {
        hand_over(western);
        all_open =
            test::pump_until([] { return tabs.size() == 6 && IsWindowEnabled(main_window); });
    });
    install_task_dialog({});

    ASSERT_TRUE(all_open);
    EXPECT_TRUE(count_shown(0, 1));
    EXPECT_TRUE(count_shown(1, 7)) << pane_paints.size() << " paints";
}

TEST_F(OpenTogether, EachFileOfTheBatchThatWasOpenAlreadyIsCheckedAgainstTheDisk) {
    for (std::size_t i = 0; i < 3; ++i) {
        open_path(paths_[i]);
    }
    ASSERT_EQ(tabs.size(), 3u);
    test::write_bytes(paths_[0], "changed on disk\n");
    test::write_bytes(paths_[1], file_text(1));

    ASSERT_TRUE(open_paths({paths_[0], paths_[1], paths_[3]}));

    ASSERT_EQ(tabs.size(), 4u);
    EXPECT_EQ(active, 3u);
    EXPECT_TRUE(tabs[0]->changed_on_disk);
    EXPECT_FALSE(tabs[1]->changed_on_disk);
    // The question comes when the user comes to the tab.
    std::vector<std::wstring> boxes;
    install_message_box([&](const MessageBoxRequest& box) {
        boxes.push_back(box.caption);
        return IDNO;
    });
    select_tab(0, true);
    EXPECT_EQ(boxes, std::vector<std::wstring>{L"File changed"});
}

TEST_F(OpenTogether, AFailedShownTabsEditorGoesEvenWhenTheSwitchBackFails) {
    open_path(paths_[3]);
    const std::uint64_t shown_id = current_tab().id;
    add_tab(paths_[4]);
    const std::uint64_t failed_id = current_tab().id;
    const HWND failed_editor = current_tab().editor;
    ASSERT_TRUE(IsWindowVisible(failed_editor));
    {
        const ScopedSwitchFault fault([](SwitchPoint point) {
            if (point == SwitchPoint::entered) {
                throw std::runtime_error("The switch failed.");
            }
        });
        EXPECT_THROW(remove_failed_tab(failed_id, shown_id), std::runtime_error);
    }

    EXPECT_FALSE(IsWindow(failed_editor));
    ASSERT_EQ(tabs.size(), 1u);
    EXPECT_EQ(current_tab().id, shown_id);
    EXPECT_EQ(chrome.editor, current_tab().editor);
}

TEST_F(OpenTogether, ABatchCutShortPassesItsFailureOnAndGivesTheStatusBack) {
    const std::wstring status_before = recovery_status();
    const std::filesystem::path western = folder_ / "western.txt";
    test::write_bytes(western, "caf\xE9\n");
    // Declining the encoding leaves the list without an active tab, so that giving the status
    // back, which asks for it, fails.
    install_task_dialog([](const TASKDIALOGCONFIG&) {
        active = tabs.size();
        return IDCANCEL;
    });

    EXPECT_THROW(open_paths({paths_[0], paths_[1], western}), std::out_of_range);
    install_task_dialog({});
    active = 0;

    EXPECT_EQ(recovery_status(), status_before);
    EXPECT_TRUE(IsWindowEnabled(window_));
    EXPECT_TRUE(test::pump_until([] {
        return std::none_of(
            status_strip().items.begin(), status_strip().items.end(),
            [](const StatusItem& item) { return item.text.starts_with(L"Opening files"); });
    }));
}

} // namespace
} // namespace pellix
