#pragma once

// The one preview window of the process: it reads a rendered page back into a preview document,
// lays it out, draws it, and lets the user scroll, select, copy, follow links and see find
// matches. Everything runs on the UI thread. What the preview needs of the main window (colours,
// the scroll profile, the split-view scroll report) comes in through the callbacks below, which
// the main window installs before it shows the preview.

#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/palette_table.h"
#include "markdown/preview_document.h"
#include "platform/com_ptr.h"
#include "platform/dib_surface.h"
#include "platform/size_settling.h"
#include "preview/accessibility_bridge.h"
#include "preview/drawing.h"
#include "preview/layout.h"
#include "preview/view.h"

namespace pellix {

// The stages of the main window's scroll profile that the preview records.
namespace scroll_stage {
inline constexpr int preview_input = 3;
inline constexpr int preview_paint = 4;
} // namespace scroll_stage

// Commands the preview asks the main window to run through its command sink.
namespace preview_command {
inline constexpr unsigned print = 107;
inline constexpr unsigned zoom_in = 306;
inline constexpr unsigned zoom_out = 307;
} // namespace preview_command

using TextRanges = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

// How many pages of the tabs shown before the current one stay laid out: a return to one of
// them shows it without reading and shaping it again, which for a page of long lines in a
// script the fonts lack is slow enough under Wine to see. A page holds at most the preview's
// source limit, so this bounds what they keep.
inline constexpr std::size_t kept_preview_pages = 3;

struct Preview {
    struct Impl {
        // Records one timing sample {stage, start} into the main window's scroll profile; empty
        // while the program runs without profiling.
        std::function<void(int stage, std::chrono::steady_clock::time_point start)> profile;
        HWND parent = nullptr;
        HWND window = nullptr;
        PreviewAccessibility accessibility;
        // The fractional source line at the top of the view, for the split view; may be empty.
        std::function<void(double)> on_scroll;
        std::uint64_t source_line_count = 0;
        std::uint64_t reported_anchor = 0;
        std::uint64_t reported_caret = 0;
        std::function<void(unsigned int)> command;
        // The colours to paint with for a light or dark page: the main window's active table
        // (high contrast whatever the flag says while the system is in that mode).
        std::function<PaintColours(bool dark)> colours;
        // Hands an allowed external link to the shell; the default calls ShellExecuteW "open".
        std::function<void(HWND window, const std::wstring& target)> open_external;
        // Shows the message of a failed input handler; the default is an error box "Preview".
        std::function<void(HWND window, const std::wstring& message)> show_error;
        ComPtr<IDWriteFactory> dwrite_factory;
        ComPtr<ID2D1Factory> d2d_factory;
        // Bound at every paint: to the paint DC, or where targets wait for a settled size to the
        // kept picture (`frame`).
        ComPtr<ID2D1DCRenderTarget> render_target;
        // The size the target was last bound at, and whether a paint binds it at the window's:
        // until it does, the last picture drawn is stretched over the window.
        SIZE target_size{};
        SizeSettling size_settling;
        // That last picture, where targets wait for a settled size: each paint draws into it and
        // copies it to the window.
        std::optional<DibSurface> frame;
        Brushes brushes;
        PreviewDocument document;
        Layout layout;
        std::unordered_map<std::uint64_t, View> views;
        std::uint64_t view_key = 0;
        View view;
        std::string content_html;
        std::u16string find_query;
        TextRanges find_matches;
        bool match_case = false;
        bool whole_word = false;
        bool dark = false;
        bool mouse_down = false;
        bool dragged = false;
        POINT mouse_point{};
        POINT press_point{};
        // Written by the main window's zoom, which then calls relayout_preview.
        double text_scale = 1.0;
        float layout_width = -1.0f;
        float layout_scale = -1.0f;
        // What the scroll bars were last given.
        struct ScrollCache {
            float content_width = -1.0f;
            float extent = -1.0f;
            float view_width = -1.0f;
            float view_height = -1.0f;
            float x = -1.0f;
            float y = -1.0f;
        } scroll_cache;
        bool dirty = true;
        float dpi = 96.0f;
        HRESULT error_code = S_OK;
        std::u16string error_text;
        // The failure came from content the preview could not take: only content it takes ends
        // it. A failed layout or paint ends with the next one that succeeds.
        bool content_failed = false;
        // The page stands aside for the window's empty background while the main window brings
        // another tab's page: this one belongs to the tab that was left.
        bool page_hidden = false;
        std::u16string print_error;
        // A laid-out page set aside when its tab was left, newest first.
        struct KeptPage {
            std::uint64_t view_key = 0;
            std::string content_html;
            PreviewDocument document;
            Layout layout;
            float layout_width = -1.0f;
            float layout_scale = -1.0f;
        };
        std::vector<KeptPage> kept_pages;

        void attach_accessibility();
    };
};

// The preview object of the process; the main window sets its callbacks and `text_scale`.
Preview::Impl& preview();

// Creates the factories, the window class "Pellix.DirectWrite.Preview" and the window as a
// child of `parent`, once; later calls return at once and keep the first command sink.
void create_preview(HWND parent, std::function<void(unsigned int)> command);
// Creates the shared DirectWrite factory and the single-threaded Direct2D factory the preview
// does not have yet; throws "Initialize DirectWrite" or "Initialize Direct2D" with the HRESULT.
void create_preview_factories(Preview::Impl& p);

// The size the preview's window was just given came from its main window's (whose edge a drag
// takes through dozens of sizes): its drawing target keeps its size until the size settles
// (`SizeSettling`).
void hold_preview_target_size(Preview::Impl& p);
// The main window's size has settled: the next paint draws the page at it.
void settle_preview_target_size(Preview::Impl& p);
// Shows a rendered page for the tab `view_key`; an unchanged page and key do nothing.
void set_preview_content(const std::string& page, std::uint64_t view_key,
                         std::uint64_t source_line_count);
// Shows the empty background in place of the page, drawn at once, until `show_preview_page` or
// the next page.
void hide_preview_page();
void show_preview_page();
// Lets go of what the preview keeps for a tab that closed.
void forget_preview_tab(std::uint64_t view_key);
void relayout_preview();
// Fits the preview to its parent's client area. While a size of the main window's moves the
// windows undrawn (`FramesUndrawn`), the page waits for `lay_out_preview_at_size`.
void resize_preview();
// Lays the page out at the preview's width; a failure shows on the page.
void lay_out_preview_at_size();
void destroy_preview();
void set_preview_failure(const std::exception& error);
LRESULT CALLBACK preview_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Whether a rendered page asks for the dark colour scheme in its head.
bool page_is_dark(const std::string& page);

// Scrolling, caret, selection, links and find.
void set_preview_scroll(Preview::Impl& p, float x, float y);
void report_preview_top_line(Preview::Impl& p);
void scroll_preview_to_source_line(double line);
void locate_preview_caret(Preview::Impl& p, std::uint64_t offset);
void set_preview_caret(Preview::Impl& p, std::uint64_t offset, bool extend);
void copy_preview_selection(Preview::Impl& p);
void set_preview_find(const std::u16string& query, bool match_case, bool whole_word);
std::uint64_t hit_test_text(Preview::Impl& p, POINT point, bool leading_only);
std::string preview_link_at(Preview::Impl& p, POINT point);
void open_preview_link(Preview::Impl& p, const std::string& target);
// Writes the view into the memory of the shown tab.
void write_view_record(Preview::Impl& p);

// Every non-overlapping occurrence of `query` in `text`, in order.
TextRanges find_text_matches(const std::u16string& text, const std::u16string& query,
                             bool match_case, bool whole_word);

} // namespace pellix
