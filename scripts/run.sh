#!/usr/bin/env bash
# Installs what is missing, builds, and starts Pellix (extra arguments are passed on). Without a
# display it starts a virtual one. Until the main window exists the program only answers
# --version, which is therefore the default.
source "$(dirname "$0")/common.sh"
install_packages
build_project --target Pellix
prepare_wine_prefix
args=("$@")
[ ${#args[@]} -eq 0 ] && args=(--version)
if [ -n "${DISPLAY:-}" ]; then
    wine "$BUILD_DIR/Pellix.exe" "${args[@]}"
else
    xvfb-run -a -s "-screen 0 1280x1024x24" wine "$BUILD_DIR/Pellix.exe" "${args[@]}"
fi
