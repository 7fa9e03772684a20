#include "editor/source_window.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>

#include "editor/source_host.h"
#include "editor/source_record.h"

namespace pellix {
namespace {

constexpr int minimum_font_points = 6;
constexpr int maximum_font_points = 72;
constexpr LRESULT dialog_codes = DLGC_WANTCHARS | DLGC_WANTTAB | DLGC_WANTARROWS;
constexpr LPARAM without_composition_window = 0x7FFFFFFF;
// A call from outside interrupted again and again gives up rather than wait on other threads.
constexpr int interrupted_call_attempts = 3;

// The editors of a thread share one Direct2D factory: each factory owns a Direct3D device of its
// own, which Wine builds for the factory's first target at a cost in time and memory too large
// to pay per editor. The last editor of the thread lets it go.
struct SharedFactory {
    ComPtr<ID2D1Factory> factory;
    std::size_t editors = 0;
};
thread_local SharedFactory shared_d2d;

ComPtr<ID2D1Factory> join_shared_factory() {
    if (!shared_d2d.factory) {
        check_render(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory),
                                       nullptr,
                                       reinterpret_cast<void**>(shared_d2d.factory.put())));
    }
    ++shared_d2d.editors;
    return shared_d2d.factory;
}

void leave_shared_factory() {
    if (--shared_d2d.editors == 0) {
        shared_d2d.factory.reset();
    }
}

// The editors hidden last, the latest first: they keep their drawing (see
// `hidden_editors_keeping_targets`).
thread_local std::deque<HWND> editors_keeping_targets;

// Letting go of a render target costs Wine tens of milliseconds, so an editor that leaves the
// few above keeps its drawing until the editor shown instead has drawn a complete screen (or a
// while later, if none draws). Only one waits at a time: a session restore that hides many tabs
// inside one message still holds no more targets it does not show than the few it keeps.
thread_local HWND editor_letting_go = nullptr;

void stop_waiting_to_let_go(HWND window) {
    if (editor_letting_go == window) {
        editor_letting_go = nullptr;
    }
}

bool keeps_target(HWND window) {
    return std::find(editors_keeping_targets.begin(), editors_keeping_targets.end(), window) !=
           editors_keeping_targets.end();
}

void stop_keeping_target(HWND window) {
    std::erase(editors_keeping_targets, window);
}

SourceHost& host_storage() {
    static SourceHost host;
    return host;
}

// Samples one scroll-profile stage from construction to destruction when the host asks.
class ScrollSample {
public:
    explicit ScrollSample(int stage) : stage_(stage), start_(std::chrono::steady_clock::now()) {}
    ~ScrollSample() {
        const SourceHost& host = source_host();
        if (host.record_scroll_sample) {
            host.record_scroll_sample(stage_, start_);
        }
    }
    ScrollSample(const ScrollSample&) = delete;
    ScrollSample& operator=(const ScrollSample&) = delete;

private:
    int stage_;
    std::chrono::steady_clock::time_point start_;
};

LRESULT create_source(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    const LRESULT created = DefWindowProcW(window, message, wparam, lparam);
    if (!created) {
        return FALSE;
    }
    auto source = std::make_unique<Source>();
    source->window = window;
    try {
        const UINT dpi = GetDpiForWindow(window);
        source->dpi = dpi != 0 ? dpi : 96;
        check_render(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                         reinterpret_cast<IUnknown**>(source->dwrite.put())));
        source->d2d = join_shared_factory();
        create_text_format(*source);
        attach_source_accessibility(*source);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(source.get()));
    } catch (const std::exception& failure) {
        OutputDebugStringA(failure.what());
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        if (source->d2d) {
            source.reset();
            leave_shared_factory();
        }
        return FALSE;
    }
    source.release();
    return TRUE;
}

LRESULT destroy_source(Source* source, UINT message, WPARAM wparam, LPARAM lparam) {
    HWND window = source->window;
    stop_waiting_to_let_go(window);
    stop_keeping_target(window);
    if (source->tooltip) {
        DestroyWindow(source->tooltip);
    }
    detach_accessibility_state(source->accessibility);
    delete source;
    leave_shared_factory();
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    return DefWindowProcW(window, message, wparam, lparam);
}

// The size a render target of the window has: its client area, at least a pixel each way.
D2D1_SIZE_U target_size_for(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    return {static_cast<UINT32>(std::max<LONG>(1, client.right - client.left)),
            static_cast<UINT32>(std::max<LONG>(1, client.bottom - client.top))};
}

bool target_fits_window(const Source& source) {
    const D2D1_SIZE_U wanted = target_size_for(source.window);
    const D2D1_SIZE_U now = source.target->GetPixelSize();
    return now.width == wanted.width && now.height == wanted.height;
}

void fit_target_to_window(Source& source) {
    if (source.target && !target_fits_window(source)) {
        const D2D1_SIZE_U size = target_size_for(source.window);
        check_render(source.target->Resize(size));
        source.frame_kept = false;
    }
}

void resize(Source& source) {
    source.size_settling.release();
    const KeptView kept = view_to_keep(source);
    const UINT dpi = GetDpiForWindow(source.window);
    const bool new_dpi = dpi != 0 && dpi != source.dpi;
    if (new_dpi) {
        source.dpi = dpi;
        clear_line_layouts(source);
    }
    // Only the text width and the DPI shape the lines. A change of height alone (a bar opening
    // above the editor) keeps the layouts and line heights, which in a large document cost far
    // more than the frame drawn again.
    if (new_dpi || !source.metrics_valid || text_width(source) != source.metrics_width) {
        create_text_format(source);
    }
    // A hidden editor's target takes the new size when it is shown: a swap chain resized for a
    // window that is not shown is one more that nothing presents. A target that waits for a
    // settled size decides at the paint, which draws the whole frame at the new scale.
    if (targets_wait_for_settled_size()) {
        invalidate_editor(source.window);
    } else if (!editor_hidden(source.window)) {
        fit_target_to_window(source);
    }
    keep_view(source, kept);
}

// Where the target keeps another size than the window's, the frame of the window's size is drawn
// at the DPI that maps it onto the target, and presenting stretches it back over the window.
void scale_frame_to_target(Source& source) {
    if (!source.target) {
        return;
    }
    const D2D1_SIZE_U window = target_size_for(source.window);
    const D2D1_SIZE_U held = source.target->GetPixelSize();
    const auto dpi = static_cast<float>(source.dpi);
    const float dpi_x = dpi * static_cast<float>(held.width) / static_cast<float>(window.width);
    const float dpi_y = dpi * static_cast<float>(held.height) / static_cast<float>(window.height);
    float now_x = 0.0f;
    float now_y = 0.0f;
    source.target->GetDpi(&now_x, &now_y);
    if (now_x != dpi_x || now_y != dpi_y) {
        source.target->SetDpi(dpi_x, dpi_y);
        source.frame_kept = false;
    }
}

// The target takes the window's size unless it waits for the size to settle.
void follow_window_size(Source& source) {
    if (source.target && !target_fits_window(source) && source.size_settling.takes_size_now()) {
        fit_target_to_window(source);
    }
    scale_frame_to_target(source);
}

void take_focus(Source& source) {
    source.focused = true;
    const double scale = scale_of(source);
    CreateCaret(source.window, nullptr, std::max(1, static_cast<int>(scale)),
                static_cast<int>(base_line_height(source) * scale));
    // An editor just shown has no frame yet: its caret comes with the first.
    source.caret_waits_for_frame = !source.frame_kept;
    if (source.frame_kept) {
        ShowCaret(source.window);
    }
    ensure_line_metrics(source);
    place_caret(source);
    raise_accessibility_events(source.accessibility, false, false, true);
}

void lose_focus(Source& source) {
    source.focused = false;
    stop_wheel_animation(source);
    source.pending_high_surrogate = 0;
    HideCaret(source.window);
    DestroyCaret();
    source.caret_waits_for_frame = false;
}

void set_font(Source& source, HFONT font) {
    source.font = font;
    LOGFONTW description{};
    if (!font || GetObjectW(font, sizeof(description), &description) == 0) {
        return;
    }
    const int points = MulDiv(std::abs(description.lfHeight), 72, static_cast<int>(source.dpi));
    const std::optional<double> top = top_to_keep(source);
    source.font_points = std::clamp(points, minimum_font_points, maximum_font_points);
    create_text_format(source);
    scroll_source_to(source, source.scroll_x, kept_top(source, top), true);
}

// A hidden editor keeps only what its next paint cannot make cheaply: the measured sizes of
// its pieces (so the heights and the scroll range stay) and the line numbers of its view. The
// piece layouts go with the render target, since their colours are brushes of that target.
void release_while_hidden(Source& source) {
    for (auto& [line, cached] : source.line_cache) {
        for (LinePiece& piece : cached.pieces) {
            piece.layout.reset();
        }
        for (LinePiece& piece : cached.tail) {
            piece.layout.reset();
        }
    }
    const std::uint64_t first = line_at_height(source.heights, source.scroll_y);
    const std::uint64_t last =
        line_at_height(source.heights, source.scroll_y + view_height(source));
    std::erase_if(source.number_cache,
                  [&](const auto& entry) { return entry.first < first || entry.first > last; });
    release_device_objects(source);
    source.hidden_layouts_made = false;
}

void let_go_later(HWND window) {
    if (editor_letting_go != nullptr && editor_letting_go != window) {
        if (Source* waiting = source_record(editor_letting_go)) {
            release_while_hidden(*waiting);
        }
    }
    editor_letting_go = window;
    SetTimer(window, release_timer, release_timer_ms, nullptr);
}

// The editor just hidden joins the few that keep their drawing; the one hidden longest ago of
// them lets go of it.
void keep_target_while_hidden(Source& source) {
    stop_keeping_target(source.window);
    editors_keeping_targets.push_front(source.window);
    if (editors_keeping_targets.size() > hidden_editors_keeping_targets) {
        const HWND oldest = editors_keeping_targets.back();
        editors_keeping_targets.pop_back();
        let_go_later(oldest);
    }
}

FrameInputs frame_inputs_now(const Source& source) {
    return {
        .edit_count = source.document.edit_count,
        .selection = source.document.selection,
        .scroll_x = source.scroll_x,
        .scroll_y = source.scroll_y,
        .text_format = source.text_format,
        .highlight_generation = source.highlight_generation,
        .marks_generation = source.marks_generation,
        .composition = source.composing ? source.composition : std::wstring(),
    };
}

// The kept frame is what a full redraw at the window's size would draw now.
bool frame_is_current(const Source& source) {
    return source.target && source.frame_kept && target_fits_window(source) &&
           source.frame_inputs == frame_inputs_now(source);
}

void on_show(Source& source, bool shown) {
    if (!shown) {
        stop_wheel_animation(source);
        keep_target_while_hidden(source);
        return;
    }
    // A show is a change of its own: its first paint takes the window's size.
    source.size_settling.release();
    stop_keeping_target(source.window);
    KillTimer(source.window, release_timer);
    stop_waiting_to_let_go(source.window);
    source.hidden_layouts_made = false;
    // A frame drawn before something changed while hidden is no frame to draw a band over.
    source.frame_kept = frame_is_current(source);
    source.present_kept_frame = source.frame_kept;
}

// The first paint after a show whose kept frame is still current presents that frame again,
// without the cost of drawing its text; false when the paint has to draw.
bool presented_kept_frame(Source& source) {
    if (!std::exchange(source.present_kept_frame, false) || !frame_is_current(source)) {
        return false;
    }
    return present_frame_again(source);
}

// Through a run of window sizes that the target waits out, the kept frame is presented again,
// stretched over the window, while it still shows the text, selection and marks it drew: a frame
// drawn at each size's scale kept memory for every scale under Wine. The scroll and the text
// format follow the width, so they may differ; the settled size draws them.
bool presented_held_frame(Source& source) {
    if (!source.target || !source.frame_kept || target_fits_window(source) ||
        source.size_settling.takes_size_now()) {
        return false;
    }
    FrameInputs now = frame_inputs_now(source);
    now.text_format = source.frame_inputs.text_format;
    now.scroll_x = source.frame_inputs.scroll_x;
    now.scroll_y = source.frame_inputs.scroll_y;
    return now == source.frame_inputs && present_frame_again(source);
}

// WM_TIMER comes only when the thread has nothing else to do, so the release waits for the
// messages that complete the new screen too.
void let_go_of_the_waiting_editor(const Source& shown) {
    if (editor_letting_go != nullptr && editor_letting_go != shown.window) {
        SetTimer(editor_letting_go, release_timer, USER_TIMER_MINIMUM, nullptr);
    }
}

void paint_window(Source& source) {
    ScrollSample sample(scroll_stage_source_paint);
    PAINTSTRUCT paint{};
    StageClock begin;
    BeginPaint(source.window, &paint);
    begin.lap(work_stage::paint_begin);
    if (presented_kept_frame(source) || presented_held_frame(source)) {
        EndPaint(source.window, &paint);
        if (!source.budget.last_paint_pending) {
            let_go_of_the_waiting_editor(source);
        }
        return;
    }
    RECT client{};
    GetClientRect(source.window, &client);
    if (paint.rcPaint.top > client.top || paint.rcPaint.bottom < client.bottom ||
        paint.rcPaint.left > client.left) {
        const double scale = scale_of(source);
        source.paint_band_top = paint.rcPaint.top / scale;
        source.paint_band_bottom = paint.rcPaint.bottom / scale;
        source.paint_band_left = paint.rcPaint.left / scale;
    }
    source.paint_lane_only = source.marker_lane && paint.rcPaint.right <= marker_lane_right(source);
    auto end_band = [&] {
        source.paint_band_top = source.paint_band_bottom = source.paint_band_left = 0.0;
        source.paint_lane_only = false;
    };
    try {
        follow_window_size(source);
        source.paint();
    } catch (...) {
        end_band();
        clear_line_layouts(source);
        EndPaint(source.window, &paint);
        throw;
    }
    end_band();
    if (source.frame_kept) {
        source.frame_inputs = frame_inputs_now(source);
    }
    StageClock end;
    EndPaint(source.window, &paint);
    end.lap(work_stage::paint_end);
    if (!source.budget.last_paint_pending) {
        let_go_of_the_waiting_editor(source);
    }
}

void on_timer(Source& source, UINT_PTR timer) {
    if (timer == wheel_timer) {
        ScrollSample sample(scroll_stage_source_input);
        wheel_animation_step(source);
    } else if (timer == drag_timer) {
        drag_autoscroll_step(source);
    } else if (timer == layout_timer) {
        KillTimer(source.window, layout_timer);
        source.budget.timer_set = false;
        // A hidden editor has no view to look ahead from; its next paint starts again.
        if (!editor_hidden(source.window)) {
            continue_layouts(source);
        }
    } else if (timer == release_timer) {
        KillTimer(source.window, release_timer);
        stop_waiting_to_let_go(source.window);
        if (editor_hidden(source.window) && (!keeps_target(source.window) || !source.target)) {
            release_while_hidden(source);
        }
    }
}

// The keys that scroll the view count as scrolling input; Left and Right only move the caret.
bool is_scrolling_key(UINT message, WPARAM key) {
    if (message != WM_KEYDOWN) {
        return false;
    }
    switch (key) {
    case VK_PRIOR:
    case VK_NEXT:
    case VK_END:
    case VK_HOME:
    case VK_UP:
    case VK_DOWN:
        return true;
    default:
        return false;
    }
}

LRESULT dispatch(Source& source, UINT message, WPARAM wparam, LPARAM lparam) {
    ++source.handled_calls;
    HWND window = source.window;
    LRESULT result = 0;
    std::optional<ScrollSample> key_sample;
    if (is_scrolling_key(message, wparam)) {
        key_sample.emplace(scroll_stage_source_input);
    }
    if (answer_text_message(source, message, wparam, lparam, result) ||
        answer_input_message(source, message, wparam, lparam, result)) {
        return result;
    }
    switch (message) {
    case WM_SIZE:
        resize(source);
        return 0;
    case WM_SETFOCUS:
        take_focus(source);
        return 0;
    case WM_KILLFOCUS:
        lose_focus(source);
        return 0;
    case WM_SETREDRAW:
        source.redraw = wparam != 0;
        if (source.redraw) {
            invalidate_editor(window);
        }
        return 0;
    case WM_PAINT:
        paint_window(source);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SHOWWINDOW:
        on_show(source, wparam != 0);
        return DefWindowProcW(window, message, wparam, lparam);
    case WM_SETFONT:
        set_font(source, reinterpret_cast<HFONT>(wparam));
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(source.font);
    case WM_GETOBJECT:
        return answer_accessibility_object(source.accessibility, window, wparam, lparam, result)
                   ? result
                   : 0;
    case WM_GETDLGCODE:
        return dialog_codes;
    case WM_IME_SETCONTEXT:
        return DefWindowProcW(window, message, wparam, lparam & without_composition_window);
    case WM_IME_CHAR:
        return 0;
    case WM_TIMER:
        on_timer(source, wparam);
        return 0;
    case WM_HSCROLL:
    case WM_VSCROLL: {
        ScrollSample sample(scroll_stage_source_input);
        scroll_bar_command(source, message == WM_VSCROLL ? SB_VERT : SB_HORZ, wparam);
        return 0;
    }
    case WM_MOUSEWHEEL: {
        ScrollSample sample(scroll_stage_source_input);
        wheel_scroll(source, wparam);
        return 0;
    }
    case WM_MOUSEHWHEEL: {
        ScrollSample sample(scroll_stage_source_input);
        horizontal_wheel_scroll(source, wparam);
        return 0;
    }
    case WM_APP_ACCESSIBILITY_CALL:
        return run_accessibility_call(source.accessibility, reinterpret_cast<PendingCall*>(lparam));
    default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
}

// What a failed call leaves: the text's derived state goes when the text changed before the
// failure, and the parent hears of the change. True for an interrupted walk, after which what
// the call would have drawn is drawn again whole.
bool recover_from_failure(Source& source, std::uint64_t entry_edit_count,
                          const std::exception& failure) {
    if (source.document.edit_count != entry_edit_count) {
        forget_text_layouts(source);
        notify_parent(source, true);
    }
    const bool interrupted = dynamic_cast<const EditorChangedMeanwhile*>(&failure) != nullptr;
    if (interrupted) {
        invalidate_editor(source.window);
    }
    return interrupted;
}

void handle_failure(Source& source, UINT message, std::uint64_t entry_edit_count,
                    const std::exception& failure) {
    if (!recover_from_failure(source, entry_edit_count, failure) && message != WM_PAINT) {
        MessageBeep(MB_ICONEXCLAMATION);
    }
    OutputDebugStringA(failure.what());
}

} // namespace

void install_source_host(SourceHost host) {
    host_storage() = std::move(host);
}

const SourceHost& source_host() {
    return host_storage();
}

Source* source_record(HWND window) {
    if (!window) {
        return nullptr;
    }
    wchar_t class_name[64] = {};
    if (!GetClassNameW(window, class_name, static_cast<int>(std::size(class_name))) ||
        std::wstring_view(class_name) != source_window_class) {
        return nullptr;
    }
    return reinterpret_cast<Source*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

bool change_from_outside(Source& source, const std::function<void()>& call) {
    for (int attempt = 1;; ++attempt) {
        ++source.handled_calls;
        const std::uint64_t entry_edit_count = source.document.edit_count;
        try {
            call();
            return true;
        } catch (const std::exception& failure) {
            if (!recover_from_failure(source, entry_edit_count, failure)) {
                throw;
            }
            OutputDebugStringA(failure.what());
            // The text the call had reached when it waited tells its own change from one the
            // interrupting message made.
            const auto& interrupted = static_cast<const EditorChangedMeanwhile&>(failure);
            if (interrupted.edit_count() != entry_edit_count) {
                return true;
            }
            // Interrupted before it changed the text, the call starts again: the caller asked
            // for the change, and the target it waited for is there now.
            if (attempt == interrupted_call_attempts) {
                return false;
            }
        }
    }
}

StageClock::StageClock()
    : active_(static_cast<bool>(source_host().record_work_stage)),
      last_(active_ ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point{}) {}

void StageClock::lap(int stage) {
    if (!active_) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    source_host().record_work_stage(stage,
                                    std::chrono::duration<double, std::milli>(now - last_).count());
    last_ = now;
}

double scale_of(const Source& source) {
    return source.dpi / 96.0;
}

void settle_size(Source& source) {
    source.size_settling.release();
    if (source.target && !target_fits_window(source) && !editor_hidden(source.window)) {
        invalidate_editor(source.window);
    }
}

void invalidate_editor(HWND window) {
    InvalidateRect(window, nullptr, FALSE);
}

std::u16string source_wide_text(const SourceDocument& document) {
    return document.text();
}

void forget_text_layouts(Source& source) {
    source.line_cache.clear();
    source.metrics_valid = false;
}

void send_selection_change(Source& source) {
    if ((source.event_mask & ENM_SELCHANGE) == 0) {
        return;
    }
    const auto& selection = source.document.selection;
    const int id = GetDlgCtrlID(source.window);
    SELCHANGE change{
        .nmhdr = {.hwndFrom = source.window,
                  .idFrom = static_cast<UINT_PTR>(id),
                  .code = EN_SELCHANGE},
        .chrg = {static_cast<LONG>(std::min(selection[0], selection[1])),
                 static_cast<LONG>(std::max(selection[0], selection[1]))},
        .seltyp = 0,
    };
    SendMessageW(GetParent(source.window), WM_NOTIFY, static_cast<WPARAM>(id),
                 reinterpret_cast<LPARAM>(&change));
}

void notify_parent(Source& source, bool changed) {
    if (changed && (source.event_mask & ENM_CHANGE) != 0) {
        const int id = GetDlgCtrlID(source.window);
        SendMessageW(GetParent(source.window), WM_COMMAND, MAKEWPARAM(id, EN_CHANGE),
                     reinterpret_cast<LPARAM>(source.window));
    }
    send_selection_change(source);
    raise_accessibility_events(source.accessibility, changed, true, false);
}

LRESULT CALLBACK source_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        return create_source(window, message, wparam, lparam);
    }
    auto* source = reinterpret_cast<Source*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!source) {
        return DefWindowProcW(window, message, wparam, lparam);
    }
    if (message == WM_NCDESTROY) {
        return destroy_source(source, message, wparam, lparam);
    }
    const std::uint64_t entry_edit_count = source->document.edit_count;
    try {
        return dispatch(*source, message, wparam, lparam);
    } catch (const std::exception& failure) {
        handle_failure(*source, message, entry_edit_count, failure);
        return 0;
    }
}

void register_source_window_class(HINSTANCE instance) {
    const WNDCLASSEXW window_class{
        .cbSize = sizeof(WNDCLASSEXW),
        .style = CS_DBLCLKS,
        .lpfnWndProc = source_window_proc,
        .cbClsExtra = 0,
        .cbWndExtra = 0,
        .hInstance = instance,
        .hIcon = nullptr,
        .hCursor = LoadCursorW(nullptr, IDC_IBEAM),
        .hbrBackground = nullptr,
        .lpszMenuName = nullptr,
        .lpszClassName = source_window_class,
        .hIconSm = nullptr,
    };
    if (!RegisterClassExW(&window_class) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        throw std::runtime_error("Source window class registration failed.");
    }
}

} // namespace pellix
