#pragma once

// Where every command of the main window ends (`run_command`, declared in app/hosted_units.h):
// the blocking rules of the active tab, then the command itself or the unit that owns it.

#include <functional>

namespace pellix {

// The sound of a refused command; tests replace it, an empty function restores MessageBeep.
void install_refusal_sound(std::function<void()> sound);

} // namespace pellix
