#!/usr/bin/env bash
# Installs what is missing, builds, and starts Pellix on the sample document (extra arguments
# are passed on). Without a display it starts a virtual one.
source "$(dirname "$0")/common.sh"
install_packages
build_project --target Pellix
prepare_wine_prefix
args=("$@")
[ ${#args[@]} -eq 0 ] && args=("$(winepath -w "$ROOT/resources/sample.md" 2>/dev/null)")
if [ -n "${DISPLAY:-}" ]; then
    wine "$BUILD_DIR/Pellix.exe" "${args[@]}"
else
    xvfb-run -a -s "-screen 0 1280x1024x24" wine "$BUILD_DIR/Pellix.exe" "${args[@]}"
fi
