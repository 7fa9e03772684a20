#pragma once

// The points of a tab switch where a failure (a layout, a view, an allocation) can cut it short,
// which a test cannot provoke on a healthy machine. Production code never sets a fault.

#include <functional>

namespace pellix {

enum class SwitchPoint {
    before_view, // the tab entered, its view not yet applied
    entered,     // the tab entered and its view applied, the screen not yet switched
    presenting,  // the entered editor taken from waiting, the screen being switched
};

// Calls `fault` at each point of every switch for the lifetime of the object, so that it can
// throw there (tests only).
class ScopedSwitchFault {
public:
    explicit ScopedSwitchFault(std::function<void(SwitchPoint)> fault);
    ~ScopedSwitchFault();
    ScopedSwitchFault(const ScopedSwitchFault&) = delete;
    ScopedSwitchFault& operator=(const ScopedSwitchFault&) = delete;

private:
    std::function<void(SwitchPoint)> previous_;
};

} // namespace pellix
