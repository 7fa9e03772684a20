#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/document_tabs.h"
#include "app/main_window_state.h"
#include "app/setting_commands.h"
#include "app/settings.h"
#include "editor/source_record.h"
#include "platform/child_surfaces.h"
#include "platform/dib_surface.h"
#include "preview/preview_window.h"
#include "tests/app/open_tabs_window.h"
#include "tests/editor_frame.h"

namespace pellix {
namespace {

constexpr WORD zoom_in_command = 306;
constexpr WORD first_theme_command = 311;
constexpr unsigned light_theme = 1;
constexpr unsigned dark_theme_setting = 2;
// A caret blinking in a pane differs from the settled picture by a few pixels; a pane drawn
// half, empty or with another layout by thousands.
constexpr int tolerated_share = 200;

// What a part of the window shows at one moment: its pixels (none when an editor's frame over it
// could not be read).
using PaneReading = std::vector<std::uint32_t>;
// The whole client area at one moment, as the screen shows it.
struct Reading {
    std::string after; // the message whose end it was read at
    int width = 0;
    std::vector<std::uint32_t> pixels;
    std::vector<RECT> unread; // editors whose frame could not be read

    PaneReading part(const RECT& area) const {
        for (const RECT& editor : unread) {
            RECT common{};
            if (IntersectRect(&common, &editor, &area)) {
                return {};
            }
        }
        PaneReading seen;
        for (LONG y = area.top; y < area.bottom; ++y) {
            for (LONG x = area.left; x < area.right; ++x) {
                seen.push_back(pixels[static_cast<std::size_t>(y * width + x)]);
            }
        }
        return seen;
    }
};

struct Pane {
    std::string name;
    RECT rect; // in the main window's client area (for an editor, its client area)
};

RECT rect_in_main(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, main_window, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

RECT client_in_main(HWND window) {
    RECT rect{};
    GetClientRect(window, &rect);
    MapWindowPoints(window, main_window, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool is_tab_editor(HWND window) {
    for (const auto& tab : tabs) {
        if (tab->editor == window) {
            return true;
        }
    }
    return false;
}

// Reads back the real main window after every paint that reaches it (a retitled button draws
// itself at once, outside any paint) and every editor shown or hidden: the window's own surface
// for the chrome and the preview, and for the editor pane the frame of the topmost editor shown
// there once it has presented one since it was shown. Until then the pane shows what the screen
// showed there when that editor was shown, and with no editor shown the surface: under Wine an
// editor's drawing lives in a window of its own, without a background, which keeps the pixels
// on screen where it appears until it presents (captures of the real program show it), and a
// hidden one uncovers the main window's surface.
class SwitchPictures : public test::OpenTabsWindow {
protected:
    SwitchPictures() : OpenTabsWindow("switch-pictures") {}

    void SetUp() override {
        OpenTabsWindow::SetUp();
        show_on_screen();
        watching = this;
        hook_ = SetWindowsHookExW(WH_CALLWNDPROCRET, after_message, nullptr, GetCurrentThreadId());
        ASSERT_NE(hook_, nullptr);
    }

    void TearDown() override {
        override_child_drawing_apart(std::nullopt);
        UnhookWindowsHookEx(hook_);
        watching = nullptr;
        OpenTabsWindow::TearDown();
    }

    static LRESULT CALLBACK after_message(int code, WPARAM wparam, LPARAM lparam) {
        const auto* sent = reinterpret_cast<const CWPRETSTRUCT*>(lparam);
        if (code == HC_ACTION && watching != nullptr) {
            watching->note(sent->hwnd, sent->message, sent->wParam, sent->lParam);
        }
        return CallNextHookEx(nullptr, code, wparam, lparam);
    }

    void note(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
        const UINT flags =
            message == WM_WINDOWPOSCHANGED ? reinterpret_cast<const WINDOWPOS*>(lparam)->flags : 0;
        const bool shown =
            (message == WM_SHOWWINDOW && wparam != 0) || (flags & SWP_SHOWWINDOW) != 0;
        if (shown && !held_.contains(window)) {
            presented_[window] = false;
            if (recording_ && is_tab_editor(window)) {
                held_[window] = {client_in_main(window), compose("", window).pixels};
            }
        }
        if ((flags & SWP_HIDEWINDOW) != 0) {
            held_.erase(window);
        }
        if (message == WM_PAINT) {
            presented_[window] = true;
        }
        // A button draws itself at once when retitled, and an owner-drawn one whenever its owner
        // is asked to draw it; a child hidden or moved erases the main window under it at once
        // unless told not to; an editor shown or hidden changes what covers the surface.
        const bool paints = message == WM_PAINT || message == WM_SETTEXT ||
                            message == WM_DRAWITEM ||
                            (message == WM_ERASEBKGND && window == main_window) ||
                            (is_tab_editor(window) && (shown || (flags & SWP_HIDEWINDOW) != 0));
        if (recording_ && paints && (window == main_window || IsChild(main_window, window))) {
            read(message, window);
        }
    }

    // The tab editors shown, topmost first.
    static std::vector<HWND> editors_shown() {
        std::vector<HWND> shown;
        for (HWND child = GetWindow(main_window, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            if (is_tab_editor(child) && IsWindowVisible(child)) {
                shown.push_back(child);
            }
        }
        return shown;
    }

    void read(UINT message, HWND window) {
        wchar_t name[64]{};
        GetClassNameW(window, name, 64);
        std::ostringstream after;
        after << "message 0x" << std::hex << message << " of a "
              << std::string(name, name + wcslen(name));
        readings_.push_back(compose(after.str(), nullptr));
    }

    // The window as the screen shows it now, leaving out the editor `except`.
    Reading compose(const std::string& after, HWND except) {
        RECT client{};
        GetClientRect(main_window, &client);
        Reading reading{after, client.right, {}, {}};
        DibSurface surface(client.right, client.bottom);
        HDC dc = GetDCEx(main_window, nullptr, DCX_CACHE);
        BitBlt(surface.dc(), 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
        ReleaseDC(main_window, dc);
        reading.pixels.resize(static_cast<std::size_t>(client.right * client.bottom));
        for (LONG y = 0; y < client.bottom; ++y) {
            for (LONG x = 0; x < client.right; ++x) {
                reading.pixels[static_cast<std::size_t>(y * client.right + x)] =
                    surface.pixel(x, y);
            }
        }
        // Each editor that has presented since it was shown covers the surface with its frame,
        // the lowest first.
        const std::vector<HWND> shown = editors_shown();
        for (auto editor = shown.rbegin(); editor != shown.rend(); ++editor) {
            if (*editor == except) {
                continue;
            }
            if (!presented_[*editor]) {
                keep_held_pixels(reading, *editor);
                continue;
            }
            const RECT place = client_in_main(*editor);
            const test::FramePixels frame(*editor);
            if (!frame.copied()) {
                reading.unread.push_back(place);
                continue;
            }
            for (LONG y = std::max(0L, place.top); y < std::min(client.bottom, place.bottom); ++y) {
                for (LONG x = std::max(0L, place.left); x < std::min(client.right, place.right);
                     ++x) {
                    reading.pixels[static_cast<std::size_t>(y * client.right + x)] =
                        frame.at(x - place.left, y - place.top);
                }
            }
        }
        return reading;
    }

    // Until it presents, an editor shown keeps what the screen showed in its place.
    void keep_held_pixels(Reading& reading, HWND editor) const {
        const auto held = held_.find(editor);
        if (held == held_.end()) {
            return;
        }
        const auto& [place, pixels] = held->second;
        const LONG width = reading.width;
        const auto height = static_cast<LONG>(reading.pixels.size() / width);
        for (LONG y = std::max(0L, place.top); y < std::min(height, place.bottom); ++y) {
            for (LONG x = std::max(0L, place.left); x < std::min(width, place.right); ++x) {
                const auto at = static_cast<std::size_t>(y * width + x);
                reading.pixels[at] = pixels[at];
            }
        }
    }

    // The panes the window shows now.
    static std::vector<Pane> panes_now() {
        std::vector<Pane> panes;
        if (IsWindowVisible(chrome.editor)) {
            panes.push_back({"editor", client_in_main(chrome.editor)});
            panes.push_back({"editor's scroll bars", rect_in_main(chrome.editor)});
        }
        if (preview().window != nullptr && IsWindowVisible(preview().window)) {
            // The bottom strip where the preview's horizontal bar shows while a narrowed window
            // still holds the wider page is a scroll bar's strip too.
            RECT page = client_in_main(preview().window);
            page.bottom -= GetSystemMetrics(SM_CYHSCROLL);
            panes.push_back({"preview", page});
            panes.push_back({"preview's scroll bars", rect_in_main(preview().window)});
        }
        panes.push_back({"tab strip", rect_in_main(chrome.tab_control)});
        panes.push_back({"status strip", rect_in_main(chrome.status_strip)});
        // The headers and the outline's strip: each control draws itself whole at once.
        const std::pair<const char*, HWND> headers[] = {
            {"source header", chrome.source_label},   {"source hide button", chrome.hide_source},
            {"preview header", chrome.preview_label}, {"preview hide button", chrome.hide_preview},
            {"outline header", chrome.outline_label}, {"headings button", chrome.headings_button},
            {"tasks button", chrome.tasks_button},    {"outline options", chrome.outline_options},
            {"outline", chrome.outline_tree}};
        for (const auto& [name, window] : headers) {
            if (window != nullptr && IsWindowVisible(window)) {
                panes.push_back({name, rect_in_main(window)});
            }
        }
        return panes;
    }

    // The parts a switch between two layouts cuts the panes of either into: each lies in one
    // pane of the old layout and one of the new (or none), so each must go from the old tab's
    // picture to the new one's at once. Strips no wider than a scroll bar are left out: the
    // splitter, and the scroll bars, whose thumbs follow each pane's scroll state as it is set.
    static std::vector<Pane> parts_of(const std::vector<Pane>& old_panes,
                                      const std::vector<Pane>& new_panes) {
        const LONG sliver =
            std::max(GetSystemMetrics(SM_CXVSCROLL), GetSystemMetrics(SM_CYHSCROLL)) + 1;
        std::vector<LONG> xs;
        std::vector<LONG> ys;
        for (const auto* panes : {&old_panes, &new_panes}) {
            for (const Pane& pane : *panes) {
                xs.insert(xs.end(), {pane.rect.left, pane.rect.right});
                ys.insert(ys.end(), {pane.rect.top, pane.rect.bottom});
            }
        }
        for (auto* edges : {&xs, &ys}) {
            std::sort(edges->begin(), edges->end());
            edges->erase(std::unique(edges->begin(), edges->end()), edges->end());
        }
        auto pane_at = [](const std::vector<Pane>& panes, POINT point) -> std::string {
            for (const Pane& pane : panes) {
                if (PtInRect(&pane.rect, point)) {
                    return pane.name;
                }
            }
            return "-";
        };
        std::vector<Pane> parts;
        for (std::size_t i = 0; i + 1 < xs.size(); ++i) {
            for (std::size_t j = 0; j + 1 < ys.size(); ++j) {
                const RECT cell{xs[i], ys[j], xs[i + 1], ys[j + 1]};
                if (cell.right - cell.left < sliver || cell.bottom - cell.top < sliver) {
                    continue;
                }
                const POINT middle{(cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2};
                const std::string was = pane_at(old_panes, middle);
                const std::string is = pane_at(new_panes, middle);
                if (was != "-" || is != "-") {
                    std::ostringstream name;
                    name << "part (" << cell.left << ", " << cell.top << ")-(" << cell.right << ", "
                         << cell.bottom << ") of the old " << was << " and the new " << is;
                    parts.push_back({name.str(), cell});
                }
            }
        }
        return parts;
    }

    static bool nothing_waits_to_be_drawn() {
        RECT waiting{};
        for (HWND window : {main_window, chrome.editor, preview().window, chrome.tab_control,
                            chrome.status_strip}) {
            if (window != nullptr && GetUpdateRect(window, &waiting, FALSE)) {
                return false;
            }
        }
        return !source_record(chrome.editor)->budget.timer_set;
    }

    // The picture once the window has settled: what each pane shows for good.
    Reading settled() {
        EXPECT_TRUE(pump_until(nothing_waits_to_be_drawn));
        readings_.clear();
        read(0, main_window);
        return readings_.back();
    }

    // The window read at every step of `act` and of the drawing that follows it.
    std::vector<Reading> readings_through(const std::function<void()>& act) {
        readings_.clear();
        recording_ = true;
        act();
        test::pump_until(nothing_waits_to_be_drawn);
        recording_ = false;
        return std::move(readings_);
    }

    // Switches to tab `index` as the strip does, reading the window at every step until it has
    // settled; every reading of every part of the window must be the old tab's picture there or
    // the new tab's.
    void expect_one_picture_at_a_time(int index, const std::string& trace) {
        SCOPED_TRACE(trace);
        const Reading before = settled();
        const std::vector<Pane> old_panes = panes_now();
        const std::vector<Reading> steps = readings_through([&] { choose_in_strip(index); });
        const Reading after = settled();
        ASSERT_EQ(current_tab().id, tabs[static_cast<std::size_t>(index)]->id);
        ASSERT_FALSE(steps.empty());
        ASSERT_GT(differing(before.pixels, after.pixels),
                  static_cast<int>(after.pixels.size()) / tolerated_share)
            << "the two tabs look alike";
        for (const Pane& part : parts_of(old_panes, panes_now())) {
            const PaneReading old_picture = before.part(part.rect);
            const PaneReading new_picture = after.part(part.rect);
            ASSERT_FALSE(old_picture.empty() || new_picture.empty()) << part.name;
            const int tolerated = static_cast<int>(new_picture.size()) / tolerated_share;
            for (std::size_t s = 0; s < steps.size(); ++s) {
                const PaneReading seen = steps[s].part(part.rect);
                if (seen.empty()) {
                    ADD_FAILURE() << "step " << s << ", after " << steps[s].after << ": the "
                                  << part.name << " could not be read";
                    break;
                }
                const int from_old = differing(seen, old_picture);
                const int from_new = differing(seen, new_picture);
                if (from_old > tolerated && from_new > tolerated) {
                    ADD_FAILURE() << "step " << s << ", after " << steps[s].after << ": the "
                                  << part.name << " differs from the old tab's picture by "
                                  << from_old << " pixels and from the new tab's by " << from_new;
                    break;
                }
            }
        }
    }

    // Whether `seen` is the new picture and not the old one.
    static bool shows_new(const PaneReading& seen, const PaneReading& old_picture,
                          const PaneReading& new_picture) {
        const int tolerated = static_cast<int>(new_picture.size()) / tolerated_share;
        return differing(seen, new_picture) <= tolerated &&
               differing(seen, old_picture) > tolerated;
    }

    // Changes the view of the active tab as the switcher does, reading the window at every step;
    // no header, hide button or switcher button of the new layout may show its new picture while
    // the page, drawn first, still shows another.
    void expect_headers_after_the_page(int view, const std::string& trace) {
        SCOPED_TRACE(trace);
        const Reading before = settled();
        const std::vector<Reading> steps = readings_through([&] { select_view(view); });
        const Reading after = settled();
        ASSERT_TRUE(IsWindowVisible(preview().window));
        const RECT page = client_in_main(preview().window);
        const PaneReading old_page = before.part(page);
        const PaneReading new_page = after.part(page);
        ASSERT_GT(differing(old_page, new_page),
                  static_cast<int>(new_page.size()) / tolerated_share)
            << "the page looks as it did";
        const std::pair<const char*, HWND> controls[] = {
            {"source header", chrome.source_label},
            {"source hide button", chrome.hide_source},
            {"preview header", chrome.preview_label},
            {"preview hide button", chrome.hide_preview}};
        std::vector<std::pair<std::string, HWND>> shown(std::begin(controls), std::end(controls));
        for (HWND button = GetWindow(chrome.view_switcher, GW_CHILD); button != nullptr;
             button = GetWindow(button, GW_HWNDNEXT)) {
            shown.emplace_back("view switcher's button", button);
        }
        for (const auto& [name, window] : shown) {
            if (!IsWindowVisible(window)) {
                continue;
            }
            const RECT place = rect_in_main(window);
            const PaneReading old_control = before.part(place);
            const PaneReading new_control = after.part(place);
            for (std::size_t s = 0; s < steps.size(); ++s) {
                if (shows_new(steps[s].part(place), old_control, new_control) &&
                    !shows_new(steps[s].part(page), old_page, new_page)) {
                    ADD_FAILURE() << "step " << s << ", after " << steps[s].after << ": the new "
                                  << name << " is drawn before the page";
                    break;
                }
            }
        }
    }

    static int differing(const PaneReading& a, const PaneReading& b) {
        if (a.size() != b.size()) {
            return static_cast<int>(std::max(a.size(), b.size()));
        }
        int count = 0;
        for (std::size_t i = 0; i < a.size(); ++i) {
            count += a[i] != b[i] ? 1 : 0;
        }
        return count;
    }

    void use_theme(unsigned theme) {
        SendMessageW(window_, WM_COMMAND, MAKEWPARAM(first_theme_command + theme, 0), 0);
    }

    // Tabs whose every row holds text of its own, each in `view`, all shown once.
    void open_tabs_in_view(int count, int view) {
        const char* words[] = {"alpha", "bravo", "charlie", "delta", "echo"};
        for (int t = 0; t < count; ++t) {
            std::string text = std::string("# ") + words[t] + "\n";
            for (int i = 0; i < 40 + 3 * t; ++i) {
                text += std::string(static_cast<std::size_t>(t + 1), '*') + words[t] + " line " +
                        std::to_string(i * (t + 3)) + " " +
                        std::string(words[t]).append(i % 7, 'x') + "\n";
            }
            open_path(file(std::string(words[t]) + ".md", text));
            select_view(view);
        }
    }

    inline static SwitchPictures* watching = nullptr;
    HHOOK hook_ = nullptr;
    bool recording_ = false;
    std::map<HWND, bool> presented_;
    // What the screen showed in the place of each editor shown and not yet hidden, when it was
    // shown (its place, and the whole window's pixels).
    std::map<HWND, std::pair<RECT, std::vector<std::uint32_t>>> held_;
    std::vector<Reading> readings_;
};

// In each view and theme: a switch back to the tab left last (its editor's drawing and its page
// kept), and a switch to a tab shown long ago (both made anew).
TEST_F(SwitchPictures, EachPaneShowsTheOldTabOrTheNewWholeThroughASwitch) {
    constexpr int count = 5;
    for (const int view : {view_split, view_source, view_preview}) {
        for (const unsigned theme : {light_theme, dark_theme_setting}) {
            std::ostringstream trace;
            trace << "view " << view << ", theme " << theme;
            use_theme(theme);
            // The last one closed leaves a fresh untitled tab, which the first file fills.
            while (tabs.size() > 1 || !current_tab().path.empty()) {
                close_current_tab([] { return true; });
            }
            open_tabs_in_view(count, view);
            expect_one_picture_at_a_time(count - 2, trace.str() + ", to the tab left last");
            const Source& first = *source_record(tabs.front()->editor);
            EXPECT_TRUE(pump_until([&] { return !first.target; }));
            expect_one_picture_at_a_time(0, trace.str() + ", to a tab shown long ago");
        }
    }
}

// Between tabs in different views: a Markdown tab in Source, one in Split, one in Preview and a
// plain-text tab, each change of view taken once (each from, each to), in both themes, the dark
// one with the outline shown beside the Markdown tabs.
TEST_F(SwitchPictures, EachPartShowsTheOldTabOrTheNewThroughEveryChangeOfView) {
    constexpr int source_tab = 0;
    constexpr int split_tab = 1;
    constexpr int preview_tab = 2;
    constexpr int plain_tab = 3;
    // Each of the twelve ordered pairs of the four once.
    constexpr int round[] = {split_tab,   preview_tab, plain_tab, source_tab,
                             preview_tab, split_tab,   plain_tab, preview_tab,
                             source_tab,  plain_tab,   split_tab, source_tab};
    const char* names[] = {"source", "split", "preview", "plain"};
    for (const unsigned theme : {light_theme, dark_theme_setting}) {
        use_theme(theme);
        while (tabs.size() > 1 || !current_tab().path.empty()) {
            close_current_tab([] { return true; });
        }
        const char* words[] = {"alpha", "bravo", "charlie", "delta"};
        for (int t = 0; t < 4; ++t) {
            std::string text = std::string("# ") + words[t] + "\n";
            for (int i = 0; i < 40 + 5 * t; ++i) {
                text += std::string(static_cast<std::size_t>(t + 1), '-') + " " + words[t] +
                        " line " + std::to_string(i * (t + 2)) + " " +
                        std::string(words[t]).append(i % 5, 'z') + "\n";
            }
            open_path(file(std::string(words[t]) + (t == plain_tab ? ".txt" : ".md"), text));
            select_view(t == split_tab     ? view_split
                        : t == preview_tab ? view_preview
                                           : view_source);
        }
        choose_in_strip(source_tab);
        if (settings.outline != (theme == dark_theme_setting)) {
            toggle_outline_pane();
        }
        int from = source_tab;
        for (const int to : round) {
            std::ostringstream trace;
            trace << "theme " << theme << ", from the " << names[from] << " tab to the "
                  << names[to] << " tab";
            expect_one_picture_at_a_time(to, trace.str());
            from = to;
        }
    }
}

// A hide button or a switcher's button enabled, disabled or checked by a change of view is drawn
// with the headers after the page, not at once beside the old layout.
TEST_F(SwitchPictures, TheNewLayoutsHeadersAndSwitcherAreDrawnAfterItsPage) {
    for (const unsigned theme : {light_theme, dark_theme_setting}) {
        use_theme(theme);
        open_tabs_in_view(1, view_source);
        const std::string trace = "theme " + std::to_string(theme);
        expect_headers_after_the_page(view_split, trace + ", from Source to Split");
        expect_headers_after_the_page(view_preview, trace + ", from Split to Preview");
        expect_headers_after_the_page(view_split, trace + ", from Preview to Split");
        close_current_tab([] { return true; });
    }
}

// The status strip of a UTF-16 LE file with CR LF line ends and of a UTF-8 file with LF, zoomed:
// its buttons change their texts and places at every switch.
TEST_F(SwitchPictures, TheStatusStripShowsOneTabsItemsInTheThemesColours) {
    std::u16string wide = u"# Wide\r\n";
    std::string narrow = "# Narrow\n";
    for (int i = 0; i < 30; ++i) {
        wide += u"wide text line of the first file\r\n";
        narrow += "narrow " + std::to_string(i) + "\n";
    }
    std::string bytes = "\xFF\xFE";
    for (const char16_t unit : wide) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    open_path(file("wide.md", bytes));
    open_path(file("narrow.md", narrow));
    select_view(view_source);
    for (const unsigned theme : {dark_theme_setting, light_theme}) {
        use_theme(theme);
        settings.font_size = 12;
        SendMessageW(window_, WM_COMMAND, MAKEWPARAM(zoom_in_command, 0), 0);
        SendMessageW(window_, WM_COMMAND, MAKEWPARAM(zoom_in_command, 0), 0);
        ASSERT_EQ(settings.font_size, 14);
        for (const int index : {0, 1, 0, 1}) {
            expect_one_picture_at_a_time(index, "theme " + std::to_string(theme) + ", to tab " +
                                                    std::to_string(index));
        }
    }
}

// Messages after which the preview showed a horizontal scroll bar.
int horizontal_bar_moments = 0;
LRESULT CALLBACK note_horizontal_bar(int code, WPARAM wparam, LPARAM lparam) {
    const HWND page = preview().window;
    if (code == HC_ACTION && page != nullptr && IsWindowVisible(page) &&
        (GetWindowLongPtrW(page, GWL_STYLE) & WS_HSCROLL) != 0) {
        ++horizontal_bar_moments;
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

// A page kept while its tab was away, at a width the pane no longer has, is laid out for the
// pane before its scroll bars are set: set first, they offered the old width, and a narrower pane
// showed a horizontal bar over the old picture for as long as the layout took.
TEST_F(SwitchPictures, APageKeptAtAnotherWidthComesBackWithoutAHorizontalBar) {
    open_tabs_in_view(2, view_split);
    choose_in_strip(0);
    ASSERT_TRUE(pump_until(nothing_waits_to_be_drawn));
    choose_in_strip(1);
    RECT window{};
    GetWindowRect(window_, &window);
    SetWindowPos(window_, nullptr, 0, 0, (window.right - window.left) * 2 / 3,
                 window.bottom - window.top, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    ASSERT_TRUE(pump_until(nothing_waits_to_be_drawn));
    horizontal_bar_moments = 0;
    HHOOK hook =
        SetWindowsHookExW(WH_CALLWNDPROCRET, note_horizontal_bar, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    choose_in_strip(0);
    ASSERT_TRUE(pump_until(nothing_waits_to_be_drawn));
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(horizontal_bar_moments, 0);
}

// What reached the main window and the page, in turn: 't' for a title set, 'p' for a paint of
// the page.
std::string titles_and_pages;
LRESULT CALLBACK note_titles_and_pages(int code, WPARAM wparam, LPARAM lparam) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lparam);
    if (code == HC_ACTION && sent->message == WM_SETTEXT && sent->hwnd == main_window) {
        titles_and_pages += 't';
    }
    if (code == HC_ACTION && sent->message == WM_PAINT && sent->hwnd == preview().window) {
        titles_and_pages += 'p';
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

// A title set repaints the window's frame, menu bar included: a switch sets the new one once, after
// the page, and a change of view, which keeps it, sets none.
TEST_F(SwitchPictures, TheTitleIsSetOnceAfterThePageAndOnlyWhenItChanges) {
    open_tabs_in_view(2, view_split);
    choose_in_strip(0);
    ASSERT_TRUE(pump_until(nothing_waits_to_be_drawn));
    HHOOK hook =
        SetWindowsHookExW(WH_CALLWNDPROC, note_titles_and_pages, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    titles_and_pages.clear();
    choose_in_strip(1);
    ASSERT_TRUE(pump_until(nothing_waits_to_be_drawn));
    const std::string switched = titles_and_pages;
    titles_and_pages.clear();
    select_view(view_source);
    select_view(view_split);
    ASSERT_TRUE(pump_until(nothing_waits_to_be_drawn));
    const std::string viewed = titles_and_pages;
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(std::count(switched.begin(), switched.end(), 't'), 1) << switched;
    EXPECT_LT(switched.find('p'), switched.find('t')) << switched;
    EXPECT_EQ(viewed.find('t'), std::string::npos) << viewed;
    wchar_t title[64]{};
    GetWindowTextW(main_window, title, 64);
    EXPECT_STREQ(title, L"bravo.md - Pellix");
}

// What was drawn in turn: 'e' for the active editor, 'h' for a pane header or its hide button.
std::string editors_and_headers;
LRESULT CALLBACK note_editors_and_headers(int code, WPARAM wparam, LPARAM lparam) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lparam);
    if (code == HC_ACTION && sent->message == WM_PAINT) {
        if (sent->hwnd == chrome.editor) {
            editors_and_headers += 'e';
        }
        for (HWND header :
             {chrome.source_label, chrome.hide_source, chrome.preview_label, chrome.hide_preview}) {
            editors_and_headers += sent->hwnd == header ? "h" : "";
        }
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

// Between a Split tab and a Source tab the headers change: they are drawn once the entered
// editor is, never over the old tab's panes before it.
TEST_F(SwitchPictures, TheHeadersOfASwitchAreDrawnAfterTheEnteredEditor) {
    open_tabs_in_view(2, view_split);
    select_view(view_source);
    for (const int index : {0, 1, 0}) {
        ASSERT_TRUE(pump_until(nothing_waits_to_be_drawn));
        HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, note_editors_and_headers, nullptr,
                                       GetCurrentThreadId());
        ASSERT_NE(hook, nullptr);
        editors_and_headers.clear();
        choose_in_strip(index);
        ASSERT_TRUE(pump_until(nothing_waits_to_be_drawn));
        UnhookWindowsHookEx(hook);
        SCOPED_TRACE(index);
        ASSERT_NE(editors_and_headers.find('h'), std::string::npos) << editors_and_headers;
        EXPECT_LT(editors_and_headers.find('e'), editors_and_headers.find('h'))
            << editors_and_headers;
    }
}

// A window whose hides are refused, as a shell hook or a failing window manager may refuse them;
// it notes what it was last told of its showing.
WNDPROC refusing_proc_base = nullptr;
std::optional<bool> told_shown;
LRESULT CALLBACK refuse_hide(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_WINDOWPOSCHANGING) {
        reinterpret_cast<WINDOWPOS*>(lparam)->flags &= ~static_cast<UINT>(SWP_HIDEWINDOW);
    }
    if (message == WM_SHOWWINDOW) {
        told_shown = wparam != 0;
    }
    return CallWindowProcW(refusing_proc_base, window, message, wparam, lparam);
}

// The editors of the tabs told they were shown (true) or hidden, in turn.
std::vector<std::pair<HWND, bool>> shows_told;
LRESULT CALLBACK note_show(int code, WPARAM wparam, LPARAM lparam) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lparam);
    if (code == HC_ACTION && sent->message == WM_SHOWWINDOW && is_tab_editor(sent->hwnd)) {
        shows_told.emplace_back(sent->hwnd, sent->wParam != 0);
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

// Where a child's drawing is part of its top-level window's surface, the editor left stays on
// screen by itself once hidden, and is hidden before the entered one is shown. Where it lives
// apart, the entered editor is shown first, keeping the screen's pixels until it presents, and
// the editor left is hidden before the entered one paints. No paint reads its frame back.
TEST_F(SwitchPictures, TheEnteredEditorIsShownFirstOnlyWhereChildDrawingLivesApart) {
    open_tabs_in_view(2, view_source);
    const std::uint64_t first_read = source_record(tabs[0]->editor)->frames_read;
    const std::uint64_t second_read = source_record(tabs[1]->editor)->frames_read;
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, note_show, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    for (const bool apart : {false, true}) {
        SCOPED_TRACE(apart);
        override_child_drawing_apart(apart);
        const HWND left = chrome.editor;
        const HWND entered = tabs[left == tabs[0]->editor ? 1 : 0]->editor;
        SendMessageW(left, WM_CHAR, L'x', 0);
        UpdateWindow(left);
        shows_told.clear();
        choose_in_strip(left == tabs[0]->editor ? 1 : 0);
        ASSERT_TRUE(pump_until(nothing_waits_to_be_drawn));
        const std::vector<std::pair<HWND, bool>> expected =
            apart ? std::vector<std::pair<HWND, bool>>{{entered, true}, {left, false}}
                  : std::vector<std::pair<HWND, bool>>{{left, false}, {entered, true}};
        EXPECT_EQ(shows_told, expected);
        EXPECT_FALSE(IsWindowVisible(left));
    }
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(source_record(tabs[0]->editor)->frames_read, first_read);
    EXPECT_EQ(source_record(tabs[1]->editor)->frames_read, second_read);
}

// A hide that does not happen leaves the editor shown and knowing it: told it was hidden, it
// joined the editors that keep their drawing a while and let go of it, and pushed out of them
// one that was really hidden.
TEST_F(SwitchPictures, AnEditorWhoseHideFailedIsNotLeftBelievingItHidden) {
    for (const int view : {view_source, view_split}) {
        SCOPED_TRACE(view);
        while (tabs.size() > 1 || !current_tab().path.empty()) {
            close_current_tab([] { return true; });
        }
        open_tabs_in_view(2, view);
        const HWND stuck = tabs[1]->editor;
        told_shown.reset();
        refusing_proc_base = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(stuck, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(refuse_hide)));
        choose_in_strip(0);
        ASSERT_TRUE(pump_until(nothing_waits_to_be_drawn));
        SetWindowLongPtrW(stuck, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(refusing_proc_base));
        EXPECT_TRUE(IsWindowVisible(stuck));
        EXPECT_NE(told_shown, std::optional<bool>(false));
        ShowWindow(stuck, SW_HIDE);
    }
}

} // namespace
} // namespace pellix
