#include "app/startup.h"

#include <commctrl.h>
#include <objbase.h>

#include <string_view>

#include "app/accelerators.h"
#include "app/command_line.h"
#include "app/hosted_units.h"
#include "app/main_window_create.h"
#include "app/main_window_state.h"
#include "app/message_loop.h"
#include "app/prompts.h"
#include "app/settings.h"
#include "app/single_instance.h"
#include "app/theme.h"
#include "app/ui_fonts.h"
#include "shell/markdown_files_dialog.h"
#include "shell/registration_status.h"
#include "shell/registration_transaction.h"

namespace pellix {

namespace {

constexpr char version_line[] = "1.2.9\n";

// A GUI-subsystem process has no console of its own; the text goes to whatever standard output
// the starting process gave it.
void write_standard_output(std::string_view text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

int run_registration(bool register_types) {
    try {
        if (register_types) {
            register_markdown_handler();
        } else {
            unregister_markdown_handler();
        }
        return 0;
    } catch (const std::exception& error) {
        show_registration_error(nullptr, error);
        return 1;
    }
}

void initialise_common_controls() {
    INITCOMMONCONTROLSEX controls{
        .dwSize = sizeof(INITCOMMONCONTROLSEX),
        .dwICC = ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES | ICC_TAB_CLASSES,
    };
    InitCommonControlsEx(&controls);
}

// A saved placement on a monitor that still exists; a minimised window comes back normal.
int apply_saved_placement(HWND window, int show_command) {
    if (!settings.placement_valid ||
        MonitorFromRect(&settings.placement.rcNormalPosition, MONITOR_DEFAULTTONULL) == nullptr) {
        return show_command;
    }
    WINDOWPLACEMENT placement = settings.placement;
    if (placement.showCmd != SW_SHOWMAXIMIZED) {
        placement.showCmd = SW_SHOWNORMAL;
    }
    SetWindowPlacement(window, &placement);
    if (show_command == SW_SHOWNORMAL || show_command == SW_SHOWDEFAULT) {
        return static_cast<int>(placement.showCmd);
    }
    return show_command;
}

void open_command_line_files(const CommandLine& command_line) {
    if (command_line.kind == RunKind::compare) {
        try {
            open_compare(command_line.compare_baseline_path, command_line.paths.front());
        } catch (const std::exception& error) {
            show_error_message(error);
        }
        return;
    }
    open_paths(command_line.paths);
}

void release_process_resources() {
    stop_recovery_writer();
    if (scroll_profile_enabled) {
        write_scroll_profile();
    }
    release_theme_resources();
    clear_glyph_cache();
    release_glyph_renderer();
    release_ui_fonts();
}

int run_main_window(const CommandLine& command_line, HANDLE ready, int show_command) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        message_box(nullptr, L"Could not initialize Windows COM.", L"Pellix", MB_ICONERROR);
        return 1;
    }
    initialise_common_controls();
    if (!compare_mode) {
        repair_stale_registration();
    }
    persist_settings(false);
    if (!register_main_window_class()) {
        CoUninitialize();
        return 1;
    }
    attach_scroll_profile();
    HWND window = create_main_window();
    if (window == nullptr) {
        CoUninitialize();
        return 1;
    }
    if (ready != nullptr) {
        SetEvent(ready);
    }
    ShowWindow(window, apply_saved_placement(window, show_command));
    UpdateWindow(window);
    start_up_pending = !compare_mode;
    command_line_named_files = !command_line.paths.empty();
    select_view(settings.view);
    open_command_line_files(command_line);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    if (!compare_mode) {
        PostMessageW(window, WM_APP_STARTUP_TAIL, 0, 0);
    }
    const int exit_code =
        run_message_loop(LoadAcceleratorsW(instance, MAKEINTRESOURCEW(accelerator_table_id)));
    release_process_resources();
    CoUninitialize();
    return exit_code;
}

} // namespace

int run_program(HINSTANCE module, int show_command) {
    instance = module;
    const CommandLine command_line = parse_command_line(split_command_line(GetCommandLineW()));
    switch (command_line.kind) {
    case RunKind::version:
        write_standard_output(version_line);
        return 0;
    case RunKind::register_types:
        return run_registration(true);
    case RunKind::unregister_types:
        return run_registration(false);
    case RunKind::compare_usage:
        message_box(nullptr, L"Usage: Pellix.exe --compare old.md new.md", L"Compare",
                    MB_ICONERROR);
        return 1;
    case RunKind::compare:
        compare_mode = true;
        break;
    case RunKind::editor:
        break;
    }
    scroll_profile_enabled = command_line.scroll_profile;
    install_main_window_file_work_host();
    if (compare_mode) {
        return run_main_window(command_line, nullptr, show_command);
    }
    std::optional<InstanceLock> lock = claim_single_instance();
    if (!lock) {
        return 1;
    }
    if (lock->second_start) {
        return hand_off_to_running_instance(lock->ready.get(), command_line.paths);
    }
    // The lock is held until everything else has been released.
    return run_main_window(command_line, lock->ready.get(), show_command);
}

} // namespace pellix
