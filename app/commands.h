#pragma once

// Where every command of the main window ends (`run_command`, declared in app/hosted_units.h):
// the blocking rules of the active tab, then the command itself or the unit that owns it.

#include <functional>

namespace pellix {

inline constexpr unsigned first_compare_target = 1000;
inline constexpr unsigned last_compare_target = 1127;

// Whether a watched tab refuses `id` with a beep.
bool refused_while_watched(unsigned id);

// The sound of a refused command; tests replace it, an empty function restores MessageBeep.
void install_refusal_sound(std::function<void()> sound);

} // namespace pellix
