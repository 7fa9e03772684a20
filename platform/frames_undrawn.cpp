#include "platform/frames_undrawn.h"

#include <utility>

namespace pellix {

namespace {

bool undrawn = false;

} // namespace

FramesUndrawn::FramesUndrawn() : previous_(std::exchange(undrawn, true)) {}

FramesUndrawn::~FramesUndrawn() {
    undrawn = previous_;
}

bool frames_undrawn() {
    return undrawn;
}

} // namespace pellix
