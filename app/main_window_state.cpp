#include "app/main_window_state.h"

namespace pellix {

HWND main_window = nullptr;
bool file_work_busy = false;
std::vector<std::filesystem::path> pending_paths;
bool close_pending = false;

} // namespace pellix
