#include "platform/size_settling.h"

#include "platform/child_surfaces.h"

namespace pellix {

namespace {

std::optional<bool> overridden;
UINT settle_delay_ms = size_settle_ms;

} // namespace

bool targets_wait_for_settled_size() {
    static const bool wait = running_under_wine();
    return overridden.value_or(wait);
}

void override_targets_wait_for_settled_size(std::optional<bool> wait, UINT settle_ms) {
    overridden = wait;
    settle_delay_ms = settle_ms;
}

UINT size_settle_delay() {
    return settle_delay_ms;
}

bool SizeSettling::takes_size_now() const {
    return !held_ || !targets_wait_for_settled_size();
}

void SizeSettling::hold() {
    held_ = targets_wait_for_settled_size();
}

void SizeSettling::release() {
    held_ = false;
}

} // namespace pellix
