#pragma once

#include <optional>

namespace pellix {

// True when the program runs under Wine rather than Windows.
bool running_under_wine();

// True where a child window's Direct3D drawing lives in a surface of its own, apart from its
// top-level window's: hiding the child uncovers what the parent's own surface holds in its place,
// so what takes the child's place must be shown before it is hidden. Wine keeps each such
// child in an X window of its own. On Windows a child's drawing is part of its top-level window's
// surface, and a hide without the erase leaves its pixels where they were.
bool child_drawing_apart();

// Makes `child_drawing_apart` answer `apart` (nothing: ask the platform again), so that either
// path can be taken on any platform.
void override_child_drawing_apart(std::optional<bool> apart);

} // namespace pellix
