#pragma once

namespace pellix {

// While one lives, windows change places and scroll ranges without drawing anything, not even
// their frames (the scroll bars): whoever holds it draws the window whole once every child
// stands in its place, so that the screen shows the last picture or the new one.
class FramesUndrawn {
public:
    FramesUndrawn();
    ~FramesUndrawn();
    FramesUndrawn(const FramesUndrawn&) = delete;
    FramesUndrawn& operator=(const FramesUndrawn&) = delete;

private:
    bool previous_;
};

// True while a `FramesUndrawn` lives.
bool frames_undrawn();

} // namespace pellix
