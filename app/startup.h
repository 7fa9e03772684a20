#pragma once

#include <windows.h>

namespace pellix {

// The whole run of the process: the command line, the single-instance claim, start-up, the
// message loop and shut-down. Returns the exit code (0 or 1).
int run_program(HINSTANCE module, int show_command);

} // namespace pellix
