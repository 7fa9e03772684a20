#include "preview/preview_window.h"

#include <shellapi.h>
#include <uxtheme.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <stdexcept>

#include "core/encoding.h"
#include "core/message_box.h"
#include "markdown/preview_markup.h"
#include "platform/dib_surface.h"
#include "platform/frames_undrawn.h"
#include "preview/preview_input.h"
#include "preview/text_pieces.h"

namespace pellix {
namespace {

constexpr wchar_t class_name[] = L"Pellix.DirectWrite.Preview";
constexpr wchar_t window_title[] = L"Markdown preview";
constexpr DWORD window_style = WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP;
constexpr int max_layout_passes = 4;
constexpr float same_size_tolerance = 0.5f;
constexpr int failure_text_inset = 16;
constexpr float caret_width = 1.0f;
constexpr LRESULT dialog_codes = DLGC_WANTARROWS | DLGC_WANTCHARS;

void open_with_shell(HWND window, const std::wstring& target) {
    ShellExecuteW(window, L"open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void show_error_box(HWND window, const std::wstring& message) {
    message_box(GetAncestor(window, GA_ROOT), message, L"Preview", MB_ICONERROR);
}

Preview::Impl the_preview;

const bool shell_defaults_installed = [] {
    the_preview.open_external = open_with_shell;
    the_preview.show_error = show_error_box;
    return true;
}();

// An exception's message for the user; messages of the program are UTF-8, anything that is not
// is shown byte by byte rather than lost.
std::u16string message_of(const std::exception& error) {
    const std::string text = error.what();
    try {
        return utf8_to_utf16(text);
    } catch (const std::exception&) {
        return std::u16string(text.begin(), text.end());
    }
}

std::wstring wide(const std::u16string& text) {
    return std::wstring(text.begin(), text.end());
}

PaintColours colours_for(const Preview::Impl& p, bool dark) {
    return p.colours ? p.colours(dark) : PaintColours{};
}

D2D1_COLOR_F colour_f(std::uint32_t rgb) {
    return D2D1::ColorF(static_cast<float>((rgb >> 16) & 0xFF) / 255.0f,
                        static_cast<float>((rgb >> 8) & 0xFF) / 255.0f,
                        static_cast<float>(rgb & 0xFF) / 255.0f, 1.0f);
}

void register_preview_class() {
    const WNDCLASSW window_class{
        .style = CS_DBLCLKS,
        .lpfnWndProc = preview_proc,
        .cbClsExtra = 0,
        .cbWndExtra = 0,
        .hInstance = GetModuleHandleW(nullptr),
        .hIcon = nullptr,
        .hCursor = LoadCursorW(nullptr, IDC_IBEAM),
        .hbrBackground = nullptr,
        .lpszMenuName = nullptr,
        .lpszClassName = class_name,
    };
    if (RegisterClassW(&window_class) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        throw std::runtime_error("Register native preview window");
    }
}

void create_window(Preview::Impl& p) {
    HWND window = CreateWindowExW(0, class_name, window_title, window_style, 0, 0, 1, 1, p.parent,
                                  nullptr, GetModuleHandleW(nullptr), &p);
    if (!window) {
        throw std::runtime_error("Create native preview window");
    }
}

void clear_failure(Preview::Impl& p) {
    p.error_code = S_OK;
    p.error_text.clear();
    p.content_failed = false;
}

void apply_scroll_bar_theme(Preview::Impl& p) {
    const bool dark_bars = p.dark && !colours_for(p, p.dark).high_contrast;
    SetWindowTheme(p.window, dark_bars ? L"DarkMode_Explorer" : L"Explorer", nullptr);
}

// Shows `document` and hands the one shown before back in it.
void take_content(Preview::Impl& p, PreviewDocument& document, const std::string& page,
                  std::uint64_t view_key) {
    write_view_record(p);
    if (view_key != p.view_key) {
        p.view = p.views[view_key];
        p.view_key = view_key;
    }
    std::swap(p.document, document);
    p.dirty = true;
    p.content_html = page;
    p.dark = page_is_dark(page);
    apply_scroll_bar_theme(p);
    p.view.anchor = 0;
    p.view.caret = 0;
    p.find_matches.clear();
    if (!p.find_query.empty()) {
        p.find_matches =
            find_text_matches(p.document.text, p.find_query, p.match_case, p.whole_word);
    }
}

// Sets the page shown aside for a return to its tab, when it is laid out for what it shows.
void keep_shown_page(Preview::Impl& p) {
    if (p.dirty || p.error_code < 0 || p.content_html.empty()) {
        return;
    }
    auto& kept = p.kept_pages;
    kept.insert(kept.begin(), {.view_key = p.view_key,
                               .content_html = std::exchange(p.content_html, {}),
                               .document = std::exchange(p.document, {}),
                               .layout = std::exchange(p.layout, {}),
                               .layout_width = p.layout_width,
                               .layout_scale = p.layout_scale});
    if (kept.size() > kept_preview_pages) {
        kept.pop_back();
    }
    p.dirty = true;
}

std::optional<Preview::Impl::KeptPage> take_kept_page(Preview::Impl& p, std::uint64_t view_key) {
    auto& kept = p.kept_pages;
    const auto found = std::find_if(kept.begin(), kept.end(),
                                    [&](const auto& page) { return page.view_key == view_key; });
    if (found == kept.end()) {
        return std::nullopt;
    }
    std::optional<Preview::Impl::KeptPage> page(std::move(*found));
    kept.erase(found);
    return page;
}

// Makes the kept page's layout the current one, as if its tab had never been left.
void restore_layout(Preview::Impl& p, Preview::Impl::KeptPage& kept) {
    p.layout = std::move(kept.layout);
    p.layout_width = kept.layout_width;
    p.layout_scale = kept.layout_scale;
    p.dirty = false;
}

// Whether the layout was built for the page, the width and the scale shown now.
bool layout_current(const Preview::Impl& p) {
    return !p.dirty &&
           std::fabs(p.layout_width - view_width(p.window, p.dpi)) < same_size_tolerance &&
           static_cast<float>(p.text_scale) == p.layout_scale;
}

// A page kept at another width gets its scroll bars from the layout that follows: given them
// now, a pane narrower than the page showed a horizontal bar for as long as that layout took.
void show_kept_page(Preview::Impl& p, Preview::Impl::KeptPage& kept) {
    take_content(p, kept.document, kept.content_html, kept.view_key);
    restore_layout(p, kept);
    // The scroll bars were last given another page.
    p.scroll_cache.content_width = -1.0f;
    if (layout_current(p)) {
        set_preview_scroll(p, p.view.scroll_x, p.view.scroll_y);
    }
}

float client_height_dips(const Preview::Impl& p) {
    return view_height(p.window, p.dpi);
}

// What the top of the view shows, held across a layout of the same page at another width or
// scale: the block there and the row of it, by its first character, so that the reader's
// place stays at the top while every block above it grows or shrinks.
struct TopAnchor {
    std::size_t block = 0;
    std::optional<std::uint64_t> row_start; // none for a rule, or a top below the text
    float below = 0;                        // from the row's (or block's) top to the view's
};

// The rows of block `i`, which the layout lists together in document order.
std::pair<const LayoutLine*, const LayoutLine*> rows_of(const Layout& layout, std::size_t i) {
    const auto& lines = layout.lines;
    const auto by_block = [](const LayoutLine& line, std::size_t block) {
        return line.block < block;
    };
    const auto first = std::lower_bound(lines.begin(), lines.end(), i, by_block);
    const auto last = std::lower_bound(first, lines.end(), i + 1, by_block);
    return {lines.data() + (first - lines.begin()), lines.data() + (last - lines.begin())};
}

std::optional<TopAnchor> top_anchor(const Layout& layout, float top) {
    const auto& blocks = layout.blocks;
    const auto after =
        std::upper_bound(blocks.begin(), blocks.end(), top,
                         [](float y, const LayoutBlock& block) { return y < block.y; });
    if (after == blocks.begin()) {
        return std::nullopt; // above the first block: the page's own margin
    }
    const auto i = static_cast<std::size_t>(after - blocks.begin()) - 1;
    const auto [first, last] = rows_of(layout, i);
    for (const LayoutLine* row = first; row != last; ++row) {
        if (row->bottom > top) {
            return TopAnchor{i, row->start, top - row->top};
        }
    }
    return TopAnchor{i, std::nullopt, top - blocks[i].y};
}

float anchored_top(const Layout& layout, const TopAnchor& anchor) {
    if (anchor.block >= layout.blocks.size()) {
        return 0.0f;
    }
    const auto [first, last] = rows_of(layout, anchor.block);
    if (anchor.row_start && first != last) {
        const LayoutLine* row = first;
        while (row + 1 != last && (row + 1)->start <= *anchor.row_start) {
            ++row;
        }
        return row->top + anchor.below;
    }
    return layout.blocks[anchor.block].y + anchor.below;
}

// Rebuilds the layout when the content, the width or the scale changed. `previous` is the
// document the current layout was built from, when the content just changed and the layout was
// current: its unchanged blocks then keep their shaped text.
void relayout(Preview::Impl& p, const PreviewDocument* previous) {
    if (!p.window || !p.dwrite_factory) {
        return;
    }
    if (layout_current(p)) {
        return;
    }
    const float scale = static_cast<float>(p.text_scale);
    // Laid out again for a new width or scale, the page keeps its top row in place; new content
    // keeps the scroll offset, which a live edit leaves where it was.
    const std::optional<TopAnchor> anchor =
        p.dirty ? std::nullopt : top_anchor(p.layout, p.view.scroll_y);
    for (int pass = 0; pass < max_layout_passes; ++pass) {
        const float height = client_height_dips(p);
        const float width = view_width(p.window, p.dpi);
        try {
            if (previous && width == p.layout_width && scale == p.layout_scale) {
                p.layout = build_layout(p.dwrite_factory.get(), p.document, width, scale, false,
                                        LayoutSource{*previous, p.layout});
            } else {
                p.layout = build_layout(p.dwrite_factory.get(), p.document, width, scale, false);
            }
        } catch (...) {
            // A layout of other content must not stay beside the new document: hit tests and
            // the accessibility snapshot index the document's blocks by the layout's.
            if (p.dirty) {
                destroy_layout(p.layout);
            }
            // The next relayout must try again even at the same size.
            p.dirty = true;
            throw;
        }
        previous = nullptr;
        p.scroll_cache.content_width = -1.0f;
        set_preview_scroll(p, p.view.scroll_x,
                           anchor ? anchored_top(p.layout, *anchor) : p.view.scroll_y);
        if (std::fabs(view_width(p.window, p.dpi) - width) < same_size_tolerance &&
            std::fabs(client_height_dips(p) - height) < same_size_tolerance) {
            break;
        }
    }
    p.dirty = false;
    p.layout_width = view_width(p.window, p.dpi);
    p.layout_scale = scale;
    if (p.error_code < 0 && !p.content_failed) {
        clear_failure(p);
        InvalidateRect(p.window, nullptr, FALSE);
    }
}

// --- painting -------------------------------------------------------------------------------

// A DC render target bound to the paint DC rather than a window target: Wine presents window
// targets of child windows through an offscreen GL surface that never reaches the screen, so the
// preview would stay blank there, while a DC target ends in plain GDI on every system.
void ensure_render_target(Preview::Impl& p) {
    if (p.render_target) {
        return;
    }
    const D2D1_RENDER_TARGET_PROPERTIES properties = D2D1::RenderTargetProperties(
        D2D1_RENDER_TARGET_TYPE_DEFAULT,
        D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_IGNORE));
    throw_if_failed(p.d2d_factory->CreateDCRenderTarget(&properties, p.render_target.put()),
                    "Create preview drawing surface");
}

void draw_caret(Preview::Impl& p) {
    if (GetFocus() != p.window || p.view.anchor != p.view.caret) {
        return;
    }
    for (const LayoutBlock& block : p.layout.blocks) {
        if (block.pieces.empty() || p.view.caret < block.text_start ||
            p.view.caret > block.text_start + block.text_length) {
            continue;
        }
        FLOAT x = 0;
        FLOAT y = 0;
        DWRITE_HIT_TEST_METRICS metrics{};
        if (SUCCEEDED(hit_test_block_position(block,
                                              static_cast<UINT32>(p.view.caret - block.text_start),
                                              FALSE, &x, &y, &metrics))) {
            const D2D1_POINT_2F top{block.x + x, block.y + y};
            p.render_target->DrawLine(top, {top.x, top.y + metrics.height}, p.brushes.text.get(),
                                      caret_width);
        }
        return;
    }
}

// True while the target keeps the size it has through a run of window sizes.
bool keeps_target_size(Preview::Impl& p, SIZE window) {
    const SIZE held = p.target_size;
    return held.cx > 0 && held.cy > 0 && window.cx > 0 && window.cy > 0 &&
           (held.cx != window.cx || held.cy != window.cy) && !p.size_settling.takes_size_now();
}

// Through a run of sizes the target waits out, the last picture stretched over the window: the
// page drawn at each size's scale cost a whole drawing a size. True when it was shown.
bool presented_held_frame(Preview::Impl& p, HDC dc, SIZE window) {
    if (!keeps_target_size(p, window) || !p.frame || p.frame->dc() == nullptr) {
        return false;
    }
    // A picture shown for a moment: the smoothing of HALFTONE costs more than the drawing.
    SetStretchBltMode(dc, COLORONCOLOR);
    StretchBlt(dc, 0, 0, window.cx, window.cy, p.frame->dc(), 0, 0, p.target_size.cx,
               p.target_size.cy, SRCCOPY);
    return true;
}

// Each size a DC target is bound at keeps memory under Wine, so the kept picture grows and
// shrinks in steps, the page drawn into its top left corner: a drag's settled sizes share a few.
LONG frame_extent(LONG pixels) {
    constexpr LONG step = 256;
    return (std::max<LONG>(pixels, 1) + step - 1) / step * step;
}

// Where the page is drawn, and the rectangle the target is bound at: the kept picture where
// targets wait for a settled size, else the paint DC's client area.
HDC frame_dc(Preview::Impl& p, HDC dc, SIZE window, RECT& bounds) {
    bounds = {0, 0, window.cx, window.cy};
    if (!targets_wait_for_settled_size()) {
        p.frame.reset();
        return dc;
    }
    const LONG width = frame_extent(window.cx);
    const LONG height = frame_extent(window.cy);
    if (!p.frame || p.frame->width() != width || p.frame->height() != height) {
        p.frame.reset();
        p.frame.emplace(width, height);
    }
    if (p.frame->dc() == nullptr) {
        return dc;
    }
    bounds = {0, 0, width, height};
    return p.frame->dc();
}

// Steps 4-10 of a paint: the document on the Direct2D target.
void draw_preview(Preview::Impl& p, HDC dc) {
    RECT client{};
    GetClientRect(p.window, &client);
    const SIZE window{client.right, client.bottom};
    if (presented_held_frame(p, dc, window)) {
        return;
    }
    ensure_render_target(p);
    ID2D1DCRenderTarget* target = p.render_target.get();
    RECT bounds{};
    HDC into = frame_dc(p, dc, window, bounds);
    throw_if_failed(target->BindDC(into, &bounds), "Create preview drawing surface");
    p.target_size = window;
    target->SetDpi(p.dpi, p.dpi);
    const PaintColours colours = colours_for(p, p.dark);
    const float width = view_width(p.window, p.dpi);
    const float height = view_height(p.window, p.dpi);
    target->BeginDraw();
    target->SetTransform(D2D1::Matrix3x2F::Identity());
    target->Clear(colour_f(colours.table[palette_slot::background]));
    target->PushAxisAlignedClip({0, 0, width, height}, D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
    target->SetTransform(D2D1::Matrix3x2F::Translation(-p.view.scroll_x, -p.view.scroll_y));
    HRESULT end = S_OK;
    try {
        create_brushes(p.brushes, target, colours, false);
        draw_document(target, p.document, p.layout, colours, p.view.scroll_y,
                      p.view.scroll_y + height, static_cast<float>(p.text_scale), p.view,
                      p.find_matches, false, p.brushes);
        draw_caret(p);
    } catch (...) {
        target->SetTransform(D2D1::Matrix3x2F::Identity());
        target->PopAxisAlignedClip();
        target->EndDraw();
        p.frame.reset();
        throw;
    }
    target->SetTransform(D2D1::Matrix3x2F::Identity());
    target->PopAxisAlignedClip();
    end = target->EndDraw();
    if (end == static_cast<HRESULT>(D2DERR_RECREATE_TARGET)) {
        p.brushes = Brushes{};
        p.render_target.reset();
        p.frame.reset();
        InvalidateRect(p.window, nullptr, FALSE);
        return;
    }
    throw_if_failed(end, "Draw native preview");
    if (into != dc) {
        BitBlt(dc, 0, 0, window.cx, window.cy, into, 0, 0, SRCCOPY);
    }
}

void paint_background(Preview::Impl& p, HDC dc, const RECT& paint_rect) {
    const PaintColours colours = colours_for(p, p.dark);
    SetDCBrushColor(dc, colorref_from_colour(colours.table[palette_slot::background]));
    FillRect(dc, &paint_rect, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

void paint_failure(Preview::Impl& p, HDC dc, const RECT& paint_rect) {
    paint_background(p, dc, paint_rect);
    const PaintColours colours = colours_for(p, p.dark);
    RECT text_rect{};
    GetClientRect(p.window, &text_rect);
    InflateRect(&text_rect, -failure_text_inset, -failure_text_inset);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colorref_from_colour(colours.table[palette_slot::text]));
    const std::wstring text = wide(p.error_text);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &text_rect, DT_WORDBREAK);
}

void announce_selection(Preview::Impl& p) {
    if (p.view.anchor == p.reported_anchor && p.view.caret == p.reported_caret) {
        return;
    }
    p.reported_anchor = p.view.anchor;
    p.reported_caret = p.view.caret;
    raise_accessibility_events(p.accessibility, false, true, false);
}

void paint(Preview::Impl& p) {
    const auto start = std::chrono::steady_clock::now();
    PAINTSTRUCT ps{};
    HDC dc = BeginPaint(p.window, &ps);
    if (p.page_hidden) {
        paint_background(p, dc, ps.rcPaint);
        EndPaint(p.window, &ps);
        return;
    }
    // After a failed paint each later one tries again; a layout that failed waits for the next
    // relayout instead, and content that failed for new content.
    if (p.error_code >= 0 || (!p.content_failed && !p.dirty)) {
        try {
            const bool recovering = p.error_code < 0;
            draw_preview(p, dc);
            clear_failure(p);
            if (recovering) {
                // The failure text may still stand outside this paint's rectangle.
                InvalidateRect(p.window, nullptr, FALSE);
            }
        } catch (const std::exception& error) {
            p.error_code = E_FAIL;
            p.error_text = message_of(error);
        }
    }
    if (p.error_code < 0) {
        p.error_code = E_FAIL;
        paint_failure(p, dc, ps.rcPaint);
    }
    EndPaint(p.window, &ps);
    announce_selection(p);
    if (p.profile) {
        p.profile(scroll_stage::preview_paint, start);
    }
}

// --- window procedure -----------------------------------------------------------------------

POINT point_of(LPARAM lparam) {
    return {static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
}

bool set_cursor(Preview::Impl& p) {
    POINT cursor{};
    GetCursorPos(&cursor);
    ScreenToClient(p.window, &cursor);
    const bool on_link = preview_point_on_link(p, cursor);
    SetCursor(LoadCursorW(nullptr, on_link ? IDC_HAND : IDC_IBEAM));
    return true;
}

// A press, move, release or timer step that fails ends the drag, so the failure is reported
// once rather than on every following move.
template <typename Step> void drag_step(Preview::Impl& p, Step step) {
    try {
        step();
    } catch (const std::exception&) {
        end_preview_drag(p);
        throw;
    }
}

void handle_wheel(Preview::Impl& p, WPARAM wparam) {
    const auto start = std::chrono::steady_clock::now();
    handle_preview_wheel(p, wparam);
    if (p.profile) {
        p.profile(scroll_stage::preview_input, start);
    }
}

// The handled messages; false sends the message on to DefWindowProcW.
bool handle_message(Preview::Impl& p, UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) {
    result = 0;
    switch (message) {
    case WM_SETFOCUS:
        raise_accessibility_events(p.accessibility, false, false, true);
        InvalidateRect(p.window, nullptr, FALSE);
        return true;
    case WM_KILLFOCUS:
        InvalidateRect(p.window, nullptr, FALSE);
        return true;
    case WM_PAINT:
        paint(p);
        return true;
    case WM_ERASEBKGND:
        result = 1;
        return true;
    case WM_SETCURSOR:
        if (LOWORD(lparam) != HTCLIENT) {
            return false;
        }
        result = set_cursor(p) ? 1 : 0;
        return true;
    case WM_GETOBJECT:
        return answer_accessibility_object(p.accessibility, p.window, wparam, lparam, result);
    case WM_CONTEXTMENU:
        handle_preview_context_menu(p, lparam);
        return true;
    case WM_GETDLGCODE:
        result = dialog_codes;
        return true;
    case WM_KEYDOWN:
        handle_preview_key(p, wparam);
        return true;
    case WM_TIMER:
        if (wparam == drag_timer_id) {
            drag_step(p, [&] { handle_preview_drag_timer(p); });
        }
        return true;
    case WM_SIZE:
        p.size_settling.release();
        // A target that keeps its size stretches its last picture over the new one.
        if (targets_wait_for_settled_size()) {
            InvalidateRect(p.window, nullptr, FALSE);
        }
        return false;
    case WM_HSCROLL:
        handle_preview_scroll_bar(p, SB_HORZ, wparam);
        return true;
    case WM_VSCROLL:
        handle_preview_scroll_bar(p, SB_VERT, wparam);
        return true;
    case WM_MOUSEMOVE:
        drag_step(p, [&] { handle_preview_mouse_move(p, point_of(lparam)); });
        return true;
    case WM_LBUTTONDOWN:
        drag_step(p, [&] { handle_preview_button_down(p, point_of(lparam)); });
        return true;
    case WM_LBUTTONUP:
        drag_step(p, [&] { handle_preview_button_up(p, point_of(lparam)); });
        return true;
    case WM_LBUTTONDBLCLK:
        handle_preview_double_click(p, point_of(lparam));
        return true;
    case WM_MOUSEWHEEL:
        handle_wheel(p, wparam);
        return true;
    case WM_MOUSEHWHEEL:
        handle_preview_horizontal_wheel(p, wparam);
        return true;
    case WM_CAPTURECHANGED:
        p.mouse_down = false;
        KillTimer(p.window, drag_timer_id);
        return true;
    case WM_APP_ACCESSIBILITY_CALL:
        run_accessibility_call(p.accessibility, reinterpret_cast<PendingCall*>(lparam));
        return true;
    default:
        return false;
    }
}

} // namespace

Preview::Impl& preview() {
    return the_preview;
}

bool page_is_dark(const std::string& page) {
    // Only the head, where the renderer writes its colour rules: a document whose text merely
    // mentions the rule must not turn its preview dark.
    const std::size_t body = page.find("<body");
    const std::string_view head(page.data(), body == std::string::npos ? page.size() : body);
    return head.find(":root{color-scheme:dark}") != std::string_view::npos;
}

void hold_preview_target_size(Preview::Impl& p) {
    if (p.window) {
        p.size_settling.hold();
    }
}

void settle_preview_target_size(Preview::Impl& p) {
    p.size_settling.release();
    if (!p.window) {
        return;
    }
    RECT client{};
    GetClientRect(p.window, &client);
    if (p.target_size.cx != client.right || p.target_size.cy != client.bottom) {
        InvalidateRect(p.window, nullptr, FALSE);
    }
}

void create_preview_factories(Preview::Impl& p) {
    if (!p.dwrite_factory) {
        throw_if_failed(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                            reinterpret_cast<IUnknown**>(p.dwrite_factory.put())),
                        "Initialize DirectWrite");
    }
    if (!p.d2d_factory) {
        throw_if_failed(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory),
                                          nullptr, reinterpret_cast<void**>(p.d2d_factory.put())),
                        "Initialize Direct2D");
    }
}

void create_preview(HWND parent, std::function<void(unsigned int)> command) {
    Preview::Impl& p = the_preview;
    if (p.window) {
        return;
    }
    try {
        p.parent = parent;
        p.command = std::move(command);
        create_preview_factories(p);
        register_preview_class();
        create_window(p);
        p.attach_accessibility();
        resize_preview();
        clear_failure(p);
    } catch (const std::exception& error) {
        set_preview_failure(error);
    }
}

void set_preview_content(const std::string& page, std::uint64_t view_key,
                         std::uint64_t source_line_count) {
    Preview::Impl& p = the_preview;
    p.source_line_count = source_line_count;
    bool taken = false;
    try {
        if (!p.window) {
            throw std::runtime_error("Native preview has not been initialized.");
        }
        show_preview_page();
        if (page == p.content_html && view_key == p.view_key) {
            // The page shown is the one asked for, so whatever failed since is over once it
            // lays out again.
            if (p.error_code < 0) {
                taken = true;
                relayout(p, nullptr);
                clear_failure(p);
                InvalidateRect(p.window, nullptr, FALSE);
            }
            return;
        }
        std::optional<Preview::Impl::KeptPage> kept = take_kept_page(p, view_key);
        if (view_key != p.view_key) {
            keep_shown_page(p);
        }
        if (kept && kept->content_html == page) {
            show_kept_page(p, *kept);
            taken = true;
            relayout(p, nullptr);
        } else {
            PreviewDocument document = read_preview_markup(page);
            if (kept) {
                // The tab's page changed while it was away: its unchanged blocks keep their
                // shaped text.
                p.document = std::move(kept->document);
                restore_layout(p, *kept);
            }
            const bool layout_current = !p.dirty;
            take_content(p, document, page, view_key);
            taken = true;
            relayout(p, layout_current ? &document : nullptr);
        }
        raise_accessibility_events(p.accessibility, true, true, false);
        clear_failure(p);
    } catch (const std::exception& error) {
        set_preview_failure(error);
        p.content_failed = !taken;
    }
}

void forget_preview_tab(std::uint64_t view_key) {
    Preview::Impl& p = the_preview;
    p.views.erase(view_key);
    take_kept_page(p, view_key);
}

void relayout_preview() {
    relayout(the_preview, nullptr);
}

void resize_preview() {
    Preview::Impl& p = the_preview;
    if (!p.window) {
        return;
    }
    RECT client{};
    GetClientRect(p.parent, &client);
    const UINT dpi = GetDpiForWindow(p.parent);
    p.dpi = dpi == 0 ? 96.0f : static_cast<float>(dpi);
    // The old page's pixels are not carried over: at the new size they are neither the old
    // picture nor the new one.
    SetWindowPos(
        p.window, nullptr, 0, 0, std::max<LONG>(client.right, 1), std::max<LONG>(client.bottom, 1),
        SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS | (frames_undrawn() ? SWP_NOREDRAW : 0));
    // A size of the main window's is laid out when that window draws it, once for the sizes
    // that came meanwhile.
    if (!frames_undrawn()) {
        lay_out_preview_at_size();
    }
}

void lay_out_preview_at_size() {
    try {
        relayout_preview();
    } catch (const std::exception& error) {
        set_preview_failure(error);
    }
}

void destroy_preview() {
    Preview::Impl& p = the_preview;
    if (p.window) {
        DestroyWindow(p.window);
        p.window = nullptr;
    }
    p.brushes = Brushes{};
    p.render_target.reset();
    destroy_layout(p.layout);
    p.kept_pages.clear();
    p.dirty = true;
    p.dwrite_factory.reset();
    p.d2d_factory.reset();
}

void hide_preview_page() {
    Preview::Impl& p = the_preview;
    if (p.window == nullptr || p.page_hidden) {
        return;
    }
    p.page_hidden = true;
    InvalidateRect(p.window, nullptr, FALSE);
    UpdateWindow(p.window);
}

void show_preview_page() {
    Preview::Impl& p = the_preview;
    if (p.window != nullptr && p.page_hidden) {
        p.page_hidden = false;
        InvalidateRect(p.window, nullptr, FALSE);
    }
}

void set_preview_failure(const std::exception& error) {
    Preview::Impl& p = the_preview;
    p.error_code = E_FAIL;
    p.error_text = message_of(error);
    if (p.window) {
        InvalidateRect(p.window, nullptr, TRUE);
    }
}

LRESULT CALLBACK preview_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
        auto* p = static_cast<Preview::Impl*>(create->lpCreateParams);
        p->window = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(p));
        return DefWindowProcW(window, message, wparam, lparam);
    }
    auto* p = reinterpret_cast<Preview::Impl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!p) {
        return DefWindowProcW(window, message, wparam, lparam);
    }
    if (message == WM_NCDESTROY) {
        detach_accessibility_state(p->accessibility);
        p->window = nullptr;
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        return DefWindowProcW(window, message, wparam, lparam);
    }
    try {
        LRESULT result = 0;
        if (handle_message(*p, message, wparam, lparam, result)) {
            return result;
        }
    } catch (const std::exception& error) {
        if (p->show_error) {
            p->show_error(window, wide(message_of(error)));
        }
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

} // namespace pellix
