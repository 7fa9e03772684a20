#include <algorithm>
#include <cmath>

#include "editor/source_record.h"

namespace pellix {
namespace {

constexpr double wheel_delta = WHEEL_DELTA;
constexpr UINT default_wheel_units = 3;
constexpr UINT page_per_notch = WHEEL_PAGESCROLL;
// The animation follows the wheel with this time constant, in steps of at most the cap, and
// jumps to its target this long after the last notch.
constexpr double animation_time_constant_ms = 25.0;
constexpr double animation_step_cap_ms = 50.0;
constexpr double animation_settle_ms = 160.0;
constexpr double animation_close_enough = 0.25;
constexpr double animation_epsilon = 0.001;

double wheel_step(const Source& source, UINT action) {
    UINT units = default_wheel_units;
    if (!SystemParametersInfoW(action, 0, &units, 0)) {
        units = default_wheel_units;
    }
    return units == page_per_notch ? view_height(source) : base_line_height(source) * units;
}

double notch_delta(WPARAM wparam) {
    return static_cast<double>(static_cast<short>(HIWORD(wparam)));
}

bool client_area_animation() {
    BOOL on = TRUE;
    if (!SystemParametersInfoW(SPI_GETCLIENTAREAANIMATION, 0, &on, 0)) {
        return true;
    }
    return on != FALSE;
}

} // namespace

void stop_wheel_animation(Source& source) {
    // Every edit and key stops the animation; under Wine each KillTimer is a server round trip.
    if (source.animating) {
        KillTimer(source.window, wheel_timer);
    }
    source.animating = false;
    source.wheel_target = source.scroll_y;
}

void wheel_scroll(Source& source, WPARAM wparam) {
    ensure_line_metrics(source);
    const double delta = notch_delta(wparam);
    const double amount = delta / wheel_delta * wheel_step(source, SPI_GETWHEELSCROLLLINES);
    if (!client_area_animation() ||
        (delta > -wheel_delta && delta < wheel_delta && !source.animating)) {
        stop_wheel_animation(source);
        scroll_source_to(source, source.scroll_x, source.scroll_y - amount, true);
        return;
    }
    const double now = now_ms();
    const double maximum_y = maximum_scroll_y(source);
    double base = source.scroll_y;
    if (source.animating && (source.wheel_target - source.scroll_y) * (-amount) >= 0.0) {
        base = source.wheel_target;
    } else if (!source.animating) {
        source.last_animation_tick = now;
    }
    double target = base - amount;
    target = target < 0.0 ? 0.0 : std::min(target, maximum_y);
    source.wheel_target = target;
    source.last_wheel_input = now;
    source.animating = std::abs(target - source.scroll_y) > animation_epsilon;
    SetTimer(source.window, wheel_timer, wheel_timer_ms, nullptr);
}

void wheel_animation_step(Source& source) {
    const double now = now_ms();
    double y = source.scroll_y;
    if (source.animating) {
        if (now - source.last_wheel_input < animation_settle_ms) {
            const double dt =
                std::min(std::max(0.0, now - source.last_animation_tick), animation_step_cap_ms);
            y += (source.wheel_target - y) * (1.0 - std::exp(-dt / animation_time_constant_ms));
        } else {
            y = source.wheel_target;
        }
        source.last_animation_tick = now;
        if (std::abs(y - source.wheel_target) < animation_close_enough) {
            y = source.wheel_target;
            source.animating = false;
        }
    }
    scroll_source_to(source, source.scroll_x, y, true);
    if (!source.animating) {
        KillTimer(source.window, wheel_timer);
        stop_wheel_animation(source);
    }
}

void horizontal_wheel_scroll(Source& source, WPARAM wparam) {
    ensure_line_metrics(source);
    const double dx =
        notch_delta(wparam) / wheel_delta * wheel_step(source, SPI_GETWHEELSCROLLCHARS);
    stop_wheel_animation(source);
    scroll_source_to(source, source.scroll_x + dx, source.scroll_y, true);
}

void scroll_bar_command(Source& source, int bar, WPARAM wparam) {
    stop_wheel_animation(source);
    ensure_line_metrics(source);
    const bool vertical = bar == SB_VERT;
    double position = vertical ? source.scroll_y : source.scroll_x;
    const double extent =
        vertical ? source.heights.prefix(source.heights.size()) : source.content_width;
    const double page = vertical ? view_height(source) : text_width(source);
    const double line = base_line_height(source);
    const double scale = scale_of(source);
    switch (LOWORD(wparam)) {
    case SB_LINEUP:
        position -= line;
        break;
    case SB_LINEDOWN:
        position += line;
        break;
    case SB_PAGEUP:
        position -= page;
        break;
    case SB_PAGEDOWN:
        position += page;
        break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: {
        SCROLLINFO info{.cbSize = sizeof(SCROLLINFO),
                        .fMask = SIF_TRACKPOS,
                        .nMin = 0,
                        .nMax = 0,
                        .nPage = 0,
                        .nPos = 0,
                        .nTrackPos = 0};
        GetScrollInfo(source.window, bar, &info);
        position = info.nTrackPos * std::max(extent * scale / scroll_bar_limit, 1.0) / scale;
        break;
    }
    case SB_TOP:
        position = 0.0;
        break;
    case SB_BOTTOM:
        position = extent;
        break;
    default:
        break;
    }
    if (vertical) {
        scroll_source_to(source, source.scroll_x, position, true);
    } else {
        scroll_source_to(source, position, source.scroll_y, true);
    }
}

void drag_autoscroll_step(Source& source) {
    if (!source.dragging) {
        return;
    }
    POINT point{};
    GetCursorPos(&point);
    ScreenToClient(source.window, &point);
    const double scale = scale_of(source);
    const double y = point.y / scale;
    if (y >= 0.0 && y <= view_height(source)) {
        return;
    }
    const double line = base_line_height(source);
    scroll_source_to(source, source.scroll_x, source.scroll_y + (y < 0.0 ? -line : line), true);
    set_selection(source, source.drag_anchor, hit_test(source, point.x / scale, y), false);
}

} // namespace pellix
