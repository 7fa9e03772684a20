#include <gtest/gtest.h>

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/settings.h"
#include "app/timers.h"
#include "editor/source_record.h"
#include "platform/dib_surface.h"
#include "platform/size_settling.h"
#include "preview/preview_window.h"
#include "tests/app/open_tabs_window.h"

namespace pellix {
namespace {

constexpr WORD outline_command = 304;

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};

BOOL CALLBACK note_waiting(HWND window, LPARAM found) {
    RECT waiting{};
    if (IsWindowVisible(window) && GetUpdateRect(window, &waiting, FALSE)) {
        *reinterpret_cast<bool*>(found) = true;
    }
    return TRUE;
}

bool nothing_waits_to_be_drawn() {
    RECT waiting{};
    bool found = GetUpdateRect(main_window, &waiting, FALSE) != FALSE;
    EnumChildWindows(main_window, note_waiting, reinterpret_cast<LPARAM>(&found));
    return !found;
}

// Where the editor's pane stands in the main window's client area.
RECT editor_place() {
    RECT editor{};
    GetWindowRect(chrome.editor, &editor);
    MapWindowPoints(nullptr, main_window, reinterpret_cast<POINT*>(&editor), 2);
    return editor;
}

// The main window's client area as the screen shows it, `blank` left blank: the editor's pane by
// default, whose frame lives in a surface of its own under Wine, and whose caret blinks.
Picture read_window(const RECT& blank = editor_place()) {
    RECT client{};
    GetClientRect(main_window, &client);
    DibSurface surface(client.right, client.bottom);
    HDC dc = GetDCEx(main_window, nullptr, DCX_CACHE);
    BitBlt(surface.dc(), 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    ReleaseDC(main_window, dc);
    Picture picture{client.right, client.bottom, {}};
    for (int y = 0; y < client.bottom; ++y) {
        for (int x = 0; x < client.right; ++x) {
            const POINT point{x, y};
            picture.pixels.push_back(PtInRect(&blank, point) ? 0 : surface.pixel(x, y));
        }
    }
    return picture;
}

// The top left `width` x `height` of a picture.
Picture part(const Picture& picture, int width, int height) {
    Picture result{width, height, {}};
    for (int y = 0; y < height; ++y) {
        const auto row = picture.pixels.begin() + static_cast<std::ptrdiff_t>(y * picture.width);
        result.pixels.insert(result.pixels.end(), row, row + width);
    }
    return result;
}

// Where two pictures of one size differ, as a count and the box around the differences.
std::string differences(const Picture& a, const Picture& b) {
    if (a.width != b.width || a.height != b.height) {
        return "sizes differ";
    }
    int count = 0;
    RECT box{a.width, a.height, 0, 0};
    for (int y = 0; y < a.height; ++y) {
        for (int x = 0; x < a.width; ++x) {
            if (a.pixels[static_cast<std::size_t>(y * a.width + x)] !=
                b.pixels[static_cast<std::size_t>(y * a.width + x)]) {
                ++count;
                box = {std::min<LONG>(box.left, x), std::min<LONG>(box.top, y),
                       std::max<LONG>(box.right, x + 1), std::max<LONG>(box.bottom, y + 1)};
            }
        }
    }
    if (count == 0) {
        return "";
    }
    std::ostringstream text;
    text << count << " pixels within (" << box.left << ", " << box.top << ")-(" << box.right << ", "
         << box.bottom << ")";
    return text.str();
}

class ResizePictures : public test::OpenTabsWindow {
protected:
    ResizePictures() : OpenTabsWindow("resize-pictures") {}

    void SetUp() override {
        OpenTabsWindow::SetUp();
        show_on_screen();
    }

    Picture settled() {
        EXPECT_TRUE(pump_until(nothing_waits_to_be_drawn));
        return read_window();
    }

    void TearDown() override {
        override_targets_wait_for_settled_size(std::nullopt);
        OpenTabsWindow::TearDown();
    }

    void resize(int width, int height) const {
        SetWindowPos(window_, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    }

    // The moment after a run of sizes ends, as the main window's settle timer says it.
    void settle_sizes() const { SendMessageW(window_, WM_TIMER, timer_id::size_settle, 0); }

    // `open_split_notes` in a window of `width` x `height` that its targets have taken, where a
    // run of window sizes is held until the test ends it.
    void open_split_notes_held_at(int width, int height) {
        override_targets_wait_for_settled_size(true, USER_TIMER_MAXIMUM);
        open_split_notes();
        resize(width, height);
        settled();
        settle_sizes();
        settled();
    }

    // A Split view with the outline, the page long enough to fill the preview.
    void open_split_notes() {
        std::string text = "# Notes\n\n";
        for (int i = 0; i < 60; ++i) {
            text += "A line of words number " + std::to_string(i) + " to read for a while.\n";
        }
        open_path(file("notes.md", text));
        select_view(view_split);
        SendMessageW(window_, WM_COMMAND, MAKEWPARAM(outline_command, 0), 0);
        ASSERT_TRUE(IsWindowVisible(chrome.outline_tree));
    }
};

SIZE client_size(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    return {client.right, client.bottom};
}

SIZE editor_target_size() {
    const D2D1_SIZE_U size = source_record(chrome.editor)->target->GetPixelSize();
    return {static_cast<LONG>(size.width), static_cast<LONG>(size.height)};
}

std::string text_of(SIZE size) {
    return std::to_string(size.cx) + "x" + std::to_string(size.cy);
}

// How many rows of the preview's pane below `from` (a fraction of its height) show anything but
// the page's background.
int rows_drawn_in_preview(const Picture& picture, double from) {
    RECT pane{};
    GetWindowRect(chrome.preview, &pane);
    MapWindowPoints(nullptr, main_window, reinterpret_cast<POINT*>(&pane), 2);
    const SIZE client = client_size(chrome.preview);
    const auto at = [&](LONG x, LONG y) {
        return picture.pixels[static_cast<std::size_t>(y * picture.width + x)];
    };
    const std::uint32_t background = at(pane.left + 1, pane.top + 1);
    int rows = 0;
    for (LONG y = pane.top + static_cast<LONG>(client.cy * from); y < pane.top + client.cy; ++y) {
        for (LONG x = pane.left; x < pane.left + client.cx; ++x) {
            if (at(x, y) != background) {
                ++rows;
                break;
            }
        }
    }
    return rows;
}

// Whatever a size the window passed through, once it has settled every child shows what a
// fresh paint of the whole window would draw: the pane headers, their buttons, the outline, the
// strips and the page.
TEST_F(ResizePictures, AfterShrinkingAndGrowingTheWindowShowsAFreshPaint) {
    open_split_notes();
    for (const SIZE small : {SIZE{420, 300}, SIZE{700, 500}, SIZE{560, 360}, SIZE{900, 640}}) {
        SCOPED_TRACE("through " + text_of(small));
        settled();
        resize(small.cx, small.cy);
        settled();
        resize(1000, 700);
        settled();
        settle_sizes();
        const Picture shown = settled();
        RedrawWindow(window_, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        const Picture fresh = settled();
        EXPECT_EQ(differences(shown, fresh), "");
    }
}

// Where each size costs memory for good, a run of window sizes leaves the targets at the size
// they had: each pane meanwhile shows its last picture stretched, never a pane cut short nor
// drawn at each size's scale (a scale drawn kept memory too), and once the size settles the
// targets take it and the window shows what a fresh paint draws.
TEST_F(ResizePictures, ARunOfSizesKeepsTheTargetsUntilTheSizeSettles) {
    open_split_notes_held_at(700, 500);
    const SIZE first_editor = client_size(chrome.editor);
    const SIZE first_preview = client_size(chrome.preview);
    EXPECT_EQ(text_of(editor_target_size()), text_of(first_editor));
    EXPECT_EQ(text_of(preview().target_size), text_of(first_preview));
    const int first_rows = rows_drawn_in_preview(read_window(), 0.5);

    for (const SIZE size : {SIZE{760, 540}, SIZE{900, 640}, SIZE{1000, 700}}) {
        SCOPED_TRACE("through " + text_of(size));
        resize(size.cx, size.cy);
        const Picture shown = settled();
        EXPECT_EQ(text_of(editor_target_size()), text_of(first_editor));
        EXPECT_EQ(text_of(preview().target_size), text_of(first_preview));
        float dpi_x = 0.0f;
        float dpi_y = 0.0f;
        source_record(chrome.editor)->target->GetDpi(&dpi_x, &dpi_y);
        EXPECT_FLOAT_EQ(dpi_x, 96.0f);
        EXPECT_FLOAT_EQ(dpi_y, 96.0f);
        // The page's lower half, which the first size's drawing did not reach, is drawn.
        EXPECT_GE(rows_drawn_in_preview(shown, 0.5), first_rows);
    }

    settle_sizes();
    const Picture shown = settled();
    EXPECT_EQ(text_of(editor_target_size()), text_of(client_size(chrome.editor)));
    EXPECT_EQ(text_of(preview().target_size), text_of(client_size(chrome.preview)));
    RedrawWindow(window_, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    EXPECT_EQ(differences(shown, settled()), "");
}

// A size moves the children without drawing them, not even their scroll bars: until the window
// is drawn whole at the new size the screen keeps the last picture, and that drawing equals a
// fresh paint, with no pixel of a child where it stood before.
TEST_F(ResizePictures, ASizeShowsTheLastPictureUntilTheWholeWindowIsDrawn) {
    open_split_notes_held_at(1000, 700);
    RECT blank = editor_place();
    const Picture before = read_window(blank);
    resize(900, 640);
    const RECT moved = editor_place();
    UnionRect(&blank, &blank, &moved);
    const SIZE client = client_size(window_);
    EXPECT_EQ(differences(part(read_window(blank), client.cx, client.cy),
                          part(before, client.cx, client.cy)),
              "");
    const Picture shown = settled();
    RedrawWindow(window_, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    EXPECT_EQ(differences(shown, settled()), "");
}

// A drag in the system's size loop ends with WM_EXITSIZEMOVE: the panes take the last size and
// the whole window is drawn before that message returns, with no wait for the quiet time.
TEST_F(ResizePictures, TheEndOfASizeLoopDrawsTheWholeWindowAtOnce) {
    open_split_notes_held_at(1000, 700);
    SendMessageW(window_, WM_ENTERSIZEMOVE, 0, 0);
    resize(900, 640);
    resize(860, 600);
    settled();
    ASSERT_NE(text_of(preview().target_size), text_of(client_size(chrome.preview)));
    SendMessageW(window_, WM_EXITSIZEMOVE, 0, 0);
    EXPECT_TRUE(nothing_waits_to_be_drawn());
    EXPECT_EQ(text_of(editor_target_size()), text_of(client_size(chrome.editor)));
    EXPECT_EQ(text_of(preview().target_size), text_of(client_size(chrome.preview)));
    const Picture shown = read_window();
    RedrawWindow(window_, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    EXPECT_EQ(differences(shown, settled()), "");
}

// Without a size loop's end, sizes settle once none has followed for a short while.
TEST_F(ResizePictures, SizesSettleOnceNoneFollows) {
    override_targets_wait_for_settled_size(true);
    open_split_notes();
    resize(900, 640);
    EXPECT_TRUE(pump_until([] {
        return text_of(editor_target_size()) == text_of(client_size(chrome.editor)) &&
               text_of(preview().target_size) == text_of(client_size(chrome.preview)) &&
               nothing_waits_to_be_drawn();
    }));
    const Picture shown = read_window();
    RedrawWindow(window_, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    EXPECT_EQ(differences(shown, settled()), "");
}

// A size a pane gets of its own, as a view switch gives it, is one change and one picture: the
// next paint takes it even while a run of window sizes is held.
TEST_F(ResizePictures, AViewSwitchAfterARunOfSizesTakesItsSizesAtOnce) {
    open_split_notes_held_at(700, 500);
    resize(900, 640);
    settled();
    ASSERT_NE(text_of(preview().target_size), text_of(client_size(chrome.preview)));
    select_view(view_preview);
    settled();
    EXPECT_EQ(text_of(preview().target_size), text_of(client_size(chrome.preview)));
    select_view(view_split);
    settled();
    EXPECT_EQ(text_of(editor_target_size()), text_of(client_size(chrome.editor)));
    EXPECT_EQ(text_of(preview().target_size), text_of(client_size(chrome.preview)));
}

// Where sizes cost nothing kept, the targets take every size at once.
TEST_F(ResizePictures, WithoutTheCostTheTargetsTakeEverySize) {
    override_targets_wait_for_settled_size(false);
    open_split_notes();
    for (const SIZE size : {SIZE{700, 500}, SIZE{760, 540}, SIZE{1000, 700}}) {
        SCOPED_TRACE("at " + text_of(size));
        resize(size.cx, size.cy);
        settled();
        EXPECT_EQ(text_of(editor_target_size()), text_of(client_size(chrome.editor)));
        EXPECT_EQ(text_of(preview().target_size), text_of(client_size(chrome.preview)));
    }
}

} // namespace
} // namespace pellix
