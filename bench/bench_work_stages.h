#pragma once

// What each stage of the editor's stage clock (`work_stage`) covers, as the benchmarks print it.

#include <array>

#include "editor/source_host.h"

namespace pellix::bench {

inline constexpr std::array<const char*, work_stage::count> work_stage_names = {
    "edit: noting the first visible row",
    "edit: the document's change",
    "edit: line heights, fences, cache",
    "edit: laying out the edited line",
    "edit: the view put back",
    "edit: caret found, shown, placed",
    "edit: invalidating the band",
    "edit: EN_CHANGE, EN_SELCHANGE, UIA",
    "paint: BeginPaint",
    "paint: screen layouts, look-ahead",
    "paint: background and text area",
    "paint: numbers and marker lane",
    "paint: EndDraw (present)",
    "paint: eviction, scroll bars, caret",
    "paint: EndPaint",
};

} // namespace pellix::bench
